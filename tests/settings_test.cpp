// "update.ini": reading it into the communication settings, writing them back,
// and the ini layer underneath.

#include <gtest/gtest.h>

#include <optional>

#include "platform/ini_file.h"
#include "settings/settings_file.h"
#include "support/engine_fixture.h"

namespace {

struct SettingsTest : ::testing::Test, EngineFixture {
  std::string IniPath() const { return dir / "update.ini"; }
};

struct ReadCase {
  const char* name;
  std::optional<std::string> file;  // none: no "update.ini" at all
  CommSettings expected;
};

CommSettings With(void (*change)(CommSettings&)) {
  CommSettings c;
  change(c);
  return c;
}

TEST_F(SettingsTest, ReadGivesTheRecord) {
  const std::string longAddress(45, '7');
  const ReadCase cases[] = {
      {"no file: defaults, errors ignored", std::nullopt, CommSettings{}},
      {"no interface active: serial wins", "[ACTIVE INTERFACE]\nSERIAL=0\nETHERNET=0\n", CommSettings{}},
      {"both active: serial wins", "[ACTIVE INTERFACE]\nSERIAL=1\nETHERNET=1\n", CommSettings{}},
      {"any non-zero value activates",
       "[ACTIVE INTERFACE]\nSERIAL=0\nETHERNET=5\n",
       With([](CommSettings& c) { c.useSerial = 0, c.useEthernet = 1; })},
      {"STOP ON ERRORS 2 stays 2",
       "[SERIAL INTERFACE]\nSTOP ON ERRORS=2\n",
       With([](CommSettings& c) { c.ignoreErrors = 2; })},
      {"a port that is no number reads 0",
       "[ETHERNET INTERFACE]\nUDP PORT=abc\n",
       With([](CommSettings& c) { c.udpPort = 0; })},
      {"a value is cut to 39 characters",
       "[ETHERNET INTERFACE]\nIP ADDRESS=" + longAddress + "\n",
       With([](CommSettings& c) { c.ipAddress = std::string(39, '7'); })},
      {"names match in any case; numbers as atoi reads them",
       "[serial interface]\ncomport=COM7\nStop On Errors=0\n"
       "[Ethernet Interface]\nudp port=  +5000x\nPasscode=70000\nip address=10.0.0.9\n",
       With([](CommSettings& c) {
         c.comPort = "COM7", c.ignoreErrors = 0, c.udpPort = 5000, c.passcode = 70000, c.ipAddress = "10.0.0.9";
       })},
      {"a key in another section is not seen",
       "[ETHERNET INTERFACE]\nCOMPORT=COM9\n[SERIAL INTERFACE]\nUDP PORT=1\n",
       CommSettings{}},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(IniPath());
    if (c.file) dir.Write("update.ini", *c.file);
    w.commSettings = CommSettings{"X", "X", -1, -1, 0, 0, -1, {}};  // every field is read
    w.ReadSettings();
    const CommSettings& got = w.commSettings;
    EXPECT_EQ(got.comPort, c.expected.comPort);
    EXPECT_EQ(got.ipAddress, c.expected.ipAddress);
    EXPECT_EQ(got.udpPort, c.expected.udpPort);
    EXPECT_EQ(got.passcode, c.expected.passcode);
    EXPECT_EQ(got.useSerial, c.expected.useSerial);
    EXPECT_EQ(got.useEthernet, c.expected.useEthernet);
    EXPECT_EQ(got.ignoreErrors, c.expected.ignoreErrors);
  }
}

TEST_F(SettingsTest, NoFileWritesAllSevenKeysInTableOrder) {
  w.ReadSettings();
  w.WriteSettings();
  EXPECT_EQ(ReadFileBytes(IniPath()),
            "[SERIAL INTERFACE]\n"
            "COMPORT=COM1\n"
            "STOP ON ERRORS=1\n"
            "[ETHERNET INTERFACE]\n"
            "IP ADDRESS=192.168.1.123\n"
            "UDP PORT=49152\n"
            "PASSCODE=0\n"
            "[ACTIVE INTERFACE]\n"
            "ETHERNET=0\n"
            "SERIAL=1\n");
}

TEST_F(SettingsTest, ValuesAsReadAreWrittenBack) {
  dir.Write("update.ini", "[SERIAL INTERFACE]\nSTOP ON ERRORS=2\n[ACTIVE INTERFACE]\nSERIAL=0\nETHERNET=5\n");
  w.ReadSettings();
  w.WriteSettings();
  CIniFile ini;
  ASSERT_TRUE(ini.Load(IniPath()));
  EXPECT_EQ(ini.GetValue("SERIAL INTERFACE", "STOP ON ERRORS"), "2");
  EXPECT_EQ(ini.GetValue("ACTIVE INTERFACE", "ETHERNET"), "1");
  EXPECT_EQ(ini.GetValue("ACTIVE INTERFACE", "SERIAL"), "0");
}

// A user who edited the file by hand keeps comments, unknown keys and
// sections, blank lines and line ends; only the values change, in place, and
// missing keys join their section.
TEST_F(SettingsTest, HandEditedFileKeepsEverythingElse) {
  dir.Write("update.ini",
            "; radio shack bench\r\n"
            "[Serial Interface]\r\n"
            "comport = COM3\r\n"
            "; the old adapter\r\n"
            "BAUD=9600\r\n"
            "\r\n"
            "[ETHERNET INTERFACE]\r\n"
            "IP ADDRESS=10.0.0.7\r\n"
            "\r\n"
            "[EXTRA]\r\n"
            "colour=blue");
  w.ReadSettings();
  EXPECT_EQ(w.commSettings.comPort, "COM3");
  w.commSettings.comPort = "COM4";
  w.WriteSettings();
  EXPECT_EQ(ReadFileBytes(IniPath()),
            "; radio shack bench\r\n"
            "[Serial Interface]\r\n"
            "comport=COM4\r\n"
            "; the old adapter\r\n"
            "BAUD=9600\r\n"
            "STOP ON ERRORS=1\r\n"
            "\r\n"
            "[ETHERNET INTERFACE]\r\n"
            "IP ADDRESS=10.0.0.7\r\n"
            "UDP PORT=49152\r\n"
            "PASSCODE=0\r\n"
            "\r\n"
            "[EXTRA]\r\n"
            "colour=blue\r\n"
            "[ACTIVE INTERFACE]\r\n"
            "ETHERNET=0\r\n"
            "SERIAL=1\r\n");
}

TEST_F(SettingsTest, CrashBeforeRenameLeavesTheOldFileWhole) {
  const std::string old = "[SERIAL INTERFACE]\nCOMPORT=COM2\n";
  dir.Write("update.ini", old);
  CIniFile ini;
  ASSERT_TRUE(ini.Load(IniPath()));
  ini.SetValue("SERIAL INTERFACE", "COMPORT", "COM5");
  ini.SetValue("ETHERNET INTERFACE", "UDP PORT", "1");
  EXPECT_FALSE(ini.Save(IniPath(), [] { return false; }));
  EXPECT_EQ(ReadFileBytes(IniPath()), old);

  ASSERT_TRUE(ini.Save(IniPath()));
  CIniFile saved;
  ASSERT_TRUE(saved.Load(IniPath()));
  EXPECT_EQ(saved.GetValue("serial interface", "comport"), "COM5");
}

TEST(SettingsFilePath, FollowsTheWorkingDirectory) {
  EXPECT_EQ(SettingsFilePath("/"), "/update.ini");
  EXPECT_EQ(SettingsFilePath("/home/op"), "/home/op/update.ini");
  EXPECT_EQ(SettingsFilePath(""), "");  // no working directory: nothing read or written
  const std::string deep = "/" + std::string(4000, 'd');  // longer than any fixed buffer
  EXPECT_EQ(SettingsFilePath(deep), deep + "/update.ini");
}

TEST_F(SettingsTest, WorkingDirectoryOfTheMomentIsUsed) {
  CTempDir other;
  host.cwd = other.path().string();
  w.WriteSettings();
  EXPECT_TRUE(std::filesystem::exists(other / "update.ini"));
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
}

}  // namespace
