#pragma once
// SIGINT, SIGTERM and SIGHUP as a readable descriptor, so that the poll loop
// stops cleanly instead of being killed between a reply and the dump.

#include <string>

#include "unique_fd.h"

class CSignalWatch {
 public:
  // Blocks the signals for the process and opens the descriptor.
  bool Open(std::string& error);
  int Fd() const { return fd_.Get(); }
  // Consumes the pending signal; returns its number.
  int Take();

 private:
  CUniqueFd fd_;
};
