// The command line of ruf-flash: what each argument list means, and which
// ones are usage errors.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"

namespace {

using Args = std::vector<std::string>;

struct Accepted {
  Args args;
  CliOptions expected;
};

CliOptions Options(CliCommand command, std::string file = {}) {
  CliOptions o;
  o.command = command;
  o.file = std::move(file);
  return o;
}

template <typename F>
CliOptions With(CliOptions o, F change) {
  change(o);
  return o;
}

void ExpectSame(const CliOptions& actual, const CliOptions& expected) {
  EXPECT_EQ(actual.command, expected.command);
  EXPECT_EQ(actual.file, expected.file);
  EXPECT_EQ(actual.port, expected.port);
  EXPECT_EQ(actual.udpHost, expected.udpHost);
  EXPECT_EQ(actual.udpPort, expected.udpPort);
  EXPECT_EQ(actual.passcode, expected.passcode);
  EXPECT_EQ(actual.ignoreErrors, expected.ignoreErrors);
  EXPECT_EQ(actual.slot, expected.slot);
  EXPECT_EQ(actual.bindAddress, expected.bindAddress);
}

std::string Shown(const Args& args) {
  std::string s = "ruf-flash";
  for (const std::string& a : args) s += " " + a;
  return s;
}

TEST(CliOptions, AcceptedCommandLines) {
  const std::vector<Accepted> cases = {
      {{"program", "720.ruf"}, Options(CliCommand::Program, "720.ruf")},
      {{"verify", "720.ruf"}, Options(CliCommand::Verify, "720.ruf")},
      {{"test", "720.ruf"}, Options(CliCommand::Test, "720.ruf")},
      {{"check", "720.ruf"}, Options(CliCommand::Check, "720.ruf")},
      {{"ports"}, Options(CliCommand::Ports)},
      {{"--help"}, Options(CliCommand::Help)},
      // Help wins over whatever else is there, even a mistake.
      {{"program", "-h", "--frobnicate"}, Options(CliCommand::Help)},
      // Options may come before, between and after the command and its file.
      {{"--port", "/dev/ttyUSB0", "program", "720.ruf"},
       With(Options(CliCommand::Program, "720.ruf"), [](CliOptions& o) { o.port = "/dev/ttyUSB0"; })},
      {{"program", "--check-errors", "720.ruf", "--slot", "4"},
       With(Options(CliCommand::Program, "720.ruf"), [](CliOptions& o) {
         o.ignoreErrors = 0;
         o.slot = 4;
       })},
      {{"program", "720.ruf", "--udp", "192.168.1.123:49152", "--passcode", "65535", "--bind", "127.0.0.1"},
       With(Options(CliCommand::Program, "720.ruf"), [](CliOptions& o) {
         o.udpHost = "192.168.1.123";
         o.udpPort = 49152;
         o.passcode = 65535;
         o.bindAddress = "127.0.0.1";
       })},
      {{"program", "720.ruf", "--udp", "radio.local:1", "--passcode", "0"},
       With(Options(CliCommand::Program, "720.ruf"), [](CliOptions& o) {
         o.udpHost = "radio.local";
         o.udpPort = 1;
         o.passcode = 0;
       })},
      // The last of two contrary switches holds.
      {{"program", "720.ruf", "--check-errors", "--ignore-errors"},
       With(Options(CliCommand::Program, "720.ruf"), [](CliOptions& o) { o.ignoreErrors = 1; })},
      {{"program", "720.ruf", "--slot", "1"},
       With(Options(CliCommand::Program, "720.ruf"), [](CliOptions& o) { o.slot = 1; })},
      {{"program", "720.ruf", "--slot", "6"},
       With(Options(CliCommand::Program, "720.ruf"), [](CliOptions& o) { o.slot = 6; })},
      {{"program", "720.ruf", "--slot", "cancel"},
       With(Options(CliCommand::Program, "720.ruf"), [](CliOptions& o) { o.slot = -1; })},
      // A file name that looks like nothing special is still a file name.
      {{"check", "-"}, Options(CliCommand::Check, "-")},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(Shown(c.args));
    std::string error;
    const std::optional<CliOptions> options = ParseCliOptions(c.args, error);
    ASSERT_TRUE(options.has_value()) << error;
    ExpectSame(*options, c.expected);
  }
}

TEST(CliOptions, UsageErrorsSayWhatIsWrong) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{}, "no command"},
      {{"flash", "720.ruf"}, "unknown command flash"},
      {{"program"}, "program needs exactly one FILE"},
      {{"program", "a.ruf", "b.ruf"}, "program needs exactly one FILE"},
      {{"ports", "a.ruf"}, "ports takes no FILE"},
      {{"program", "720.ruf", "--frobnicate"}, "unknown option --frobnicate"},
      {{"program", "720.ruf", "--port"}, "--port needs a value"},
      // A forgotten value must not swallow the next option.
      {{"program", "720.ruf", "--port", "--check-errors"}, "--port needs a value"},
      {{"program", "720.ruf", "--bind", "--udp", "127.0.0.2:5000"}, "--bind needs a value"},
      {{"program", "720.ruf", "--slot", "0"}, "--slot"},
      {{"program", "720.ruf", "--slot", "7"}, "--slot"},
      {{"program", "720.ruf", "--slot", "-1"}, "--slot"},
      {{"program", "720.ruf", "--slot", "4x"}, "--slot"},
      {{"program", "720.ruf", "--slot", "Cancel"}, "--slot"},
      {{"program", "720.ruf", "--udp", "127.0.0.2"}, "--udp"},
      {{"program", "720.ruf", "--udp", ":5000"}, "--udp"},
      {{"program", "720.ruf", "--udp", "127.0.0.2:"}, "--udp"},
      {{"program", "720.ruf", "--udp", "127.0.0.2:0"}, "--udp"},
      {{"program", "720.ruf", "--udp", "127.0.0.2:65536"}, "--udp"},
      {{"program", "720.ruf", "--udp", "127.0.0.2:-5"}, "--udp"},
      {{"program", "720.ruf", "--passcode", "65536"}, "--passcode"},
      {{"program", "720.ruf", "--passcode", "-1"}, "--passcode"},
      {{"program", "720.ruf", "--passcode", "0x10"}, "--passcode"},
      {{"program", "720.ruf", "--passcode", "99999999999999999999999"}, "--passcode"},
      {{"program", "720.ruf", "--port", "ttyS0", "--udp", "127.0.0.2:5000"}, "--port and --udp"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(Shown(args));
    std::string error;
    EXPECT_FALSE(ParseCliOptions(args, error).has_value());
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

}  // namespace
