#pragma once
// The two views of a reply: its bytes, and its text up to the first zero byte.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline std::string_view ReplyText(std::span<const std::uint8_t> reply) {
  std::size_t length = 0;
  while (length < reply.size() && reply[length] != 0) ++length;
  return {reinterpret_cast<const char*>(reply.data()), length};
}

// Each byte as two upper-case hexadecimal digits and a blank.
std::string RenderHexUpper(std::span<const std::uint8_t> bytes);
