// The host's copy of the board's 80x25 colour text screen and the text
// operations that write it. No drawing happens here: writes only set ScreenDirty.
//
// Positions off the screen: the board may set the cursor anywhere (column and
// row 0-255) and the renderer sees it as set. Nothing outside rows 0-24 and
// columns 0-79 is ever written by the text operations, though:
// - a character written with the cursor at column 80 or beyond goes to column 0
//   of the next row, as if the row had just been filled (with a scroll at the
//   bottom for StrOut and TelePutch, none for Putch);
// - a character written with the cursor below row 24 lands on row 24, same column;
// - a line feed from row 24 or below scrolls once and leaves the cursor on row 24;
// - a tab at column 80 or beyond leaves the cursor where it is;
// - the window scrolls work on the part of their window that lies on the screen.
// The spare rows 25-49 are written only by the full-screen upload.
#pragma once

#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace display {

struct TScreenCell {
  uint8_t Char;
  uint8_t Attr;  // bits 0-3 foreground, 4-7 background colour index
  bool operator==(const TScreenCell&) const = default;
};
static_assert(sizeof(TScreenCell) == 2);

class TScreen {
 public:
  static constexpr int kCols = 80;
  static constexpr int kRows = 25;           // rows shown
  static constexpr int kStorageRows = 50;    // rows 25-49 are spare room never shown
  static constexpr int kCells = kCols * kStorageRows;  // 4000
  static constexpr uint8_t kDefaultAttr = 0x0F;
  static constexpr size_t kPrintfBuffer = 256;

  TScreen();

  void ClearScreen();
  void StrOut(uint8_t attribute, int column, int row, const char* text);
  void Putch(uint8_t character);
  void TelePutch(uint8_t character);
  void ScrollDown();
  void ScrollDownWindow(uint8_t left, uint8_t top, uint8_t right, uint8_t bottom, uint8_t lines,
                        uint8_t attribute);
  void ScrollUpWindow(uint8_t left, uint8_t top, uint8_t right, uint8_t bottom, uint8_t lines,
                      uint8_t attribute);
  // Formatted text at the cursor in CurrentAttr; returns the characters formatted.
  // Text longer than the 256-byte buffer is formatted again in full and printed whole.
  int ConPrintf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int VConPrintf(const char* format, va_list args);

  TScreenCell& Cell(int col, int row) { return VideoBuffer[static_cast<size_t>(row * kCols + col)]; }
  const TScreenCell& Cell(int col, int row) const {
    return VideoBuffer[static_cast<size_t>(row * kCols + col)];
  }
  // The raw bytes (character, attribute, ...) of the whole 4000-cell storage.
  uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(VideoBuffer.data()); }

  std::array<TScreenCell, kCells> VideoBuffer{};
  uint8_t CurrentAttr = kDefaultAttr;
  int32_t CursorCol = 0;
  int32_t CursorRow = 0;
  int32_t VideoMode = 3;
  uint8_t ScreenDirty = 0;
  // Bumped by every write of a cell and every move of the cursor (the renderer's
  // reasons to redraw, which set ScreenDirty alone, leave it): a watcher tells
  // "changed since I last looked" by comparing it.
  uint64_t Changes = 0;
  // A cell (and the cursor) changed: ScreenDirty set, Changes bumped.
  void Touch() {
    ScreenDirty = 1;
    ++Changes;
  }
  // The text written as a teletype (by the board) or by ConPrintf (the console's
  // own messages), as it is written, with the row the cursor stood on before it
  // and the row the text left it on; the console log follows it.
  std::function<void(std::string_view text, int32_t row, int32_t endRow)> OnText;
  // The cursor marker's bookkeeping; the renderer moves and blinks it, ClearScreen resets it.
  int32_t MarkerCol = 0;
  int32_t MarkerRow = 0;
  uint8_t MarkerOn = 0;

 private:
  // Brings an off-screen cursor onto the screen for a write (see above) and
  // returns the cell under it.
  TScreenCell& CellForWrite(bool scroll);
  // ConPrintf's formatted text (zero-terminated) through StrOut, told to OnText.
  void Print(std::string_view text);
  // TelePutch without telling OnText.
  void TeletypeWrite(uint8_t character);
  // One column further; past column 79 to column 0 of the next row.
  void Advance(bool scroll);
  // Next row; below row 24 scrolls (or, without scroll, stays on row 24).
  void NextRow(bool scroll);
};

}  // namespace display
