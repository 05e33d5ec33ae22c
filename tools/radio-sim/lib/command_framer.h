#pragma once
// Cuts the byte stream of a serial line into whole commands.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

using CommandBytes = std::vector<std::uint8_t>;

// Text without a CR that grows past this is noise, not a command: it is
// dropped so that a babbling line cannot grow the buffer without bound.
inline constexpr std::size_t kMaxPendingBytes = 4096;

class CCommandFramer {
 public:
  // Appends bytes and returns every command now complete, in order. CR and LF
  // bytes between commands are skipped: a raw text line goes out with its own
  // line end and then a lone CR.
  std::vector<CommandBytes> Feed(std::span<const std::uint8_t> bytes);
  // The input has stopped with bytes pending: a short raw text line that begins
  // like a binary command waits for a length it will never reach. Read what is
  // pending up to its first CR as a text line, then frame the rest again.
  std::vector<CommandBytes> FlushStalled();
  bool HasPending() const { return !pending_.empty(); }
  std::size_t DiscardedBytes() const { return discarded_; }

 private:
  void TakeComplete(std::vector<CommandBytes>& out);
  void SkipLineEnds();

  std::vector<std::uint8_t> pending_;
  std::size_t discarded_ = 0;
};
