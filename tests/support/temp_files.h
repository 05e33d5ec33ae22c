#pragma once
// Files of a test: a temporary folder of its own, and reading what a program
// wrote.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// A fresh temporary folder, removed at destruction; one made with
// kKeepWhenFailed stays when the test has failed, for a look at its files.
class CTempDir {
 public:
  enum Keep { kRemove, kKeepWhenFailed };
  explicit CTempDir(const std::string& prefix = "flash-test", Keep keep = kRemove);
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  // Writes a file in the folder and returns its path.
  std::string Write(const std::string& name, std::string_view content) const;

 private:
  std::filesystem::path path_;
  Keep keep_;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// Reads the file again and again until accept() takes its content or the
// timeout passes; that content, or nullopt.
std::optional<std::string> WaitForFile(const std::filesystem::path& path,
                                       const std::function<bool(const std::string&)>& accept,
                                       std::chrono::milliseconds timeout);
