// How each reply of the radio steers an operation: on to the next line, the
// same line again, or nothing until the response timer decides.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/protocol_rig.h"
#include "support/text_count.h"

namespace {

TEST(ResponseParser, EchoedChecksumSendsTheNextRecord) {
  // Digits in either case, blanks before them, nothing read past two digits.
  for (const char* reply : {":E7\r", ":e7\r", ": E7\r", ":E70\r"}) {
    SCOPED_TRACE(reply);
    ProtocolRig r;
    r.StartFirstRecord();
    r.Reply(reply);
    EXPECT_EQ(r.LastSent(), kRecord2Command);
    EXPECT_EQ(r.w.receivedChecksum, 0xE7);
    EXPECT_EQ(r.w.updateSession.checksumRetries, 0);
    EXPECT_EQ(r.w.updateSession.failureFlag, 0);
  }
}

TEST(ResponseParser, FourthMismatchGivesTheRecordUpAndFailsTheOperation) {
  ProtocolRig r;
  r.StartFirstRecord();
  const std::size_t firstSend = r.SentCount() - 1;
  for (int retry = 1; retry <= 3; ++retry) {
    r.Reply(":3B\r");
    EXPECT_EQ(r.LastSent(), kRecord1Command) << "mismatch " << retry;
    EXPECT_EQ(r.w.updateSession.checksumRetries, retry);
    EXPECT_EQ(r.w.updateSession.checksumErrors, 0);
  }
  EXPECT_EQ(r.SentCount(), firstSend + 4);
  EXPECT_EQ(r.w.updateSession.linesProcessed, 1u);  // the resends count once

  r.Reply(":3B\r");
  EXPECT_EQ(r.LastSent(), kRecord2Command);
  EXPECT_EQ(r.w.updateSession.checksumRetries, 0);
  EXPECT_EQ(r.w.updateSession.checksumErrors, 1);
  EXPECT_EQ(r.w.updateSession.failureFlag, 1);

  r.Reply(":CE\r");
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogUpdateFailed});
  EXPECT_NE(r.TrafficLog().find("FailureFlag=1 Total Errors=1"), std::string::npos);
}

TEST(ResponseParser, ColonWithoutDigitsConfirmsNothing) {
  // The second record repeats the first, so the checksum the radio reported
  // for the first one equals the one the second awaits.
  const std::string sameRecordTwice = ":03001000010203E7\r\n:03001000010203E7\r\n:00000001FF\r\n";
  for (const char* reply : {":\r", ": \r", ":G7\r"}) {
    SCOPED_TRACE(reply);
    ProtocolRig r;
    r.StartFirstRecord(sameRecordTwice);
    r.Reply(":E7\r");
    ASSERT_EQ(r.w.updateSession.linesProcessed, 2u);
    const std::size_t sent = r.SentCount();

    r.Reply(reply);
    EXPECT_EQ(r.w.updateSession.checksumRetries, 1);
    EXPECT_EQ(r.SentCount(), sent + 1);
    EXPECT_EQ(r.LastSent(), kRecord1Command);
    EXPECT_EQ(r.w.updateSession.linesProcessed, 2u);
    EXPECT_EQ(r.w.receivedChecksum, 0xE7);
    EXPECT_TRUE(r.host.dialogs.empty()) << "the file must not have ended";
  }
}

TEST(ResponseParser, RepliesThatLetTheOperationGoOn) {
  // READY anywhere wins over the first-byte rules; a reply starting with E is
  // the E rule even when it carries a version text for another model.
  for (const char* reply : {"READY\r", "BOOT READY\r", "ZREADY\r", ":3B READY\r", "E\r", "G\r", "A\r",
                            "DSP OK\r", "EVER 1234 740\r"}) {
    SCOPED_TRACE(reply);
    ProtocolRig r;
    r.StartFirstRecord();
    r.Reply(reply);
    EXPECT_EQ(r.LastSent(), kRecord2Command);
    EXPECT_EQ(r.w.updateSession.checksumRetries, 0);
    EXPECT_TRUE(r.host.messageBoxes.empty());
    EXPECT_EQ(r.host.panes[1], "Merrow 720");
  }
}

TEST(ResponseParser, UnacceptedRepliesLeaveTheRecordToTheResponseTimer) {
  struct Case {
    std::string reply;
    std::string hex;
    bool notUnderstood;
  };
  const std::vector<Case> cases{
      {"Z\r", "5A 0D ", false},
      {"S\r", "53 0D ", false},
      {"HELLO\r", "48 45 4C 4C 4F 0D ", true},
      {"", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("reply '" + c.reply + "'");
    ProtocolRig r;
    r.StartFirstRecord();
    const std::size_t sent = r.SentCount();
    r.host.Advance(1000);
    r.Reply(c.reply);
    EXPECT_EQ(r.SentCount(), sent);
    const std::string trace = r.TrafficLog();
    EXPECT_NE(trace.find(ProtocolRig::ReceivedLine(c.hex)), std::string::npos) << trace;
    EXPECT_EQ(CountOf(trace, "[[serial response parser  I didn't understand the response ]]"),
              c.notUnderstood ? 1 : 0);

    // The timer armed by the record's send, not by the reply, decides.
    r.host.Advance(3999);
    EXPECT_EQ(r.SentCount(), sent);
    r.host.Advance(1);
    EXPECT_EQ(r.SentCount(), sent + 1);
    EXPECT_EQ(r.LastSent(), kRecord1Command);
    EXPECT_EQ(r.w.updateSession.timeoutRetries, 1);
  }
}

TEST(ResponseParser, IgnoredErrorsTakeEveryReplyUnexamined) {
  ProtocolRig r;
  r.w.commSettings.ignoreErrors = 1;
  r.Start("720-x.ruf", kTwoRecords);
  r.Reply("VER 1234 740\r");  // another model's radio: not checked

  EXPECT_TRUE(r.host.messageBoxes.empty());
  EXPECT_EQ(r.host.panes[1], "");
  ASSERT_EQ(r.SentCount(), 2u);
  EXPECT_EQ(r.Sent(1), kRecord1Command);  // no start command either
  const std::string trace = r.TrafficLog();
  EXPECT_EQ(trace.find(" R> "), std::string::npos) << trace;
  EXPECT_NE(trace.find("[[Serial Receive  56 45 52"), std::string::npos);
}

TEST(ResponseParser, TestModeTakesEveryReplyUnexamined) {
  ProtocolRig r;
  r.Start("720-x.ruf", kTwoRecords, &CMainWindow::OnTestMode);
  r.Reply("??\r");
  ASSERT_EQ(r.SentCount(), 2u);
  EXPECT_EQ(r.Sent(1), std::string("\x99\x03\x00\x10\x00\x01\x02\x03\xE7\r", 10));
  r.Reply("Z\r");
  EXPECT_EQ(r.LastSent(), std::string("\x99\x03\x00\x20\x00\x04\x05\x06\xCE\r", 10));
  EXPECT_EQ(r.TrafficLog().find(" R> "), std::string::npos);
}

// Once an operation has stopped, whatever the radio still says is recorded
// but moves nothing: a late READY after a refused file must not send that
// file to the radio.
TEST(ResponseParser, NothingOfTheFileGoesOutBeforeTheRadioIsIdentified) {
  // Replies that would let the operation go on, arriving before the version
  // reply (a power-up banner, a stale echo), and a second version reply later.
  for (const char* early : {"READY\r", "DSP 1.0\r", "E\r", ":E7\r", "ERROR VER\r"}) {
    ProtocolRig r;
    r.w.updateSession.expectedChecksum = 0xE7;  // left by an earlier operation
    r.Start("720-x.ruf", kTwoRecords);
    r.Reply(early);
    EXPECT_EQ(r.SentCount(), 1u) << early;  // the version query only
    r.Reply("VER 1234 720\r");
    EXPECT_EQ(r.LastSent(), "ZZ\r") << early;
    r.Reply("READY\r");
    EXPECT_EQ(r.LastSent(), kRecord1Command) << early;
    r.Reply("VER-1234 720\r");  // no new identification, no slot question
    EXPECT_TRUE(r.host.dialogs.empty()) << early;
    EXPECT_EQ(r.LastSent(), kRecord1Command) << early;
  }
}

TEST(StoppedOperation, LateRepliesAndExpiriesSendNothing) {
  struct Case {
    const char* name;
    void (*stop)(ProtocolRig&);
  };
  const std::vector<Case> cases{
      {"model mismatch", [](ProtocolRig& r) { r.Reply("VER 1234 740\r"); }},
      {"cancelled slot",
       [](ProtocolRig& r) {
         r.host.personalityChoice = -1;
         r.Reply("VER-1234 720\r");
       }},
      {"version query unanswered", [](ProtocolRig& r) { r.host.Advance(10000); }},
      {"record unanswered",
       [](ProtocolRig& r) {
         r.Reply("VER 1234 720\r");
         r.Reply("READY\r");
         r.host.Advance(40000);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProtocolRig r;
    r.Start("720-x.ruf", kTwoRecords);
    c.stop(r);
    ASSERT_FALSE(r.w.IsOperationRunning());
    const std::size_t sent = r.SentCount();
    const std::vector<int> dialogs = r.host.dialogs;

    r.Reply("READY\r");
    r.Reply(":E7\r");
    r.host.Advance(60000);
    EXPECT_EQ(r.SentCount(), sent);
    EXPECT_EQ(r.host.dialogs, dialogs);
    EXPECT_FALSE(r.w.IsOperationRunning());
    EXPECT_NE(r.TrafficLog().find(ProtocolRig::ReceivedLine("52 45 41 44 59 0D ")), std::string::npos);
  }
}

TEST(StoppedOperation, ReplyDuringTheOutcomeDialogWritesNoSecondSummary) {
  ProtocolRig r;
  r.StartFirstRecord();
  r.Reply(":E7\r");
  r.host.onDialog = [&](int id) {
    if (id == kDialogUpdateDone) r.Reply("READY\r");
    return 0;
  };
  r.Reply(":CE\r");
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogUpdateDone});
  EXPECT_EQ(CountOf(r.w.logText, "Lines Processed in"), 1);
}

}  // namespace
