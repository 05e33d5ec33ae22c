#pragma once
// The radio's end of a serial line: a pseudo-terminal whose slave side a
// client opens through a symbolic link, as it would open a real port.

#include <cstdint>
#include <span>
#include <string>

#include "unique_fd.h"

class CPtyEndpoint {
 public:
  CPtyEndpoint() = default;
  ~CPtyEndpoint();  // removes the link if it still leads to this terminal
  CPtyEndpoint(const CPtyEndpoint&) = delete;
  CPtyEndpoint& operator=(const CPtyEndpoint&) = delete;

  bool Open(const std::string& linkPath, std::string& error);
  int Fd() const { return master_.Get(); }
  const std::string& SlavePath() const { return slavePath_; }
  // Bytes the client wrote: the count, 0 when there are none, -1 on a failure
  // (errno kept).
  long Read(std::span<std::uint8_t> buffer);
  // False when the terminal could not take all of it (a client that does not
  // read fills the slave's queue): the rest is lost, as on a real line.
  bool Write(std::span<const std::uint8_t> bytes);

 private:
  CUniqueFd master_;
  // Held open so that a client closing the slave does not hang the master
  // up (reads would then fail with EIO until the next client opens it).
  CUniqueFd slave_;
  std::string slavePath_;
  std::string linkPath_;
};
