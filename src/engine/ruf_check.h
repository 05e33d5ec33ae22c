#pragma once
// A whole-file check of a RUF file, with the same decoder the transmission
// uses: what the file holds and every line that is damaged. Touches no port.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct RufDamagedLine {
  int lineNumber = 0;
  std::string kind;  // e.g. "Intel-HEX data", "S3"
  std::string what;  // the fault in words
  std::uint8_t computedChecksum = 0;
  std::uint8_t fileChecksum = 0;
};

struct RufCheckReport {
  bool opened = false;
  std::int32_t fileModel = 0;
  std::int32_t dataLines = 0;
  std::map<std::string, int> recordsByKind;
  int commentLines = 0;
  int directiveLines = 0;
  int blankLines = 0;
  bool hasData = false;
  std::uint32_t lowAddress = 0;
  std::uint32_t highAddress = 0;  // of the last data byte
  std::vector<RufDamagedLine> damaged;
  std::vector<int> unrecognisedLines;
  bool endsWithEndRecord = false;
  bool IsSound() const { return opened && damaged.empty(); }
};

RufCheckReport CheckRufFile(const std::string& path);

// The model number a file name carries in its first three characters.
std::int32_t ModelFromFileName(const std::string& path);
