#pragma once
// --log: every command received, in hex, one a line; kept current so that a
// killed run still shows what reached the radio.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command_framer.h"

class CCommandLogFile {
 public:
  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  void Write(const std::vector<CommandBytes>& commands);

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};
