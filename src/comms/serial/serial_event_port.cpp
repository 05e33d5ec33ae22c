#include "comms/serial/serial_event_port.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace {

bool IsSignalled(int eventFd) {
  pollfd pfd{eventFd, POLLIN, 0};
  return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN);
}

}  // namespace

CSerialEventPort::~CSerialEventPort() { CSerialEventPort::ClosePort(); }

std::uint32_t CSerialEventPort::OpenPort(std::string_view name, std::uint32_t inQueue,
                                         std::uint32_t outQueue) {
  if (const std::uint32_t error = CSerialPort::OpenPort(name, inQueue, outQueue)) return error;
  stopEvent_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!stopEvent_.IsOpen()) {
    const auto error = static_cast<std::uint32_t>(errno);
    CSerialPort::ClosePort();
    return Fail(error);
  }
  return LastError();
}

std::uint32_t CSerialEventPort::ClosePort() {
  StopWorker(kInfinite);
  stopEvent_.Reset();
  return CSerialPort::ClosePort();
}

std::uint32_t CSerialEventPort::StartWorker() {
  Succeed();
  if (!IsPortOpen() || !stopEvent_.IsOpen()) return Fail(kErrorInvalidHandle);
  if (IsWorkerRunning()) return Succeed();
  // A worker that ended on its own (the device hung up) is collected first.
  if (workerThread_.joinable()) workerThread_.join();

  // A stop request left from the previous worker must not end the new one.
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t drained = ::read(stopEvent_.Get(), &count, sizeof count);
  {
    std::lock_guard lock(workerMutex_);
    workerRunning_ = true;
  }
  try {
    workerThread_ = std::thread(&CSerialEventPort::RunWorker, this);
  } catch (const std::system_error& failure) {
    std::lock_guard lock(workerMutex_);
    workerRunning_ = false;
    return Fail(static_cast<std::uint32_t>(failure.code().value()));
  }
  return Succeed();
}

std::uint32_t CSerialEventPort::StopWorker(std::uint32_t timeoutMs) {
  if (!workerThread_.joinable()) return Succeed();
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t signalled = ::write(stopEvent_.Get(), &one, sizeof one);
  {
    std::unique_lock lock(workerMutex_);
    const auto ended = [this] { return !workerRunning_; };
    if (timeoutMs == kInfinite) {
      workerEnded_.wait(lock, ended);
    } else if (!workerEnded_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended)) {
      return Fail(kErrorTimeout);
    }
  }
  workerThread_.join();
  return Succeed();
}

bool CSerialEventPort::IsWorkerRunning() const {
  std::lock_guard lock(workerMutex_);
  return workerRunning_;
}

void CSerialEventPort::RunWorker() {
  for (;;) {
    // Ends on a failed wait: a hung-up device ends the worker without a word,
    // and the error stays in LastError().
    if (const std::uint32_t error = WaitForPortEvent(stopEvent_.Get(), kInfinite)) {
      Fail(error);
      break;
    }
    if (IsSignalled(stopEvent_.Get())) break;
    const std::uint32_t events = TakeEvents();
    const std::uint32_t errors = TakeLineErrors();
    if (events != 0) OnPortEvent(events, errors);
  }
  std::lock_guard lock(workerMutex_);
  workerRunning_ = false;
  workerEnded_.notify_all();
}
