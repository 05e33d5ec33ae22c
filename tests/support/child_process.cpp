#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The test's environment with the given "NAME=VALUE" entries replacing or
// added to it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> merged;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& x : extra)
      if (std::string_view(x).substr(0, x.find('=')) == name) replaced = true;
    if (!replaced) merged.emplace_back(entry);
  }
  merged.insert(merged.end(), extra.begin(), extra.end());
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

CChildProcess::~CChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (stdout_ >= 0) ::close(stdout_);
}

bool CChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                          const Options& options) {
  if (pid_ > 0) {
    error_ = "already running";
    return false;
  }
  if (stdout_ >= 0) ::close(stdout_);
  stdout_ = -1;
  output_.clear();
  consumed_ = 0;
  status_.reset();
  error_.clear();

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, options.stdinFile.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  if (options.stderrToStdout) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  if (!options.workingDirectory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());

  // The program gets the signals' ordinary meaning whatever the test runner
  // blocked or ignored.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGTERM, SIGINT, SIGPIPE, SIGHUP}) sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> argvTexts{program};
  argvTexts.insert(argvTexts.end(), args.begin(), args.end());
  std::vector<std::string> envTexts = MergedEnvironment(options.environment);
  std::vector<char*> argv = Pointers(argvTexts);
  std::vector<char*> envp = Pointers(envTexts);

  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (rc != 0) {
    ::close(pipeFds[0]);
    error_ = program + ": " + std::strerror(rc);
    return false;
  }
  pid_ = pid;
  stdout_ = pipeFds[0];
  return true;
}

bool CChildProcess::Pump(int timeoutMs) {
  if (stdout_ < 0) return false;
  pollfd p{stdout_, POLLIN, 0};
  const int ready = ::poll(&p, 1, timeoutMs);
  if (ready < 0 && errno != EINTR) return false;
  if (ready <= 0) return true;
  char chunk[4096];
  const ssize_t n = ::read(stdout_, chunk, sizeof chunk);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) {
    ::close(stdout_);
    stdout_ = -1;
    return false;
  }
  output_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::optional<std::string> CChildProcess::ReadLine(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const std::size_t end = output_.find('\n', consumed_);
    if (end != std::string::npos) {
      std::string line = output_.substr(consumed_, end - consumed_);
      consumed_ = end + 1;
      return line;
    }
    if (stdout_ < 0) {
      // The output ended without a line feed: its last piece is a line too.
      if (consumed_ == output_.size()) return std::nullopt;
      std::string line = output_.substr(consumed_);
      consumed_ = output_.size();
      return line;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) return std::nullopt;
    Pump(left);
  }
}

std::optional<std::string> CChildProcess::WaitForLine(std::string_view prefix, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::optional<std::string> line = ReadLine(RemainingMs(deadline));
    if (!line || line->rfind(prefix, 0) == 0) return line;
  }
}

std::optional<int> CChildProcess::Reap(bool block) {
  if (pid_ <= 0) return status_;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid_) return std::nullopt;
  pid_ = -1;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

std::optional<int> CChildProcess::Wait(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (std::optional<int> status = Reap(false)) return status;
    const int left = RemainingMs(deadline);
    if (left == 0) return std::nullopt;
    // Keep the pipe drained: a program blocked on a full pipe never ends.
    if (!Pump(std::min(left, 10))) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 2)));
  }
}

std::optional<int> CChildProcess::Stop(int timeoutMs) { return Stop(SIGTERM, timeoutMs); }

std::optional<int> CChildProcess::Stop(int signal, int timeoutMs) {
  if (pid_ <= 0) return status_;
  ::kill(pid_, signal);
  if (std::optional<int> status = Wait(timeoutMs)) return status;
  ::kill(pid_, SIGKILL);
  Reap(true);
  status_.reset();
  return std::nullopt;
}
