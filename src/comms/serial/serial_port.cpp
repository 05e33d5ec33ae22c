#include "comms/serial/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>
#include <system_error>
#include <thread>

#include "comms/serial/port_names.h"

namespace {

// Bytes taken from the device per read() call.
constexpr std::size_t kReadChunkSize = 512;
// How often a write with a time-out checks whether the kernel has sent its
// bytes. The kernel offers no way to wait for that with a time-out.
constexpr std::chrono::milliseconds kDrainCheckInterval{1};

using Clock = std::chrono::steady_clock;

// A point in time a wait must not pass, or none.
class CDeadline {
 public:
  explicit CDeadline(std::optional<std::uint64_t> timeoutMs)
      : end_(timeoutMs ? std::optional(Clock::now() + std::chrono::milliseconds(*timeoutMs))
                       : std::nullopt) {}
  static CDeadline FromTimeout(std::uint32_t timeoutMs) {
    return CDeadline(timeoutMs == kInfinite ? std::nullopt
                                            : std::optional<std::uint64_t>(timeoutMs));
  }

  bool IsInfinite() const { return !end_; }
  bool HasPassed() const { return end_ && Clock::now() >= *end_; }
  Clock::duration Remaining() const {
    if (!end_) return Clock::duration::max();
    return std::max(Clock::duration::zero(), *end_ - Clock::now());
  }
  // Rounded up, so that a wait never ends just before the deadline and loops.
  int PollTimeoutMs() const {
    if (!end_) return -1;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(Remaining()).count();
    return static_cast<int>(std::min<std::int64_t>(ms, INT_MAX));
  }

 private:
  std::optional<Clock::time_point> end_;
};

struct BaudRate {
  std::uint32_t rate;
  speed_t code;
};

constexpr std::array kBaudRates = {
    BaudRate{50, B50},           BaudRate{75, B75},           BaudRate{110, B110},
    BaudRate{134, B134},         BaudRate{150, B150},         BaudRate{200, B200},
    BaudRate{300, B300},         BaudRate{600, B600},         BaudRate{1200, B1200},
    BaudRate{1800, B1800},       BaudRate{2400, B2400},       BaudRate{4800, B4800},
    BaudRate{9600, B9600},       BaudRate{19200, B19200},     BaudRate{38400, B38400},
    BaudRate{57600, B57600},     BaudRate{115200, B115200},   BaudRate{230400, B230400},
    BaudRate{460800, B460800},   BaudRate{500000, B500000},   BaudRate{576000, B576000},
    BaudRate{921600, B921600},   BaudRate{1000000, B1000000}, BaudRate{1152000, B1152000},
    BaudRate{1500000, B1500000}, BaudRate{2000000, B2000000}, BaudRate{2500000, B2500000},
    BaudRate{3000000, B3000000}, BaudRate{3500000, B3500000}, BaudRate{4000000, B4000000},
};

std::optional<speed_t> SpeedCode(std::uint32_t rate) {
  for (const BaudRate& entry : kBaudRates)
    if (entry.rate == rate) return entry.code;
  return std::nullopt;
}

std::optional<std::uint32_t> SpeedRate(speed_t code) {
  for (const BaudRate& entry : kBaudRates)
    if (entry.code == code) return entry.rate;
  return std::nullopt;
}

std::uint32_t LastErrno() { return static_cast<std::uint32_t>(errno); }

// Settings that SetLineFormat and SetFlowControl must find in force afterwards.
constexpr tcflag_t kFormatControlFlags = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
constexpr tcflag_t kFlowControlFlags = CRTSCTS;
constexpr tcflag_t kFlowInputFlags = IXON | IXOFF | IXANY;

void SignalEvent(int eventFd) {
  const std::uint64_t one = 1;
  // A full counter (never reached) still leaves the descriptor readable.
  [[maybe_unused]] const ssize_t result = ::write(eventFd, &one, sizeof one);
}

void ResetEvent(int eventFd) {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t result = ::read(eventFd, &count, sizeof count);
}

// Raises or drops modem lines. Devices without modem lines (pseudo-terminals,
// some USB bridges) refuse with ENOTTY or EINVAL; that is not a failure.
std::uint32_t ChangeModemLines(int fd, unsigned long request, int lines) {
  if (::ioctl(fd, request, &lines) == 0) return kErrorSuccess;
  const int error = errno;
  return error == ENOTTY || error == EINVAL ? kErrorSuccess : static_cast<std::uint32_t>(error);
}

}  // namespace

std::string DescribeSerialError(std::uint32_t code) {
  switch (code) {
    case kErrorSuccess:
      return "Success";
    case kErrorInvalidHandle:
      return "The serial port is not open";
    case kErrorAlreadyInitialized:
      return "The serial port is already open";
    case kErrorTimeout:
      return "The serial port did not complete the operation in time";
    case kErrorInvalidArg:
      return "Invalid flow-control or read mode";
    default:
      break;
  }
  std::string text = std::system_category().message(static_cast<int>(code));
  switch (code) {
    case EACCES:
    case EPERM:
      text += " (add your user to the \"dialout\" group, then log out and in again)";
      break;
    case EBUSY:
      text += " (another program holds the port)";
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      text += " (is the device plugged in?)";
      break;
    // "Inappropriate ioctl for device" means nothing to most people: the name
    // is that of a file or device that has no serial line settings.
    case ENOTTY:
    case EISDIR:
      text += " (not a serial port)";
      break;
    default:
      break;
  }
  return text;
}

void CSerialPort::CDescriptor::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

CSerialPort::~CSerialPort() { CSerialPort::ClosePort(); }

std::uint32_t CSerialPort::OpenPort(std::string_view name, std::uint32_t inQueue,
                                    std::uint32_t /*outQueue: the kernel sizes its own*/) {
  Succeed();
  if (IsPortOpen()) return Fail(kErrorAlreadyInitialized);

  const std::string path = ResolvePortName(name);
  // O_NONBLOCK: a modem port without carrier must not hold up the open, and
  // every wait below goes through poll() so that it can be cut short.
  CDescriptor device(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!device.IsOpen()) return Fail(LastErrno());

  // TIOCEXCL keeps other users out but not root, and tests and some radio
  // stations run as root; flock() is what stops a second copy of this driver.
  // Take the lock before touching any setting, so a refused second open
  // leaves the first one's port as it was.
  if (::flock(device.Get(), LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    return Fail(error == EWOULDBLOCK ? EBUSY : static_cast<std::uint32_t>(error));
  }

  termios settings{};
  if (::tcgetattr(device.Get(), &settings) != 0) return Fail(LastErrno());
  ::cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  // cfmakeraw leaves HUPCL set: closing would drop DTR, which resets some radios.
  settings.c_cflag &= ~(HUPCL | CRTSCTS);
  settings.c_iflag &= ~(INPCK | IXOFF | IXANY);
  // VMIN 1 makes read() on an empty line fail with EAGAIN, so that read()
  // returning 0 can only mean the line was hung up.
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::tcsetattr(device.Get(), TCSANOW, &settings) != 0) return Fail(LastErrno());

  CDescriptor eventWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!eventWake.IsOpen()) return Fail(LastErrno());
  CDescriptor readWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!readWake.IsOpen()) return Fail(LastErrno());

  if (::ioctl(device.Get(), TIOCEXCL) != 0) return Fail(LastErrno());

  // Pseudo-terminals and many USB bridges keep no error counters.
  serial_icounter_struct counters{};
  const bool countersWork = ::ioctl(device.Get(), TIOCGICOUNT, &counters) == 0;

  {
    std::lock_guard lock(stateMutex_);
    device_ = std::move(device);
    eventWake_ = std::move(eventWake);
    readWake_ = std::move(readWake);
    eventsReceived_ = 0;
    pendingEvents_ = 0;
    lineErrors_ = 0;
    eventCharacter_ = 0;
    inputQueue_.clear();
    inputQueueLimit_ = inQueue != 0 ? inQueue : kDefaultInputQueueSize;
    hangUpError_ = 0;
    hangUpSignalled_ = false;
    lineCountersWork_ = countersWork;
    lineCounters_ = {counters.frame, counters.overrun, counters.parity, counters.brk,
                     counters.buf_overrun};
  }
  writeMultiplierMs_ = 0;
  writeConstantMs_ = 0;

  SetEventMask(kDefaultEventMask);
  SetReadMode(kReadNonBlocking);
  return LastError();
}

std::uint32_t CSerialPort::ClosePort() {
  Succeed();
  if (!IsPortOpen()) return kErrorSuccess;
  // A pseudo-terminal's slave outlives this descriptor while its master is
  // open, and would stay exclusive for everyone but root.
  ::ioctl(device_.Get(), TIOCNXCL);

  std::lock_guard lock(stateMutex_);
  device_.Reset();
  eventWake_.Reset();
  readWake_.Reset();
  inputQueue_.clear();
  eventsReceived_ = 0;
  pendingEvents_ = 0;
  lineErrors_ = 0;
  return kErrorSuccess;
}

std::uint32_t CSerialPort::ReadSettings(termios& settings) {
  return ::tcgetattr(device_.Get(), &settings) == 0 ? kErrorSuccess : LastErrno();
}

std::uint32_t CSerialPort::ApplySettings(const termios& settings) {
  return ::tcsetattr(device_.Get(), TCSANOW, &settings) == 0 ? kErrorSuccess : LastErrno();
}

bool CSerialPort::ReadSettingsForQuery(termios& settings) {
  Succeed();
  if (!IsPortOpen()) {
    Fail(kErrorInvalidHandle);
    return false;
  }
  if (const std::uint32_t error = ReadSettings(settings)) {
    Fail(error);
    return false;
  }
  return true;
}

std::uint32_t CSerialPort::SetLineFormat(std::uint32_t baud, int dataBits, int parity,
                                         int stopBits) {
  Succeed();
  if (!IsPortOpen()) return Fail(kErrorInvalidHandle);
  termios settings{};
  if (const std::uint32_t error = ReadSettings(settings)) return Fail(error);
  const termios previous = settings;

  const std::optional<speed_t> speed = SpeedCode(baud);
  if (!speed) return Fail(EINVAL);

  settings.c_cflag &= ~kFormatControlFlags;
  switch (dataBits) {
    case 5: settings.c_cflag |= CS5; break;
    case 6: settings.c_cflag |= CS6; break;
    case 7: settings.c_cflag |= CS7; break;
    case 8: settings.c_cflag |= CS8; break;
    default: return Fail(EINVAL);
  }
  switch (parity) {
    case kNoParity: break;
    case kOddParity: settings.c_cflag |= PARENB | PARODD; break;
    case kEvenParity: settings.c_cflag |= PARENB; break;
    case kMarkParity: settings.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case kSpaceParity: settings.c_cflag |= PARENB | CMSPAR; break;
    default: return Fail(EINVAL);
  }
  // Parity is checked on input exactly when the line carries it.
  if (parity == kNoParity)
    settings.c_iflag &= ~INPCK;
  else
    settings.c_iflag |= INPCK;
  // With 5 data bits the UART turns CSTOPB into one and a half stop bits.
  switch (stopBits) {
    case kOneStopBit: break;
    case kOne5StopBits:
      if (dataBits != 5) return Fail(EINVAL);
      settings.c_cflag |= CSTOPB;
      break;
    case kTwoStopBits:
      if (dataBits == 5) return Fail(EINVAL);
      settings.c_cflag |= CSTOPB;
      break;
    default: return Fail(EINVAL);
  }
  ::cfsetispeed(&settings, *speed);
  ::cfsetospeed(&settings, *speed);
  if (const std::uint32_t error = ApplySettings(settings)) return Fail(error);

  // tcsetattr succeeds when any part of the request was taken; drivers quietly
  // drop what they cannot do (pseudo-terminals force 8 bits and no parity).
  termios applied{};
  if (const std::uint32_t error = ReadSettings(applied)) return Fail(error);
  if ((applied.c_cflag & kFormatControlFlags) != (settings.c_cflag & kFormatControlFlags) ||
      (applied.c_iflag & INPCK) != (settings.c_iflag & INPCK) ||
      ::cfgetospeed(&applied) != *speed) {
    ApplySettings(previous);
    return Fail(ENOTSUP);
  }
  return Succeed();
}

std::uint32_t CSerialPort::SetEventCharacter(std::uint8_t character, bool addToMask) {
  Succeed();
  if (!IsPortOpen()) return Fail(kErrorInvalidHandle);
  // The kernel has no event character; the driver watches incoming bytes for
  // it. Reading the settings still tells whether the device is there.
  termios settings{};
  if (const std::uint32_t error = ReadSettings(settings)) return Fail(error);
  {
    std::lock_guard lock(stateMutex_);
    eventCharacter_ = character;
  }
  if (addToMask) return SetEventMask(QueryEventMask() | kEvRxFlag);
  return Succeed();
}

std::uint32_t CSerialPort::SetEventMask(std::uint32_t mask) {
  Succeed();
  if (!IsPortOpen()) return Fail(kErrorInvalidHandle);
  std::lock_guard lock(stateMutex_);
  eventMask_ = mask;
  // A wait in progress ends with no events, as it would on a port whose
  // driver applies the new mask to the next wait only.
  ++maskChanges_;
  SignalEvent(eventWake_.Get());
  return Succeed();
}

std::uint32_t CSerialPort::SetFlowControl(int mode) {
  Succeed();
  if (!IsPortOpen()) return Fail(kErrorInvalidHandle);
  if (mode != kFlowNone && mode != kFlowHardware && mode != kFlowSoftware)
    return Fail(kErrorInvalidArg);
  termios settings{};
  if (const std::uint32_t error = ReadSettings(settings)) return Fail(error);
  const termios previous = settings;

  settings.c_cflag &= ~kFlowControlFlags;
  settings.c_iflag &= ~kFlowInputFlags;
  if (mode == kFlowHardware) settings.c_cflag |= CRTSCTS;
  if (mode == kFlowSoftware) settings.c_iflag |= IXON | IXOFF;
  if (const std::uint32_t error = ApplySettings(settings)) return Fail(error);

  termios applied{};
  if (const std::uint32_t error = ReadSettings(applied)) return Fail(error);
  if ((applied.c_cflag & kFlowControlFlags) != (settings.c_cflag & kFlowControlFlags) ||
      (applied.c_iflag & kFlowInputFlags) != (settings.c_iflag & kFlowInputFlags)) {
    ApplySettings(previous);
    return Fail(ENOTSUP);
  }

  // Hardware handshake: DTR on, and RTS raised so the kernel can drive it
  // (it lowers RTS itself while its input buffer is full). The other modes
  // leave both lines off.
  const int lines = TIOCM_DTR | TIOCM_RTS;
  const std::uint32_t error =
      ChangeModemLines(device_.Get(), mode == kFlowHardware ? TIOCMBIS : TIOCMBIC, lines);
  return error ? Fail(error) : Succeed();
}

std::uint32_t CSerialPort::SetReadMode(int mode) {
  Succeed();
  if (!IsPortOpen()) return Fail(kErrorInvalidHandle);
  if (mode != kReadNonBlocking && mode != kReadBlocking) return Fail(kErrorInvalidArg);
  readMode_ = mode;
  return Succeed();
}

bool CSerialPort::SetWriteTimeouts(std::uint32_t multiplierMs, std::uint32_t constantMs) {
  if (!IsPortOpen()) return false;
  writeMultiplierMs_ = multiplierMs;
  writeConstantMs_ = constantMs;
  return true;
}

std::int32_t CSerialPort::QueryBaudRate() {
  termios settings{};
  if (!ReadSettingsForQuery(settings)) return -1;
  const std::optional<std::uint32_t> rate = SpeedRate(::cfgetospeed(&settings));
  return rate ? static_cast<std::int32_t>(*rate) : -1;
}

std::int32_t CSerialPort::QueryDataBits() {
  termios settings{};
  if (!ReadSettingsForQuery(settings)) return -1;
  switch (settings.c_cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

std::int32_t CSerialPort::QueryParity() {
  termios settings{};
  if (!ReadSettingsForQuery(settings)) return -1;
  if (!(settings.c_cflag & PARENB) || !(settings.c_iflag & INPCK)) return kNoParity;
  const bool odd = settings.c_cflag & PARODD;
  if (settings.c_cflag & CMSPAR) return odd ? kMarkParity : kSpaceParity;
  return odd ? kOddParity : kEvenParity;
}

std::int32_t CSerialPort::QueryStopBits() {
  termios settings{};
  if (!ReadSettingsForQuery(settings)) return -1;
  if (!(settings.c_cflag & CSTOPB)) return kOneStopBit;
  return (settings.c_cflag & CSIZE) == CS5 ? kOne5StopBits : kTwoStopBits;
}

std::int32_t CSerialPort::QueryFlowControl() {
  termios settings{};
  if (!ReadSettingsForQuery(settings)) return -1;
  const bool hardware = settings.c_cflag & CRTSCTS;
  const bool software = (settings.c_iflag & IXON) && (settings.c_iflag & IXOFF);
  const bool anySoftware = settings.c_iflag & (IXON | IXOFF);
  // Mode 1 is reported for exactly what SetFlowControl(1) sets: CTS/RTS
  // handshake and no XON/XOFF. The modem lines are not part of the answer;
  // many devices have none to read back.
  if (hardware && !anySoftware) return kFlowHardware;
  if (software && !hardware) return kFlowSoftware;
  return kFlowNone;
}

std::uint32_t CSerialPort::QueryEventMask() {
  Succeed();
  if (!IsPortOpen()) {
    Fail(kErrorInvalidHandle);
    return 0;
  }
  std::lock_guard lock(stateMutex_);
  return eventMask_;
}

std::int32_t CSerialPort::QueryEventCharacter() {
  termios settings{};
  if (!ReadSettingsForQuery(settings)) return 0;
  std::lock_guard lock(stateMutex_);
  return eventCharacter_;
}

std::uint32_t CSerialPort::PurgeBuffers() {
  Succeed();
  if (!IsPortOpen()) return Fail(kErrorInvalidHandle);
  if (::tcflush(device_.Get(), TCIOFLUSH) != 0) return Fail(LastErrno());
  std::lock_guard lock(stateMutex_);
  inputQueue_.clear();
  // The bytes these announced are gone.
  pendingEvents_ &= ~(kEvRxChar | kEvRxFlag);
  return Succeed();
}

std::uint32_t CSerialPort::TakeEvents() {
  std::lock_guard lock(stateMutex_);
  const std::uint32_t events = eventsReceived_ & eventMask_;
  eventsReceived_ = 0;
  return events;
}

std::uint32_t CSerialPort::TakeLineErrors() {
  if (!IsPortOpen()) {
    Fail(kErrorInvalidHandle);
    return 0;
  }
  std::lock_guard lock(stateMutex_);
  const std::uint32_t errors = lineErrors_;
  lineErrors_ = 0;
  return errors;
}

void CSerialPort::WakeWaitersLocked(Waiter self) {
  if (self != Waiter::kEvents) SignalEvent(eventWake_.Get());
  if (self != Waiter::kReader) SignalEvent(readWake_.Get());
}

std::uint32_t CSerialPort::SampleLineCountersLocked() {
  if (!lineCountersWork_) return 0;
  serial_icounter_struct counters{};
  if (::ioctl(device_.Get(), TIOCGICOUNT, &counters) != 0) return 0;
  std::uint32_t events = 0;
  if (counters.frame != lineCounters_.frame) {
    lineErrors_ |= kCeFrame;
    events |= kEvErr;
  }
  if (counters.overrun != lineCounters_.overrun) {
    lineErrors_ |= kCeOverrun;
    events |= kEvErr;
  }
  if (counters.parity != lineCounters_.parity) {
    lineErrors_ |= kCeRxParity;
    events |= kEvErr;
  }
  if (counters.brk != lineCounters_.breaks) {
    lineErrors_ |= kCeBreak;
    events |= kEvBreak;
  }
  if (counters.buf_overrun != lineCounters_.bufferOverrun) lineErrors_ |= kCeRxOver;
  lineCounters_ = {counters.frame, counters.overrun, counters.parity, counters.brk,
                   counters.buf_overrun};
  return events;
}

std::uint32_t CSerialPort::PumpDeviceLocked(Waiter self) {
  if (hangUpError_ != 0) return hangUpError_;
  std::array<std::uint8_t, kReadChunkSize> chunk{};
  std::uint32_t newEvents = 0;
  bool gotBytes = false;
  for (;;) {
    const ssize_t n = ::read(device_.Get(), chunk.data(), chunk.size());
    if (n > 0) {
      gotBytes = true;
      newEvents |= kEvRxChar;
      for (const std::uint8_t byte : std::span(chunk).first(static_cast<std::size_t>(n))) {
        // Everything is read even when the queue is full: bytes left in the
        // kernel would keep the device readable and the worker spinning.
        if (inputQueue_.size() >= inputQueueLimit_) {
          lineErrors_ |= kCeRxOver;
          continue;
        }
        inputQueue_.push_back(byte);
        if (byte == eventCharacter_) newEvents |= kEvRxFlag;
      }
      if (static_cast<std::size_t>(n) < chunk.size()) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // A device that reports hang-up or error but has nothing to read and
      // no error to give is treated as gone, rather than polled forever.
      if (hangUpSignalled_ && !gotBytes) hangUpError_ = EIO;
      break;
    }
    // read() == 0 with VMIN 1 is a hang-up, never "no data yet".
    hangUpError_ = n == 0 ? EIO : LastErrno();
    break;
  }
  hangUpSignalled_ = false;
  newEvents |= SampleLineCountersLocked();
  if (newEvents != 0) {
    pendingEvents_ |= newEvents;
    WakeWaitersLocked(self);
  }
  return hangUpError_;
}

std::uint32_t CSerialPort::PollDeviceUnlocked(std::unique_lock<std::mutex>& lock, int wakeFd,
                                              int stopFd, int timeoutMs, bool& stopRequested) {
  std::array<pollfd, 3> fds{{{device_.Get(), POLLIN, 0}, {wakeFd, POLLIN, 0}, {stopFd, POLLIN, 0}}};
  lock.unlock();
  const int result = ::poll(fds.data(), fds.size(), timeoutMs);
  const int error = errno;
  lock.lock();
  if (result < 0) return error == EINTR ? kErrorSuccess : static_cast<std::uint32_t>(error);
  if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) hangUpSignalled_ = true;
  stopRequested = (fds[2].revents & POLLIN) != 0;
  return kErrorSuccess;
}

std::uint32_t CSerialPort::WaitForEvent(std::uint32_t timeoutMs) {
  const std::uint32_t code = WaitForPortEvent(-1, timeoutMs);
  return code != kErrorSuccess ? Fail(code) : Succeed();
}

std::uint32_t CSerialPort::WaitForPortEvent(int stopFd, std::uint32_t timeoutMs) {
  if (!IsPortOpen()) return kErrorInvalidHandle;
  const CDeadline deadline = CDeadline::FromTimeout(timeoutMs);
  std::unique_lock lock(stateMutex_);
  const std::uint64_t maskChangesAtStart = maskChanges_;
  for (;;) {
    // Reset before looking, so that a signal given after the look is seen.
    ResetEvent(eventWake_.Get());
    if (maskChanges_ != maskChangesAtStart) return kErrorSuccess;
    PumpDeviceLocked(Waiter::kEvents);
    if (const std::uint32_t ready = pendingEvents_ & eventMask_; ready != 0) {
      eventsReceived_ |= ready;
      pendingEvents_ = 0;
      return kErrorSuccess;
    }
    if (hangUpError_ != 0) return hangUpError_;
    if (deadline.HasPassed()) return kErrorTimeout;
    bool stopRequested = false;
    if (const std::uint32_t error = PollDeviceUnlocked(lock, eventWake_.Get(), stopFd,
                                                       deadline.PollTimeoutMs(), stopRequested))
      return error;
    if (stopRequested) return kErrorSuccess;
  }
}

std::uint32_t CSerialPort::ReadBytes(std::span<std::uint8_t> buffer, std::uint32_t* count,
                                     std::uint32_t timeoutMs) {
  Succeed();
  if (count) *count = 0;
  if (!IsPortOpen()) return Fail(kErrorInvalidHandle);
  if (buffer.empty()) return Succeed();
  const CDeadline deadline = CDeadline::FromTimeout(timeoutMs);
  std::unique_lock lock(stateMutex_);
  std::size_t taken = 0;
  for (;;) {
    ResetEvent(readWake_.Get());
    PumpDeviceLocked(Waiter::kReader);
    const std::size_t n = std::min(inputQueue_.size(), buffer.size() - taken);
    std::copy_n(inputQueue_.begin(), n, buffer.begin() + static_cast<std::ptrdiff_t>(taken));
    inputQueue_.erase(inputQueue_.begin(), inputQueue_.begin() + static_cast<std::ptrdiff_t>(n));
    taken += n;
    if (count) *count = static_cast<std::uint32_t>(taken);

    if (taken == buffer.size()) return Succeed();
    // What was queued before the hang-up is still delivered first.
    if (readMode_ == kReadNonBlocking)
      return taken > 0 || hangUpError_ == 0 ? Succeed() : Fail(hangUpError_);
    if (hangUpError_ != 0) return Fail(hangUpError_);
    // The bytes already taken stay in the caller's buffer and count.
    if (deadline.HasPassed()) return Fail(kErrorTimeout);
    bool stopRequested = false;
    if (const std::uint32_t error = PollDeviceUnlocked(lock, readWake_.Get(), -1,
                                                       deadline.PollTimeoutMs(), stopRequested))
      return Fail(error);
  }
}

std::uint32_t CSerialPort::WriteText(std::string_view text, std::uint32_t* written,
                                     std::uint32_t timeoutMs) {
  return WriteBytes(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                    written, timeoutMs);
}

std::uint32_t CSerialPort::WriteBytes(std::span<const std::uint8_t> data, std::uint32_t* written,
                                      std::uint32_t timeoutMs) {
  Succeed();
  if (written) *written = 0;
  if (!IsPortOpen()) return Fail(kErrorInvalidHandle);
  const int fd = device_.Get();

  // The earlier of the caller's time-out and the total write time-out.
  std::optional<std::uint64_t> limitMs;
  if (timeoutMs != kInfinite) limitMs = timeoutMs;
  if (writeMultiplierMs_ != 0 || writeConstantMs_ != 0) {
    const std::uint64_t total =
        std::uint64_t{writeMultiplierMs_} * data.size() + std::uint64_t{writeConstantMs_};
    limitMs = limitMs ? std::min(*limitMs, total) : total;
  }
  const CDeadline deadline(limitMs);

  std::size_t sent = 0;
  const auto report = [&] {
    if (written) *written = static_cast<std::uint32_t>(sent);
  };
  // A write that ran out of time is cancelled: what the kernel still holds is
  // not sent.
  const auto cancel = [&] {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0)
      sent -= std::min(sent, static_cast<std::size_t>(queued));
    ::tcflush(fd, TCOFLUSH);
    report();
    return Fail(kErrorTimeout);
  };

  while (sent < data.size()) {
    const ssize_t n = ::write(fd, data.data() + sent, data.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      report();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return Fail(LastErrno());
    // No room: flow control holds the line, or the kernel buffer is full.
    if (deadline.HasPassed()) return cancel();
    pollfd pfd{fd, POLLOUT, 0};
    if (::poll(&pfd, 1, deadline.PollTimeoutMs()) < 0 && errno != EINTR) return Fail(LastErrno());
  }

  // The kernel has every byte. With a time-out, the write also has to leave
  // the port within it, as a write held back by flow control must fail.
  if (!deadline.IsInfinite()) {
    for (;;) {
      int queued = 0;
      if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
      if (deadline.HasPassed()) return cancel();
      std::this_thread::sleep_for(
          std::min<Clock::duration>(kDrainCheckInterval, deadline.Remaining()));
    }
  }
  return Succeed();
}
