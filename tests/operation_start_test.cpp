// The mode commands and the start of an operation: file choice, banner, the
// model number from the file's name, the data-line count and the version query.

#include <gtest/gtest.h>

#include "support/engine_fixture.h"

namespace {

struct OperationStartTest : ::testing::Test, EngineFixture {};

constexpr const char* kRecord = ":03001000010203E7\r\n";

TEST_F(OperationStartTest, ProgramStartSendsTheVersionQuery) {
  host.Advance(7000);
  w.AppendLog("left over from before");
  w.updateSession.repeatStartCommand = 1;  // left by an earlier operation on a model 750
  ChooseFile("720-x.ruf", kRecord);
  w.OnUpdateRadio();

  ASSERT_EQ(host.fileRequests.size(), 1u);
  const FileDialogRequest& r = host.fileRequests[0];
  EXPECT_EQ(r.title, "Select Firmware Update File");
  EXPECT_EQ(r.filters, (std::vector<std::pair<std::string, std::string>>{{"Firmware Files(*.ruf)", "*.ruf"},
                                                                         {"All Files(*.*)", "*.*"}}));
  EXPECT_EQ(r.initialName, "*.ruf");
  EXPECT_EQ(r.defaultExtension, "ruf");

  EXPECT_TRUE(host.logViewShown);
  EXPECT_EQ(host.logView.find("left over"), std::string::npos);
  EXPECT_EQ(serial.calls.front(), "OpenForWindow COM1");
  EXPECT_EQ(TakeSent(), std::vector<std::string>{"3F 56 0D"});
  EXPECT_EQ(host.TimerPeriod(kVersionReplyTimerId), 10000u);
  EXPECT_EQ(host.TimerPeriod(kResponseTimerId), 5000u);
  EXPECT_EQ(TrafficLog(), "Log File Begin\r\n13:05:16:0042 R< 3f 56 0d \r\n");

  const UpdateSession& s = w.updateSession;
  EXPECT_EQ(s.fileModel, 720);
  EXPECT_EQ(s.totalLines, 1);
  EXPECT_EQ(s.linesProcessed, 0u);
  EXPECT_EQ(s.startTime, host.WallSeconds());
  EXPECT_EQ(s.extAddr, 0xA55A);
  EXPECT_EQ(s.lastExtAddr, 0x5AA5);
  EXPECT_TRUE(s.savedLine.empty());
  EXPECT_EQ(s.repeatStartCommand, 0);
}

TEST_F(OperationStartTest, ModeCommandsResetErrorCounters) {
  UpdateSession& s = w.updateSession;
  s.checksumRetries = 2, s.timeoutRetries = 3, s.checksumErrors = 4, s.failureFlag = 1, s.personality = 5;
  ChooseFile("720-x.ruf", kRecord);
  w.OnTestMode();
  EXPECT_EQ(s.mode, kModeTest);
  EXPECT_EQ(s.checksumRetries, 0);
  EXPECT_EQ(s.timeoutRetries, 0);
  EXPECT_EQ(s.checksumErrors, 0);
  EXPECT_EQ(s.failureFlag, 0);
  EXPECT_EQ(s.personality, 0);
  w.OnQueryMode();
  EXPECT_EQ(s.mode, kModeQuery);
}

TEST_F(OperationStartTest, BannerForEachMode) {
  const std::string ignoreBanner = "\r\n *** Detected Command Line Switch to Ignore Radio Responses and Errors *** \r\n";
  const struct {
    const char* name;
    void (CMainWindow::*command)();
    std::int32_t ignoreErrors;
    const char* patience;
    const char* paneAfter;
  } cases[] = {
      {"program", &CMainWindow::OnUpdateRadio, 0, " Please be patient while your radio is being updated.", "Program Flash"},
      {"verify", &CMainWindow::OnVerifyProgram, 0, " Please be patient while your radio is being verified.", ""},
      {"test", &CMainWindow::OnTestMode, 0, "", ""},
      {"program, errors ignored", &CMainWindow::OnUpdateRadio, 1,
       " Please be patient while your radio is being updated.", "Program Flash"},
      {"program, STOP ON ERRORS 2", &CMainWindow::OnUpdateRadio, 2,
       " Please be patient while your radio is being updated.", "Program Flash"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EngineFixture f;
    const std::string path = f.ChooseFile("720-x.ruf", kRecord);
    f.w.commSettings.ignoreErrors = c.ignoreErrors;
    (f.w.*c.command)();
    const std::string expected = (c.ignoreErrors == 1 ? ignoreBanner : "") + "\r\n Flash Rom Update File - " + path +
                                 "\r\n\r\n" + c.patience + "\r\n\r\n 1 total data lines in file.\r\n";
    EXPECT_EQ(f.host.logView.substr(0, expected.size()), expected);
    EXPECT_EQ(f.host.panes[2], c.paneAfter);
  }
}

TEST_F(OperationStartTest, ModelNumberFromTheFileName) {
  const struct {
    const char* name;
    std::int32_t model;
  } cases[] = {{"720abc.ruf", 720}, {"7.ruf", 7},     {"x720.ruf", 0},
               {"  7x.ruf", 7},     {"72015.ruf", 720}, {"-12.ruf", -12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChooseFile(c.name, kRecord);
    w.OnVerifyProgram();
    EXPECT_EQ(w.updateSession.fileModel, c.model);
  }
}

// Lines are read in pieces of at most 254 characters, each judged on its own.
TEST_F(OperationStartTest, DataLineCount) {
  const std::string piece(253, '0');
  const struct {
    const char* name;
    std::string file;
    std::int32_t count;
  } cases[] = {
      {"mixed file",
       ":03001000010203E7\r\n:00000001FF\r\n:02000002F0000C\r\nS30800001000AABBCCB6\r\n"
       "S00600004844521B\r\nS70500000000FA\r\n; comment\r\n#V100 1.0\r\n\r\n",
       6},
      {"empty file", "", 0},
      {"300 characters, second piece begins with ':'", ":" + piece + ":" + std::string(44, '0') + "\r\n", 2},
      {"300 characters, second piece begins with 'S' then 1", ":" + piece + "S1" + std::string(43, '0') + "\r\n", 2},
      {"300 characters, second piece begins with 'S' then byte 7",
       ":" + piece + "S\x07" + std::string(43, '0') + "\r\n", 1},
      {"300 characters, second piece is no record", ":" + piece + "0" + std::string(44, '0') + "\r\n", 1},
      {"last line a lone S", std::string(kRecord) + "S", 1},
      {"S then the byte 7", "S\x07" "0300\r\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EngineFixture f;
    f.ChooseFile("720-x.ruf", c.file);
    f.w.OnTestMode();
    EXPECT_EQ(f.w.updateSession.totalLines, c.count);
    EXPECT_NE(f.host.logView.find(" " + std::to_string(c.count) + " total data lines in file.\r\n"),
              std::string::npos);
    EXPECT_EQ(f.TakeSent(), std::vector<std::string>{"3F 56 0D"});  // even an empty file goes on
  }
}

TEST_F(OperationStartTest, CancelledFileDialogStartsNothing) {
  w.AppendLog("earlier text");
  host.chosenFile.reset();
  w.OnVerifyProgram();
  EXPECT_EQ(w.updateSession.mode, kModeVerify);
  EXPECT_EQ(host.logView, "");
  EXPECT_TRUE(host.logViewShown);
  EXPECT_TRUE(serial.calls.empty());
  EXPECT_TRUE(serial.writes.empty());
  EXPECT_FALSE(host.TimerPeriod(kVersionReplyTimerId));
  EXPECT_FALSE(host.TimerPeriod(kResponseTimerId));
  EXPECT_FALSE(std::filesystem::exists(dir / "comms.txt"));
}

TEST_F(OperationStartTest, FileThatCannotBeOpened) {
  // A folder opens on Linux but holds no lines: it must not pass for an empty file.
  std::filesystem::create_directory(dir / "720-folder.ruf");
  for (const char* name : {"missing.ruf", "720-folder.ruf"}) {
    SCOPED_TRACE(name);
    host.messageBoxes.clear();
    host.chosenFile = dir / name;
    w.OnUpdateRadio();
    EXPECT_EQ(host.messageBoxes, std::vector<std::string>{"Unable to open file"});
    EXPECT_NE(host.logView.find(" Flash Rom Update File - "), std::string::npos);
    EXPECT_EQ(host.logView.find("total data lines"), std::string::npos);
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_TRUE(serial.writes.empty());
    EXPECT_FALSE(host.TimerPeriod(kVersionReplyTimerId));
  }
}

TEST_F(OperationStartTest, EthernetWithoutSocketStopsAfterTheCount) {
  w.commSettings.useSerial = 0;
  w.commSettings.useEthernet = 1;
  udp.createError = 98;
  ChooseFile("720-x.ruf", kRecord);
  w.OnUpdateRadio();
  EXPECT_NE(host.logView.find(" 1 total data lines in file.\r\n"), std::string::npos);
  EXPECT_TRUE(udp.datagrams.empty());
  EXPECT_FALSE(host.TimerPeriod(kVersionReplyTimerId));
  EXPECT_FALSE(std::filesystem::exists(dir / "comms.txt"));
}

}  // namespace
