#pragma once
// CSerialWnd: a CSerialEventPort that reports each worker wake-up to a
// notification target (the main window) as one posted message.
//
// The message's first parameter carries the events in its low 16 bits and the
// line error flags in its high 16 bits; the second carries the caller's value.

#include <cstdint>
#include <mutex>
#include <string_view>

#include "comms/serial/serial_event_port.h"
#include "platform/host.h"

class CSerialWnd : public CSerialEventPort {
 public:
  CSerialWnd() = default;
  ~CSerialWnd() override;

  // Opens the port and starts the worker. message 0 means the registered
  // serial message (kSerialNotifyMessageName). A null target opens the port
  // but posts nothing. A failed open changes nothing else.
  virtual std::uint32_t OpenForWindow(std::string_view portName, INotifyTarget* target,
                                      unsigned message, std::uint32_t param,
                                      std::uint32_t inQueue, std::uint32_t outQueue);
  // Forgets the target first, so nothing is posted once this has begun.
  std::uint32_t ClosePort() override;

 protected:
  void OnPortEvent(std::uint32_t events, std::uint32_t errors) override;

 private:
  std::mutex targetMutex_;  // the worker posts while the UI thread may close
  INotifyTarget* targetWindow_ = nullptr;
  unsigned notifyMessage_ = 0;
  std::uint32_t notifyParam_ = 0;
};
