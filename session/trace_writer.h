// The trace file (--trace FILE): one line per event on the wire, the file
// appended to. A line starts with the seconds since Connect (to the
// microsecond), the direction ('<' board to host, '>' host to board, '!' the
// host's own verdict, '#' a note) and the kind, then for packets the
// registers and what they mean:
//
//     0.000412 < req   video     AX=0E41 BX=0007 CX=0000 DX=0000 | teletype 'A'
//     0.000425 > ack
//
// With data on (--trace-data) every block's 512 bytes follow its line as hex.
//
// The lines of an event are built when it happens and reach the file as soon
// as the host waits for the board again (notes and aborts at once). A write
// to a file costs about as much as the host's own work on a keyboard
// exchange, so it is made while the board is busy with its side, never
// between a request and its answer; nothing is held while the line is quiet. The writer only watches the link; it never changes a byte or the
// order of an exchange. A file that cannot be written stops the trace,
// reported once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "link/link_observer.h"
#include "link/packets.h"

namespace app {

class TTraceWriter : public wire::ILinkObserver {
 public:
  // Monotonic microseconds (steady clock unless a test gives its own).
  using TClock = std::function<uint64_t()>;

  explicit TTraceWriter(TClock clock = {});
  ~TTraceWriter() override;
  TTraceWriter(const TTraceWriter&) = delete;
  TTraceWriter& operator=(const TTraceWriter&) = delete;

  // Opens `path` for appending; false (with `error`) when it cannot.
  bool Open(const std::string& path, bool withData, std::string& error);
  // A connection starts: time 0, and a note saying what was connected.
  void Start(std::string_view what);
  // Text as note lines ("#"), one per line of `text`.
  void Note(std::string_view text);

  // The first failure to write (empty while all is well).
  const std::string& WriteError() const { return Error; }
  // Called once, with the reason, when writing fails.
  std::function<void(const std::string&)> OnWriteError;

  // ILinkObserver
  void NoiseSkipped(uint32_t count) override;
  void PacketReceived(const uint8_t* bytes, size_t n, wire::TRxVerdict verdict, uint8_t answer) override;
  void UnreadDiscarded(uint32_t count) override;
  void PacketSent(const uint8_t* bytes, size_t n, int attempt) override;
  void AnswerReceived(uint8_t answer) override;
  void GaveUp(wire::TGiveUp what) override;
  void Aborted(wire::TAbortReason why) override;
  // Writes what the events since the last wait have built.
  void Idle() override;

 private:
  enum class TSent : uint8_t { None, Reply, Block };

  // Starts a line in Line: the time, the direction and the kind (a column of
  // its own when given).
  void Begin(char direction, const char* kind = nullptr);
  void Registers(uint16_t ax, uint16_t bx, uint16_t cx, uint16_t dx);
  void Block(const wire::TSectorBlock& block, wire::TRxVerdict verdict);
  // An event's lines are in Line: written now when much has gathered.
  void Queued();
  // Writes Line (whole lines) to the file and empties it.
  void Flush();

  TClock Clock;
  int Fd = -1;
  bool WithData = false;
  uint64_t Zero = 0;  // Clock() at Connect
  std::string Line;
  std::string Error;
  // The exchange in progress: its request, and the replies and blocks done.
  wire::TRequestPacket Request{};
  bool HaveRequest = false;
  int RepliesDone = 0;
  unsigned BlocksDone = 0;
  TSent LastSent = TSent::None;
};

}  // namespace app
