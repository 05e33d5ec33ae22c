// The communication settings in "update.ini" in the working directory.

#include "settings/settings_file.h"

#include <unistd.h>

#include "engine/main_window.h"
#include "platform/ini_file.h"
#include "platform/text.h"

namespace {

constexpr const char* kSerialSection = "SERIAL INTERFACE";
constexpr const char* kEthernetSection = "ETHERNET INTERFACE";
constexpr const char* kActiveSection = "ACTIVE INTERFACE";
// Values are read into a buffer of 40 characters.
constexpr std::size_t kMaxValueLength = 39;

std::string ReadValue(const CIniFile& ini, const char* section, const char* key, const char* fallback) {
  std::string value = ini.GetValue(section, key).value_or(fallback);
  if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
  return value;
}

}  // namespace

std::string SettingsFilePath(std::string_view workingDirectory) {
  if (workingDirectory.empty()) return {};
  std::string path(workingDirectory);
  if (path.back() != '/') path += '/';
  return path + "update.ini";
}

std::string CMainWindow::SettingsPath() { return SettingsFilePath(host_.CurrentDirectory()); }

void CMainWindow::ReadSettings() {
  CIniFile ini;
  if (const std::string path = SettingsPath(); !path.empty()) ini.Load(path);
  CommSettings& c = commSettings;
  c.comPort = ReadValue(ini, kSerialSection, "COMPORT", "COM1");
  c.ignoreErrors = DecimalOrZero(ReadValue(ini, kSerialSection, "STOP ON ERRORS", "1"));
  c.ipAddress = ReadValue(ini, kEthernetSection, "IP ADDRESS", "192.168.1.123");
  c.udpPort = DecimalOrZero(ReadValue(ini, kEthernetSection, "UDP PORT", "49152"));
  c.passcode = DecimalOrZero(ReadValue(ini, kEthernetSection, "PASSCODE", "0"));
  c.useEthernet = DecimalOrZero(ReadValue(ini, kActiveSection, "ETHERNET", "0")) != 0;
  c.useSerial = DecimalOrZero(ReadValue(ini, kActiveSection, "SERIAL", "1")) != 0;
  // Exactly one interface is active; serial wins.
  if (!c.useSerial && !c.useEthernet) c.useSerial = 1;
  if (c.useSerial && c.useEthernet) c.useEthernet = 0;
}

void CMainWindow::WriteSettings() {
  const std::string path = SettingsPath();
  if (path.empty()) return;
  CIniFile ini;
  // A file that is there but cannot be read is left alone rather than replaced
  // by our seven keys without the user's other lines.
  if (!ini.Load(path) && ::access(path.c_str(), F_OK) == 0) return;
  const CommSettings& c = commSettings;
  ini.SetValue(kSerialSection, "COMPORT", c.comPort);
  ini.SetValue(kSerialSection, "STOP ON ERRORS", Format("%d", c.ignoreErrors));
  ini.SetValue(kEthernetSection, "IP ADDRESS", c.ipAddress);
  ini.SetValue(kEthernetSection, "UDP PORT", Format("%d", c.udpPort));
  ini.SetValue(kEthernetSection, "PASSCODE", Format("%d", c.passcode));
  ini.SetValue(kActiveSection, "ETHERNET", Format("%d", c.useEthernet));
  ini.SetValue(kActiveSection, "SERIAL", Format("%d", c.useSerial));
  ini.Save(path);  // a failed write is not reported; this run's settings are lost
}
