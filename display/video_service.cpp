#include "display/video_service.h"

#include <array>

#include "display/screen.h"
#include "link/link.h"

namespace display {

namespace {

using wire::Hi;
using wire::Lo;
using wire::TRequestPacket;

constexpr int32_t kTextMode = 3;  // 80x25 colour text

void SetMode(TScreen& s, const TRequestPacket& r) {
  s.VideoMode = Lo(r.AX);
  if (s.VideoMode == kTextMode) s.ClearScreen();
}

// Stored as sent, also off the screen (a row of 25 or more hides the marker).
void SetCursor(TScreen& s, const TRequestPacket& r) {
  s.CursorCol = Lo(r.DX);
  s.CursorRow = Hi(r.DX);
  ++s.Changes;  // the cursor moved: nothing to redraw, but a change for watchers
}

void ScrollUp(TScreen& s, const TRequestPacket& r) {
  s.ScrollDownWindow(Lo(r.CX), Hi(r.CX), Lo(r.DX), Hi(r.DX), Lo(r.AX), Hi(r.BX));
}

void ScrollDown(TScreen& s, const TRequestPacket& r) {
  s.ScrollUpWindow(Lo(r.CX), Hi(r.CX), Lo(r.DX), Hi(r.DX), Lo(r.AX), Hi(r.BX));
}

void WriteCharAttr(TScreen& s, const TRequestPacket& r) {
  for (uint32_t i = 0; i < r.CX; ++i) {
    s.CurrentAttr = Lo(r.BX);
    s.Putch(Lo(r.AX));
  }
}

void WriteChar(TScreen& s, const TRequestPacket& r) {
  for (uint32_t i = 0; i < r.CX; ++i) s.Putch(Lo(r.AX));
}

void Teletype(TScreen& s, const TRequestPacket& r) { s.TelePutch(Lo(r.AX)); }

struct TVideoFunction {
  void (*Run)(TScreen&, const TRequestPacket&);
  bool TextModeOnly;
};

// Indexed by AH; functions without an entry (and AH above 0x0E) are dropped.
constexpr std::array<TVideoFunction, 0x0F> kVideoFunctions = {{
    {SetMode, false},        // 0x00 set mode
    {nullptr, false},        // 0x01 cursor shape
    {SetCursor, true},       // 0x02 set cursor position
    {nullptr, false},        // 0x03 read cursor position
    {nullptr, false},        // 0x04 light pen
    {nullptr, false},        // 0x05 select page
    {ScrollUp, true},        // 0x06 scroll window up
    {ScrollDown, true},      // 0x07 scroll window down
    {nullptr, false},        // 0x08 read character and attribute
    {WriteCharAttr, true},   // 0x09 write character and attribute
    {WriteChar, true},       // 0x0A write character
    {nullptr, false},        // 0x0B palette
    {nullptr, false},        // 0x0C write pixel
    {nullptr, false},        // 0x0D read pixel
    {Teletype, false},       // 0x0E teletype output
}};

}  // namespace

void VideoService(wire::TLink& link, TScreen& screen) {
  const TRequestPacket& request = link.Request;
  const uint8_t function = Hi(request.AX);
  if (function >= kVideoFunctions.size()) return;
  const TVideoFunction& entry = kVideoFunctions[function];
  if (entry.Run == nullptr) return;
  if (entry.TextModeOnly && screen.VideoMode != kTextMode) return;
  entry.Run(screen, request);
}

}  // namespace display
