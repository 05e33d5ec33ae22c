#pragma once
#include <string_view>

// Window message numbers. Registered messages live above 0xC000 and are the
// same number for the same name within one process.
inline constexpr unsigned kWmUser = 0x0400;
inline constexpr unsigned kWmLogUpdate = kWmUser + 3;
inline constexpr unsigned kWmStatusUpdate = kWmUser + 4;
inline constexpr unsigned kWmContinueProcessing = kWmUser + 7;

unsigned RegisterWindowMessage(std::string_view name);
