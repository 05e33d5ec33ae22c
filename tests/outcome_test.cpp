// The end of an operation: the summary in the log and the traffic log, the
// close of the link and the file, and the one outcome dialog.

#include <gtest/gtest.h>

#include "support/engine_fixture.h"
#include "support/text_count.h"

namespace {

constexpr const char* kDataB = "42 03 00 10 00 01 02 03 E7 0D";

struct OutcomeTest : ::testing::Test, EngineFixture {};

TEST_F(OutcomeTest, CleanProgramRunEndsWithSummaryEventsAndDialog117) {
  ChooseFile("720-x.ruf", ":03001000010203E7\r\n:00000001FF\r\n");
  w.OnUpdateRadio();
  PassIdentification();
  ASSERT_EQ(TakeSent(), (std::vector<std::string>{"3F 56 0D", "5A 5A 0D", kDataB}));
  host.Advance(3000);
  Reply(":E7\r");

  const std::string tail =
      " End Of Code Processing, Please Standby!\r\n"
      "2 Lines Processed in 3 Seconds\r\n"
      " Close Communications Port\r\n"
      " Close File\r\n";
  ASSERT_GE(host.logView.size(), tail.size());
  EXPECT_EQ(host.logView.substr(host.logView.size() - tail.size()), tail);
  const std::string events =
      "13:05:12:0042[[End of Processing 0 Checksum Errors Encountered. Total time 3 Seconds]]\r\n"
      "13:05:12:0042[[END OF ACTION FailureFlag=0 Total Errors=0]]\r\n";
  const std::string log = TrafficLog();
  ASSERT_GE(log.size(), events.size());
  EXPECT_EQ(log.substr(log.size() - events.size()), events);

  EXPECT_EQ(host.dialogs, std::vector<int>{kDialogUpdateDone});
  EXPECT_EQ(host.panes[0], "");
  EXPECT_EQ(host.panes[2], "Program Flash");
  EXPECT_FALSE(host.TimerPeriod(kResponseTimerId));
  EXPECT_FALSE(w.commsLog.IsOpen());
  EXPECT_FALSE(w.updateSession.file.IsOpen());
  EXPECT_TRUE(serial.open);  // the serial port stays open until the next operation
  EXPECT_TRUE(TakeSent().empty());
}

TEST_F(OutcomeTest, VerifyWithExhaustedRetriesFailsWith121) {
  ChooseFile("720-x.ruf", ":03001000010203E7\r\n");
  w.OnVerifyProgram();
  PassIdentification();
  for (int i = 0; i < 4; ++i) Reply(":00\r");
  EXPECT_EQ(CountOf(TrafficLog(), "R< 56 03 00 10 00 01 02 03 e7 0d"), 4);
  EXPECT_NE(TrafficLog().find("[[END OF ACTION FailureFlag=1 Total Errors=1]]\r\n"), std::string::npos);
  EXPECT_EQ(host.dialogs, std::vector<int>{kDialogVerifyFailed});
}

TEST_F(OutcomeTest, DialogByModeAndResult) {
  const struct {
    std::int32_t ignoreErrors, mode, failureFlag, checksumErrors;
    int dialog;  // 0: none
  } cases[] = {
      {0, kModeProgram, 0, 0, kDialogUpdateDone},
      {0, kModeProgram, 1, 0, kDialogUpdateFailed},
      {0, kModeProgram, 0, 1, kDialogUpdateFailed},
      {0, kModeVerify, 0, 0, kDialogVerifyDone},
      {0, kModeVerify, 1, 0, kDialogVerifyFailed},
      {0, kModeVerify, 0, 2, kDialogVerifyFailed},
      {0, kModeTest, 0, 0, 0},
      {0, kModeTest, 1, 1, 0},
      {1, kModeProgram, 1, 1, kDialogNoErrorCheck},
      {1, kModeVerify, 0, 0, kDialogNoErrorCheck},
      {1, kModeTest, 0, 0, kDialogNoErrorCheck},
      {2, kModeProgram, 0, 0, kDialogUpdateDone},  // only exactly 1 means "not judged"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "ignoreErrors " << c.ignoreErrors << " mode " << c.mode << " failureFlag "
                                    << c.failureFlag << " checksumErrors " << c.checksumErrors);
    EngineFixture f;
    f.w.commSettings.ignoreErrors = c.ignoreErrors;
    UpdateSession& s = f.w.updateSession;
    s.mode = c.mode, s.failureFlag = c.failureFlag, s.checksumErrors = c.checksumErrors;
    s.startTime = f.host.WallSeconds();
    f.w.EndOfProcessing();
    EXPECT_EQ(f.host.dialogs, c.dialog ? std::vector<int>{c.dialog} : std::vector<int>{});
    EXPECT_EQ(s.outcomeShowing, 0);
    EXPECT_NE(f.host.logView.find("0 Lines Processed in 0 Seconds\r\n"), std::string::npos);
  }
}

TEST_F(OutcomeTest, TestModeShowsNothingAndLeavesTheNextOutcomeFree) {
  w.updateSession.mode = kModeTest;
  w.EndOfProcessing();
  w.updateSession.mode = kModeProgram;
  w.EndOfProcessing();
  EXPECT_EQ(host.dialogs, std::vector<int>{kDialogUpdateDone});
}

// A reply or expiry handled while the outcome dialog is open ends the
// operation once more: the summary is written again, no second dialog opens.
TEST_F(OutcomeTest, SecondEndWhileTheDialogIsOpen) {
  const struct {
    const char* name;
    void (*again)(CMainWindow&);
    int endOfCodeLines;
  } cases[] = {
      {"end of processing", [](CMainWindow& w) { w.EndOfProcessing(); }, 1},
      {"continue processing", [](CMainWindow& w) { EXPECT_EQ(w.ContinueProcessing(), LineResult::EndOfFile); }, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EngineFixture f;
    f.ChooseFile("720-x.ruf", ":03001000010203E7\r\n");
    f.w.OnUpdateRadio();
    f.PassIdentification();
    int opened = 0;
    f.host.onDialog = [&](int id) {
      if (++opened == 1) c.again(f.w);
      EXPECT_EQ(id, kDialogUpdateDone);
      return 0;
    };
    f.Reply(":E7\r");
    EXPECT_EQ(f.host.dialogs, std::vector<int>{kDialogUpdateDone});
    EXPECT_EQ(CountOf(f.host.logView, "1 Lines Processed in 0 Seconds\r\n"), 2);
    EXPECT_EQ(CountOf(f.host.logView, " End Of Code Processing, Please Standby!\r\n"), c.endOfCodeLines);
    EXPECT_EQ(f.w.updateSession.outcomeShowing, 0);
  }
}

TEST_F(OutcomeTest, CommunicationFailureBeepsAndShows113) {
  host.panes[0] = "7 of 9 Lines Processed";
  host.onDialog = [&](int) {
    EXPECT_EQ(host.panes[0], "");
    host.panes[0] = "written meanwhile";
    return 0;
  };
  w.ShowCommFailure();
  EXPECT_EQ(host.dialogs, std::vector<int>{kDialogCommFailure});
  EXPECT_EQ(host.beeps, 1);
  EXPECT_EQ(host.panes[0], "");
}

}  // namespace
