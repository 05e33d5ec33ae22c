// A whole operation over UDP on the loopback against the radio-sim program:
// the real socket on 127.0.0.1, the simulated radio on 127.0.0.2 with the same
// port, errors checked. Programming then verifying a sample file must leave
// the radio's flash holding exactly the file's data.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "comms/udp/radio_socket.h"
#include "engine/main_window.h"
#include "support/expected_image.h"
#include "support/fake_links.h"
#include "support/loopback_udp.h"
#include "support/radio_sim_process.h"
#include "support/temp_files.h"
#include "support/test_host.h"

namespace {

constexpr int kPasscode = 4660;
// Guards against a hang, not measures of speed: the radio is a real process.
constexpr std::chrono::milliseconds kStartGuard(10000);
constexpr int kOperationGuardMs = 60000;

int CountLines(const std::string& text, std::string_view marker) {
  int n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.find(marker) != std::string::npos) ++n;
  return n;
}

TEST(UdpEndToEnd, ProgramThenVerifyOverUdpLeavesTheFilesDataInFlash) {
  if (!CRadioSimProcess::IsBuilt())
    GTEST_SKIP() << "radio-sim is not built at " << CRadioSimProcess::ProgramPath();
  CTempDir dir;
  const std::string dump = dir / "flash.bin";
  const std::string commandLog = dir / "commands.txt";

  // The radio takes a free port on its address; the program binds the same
  // port on its own, so that port must be free there too.
  CRadioSimProcess radio;
  int port = 0;
  for (int attempt = 0; attempt < 5 && port == 0; ++attempt) {
    if (radio.Running()) radio.Stop(kStartGuard);
    ASSERT_TRUE(radio.Start({"--udp", std::string(kRadioAddress) + ":0", "--passcode", std::to_string(kPasscode),
                             "--model", "720", "--dump", dump, "--log", commandLog},
                            kStartGuard));
    const std::string prefix = std::string("radio-sim ready: udp ") + kRadioAddress + ":";
    const std::string& ready = radio.ReadyLine();
    ASSERT_EQ(ready.rfind(prefix, 0), 0u) << ready;
    const int candidate = std::atoi(ready.c_str() + prefix.size());
    if (candidate > 0 && PortFree(kProgramAddress, candidate)) port = candidate;
  }
  ASSERT_NE(port, 0) << "no port free on both loopback addresses";

  CTestHost host;
  CFakeSerialLink serial;
  CRadioSocket socket(host);
  CMainWindow w(host, serial, socket);
  host.Attach(&w);
  host.cwd = dir.path().string();
  UseLoopbackUdp(w.commSettings, port, kPasscode);
  w.commSettings.ignoreErrors = 0;
  const std::string rufPath = FLASH_SOURCE_DIR "/samples/720-demo.ruf";
  host.chosenFile = rufPath;

  w.OnUpdateRadio();
  ASSERT_TRUE(host.WaitUntil([&] { return !host.dialogs.empty(); }, kOperationGuardMs)) << host.logView;
  const std::string programTrace = ReadFileBytes(dir / "comms.txt");
  w.OnVerifyProgram();
  ASSERT_TRUE(host.WaitUntil([&] { return host.dialogs.size() == 2; }, kOperationGuardMs)) << host.logView;
  const std::string verifyTrace = ReadFileBytes(dir / "comms.txt");

  EXPECT_EQ(host.dialogs, (std::vector<int>{kDialogUpdateDone, kDialogVerifyDone}));
  EXPECT_EQ(w.updateSession.checksumErrors, 0);
  EXPECT_EQ(w.LastOperationEnd(), OperationEnd::Completed);
  EXPECT_TRUE(host.messageBoxes.empty());
  EXPECT_NE(verifyTrace.find("FailureFlag=0 Total Errors=0"), std::string::npos) << verifyTrace;

  ASSERT_EQ(radio.Stop(kStartGuard), 0);
  // The radio ignores a datagram with another passcode: every command sent
  // (one traffic-log line each) was one that it took.
  const int sent = CountLines(programTrace, " R< ") + CountLines(verifyTrace, " R< ");
  EXPECT_GT(sent, 57);
  EXPECT_EQ(CountLines(ReadFileBytes(commandLog), ""), sent);

  const std::string expected = ExpectedFlashImage(rufPath);
  ASSERT_FALSE(expected.empty());
  const std::string flash = ReadFileBytes(dump);
  EXPECT_EQ(flash.size(), expected.size());
  EXPECT_TRUE(flash == expected) << "the flash differs from the file's data";
}

}  // namespace
