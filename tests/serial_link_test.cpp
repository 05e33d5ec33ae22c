// The radio's serial link as the main window opens and uses it: the real
// driver on a pseudo-terminal whose other end plays the radio, the test
// host's window and its virtual timers.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "comms/serial/port_list.h"
#include "comms/serial/serial_wnd_adapter.h"
#include "engine/main_window.h"
#include "support/fake_links.h"
#include "support/temp_files.h"
#include "support/test_host.h"
#include "support/text_count.h"

namespace {

// Bounds on real-time waits: they only keep a broken build from hanging.
constexpr int kGuardMs = 5000;
// How long a test watches for a notification that must not come.
constexpr auto kQuietSpell = std::chrono::milliseconds(200);

// The radio's end of a pseudo-terminal. The program opens the other end by
// the name Link().
class CRadioEnd {
 public:
  CRadioEnd() : fd_(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) return;
    if (const char* name = ::ptsname(fd_)) link_ = name;
  }
  ~CRadioEnd() { Close(); }
  CRadioEnd(const CRadioEnd&) = delete;
  CRadioEnd& operator=(const CRadioEnd&) = delete;

  bool IsReady() const { return fd_ >= 0 && !link_.empty(); }
  const std::string& Link() const { return link_; }
  int Fd() const { return fd_; }

  void Send(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        ADD_FAILURE() << "the radio cannot send: " << std::strerror(errno);
        return;
      }
    }
  }

  // What the program sent, read until it ends with tail (or the guard passed).
  std::string ReceiveUntil(std::string_view tail) const {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (!std::string_view(got).ends_with(tail) && std::chrono::steady_clock::now() < deadline) {
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, 10) <= 0 || !(pfd.revents & POLLIN)) {
        // A master whose slave is not open reports a hang-up without waiting.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      char chunk[256];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n > 0) got.append(chunk, static_cast<std::size_t>(n));
    }
    return got;
  }

  // The cable is pulled.
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  std::string link_;
};

// The test host, also keeping the first parameter of every notification the
// serial worker posts, as it is posted.
class CPostRecordingHost : public CTestHost {
 public:
  void PostNotify(unsigned message, std::uint32_t wParam, std::uint32_t lParam) override {
    // Queued first, so that a post seen here can be delivered at once.
    CTestHost::PostNotify(message, wParam, lParam);
    std::lock_guard lock(mutex_);
    posts_.push_back(wParam);
  }
  std::vector<std::uint32_t> Posts() const {
    std::lock_guard lock(mutex_);
    return posts_;
  }
  // Waits in real time, without delivering anything, until count posts came.
  bool WaitForPosts(std::size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (Posts().size() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint32_t> posts_;
};

double ProcessCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Two records (checksums E7 and CE), then the end record.
constexpr std::string_view kTwoRecords = ":03001000010203E7\r\n:03002000040506CE\r\n:00000001FF\r\n";
// The trace of the first record's command in program mode.
constexpr std::string_view kRecord1Trace = " R< 42 03 00 10 00 01 02 03 e7 0d \r\n";
const std::string kRecord1Command{"B\x03\x00\x10\x00\x01\x02\x03\xE7\r", 10};
constexpr std::string_view kVersionReply = "VER 1234 720\r";
constexpr std::string_view kVersionReplyHex = "56 45 52 20 31 32 33 34 20 37 32 30 0D ";

// One program run whose serial settings name the pseudo-terminal, with errors
// checked. Declared so that the radio's end goes first and the host last: the
// worker may post until the driver object is gone.
struct SerialLinkRig {
  CTempDir dir;
  CPostRecordingHost host;
  CSerialWndAdapter serial;
  CFakeUdpSocket udp;
  CMainWindow w{host, serial, udp};
  CRadioEnd radio;

  SerialLinkRig() {
    host.Attach(&w);
    host.cwd = dir.path().string();
    w.commSettings.ignoreErrors = 0;
    w.commSettings.useSerial = 1;
    w.commSettings.useEthernet = 0;
    w.commSettings.comPort = radio.Link();
  }

  void StartProgramming(std::string_view content = kTwoRecords) {
    host.chosenFile = dir.Write("720-x.ruf", content);
    w.OnUpdateRadio();
  }
  // The radio answers; true once the window has handled the notification.
  bool Answer(std::string_view reply, std::size_t postsBefore) {
    radio.Send(reply);
    if (!host.WaitForPosts(postsBefore + 1)) return false;
    host.RunPending();
    return true;
  }
  std::string Trace() const { return ReadFileBytes(dir / "comms.txt"); }
};

// The line the radio needs, as the driver reports it and as the kernel holds
// it for the device.
void ExpectRadioLine(SerialLinkRig& r) {
  EXPECT_TRUE(r.serial.IsPortOpen());
  EXPECT_TRUE(r.serial.IsWorkerRunning());
  EXPECT_EQ(r.serial.QueryBaudRate(), 57600);
  EXPECT_EQ(r.serial.QueryDataBits(), 8);
  EXPECT_EQ(r.serial.QueryParity(), kNoParity);
  EXPECT_EQ(r.serial.QueryStopBits(), kOneStopBit);
  EXPECT_EQ(r.serial.QueryFlowControl(), kFlowHardware);
  EXPECT_EQ(r.serial.QueryEventCharacter(), 13);
  EXPECT_EQ(r.serial.QueryEventMask(), 130u);  // EV_ERR + EV_RXFLAG

  // The master of a pseudo-terminal reads its slave's settings.
  termios t{};
  ASSERT_EQ(::tcgetattr(r.radio.Fd(), &t), 0) << std::strerror(errno);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

class SerialLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!r.radio.IsReady()) GTEST_SKIP() << "no pseudo-terminal: " << std::strerror(errno);
  }
  SerialLinkRig r;
};

TEST_F(SerialLinkTest, OpeningSetsUpTheRadioLine) {
  r.w.OpenSerialLink();
  ExpectRadioLine(r);
  EXPECT_EQ(r.host.logView, "Using Serial Interface \r\n");
}

TEST_F(SerialLinkTest, OpeningAgainStartsAFreshPortWithTheSameSettings) {
  r.w.OpenSerialLink();
  // Whatever was done to the port since, the next operation gets the radio's line.
  ASSERT_EQ(r.serial.SetLineFormat(9600, 8, kNoParity, kOneStopBit), kErrorSuccess);
  ASSERT_EQ(r.serial.SetFlowControl(kFlowNone), kErrorSuccess);
  ASSERT_EQ(r.serial.SetEventCharacter('\n', false), kErrorSuccess);
  ASSERT_EQ(r.serial.SetEventMask(kEvRxChar), kErrorSuccess);
  ASSERT_EQ(r.serial.QueryBaudRate(), 9600);

  r.w.OpenSerialLink();
  ExpectRadioLine(r);
  // No complaint: the port was closed before it was opened again.
  EXPECT_EQ(r.host.logView, "Using Serial Interface \r\nUsing Serial Interface \r\n");

  // Only the new worker watches the line: one carriage return, one notification.
  r.radio.Send("READY\r");
  ASSERT_TRUE(r.host.WaitForPosts(1));
  std::this_thread::sleep_for(kQuietSpell);
  EXPECT_EQ(r.host.Posts(), std::vector<std::uint32_t>{kEvRxFlag});
}

TEST_F(SerialLinkTest, CarriageReturnIsOneNotificationThatTheWindowTurnsIntoAReply) {
  r.StartProgramming();
  ASSERT_EQ(r.radio.ReceiveUntil("?V\r"), "?V\r");
  ExpectRadioLine(r);

  r.radio.Send(kVersionReply);
  ASSERT_TRUE(r.host.WaitUntil([&] { return !r.host.TimerPeriod(kVersionReplyTimerId); }, kGuardMs));
  // The reply reached the parser: the radio was identified and told to start.
  EXPECT_EQ(r.host.panes[1], "Merrow 720");
  EXPECT_EQ(r.radio.ReceiveUntil("ZZ\r"), "ZZ\r");

  std::this_thread::sleep_for(kQuietSpell);
  r.host.RunPending();
  EXPECT_EQ(r.host.Posts(), std::vector<std::uint32_t>{kEvRxFlag});
  const std::string trace = r.Trace();
  EXPECT_EQ(CountOf(trace, "[[Serial Receive  " + std::string(kVersionReplyHex) + "]]"), 1) << trace;
  EXPECT_EQ(CountOf(trace, "Serial Receive"), 1) << trace;
  EXPECT_EQ(CountOf(trace, " R> " + std::string(kVersionReplyHex) + "\r"), 1) << trace;
  EXPECT_TRUE(r.w.IsOperationRunning());
}

// The radio's cable is pulled while a record waits for its answer.
TEST_F(SerialLinkTest, HungUpLineEndsTheWorkerAndTheOperationGivesUpThroughItsRetries) {
  r.StartProgramming();
  ASSERT_EQ(r.radio.ReceiveUntil("?V\r"), "?V\r");
  ASSERT_TRUE(r.Answer(kVersionReply, 0));
  ASSERT_EQ(r.radio.ReceiveUntil("ZZ\r"), "ZZ\r");
  ASSERT_TRUE(r.Answer("READY\r", 1));
  ASSERT_EQ(r.radio.ReceiveUntil(kRecord1Command), kRecord1Command);
  const std::size_t posts = r.host.Posts().size();
  ASSERT_EQ(posts, 2u);

  r.radio.Close();
  ASSERT_TRUE(r.host.WaitUntil([&] { return !r.serial.IsWorkerRunning(); }, kGuardMs))
      << "the worker still runs on a hung-up line";
  // A worker that polled the dead line in a loop would burn most of this.
  const double cpuBefore = ProcessCpuSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.25);
  r.host.RunPending();
  EXPECT_EQ(r.host.Posts().size(), posts);
  EXPECT_TRUE(r.host.dialogs.empty());

  // Silence from here on: the record goes out seven more times, then the
  // user is told that communication failed.
  r.host.Advance(40000);
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogCommFailure});
  EXPECT_EQ(r.w.LastOperationEnd(), OperationEnd::CommFailure);
  EXPECT_EQ(r.w.updateSession.timeoutRetries, 7);
  EXPECT_EQ(CountOf(r.Trace(), kRecord1Trace), 8) << r.Trace();
  r.host.Advance(60000);
  EXPECT_EQ(r.host.dialogs.size(), 1u);
  EXPECT_EQ(r.host.Posts().size(), posts);
}

// A port that cannot be opened: the operation still runs, into silence, and
// the log says why.
struct UnopenablePortCase {
  const char* name;
  // The port name in the settings and the device path it stands for; "" for
  // the radio's pseudo-terminal, which another driver then holds.
  std::string portName;
  std::string devicePath;
  int error;
};

void PrintTo(const UnopenablePortCase& c, std::ostream* out) { *out << c.name; }

class UnopenablePortTest : public ::testing::TestWithParam<UnopenablePortCase> {
 protected:
  void SetUp() override {
    if (!r.radio.IsReady()) GTEST_SKIP() << "no pseudo-terminal: " << std::strerror(errno);
  }
  SerialLinkRig r;
  CSerialWndAdapter otherProgram;
};

// The hint after the system's text.
std::string ExpectedHint(int error) {
  if (error == EBUSY) return " (another program holds the port)";
  if (error == ENOTTY) return " (not a serial port)";
  const std::vector<SerialPortInfo> ports = ListSerialPorts();
  if (ports.empty()) return " (no serial port found on this machine: is the cable plugged in?)";
  std::string hint = " (serial ports on this machine:";
  for (const SerialPortInfo& port : ports) hint += " " + port.path;
  return hint + ")";
}

TEST_P(UnopenablePortTest, LogSaysWhyAndTheVersionQueryMeetsSilence) {
  const UnopenablePortCase& c = GetParam();
  std::string path = c.devicePath;
  if (c.portName.empty()) {
    path = r.radio.Link();
    ASSERT_EQ(otherProgram.OpenForWindow(path, nullptr, 0, 0, 0, 0), kErrorSuccess);
  } else {
    r.w.commSettings.comPort = c.portName;
    if (c.error == ENOENT) {
      ASSERT_NE(::access(path.c_str(), F_OK), 0) << path << " exists on this machine";
    }
  }

  r.StartProgramming();
  EXPECT_FALSE(r.serial.IsPortOpen());
  EXPECT_FALSE(r.serial.IsWorkerRunning());
  const std::string why =
      " Unable to open " + path + ": " + std::strerror(c.error) + ExpectedHint(c.error) + "\r\n";
  EXPECT_EQ(CountOf(r.host.logView, "Using Serial Interface \r\n" + why), 1) << r.host.logView;
  EXPECT_EQ(CountOf(r.host.logView, "Unable to open"), 1) << r.host.logView;

  // The version query still goes out, into nothing.
  EXPECT_EQ(CountOf(r.Trace(), " R< 3f 56 0d \r\n"), 1) << r.Trace();
  EXPECT_TRUE(r.w.IsOperationRunning());
  r.host.Advance(10000);
  EXPECT_EQ(r.host.dialogs, std::vector<int>{kDialogCommFailure});
  EXPECT_EQ(r.w.LastOperationEnd(), OperationEnd::CommFailure);
  r.host.Advance(60000);
  EXPECT_EQ(r.host.dialogs.size(), 1u);
  EXPECT_TRUE(r.host.Posts().empty());
  EXPECT_EQ(CountOf(r.host.logView, "Unable to open"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    SerialLink, UnopenablePortTest,
    ::testing::Values(
        UnopenablePortCase{"MissingDevicePath", "/dev/flash-update-test-no-such-port",
                           "/dev/flash-update-test-no-such-port", ENOENT},
        UnopenablePortCase{"MissingDeviceName", "ttyFlashUpdateTestNoSuchPort", "/dev/ttyFlashUpdateTestNoSuchPort",
                           ENOENT},
        UnopenablePortCase{"NotASerialPort", "/dev/null", "/dev/null", ENOTTY},
        UnopenablePortCase{"HeldByAnotherProgram", "", "", EBUSY}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
