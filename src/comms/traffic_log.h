#pragma once
// "comms.txt": the timestamped trace of an operation's traffic. Written the way
// a text-mode file of the original program was, so every "\n" becomes CR LF.

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

class CTrafficLog {
 public:
  bool Open(const std::string& path);  // creates anew (truncates)
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // Writes text, "\n" as CR LF; nothing when closed.
  void Write(std::string_view text);

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};
