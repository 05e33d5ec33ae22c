// Mode commands and the start of an operation: file choice, model number,
// data-line count, link opening and the version query.

#include <cstring>
#include <string>

#include "engine/main_window.h"
#include "engine/ruf_line.h"
#include "platform/text.h"
#include "platform/window_message.h"

namespace {

void ResetErrorCounters(UpdateSession& s) {
  s.checksumRetries = 0;
  s.timeoutRetries = 0;
  s.checksumErrors = 0;
  s.failureFlag = 0;
}

std::string FileNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the counting pass found: the data lines, and the first damaged record
// (line number and what is wrong with it), if any.
struct FileSurvey {
  std::int32_t dataLines = 0;
  int damagedLine = 0;
  std::string damage;
};

FileSurvey SurveyFile(CRufFile& file, bool checkRecords) {
  FileSurvey survey;
  std::string line;
  int lineNumber = 1;
  while (file.ReadLine(line)) {
    if (IsDataLine(line)) {
      ++survey.dataLines;
      if (checkRecords && survey.damagedLine == 0) {
        if (auto record = CheckRecordLine(line); record && !record->IsSound()) {
          survey.damagedLine = lineNumber;
          if (line.size() == kMaxLinePiece && line.back() != '\n')
            survey.damage = "is longer than 254 characters";
          else if (!record->fits)
            survey.damage = "is shorter than its record length says";
          else if (!record->digitsValid)
            survey.damage = "holds a character that is not a hexadecimal digit";
          else
            survey.damage = Format("has a checksum error (computed %02X, file %02X)",
                                   record->computedChecksum, record->fileChecksum);
        }
      }
    }
    if (!line.empty() && line.back() == '\n') ++lineNumber;
  }
  return survey;
}

}  // namespace

CMainWindow::CMainWindow(IHost& host, ISerialLink& serialPort, IUdpSocket& udpSocket)
    : serialNotifyMessage(RegisterWindowMessage(kSerialNotifyMessageName)),
      host_(host),
      serialPort_(serialPort),
      udpSocket_(udpSocket) {
  udpSocket_.SetSink(this);
}

CMainWindow::~CMainWindow() { udpSocket_.SetSink(nullptr); }

void CMainWindow::OnUpdateRadio() {
  ResetErrorCounters(updateSession);
  updateSession.mode = kModeProgram;
  host_.SetStatusPane(2, "Program Flash");
  StartOperation();
}

void CMainWindow::OnVerifyProgram() {
  ResetErrorCounters(updateSession);
  updateSession.mode = kModeVerify;
  host_.SetStatusPane(2, "Verify Flash");
  StartOperation();
  host_.SetStatusPane(2, "");
}

void CMainWindow::OnTestMode() {
  ResetErrorCounters(updateSession);
  updateSession.mode = kModeTest;
  host_.SetStatusPane(2, "TESTING MODE");
  StartOperation();
  host_.SetStatusPane(2, "");
}

void CMainWindow::OnQueryMode() { updateSession.mode = kModeQuery; }

void CMainWindow::StartOperation() {
  UpdateSession& s = updateSession;
  logText.clear();
  host_.SetLogViewText(logText);
  host_.ShowLogView();

  const std::optional<std::string> chosen = host_.ChooseFile(
      {"Select Firmware Update File",
       {{"Firmware Files(*.ruf)", "*.ruf"}, {"All Files(*.*)", "*.*"}},
       "*.ruf",
       "ruf"});
  if (!chosen) return;
  const std::string& path = *chosen;

  if (commSettings.ignoreErrors == 1)
    AppendLog("\r\n *** Detected Command Line Switch to Ignore Radio Responses and Errors *** \r\n");

  s.fileModel = DecimalOrZero(FileNameOf(path).substr(0, 3));

  AppendLog("\r\n Flash Rom Update File - " + path + "\r\n\r\n");
  if (s.mode == kModeVerify)
    AppendLog(" Please be patient while your radio is being verified.");
  else if (s.mode == kModeProgram)
    AppendLog(" Please be patient while your radio is being updated.");
  AppendLog("\r\n\r\n");

  s.extAddr = kExtAddrStart;
  s.lastExtAddr = kLastExtAddrStart;
  s.repeatStartCommand = 0;
  s.savedLine.clear();

  // The new operation takes over from one that is still running.
  if (operationRunning_) {
    host_.KillTimer(kVersionReplyTimerId);
    KillResponseTimer();
    StopRunning(OperationEnd::Aborted);
  }
  lastEnd_ = OperationEnd::NotStarted;
  socketErrorShown_ = false;

  s.file.Close();
  if (!s.file.Open(path)) {
    host_.MessageBox("Unable to open file");
    return;
  }
  // Programming writes flash: a damaged record must never reach the radio,
  // so the counting pass checks every record before anything is sent.
  const FileSurvey survey = SurveyFile(s.file, s.mode == kModeProgram);
  s.totalLines = survey.dataLines;
  AppendLog(Format(" %d total data lines in file.", s.totalLines));
  AppendLog("\r\n");
  // The file is refused before any link is opened: the log and a message box say why.
  std::string refusal;
  if (const int error = s.file.ReadError())
    refusal = Format("The selected file cannot be read: %s.", std::strerror(error));
  else if (survey.damagedLine != 0)
    refusal = Format("The selected file is damaged: line %d %s.", survey.damagedLine, survey.damage.c_str());
  if (!refusal.empty()) {
    s.file.Close();
    refusal += " Nothing was sent to the radio.";
    AppendLog(" " + refusal + "\r\n");
    host_.MessageBox(refusal);
    return;
  }

  s.file.Close();
  if (!s.file.Open(path)) {
    host_.MessageBox("Unable to open file");
    return;
  }

  s.startTime = host_.WallSeconds();
  s.linesProcessed = 0;
  s.personality = 0;

  if (commSettings.useSerial)
    OpenSerialLink();
  else if (commSettings.useEthernet)
    OpenEthernetLink();

  if (commSettings.useEthernet && !udpSocketCreated) return;

  if (trafficLogEnabled) OpenTrafficLog();

  // With nothing examined no identification takes place.
  radioIdentified_ = s.mode == kModeTest || commSettings.ignoreErrors == 1;
  s.responseTimeoutMs = kDefaultResponseTimeoutMs;
  host_.SetTimer(kVersionReplyTimerId, kVersionReplyTimeoutMs);
  StartRunning();
  SendCommand("?V\r");
}

void CMainWindow::StartRunning() {
  lastEnd_ = OperationEnd::Running;
  if (operationRunning_) return;
  operationRunning_ = true;
  host_.OperationStateChanged(true);
}

void CMainWindow::StopRunning(OperationEnd how) {
  if (!operationRunning_) return;
  operationRunning_ = false;
  lastEnd_ = how;
  host_.OperationStateChanged(false);
}

void CMainWindow::AbortOperation(std::string_view reason) {
  host_.KillTimer(kVersionReplyTimerId);
  KillResponseTimer();
  LogEvent("Operation Stopped", reason);
  commsLog.Close();
  StopRunning(OperationEnd::Aborted);
}
