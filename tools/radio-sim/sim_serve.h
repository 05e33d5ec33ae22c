#pragma once
// The poll loops that carry commands to the simulated radio and its replies
// back, until a stop signal arrives.

#include "command_log_file.h"
#include "signal_watch.h"
#include "sim_options.h"
#include "simulated_radio.h"

struct ServeResult {
  int status = 0;       // the process exit status
  bool served = false;  // the link came up and the radio answered on it
};

ServeResult ServePty(const SimOptions& options, CSimulatedRadio& radio, CSignalWatch& signals, CCommandLogFile& log);
ServeResult ServeUdp(const SimOptions& options, CSimulatedRadio& radio, CSignalWatch& signals, CCommandLogFile& log);
