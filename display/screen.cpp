#include "display/screen.h"

#include <algorithm>

namespace display {

namespace {
constexpr uint8_t kBell = 7;
constexpr uint8_t kBackspace = 8;
constexpr uint8_t kTab = 9;
constexpr uint8_t kLineFeed = 10;
constexpr uint8_t kCarriageReturn = 13;
constexpr uint8_t kSpace = 0x20;
constexpr int kTabWidth = 8;
}  // namespace

TScreen::TScreen() { ClearScreen(); }

void TScreen::ClearScreen() {
  // Only the shown rows; the spare rows keep what they hold.
  std::fill_n(VideoBuffer.begin(), kCols * kRows, TScreenCell{kSpace, kDefaultAttr});
  CurrentAttr = kDefaultAttr;
  CursorCol = CursorRow = MarkerCol = MarkerRow = 0;
  MarkerOn = 0;
  Touch();
}

void TScreen::NextRow(bool scroll) {
  if (CursorRow >= kRows - 1) {
    if (scroll) ScrollDown();
    CursorRow = kRows - 1;
  } else {
    ++CursorRow;
  }
}

void TScreen::Advance(bool scroll) {
  if (++CursorCol >= kCols) {
    CursorCol = 0;
    NextRow(scroll);
  }
}

TScreenCell& TScreen::CellForWrite(bool scroll) {
  if (CursorCol < 0) CursorCol = 0;
  if (CursorRow < 0) CursorRow = 0;
  if (CursorCol >= kCols) {
    CursorCol = 0;
    NextRow(scroll);
  }
  if (CursorRow >= kRows) CursorRow = kRows - 1;
  return Cell(CursorCol, CursorRow);
}

void TScreen::StrOut(uint8_t attribute, int column, int row, const char* text) {
  CurrentAttr = attribute;
  CursorCol = std::max(column, 0);
  CursorRow = std::max(row, 0);
  for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
    const auto c = static_cast<uint8_t>(*p);
    if (c == kCarriageReturn) {
      CursorCol = 0;
    } else if (c == kLineFeed) {
      NextRow(true);
    } else {
      CellForWrite(true) = {c, attribute};
      Advance(true);
    }
  }
  Touch();
}

void TScreen::Putch(uint8_t character) {
  CellForWrite(false) = {character, CurrentAttr};
  Advance(false);
  Touch();
}

void TScreen::TelePutch(uint8_t character) {
  const int32_t row = CursorRow;
  TeletypeWrite(character);
  if (OnText) OnText(std::string_view(reinterpret_cast<const char*>(&character), 1), row, CursorRow);
}

void TScreen::TeletypeWrite(uint8_t character) {
  // The control codes move the cursor only: a change for watchers, nothing to redraw.
  if (character != kBell) ++Changes;
  switch (character) {
    case kBell:
      return;
    case kBackspace:
      if (CursorCol > 0) --CursorCol;
      return;
    case kTab:
      // Past the last column the cursor already waits for the wrap.
      if (CursorCol < kCols) CursorCol = (CursorCol / kTabWidth) * kTabWidth + kTabWidth;
      return;
    case kLineFeed:
      NextRow(true);
      return;
    case kCarriageReturn:
      CursorCol = 0;
      return;
    default:
      // The cell keeps its attribute: teletype output only replaces the character.
      CellForWrite(true).Char = character;
      Advance(true);
      Touch();
      return;
  }
}

void TScreen::ScrollDown() {
  const auto rowStart = [this](int row) { return VideoBuffer.begin() + row * kCols; };
  std::copy(rowStart(1), rowStart(kRows), rowStart(0));
  // The new bottom row is blank in the colours the old bottom row had.
  std::for_each(rowStart(kRows - 1), rowStart(kRows), [](TScreenCell& c) { c.Char = kSpace; });
  Touch();
}

}  // namespace display
