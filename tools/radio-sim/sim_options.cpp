#include "sim_options.h"

#include <charconv>
#include <functional>
#include <limits>
#include <map>

#include "simulated_radio.h"

const char* const kSimUsage =
    "usage: radio-sim (--pty LINK | --udp ADDR:PORT) [options]\n"
    "  --pty LINK             answer on a pseudo-terminal; LINK becomes a symbolic link to it\n"
    "  --udp ADDR:PORT        answer datagrams sent to ADDR:PORT (port 0 picks a free one)\n"
    "  --passcode N           datagram passcode, 0 to 65535 (default 0)\n"
    "  --model N              model number in the version reply (default 720; 710 answers as a Talvo)\n"
    "  --extended             Merrow with extended memory: six stored programs\n"
    "  --dsp N                DSP version in thousandths, 0 to 9999 (default 1234)\n"
    "  --silent               never answer\n"
    "  --silent-after N       answer the first N commands, then nothing\n"
    "  --drop-every N         lose every Nth reply\n"
    "  --drop-percent P       lose replies at random, P in 100 (see --seed)\n"
    "  --bad-checksum-every N take every Nth record as damaged: not written, wrong checksum\n"
    "  --reply-z              refuse every command with \"Z\"\n"
    "  --reply-z-every N      refuse every Nth command with \"Z\"\n"
    "  --delay-ms N           think N ms before each reply\n"
    "  --seed N               seed for the random faults (default 1)\n"
    "  --baud N               pace replies as a serial line of N baud would (pty only)\n"
    "  --dump FILE            write a flash image to FILE at exit (lowest to highest\n"
    "                         address written, gaps 0xFF)\n"
    "  --dump-slot N          the stored program to dump, 0 to 6 (default 0)\n"
    "  --log FILE             write every command received to FILE in hex, one a line\n"
    "  --help                 show this text\n";

namespace {

template <typename T>
bool ParseNumber(const std::string& text, T low, T high, T& out) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return false;
  out = value;
  return true;
}

constexpr unsigned kMaxCount = std::numeric_limits<unsigned>::max();
constexpr unsigned kMaxBaud = 4000000;
constexpr int kMaxModel = 999;

}  // namespace

std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error) {
  SimOptions options;
  RadioFaults& faults = options.radio.faults;

  // Options without a value.
  const std::map<std::string, std::function<void()>> flags = {
      {"--extended", [&] { options.radio.extendedMemory = true; }},
      {"--silent", [&] { faults.silent = true; }},
      {"--reply-z", [&] { faults.zReplyEvery = 1; }},
      {"--help", [&] { options.help = true; }},
  };
  // Options with a value; each answers whether the value was acceptable.
  const auto count = [](unsigned& field) {
    return [&field](const std::string& v) { return ParseNumber(v, 0u, kMaxCount, field); };
  };
  const std::map<std::string, std::function<bool(const std::string&)>> valued = {
      {"--pty", [&](const std::string& v) { options.link = SimLink::Pty; options.ptyLink = v; return !v.empty(); }},
      {"--udp", [&](const std::string& v) { options.link = SimLink::Udp; options.udpEndpoint = v; return !v.empty(); }},
      {"--passcode", [&](const std::string& v) {
         return ParseNumber<std::uint16_t>(v, 0, std::numeric_limits<std::uint16_t>::max(), options.passcode);
       }},
      {"--model", [&](const std::string& v) { return ParseNumber(v, 0, kMaxModel, options.radio.model); }},
      {"--dsp", [&](const std::string& v) { return ParseNumber(v, 0u, kMaxDspVersion, options.radio.dspVersion); }},
      {"--silent-after", count(faults.silentAfter)},
      {"--drop-every", count(faults.dropEveryReply)},
      {"--drop-percent", [&](const std::string& v) { return ParseNumber(v, 0u, 100u, faults.dropPercent); }},
      {"--bad-checksum-every", count(faults.badChecksumEvery)},
      {"--reply-z-every", count(faults.zReplyEvery)},
      {"--delay-ms", count(faults.replyDelayMs)},
      {"--seed", [&](const std::string& v) {
         return ParseNumber<std::uint32_t>(v, 0, std::numeric_limits<std::uint32_t>::max(), options.radio.seed);
       }},
      {"--baud", [&](const std::string& v) { return ParseNumber(v, 1u, kMaxBaud, options.baud); }},
      {"--dump", [&](const std::string& v) { options.dumpFile = v; return !v.empty(); }},
      {"--dump-slot", [&](const std::string& v) { return ParseNumber(v, 0, kSlotCount - 1, options.dumpSlot); }},
      {"--log", [&](const std::string& v) { options.logFile = v; return !v.empty(); }},
  };

  SimLink chosen = SimLink::None;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (auto flag = flags.find(arg); flag != flags.end()) {
      flag->second();
      continue;
    }
    const auto option = valued.find(arg);
    if (option == valued.end()) {
      error = "unknown option " + arg;
      return std::nullopt;
    }
    if (i + 1 == args.size()) {
      error = arg + " needs a value";
      return std::nullopt;
    }
    const std::string& value = args[++i];
    if (!option->second(value)) {
      error = "bad value for " + arg + ": " + value;
      return std::nullopt;
    }
    if (options.link != chosen && chosen != SimLink::None) {
      error = "choose one of --pty and --udp";
      return std::nullopt;
    }
    chosen = options.link;
  }
  if (options.help) return options;
  if (options.link == SimLink::None) {
    error = "choose one of --pty LINK and --udp ADDR:PORT";
    return std::nullopt;
  }
  if (options.baud != 0 && options.link != SimLink::Pty) {
    error = "--baud paces a serial line: it needs --pty";
    return std::nullopt;
  }
  return options;
}
