#include "engine/ruf_file.h"

#include <cstring>

bool CRufFile::Open(const std::string& path) {
  file_.reset(std::fopen(path.c_str(), "rbe"));
  return file_ != nullptr;
}

void CRufFile::Close() { file_.reset(); }

bool CRufFile::ReadLine(std::string& line) {
  line.clear();
  if (!file_) return false;
  char buffer[kMaxLinePiece + 1];
  if (std::fgets(buffer, sizeof buffer, file_.get()) == nullptr) return false;
  line.assign(buffer, std::strlen(buffer));
  return true;
}
