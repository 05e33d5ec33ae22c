// Taking the link down at the end of an operation. The serial port stays open
// so that bytes the radio sends afterwards are still delivered.

#include "engine/main_window.h"

void CMainWindow::CloseConnection() {
  lastUdpPort = 1;
  lastIpAddress.assign(1, ' ');  // one blank: equal to no address the user types
  udpSocketCreated = false;
  if (commsLog.IsOpen()) commsLog.Close();
  KillResponseTimer();
  AppendLog(" Close Communications Port\r\n");
  updateSession.file.Close();
  AppendLog(" Close File\r\n");
  udpSocket_.Close();
}
