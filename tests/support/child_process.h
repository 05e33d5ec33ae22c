#pragma once
// A program started by a test. Its standard output and standard error each
// go where the test wants them: into a buffer that the test reads line by
// line, into a file of its own (the program never blocks on a pipe that
// nobody reads, and the test can look at the file while the program runs),
// or to the test's own stream. Every wait has an upper bound; a program
// still running when its object goes away is killed.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CChildProcess {
 public:
  // Where one output stream of the program goes.
  struct Sink {
    enum class Kind { Inherit, Buffer, File };
    Kind kind = Kind::Inherit;
    std::filesystem::path file;

    static Sink Inherit() { return {Kind::Inherit, {}}; }
    static Sink Buffer() { return {Kind::Buffer, {}}; }
    // Created, or emptied when it exists.
    static Sink File(std::filesystem::path path) { return {Kind::File, std::move(path)}; }
  };

  struct Options {
    std::filesystem::path workingDirectory;  // empty: the test's own
    Sink out = Sink::Buffer();
    Sink err = Sink::Inherit();
  };

  CChildProcess() = default;
  ~CChildProcess();
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  // Starts argv[0] with argv, reading /dev/null; false with StartError() set.
  bool Start(const std::vector<std::string>& argv, const Options& options);
  bool Start(const std::vector<std::string>& argv) { return Start(argv, Options()); }
  // Whether the last Start worked (the program may have ended since).
  bool Started() const { return pid_ > 0 || status_.has_value(); }
  bool Running() const { return pid_ > 0; }
  const std::string& StartError() const { return startError_; }

  // The next line of buffered standard output (without its line feed), or
  // nullopt when none came within timeout or the output ended.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
  // Reads lines until one starts with prefix; nullopt as ReadLine.
  std::optional<std::string> WaitForLine(std::string_view prefix, std::chrono::milliseconds timeout);
  // All that the buffered streams brought so far.
  const std::string& Output() const { return out_.text; }
  const std::string& ErrorOutput() const { return err_.text; }

  bool Signal(int signalNumber) const;
  // The exit status once the program has ended, or minus the signal's number
  // when a signal ended it (so that a program that exits with 130 after
  // SIGINT is told from one that SIGINT killed); nullopt while it still runs
  // after timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // The signal, then Wait; a program that does not end in time is killed and
  // nullopt returned.
  std::optional<int> Stop(int signalNumber, std::chrono::milliseconds timeout);

 private:
  struct Capture {
    int fd = -1;  // the read end of the pipe while it is open
    std::string text;
  };

  // Moves what the pipes hold into the buffers, waiting up to timeout for
  // something to come: how many pipes had something (or had ended), -1 when
  // no pipe is open.
  int Pump(std::chrono::milliseconds timeout);
  std::optional<int> Reap(bool block);
  void ClosePipes();

  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string startError_;
  Capture out_;
  Capture err_;
  std::size_t consumed_ = 0;  // of out_.text, by ReadLine
};
