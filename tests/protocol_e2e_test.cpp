// Whole operations against the simulated radio on the serial line, run in
// virtual time: programming, verifying, and what the radio's flash ends up
// holding.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulated_radio.h"
#include "support/protocol_rig.h"

namespace {

// Erase, an extended address, two data records and a go command.
constexpr std::string_view kImage =
    "#V  1.00\r\n"
    ";Test image\r\n"
    "#E010203\r\n"
    ":02000002F0000C\r\n"
    ":03001000010203E7\r\n"
    ":040020001122334432\r\n"
    "#G00010203\r\n"
    ":00000001FF\r\n";
// The same image with one data byte changed (03 to 04 at 0x0012).
constexpr std::string_view kOtherImage =
    "#E010203\r\n"
    ":02000002F0000C\r\n"
    ":03001000010204E6\r\n"
    ":040020001122334432\r\n"
    ":00000001FF\r\n";

// The simulated radio behind the fake serial link: every write is fed to it
// and each of its replies arrives as the line would bring it.
class SimulatedLine {
 public:
  SimulatedLine(ProtocolRig& r, RadioConfig config) : radio(config), rig_(r) {
    r.serial.onWrite = [this](const Bytes& bytes) {
      for (const RadioReply& reply : radio.ReceiveStream(bytes))
        rig_.serial.Deliver({reinterpret_cast<const char*>(reply.bytes.data()), reply.bytes.size()});
    };
  }
  ~SimulatedLine() { rig_.serial.onWrite = nullptr; }

  // Runs one mode command on a file until its outcome dialog; the dialog's id.
  int Run(const std::string& fileName, std::string_view content, void (CMainWindow::*modeCommand)()) {
    rig_.host.dialogs.clear();
    rig_.Start(fileName, content, modeCommand);
    if (!rig_.host.RunUntil([&] { return !rig_.host.dialogs.empty(); })) return 0;
    EXPECT_FALSE(rig_.w.IsOperationRunning());
    return rig_.host.dialogs.back();
  }

  std::vector<std::uint8_t> FlashBytes(int slot, std::uint32_t address, std::size_t count) const {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(radio.Image(slot).Read(address + static_cast<std::uint32_t>(i)));
    return out;
  }

  CSimulatedRadio radio;

 private:
  ProtocolRig& rig_;
};

using ByteList = std::vector<std::uint8_t>;

TEST(ProtocolEndToEnd, ProgramThenVerifyThenVerifyAnotherImage) {
  ProtocolRig r;
  SimulatedLine line(r, RadioConfig{});

  EXPECT_EQ(line.Run("720-image.ruf", kImage, &CMainWindow::OnUpdateRadio), kDialogUpdateDone);
  EXPECT_EQ(line.FlashBytes(0, 0xF0010, 3), (ByteList{0x01, 0x02, 0x03}));
  EXPECT_EQ(line.FlashBytes(0, 0xF0020, 4), (ByteList{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(line.radio.Image(0).WrittenByteCount(), 7u);
  EXPECT_EQ(r.host.panes[1], "Merrow 720");
  EXPECT_EQ(r.w.updateSession.checksumErrors, 0);

  EXPECT_EQ(line.Run("720-image.ruf", kImage, &CMainWindow::OnVerifyProgram), kDialogVerifyDone);
  EXPECT_EQ(r.w.updateSession.checksumErrors, 0);

  EXPECT_EQ(line.Run("720-other.ruf", kOtherImage, &CMainWindow::OnVerifyProgram), kDialogVerifyFailed);
  EXPECT_EQ(r.w.updateSession.checksumErrors, 1);
  EXPECT_NE(r.TrafficLog().find("FailureFlag=1 Total Errors=1"), std::string::npos);
  // Verification neither erases nor writes.
  EXPECT_EQ(line.radio.Counters().erases, 1u);
  EXPECT_EQ(line.FlashBytes(0, 0xF0010, 3), (ByteList{0x01, 0x02, 0x03}));
}

TEST(ProtocolEndToEnd, LostRepliesAndDamagedRecordsAreRetriedToASoundImage) {
  ProtocolRig r;
  RadioConfig config;
  config.faults.dropEveryReply = 3;
  config.faults.badChecksumEvery = 2;
  SimulatedLine line(r, config);

  EXPECT_EQ(line.Run("720-image.ruf", kImage, &CMainWindow::OnUpdateRadio), kDialogUpdateDone);
  EXPECT_GT(line.radio.Counters().repliesDropped, 0u);
  EXPECT_GT(line.radio.Counters().damagedRecords, 0u);
  EXPECT_EQ(line.FlashBytes(0, 0xF0010, 3), (ByteList{0x01, 0x02, 0x03}));
  EXPECT_EQ(line.FlashBytes(0, 0xF0020, 4), (ByteList{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(r.w.updateSession.checksumErrors, 0);
}

TEST(ProtocolEndToEnd, ChosenSlotOfTheExtendedMemoryIsProgrammed) {
  ProtocolRig r;
  RadioConfig config;
  config.extendedMemory = true;
  SimulatedLine line(r, config);
  r.host.personalityChoice = 4;

  EXPECT_EQ(line.Run("720-image.ruf", kImage, &CMainWindow::OnUpdateRadio), kDialogUpdateDone);
  EXPECT_EQ(line.radio.ActiveSlot(), 4);
  // A stored program takes no extended address.
  EXPECT_EQ(line.FlashBytes(4, 0x0010, 3), (ByteList{0x01, 0x02, 0x03}));
  EXPECT_TRUE(line.radio.Image(0).IsEmpty());
}

TEST(ProtocolEndToEnd, RadioThatFallsSilentEndsInTheFailureDialog) {
  ProtocolRig r;
  RadioConfig config;
  config.faults.silentAfter = 4;  // version, start, erase, extended address
  SimulatedLine line(r, config);

  EXPECT_EQ(line.Run("720-image.ruf", kImage, &CMainWindow::OnUpdateRadio), kDialogCommFailure);
  EXPECT_EQ(r.host.NowMs(), 40000);
  EXPECT_EQ(r.w.updateSession.linesProcessed, 3u);  // the erase, the address, the first record
}

}  // namespace
