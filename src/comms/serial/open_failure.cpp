#include "comms/serial/open_failure.h"

#include <cerrno>
#include <cstring>

#include "comms/serial/port_list.h"
#include "comms/serial/port_names.h"
#include "comms/serial/serial_link.h"
#include "platform/text.h"

std::string DescribeSerialOpenFailure(std::string_view portName, std::uint32_t error) {
  const std::string path = ResolvePortName(portName);
  const std::string reason = error == kErrorAlreadyInitialized ? std::string("the port is already open")
                                                               : std::string(std::strerror(static_cast<int>(error)));
  std::string text = Format("Unable to open %s: %s", path.c_str(), reason.c_str());
  switch (error) {
    case EACCES:
    case EPERM:
      text += " (add your user to the \"dialout\" group, then log out and in again)";
      break;
    case EBUSY:
      text += " (another program holds the port)";
      break;
    // "Inappropriate ioctl for device" means nothing to most people: the name
    // is that of a file or device that has no serial line settings.
    case ENOTTY:
    case EISDIR:
      text += " (not a serial port)";
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO: {
      const std::vector<SerialPortInfo> ports = ListSerialPorts();
      if (ports.empty()) {
        text += " (no serial port found on this machine: is the cable plugged in?)";
      } else {
        text += " (serial ports on this machine:";
        for (const SerialPortInfo& p : ports) text += " " + p.path;
        text += ")";
      }
      break;
    }
    default:
      break;
  }
  return text;
}
