// One step of a transmission: one line of the file becomes at most one radio
// command.

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/main_window.h"
#include "engine/ruf_line.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kUnlockCommand = "UNLOCKBOOT\r";
// Only this many characters of a '#U' line are compared with the unlock word.
constexpr std::size_t kUnlockCompareLength = 9;
constexpr std::size_t kProgressEveryLine = 50;
constexpr std::size_t kProgressInterval = 10;

}  // namespace

LineResult CMainWindow::ProcessLine() {
  UpdateSession& s = updateSession;
  s.responseTimeoutMs = kDefaultResponseTimeoutMs;
  host_.BriefPause();

  bool repeat = false;
  if (s.resendLine && s.repeatStartCommand) {
    s.resendLine = 0;
    SendCommand("ZZ\r");
    return LineResult::Wait;
  }
  if (s.resendLine) {
    s.lineBuffer = s.savedLine;
    s.resendLine = 0;
    if (s.extAddrSent) s.lastExtAddr = 1 - s.extAddr;
    repeat = true;
  } else {
    if (!s.file.ReadLine(s.lineBuffer)) {
      // A file that stops reading half-way was not all sent: never a success.
      if (const int error = s.file.ReadError()) {
        s.failureFlag = 1;
        AppendLog(Format(" Unable to read the update file: %s\r\n", std::strerror(error)));
      }
      AppendLog(" End Of Code Processing, Please Standby!\r\n");
      return LineResult::EndOfFile;
    }
    s.checksumRetries = 0;
    s.timeoutRetries = 0;
  }

  if (s.linesProcessed <= kProgressEveryLine || s.linesProcessed % kProgressInterval == 0)
    ShowStatus(0, Format("%d of %d Lines Processed", static_cast<int>(s.linesProcessed), s.totalLines));

  s.savedLine = s.lineBuffer;
  const std::string_view line = s.lineBuffer;
  const auto countLine = [&] {
    if (!repeat) ++s.linesProcessed;
  };

  switch (ClassifyLine(line)) {
    case RufLineKind::IntelHex:
      countLine();
      return ProcessIntelHexLine();
    case RufLineKind::SRecordSkipped:
      return LineResult::Next;
    case RufLineKind::SRecord:
      countLine();
      return ProcessSRecordLine();
    case RufLineKind::Comment:
      AppendLog(" ");
      AppendLog(line.substr(1));
      return LineResult::Next;
    case RufLineKind::EraseDirective:
      countLine();
      return ProcessDirectiveLine();
    case RufLineKind::GoDirective:
      if (s.mode != kModeVerify) countLine();
      return ProcessDirectiveLine();
    case RufLineKind::RawCommand:
    case RufLineKind::RadioLine:
    case RufLineKind::UnlockDirective:
    case RufLineKind::FormatVersion:
      return ProcessDirectiveLine();
    case RufLineKind::Unrecognised:
      break;
  }
  // A line that means nothing is passed over. Only the replay of the empty
  // saved line (a repeat asked for before any line was read) waits: the radio
  // has not been identified yet, so the file's first record must not follow.
  return repeat && line.empty() ? LineResult::Wait : LineResult::Next;
}

void CMainWindow::LogFileChecksumError(std::uint8_t computed, std::uint8_t inFile) {
  if (!commsLog.IsOpen()) return;
  commsLog.Write(" File CheckSum Error ");
  commsLog.Write(Format("Calc Checksum %02X Line Checksum %02X\n", computed, inFile));
  commsLog.Write("\n");
  commsLog.Write(updateSession.lineBuffer);
  commsLog.Write("\n");
}

LineResult CMainWindow::ProcessIntelHexLine() {
  UpdateSession& s = updateSession;
  auto& command = s.commandBuffer;
  const DecodedRecord record = DecodeIntelHex(s.lineBuffer);
  command[0] = static_cast<std::uint8_t>(s.mode & 0xFF);
  if (record.length == 0) return LineResult::Next;
  if (!record.fits) {
    // The record is cut short: there are no bytes to send, and the file is bad.
    LogFileChecksumError(record.computedChecksum, record.fileChecksum);
    s.failureFlag = 1;
    return LineResult::Next;
  }
  std::copy_n(record.bytes.begin(), record.byteCount, command.begin() + 1);
  const std::size_t length = record.byteCount + 3;  // LL + 7
  command[record.byteCount + 1] = record.fileChecksum;
  command[record.byteCount + 2] = 0x0D;
  if (!record.ChecksumMatches()) {
    LogFileChecksumError(record.computedChecksum, record.fileChecksum);
    s.failureFlag = 1;
  }
  switch (record.type) {
    case 0x00:
      break;
    case 0x02:
      if (s.personality > 0) return LineResult::Next;
      s.extAddr = DecodeExtendedAddress(s.lineBuffer);
      if (s.extAddr == s.lastExtAddr) return LineResult::Next;
      s.lastExtAddr = s.extAddr;
      command[0] = 'A';
      s.extAddrSent = 1;
      break;
    default:
      return LineResult::Next;
  }
  SendCommand(std::span<const std::uint8_t>(command.data(), length));
  s.expectedChecksum = record.fileChecksum;
  return LineResult::Wait;
}

LineResult CMainWindow::ProcessSRecordLine() {
  UpdateSession& s = updateSession;
  auto& command = s.commandBuffer;
  const DecodedRecord record = DecodeSRecord(s.lineBuffer);
  command[0] = 'S';
  if (record.length == 0) return LineResult::Next;
  // Types other than 1 and 3 end the file: no line after them is read.
  const bool endsFile = record.type != 1 && record.type != 3;
  if (!record.fits) {
    LogFileChecksumError(record.computedChecksum, record.fileChecksum);
    s.failureFlag = 1;
    if (endsFile) s.file.Close();
    return LineResult::Next;
  }
  std::copy_n(record.bytes.begin(), record.byteCount, command.begin() + 1);
  const std::size_t length = record.byteCount + 3;  // NN + 3
  command[record.byteCount + 1] = record.fileChecksum;
  command[record.byteCount + 2] = 0x0D;
  if (!record.ChecksumMatches()) s.failureFlag = 1;
  if (record.type == 1) return LineResult::Next;
  if (endsFile) s.file.Close();
  SendCommand(std::span<const std::uint8_t>(command.data(), length));
  s.expectedChecksum = record.fileChecksum;
  return LineResult::Wait;
}

LineResult CMainWindow::ProcessDirectiveLine() {
  UpdateSession& s = updateSession;
  const std::string_view line = s.lineBuffer;
  auto& command = s.commandBuffer;
  const auto textFrom = [&](std::size_t offset) { return offset < line.size() ? line.substr(offset) : std::string_view{}; };
  const auto byteAt = [&](std::size_t offset) { return DecodeHexByte(line, offset); };

  switch (line[1]) {
    case '>':
      SendCommand(textFrom(2));
      SendCommand("\r");
      return LineResult::Next;

    case 'E': {
      if (s.mode == kModeVerify) return LineResult::Next;
      s.responseTimeoutMs = kEraseResponseTimeoutMs;
      command[0] = 'E';
      if (s.personality == 0) {
        command[1] = byteAt(2);
        command[2] = byteAt(4);
        command[3] = byteAt(6);
        command[4] = static_cast<std::uint8_t>(0u - (command[1] + command[2] + command[3]));
      } else if (s.personality >= 1 && s.personality <= 6) {
        command[1] = static_cast<std::uint8_t>(s.personality);
        command[2] = 0;
        command[3] = 0;
        command[4] = static_cast<std::uint8_t>(256 - s.personality);
      } else {
        return LineResult::Wait;  // a cancelled slot choice names no slot
      }
      command[5] = 0x0D;
      SendCommand(std::span<const std::uint8_t>(command.data(), 6));
      return LineResult::Wait;
    }

    case 'G': {
      if (s.mode == kModeVerify) return LineResult::Next;
      s.responseTimeoutMs = kDefaultResponseTimeoutMs;
      command[0] = 'G';
      for (std::size_t i = 0; i < 4; ++i) command[1 + i] = byteAt(2 + 2 * i);
      // The radio sums the second byte twice and leaves the first out.
      command[5] = static_cast<std::uint8_t>(0u - (2u * command[2] + command[3] + command[4]));
      command[6] = 0x0D;
      SendCommand(std::span<const std::uint8_t>(command.data(), 7));
      return LineResult::Wait;
    }

    case 'M':
      AppendLog(" Radio Update File for " + std::string(textFrom(2)) + "\r\n");
      return LineResult::Next;

    case 'U':
      if (s.mode == kModeVerify) return LineResult::Next;
      if (line.substr(1, kUnlockCompareLength) == kUnlockCommand.substr(0, kUnlockCompareLength)) {
        SendCommand(kUnlockCommand);
        s.expectedChecksum = 0;
      }
      return LineResult::Next;

    case 'V':
      AppendLog(" Flash Rom Update File Format Version " + std::string(textFrom(5)) + "\r\n");
      return LineResult::Next;
  }
  return LineResult::Next;
}
