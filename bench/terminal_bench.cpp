// Bytes and time of the terminal writer: a teletype character at the cursor,
// the worst character of a line, a line end that scrolls the page, and a full
// redraw of a colourful page in which every cell changed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "display/screen.h"
#include "display/terminal_writer.h"

namespace {

using display::TScreen;
using TClock = std::chrono::steady_clock;

constexpr int kCols = TScreen::kCols;
constexpr int kRows = TScreen::kRows;
constexpr const char* kStatus = "COM1 115200 | Ctrl-] ? for help";

const char* Verdict(bool pass) { return pass ? "PASS" : "MISS"; }

struct TTeletype {
  std::vector<double> Typical;  // characters that only advance the cursor
  size_t WorstOfLine = 0;       // any character of a line, its wrap included
  size_t Scroll = 0;            // the line end that scrolls the page up
};

// Lines of a directory listing typed at the cursor, one refresh per character.
TTeletype Teletype() {
  TScreen screen;
  display::TTerminalWriter writer(true);
  writer.Begin();
  screen.CurrentAttr = 0x07;
  writer.Update(screen, kStatus);
  TTeletype result;
  const std::string line = "README   TXT     1234 05-06-24  12:00p   BOARD    EXE    45678 05-06-24   9:30a ";
  for (int n = 0; n < 3 * kRows; ++n) {
    for (size_t i = 0; i < line.size(); ++i) {
      const int rowBefore = screen.CursorRow;
      const bool scrolls = rowBefore == kRows - 1 && screen.CursorCol == kCols - 1;
      screen.TelePutch(static_cast<uint8_t>(line[i]));
      const size_t bytes = writer.Update(screen, kStatus).size();
      if (scrolls) {
        result.Scroll = std::max(result.Scroll, bytes);
      } else {
        result.WorstOfLine = std::max(result.WorstOfLine, bytes);
        if (screen.CursorRow == rowBefore) result.Typical.push_back(static_cast<double>(bytes));
      }
    }
  }
  return result;
}

// A page as an application draws it: a double-line frame, a title bar, a menu
// and text in several attributes. The two variants differ in every cell.
void DrawPage(TScreen& screen, int variant) {
  const uint8_t back = variant == 0 ? 0x1F : 0x3E;
  for (auto& cell : screen.VideoBuffer) cell = {static_cast<uint8_t>(variant == 0 ? ' ' : 0xB0), back};
  const auto put = [&](int c, int r, uint8_t ch, uint8_t attr) { screen.Cell(c, r) = {ch, attr}; };
  for (int c = 1; c < kCols - 1; ++c) {
    put(c, 0, 0xCD, back);
    put(c, kRows - 1, 0xCD, back);
  }
  for (int r = 1; r < kRows - 1; ++r) {
    put(0, r, 0xBA, back);
    put(kCols - 1, r, 0xBA, back);
  }
  put(0, 0, 0xC9, back);
  put(kCols - 1, 0, 0xBB, back);
  put(0, kRows - 1, 0xC8, back);
  put(kCols - 1, kRows - 1, 0xBC, back);
  screen.StrOut(variant == 0 ? 0x70 : 0x4F, 2, 1,
                variant == 0 ? " File  Edit  Search  Run  Options  Help " : " Datei Bearbeiten Suchen Start Hilfe  ");
  for (int r = 3; r < kRows - 2; ++r) {
    const uint8_t attr = static_cast<uint8_t>(variant == 0 ? 0x1A + (r % 5) : 0x30 + (r % 7));
    char text[80];
    std::snprintf(text, sizeof text, variant == 0 ? "%02d  procedure Step%d(var x: integer);  { keep it }"
                                                  : "%03d =  call step_%d(&x);   /* done */   ",
                  r, r * 7);
    screen.StrOut(attr, 3, r, text);
    screen.Cell(kCols - 3, r) = {static_cast<uint8_t>(variant == 0 ? 0xB1 : 0xDB), 0x71};
  }
}

struct TRedraw {
  size_t Bytes = 0;
  double MedianMs = 0;
  bool AllChanged = true;
};

TRedraw FullRedraw(bool trueColor) {
  TScreen pages[2];
  DrawPage(pages[0], 0);
  DrawPage(pages[1], 1);
  TRedraw result;
  for (int i = 0; i < kCols * kRows; ++i) {
    result.AllChanged = result.AllChanged && !(pages[0].VideoBuffer[static_cast<size_t>(i)] ==
                                               pages[1].VideoBuffer[static_cast<size_t>(i)]);
  }
  display::TTerminalWriter writer(trueColor);
  writer.Begin();
  writer.Update(pages[0], kStatus);
  std::vector<double> times;
  for (int pass = 0; pass < 600; ++pass) {
    const TScreen& page = pages[(pass + 1) % 2];
    const auto t0 = TClock::now();
    const std::string out = writer.Update(page, kStatus);
    const double ms = std::chrono::duration<double, std::milli>(TClock::now() - t0).count();
    if (pass >= 50) times.push_back(ms);
    result.Bytes = std::max(result.Bytes, out.size());
  }
  result.MedianMs = bench::Rank(times, 0.5);
  return result;
}

}  // namespace

int main() {
  const TTeletype tele = Teletype();
  const double typical = bench::Rank(tele.Typical, 0.5);
  std::printf("| terminal: bytes for one teletype character (median) | %.0f B | the character itself: 1 B "
              "| <= 16 B | %s |\n",
              typical, Verdict(typical <= 16));
  std::printf("| terminal: bytes for the worst teletype character of a line (its wrap) | %zu B | "
              "1 B + a cursor move | <= 16 B | %s |\n",
              tele.WorstOfLine, Verdict(tele.WorstOfLine <= 16));

  const TRedraw rgb = FullRedraw(true);
  const TRedraw ansi = FullRedraw(false);
  if (!rgb.AllChanged) {
    std::fprintf(stderr, "terminal-bench: the two pages share cells\n");
    return 1;
  }
  std::printf("| terminal: a line end that scrolls the page | %zu B | full redraw %zu B | <= 512 B | %s |\n",
              tele.Scroll, rgb.Bytes, Verdict(tele.Scroll <= 512));
  std::printf("| terminal: full redraw, 2000 changed cells in colour, 24-bit | %.1f KB | 16 colours %.1f KB "
              "| <= 24 KB | %s |\n",
              static_cast<double>(rgb.Bytes) / 1024.0, static_cast<double>(ansi.Bytes) / 1024.0,
              Verdict(rgb.Bytes <= 24 * 1024 && ansi.Bytes <= 24 * 1024));
  const double worstMs = std::max(rgb.MedianMs, ansi.MedianMs);
  std::printf("| terminal: full redraw, 2000 changed cells (median) | %.3f ms | 16 colours %.3f ms "
              "| < 1 ms | %s |\n",
              rgb.MedianMs, ansi.MedianMs, Verdict(worstMs < 1.0));
  return 0;
}
