#include "tests/support/fake_board.h"

#include <algorithm>
#include <cstring>

namespace testsupport {

TFakeBoard& TFakeBoard::Send(const Bytes& bytes) {
  Script.emplace_back([this, bytes] {
    Pending.insert(Pending.end(), bytes.begin(), bytes.end());
    if (Link != nullptr) Link->CommRxChar(static_cast<uint32_t>(Pending.size()));
  });
  return *this;
}

TFakeBoard& TFakeBoard::Tick(int n) {
  for (int i = 0; i < n; ++i) {
    Script.emplace_back([this] {
      ++TicksDelivered;
      if (Link != nullptr) Link->TimerTick();
    });
  }
  return *this;
}

TFakeBoard& TFakeBoard::Do(std::function<void()> action) {
  Script.emplace_back(std::move(action));
  return *this;
}

int TFakeBoard::Read(void* buffer, uint32_t count) {
  const size_t n = std::min<size_t>(count, Pending.size());
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < n; ++i) {
    out[i] = Pending.front();
    Pending.pop_front();
  }
  return static_cast<int>(n);
}

int TFakeBoard::Write(const void* buffer, uint32_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  Written.insert(Written.end(), p, p + count);
  return static_cast<int>(count);
}

void TFakeBoard::WaitForEvents() {
  ++WaitCalls;
  if (Script.empty()) {
    if (DisconnectWhenIdle && Link != nullptr) Link->AbortRequested = 1;
    return;
  }
  auto action = std::move(Script.front());
  Script.pop_front();
  action();
}

Bytes TFakeBoard::TakeWritten() {
  Bytes out;
  out.swap(Written);
  return out;
}

Bytes RequestBytes(uint8_t service, uint16_t ax, uint16_t bx, uint16_t cx, uint16_t dx) {
  wire::TRequestPacket r{};
  r.Service = service;
  r.AX = ax;
  r.BX = bx;
  r.CX = cx;
  r.DX = dx;
  wire::SealPacket(&r, sizeof r);
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  return Bytes(p, p + sizeof r);
}

Bytes BlockBytes(const uint8_t* data512) {
  wire::TSectorBlock b{};
  std::memcpy(b.Data, data512, sizeof b.Data);
  wire::SealPacket(&b, sizeof b);
  const auto* p = reinterpret_cast<const uint8_t*>(&b);
  return Bytes(p, p + sizeof b);
}

Bytes BlockBytes(uint8_t fill) {
  uint8_t data[wire::kBlockDataSize];
  std::memset(data, fill, sizeof data);
  return BlockBytes(data);
}

Bytes ReplyBytes(uint8_t code, uint16_t ax, uint16_t bx, uint16_t cx, uint16_t dx,
                 uint16_t flags) {
  wire::TReplyPacket r{};
  r.Code = code;
  r.AX = ax;
  r.BX = bx;
  r.CX = cx;
  r.DX = dx;
  r.Flags = flags;
  wire::SealPacket(&r, sizeof r);
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  return Bytes(p, p + sizeof r);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace testsupport
