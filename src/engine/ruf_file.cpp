#include "engine/ruf_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

bool CRufFile::Open(const std::string& path) {
  readError_ = 0;
  file_.reset(std::fopen(path.c_str(), "rbe"));
  if (!file_) return false;
  struct stat info {};
  if (::fstat(::fileno(file_.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    file_.reset();
    errno = error;
    return false;
  }
  return true;
}

void CRufFile::Close() { file_.reset(); }

bool CRufFile::ReadLine(std::string& line) {
  line.clear();
  if (!file_) return false;
  char buffer[kMaxLinePiece + 1];
  if (std::fgets(buffer, sizeof buffer, file_.get()) == nullptr) {
    if (std::ferror(file_.get())) readError_ = errno != 0 ? errno : EIO;
    return false;
  }
  line.assign(buffer, std::strlen(buffer));
  return true;
}
