#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace {
constexpr std::size_t kMaxPtyName = 128;
}

CPtyPair::CPtyPair() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    error_ = errno;
    return;
  }
  char name[kMaxPtyName] = {};
  if (const int failed = ::ptsname_r(master_, name, sizeof name); failed != 0) {
    error_ = failed;
    return;
  }
  slavePath_ = name;
}

std::string CPtyPair::Error() const { return std::strerror(error_); }

void CPtyPair::Write(std::string_view bytes) {
  ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::string CPtyPair::Read(std::size_t size, int waitMs) {
  std::string got;
  while (got.size() < size) {
    pollfd pfd{master_, POLLIN, 0};
    if (::poll(&pfd, 1, waitMs) <= 0) break;
    char buffer[256];
    const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, size - got.size()));
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

std::string CPtyPair::ReadAvailable() { return Read(std::numeric_limits<std::size_t>::max(), 0); }

termios CPtyPair::SlaveSettings() const {
  termios settings{};
  ::tcgetattr(master_, &settings);  // on Linux this reads the slave's settings
  return settings;
}

void CPtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}
