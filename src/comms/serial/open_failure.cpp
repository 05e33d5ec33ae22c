#include "comms/serial/open_failure.h"

#include <cerrno>
#include <cstring>

#include "comms/serial/port_list.h"
#include "comms/serial/port_names.h"
#include "comms/serial/serial_port.h"

std::string DescribeSerialOpenFailure(std::string_view portName, std::uint32_t error) {
  std::string text = "Unable to open " + ResolvePortName(portName) + ": ";
  if (error != ENOENT && error != ENODEV && error != ENXIO) return text + DescribeSerialError(error);
  // A missing device: name the ports that do exist.
  text += std::strerror(static_cast<int>(error));
  const std::vector<SerialPortInfo> ports = ListSerialPorts();
  if (ports.empty()) return text + " (no serial port found on this machine: is the cable plugged in?)";
  text += " (serial ports on this machine:";
  for (const SerialPortInfo& p : ports) text += " " + p.path;
  return text + ")";
}
