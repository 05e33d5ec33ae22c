#pragma once
// What the simulated radio is, and how it misbehaves when a trial asks it to.

#include <cstdint>

inline constexpr int kDefaultModel = 720;
inline constexpr unsigned kDefaultDspVersion = 1234;
// The version reply has four characters for the DSP version before the model
// field; a longer number would push the model off its place.
inline constexpr unsigned kMaxDspVersion = 9999;
// The Talvo predates the model field of the version reply: it answers with 0
// there, which is how a radio without a model number is recognised.
inline constexpr int kTalvoModel = 710;

// Every "every N" count is off at 0; 1 means every time.
struct RadioFaults {
  bool silent = false;              // never answer, never act
  unsigned dropEveryReply = 0;      // the reply is lost after the radio acted
  unsigned badChecksumEvery = 0;    // the record arrives damaged: not written, wrong checksum echoed
  unsigned zReplyEvery = 0;         // the radio refuses the command with "Z"
  unsigned replyDelayMs = 0;        // how long the radio thinks before each reply
  unsigned silentAfter = 0;         // commands answered before the radio goes dead
  unsigned dropPercent = 0;         // replies lost at random, drawn from the seed
};

struct RadioConfig {
  int model = kDefaultModel;
  bool extendedMemory = false;  // the Merrow with six stored programs
  unsigned dspVersion = kDefaultDspVersion;
  RadioFaults faults;
  std::uint32_t seed = 1;
  // A long benchmark run need not keep every command it ever received.
  bool keepCommandLog = true;
};
