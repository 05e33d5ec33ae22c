// From bytes on the line (or a datagram) to one reply for the parser.

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/protocol_rig.h"
#include "support/text_count.h"

namespace {

std::string ReceiveEvent(std::string_view hex) { return "[[Serial Receive  " + std::string(hex) + "]]"; }

TEST(ReceivePath, ReplyInOnePieceIsTracedAndParsedOnce) {
  ProtocolRig r;
  r.Start("720-x.ruf", kTwoRecords);
  r.Reply("VER 1234 720\r");
  r.Reply("READY\r");
  const std::string trace = r.TrafficLog();
  EXPECT_EQ(CountOf(trace, ReceiveEvent("52 45 41 44 59 0D ")), 1) << trace;
  EXPECT_EQ(CountOf(trace, ProtocolRig::ReceivedLine("52 45 41 44 59 0D ")), 1);
  ASSERT_EQ(r.SentCount(), 3u);
  EXPECT_EQ(r.Sent(2), kRecord1Command);
  EXPECT_EQ(r.serial.incoming.size(), 0u);
}

TEST(ReceivePath, TwoQueuedRepliesAreReadAsOne) {
  ProtocolRig r;
  r.StartFirstRecord();
  const std::size_t sent = r.SentCount();
  r.serial.Deliver(":E7\r");
  r.serial.Deliver(":CE\r");
  r.host.RunPending();

  // The first notification takes both; the reply is judged by its start. The
  // second finds nothing and hands over an empty reply.
  EXPECT_EQ(r.SentCount(), sent + 1);
  EXPECT_EQ(r.LastSent(), kRecord2Command);
  const std::string trace = r.TrafficLog();
  EXPECT_EQ(CountOf(trace, ReceiveEvent("3A 45 37 0D 3A 43 45 0D ")), 1) << trace;
  EXPECT_EQ(CountOf(trace, ReceiveEvent("")), 1);
  EXPECT_EQ(CountOf(trace, "I didn't understand the response"), 1);
  EXPECT_TRUE(r.host.dialogs.empty());
}

TEST(ReceivePath, OneReadTakesAtMost128BytesAndTheRestIsPurged) {
  ProtocolRig r;
  r.StartFirstRecord();
  const int purges = r.serial.purges;
  r.Reply("READY" + std::string(194, '.') + "\r");  // 200 bytes

  std::string hex = "52 45 41 44 59 ";
  for (int i = 0; i < 123; ++i) hex += "2E ";
  ASSERT_EQ(hex.size(), 384u);
  const std::string trace = r.TrafficLog();
  EXPECT_EQ(CountOf(trace, ReceiveEvent(hex)), 1);
  EXPECT_EQ(CountOf(trace, ProtocolRig::ReceivedLine(hex)), 1);
  EXPECT_TRUE(r.serial.incoming.empty());
  EXPECT_EQ(r.serial.purges, purges + 1);
  EXPECT_EQ(r.LastSent(), kRecord2Command);
}

TEST(ReceivePath, LineErrorAloneIsDropped) {
  ProtocolRig r;
  r.Start("720-x.ruf", kTwoRecords);
  const int purges = r.serial.purges;
  r.serial.incoming = ToBytes("VER 1234 720\r");
  r.host.PostNotify(r.w.serialNotifyMessage, kCeFrame << 16 | kEvErr, 0);
  r.host.RunPending();
  EXPECT_TRUE(r.host.TimerPeriod(kVersionReplyTimerId).has_value());
  EXPECT_EQ(r.serial.incoming.size(), 13u);
  EXPECT_EQ(r.serial.purges, purges);
  EXPECT_EQ(r.TrafficLog().find("Serial Receive"), std::string::npos);
  EXPECT_EQ(r.SentCount(), 1u);

  // With the event character among the events, line errors do not matter.
  r.host.PostNotify(r.w.serialNotifyMessage, kCeFrame << 16 | kEvErr | kEvRxFlag, 0);
  r.host.RunPending();
  EXPECT_FALSE(r.host.TimerPeriod(kVersionReplyTimerId).has_value());
  EXPECT_EQ(r.LastSent(), "ZZ\r");
}

// Over UDP with errors ignored nothing ever answers timer 125 but a reply:
// a healthy run that lasts longer than ten seconds must not be reported as a
// communication failure.
TEST(ReceivePath, DatagramRepliesStopTheVersionTimerToo) {
  ProtocolRig r;
  r.w.commSettings.ignoreErrors = 1;
  r.w.commSettings.useSerial = 0;
  r.w.commSettings.useEthernet = 1;
  r.w.commSettings.passcode = 0x1234;
  std::deque<std::string> unanswered;
  r.udp.onSend = [&](const Bytes& datagram) {
    ASSERT_GE(datagram.size(), 3u);
    EXPECT_EQ(datagram[0], 0x12);
    const std::string command(datagram.begin() + 2, datagram.end());
    // A record is answered with its own checksum, the byte before its CR.
    unanswered.push_back(command == "?V\r" ? "VER 1234 720\r" : Format(":%02X\r", datagram[datagram.size() - 2]));
  };
  r.Start("720-x.ruf",
          ":03001000010203E7\r\n:03002000040506CE\r\n:03003000070809B5\r\n:030040000A0B0C9C\r\n:00000001FF\r\n");
  ASSERT_TRUE(r.w.IsOperationRunning());

  // The radio takes three seconds over every answer.
  while (r.w.IsOperationRunning() && r.host.NowMs() < 60000) {
    r.host.Advance(3000);
    ASSERT_FALSE(unanswered.empty());
    const Bytes reply = ToBytes(unanswered.front());
    unanswered.pop_front();
    r.udp.sink->OnDatagram(reply);
  }
  EXPECT_GT(r.host.NowMs(), 10000);
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogNoErrorCheck});
  EXPECT_EQ(r.udp.datagrams.size(), 5u);  // the query and four records
}

}  // namespace
