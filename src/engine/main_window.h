#pragma once
// The main window's logic: every handler and operation of the update engine,
// the radio protocol, the communications and the settings file. It owns the
// program-wide records; a front end (Qt window, command line, test) supplies
// the host and the two links. A fresh CMainWindow is a fresh program state.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "comms/serial/serial_link.h"
#include "comms/traffic_log.h"
#include "comms/udp/udp_socket.h"
#include "engine/update_session.h"
#include "platform/host.h"
#include "settings/comm_settings.h"

// Window timers.
inline constexpr int kResponseTimerId = 103;
inline constexpr int kVersionReplyTimerId = 125;  // IDT_VERSION_REPLY
inline constexpr unsigned kVersionReplyTimeoutMs = 10000;
inline constexpr std::int32_t kCheckedResponseTimeoutMs = 5000;
// An expiry is answered with a resend while timeoutRetries is at most this.
inline constexpr std::int8_t kMaxTimeoutRetries = 6;
// A line is resent after each of its first three checksum mismatches.
inline constexpr std::int8_t kMaxChecksumRetries = 3;

inline constexpr std::size_t kSerialReceiveBufferSize = 128;
inline constexpr std::size_t kUdpReceiveBufferSize = 4096;
inline constexpr std::uint32_t kSerialBaudRate = 57600;
inline constexpr std::uint32_t kSerialQueueSize = 2048;

// How the last operation stopped.
enum class OperationEnd {
  NotStarted,     // refused before the version query (file, socket)
  Running,
  Completed,      // end of the file reached
  ModelRefused,   // the file is for another model
  ModelUnknown,   // the radio named a model this program does not know
  SlotCancelled,  // the extended-memory question was cancelled
  CommFailure,    // the radio went silent
  Aborted,        // stopped from outside (the command line's Ctrl-C)
};

class CMainWindow : public IWindowProc, public IDatagramSink {
 public:
  CMainWindow(IHost& host, ISerialLink& serialPort, IUdpSocket& udpSocket);
  ~CMainWindow() override;
  CMainWindow(const CMainWindow&) = delete;
  CMainWindow& operator=(const CMainWindow&) = delete;

  // Program-wide records.
  UpdateSession updateSession;
  CommSettings commSettings;
  CTrafficLog commsLog;
  bool trafficLogEnabled = true;
  std::string logText;
  std::string statusText;
  std::int8_t statusPane = 0;
  std::uint8_t receivedChecksum = 0;
  std::string versionText;  // "DSP VERSION %1.3f" of the last version reply
  // UDP link state.
  bool udpSocketCreated = false;
  std::string lastIpAddress = "0.0.0.0";
  std::int32_t lastUdpPort = 1;
  unsigned serialNotifyMessage;

  // Whether an operation is running: from the version query until the end of
  // processing, a refused model, a cancelled slot choice or a communication
  // failure. Replies and expiries that arrive when none runs advance nothing.
  bool IsOperationRunning() const { return operationRunning_; }
  OperationEnd LastOperationEnd() const { return lastEnd_; }
  // Ends the running operation at once (the command line's Ctrl-C): timers
  // killed, a last event line in "comms.txt", the traffic log closed.
  void AbortOperation(std::string_view reason);

  // Mode commands and the operation start.
  void OnUpdateRadio();
  void OnVerifyProgram();
  void OnTestMode();
  void OnQueryMode();
  void StartOperation();

  // Line processing, continuation and outcome.
  LineResult ProcessLine();
  void OnContinueProcessing();
  LineResult ContinueProcessing();
  void EndOfProcessing();
  void ShowSuccessOutcome();
  void ShowFailureOutcome();
  void ShowCommFailure();

  // Radio protocol. A reply's bytes; its text ends at the first zero byte.
  void ParseReply(std::span<const std::uint8_t> reply);
  void HandleVersionReply(std::span<const std::uint8_t> reply);
  void SelectPersonality();
  void OnTimer(int timerId) override;
  void OnSerialNotify(std::uint32_t wParam, std::uint32_t lParam);
  void OnMessage(unsigned message, std::uint32_t wParam, std::uint32_t lParam) override;

  // Communications.
  void SendCommand(std::span<const std::uint8_t> command);
  void SendCommand(std::string_view command);
  void LogSent(std::string_view text);
  void LogReceived(std::string_view text);
  void LogEvent(std::string_view label, std::string_view text);
  void ArmResponseTimer();
  void KillResponseTimer();
  void OpenTrafficLog();
  void OpenSerialLink();
  void OpenEthernetLink();
  void CloseConnection();
  void OnDatagram(std::span<const std::uint8_t> bytes) override;
  void OnReceiveError(int error) override;

  // Settings file.
  void ReadSettings();
  void WriteSettings();

  // Log and status display.
  void AppendLog(std::string_view text);
  void ShowStatus(std::int8_t pane, std::string_view text);


 private:
  void StartRunning();
  void StopRunning(OperationEnd how);
  void ShowOutcome(bool success);
  std::string Timestamp();
  std::string SettingsPath();
  std::string TrafficLogPath();
  LineResult ProcessIntelHexLine();
  LineResult ProcessSRecordLine();
  LineResult ProcessDirectiveLine();
  void LogFileChecksumError(std::uint8_t computed, std::uint8_t inFile);

  IHost& host_;
  ISerialLink& serialPort_;
  IUdpSocket& udpSocket_;
  bool operationRunning_ = false;
  OperationEnd lastEnd_ = OperationEnd::NotStarted;
  bool socketErrorShown_ = false;
  bool choosingSlot_ = false;
  bool radioIdentified_ = false;  // the start command is out (or nothing is checked)
};
