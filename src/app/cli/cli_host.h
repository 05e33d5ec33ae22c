#pragma once
// The command line's host: the log on standard output as it grows, message
// boxes and outcome dialogs as one line each on standard error, and a
// progress bar on standard error when it is a terminal.

#include <chrono>
#include <optional>
#include <string>

#include "engine/main_window.h"
#include "platform/qt/qt_host.h"

class CCliHost : public CQtHost {
 public:
  CCliHost(std::string file, std::optional<int> slot);
  void SetWindow(CMainWindow* window);

  void SetLogViewText(std::string_view wholeText) override;
  void ShowLogView() override {}
  void SetStatusPane(int pane, std::string_view text) override;
  void MessageBox(std::string_view text) override;
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;
  int RunDialog(int resourceId) override;
  void Beep() override {}
  void OperationStateChanged(bool running) override;

  // Prints a line on standard error, clear of the progress bar.
  void PrintError(std::string_view line);

 private:
  void DrawProgress(bool force);
  void ClearProgress();

  std::string file_;
  std::optional<int> slot_;
  CMainWindow* window_ = nullptr;
  std::size_t printed_ = 0;  // how much of the log text is on standard output
  bool outputLost_ = false;
  bool progressOnTerminal_;
  bool progressShown_ = false;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastDraw_;
};
