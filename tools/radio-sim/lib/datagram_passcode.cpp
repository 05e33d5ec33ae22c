#include "datagram_passcode.h"

std::optional<std::span<const std::uint8_t>> OpenDatagram(std::span<const std::uint8_t> datagram,
                                                          std::uint16_t passcode) {
  if (datagram.size() < kPasscodeLength) return std::nullopt;
  const unsigned received = unsigned{datagram[0]} << 8 | datagram[1];
  if (received != passcode) return std::nullopt;
  return datagram.subspan(kPasscodeLength);
}
