// ruf-flash: the update engine behind a command line, for flashing from
// scripts or over SSH. Same engine, same wire, same "comms.txt" as the GUI.

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "app/cli/check_report.h"
#include "app/cli/cli_host.h"
#include "app/cli/cli_options.h"
#include "comms/serial/port_list.h"
#include "comms/serial/serial_wnd_adapter.h"
#include "comms/udp/radio_socket.h"
#include "engine/main_window.h"

namespace {

enum ExitStatus : int {
  kExitSuccess = 0,
  kExitFlashFailed = 1,
  kExitCommFailure = 2,
  kExitRefused = 3,
  kExitUnjudged = 4,
  kExitUsage = 64,
  kExitInterrupted = 130,
};

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

int ExitStatusOf(const CMainWindow& w) {
  const UpdateSession& s = w.updateSession;
  switch (w.LastOperationEnd()) {
    case OperationEnd::Completed:
      if (w.commSettings.ignoreErrors == 1) return kExitUnjudged;
      if (s.mode == kModeTest) return kExitSuccess;
      return s.failureFlag == 1 || s.checksumErrors > 0 ? kExitFlashFailed : kExitSuccess;
    case OperationEnd::CommFailure:
    case OperationEnd::Running:
      return kExitCommFailure;
    case OperationEnd::Aborted:
      return kExitInterrupted;
    case OperationEnd::NotStarted:
    case OperationEnd::ModelRefused:
    case OperationEnd::ModelUnknown:
    case OperationEnd::SlotCancelled:
      break;
  }
  return kExitRefused;
}

int ListPorts() {
  const auto ports = ListSerialPorts();
  if (ports.empty()) {
    std::fprintf(stderr, "No serial ports found on this machine.\n");
    return kExitSuccess;
  }
  for (const SerialPortInfo& p : ports) {
    std::string line = p.path;
    if (!p.vendorId.empty()) line += "  usb " + p.vendorId + ":" + p.productId;
    if (!p.manufacturer.empty() || !p.product.empty()) line += "  " + p.manufacturer + " " + p.product;
    if (!p.driver.empty()) line += "  (" + p.driver + ")";
    if (!p.byIdPath.empty()) line += "  " + p.byIdPath;
    std::printf("%s\n", line.c_str());
  }
  return kExitSuccess;
}

int RunOperation(const CliOptions& options, QCoreApplication& app) {
  std::error_code ec;
  const std::string file = std::filesystem::absolute(options.file, ec).string();
  CCliHost host(file, options.slot);
  CSerialWndAdapter serialPort;
  CRadioSocket udpSocket(host);
  CMainWindow w(host, serialPort, udpSocket);
  host.SetWindow(&w);

  w.ReadSettings();  // never written back: overrides hold for this run only
  CommSettings& c = w.commSettings;
  if (options.port) {
    c.comPort = *options.port;
    c.useSerial = 1;
    c.useEthernet = 0;
  }
  if (options.udpHost) {
    c.ipAddress = *options.udpHost;
    c.udpPort = *options.udpPort;
    c.useSerial = 0;
    c.useEthernet = 1;
  }
  if (options.passcode) c.passcode = *options.passcode;
  if (options.ignoreErrors) c.ignoreErrors = *options.ignoreErrors;
  if (options.bindAddress) c.localBindAddress = *options.bindAddress;

  if (options.slot && c.ignoreErrors == 1) {
    // With the answers unexamined the radio is never asked for its slot, and
    // the file's own erase command would wipe its main program.
    host.PrintError("--slot needs error checking, and it is off (update.ini has STOP ON ERRORS=1, or there is no "
                    "update.ini): add --check-errors.");
    return kExitRefused;
  }
  if (options.command == CliCommand::Verify && c.ignoreErrors != 0) {
    host.PrintError("Verifying needs error checking, and it is off (update.ini has STOP ON ERRORS=1, or there is "
                    "no update.ini): add --check-errors.");
    return kExitRefused;
  }
  if (c.ignoreErrors == 1)
    host.PrintError("Error checking is off (update.ini has STOP ON ERRORS=1, or there is no update.ini): the "
                    "radio's model and every answer go unchecked and the result cannot be judged. Add --check-errors "
                    "to have them checked.");

  // Ctrl-C stops the operation cleanly.
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return kExitRefused;
  QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
  bool interrupted = false;
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
    char drain[16];
    while (::read(g_signalPipe[0], drain, sizeof drain) > 0) {
    }
    interrupted = true;
    w.AbortOperation("Interrupted by the user: the radio may be partly programmed");
    host.PrintError("Interrupted.");
    QCoreApplication::exit(0);
  });
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  // A flash must not die half-way because the reader of our output went away
  // (a closed pipe, a dropped SSH session): it runs to its end, and
  // "comms.txt" tells how it went.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGHUP, SIG_IGN);

  QTimer::singleShot(0, &app, [&] {
    switch (options.command) {
      case CliCommand::Program: w.OnUpdateRadio(); break;
      case CliCommand::Verify: w.OnVerifyProgram(); break;
      default: w.OnTestMode(); break;
    }
    if (!w.IsOperationRunning()) QCoreApplication::exit(0);
  });
  app.exec();
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return interrupted ? kExitInterrupted : ExitStatusOf(w);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const std::optional<CliOptions> options = ParseCliOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "ruf-flash: %s\n\n%s", error.c_str(), kCliUsage);
    return kExitUsage;
  }
  switch (options->command) {
    case CliCommand::Help:
      std::fputs(kCliUsage, stdout);
      return kExitSuccess;
    case CliCommand::Check:
      return PrintCheckReport(options->file);
    case CliCommand::Ports:
      return ListPorts();
    default:
      break;
  }
  QCoreApplication app(argc, argv);
  return RunOperation(*options, app);
}
