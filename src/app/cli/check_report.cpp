#include "app/cli/check_report.h"

#include <cstdio>
#include <cstring>
#include <cerrno>

#include "engine/ruf_check.h"

int PrintCheckReport(const std::string& path) {
  const RufCheckReport r = CheckRufFile(path);
  if (!r.opened) {
    std::fprintf(stderr, "Unable to open %s: %s\n", path.c_str(), std::strerror(errno));
    return 3;
  }
  std::printf("File:          %s\n", path.c_str());
  std::printf("Model:         %d (from the file name)\n", r.fileModel);
  std::printf("Data lines:    %d\n", r.dataLines);
  for (const auto& [kind, count] : r.recordsByKind) std::printf("  %-27s %d\n", kind.c_str(), count);
  std::printf("Comment lines: %d\nDirectives:    %d\nBlank lines:   %d\n", r.commentLines, r.directiveLines,
              r.blankLines);
  if (r.hasData)
    std::printf("Addresses:     %08X-%08X (%u bytes span)\n", r.lowAddress, r.highAddress,
                r.highAddress - r.lowAddress + 1);
  else
    std::printf("Addresses:     no data\n");
  std::printf("End record:    %s\n", r.endsWithEndRecord ? "yes" : "no (the file may be cut short)");
  for (int line : r.unrecognisedLines) std::printf("Line %d: not recognised, passed over\n", line);
  for (const RufDamagedLine& d : r.damaged)
    std::printf("Line %d: %s record damaged: %s (computed %02X, file %02X)\n", d.lineNumber, d.kind.c_str(),
                d.what.c_str(), d.computedChecksum, d.fileChecksum);
  std::printf("Result:        %s\n", r.IsSound() ? "sound" : "DAMAGED: do not program this file");
  return r.IsSound() ? 0 : 1;
}
