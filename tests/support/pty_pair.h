#pragma once
// A pseudo-terminal for tests of the serial driver: the test holds the master
// side (the radio's end of the cable), the code under test opens the slave.

#include <termios.h>

#include <cstddef>
#include <string>
#include <string_view>

class CPtyPair {
 public:
  // Real-time bound for bytes that must come; reaching it is a failure.
  static constexpr int kMustHappenMs = 3000;

  CPtyPair();
  ~CPtyPair() { CloseMaster(); }
  CPtyPair(const CPtyPair&) = delete;
  CPtyPair& operator=(const CPtyPair&) = delete;

  bool IsOpen() const { return !slavePath_.empty(); }
  std::string Error() const;
  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }

  // Sends bytes to the slave side; a short write fails the test.
  void Write(std::string_view bytes);
  // What the slave side wrote, up to size bytes, waiting at most waitMs for
  // each piece.
  std::string Read(std::size_t size, int waitMs = kMustHappenMs);
  // What the slave side wrote and is there now, without waiting.
  std::string ReadAvailable();
  // The slave side's terminal settings.
  termios SlaveSettings() const;
  void CloseMaster();

 private:
  int master_ = -1;
  int error_ = 0;
  std::string slavePath_;
};
