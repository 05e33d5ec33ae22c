#include "comms/udp/radio_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

namespace {

// A dotted IPv4 address, else the first IPv4 address of a host-name look-up.
int ResolveIpv4(std::string_view host, in_addr& out) {
  const std::string name(host);
  if (::inet_pton(AF_INET, name.c_str(), &out) == 1) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return EHOSTUNREACH;
  out = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return 0;
}

}  // namespace

CRadioSocket::~CRadioSocket() { Close(); }

int CRadioSocket::Create(int localPort, std::string_view bindAddress) {
  Close();
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<std::uint16_t>(localPort));
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  int error = 0;
  if (!bindAddress.empty()) error = ResolveIpv4(bindAddress, local.sin_addr);
  if (error == 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) error = errno;
  if (error != 0) {
    ::close(fd);
    return error;
  }
  fd_ = fd;
  host_.WatchReadable(fd_, [this] { OnReceive(); });
  return 0;
}

int CRadioSocket::Connect(std::string_view host, int port) {
  if (fd_ < 0) return EBADF;
  hasPeer_ = false;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<std::uint16_t>(port));
  if (const int error = ResolveIpv4(host, peer.sin_addr); error != 0) return error;
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) return errno;
  hasPeer_ = true;
  peerAddress_ = peer.sin_addr.s_addr;
  peerPort_ = peer.sin_port;
  return 0;
}

int CRadioSocket::Send(std::span<const std::uint8_t> datagram) {
  if (fd_ < 0) return -1;
  return static_cast<int>(::send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL));
}

void CRadioSocket::Close() {
  if (fd_ < 0) return;
  host_.UnwatchReadable(fd_);
  ::close(fd_);
  fd_ = -1;
  hasPeer_ = false;
}

void CRadioSocket::OnReceive() {
  if (fd_ < 0) return;
  std::array<std::uint8_t, kMaxDatagramSize + 1> buffer{};
  sockaddr_in sender{};
  socklen_t senderLength = sizeof sender;
  const ssize_t n = ::recvfrom(fd_, buffer.data(), kMaxDatagramSize, 0, reinterpret_cast<sockaddr*>(&sender),
                               &senderLength);
  if (n < 0) {
    const int error = errno;
    if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR && sink_) sink_->OnReceiveError(error);
    return;
  }
  if (!hasPeer_ || sender.sin_addr.s_addr != peerAddress_ || sender.sin_port != peerPort_) return;
  if (n == 0) return;
  buffer[static_cast<std::size_t>(n)] = 0;
  if (sink_) sink_->OnDatagram(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
}
