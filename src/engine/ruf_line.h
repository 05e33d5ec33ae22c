#pragma once
// Decoding of one RUF file line: its kind, its fields and its checksum. Pure
// functions over the line's characters; no field is ever read from outside
// the line, whatever the file holds.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

enum class RufLineKind {
  IntelHex,        // ':'
  SRecordSkipped,  // 'S' then '0' or '7'
  SRecord,         // 'S' then anything else
  Comment,         // ';'
  RawCommand,      // "#>"
  EraseDirective,  // "#E"
  GoDirective,     // "#G"
  RadioLine,       // "#M"
  UnlockDirective, // "#U"
  FormatVersion,   // "#V"
  Unrecognised,    // anything else, an empty line too
};

RufLineKind ClassifyLine(std::string_view line);

// Whether a line counts as a data line of the file (':' lines, and 'S' lines
// whose second character is present and is not the byte 7).
bool IsDataLine(std::string_view line);

// The value of one hexadecimal digit, either case; nullopt for anything else.
std::optional<std::uint8_t> HexDigitValue(char c);

// A byte of two hexadecimal digits at offset. Digits that are missing or not
// hexadecimal count as 0 and clear *valid when given.
std::uint8_t DecodeHexByte(std::string_view line, std::size_t offset, bool* valid = nullptr);

// The record of a ':' or 'S' line, decoded.
struct DecodedRecord {
  std::uint8_t length = 0;      // LL, or NN for an S-record
  std::uint8_t type = 0;        // TT, or the S-record type digit's value
  std::uint16_t address = 0;    // AAAA of a ':' record
  // The bytes that are sent and summed: LL + 4 bytes from offset 1 of a ':'
  // record, NN bytes from offset 2 of an S-record.
  std::array<std::uint8_t, 260> bytes{};
  std::size_t byteCount = 0;
  std::uint8_t computedChecksum = 0;
  std::uint8_t fileChecksum = 0;
  bool fits = true;        // the declared length fits inside the line
  bool digitsValid = true; // every field held hexadecimal digits
  bool ChecksumMatches() const { return computedChecksum == fileChecksum; }
  bool IsSound() const { return fits && digitsValid && ChecksumMatches(); }
};

// Decodes a ':' line. With a zero LL only LL, address and type are decoded.
DecodedRecord DecodeIntelHex(std::string_view line);
// Decodes an 'S' line (not S0/S7). With a zero NN only NN and type are decoded.
DecodedRecord DecodeSRecord(std::string_view line);

// For type-02 records: the 16-bit value at offset 9.
std::uint16_t DecodeExtendedAddress(std::string_view line);

// Checks a line the way programming would meet it; nullopt when the line is
// not a record whose checksum is compared (no record, or a record that
// declares no bytes), else the decoded record.
std::optional<DecodedRecord> CheckRecordLine(std::string_view line);
