#pragma once
// Builds the text of a RUF file: Intel-HEX records with their checksums,
// comments and directives, every line ending in CR LF.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class CRufWriter {
 public:
  void AddComment(std::string_view text);
  // A '#' line: the text after the '#' as it stands ("V001 ...", "E010203").
  void AddDirective(std::string_view text);
  // Type 02: the segment that the addresses of the following records are in.
  void AddExtendedAddress(std::uint16_t segment);
  void AddDataRecord(std::uint16_t address, std::span<const std::uint8_t> data);
  void AddEndOfFile();
  const std::string& Text() const { return text_; }

 private:
  void AddRecord(std::uint16_t address, std::uint8_t type, std::span<const std::uint8_t> data);
  void EndLine();

  std::string text_;
};
