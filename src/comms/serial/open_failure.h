#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// One line that says why a serial port could not be opened, with the system's
// text and a hint a person can act on.
std::string DescribeSerialOpenFailure(std::string_view portName, std::uint32_t error);
