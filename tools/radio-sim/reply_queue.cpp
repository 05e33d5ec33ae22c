#include "reply_queue.h"

#include <algorithm>

namespace {
constexpr std::uint64_t kBitsPerByte = 10;
}

void CReplyQueue::Schedule(RadioReply reply, SimClock::time_point now, const sockaddr_in& to) {
  SimClock::time_point due = now + std::chrono::milliseconds(reply.delayMs);
  if (baud_ != 0) {
    // One reply goes out after the other, each taking its time on the wire.
    due = std::max(due, lineFree_) +
          std::chrono::microseconds(reply.bytes.size() * kBitsPerByte * 1'000'000 / baud_);
    lineFree_ = due;
  }
  // The delay is the same for every reply, so the queue stays in time order.
  queue_.push_back({due, std::move(reply.bytes), to});
}

int CReplyQueue::MillisecondsUntilDue(SimClock::time_point now) const {
  if (queue_.empty()) return -1;
  const auto wait = queue_.front().due - now;
  if (wait <= SimClock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

std::vector<ScheduledReply> CReplyQueue::TakeDue(SimClock::time_point now) {
  std::vector<ScheduledReply> due;
  while (!queue_.empty() && queue_.front().due <= now) {
    due.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
  return due;
}
