#include "tools/board_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace boardsim {

namespace {

constexpr auto kPollSlice = std::chrono::milliseconds(100);   // liveness checked this often
constexpr auto kWriteGiveUp = std::chrono::milliseconds(1000);  // host not reading at all

using SteadyClock = std::chrono::steady_clock;

int PollMs(SteadyClock::time_point deadline) {
  const auto left = deadline - SteadyClock::now();
  if (left <= SteadyClock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left);
  return static_cast<int>(std::min(ms, kPollSlice).count());
}

// A socket whose peer has gone would raise SIGPIPE and end the whole process;
// the link wants the error instead, as it gets it from a pty.
ssize_t WriteNoSignal(int fd, const void* data, size_t size) {
  const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
  if (n < 0 && errno == ENOTSOCK) return ::write(fd, data, size);
  return n;
}

}  // namespace

const char* LinkStatusName(TLinkStatus s) {
  switch (s) {
    case TLinkStatus::Ok: return "ok";
    case TLinkStatus::Refused: return "refused";
    case TLinkStatus::Timeout: return "timeout";
    case TLinkStatus::Bad: return "bad";
  }
  return "?";
}

TBoardLink::TBoardLink(int fd, IClock& clock, TPacer& pacer, TFaultInjector& faults,
                       const TLinkConfig& config)
    : Fd(fd), Clock(&clock), Pacer(&pacer), RxPacer(clock, pacer.BitsPerSecond()),
      FaultsRef(&faults), Cfg(config) {
  if (Cfg.Tries < 1) Cfg.Tries = 1;
  if (Cfg.ChunkBytes == 0) Cfg.ChunkBytes = 1;
}

void TBoardLink::CheckAlive() {
  if (StopRequested && StopRequested()) throw TStopRequested();
  if (HostAlive && !HostAlive()) throw TLinkClosed();
}

void TBoardLink::WriteRaw(std::span<const uint8_t> bytes) {
  // Nobody at the other end: the bytes go nowhere, as on an open cable.
  if (HostListening && !HostListening()) return;
  size_t done = 0;
  auto lastProgress = SteadyClock::now();
  while (done < bytes.size()) {
    const ssize_t n = WriteNoSignal(Fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      Counters.BytesSent += static_cast<uint64_t>(n);
      lastProgress = SteadyClock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (Cfg.HostMayLeave) return;  // nobody at the other end: the bytes are lost
      throw TLinkClosed();
    }
    CheckAlive();
    // Nobody drains the other end: a real line would carry the bytes into the
    // void, so they are lost here too.
    if (SteadyClock::now() - lastProgress > kWriteGiveUp) return;
    pollfd p{Fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(kPollSlice.count()));
    if (p.revents & (POLLERR | POLLNVAL)) {
      if (Cfg.HostMayLeave) return;
      throw TLinkClosed();
    }
  }
}

void TBoardLink::Write(std::span<const uint8_t> bytes, bool isPacket) {
  const std::vector<uint8_t> line = FaultsRef->Outgoing(bytes, isPacket);
  std::span<const uint8_t> rest(line);
  while (!rest.empty()) {
    const size_t n = Pacer->Paced() ? std::min<size_t>(rest.size(), Cfg.ChunkBytes) : rest.size();
    Pacer->Pace(n);
    WriteRaw(rest.first(n));
    rest = rest.subspan(n);
  }
}

void TBoardLink::SendByte(uint8_t b) { Write(std::span<const uint8_t>(&b, 1), false); }

void TBoardLink::SendNoise(std::span<const uint8_t> noise) {
  while (!noise.empty()) {
    const size_t n = Pacer->Paced() ? std::min<size_t>(noise.size(), Cfg.ChunkBytes)
                                    : noise.size();
    Pacer->Pace(n);
    WriteRaw(noise.first(n));
    noise = noise.subspan(n);
  }
}

bool TBoardLink::Fill(TDeadline deadline) {
  uint8_t buffer[4096];
  for (;;) {
    CheckAlive();
    pollfd p{Fd, POLLIN, 0};
    const int r = ::poll(&p, 1, PollMs(deadline));
    if (r < 0 && errno != EINTR) throw TLinkClosed();
    if (r > 0) {
      if (p.revents & POLLNVAL) throw TLinkClosed();
      if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n = ::read(Fd, buffer, sizeof buffer);
        // End of file, or EIO: the other side is gone (for now, where it may come back).
        const bool retry = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        const bool gone = n == 0 || (n < 0 && !retry) || (retry && !(p.revents & POLLIN));
        if (gone && !Cfg.HostMayLeave) throw TLinkClosed();
        if (gone) {
          ::usleep(static_cast<useconds_t>(std::min(PollMs(deadline), 5)) * 1000);
        } else if (n < 0) {
          // Nothing after all; wait again.
        } else {
          Counters.BytesReceived += static_cast<uint64_t>(n);
          // The host wrote them at once; on the line they take their time.
          RxPacer.Pace(static_cast<size_t>(n));
          bool any = false;
          for (ssize_t i = 0; i < n; ++i) {
            uint8_t b = buffer[i];
            if (FaultsRef->IncomingByte(b)) {
              Rx.push_back(b);
              any = true;
            }
          }
          if (any) return true;
        }
      }
    }
    if (SteadyClock::now() >= deadline) return false;
  }
}

std::optional<uint8_t> TBoardLink::ReadByte(TDeadline deadline) {
  if (Rx.empty() && !Fill(deadline)) return std::nullopt;
  const uint8_t b = Rx.front();
  Rx.pop_front();
  return b;
}

void TBoardLink::DiscardPending() {
  Rx.clear();
  while (Fill(SteadyClock::now())) Rx.clear();
}

void TBoardLink::DrainUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
  const auto end = SteadyClock::now() + limit;
  Rx.clear();
  for (;;) {
    const auto deadline = std::min(end, SteadyClock::now() + quiet);
    const bool got = Fill(deadline);
    Rx.clear();
    if (!got || SteadyClock::now() >= end) return;
  }
}

TBoardLink::TAnswer TBoardLink::WaitAnswer() {
  const auto deadline = SteadyClock::now() + Cfg.AckTimeout;
  for (;;) {
    const auto b = ReadByte(deadline);
    if (!b) return TAnswer::Silence;
    if (*b == wire::kAck) return TAnswer::Ack;
    if (*b == wire::kNak) return TAnswer::Refusal;
    // Anything else is noise on the line; the host answers with one of the two.
  }
}

TLinkStatus TBoardLink::SendPacket(std::span<const uint8_t> packet) {
  TLinkStatus last = TLinkStatus::Timeout;
  for (int attempt = 0; attempt < Cfg.Tries; ++attempt) {
    if (attempt > 0) ++Counters.Resends;
    Write(packet, true);
    switch (WaitAnswer()) {
      case TAnswer::Ack: return TLinkStatus::Ok;
      case TAnswer::Refusal:
        ++Counters.NaksReceived;
        last = TLinkStatus::Refused;
        break;
      case TAnswer::Silence:
        ++Counters.Timeouts;
        last = TLinkStatus::Timeout;
        break;
    }
  }
  return last;
}

TLinkStatus TBoardLink::SendRequest(wire::TRequestPacket request) {
  wire::SealPacket(&request, sizeof request);
  std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(&request), sizeof request);
  if (BeforeRequest) BeforeRequest(Counters.RequestsSent);
  DiscardPending();  // leftovers of an abandoned exchange must not pass for an answer
  ++Counters.RequestsSent;
  if (FaultsRef->StallThisRequest()) {
    // Half a request, then silence past the host's watchdog; the host drops
    // the fragment and the board starts over with a fresh request.
    Write(bytes.first(bytes.size() / 2), true);
    Silence(Cfg.StallTime);
    DiscardPending();
  }
  return SendPacket(bytes);
}

TLinkStatus TBoardLink::SendBlock(std::span<const uint8_t, wire::kBlockDataSize> data) {
  wire::TSectorBlock block{};
  std::memcpy(block.Data, data.data(), data.size());
  wire::SealPacket(&block, sizeof block);
  return SendPacket(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&block),
                                             sizeof block));
}

TLinkStatus TBoardLink::ReadPacket(std::span<uint8_t> packet) {
  TLinkStatus last = TLinkStatus::Timeout;
  for (int attempt = 0; attempt < Cfg.Tries; ++attempt) {
    const auto deadline = SteadyClock::now() + Cfg.AckTimeout;
    size_t i = 0;
    while (i < packet.size()) {
      const auto b = ReadByte(deadline);
      if (!b) break;
      if (i == 0 && *b != wire::kPacketStart) continue;  // resynchronise on the start byte
      packet[i++] = *b;
    }
    bool good = false;
    if (i < packet.size()) {
      // Cut off or never started: ask for it again (harmless if nothing was sent).
      ++Counters.Timeouts;
      last = TLinkStatus::Timeout;
    } else {
      FaultsRef->IncomingPacket(packet);
      good = wire::PacketChecksum(packet.data(), packet.size()) == 0;
      last = TLinkStatus::Bad;
      if (good && FaultsRef->NakThisPacket()) good = false;
    }
    if (good) {
      SendByte(wire::kAck);
      return TLinkStatus::Ok;
    }
    ++Counters.NaksSent;
    SendByte(wire::kNak);
  }
  return last;
}

TLinkStatus TBoardLink::ReadReply(wire::TReplyPacket& reply) {
  return ReadPacket(std::span<uint8_t>(reinterpret_cast<uint8_t*>(&reply), sizeof reply));
}

TLinkStatus TBoardLink::ReadBlock(wire::TSectorBlock& block) {
  return ReadPacket(std::span<uint8_t>(reinterpret_cast<uint8_t*>(&block), sizeof block));
}

}  // namespace boardsim
