#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

CTempDir::CTempDir(const std::string& prefix, Keep keep) : keep_(keep) {
  std::string templ = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(templ.data()) == nullptr) std::abort();
  path_ = templ;
}

CTempDir::~CTempDir() {
  if (keep_ == kKeepWhenFailed && ::testing::Test::HasFailure()) {
    std::fprintf(stderr, "files of the failed case kept in %s\n", path_.c_str());
    return;
  }
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string CTempDir::Write(const std::string& name, std::string_view content) const {
  const std::string path = (path_ / name).string();
  std::ofstream out(path, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return path;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::optional<std::string> WaitForFile(const std::filesystem::path& path,
                                       const std::function<bool(const std::string&)>& accept,
                                       std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::string content = ReadFileBytes(path);
    if (accept(content)) return content;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}
