#pragma once
// Port names as the settings and the command line give them, turned into the
// device path that is opened.

#include <string>
#include <string_view>

// "/dev/ttyUSB0" (any name starting with '/') is used as it stands; "COMn"
// (any case, n >= 1) is the n-th standard UART, /dev/ttyS{n-1}, so settings
// files written on Windows keep working; any other name lives in /dev
// ("ttyUSB0" -> "/dev/ttyUSB0"). An empty name stays empty and fails to open.
std::string ResolvePortName(std::string_view name);
