// radio-sim: a simulated radio on a pseudo-terminal or a datagram socket, for
// trying the flash update program without hardware.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command_log_file.h"
#include "signal_watch.h"
#include "sim_options.h"
#include "sim_serve.h"
#include "simulated_radio.h"

namespace {

// A dump is the span from the lowest to the highest address written; records
// scattered across the address space would make it absurdly large.
constexpr std::uint64_t kMaxDumpBytes = std::uint64_t{1} << 30;

bool WriteDump(const CSimulatedRadio& radio, int slot, const std::string& path) {
  const CFlashImage& image = radio.Image(slot);
  if (image.DumpSize() > kMaxDumpBytes) {
    std::fprintf(stderr, "radio-sim: not dumping slot %d: 0x%08X to 0x%08X is more than %llu bytes\n", slot,
                 image.LowestAddress(), image.HighestAddress(), static_cast<unsigned long long>(kMaxDumpBytes));
    return false;
  }
  const std::vector<std::uint8_t> bytes = image.Dump();
  std::FILE* file = std::fopen(path.c_str(), "wbe");
  if (file == nullptr) {
    std::perror(("radio-sim: cannot write " + path).c_str());
    return false;
  }
  // An empty image (nothing programmed) is an empty file.
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::perror(("radio-sim: cannot write " + path).c_str());
    return false;
  }
  std::fprintf(stderr, "radio-sim: slot %d: %zu bytes from 0x%08X written to %s\n", slot, bytes.size(),
               image.IsEmpty() ? 0u : image.LowestAddress(), path.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  std::optional<SimOptions> options = ParseSimOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "radio-sim: %s\n%s", error.c_str(), kSimUsage);
    return 2;
  }
  if (options->help) {
    std::fputs(kSimUsage, stdout);
    return 0;
  }

  CSignalWatch signals;
  if (!signals.Open(error)) {
    std::fprintf(stderr, "radio-sim: %s\n", error.c_str());
    return 1;
  }
  CCommandLogFile log;
  if (!options->logFile.empty() && !log.Open(options->logFile)) {
    std::perror(("radio-sim: cannot write " + options->logFile).c_str());
    return 1;
  }
  options->radio.keepCommandLog = log.IsOpen();
  CSimulatedRadio radio(options->radio);

  const ServeResult result = options->link == SimLink::Pty ? ServePty(*options, radio, signals, log)
                                                           : ServeUdp(*options, radio, signals, log);
  // A radio that never came up has nothing to dump, and must not overwrite
  // the file of an earlier run.
  if (result.served && !options->dumpFile.empty() && !WriteDump(radio, options->dumpSlot, options->dumpFile)) {
    return result.status == 0 ? 1 : result.status;
  }
  return result.status;
}
