// Interpreting the radio's replies.

#include <optional>

#include "engine/main_window.h"
#include "engine/ruf_line.h"
#include "protocol/reply_text.h"

std::string RenderHexUpper(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
    out += ' ';
  }
  return out;
}

namespace {

// The hexadecimal number of at most two digits after the colon of a checksum
// reply, white space before it skipped.
std::optional<std::uint8_t> ReadReplyChecksum(std::string_view text) {
  std::size_t i = 1;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  std::optional<std::uint8_t> value;
  for (std::size_t end = i + 2; i < end && i < text.size(); ++i) {
    const std::optional<std::uint8_t> digit = HexDigitValue(text[i]);
    if (!digit) break;
    value = static_cast<std::uint8_t>(value.value_or(0) << 4 | *digit);
  }
  return value;
}

enum class ReplyRule { Ready, Checksum, Refused, Accepted, LeftToTimer, Dsp, Version, Unknown };

// The first rule that matches, in this order: a text anywhere, or a first byte.
ReplyRule ClassifyReply(std::span<const std::uint8_t> reply) {
  const std::string_view text = ReplyText(reply);
  const int first = reply.empty() ? -1 : reply[0];
  if (text.find("READY") != std::string_view::npos) return ReplyRule::Ready;
  if (first == ':') return ReplyRule::Checksum;
  if (first == 'Z') return ReplyRule::Refused;
  if (first == 'E' || first == 'G' || first == 'A') return ReplyRule::Accepted;
  if (first == 'S') return ReplyRule::LeftToTimer;
  if (text.find("DSP") != std::string_view::npos) return ReplyRule::Dsp;
  if (text.find("VER") != std::string_view::npos) return ReplyRule::Version;
  return ReplyRule::Unknown;
}

}  // namespace

void CMainWindow::ParseReply(std::span<const std::uint8_t> reply) {
  UpdateSession& s = updateSession;
  s.repeatStartCommand = 0;
  // Whatever the interface, an answer means the radio is there.
  host_.KillTimer(kVersionReplyTimerId);

  const bool examine = s.mode != kModeTest && commSettings.ignoreErrors != 1;
  if (!operationRunning_ || choosingSlot_) {
    // A late reply of a stopped operation must not send anything more, nor
    // may a reply while the user still chooses the slot.
    LogReceived(RenderHexUpper(reply) + "\r");
    return;
  }
  if (!examine) {
    ContinueProcessing();
    return;
  }
  LogReceived(RenderHexUpper(reply) + "\r");

  const ReplyRule rule = ClassifyReply(reply);
  // Until the radio has said which model it is, nothing of the file may go
  // out: a power-up banner with "READY" in it must not start the transmission
  // unchecked. Once it is identified, a second version reply changes nothing.
  const bool advances = rule != ReplyRule::Refused && rule != ReplyRule::LeftToTimer && rule != ReplyRule::Unknown;
  if (!radioIdentified_ && advances && rule != ReplyRule::Version) {
    LogEvent("serial response parser", " Reply before the radio was identified, left to the timer ");
    return;
  }
  if (radioIdentified_ && rule == ReplyRule::Version) {
    LogEvent("serial response parser", " Version reply after the radio was identified, ignored ");
    return;
  }

  switch (rule) {
    case ReplyRule::Ready:
    case ReplyRule::Accepted:
    case ReplyRule::Dsp:
      ContinueProcessing();
      break;
    case ReplyRule::Checksum: {
      const std::optional<std::uint8_t> reported = ReadReplyChecksum(ReplyText(reply));
      if (reported) receivedChecksum = *reported;
      // A reply without digits confirms nothing, whatever an earlier one said.
      if (reported && receivedChecksum == s.expectedChecksum) {
        ContinueProcessing();
      } else if (++s.checksumRetries <= kMaxChecksumRetries) {
        s.resendLine = 1;
        ContinueProcessing();
      } else {
        s.resendLine = 0;
        s.checksumRetries = 0;
        ++s.checksumErrors;
        s.failureFlag = 1;
        KillResponseTimer();
        ContinueProcessing();
      }
      break;
    }
    case ReplyRule::Refused:      // the response timer leads to a resend
    case ReplyRule::LeftToTimer:
      break;
    case ReplyRule::Version:
      HandleVersionReply(reply);
      break;
    case ReplyRule::Unknown:
      LogEvent("serial response parser", " I didn't understand the response ");
      break;
  }
}
