// Opening the UDP link, and what the socket reports.

#include <cerrno>
#include <cstring>

#include "engine/main_window.h"
#include "platform/text.h"

void CMainWindow::OpenEthernetLink() {
  AppendLog("Using Ethernet Interface \r\n");
  // A failed create is tried again: a user who freed the port expects the
  // next attempt to work.
  if (commSettings.udpPort == lastUdpPort && commSettings.ipAddress == lastIpAddress && udpSocketCreated) return;
  lastUdpPort = commSettings.udpPort;
  lastIpAddress = commSettings.ipAddress;
  if (!udpSocketCreated) {
    const int error = udpSocket_.Create(commSettings.udpPort, commSettings.localBindAddress);
    if (error == 0)
      udpSocketCreated = true;
    else
      host_.MessageBox(Format("Socket Create returned error code %d", error));
  }
  // The silence that follows a failed connect is reported by the timers; the
  // log says why it will come.
  if (const int error = udpSocket_.Connect(commSettings.ipAddress, commSettings.udpPort); error != 0 && udpSocketCreated)
    AppendLog(Format(" Unable to reach %s port %d: %s\r\n", commSettings.ipAddress.c_str(), commSettings.udpPort,
                     std::strerror(error)));
}

void CMainWindow::OnDatagram(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  ParseReply(bytes);
}

void CMainWindow::OnReceiveError(int error) {
  if (error == ECONNREFUSED) {
    // An ICMP "port unreachable" from a radio that is off: silence, which the
    // response timer reports in its own time.
    LogEvent("Socket Receive ", Format("%s: nothing listens at %s port %d", std::strerror(error),
                                       commSettings.ipAddress.c_str(), commSettings.udpPort));
    return;
  }
  if (socketErrorShown_) return;  // once per operation, not once per datagram
  socketErrorShown_ = true;
  host_.MessageBox("Windows Socket Error occurred");
}
