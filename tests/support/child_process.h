#pragma once
// A program started by a test: its standard output read line by line through
// a pipe, a signal to stop it, and its exit status.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CChildProcess {
 public:
  struct Options {
    std::string workingDirectory;          // empty: the test's own
    std::string stdinFile = "/dev/null";   // what the program reads
    bool stderrToStdout = false;           // standard error into the same pipe
    std::vector<std::string> environment;  // "NAME=VALUE" entries added or replaced
  };

  CChildProcess() = default;
  ~CChildProcess();
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  // Starts program with args (argv[0] is program); false with Error() set.
  bool Start(const std::string& program, const std::vector<std::string>& args, const Options& options);
  bool Start(const std::string& program, const std::vector<std::string>& args) {
    return Start(program, args, Options());
  }

  // The next line of standard output (without its line feed), or nullopt
  // when none came within timeoutMs or the output ended.
  std::optional<std::string> ReadLine(int timeoutMs);
  // Reads lines until one starts with prefix; nullopt as ReadLine.
  std::optional<std::string> WaitForLine(std::string_view prefix, int timeoutMs);

  // The exit status (128 + the signal's number when a signal ended it), or
  // nullopt when the program is still running after timeoutMs.
  std::optional<int> Wait(int timeoutMs);
  // SIGTERM (or signal), then Wait; a program that does not end in time is
  // killed and nullopt returned.
  std::optional<int> Stop(int timeoutMs);
  std::optional<int> Stop(int signal, int timeoutMs);

  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  const std::string& Output() const { return output_; }
  const std::string& Error() const { return error_; }

 private:
  // Reads what the pipe holds, waiting up to timeoutMs; false once it ended.
  bool Pump(int timeoutMs);
  std::optional<int> Reap(bool block);

  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string output_;
  std::size_t consumed_ = 0;
  std::optional<int> status_;
  std::string error_;
};
