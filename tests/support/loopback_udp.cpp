#include "support/loopback_udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

sockaddr_in Address(const char* ip, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, ip, &a.sin_addr);
  return a;
}

}  // namespace

CPlainSocket::CPlainSocket(const char* ip, int port) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const sockaddr_in local = Address(ip, port);
  if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

CPlainSocket::~CPlainSocket() {
  if (fd_ >= 0) ::close(fd_);
}

int CPlainSocket::Port() const {
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
  return ntohs(bound.sin_port);
}

void CPlainSocket::SendTo(const char* ip, int port, const std::vector<std::uint8_t>& bytes) const {
  const sockaddr_in to = Address(ip, port);
  ASSERT_EQ(::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(bytes.size()));
}

std::optional<std::vector<std::uint8_t>> CPlainSocket::Receive(int timeoutMs, std::string* sender) const {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) != 1) return std::nullopt;
  std::vector<std::uint8_t> bytes(65536);
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t n = ::recvfrom(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
  if (n < 0) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(n));
  if (sender != nullptr) {
    char ip[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    *sender = std::string(ip) + ":" + std::to_string(ntohs(from.sin_port));
  }
  return bytes;
}

bool PortFree(const char* ip, int port) { return CPlainSocket(ip, port).IsBound(); }

void UseLoopbackUdp(CommSettings& settings, int port, int passcode) {
  settings.useSerial = 0;
  settings.useEthernet = 1;
  settings.ipAddress = kRadioAddress;
  settings.udpPort = port;
  settings.passcode = passcode;
  settings.localBindAddress = kProgramAddress;
}
