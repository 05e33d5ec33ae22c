// Every command: its frame on each interface, its trace line in "comms.txt"
// and the response timer it arms.

#include <gtest/gtest.h>

#include "support/engine_fixture.h"

namespace {

struct CommandSendTest : ::testing::Test, EngineFixture {};

// "comms.txt" must match what a text-mode file of the Windows program held:
// every "\n" becomes CR LF, so a received-data line (its text ends in "\r")
// ends CR CR LF. The test host's clock reads 13:05:09.042 UTC at the start.
TEST_F(CommandSendTest, TrafficLogLinesAreByteForByte) {
  w.OpenSerialLink();
  w.OpenTrafficLog();
  w.SendCommand("?V\r");
  host.Advance(1958);  // before the 5000 ms response timer
  serial.Deliver(":E7\r");
  host.RunPending();  // the receive path writes the event, the parser the data line
  w.commsLog.Close();

  EXPECT_EQ(TrafficLog(),
            "Log File Begin\r\n"
            "13:05:09:0042 R< 3f 56 0d \r\n"
            "13:05:11:0000[[Serial Receive  3A 45 37 0D ]]\r\n"
            "13:05:11:0000 R> 3A 45 37 0D \r\r\n");
}

TEST_F(CommandSendTest, OpeningTheTrafficLogAgainStartsItAnew) {
  w.OpenTrafficLog();
  w.LogEvent("END OF ACTION", "FailureFlag=0 Total Errors=0");
  w.OpenTrafficLog();  // the earlier log is still open: closed, then truncated
  w.commsLog.Close();
  EXPECT_EQ(TrafficLog(), "Log File Begin\r\n");
}

TEST_F(CommandSendTest, DatagramCarriesLow16BitsOfPasscodeHighByteFirst) {
  w.commSettings.useSerial = 0;
  w.commSettings.useEthernet = 1;
  udp.open = true;
  const struct {
    std::int32_t passcode;
    const char* datagram;
  } cases[] = {
      {0, "00 00 3F 56 0D"},
      {0x0102, "01 02 3F 56 0D"},
      {0x12345, "23 45 3F 56 0D"},  // above 65535: only the low 16 bits travel
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.passcode);
    udp.datagrams.clear();
    w.commSettings.passcode = c.passcode;
    w.SendCommand("?V\r");
    ASSERT_EQ(udp.datagrams.size(), 1u);
    EXPECT_EQ(Hex(udp.datagrams[0]), c.datagram);
  }
  EXPECT_TRUE(serial.writes.empty());
}

TEST_F(CommandSendTest, BothInterfacesOnSendSerialFirstThenDatagram) {
  w.commSettings.useEthernet = 1;  // the settings never allow it; the send copes
  serial.open = true;
  udp.open = true;
  std::vector<std::string> order;
  serial.onWrite = [&](const Bytes& b) { order.push_back("serial " + Hex(b)); };
  udp.onSend = [&](const Bytes& b) { order.push_back("udp " + Hex(b)); };
  w.SendCommand("?V\r");
  EXPECT_EQ(order, (std::vector<std::string>{"serial 3F 56 0D", "udp 00 00 3F 56 0D"}));
}

TEST_F(CommandSendTest, EmptyCommandTracesEmptyTextArmsTimerAndSendsBarePasscode) {
  w.commSettings.useEthernet = 1;
  w.commSettings.passcode = 0x0A0B;
  serial.open = true;
  udp.open = true;
  w.OpenTrafficLog();
  w.SendCommand(std::span<const std::uint8_t>{});
  w.commsLog.Close();

  EXPECT_EQ(TrafficLog(), "Log File Begin\r\n13:05:09:0042 R< \r\n");
  EXPECT_EQ(host.TimerPeriod(kResponseTimerId), 5000u);
  for (const Bytes& b : serial.writes) EXPECT_TRUE(b.empty()) << "serial got " << Hex(b);
  ASSERT_EQ(udp.datagrams.size(), 1u);
  EXPECT_EQ(Hex(udp.datagrams[0]), "0A 0B");
}

// Checked errors give the radio 5 seconds for every command; with errors
// ignored the period of the step (10 s, or 40 s for an E command) stays.
TEST_F(CommandSendTest, ResponseTimerPeriod) {
  const struct {
    std::int32_t ignoreErrors;
    std::int32_t stepTimeoutMs;
    unsigned period;
  } cases[] = {
      {0, 40000, 5000},
      {0, 10000, 5000},
      {1, 40000, 40000},
      {1, 10000, 10000},
      {2, 40000, 40000},  // any non-zero value keeps the step's period
  };
  serial.open = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "ignoreErrors " << c.ignoreErrors << ", step " << c.stepTimeoutMs);
    w.commSettings.ignoreErrors = c.ignoreErrors;
    w.updateSession.responseTimeoutMs = c.stepTimeoutMs;
    w.SendCommand("E\r");
    EXPECT_EQ(host.TimerPeriod(kResponseTimerId), c.period);
    EXPECT_EQ(w.updateSession.responseTimeoutMs, static_cast<std::int32_t>(c.period));
  }
}

TEST_F(CommandSendTest, ClosedTrafficLogWritesNothingButTheCommandStillGoesOut) {
  serial.open = true;
  w.SendCommand("?V\r");
  w.LogReceived("3A 45 37 \r");
  w.LogEvent("End of Processing", "x");
  EXPECT_FALSE(std::filesystem::exists(dir / "comms.txt"));
  EXPECT_EQ(host.TimerPeriod(kResponseTimerId), 5000u);
  EXPECT_EQ(TakeSent(), std::vector<std::string>{"3F 56 0D"});
}

TEST_F(CommandSendTest, KillResponseTimerStopsItAndIsHarmlessWhenIdle) {
  serial.open = true;
  w.SendCommand("?V\r");
  w.KillResponseTimer();
  EXPECT_FALSE(host.TimerPeriod(kResponseTimerId));
  w.KillResponseTimer();
  EXPECT_FALSE(host.TimerPeriod(kResponseTimerId));
}

}  // namespace
