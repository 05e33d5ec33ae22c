// The launcher that the end-to-end tests start programs with: where the
// output goes, how an end is reported, and that no wait goes on for ever.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_files.h"

namespace {

using namespace std::chrono_literals;
using Sink = CChildProcess::Sink;

// A guard against a hang, not a measure of speed.
constexpr auto kBound = 10s;

std::vector<std::string> Shell(const std::string& script) { return {"/bin/sh", "-c", script}; }

// An exit status that a program chose is told from the end a signal forced:
// the end-to-end tests rely on that for a program that exits 130 after its
// own SIGINT handling.
TEST(ChildProcess, ExitStatusAndSignalEndAreToldApart) {
  struct Case {
    const char* name;
    std::string script;
    int signal;  // sent once the script says "armed"; 0 for none
    int status;
  };
  const Case cases[] = {
      {"Exit0", "exit 0", 0, 0},
      {"Exit130", "exit 130", 0, 130},
      {"KilledBySigint", "kill -INT $$; sleep 30", 0, -SIGINT},
      {"StoppedBySigterm", "echo armed; exec sleep 30", SIGTERM, -SIGTERM},
      {"ExitsOnItsOwnTerms", "trap 'exit 7' TERM; echo armed; while :; do sleep 0.01; done", SIGTERM, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CChildProcess child;
    ASSERT_TRUE(child.Start(Shell(c.script))) << child.StartError();
    EXPECT_TRUE(child.Started());
    if (c.signal != 0) {
      ASSERT_TRUE(child.WaitForLine("armed", kBound));
      EXPECT_EQ(child.Stop(c.signal, kBound), c.status);
    } else {
      EXPECT_EQ(child.Wait(kBound), c.status);
    }
    EXPECT_FALSE(child.Running());
    EXPECT_FALSE(child.Signal(SIGTERM)) << "an ended program takes no signal";
  }
}

TEST(ChildProcess, StandardOutputAndErrorEachGoToTheirOwnSink) {
  CTempDir dir;
  const std::string script = "echo one; echo warning >&2; echo two; printf last; printf ' piece' >&2";

  CChildProcess buffered;
  ASSERT_TRUE(buffered.Start(Shell(script), {{}, Sink::Buffer(), Sink::Buffer()}));
  EXPECT_EQ(buffered.ReadLine(kBound), "one");
  EXPECT_EQ(buffered.WaitForLine("la", kBound), "last");  // the last piece needs no line feed
  EXPECT_EQ(buffered.ReadLine(kBound), std::nullopt);
  EXPECT_EQ(buffered.Wait(kBound), 0);
  EXPECT_EQ(buffered.Output(), "one\ntwo\nlast");
  EXPECT_EQ(buffered.ErrorOutput(), "warning\n piece");

  CChildProcess toFiles;
  ASSERT_TRUE(toFiles.Start(Shell("pwd; " + script),
                            {dir.path(), Sink::File(dir.path() / "out"), Sink::File(dir.path() / "err")}));
  EXPECT_EQ(toFiles.Wait(kBound), 0);
  EXPECT_EQ(ReadFileBytes(dir / "out"), dir.path().string() + "\none\ntwo\nlast");
  EXPECT_EQ(ReadFileBytes(dir / "err"), "warning\n piece");
  EXPECT_EQ(toFiles.Output(), "");
  EXPECT_EQ(toFiles.ReadLine(0ms), std::nullopt);
}

// More output than a pipe holds: waiting keeps reading, or the program
// would block for ever on a full pipe.
TEST(ChildProcess, WaitingDrainsABufferedStream) {
  CChildProcess child;
  ASSERT_TRUE(child.Start(Shell("head -c 300000 /dev/zero; head -c 200000 /dev/zero >&2"),
                          {{}, Sink::Buffer(), Sink::Buffer()}));
  EXPECT_EQ(child.Wait(kBound), 0);
  EXPECT_EQ(child.Output().size(), 300000u);
  EXPECT_EQ(child.ErrorOutput().size(), 200000u);
}

TEST(ChildProcess, BoundedWaitsAndRefusedStarts) {
  CChildProcess child;
  ASSERT_TRUE(child.Start(Shell("exec sleep 30")));
  EXPECT_EQ(child.Wait(50ms), std::nullopt);
  EXPECT_EQ(child.ReadLine(50ms), std::nullopt);
  EXPECT_FALSE(child.Start(Shell("exit 0"))) << "one program at a time";
  EXPECT_TRUE(child.Running());
  EXPECT_EQ(child.Stop(SIGKILL, kBound), -SIGKILL);

  CChildProcess missing;
  EXPECT_FALSE(missing.Start({"/nonexistent/program"}));
  EXPECT_FALSE(missing.Started());
  EXPECT_NE(missing.StartError().find("/nonexistent/program"), std::string::npos) << missing.StartError();
}

}  // namespace
