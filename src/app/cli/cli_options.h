#pragma once
// The command line of ruf-flash.

#include <optional>
#include <string>
#include <vector>

enum class CliCommand { Program, Verify, Test, Check, Ports, Help };

struct CliOptions {
  CliCommand command = CliCommand::Help;
  std::string file;
  std::optional<std::string> port;
  std::optional<std::string> udpHost;
  std::optional<int> udpPort;
  std::optional<int> passcode;
  std::optional<int> ignoreErrors;  // --ignore-errors 1, --check-errors 0
  std::optional<int> slot;          // 1..6, -1 for cancel
  std::optional<std::string> bindAddress;
};

// Parses the arguments after the program name; an error message on failure.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const kCliUsage;
