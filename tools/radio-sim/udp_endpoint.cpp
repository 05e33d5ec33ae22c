#include "udp_endpoint.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

// Larger than any datagram, so that none is cut short unnoticed.
constexpr std::size_t kMaxDatagram = 65536;

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

bool CUdpEndpoint::Open(std::string_view addressAndPort, std::string& error) {
  const std::size_t colon = addressAndPort.rfind(':');
  sockaddr_in address{};
  address.sin_family = AF_INET;
  std::uint16_t port = 0;
  const std::string host(addressAndPort.substr(0, colon == std::string_view::npos ? 0 : colon));
  const std::string_view portText = colon == std::string_view::npos ? "" : addressAndPort.substr(colon + 1);
  const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (colon == std::string_view::npos || ec != std::errc() || end != portText.data() + portText.size() ||
      ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    error = "expected a dotted IPv4 address and a port, as 127.0.0.2:49152, not " + std::string(addressAndPort);
    return false;
  }
  address.sin_port = htons(port);

  fd_.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd_.IsValid()) {
    error = Failure("cannot create a datagram socket");
    return false;
  }
  if (::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = Failure("cannot bind to " + std::string(addressAndPort));
    return false;
  }
  return true;
}

std::string CUdpEndpoint::BoundAddress() const {
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) return "?";
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &bound.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(bound.sin_port));
}

std::optional<ReceivedDatagram> CUdpEndpoint::Receive() {
  buffer_.resize(kMaxDatagram);
  ReceivedDatagram datagram;
  socklen_t length = sizeof datagram.sender;
  const ssize_t n = ::recvfrom(fd_.Get(), buffer_.data(), buffer_.size(), 0,
                               reinterpret_cast<sockaddr*>(&datagram.sender), &length);
  if (n < 0) return std::nullopt;
  datagram.bytes.assign(buffer_.begin(), buffer_.begin() + n);
  return datagram;
}

bool CUdpEndpoint::Send(std::span<const std::uint8_t> bytes, const sockaddr_in& to) {
  const ssize_t n = ::sendto(fd_.Get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                             sizeof to);
  return n == static_cast<ssize_t>(bytes.size());
}
