// Every command to the radio: framing, the traffic log and the response timer.

#include <string>
#include <vector>

#include "engine/main_window.h"
#include "platform/text.h"

void CMainWindow::SendCommand(std::string_view command) {
  SendCommand(std::span(reinterpret_cast<const std::uint8_t*>(command.data()), command.size()));
}

void CMainWindow::SendCommand(std::span<const std::uint8_t> command) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string trace;
  trace.reserve(command.size() * 3);
  // A datagram starts with the passcode's low 16 bits, high byte first.
  const auto passcode = static_cast<std::uint32_t>(commSettings.passcode);
  std::vector<std::uint8_t> datagram{static_cast<std::uint8_t>(passcode >> 8 & 0xFF),
                                     static_cast<std::uint8_t>(passcode & 0xFF)};
  datagram.insert(datagram.end(), command.begin(), command.end());
  for (std::uint8_t b : command) {
    trace += kDigits[b >> 4];
    trace += kDigits[b & 0x0F];
    trace += ' ';
  }
  LogSent(trace);
  // Armed before the bytes leave, so the period counts from just before the write.
  ArmResponseTimer();
  if (commSettings.useSerial) serialPort_.WriteBytes(command, nullptr, kInfinite);
  if (commSettings.useEthernet) udpSocket_.Send(datagram);
}

std::string CMainWindow::Timestamp() {
  const UtcTime t = host_.UtcNow();
  return Format("%02u:%02u:%02u:%04u", t.hour, t.minute, t.second, t.millisecond);
}

void CMainWindow::LogSent(std::string_view text) {
  const std::string stamp = Timestamp();
  if (!commsLog.IsOpen()) return;
  commsLog.Write(stamp + " R< " + std::string(text) + "\n");
}

void CMainWindow::LogReceived(std::string_view text) {
  const std::string stamp = Timestamp();
  if (!commsLog.IsOpen()) return;
  commsLog.Write(stamp + " R> " + std::string(text) + "\n");
}

void CMainWindow::LogEvent(std::string_view label, std::string_view text) {
  const std::string stamp = Timestamp();
  if (!commsLog.IsOpen()) return;
  commsLog.Write(stamp + "[[" + std::string(label) + " " + std::string(text) + "]]\n");
}

void CMainWindow::ArmResponseTimer() {
  if (commSettings.ignoreErrors == 0) updateSession.responseTimeoutMs = kCheckedResponseTimeoutMs;
  host_.SetTimer(kResponseTimerId, static_cast<unsigned>(updateSession.responseTimeoutMs));
}

void CMainWindow::KillResponseTimer() { host_.KillTimer(kResponseTimerId); }

std::string CMainWindow::TrafficLogPath() {
  const std::string dir = host_.CurrentDirectory();
  if (dir.empty()) return "comms.txt";
  return dir.back() == '/' ? dir + "comms.txt" : dir + "/comms.txt";
}

void CMainWindow::OpenTrafficLog() {
  if (commsLog.IsOpen()) commsLog.Close();
  if (commsLog.Open(TrafficLogPath())) commsLog.Write("Log File Begin\n");
}
