#include "session/trace_writer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "link/link.h"
#include "session/append_file.h"
#include "session/trace_decode.h"

namespace app {

namespace {

constexpr int kTries = wire::TLink::kTries;
constexpr size_t kFlushAt = 64 * 1024;
constexpr std::string_view kHexIndent = "               ";  // under the kind column

uint64_t SteadyMicros() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// The service column is as wide as the longest name.
constexpr size_t kServiceWidth = 9;

// The lines of every exchange are built here, so they are built without the
// printf family: a trace must not slow the link down.
void Hex(std::string& out, unsigned value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xFu];
}

// `value` in decimal, right-aligned in `width` columns (wider when it needs more).
void Decimal(std::string& out, uint64_t value, size_t width) {
  char digits[20];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (width > n) out.append(width - n, ' ');
  while (n > 0) out += digits[--n];
}

void Padded(std::string& out, std::string_view text, size_t width) {
  out += text;
  if (width > text.size()) out.append(width - text.size(), ' ');
}

}  // namespace

TTraceWriter::TTraceWriter(TClock clock) : Clock(clock ? std::move(clock) : TClock(SteadyMicros)) {
  Line.reserve(1024);
}

TTraceWriter::~TTraceWriter() {
  Flush();
  if (Fd >= 0) ::close(Fd);
}

bool TTraceWriter::Open(const std::string& path, bool withData, std::string& error) {
  const int fd = OpenForAppend(path, error);
  if (fd < 0) return false;
  if (Fd >= 0) ::close(Fd);
  Fd = fd;
  WithData = withData;
  Error.clear();
  return true;
}

void TTraceWriter::Start(std::string_view what) {
  Zero = Clock();
  HaveRequest = false;
  LastSent = TSent::None;
  Note(what);
}

void TTraceWriter::Note(std::string_view text) {
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find('\n', start);
    const std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    Begin('#');
    Line += line;
    Line += '\n';
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  Flush();
}

void TTraceWriter::Begin(char direction, const char* kind) {
  constexpr uint64_t kMicros = 1000000;
  const uint64_t us = Clock() - Zero;
  Decimal(Line, us / kMicros, 5);
  Line += '.';
  const size_t fraction = Line.size();
  Decimal(Line, us % kMicros, 6);
  std::replace(Line.begin() + static_cast<std::ptrdiff_t>(fraction), Line.end(), ' ', '0');
  Line += ' ';
  Line += direction;
  Line += ' ';
  // The packets' kinds make a column; a bare acknowledgement ends the line.
  if (kind != nullptr) Padded(Line, kind, 5);
}

void TTraceWriter::Registers(uint16_t ax, uint16_t bx, uint16_t cx, uint16_t dx) {
  const uint16_t values[] = {ax, bx, cx, dx};
  const char* names[] = {" AX=", " BX=", " CX=", " DX="};
  for (size_t i = 0; i < 4; ++i) {
    Line += names[i];
    Hex(Line, values[i], 4);
  }
}

void TTraceWriter::Block(const wire::TSectorBlock& block, wire::TRxVerdict verdict) {
  Line += ' ';
  DecodeBlock(block, BlocksDone, HaveRequest ? BlocksOf(Request) : 0, verdict, Line);
  Line += '\n';
  if (WithData) BlockHex(block, kHexIndent, Line);
}

void TTraceWriter::NoiseSkipped(uint32_t count) {
  Begin('<', "noise");
  Appendf(Line, " %u byte%s skipped looking for 0x77\n", count, count == 1 ? "" : "s");
  Queued();
}

void TTraceWriter::UnreadDiscarded(uint32_t count) {
  Begin('<', "noise");
  Appendf(Line, " %u unread bytes dropped after the refused block\n", count);
  Queued();
}

void TTraceWriter::PacketReceived(const uint8_t* bytes, size_t n, wire::TRxVerdict verdict, uint8_t answer) {
  const bool good = verdict == wire::TRxVerdict::Good;
  if (n == wire::kRequestSize) {
    wire::TRequestPacket request{};
    std::memcpy(&request, bytes, sizeof request);
    Begin('<', "req");
    Line += ' ';
    Padded(Line, ServiceName(ServiceSlot(request.Service)), kServiceWidth);
    Registers(request.AX, request.BX, request.CX, request.DX);
    Line += " | ";
    DecodeRequest(request, Line);
    // Each line reads alone: a refused request says so on its own line, as a block does.
    if (verdict == wire::TRxVerdict::BadChecksum) Appendf(Line, ", checksum bad (sum %02X)", ByteSum(bytes, n));
    Line += '\n';
    if (good) {
      // A new exchange: its replies and blocks are counted from here.
      Request = request;
      HaveRequest = true;
      RepliesDone = 0;
      BlocksDone = 0;
      LastSent = TSent::None;
    }
  } else {
    wire::TSectorBlock block{};
    std::memcpy(&block, bytes, std::min(n, sizeof block));
    Begin('<', "block");
    Block(block, verdict);
    if (good) ++BlocksDone;
  }
  if (!good) {
    const char* what = n == wire::kRequestSize ? "req" : "block";
    Begin('!');
    if (verdict == wire::TRxVerdict::BadChecksum) {
      Appendf(Line, "checksum bad on the %s: its bytes sum to %02X, not 00\n", what,
              ByteSum(bytes, n));
    } else {
      Appendf(Line, "the block was framed inside its own data (length bytes not 04 02)\n");
    }
  }
  Begin('>');
  Line += answer == wire::kAck ? "ack\n" : "nak\n";
  Queued();
}

void TTraceWriter::PacketSent(const uint8_t* bytes, size_t n, int attempt) {
  const bool reply = n == wire::kReplySize;
  if (attempt > 1) {
    Begin('!');
    Appendf(Line, "resend %s, try %d of %d\n", reply ? "reply" : "block", attempt, kTries);
  }
  if (reply) {
    wire::TReplyPacket packet{};
    std::memcpy(&packet, bytes, sizeof packet);
    Begin('>', "reply");
    Line += ' ';
    Padded(Line, HaveRequest ? ServiceName(ServiceSlot(Request.Service)) : "", kServiceWidth);
    Registers(packet.AX, packet.BX, packet.CX, packet.DX);
    Line += " Code=";
    Hex(Line, packet.Code, 2);
    Line += " Flags=";
    Hex(Line, packet.Flags, 4);
    if (HaveRequest) {
      Line += " | ";
      DecodeReply(Request, RepliesDone, packet, Line);
    }
    Line += '\n';
    LastSent = TSent::Reply;
  } else {
    wire::TSectorBlock block{};
    std::memcpy(&block, bytes, std::min(n, sizeof block));
    Begin('>', "block");
    Block(block, wire::TRxVerdict::Good);
    LastSent = TSent::Block;
  }
  Queued();
}

void TTraceWriter::AnswerReceived(uint8_t answer) {
  Begin('<');
  if (answer == wire::kAck) {
    Line += "ack\n";
    if (LastSent == TSent::Reply) ++RepliesDone;
    if (LastSent == TSent::Block) ++BlocksDone;
  } else if (answer == wire::kNak) {
    Line += "nak\n";
  } else {
    Appendf(Line, "nak   %02X, taken as a refusal\n", answer);
  }
  Queued();
}

void TTraceWriter::GaveUp(wire::TGiveUp what) {
  Begin('!');
  switch (what) {
    case wire::TGiveUp::Request:
      Appendf(Line, "request dropped after %d bad tries\n", kTries);
      break;
    case wire::TGiveUp::ReplyRefused:
      Appendf(Line, "reply given up after %d refusals\n", kTries);
      ++RepliesDone;
      break;
    case wire::TGiveUp::BlockRefused:
      Appendf(Line, "block #%u given up after %d refusals\n", BlocksDone, kTries);
      ++BlocksDone;
      break;
    case wire::TGiveUp::BlockBad:
      Appendf(Line, "block #%u still bad after %d tries, given up\n", BlocksDone, kTries);
      ++BlocksDone;
      break;
  }
  Queued();
}

void TTraceWriter::Aborted(wire::TAbortReason why) {
  Begin('!');
  static constexpr const char* kWhy[] = {
      "abort by the watchdog: the board was silent for 2 s, the exchange is abandoned\n",
      "abort by Disconnect: the exchange is abandoned\n",
      "abort: the serial port was lost, the exchange is abandoned\n",
  };
  Line += kWhy[static_cast<size_t>(why)];
  HaveRequest = false;
  LastSent = TSent::None;
  Flush();
}

void TTraceWriter::Queued() {
  // A long transfer with its data shown does not wait for the end of its exchange.
  if (Line.size() >= kFlushAt) Flush();
}

void TTraceWriter::Idle() { Flush(); }

void TTraceWriter::Flush() {
  if (Line.empty()) return;
  if (Fd >= 0 && Error.empty()) {
    Error = WriteFully(Fd, Line.data(), Line.size());
    if (!Error.empty() && OnWriteError) OnWriteError(Error);
  }
  Line.clear();
}

}  // namespace app
