#pragma once
// The radio-sim command line.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "radio_config.h"

enum class SimLink { None, Pty, Udp };

struct SimOptions {
  SimLink link = SimLink::None;
  std::string ptyLink;      // --pty: the symbolic link to the slave side
  std::string udpEndpoint;  // --udp: ADDR:PORT
  std::uint16_t passcode = 0;
  RadioConfig radio;
  std::string dumpFile;
  int dumpSlot = 0;
  unsigned baud = 0;  // 0: replies go out as soon as they are due
  std::string logFile;
  bool help = false;
};

// The options, or the reason they cannot be used in error.
std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const kSimUsage;
