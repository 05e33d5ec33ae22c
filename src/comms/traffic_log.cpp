#include "comms/traffic_log.h"

bool CTrafficLog::Open(const std::string& path) {
  file_.reset(std::fopen(path.c_str(), "wbe"));
  return file_ != nullptr;
}

void CTrafficLog::Close() { file_.reset(); }

void CTrafficLog::Write(std::string_view text) {
  if (!file_) return;
  std::string converted;
  converted.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  std::fwrite(converted.data(), 1, converted.size(), file_.get());
  // A flash that goes wrong is diagnosed from this file: keep it current even
  // if the program is killed.
  std::fflush(file_.get());
}
