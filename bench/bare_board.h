// The board's side of the exchanges the benchmarks time, with nothing in
// between: one request, its acknowledgement, the reply and its
// acknowledgement, and the data blocks of a disk read. Used against the real
// console and against the bare host of the baselines alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/packets.h"

namespace bench {

inline constexpr uint8_t kSectorsPerTrack = 18;
inline constexpr uint8_t kHeads = 2;
inline constexpr uint32_t kTracks = 160;  // 80 cylinders x 2 heads: 1.44 MB
inline constexpr size_t kTrackBytes = size_t{kSectorsPerTrack} * wire::kBlockDataSize;

// Bytes one exchange puts on the wire, both directions together.
inline constexpr size_t kCheckKeyWireBytes = wire::kRequestSize + 1 + wire::kReplySize + 1;
inline constexpr size_t kTrackWireBytes =
    kCheckKeyWireBytes + size_t{kSectorsPerTrack} * (wire::kBlockSize + 1);

class TBareBoard {
 public:
  explicit TBareBoard(int fd) : Fd(fd) {}

  // Handshake until the host answers (at most `seconds`); false when it never did.
  bool Handshake(int seconds);
  // Keyboard check (AH 1): request, acknowledgement, reply, acknowledgement.
  bool CheckKey();
  // Keyboard read (AH 0): takes the key at the head of the queue (only when there is one).
  bool ReadKey();
  // One video call (service 0x10): request and acknowledgement; the host sends no reply.
  bool Video(uint16_t ax, uint16_t bx = 0, uint16_t cx = 0, uint16_t dx = 0);
  // Reads one whole track (18 sectors from sector 1) into `out` (kTrackBytes).
  bool ReadTrack(uint32_t track, uint8_t* out);

 private:
  bool Request(uint8_t service, uint16_t ax, uint16_t bx, uint16_t cx, uint16_t dx,
               int timeoutMs = 5000);
  bool Reply(wire::TReplyPacket& reply);

  int Fd;
};

// The host's side of the same exchanges, answering as fast as a thread can:
// the baseline the console is compared with.
class TBareHost {
 public:
  // `quickAck`: `fd` is a TCP socket that acknowledges every read at once.
  TBareHost(int fd, const uint8_t* image, bool quickAck = false)
      : Fd(fd), Image(image), QuickAck(quickAck) {}
  bool ServeCheckKeys(size_t count);
  bool ServeTracks(uint32_t tracks);

 private:
  bool AckedWrite(const void* bytes, size_t n);
  bool Read(void* buffer, size_t n);
  int Fd;
  const uint8_t* Image;
  bool QuickAck;
};

}  // namespace bench
