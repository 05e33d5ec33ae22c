// The simulated radio: what it answers, what lands in its flash, how it cuts a
// serial stream into commands, and the faults it is asked to show.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "datagram_passcode.h"
#include "simulated_radio.h"
#include "support/loopback_udp.h"
#include "support/radio_sim_process.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }

std::string AsString(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

std::string ReplyText(const std::optional<RadioReply>& reply) { return reply ? AsString(reply->bytes) : ""; }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A data record command as the update program builds it from a ':' line,
// carrying the line's checksum (correct unless told otherwise).
Bytes DataRecord(std::uint8_t command, std::uint16_t address, const Bytes& data, int checksumError = 0) {
  Bytes out = {command, static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
               static_cast<std::uint8_t>(address), 0x00};
  out.insert(out.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (std::size_t i = 1; i < out.size(); ++i) sum += out[i];
  out.push_back(static_cast<std::uint8_t>(0u - sum + static_cast<unsigned>(checksumError)));
  out.push_back(0x0D);
  return out;
}

std::string ChecksumReplyOf(const Bytes& record) {
  char text[8];
  std::snprintf(text, sizeof text, ":%02X\r", record[record.size() - 2]);
  return text;
}

// From the lines :03001000010203E7, :02000002F0000C and S30800001000AABBCCB6.
const Bytes kProgram10 = {'B', 0x03, 0x00, 0x10, 0x00, 0x01, 0x02, 0x03, 0xE7, 0x0D};
const Bytes kVerify10 = {'V', 0x03, 0x00, 0x10, 0x00, 0x01, 0x02, 0x03, 0xE7, 0x0D};
const Bytes kTest10 = {0x99, 0x03, 0x00, 0x10, 0x00, 0x01, 0x02, 0x03, 0xE7, 0x0D};
const Bytes kSegmentF000 = {'A', 0x02, 0x00, 0x00, 0x02, 0xF0, 0x00, 0x0C, 0x0D};
const Bytes kS3At1000 = {'S', 0x08, 0x00, 0x00, 0x10, 0x00, 0xAA, 0xBB, 0xCC, 0xB6, 0x0D};
const Bytes kEraseFromFile = {'E', 0x01, 0x02, 0x03, 0xFA, 0x0D};
const Bytes kGo = {'G', 0x00, 0x01, 0x02, 0x03, 0xF9, 0x0D};

Bytes EraseSlot(std::uint8_t slot) {
  return {'E', slot, 0x00, 0x00, static_cast<std::uint8_t>(256 - slot), 0x0D};
}

std::vector<std::string> SendAll(CSimulatedRadio& radio, const std::vector<Bytes>& commands) {
  std::vector<std::string> replies;
  for (const Bytes& command : commands) replies.push_back(ReplyText(radio.HandleCommand(command)));
  return replies;
}

Bytes ImageBytes(const CFlashImage& image, std::uint32_t address, std::size_t count) {
  Bytes out;
  for (std::size_t i = 0; i < count; ++i) out.push_back(image.Read(address + static_cast<std::uint32_t>(i)));
  return out;
}

// ---------------------------------------------------------------------------
// The version reply: the update program reads it at fixed offsets.

struct VersionCase {
  const char* name;
  int model;
  bool extended;
  unsigned dsp;
  char separator;
  long modelField;
};

class VersionReplyTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionReplyTest, FieldsSitAtTheirOffsets) {
  const VersionCase& c = GetParam();
  RadioConfig config;
  config.model = c.model;
  config.extendedMemory = c.extended;
  config.dspVersion = c.dsp;
  CSimulatedRadio radio(config);

  const std::string reply = ReplyText(radio.HandleCommand(Text("?V\r")));
  ASSERT_GE(reply.size(), 10u) << reply;
  EXPECT_EQ(reply.substr(0, 3), "VER");
  EXPECT_EQ(reply[3], c.separator);
  EXPECT_EQ(std::strtol(reply.c_str() + 4, nullptr, 10), static_cast<long>(c.dsp));
  EXPECT_EQ(std::strtol(reply.c_str() + 9, nullptr, 10), c.modelField);
  EXPECT_EQ(reply.back(), '\r');
}

INSTANTIATE_TEST_SUITE_P(Radios, VersionReplyTest,
                         ::testing::Values(VersionCase{"Plain720", 720, false, 1234, ' ', 720},
                                           VersionCase{"Extended720", 720, true, 1234, '-', 720},
                                           VersionCase{"ShortDsp740", 740, false, 7, ' ', 740},
                                           VersionCase{"LongestDsp781", 781, false, 9999, ' ', 781},
                                           VersionCase{"TalvoHasNoModelNumber", 710, false, 1234, ' ', 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Checksum echoes: the radio sums what it received, or for verification what
// its flash holds.

struct EchoCase {
  const char* name;
  std::vector<Bytes> before;
  Bytes command;
  std::string reply;
  bool written;  // the record's bytes are in the flash afterwards
};

class ChecksumEchoTest : public ::testing::TestWithParam<EchoCase> {};

TEST_P(ChecksumEchoTest, AnswersAndFlash) {
  const EchoCase& c = GetParam();
  CSimulatedRadio radio;
  SendAll(radio, c.before);
  EXPECT_EQ(ReplyText(radio.HandleCommand(c.command)), c.reply);
  EXPECT_EQ(ImageBytes(radio.Image(), 0x10, 3) == Bytes({1, 2, 3}), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ChecksumEchoTest,
    ::testing::Values(
        EchoCase{"IntactProgramRecordEchoesItsChecksum", {}, kProgram10, ":E7\r", true},
        EchoCase{"VerifyOfTheSameDataEchoesItsChecksum", {kProgram10}, kVerify10, ":E7\r", true},
        EchoCase{"VerifyOfOtherDataEchoesAnotherChecksum",
                 {DataRecord('B', 0x10, {1, 2, 4})},
                 kVerify10,
                 ":E6\r",
                 false},
        EchoCase{"VerifyOfErasedFlashFails", {}, kVerify10, ":F0\r", false},
        EchoCase{"TestRecordEchoesButWritesNothing", {}, kTest10, ":E7\r", false},
        EchoCase{"DamagedRecordEchoesWhatArrivedAndIsNotWritten",
                 {},
                 DataRecord('B', 0x10, {1, 2, 3}, 1),
                 ":E7\r",
                 false},
        EchoCase{"ExtendedAddressEchoesItsChecksum", {}, kSegmentF000, ":0C\r", false},
        EchoCase{"SRecordEchoesItsChecksum", {}, kS3At1000, ":B6\r", false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Where the bytes land.

struct AddressCase {
  const char* name;
  std::vector<Bytes> commands;
  std::uint32_t address;
  Bytes bytes;
};

class FlashAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(FlashAddressTest, BytesLandAtTheirAddress) {
  const AddressCase& c = GetParam();
  CSimulatedRadio radio;
  const std::vector<std::string> replies = SendAll(radio, c.commands);
  for (std::size_t i = 0; i < replies.size(); ++i) EXPECT_FALSE(replies[i].empty()) << "command " << i;
  const CFlashImage& image = radio.Image();
  EXPECT_EQ(ImageBytes(image, c.address, c.bytes.size()), c.bytes);
  EXPECT_EQ(image.WrittenByteCount(), c.bytes.size());
  EXPECT_EQ(image.LowestAddress(), c.address);
}

INSTANTIATE_TEST_SUITE_P(
    Addressing, FlashAddressTest,
    ::testing::Values(
        AddressCase{"PlainRecord", {kProgram10}, 0x10, {1, 2, 3}},
        AddressCase{"SegmentIsValueTimesSixteen", {kSegmentF000, kProgram10}, 0xF0010, {1, 2, 3}},
        AddressCase{"EraseStartsAgainAtSegmentZero", {kSegmentF000, kEraseFromFile, kProgram10}, 0x10, {1, 2, 3}},
        AddressCase{"S3RecordCarriesAThirtyTwoBitAddress", {kSegmentF000, kS3At1000}, 0x1000, {0xAA, 0xBB, 0xCC}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FlashAddressTest, VerifyReadsThroughTheSegment) {
  CSimulatedRadio radio;
  SendAll(radio, {kSegmentF000, kProgram10});
  EXPECT_EQ(ReplyText(radio.HandleCommand(kVerify10)), ":E7\r");
  SendAll(radio, {{'A', 0x02, 0x00, 0x00, 0x02, 0x00, 0x00, 0xFC, 0x0D}});  // segment 0
  EXPECT_NE(ReplyText(radio.HandleCommand(kVerify10)), ":E7\r");
}

// ---------------------------------------------------------------------------
// Erase and the stored programs of the extended memory.

struct SlotCase {
  const char* name;
  bool extended;
  std::vector<Bytes> commands;
  int activeSlot;
  std::vector<int> slotsHoldingData;
};

class EraseAndSlotTest : public ::testing::TestWithParam<SlotCase> {};

TEST_P(EraseAndSlotTest, WritesGoToTheSelectedProgram) {
  const SlotCase& c = GetParam();
  RadioConfig config;
  config.extendedMemory = c.extended;
  CSimulatedRadio radio(config);
  for (const std::string& reply : SendAll(radio, c.commands)) EXPECT_FALSE(reply.empty());
  EXPECT_EQ(radio.ActiveSlot(), c.activeSlot);
  std::vector<int> holding;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (!radio.Image(slot).IsEmpty()) holding.push_back(slot);
  }
  EXPECT_EQ(holding, c.slotsHoldingData);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, EraseAndSlotTest,
    ::testing::Values(
        SlotCase{"EraseEmptiesTheImage", false, {kProgram10, kEraseFromFile}, 0, {}},
        SlotCase{"WritesAfterEraseStay", false, {kProgram10, kEraseFromFile, kProgram10}, 0, {0}},
        SlotCase{"SlotEraseSelectsTheSlot", true, {kProgram10, EraseSlot(3), kProgram10}, 3, {0, 3}},
        SlotCase{"SlotEraseLeavesOtherSlots",
                 true,
                 {EraseSlot(3), kProgram10, EraseSlot(5), kProgram10, EraseSlot(3)},
                 3,
                 {5}},
        SlotCase{"FileEraseGoesBackToTheMainProgram",
                 true,
                 {EraseSlot(6), kProgram10, kEraseFromFile, kProgram10},
                 0,
                 {0, 6}},
        SlotCase{"PlainRadioHasNoSlots", false, {kProgram10, EraseSlot(3), kProgram10}, 0, {0}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The other commands, and those that are never answered.

TEST(CommandAnswerTest, EachCommandGetsItsAnswer) {
  CSimulatedRadio radio;
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {Text("ZZ\r"), "READY\r"},   {Text("XX\r"), "READY\r"},        {kEraseFromFile, "E\r"},
      {EraseSlot(2), "E\r"},       {kGo, "G\r"},                     {Text("P0\r"), ""},
      {Text("UNLOCKBOOT\r"), ""},  {Text("Any raw text\r\n"), ""},
  };
  for (const auto& [command, reply] : cases) {
    EXPECT_EQ(ReplyText(radio.HandleCommand(command)), reply) << AsString(command);
  }
}

// ---------------------------------------------------------------------------
// Faults.

struct FaultCase {
  const char* name;
  RadioFaults faults;
  std::vector<Bytes> commands;
  std::vector<std::string> replies;  // "" where nothing comes back
  bool written;                      // the record at 0x10 reached the flash
};

RadioFaults Faults(void (*set)(RadioFaults&)) {
  RadioFaults f;
  set(f);
  return f;
}

class FaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, RepliesAndFlash) {
  const FaultCase& c = GetParam();
  RadioConfig config;
  config.faults = c.faults;
  CSimulatedRadio radio(config);
  EXPECT_EQ(SendAll(radio, c.commands), c.replies);
  EXPECT_EQ(ImageBytes(radio.Image(), 0x10, 3) == Bytes({1, 2, 3}), c.written);
  EXPECT_EQ(radio.Counters().commands, c.commands.size());
}

const Bytes kVersion = Text("?V\r");
const Bytes kStart = Text("ZZ\r");
const Bytes kUnlock = Text("UNLOCKBOOT\r");

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(
        FaultCase{"None", {}, {kVersion, kStart, kProgram10}, {"VER 1234 720\r", "READY\r", ":E7\r"}, true},
        FaultCase{"SilentNeitherAnswersNorWrites",
                  Faults([](RadioFaults& f) { f.silent = true; }),
                  {kVersion, kStart, kProgram10},
                  {"", "", ""},
                  false},
        FaultCase{"SilentAfterTwoCommands",
                  Faults([](RadioFaults& f) { f.silentAfter = 2; }),
                  {kVersion, kUnlock, kStart, kProgram10},
                  {"VER 1234 720\r", "", "", ""},
                  false},
        FaultCase{"DropEverySecondReplyAfterActing",
                  Faults([](RadioFaults& f) { f.dropEveryReply = 2; }),
                  {kVersion, kProgram10, kStart, kProgram10},
                  {"VER 1234 720\r", "", "READY\r", ""},
                  true},
        FaultCase{"BadChecksumEverySecondRecord",
                  Faults([](RadioFaults& f) { f.badChecksumEvery = 2; }),
                  {kSegmentF000, kProgram10, kVersion, kS3At1000, kProgram10},
                  {":0C\r", ":18\r", "VER 1234 720\r", ":B6\r", ":18\r"},
                  false},
        FaultCase{"BadChecksumRecordIsResentIntact",
                  Faults([](RadioFaults& f) { f.badChecksumEvery = 2; }),
                  {kS3At1000, kProgram10, kProgram10},
                  {":B6\r", ":18\r", ":E7\r"},
                  true},
        FaultCase{"ZToEveryCommandThatIsAnswered",
                  Faults([](RadioFaults& f) { f.zReplyEvery = 1; }),
                  {kVersion, kUnlock, kStart, kProgram10, kEraseFromFile},
                  {"Z\r", "", "Z\r", "Z\r", "Z\r"},
                  false},
        FaultCase{"ZToEveryThirdCommand",
                  Faults([](RadioFaults& f) { f.zReplyEvery = 3; }),
                  {kVersion, kStart, kProgram10, kProgram10},
                  {"VER 1234 720\r", "READY\r", "Z\r", ":E7\r"},
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FaultTest, DelayTravelsWithEveryReply) {
  RadioConfig config;
  config.faults.replyDelayMs = 250;
  CSimulatedRadio radio(config);
  for (const Bytes& command : {kVersion, kStart, kProgram10}) {
    const auto reply = radio.HandleCommand(command);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->delayMs, 250u);
  }
}

TEST(FaultTest, RandomLossFollowsTheSeed) {
  const auto lossPattern = [](std::uint32_t seed) {
    RadioConfig config;
    config.faults.dropPercent = 30;
    config.seed = seed;
    CSimulatedRadio radio(config);
    std::string pattern;
    for (int i = 0; i < 200; ++i) pattern += radio.HandleCommand(kStart) ? '.' : 'x';
    return pattern;
  };
  const std::string first = lossPattern(7);
  EXPECT_EQ(first, lossPattern(7));
  EXPECT_NE(first, lossPattern(8));
  EXPECT_NE(first.find('x'), std::string::npos);
  EXPECT_NE(first.find('.'), std::string::npos);
}

// ---------------------------------------------------------------------------
// A serial stream: binary records hold CR bytes; raw text lines come with
// their own line end and a lone CR.

// LL 0x0D, CR data bytes, and a checksum that is 0x0D itself.
Bytes RecordFullOfCarriageReturns() {
  Bytes data(13, 0x0D);
  data[0] = 0x30;  // makes the checksum come out as 0x0D
  return DataRecord('B', 0x0D0D, data);
}

struct StreamCase {
  const char* name;
  std::size_t chunk;  // bytes per read
};

class StreamFramingTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamFramingTest, CommandsComeOutWholeHoweverTheBytesArrive) {
  const Bytes crRecord = RecordFullOfCarriageReturns();
  ASSERT_EQ(crRecord[crRecord.size() - 2], 0x0D);
  const Bytes secondRecord = DataRecord('B', 0x0100, {'\r', '\n', '?', 'V', '\r'});
  const Bytes stream = Concat({kVersion, Text("\r\n"), crRecord, Text("AB\r\n"), Text("\r"), kUnlock, kSegmentF000,
                               kEraseFromFile, Text("\n"), secondRecord, kGo});

  CSimulatedRadio radio;
  std::vector<std::string> replies;
  for (std::size_t at = 0; at < stream.size(); at += GetParam().chunk) {
    const std::size_t n = std::min(GetParam().chunk, stream.size() - at);
    for (const RadioReply& reply : radio.ReceiveStream({stream.data() + at, n})) replies.push_back(AsString(reply.bytes));
  }

  const std::vector<Bytes> expectedLog = {kVersion,     crRecord,       Text("AB\r"), kUnlock,
                                          kSegmentF000, kEraseFromFile, secondRecord, kGo};
  EXPECT_EQ(radio.CommandLog(), expectedLog);
  EXPECT_EQ(replies, (std::vector<std::string>{"VER 1234 720\r", ":0D\r", ":0C\r", "E\r",
                                               ChecksumReplyOf(secondRecord), "G\r"}));
  EXPECT_FALSE(radio.HasPendingInput());
  EXPECT_EQ(ImageBytes(radio.Image(), 0x100, 5), Text("\r\n?V\r"));
}

INSTANTIATE_TEST_SUITE_P(Chunks, StreamFramingTest,
                         ::testing::Values(StreamCase{"Whole", 1000}, StreamCase{"ByteByByte", 1},
                                           StreamCase{"ThreeAtATime", 3}, StreamCase{"SevenAtATime", 7}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamFramingTest, RawLineThatLooksBinaryIsRecoveredWhenInputStalls) {
  CSimulatedRadio radio;
  // 'S' then 'x' reads as an S-record of 0x78 bytes: it swallows what follows.
  EXPECT_TRUE(radio.ReceiveStream(Concat({Text("Sx\r\n"), Text("\r"), kVersion})).empty());
  const std::vector<RadioReply> replies = radio.FlushStalledInput();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(AsString(replies[0].bytes), "VER 1234 720\r");
  EXPECT_EQ(radio.CommandLog(), (std::vector<Bytes>{Text("Sx\r"), kVersion}));
}

TEST(StreamFramingTest, RawLinesBeginningLikeBinaryCommandsAreText) {
  CSimulatedRadio radio;
  for (const char* raw : {"AB\r\n", "Exit\r\n", "Go on!\r\n", "B\r\n\r\n\r\n\r\n"}) {
    EXPECT_TRUE(radio.ReceiveStream(Concat({Text(raw), Text("\r")})).empty()) << raw;
  }
  EXPECT_EQ(ReplyText(radio.ReceiveStream(kVersion).at(0)), "VER 1234 720\r");
  EXPECT_EQ(radio.Counters().commands, 5u);  // the empty lines after "B" are no commands
}

// ---------------------------------------------------------------------------
// Datagrams.

TEST(DatagramTest, PasscodeIsCheckedHighByteFirst) {
  const Bytes command = kVersion;
  struct Case {
    Bytes datagram;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {Concat({{0x12, 0x34}, command}), true},
      {Concat({{0x34, 0x12}, command}), false},
      {Concat({{0x00, 0x00}, command}), false},
      {{0x12}, false},
  };
  for (const Case& c : cases) {
    const auto opened = OpenDatagram(c.datagram, 0x1234);
    ASSERT_EQ(opened.has_value(), c.accepted);
    if (opened) {
      EXPECT_EQ(Bytes(opened->begin(), opened->end()), command);
    }
  }
}

TEST(DatagramTest, OneDatagramIsOneCommand) {
  CSimulatedRadio radio;
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {kVersion, "VER 1234 720\r"},
      {RecordFullOfCarriageReturns(), ":0D\r"},
      {Text("B stands for nothing here\r\n"), ""},  // a raw line
      {Text("\r"), ""},                             // the CR after it
      {kGo, "G\r"},
  };
  for (const auto& [datagram, reply] : cases) {
    EXPECT_EQ(ReplyText(radio.ReceiveDatagram(datagram)), reply) << AsString(datagram);
  }
  EXPECT_EQ(radio.CommandLog().size(), 4u);  // the lone CR is no command
}

// ---------------------------------------------------------------------------
// The dump: lowest to highest address written, gaps erased.

struct DumpCase {
  const char* name;
  std::vector<std::pair<std::uint32_t, Bytes>> writes;
  std::uint32_t lowest;
  Bytes dump;
};

class FlashDumpTest : public ::testing::TestWithParam<DumpCase> {};

TEST_P(FlashDumpTest, GapsAreErasedBytes) {
  CFlashImage image;
  for (const auto& [address, bytes] : GetParam().writes) image.Write(address, bytes);
  EXPECT_EQ(image.Dump(), GetParam().dump);
  EXPECT_EQ(image.DumpSize(), GetParam().dump.size());
  if (!image.IsEmpty()) {
    EXPECT_EQ(image.LowestAddress(), GetParam().lowest);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, FlashDumpTest,
    ::testing::Values(DumpCase{"Empty", {}, 0, {}},
                      DumpCase{"GapInside", {{0x104, {5}}, {0x100, {1, 2}}}, 0x100, {1, 2, 0xFF, 0xFF, 5}},
                      DumpCase{"WrittenFFIsKept", {{0x20, {0xFF}}, {0x22, {0}}}, 0x20, {0xFF, 0xFF, 0}},
                      DumpCase{"AcrossPages", {{0x0FFF, {1}}, {0x1001, {3}}}, 0x0FFF, {1, 0xFF, 3}},
                      DumpCase{"OverwriteKeepsTheLast", {{0x10, {1, 2, 3}}, {0x11, {9}}}, 0x10, {1, 9, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FlashDumpTest, RadioDumpFollowsTheSegment) {
  CSimulatedRadio radio;
  SendAll(radio, {kSegmentF000, kProgram10, DataRecord('B', 0x0020, {4})});
  const CFlashImage& image = radio.Image();
  EXPECT_EQ(image.LowestAddress(), 0xF0010u);
  Bytes expected(0x11, 0xFF);
  expected[0] = 1;
  expected[1] = 2;
  expected[2] = 3;
  expected[0x10] = 4;
  EXPECT_EQ(image.Dump(), expected);
}

// ---------------------------------------------------------------------------
// The radio-sim program over UDP on the loopback, one exchange.

class RadioSimProgramTest : public ::testing::Test {
 protected:
  // A guard against a hung program, not a measure of speed.
  static constexpr int kGuardMs = 10000;

  CRadioSimProcess radio_;
};

TEST_F(RadioSimProgramTest, AnswersTheVersionQueryOverUdp) {
  if (!CRadioSimProcess::IsBuilt())
    GTEST_SKIP() << "radio-sim is not built at " << CRadioSimProcess::ProgramPath();
  ASSERT_TRUE(radio_.Start({"--udp", "127.0.0.1:0", "--passcode", "4660", "--model", "740"},
                           std::chrono::milliseconds(kGuardMs)));
  const std::string& ready = radio_.ReadyLine();
  const std::string prefix = "radio-sim ready: udp 127.0.0.1:";
  ASSERT_EQ(ready.rfind(prefix, 0), 0u) << ready;
  const int port = std::atoi(ready.c_str() + prefix.size());
  ASSERT_GT(port, 0);

  const CPlainSocket program("127.0.0.1", 0);
  ASSERT_TRUE(program.IsBound());
  // A wrong passcode first: a radio ignores it, so the only reply is to the second.
  for (const Bytes& datagram : {Concat({{0x00, 0x01}, Text("ZZ\r")}), Concat({{0x12, 0x34}, kVersion})})
    ASSERT_NO_FATAL_FAILURE(program.SendTo("127.0.0.1", port, datagram));
  const std::optional<Bytes> reply = program.Receive(kGuardMs);
  ASSERT_TRUE(reply.has_value()) << "no reply";
  EXPECT_EQ(AsString(*reply), "VER 1234 740\r");
  EXPECT_EQ(radio_.Stop(std::chrono::milliseconds(kGuardMs)), 0);
}

}  // namespace
