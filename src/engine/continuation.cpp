// Driving the transmission forward, the end of processing and the outcome.

#include "engine/main_window.h"
#include "platform/text.h"

void CMainWindow::OnContinueProcessing() { ContinueProcessing(); }

LineResult CMainWindow::ContinueProcessing() {
  LineResult result;
  do {
    result = ProcessLine();
  } while (result == LineResult::Next);
  if (result == LineResult::EndOfFile) EndOfProcessing();
  return result;
}

void CMainWindow::EndOfProcessing() {
  UpdateSession& s = updateSession;
  ShowStatus(0, "");
  const int elapsed = static_cast<int>(host_.WallSeconds() - s.startTime);
  AppendLog(Format("%d Lines Processed in %d Seconds\r\n", s.totalLines, elapsed));
  LogEvent("End of Processing",
           Format("%d Checksum Errors Encountered. Total time %d Seconds", s.checksumErrors, elapsed));
  LogEvent("END OF ACTION", Format("FailureFlag=%d Total Errors=%d", s.failureFlag, s.checksumErrors));
  KillResponseTimer();
  StopRunning(OperationEnd::Completed);
  CloseConnection();
  if (s.failureFlag == 1 || s.checksumErrors > 0)
    ShowFailureOutcome();
  else
    ShowSuccessOutcome();
}

namespace {

int OutcomeDialog(const CommSettings& settings, std::int32_t mode, bool success) {
  if (settings.ignoreErrors == 1) return kDialogNoErrorCheck;
  if (mode == kModeProgram) return success ? kDialogUpdateDone : kDialogUpdateFailed;
  if (mode == kModeVerify) return success ? kDialogVerifyDone : kDialogVerifyFailed;
  return 0;  // test mode shows nothing
}

}  // namespace

void CMainWindow::ShowSuccessOutcome() { ShowOutcome(true); }

void CMainWindow::ShowFailureOutcome() { ShowOutcome(false); }

void CMainWindow::ShowOutcome(bool success) {
  UpdateSession& s = updateSession;
  if (s.outcomeShowing == 1) return;  // one outcome dialog at a time
  s.outcomeShowing = 1;
  ShowStatus(0, "");
  if (const int dialog = OutcomeDialog(commSettings, s.mode, success)) host_.RunDialog(dialog);
  s.outcomeShowing = 0;
}

void CMainWindow::ShowCommFailure() {
  host_.SetStatusPane(0, "");
  host_.Beep();
  host_.RunDialog(kDialogCommFailure);
  host_.SetStatusPane(0, "");
}
