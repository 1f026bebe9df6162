#include "tools/text_page.h"

#include <algorithm>

namespace boardsim {

void TTextPage::Clear() {
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kCols; ++c) {
      Bytes[Offset(c, r)] = ' ';
      Bytes[Offset(c, r) + 1] = kBlankAttr;
    }
  Attr_ = kBlankAttr;
  Col = Row = 0;
}

void TTextPage::SetCursor(int col, int row) {
  Col = col;
  Row = row;
}

void TTextPage::ScrollPage() {
  std::copy(Bytes.begin() + kCols * 2, Bytes.begin() + kCols * kRows * 2, Bytes.begin());
  for (int c = 0; c < kCols; ++c) Bytes[Offset(c, kRows - 1)] = ' ';  // attributes stay
}

void TTextPage::LineFeed() {
  if (++Row >= kRows) {
    ScrollPage();
    Row = kRows - 1;
  }
}

void TTextPage::ScrollUp(int left, int top, int right, int bottom, int lines, uint8_t attr) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, kCols - 1);
  bottom = std::min(bottom, kRows - 1);
  if (left > right || top > bottom) return;
  const int n = lines == 0 ? kRows : lines;
  for (int pass = 0; pass < n && pass < kRows; ++pass) {
    for (int r = top; r < bottom; ++r)
      for (int c = left; c <= right; ++c) {
        Bytes[Offset(c, r)] = Bytes[Offset(c, r + 1)];
        Bytes[Offset(c, r) + 1] = Bytes[Offset(c, r + 1) + 1];
      }
    for (int c = left; c <= right; ++c) {
      Bytes[Offset(c, bottom)] = ' ';
      Bytes[Offset(c, bottom) + 1] = attr;
    }
  }
}

void TTextPage::Put(uint8_t ch) {
  if (CursorOnPage()) {
    Bytes[Offset(Col, Row)] = ch;
    Bytes[Offset(Col, Row) + 1] = Attr_;
  }
  if (++Col >= kCols) {
    Col = 0;
    Row = std::min(Row + 1, kRows - 1);
  }
}

void TTextPage::WriteCharAttr(uint8_t ch, uint8_t attr, uint16_t count) {
  for (unsigned i = 0; i < count; ++i) {
    Attr_ = attr;
    Put(ch);
  }
}

void TTextPage::WriteChar(uint8_t ch, uint16_t count) {
  for (unsigned i = 0; i < count; ++i) Put(ch);
}

void TTextPage::Teletype(uint8_t ch) {
  switch (ch) {
    case 7: return;
    case 8:
      if (Col > 0) --Col;
      return;
    case 9: Col = (Col / 8) * 8 + 8; return;
    case 10: LineFeed(); return;
    case 13: Col = 0; return;
    default: break;
  }
  if (Col >= kCols) {  // a tab may leave the cursor one past the last column
    Col = 0;
    LineFeed();
  }
  if (CursorOnPage()) Bytes[Offset(Col, Row)] = ch;
  if (++Col >= kCols) {
    Col = 0;
    LineFeed();
  }
}

}  // namespace boardsim
