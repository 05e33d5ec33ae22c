#include "sim_serve.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "datagram_passcode.h"
#include "pty_endpoint.h"
#include "reply_queue.h"
#include "udp_endpoint.h"

namespace {

// Input that stops in the middle of a command for this long was a short text
// line that looked like the start of a binary command.
constexpr auto kStalledInput = std::chrono::milliseconds(300);
constexpr std::size_t kReadChunk = 4096;

void ReportFailure(const char* what) { std::fprintf(stderr, "radio-sim: %s: %s\n", what, std::strerror(errno)); }

void AnnounceReady(const std::string& text) {
  std::printf("radio-sim ready: %s\n", text.c_str());
  std::fflush(stdout);
}

int MillisecondsUntil(SimClock::time_point when, SimClock::time_point now) {
  if (when <= now) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(when - now).count());
}

// Waits on the stop signal and the link for at most timeoutMs (-1: no limit).
// Returns the link's events, or -1 when poll fails. A signal sets stop, and
// what the link already holds is still handled: the last command before the
// signal belongs in the log.
int Wait(CSignalWatch& signals, int linkFd, int timeoutMs, int& status, bool& stop) {
  std::array<pollfd, 2> fds{{{signals.Fd(), POLLIN, 0}, {linkFd, POLLIN, 0}}};
  if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
    if (errno == EINTR) return 0;
    ReportFailure("poll");
    status = 1;
    return -1;
  }
  if (fds[0].revents & POLLIN) {
    signals.Take();
    stop = true;
  }
  return fds[1].revents;
}

}  // namespace

ServeResult ServePty(const SimOptions& options, CSimulatedRadio& radio, CSignalWatch& signals, CCommandLogFile& log) {
  CPtyEndpoint pty;
  std::string error;
  if (!pty.Open(options.ptyLink, error)) {
    std::fprintf(stderr, "radio-sim: %s\n", error.c_str());
    return {1, false};
  }
  AnnounceReady("pty " + options.ptyLink + " -> " + pty.SlavePath());

  CReplyQueue queue(options.baud);
  std::array<std::uint8_t, kReadChunk> buffer{};
  SimClock::time_point lastInput = SimClock::now();
  bool stallHandled = true;  // the pending input has been given its stall flush
  bool lossReported = false;
  bool stop = false;
  int status = 0;
  for (;;) {
    SimClock::time_point now = SimClock::now();
    int timeout = queue.MillisecondsUntilDue(now);
    if (!stallHandled && radio.HasPendingInput()) {
      const int stall = MillisecondsUntil(lastInput + kStalledInput, now);
      timeout = timeout < 0 ? stall : std::min(timeout, stall);
    }
    const int events = Wait(signals, pty.Fd(), timeout, status, stop);
    if (events < 0) break;
    now = SimClock::now();
    if (events & POLLIN) {
      const long n = pty.Read(buffer);
      if (n < 0) {
        ReportFailure(("cannot read " + pty.SlavePath()).c_str());
        return {1, true};
      }
      if (n > 0) {
        lastInput = now;
        stallHandled = false;
        for (RadioReply& reply : radio.ReceiveStream({buffer.data(), static_cast<std::size_t>(n)})) {
          queue.Schedule(std::move(reply), now);
        }
      }
    } else if (events & (POLLHUP | POLLERR)) {
      // The slave is held open here, so this is not a client going away.
      std::fprintf(stderr, "radio-sim: the pseudo-terminal %s failed\n", pty.SlavePath().c_str());
      return {1, true};
    }
    if (!stallHandled && now - lastInput >= kStalledInput) {
      stallHandled = true;
      for (RadioReply& reply : radio.FlushStalledInput()) queue.Schedule(std::move(reply), now);
    }
    log.Write(radio.TakeCommandLog());
    for (const ScheduledReply& reply : queue.TakeDue(now)) {
      if (!pty.Write(reply.bytes) && !lossReported) {
        std::fprintf(stderr, "radio-sim: replies are being lost: nobody reads %s\n", pty.SlavePath().c_str());
        lossReported = true;
      }
    }
    if (stop) break;
  }
  return {status, true};
}

ServeResult ServeUdp(const SimOptions& options, CSimulatedRadio& radio, CSignalWatch& signals, CCommandLogFile& log) {
  CUdpEndpoint udp;
  std::string error;
  if (!udp.Open(options.udpEndpoint, error)) {
    std::fprintf(stderr, "radio-sim: %s\n", error.c_str());
    return {1, false};
  }
  AnnounceReady("udp " + udp.BoundAddress());

  CReplyQueue queue(0);
  bool stop = false;
  int status = 0;
  for (;;) {
    const int events = Wait(signals, udp.Fd(), queue.MillisecondsUntilDue(SimClock::now()), status, stop);
    if (events < 0) break;
    const SimClock::time_point now = SimClock::now();
    if (events & POLLIN) {
      while (auto datagram = udp.Receive()) {
        const auto command = OpenDatagram(datagram->bytes, options.passcode);
        if (!command) continue;  // another radio's passcode
        if (auto reply = radio.ReceiveDatagram(*command)) queue.Schedule(std::move(*reply), now, datagram->sender);
      }
    }
    log.Write(radio.TakeCommandLog());
    for (const ScheduledReply& reply : queue.TakeDue(now)) {
      if (!udp.Send(reply.bytes, reply.to)) ReportFailure("cannot send a reply");
    }
    if (stop) break;
  }
  return {status, true};
}
