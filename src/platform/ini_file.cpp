#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace {

// The name of a "[name]" line, or nullopt.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = TrimBlanks(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return TrimBlanks(line.substr(1, close - 1));
}

// The key of a "key=value" line, or nullopt.
std::optional<std::string_view> KeyName(std::string_view line) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view trimmed = TrimBlanks(line);
  if (!trimmed.empty() && trimmed.front() == ';') return std::nullopt;
  return TrimBlanks(line.substr(0, eq));
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool CIniFile::Load(const std::string& path) {
  lines_.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string content = buffer.str();
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    Line line;
    if (end == std::string::npos) {
      line.text = content.substr(start);
      start = content.size();
    } else {
      line.text = content.substr(start, end - start);
      line.lineEnd = "\n";
      start = end + 1;
    }
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.lineEnd = "\r" + line.lineEnd;
    }
    lines_.push_back(std::move(line));
  }
  if (!lines_.empty() && lines_.front().lineEnd == "\r\n") newline_ = "\r\n";
  return true;
}

std::optional<std::size_t> CIniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i)
    if (auto name = SectionName(lines_[i].text); name && EqualsIgnoreCase(*name, section)) return i;
  return std::nullopt;
}

std::optional<std::string> CIniFile::GetValue(std::string_view section, std::string_view key) const {
  const auto start = FindSection(section);
  if (!start) return std::nullopt;
  for (std::size_t i = *start + 1; i < lines_.size() && !SectionName(lines_[i].text); ++i) {
    const std::string_view text = lines_[i].text;
    if (auto name = KeyName(text); name && EqualsIgnoreCase(*name, key)) {
      std::string_view value = TrimBlanks(text.substr(text.find('=') + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      return std::string(value);
    }
  }
  return std::nullopt;
}

void CIniFile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  auto makeLine = [&](std::string text) { return Line{std::move(text), newline_}; };
  // An unterminated last line gets its end before anything follows it.
  auto terminateLast = [&] {
    if (!lines_.empty() && lines_.back().lineEnd.empty()) lines_.back().lineEnd = newline_;
  };
  const auto start = FindSection(section);
  if (!start) {
    terminateLast();
    lines_.push_back(makeLine("[" + std::string(section) + "]"));
    lines_.push_back(makeLine(std::string(key) + "=" + std::string(value)));
    return;
  }
  std::size_t insertAt = *start + 1;
  for (std::size_t i = *start + 1; i < lines_.size() && !SectionName(lines_[i].text); ++i) {
    const std::string_view text = lines_[i].text;
    if (auto name = KeyName(text); name && EqualsIgnoreCase(*name, key)) {
      lines_[i].text = std::string(*name) + "=" + std::string(value);
      return;
    }
    if (!TrimBlanks(text).empty()) insertAt = i + 1;
  }
  if (insertAt == lines_.size()) terminateLast();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt),
                makeLine(std::string(key) + "=" + std::string(value)));
}

bool CIniFile::Save(const std::string& path, const std::function<bool()>& beforeRename) const {
  std::string content;
  for (const Line& line : lines_) content += line.text + line.lineEnd;

  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written) {
    ::unlink(temp.c_str());
    return false;
  }
  if (beforeRename && !beforeRename()) return false;
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}
