#pragma once
// The host: everything the core needs from the outside world. The core never
// prints, never exits and never shows a window; it calls the host. Two hosts
// implement this: the Qt event loop (GUI and command line) and the test host
// with its virtual clock.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A UTC wall-clock reading, as the traffic log time stamps want it.
struct UtcTime {
  unsigned hour = 0;
  unsigned minute = 0;
  unsigned second = 0;
  unsigned millisecond = 0;
};

struct FileDialogRequest {
  std::string title;
  std::vector<std::pair<std::string, std::string>> filters;  // label, pattern
  std::string initialName;
  std::string defaultExtension;
};

// Receiver of window messages posted by other threads (the serial worker).
class INotifyTarget {
 public:
  virtual ~INotifyTarget() = default;
  // Thread-safe. The message reaches the window's OnMessage on the UI thread,
  // after the caller has moved on.
  virtual void PostNotify(unsigned message, std::uint32_t wParam, std::uint32_t lParam) = 0;
};

// What a host delivers to the window on the UI thread.
class IWindowProc {
 public:
  virtual ~IWindowProc() = default;
  virtual void OnTimer(int timerId) = 0;
  virtual void OnMessage(unsigned message, std::uint32_t wParam, std::uint32_t lParam) = 0;
};

class IHost : public INotifyTarget {
 public:
  // Window timers by id. Setting a timer kills any timer of the same id first;
  // a set timer fires every periodMs until killed. Killing an idle id is harmless.
  virtual void SetTimer(int timerId, unsigned periodMs) = 0;
  virtual void KillTimer(int timerId) = 0;

  // Readiness of a descriptor (the datagram socket) reaches onReadable on the
  // UI thread for as long as the descriptor is watched.
  virtual void WatchReadable(int fd, std::function<void()> onReadable) = 0;
  virtual void UnwatchReadable(int fd) = 0;

  // Synchronous UI calls. Modal ones return when the user closes them; the
  // host keeps dispatching timers, notifications and socket readiness meanwhile.
  virtual void SetLogViewText(std::string_view wholeText) = 0;
  virtual void ShowLogView() = 0;  // also switches the background picture off
  virtual void SetStatusPane(int pane, std::string_view text) = 0;
  virtual void MessageBox(std::string_view text) = 0;
  virtual std::optional<std::string> ChooseFile(const FileDialogRequest& request) = 0;
  // Runs the modal dialog of a resource id. For the personality dialog (128)
  // the result is the slot chosen, 1 to 6, or -1; for the others it is unused.
  virtual int RunDialog(int resourceId) = 0;
  virtual void Beep() = 0;

  // Told whenever an operation starts or stops running (front ends that wait
  // for the end of an operation use it; the GUI may ignore it).
  virtual void OperationStateChanged(bool /*running*/) {}

  // Clocks and the process environment.
  virtual UtcTime UtcNow() = 0;
  virtual std::int64_t WallSeconds() = 0;
  virtual std::string CurrentDirectory() = 0;
  // The short pause between one command and the next.
  virtual void BriefPause() = 0;
};

// Resource ids of the modal dialogs.
enum DialogResource : int {
  kDialogCommFailure = 113,
  kDialogUpdateDone = 117,
  kDialogVerifyDone = 118,
  kDialogNoErrorCheck = 120,
  kDialogVerifyFailed = 121,
  kDialogUpdateFailed = 122,
  kDialogSetup = 123,
  kDialogAbout = 124,
  kDialogPersonality = 128,
};
