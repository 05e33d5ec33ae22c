#pragma once
// A private-profile ("ini") file: sections in square brackets, key=value lines.
// Section and key names match without regard to case. A write replaces a value
// in place, adds what is missing and keeps every other line as it was.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CIniFile {
 public:
  // Reads the file; a missing or unreadable file reads as empty (false).
  bool Load(const std::string& path);
  std::optional<std::string> GetValue(std::string_view section, std::string_view key) const;
  void SetValue(std::string_view section, std::string_view key, std::string_view value);
  // Writes a temporary file beside path and renames it over path, so the old
  // file stays whole until the new one is complete. beforeRename is a test
  // seam: returning false stops there, as a crash would.
  bool Save(const std::string& path, const std::function<bool()>& beforeRename = {}) const;

 private:
  struct Line {
    std::string text;     // without its line end
    std::string lineEnd;  // "\n", "\r\n" or "" on an unterminated last line
  };
  std::optional<std::size_t> FindSection(std::string_view section) const;
  std::vector<Line> lines_;
  std::string newline_ = "\n";  // for lines we add: the file's own style
};
