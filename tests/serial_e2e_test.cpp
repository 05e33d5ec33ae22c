// A whole operation over a pseudo-terminal against the radio-sim program:
// the real serial driver, the main window on the test host, and a simulated
// radio that keeps what it is sent and dumps its flash when told to stop.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "comms/serial/serial_wnd_adapter.h"
#include "engine/main_window.h"
#include "support/expected_image.h"
#include "support/fake_links.h"
#include "support/radio_sim_process.h"
#include "support/temp_files.h"
#include "support/test_host.h"

namespace {

// Bounds on real-time waits; a healthy run needs a small part of them.
constexpr std::chrono::milliseconds kStartGuard(10000);
constexpr int kOperationGuardMs = 60000;

TEST(SerialEndToEnd, ProgramThenVerifyLeavesTheFilesDataInTheRadiosFlash) {
  if (!CRadioSimProcess::IsBuilt())
    GTEST_SKIP() << "radio-sim is not built at " << CRadioSimProcess::ProgramPath();
  const std::string sample = FLASH_SOURCE_DIR "/samples/720-demo.ruf";
  const std::string expectedImage = ExpectedFlashImage(sample);
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
