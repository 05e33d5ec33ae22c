#pragma once
// Test doubles for the serial port and the UDP socket: they record what the
// program does to them and hand it queued bytes.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "comms/serial/serial_link.h"
#include "comms/udp/udp_socket.h"

using Bytes = std::vector<std::uint8_t>;
Bytes ToBytes(std::string_view text);

class CFakeSerialLink : public ISerialLink {
 public:
  std::uint32_t OpenForWindow(std::string_view portName, INotifyTarget* target, unsigned message,
                              std::uint32_t param, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool IsPortOpen() const override { return open; }
  std::uint32_t ClosePort() override;
  std::uint32_t SetLineFormat(std::uint32_t baud, int dataBits, int parity, int stopBits) override;
  std::uint32_t SetFlowControl(int mode) override;
  bool SetWriteTimeouts(std::uint32_t multiplierMs, std::uint32_t constantMs) override;
  std::uint32_t SetEventCharacter(std::uint8_t character, bool addToMask) override;
  std::uint32_t SetEventMask(std::uint32_t mask) override;
  std::uint32_t PurgeBuffers() override;
  std::uint32_t WriteBytes(std::span<const std::uint8_t> data, std::uint32_t* written,
                           std::uint32_t timeoutMs) override;
  std::uint32_t ReadBytes(std::span<std::uint8_t> buffer, std::uint32_t* count, std::uint32_t timeoutMs) override;
  std::uint32_t LastError() const override { return 0; }

  // Queues bytes from the radio and posts the notification a carriage return
  // would produce.
  void Deliver(std::string_view reply);

  bool open = false;
  std::uint32_t openError = 0;
  std::string portName;
  INotifyTarget* target = nullptr;
  unsigned message = 0;
  std::vector<std::string> calls;  // configuration calls, in order
  std::vector<Bytes> writes;
  Bytes incoming;
  int purges = 0;
  std::function<void(const Bytes&)> onWrite;
};

class CFakeUdpSocket : public IUdpSocket {
 public:
  int Create(int localPort, std::string_view bindAddress) override;
  int Connect(std::string_view host, int port) override;
  int Send(std::span<const std::uint8_t> datagram) override;
  void Close() override;
  bool IsOpen() const override { return open; }
  void SetSink(IDatagramSink* s) override { sink = s; }

  bool open = false;
  int createError = 0;
  int creates = 0;
  std::vector<std::string> connects;  // "host:port"
  std::vector<Bytes> datagrams;
  IDatagramSink* sink = nullptr;
  std::function<void(const Bytes&)> onSend;
};
