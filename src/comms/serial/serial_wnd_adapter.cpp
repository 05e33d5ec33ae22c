#include "comms/serial/serial_wnd_adapter.h"

// Stopping the worker here, before any base destructor runs, keeps the
// worker's virtual OnPortEvent call away from an object being torn down.
CSerialWndAdapter::~CSerialWndAdapter() { CSerialWnd::ClosePort(); }

std::uint32_t CSerialWndAdapter::OpenForWindow(std::string_view portName, INotifyTarget* target,
                                               unsigned message, std::uint32_t param,
                                               std::uint32_t inQueue, std::uint32_t outQueue) {
  return CSerialWnd::OpenForWindow(portName, target, message, param, inQueue, outQueue);
}

bool CSerialWndAdapter::IsPortOpen() const { return CSerialWnd::IsPortOpen(); }

std::uint32_t CSerialWndAdapter::ClosePort() { return CSerialWnd::ClosePort(); }

std::uint32_t CSerialWndAdapter::SetLineFormat(std::uint32_t baud, int dataBits, int parity,
                                               int stopBits) {
  return CSerialWnd::SetLineFormat(baud, dataBits, parity, stopBits);
}

std::uint32_t CSerialWndAdapter::SetFlowControl(int mode) {
  return CSerialWnd::SetFlowControl(mode);
}

bool CSerialWndAdapter::SetWriteTimeouts(std::uint32_t multiplierMs, std::uint32_t constantMs) {
  return CSerialWnd::SetWriteTimeouts(multiplierMs, constantMs);
}

std::uint32_t CSerialWndAdapter::SetEventCharacter(std::uint8_t character, bool addToMask) {
  return CSerialWnd::SetEventCharacter(character, addToMask);
}

std::uint32_t CSerialWndAdapter::SetEventMask(std::uint32_t mask) {
  return CSerialWnd::SetEventMask(mask);
}

std::uint32_t CSerialWndAdapter::PurgeBuffers() { return CSerialWnd::PurgeBuffers(); }

std::uint32_t CSerialWndAdapter::WriteBytes(std::span<const std::uint8_t> data,
                                            std::uint32_t* written, std::uint32_t timeoutMs) {
  return CSerialWnd::WriteBytes(data, written, timeoutMs);
}

std::uint32_t CSerialWndAdapter::ReadBytes(std::span<std::uint8_t> buffer, std::uint32_t* count,
                                           std::uint32_t timeoutMs) {
  return CSerialWnd::ReadBytes(buffer, count, timeoutMs);
}

std::uint32_t CSerialWndAdapter::LastError() const { return CSerialWnd::LastError(); }
