// The board's own copy of its text page: 80x25 cells of character and
// attribute, plus the 96 bytes behind them that a full-screen upload carries.
// Every video call the board makes is applied here the way the console applies
// it, so that an upload of this page reproduces the console's screen.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace boardsim {

class TTextPage {
 public:
  static constexpr int kCols = 80;
  static constexpr int kRows = 25;
  static constexpr size_t kPageBytes = 4096;  // what an upload sends: 8 blocks of 512
  static constexpr uint8_t kBlankAttr = 0x0F;

  TTextPage() { Clear(); }

  // What the console does on a handshake: blank page, white on black, home cursor.
  void Clear();
  // Video 0x02.
  void SetCursor(int col, int row);
  // Video 0x06: the window's content moves up `lines` rows (0: blank it).
  void ScrollUp(int left, int top, int right, int bottom, int lines, uint8_t attr);
  // Video 0x09: count times the character in attr; the cursor advances per cell.
  void WriteCharAttr(uint8_t ch, uint8_t attr, uint16_t count);
  // Video 0x0A: count times the character in the current attribute.
  void WriteChar(uint8_t ch, uint16_t count);
  // Video 0x0E: teletype; printable codes keep the cell's attribute.
  void Teletype(uint8_t ch);

  uint8_t Char(int col, int row) const { return Bytes[Offset(col, row)]; }
  uint8_t Attr(int col, int row) const { return Bytes[Offset(col, row) + 1]; }
  int CursorCol() const { return Col; }
  int CursorRow() const { return Row; }
  uint8_t CurrentAttr() const { return Attr_; }
  std::span<const uint8_t, kPageBytes> Data() const { return Bytes; }

 private:
  static size_t Offset(int col, int row) { return static_cast<size_t>(row * kCols + col) * 2; }
  bool CursorOnPage() const { return Col >= 0 && Col < kCols && Row >= 0 && Row < kRows; }
  void Put(uint8_t ch);  // one cell at the cursor in the current attribute, no scroll
  void LineFeed();       // scrolls at the bottom
  void ScrollPage();

  std::array<uint8_t, kPageBytes> Bytes{};
  int Col = 0, Row = 0;
  uint8_t Attr_ = kBlankAttr;
};

}  // namespace boardsim
