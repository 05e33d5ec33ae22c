#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kPollInterval(5);

milliseconds Remaining(Clock::time_point deadline) {
  return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

// Sends one output stream of the program to its sink; for a buffer, the read
// end of the new pipe (or -1) goes to readEnd and the write end to writeEnd.
bool Redirect(posix_spawn_file_actions_t& actions, int stream, const CChildProcess::Sink& sink, int* readEnd,
              int* writeEnd, std::string* error) {
  using Kind = CChildProcess::Sink::Kind;
  switch (sink.kind) {
    case Kind::Inherit:
      return true;
    case Kind::File:
      posix_spawn_file_actions_addopen(&actions, stream, sink.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      return true;
    case Kind::Buffer: {
      int fds[2];
      if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
      }
      *readEnd = fds[0];
      *writeEnd = fds[1];
      posix_spawn_file_actions_adddup2(&actions, fds[1], stream);
      return true;
    }
  }
  return false;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

CChildProcess::~CChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  ClosePipes();
}

void CChildProcess::ClosePipes() {
  CloseFd(out_.fd);
  CloseFd(err_.fd);
}

bool CChildProcess::Start(const std::vector<std::string>& argv, const Options& options) {
  if (pid_ > 0) {
    startError_ = "already running";
    return false;
  }
  ClosePipes();
  out_.text.clear();
  err_.text.clear();
  consumed_ = 0;
  status_.reset();
  startError_.clear();
  if (argv.empty()) {
    startError_ = "no program named";
    return false;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  int outWrite = -1;
  int errWrite = -1;
  const bool redirected = Redirect(actions, STDOUT_FILENO, options.out, &out_.fd, &outWrite, &startError_) &&
                          Redirect(actions, STDERR_FILENO, options.err, &err_.fd, &errWrite, &startError_);
  if (!options.workingDirectory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());

  // The signals keep their ordinary meaning whatever the test runner blocked
  // or ignored: a shell that starts a job in the background ignores SIGINT.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGPIPE, SIGHUP}) sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> texts = argv;
  std::vector<char*> pointers;
  for (std::string& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);

  pid_t pid = -1;
  const int rc = redirected ? ::posix_spawn(&pid, texts[0].c_str(), &actions, &attributes, pointers.data(), environ)
                            : -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  // Only the program writes into the pipes: their ends here close, so that
  // the output ends when the program does.
  CloseFd(outWrite);
  CloseFd(errWrite);
  if (rc != 0) {
    ClosePipes();
    if (rc > 0) startError_ = texts[0] + ": " + std::strerror(rc);
    return false;
  }
  pid_ = pid;
  return true;
}

int CChildProcess::Pump(milliseconds timeout) {
  pollfd polled[2];
  Capture* owners[2];
  nfds_t count = 0;
  for (Capture* capture : {&out_, &err_}) {
    if (capture->fd < 0) continue;
    polled[count] = {capture->fd, POLLIN, 0};
    owners[count++] = capture;
  }
  if (count == 0) return -1;
  const int ready = ::poll(polled, count, static_cast<int>(timeout.count()));
  if (ready <= 0) return 0;
  for (nfds_t i = 0; i < count; ++i) {
    if (polled[i].revents == 0) continue;
    Capture& capture = *owners[i];
    char chunk[4096];
    const ssize_t n = ::read(capture.fd, chunk, sizeof chunk);
    if (n > 0)
      capture.text.append(chunk, static_cast<std::size_t>(n));
    else if (n == 0 || (errno != EINTR && errno != EAGAIN))
      CloseFd(capture.fd);
  }
  return ready;
}

std::optional<std::string> CChildProcess::ReadLine(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const std::size_t end = out_.text.find('\n', consumed_);
    if (end != std::string::npos) {
      std::string line = out_.text.substr(consumed_, end - consumed_);
      consumed_ = end + 1;
      return line;
    }
    if (out_.fd < 0) {
      // The output ended without a line feed: its last piece is a line too.
      if (consumed_ == out_.text.size()) return std::nullopt;
      std::string line = out_.text.substr(consumed_);
      consumed_ = out_.text.size();
      return line;
    }
    const milliseconds left = Remaining(deadline);
    if (left.count() == 0) return std::nullopt;
    Pump(left);
  }
}

std::optional<std::string> CChildProcess::WaitForLine(std::string_view prefix, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    std::optional<std::string> line = ReadLine(Remaining(deadline));
    if (!line || line->rfind(prefix, 0) == 0) return line;
  }
}

bool CChildProcess::Signal(int signalNumber) const { return pid_ > 0 && ::kill(pid_, signalNumber) == 0; }

std::optional<int> CChildProcess::Reap(bool block) {
  if (pid_ <= 0) return status_;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid_) return std::nullopt;
  pid_ = -1;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  // What the program wrote last is in the pipes already; a pipe that stays
  // open (a program of its own holds it) is not waited for.
  while (Pump(milliseconds(0)) > 0) {
  }
  return status_;
}

std::optional<int> CChildProcess::Wait(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (std::optional<int> status = Reap(false)) return status;
    const milliseconds left = Remaining(deadline);
    if (left.count() == 0) return std::nullopt;
    // Keep the pipes drained: a program blocked on a full pipe never ends.
    if (Pump(std::min(left, milliseconds(10))) < 0) std::this_thread::sleep_for(std::min(left, kPollInterval));
  }
}

std::optional<int> CChildProcess::Stop(int signalNumber, milliseconds timeout) {
  if (pid_ <= 0) return status_;
  ::kill(pid_, signalNumber);
  if (std::optional<int> status = Wait(timeout)) return status;
  ::kill(pid_, SIGKILL);
  Reap(true);
  status_.reset();
  return std::nullopt;
}
