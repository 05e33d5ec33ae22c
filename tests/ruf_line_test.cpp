// The RUF line decoder: line kinds, record fields, both checksum rules, and
// records that claim more than their line holds.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/ruf_line.h"
#include "support/engine_fixture.h"

namespace {

// A line in a heap block of exactly its size, so that a read past its end is
// caught by the address sanitizer rather than landing in a string's slack.
class ExactLine {
 public:
  explicit ExactLine(std::string_view text) : size_(text.size()), data_(new char[text.size()]) {
    std::copy(text.begin(), text.end(), data_.get());
  }
  std::string_view view() const { return {data_.get(), size_}; }

 private:
  std::size_t size_;
  std::unique_ptr<char[]> data_;
};

Bytes RecordBytes(const DecodedRecord& r) { return Bytes(r.bytes.begin(), r.bytes.begin() + r.byteCount); }

TEST(RufLine, KindsOfLines) {
  const struct {
    std::string_view line;
    RufLineKind kind;
    bool dataLine;
  } cases[] = {
      {":00000001FF\r\n", RufLineKind::IntelHex, true},
      {"S30800001000AABBCCB6\r\n", RufLineKind::SRecord, true},
      {"S00600004844521B\r\n", RufLineKind::SRecordSkipped, true},
      {"S70500000000FA\r\n", RufLineKind::SRecordSkipped, true},
      {std::string_view("S\x07" "05\r\n"), RufLineKind::SRecord, false},  // the byte 7, not the digit
      {"S", RufLineKind::SRecord, false},
      {"; comment\r\n", RufLineKind::Comment, false},
      {"#>AB\r\n", RufLineKind::RawCommand, false},
      {"#E010203\r\n", RufLineKind::EraseDirective, false},
      {"#G00010203\r\n", RufLineKind::GoDirective, false},
      {"#M Merrow\r\n", RufLineKind::RadioLine, false},
      {"#UNLOCKBOOT\r\n", RufLineKind::UnlockDirective, false},
      {"#V100 1.2\r\n", RufLineKind::FormatVersion, false},
      {"#Q\r\n", RufLineKind::Unrecognised, false},
      {"#", RufLineKind::Unrecognised, false},
      {"s30800001000AABBCCB6\r\n", RufLineKind::Unrecognised, false},
      {"\r\n", RufLineKind::Unrecognised, false},
      {"", RufLineKind::Unrecognised, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.line)));
    const ExactLine line(c.line);
    EXPECT_EQ(ClassifyLine(line.view()), c.kind);
    EXPECT_EQ(IsDataLine(line.view()), c.dataLine);
  }
}

TEST(RufLine, IntelHexRecords) {
  const struct {
    std::string_view line;
    std::uint8_t length, type;
    std::uint16_t address;
    const char* bytes;
    std::uint8_t computed, inFile;
  } cases[] = {
      {":03001000010203E7\r\n", 3, 0x00, 0x0010, "03 00 10 00 01 02 03", 0xE7, 0xE7},
      {":03001000010203E8\r\n", 3, 0x00, 0x0010, "03 00 10 00 01 02 03", 0xE7, 0xE8},
      {":02000002F0000C\r\n", 2, 0x02, 0x0000, "02 00 00 02 F0 00", 0x0C, 0x0C},
      {":02000002f0000c", 2, 0x02, 0x0000, "02 00 00 02 F0 00", 0x0C, 0x0C},  // lower case, no line end
      {":03AbCd00aAbBcC54\n", 3, 0x00, 0xABCD, "03 AB CD 00 AA BB CC", 0x54, 0x54},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.line));
    const ExactLine line(c.line);
    const DecodedRecord r = DecodeIntelHex(line.view());
    EXPECT_EQ(r.length, c.length);
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(r.address, c.address);
    EXPECT_EQ(Hex(RecordBytes(r)), c.bytes);
    EXPECT_EQ(r.computedChecksum, c.computed);
    EXPECT_EQ(r.fileChecksum, c.inFile);
    EXPECT_TRUE(r.fits);
    EXPECT_EQ(r.IsSound(), c.computed == c.inFile);
  }
  EXPECT_EQ(DecodeExtendedAddress(":02000002F0000C\r\n"), 0xF000);
  EXPECT_EQ(DecodeExtendedAddress(":02000002f00a02\r\n"), 0xF00A);

  // An end-of-file record: nothing beyond its header is decoded or checked.
  const DecodedRecord end = DecodeIntelHex(":00000001FF\r\n");
  EXPECT_EQ(end.length, 0);
  EXPECT_EQ(end.type, 1);
  EXPECT_EQ(end.byteCount, 0u);
  EXPECT_FALSE(CheckRecordLine(":00000001FF\r\n"));
  // A length that reads as 0 only because it is no hexadecimal number is damage.
  const auto corrupt = CheckRecordLine(":0G001000010203E7\r\n");
  ASSERT_TRUE(corrupt);
  EXPECT_FALSE(corrupt->IsSound());
}

TEST(RufLine, SRecords) {
  const struct {
    std::string_view line;
    std::uint8_t length, type;
    const char* bytes;
    std::uint8_t computed, inFile;
  } cases[] = {
      {"S30800001000AABBCCB6\r\n", 8, 3, "08 00 00 10 00 AA BB CC", 0xB6, 0xB6},
      {"S30800001000aabbccb6\n", 8, 3, "08 00 00 10 00 AA BB CC", 0xB6, 0xB6},
      {"S1050010AABB86\r\n", 5, 1, "05 00 10 AA BB", 0x85, 0x86},
      {"S9030000FC\r\n", 3, 9, "03 00 00", 0xFC, 0xFC},
      {"SA030000FC", 3, 10, "03 00 00", 0xFC, 0xFC},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.line));
    const ExactLine line(c.line);
    const DecodedRecord r = DecodeSRecord(line.view());
    EXPECT_EQ(r.length, c.length);
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(Hex(RecordBytes(r)), c.bytes);
    EXPECT_EQ(r.computedChecksum, c.computed);
    EXPECT_EQ(r.fileChecksum, c.inFile);
    EXPECT_EQ(r.IsSound(), c.computed == c.inFile);
  }
  EXPECT_EQ(DecodeSRecord("S300\r\n").length, 0);
  EXPECT_FALSE(CheckRecordLine("S300\r\n"));
  EXPECT_FALSE(CheckRecordLine("S00600004844521B\r\n"));  // skipped, never checked
}

// A record that claims more bytes than its line holds is damaged, and nothing
// is read from beyond the line. The line end is no part of the record: a
// checksum that would fall on CR LF does not fit either.
TEST(RufLine, DeclaredLengthRunningPastTheLine) {
  const std::string_view lines[] = {
      ":FF00100001",
      ":05001000010203E7\r\n",
      ":04001000010203E7\r\n",  // the checksum would be the line end
      ":04001000010203E7\n",
      ":03001000010203E",
      ":0",
      ":",
      "SFF0000",
      "S30900001000AABBCCB6\r\n",  // likewise for an S-record
      "S3",
      "S",
  };
  for (std::string_view text : lines) {
    SCOPED_TRACE(testing::PrintToString(std::string(text)));
    const ExactLine line(text);
    const DecodedRecord r = text[0] == ':' ? DecodeIntelHex(line.view()) : DecodeSRecord(line.view());
    if (r.length == 0) continue;  // nothing claimed, nothing decoded
    EXPECT_FALSE(r.fits);
    EXPECT_FALSE(r.IsSound());
    const auto checked = CheckRecordLine(line.view());
    ASSERT_TRUE(checked);
    EXPECT_FALSE(checked->IsSound());
  }
  // Directive bytes at the end of a short line read as missing, not beyond it.
  bool valid = true;
  EXPECT_EQ(DecodeHexByte(ExactLine("#E0102").view(), 6, &valid), 0);
  EXPECT_FALSE(valid);
  valid = true;
  EXPECT_EQ(DecodeHexByte(ExactLine("#E01020").view(), 6, &valid), 0);
  EXPECT_FALSE(valid);
}

TEST(RufLine, HexDigitsInEitherCase) {
  for (char c : std::string_view("0123456789")) EXPECT_EQ(HexDigitValue(c), c - '0');
  for (char c : std::string_view("abcdef")) EXPECT_EQ(HexDigitValue(c), c - 'a' + 10);
  for (char c : std::string_view("ABCDEF")) EXPECT_EQ(HexDigitValue(c), c - 'A' + 10);
  for (char c : std::string_view("gG:/@`\r\n ")) EXPECT_FALSE(HexDigitValue(c)) << c;
  bool valid = true;
  EXPECT_EQ(DecodeHexByte("x1g", 1, &valid), 0x10);
  EXPECT_FALSE(valid);
}

}  // namespace
