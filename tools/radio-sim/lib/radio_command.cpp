#include "radio_command.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::uint8_t kDataRecordType = 0x00;
constexpr std::uint8_t kExtendedAddressType = 0x02;
constexpr std::uint8_t kExtendedAddressDataLength = 0x02;

enum class Shape { NotBinary, NeedMore, Binary };

struct BinaryMatch {
  Shape shape = Shape::NotBinary;
  std::size_t length = 0;
};

bool SumsToZero(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return sum % 256 == 0;
}

BinaryMatch MatchBinary(std::span<const std::uint8_t> b) {
  std::size_t length = 0;
  switch (b[0]) {
    case kProgramRecordByte:
    case kVerifyRecordByte:
    case kTestRecordByte:
      if (b.size() < 2) return {Shape::NeedMore};
      length = b[1] + kDataRecordOverhead;
      if (b.size() > 4 && b[4] != kDataRecordType) return {};
      break;
    case 'A':
      length = kExtendedAddressLength;
      if (b.size() > 1 && b[1] != kExtendedAddressDataLength) return {};
      if (b.size() > 4 && b[4] != kExtendedAddressType) return {};
      break;
    case 'S':
      if (b.size() < 2) return {Shape::NeedMore};
      if (b[1] == 0) return {};
      length = b[1] + kSRecordOverhead;
      break;
    case 'E':
      length = kEraseLength;
      break;
    case 'G':
      length = kGoLength;
      break;
    default:
      return {};
  }
  if (b.size() < length) return {Shape::NeedMore};
  if (b[length - 1] != kCommandEnd) return {};
  // E and G carry a checksum of their own that text lines will not match.
  if (b[0] == 'E' && !SumsToZero(b.subspan(1, 4))) return {};
  if (b[0] == 'G') {
    // The G checksum counts its second byte twice and leaves the first out.
    const std::uint8_t sum[] = {b[2], b[2], b[3], b[4], b[5]};
    if (!SumsToZero(sum)) return {};
  }
  return {Shape::Binary, length};
}

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

CommandFrame FrameCommand(std::span<const std::uint8_t> pending) {
  if (pending.empty()) return {};
  const BinaryMatch match = MatchBinary(pending);
  if (match.shape == Shape::Binary) return {true, match.length};
  // Until the layout is broken, a CR may still be a data byte of the record.
  if (match.shape == Shape::NeedMore) return {};
  const auto cr = std::find(pending.begin(), pending.end(), kCommandEnd);
  if (cr == pending.end()) return {};
  return {true, static_cast<std::size_t>(cr - pending.begin()) + 1};
}

CommandKind ClassifyCommand(std::span<const std::uint8_t> command) {
  if (command.empty()) return CommandKind::RawText;
  const BinaryMatch match = MatchBinary(command);
  if (match.shape == Shape::Binary && match.length == command.size()) {
    switch (command[0]) {
      case 'A': return CommandKind::ExtendedAddress;
      case 'S': return CommandKind::SRecord;
      case 'E': return CommandKind::Erase;
      case 'G': return CommandKind::Go;
      default: return CommandKind::DataRecord;
    }
  }
  const std::string_view text = AsText(command);
  if (text == "?V\r") return CommandKind::VersionQuery;
  if (text == "ZZ\r" || text == "XX\r") return CommandKind::StartCommand;
  if (text == "P0\r") return CommandKind::PersonalityCancel;
  if (text == "UNLOCKBOOT\r") return CommandKind::Unlock;
  return CommandKind::RawText;
}

bool ExpectsReply(CommandKind kind) {
  switch (kind) {
    case CommandKind::PersonalityCancel:
    case CommandKind::Unlock:
    case CommandKind::RawText:
      return false;
    default:
      return true;
  }
}
