// A small console for the board's tests: a thread on the far end of a socket
// pair that answers the board by the line protocol (acknowledgements, replies,
// data blocks) from an in-memory diskette and key queue, with a few misbehaviours
// to switch on. Configure before Start(); read the records after Stop().
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <thread>
#include <vector>

#include "link/packets.h"

namespace boardsim_test {

class TFakeHost {
 public:
  TFakeHost();
  ~TFakeHost();

  int BoardFd() const { return Fds[0]; }
  void Start();
  // Ends the thread and closes the host's end (the board then sees the line closed).
  void Stop();

  // Behaviour.
  uint16_t Options = 7;
  int NakFirstRequests = 0;      // answer the first N request packets with 0xAA
  int IgnoreFirstRequests = 0;   // swallow the first N request packets without a byte
  int CorruptFirstReplies = 0;   // flip a bit in the first N replies sent
  int CloseAfterRequests = 0;    // hang up after N accepted requests (0: never)
  int CloseWhenIdleChecks = 0;   // hang up after N check-key calls found nothing (0: never)
  std::deque<uint16_t> Keys;
  bool RefreshPending = false;
  uint8_t Shift = 0;
  std::vector<uint8_t> Image;    // served diskette; empty: no image
  uint16_t SectorsPerTrack = 18, Heads = 2;
  uint8_t WriteStatus = 0;       // nonzero: every write is refused with this AH (and carry)

  // Records.
  std::vector<wire::TRequestPacket> Requests;  // accepted requests, in order
  std::vector<uint8_t> Uploaded;               // the last full-screen upload
  int BoardNaks = 0;                           // refusals the board sent for replies/blocks
  int Handshakes = 0;

 private:
  void Run();
  std::optional<uint8_t> ReadByte(int timeoutMs);
  bool ReadPacket(void* buffer, size_t n);  // true: good and acknowledged
  bool SendPacket(void* packet, size_t n);  // seals, up to three sends
  void Write(const void* data, size_t n);
  void SendReply();
  void Serve(const wire::TRequestPacket& r);
  void Disk(const wire::TRequestPacket& r);

  int Fds[2] = {-1, -1};
  std::thread Thread;
  std::atomic<bool> Stopping{false};
  wire::TReplyPacket Reply{};
  int RequestPackets = 0;
  int IdleChecks = 0;
  std::deque<uint8_t> In;  // read ahead from the socket
  bool CloseNow = false;
  int RepliesSent = 0;
};

}  // namespace boardsim_test
