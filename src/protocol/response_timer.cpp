// Silence of the radio: the response timer and the version-reply timer.

#include "engine/main_window.h"

void CMainWindow::OnTimer(int timerId) {
  UpdateSession& s = updateSession;
  if (timerId == kResponseTimerId) {
    KillResponseTimer();
    if (!operationRunning_) return;
    if (commSettings.ignoreErrors == 1) {
      OnContinueProcessing();  // the unanswered command is passed over
    } else if (s.timeoutRetries > kMaxTimeoutRetries) {
      StopRunning(OperationEnd::CommFailure);
      ShowCommFailure();
    } else {
      ++s.timeoutRetries;
      s.resendLine = 1;
      // A repeat before the first line (the start command unanswered) sends
      // nothing and so arms nothing: keep counting expiries, or the retry
      // limit never comes and the operation waits for ever.
      ArmResponseTimer();
      OnContinueProcessing();
    }
  } else if (timerId == kVersionReplyTimerId) {
    host_.KillTimer(kVersionReplyTimerId);
    if (!operationRunning_) return;
    // The user is told that communication failed: nothing more is tried.
    KillResponseTimer();
    StopRunning(OperationEnd::CommFailure);
    ShowCommFailure();
    serialPort_.PurgeBuffers();
  }
}
