// Opening the radio's serial link at the start of an operation.

#include <cstring>

#include "comms/serial/open_failure.h"
#include "engine/main_window.h"

void CMainWindow::OpenSerialLink() {
  if (serialPort_.IsPortOpen()) serialPort_.ClosePort();
  const std::uint32_t error =
      serialPort_.OpenForWindow(commSettings.comPort, &host_, 0, 0, kSerialQueueSize, kSerialQueueSize);
  serialPort_.SetLineFormat(kSerialBaudRate, 8, kNoParity, kOneStopBit);
  serialPort_.SetFlowControl(1);
  serialPort_.SetWriteTimeouts(1, 1);  // n + 1 ms for n bytes
  serialPort_.SetEventCharacter(13, false);
  serialPort_.SetEventMask(kEvErr | kEvRxFlag);
  serialPort_.PurgeBuffers();
  AppendLog("Using Serial Interface \r\n");
  // The operation goes on and meets silence, but the user learns why.
  if (error != kErrorSuccess) AppendLog(" " + DescribeSerialOpenFailure(commSettings.comPort, error) + "\r\n");
}
