#include "support/fake_links.h"

#include <algorithm>

#include "platform/window_message.h"

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::uint32_t CFakeSerialLink::OpenForWindow(std::string_view name, INotifyTarget* t, unsigned msg,
                                             std::uint32_t, std::uint32_t, std::uint32_t) {
  calls.push_back("OpenForWindow " + std::string(name));
  if (open) return kErrorAlreadyInitialized;
  if (openError != 0) return openError;
  open = true;
  portName = name;
  target = t;
  message = msg != 0 ? msg : RegisterWindowMessage(kSerialNotifyMessageName);
  return 0;
}

std::uint32_t CFakeSerialLink::ClosePort() {
  calls.push_back("ClosePort");
  open = false;
  return 0;
}

std::uint32_t CFakeSerialLink::SetLineFormat(std::uint32_t baud, int dataBits, int parity, int stopBits) {
  calls.push_back("SetLineFormat " + std::to_string(baud) + " " + std::to_string(dataBits) + " " +
                  std::to_string(parity) + " " + std::to_string(stopBits));
  return open ? 0 : kErrorInvalidHandle;
}

std::uint32_t CFakeSerialLink::SetFlowControl(int mode) {
  calls.push_back("SetFlowControl " + std::to_string(mode));
  return open ? 0 : kErrorInvalidHandle;
}

bool CFakeSerialLink::SetWriteTimeouts(std::uint32_t multiplierMs, std::uint32_t constantMs) {
  calls.push_back("SetWriteTimeouts " + std::to_string(multiplierMs) + " " + std::to_string(constantMs));
  return open;
}

std::uint32_t CFakeSerialLink::SetEventCharacter(std::uint8_t character, bool addToMask) {
  calls.push_back("SetEventCharacter " + std::to_string(character) + " " + std::to_string(addToMask));
  return open ? 0 : kErrorInvalidHandle;
}

std::uint32_t CFakeSerialLink::SetEventMask(std::uint32_t mask) {
  calls.push_back("SetEventMask " + std::to_string(mask));
  return open ? 0 : kErrorInvalidHandle;
}

std::uint32_t CFakeSerialLink::PurgeBuffers() {
  ++purges;
  incoming.clear();
  return open ? 0 : kErrorInvalidHandle;
}

std::uint32_t CFakeSerialLink::WriteBytes(std::span<const std::uint8_t> data, std::uint32_t* written,
                                          std::uint32_t) {
  if (written) *written = 0;
  if (!open) return kErrorInvalidHandle;
  writes.emplace_back(data.begin(), data.end());
  if (written) *written = static_cast<std::uint32_t>(data.size());
  if (onWrite) onWrite(writes.back());
  return 0;
}

std::uint32_t CFakeSerialLink::ReadBytes(std::span<std::uint8_t> buffer, std::uint32_t* count, std::uint32_t) {
  if (count) *count = 0;
  if (!open) return kErrorInvalidHandle;
  const std::size_t n = std::min(buffer.size(), incoming.size());
  std::copy_n(incoming.begin(), n, buffer.begin());
  incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(n));
  if (count) *count = static_cast<std::uint32_t>(n);
  return 0;
}

void CFakeSerialLink::Deliver(std::string_view reply) {
  incoming.insert(incoming.end(), reply.begin(), reply.end());
  if (target) target->PostNotify(message, kEvRxFlag, 0);
}

int CFakeUdpSocket::Create(int, std::string_view) {
  ++creates;
  if (createError != 0) return createError;
  open = true;
  return 0;
}

int CFakeUdpSocket::Connect(std::string_view host, int port) {
  connects.push_back(std::string(host) + ":" + std::to_string(port));
  return 0;
}

int CFakeUdpSocket::Send(std::span<const std::uint8_t> datagram) {
  if (!open) return -1;
  datagrams.emplace_back(datagram.begin(), datagram.end());
  if (onSend) onSend(datagrams.back());
  return static_cast<int>(datagram.size());
}

void CFakeUdpSocket::Close() { open = false; }
