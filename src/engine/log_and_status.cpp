// The log text and the pending status slot; the host shows them.

#include "engine/main_window.h"

void CMainWindow::AppendLog(std::string_view text) {
  logText += text;
  host_.SetLogViewText(logText);
}

void CMainWindow::ShowStatus(std::int8_t pane, std::string_view text) {
  statusText = text;
  statusPane = pane;
  host_.SetStatusPane(statusPane, statusText);
}
