#include "simulated_radio.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

namespace {

constexpr int kMaxPersonality = 6;
// Commands that put the segment base in force shift it by four bits, as
// Intel extended segment addresses do.
constexpr unsigned kSegmentShift = 4;
// S3 layout after the count byte: four address bytes, then the data.
constexpr std::size_t kSRecordAddressLength = 4;
constexpr std::size_t kSRecordMinimumCount = kSRecordAddressLength + 1;
constexpr std::uint8_t kDamageMask = 0xFF;

unsigned Sum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return sum;
}

std::uint8_t IntelChecksum(unsigned sum) { return static_cast<std::uint8_t>(0u - sum); }
std::uint8_t MotorolaChecksum(unsigned sum) { return static_cast<std::uint8_t>(sum ^ 0xFFu); }

RadioReply TextReply(std::string_view text) { return {{text.begin(), text.end()}}; }

RadioReply ChecksumReply(std::uint8_t checksum) {
  char text[8];
  const int n = std::snprintf(text, sizeof text, ":%02X\r", checksum);
  return TextReply({text, static_cast<std::size_t>(n)});
}

bool IsEvery(unsigned every, std::uint64_t count) { return every != 0 && count % every == 0; }

}  // namespace

CSimulatedRadio::CSimulatedRadio(RadioConfig config) : config_(config), random_(config.seed) {}

std::vector<RadioReply> CSimulatedRadio::ReceiveStream(std::span<const std::uint8_t> bytes) {
  std::vector<RadioReply> replies;
  for (const CommandBytes& command : framer_.Feed(bytes)) {
    if (auto reply = HandleCommand(command)) replies.push_back(std::move(*reply));
  }
  return replies;
}

std::vector<RadioReply> CSimulatedRadio::FlushStalledInput() {
  std::vector<RadioReply> replies;
  for (const CommandBytes& command : framer_.FlushStalled()) {
    if (auto reply = HandleCommand(command)) replies.push_back(std::move(*reply));
  }
  return replies;
}

std::optional<RadioReply> CSimulatedRadio::ReceiveDatagram(std::span<const std::uint8_t> command) {
  const bool onlyLineEnds = std::all_of(command.begin(), command.end(),
                                        [](std::uint8_t b) { return b == '\r' || b == '\n'; });
  if (onlyLineEnds) return std::nullopt;
  return HandleCommand(command);
}

std::vector<CommandBytes> CSimulatedRadio::TakeCommandLog() { return std::exchange(log_, {}); }

std::optional<RadioReply> CSimulatedRadio::HandleCommand(std::span<const std::uint8_t> command) {
  ++counters_.commands;
  if (config_.keepCommandLog) log_.emplace_back(command.begin(), command.end());
  const RadioFaults& faults = config_.faults;
  // A dead radio neither answers nor acts.
  if (faults.silent) return std::nullopt;
  if (faults.silentAfter != 0 && counters_.commands > faults.silentAfter) return std::nullopt;

  const CommandKind kind = ClassifyCommand(command);
  if (!ExpectsReply(kind)) return std::nullopt;
  ++answerableCommands_;
  // A refused command leaves the flash as it was.
  std::optional<RadioReply> reply = IsEvery(faults.zReplyEvery, answerableCommands_)
                                        ? TextReply("Z\r")
                                        : Execute(kind, command);
  if (!reply) return std::nullopt;
  // A lost reply is lost on the way back: the radio has acted on the command.
  if (LosesReply()) {
    ++counters_.repliesDropped;
    return std::nullopt;
  }
  reply->delayMs = faults.replyDelayMs;
  ++counters_.replies;
  return reply;
}

std::optional<RadioReply> CSimulatedRadio::Execute(CommandKind kind, std::span<const std::uint8_t> command) {
  switch (kind) {
    case CommandKind::DataRecord:
      return AnswerDataRecord(command, TakesNextRecordAsDamaged());
    case CommandKind::ExtendedAddress:
      return AnswerExtendedAddress(command, TakesNextRecordAsDamaged());
    case CommandKind::SRecord:
      return AnswerSRecord(command, TakesNextRecordAsDamaged());
    case CommandKind::Erase:
      return AnswerErase(command);
    case CommandKind::Go:
      return TextReply("G\r");
    case CommandKind::VersionQuery:
      return AnswerVersion();
    case CommandKind::StartCommand:
      return TextReply("READY\r");
    default:
      return std::nullopt;
  }
}

bool CSimulatedRadio::TakesNextRecordAsDamaged() {
  return IsEvery(config_.faults.badChecksumEvery, ++recordCommands_);
}

bool CSimulatedRadio::LosesReply() {
  const RadioFaults& faults = config_.faults;
  if (IsEvery(faults.dropEveryReply, ++repliesMade_)) return true;
  // Draw only when asked to, so that other faults stay independent of the seed.
  return faults.dropPercent != 0 && random_() % 100 < faults.dropPercent;
}

RadioReply CSimulatedRadio::AnswerDataRecord(std::span<const std::uint8_t> command, bool damaged) {
  const std::size_t length = command[1];
  const std::span<const std::uint8_t> header = command.subspan(1, 4);  // LL, address, type
  const std::span<const std::uint8_t> data = command.subspan(5, length);
  const std::uint8_t received = command[5 + length];
  const std::uint32_t address = segmentBase_ + (std::uint32_t{command[2]} << 8 | command[3]);

  std::uint8_t checksum = 0;
  if (command[0] == kVerifyRecordByte) {
    // Verification sums what the flash holds, so a different image shows.
    unsigned sum = Sum(header);
    for (std::size_t i = 0; i < length; ++i) sum += ActiveImage().Read(address + static_cast<std::uint32_t>(i));
    checksum = IntelChecksum(sum);
  } else {
    checksum = IntelChecksum(Sum(header) + Sum(data));
    const bool intact = !damaged && checksum == received;
    if (!intact) ++counters_.damagedRecords;
    if (intact && command[0] == kProgramRecordByte) {
      ActiveImage().Write(address, data);
      ++counters_.recordsWritten;
    }
  }
  return ChecksumReply(damaged ? checksum ^ kDamageMask : checksum);
}

RadioReply CSimulatedRadio::AnswerExtendedAddress(std::span<const std::uint8_t> command, bool damaged) {
  const std::uint8_t checksum = IntelChecksum(Sum(command.subspan(1, 6)));
  if (!damaged && checksum == command[7]) {
    segmentBase_ = (std::uint32_t{command[5]} << 8 | command[6]) << kSegmentShift;
  } else {
    ++counters_.damagedRecords;
  }
  return ChecksumReply(damaged ? checksum ^ kDamageMask : checksum);
}

RadioReply CSimulatedRadio::AnswerSRecord(std::span<const std::uint8_t> command, bool damaged) {
  const std::size_t count = command[1];
  const std::uint8_t checksum = MotorolaChecksum(Sum(command.subspan(1, count)));
  const bool intact = !damaged && checksum == command[1 + count];
  if (!intact) ++counters_.damagedRecords;
  // The S-record type is not sent; every record is taken in the S3 layout.
  if (intact && count >= kSRecordMinimumCount) {
    const std::uint32_t address = std::uint32_t{command[2]} << 24 | std::uint32_t{command[3]} << 16 |
                                  std::uint32_t{command[4]} << 8 | command[5];
    ActiveImage().Write(address, command.subspan(2 + kSRecordAddressLength, count - kSRecordMinimumCount));
    ++counters_.recordsWritten;
  }
  return ChecksumReply(damaged ? checksum ^ kDamageMask : checksum);
}

RadioReply CSimulatedRadio::AnswerErase(std::span<const std::uint8_t> command) {
  // An erase naming a stored program is the slot number followed by two zeros;
  // anything else erases the radio's main program.
  const int slot = command[1];
  const bool namesSlot = config_.extendedMemory && command[2] == 0 && command[3] == 0 && slot >= 1 &&
                         slot <= kMaxPersonality;
  activeSlot_ = namesSlot ? slot : 0;
  ActiveImage().Erase();
  // A new program load starts at the bottom of the image until told otherwise.
  segmentBase_ = 0;
  ++counters_.erases;
  return TextReply("E\r");
}

RadioReply CSimulatedRadio::AnswerVersion() const {
  const char separator = config_.extendedMemory ? '-' : ' ';
  const int model = config_.model == kTalvoModel ? 0 : config_.model;
  // The DSP version fills offsets 4 to 8 so that the model begins at offset 9.
  const unsigned dsp = std::min(config_.dspVersion, kMaxDspVersion);
  char text[32];
  const int n = std::snprintf(text, sizeof text, "VER%c%-4u %d\r", separator, dsp, model);
  return TextReply({text, static_cast<std::size_t>(n)});
}
