#include "support/radio_sim_process.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>

namespace {
constexpr const char* kReadyPrefix = "radio-sim ready: ";
}

std::string CRadioSimProcess::ProgramPath() {
  const char* dir = std::getenv("FLASH_BIN_DIR");
  return std::string(dir != nullptr ? dir : FLASH_BINARY_DIR) + "/tools/radio-sim";
}

bool CRadioSimProcess::IsBuilt() { return ::access(ProgramPath().c_str(), X_OK) == 0; }

::testing::AssertionResult CRadioSimProcess::Start(const std::vector<std::string>& args,
                                                   std::chrono::milliseconds bound, CChildProcess::Options options) {
  readyLine_.clear();
  std::vector<std::string> argv{ProgramPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  options.out = CChildProcess::Sink::Buffer();
  if (!process_.Start(argv, options)) return ::testing::AssertionFailure() << process_.StartError();
  // A program that ends before it is ready ends its output too: no waiting
  // for the bound then.
  const std::optional<std::string> ready = process_.WaitForLine(kReadyPrefix, bound);
  if (!ready) return ::testing::AssertionFailure() << "radio-sim not ready; its output: " << process_.Output();
  readyLine_ = *ready;
  return ::testing::AssertionSuccess();
}

std::optional<int> CRadioSimProcess::Stop(std::chrono::milliseconds bound) { return process_.Stop(SIGTERM, bound); }

void CRadioSimProcess::Kill(std::chrono::milliseconds bound) { process_.Stop(SIGKILL, bound); }
