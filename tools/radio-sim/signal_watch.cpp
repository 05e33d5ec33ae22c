#include "signal_watch.h"

#include <sys/signalfd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

bool CSignalWatch::Open(std::string& error) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
    error = std::string("cannot block the stop signals: ") + std::strerror(errno);
    return false;
  }
  fd_.Reset(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!fd_.IsValid()) {
    error = std::string("cannot watch the stop signals: ") + std::strerror(errno);
    return false;
  }
  return true;
}

int CSignalWatch::Take() {
  signalfd_siginfo info{};
  if (::read(fd_.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
  return static_cast<int>(info.ssi_signo);
}
