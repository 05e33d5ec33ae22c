// Damaged update files: programming never starts on one; verify and test runs
// send what they can and fail; a record cut short is never sent or read past.

#include <gtest/gtest.h>

#include "support/engine_fixture.h"

namespace {

struct DamagedFileTest : ::testing::Test, EngineFixture {};

constexpr const char* kSound = ":03001000010203E7\r\n";

TEST_F(DamagedFileTest, ProgrammingRefusesADamagedFileBeforeOpeningTheLink) {
  const struct {
    const char* name;
    std::string file;
    const char* names;  // what the message must say
  } cases[] = {
      {"data record checksum", std::string(kSound) + "; fine\r\n:03001000010203E8\r\n", "line 3 has a checksum error"},
      {"record longer than its line", std::string(kSound) + ":05001000010203E7\r\n", "line 2"},
      {"checksum would fall on the line end", ":04001000010203E7\r\n", "line 1"},
      {"S1 checksum (never sent, still checked)", "S1050010AABB86\r\n", "line 1 has a checksum error"},
      {"other record type", ":0100000300FC\r\n:0100000400FC\r\n", "line 2 has a checksum error"},
      {"line over 254 characters", ":78" + std::string(296, '0') + "\r\n", "line 1"},
      // A corrupt length that reads as 0 would drop the record unnoticed.
      {"length field not hexadecimal", std::string(kSound) + ":0G001000010203E7\r\n", "line 2"},
      {"S-record count not hexadecimal", "SGG0001000AABBCCB6\r\n", "line 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EngineFixture f;
    f.ChooseFile("720-x.ruf", c.file);
    f.w.OnUpdateRadio();
    EXPECT_EQ(f.host.messageBoxes.size(), 1u);
    if (f.host.messageBoxes.size() != 1) continue;
    const std::string& message = f.host.messageBoxes[0];
    EXPECT_NE(message.find("damaged"), std::string::npos) << message;
    EXPECT_NE(message.find(c.names), std::string::npos) << message;
    EXPECT_NE(message.find("Nothing was sent to the radio"), std::string::npos) << message;
    EXPECT_NE(f.host.logView.find(message), std::string::npos);
    EXPECT_TRUE(f.serial.calls.empty()) << "the link was opened";
    EXPECT_TRUE(f.serial.writes.empty());
    EXPECT_FALSE(std::filesystem::exists(f.dir / "comms.txt"));
    EXPECT_FALSE(f.host.TimerPeriod(kVersionReplyTimerId));
    EXPECT_FALSE(f.w.updateSession.file.IsOpen());
  }
}

TEST_F(DamagedFileTest, ProgrammingStartsOnASoundFile) {
  // An end-of-file record's checksum is never compared; S0 lines are skipped.
  ChooseFile("720-x.ruf", std::string(kSound) + "S0030000FF\r\n:00000001FE\r\n\r\n#Q\r\n");
  w.OnUpdateRadio();
  EXPECT_TRUE(host.messageBoxes.empty()) << host.messageBoxes[0];
  EXPECT_EQ(TakeSent(), std::vector<std::string>{"3F 56 0D"});
}

// Verifying writes no flash, so the damaged record still goes out, with the
// file's own checksum byte, and the run fails.
TEST_F(DamagedFileTest, VerifySendsTheDamagedRecordAndFails) {
  ChooseFile("720-x.ruf", ":03001000010203E8\r\n");
  w.OnVerifyProgram();
  PassIdentification();
  EXPECT_EQ(TakeSent(), (std::vector<std::string>{"3F 56 0D", "5A 5A 0D", "56 03 00 10 00 01 02 03 E8 0D"}));
  EXPECT_EQ(w.updateSession.failureFlag, 1);
  Reply(":E8\r");  // the radio echoes the byte it was sent
  EXPECT_EQ(w.updateSession.checksumErrors, 0);
  EXPECT_EQ(host.dialogs, std::vector<int>{kDialogVerifyFailed});
  EXPECT_NE(TrafficLog().find(" File CheckSum Error Calc Checksum E7 Line Checksum E8\r\n"
                              "\r\n"
                              ":03001000010203E8\r\r\n"
                              "\r\n"
                              "13:05:09:0042 R< 56 03 00 10 00 01 02 03 e8 0d \r\n"),
            std::string::npos)
      << TrafficLog();
}

// A record that claims more than its line holds has no bytes to send: it is
// a file error, and the transmission goes on with the next line.
TEST_F(DamagedFileTest, RecordCutShortIsNotSent) {
  const char* lines[] = {":05001000010203E7\r\n", ":04001000010203E7\r\n", "S30F00001000AABBCCB6\r\n",
                         "S9FF\r\n"};
  for (const char* line : lines) {
    SCOPED_TRACE(testing::PrintToString(std::string(line)));
    EngineFixture f;
    f.ChooseFile("720-x.ruf", std::string(line) + kSound);
    f.w.OnTestMode();
    f.TakeSent();
    EXPECT_EQ(f.w.ProcessLine(), LineResult::Next);
    EXPECT_TRUE(f.TakeSent().empty());
    EXPECT_EQ(f.w.updateSession.failureFlag, 1);
    EXPECT_EQ(f.w.updateSession.linesProcessed, 1u);
    const std::string log = f.TrafficLog();
    EXPECT_NE(log.find(" File CheckSum Error Calc Checksum "), std::string::npos) << log;
    std::string asLogged(line);  // the log's text mode turns its "\n" into CR LF
    asLogged.insert(asLogged.size() - 1, "\r");
    EXPECT_NE(log.find("\r\n\r\n" + asLogged + "\r\n"), std::string::npos) << log;
  }
}

}  // namespace
