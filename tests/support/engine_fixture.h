#pragma once
// A fresh program state on the test host, with recording links and its own
// working directory (where "comms.txt" and "update.ini" land). Error checking
// is on, the serial interface active.

#include <string>
#include <string_view>
#include <vector>

#include "engine/main_window.h"
#include "support/fake_links.h"
#include "support/temp_files.h"
#include "support/test_host.h"

// Bytes as upper-case hexadecimal pairs separated by blanks: "3F 56 0D".
inline std::string Hex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

struct EngineFixture {
  CTempDir dir;
  CTestHost host;
  CFakeSerialLink serial;
  CFakeUdpSocket udp;
  CMainWindow w{host, serial, udp};

  EngineFixture() {
    host.Attach(&w);
    host.cwd = dir.path().string();
    w.commSettings.ignoreErrors = 0;
  }

  // The file that the next file dialog answers with.
  std::string ChooseFile(const std::string& name, std::string_view content) {
    host.chosenFile = dir.Write(name, content);
    return *host.chosenFile;
  }

  std::string TrafficLog() const { return ReadFileBytes(dir / "comms.txt"); }

  // Every command written to the serial port since the last call, as Hex.
  std::vector<std::string> TakeSent() {
    std::vector<std::string> sent;
    for (const Bytes& b : serial.writes) sent.push_back(Hex(b));
    serial.writes.clear();
    return sent;
  }

  // The radio answers; the program handles the reply at once.
  void Reply(std::string_view text) {
    serial.Deliver(text);
    host.RunPending();
  }

  // The radio identifies itself as a model 720 and accepts the start command,
  // so the file's first command goes out.
  void PassIdentification() {
    Reply("VER 1234 720\r");
    Reply("READY\r");
  }
};
