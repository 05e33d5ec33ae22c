#pragma once
// The engine fixture with short cuts for starting an operation and looking at
// what went out. One rig is one program run.

#include <cstddef>
#include <string>
#include <string_view>

#include "support/engine_fixture.h"

// Two records with different checksums (E7 and CE), then the end record.
inline constexpr std::string_view kTwoRecords = ":03001000010203E7\r\n:03002000040506CE\r\n:00000001FF\r\n";
// The commands of those two records in program mode.
inline const std::string kRecord1Command{"B\x03\x00\x10\x00\x01\x02\x03\xE7\r", 10};
inline const std::string kRecord2Command{"B\x03\x00\x20\x00\x04\x05\x06\xCE\r", 10};

struct ProtocolRig : EngineFixture {
  // Chooses a file of that name and content and runs the mode command.
  void Start(const std::string& fileName, std::string_view content,
             void (CMainWindow::*modeCommand)() = &CMainWindow::OnUpdateRadio) {
    ChooseFile(fileName, content);
    (w.*modeCommand)();
  }
  // A Merrow without extended memory, a file for it, the radio identified and
  // ready: the file's first record is out.
  void StartFirstRecord(std::string_view content = kTwoRecords) {
    Start("720-x.ruf", content);
    PassIdentification();
  }

  std::size_t SentCount() const { return serial.writes.size(); }
  std::string Sent(std::size_t i) const { return {serial.writes.at(i).begin(), serial.writes.at(i).end()}; }
  std::string LastSent() const { return serial.writes.empty() ? std::string() : Sent(SentCount() - 1); }
  // The traffic-log line of a reply handed to the parser, as its bytes render.
  static std::string ReceivedLine(std::string_view hex) { return " R> " + std::string(hex) + "\r\r\n"; }
};
