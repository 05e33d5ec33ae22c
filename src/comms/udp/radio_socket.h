#pragma once
// The UDP link to the radio: one IPv4 datagram socket, bound to a local port
// and connected to the radio. Connecting makes the kernel drop datagrams from
// any other address, so nothing but the radio's replies reaches the parser.

#include "comms/udp/udp_socket.h"
#include "platform/host.h"

inline constexpr std::size_t kMaxDatagramSize = 4096;

class CRadioSocket : public IUdpSocket {
 public:
  explicit CRadioSocket(IHost& host) : host_(host) {}
  ~CRadioSocket() override;
  CRadioSocket(const CRadioSocket&) = delete;
  CRadioSocket& operator=(const CRadioSocket&) = delete;

  int Create(int localPort, std::string_view bindAddress) override;
  int Connect(std::string_view host, int port) override;
  int Send(std::span<const std::uint8_t> datagram) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  void SetSink(IDatagramSink* sink) override { sink_ = sink; }

  // Reads one datagram and hands it on; called when the socket is readable.
  void OnReceive();

 private:
  IHost& host_;
  IDatagramSink* sink_ = nullptr;
  int fd_ = -1;
  // The peer of the latest connect, in network byte order. The kernel filters
  // only from the connect on: datagrams queued before it, or from an earlier
  // peer, are dropped here, and while no connect has succeeded none is heard.
  bool hasPeer_ = false;
  std::uint32_t peerAddress_ = 0;
  std::uint16_t peerPort_ = 0;
};
