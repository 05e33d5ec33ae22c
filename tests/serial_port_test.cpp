// CSerialPort on a pseudo-terminal: the test holds the master side (the
// radio's end of the cable), the driver opens the slave. Also the port-name
// resolution and the port list on a made-up sysfs tree.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <string_view>
#include <vector>

#include "comms/serial/port_list.h"
#include "comms/serial/port_names.h"
#include "comms/serial/serial_port.h"
#include "support/pty_pair.h"

namespace fs = std::filesystem;

namespace {

// Real-time bound for something that must happen; reaching it is a failure.
constexpr std::uint32_t kMustHappenMs = 3000;
// A time-out that is expected to run out.
constexpr std::uint32_t kRunsOutMs = 100;
constexpr std::uint8_t kXoff = 0x13;
constexpr std::uint8_t kXon = 0x11;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string ReadAll(CSerialPort& port, std::size_t size, std::uint32_t timeoutMs,
                    std::uint32_t* result = nullptr) {
  std::vector<std::uint8_t> buffer(size);
  std::uint32_t count = 0;
  const std::uint32_t code = port.ReadBytes(buffer, &count, timeoutMs);
  if (result) *result = code;
  return std::string(buffer.begin(), buffer.begin() + count);
}

class SerialPortTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!pty_.IsOpen()) GTEST_SKIP() << "no pseudo-terminal available: " << pty_.Error();
  }
  void Open(std::uint32_t inQueue = 0) {
    ASSERT_EQ(port_.OpenPort(pty_.SlavePath(), inQueue, 0), kErrorSuccess)
        << DescribeSerialError(port_.LastError());
  }

  CPtyPair pty_;
  CSerialPort port_;
};

// ---------------------------------------------------------------- closed port

// Every operation of a closed port is refused with 6, leaves 6 behind, and
// gives nothing back; the queries answer -1 or 0. Closing again is fine.
void ExpectEverythingRefused(CSerialPort& port) {
  struct Operation {
    const char* name;
    std::function<std::uint32_t(CSerialPort&)> call;
  };
  const std::vector<Operation> operations = {
      {"SetLineFormat", [](CSerialPort& p) { return p.SetLineFormat(57600, 8, 0, 0); }},
      {"SetEventCharacter", [](CSerialPort& p) { return p.SetEventCharacter(13, true); }},
      {"SetEventMask", [](CSerialPort& p) { return p.SetEventMask(kEvRxFlag); }},
      {"WaitForEvent", [](CSerialPort& p) { return p.WaitForEvent(kMustHappenMs); }},
      {"SetFlowControl", [](CSerialPort& p) { return p.SetFlowControl(1); }},
      {"SetFlowControl(invalid)", [](CSerialPort& p) { return p.SetFlowControl(3); }},
      {"SetReadMode", [](CSerialPort& p) { return p.SetReadMode(1); }},
      {"PurgeBuffers", [](CSerialPort& p) { return p.PurgeBuffers(); }},
      {"WriteText",
       [](CSerialPort& p) {
         std::uint32_t written = 99;
         const std::uint32_t code = p.WriteText("?V\r", &written, kInfinite);
         EXPECT_EQ(written, 0u);
         return code;
       }},
      {"WriteBytes", [](CSerialPort& p) { return p.WriteBytes(Bytes("x"), nullptr, kInfinite); }},
      {"ReadBytes",
       [](CSerialPort& p) {
         std::uint8_t buffer[8];
         std::uint32_t count = 99;
         const std::uint32_t code = p.ReadBytes(buffer, &count, kMustHappenMs);
         EXPECT_EQ(count, 0u);
         return code;
       }},
  };
  for (const Operation& op : operations) {
    SCOPED_TRACE(op.name);
    ASSERT_EQ(port.ClosePort(), kErrorSuccess);
    ASSERT_EQ(port.LastError(), kErrorSuccess);
    EXPECT_EQ(op.call(port), kErrorInvalidHandle);
    EXPECT_EQ(port.LastError(), kErrorInvalidHandle);
  }

  struct Query {
    const char* name;
    std::function<std::int64_t(CSerialPort&)> call;
    std::int64_t answer;
  };
  const std::vector<Query> queries = {
      {"QueryBaudRate", [](CSerialPort& p) { return p.QueryBaudRate(); }, -1},
      {"QueryDataBits", [](CSerialPort& p) { return p.QueryDataBits(); }, -1},
      {"QueryParity", [](CSerialPort& p) { return p.QueryParity(); }, -1},
      {"QueryStopBits", [](CSerialPort& p) { return p.QueryStopBits(); }, -1},
      {"QueryFlowControl", [](CSerialPort& p) { return p.QueryFlowControl(); }, -1},
      {"QueryEventMask", [](CSerialPort& p) { return p.QueryEventMask(); }, 0},
      {"QueryEventCharacter", [](CSerialPort& p) { return p.QueryEventCharacter(); }, 0},
  };
  for (const Query& query : queries) {
    SCOPED_TRACE(query.name);
    ASSERT_EQ(port.ClosePort(), kErrorSuccess);
    EXPECT_EQ(query.call(port), query.answer);
    EXPECT_EQ(port.LastError(), kErrorInvalidHandle);
  }

  // SetWriteTimeouts reports through its result only.
  EXPECT_FALSE(port.SetWriteTimeouts(1, 1));
  EXPECT_EQ(port.LastError(), kErrorInvalidHandle);
  EXPECT_EQ(port.TakeEvents(), 0u);
  EXPECT_FALSE(port.IsPortOpen());
}

TEST(SerialPortClosed, NeverOpenedPortRefusesEverything) {
  CSerialPort port;
  ExpectEverythingRefused(port);
}

TEST_F(SerialPortTest, ClosedAfterUsePortRefusesEverything) {
  Open();
  ASSERT_EQ(port_.SetEventCharacter(13, true), kErrorSuccess);
  ASSERT_EQ(port_.ClosePort(), kErrorSuccess);
  ExpectEverythingRefused(port_);
}

// ------------------------------------------------------------------- opening

TEST(SerialPortOpen, FailedOpenLeavesThePortClosedWithTheSystemError) {
  struct Case {
    const char* name;
    int error;
  };
  const Case cases[] = {
      {"/dev/flash-update-no-such-port", ENOENT},
      {"flash-update-no-such-port", ENOENT},  // looked up in /dev
      {"", ENOENT},
      {"/dev/null", ENOTTY},  // opens, but is no terminal
      {"/", EISDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSerialPort port;
    EXPECT_EQ(port.OpenPort(c.name, 0, 0), static_cast<std::uint32_t>(c.error));
    EXPECT_EQ(port.LastError(), static_cast<std::uint32_t>(c.error));
    EXPECT_FALSE(port.IsPortOpen());
    EXPECT_EQ(port.PurgeBuffers(), kErrorInvalidHandle);
    // The system's own words reach the user.
    EXPECT_NE(DescribeSerialError(c.error).find(std::strerror(c.error)), std::string::npos);
  }
}

TEST_F(SerialPortTest, OpeningAnOpenPortFailsAndChangesNothing) {
  Open();
  ASSERT_EQ(port_.SetLineFormat(9600, 8, kNoParity, kTwoStopBits), kErrorSuccess);
  ASSERT_EQ(port_.SetEventMask(kEvRxFlag), kErrorSuccess);

  for (const std::string& name : {pty_.SlavePath(), std::string("/dev/null")}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(port_.OpenPort(name, 0, 0), kErrorAlreadyInitialized);
    EXPECT_EQ(port_.LastError(), kErrorAlreadyInitialized);
    EXPECT_TRUE(port_.IsPortOpen());
  }
  EXPECT_EQ(port_.QueryBaudRate(), 9600);
  EXPECT_EQ(port_.QueryStopBits(), kTwoStopBits);
  EXPECT_EQ(port_.QueryEventMask(), kEvRxFlag);
  ASSERT_EQ(port_.WriteText("ok", nullptr, kInfinite), kErrorSuccess);
  EXPECT_EQ(pty_.Read(2), "ok");
}

TEST_F(SerialPortTest, SecondDriverCannotOpenTheSameDevice) {
  Open();
  ASSERT_EQ(port_.SetLineFormat(19200, 8, kNoParity, kOneStopBit), kErrorSuccess);

  CSerialPort second;
  EXPECT_EQ(second.OpenPort(pty_.SlavePath(), 0, 0), static_cast<std::uint32_t>(EBUSY));
  EXPECT_FALSE(second.IsPortOpen());
  // The refused open touched nothing of the first one's line.
  EXPECT_EQ(port_.QueryBaudRate(), 19200);
  ASSERT_EQ(port_.WriteText("first", nullptr, kInfinite), kErrorSuccess);
  EXPECT_EQ(pty_.Read(5), "first");

  // Closing releases the device completely.
  ASSERT_EQ(port_.ClosePort(), kErrorSuccess);
  EXPECT_EQ(second.OpenPort(pty_.SlavePath(), 0, 0), kErrorSuccess);
}

TEST_F(SerialPortTest, OpenLeavesARawLineThatKeepsDtrOnClose) {
  // The line as a terminal program leaves it: cooked, echoing, hanging up on close.
  termios cooked = pty_.SlaveSettings();
  cooked.c_cflag |= HUPCL;
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  cooked.c_iflag |= ICRNL | IXOFF;
  ASSERT_EQ(::tcsetattr(pty_.Master(), TCSANOW, &cooked), 0);

  Open();
  const termios settings = pty_.SlaveSettings();
  EXPECT_FALSE(settings.c_cflag & HUPCL);
  EXPECT_TRUE(settings.c_cflag & CLOCAL);
  EXPECT_TRUE(settings.c_cflag & CREAD);
  EXPECT_FALSE(settings.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(settings.c_iflag & (ICRNL | IXON | IXOFF));
  EXPECT_FALSE(settings.c_oflag & OPOST);
  EXPECT_EQ(port_.QueryDataBits(), 8);
  EXPECT_EQ(port_.QueryParity(), kNoParity);
  EXPECT_EQ(port_.QueryFlowControl(), kFlowNone);
  EXPECT_EQ(port_.QueryEventMask(), kDefaultEventMask);
  EXPECT_EQ(port_.QueryEventCharacter(), 0);
}

TEST_F(SerialPortTest, PortIsExclusiveWhileOpenOnly) {
  // The slave of a pseudo-terminal lives on after the driver closes it, so
  // its exclusive flag has to be taken back explicitly.
  const auto isExclusive = [this] {
    const int observer = ::open(pty_.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (observer < 0) return -errno;
    int exclusive = -1;
    const int result = ::ioctl(observer, TIOCGEXCL, &exclusive);
    ::close(observer);
    return result == 0 ? exclusive : -1000;
  };
  Open();
  const int whileOpen = isExclusive();
  if (whileOpen == -EBUSY) GTEST_SKIP() << "only root can look at an exclusive port";
  EXPECT_EQ(whileOpen, 1);
  ASSERT_EQ(port_.ClosePort(), kErrorSuccess);
  EXPECT_EQ(isExclusive(), 0);
}

// -------------------------------------------------------------- line settings

TEST_F(SerialPortTest, LineFormatIsAppliedRefusedOrRejected) {
  Open();
  enum Outcome { kApplied, kAppliedOrRefusedByDevice, kRejected };
  struct Case {
    std::uint32_t baud;
    int dataBits, parity, stopBits;
    Outcome outcome;
  };
  const Case cases[] = {
      {57600, 8, kNoParity, kOneStopBit, kApplied},
      {9600, 8, kNoParity, kTwoStopBits, kApplied},
      {4000000, 8, kNoParity, kOneStopBit, kApplied},
      {300, 8, kNoParity, kOneStopBit, kApplied},
      // Pseudo-terminals force 8 bits and no parity; a real UART takes these.
      {57600, 7, kEvenParity, kOneStopBit, kAppliedOrRefusedByDevice},
      {57600, 8, kOddParity, kOneStopBit, kAppliedOrRefusedByDevice},
      {57600, 8, kMarkParity, kOneStopBit, kAppliedOrRefusedByDevice},
      {57600, 8, kSpaceParity, kTwoStopBits, kAppliedOrRefusedByDevice},
      {1200, 5, kNoParity, kOne5StopBits, kAppliedOrRefusedByDevice},
      {12345, 8, kNoParity, kOneStopBit, kRejected},
      {57600, 9, kNoParity, kOneStopBit, kRejected},
      {57600, 4, kNoParity, kOneStopBit, kRejected},
      {57600, 8, 5, kOneStopBit, kRejected},
      {57600, 8, kNoParity, kOne5StopBits, kRejected},  // 1.5 needs 5 data bits
      {57600, 5, kNoParity, kTwoStopBits, kRejected},
      {57600, 8, kNoParity, 3, kRejected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.baud << " " << c.dataBits << " parity " << c.parity
                                    << " stop " << c.stopBits);
    ASSERT_EQ(port_.SetLineFormat(19200, 8, kNoParity, kOneStopBit), kErrorSuccess);
    const std::uint32_t code = port_.SetLineFormat(c.baud, c.dataBits, c.parity, c.stopBits);
    EXPECT_EQ(port_.LastError(), code);
    const bool applied = code == kErrorSuccess;
    switch (c.outcome) {
      case kApplied:
        EXPECT_TRUE(applied) << DescribeSerialError(code);
        break;
      case kAppliedOrRefusedByDevice:
        if (!applied) {
          EXPECT_EQ(code, static_cast<std::uint32_t>(ENOTSUP));
        }
        break;
      case kRejected:
        EXPECT_EQ(code, static_cast<std::uint32_t>(EINVAL));
        break;
    }

    if (applied) {
      EXPECT_EQ(port_.QueryBaudRate(), static_cast<std::int32_t>(c.baud));
      EXPECT_EQ(port_.QueryDataBits(), c.dataBits);
      EXPECT_EQ(port_.QueryParity(), c.parity);
      EXPECT_EQ(port_.QueryStopBits(), c.stopBits);
    } else {  // the line is as it was
      EXPECT_EQ(port_.QueryBaudRate(), 19200);
      EXPECT_EQ(port_.QueryDataBits(), 8);
      EXPECT_EQ(port_.QueryParity(), kNoParity);
      EXPECT_EQ(port_.QueryStopBits(), kOneStopBit);
    }
  }
}

TEST_F(SerialPortTest, FlowControlModesSetTheirTermiosFlags) {
  Open();
  struct Case {
    int mode;
    bool rtsCts;
    bool xonXoff;
  };
  const Case cases[] = {
      {kFlowHardware, true, false},
      {kFlowSoftware, false, true},
      {kFlowNone, false, false},
      {kFlowHardware, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(port_.SetFlowControl(c.mode), kErrorSuccess);
    const termios settings = pty_.SlaveSettings();
    EXPECT_EQ((settings.c_cflag & CRTSCTS) != 0, c.rtsCts);
    EXPECT_EQ((settings.c_iflag & IXON) != 0, c.xonXoff);
    EXPECT_EQ((settings.c_iflag & IXOFF) != 0, c.xonXoff);
    EXPECT_EQ(port_.QueryFlowControl(), c.mode);
  }
}

TEST_F(SerialPortTest, UnknownModesAreRejectedAndChangeNothing) {
  Open();
  for (int mode : {kFlowNone, kFlowHardware, kFlowSoftware}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(port_.SetFlowControl(mode), kErrorSuccess);
    const termios before = pty_.SlaveSettings();
    for (int invalid : {3, -1}) {
      EXPECT_EQ(port_.SetFlowControl(invalid), kErrorInvalidArg);
      EXPECT_EQ(port_.LastError(), kErrorInvalidArg);
    }
    const termios after = pty_.SlaveSettings();
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(port_.QueryFlowControl(), mode);
  }

  // A blocking port stays blocking: an empty read runs into its time-out...
  ASSERT_EQ(port_.SetReadMode(kReadBlocking), kErrorSuccess);
  EXPECT_EQ(port_.SetReadMode(2), kErrorInvalidArg);
  EXPECT_EQ(port_.LastError(), kErrorInvalidArg);
  std::uint32_t result = 0;
  EXPECT_EQ(ReadAll(port_, 4, kRunsOutMs, &result), "");
  EXPECT_EQ(result, kErrorTimeout);

  // ...and a non-blocking one returns at once, long before its time-out.
  ASSERT_EQ(port_.SetReadMode(kReadNonBlocking), kErrorSuccess);
  EXPECT_EQ(port_.SetReadMode(-1), kErrorInvalidArg);
  EXPECT_EQ(ReadAll(port_, 4, kMustHappenMs, &result), "");
  EXPECT_EQ(result, kErrorSuccess);
}

// ------------------------------------------------------------ reads and writes

TEST_F(SerialPortTest, ReadModes) {
  struct Case {
    const char* name;
    int mode;
    std::string arriving;
    std::size_t asked;
    std::uint32_t timeoutMs;
    std::uint32_t result;
    std::string delivered;
  };
  const Case cases[] = {
      {"non-blocking, nothing queued: at once, nothing", kReadNonBlocking, "", 16, kMustHappenMs,
       kErrorSuccess, ""},
      {"blocking: waits for the full count", kReadBlocking, "READY\r", 6, kMustHappenMs,
       kErrorSuccess, "READY\r"},
      {"blocking, too few: time-out keeps what came", kReadBlocking, "abc", 8, kRunsOutMs,
       kErrorTimeout, "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(port_.SetReadMode(c.mode), kErrorSuccess);
    pty_.Write(c.arriving);
    std::uint32_t result = 0;
    EXPECT_EQ(ReadAll(port_, c.asked, c.timeoutMs, &result), c.delivered);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(port_.LastError(), c.result);
    ASSERT_EQ(port_.ClosePort(), kErrorSuccess);
  }
}

TEST_F(SerialPortTest, WriteReachesTheOtherEnd) {
  Open();
  struct Case {
    const char* name;
    std::uint32_t multiplierMs, constantMs;
  };
  for (const Case& c : {Case{"no write time-out", 0, 0}, Case{"n + 1 ms", 1, 1}}) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(port_.SetWriteTimeouts(c.multiplierMs, c.constantMs));
    std::uint32_t written = 0;
    ASSERT_EQ(port_.WriteText("?V\r", &written, kInfinite), kErrorSuccess);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(pty_.Read(3), "?V\r");
  }
}

TEST_F(SerialPortTest, WriteHeldBackByFlowControlTimesOutAndIsCancelled) {
  struct Case {
    const char* name;
    std::uint32_t multiplierMs, constantMs, callerTimeoutMs;
  };
  const Case cases[] = {
      {"write time-out n + 1 ms", 1, 1, kInfinite},
      {"caller's time-out", 0, 0, kRunsOutMs},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(port_.SetFlowControl(kFlowSoftware), kErrorSuccess);
    ASSERT_EQ(port_.SetReadMode(kReadBlocking), kErrorSuccess);
    ASSERT_TRUE(port_.SetWriteTimeouts(c.multiplierMs, c.constantMs));

    // XOFF from the other end; the byte after it shows it has been seen.
    pty_.Write(std::string{static_cast<char>(kXoff)} + "x");
    ASSERT_EQ(ReadAll(port_, 1, kMustHappenMs), "x");
    std::uint32_t written = 99;
    EXPECT_EQ(port_.WriteText("held", &written, c.callerTimeoutMs), kErrorTimeout);
    EXPECT_EQ(port_.LastError(), kErrorTimeout);
    EXPECT_EQ(written, 0u);

    pty_.Write(std::string{static_cast<char>(kXon)} + "y");
    ASSERT_EQ(ReadAll(port_, 1, kMustHappenMs), "y");
    ASSERT_EQ(port_.WriteText("go", &written, c.callerTimeoutMs), kErrorSuccess);
    // Only the second write arrives: the timed-out one was cancelled.
    EXPECT_EQ(pty_.Read(2), "go");
    EXPECT_EQ(pty_.Read(4, kRunsOutMs), "");
    ASSERT_EQ(port_.ClosePort(), kErrorSuccess);
  }
}

TEST_F(SerialPortTest, PurgeDropsWhatIsQueued) {
  Open();
  ASSERT_EQ(port_.SetEventMask(kEvRxChar), kErrorSuccess);
  pty_.Write("stale");
  ASSERT_EQ(port_.WaitForEvent(kMustHappenMs), kErrorSuccess);  // now in the driver's queue
  ASSERT_EQ(port_.TakeEvents(), kEvRxChar);

  EXPECT_EQ(port_.PurgeBuffers(), kErrorSuccess);
  std::uint32_t result = 99;
  EXPECT_EQ(ReadAll(port_, 16, kMustHappenMs, &result), "");
  EXPECT_EQ(result, kErrorSuccess);

  pty_.Write("fresh");
  ASSERT_EQ(port_.SetReadMode(kReadBlocking), kErrorSuccess);
  EXPECT_EQ(ReadAll(port_, 5, kMustHappenMs), "fresh");
}

// -------------------------------------------------------------- event waits

TEST_F(SerialPortTest, EventCharacterIsReportedOnlyOnceItIsQueued) {
  Open();
  ASSERT_EQ(port_.SetEventCharacter('\r', true), kErrorSuccess);
  EXPECT_EQ(port_.QueryEventCharacter(), '\r');
  EXPECT_EQ(port_.QueryEventMask(), kDefaultEventMask | kEvRxFlag);

  pty_.Write("VER");
  ASSERT_EQ(port_.WaitForEvent(kMustHappenMs), kErrorSuccess);
  EXPECT_EQ(port_.TakeEvents(), kEvRxChar);
  pty_.Write(" 7\r");
  ASSERT_EQ(port_.WaitForEvent(kMustHappenMs), kErrorSuccess);
  EXPECT_EQ(port_.TakeEvents(), kEvRxChar | kEvRxFlag);
  EXPECT_EQ(ReadAll(port_, 128, kInfinite), "VER 7\r");
}

TEST_F(SerialPortTest, OnlyEventsInTheMaskEndAWait) {
  Open();
  ASSERT_EQ(port_.SetEventCharacter('\r', false), kErrorSuccess);
  ASSERT_EQ(port_.SetEventMask(kEvRxFlag | kEvErr), kErrorSuccess);
  pty_.Write("partial");
  EXPECT_EQ(port_.WaitForEvent(kRunsOutMs), kErrorTimeout);
  pty_.Write("\r");
  ASSERT_EQ(port_.WaitForEvent(kMustHappenMs), kErrorSuccess);
  EXPECT_EQ(port_.TakeEvents(), kEvRxFlag);
  EXPECT_EQ(port_.TakeEvents(), 0u);  // taken means cleared
  EXPECT_EQ(ReadAll(port_, 128, kInfinite), "partial\r");

  // Events are taken through the mask in force when they are taken.
  pty_.Write("\r");
  ASSERT_EQ(port_.WaitForEvent(kMustHappenMs), kErrorSuccess);
  ASSERT_EQ(port_.SetEventMask(kEvErr), kErrorSuccess);
  EXPECT_EQ(port_.TakeEvents(), 0u);
}

TEST_F(SerialPortTest, ChangingTheMaskEndsAPendingWaitWithNoEvents) {
  Open();
  auto wait = std::async(std::launch::async, [this] { return port_.WaitForEvent(kInfinite); });
  // The wait may not have begun yet; changing the mask again catches it then.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMustHappenMs);
  while (wait.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready &&
         std::chrono::steady_clock::now() < giveUp) {
    ASSERT_EQ(port_.SetEventMask(kEvRxFlag), kErrorSuccess);
  }
  if (wait.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    // Unblock the wait so the test can end, then fail.
    pty_.CloseMaster();
    FAIL() << "changing the mask did not end the pending wait";
  }
  EXPECT_EQ(wait.get(), kErrorSuccess);
  EXPECT_EQ(port_.TakeEvents(), 0u);
}

TEST_F(SerialPortTest, HungUpDeviceFailsEveryTransferAtOnce) {
  Open();
  ASSERT_EQ(port_.SetEventCharacter('\r', true), kErrorSuccess);
  pty_.CloseMaster();

  struct Transfer {
    const char* name;
    std::function<std::uint32_t(CSerialPort&)> call;
  };
  const Transfer transfers[] = {
      {"WaitForEvent", [](CSerialPort& p) { return p.WaitForEvent(kMustHappenMs); }},
      {"ReadBytes non-blocking",
       [](CSerialPort& p) {
         p.SetReadMode(kReadNonBlocking);
         std::uint32_t result = 0;
         ReadAll(p, 8, kMustHappenMs, &result);
         return result;
       }},
      {"ReadBytes blocking",
       [](CSerialPort& p) {
         p.SetReadMode(kReadBlocking);
         std::uint32_t result = 0;
         ReadAll(p, 8, kMustHappenMs, &result);
         return result;
       }},
      {"WriteText", [](CSerialPort& p) { return p.WriteText("?V\r", nullptr, kMustHappenMs); }},
  };
  for (const Transfer& t : transfers) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(t.call(port_), static_cast<std::uint32_t>(EIO));
  }
  EXPECT_EQ(port_.ClosePort(), kErrorSuccess);
}

// ---------------------------------------------------------------- port names

TEST(PortNames, NamesResolveToDevicePaths) {
  struct Case {
    const char* name;
    const char* path;
  };
  const Case cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"com3", "/dev/ttyS2"},
      {"Com10", "/dev/ttyS9"},
      {"COM0", "/dev/COM0"},  // COM ports count from 1
      {"COM", "/dev/COM"},
      {"COM1x", "/dev/COM1x"},
      {"COM-1", "/dev/COM-1"},
      {"ttyUSB0", "/dev/ttyUSB0"},
      {"serial/by-id/usb-FTDI-if00", "/dev/serial/by-id/usb-FTDI-if00"},
      {"/dev/pts/3", "/dev/pts/3"},
      {"/tmp/radio", "/tmp/radio"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolvePortName(c.name), c.path) << c.name;
}

// ----------------------------------------------------------------- port list

// A sysfs and /dev tree in a temporary directory, shaped like the kernel's.
class CFakeSystem {
 public:
  CFakeSystem() {
    std::string pattern = (fs::temp_directory_path() / "flash-update-ports-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
  }
  ~CFakeSystem() {
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
  }
  bool IsReady() const { return !root_.empty(); }
  fs::path Sys() const { return root_ / "sys"; }
  fs::path Dev() const { return root_ / "dev"; }

  // A tty whose class entry links to its node under the device, as sysfs does.
  void AddTty(const std::string& name, const std::string& device, const char* uartType = nullptr) {
    const fs::path deviceDir = Sys() / "devices" / device;
    const fs::path node = deviceDir / "tty" / name;
    fs::create_directories(node);
    fs::create_directories(Sys() / "class" / "tty");
    fs::create_directory_symlink(node, Sys() / "class" / "tty" / name);
    fs::create_directory_symlink(deviceDir, node / "device");
    if (uartType) WriteFile(node / "type", uartType);
  }
  // Binds a device to a driver of a bus: .../driver -> /sys/bus/<bus>/drivers/<driver>.
  void BindDriver(const std::string& device, const std::string& bus, const std::string& driver) {
    const fs::path deviceDir = Sys() / "devices" / device;
    const fs::path driverDir = Sys() / "bus" / bus / "drivers" / driver;
    fs::create_directories(deviceDir);
    fs::create_directories(driverDir);
    fs::create_directory_symlink(driverDir, deviceDir / "driver");
  }
  // A tty with no device behind it (virtual console, pseudo-terminal master).
  void AddVirtualTty(const std::string& name) {
    fs::create_directories(Sys() / "devices" / "virtual" / "tty" / name);
    fs::create_directories(Sys() / "class" / "tty");
    fs::create_directory_symlink(Sys() / "devices" / "virtual" / "tty" / name,
                                 Sys() / "class" / "tty" / name);
  }
  void AddUsbDevice(const std::string& device, const char* vendor, const char* product,
                    const char* manufacturer, const char* productName) {
    const fs::path dir = Sys() / "devices" / device;
    fs::create_directories(dir);
    WriteFile(dir / "idVendor", vendor);
    WriteFile(dir / "idProduct", product);
    if (manufacturer) WriteFile(dir / "manufacturer", manufacturer);
    if (productName) WriteFile(dir / "product", productName);
  }
  void AddByIdLink(const std::string& name, const std::string& tty) {
    const fs::path dir = Dev() / "serial" / "by-id";
    fs::create_directories(dir);
    fs::create_symlink(fs::path("../..") / tty, dir / name);
  }
  static void WriteFile(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
  }

 private:
  fs::path root_;
};

TEST(PortList, ListsDevicesMostLikelyFirstWithTheirUsbStrings) {
  CFakeSystem sys;
  if (!sys.IsReady()) GTEST_SKIP() << "cannot make a temporary directory";
  const std::string usb = "pci0000:00/0000:00:14.0/usb1/";
  sys.AddUsbDevice(usb + "1-1", "0403", "6001", "FTDI", "FT232R USB UART");
  sys.AddTty("ttyUSB0", usb + "1-1/1-1:1.0/ttyUSB0");
  sys.BindDriver(usb + "1-1/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
  sys.AddUsbDevice(usb + "1-2", "10c4", "ea60", nullptr, nullptr);  // no strings
  sys.AddTty("ttyUSB10", usb + "1-2/1-2:1.0/ttyUSB10");
  sys.BindDriver(usb + "1-2/1-2:1.0/ttyUSB10", "usb-serial", "cp210x");
  sys.AddUsbDevice(usb + "1-3", "2341", "0043", "Arduino (www.arduino.cc)", "Uno");
  sys.AddTty("ttyACM0", usb + "1-3/1-3:1.0");
  sys.BindDriver(usb + "1-3/1-3:1.0", "usb", "cdc_acm");
  sys.AddTty("ttyAMA0", "platform/fe201000.serial");
  sys.BindDriver("platform/fe201000.serial", "amba", "uart-pl011");
  // Standard UARTs as newer kernels show them: tty -> serial core port ->
  // serial core controller -> the UART's own device.
  const std::string uart = "platform/serial8250/";
  for (const char* port : {"serial8250:0/serial8250:0.0", "serial8250:0/serial8250:0.1",
                           "serial8250:0/serial8250:0.2"})
    sys.BindDriver(uart + port, "serial-base", "port");
  sys.BindDriver(uart + "serial8250:0", "serial-base", "ctrl");
  sys.BindDriver("platform/serial8250", "platform", "serial8250");
  sys.AddTty("ttyS0", uart + "serial8250:0/serial8250:0.0", "4");
  sys.AddTty("ttyS1", uart + "serial8250:0/serial8250:0.1", "0");  // no UART
  sys.AddTty("ttyS2", uart + "serial8250:0/serial8250:0.2");       // type unreadable
  for (const char* name : {"tty0", "tty1", "ptmx", "console"}) sys.AddVirtualTty(name);
  sys.AddByIdLink("usb-FTDI_FT232R_USB_UART_A10K-if00-port0", "ttyUSB0");
  sys.AddByIdLink("usb-Gone_Adapter-if00-port0", "ttyUSB7");  // sysfs does not show it

  const std::vector<SerialPortInfo> ports = ListSerialPorts(sys.Sys().string(), sys.Dev().string());

  std::vector<std::string> paths;
  for (const SerialPortInfo& port : ports) paths.push_back(port.path);
  const auto dev = [&](const char* name) { return (sys.Dev() / name).string(); };
  EXPECT_EQ(paths, (std::vector<std::string>{dev("ttyACM0"), dev("ttyUSB0"), dev("ttyUSB7"),
                                             dev("ttyUSB10"), dev("ttyAMA0"), dev("ttyS0"),
                                             dev("ttyS2")}));
  ASSERT_EQ(ports.size(), 7u);

  struct Expected {
    std::size_t index;
    std::string byId, driver, vendor, product, manufacturer, productName;
  };
  const Expected expected[] = {
      {0, "", "cdc_acm", "2341", "0043", "Arduino (www.arduino.cc)", "Uno"},
      {1, (sys.Dev() / "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0").string(),
       "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART"},
      {2, (sys.Dev() / "serial/by-id/usb-Gone_Adapter-if00-port0").string(), "", "", "", "", ""},
      {3, "", "cp210x", "10c4", "ea60", "", ""},
      {4, "", "uart-pl011", "", "", "", ""},
      {5, "", "serial8250", "", "", "", ""},
      {6, "", "serial8250", "", "", "", ""},
  };
  for (const Expected& e : expected) {
    const SerialPortInfo& port = ports[e.index];
    SCOPED_TRACE(port.path);
    EXPECT_EQ(port.byIdPath, e.byId);
    EXPECT_EQ(port.driver, e.driver);
    EXPECT_EQ(port.vendorId, e.vendor);
    EXPECT_EQ(port.productId, e.product);
    EXPECT_EQ(port.manufacturer, e.manufacturer);
    EXPECT_EQ(port.product, e.productName);
  }
}

TEST(PortList, MissingTreesGiveAnEmptyList) {
  EXPECT_TRUE(ListSerialPorts("/flash-update-no-sys", "/flash-update-no-dev").empty());
}

}  // namespace
