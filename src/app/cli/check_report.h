#pragma once
#include <string>

// Checks a RUF file and prints what it holds; the exit status: 0 sound,
// 1 damaged, 3 when it cannot be opened.
int PrintCheckReport(const std::string& path);
