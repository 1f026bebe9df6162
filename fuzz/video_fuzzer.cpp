// The video service on arbitrary registers, mixed with the screen model's own
// text operations on arbitrary positions, windows and text.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "display/screen.h"
#include "display/video_service.h"
#include "fuzz/silent_line.h"
#include "link/link.h"

namespace {

using fuzzing::TSilentLine;

enum TOp : uint8_t { opVideo, opStrOut, opScrollUp, opScrollDown, opPrintf, opPutch, opClear, opCount };

// Text operations never write past the 4000 cells; a cursor they leave behind
// may be anywhere the board set it (0..255), never negative.
void CheckCursor(const display::TScreen& s) {
  if (s.CursorCol < 0 || s.CursorRow < 0 || s.CursorCol > 255 || s.CursorRow > 255)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  TSilentLine line;
  wire::TLink link(line, line);
  display::TScreen screen;
  int ops = 0;
  while (in.remaining_bytes() > 0 && ++ops < 256) {
    switch (in.ConsumeIntegralInRange<uint8_t>(0, opCount - 1)) {
      case opVideo:
        link.Request.AX = in.ConsumeIntegral<uint16_t>();
        link.Request.BX = in.ConsumeIntegral<uint16_t>();
        // Repeat counts stay small enough to keep a run fast; their size does not matter.
        link.Request.CX = in.ConsumeIntegral<uint16_t>() & 0x0FFF;
        link.Request.DX = in.ConsumeIntegral<uint16_t>();
        display::VideoService(link, screen);
        break;
      case opStrOut: {
        const uint8_t attr = in.ConsumeIntegral<uint8_t>();
        const int col = in.ConsumeIntegralInRange<int>(0, 255);
        const int row = in.ConsumeIntegralInRange<int>(0, 255);
        const std::string text = in.ConsumeRandomLengthString(200);
        screen.StrOut(attr, col, row, text.c_str());
        break;
      }
      case opScrollUp:
      case opScrollDown: {
        const auto l = in.ConsumeIntegral<uint8_t>(), t = in.ConsumeIntegral<uint8_t>();
        const auto r = in.ConsumeIntegral<uint8_t>(), b = in.ConsumeIntegral<uint8_t>();
        const auto n = in.ConsumeIntegral<uint8_t>(), a = in.ConsumeIntegral<uint8_t>();
        if (in.ConsumeBool()) screen.ScrollUpWindow(l, t, r, b, n, a);
        else screen.ScrollDownWindow(l, t, r, b, n, a);
        break;
      }
      case opPrintf: {
        const std::string text = in.ConsumeRandomLengthString(600);
        screen.ConPrintf("%s", text.c_str());
        break;
      }
      case opPutch:
        if (in.ConsumeBool()) screen.Putch(in.ConsumeIntegral<uint8_t>());
        else screen.TelePutch(in.ConsumeIntegral<uint8_t>());
        break;
      case opClear:
        if (in.ConsumeBool()) screen.ClearScreen();
        else screen.ScrollDown();
        break;
      default: break;
    }
    CheckCursor(screen);
  }
  return 0;
}
