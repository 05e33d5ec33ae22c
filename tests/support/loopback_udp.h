#pragma once
// UDP on the loopback for tests: the program binds 127.0.0.1 and the radio
// 127.0.0.2 with the same port, as a radio on the network would answer from
// the port it was sent to. Plain sockets play the radio, strangers, or
// another program holding a port.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/comm_settings.h"

inline constexpr const char* kProgramAddress = "127.0.0.1";
inline constexpr const char* kRadioAddress = "127.0.0.2";

// A datagram socket bound to ip:port (port 0: one the kernel picks).
class CPlainSocket {
 public:
  CPlainSocket(const char* ip, int port);
  ~CPlainSocket();
  CPlainSocket(const CPlainSocket&) = delete;
  CPlainSocket& operator=(const CPlainSocket&) = delete;

  bool IsBound() const { return fd_ >= 0; }
  // The bound port; 0 when not bound.
  int Port() const;
  // Sends one datagram; a short send fails the test.
  void SendTo(const char* ip, int port, const std::vector<std::uint8_t>& bytes) const;
  // One datagram, and who sent it as "address:port"; nullopt if none came.
  std::optional<std::vector<std::uint8_t>> Receive(int timeoutMs, std::string* sender = nullptr) const;

 private:
  int fd_ = -1;
};

// Whether ip:port can be bound at the moment of asking.
bool PortFree(const char* ip, int port);

// Settings for the program's side of the loopback pair: the UDP link to the
// radio at kRadioAddress:port, bound to kProgramAddress.
void UseLoopbackUdp(CommSettings& settings, int port, int passcode);
