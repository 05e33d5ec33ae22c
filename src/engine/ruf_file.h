#pragma once
// A RUF file opened for reading as bytes, one line (or 254-character piece of
// a longer line) at a time.

#include <cstdio>
#include <memory>
#include <string>

// A line with its line end may hold this many characters; longer lines are
// read as several pieces.
inline constexpr std::size_t kMaxLinePiece = 254;

class CRufFile {
 public:
  // Opens a regular file; anything else (a folder, a device) fails with errno
  // set, as opening a folder fails on other systems.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // Reads the next line or piece into line, line end included. Text after a
  // zero byte is not kept. Returns false at the end of the file or on an error.
  bool ReadLine(std::string& line);
  // The errno of a read that failed (not the end of the file), else 0.
  int ReadError() const { return readError_; }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  int readError_ = 0;
};
