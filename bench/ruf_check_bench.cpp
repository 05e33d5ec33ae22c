// How fast a RUF file is read and checked: the file check of the command line
// and the counting pass of an operation start both run at this pace.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "engine/ruf_check.h"
#include "engine/ruf_line.h"
#include "platform/text.h"

namespace {

constexpr int kRecords = 100000;
constexpr int kBytesPerRecord = 16;

// One Intel-HEX data record with a correct checksum.
std::string DataRecord(unsigned address, unsigned seed) {
  unsigned sum = kBytesPerRecord + (address >> 8 & 0xFF) + (address & 0xFF);
  std::string line = Format(":%02X%04X00", kBytesPerRecord, address & 0xFFFF);
  for (int i = 0; i < kBytesPerRecord; ++i) {
    const unsigned b = (seed * 131 + static_cast<unsigned>(i) * 17) & 0xFF;
    sum += b;
    line += Format("%02X", b);
  }
  return line + Format("%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
}

class BigFile {
 public:
  BigFile() {
    char name[] = "/tmp/720-bench-XXXXXX";
    const int fd = ::mkstemp(name);
    path_ = name;
    std::FILE* f = ::fdopen(fd, "w");
    for (int i = 0; i < kRecords; ++i) {
      const std::string line = DataRecord(static_cast<unsigned>(i * kBytesPerRecord), static_cast<unsigned>(i));
      std::fwrite(line.data(), 1, line.size(), f);
    }
    std::fputs(":00000001FF\r\n", f);
    std::fclose(f);
  }
  ~BigFile() { ::unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void BM_CheckRufFile(benchmark::State& state) {
  static const BigFile file;
  for (auto _ : state) {
    const RufCheckReport report = CheckRufFile(file.path());
    benchmark::DoNotOptimize(report.dataLines);
  }
  state.SetItemsProcessed(state.iterations() * (kRecords + 1));
}
BENCHMARK(BM_CheckRufFile)->Unit(benchmark::kMillisecond);

void BM_DecodeIntelHex(benchmark::State& state) {
  const std::string line = DataRecord(0x1234, 7);
  for (auto _ : state) {
    const DecodedRecord record = DecodeIntelHex(line);
    benchmark::DoNotOptimize(record.computedChecksum);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeIntelHex);

}  // namespace
