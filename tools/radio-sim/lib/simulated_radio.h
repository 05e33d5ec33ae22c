#pragma once
// A radio that answers the flash update commands the way a real one does,
// with a flash image per stored program and faults to order. It does no I/O:
// the caller hands it bytes and sends back the replies it returns, after each
// reply's delay.

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "command_framer.h"
#include "flash_image.h"
#include "radio_command.h"
#include "radio_config.h"

// Slot 0 is the radio's only program unless it has extended memory, which
// adds six stored programs (personalities) selected by the erase command.
inline constexpr int kSlotCount = 7;

struct RadioReply {
  std::vector<std::uint8_t> bytes;
  unsigned delayMs = 0;
};

struct RadioCounters {
  std::uint64_t commands = 0;        // every command received, answered or not
  std::uint64_t replies = 0;         // replies handed back to be sent
  std::uint64_t repliesDropped = 0;  // replies lost to a fault
  std::uint64_t recordsWritten = 0;
  std::uint64_t damagedRecords = 0;  // records whose checksum did not match
  std::uint64_t erases = 0;
};

class CSimulatedRadio {
 public:
  explicit CSimulatedRadio(RadioConfig config = {});

  // Bytes from a serial line, cut into commands however they arrive.
  std::vector<RadioReply> ReceiveStream(std::span<const std::uint8_t> bytes);
  // The caller saw no input for a while with bytes still pending.
  std::vector<RadioReply> FlushStalledInput();
  bool HasPendingInput() const { return framer_.HasPending(); }
  // One datagram holds one command; the passcode is already checked and gone.
  // A datagram of nothing but line ends (the CR after a raw text line) is not
  // a command.
  std::optional<RadioReply> ReceiveDatagram(std::span<const std::uint8_t> command);
  // One whole command.
  std::optional<RadioReply> HandleCommand(std::span<const std::uint8_t> command);

  const CFlashImage& Image(int slot = 0) const { return images_.at(static_cast<std::size_t>(slot)); }
  int ActiveSlot() const { return activeSlot_; }
  const RadioConfig& Config() const { return config_; }
  const RadioCounters& Counters() const { return counters_; }
  const std::vector<CommandBytes>& CommandLog() const { return log_; }
  // Hands the log over and starts a new one, for callers that write it out.
  std::vector<CommandBytes> TakeCommandLog();

 private:
  std::optional<RadioReply> Execute(CommandKind kind, std::span<const std::uint8_t> command);
  RadioReply AnswerDataRecord(std::span<const std::uint8_t> command, bool damaged);
  RadioReply AnswerExtendedAddress(std::span<const std::uint8_t> command, bool damaged);
  RadioReply AnswerSRecord(std::span<const std::uint8_t> command, bool damaged);
  RadioReply AnswerErase(std::span<const std::uint8_t> command);
  RadioReply AnswerVersion() const;
  bool TakesNextRecordAsDamaged();
  bool LosesReply();
  CFlashImage& ActiveImage() { return images_[static_cast<std::size_t>(activeSlot_)]; }

  RadioConfig config_;
  CCommandFramer framer_;
  std::array<CFlashImage, kSlotCount> images_;
  int activeSlot_ = 0;
  std::uint32_t segmentBase_ = 0;  // from the last extended-address command
  std::mt19937 random_;
  RadioCounters counters_;
  std::uint64_t answerableCommands_ = 0;
  std::uint64_t recordCommands_ = 0;
  std::uint64_t repliesMade_ = 0;
  std::vector<CommandBytes> log_;
};
