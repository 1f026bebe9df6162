#include "fuzz/fuzz_line.h"

#include <algorithm>
#include <cstring>

#include "link/packets.h"

namespace fuzzing {

namespace {

enum TAction : uint8_t {
  acRawBytes,   // arbitrary bytes, announced with an arbitrary count
  acRequest,    // a request with a good checksum
  acBlock,      // a data block with a good checksum
  acAck,        // the board's 0x55 (or another single byte)
  acTick,       // one 100 ms tick
  acWatchdog,   // the watchdog runs out
  acKey,        // a key message from the PC
  acQueueKey,   // a code straight into the key queue
  acCount
};

constexpr uint8_t kServices[] = {0x0B, 0x10, 0x13, 0x16, 0x7F};

}  // namespace

int TFuzzLine::Read(void* buffer, uint32_t count) {
  const size_t n = std::min<size_t>(count, Pending.size() - Next);
  if (n == 0) return 0;
  std::memcpy(buffer, Pending.data() + Next, n);
  Next += n;
  if (Next == Pending.size()) {
    Pending.clear();
    Next = 0;
  }
  return static_cast<int>(n);
}

void TFuzzLine::Arrive(const uint8_t* bytes, size_t n) {
  Pending.insert(Pending.end(), bytes, bytes + n);
  // The announced count is usually what arrived, sometimes anything.
  const uint32_t announced = In.ConsumeBool() ? static_cast<uint32_t>(Pending.size() - Next)
                                              : In.ConsumeIntegral<uint16_t>();
  Link->CommRxChar(announced);
}

void TFuzzLine::ArrivePacket(size_t size) {
  std::vector<uint8_t> p(size);
  const std::vector<uint8_t> body = In.ConsumeBytes<uint8_t>(size);
  std::copy(body.begin(), body.end(), p.begin());
  if (size == wire::kRequestSize && In.ConsumeBool())
    p[4] = kServices[In.ConsumeIntegralInRange<size_t>(0, sizeof kServices - 1)];
  wire::SealPacket(p.data(), size);
  Arrive(p.data(), p.size());
}

void TFuzzLine::WaitForEvents() {
  if (In.remaining_bytes() == 0) {
    Link->AbortRequested = 1;  // Disconnect
    return;
  }
  switch (In.ConsumeIntegralInRange<uint8_t>(0, acCount - 1)) {
    case acRawBytes: {
      const std::vector<uint8_t> bytes =
          In.ConsumeBytes<uint8_t>(In.ConsumeIntegralInRange<size_t>(0, 1100));
      Arrive(bytes.data(), bytes.size());
      break;
    }
    case acRequest: ArrivePacket(wire::kRequestSize); break;
    case acBlock: ArrivePacket(wire::kBlockSize); break;
    case acAck: {
      const uint8_t b = In.ConsumeBool() ? wire::kAck : In.ConsumeIntegral<uint8_t>();
      Arrive(&b, 1);
      break;
    }
    case acTick: Link->TimerTick(); break;
    case acWatchdog: Link->Watchdog = 0; break;
    case acKey: {
      const uint32_t message = In.ConsumeIntegralInRange<uint32_t>(keyboard::kWmKeyDown,
                                                                  keyboard::kWmSysKeyUp);
      const uint32_t wParam = In.ConsumeIntegral<uint32_t>();
      const uint32_t lParam = In.ConsumeIntegral<uint32_t>();
      bool handled = false;
      Keys.AppMessage(message, wParam, lParam, handled);
      break;
    }
    case acQueueKey:
      if (In.ConsumeBool()) Keys.RefreshRequest = true;
      Keys.PushKey(In.ConsumeIntegral<uint16_t>());
      break;
    default: break;
  }
}

}  // namespace fuzzing
