// Identifying the radio from its version reply and checking the file's model.

#include <array>
#include <optional>

#include "engine/main_window.h"
#include "platform/text.h"
#include "protocol/reply_text.h"

namespace {

struct RadioModel {
  std::int32_t number;
  const char* statusText;
  const char* startCommand;
  const char* mismatchMessage;
};

constexpr std::array<RadioModel, 7> kModels{{
    {720, "Merrow 720", "ZZ\r", "The selected RUF file is not compatible with the Merrow"},
    {740, "Model KR740", "ZZ\r", "The selected RUF file is not compatible with the Model KR740"},
    {750, "Model 750", "ZZ\r", "The selected RUF file is not compatible with the Model 750"},
    {760, "KR-760 Reciever", "ZZ\r", "The selected RUF file is not compatible with the KR-760"},
    {770, "Brisal V Transceiver", "ZZ\r", "The selected RUF file is not compatible with the BRIS-V"},
    {780, "Sarnex 780", "ZZ\r", "The selected RUF file is not compatible with the Sarnex"},
    {781, "Sarnex 2 781", "ZZ\r", "The selected RUF file is not compatible with the Sarnex2"},
}};
// The row of a radio that names no model.
constexpr RadioModel kTalvo{710, "Talvo 710", "XX\r", "The selected RUF file is not compatible with the Talvo"};

constexpr std::int32_t kMerrowModel = 720;
constexpr std::int32_t kModel750 = 750;
constexpr std::size_t kDspVersionOffset = 4;
constexpr std::size_t kModelOffset = 9;
constexpr std::size_t kSeparatorOffset = 3;

// A decimal field at a fixed offset; nullopt when absent or unreadable.
std::optional<std::int64_t> FieldAt(std::string_view text, std::size_t offset) {
  if (offset >= text.size()) return std::nullopt;
  return ReadLeadingDecimal(text.substr(offset));
}

}  // namespace

void CMainWindow::HandleVersionReply(std::span<const std::uint8_t> reply) {
  UpdateSession& s = updateSession;
  host_.KillTimer(kVersionReplyTimerId);
  const std::string_view text = ReplyText(reply);

  if (auto dsp = FieldAt(text, kDspVersionOffset)) s.dspVersion = static_cast<std::uint32_t>(*dsp);
  versionText = Format("DSP VERSION %1.3f", s.dspVersion / 1000.0);
  if (auto model = FieldAt(text, kModelOffset)) s.radioModel = static_cast<std::int32_t>(*model);

  const RadioModel* row = &kTalvo;
  if (s.radioModel != 0 && text.size() >= kModelOffset) {
    row = nullptr;
    for (const RadioModel& m : kModels)
      if (m.number == s.radioModel) row = &m;
  }
  if (row == nullptr) {
    ShowStatus(2, versionText);
    AppendLog(Format(" Unknown radio model %d (%s): this program cannot update it", s.radioModel,
                     versionText.c_str()));
    AppendLog("\r\n");
    // Nothing can follow: no start command exists for this radio, and a
    // resend of the saved line sends nothing. The operation is over.
    StopRunning(OperationEnd::ModelUnknown);
    return;
  }

  if (row->number == kMerrowModel && text.size() > kSeparatorOffset && text[kSeparatorOffset] == '-') {
    // The radio has answered; while the user chooses nothing is awaited from
    // it, so its silence meanwhile is no communication failure.
    KillResponseTimer();
    // Until the slot is known no reply may start the file: its erase command
    // would name no slot and wipe the radio's main program.
    choosingSlot_ = true;
    SelectPersonality();
    choosingSlot_ = false;
    if (!operationRunning_) return;  // ended while the dialog was open
    if (s.personality == -1) {
      SendCommand("P0\r");
      StopRunning(OperationEnd::SlotCancelled);
      return;
    }
  }

  ShowStatus(1, row->statusText);
  if (s.fileModel == row->number) {
    if (row->number == kModel750) s.repeatStartCommand = 1;
    radioIdentified_ = true;
    SendCommand(row->startCommand);
  } else {
    KillResponseTimer();
    StopRunning(OperationEnd::ModelRefused);
    host_.MessageBox(row->mismatchMessage);
  }
}

void CMainWindow::SelectPersonality() { updateSession.personality = host_.RunDialog(kDialogPersonality); }
