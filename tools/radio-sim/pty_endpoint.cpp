#include "pty_endpoint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string ReadLink(const std::string& path) {
  std::vector<char> target(PATH_MAX);
  const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
  return n < 0 ? std::string() : std::string(target.data(), static_cast<std::size_t>(n));
}

}  // namespace

bool CPtyEndpoint::Open(const std::string& linkPath, std::string& error) {
  master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!master_.IsValid()) {
    error = Failure("cannot create a pseudo-terminal");
    return false;
  }
  if (::grantpt(master_.Get()) != 0 || ::unlockpt(master_.Get()) != 0) {
    error = Failure("cannot unlock the pseudo-terminal");
    return false;
  }
  const char* name = ::ptsname(master_.Get());
  if (name == nullptr) {
    error = Failure("cannot name the pseudo-terminal");
    return false;
  }
  slavePath_ = name;
  slave_.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave_.IsValid()) {
    error = Failure("cannot open " + slavePath_);
    return false;
  }
  // Raw bytes both ways: no echo, no CR/LF translation, no line editing. And
  // no hang-up when the last client closes: cfmakeraw leaves HUPCL set.
  termios tio{};
  if (::tcgetattr(slave_.Get(), &tio) != 0) {
    error = Failure("cannot read the settings of " + slavePath_);
    return false;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
  tio.c_cflag |= CLOCAL | CREAD;
  ::cfsetspeed(&tio, B57600);
  if (::tcsetattr(slave_.Get(), TCSANOW, &tio) != 0) {
    error = Failure("cannot set " + slavePath_ + " to raw mode");
    return false;
  }

  // Replace a link left behind by an earlier run, but never anything else.
  struct stat existing {};
  if (::lstat(linkPath.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) {
      error = linkPath + " exists and is not a symbolic link";
      return false;
    }
    ::unlink(linkPath.c_str());
  }
  if (::symlink(slavePath_.c_str(), linkPath.c_str()) != 0) {
    error = Failure("cannot create the link " + linkPath);
    return false;
  }
  linkPath_ = linkPath;
  return true;
}

CPtyEndpoint::~CPtyEndpoint() {
  if (!linkPath_.empty() && ReadLink(linkPath_) == slavePath_) ::unlink(linkPath_.c_str());
}

long CPtyEndpoint::Read(std::span<std::uint8_t> buffer) {
  const ssize_t n = ::read(master_.Get(), buffer.data(), buffer.size());
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return n;
}

bool CPtyEndpoint::Write(std::span<const std::uint8_t> bytes) {
  const ssize_t n = ::write(master_.Get(), bytes.data(), bytes.size());
  return n == static_cast<ssize_t>(bytes.size());
}
