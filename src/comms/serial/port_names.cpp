#include "comms/serial/port_names.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>

namespace {

constexpr std::string_view kDeviceDirectory = "/dev/";
constexpr std::string_view kUartDevicePrefix = "/dev/ttyS";
constexpr std::string_view kComPrefix = "COM";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) ==
                  std::toupper(static_cast<unsigned char>(b));
         });
}

}  // namespace

std::string ResolvePortName(std::string_view name) {
  if (name.empty()) return {};
  if (name.front() == '/') return std::string(name);

  if (StartsWithNoCase(name, kComPrefix)) {
    const std::string_view digits = name.substr(kComPrefix.size());
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (!digits.empty() && error == std::errc() && end == digits.data() + digits.size() &&
        number >= 1) {
      return std::string(kUartDevicePrefix) + std::to_string(number - 1);
    }
  }
  return std::string(kDeviceDirectory) + std::string(name);
}
