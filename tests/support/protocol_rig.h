#pragma once
// A main window on the fake serial link and the test host, working in a fresh
// temporary folder with errors checked, plus short cuts for starting an
// operation and answering it. One rig is one program run.

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/main_window.h"
#include "support/fake_links.h"
#include "support/temp_files.h"
#include "support/test_host.h"

// Two records with different checksums (E7 and CE), then the end record.
inline constexpr std::string_view kTwoRecords = ":03001000010203E7\r\n:03002000040506CE\r\n:00000001FF\r\n";
// The commands of those two records in program mode.
inline const std::string kRecord1Command{"B\x03\x00\x10\x00\x01\x02\x03\xE7\r", 10};
inline const std::string kRecord2Command{"B\x03\x00\x20\x00\x04\x05\x06\xCE\r", 10};

struct ProtocolRig {
  ProtocolRig() {
    host.Attach(&w);
    host.cwd = dir.path().string();
    w.commSettings.ignoreErrors = 0;
  }

  // Chooses a file of that name and content and runs the mode command.
  void Start(const std::string& fileName, std::string_view content,
             void (CMainWindow::*modeCommand)() = &CMainWindow::OnUpdateRadio) {
    host.chosenFile = dir.Write(fileName, content);
    (w.*modeCommand)();
  }
  // A Merrow without extended memory, a file for it, the radio identified and
  // ready: the file's first record is out.
  void StartFirstRecord(std::string_view content = kTwoRecords) {
    Start("720-x.ruf", content);
    Reply("VER 1234 720\r");
    Reply("READY\r");
  }
  // One reply of the radio over the serial line, handled at once.
  void Reply(std::string_view reply) {
    serial.Deliver(reply);
    host.RunPending();
  }

  std::size_t SentCount() const { return serial.writes.size(); }
  std::string Sent(std::size_t i) const { return {serial.writes.at(i).begin(), serial.writes.at(i).end()}; }
  std::string LastSent() const { return serial.writes.empty() ? std::string() : Sent(SentCount() - 1); }
  std::string Trace() const { return ReadFileBytes(dir / "comms.txt"); }
  // The traffic-log line of a reply handed to the parser, as its bytes render.
  static std::string ReceivedLine(std::string_view hex) { return " R> " + std::string(hex) + "\r\r\n"; }

  CTempDir dir;
  CTestHost host;
  CFakeSerialLink serial;
  CFakeUdpSocket udp;
  CMainWindow w{host, serial, udp};
};
