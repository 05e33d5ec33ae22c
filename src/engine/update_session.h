#pragma once
// The state of the current operation. One instance lives as long as the main
// window; fields keep their values from one operation to the next unless an
// operation start or a mode command resets them.

#include <array>
#include <cstdint>
#include <string>

#include "engine/ruf_file.h"

enum class LineResult : int { EndOfFile = 1, Wait = 2, Next = 3 };

// Values of UpdateSession::mode. Its low byte is the command byte of data records.
inline constexpr std::int32_t kModeProgram = 'B';
inline constexpr std::int32_t kModeVerify = 'V';
inline constexpr std::int32_t kModeTest = 0x99;
inline constexpr std::int32_t kModeQuery = '?';

// Start values that differ so that the first extended-address record is sent.
inline constexpr std::int32_t kExtAddrStart = 0xA55A;
inline constexpr std::int32_t kLastExtAddrStart = 0x5AA5;

inline constexpr std::int32_t kDefaultResponseTimeoutMs = 10000;
inline constexpr std::int32_t kEraseResponseTimeoutMs = 40000;

struct UpdateSession {
  std::int32_t mode = kModeProgram;
  std::int32_t fileModel = 99999;
  CRufFile file;
  std::int32_t totalLines = 0;
  std::uint32_t linesProcessed = 0;
  std::int64_t startTime = 0;
  std::int32_t responseTimeoutMs = kDefaultResponseTimeoutMs;
  std::int32_t personality = 0;  // 1..6 slot, 0 none asked, -1 cancelled
  std::int32_t radioModel = 0;
  std::uint32_t dspVersion = 0;
  std::uint8_t repeatStartCommand = 0;
  std::uint8_t resendLine = 0;
  std::int8_t checksumRetries = 0;
  std::int8_t timeoutRetries = 0;
  std::int32_t checksumErrors = 0;
  std::int32_t failureFlag = 0;
  std::uint8_t expectedChecksum = 0;
  std::int32_t extAddr = 0;
  std::int32_t lastExtAddr = 0;
  std::uint8_t extAddrSent = 0;
  std::string lineBuffer;  // at most kMaxLinePiece characters
  std::string savedLine;
  std::array<std::uint8_t, 256> commandBuffer{};
  std::int32_t outcomeShowing = 0;
};
