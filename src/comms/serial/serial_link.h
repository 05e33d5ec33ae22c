#pragma once
// The serial port as the rest of the program sees it: the operations that the
// link opening, the command send, the receive path and the retry policy call on
// the program's one driver object. The real driver (CSerialWndAdapter) and the
// test doubles implement it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/host.h"

// Error codes of the driver itself; system failures keep their errno value.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorAlreadyInitialized = 1247;
inline constexpr std::uint32_t kErrorTimeout = 1460;
inline constexpr std::uint32_t kErrorInvalidArg = 2147942487u;  // E_INVALIDARG

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// Event bits.
inline constexpr std::uint32_t kEvRxChar = 0x0001;
inline constexpr std::uint32_t kEvRxFlag = 0x0002;
inline constexpr std::uint32_t kEvBreak = 0x0040;
inline constexpr std::uint32_t kEvErr = 0x0080;

// Line error flags.
inline constexpr std::uint32_t kCeRxOver = 0x0001;
inline constexpr std::uint32_t kCeOverrun = 0x0002;
inline constexpr std::uint32_t kCeRxParity = 0x0004;
inline constexpr std::uint32_t kCeFrame = 0x0008;
inline constexpr std::uint32_t kCeBreak = 0x0010;

// Parity and stop-bit values.
inline constexpr int kNoParity = 0;
inline constexpr int kOneStopBit = 0;

class ISerialLink {
 public:
  virtual ~ISerialLink() = default;

  // Opens the named port, starts the worker and posts one notification to
  // target for every wake-up that found events: message (the registered
  // serial message when 0), wParam = errors << 16 | events, lParam = param.
  virtual std::uint32_t OpenForWindow(std::string_view portName, INotifyTarget* target,
                                      unsigned message, std::uint32_t param,
                                      std::uint32_t inQueue, std::uint32_t outQueue) = 0;
  virtual bool IsPortOpen() const = 0;
  virtual std::uint32_t ClosePort() = 0;

  virtual std::uint32_t SetLineFormat(std::uint32_t baud, int dataBits, int parity, int stopBits) = 0;
  virtual std::uint32_t SetFlowControl(int mode) = 0;
  virtual bool SetWriteTimeouts(std::uint32_t multiplierMs, std::uint32_t constantMs) = 0;
  virtual std::uint32_t SetEventCharacter(std::uint8_t character, bool addToMask) = 0;
  virtual std::uint32_t SetEventMask(std::uint32_t mask) = 0;
  virtual std::uint32_t PurgeBuffers() = 0;

  virtual std::uint32_t WriteBytes(std::span<const std::uint8_t> data, std::uint32_t* written,
                                   std::uint32_t timeoutMs) = 0;
  virtual std::uint32_t ReadBytes(std::span<std::uint8_t> buffer, std::uint32_t* count,
                                  std::uint32_t timeoutMs) = 0;

  virtual std::uint32_t LastError() const = 0;
};

// The name the program registers for the serial notification message.
inline constexpr std::string_view kSerialNotifyMessageName = "CSerialWnd_DefaultComMsg";
