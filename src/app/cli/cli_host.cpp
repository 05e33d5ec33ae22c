#include "app/cli/cli_host.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "platform/text.h"
#include "resources/dialog_texts.h"

namespace {

constexpr auto kProgressRedrawInterval = std::chrono::milliseconds(100);
constexpr int kProgressBarWidth = 30;

// A dialog's text on one line: its line breaks become single blanks.
std::string OneLine(std::string_view text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == ' ') {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

}  // namespace

CCliHost::CCliHost(std::string file, std::optional<int> slot)
    : file_(std::move(file)), slot_(slot), progressOnTerminal_(::isatty(STDERR_FILENO) == 1) {}

void CCliHost::SetWindow(CMainWindow* window) {
  window_ = window;
  Attach(window);
}

void CCliHost::SetLogViewText(std::string_view wholeText) {
  if (wholeText.size() < printed_) printed_ = 0;  // a new operation emptied the log
  if (wholeText.size() == printed_) return;
  ClearProgress();
  if (!outputLost_) {
    std::fwrite(wholeText.data() + printed_, 1, wholeText.size() - printed_, stdout);
    // Nobody reads any more: the operation goes on without its log.
    if (std::fflush(stdout) != 0) outputLost_ = true;
  }
  printed_ = wholeText.size();
  DrawProgress(true);
}

void CCliHost::SetStatusPane(int pane, std::string_view /*text*/) {
  if (pane == 0) DrawProgress(false);
}

void CCliHost::PrintError(std::string_view line) {
  ClearProgress();
  std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  std::fflush(stderr);
}

void CCliHost::MessageBox(std::string_view text) { PrintError(OneLine(text)); }

std::optional<std::string> CCliHost::ChooseFile(const FileDialogRequest&) {
  started_ = std::chrono::steady_clock::now();
  return file_;
}

int CCliHost::RunDialog(int resourceId) {
  if (resourceId == kDialogPersonality) {
    if (slot_) {
      PrintError(*slot_ > 0 ? Format("Extended memory: programming radio personality %d", *slot_)
                            : std::string("Extended memory: slot choice cancelled"));
      return *slot_;
    }
    PrintError("The radio has extended memory and asks which of its six programs to replace: run again with "
               "--slot 1..6 (or --slot cancel). Nothing was written.");
    return -1;
  }
  PrintError(OneLine(DialogTextOf(resourceId).text));
  return 0;
}

void CCliHost::OperationStateChanged(bool running) {
  if (running) return;
  ClearProgress();
  // The rest of the call (the summary, the outcome) runs first.
  QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
}

void CCliHost::ClearProgress() {
  if (!progressShown_) return;
  std::fputs("\r\033[K", stderr);
  progressShown_ = false;
}

void CCliHost::DrawProgress(bool force) {
  if (!progressOnTerminal_ || !window_ || !window_->IsOperationRunning()) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && progressShown_ && now - lastDraw_ < kProgressRedrawInterval) return;
  lastDraw_ = now;
  const auto& s = window_->updateSession;
  const double total = s.totalLines > 0 ? s.totalLines : 1;
  // The E and G lines are processed but not counted as data lines, so the
  // count done can pass the total: show no more than the total.
  const unsigned shownDone = std::min<unsigned>(s.linesProcessed, static_cast<unsigned>(std::max(s.totalLines, 0)));
  const double done = static_cast<double>(shownDone);
  const double fraction = done / total > 1 ? 1 : done / total;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const double rate = seconds > 0 ? done / seconds : 0;
  const int filled = static_cast<int>(fraction * kProgressBarWidth);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(kProgressBarWidth, '.');
  std::string left = "--:--";
  if (rate > 0) {
    const int remaining = static_cast<int>((total - done) / rate);
    left = Format("%d:%02d", remaining / 60, remaining % 60);
  }
  std::fprintf(stderr, "\r\033[K[%s] %u/%d lines %3d%% %.0f lines/s %s left", bar.c_str(), shownDone,
               s.totalLines, static_cast<int>(fraction * 100), rate, left.c_str());
  std::fflush(stderr);
  progressShown_ = true;
}
