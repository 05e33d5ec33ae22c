#pragma once
// The shapes of the commands the radio receives. Binary commands carry
// arbitrary bytes, 0x0D included, so a serial stream is cut by the first byte
// and the length its layout implies; text commands end at a carriage return.

#include <cstddef>
#include <cstdint>
#include <span>

enum class CommandKind {
  DataRecord,       // 'B' program, 'V' verify, 0x99 test
  ExtendedAddress,  // 'A'
  SRecord,          // 'S'
  Erase,            // 'E'
  Go,               // 'G'
  VersionQuery,     // "?V\r"
  StartCommand,     // "ZZ\r" or "XX\r"
  PersonalityCancel,  // "P0\r"
  Unlock,           // "UNLOCKBOOT\r"
  RawText,          // any other text line
};

inline constexpr std::uint8_t kCommandEnd = 0x0D;
inline constexpr std::uint8_t kProgramRecordByte = 'B';
inline constexpr std::uint8_t kVerifyRecordByte = 'V';
inline constexpr std::uint8_t kTestRecordByte = 0x99;

// Data record: byte, LL, address high, address low, type, LL data bytes, CC, CR.
inline constexpr std::size_t kDataRecordOverhead = 7;
inline constexpr std::size_t kExtendedAddressLength = 9;
// S-record: 'S', NN, NN - 1 bytes, CC, CR.
inline constexpr std::size_t kSRecordOverhead = 3;
inline constexpr std::size_t kEraseLength = 6;
inline constexpr std::size_t kGoLength = 7;

struct CommandFrame {
  bool complete = false;
  std::size_t length = 0;  // bytes of the command, when complete
};

// How the bytes at the start of pending stand as one command: complete with
// its length, or not yet. A first byte that names a binary command but bytes
// that break its layout (no CR at its end, a wrong type byte, an E or G whose
// bytes do not sum to zero) make the line a text line instead: raw text lines
// may begin with any letter.
CommandFrame FrameCommand(std::span<const std::uint8_t> pending);

// The kind of one whole command (a datagram, or a frame cut from a stream).
CommandKind ClassifyCommand(std::span<const std::uint8_t> command);

// True for the commands the radio answers.
bool ExpectsReply(CommandKind kind);
