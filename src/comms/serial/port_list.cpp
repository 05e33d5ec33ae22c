#include "comms/serial/port_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

namespace fs = std::filesystem;

namespace {

// How far up from a tty's device sysfs is searched for its USB device
// (tty -> interface -> device is two steps; hubs do not add any).
constexpr int kMaxUsbAncestorSteps = 4;
constexpr std::string_view kUartPrefix = "ttyS";
constexpr std::string_view kUsbSerialPrefix = "ttyUSB";
constexpr std::string_view kAcmPrefix = "ttyACM";
// Since Linux 6.5 the serial core puts a "port" and a "ctrl" device of its
// own bus between a UART's tty and the hardware; the driver worth naming is
// the one above them.
constexpr std::string_view kSerialCoreBus = "serial-base";
constexpr int kMaxSerialCoreSteps = 3;
// serial8250 registers a fixed number of ttyS ports; PORT_UNKNOWN (type 0)
// marks the ones with no UART behind them.
constexpr std::string_view kUnknownUartType = "0";

enum PortRank { kRankUsb = 0, kRankOtherUart = 1, kRankStandardUart = 2 };

std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string value;
  if (!in || !std::getline(in, value)) return {};
  while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
  return value;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

PortRank RankOf(std::string_view ttyName) {
  if (StartsWith(ttyName, kUsbSerialPrefix) || StartsWith(ttyName, kAcmPrefix)) return kRankUsb;
  if (StartsWith(ttyName, kUartPrefix)) return kRankStandardUart;
  return kRankOtherUart;
}

// "ttyUSB10" sorts after "ttyUSB9": the prefix, then the number.
std::tuple<std::string, unsigned long, std::string> NaturalKey(const std::string& name) {
  const auto digits = std::find_if(name.rbegin(), name.rend(),
                                   [](unsigned char c) { return !std::isdigit(c); })
                          .base();
  const std::string prefix(name.begin(), digits);
  const std::string number(digits, name.end());
  return {prefix, number.empty() || number.size() > 9 ? 0 : std::stoul(number), number};
}

std::string ReadDriverName(const fs::path& device) {
  std::error_code error;
  fs::path current = fs::canonical(device, error);
  if (error) return {};
  for (int step = 0; step <= kMaxSerialCoreSteps && !current.empty(); ++step) {
    const fs::path driver = fs::canonical(current / "driver", error);
    if (error) return {};
    // .../bus/<bus>/drivers/<driver>
    const fs::path bus = driver.parent_path().parent_path().filename();
    if (bus != kSerialCoreBus) return driver.filename().string();
    current = current.parent_path();
  }
  return {};
}

void ReadUsbAttributes(const fs::path& device, const fs::path& sysfsRoot, SerialPortInfo& info) {
  std::error_code error;
  fs::path current = fs::canonical(device, error);
  if (error) return;
  const fs::path root = fs::weakly_canonical(sysfsRoot, error);
  for (int step = 0; step <= kMaxUsbAncestorSteps && !current.empty(); ++step) {
    if (fs::exists(current / "idVendor", error)) {
      info.vendorId = ReadAttribute(current / "idVendor");
      info.productId = ReadAttribute(current / "idProduct");
      info.manufacturer = ReadAttribute(current / "manufacturer");
      info.product = ReadAttribute(current / "product");
      return;
    }
    if (current == root || current == current.root_path()) return;
    current = current.parent_path();
  }
}

// tty name -> /dev/serial/by-id link, for the links that resolve to a tty.
std::map<std::string, std::string> ReadByIdLinks(const fs::path& devRoot) {
  std::map<std::string, std::string> links;
  std::error_code error;
  const fs::path byIdDirectory = devRoot / "serial" / "by-id";
  for (fs::directory_iterator it(byIdDirectory, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code linkError;
    if (!it->is_symlink(linkError)) continue;
    fs::path target = fs::read_symlink(it->path(), linkError);
    if (linkError) continue;
    if (target.is_relative()) target = byIdDirectory / target;
    target = target.lexically_normal();
    links.emplace(target.filename().string(), it->path().string());
  }
  return links;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(std::string_view sysfsRoot, std::string_view devRoot) {
  const fs::path sysRoot(sysfsRoot);
  const fs::path dev(devRoot);
  std::map<std::string, std::string> byId = ReadByIdLinks(dev);
  std::vector<std::pair<std::string, SerialPortInfo>> found;

  std::error_code error;
  for (fs::directory_iterator it(sysRoot / "class" / "tty", error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    const fs::path device = it->path() / "device";
    std::error_code entryError;
    // Virtual consoles, pseudo-terminals and the console have no device.
    if (!fs::exists(device, entryError)) continue;
    if (RankOf(name) == kRankStandardUart &&
        ReadAttribute(it->path() / "type") == kUnknownUartType)
      continue;

    SerialPortInfo info;
    info.path = (dev / name).string();
    if (auto link = byId.find(name); link != byId.end()) {
      info.byIdPath = link->second;
      byId.erase(link);
    }
    info.driver = ReadDriverName(device);
    ReadUsbAttributes(device, sysRoot, info);
    found.emplace_back(name, std::move(info));
  }

  // A by-id link whose tty sysfs did not show (no sysfs in a container).
  for (const auto& [name, link] : byId) {
    SerialPortInfo info;
    info.path = (dev / name).string();
    info.byIdPath = link;
    found.emplace_back(name, std::move(info));
  }

  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return std::tuple(RankOf(a.first), NaturalKey(a.first)) <
           std::tuple(RankOf(b.first), NaturalKey(b.first));
  });
  std::vector<SerialPortInfo> ports;
  ports.reserve(found.size());
  for (auto& entry : found) ports.push_back(std::move(entry.second));
  return ports;
}
