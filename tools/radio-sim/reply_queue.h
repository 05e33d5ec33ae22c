#pragma once
// Replies waiting for their time: each one's delay, and on a paced serial
// line the time the bytes before it take to go out. The poll loop sleeps
// until the first is due, so reception never waits for a delayed reply.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "simulated_radio.h"

using SimClock = std::chrono::steady_clock;

struct ScheduledReply {
  SimClock::time_point due;
  std::vector<std::uint8_t> bytes;
  sockaddr_in to{};  // the sender of the command, for datagrams
};

class CReplyQueue {
 public:
  // A serial line carries ten bits per byte (start, eight data, stop); at
  // baud 0 replies are not paced.
  explicit CReplyQueue(unsigned baud) : baud_(baud) {}
  void Schedule(RadioReply reply, SimClock::time_point now, const sockaddr_in& to = {});
  // Milliseconds until the first reply is due, rounded up; -1 when none waits.
  int MillisecondsUntilDue(SimClock::time_point now) const;
  std::vector<ScheduledReply> TakeDue(SimClock::time_point now);
  void Clear() { queue_.clear(); }

 private:
  unsigned baud_;
  SimClock::time_point lineFree_{};
  std::deque<ScheduledReply> queue_;
};
