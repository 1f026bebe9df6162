// What the trace says a packet means: requests by service and AH, replies in
// the light of their request (and of the replies before them in a disk write
// or an upload), data blocks in short.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "link/packets.h"
#include "session/trace_decode.h"

namespace {

using wire::TRxVerdict;

struct TRegs {
  uint16_t AX = 0, BX = 0, CX = 0, DX = 0, Flags = 0;
};

struct TReplyCase {
  int Nth;  // replies of the exchange accepted before this one
  TRegs Regs;
};

struct TBlockCase {
  unsigned Index, Total;
  TRxVerdict Verdict;
};

// A request alone, a reply to it, or a block in the exchange it starts.
struct TCase {
  uint8_t Service;
  TRegs Request;
  std::optional<TReplyCase> Reply;
  std::optional<TBlockCase> Block;
  const char* Expected;
};

constexpr uint8_t kHs = 0x0B, kVid = 0x10, kDsk = 0x13, kKbd = 0x16, kUpl = 0x7F;

const TCase kCases[] = {
    // Requests.
    {kHs, {0x4E56, 1, 0, 0x0101}, {}, {}, "ping"},
    {kVid, {0x0E41}, {}, {}, "teletype 'A'"},
    {kVid, {0x0E0D}, {}, {}, "teletype CR"},
    {kVid, {0x0EC9}, {}, {}, "teletype '\u2554' (C9)"},
    {kVid, {0x0200, 0, 0, 0x050C}, {}, {}, "set cursor 12,5"},
    {kVid, {0x0200, 0x0100, 0, 0x0000}, {}, {}, "set cursor 0,0 page 1"},
    {kVid, {0x0601, 0x0700, 0x0000, 0x184F}, {}, {}, "scroll up window 0,0-79,24 by 1 attr 07"},
    {kVid, {0x0700, 0x1700, 0x0A14, 0x0C1D}, {}, {}, "scroll down window 20,10-29,12 by 0 (blank) attr 17"},
    {kVid, {0x09DB, 0x000E, 3}, {}, {}, "write char and attr '\u2588' (DB) attr 0E x3"},
    {kVid, {0x0A41, 0, 2}, {}, {}, "write char 'A' x2"},
    {kVid, {0x0003}, {}, {}, "set mode 03"},
    {kVid, {0x4F00}, {}, {}, "function 4F"},
    {kDsk, {0x0212, 0, 0x0001, 0x0000}, {}, {}, "read C0 H0 S1 x18"},
    {kDsk, {0x0301, 0, 0x4F12, 0x0100}, {}, {}, "write C79 H1 S18 x1"},
    {kDsk, {0x0800}, {}, {}, "drive parameters"},
    {kDsk, {0x4100, 0, 0, 0x0080}, {}, {}, "function 41 drive 80"},
    {kKbd, {0x0100}, {}, {}, "check key"},
    {kKbd, {0x0500}, {}, {}, "function 05"},
    {kUpl, {0x1234}, {}, {}, "screen upload, 8 blocks"},
    {0x42, {0x0100}, {}, {}, "service 42, not served"},
    // Replies.
    {kHs, {0x4E56}, TReplyCase{0, {0x4E56, 0, 7}}, {}, "ping: options 7 keyboard video floppy"},
    {kHs, {0x4E56}, TReplyCase{0, {0x4E56, 0, 0}}, {}, "ping: options 0 none"},
    {kKbd, {0x0100}, TReplyCase{0, {0x1E61, 0, 0, 0, 0x0001}}, {}, "check key: key 1E61 'a'"},
    {kKbd, {0x0100}, TReplyCase{0, {0x0100, 0, 0, 0, 0x0041}}, {}, "check key: no key"},
    {kKbd, {0x0100}, TReplyCase{0, {0x7F00, 0, 0, 0, 0x0001}}, {}, "check key: key 7F00 (refresh screen)"},
    {kKbd, {0x0000}, TReplyCase{0, {0x4B00, 0, 0, 0, 0x0001}}, {}, "read key: key 4B00"},
    {kKbd, {0x02FF}, TReplyCase{0, {0x0221, 0, 0, 0, 0x0001}}, {}, "shift flags: flags 21 RSHIFT NUML"},
    {kKbd, {0x0500}, TReplyCase{0, {0x0500, 0, 0, 0, 0x0041}}, {}, "function 05: not served"},
    {kDsk, {0x0212, 0, 1}, TReplyCase{0, {0x0012, 0, 1}}, {}, "read: ok, 18 blocks to follow"},
    {kDsk, {0x0201, 0, 1}, TReplyCase{0, {0x0001, 0, 1}}, {}, "read: ok, 1 block to follow"},
    {kDsk, {0x0212, 0, 0}, TReplyCase{0, {0x0400, 0, 0, 0, 0x0001}}, {}, "read: status 04 sector not found, carry"},
    // A write's first reply echoes the request (AH 03 is no status there).
    {kDsk, {0x0301, 0, 1, 0x0100}, TReplyCase{0, {0x0301, 0, 1, 0x0100}}, {}, "write: send 1 block"},
    {kDsk, {0x0301, 0, 1, 0x0100}, TReplyCase{1, {0x0001, 0, 1, 0x0100}}, {}, "write: ok"},
    {kDsk, {0x0302}, TReplyCase{1, {0x1000, 0, 0, 0, 0x0001}}, {}, "write: status 10 CRC error, carry"},
    {kDsk, {0x0800}, TReplyCase{0, {0x0000, 0x0004, 0x4F12, 0x0100}}, {},
     "drive parameters: type 04, C0-79, S1-18, H0-1, 0 drives"},
    {kDsk, {0x1500}, TReplyCase{0, {0x0100}}, {}, "disk type: type 01 (diskette, no change line)"},
    {kDsk, {0x0000}, TReplyCase{0, {0x0100, 0, 0, 0, 0x0001}}, {}, "reset: status 01 bad command, carry"},
    {kUpl, {0x1234}, TReplyCase{0, {0x1234}}, {}, "screen upload: send 8 blocks"},
    {kUpl, {0x1234}, TReplyCase{1, {0x1234}}, {}, "screen upload: screen taken"},
    // Blocks: index of the exchange's total, first bytes, checksum.
    {kDsk, {0x0212}, {}, TBlockCase{0, 18, TRxVerdict::Good}, "#0 of 18: EB 3C 90 4D 53 57 49 4E ..., checksum ok"},
    {kVid, {0x0E41}, {}, TBlockCase{3, 0, TRxVerdict::BadChecksum},
     "#3: EB 3C 90 4D 53 57 49 4E ..., checksum bad (sum 01)"},
    {kUpl, {0}, {}, TBlockCase{7, 8, TRxVerdict::BadFraming},
     "#7 of 8: EB 3C 90 4D 53 57 49 4E ..., checksum ok but length bytes 34 12"},
};

TEST(TraceDecode, EachPacketReadsAsWhatItMeans) {
  for (const auto& c : kCases) {
    wire::TRequestPacket request{};
    request.Service = c.Service;
    request.AX = c.Request.AX;
    request.BX = c.Request.BX;
    request.CX = c.Request.CX;
    request.DX = c.Request.DX;
    std::string text;
    if (c.Reply) {
      wire::TReplyPacket reply{};
      reply.AX = c.Reply->Regs.AX;
      reply.BX = c.Reply->Regs.BX;
      reply.CX = c.Reply->Regs.CX;
      reply.DX = c.Reply->Regs.DX;
      reply.Flags = c.Reply->Regs.Flags;
      app::DecodeReply(request, c.Reply->Nth, reply, text);
    } else if (c.Block) {
      wire::TSectorBlock block{};
      const uint8_t head[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'W', 'I', 'N'};
      std::memcpy(block.Data, head, sizeof head);
      wire::SealPacket(&block, sizeof block);
      if (c.Block->Verdict == TRxVerdict::BadChecksum) ++block.Data[100];  // the bytes sum to 1
      if (c.Block->Verdict == TRxVerdict::BadFraming) block.Length = 0x1234;
      app::DecodeBlock(block, c.Block->Index, c.Block->Total, c.Block->Verdict, text);
    } else {
      app::DecodeRequest(request, text);
    }
    EXPECT_EQ(text, c.Expected) << "service " << int(c.Service) << " AX " << std::hex << c.Request.AX;
  }
}

}  // namespace
