#include "ruf_writer.h"

#include <cstdio>

namespace {
constexpr std::uint8_t kDataType = 0x00;
constexpr std::uint8_t kEndOfFileType = 0x01;
constexpr std::uint8_t kExtendedAddressType = 0x02;

void AppendHex(std::string& text, std::uint8_t byte) {
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", byte);
  text += digits;
}
}  // namespace

void CRufWriter::EndLine() { text_ += "\r\n"; }

void CRufWriter::AddComment(std::string_view text) {
  text_ += ';';
  text_ += text;
  EndLine();
}

void CRufWriter::AddDirective(std::string_view text) {
  text_ += '#';
  text_ += text;
  EndLine();
}

void CRufWriter::AddExtendedAddress(std::uint16_t segment) {
  const std::uint8_t value[] = {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment)};
  AddRecord(0, kExtendedAddressType, value);
}

void CRufWriter::AddDataRecord(std::uint16_t address, std::span<const std::uint8_t> data) {
  AddRecord(address, kDataType, data);
}

void CRufWriter::AddEndOfFile() { AddRecord(0, kEndOfFileType, {}); }

void CRufWriter::AddRecord(std::uint16_t address, std::uint8_t type, std::span<const std::uint8_t> data) {
  const std::uint8_t header[] = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                                 static_cast<std::uint8_t>(address), type};
  unsigned sum = 0;
  text_ += ':';
  for (std::uint8_t b : header) {
    AppendHex(text_, b);
    sum += b;
  }
  for (std::uint8_t b : data) {
    AppendHex(text_, b);
    sum += b;
  }
  AppendHex(text_, static_cast<std::uint8_t>(0u - sum));
  EndLine();
}
