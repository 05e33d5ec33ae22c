#include "comms/serial/serial_wnd.h"

#include "platform/window_message.h"

namespace {

constexpr std::uint32_t kWordMask = 0xFFFF;
constexpr unsigned kHighWordShift = 16;

}  // namespace

CSerialWnd::~CSerialWnd() { CSerialWnd::ClosePort(); }

std::uint32_t CSerialWnd::OpenForWindow(std::string_view portName, INotifyTarget* target,
                                        unsigned message, std::uint32_t param,
                                        std::uint32_t inQueue, std::uint32_t outQueue) {
  if (const std::uint32_t error = CSerialEventPort::OpenPort(portName, inQueue, outQueue))
    return error;
  {
    std::lock_guard lock(targetMutex_);
    targetWindow_ = target;
    notifyMessage_ = message != 0 ? message : RegisterWindowMessage(kSerialNotifyMessageName);
    notifyParam_ = param;
  }
  if (const std::uint32_t error = StartWorker()) {
    ClosePort();
    return Fail(error);
  }
  return Succeed();
}

std::uint32_t CSerialWnd::ClosePort() {
  {
    std::lock_guard lock(targetMutex_);
    targetWindow_ = nullptr;
    notifyMessage_ = 0;
  }
  return CSerialEventPort::ClosePort();
}

void CSerialWnd::OnPortEvent(std::uint32_t events, std::uint32_t errors) {
  const std::uint32_t wParam = ((errors & kWordMask) << kHighWordShift) | (events & kWordMask);
  // Held while posting, so that ClosePort cannot return while a post to the
  // target it just forgot is still under way.
  std::lock_guard lock(targetMutex_);
  if (targetWindow_ != nullptr) targetWindow_->PostNotify(notifyMessage_, wParam, notifyParam_);
}
