#include "command_log_file.h"

bool CCommandLogFile::Open(const std::string& path) {
  file_.reset(std::fopen(path.c_str(), "we"));
  return file_ != nullptr;
}

void CCommandLogFile::Write(const std::vector<CommandBytes>& commands) {
  if (!file_ || commands.empty()) return;
  for (const CommandBytes& command : commands) {
    for (std::size_t i = 0; i < command.size(); ++i) {
      std::fprintf(file_.get(), i == 0 ? "%02X" : " %02X", command[i]);
    }
    std::fputc('\n', file_.get());
  }
  std::fflush(file_.get());
}
