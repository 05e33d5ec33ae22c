// The real ruf-flash program against the simulated radio, on a
// pseudo-terminal and over UDP on loopback: exit status, the log on standard
// output, the one-line messages on standard error, "comms.txt", and what the
// radio received and holds afterwards.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/expected_image.h"
#include "support/loopback_udp.h"
#include "support/pty_pair.h"
#include "support/radio_sim_process.h"
#include "support/temp_files.h"
#include "support/text_count.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kRufFlash = fs::path(FLASH_BINARY_DIR) / "src/app/ruf-flash";
const fs::path kSamples = fs::path(FLASH_SOURCE_DIR) / "samples";
const std::string kDemo = (kSamples / "720-demo.ruf").string();
const std::string kOther = (kSamples / "720-other.ruf").string();
const std::string kDemo740 = (kSamples / "740-demo.ruf").string();

// Bounds for things that take milliseconds; only a machine in trouble gets
// near them.
constexpr auto kStartBound = 20s;
constexpr auto kRunBound = 60s;

// The outcome lines on standard error.
constexpr const char* kUpdateDone = "Flash Update Successfuly Completed !";
constexpr const char* kVerifyDone = "File and Firmware Sucessfully Verified";
constexpr const char* kVerifyFailed =
    "The selected file does not match the contents of the radio's Flash Memory system. You may be using the "
    "wrong RUF file for comparison. Cycle the power on the radio and confirm the firmware revision and try "
    "again. You may want to reprogram and reverify.";
constexpr const char* kNoErrorCheck =
    "File Processing Complete! There is no way to determine if Flash Updating was successful because error "
    "checking was turned off.";
constexpr const char* kCommFailure =
    "Communication with the radio has failed. Since a programming operation was interrupted the radio may not "
    "function properly. Check for proper power and interface connections. Cycle the power on the radio and "
    "retry the programming operation.";
constexpr const char* kNotForThisRadio = "The selected RUF file is not compatible with the Merrow";

constexpr const char* kIgnoreBanner =
    "\r\n *** Detected Command Line Switch to Ignore Radio Responses and Errors *** \r\n";

enum class Link { Pty, Udp };

std::string LinkName(Link link) { return link == Link::Pty ? "Pty" : "Udp"; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    start = end + 1;
  }
  return out;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }
bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// Whether every part occurs in text, each after the one before.
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    const std::size_t found = text.find(part, at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure() << "\"" << part << "\" missing (in order) from:\n" << text;
    at = found + part.size();
  }
  return ::testing::AssertionSuccess();
}

// "comms.txt" taken apart: commands sent (lowercase hex as traced), replies
// examined (uppercase hex) and event texts, each in order. Every line but the
// first carries a time stamp "hh:mm:ss:mmmm".
struct Traffic {
  std::vector<std::string> lines;  // without time stamps
  std::vector<std::string> sent;
  std::vector<std::string> received;
  std::vector<std::string> events;
  bool wellFormed = true;
};

bool IsTimeStamp(const std::string& line) {
  if (line.size() < 13) return false;
  for (std::size_t i = 0; i < 13; ++i) {
    const bool colon = i == 2 || i == 5 || i == 8;
    if (colon ? line[i] != ':' : !std::isdigit(static_cast<unsigned char>(line[i]))) return false;
  }
  return true;
}

Traffic ParseTraffic(const std::string& text) {
  Traffic t;
  const std::vector<std::string> lines = Lines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i == 0) {
      t.wellFormed = lines[0] == "Log File Begin";
      t.lines.push_back(lines[0]);
      continue;
    }
    if (!IsTimeStamp(lines[i])) {
      t.wellFormed = false;
      t.lines.push_back(lines[i]);
      continue;
    }
    const std::string rest = lines[i].substr(13);
    t.lines.push_back(rest);
    if (StartsWith(rest, " R< ")) t.sent.push_back(TrimRight(rest.substr(4)));
    else if (StartsWith(rest, " R> ")) t.received.push_back(TrimRight(rest.substr(4)));
    else if (StartsWith(rest, "[[") && rest.size() >= 4 && rest.compare(rest.size() - 2, 2, "]]") == 0)
      t.events.push_back(rest.substr(2, rest.size() - 4));
    else
      t.wellFormed = false;
  }
  return t;
}

std::vector<std::string> StartingWith(const std::vector<std::string>& list, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& s : list)
    if (StartsWith(s, prefix)) out.push_back(s);
  return out;
}

// The data records of a RUF file (Intel-HEX type 00), as their text lines.
std::vector<std::string> DataRecords(const std::string& path) {
  std::vector<std::string> out;
  for (const std::string& record : IntelHexRecords(ReadFileBytes(path)))
    if (record.size() > 9 && record.compare(7, 2, "00") == 0) out.push_back(record);
  return out;
}

// A port that is free on both loopback addresses at the moment of asking:
// the radio binds it on one, ruf-flash on the other. The kernel hands out a
// free port on the first, so parallel tests do not meet.
std::optional<int> FreePortPair() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const CPlainSocket program(kProgramAddress, 0);
    const int port = program.Port();
    if (port > 0 && PortFree(kRadioAddress, port)) return port;
  }
  return std::nullopt;
}

std::vector<std::string> RadioLogOf(const std::string& text) {
  std::vector<std::string> out;
  for (const std::string& line : Lines(text)) out.push_back(TrimRight(line));
  return out;
}

std::vector<std::string> UpperSent(const Traffic& traffic) {
  std::vector<std::string> out;
  for (const std::string& s : traffic.sent) out.push_back(Upper(s));
  return out;
}

bool EndsWith(const std::vector<std::string>& list, const std::vector<std::string>& tail) {
  return list.size() >= tail.size() && std::equal(tail.begin(), tail.end(), list.end() - tail.size());
}

struct FlashRun {
  std::optional<int> status;  // nullopt: still running at the bound (then killed)
  std::string out;
  std::string err;
  bool commsWritten = false;
  Traffic comms;
};

// One case's folder, its simulated radio, and the runs of ruf-flash in it.
class Bench {
 public:
  explicit Bench(Link link) : link_(link), dir_("cli-e2e-" + LinkName(link), CTempDir::kKeepWhenFailed) {}
  ~Bench() {
    if (radio_) radio_->Stop(kStartBound);
  }

  const fs::path& Dir() const { return dir_.path(); }
  Link GetLink() const { return link_; }

  ::testing::AssertionResult StartRadio(std::vector<std::string> extra = {}) {
    ::testing::AssertionResult started = ::testing::AssertionFailure();
    for (int attempt = 0; attempt < 5; ++attempt) {
      std::vector<std::string> argv;
      if (link_ == Link::Pty) {
        argv.insert(argv.end(), {"--pty", (Dir() / "radio").string()});
      } else {
        const std::optional<int> port = FreePortPair();
        if (!port) return ::testing::AssertionFailure() << "no free UDP port on loopback";
        port_ = *port;
        argv.insert(argv.end(), {"--udp", std::string(kRadioAddress) + ":" + std::to_string(port_)});
      }
      argv.insert(argv.end(), {"--log", (Dir() / "radio.log").string()});
      argv.insert(argv.end(), extra.begin(), extra.end());
      radio_ = std::make_unique<CRadioSimProcess>();
      started = radio_->Start(argv, kStartBound,
                              {Dir(), CChildProcess::Sink::Buffer(), CChildProcess::Sink::File(Dir() / "radio.err")});
      if (started) return started;
      radio_->Kill(kStartBound);
      // Over UDP another program may have taken the port meanwhile: pick again.
      if (link_ == Link::Pty) break;
    }
    return started << "\nits standard error: " << RadioErrors();
  }

  // A command that gets no answer (a cancel) may still wait in the radio's
  // input when ruf-flash has ended; a radio stopped then never takes it in.
  void AwaitRadioLogEnding(const Traffic& traffic) const {
    const std::vector<std::string> tail = UpperSent(traffic);
    WaitForFile(
        Dir() / "radio.log", [&](const std::string& text) { return EndsWith(RadioLogOf(text), tail); }, kStartBound);
  }

  // Stops the radio; its exit status. Its log and flash dump are complete
  // only after this.
  std::optional<int> StopRadio() {
    if (!radio_) return std::nullopt;
    const std::optional<int> status = radio_->Stop(kStartBound);
    radio_.reset();
    return status;
  }

  // What the radio received, one command a line, uppercase hex.
  std::vector<std::string> RadioLog() const { return RadioLogOf(ReadFileBytes(Dir() / "radio.log")); }
  std::string RadioErrors() const { return ReadFileBytes(Dir() / "radio.err"); }

  std::vector<std::string> LinkArgs() const {
    if (link_ == Link::Pty) return {"--port", (Dir() / "radio").string()};
    return {"--udp", std::string(kRadioAddress) + ":" + std::to_string(port_), "--bind", kProgramAddress};
  }

  std::unique_ptr<CChildProcess> StartFlash(std::vector<std::string> args, bool withLink = true) {
    std::vector<std::string> argv{kRufFlash.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    if (withLink) {
      const std::vector<std::string> link = LinkArgs();
      argv.insert(argv.end(), link.begin(), link.end());
    }
    fs::remove(Dir() / "comms.txt");
    auto flash = std::make_unique<CChildProcess>();
    flash->Start(argv, {Dir(), CChildProcess::Sink::File(Dir() / "flash.out"),
                        CChildProcess::Sink::File(Dir() / "flash.err")});
    return flash;
  }

  FlashRun Finish(CChildProcess& flash) const {
    FlashRun run;
    run.status = flash.Wait(kRunBound);
    run.out = ReadFileBytes(Dir() / "flash.out");
    run.err = ReadFileBytes(Dir() / "flash.err");
    run.commsWritten = fs::exists(Dir() / "comms.txt");
    run.comms = ParseTraffic(ReadFileBytes(Dir() / "comms.txt"));
    return run;
  }

  FlashRun Flash(std::vector<std::string> args, bool withLink = true) {
    std::unique_ptr<CChildProcess> flash = StartFlash(std::move(args), withLink);
    EXPECT_TRUE(flash->Started());
    return Finish(*flash);
  }

 private:
  Link link_;
  CTempDir dir_;
  int port_ = 0;
  std::unique_ptr<CRadioSimProcess> radio_;
};

std::string InterfaceLine(Link link) {
  return link == Link::Pty ? "Using Serial Interface \r\n" : "Using Ethernet Interface \r\n";
}

// The radio received what "comms.txt" says this run sent, and that is the
// last it received (earlier runs on the same radio come before).
void ExpectWireMatchesTrace(const Bench& bench, const Traffic& traffic) {
  const std::vector<std::string> received = bench.RadioLog();
  const std::vector<std::string> traced = UpperSent(traffic);
  EXPECT_TRUE(EndsWith(received, traced)) << ::testing::PrintToString(received) << "\ndoes not end with\n"
                                          << ::testing::PrintToString(traced);
}

// The summary of a run that reached the end of its file.
void ExpectEndOfAction(const Traffic& t, int failureFlag, int errors) {
  ASSERT_GE(t.events.size(), 2u);
  EXPECT_EQ(t.events[t.events.size() - 2].rfind("End of Processing " + std::to_string(errors) + " Checksum Errors", 0),
            0u)
      << t.events[t.events.size() - 2];
  EXPECT_EQ(t.events.back(), "END OF ACTION FailureFlag=" + std::to_string(failureFlag) +
                                 " Total Errors=" + std::to_string(errors));
}

// A run that was refused after the version reply: nothing but the version
// query (and what is named) went out, and no summary was written.
void ExpectStoppedAfterVersion(const Bench& bench, const FlashRun& run, const std::vector<std::string>& sent) {
  EXPECT_EQ(run.comms.sent, sent);
  EXPECT_EQ(run.comms.received.size(), 1u);
  if (!run.comms.received.empty()) {
    EXPECT_TRUE(StartsWith(run.comms.received[0], "56 45 52"));  // "VER"
  }
  EXPECT_TRUE(StartingWith(run.comms.events, "END OF ACTION").empty());
  EXPECT_FALSE(Contains(run.out, "End Of Code Processing"));
  ExpectWireMatchesTrace(bench, run.comms);
}

const std::vector<std::string> kProgram = {"program", kDemo, "--check-errors"};
const std::vector<std::string> kVerify = {"verify", kDemo, "--check-errors"};

struct RadioCase {
  std::string name;
  std::vector<std::string> radioArgs;
  std::vector<std::vector<std::string>> before;  // runs that must succeed first
  std::vector<std::string> args;
  int status;
  std::string err;  // standard error, exactly
  std::function<void(const Bench&, const FlashRun&)> check;
};

const std::vector<RadioCase>& RadioCases() {
  static const std::vector<RadioCase> cases = {
      {"Program", {}, {}, kProgram, 0, std::string(kUpdateDone) + "\n",
       [](const Bench& bench, const FlashRun& run) {
         EXPECT_TRUE(InOrder(run.out, {"\r\n Flash Rom Update File - " + kDemo + "\r\n\r\n",
                                       " Please be patient while your radio is being updated.\r\n\r\n",
                                       " 57 total data lines in file.\r\n", InterfaceLine(bench.GetLink()),
                                       " Radio Update File for Merrow 720",
                                       " End Of Code Processing, Please Standby!\r\n", "57 Lines Processed in "}));
         // The log goes out once, as it grows, with nothing of stderr in it.
         EXPECT_EQ(CountOf(run.out, "Flash Rom Update File - "), 1);
         EXPECT_FALSE(Contains(run.out, kUpdateDone));
         const Traffic& t = run.comms;
         ASSERT_GE(t.sent.size(), 3u);
         EXPECT_EQ(t.sent[0], "3f 56 0d");  // ?V
         EXPECT_EQ(t.sent[1], "5a 5a 0d");  // ZZ, the Merrow's start command
         EXPECT_EQ(StartingWith(t.sent, "42 ").size(), DataRecords(kDemo).size());  // 'B' records
         EXPECT_EQ(t.sent.back(), "47 00 01 02 03 f9 0d");                           // the go command
         EXPECT_TRUE(StartsWith(t.received.at(0), "56 45 52"));
         ExpectEndOfAction(t, 0, 0);
         ExpectWireMatchesTrace(bench, t);
       }},
      // Over UDP the passcode leads every datagram, and a radio drops
      // datagrams with another; on the serial line it plays no part.
      {"ProgramWithPasscode", {"--passcode", "4660"}, {}, {"program", kDemo, "--check-errors", "--passcode", "4660"},
       0, std::string(kUpdateDone) + "\n",
       [](const Bench& bench, const FlashRun& run) {
         EXPECT_EQ(StartingWith(run.comms.sent, "42 ").size(), DataRecords(kDemo).size());
         ExpectEndOfAction(run.comms, 0, 0);
         ExpectWireMatchesTrace(bench, run.comms);
       }},
      // A test run accepts every reply and ends without an outcome.
      {"TestMode", {}, {}, {"test", kDemo, "--check-errors"}, 0, "",
       [](const Bench& bench, const FlashRun& run) {
         EXPECT_TRUE(Contains(run.out, " End Of Code Processing, Please Standby!\r\n"));
         EXPECT_FALSE(Contains(run.out, "Please be patient"));
         const Traffic& t = run.comms;
         EXPECT_TRUE(t.received.empty());  // replies are not examined, so not traced
         EXPECT_TRUE(StartingWith(t.sent, "5a 5a").empty());
         EXPECT_EQ(StartingWith(t.sent, "99 ").size(), DataRecords(kDemo).size());
         ExpectEndOfAction(t, 0, 0);
         ExpectWireMatchesTrace(bench, t);
       }},
      {"VerifyAfterProgram", {}, {kProgram}, kVerify, 0, std::string(kVerifyDone) + "\n",
       [](const Bench& bench, const FlashRun& run) {
         EXPECT_TRUE(InOrder(run.out, {" Please be patient while your radio is being verified.\r\n\r\n",
                                       InterfaceLine(bench.GetLink()),
                                       " End Of Code Processing, Please Standby!\r\n"}));
         const Traffic& t = run.comms;
         EXPECT_EQ(StartingWith(t.sent, "56 ").size(), DataRecords(kDemo).size());  // 'V' records
         // Verifying writes nothing: no erase, no go, no unlock, no 'B' record.
         for (const char* command : {"42 ", "45 ", "47 ", "55 4e 4c"})
           EXPECT_TRUE(StartingWith(t.sent, command).empty()) << command;
         ExpectEndOfAction(t, 0, 0);
         ExpectWireMatchesTrace(bench, t);
       }},
      {"VerifyOtherImage", {}, {kProgram}, {"verify", kOther, "--check-errors"}, 1,
       std::string(kVerifyFailed) + "\n",
       [](const Bench& bench, const FlashRun& run) {
         const std::vector<std::string> mine = DataRecords(kDemo);
         const std::vector<std::string> other = DataRecords(kOther);
         ASSERT_EQ(mine.size(), other.size());
         int differing = 0;
         for (std::size_t i = 0; i < mine.size(); ++i) differing += mine[i] != other[i];
         ASSERT_GT(differing, 0);
         EXPECT_TRUE(Contains(run.out, " End Of Code Processing, Please Standby!\r\n"));
         ExpectEndOfAction(run.comms, 1, differing);
         ExpectWireMatchesTrace(bench, run.comms);
       }},
      {"ModelMismatch", {}, {}, {"program", kDemo740, "--check-errors"}, 3,
       std::string(kNotForThisRadio) + "\n",
       [](const Bench& bench, const FlashRun& run) {
         EXPECT_TRUE(InOrder(run.out, {" 44 total data lines in file.\r\n", InterfaceLine(bench.GetLink())}));
         ExpectStoppedAfterVersion(bench, run, {"3f 56 0d"});
       }},
      {"ExtendedMemorySlot4", {"--extended"}, {}, {"program", kDemo, "--check-errors", "--slot", "4"}, 0,
       std::string("Extended memory: programming radio personality 4\n") + kUpdateDone + "\n",
       [](const Bench& bench, const FlashRun& run) {
         const Traffic& t = run.comms;
         const std::vector<std::string> erase = StartingWith(t.sent, "45 ");
         EXPECT_EQ(erase, std::vector<std::string>{"45 04 00 00 fc 0d"});  // the file's one E line, for slot 4
         EXPECT_TRUE(StartingWith(t.sent, "41 ").empty());  // no extended address goes to a slot
         EXPECT_EQ(StartingWith(t.sent, "42 ").size(), DataRecords(kDemo).size());
         ExpectEndOfAction(t, 0, 0);
         ExpectWireMatchesTrace(bench, t);
         const std::vector<std::string> received = bench.RadioLog();
         EXPECT_EQ(std::count(received.begin(), received.end(), "45 04 00 00 FC 0D"), 1);
         EXPECT_TRUE(StartingWith(received, "41 ").empty());
       }},
      {"ExtendedMemoryWithoutSlot", {"--extended"}, {}, kProgram, 3,
       "The radio has extended memory and asks which of its six programs to replace: run again with --slot 1..6 "
       "(or --slot cancel). Nothing was written.\n",
       [](const Bench& bench, const FlashRun& run) { ExpectStoppedAfterVersion(bench, run, {"3f 56 0d", "50 30 0d"}); }},
      {"ExtendedMemorySlotCancelled", {"--extended"}, {}, {"program", kDemo, "--check-errors", "--slot", "cancel"}, 3,
       "Extended memory: slot choice cancelled\n",
       [](const Bench& bench, const FlashRun& run) { ExpectStoppedAfterVersion(bench, run, {"3f 56 0d", "50 30 0d"}); }},
      {"ErrorsIgnored", {}, {}, {"program", kDemo, "--ignore-errors"}, 4,
       "Error checking is off (update.ini has STOP ON ERRORS=1, or there is no update.ini): the radio's model and "
       "every answer go unchecked and the result cannot be judged. Add --check-errors to have them checked.\n" +
           std::string(kNoErrorCheck) + "\n",
       [](const Bench& bench, const FlashRun& run) {
         EXPECT_TRUE(StartsWith(run.out, kIgnoreBanner)) << run.out;
         EXPECT_TRUE(Contains(run.out, " End Of Code Processing, Please Standby!\r\n"));
         const Traffic& t = run.comms;
         // Replies are neither examined nor traced, so the radio is not
         // identified and no start command goes out.
         EXPECT_TRUE(t.received.empty());
         EXPECT_TRUE(StartingWith(t.sent, "5a 5a").empty());
         EXPECT_EQ(StartingWith(t.sent, "42 ").size(), DataRecords(kDemo).size());
         ExpectEndOfAction(t, 0, 0);
         ExpectWireMatchesTrace(bench, t);
       }},
  };
  return cases;
}

class CliAgainstRadio : public ::testing::TestWithParam<std::tuple<Link, std::size_t>> {};

TEST_P(CliAgainstRadio, ExitStatusLogAndTraffic) {
  const auto [link, index] = GetParam();
  const RadioCase& c = RadioCases()[index];
  Bench bench(link);
  ASSERT_TRUE(bench.StartRadio(c.radioArgs));
  for (const std::vector<std::string>& args : c.before) {
    const FlashRun run = bench.Flash(args);
    ASSERT_EQ(run.status, 0) << run.err;
  }
  const FlashRun run = bench.Flash(c.args);
  ASSERT_TRUE(run.status.has_value()) << "ruf-flash still running";
  EXPECT_EQ(*run.status, c.status);
  EXPECT_EQ(run.err, c.err);  // also: no progress bar when stderr is no terminal
  EXPECT_TRUE(run.commsWritten);
  EXPECT_TRUE(run.comms.wellFormed) << ReadFileBytes(bench.Dir() / "comms.txt");
  EXPECT_FALSE(fs::exists(bench.Dir() / "update.ini"));  // settings are never written
  bench.AwaitRadioLogEnding(run.comms);
  EXPECT_EQ(bench.StopRadio(), 0) << bench.RadioErrors();
  c.check(bench, run);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliAgainstRadio,
                         ::testing::Combine(::testing::Values(Link::Pty, Link::Udp),
                                            ::testing::Range<std::size_t>(0, RadioCases().size())),
                         [](const auto& info) {
                           return LinkName(std::get<0>(info.param)) + "_" +
                                  RadioCases()[std::get<1>(info.param)].name;
                         });

class CliOnLink : public ::testing::TestWithParam<Link> {};

// The referee for what programming leaves in the radio's flash is srec_cat
// on the file's Intel-HEX records: the span from the lowest to the highest
// address, gaps 0xFF, as radio-sim dumps it.
TEST_P(CliOnLink, FlashImageEqualsSrecCatOfTheFile) {
  Bench bench(GetParam());
  ASSERT_TRUE(bench.StartRadio({"--dump", (bench.Dir() / "flash.bin").string()}));
  const FlashRun run = bench.Flash(kProgram);
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(bench.StopRadio(), 0) << bench.RadioErrors();

  const fs::path hex = bench.Dir() / "records.hex";
  const fs::path reference = bench.Dir() / "reference.bin";
  {
    std::string records;
    for (const std::string& record : IntelHexRecords(ReadFileBytes(kDemo))) records += record + "\n";
    std::FILE* f = std::fopen(hex.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(records.c_str(), f);
    std::fclose(f);
  }
  const std::string h = hex.string();
  CChildProcess srec;
  ASSERT_TRUE(srec.Start({"/usr/bin/srec_cat", "(", h, "-intel", "-fill", "0xFF", "-over", h, "-intel", ")",
                          "-offset", "-", "-minimum-addr", h, "-intel", "-o", reference.string(), "-binary"},
                         {bench.Dir(), CChildProcess::Sink::File(bench.Dir() / "srec.out"),
                          CChildProcess::Sink::File(bench.Dir() / "srec.err")}))
      << "srec_cat (package srecord) is needed";
  ASSERT_EQ(srec.Wait(kRunBound), 0) << ReadFileBytes(bench.Dir() / "srec.err");

  // The dump starts at the lowest address written: the file's first segment.
  EXPECT_TRUE(Contains(bench.RadioErrors(), "bytes from 0x000F0000")) << bench.RadioErrors();
  const std::string expected = ReadFileBytes(reference);
  const std::string actual = ReadFileBytes(bench.Dir() / "flash.bin");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(actual.size(), expected.size());
  EXPECT_TRUE(actual == expected) << "the flash image differs from srec_cat's";
  // The image the other end-to-end tests expect is srec_cat's too.
  EXPECT_TRUE(ExpectedFlashImage(kDemo) == expected) << "ExpectedFlashImage differs from srec_cat";
}

// Ctrl-C during a slow run stops it at once and says so in "comms.txt".
TEST_P(CliOnLink, InterruptStopsTheRunCleanly) {
  Bench bench(GetParam());
  ASSERT_TRUE(bench.StartRadio({"--delay-ms", "200"}));
  std::unique_ptr<CChildProcess> flash = bench.StartFlash(kProgram);
  ASSERT_TRUE(flash->Started());
  // Interrupt once the first data record is out: mid-file, with the
  // response timer armed and a reply pending.
  ASSERT_TRUE(WaitForFile(bench.Dir() / "comms.txt",
                          [](const std::string& text) { return Contains(text, " R< 42 "); }, kStartBound));
  ASSERT_TRUE(flash->Signal(SIGINT));
  const FlashRun run = bench.Finish(*flash);
  ASSERT_TRUE(run.status.has_value()) << "ruf-flash still running";
  EXPECT_EQ(*run.status, 130);
  EXPECT_EQ(run.err, "Interrupted.\n");
  EXPECT_FALSE(Contains(run.out, "End Of Code Processing"));
  const Traffic& t = run.comms;
  EXPECT_TRUE(t.wellFormed);
  ASSERT_FALSE(t.lines.empty());
  EXPECT_TRUE(StartsWith(t.lines.back(), "[[") && Contains(t.lines.back(), "Interrupted")) << t.lines.back();
  EXPECT_TRUE(StartingWith(t.events, "END OF ACTION").empty());
  EXPECT_LT(StartingWith(t.sent, "42 ").size(), DataRecords(kDemo).size());
  EXPECT_EQ(bench.StopRadio(), 0);
}

// The settings come from "update.ini" in the working directory, options
// override them for the run, and the file is never written.
TEST_P(CliOnLink, SettingsComeFromUpdateIniWhichStaysUntouched) {
  Bench bench(GetParam());
  ASSERT_TRUE(bench.StartRadio());
  const std::vector<std::string> link = bench.LinkArgs();
  std::string ini = "[SERIAL INTERFACE]\r\nCOMPORT=" + (bench.Dir() / "radio").string() + "\r\nSTOP ON ERRORS=0\r\n";
  if (GetParam() == Link::Udp) {
    const std::string target = link.at(1);  // ADDR:PORT
    const std::size_t colon = target.rfind(':');
    ini += "[ETHERNET INTERFACE]\r\nIP ADDRESS=" + target.substr(0, colon) + "\r\nUDP PORT=" +
           target.substr(colon + 1) + "\r\nPASSCODE=0\r\n[ACTIVE INTERFACE]\r\nETHERNET=1\r\nSERIAL=0\r\n";
  } else {
    ini += "[ACTIVE INTERFACE]\r\nETHERNET=0\r\nSERIAL=1\r\n";
  }
  const fs::path iniFile = bench.Dir() / "update.ini";
  {
    std::FILE* f = std::fopen(iniFile.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(ini.data(), 1, ini.size(), f);
    std::fclose(f);
  }
  // No option names the radio or error checking: all of it is the file's.
  // The local address has no key in the file.
  std::vector<std::string> args{"program", kDemo};
  if (GetParam() == Link::Udp) args.insert(args.end(), {"--bind", kProgramAddress});
  const FlashRun fromFile = bench.Flash(args, false);
  EXPECT_EQ(fromFile.status, 0) << fromFile.err;
  EXPECT_EQ(fromFile.err, std::string(kUpdateDone) + "\n");
  EXPECT_TRUE(Contains(fromFile.out, InterfaceLine(GetParam())));
  EXPECT_EQ(ReadFileBytes(iniFile), ini);

  args.push_back("--ignore-errors");
  const FlashRun overridden = bench.Flash(args, false);
  EXPECT_EQ(overridden.status, 4) << overridden.err;
  EXPECT_TRUE(StartsWith(overridden.out, kIgnoreBanner));
  EXPECT_EQ(ReadFileBytes(iniFile), ini);
  EXPECT_EQ(bench.StopRadio(), 0);
}

// On a terminal, standard error carries a progress bar redrawn in place,
// erased before the outcome line; standard output stays plain.
TEST(CliOnTerminal, ProgressBarIsRedrawnInPlaceAndErasedBeforeTheOutcome) {
  Bench bench(Link::Pty);
  ASSERT_TRUE(bench.StartRadio({"--delay-ms", "2"}));
  CPtyPair pty;
  ASSERT_TRUE(pty.IsOpen()) << pty.Error();
  const std::string terminal = pty.SlavePath();
  // Held open here too, so that the end of ruf-flash does not end the
  // terminal before everything is read.
  const int slave = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);

  std::vector<std::string> argv{kRufFlash.string()};
  for (const std::string& a : kProgram) argv.push_back(a);
  for (const std::string& a : bench.LinkArgs()) argv.push_back(a);
  CChildProcess flash;
  ASSERT_TRUE(flash.Start(argv, {bench.Dir(), CChildProcess::Sink::File(bench.Dir() / "flash.out"),
                                 CChildProcess::Sink::File(terminal)}))
      << flash.StartError();
  std::string err;
  std::optional<int> status;
  for (const auto deadline = std::chrono::steady_clock::now() + kRunBound;
       !status && std::chrono::steady_clock::now() < deadline;) {
    err += pty.ReadAvailable();
    status = flash.Wait(10ms);
  }
  err += pty.ReadAvailable();
  ::close(slave);
  pty.CloseMaster();

  EXPECT_EQ(status, 0);
  const std::string erase = "\r\033[K";
  const std::string outcome = erase + kUpdateDone + "\r\n";  // the terminal turns \n into \r\n
  ASSERT_GE(err.size(), outcome.size()) << err;
  EXPECT_EQ(err.substr(err.size() - outcome.size()), outcome) << err;
  // Every drawing starts at the line's beginning on an erased line.
  std::size_t bars = 0;
  for (std::size_t at = err.find('['); at != std::string::npos; at = err.find('[', at + 1)) {
    if (at > 0 && err[at - 1] == '\033') continue;  // the erase sequence itself
    ++bars;
    EXPECT_GE(at, erase.size());
    EXPECT_EQ(err.substr(at - erase.size(), erase.size()), erase) << err.substr(at, 80);
  }
  EXPECT_GT(bars, 0u);
  // The count never passes the total; the last drawing shows the end.
  for (std::size_t at = err.find("/57 lines"); at != std::string::npos; at = err.find("/57 lines", at + 1)) {
    std::size_t begin = at;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(err[begin - 1]))) --begin;
    EXPECT_LE(std::stoi(err.substr(begin, at - begin)), 57) << err.substr(begin, 60);
  }
  const std::size_t lastBar = err.rfind("] ");
  ASSERT_NE(lastBar, std::string::npos);
  EXPECT_TRUE(StartsWith(err.substr(lastBar), "] 57/57 lines 100%")) << err.substr(lastBar, 60);
  const std::string out = ReadFileBytes(bench.Dir() / "flash.out");
  EXPECT_EQ(out.find('\033'), std::string::npos);
  EXPECT_TRUE(Contains(out, " End Of Code Processing, Please Standby!\r\n"));
  EXPECT_EQ(bench.StopRadio(), 0);
}

// The radio's address is bound by somebody else: no socket, nothing sent.
TEST(CliWithoutRadio, UdpPortTakenIsRefused) {
  const std::optional<int> port = FreePortPair();
  ASSERT_TRUE(port);
  auto holder = std::make_unique<CPlainSocket>(kProgramAddress, *port);
  ASSERT_TRUE(holder->IsBound());

  Bench bench(Link::Udp);
  const FlashRun run = bench.Flash({"program", kDemo, "--check-errors", "--udp",
                                    std::string(kRadioAddress) + ":" + std::to_string(*port), "--bind",
                                    kProgramAddress},
                                   false);
  holder.reset();
  EXPECT_EQ(run.status, 3);
  EXPECT_TRUE(Contains(run.err, "Socket Create")) << run.err;
  EXPECT_TRUE(run.comms.sent.empty());
}

TEST(CliWithoutRadio, FileThatCannotBeOpenedIsRefused) {
  Bench bench(Link::Pty);
  const FlashRun run = bench.Flash({"program", (bench.Dir() / "720-missing.ruf").string(), "--check-errors"});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.err, "Unable to open file\n");
  EXPECT_FALSE(run.commsWritten);
}

// Verifying with the radio's answers ignored could never tell a mismatch; and
// with them ignored the radio is never asked for its slot, so a slot given
// would be silently dropped and the file's own erase would wipe its program.
TEST(CliWithoutRadio, VerifyOrSlotWithoutErrorCheckingIsRefused) {
  Bench bench(Link::Pty);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"verify", kDemo}, std::vector<std::string>{"verify", kDemo, "--ignore-errors"},
        std::vector<std::string>{"program", kDemo, "--slot", "4"},
        std::vector<std::string>{"program", kDemo, "--ignore-errors", "--slot", "4"}}) {
    const FlashRun run = bench.Flash(args);
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(Contains(run.err, "--check-errors")) << run.err;
    EXPECT_FALSE(run.commsWritten);
  }
}

INSTANTIATE_TEST_SUITE_P(Links, CliOnLink, ::testing::Values(Link::Pty, Link::Udp),
                         [](const auto& info) { return LinkName(info.param); });

// A silent radio leaves the version query unanswered: the version-reply
// timer gives up after 10 s. Both links run side by side to pay that once.
TEST(CliSilentRadio, IsACommunicationFailureOnEveryLink) {
  std::vector<std::unique_ptr<Bench>> benches;
  std::vector<std::unique_ptr<CChildProcess>> runs;
  for (Link link : {Link::Pty, Link::Udp}) {
    benches.push_back(std::make_unique<Bench>(link));
    ASSERT_TRUE(benches.back()->StartRadio({"--silent"}));
    runs.push_back(benches.back()->StartFlash(kProgram));
    ASSERT_TRUE(runs.back()->Started());
  }
  for (std::size_t i = 0; i < benches.size(); ++i) {
    SCOPED_TRACE(LinkName(benches[i]->GetLink()));
    const FlashRun run = benches[i]->Finish(*runs[i]);
    ASSERT_TRUE(run.status.has_value()) << "ruf-flash still running";
    EXPECT_EQ(*run.status, 2);
    EXPECT_EQ(run.err, std::string(kCommFailure) + "\n");
    EXPECT_TRUE(InOrder(run.out, {" 57 total data lines in file.\r\n", InterfaceLine(benches[i]->GetLink())}));
    EXPECT_FALSE(Contains(run.out, "End Of Code Processing"));
    // At most the version query and its one resend went out; nothing came back.
    ASSERT_FALSE(run.comms.sent.empty());
    for (const std::string& s : run.comms.sent) EXPECT_EQ(s, "3f 56 0d");
    EXPECT_LE(run.comms.sent.size(), 2u);
    EXPECT_TRUE(run.comms.received.empty());
    EXPECT_TRUE(StartingWith(run.comms.events, "END OF ACTION").empty());
    benches[i]->AwaitRadioLogEnding(run.comms);
    EXPECT_EQ(benches[i]->StopRadio(), 0);
    ExpectWireMatchesTrace(*benches[i], run.comms);
  }
}

// Anything ruf-flash does not understand: exit 64, the reason and the usage
// on standard error, nothing on standard output, no port touched.
TEST(CliUsage, ErrorsExit64) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"flash", kDemo},
      {"program"},
      {"program", kDemo, kOther},
      {"ports", kDemo},
      {"program", kDemo, "--frobnicate"},
      {"program", kDemo, "--port"},
      {"program", kDemo, "--slot", "7"},
      {"program", kDemo, "--slot", "0"},
      {"program", kDemo, "--slot", "four"},
      {"program", kDemo, "--udp", "127.0.0.2"},
      {"program", kDemo, "--udp", "127.0.0.2:65536"},
      {"program", kDemo, "--passcode", "65536"},
      {"program", kDemo, "--port", "/dev/null", "--udp", "127.0.0.2:5000"},
  };
  Bench bench(Link::Pty);
  for (const std::vector<std::string>& args : cases) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    SCOPED_TRACE("ruf-flash " + shown);
    const FlashRun run = bench.Flash(args, false);
    EXPECT_EQ(run.status, 64);
    EXPECT_TRUE(StartsWith(run.err, "ruf-flash: ")) << run.err;
    EXPECT_TRUE(Contains(run.err, "Usage: ruf-flash")) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(run.commsWritten);
  }
  const FlashRun help = bench.Flash({"--help"}, false);
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(StartsWith(help.out, "Usage: ruf-flash")) << help.out;
  EXPECT_EQ(help.err, "");
}

// The file check reads the file only: a sound file and one with a damaged
// record, whose line and checksums the report names.
TEST(CliCheck, SoundAndDamagedFile) {
  Bench bench(Link::Pty);
  const FlashRun sound = bench.Flash({"check", kDemo}, false);
  EXPECT_EQ(sound.status, 0) << sound.out << sound.err;
  EXPECT_TRUE(InOrder(sound.out, {"Model:         720", "Data lines:    57", "000F0000-000F11FF", "End record:    yes",
                                  "Result:        sound"}))
      << sound.out;
  EXPECT_FALSE(Contains(sound.out, "damaged"));
  EXPECT_FALSE(sound.commsWritten);

  // One data byte of the third data record changed from 84 to 85: the
  // computed checksum drops by one, the file's stays.
  std::vector<std::string> lines = Lines(ReadFileBytes(kDemo));
  std::size_t damagedIndex = 0;
  int seen = 0;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (StartsWith(lines[i], ":") && lines[i].compare(7, 2, "00") == 0 && ++seen == 3) damagedIndex = i;
  ASSERT_EQ(lines[damagedIndex].substr(0, 11), ":1A00240084");
  lines[damagedIndex][10] = '5';
  std::string damaged;
  for (const std::string& line : lines) damaged += line + "\r\n";
  const fs::path damagedFile = bench.Dir() / "720-damaged.ruf";
  std::FILE* f = std::fopen(damagedFile.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(damaged.data(), 1, damaged.size(), f);
  std::fclose(f);

  const FlashRun bad = bench.Flash({"check", damagedFile.string()}, false);
  EXPECT_EQ(bad.status, 1) << bad.out << bad.err;
  const std::string lineNumber = std::to_string(damagedIndex + 1);
  EXPECT_TRUE(Contains(bad.out, "Line " + lineNumber + ": Intel-HEX data record damaged")) << bad.out;
  EXPECT_TRUE(Contains(bad.out, "(computed 95, file 96)")) << bad.out;
  EXPECT_EQ(CountOf(bad.out, " damaged: "), 1) << bad.out;
  EXPECT_TRUE(Contains(bad.out, "Result:        DAMAGED")) << bad.out;

  const FlashRun missing = bench.Flash({"check", (bench.Dir() / "none.ruf").string()}, false);
  EXPECT_EQ(missing.status, 3);
}

}  // namespace
