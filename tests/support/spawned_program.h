#pragma once
// A program of the build run by an end-to-end test, with its standard output
// and standard error each in a file of its own: a child never blocks on a
// pipe that nobody reads, and the test can look at both while it runs or
// after it ended. Every wait has an upper bound; a program still running when
// its object goes away is killed.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class SpawnedProgram {
 public:
  struct Options {
    std::vector<std::string> argv;  // argv[0] is the program's path
    std::filesystem::path workDir;  // empty: the test's own
    std::filesystem::path stdoutFile;
    std::filesystem::path stderrFile;
  };

  // Starts the program; Started() tells whether that worked.
  explicit SpawnedProgram(const Options& options);
  ~SpawnedProgram();
  SpawnedProgram(const SpawnedProgram&) = delete;
  SpawnedProgram& operator=(const SpawnedProgram&) = delete;

  bool Started() const { return pid_ > 0 || status_.has_value(); }
  bool Signal(int signalNumber) const;

  // The exit status once the program has ended, or minus the signal's
  // number when a signal ended it; nullopt while it still runs at timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);

// Reads the file again and again until accept() takes its content or the
// timeout passes; that content, or nullopt.
std::optional<std::string> WaitForFile(const std::filesystem::path& path,
                                       const std::function<bool(const std::string&)>& accept,
                                       std::chrono::milliseconds timeout);

// A fresh, empty folder under the system's temporary folder.
std::filesystem::path MakeTempFolder(const std::string& prefix);
