// Identifying the radio from its version reply and refusing a file for
// another model.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/protocol_rig.h"

namespace {

struct VersionCase {
  const char* name;
  const char* file;
  const char* reply;
  int slotChoice;          // the personality dialog's answer; 0: no dialog expected
  std::int32_t lastModel;  // the model of an earlier version reply in this program run
  const char* sent;        // what follows "?V\r"; "" for nothing
  const char* pane1;
  const char* message;  // "" for no message box
  std::uint32_t dspVersion;
  bool running;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

constexpr const char* kNoMessage = "";

const VersionCase kVersionCases[] = {
    {"Merrow", "720-a.ruf", "VER 1234 720\r", 0, 0, "ZZ\r", "Merrow 720", kNoMessage, 1234, true},
    {"MerrowSlot4", "720-a.ruf", "VER-1234 720\r", 4, 0, "ZZ\r", "Merrow 720", kNoMessage, 1234, true},
    {"MerrowSlotCancelled", "720-a.ruf", "VER-1234 720\r", -1, 0, "P0\r", "", kNoMessage, 1234, false},
    // The extended-memory mark means nothing for another model.
    {"DashOnKR740", "740-a.ruf", "VER-1234 740\r", 0, 0, "ZZ\r", "Model KR740", kNoMessage, 1234, true},
    {"Model750", "750-a.ruf", "VER 1234 750\r", 0, 0, "ZZ\r", "Model 750", kNoMessage, 1234, true},
    {"KR740RefusesMerrowFile", "720-a.ruf", "VER 1234 740\r", 0, 0, "", "Model KR740",
     "The selected RUF file is not compatible with the Model KR740", 1234, false},
    // Eight characters are too short for a model field, whatever was read before.
    {"TalvoShortReply", "710-a.ruf", "VER 123\r", 0, 720, "XX\r", "Talvo 710", kNoMessage, 123, true},
    {"TalvoModelZero", "720-a.ruf", "VER 1234 0\r", 0, 0, "", "Talvo 710",
     "The selected RUF file is not compatible with the Talvo", 1234, false},
    // Nine characters but no model field: the last model read stands.
    {"MissingModelReusesLast", "740-a.ruf", "VER 1234\r", 0, 740, "ZZ\r", "Model KR740", kNoMessage, 1234, true},
    {"MissingModelFirstTime", "710-a.ruf", "VER 1234\r", 0, 0, "XX\r", "Talvo 710", kNoMessage, 1234, true},
    // Every row's texts, spelling included.
    {"Refuse720", "100-a.ruf", "VER 1234 720\r", 0, 0, "", "Merrow 720",
     "The selected RUF file is not compatible with the Merrow", 1234, false},
    {"Refuse750", "100-a.ruf", "VER 1234 750\r", 0, 0, "", "Model 750",
     "The selected RUF file is not compatible with the Model 750", 1234, false},
    {"Refuse760", "100-a.ruf", "VER 1234 760\r", 0, 0, "", "KR-760 Reciever",
     "The selected RUF file is not compatible with the KR-760", 1234, false},
    {"Refuse770", "100-a.ruf", "VER 1234 770\r", 0, 0, "", "Brisal V Transceiver",
     "The selected RUF file is not compatible with the BRIS-V", 1234, false},
    {"Refuse780", "100-a.ruf", "VER 1234 780\r", 0, 0, "", "Sarnex 780",
     "The selected RUF file is not compatible with the Sarnex", 1234, false},
    {"Refuse781", "100-a.ruf", "VER 1234 781\r", 0, 0, "", "Sarnex 2 781",
     "The selected RUF file is not compatible with the Sarnex2", 1234, false},
    {"Accept781", "781-a.ruf", "VER 1234 781\r", 0, 0, "ZZ\r", "Sarnex 2 781", kNoMessage, 1234, true},
};

class ModelIdentification : public ::testing::TestWithParam<VersionCase> {};

TEST_P(ModelIdentification, VersionReply) {
  const VersionCase& c = GetParam();
  ProtocolRig r;
  r.w.updateSession.radioModel = c.lastModel;
  r.host.personalityChoice = c.slotChoice;
  r.Start(c.file, kTwoRecords);
  r.Reply(c.reply);

  std::vector<std::string> sent;
  for (std::size_t i = 1; i < r.SentCount(); ++i) sent.push_back(r.Sent(i));
  EXPECT_EQ(sent, std::string(c.sent).empty() ? std::vector<std::string>{} : std::vector<std::string>{c.sent});
  EXPECT_EQ(r.host.panes[1], c.pane1);
  EXPECT_EQ(r.host.messageBoxes,
            std::string(c.message).empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
  EXPECT_EQ(r.host.dialogs, c.slotChoice == 0 ? std::vector<int>{} : std::vector<int>{kDialogPersonality});
  EXPECT_EQ(r.w.updateSession.personality, c.slotChoice);
  EXPECT_EQ(r.w.updateSession.dspVersion, c.dspVersion);
  EXPECT_EQ(r.w.updateSession.repeatStartCommand, std::string(c.file) == "750-a.ruf" ? 1 : 0);
  EXPECT_EQ(r.w.IsOperationRunning(), c.running);
  // A start command awaits its answer; a refused file leaves no timer behind.
  if (c.running) {
    EXPECT_TRUE(r.host.TimerPeriod(kResponseTimerId).has_value());
  }
  if (*c.message != 0) {
    EXPECT_FALSE(r.host.TimerPeriod(kResponseTimerId).has_value());
  }
  EXPECT_FALSE(r.host.TimerPeriod(kVersionReplyTimerId).has_value());
}

INSTANTIATE_TEST_SUITE_P(Rows, ModelIdentification, ::testing::ValuesIn(kVersionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ModelIdentification, UnknownModelShowsItsDspVersionAndSendsNothing) {
  struct Case {
    const char* reply;
    const char* versionText;
  };
  // A negative field is shown as the unsigned number it is stored as.
  for (const Case& c : {Case{"VER 1234 999\r", "DSP VERSION 1.234"}, Case{"VER   -1 999\r", "DSP VERSION 4294967.295"}}) {
    SCOPED_TRACE(c.reply);
    ProtocolRig r;
    r.Start("720-a.ruf", kTwoRecords);
    r.Reply(c.reply);
    EXPECT_EQ(r.host.panes[2], c.versionText);
    EXPECT_EQ(r.host.panes[1], "");
    EXPECT_NE(r.w.logText.find(std::string(" Unknown radio model 999 (") + c.versionText + ")"), std::string::npos)
        << r.w.logText;
    EXPECT_EQ(r.w.logText.substr(r.w.logText.size() - 2), "\r\n");
    EXPECT_EQ(r.SentCount(), 1u);
    EXPECT_TRUE(r.host.messageBoxes.empty());
    // No start command exists for it: a later READY must send nothing.
    r.Reply("READY\r");
    r.host.Advance(60000);
    EXPECT_EQ(r.SentCount(), 1u);
  }
}

TEST(ModelIdentification, OperationEndedDuringTheSlotChoiceSendsNothing) {
  ProtocolRig r;
  r.host.onDialog = [&](int id) {
    if (id == kDialogPersonality) r.w.AbortOperation("interrupted");
    return 4;
  };
  r.Start("720-a.ruf", kTwoRecords);
  r.Reply("VER-1234 720\r");
  EXPECT_EQ(r.SentCount(), 1u);
  EXPECT_EQ(r.host.panes[1], "");
  EXPECT_TRUE(r.host.messageBoxes.empty());
}

TEST(ModelIdentification, ReplyWhileTheSlotIsChosenStartsNothing) {
  ProtocolRig r;
  r.host.onDialog = [&](int id) {
    if (id == kDialogPersonality) r.Reply("READY\r");  // a stray reply while the user thinks
    return 2;
  };
  r.Start("720-a.ruf", "#E010203\r\n:03001000010203E7\r\n");
  r.Reply("VER-1234 720\r");
  ASSERT_EQ(r.SentCount(), 2u);  // the version query and the start command, no erase
  EXPECT_EQ(r.LastSent(), "ZZ\r");
  r.Reply("READY\r");
  EXPECT_EQ(r.LastSent(), std::string("E\x02\x00\x00\xFE\r", 6));
}

TEST(ModelIdentification, ChosenSlotReachesTheEraseCommand) {
  ProtocolRig r;
  r.host.personalityChoice = 4;
  r.Start("720-a.ruf", "#E010203\r\n:02000002F0000C\r\n:03001000010203E7\r\n");
  r.Reply("VER-1234 720\r");
  r.Reply("READY\r");
  EXPECT_EQ(r.LastSent(), std::string("E\x04\x00\x00\xFC\r", 6));
  r.Reply("E\r");  // the extended address is left out for a stored program
  EXPECT_EQ(r.LastSent(), kRecord1Command);
}

}  // namespace
