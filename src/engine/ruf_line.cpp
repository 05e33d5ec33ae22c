#include "engine/ruf_line.h"

#include <algorithm>

RufLineKind ClassifyLine(std::string_view line) {
  if (line.empty()) return RufLineKind::Unrecognised;
  switch (line[0]) {
    case ':':
      return RufLineKind::IntelHex;
    case 'S':
      if (line.size() > 1 && (line[1] == '0' || line[1] == '7')) return RufLineKind::SRecordSkipped;
      return RufLineKind::SRecord;
    case ';':
      return RufLineKind::Comment;
    case '#':
      if (line.size() < 2) return RufLineKind::Unrecognised;
      switch (line[1]) {
        case '>': return RufLineKind::RawCommand;
        case 'E': return RufLineKind::EraseDirective;
        case 'G': return RufLineKind::GoDirective;
        case 'M': return RufLineKind::RadioLine;
        case 'U': return RufLineKind::UnlockDirective;
        case 'V': return RufLineKind::FormatVersion;
        default: return RufLineKind::Unrecognised;
      }
    default:
      return RufLineKind::Unrecognised;
  }
}

bool IsDataLine(std::string_view line) {
  if (line.empty()) return false;
  if (line[0] == ':') return true;
  return line[0] == 'S' && line.size() > 1 && line[1] != 0x07;
}

std::optional<std::uint8_t> HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  return std::nullopt;
}

std::uint8_t DecodeHexByte(std::string_view line, std::size_t offset, bool* valid) {
  std::uint8_t value = 0;
  for (std::size_t i = offset; i < offset + 2; ++i) {
    std::optional<std::uint8_t> digit = i < line.size() ? HexDigitValue(line[i]) : std::nullopt;
    if (!digit && valid) *valid = false;
    value = static_cast<std::uint8_t>(value << 4 | digit.value_or(0));
  }
  return value;
}

namespace {

// A record's characters: the line without its line end. A record must fit in
// them; a checksum that would fall on the CR LF is as missing as one beyond
// the line, whichever line end the file uses.
std::string_view RecordText(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Decodes byteCount bytes from firstOffset (as far as the line holds them)
// and the checksum that follows them; returns the bytes' sum.
unsigned DecodeRecordBytes(std::string_view line, std::size_t firstOffset, std::size_t byteCount,
                           DecodedRecord& r) {
  const std::size_t checksumOffset = firstOffset + 2 * byteCount;
  r.fits = checksumOffset + 2 <= line.size();
  r.byteCount = std::min(byteCount, line.size() > firstOffset ? (line.size() - firstOffset) / 2 : 0);
  unsigned sum = 0;
  for (std::size_t i = 0; i < r.byteCount; ++i) {
    r.bytes[i] = DecodeHexByte(line, firstOffset + 2 * i, &r.digitsValid);
    sum += r.bytes[i];
  }
  if (r.fits) r.fileChecksum = DecodeHexByte(line, checksumOffset, &r.digitsValid);
  return sum;
}

}  // namespace

DecodedRecord DecodeIntelHex(std::string_view line) {
  line = RecordText(line);
  DecodedRecord r;
  bool& valid = r.digitsValid;
  r.length = DecodeHexByte(line, 1, &valid);
  r.address = static_cast<std::uint16_t>(DecodeHexByte(line, 3, &valid) << 8 | DecodeHexByte(line, 5, &valid));
  r.type = DecodeHexByte(line, 7, &valid);
  if (r.length == 0) return r;
  // LL + 4 bytes from offset 1 (length, address, type, data), then the checksum.
  const unsigned sum = DecodeRecordBytes(line, 1, std::size_t{r.length} + 4, r);
  r.computedChecksum = static_cast<std::uint8_t>(0u - sum);
  return r;
}

DecodedRecord DecodeSRecord(std::string_view line) {
  line = RecordText(line);
  DecodedRecord r;
  r.length = DecodeHexByte(line, 2, &r.digitsValid);
  const std::optional<std::uint8_t> type = line.size() > 1 ? HexDigitValue(line[1]) : std::nullopt;
  r.type = type.value_or(0xFF);  // a letter beyond F is no type digit: not S1 nor S3
  if (r.length == 0) return r;
  // NN bytes from offset 2 (count included), then the checksum.
  const unsigned sum = DecodeRecordBytes(line, 2, r.length, r);
  r.computedChecksum = static_cast<std::uint8_t>(sum ^ 0xFFu);
  return r;
}

std::uint16_t DecodeExtendedAddress(std::string_view line) {
  return static_cast<std::uint16_t>(DecodeHexByte(line, 9) << 8 | DecodeHexByte(line, 11));
}

std::optional<DecodedRecord> CheckRecordLine(std::string_view line) {
  DecodedRecord r;
  switch (ClassifyLine(line)) {
    case RufLineKind::IntelHex:
      r = DecodeIntelHex(line);
      break;
    case RufLineKind::SRecord:
      r = DecodeSRecord(line);
      break;
    default:
      return std::nullopt;
  }
  // A record that declares no bytes is never sent, unless its length only
  // reads as 0 because it is not hexadecimal: that record is damaged.
  if (r.length == 0 && r.digitsValid) return std::nullopt;
  return r;
}
