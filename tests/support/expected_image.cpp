#include "support/expected_image.h"

#include <cstdint>
#include <map>
#include <sstream>

#include "support/temp_files.h"

namespace {

unsigned HexValue(const std::string& text, std::size_t at, std::size_t digits) {
  return static_cast<unsigned>(std::stoul(text.substr(at, digits), nullptr, 16));
}

}  // namespace

std::vector<std::string> IntelHexRecords(const std::string& fileText) {
  std::vector<std::string> records;
  std::istringstream lines(fileText);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == ':') records.push_back(line);
  }
  return records;
}

std::string ExpectedFlashImage(const std::string& rufPath) {
  std::map<std::uint32_t, std::uint8_t> bytes;
  // An extended segment address record (02) sets a base of its value * 16,
  // and a record's offsets wrap within that 64 KiB segment; an extended
  // linear one (04) sets the upper 16 bits of a plain 32-bit address.
  std::uint32_t base = 0;
  bool segmented = true;
  for (const std::string& record : IntelHexRecords(ReadFileBytes(rufPath))) {
    const unsigned length = HexValue(record, 1, 2);
    const unsigned offset = HexValue(record, 3, 4);
    const unsigned type = HexValue(record, 7, 2);
    if (type == 0x00) {
      for (unsigned i = 0; i < length; ++i) {
        const std::uint32_t within = segmented ? (offset + i) & 0xFFFF : offset + i;
        bytes[base + within] = static_cast<std::uint8_t>(HexValue(record, 9 + 2 * i, 2));
      }
    } else if (type == 0x02) {
      base = HexValue(record, 9, 4) * 16;
      segmented = true;
    } else if (type == 0x04) {
      base = HexValue(record, 9, 4) << 16;
      segmented = false;
    }
  }
  if (bytes.empty()) return {};
  const std::uint32_t lowest = bytes.begin()->first;
  std::string image(bytes.rbegin()->first - lowest + 1, '\xFF');
  for (const auto& [address, value] : bytes) image[address - lowest] = static_cast<char>(value);
  return image;
}
