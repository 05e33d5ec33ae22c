#include "support/test_host.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {
// 13:05:09.042 UTC on a day in 2026.
constexpr std::int64_t kTestEpochMs = 1796994309042LL;
}

CTestHost::CTestHost() : epochMs(kTestEpochMs) {}

void CTestHost::SetTimer(int timerId, unsigned periodMs) {
  timers_[timerId] = Timer{periodMs, nowMs_ + periodMs, timerOrder_++};
}

void CTestHost::KillTimer(int timerId) { timers_.erase(timerId); }

std::optional<unsigned> CTestHost::TimerPeriod(int timerId) const {
  auto it = timers_.find(timerId);
  if (it == timers_.end()) return std::nullopt;
  return it->second.period;
}

void CTestHost::PostNotify(unsigned message, std::uint32_t wParam, std::uint32_t lParam) {
  std::lock_guard lock(postedMutex_);
  posted_.emplace_back(message, wParam, lParam);
}

void CTestHost::WatchReadable(int fd, std::function<void()> onReadable) { watched_[fd] = std::move(onReadable); }
void CTestHost::UnwatchReadable(int fd) { watched_.erase(fd); }

void CTestHost::SetLogViewText(std::string_view wholeText) { logView = wholeText; }

void CTestHost::SetStatusPane(int pane, std::string_view text) {
  if (pane >= 0 && pane < 3) panes[pane] = text;
}

void CTestHost::MessageBox(std::string_view text) {
  messageBoxes.emplace_back(text);
  if (onMessageBox) onMessageBox(text);
}

std::optional<std::string> CTestHost::ChooseFile(const FileDialogRequest& request) {
  fileRequests.push_back(request);
  return chosenFile;
}

int CTestHost::RunDialog(int resourceId) {
  dialogs.push_back(resourceId);
  if (onDialog) return onDialog(resourceId);
  return resourceId == kDialogPersonality ? personalityChoice : 0;
}

UtcTime CTestHost::UtcNow() {
  const std::int64_t ms = epochMs + nowMs_;
  const std::int64_t dayMs = ms % 86400000;
  return UtcTime{static_cast<unsigned>(dayMs / 3600000), static_cast<unsigned>(dayMs / 60000 % 60),
                 static_cast<unsigned>(dayMs / 1000 % 60), static_cast<unsigned>(dayMs % 1000)};
}

std::int64_t CTestHost::WallSeconds() { return (epochMs + nowMs_) / 1000; }

bool CTestHost::RunPending() {
  bool any = false;
  for (;;) {
    std::tuple<unsigned, std::uint32_t, std::uint32_t> message;
    {
      std::lock_guard lock(postedMutex_);
      if (posted_.empty()) break;
      message = posted_.front();
      posted_.pop_front();
    }
    any = true;
    if (window_) window_->OnMessage(std::get<0>(message), std::get<1>(message), std::get<2>(message));
  }
  std::vector<pollfd> fds;
  for (const auto& [fd, callback] : watched_) fds.push_back(pollfd{fd, POLLIN, 0});
  if (!fds.empty() && ::poll(fds.data(), fds.size(), 0) > 0) {
    for (const pollfd& p : fds) {
      if (p.revents == 0) continue;
      auto it = watched_.find(p.fd);
      if (it == watched_.end()) continue;
      any = true;
      auto callback = it->second;  // the callback may unwatch itself
      callback();
    }
  }
  return any;
}

void CTestHost::Advance(std::int64_t ms) {
  const std::int64_t target = nowMs_ + ms;
  for (;;) {
    RunPending();
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
      if (next == timers_.end() || it->second.due < next->second.due ||
          (it->second.due == next->second.due && it->second.order < next->second.order))
        next = it;
    if (next == timers_.end() || next->second.due > target) break;
    nowMs_ = next->second.due;
    next->second.due += next->second.period;
    const int id = next->first;
    if (window_) window_->OnTimer(id);
  }
  nowMs_ = target;
  RunPending();
}

bool CTestHost::WaitUntil(const std::function<bool()>& pred, int realTimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realTimeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (!RunPending()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool CTestHost::RunUntil(const std::function<bool()>& pred, std::int64_t maxVirtualMs) {
  const std::int64_t limit = nowMs_ + maxVirtualMs;
  while (!pred()) {
    if (RunPending()) continue;
    std::int64_t nextDue = -1;
    for (const auto& [id, t] : timers_)
      if (nextDue < 0 || t.due < nextDue) nextDue = t.due;
    if (nextDue < 0 || nextDue > limit) return false;
    Advance(nextDue - nowMs_);
  }
  return true;
}
