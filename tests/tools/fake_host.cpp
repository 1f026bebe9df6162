#include "tests/tools/fake_host.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace boardsim_test {

TFakeHost::TFakeHost() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Fds); }

TFakeHost::~TFakeHost() {
  Stop();
  if (Fds[0] >= 0) ::close(Fds[0]);
}

void TFakeHost::Start() { Thread = std::thread([this] { Run(); }); }

void TFakeHost::Stop() {
  Stopping = true;
  if (Thread.joinable()) Thread.join();
  if (Fds[1] >= 0) {
    ::close(Fds[1]);
    Fds[1] = -1;
  }
}

std::optional<uint8_t> TFakeHost::ReadByte(int timeoutMs) {
  for (int waited = 0; In.empty() && !Stopping && waited <= timeoutMs; waited += 10) {
    pollfd p{Fds[1], POLLIN, 0};
    if (::poll(&p, 1, 10) > 0) {
      uint8_t buffer[4096];
      const ssize_t n = ::read(Fds[1], buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;  // the board closed its end
      In.insert(In.end(), buffer, buffer + n);
    }
  }
  if (In.empty()) return std::nullopt;
  const uint8_t b = In.front();
  In.pop_front();
  return b;
}

void TFakeHost::Write(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const ssize_t w = ::write(Fds[1], p, n);
    if (w <= 0) return;
    p += w;
    n -= static_cast<size_t>(w);
  }
}

bool TFakeHost::ReadPacket(void* buffer, size_t n) {
  auto* b = static_cast<uint8_t*>(buffer);
  size_t i = 0;
  while (i < n) {
    const auto byte = ReadByte(i == 0 ? 100 : 2000);
    if (!byte) return false;
    if (i == 0 && *byte != wire::kPacketStart) continue;
    b[i++] = *byte;
  }
  const bool good = wire::PacketChecksum(b, n) == 0;
  const uint8_t answer = good ? wire::kAck : wire::kNak;
  Write(&answer, 1);
  return good;
}

bool TFakeHost::SendPacket(void* packet, size_t n) {
  wire::SealPacket(packet, n);
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<uint8_t> bytes(static_cast<uint8_t*>(packet), static_cast<uint8_t*>(packet) + n);
    if (n == wire::kReplySize && RepliesSent++ < CorruptFirstReplies) bytes[6] ^= 0x10;
    Write(bytes.data(), n);
    const auto answer = ReadByte(2000);
    if (answer == wire::kAck) return true;
    if (answer) ++BoardNaks;  // silence is not a refusal
  }
  return false;
}

void TFakeHost::SendReply() { SendPacket(&Reply, sizeof Reply); }

void TFakeHost::Run() {
  while (!Stopping) {
    wire::TRequestPacket r{};
    auto* b = reinterpret_cast<uint8_t*>(&r);
    // Frame the request ourselves first so the misbehaviours can act on it.
    auto first = ReadByte(50);
    if (!first) continue;
    if (*first != wire::kPacketStart) continue;
    b[0] = *first;
    bool whole = true;
    for (size_t i = 1; i < sizeof r && whole; ++i) {
      const auto byte = ReadByte(2000);
      if (!byte) whole = false;
      else b[i] = *byte;
    }
    if (!whole) continue;
    ++RequestPackets;
    if (RequestPackets <= IgnoreFirstRequests) continue;
    const bool good = wire::PacketChecksum(&r, sizeof r) == 0;
    if (!good || RequestPackets <= IgnoreFirstRequests + NakFirstRequests) {
      const uint8_t nak = wire::kNak;
      Write(&nak, 1);
      continue;
    }
    const uint8_t ack = wire::kAck;
    Write(&ack, 1);
    Requests.push_back(r);
    Serve(r);
    if (CloseNow) break;
    if (CloseAfterRequests && static_cast<int>(Requests.size()) >= CloseAfterRequests) break;
  }
  ::close(Fds[1]);
  Fds[1] = -1;
}

void TFakeHost::Serve(const wire::TRequestPacket& r) {
  const uint8_t ah = wire::Hi(r.AX);
  switch (r.Service) {
    case 0x0B:
      ++Handshakes;
      Reply.AX = r.AX;
      Reply.BX = r.BX;
      Reply.CX = Options;
      Reply.DX = r.DX;
      Reply.Flags = 0;
      SendReply();
      break;
    case 0x16:
      Reply.Code = 10;
      Reply.BX = r.BX;
      Reply.CX = r.CX;
      Reply.DX = r.DX;
      Reply.Flags = wire::kFlagCarry;
      if (ah == 0x00) {
        if (Keys.empty()) {
          Reply.AX = 0;
          Reply.Flags |= wire::kFlagZero;
        } else {
          Reply.AX = Keys.front();
          Keys.pop_front();
        }
      } else if (ah == 0x01) {
        if (!Keys.empty()) {
          Reply.AX = Keys.front();
        } else if (RefreshPending) {
          RefreshPending = false;
          Reply.AX = 0x7F00;
        } else {
          Reply.AX = r.AX;
          Reply.Flags |= wire::kFlagZero;
          if (CloseWhenIdleChecks && ++IdleChecks >= CloseWhenIdleChecks) CloseNow = true;
        }
      } else {
        Reply.AX = static_cast<uint16_t>((r.AX & 0xFF00) | Shift);
      }
      SendReply();
      break;
    case 0x13:
      Disk(r);
      break;
    case 0x7F: {
      Reply.Code = 10;
      Reply.AX = r.AX;
      Reply.BX = r.BX;
      Reply.CX = r.CX;
      Reply.DX = r.DX;
      SendReply();
      Uploaded.clear();
      for (int i = 0; i < 8; ++i) {
        wire::TSectorBlock block{};
        for (int t = 0; t < 3 && !ReadPacket(&block, sizeof block); ++t) {}
        Uploaded.insert(Uploaded.end(), block.Data, block.Data + sizeof block.Data);
      }
      SendReply();
      break;
    }
    default:
      break;  // video: the acknowledgement is all
  }
}

void TFakeHost::Disk(const wire::TRequestPacket& r) {
  const uint8_t ah = wire::Hi(r.AX), count = wire::Lo(r.AX);
  if (Image.empty()) {
    Reply.AX = wire::WithHi(Reply.AX, 1);
    Reply.Flags |= wire::kFlagCarry;
    SendReply();
    return;
  }
  const size_t offset = ((size_t{wire::Hi(r.CX)} * Heads + wire::Hi(r.DX)) * SectorsPerTrack +
                         wire::Lo(r.CX) - 1) * 512;
  Reply.AX = r.AX;
  Reply.BX = r.BX;
  Reply.CX = r.CX;
  Reply.DX = r.DX;
  if (ah == 0x02) {
    Reply.AX = wire::WithHi(r.AX, 0);
    Reply.Flags &= static_cast<uint16_t>(~wire::kFlagCarry);
    SendReply();
    for (unsigned i = 0; i < count; ++i) {
      wire::TSectorBlock block{};
      if (offset + (i + 1) * 512 <= Image.size())
        std::memcpy(block.Data, Image.data() + offset + i * 512, 512);
      SendPacket(&block, sizeof block);
    }
  } else if (ah == 0x03) {
    Reply.Code = 10;
    SendReply();
    std::vector<uint8_t> data;
    for (unsigned i = 0; i < count; ++i) {
      wire::TSectorBlock block{};
      for (int t = 0; t < 3 && !ReadPacket(&block, sizeof block); ++t) {}
      data.insert(data.end(), block.Data, block.Data + 512);
    }
    if (WriteStatus != 0) {
      Reply.AX = wire::MakeWord(WriteStatus, 0);
      Reply.Flags |= wire::kFlagCarry;
      SendReply();
      return;
    }
    if (offset + data.size() <= Image.size())
      std::memcpy(Image.data() + offset, data.data(), data.size());
    Reply.AX = wire::WithHi(r.AX, 0);
    Reply.Flags &= static_cast<uint16_t>(~wire::kFlagCarry);
    SendReply();
  } else {
    Reply.AX = wire::WithHi(r.AX, 1);
    Reply.Flags |= wire::kFlagCarry;
    SendReply();
  }
}

}  // namespace boardsim_test
