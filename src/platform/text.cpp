#include "platform/text.h"

#include <cstdarg>
#include <cstdio>
#include <limits>

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (size > 0) {
    out.resize(static_cast<std::size_t>(size));
    std::vsnprintf(out.data(), out.size() + 1, format, args);
  }
  va_end(args);
  return out;
}

namespace {
bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

std::optional<std::int64_t> ReadLeadingDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    value = value > (kLimit - digit) / 10 ? kLimit : value * 10 + digit;
  }
  return negative ? -value : value;
}

std::int32_t DecimalOrZero(std::string_view text) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ReadLeadingDecimal(text).value_or(0)));
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsCSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsCSpace(text.back())) text.remove_suffix(1);
  return text;
}
