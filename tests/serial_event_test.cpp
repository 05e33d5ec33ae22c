// The serial worker and its notifications, through the driver object the
// program uses (CSerialWndAdapter seen as ISerialLink), on a pseudo-terminal
// whose master side plays the radio.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "comms/serial/serial_link.h"
#include "comms/serial/serial_wnd_adapter.h"
#include "platform/window_message.h"
#include "support/pty_pair.h"

namespace {

using namespace std::chrono_literals;

// Real-time bound for something that must happen; reaching it is a failure.
constexpr auto kMustHappen = 3s;
// How long to watch for a notification that must not come.
constexpr auto kQuietPeriod = 300ms;
// What the link opening uses.
constexpr std::uint32_t kLinkQueueSize = 2048;
constexpr std::uint32_t kLinkEventMask = kEvErr | kEvRxFlag;
constexpr std::uint8_t kCarriageReturn = 13;

// The main window as far as the worker can tell: it records what is posted.
class CRecordingTarget : public INotifyTarget {
 public:
  struct Notification {
    unsigned message;
    std::uint32_t wParam;
    std::uint32_t lParam;
  };

  void PostNotify(unsigned message, std::uint32_t wParam, std::uint32_t lParam) override {
    std::lock_guard lock(mutex_);
    received_.push_back({message, wParam, lParam});
    arrived_.notify_all();
  }

  // Waits until count notifications have arrived, or the time has run out.
  bool WaitForCount(std::size_t count, std::chrono::milliseconds limit = kMustHappen) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return received_.size() >= count; });
  }
  // Waits for a notification that satisfies the test; true when one came.
  bool WaitFor(const std::function<bool(const Notification&)>& test) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, kMustHappen, [&] {
      for (const Notification& n : received_)
        if (test(n)) return true;
      return false;
    });
  }
  std::vector<Notification> Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return received_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Notification> received_;
};

std::uint16_t Events(const CRecordingTarget::Notification& n) { return n.wParam & 0xFFFF; }
std::uint16_t Errors(const CRecordingTarget::Notification& n) { return n.wParam >> 16; }

std::string ReadQueued(ISerialLink& link, std::size_t size) {
  std::vector<std::uint8_t> buffer(size);
  std::uint32_t count = 0;
  EXPECT_EQ(link.ReadBytes(buffer, &count, kInfinite), kErrorSuccess);
  return std::string(buffer.begin(), buffer.begin() + count);
}

bool WaitUntilWorkerEnds(const CSerialWndAdapter& port) {
  const auto giveUp = std::chrono::steady_clock::now() + kMustHappen;
  while (port.IsWorkerRunning()) {
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Exposes the notification step, to check the word layout with any values.
class CProbeWnd : public CSerialWndAdapter {
 public:
  using CSerialWnd::OnPortEvent;
};

class SerialEventTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!pty_.IsOpen()) GTEST_SKIP() << "no pseudo-terminal available: " << pty_.Error();
  }
  // Opens and configures the port the way the radio link is opened.
  void OpenLikeTheRadioLink(std::uint32_t mask = kLinkEventMask) {
    ASSERT_EQ(link_.OpenForWindow(pty_.SlavePath(), &target_, 0, 0, kLinkQueueSize,
                                  kLinkQueueSize),
              kErrorSuccess);
    ASSERT_EQ(link_.SetLineFormat(57600, 8, kNoParity, kOneStopBit), kErrorSuccess);
    ASSERT_EQ(link_.SetFlowControl(1), kErrorSuccess);
    ASSERT_TRUE(link_.SetWriteTimeouts(1, 1));
    ASSERT_EQ(link_.SetEventCharacter(kCarriageReturn, false), kErrorSuccess);
    ASSERT_EQ(link_.SetEventMask(mask), kErrorSuccess);
    ASSERT_EQ(link_.PurgeBuffers(), kErrorSuccess);
  }

  CPtyPair pty_;
  CRecordingTarget target_;
  CSerialWndAdapter port_;
  ISerialLink& link_ = port_;
};

TEST_F(SerialEventTest, CarriageReturnPostsOneRxFlagWithTheReplyReadable) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::string reply;
  };
  const Case cases[] = {
      {"reply in one piece", {"VER 7.20\r"}, "VER 7.20\r"},
      {"reply in pieces", {"V", "ER 7", ".20", "\r"}, "VER 7.20\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CRecordingTarget target;
    ASSERT_EQ(link_.OpenForWindow(pty_.SlavePath(), &target, 0, 0, kLinkQueueSize,
                                  kLinkQueueSize),
              kErrorSuccess);
    ASSERT_EQ(link_.SetEventCharacter(kCarriageReturn, false), kErrorSuccess);
    ASSERT_EQ(link_.SetEventMask(kLinkEventMask), kErrorSuccess);

    for (const std::string& piece : c.pieces) pty_.Write(piece);
    ASSERT_TRUE(target.WaitForCount(1)) << "no notification";
    // The whole reply is there when the notification arrives.
    EXPECT_EQ(ReadQueued(link_, 128), c.reply);

    const auto first = target.Received().front();
    EXPECT_EQ(first.message, RegisterWindowMessage(kSerialNotifyMessageName));
    EXPECT_EQ(first.wParam, kEvRxFlag);
    EXPECT_EQ(first.lParam, 0u);
    EXPECT_FALSE(target.WaitForCount(2, kQuietPeriod)) << "more than one notification";
    ASSERT_EQ(link_.ClosePort(), kErrorSuccess);
  }
}

TEST_F(SerialEventTest, RxFlagComesOnlyWithTheEventCharacter) {
  OpenLikeTheRadioLink(kLinkEventMask | kEvRxChar);
  pty_.Write("VER");
  ASSERT_TRUE(target_.WaitForCount(1));
  for (const auto& n : target_.Received()) EXPECT_EQ(Events(n), kEvRxChar);

  pty_.Write("\r");
  ASSERT_TRUE(target_.WaitFor([](const auto& n) { return Events(n) & kEvRxFlag; }));
  EXPECT_EQ(ReadQueued(link_, 128), "VER\r");
}

TEST_F(SerialEventTest, MaskChangeWakesTheWorkerWithoutANotification) {
  OpenLikeTheRadioLink();
  for (std::uint32_t mask : {kLinkEventMask, kEvErr, 0u, kLinkEventMask})
    ASSERT_EQ(link_.SetEventMask(mask), kErrorSuccess);
  EXPECT_FALSE(target_.WaitForCount(1, kQuietPeriod)) << "a mask change was posted";
  EXPECT_TRUE(port_.IsWorkerRunning());

  // The worker waits on with the newest mask.
  ASSERT_EQ(link_.SetEventMask(kEvRxChar), kErrorSuccess);
  pty_.Write("x");
  ASSERT_TRUE(target_.WaitForCount(1));
  EXPECT_EQ(target_.Received().front().wParam, kEvRxChar);
}

TEST_F(SerialEventTest, NotificationCarriesErrorsHighAndEventsLow) {
  struct Case {
    const char* name;
    unsigned message;
    std::uint32_t param;
    std::uint32_t events, errors;
    unsigned expectedMessage;
    std::uint32_t expectedWParam;
  };
  const unsigned registered = RegisterWindowMessage(kSerialNotifyMessageName);
  const Case cases[] = {
      {"event character with a framing error", 0, 0, kEvRxFlag, kCeFrame, registered, 524290},
      {"own message and parameter", 0xC123, 77, kEvRxChar | kEvErr, kCeOverrun | kCeRxParity,
       0xC123, (6u << 16) | 0x81},
      {"each word cut to 16 bits", 0, 5, 0x12345, 0x10008, registered, (0x0008u << 16) | 0x2345},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CRecordingTarget target;
    CProbeWnd probe;
    ASSERT_EQ(probe.OpenForWindow(pty_.SlavePath(), &target, c.message, c.param, 0, 0),
              kErrorSuccess);
    ASSERT_EQ(probe.SetEventMask(0), kErrorSuccess);  // the line itself stays quiet
    probe.OnPortEvent(c.events, c.errors);
    ASSERT_TRUE(target.WaitForCount(1));
    const auto n = target.Received().front();
    EXPECT_EQ(n.message, c.expectedMessage);
    EXPECT_EQ(n.wParam, c.expectedWParam);
    EXPECT_EQ(n.lParam, c.param);

    // A closed port has forgotten its window.
    ASSERT_EQ(probe.ClosePort(), kErrorSuccess);
    probe.OnPortEvent(c.events, c.errors);
    EXPECT_EQ(target.Count(), 1u);
  }
}

TEST_F(SerialEventTest, InputQueueOverflowIsReportedAsALineError) {
  constexpr std::uint32_t kSmallQueue = 16;
  ASSERT_EQ(link_.OpenForWindow(pty_.SlavePath(), &target_, 0, 0, kSmallQueue, 0), kErrorSuccess);
  const std::string flood(64, 'a');
  pty_.Write(flood);
  ASSERT_TRUE(target_.WaitFor([](const auto& n) { return Errors(n) & kCeRxOver; }))
      << "no overflow reported";
  EXPECT_EQ(ReadQueued(link_, flood.size()), flood.substr(0, kSmallQueue));
}

TEST_F(SerialEventTest, HangUpEndsTheWorkerQuietly) {
  OpenLikeTheRadioLink(kEvRxChar);
  pty_.Write("a");
  ASSERT_TRUE(target_.WaitForCount(1));
  ASSERT_TRUE(port_.IsWorkerRunning());

  pty_.CloseMaster();
  // A worker that spun on the dead line would never end.
  ASSERT_TRUE(WaitUntilWorkerEnds(port_)) << "the worker still runs after the hang-up";
  EXPECT_FALSE(target_.WaitForCount(2, kQuietPeriod)) << "posted after the hang-up";
  EXPECT_TRUE(link_.IsPortOpen());  // closing is the program's decision
  EXPECT_EQ(link_.ClosePort(), kErrorSuccess);
  EXPECT_FALSE(link_.IsPortOpen());
}

TEST_F(SerialEventTest, FailedOpenLeavesThePortClosedAndSilent) {
  EXPECT_EQ(link_.OpenForWindow("/dev/flash-update-no-such-port", &target_, 0, 0, kLinkQueueSize,
                                kLinkQueueSize),
            static_cast<std::uint32_t>(ENOENT));
  EXPECT_EQ(link_.LastError(), static_cast<std::uint32_t>(ENOENT));
  EXPECT_FALSE(link_.IsPortOpen());
  EXPECT_FALSE(port_.IsWorkerRunning());

  // What the link opening does next all fails quietly with 6.
  const std::vector<std::function<std::uint32_t()>> calls = {
      [&] { return link_.SetLineFormat(57600, 8, kNoParity, kOneStopBit); },
      [&] { return link_.SetFlowControl(1); },
      [&] { return link_.SetEventCharacter(kCarriageReturn, false); },
      [&] { return link_.SetEventMask(kLinkEventMask); },
      [&] { return link_.PurgeBuffers(); },
      [&] {
        const std::uint8_t command[] = {'?', 'V', '\r'};
        return link_.WriteBytes(command, nullptr, kInfinite);
      },
  };
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i](), kErrorInvalidHandle) << "call " << i;
    EXPECT_EQ(link_.LastError(), kErrorInvalidHandle) << "call " << i;
  }
  EXPECT_FALSE(link_.SetWriteTimeouts(1, 1));
  EXPECT_EQ(target_.Count(), 0u);
}

TEST_F(SerialEventTest, ReopeningAfterCloseDeliversToTheNewWindow) {
  OpenLikeTheRadioLink();
  CRecordingTarget other;
  // Opening an open port is refused and leaves the worker with its window.
  EXPECT_EQ(link_.OpenForWindow(pty_.SlavePath(), &other, 0, 0, 0, 0), kErrorAlreadyInitialized);
  pty_.Write("A\r");
  ASSERT_TRUE(target_.WaitForCount(1));
  EXPECT_EQ(ReadQueued(link_, 128), "A\r");

  ASSERT_EQ(link_.ClosePort(), kErrorSuccess);
  EXPECT_FALSE(port_.IsWorkerRunning());
  ASSERT_EQ(link_.OpenForWindow(pty_.SlavePath(), &other, 0, 0, 0, 0), kErrorSuccess);
  ASSERT_EQ(link_.SetEventCharacter(kCarriageReturn, true), kErrorSuccess);
  pty_.Write("B\r");
  ASSERT_TRUE(other.WaitFor([](const auto& n) { return Events(n) & kEvRxFlag; }));
  EXPECT_EQ(ReadQueued(link_, 128), "B\r");
  EXPECT_EQ(target_.Count(), 1u);
}

}  // namespace
