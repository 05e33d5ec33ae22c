#include "platform/qt/qt_host.h"

#include <time.h>
#include <unistd.h>

#include <QMetaObject>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace {
// Between one command and the next: long enough to let a slow radio breathe,
// far below the pace its replies set.
constexpr auto kCommandPause = std::chrono::microseconds(30);
}  // namespace

CQtHost::CQtHost(QObject* parent) : QObject(parent) {}

CQtHost::~CQtHost() {
  for (auto& [fd, notifier] : notifiers_) delete notifier;
}

void CQtHost::SetTimer(int timerId, unsigned periodMs) {
  auto& timer = timers_[timerId];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer.get(), &QTimer::timeout, this, [this, timerId] {
      if (window_) window_->OnTimer(timerId);
    });
  }
  timer->stop();
  timer->start(static_cast<int>(periodMs));
}

void CQtHost::KillTimer(int timerId) {
  if (auto it = timers_.find(timerId); it != timers_.end()) it->second->stop();
}

void CQtHost::PostNotify(unsigned message, std::uint32_t wParam, std::uint32_t lParam) {
  // Queued into this object's thread, whichever thread posts.
  QMetaObject::invokeMethod(
      this,
      [this, message, wParam, lParam] {
        if (window_) window_->OnMessage(message, wParam, lParam);
      },
      Qt::QueuedConnection);
}

void CQtHost::WatchReadable(int fd, std::function<void()> onReadable) {
  UnwatchReadable(fd);
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
  QObject::connect(notifier, &QSocketNotifier::activated, this, [callback = std::move(onReadable)] { callback(); });
  notifiers_[fd] = notifier;
}

void CQtHost::UnwatchReadable(int fd) {
  auto it = notifiers_.find(fd);
  if (it == notifiers_.end()) return;
  // The call may come from inside the notifier's own signal.
  it->second->setEnabled(false);
  it->second->deleteLater();
  notifiers_.erase(it);
}

UtcTime CQtHost::UtcNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  ::gmtime_r(&now.tv_sec, &utc);
  return UtcTime{static_cast<unsigned>(utc.tm_hour), static_cast<unsigned>(utc.tm_min),
                 static_cast<unsigned>(utc.tm_sec), static_cast<unsigned>(now.tv_nsec / 1000000)};
}

std::int64_t CQtHost::WallSeconds() { return static_cast<std::int64_t>(::time(nullptr)); }

std::string CQtHost::CurrentDirectory() {
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

void CQtHost::BriefPause() { std::this_thread::sleep_for(kCommandPause); }
