// The board's redirected BIOS: each call becomes a request to the console, and
// each video call is also applied to the board's own text page. Calls whose
// exchange fails are tried again, as a board's BIOS wrapper would.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/board_link.h"
#include "tools/text_page.h"

namespace boardsim {

// The board restarts (Ctrl+Alt+Del, or a simulated crash in a transfer).
class TBoardReboot : public std::runtime_error {
 public:
  explicit TBoardReboot(const char* why) : std::runtime_error(why) {}
};

// Option bits of the handshake reply.
inline constexpr uint16_t kOptionKeyboard = 0x01;
inline constexpr uint16_t kOptionVideo = 0x02;
inline constexpr uint16_t kOptionFloppy = 0x04;

inline constexpr uint8_t kServiceHandshake = 0x0B;
inline constexpr uint8_t kServiceVideo = 0x10;
inline constexpr uint8_t kServiceDisk = 0x13;
inline constexpr uint8_t kServiceKeyboard = 0x16;
inline constexpr uint8_t kServiceUpload = 0x7F;

inline constexpr uint16_t kRefreshKey = 0x7F00;

struct TRegs {
  uint16_t AX = 0, BX = 0, CX = 0, DX = 0;
};

enum class TKeyState { None, Key, Refresh, Failed };

struct TDiskResult {
  bool Linked = false;  // the exchange completed on the line
  uint8_t Status = 0xFF;  // AH of the reply
  bool Carry = true;
  bool Ok() const { return Linked && Status == 0 && !Carry; }
};

// Why a disk call failed, in words ("status 0x03 (write protected)", ...);
// empty when it succeeded.
std::string DiskFailure(const TDiskResult& r);

class TBoardBios {
 public:
  static constexpr int kCallTries = 3;  // whole calls, on top of the link's packet tries

  TBoardBios(TBoardLink& link, TTextPage& page) : Link(&link), Page(&page) {}

  // One handshake; the option bits when the console echoed AX, BX and DX.
  std::optional<uint16_t> Handshake(const TRegs& probe);
  uint16_t Options() const { return OptionBits; }
  void SetOptions(uint16_t bits) { OptionBits = bits; }

  // Video calls: sent only when the console serves video; the page follows.
  bool SetCursor(int col, int row);
  bool ScrollUp(int left, int top, int right, int bottom, int lines, uint8_t attr);
  bool WriteCharAttr(uint8_t ch, uint8_t attr, uint16_t count);
  bool Teletype(uint8_t ch);
  bool TeletypeText(std::string_view text);
  // Writes the text at (col,row) cell by cell in attr.
  bool PutText(int col, int row, std::string_view text, uint8_t attr);

  // Keyboard: check key (AH 1), read key (AH 0), shift flags (AH 2).
  TKeyState CheckKey(uint16_t& code);
  std::optional<uint16_t> ReadKey();
  std::optional<uint8_t> ShiftFlags();

  // Disk (AH 2 / AH 3) on drive 0; out/in hold count x 512 bytes.
  TDiskResult ReadSectors(uint8_t cyl, uint8_t head, uint8_t sector, uint8_t count,
                          std::span<uint8_t> out);
  TDiskResult WriteSectors(uint8_t cyl, uint8_t head, uint8_t sector, uint8_t count,
                           std::span<const uint8_t> in);

  // Full-screen upload of the board's text page.
  bool Upload();

  // Exchanges that failed even after the call's retries.
  uint64_t FailedCalls() const { return Failures; }

 private:
  // Request and reply with whole-call retries.
  std::optional<wire::TReplyPacket> Call(uint8_t service, const TRegs& r);
  bool Video(const TRegs& r);
  bool VideoOn() const { return (OptionBits & kOptionVideo) != 0; }
  TDiskResult ReadOnce(const TRegs& r, uint8_t count, std::span<uint8_t> out, bool reboot);
  TDiskResult WriteOnce(const TRegs& r, uint8_t count, std::span<const uint8_t> in, bool reboot);
  [[noreturn]] void RebootNow();

  TBoardLink* Link;
  TTextPage* Page;
  uint16_t OptionBits = 0;
  uint64_t Failures = 0;
};

wire::TRequestPacket MakeRequest(uint8_t service, const TRegs& r);

}  // namespace boardsim
