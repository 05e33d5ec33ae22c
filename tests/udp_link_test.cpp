// The UDP link on the loopback: the real datagram socket bound to 127.0.0.1,
// the radio a plain socket on 127.0.0.2 with the same port, strangers on other
// loopback addresses. Opening and reusing the link, a port held elsewhere,
// what reaches the parser, receive errors and the close at the end.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comms/udp/radio_socket.h"
#include "engine/main_window.h"
#include "platform/text.h"
#include "support/fake_links.h"
#include "support/loopback_udp.h"
#include "support/temp_files.h"
#include "support/test_host.h"
#include "support/text_count.h"

namespace {

constexpr const char* kStrangerAddress = "127.0.0.3";
constexpr const char* kMovedRadioAddress = "127.0.0.4";
constexpr int kPasscode = 0x1234;
// A guard against a hang, not a measure of speed.
constexpr int kGuardMs = 5000;

// The real socket, counting what the program asks of it.
class CCountingSocket : public IUdpSocket {
 public:
  explicit CCountingSocket(IHost& host) : real_(host) {}
  int Create(int localPort, std::string_view bindAddress) override {
    ++creates;
    return real_.Create(localPort, bindAddress);
  }
  int Connect(std::string_view host, int port) override {
    ++connects;
    return real_.Connect(host, port);
  }
  int Send(std::span<const std::uint8_t> datagram) override { return real_.Send(datagram); }
  void Close() override {
    if (onClose) onClose();
    real_.Close();
  }
  bool IsOpen() const override { return real_.IsOpen(); }
  void SetSink(IDatagramSink* sink) override { real_.SetSink(sink); }

  int creates = 0;
  int connects = 0;
  std::function<void()> onClose;

 private:
  CRadioSocket real_;
};

// Tells the test whenever the log view changes.
class CLogWatchingHost : public CTestHost {
 public:
  void SetLogViewText(std::string_view wholeText) override {
    CTestHost::SetLogViewText(wholeText);
    if (onLog) onLog(wholeText);
  }
  std::function<void(std::string_view)> onLog;
};

// Records what the socket hands on, with the byte after each datagram.
struct RecordingSink : IDatagramSink {
  void OnDatagram(std::span<const std::uint8_t> bytes) override {
    datagrams.emplace_back(bytes.begin(), bytes.end());
    after.push_back(bytes.data()[bytes.size()]);
  }
  void OnReceiveError(int error) override { errors.push_back(error); }
  std::vector<std::string> datagrams;
  std::vector<int> after;
  std::vector<int> errors;
};

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

class UdpLinkTest : public ::testing::Test {
 protected:
  UdpLinkTest() {
    host.Attach(&w);
    host.cwd = dir.path().string();
    // The kernel picks the radio's port; the program's side needs the same
    // port free on its own addresses.
    for (int attempt = 0; attempt < 50 && port == 0; ++attempt) {
      radio = std::make_unique<CPlainSocket>(kRadioAddress, 0);
      if (PortFree(kProgramAddress, radio->Port()) && PortFree(kMovedRadioAddress, radio->Port()))
        port = radio->Port();
    }
    UseLoopbackUdp(w.commSettings, port, kPasscode);
    w.commSettings.ignoreErrors = 0;
    host.chosenFile = dir.Write("720-x.ruf", ":03001000010203E7\r\n:00000001FF\r\n");
  }

  void SetUp() override { ASSERT_NE(port, 0) << "no port free on the loopback addresses"; }

  // The datagram the radio receives next, which must come from the program's
  // bound port.
  std::string RadioReceives() {
    std::string sender;
    const std::optional<Bytes> d = radio->Receive(kGuardMs, &sender);
    if (!d) return "nothing";
    EXPECT_EQ(sender, std::string(kProgramAddress) + ":" + std::to_string(port));
    return std::string(d->begin(), d->end());
  }
  bool RadioReceivedNothing() const { return !radio->Receive(0).has_value(); }
  static std::string Datagram(std::string_view command) { return std::string("\x12\x34") + std::string(command); }

  std::string Trace() const { return ReadFileBytes(dir / "comms.txt"); }
  bool TraceHas(std::string_view text) const { return Trace().find(text) != std::string::npos; }

  CTempDir dir;
  CLogWatchingHost host;
  CFakeSerialLink serial;
  CCountingSocket socket{host};
  CMainWindow w{host, serial, socket};
  std::unique_ptr<CPlainSocket> radio;
  int port = 0;
};

TEST_F(UdpLinkTest, SameSettingsReuseTheSocketUntilACloseThenANewOneIsMade) {
  w.OnUpdateRadio();
  EXPECT_EQ(RadioReceives(), Datagram("?V\r"));
  EXPECT_TRUE(w.udpSocketCreated);
  EXPECT_EQ(w.lastIpAddress, kRadioAddress);
  EXPECT_EQ(w.lastUdpPort, port);

  w.OnUpdateRadio();  // no close in between
  EXPECT_NE(host.logView.find("Using Ethernet Interface \r\n"), std::string::npos);
  EXPECT_EQ(socket.creates, 1);
  EXPECT_EQ(socket.connects, 1);
  EXPECT_EQ(RadioReceives(), Datagram("?V\r"));

  w.CloseConnection();
  w.OnUpdateRadio();
  EXPECT_EQ(socket.creates, 2);
  EXPECT_EQ(socket.connects, 2);
  EXPECT_EQ(RadioReceives(), Datagram("?V\r"));
  EXPECT_TRUE(host.messageBoxes.empty());
}

TEST_F(UdpLinkTest, PortHeldElsewhereStopsTheStartAndTheNextStartTriesAgain) {
  auto holder = std::make_unique<CPlainSocket>(kProgramAddress, port);
  ASSERT_TRUE(holder->IsBound());

  w.OnUpdateRadio();
  EXPECT_EQ(host.messageBoxes, std::vector<std::string>{Format("Socket Create returned error code %d", EADDRINUSE)});
  EXPECT_FALSE(w.udpSocketCreated);
  EXPECT_FALSE(w.IsOperationRunning());
  EXPECT_TRUE(RadioReceivedNothing());
  EXPECT_FALSE(std::filesystem::exists(dir / "comms.txt"));

  holder.reset();  // the user frees the port
  w.OnUpdateRadio();
  EXPECT_EQ(host.messageBoxes.size(), 1u);
  EXPECT_TRUE(w.udpSocketCreated);
  EXPECT_EQ(RadioReceives(), Datagram("?V\r"));
  EXPECT_TRUE(TraceHas(" R< 3f 56 0d \r\n"));
}

TEST_F(UdpLinkTest, OnlyTheRadiosRepliesReachTheParserUnchanged) {
  w.OnUpdateRadio();
  ASSERT_EQ(RadioReceives(), Datagram("?V\r"));

  // Another model's answer from a stranger with the radio's port, and from
  // the radio's address with another port: a mismatch if either got in.
  CPlainSocket stranger(kStrangerAddress, port);
  CPlainSocket otherPort(kRadioAddress, 0);
  stranger.SendTo(kProgramAddress, port, ToBytes("VER 1234 740\r"));
  otherPort.SendTo(kProgramAddress, port, ToBytes("VER 1234 740\r"));
  radio->SendTo(kProgramAddress, port, {});  // an empty datagram is no reply
  radio->SendTo(kProgramAddress, port, ToBytes("VER 1234 720\r"));

  ASSERT_TRUE(host.WaitUntil([&] { return w.updateSession.radioModel != 0; }, kGuardMs));
  EXPECT_EQ(w.updateSession.radioModel, 720);
  EXPECT_EQ(RadioReceives(), Datagram("ZZ\r"));  // the Merrow's start command
  host.RunPending();
  const std::string trace = Trace();
  EXPECT_EQ(CountOf(trace, " R> "), 1) << trace;
  EXPECT_NE(trace.find(" R> 56 45 52 20 31 32 33 34 20 37 32 30 0D \r\r\n"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("understand"), std::string::npos) << trace;
  EXPECT_TRUE(host.messageBoxes.empty());
}

// The socket on its own: what it hands on, and from whom.
TEST_F(UdpLinkTest, SocketHandsOnEachDatagramOnceWholeWithAZeroAfterIt) {
  CRadioSocket bare(host);
  RecordingSink sink;
  bare.SetSink(&sink);
  ASSERT_EQ(bare.Create(port, kProgramAddress), 0);
  ASSERT_EQ(bare.Connect(kRadioAddress, port), 0);

  Bytes full(kMaxDatagramSize);
  for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<std::uint8_t>(i * 7 + 1);
  Bytes oversize = full;
  oversize.push_back(0xAA);
  const struct {
    const char* what;
    Bytes sent;
    std::optional<Bytes> handedOn;
  } cases[] = {
      {"empty", {}, std::nullopt},
      {"bytes in front of the text", {0x12, 0x34, 'R', 'E', 'A', 'D', 'Y', '\r'}, Bytes{0x12, 0x34, 'R', 'E', 'A', 'D', 'Y', '\r'}},
      {"zero bytes inside, no carriage return", {0x00, 0xFF, 0x00, 'Z'}, Bytes{0x00, 0xFF, 0x00, 'Z'}},
      {"largest", full, full},
      {"larger than the buffer", oversize, full},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sink.datagrams.clear();
    sink.after.clear();
    radio->SendTo(kProgramAddress, port, c.sent);
    radio->SendTo(kProgramAddress, port, ToBytes("END\r"));  // marks the end of this case
    ASSERT_TRUE(host.WaitUntil([&] { return !sink.datagrams.empty() && sink.datagrams.back() == "END\r"; },
                               kGuardMs));
    std::vector<std::string> expected;
    if (c.handedOn) expected.emplace_back(c.handedOn->begin(), c.handedOn->end());
    expected.emplace_back("END\r");
    EXPECT_EQ(sink.datagrams, expected);
    EXPECT_EQ(sink.after, std::vector<int>(expected.size(), 0));
  }
  EXPECT_TRUE(sink.errors.empty());
}

// Connecting fixes the peer, and only the peer of the latest connect is heard:
// not a datagram that arrived before the connect, nor one of an earlier peer
// still waiting when the radio's address changed.
TEST_F(UdpLinkTest, SocketHearsOnlyThePeerOfItsLatestConnect) {
  CRadioSocket bare(host);
  RecordingSink sink;
  bare.SetSink(&sink);
  CPlainSocket stranger(kStrangerAddress, 0);
  CPlainSocket moved(kMovedRadioAddress, port);
  ASSERT_TRUE(moved.IsBound());

  ASSERT_EQ(bare.Create(port, kProgramAddress), 0);
  stranger.SendTo(kProgramAddress, port, ToBytes("before any connect\r"));
  host.RunPending();
  stranger.SendTo(kProgramAddress, port, ToBytes("queued before the connect\r"));
  ASSERT_EQ(bare.Connect(kRadioAddress, port), 0);
  stranger.SendTo(kProgramAddress, port, ToBytes("after the connect\r"));
  radio->SendTo(kProgramAddress, port, ToBytes("radio\r"));
  ASSERT_TRUE(host.WaitUntil([&] { return !sink.datagrams.empty(); }, kGuardMs));
  host.RunPending();

  radio->SendTo(kProgramAddress, port, ToBytes("radio, waiting at the reconnect\r"));
  ASSERT_EQ(bare.Connect(kMovedRadioAddress, port), 0);
  moved.SendTo(kProgramAddress, port, ToBytes("moved radio\r"));
  ASSERT_TRUE(host.WaitUntil([&] { return sink.datagrams.back() == "moved radio\r"; }, kGuardMs));
  host.RunPending();

  EXPECT_EQ(sink.datagrams, (std::vector<std::string>{"radio\r", "moved radio\r"}));
}

// An address that is not in dotted form is looked up as a host name.
TEST_F(UdpLinkTest, SocketConnectsToAHostName) {
  CRadioSocket bare(host);
  RecordingSink sink;
  bare.SetSink(&sink);
  CPlainSocket named(kProgramAddress, port);  // where "localhost" leads
  ASSERT_TRUE(named.IsBound());
  ASSERT_EQ(bare.Create(port, kMovedRadioAddress), 0);
  ASSERT_EQ(bare.Connect("localhost", port), 0);

  const Bytes query = ToBytes("\x12\x34?V\r");
  ASSERT_EQ(bare.Send(query), static_cast<int>(query.size()));
  EXPECT_EQ(named.Receive(kGuardMs), query);
  named.SendTo(kMovedRadioAddress, port, ToBytes("VER 1234 720\r"));
  ASSERT_TRUE(host.WaitUntil([&] { return !sink.datagrams.empty(); }, kGuardMs));
  EXPECT_EQ(sink.datagrams, std::vector<std::string>{"VER 1234 720\r"});
}

// A radio switched off answers with an ICMP "port unreachable": silence, which
// the response timer reports, not a socket error.
TEST_F(UdpLinkTest, RefusedDatagramsAreSilenceInTheTrafficLogNotAMessage) {
  const std::string refused = std::strerror(ECONNREFUSED);
  w.OnUpdateRadio();
  ASSERT_EQ(RadioReceives(), Datagram("?V\r"));
  radio->SendTo(kProgramAddress, port, ToBytes("VER 1234 720\r"));
  ASSERT_TRUE(host.WaitUntil([&] { return w.updateSession.radioModel == 720; }, kGuardMs));
  ASSERT_EQ(RadioReceives(), Datagram("ZZ\r"));
  radio->SendTo(kProgramAddress, port, ToBytes("READY\r"));
  ASSERT_TRUE(host.WaitUntil([&] { return w.updateSession.linesProcessed > 0; }, kGuardMs));
  const std::string record = RadioReceives();
  ASSERT_EQ(record.substr(0, 3), Datagram("B"));
  radio.reset();  // switched off: nothing listens at its address any more

  ASSERT_TRUE(host.RunUntil([&] { return !host.dialogs.empty(); }));
  EXPECT_EQ(host.dialogs, std::vector<int>{kDialogCommFailure});
  EXPECT_EQ(w.LastOperationEnd(), OperationEnd::CommFailure);
  EXPECT_TRUE(host.messageBoxes.empty());
  // Each of the seven resends was refused, and each refusal is on record.
  const std::string trace = Trace();
  EXPECT_EQ(CountOf(trace, "[[Socket Receive "), 7) << trace;
  EXPECT_EQ(CountOf(trace, refused), 7) << trace;
}

TEST_F(UdpLinkTest, OtherReceiveErrorsShowOneMessagePerOperation) {
  const std::string message = "Windows Socket Error occurred";
  w.OnUpdateRadio();
  w.OnReceiveError(ECONNREFUSED);
  EXPECT_TRUE(host.messageBoxes.empty());
  w.OnReceiveError(EHOSTUNREACH);
  w.OnReceiveError(ENETUNREACH);
  w.OnReceiveError(EHOSTUNREACH);
  EXPECT_EQ(host.messageBoxes, std::vector<std::string>{message});

  w.OnUpdateRadio();
  w.OnReceiveError(EIO);
  w.OnReceiveError(EIO);
  EXPECT_EQ(host.messageBoxes, (std::vector<std::string>{message, message}));
}

TEST_F(UdpLinkTest, CloseConnectionTakesTheLinkDownInOrder) {
  w.OnUpdateRadio();
  ASSERT_EQ(RadioReceives(), Datagram("?V\r"));
  ASSERT_TRUE(w.commsLog.IsOpen());
  ASSERT_TRUE(w.updateSession.file.IsOpen());
  ASSERT_TRUE(host.TimerPeriod(kResponseTimerId).has_value());

  std::vector<std::string> steps;
  host.onLog = [&](std::string_view all) {
    if (EndsWith(all, " Close Communications Port\r\n")) {
      steps.push_back("port line");
      EXPECT_EQ(w.lastUdpPort, 1);
      EXPECT_EQ(w.lastIpAddress, " ");
      EXPECT_FALSE(w.udpSocketCreated);
      EXPECT_FALSE(w.commsLog.IsOpen());
      EXPECT_FALSE(host.TimerPeriod(kResponseTimerId).has_value());
      EXPECT_TRUE(w.updateSession.file.IsOpen());
    } else if (EndsWith(all, " Close File\r\n")) {
      steps.push_back("file line");
      EXPECT_FALSE(w.updateSession.file.IsOpen());
      EXPECT_TRUE(socket.IsOpen());
    }
  };
  socket.onClose = [&] { steps.push_back("socket"); };
  w.CloseConnection();
  host.onLog = nullptr;

  EXPECT_EQ(steps, (std::vector<std::string>{"port line", "file line", "socket"}));
  EXPECT_TRUE(EndsWith(host.logView, " Close Communications Port\r\n Close File\r\n"));
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_EQ(Trace().find("Close"), std::string::npos);  // log view only
  // The port is free again, and the radio is heard no more.
  radio->SendTo(kProgramAddress, port, ToBytes("VER 1234 720\r"));
  host.RunPending();
  EXPECT_EQ(w.updateSession.radioModel, 0);
  EXPECT_TRUE(PortFree(kProgramAddress, port));
}

}  // namespace
