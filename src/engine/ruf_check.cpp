#include "engine/ruf_check.h"

#include <algorithm>

#include "engine/ruf_file.h"
#include "engine/ruf_line.h"
#include "platform/text.h"

std::int32_t ModelFromFileName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return DecimalOrZero(std::string_view(name).substr(0, 3));
}

namespace {

std::string IntelHexKind(std::uint8_t type) {
  switch (type) {
    case 0x00: return "Intel-HEX data";
    case 0x01: return "Intel-HEX end of file";
    case 0x02: return "Intel-HEX extended address";
    default: return Format("Intel-HEX type %02X", type);
  }
}

std::string Describe(const DecodedRecord& record, std::string_view line) {
  if (line.size() == kMaxLinePiece && line.back() != '\n') return "longer than 254 characters";
  if (!record.fits) return "shorter than its record length says";
  if (!record.digitsValid) return "a character that is not a hexadecimal digit";
  return "checksum error";
}

void AddDataRange(RufCheckReport& report, std::uint32_t first, std::size_t count) {
  if (count == 0) return;
  const std::uint32_t last = first + static_cast<std::uint32_t>(count - 1);
  report.lowAddress = report.hasData ? std::min(report.lowAddress, first) : first;
  report.highAddress = report.hasData ? std::max(report.highAddress, last) : last;
  report.hasData = true;
}

}  // namespace

RufCheckReport CheckRufFile(const std::string& path) {
  RufCheckReport report;
  report.fileModel = ModelFromFileName(path);
  CRufFile file;
  if (!file.Open(path)) return report;
  report.opened = true;

  std::uint32_t base = 0;  // from extended address records
  std::string line;
  int lineNumber = 1;
  bool lastRecordEnds = false;
  while (file.ReadLine(line)) {
    const int thisLine = lineNumber;
    if (!line.empty() && line.back() == '\n') ++lineNumber;
    if (IsDataLine(line)) ++report.dataLines;

    const RufLineKind kind = ClassifyLine(line);
    std::string recordKind;
    DecodedRecord record;
    switch (kind) {
      case RufLineKind::IntelHex:
        record = DecodeIntelHex(line);
        recordKind = IntelHexKind(record.type);
        lastRecordEnds = record.type == 0x01;
        if (record.IsSound() || record.length == 0) {
          if (record.type == 0x00)
            AddDataRange(report, base + record.address, record.length);
          else if (record.type == 0x02 && record.length == 2)
            base = static_cast<std::uint32_t>(DecodeExtendedAddress(line)) << 4;
          else if (record.type == 0x04 && record.length == 2)
            base = static_cast<std::uint32_t>(DecodeExtendedAddress(line)) << 16;
        }
        break;
      case RufLineKind::SRecordSkipped:
        recordKind = Format("S%c", line[1]);
        lastRecordEnds = line[1] == '7';
        break;
      case RufLineKind::SRecord: {
        record = DecodeSRecord(line);
        recordKind = line.size() > 1 ? Format("S%c", line[1]) : "S";
        lastRecordEnds = record.type >= 7 && record.type <= 9;
        if (record.type == 3 && record.length >= 5 && record.IsSound()) {
          const auto& b = record.bytes;
          const std::uint32_t address = static_cast<std::uint32_t>(b[1]) << 24 | static_cast<std::uint32_t>(b[2]) << 16 |
                                        static_cast<std::uint32_t>(b[3]) << 8 | b[4];
          AddDataRange(report, address, record.length - 5u);
        }
        break;
      }
      case RufLineKind::Comment:
        ++report.commentLines;
        break;
      case RufLineKind::Unrecognised:
        if (TrimBlanks(line).empty())
          ++report.blankLines;
        else
          report.unrecognisedLines.push_back(thisLine);
        break;
      default:
        ++report.directiveLines;
        break;
    }
    if (recordKind.empty()) continue;
    ++report.recordsByKind[recordKind];
    // Judged as programming judges it: an empty record is never sent, unless
    // it only reads as empty because its length is not hexadecimal.
    const bool judged = record.length != 0 || !record.digitsValid;
    if (kind != RufLineKind::SRecordSkipped && judged && !record.IsSound())
      report.damaged.push_back(
          {thisLine, recordKind, Describe(record, line), record.computedChecksum, record.fileChecksum});
  }
  report.endsWithEndRecord = lastRecordEnds;
  return report;
}
