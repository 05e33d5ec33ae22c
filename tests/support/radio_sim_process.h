#pragma once
// The radio-sim program of this build, run by a test: started, and taken as
// ready once it says so on its standard output.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

class CRadioSimProcess {
 public:
  static std::string ProgramPath();
  static bool IsBuilt();

  // Starts radio-sim with args and waits up to bound for its ready line.
  // Its standard output is kept here whatever options say; standard error
  // and the working directory follow options.
  ::testing::AssertionResult Start(const std::vector<std::string>& args, std::chrono::milliseconds bound,
                                   CChildProcess::Options options);
  ::testing::AssertionResult Start(const std::vector<std::string>& args, std::chrono::milliseconds bound) {
    return Start(args, bound, CChildProcess::Options());
  }

  // The ready line: "radio-sim ready: " and where it serves.
  const std::string& ReadyLine() const { return readyLine_; }
  bool Running() const { return process_.Running(); }

  // SIGTERM, which has radio-sim write its flash and log and end; its exit
  // status, or nullopt when it had to be killed.
  std::optional<int> Stop(std::chrono::milliseconds bound);
  // For a start that is tried again: ends the program at once.
  void Kill(std::chrono::milliseconds bound);

 private:
  CChildProcess process_;
  std::string readyLine_;
};
