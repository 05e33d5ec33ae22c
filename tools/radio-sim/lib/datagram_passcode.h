#pragma once
// Every datagram to the radio starts with its two-byte passcode, high byte
// first. A radio ignores datagrams with any other passcode.

#include <cstdint>
#include <optional>
#include <span>

inline constexpr std::size_t kPasscodeLength = 2;

// The command inside the datagram, or nothing when the passcode is wrong or
// the datagram is too short to hold one.
std::optional<std::span<const std::uint8_t>> OpenDatagram(std::span<const std::uint8_t> datagram,
                                                          std::uint16_t passcode);
