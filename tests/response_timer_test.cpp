// Silence of the radio: resends on the response timer, the give-up after the
// retry limit, and the version query that is never answered.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/protocol_rig.h"

namespace {

// Advances five seconds at a time for 40 seconds from the last send and
// expects the same command to go out again at each of the first seven
// expiries, then the failure dialog.
void ExpectSevenResendsThenFailure(ProtocolRig& r, const std::string& command) {
  const std::size_t sent = r.SentCount();
  r.host.Advance(4999);
  EXPECT_EQ(r.SentCount(), sent);
  r.host.Advance(1);
  for (int retry = 1; retry <= 7; ++retry) {
    SCOPED_TRACE("at " + std::to_string(retry * 5) + " s");
    EXPECT_EQ(r.SentCount(), sent + static_cast<std::size_t>(retry));
    EXPECT_EQ(r.LastSent(), command);
    EXPECT_EQ(r.w.updateSession.timeoutRetries, retry);
    EXPECT_TRUE(r.host.dialogs.empty());
    r.host.Advance(5000);
  }
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogCommFailure});
  EXPECT_EQ(r.host.beeps, 1);
  EXPECT_EQ(r.SentCount(), sent + 7);
  EXPECT_FALSE(r.w.IsOperationRunning());

  r.host.Advance(60000);
  EXPECT_EQ(r.SentCount(), sent + 7);
  EXPECT_EQ(r.host.dialogs.size(), 1u);
}

TEST(ResponseTimer, SilentRadioGetsSevenResendsThenTheFailureDialog) {
  ProtocolRig r;
  r.StartFirstRecord();
  ExpectSevenResendsThenFailure(r, kRecord1Command);
  EXPECT_EQ(r.w.updateSession.linesProcessed, 1u);
}

TEST(ResponseTimer, StartCommandOfThe750IsResent) {
  ProtocolRig r;
  r.Start("750-x.ruf", kTwoRecords);
  r.Reply("VER 1234 750\r");
  ASSERT_EQ(r.LastSent(), "ZZ\r");
  ExpectSevenResendsThenFailure(r, "ZZ\r");
  EXPECT_EQ(r.w.updateSession.linesProcessed, 0u);
}

TEST(ResponseTimer, AnsweredStartCommandIsNotResentAgain) {
  ProtocolRig r;
  r.Start("750-x.ruf", kTwoRecords);
  r.Reply("VER 1234 750\r");
  r.host.Advance(5000);
  ASSERT_EQ(r.LastSent(), "ZZ\r");
  r.Reply("READY\r");
  ASSERT_EQ(r.LastSent(), kRecord1Command);
  // From the first answer on, resends are of the record.
  r.host.Advance(5000);
  EXPECT_EQ(r.LastSent(), kRecord1Command);
  r.Reply(":3B\r");
  EXPECT_EQ(r.LastSent(), kRecord1Command);
}

// Before the first line is read there is nothing to resend, but the silence
// must still end in the failure dialog rather than in an operation that
// waits for ever.
TEST(ResponseTimer, UnansweredStartCommandEndsInTheFailureDialog) {
  ProtocolRig r;
  r.Start("720-x.ruf", kTwoRecords);
  r.Reply("VER 1234 720\r");
  ASSERT_EQ(r.LastSent(), "ZZ\r");
  r.host.Advance(35000);
  EXPECT_EQ(r.w.updateSession.timeoutRetries, 7);
  EXPECT_TRUE(r.host.dialogs.empty());
  r.host.Advance(5000);
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogCommFailure});
  EXPECT_FALSE(r.w.IsOperationRunning());
  EXPECT_EQ(r.SentCount(), 2u);
}

// While the user chooses a slot the radio has answered and is waiting for us:
// however long the choice takes, it is no communication failure.
TEST(ResponseTimer, SlowSlotChoiceIsNoSilenceOfTheRadio) {
  ProtocolRig r;
  r.host.onDialog = [&](int id) {
    if (id == kDialogPersonality) r.host.Advance(60000);
    return id == kDialogPersonality ? 2 : 0;
  };
  r.Start("720-x.ruf", kTwoRecords);
  r.Reply("VER-1234 720\r");
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogPersonality});
  EXPECT_EQ(r.LastSent(), "ZZ\r");
  r.Reply("READY\r");
  EXPECT_EQ(r.LastSent(), kRecord1Command);
  EXPECT_TRUE(r.w.IsOperationRunning());
}

TEST(ResponseTimer, AnsweredResendStartsTheCountAgain) {
  ProtocolRig r;
  r.StartFirstRecord();
  r.host.Advance(15000);
  ASSERT_EQ(r.w.updateSession.timeoutRetries, 3);
  r.Reply(":E7\r");
  EXPECT_EQ(r.LastSent(), kRecord2Command);
  EXPECT_EQ(r.w.updateSession.timeoutRetries, 0);

  // The next record has its own seven resends.
  r.host.Advance(35000);
  EXPECT_EQ(r.w.updateSession.timeoutRetries, 7);
  EXPECT_TRUE(r.host.dialogs.empty());
  r.Reply(":CE\r");
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogUpdateDone});
}

TEST(ResponseTimer, IgnoredErrorsMoveOnOneLinePerPeriod) {
  ProtocolRig r;
  r.w.commSettings.ignoreErrors = 1;
  r.Start("720-x.ruf", kTwoRecords);
  r.host.Advance(2000);
  r.Reply("VER 1234 720\r");  // any reply goes on with the first line
  ASSERT_EQ(r.LastSent(), kRecord1Command);

  r.host.Advance(9999);
  EXPECT_EQ(r.SentCount(), 2u);
  r.host.Advance(1);
  EXPECT_EQ(r.LastSent(), kRecord2Command);
  EXPECT_EQ(r.w.updateSession.timeoutRetries, 0);
  r.host.Advance(10000);
  EXPECT_EQ(r.SentCount(), 3u);
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogNoErrorCheck});
  EXPECT_FALSE(r.w.IsOperationRunning());
}

TEST(ResponseTimer, UnansweredVersionQueryStopsTheOperation) {
  ProtocolRig r;
  r.Start("720-x.ruf", kTwoRecords);
  const int purges = r.serial.purges;
  // A reply arriving while the user reads the dialog changes nothing.
  r.host.onDialog = [&](int id) {
    if (id == kDialogCommFailure) r.Reply("READY\r");
    return 0;
  };
  r.host.Advance(9999);
  EXPECT_TRUE(r.host.dialogs.empty());
  r.host.Advance(1);
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogCommFailure});
  EXPECT_EQ(r.host.beeps, 1);
  EXPECT_GT(r.serial.purges, purges);
  EXPECT_FALSE(r.w.IsOperationRunning());
  EXPECT_FALSE(r.host.TimerPeriod(kResponseTimerId).has_value());
  EXPECT_FALSE(r.host.TimerPeriod(kVersionReplyTimerId).has_value());

  r.host.Advance(60000);
  EXPECT_EQ(r.SentCount(), 1u);  // only the version query ever went out
  EXPECT_EQ(r.host.dialogs.size(), 1u);
}

}  // namespace
