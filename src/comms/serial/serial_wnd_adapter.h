#pragma once
// CSerialWndAdapter: the program's serial driver object. It is the CSerialWnd
// chain seen through ISerialLink, the interface the link opening, the command
// send and the receive path use; the notification target is the host's
// window (any INotifyTarget).

#include <cstdint>
#include <span>
#include <string_view>

#include "comms/serial/serial_link.h"
#include "comms/serial/serial_wnd.h"

class CSerialWndAdapter : public CSerialWnd, public ISerialLink {
 public:
  CSerialWndAdapter() = default;
  ~CSerialWndAdapter() override;

  std::uint32_t OpenForWindow(std::string_view portName, INotifyTarget* target, unsigned message,
                              std::uint32_t param, std::uint32_t inQueue,
                              std::uint32_t outQueue) override;
  bool IsPortOpen() const override;
  std::uint32_t ClosePort() override;

  std::uint32_t SetLineFormat(std::uint32_t baud, int dataBits, int parity,
                              int stopBits) override;
  std::uint32_t SetFlowControl(int mode) override;
  bool SetWriteTimeouts(std::uint32_t multiplierMs, std::uint32_t constantMs) override;
  std::uint32_t SetEventCharacter(std::uint8_t character, bool addToMask) override;
  std::uint32_t SetEventMask(std::uint32_t mask) override;
  std::uint32_t PurgeBuffers() override;

  std::uint32_t WriteBytes(std::span<const std::uint8_t> data, std::uint32_t* written,
                           std::uint32_t timeoutMs) override;
  std::uint32_t ReadBytes(std::span<std::uint8_t> buffer, std::uint32_t* count,
                          std::uint32_t timeoutMs) override;

  std::uint32_t LastError() const override;
};
