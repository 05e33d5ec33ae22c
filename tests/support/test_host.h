#pragma once
// A host for tests: a virtual clock that tests advance by hand, and a record
// of every UI call so tests can assert on it.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/host.h"

class CTestHost : public IHost {
 public:
  CTestHost();
  void Attach(IWindowProc* window) { window_ = window; }

  // IHost
  void SetTimer(int timerId, unsigned periodMs) override;
  void KillTimer(int timerId) override;
  void PostNotify(unsigned message, std::uint32_t wParam, std::uint32_t lParam) override;
  void WatchReadable(int fd, std::function<void()> onReadable) override;
  void UnwatchReadable(int fd) override;
  void SetLogViewText(std::string_view wholeText) override;
  void ShowLogView() override { logViewShown = true; }
  void SetStatusPane(int pane, std::string_view text) override;
  void MessageBox(std::string_view text) override;
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;
  int RunDialog(int resourceId) override;
  void Beep() override { ++beeps; }
  void OperationStateChanged(bool running) override { runningChanges.push_back(running); }
  UtcTime UtcNow() override;
  std::int64_t WallSeconds() override;
  std::string CurrentDirectory() override { return cwd; }
  void BriefPause() override {}

  // The virtual clock: fires due timers in order, delivering posted messages
  // between them.
  void Advance(std::int64_t ms);
  std::int64_t NowMs() const { return nowMs_; }
  // The period of a running timer, or nullopt.
  std::optional<unsigned> TimerPeriod(int timerId) const;
  // Delivers posted messages and socket readiness; returns whether any was.
  bool RunPending();
  // Pumps (in real time) until pred holds or the time is up.
  bool WaitUntil(const std::function<bool()>& pred, int realTimeoutMs = 5000);
  // Runs until pred holds, advancing the virtual clock to the next timer
  // whenever nothing else is pending. False if it would pass maxVirtualMs.
  bool RunUntil(const std::function<bool()>& pred, std::int64_t maxVirtualMs = 600000);

  // What the UI was told.
  std::string logView;
  bool logViewShown = false;
  std::string panes[3] = {" ", "", ""};
  std::vector<std::string> messageBoxes;
  std::vector<int> dialogs;
  std::vector<FileDialogRequest> fileRequests;
  std::vector<bool> runningChanges;
  int beeps = 0;

  // What the UI answers.
  std::optional<std::string> chosenFile;
  std::function<int(int)> onDialog;         // called while a dialog is open
  std::function<void(std::string_view)> onMessageBox;
  int personalityChoice = 1;
  std::string cwd;
  std::int64_t epochMs;  // the wall-clock time at virtual 0

 private:
  struct Timer {
    unsigned period;
    std::int64_t due;
    std::uint64_t order;
  };
  IWindowProc* window_ = nullptr;
  std::int64_t nowMs_ = 0;
  std::uint64_t timerOrder_ = 0;
  std::map<int, Timer> timers_;
  std::mutex postedMutex_;
  std::deque<std::tuple<unsigned, std::uint32_t, std::uint32_t>> posted_;
  std::map<int, std::function<void()>> watched_;
};
