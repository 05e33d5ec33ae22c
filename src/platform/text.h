#pragma once
// Small text helpers shared by the core.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// printf-style formatting into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads a decimal number the way the C library's atoi does: leading white
// space, one optional sign, then digits up to the first non-digit. nullopt when
// no digit comes first. Values beyond 64 bits saturate.
std::optional<std::int64_t> ReadLeadingDecimal(std::string_view text);

// atoi: 0 when there is no number; the low 32 bits of the value otherwise.
std::int32_t DecimalOrZero(std::string_view text);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string_view TrimBlanks(std::string_view text);
