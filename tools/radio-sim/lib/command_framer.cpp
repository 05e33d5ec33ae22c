#include "command_framer.h"

#include <algorithm>

#include "radio_command.h"

namespace {
constexpr std::uint8_t kLineFeed = 0x0A;
}

void CCommandFramer::SkipLineEnds() {
  const auto first = std::find_if(pending_.begin(), pending_.end(),
                                  [](std::uint8_t b) { return b != kCommandEnd && b != kLineFeed; });
  pending_.erase(pending_.begin(), first);
}

void CCommandFramer::TakeComplete(std::vector<CommandBytes>& out) {
  std::size_t start = 0;
  const std::span<const std::uint8_t> all(pending_);
  for (;;) {
    while (start < all.size() && (all[start] == kCommandEnd || all[start] == kLineFeed)) ++start;
    if (start == all.size()) break;
    const CommandFrame frame = FrameCommand(all.subspan(start));
    if (!frame.complete) break;
    out.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(start),
                     all.begin() + static_cast<std::ptrdiff_t>(start + frame.length));
    start += frame.length;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
  if (pending_.size() > kMaxPendingBytes) {
    discarded_ += pending_.size();
    pending_.clear();
  }
}

std::vector<CommandBytes> CCommandFramer::Feed(std::span<const std::uint8_t> bytes) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  std::vector<CommandBytes> out;
  TakeComplete(out);
  return out;
}

std::vector<CommandBytes> CCommandFramer::FlushStalled() {
  std::vector<CommandBytes> out;
  SkipLineEnds();
  const auto cr = std::find(pending_.begin(), pending_.end(), kCommandEnd);
  if (cr == pending_.end()) return out;
  out.emplace_back(pending_.begin(), cr + 1);
  pending_.erase(pending_.begin(), cr + 1);
  TakeComplete(out);
  return out;
}
