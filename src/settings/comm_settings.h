#pragma once
// The communication settings shared by the whole program, kept in "update.ini".

#include <cstdint>
#include <string>

struct CommSettings {
  std::string comPort = "COM1";
  std::string ipAddress = "192.168.1.123";
  std::int32_t udpPort = 49152;
  std::int32_t passcode = 0;
  std::uint8_t useSerial = 1;
  std::uint8_t useEthernet = 0;
  std::int32_t ignoreErrors = 1;
  // Not stored in the file: the local address the datagram socket binds to,
  // every address when empty. Tests and the command line set it.
  std::string localBindAddress;
};
