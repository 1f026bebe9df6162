// What the packets on the wire mean, in words, for the trace file and the link
// statistics: one table of the services, and for each service a table of its
// functions by AH, each with a name and small formatters of the request and of
// the reply. Decoding only reads packets; it never changes one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/link_observer.h"
#include "link/packets.h"

namespace app {

// The services the trace and the statistics tell apart, in this order; the
// last slot takes every other service number.
inline constexpr size_t kServiceSlots = 6;
inline constexpr size_t kUnknownServiceSlot = kServiceSlots - 1;
size_t ServiceSlot(uint8_t service);
// "handshake", "video", "disk", "keyboard", "upload", "unknown".
std::string_view ServiceName(size_t slot);
// "hs", "vid", "dsk", "kbd", "upl", "unk".
std::string_view ServiceShortName(size_t slot);

// The data blocks an exchange moves after its first reply: the sector count of
// a disk read or write, 8 for a screen upload, else 0.
unsigned BlocksOf(const wire::TRequestPacket& request);

// The meaning of a request: "teletype 'A'", "read C0 H0 S1 x18", "check key", ...
void DecodeRequest(const wire::TRequestPacket& request, std::string& out);
// The meaning of a reply to `request`; `nth` counts the replies of this
// exchange already accepted (a disk write and an upload have two).
void DecodeReply(const wire::TRequestPacket& request, int nth, const wire::TReplyPacket& reply,
                 std::string& out);
// A block in short: its index (of `total`, when known), its first bytes and
// its checksum ("#3 of 18: EB 3C 90 4D 53 57 49 4E, checksum ok").
void DecodeBlock(const wire::TSectorBlock& block, unsigned index, unsigned total, wire::TRxVerdict verdict,
                 std::string& out);
// The block's 512 data bytes as 32 lines of 16 upper-case hex bytes, each
// line starting with `indent` and its offset, and ending in a line feed.
void BlockHex(const wire::TSectorBlock& block, std::string_view indent, std::string& out);

// printf-style text appended to `out` (a line of the trace: at most 159 bytes).
void Appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The sum of `n` bytes modulo 256: 0 for a packet with a good checksum.
uint8_t ByteSum(const void* bytes, size_t n);

// A BIOS key code as the trace shows it: "1E61 'a'", "4B00", "7F00 (refresh screen)".
void DecodeKey(uint16_t code, std::string& out);

}  // namespace app
