#include "comms/serial/open_failure.h"

#include <cerrno>
#include <cstring>

#include "platform/text.h"

std::string DescribeSerialOpenFailure(std::string_view portName, std::uint32_t error) {
  std::string text = Format("Unable to open %.*s: %s", static_cast<int>(portName.size()), portName.data(),
                            std::strerror(static_cast<int>(error)));
  switch (error) {
    case EACCES:
      text += " (add your user to the \"dialout\" group, then log out and in again)";
      break;
    case EBUSY:
      text += " (another program holds the port)";
      break;
    default:
      break;
  }
  return text;
}
