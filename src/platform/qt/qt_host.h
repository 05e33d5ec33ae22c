#pragma once
// The event-loop host on Qt Core: window timers, posted notifications from the
// serial worker, socket readiness, clocks. Front ends derive from it and
// supply the UI calls (a terminal for the command line, widgets for the GUI).

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>

#include "platform/host.h"

class CQtHost : public QObject, public IHost {
 public:
  explicit CQtHost(QObject* parent = nullptr);
  ~CQtHost() override;
  void Attach(IWindowProc* window) { window_ = window; }

  void SetTimer(int timerId, unsigned periodMs) override;
  void KillTimer(int timerId) override;
  void PostNotify(unsigned message, std::uint32_t wParam, std::uint32_t lParam) override;
  void WatchReadable(int fd, std::function<void()> onReadable) override;
  void UnwatchReadable(int fd) override;
  UtcTime UtcNow() override;
  std::int64_t WallSeconds() override;
  std::string CurrentDirectory() override;
  void BriefPause() override;

 protected:
  IWindowProc* window() const { return window_; }

 private:
  IWindowProc* window_ = nullptr;
  // Timers are stopped, never deleted: a handler may kill its own timer.
  std::map<int, std::unique_ptr<QTimer>> timers_;
  std::map<int, QSocketNotifier*> notifiers_;
};
