#pragma once
// The UDP link as the rest of the program sees it. The real socket
// (CRadioSocket) and the test doubles implement it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Told of every datagram that arrives, and of receive errors.
class IDatagramSink {
 public:
  virtual ~IDatagramSink() = default;
  // bytes is followed by a zero byte, not counted in its size.
  virtual void OnDatagram(std::span<const std::uint8_t> bytes) = 0;
  virtual void OnReceiveError(int error) = 0;
};

class IUdpSocket {
 public:
  virtual ~IUdpSocket() = default;
  // Creates an IPv4 datagram socket bound to localPort on bindAddress (every
  // address when empty). Returns 0, or the errno of the failure (the socket is
  // then closed again).
  virtual int Create(int localPort, std::string_view bindAddress) = 0;
  // Fixes the peer: a dotted IPv4 address, else a host name looked up.
  // Returns 0 or an error number.
  virtual int Connect(std::string_view host, int port) = 0;
  // One datagram. Returns the byte count sent or -1.
  virtual int Send(std::span<const std::uint8_t> datagram) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual void SetSink(IDatagramSink* sink) = 0;
};
