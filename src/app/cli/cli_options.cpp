#include "app/cli/cli_options.h"

#include "platform/text.h"

const char* const kCliUsage =
    "Usage: ruf-flash COMMAND [FILE] [OPTIONS]\n"
    "\n"
    "Programs or verifies the flash memory of a radio from a RUF update file.\n"
    "\n"
    "Commands:\n"
    "  program FILE   write FILE into the radio's flash\n"
    "  verify FILE    compare the radio's flash with FILE\n"
    "  test FILE      send FILE in test mode (the radio writes nothing)\n"
    "  check FILE     check FILE without touching any port\n"
    "  ports          list the serial ports of this machine\n"
    "\n"
    "Options (for this run only; update.ini in the working directory is read, never written):\n"
    "  --port NAME        serial port: /dev/ttyUSB0, ttyUSB0 or COM1 (= /dev/ttyS0)\n"
    "  --udp HOST:PORT    use the Ethernet interface: the radio's address and UDP port\n"
    "  --passcode N       the radio's passcode (UDP)\n"
    "  --bind ADDR        local address for the UDP socket (default: every address)\n"
    "  --check-errors     check every answer of the radio (stop on errors)\n"
    "  --ignore-errors    ignore the radio's answers (the result cannot be judged)\n"
    "  --slot 1..6|cancel answer to the extended-memory question of a Merrow 720\n"
    "  --help             this text\n"
    "\n"
    "Exit status: 0 success, 1 flash failed or does not match, 2 communication failure,\n"
    "3 refused before anything was flashed, 4 done with error checking off,\n"
    "64 usage error, 130 interrupted.\n";

namespace {

std::optional<int> ParseInt(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  for (std::size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return std::nullopt;
  auto value = ReadLeadingDecimal(text);
  if (!value || *value > 0x7FFFFFFF || *value < -0x7FFFFFFF) return std::nullopt;
  return static_cast<int>(*value);
}

}  // namespace

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error) {
  CliOptions options;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // A forgotten value must not swallow the option after it: no port,
    // address or number begins with "--".
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
        error = arg + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.command = CliCommand::Help;
      return options;
    } else if (arg == "--port") {
      auto v = value();
      if (!v) return std::nullopt;
      options.port = *v;
    } else if (arg == "--udp") {
      auto v = value();
      if (!v) return std::nullopt;
      const auto colon = v->rfind(':');
      const auto port = colon == std::string::npos ? std::nullopt : ParseInt(v->substr(colon + 1));
      // Port 0 is no port a radio can listen on.
      if (!port || *port < 1 || *port > 65535 || colon == 0) {
        error = "--udp wants HOST:PORT, e.g. 192.168.1.123:49152";
        return std::nullopt;
      }
      options.udpHost = v->substr(0, colon);
      options.udpPort = *port;
    } else if (arg == "--passcode") {
      auto v = value();
      if (!v) return std::nullopt;
      options.passcode = ParseInt(*v);
      if (!options.passcode || *options.passcode < 0 || *options.passcode > 65535) {
        error = "--passcode wants a number from 0 to 65535";
        return std::nullopt;
      }
    } else if (arg == "--bind") {
      auto v = value();
      if (!v) return std::nullopt;
      options.bindAddress = *v;
    } else if (arg == "--ignore-errors") {
      options.ignoreErrors = 1;
    } else if (arg == "--check-errors") {
      options.ignoreErrors = 0;
    } else if (arg == "--slot") {
      auto v = value();
      if (!v) return std::nullopt;
      // -1 is how a cancelled choice is kept, not something to type.
      options.slot = *v == "cancel" ? std::optional<int>(-1) : ParseInt(*v);
      if (!options.slot || (*v != "cancel" && (*options.slot < 1 || *options.slot > 6))) {
        error = "--slot wants 1 to 6, or cancel";
        return std::nullopt;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return std::nullopt;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty()) {
    error = "no command given";
    return std::nullopt;
  }
  const std::string& command = positional[0];
  const bool wantsFile = command == "program" || command == "verify" || command == "test" || command == "check";
  if (command == "program") options.command = CliCommand::Program;
  else if (command == "verify") options.command = CliCommand::Verify;
  else if (command == "test") options.command = CliCommand::Test;
  else if (command == "check") options.command = CliCommand::Check;
  else if (command == "ports") options.command = CliCommand::Ports;
  else {
    error = "unknown command " + command;
    return std::nullopt;
  }
  if (wantsFile != (positional.size() == 2) || positional.size() > 2) {
    error = wantsFile ? command + " needs exactly one FILE" : command + " takes no FILE";
    return std::nullopt;
  }
  if (wantsFile) options.file = positional[1];
  if (options.port && options.udpHost) {
    error = "--port and --udp choose different interfaces; give one";
    return std::nullopt;
  }
  return options;
}
