// One step of the transmission: which command each line of the file becomes,
// in each mode, and what the step answers its caller.

#include <gtest/gtest.h>

#include "support/engine_fixture.h"

namespace {

using enum LineResult;

constexpr const char* kDataB = "42 03 00 10 00 01 02 03 E7 0D";
constexpr const char* kExtAddr = "41 02 00 00 02 F0 00 0C 0D";
constexpr const char* kUnlock = "55 4E 4C 4F 43 4B 42 4F 4F 54 0D";

// Starts an operation on the file in the mode given and forgets the version
// query, so that the next command sent is the file's.
void StartOn(EngineFixture& f, std::int32_t mode, std::string_view file) {
  f.ChooseFile("720-lines.ruf", file);
  if (mode == kModeProgram) f.w.OnUpdateRadio();
  if (mode == kModeVerify) f.w.OnVerifyProgram();
  if (mode == kModeTest) f.w.OnTestMode();
  ASSERT_EQ(f.TakeSent(), std::vector<std::string>{"3F 56 0D"}) << f.host.logView;
}

struct LineProcessingTest : ::testing::Test, EngineFixture {
  void Start(std::int32_t mode, std::string_view file) { StartOn(*this, mode, file); }
};

struct Step {
  bool resend;  // the line is asked for again (a mismatch or a time-out)
  LineResult result;
  std::vector<std::string> sent;
};

struct LineCase {
  const char* name;
  std::int32_t mode;
  std::int32_t personality;
  const char* file;
  std::vector<Step> steps;
  std::uint32_t linesProcessed;
  int expectedChecksum;  // -1: not looked at
};

TEST_F(LineProcessingTest, CommandTable) {
  const LineCase cases[] = {
      {"data record, program", kModeProgram, 0, ":03001000010203E7\r\n", {{false, Wait, {kDataB}}}, 1, 0xE7},
      {"data record, verify", kModeVerify, 0, ":03001000010203E7\r\n",
       {{false, Wait, {"56 03 00 10 00 01 02 03 E7 0D"}}}, 1, 0xE7},
      {"data record, test", kModeTest, 0, ":03001000010203E7\r\n",
       {{false, Wait, {"99 03 00 10 00 01 02 03 E7 0D"}}}, 1, 0xE7},
      {"end-of-file record: counted, not sent", kModeProgram, 0, ":00000001FF\r\n", {{false, Next, {}}}, 1, -1},
      {"extended address: first sent, same again skipped, sent again after a repeat", kModeProgram, 0,
       ":02000002F0000C\r\n:02000002F0000C\r\n:03001000010203E7\r\n:02000002F0000C\r\n",
       {{false, Wait, {kExtAddr}},
        {false, Next, {}},
        {false, Wait, {kDataB}},
        {true, Wait, {kDataB}},
        {false, Wait, {kExtAddr}}},
       4, 0x0C},
      {"extended address: a repeat of the address record itself", kModeProgram, 0,
       ":02000002F0000C\r\n", {{false, Wait, {kExtAddr}}, {true, Wait, {kExtAddr}}}, 1, 0x0C},
      {"extended address equal to the start value counts as sent", kModeProgram, 0, ":020000025AA5FD\r\n",
       {{false, Next, {}}}, 1, -1},
      {"slot 3: no extended address, E names the slot", kModeProgram, 3, ":02000002F0000C\r\n#E010203\r\n",
       {{false, Next, {}}, {false, Wait, {"45 03 00 00 FD 0D"}}}, 2, -1},
      {"E and G, program", kModeProgram, 0, "#E010203\r\n#G00010203\r\n#G05010203\r\n",
       {{false, Wait, {"45 01 02 03 FA 0D"}},
        {false, Wait, {"47 00 01 02 03 F9 0D"}},
        {false, Wait, {"47 05 01 02 03 F9 0D"}}},  // the first byte is not in the sum
       3, -1},
      {"E and G, test", kModeTest, 0, "#E010203\r\n#G00010203\r\n",
       {{false, Wait, {"45 01 02 03 FA 0D"}}, {false, Wait, {"47 00 01 02 03 F9 0D"}}}, 2, -1},
      {"E counted and G not, neither sent, verify", kModeVerify, 0, "#E010203\r\n#G00010203\r\n",
       {{false, Next, {}}, {false, Next, {}}}, 1, -1},
      {"raw command: the text with its line end, then a carriage return", kModeVerify, 0, "#>AB\r\n",
       {{false, Next, {"41 42 0D 0A", "0D"}}}, 0, -1},
      {"unlock, program: nine characters compared", kModeProgram, 0,
       ":03001000010203E7\r\n#UNLOCKBOOT\r\n#UNLOCKBOOX\r\n#UNLOCK\r\n",
       {{false, Wait, {kDataB}}, {false, Next, {kUnlock}}, {false, Next, {kUnlock}}, {false, Next, {}}}, 1, 0},
      {"unlock, verify: never sent", kModeVerify, 0, "#UNLOCKBOOT\r\n", {{false, Next, {}}}, 0, -1},
      {"S3 record", kModeProgram, 0, "S30800001000AABBCCB6\r\n",
       {{false, Wait, {"53 08 00 00 10 00 AA BB CC B6 0D"}}}, 1, 0xB6},
      {"S9 is sent and ends the file", kModeProgram, 0, "S9030000FC\r\nS30800001000AABBCCB6\r\n",
       {{false, Wait, {"53 03 00 00 FC 0D"}}, {false, EndOfFile, {}}}, 1, 0xFC},
      {"S0 and S7 skipped uncounted, S1 counted not sent", kModeProgram, 0,
       "S00600004844521B\r\nS1050010AABB85\r\nS70500000000FA\r\n",
       {{false, Next, {}}, {false, Next, {}}, {false, Next, {}}, {false, EndOfFile, {}}}, 1, -1},
      {"unrecognised and blank lines are passed over", kModeProgram, 0,
       ":03001000010203E7\r\n\r\n\n#Q junk\r\nX\r\n :03001000010203E7\r\n",
       {{false, Wait, {kDataB}},
        {false, Next, {}},
        {false, Next, {}},
        {false, Next, {}},
        {false, Next, {}},
        {false, Next, {}},
        {false, EndOfFile, {}}},
       1, 0xE7},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    EngineFixture f;  // a fresh program: extAddrSent lasts as long as the program
    StartOn(f, c.mode, c.file);
    if (HasFatalFailure()) return;
    f.w.updateSession.personality = c.personality;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "step " << i + 1);
      if (c.steps[i].resend) f.w.updateSession.resendLine = 1;
      EXPECT_EQ(f.w.ProcessLine(), c.steps[i].result);
      EXPECT_EQ(f.TakeSent(), c.steps[i].sent);
    }
    EXPECT_EQ(f.w.updateSession.linesProcessed, c.linesProcessed);
    if (c.expectedChecksum >= 0) {
      EXPECT_EQ(f.w.updateSession.expectedChecksum, c.expectedChecksum);
    }
  }
}

TEST_F(LineProcessingTest, EraseCommandGetsFortySecondsWhenErrorsAreIgnored) {
  w.commSettings.ignoreErrors = 1;
  Start(kModeProgram, "#E010203\r\n#G00010203\r\n:03001000010203E7\r\n");
  w.ProcessLine();
  EXPECT_EQ(host.TimerPeriod(kResponseTimerId), 40000u);
  w.ProcessLine();
  EXPECT_EQ(host.TimerPeriod(kResponseTimerId), 10000u);
  w.ProcessLine();
  EXPECT_EQ(host.TimerPeriod(kResponseTimerId), 10000u);
}

TEST_F(LineProcessingTest, RepeatOfTheStartCommandReadsNoLine) {
  Start(kModeProgram, ":03001000010203E7\r\n");
  w.updateSession.repeatStartCommand = 1;
  w.updateSession.resendLine = 1;
  EXPECT_EQ(w.ProcessLine(), Wait);
  EXPECT_EQ(TakeSent(), std::vector<std::string>{"5A 5A 0D"});
  EXPECT_EQ(w.ProcessLine(), Wait);
  EXPECT_EQ(TakeSent(), std::vector<std::string>{kDataB});
}

TEST_F(LineProcessingTest, HeaderLinesGoToTheLog) {
  Start(kModeProgram, ";built 2024\r\n#M Merrow 720\r\n#V100Format 2\r\n");
  const std::size_t before = host.logView.size();
  EXPECT_EQ(w.ContinueProcessing(), EndOfFile);
  EXPECT_EQ(host.logView.substr(before, host.logView.find(" End Of Code") - before),
            " built 2024\r\n"
            " Radio Update File for  Merrow 720\r\n\r\n"
            " Flash Rom Update File Format Version Format 2\r\n\r\n");
  EXPECT_TRUE(TakeSent().empty());
}

// Every line while few are done, then every tenth; the count shown excludes
// the line in hand.
TEST_F(LineProcessingTest, ProgressText) {
  std::string comments;
  for (int i = 0; i < 8; ++i) comments += ";\n";
  Start(kModeProgram, comments);
  w.updateSession.totalLines = 300;
  const struct {
    std::uint32_t done;
    bool shown;
  } cases[] = {{0, true}, {50, true}, {51, false}, {59, false}, {60, true}, {61, false}, {70, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.done);
    host.panes[0] = "untouched";
    w.updateSession.linesProcessed = c.done;
    EXPECT_EQ(w.ProcessLine(), Next);
    EXPECT_EQ(host.panes[0], c.shown ? std::to_string(c.done) + " of 300 Lines Processed" : "untouched");
  }
}

TEST_F(LineProcessingTest, MismatchesResendTheRecordWhichIsCountedOnce) {
  Start(kModeProgram, ":03001000010203E7\r\n");
  PassIdentification();
  EXPECT_EQ(TakeSent(), (std::vector<std::string>{"5A 5A 0D", kDataB}));
  for (int i = 0; i < 3; ++i) Reply(":E8\r");
  Reply(":E7\r");
  EXPECT_EQ(TakeSent(), (std::vector<std::string>{kDataB, kDataB, kDataB}));
  EXPECT_EQ(w.updateSession.linesProcessed, 1u);
  EXPECT_EQ(w.updateSession.checksumErrors, 0);
  EXPECT_EQ(host.dialogs, std::vector<int>{kDialogUpdateDone});
}

// A blank line between two records must not stall a healthy update: the next
// record follows the accepted reply at once, with no time-out.
TEST_F(LineProcessingTest, BlankLineDoesNotStallAnUpdate) {
  Start(kModeProgram, ":03001000010203E7\r\n\r\n:03001000010203E7\r\n");
  PassIdentification();
  EXPECT_EQ(TakeSent(), (std::vector<std::string>{"5A 5A 0D", kDataB}));
  Reply(":E7\r");
  EXPECT_EQ(TakeSent(), std::vector<std::string>{kDataB});
  Reply(":E7\r");
  EXPECT_EQ(host.dialogs, std::vector<int>{kDialogUpdateDone});
  EXPECT_EQ(host.NowMs(), 0);
}

// A time-out before the radio has answered the version query replays the
// empty saved line: nothing is sent (least of all the file's first record to
// a radio not yet identified), and the operation still waits.
TEST_F(LineProcessingTest, RepeatBeforeAnyLineWasReadSendsNothingAndWaits) {
  Start(kModeProgram, ":03001000010203E7\r\n");
  host.Advance(5000);  // the response timer of "?V\r" expires first
  EXPECT_EQ(w.updateSession.timeoutRetries, 1);
  EXPECT_TRUE(TakeSent().empty());
  EXPECT_EQ(w.updateSession.linesProcessed, 0u);
  PassIdentification();
  EXPECT_EQ(TakeSent(), (std::vector<std::string>{"5A 5A 0D", kDataB}));
}

}  // namespace
