#pragma once
// CSerialPort: one serial device on Linux termios. Opening, closing, the line
// settings, reads and writes with time-outs, waiting for line events, purging
// and the queries. The worker thread and the window notification are the
// layers above (CSerialEventPort, CSerialWnd).
//
// Error contract: every operation that returns a std::uint32_t returns the code
// it also leaves in LastError(): 0 for success, one of the driver's own codes
// (kErrorInvalidHandle when the port is closed, kErrorAlreadyInitialized when
// opening an open port, kErrorTimeout, kErrorInvalidArg for an unknown mode),
// or the errno of the failing system call. DescribeSerialError() turns any of
// them into text a person can act on.
//
// Threads: one thread opens, closes, configures, reads and writes; one other
// thread may wait for events (WaitForEvent, TakeEvents, TakeLineErrors) at the
// same time, but not while the port is being opened or closed (the worker
// layer stops its thread first). LastError() is meaningful only right after a
// call, on the thread that made it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "comms/serial/serial_link.h"

struct termios;

// The events that a freshly opened port reports: EV_RXCHAR + EV_BREAK + EV_ERR.
inline constexpr std::uint32_t kDefaultEventMask = kEvRxChar | kEvBreak | kEvErr;
// The driver's input queue when the caller gives no size.
inline constexpr std::uint32_t kDefaultInputQueueSize = 4096;

// Parity values (Win32 numbering, which the settings and callers use).
inline constexpr int kOddParity = 1;
inline constexpr int kEvenParity = 2;
inline constexpr int kMarkParity = 3;
inline constexpr int kSpaceParity = 4;
// Stop-bit values.
inline constexpr int kOne5StopBits = 1;  // only with 5 data bits
inline constexpr int kTwoStopBits = 2;

// Flow-control and read modes.
inline constexpr int kFlowNone = 0;
inline constexpr int kFlowHardware = 1;
inline constexpr int kFlowSoftware = 2;
inline constexpr int kReadNonBlocking = 0;
inline constexpr int kReadBlocking = 1;

// A driver code or an errno as text, with a hint where one helps.
std::string DescribeSerialError(std::uint32_t code);

class CSerialPort {
 public:
  CSerialPort() = default;
  virtual ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // name is resolved by ResolvePortName ("COM1", "ttyUSB0", "/dev/pts/3").
  // A queue size of 0 means the default; the output queue is the kernel's.
  virtual std::uint32_t OpenPort(std::string_view name, std::uint32_t inQueue,
                                 std::uint32_t outQueue);
  virtual std::uint32_t ClosePort();

  virtual std::uint32_t SetLineFormat(std::uint32_t baud, int dataBits, int parity, int stopBits);
  virtual std::uint32_t SetEventCharacter(std::uint8_t character, bool addToMask);
  virtual std::uint32_t SetEventMask(std::uint32_t mask);
  // Waits until an event of the mask has happened (then TakeEvents tells
  // which), until the mask is changed from another thread (no events), or
  // until the time-out (kErrorTimeout). A hung-up device fails with its errno.
  virtual std::uint32_t WaitForEvent(std::uint32_t timeoutMs);
  virtual std::uint32_t SetFlowControl(int mode);
  virtual std::uint32_t SetReadMode(int mode);

  // Queries read the device's settings back: -1 when the port is closed or
  // the settings cannot be read (LastError() says which).
  virtual std::int32_t QueryBaudRate();
  virtual std::int32_t QueryDataBits();
  virtual std::int32_t QueryParity();
  virtual std::int32_t QueryStopBits();
  virtual std::int32_t QueryFlowControl();
  // These two answer 0 on a closed port.
  virtual std::uint32_t QueryEventMask();
  virtual std::int32_t QueryEventCharacter();

  // written/count may be nullptr. kInfinite waits without limit.
  virtual std::uint32_t WriteText(std::string_view text, std::uint32_t* written,
                                  std::uint32_t timeoutMs);
  virtual std::uint32_t WriteBytes(std::span<const std::uint8_t> data, std::uint32_t* written,
                                   std::uint32_t timeoutMs);
  virtual std::uint32_t ReadBytes(std::span<std::uint8_t> buffer, std::uint32_t* count,
                                  std::uint32_t timeoutMs);

  bool IsPortOpen() const { return device_.IsOpen(); }
  std::uint32_t PurgeBuffers();
  // The events found by the last waits that are in the mask; clears them.
  std::uint32_t TakeEvents();
  // The line error flags (kCe*) gathered since the last call; clears them.
  std::uint32_t TakeLineErrors();
  // Total write time-out: multiplierMs per byte plus constantMs; both 0
  // means none. Returns whether the port took them; LastError() is untouched.
  bool SetWriteTimeouts(std::uint32_t multiplierMs, std::uint32_t constantMs);
  std::uint32_t LastError() const { return lastError_.load(std::memory_order_relaxed); }

 protected:
  // Owns one file descriptor; closes it exactly once.
  class CDescriptor {
   public:
    CDescriptor() = default;
    explicit CDescriptor(int fd) : fd_(fd) {}
    ~CDescriptor() { Reset(); }
    CDescriptor(CDescriptor&& other) noexcept : fd_(other.Release()) {}
    CDescriptor& operator=(CDescriptor&& other) noexcept {
      if (this != &other) Reset(other.Release());
      return *this;
    }
    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Release() {
      int fd = fd_;
      fd_ = -1;
      return fd;
    }
    void Reset(int fd = -1);

   private:
    int fd_ = -1;
  };

  // WaitForEvent that also returns, with no events, as soon as stopFd becomes
  // readable (the worker's stop request). stopFd -1 watches nothing. Returns
  // its code without storing it, so that a worker waiting all the time does
  // not overwrite what the other thread's calls leave in LastError().
  std::uint32_t WaitForPortEvent(int stopFd, std::uint32_t timeoutMs);

  std::uint32_t Succeed() {
    lastError_.store(kErrorSuccess, std::memory_order_relaxed);
    return kErrorSuccess;
  }
  std::uint32_t Fail(std::uint32_t code) {
    lastError_.store(code, std::memory_order_relaxed);
    return code;
  }

 private:
  enum class Waiter { kNone, kEvents, kReader };

  // Moves whatever the device has into the input queue and turns it into
  // pending events and line errors. Caller holds stateMutex_. Returns 0, or
  // the errno that ended reading (the device is then marked hung up).
  std::uint32_t PumpDeviceLocked(Waiter self);
  // Turns increases of the device's error counters into line error flags;
  // returns the events they raise.
  std::uint32_t SampleLineCountersLocked();
  void WakeWaitersLocked(Waiter self);
  // Releases the lock while it waits for the device, wakeFd or stopFd to be
  // readable. Returns 0 or the errno of the wait.
  std::uint32_t PollDeviceUnlocked(std::unique_lock<std::mutex>& lock, int wakeFd, int stopFd,
                                   int timeoutMs, bool& stopRequested);
  // The start of every query: false (and LastError() set) when it cannot answer.
  bool ReadSettingsForQuery(termios& settings);
  std::uint32_t ReadSettings(termios& settings);
  std::uint32_t ApplySettings(const termios& settings);

  // The device's cumulative error counts, where it keeps them.
  struct LineCounters {
    int frame = 0;
    int overrun = 0;
    int parity = 0;
    int breaks = 0;
    int bufferOverrun = 0;
  };

  std::atomic<std::uint32_t> lastError_{kErrorSuccess};
  CDescriptor device_;
  // Written when the mask changes and when another thread has pumped new
  // events: wakes a pending event wait.
  CDescriptor eventWake_;
  // Written whenever bytes are added to the input queue: wakes a blocked read.
  CDescriptor readWake_;

  std::mutex stateMutex_;  // everything below, across the two threads
  std::uint32_t eventsReceived_ = 0;
  std::uint32_t eventMask_ = 0;
  std::uint32_t pendingEvents_ = 0;
  std::uint32_t lineErrors_ = 0;
  std::uint64_t maskChanges_ = 0;
  std::uint8_t eventCharacter_ = 0;
  std::deque<std::uint8_t> inputQueue_;
  std::size_t inputQueueLimit_ = kDefaultInputQueueSize;
  std::uint32_t hangUpError_ = 0;  // non-zero once the device is gone
  bool hangUpSignalled_ = false;   // the last wait saw POLLHUP or POLLERR
  bool lineCountersWork_ = false;
  LineCounters lineCounters_;

  // Used by the configuring thread only.
  int readMode_ = kReadNonBlocking;
  std::uint32_t writeMultiplierMs_ = 0;
  std::uint32_t writeConstantMs_ = 0;
};
