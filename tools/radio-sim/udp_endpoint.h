#pragma once
// The radio's end of the Ethernet link: one datagram socket, bound to the
// radio's address and port, answering each datagram to its sender.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "unique_fd.h"

struct ReceivedDatagram {
  std::vector<std::uint8_t> bytes;
  sockaddr_in sender{};
};

class CUdpEndpoint {
 public:
  // addressAndPort is a dotted IPv4 address and a port, "127.0.0.2:49152";
  // port 0 lets the system choose (BoundAddress tells which).
  bool Open(std::string_view addressAndPort, std::string& error);
  int Fd() const { return fd_.Get(); }
  std::string BoundAddress() const;
  // The next datagram, or nothing when none is waiting.
  std::optional<ReceivedDatagram> Receive();
  bool Send(std::span<const std::uint8_t> bytes, const sockaddr_in& to);

 private:
  CUniqueFd fd_;
  std::vector<std::uint8_t> buffer_;
};
