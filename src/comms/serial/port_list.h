#pragma once
// The machine's serial ports, for the Setup dialog's drop-down and the
// command line's port listing.

#include <string>
#include <string_view>
#include <vector>

struct SerialPortInfo {
  std::string path;      // "/dev/ttyUSB0": what OpenPort takes
  std::string byIdPath;  // "/dev/serial/by-id/usb-FTDI_...-if00-port0", or empty
  std::string driver;    // kernel driver of the tty's device ("ftdi_sio", "serial8250")
  // USB descriptor strings, empty for ports that are not on USB.
  std::string vendorId;   // "0403"
  std::string productId;  // "6001"
  std::string manufacturer;
  std::string product;
};

inline constexpr std::string_view kDefaultSysfsRoot = "/sys";
inline constexpr std::string_view kDefaultDevRoot = "/dev";

// Ports with a device behind them: USB and ACM adapters first (the likely
// radio cable), then other hardware UARTs, then the standard ttyS ports whose
// UART was detected. Virtual terminals and pseudo-terminals are left out.
// The roots are parameters so that a test can use a made-up tree.
std::vector<SerialPortInfo> ListSerialPorts(std::string_view sysfsRoot = kDefaultSysfsRoot,
                                            std::string_view devRoot = kDefaultDevRoot);
