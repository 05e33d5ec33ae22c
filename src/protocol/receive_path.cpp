// Serial notifications: one event character, one reply.

#include <array>

#include "engine/main_window.h"
#include "platform/window_message.h"
#include "protocol/reply_text.h"

void CMainWindow::OnSerialNotify(std::uint32_t wParam, std::uint32_t /*lParam*/) {
  if ((wParam & 0xFFFF & kEvRxFlag) == 0) return;  // line errors alone are dropped
  host_.KillTimer(kVersionReplyTimerId);

  std::array<std::uint8_t, kSerialReceiveBufferSize + 1> buffer{};
  std::uint32_t count = 0;
  serialPort_.ReadBytes(std::span(buffer.data(), kSerialReceiveBufferSize), &count, kInfinite);
  if (count > kSerialReceiveBufferSize) count = kSerialReceiveBufferSize;
  // Bytes beyond the first read belong to no reply we can still match.
  serialPort_.PurgeBuffers();
  buffer[count] = 0;

  const std::span<const std::uint8_t> reply(buffer.data(), count);
  LogEvent("Serial Receive ", RenderHexUpper(reply));
  ParseReply(reply);
}

void CMainWindow::OnMessage(unsigned message, std::uint32_t wParam, std::uint32_t lParam) {
  if (message == serialNotifyMessage)
    OnSerialNotify(wParam, lParam);
  else if (message == kWmContinueProcessing)
    OnContinueProcessing();
}
