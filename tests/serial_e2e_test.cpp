// A whole operation over a pseudo-terminal against the radio-sim program:
// the real serial driver, the main window on the test host, and a simulated
// radio that keeps what it is sent and dumps its flash when told to stop.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "comms/serial/serial_wnd_adapter.h"
#include "engine/main_window.h"
#include "support/radio_sim_process.h"
#include "support/fake_links.h"
#include "support/temp_files.h"
#include "support/test_host.h"

namespace {

// Bounds on real-time waits; a healthy run needs a small part of them.
constexpr std::chrono::milliseconds kStartGuard(10000);
constexpr int kOperationGuardMs = 60000;

unsigned HexValue(const std::string& text, std::size_t at, std::size_t digits) {
  return static_cast<unsigned>(std::stoul(text.substr(at, digits), nullptr, 16));
}

// The flash image that a file's Intel-HEX records describe: bytes from the
// lowest to the highest address written, gaps 0xFF. Extended segment records
// give a base of value * 16, extended linear ones value * 65536.
std::string ImageOfIntelHex(const std::string& fileText) {
  std::map<std::uint32_t, std::uint8_t> bytes;
  std::uint32_t base = 0;
  std::istringstream lines(fileText);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] != ':') continue;
    const unsigned length = HexValue(line, 1, 2);
    const unsigned offset = HexValue(line, 3, 4);
    const unsigned type = HexValue(line, 7, 2);
    if (type == 0x00) {
      for (unsigned i = 0; i < length; ++i)
        bytes[base + offset + i] = static_cast<std::uint8_t>(HexValue(line, 9 + 2 * i, 2));
    } else if (type == 0x02) {
      base = HexValue(line, 9, 4) * 16;
    } else if (type == 0x04) {
      base = HexValue(line, 9, 4) << 16;
    }
  }
  if (bytes.empty()) return {};
  const std::uint32_t lowest = bytes.begin()->first;
  std::string image(bytes.rbegin()->first - lowest + 1, '\xFF');
  for (const auto& [address, value] : bytes) image[address - lowest] = static_cast<char>(value);
  return image;
}

TEST(SerialEndToEnd, ProgramThenVerifyLeavesTheFilesDataInTheRadiosFlash) {
  if (!CRadioSimProcess::IsBuilt())
    GTEST_SKIP() << "radio-sim is not built at " << CRadioSimProcess::ProgramPath();
  const std::string sample = FLASH_SOURCE_DIR "/samples/720-demo.ruf";
  const std::string expectedImage = ImageOfIntelHex(ReadFileBytes(sample));
  ASSERT_FALSE(expectedImage.empty()) << sample;

  CTempDir dir;
  const std::string link = dir / "radio";
  const std::string dump = dir / "flash.bin";
  CRadioSimProcess radio;
  ASSERT_TRUE(radio.Start({"--pty", link, "--dump", dump}, kStartGuard));

  // Declared after the radio, so the port closes before radio-sim is stopped
  // for good, and before the host that the worker posts to.
  CTestHost host;
  CSerialWndAdapter serial;
  CFakeUdpSocket udp;
  CMainWindow w{host, serial, udp};
  host.Attach(&w);
  host.cwd = dir.path().string();
  w.commSettings.ignoreErrors = 0;
  w.commSettings.useSerial = 1;
  w.commSettings.useEthernet = 0;
  w.commSettings.comPort = link;
  host.chosenFile = sample;
  const auto trace = [&] { return ReadFileBytes(dir / "comms.txt"); };

  w.OnUpdateRadio();
  ASSERT_TRUE(host.WaitUntil([&] { return !w.IsOperationRunning(); }, kOperationGuardMs)) << trace();
  EXPECT_EQ(host.dialogs, std::vector<int>{kDialogUpdateDone}) << trace();
  EXPECT_EQ(w.LastOperationEnd(), OperationEnd::Completed);
  EXPECT_EQ(w.updateSession.checksumErrors, 0);
  EXPECT_EQ(w.updateSession.failureFlag, 0);
  EXPECT_EQ(w.updateSession.timeoutRetries, 0);

  w.OnVerifyProgram();
  ASSERT_TRUE(host.WaitUntil([&] { return !w.IsOperationRunning(); }, kOperationGuardMs)) << trace();
  EXPECT_EQ(host.dialogs, (std::vector<int>{kDialogUpdateDone, kDialogVerifyDone})) << trace();
  EXPECT_EQ(w.LastOperationEnd(), OperationEnd::Completed);
  EXPECT_EQ(w.updateSession.checksumErrors, 0);
  EXPECT_EQ(w.updateSession.failureFlag, 0);

  // radio-sim writes its flash when it is told to stop.
  ASSERT_EQ(radio.Stop(kStartGuard), std::optional<int>(0));
  const std::string image = ReadFileBytes(dump);
  ASSERT_EQ(image.size(), expectedImage.size());
  EXPECT_TRUE(image == expectedImage) << "the dumped flash differs from the file's data";
}

}  // namespace
