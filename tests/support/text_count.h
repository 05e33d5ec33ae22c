#pragma once
// Counting a text in a log, a trace or a program's output: a line that must
// appear once is told from one that appears twice.

#include <string_view>

// How many times needle occurs in haystack, overlapping occurrences included.
inline int CountOf(std::string_view haystack, std::string_view needle) {
  int n = 0;
  for (auto at = haystack.find(needle); at != std::string_view::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}
