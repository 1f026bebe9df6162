#include "tools/board_bios.h"

#include <cstdio>
#include <cstring>

namespace boardsim {

namespace {
constexpr auto kRecoveryQuiet = std::chrono::milliseconds(100);
constexpr auto kRecoveryLimit = std::chrono::milliseconds(1000);
// AH of a disk call whose data blocks did not arrive intact: worth another try,
// as a BIOS caller retries a diskette error.
constexpr uint8_t kDiskCrcError = 0x10;

bool Final(const TDiskResult& r) { return r.Ok() || (r.Linked && r.Status != kDiskCrcError); }

struct TDiskStatusName {
  uint8_t Status;
  const char* Name;
};
constexpr TDiskStatusName kDiskStatusNames[] = {
    {0x01, "bad command or no image served"},
    {0x03, "write protected"},
    {0x04, "sector not found"},
    {kDiskCrcError, "data blocks not received intact"},
    {0x20, "controller failure"},
};
}  // namespace

std::string DiskFailure(const TDiskResult& r) {
  if (r.Ok()) return "";
  if (!r.Linked) return "no complete exchange with the console";
  char text[96];
  const char* name = "refused";
  for (const auto& entry : kDiskStatusNames) {
    if (entry.Status == r.Status) name = entry.Name;
  }
  if (r.Status == 0) name = "carry set";
  std::snprintf(text, sizeof text, "status 0x%02X (%s)", r.Status, name);
  return text;
}

wire::TRequestPacket MakeRequest(uint8_t service, const TRegs& r) {
  wire::TRequestPacket p{};
  p.Service = service;
  p.AX = r.AX;
  p.BX = r.BX;
  p.CX = r.CX;
  p.DX = r.DX;
  return p;
}

std::optional<wire::TReplyPacket> TBoardBios::Call(uint8_t service, const TRegs& r) {
  for (int attempt = 0; attempt < kCallTries; ++attempt) {
    if (attempt > 0) Link->DrainUntilQuiet(kRecoveryQuiet, kRecoveryLimit);
    if (Link->SendRequest(MakeRequest(service, r)) != TLinkStatus::Ok) continue;
    wire::TReplyPacket reply{};
    if (Link->ReadReply(reply) == TLinkStatus::Ok) return reply;
  }
  ++Failures;
  return std::nullopt;
}

std::optional<uint16_t> TBoardBios::Handshake(const TRegs& probe) {
  const auto reply = Call(kServiceHandshake, probe);
  if (!reply || reply->AX != probe.AX || reply->BX != probe.BX || reply->DX != probe.DX)
    return std::nullopt;
  OptionBits = reply->CX;
  Page->Clear();  // the console clears its screen on a handshake
  return OptionBits;
}

bool TBoardBios::Video(const TRegs& r) {
  // No reply: the acknowledgement is the whole answer. Resending after a lost
  // acknowledgement may apply a call twice; the page upload repairs that.
  if (Link->SendRequest(MakeRequest(kServiceVideo, r)) == TLinkStatus::Ok) return true;
  ++Failures;
  return false;
}

bool TBoardBios::SetCursor(int col, int row) {
  Page->SetCursor(col, row);
  if (!VideoOn()) return true;
  return Video({0x0200, 0, 0, wire::MakeWord(static_cast<uint8_t>(row), static_cast<uint8_t>(col))});
}

bool TBoardBios::ScrollUp(int left, int top, int right, int bottom, int lines, uint8_t attr) {
  Page->ScrollUp(left, top, right, bottom, lines, attr);
  if (!VideoOn()) return true;
  return Video({wire::MakeWord(0x06, static_cast<uint8_t>(lines)), wire::MakeWord(attr, 0),
                wire::MakeWord(static_cast<uint8_t>(top), static_cast<uint8_t>(left)),
                wire::MakeWord(static_cast<uint8_t>(bottom), static_cast<uint8_t>(right))});
}

bool TBoardBios::WriteCharAttr(uint8_t ch, uint8_t attr, uint16_t count) {
  Page->WriteCharAttr(ch, attr, count);
  if (!VideoOn()) return true;
  return Video({wire::MakeWord(0x09, ch), attr, count, 0});
}

bool TBoardBios::Teletype(uint8_t ch) {
  Page->Teletype(ch);
  if (!VideoOn()) return true;
  return Video({wire::MakeWord(0x0E, ch), 0, 0, 0});
}

bool TBoardBios::TeletypeText(std::string_view text) {
  bool ok = true;
  for (char c : text) ok = Teletype(static_cast<uint8_t>(c)) && ok;
  return ok;
}

bool TBoardBios::PutText(int col, int row, std::string_view text, uint8_t attr) {
  bool ok = SetCursor(col, row);
  for (char c : text) ok = WriteCharAttr(static_cast<uint8_t>(c), attr, 1) && ok;
  return ok;
}

TKeyState TBoardBios::CheckKey(uint16_t& code) {
  const auto reply = Call(kServiceKeyboard, {0x0100, 0, 0, 0});
  if (!reply) return TKeyState::Failed;
  if (reply->Flags & wire::kFlagZero) return TKeyState::None;
  code = reply->AX;
  return code == kRefreshKey ? TKeyState::Refresh : TKeyState::Key;
}

std::optional<uint16_t> TBoardBios::ReadKey() {
  // A resent read could take a second key: read only once the key is there.
  if (Link->SendRequest(MakeRequest(kServiceKeyboard, {0x0000, 0, 0, 0})) != TLinkStatus::Ok) {
    ++Failures;
    return std::nullopt;
  }
  wire::TReplyPacket reply{};
  if (Link->ReadReply(reply) != TLinkStatus::Ok || (reply.Flags & wire::kFlagZero)) {
    ++Failures;
    return std::nullopt;
  }
  return uint16_t{reply.AX};
}

std::optional<uint8_t> TBoardBios::ShiftFlags() {
  const auto reply = Call(kServiceKeyboard, {0x0200, 0, 0, 0});
  if (!reply) return std::nullopt;
  return wire::Lo(reply->AX);
}

void TBoardBios::RebootNow() {
  // The board goes dark in the middle of the transfer: silent past the host's
  // watchdog, then whatever the host still sent is gone with the old boot.
  Link->Silence(Link->Config().StallTime);
  Link->DiscardPending();
  throw TBoardReboot("reboot in a disk transfer");
}

TDiskResult TBoardBios::ReadOnce(const TRegs& r, uint8_t count, std::span<uint8_t> out,
                                 bool reboot) {
  TDiskResult result;
  if (Link->SendRequest(MakeRequest(kServiceDisk, r)) != TLinkStatus::Ok) return result;
  wire::TReplyPacket reply{};
  if (Link->ReadReply(reply) != TLinkStatus::Ok) return result;
  result.Status = wire::Hi(reply.AX);
  result.Carry = (reply.Flags & wire::kFlagCarry) != 0;
  if (result.Status != 0) {
    result.Linked = true;  // an answer, just not a good one: no blocks follow
    return result;
  }
  bool intact = true;
  for (unsigned i = 0; i < count; ++i) {
    if (reboot && i == count / 2) RebootNow();
    wire::TSectorBlock block{};
    const TLinkStatus s = Link->ReadBlock(block);
    if (s == TLinkStatus::Timeout) return result;
    // A block bad on every try: the host goes on with the next, so does the board.
    if (s != TLinkStatus::Ok) intact = false;
    std::memcpy(out.data() + i * wire::kBlockDataSize, block.Data, wire::kBlockDataSize);
  }
  result.Linked = intact;
  return result;
}

TDiskResult TBoardBios::ReadSectors(uint8_t cyl, uint8_t head, uint8_t sector, uint8_t count,
                                    std::span<uint8_t> out) {
  TDiskResult result;
  if (out.size() < size_t{count} * wire::kBlockDataSize) return result;
  const bool reboot = Link->Faults().RebootThisTransfer();
  const TRegs r{wire::MakeWord(0x02, count), 0, wire::MakeWord(cyl, sector),
                wire::MakeWord(head, 0)};
  for (int attempt = 0; attempt < kCallTries; ++attempt) {
    if (attempt > 0) Link->DrainUntilQuiet(kRecoveryQuiet, kRecoveryLimit);
    result = ReadOnce(r, count, out, reboot && attempt == 0);
    if (Final(result)) return result;
  }
  ++Failures;
  return result;
}

TDiskResult TBoardBios::WriteOnce(const TRegs& r, uint8_t count, std::span<const uint8_t> in,
                                  bool reboot) {
  TDiskResult result;
  if (Link->SendRequest(MakeRequest(kServiceDisk, r)) != TLinkStatus::Ok) return result;
  wire::TReplyPacket reply{};
  if (Link->ReadReply(reply) != TLinkStatus::Ok) return result;
  if (wire::Hi(reply.AX) != 0x03) {
    // Not the echo of the write: the console refused it (no image) and sends no more.
    result.Linked = true;
    result.Status = wire::Hi(reply.AX);
    result.Carry = (reply.Flags & wire::kFlagCarry) != 0;
    return result;
  }
  for (unsigned i = 0; i < count; ++i) {
    if (reboot && i == count / 2) RebootNow();
    const TLinkStatus s =
        Link->SendBlock(std::span<const uint8_t, wire::kBlockDataSize>(
            in.data() + i * wire::kBlockDataSize, wire::kBlockDataSize));
    if (s == TLinkStatus::Timeout) return result;
  }
  if (Link->ReadReply(reply) != TLinkStatus::Ok) return result;
  result.Linked = true;
  result.Status = wire::Hi(reply.AX);
  result.Carry = (reply.Flags & wire::kFlagCarry) != 0;
  return result;
}

TDiskResult TBoardBios::WriteSectors(uint8_t cyl, uint8_t head, uint8_t sector, uint8_t count,
                                     std::span<const uint8_t> in) {
  TDiskResult result;
  if (in.size() < size_t{count} * wire::kBlockDataSize) return result;
  const bool reboot = Link->Faults().RebootThisTransfer();
  const TRegs r{wire::MakeWord(0x03, count), 0, wire::MakeWord(cyl, sector),
                wire::MakeWord(head, 0)};
  for (int attempt = 0; attempt < kCallTries; ++attempt) {
    if (attempt > 0) Link->DrainUntilQuiet(kRecoveryQuiet, kRecoveryLimit);
    result = WriteOnce(r, count, in, reboot && attempt == 0);
    if (Final(result)) return result;
  }
  ++Failures;
  return result;
}

bool TBoardBios::Upload() {
  const TRegs r{0, 0, 0, 0};
  for (int attempt = 0; attempt < kCallTries; ++attempt) {
    if (attempt > 0) Link->DrainUntilQuiet(kRecoveryQuiet, kRecoveryLimit);
    if (Link->SendRequest(MakeRequest(kServiceUpload, r)) != TLinkStatus::Ok) continue;
    wire::TReplyPacket reply{};
    if (Link->ReadReply(reply) != TLinkStatus::Ok) continue;
    const auto page = Page->Data();
    bool sent = true;
    for (size_t i = 0; i < 8 && sent; ++i)
      sent = Link->SendBlock(std::span<const uint8_t, wire::kBlockDataSize>(
                 page.data() + i * wire::kBlockDataSize, wire::kBlockDataSize)) !=
             TLinkStatus::Timeout;
    if (sent && Link->ReadReply(reply) == TLinkStatus::Ok) return true;
  }
  ++Failures;
  return false;
}

}  // namespace boardsim
