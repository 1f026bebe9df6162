#include "session/trace_decode.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <span>

#include "display/cp437.h"
#include "keyboard/keyboard.h"
#include "session/service_loop.h"

namespace app {

namespace {

using wire::Hi;
using wire::Lo;
using wire::TReplyPacket;
using wire::TRequestPacket;

// "1 block", "18 blocks".
void Blocks(std::string& out, unsigned n) { Appendf(out, "%u block%s", n, n == 1 ? "" : "s"); }

bool Carry(const TReplyPacket& reply) { return (reply.Flags & wire::kFlagCarry) != 0; }
bool Zero(const TReplyPacket& reply) { return (reply.Flags & wire::kFlagZero) != 0; }

// A character byte of the board: 'A', the CP437 glyph with its code, or the
// name of a control code that teletype output acts on.
void Char(std::string& out, uint8_t c) {
  struct TNamed {
    uint8_t Code;
    const char* Name;
  };
  static constexpr TNamed kControls[] = {{0x00, "NUL"}, {0x07, "BEL"}, {0x08, "BS"},
                                         {0x09, "TAB"}, {0x0A, "LF"},  {0x0D, "CR"}};
  for (const auto& named : kControls) {
    if (named.Code == c) {
      out += named.Name;
      return;
    }
  }
  out += '\'';
  if (c >= 0x20 && c < 0x7F) {
    out += static_cast<char>(c);
    out += '\'';
    return;
  }
  display::AppendUtf8(out, display::Cp437ToUnicode(c));
  Appendf(out, "' (%02X)", c);
}

// --- Formatters of requests: they append to the function's name. ---

using TRequestFormat = void (*)(std::string&, const TRequestPacket&);
// A reply's formatter; `nth` counts the replies of the exchange already accepted.
using TReplyFormat = void (*)(std::string&, const TRequestPacket&, int nth, const TReplyPacket&);

void ModeArg(std::string& out, const TRequestPacket& r) { Appendf(out, " %02X", Lo(r.AX)); }
void ShapeArg(std::string& out, const TRequestPacket& r) { Appendf(out, " %02X-%02X", Hi(r.CX), Lo(r.CX)); }
void PageArg(std::string& out, const TRequestPacket& r) { Appendf(out, " %u", Lo(r.AX)); }
void CursorArg(std::string& out, const TRequestPacket& r) {
  Appendf(out, " %u,%u", Lo(r.DX), Hi(r.DX));
  if (Hi(r.BX) != 0) Appendf(out, " page %u", Hi(r.BX));
}
void WindowArg(std::string& out, const TRequestPacket& r) {
  Appendf(out, " %u,%u-%u,%u by %u", Lo(r.CX), Hi(r.CX), Lo(r.DX), Hi(r.DX), Lo(r.AX));
  if (Lo(r.AX) == 0) out += " (blank)";
  Appendf(out, " attr %02X", Hi(r.BX));
}
void CharAttrCount(std::string& out, const TRequestPacket& r) {
  out += ' ';
  Char(out, Lo(r.AX));
  Appendf(out, " attr %02X x%u", Lo(r.BX), r.CX);
}
void CharCount(std::string& out, const TRequestPacket& r) {
  out += ' ';
  Char(out, Lo(r.AX));
  Appendf(out, " x%u", r.CX);
}
void TeletypeArg(std::string& out, const TRequestPacket& r) {
  out += ' ';
  Char(out, Lo(r.AX));
}
void DriveArg(std::string& out, const TRequestPacket& r) {
  if (Lo(r.DX) != 0) Appendf(out, " drive %02X", Lo(r.DX));
}
void ChsArg(std::string& out, const TRequestPacket& r) {
  Appendf(out, " C%u H%u S%u x%u", Hi(r.CX), Hi(r.DX), Lo(r.CX), Lo(r.AX));
  DriveArg(out, r);
}
void TrackArg(std::string& out, const TRequestPacket& r) {
  Appendf(out, " C%u H%u", Hi(r.CX), Hi(r.DX));
  DriveArg(out, r);
}
void UploadArg(std::string& out, const TRequestPacket& r) {
  out += ", ";
  Blocks(out, BlocksOf(r));
}

// --- Formatters of replies. ---

struct TStatusName {
  uint8_t Code;
  const char* Name;
};
constexpr TStatusName kDiskStatus[] = {
    {0x00, "ok"},          {0x01, "bad command"},       {0x02, "address mark not found"},
    {0x03, "write protected"}, {0x04, "sector not found"}, {0x06, "disk changed"},
    {0x08, "DMA overrun"}, {0x09, "DMA across 64K"},     {0x0C, "media type not found"},
    {0x10, "CRC error"},   {0x20, "controller failure"}, {0x40, "seek failed"},
    {0x80, "timeout"},
};

void DiskStatus(std::string& out, const TReplyPacket& reply) {
  const uint8_t status = Hi(reply.AX);
  if (status == 0 && !Carry(reply)) {
    out += "ok";
    return;
  }
  const char* name = "unknown status";
  for (const auto& s : kDiskStatus) {
    if (s.Code == status) name = s.Name;
  }
  Appendf(out, "status %02X %s", status, name);
  if (Carry(reply)) out += ", carry";
}

void StatusReply(std::string& out, const TRequestPacket&, int, const TReplyPacket& reply) {
  DiskStatus(out, reply);
}
void ReadReply(std::string& out, const TRequestPacket&, int, const TReplyPacket& reply) {
  DiskStatus(out, reply);
  if (Hi(reply.AX) == 0 && !Carry(reply)) {
    out += ", ";
    Blocks(out, Lo(reply.AX));
    out += " to follow";
  }
}
// A write is answered twice: go ahead (the request echoed), then the result.
void WriteReply(std::string& out, const TRequestPacket& r, int nth, const TReplyPacket& reply) {
  if (nth == 0) {
    out += "send ";
    Blocks(out, BlocksOf(r));
    return;
  }
  DiskStatus(out, reply);
}
void ParamsReply(std::string& out, const TRequestPacket&, int, const TReplyPacket& reply) {
  if (Carry(reply)) {
    DiskStatus(out, reply);
    return;
  }
  const unsigned lastCylinder = Hi(reply.CX) | ((Lo(reply.CX) & 0xC0u) << 2);
  Appendf(out, "type %02X, C0-%u, S1-%u, H0-%u, %u drives", Lo(reply.BX), lastCylinder,
          Lo(reply.CX) & 0x3Fu, Hi(reply.DX), Lo(reply.DX));
}
void DiskTypeReply(std::string& out, const TRequestPacket&, int, const TReplyPacket& reply) {
  if (Carry(reply)) {
    DiskStatus(out, reply);
    return;
  }
  Appendf(out, "type %02X", Hi(reply.AX));
  if (Hi(reply.AX) == 1) out += " (diskette, no change line)";
}

void KeyReply(std::string& out, const TRequestPacket&, int, const TReplyPacket& reply) {
  if (Zero(reply)) {
    out += "no key";
    return;
  }
  out += "key ";
  DecodeKey(reply.AX, out);
}
void ShiftReply(std::string& out, const TRequestPacket&, int, const TReplyPacket& reply) {
  static constexpr std::array<const char*, 8> kBits = {"RSHIFT", "LSHIFT", "CTRL", "ALT",
                                                       "SCRL",   "NUML",   "CAPS", "INS"};
  const uint8_t flags = Lo(reply.AX);
  Appendf(out, "flags %02X", flags);
  for (size_t bit = 0; bit < kBits.size(); ++bit) {
    if ((flags >> bit) & 1u) Appendf(out, " %s", kBits[bit]);
  }
}
void NotServedReply(std::string& out, const TRequestPacket&, int, const TReplyPacket&) {
  out += "not served";
}

void OptionsReply(std::string& out, const TRequestPacket&, int, const TReplyPacket& reply) {
  struct TOption {
    uint16_t Bit;
    const char* Name;
  };
  static constexpr TOption kOptions[] = {
      {kOptionKeyboard, "keyboard"}, {kOptionVideo, "video"}, {kOptionFloppy, "floppy"}};
  Appendf(out, "options %X", reply.CX);
  if ((reply.CX & (kOptionKeyboard | kOptionVideo | kOptionFloppy)) == 0) out += " none";
  for (const auto& option : kOptions) {
    if ((reply.CX & option.Bit) != 0) Appendf(out, " %s", option.Name);
  }
}
void UploadReply(std::string& out, const TRequestPacket& r, int nth, const TReplyPacket&) {
  if (nth == 0) {
    out += "send ";
    Blocks(out, BlocksOf(r));
  } else {
    out += "screen taken";
  }
}

// --- The tables. ---

constexpr int kAnyAH = -1;  // the row for every AH not listed before it

struct TFunction {
  int AH;
  std::string_view Name;  // empty: "function XX"
  TRequestFormat Request;
  TReplyFormat Reply;
};

constexpr TFunction kHandshake[] = {
    {kAnyAH, "ping", nullptr, OptionsReply},
};

// The board's INT 10h. None is answered; the host acts on 00, 02, 06, 07, 09, 0A and 0E.
constexpr TFunction kVideo[] = {
    {0x00, "set mode", ModeArg, nullptr},
    {0x01, "cursor shape", ShapeArg, nullptr},
    {0x02, "set cursor", CursorArg, nullptr},
    {0x03, "read cursor", nullptr, nullptr},
    {0x04, "light pen", nullptr, nullptr},
    {0x05, "select page", PageArg, nullptr},
    {0x06, "scroll up window", WindowArg, nullptr},
    {0x07, "scroll down window", WindowArg, nullptr},
    {0x08, "read char and attr", nullptr, nullptr},
    {0x09, "write char and attr", CharAttrCount, nullptr},
    {0x0A, "write char", CharCount, nullptr},
    {0x0B, "palette", nullptr, nullptr},
    {0x0C, "write pixel", nullptr, nullptr},
    {0x0D, "read pixel", nullptr, nullptr},
    {0x0E, "teletype", TeletypeArg, nullptr},
    {0x0F, "get mode", nullptr, nullptr},
    {0x10, "palette registers", nullptr, nullptr},
    {0x11, "character generator", nullptr, nullptr},
    {0x12, "alternate select", nullptr, nullptr},
    {0x13, "write string", nullptr, nullptr},
};

// The board's INT 13h.
constexpr TFunction kDisk[] = {
    {0x00, "reset", DriveArg, StatusReply},
    {0x01, "status", DriveArg, StatusReply},
    {0x02, "read", ChsArg, ReadReply},
    {0x03, "write", ChsArg, WriteReply},
    {0x04, "verify", ChsArg, StatusReply},
    {0x05, "format", TrackArg, StatusReply},
    {0x08, "drive parameters", DriveArg, ParamsReply},
    {0x15, "disk type", DriveArg, DiskTypeReply},
    {0x16, "disk change", DriveArg, StatusReply},
    {kAnyAH, "", DriveArg, StatusReply},
};

// The board's INT 16h.
constexpr TFunction kKeyboard[] = {
    {0x00, "read key", nullptr, KeyReply},
    {0x01, "check key", nullptr, KeyReply},
    {0x02, "shift flags", nullptr, ShiftReply},
    {0x10, "read key (extended)", nullptr, KeyReply},
    {0x11, "check key (extended)", nullptr, KeyReply},
    {kAnyAH, "", nullptr, NotServedReply},
};

constexpr TFunction kUpload[] = {
    {kAnyAH, "screen upload", UploadArg, UploadReply},
};

constexpr TFunction kUnknown[] = {
    {kAnyAH, "not served", nullptr, nullptr},
};

struct TService {
  uint8_t Number;
  std::string_view Name;
  std::string_view Short;
  std::span<const TFunction> Functions;
};

// In slot order; the last row stands for every other service number.
constexpr std::array<TService, kServiceSlots> kServices = {{
    {kServiceHandshake, "handshake", "hs", kHandshake},
    {kServiceVideo, "video", "vid", kVideo},
    {kServiceDisk, "disk", "dsk", kDisk},
    {kServiceKeyboard, "keyboard", "kbd", kKeyboard},
    {kServiceUpload, "upload", "upl", kUpload},
    {0, "unknown", "unk", kUnknown},
}};

const TFunction* FindFunction(const TService& service, uint8_t ah) {
  for (const auto& f : service.Functions) {
    if (f.AH == ah || f.AH == kAnyAH) return &f;
  }
  return nullptr;
}

// The function's name: its own, or its number.
void FunctionName(std::string& out, const TFunction* f, uint8_t ah) {
  if (f != nullptr && !f->Name.empty()) {
    out += f->Name;
  } else {
    Appendf(out, "function %02X", ah);
  }
}

}  // namespace

void Appendf(std::string& out, const char* format, ...) {
  char buffer[160];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n > 0) out.append(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

uint8_t ByteSum(const void* bytes, size_t n) {
  return static_cast<uint8_t>(0x100 - wire::PacketChecksum(bytes, n));
}

size_t ServiceSlot(uint8_t service) {
  for (size_t slot = 0; slot < kUnknownServiceSlot; ++slot) {
    if (kServices[slot].Number == service) return slot;
  }
  return kUnknownServiceSlot;
}

std::string_view ServiceName(size_t slot) {
  return kServices[slot < kServiceSlots ? slot : kUnknownServiceSlot].Name;
}

std::string_view ServiceShortName(size_t slot) {
  return kServices[slot < kServiceSlots ? slot : kUnknownServiceSlot].Short;
}

unsigned BlocksOf(const TRequestPacket& request) {
  constexpr unsigned kUploadBlocks = 8;
  if (request.Service == kServiceUpload) return kUploadBlocks;
  if (request.Service == kServiceDisk && (Hi(request.AX) == 0x02 || Hi(request.AX) == 0x03)) {
    return Lo(request.AX);
  }
  return 0;
}

void DecodeRequest(const TRequestPacket& request, std::string& out) {
  const size_t slot = ServiceSlot(request.Service);
  if (slot == kUnknownServiceSlot) {
    Appendf(out, "service %02X, not served", request.Service);
    return;
  }
  const uint8_t ah = Hi(request.AX);
  const TFunction* f = FindFunction(kServices[slot], ah);
  FunctionName(out, f, ah);
  if (f != nullptr && f->Request != nullptr) f->Request(out, request);
}

void DecodeReply(const TRequestPacket& request, int nth, const TReplyPacket& reply, std::string& out) {
  const uint8_t ah = Hi(request.AX);
  const TFunction* f = FindFunction(kServices[ServiceSlot(request.Service)], ah);
  FunctionName(out, f, ah);
  if (f != nullptr && f->Reply != nullptr) {
    out += ": ";
    f->Reply(out, request, nth, reply);
  }
}

void DecodeKey(uint16_t code, std::string& out) {
  Appendf(out, "%04X", code);
  if (code == keyboard::kRefreshCode) {
    out += " (refresh screen)";
    return;
  }
  const uint8_t ch = Lo(code);
  if (ch >= 0x20 && ch < 0x7F) Appendf(out, " '%c'", ch);
}

void DecodeBlock(const wire::TSectorBlock& block, unsigned index, unsigned total, wire::TRxVerdict verdict,
                 std::string& out) {
  constexpr size_t kShownBytes = 8;
  Appendf(out, "#%u", index);
  if (total != 0) Appendf(out, " of %u", total);
  out += ':';
  for (size_t i = 0; i < kShownBytes; ++i) Appendf(out, " %02X", block.Data[i]);
  out += " ...";
  switch (verdict) {
    case wire::TRxVerdict::Good:
      out += ", checksum ok";
      break;
    case wire::TRxVerdict::BadChecksum:
      Appendf(out, ", checksum bad (sum %02X)", ByteSum(&block, sizeof block));
      break;
    case wire::TRxVerdict::BadFraming:
      Appendf(out, ", checksum ok but length bytes %02X %02X", Lo(block.Length), Hi(block.Length));
      break;
  }
}

void BlockHex(const wire::TSectorBlock& block, std::string_view indent, std::string& out) {
  constexpr size_t kPerLine = 16;
  for (size_t at = 0; at < sizeof block.Data; at += kPerLine) {
    out += indent;
    Appendf(out, "%03zX:", at);
    for (size_t i = 0; i < kPerLine; ++i) Appendf(out, " %02X", block.Data[at + i]);
    out += '\n';
  }
}

}  // namespace app
