#include "display/terminal_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "display/cp437.h"
#include "display/dec_graphics.h"
#include "display/text_palette.h"

namespace display {

namespace {

constexpr int kBoardCols = TScreen::kCols;
constexpr int kBoardRows = TScreen::kRows;
constexpr int kShadowRows = kBoardRows + 1;  // the board's rows and the status line
constexpr TTerminalSize kDefaultSize{};
// A scroll pays when it saves at least this many cells over drawing in place.
constexpr int kScrollGain = 2 * kBoardCols;

void AppendInt(std::string& out, int value) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < 11);
  while (n > 0) out += digits[--n];
}

void AppendCup(std::string& out, int col, int row) {
  out += "\x1b[";
  AppendInt(out, row + 1);
  out += ';';
  AppendInt(out, col + 1);
  out += 'H';
}

// A BIOS colour number (red in bit 2, blue in bit 0) as an ANSI one (red in bit 0).
constexpr int AnsiColour(int bios) { return (bios & 2) | ((bios & 1) << 2) | ((bios & 4) >> 2); }

void AppendRgb(std::string& out, uint32_t rgb) {
  AppendInt(out, static_cast<int>((rgb >> 16) & 0xFF));
  out += ';';
  AppendInt(out, static_cast<int>((rgb >> 8) & 0xFF));
  out += ';';
  AppendInt(out, static_cast<int>(rgb & 0xFF));
}

// Characters that do not take exactly one column in a terminal: combining and
// zero-width ones, and the wide ones of East Asian scripts and emoji.
struct TRange {
  char32_t First;
  char32_t Last;
};
constexpr std::array<TRange, 22> kNotOneColumn = {{
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x1100, 0x115F}, {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x206F}, {0x20D0, 0x20FF},
    {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF}, {0x4E00, 0x9FFF}, {0xA000, 0xA4CF},
    {0xAC00, 0xD7A3}, {0xF900, 0xFAFF}, {0xFE00, 0xFE4F}, {0xFEFF, 0xFEFF}, {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x1F300, 0x3FFFD},
}};

// Decodes one UTF-8 character at text[i]; advances i. Anything that is not a
// well-formed character, any control character and any character that does
// not take one column reads as '?': each character read is one cell.
char32_t NextChar(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i++);
  char32_t cp = lead;
  int more = 0;
  char32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3, cp = lead & 0x07, min = 0x10000;
  } else if (lead >= 0x80) {
    return U'?';
  }
  size_t k = i;
  for (int n = 0; n < more; ++n, ++k) {
    if (k >= text.size() || (byte(k) & 0xC0) != 0x80) return U'?';
    cp = (cp << 6) | (byte(k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return U'?';
  i = k;
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return U'?';
  for (const TRange& r : kNotOneColumn) {
    if (cp >= r.First && cp <= r.Last) return U'?';
  }
  return cp;
}

}  // namespace

TTerminalWriter::TTerminalWriter(bool trueColor) : TTerminalWriter(TTerminalStyle{trueColor, false, true}) {}

TTerminalWriter::TTerminalWriter(const TTerminalStyle& style) : Style_(style) { SetSize(kDefaultSize); }

size_t TTerminalWriter::Columns(std::string_view text) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size(); ++columns) NextChar(text, i);
  return columns;
}

bool TTerminalWriter::TrueColorFromEnv(const char* colorterm) {
  if (colorterm == nullptr) return false;
  return std::strcmp(colorterm, "truecolor") == 0 || std::strcmp(colorterm, "24bit") == 0;
}

std::string TTerminalWriter::Begin() {
  FullRedraw_ = true;
  return "\x1b[?1049h";
}

std::string TTerminalWriter::End() {
  FullRedraw_ = true;
  ForgetAll();
  return Style_.Utf8 ? "\x1b[0m\x1b[?25h\x1b[?1049l" : "\x1b[0m\x1b(B\x1b[?25h\x1b[?1049l";
}

void TTerminalWriter::SetSize(TTerminalSize size) {
  if (size.Cols <= 0 || size.Rows <= 0) size = kDefaultSize;
  Size_ = size;
  const auto width = static_cast<size_t>(std::min(size.Cols, kMaxCols));
  Shadow_.assign(kShadowRows, std::vector<TCell>(width));
  NoticeShadow_.assign(width, TCell{});
  FullRedraw_ = true;
}

void TTerminalWriter::Invalidate() { FullRedraw_ = true; }

std::string TTerminalWriter::SgrOf(uint8_t attr) const {
  const int fg = attr & 0x0F;
  const int bg = attr >> 4;
  std::string out = "\x1b[0;";
  if (Style_.TrueColor) {
    out += "38;2;";
    AppendRgb(out, TextPalette[static_cast<size_t>(fg)]);
    out += ";48;2;";
    AppendRgb(out, TextPalette[static_cast<size_t>(bg)]);
  } else if (Style_.LinuxConsole) {
    // The console takes no 90-97 and 100-107 (it shows 100-107 dark): a bright
    // foreground is bold, a bright background the blink bit, which the
    // framebuffer console shows as a bright background.
    if (fg >= 8) out += "1;";
    AppendInt(out, 30 + AnsiColour(fg & 7));
    out += ';';
    if (bg >= 8) out += "5;";
    AppendInt(out, 40 + AnsiColour(bg & 7));
  } else {
    AppendInt(out, (fg < 8 ? 30 : 90) + AnsiColour(fg & 7));
    out += ';';
    AppendInt(out, (bg < 8 ? 40 : 100) + AnsiColour(bg & 7));
  }
  out += 'm';
  return out;
}

TTerminalWriter::TLayout TTerminalWriter::Layout(bool hint) const {
  TLayout layout;
  layout.Width = std::min(Size_.Cols, kMaxCols);
  layout.BoardCols = std::min(kBoardCols, layout.Width);
  if (Size_.Cols >= kBoardCols && Size_.Rows > kBoardRows) {
    layout.BoardRows = kBoardRows;
    layout.StatusRow = kBoardRows;
  } else if (Size_.Cols >= kBoardCols && Size_.Rows == kBoardRows && !hint) {
    layout.BoardRows = kBoardRows;  // the board whole, no room for the status line
  } else {
    // The last row tells why the screen is cut; the board's rows above it.
    layout.NoticeRow = Size_.Rows - 1;
    layout.BoardRows = std::min(kBoardRows, layout.NoticeRow);
    if (layout.NoticeRow > kBoardRows) layout.StatusRow = kBoardRows;
  }
  return layout;
}

std::vector<TTerminalWriter::TCell>& TTerminalWriter::ShadowRow(int row) {
  return row < kShadowRows ? Shadow_[static_cast<size_t>(row)] : NoticeShadow_;
}

void TTerminalWriter::ForgetAll() {
  for (auto& row : Shadow_) std::fill(row.begin(), row.end(), TCell{});
  std::fill(NoticeShadow_.begin(), NoticeShadow_.end(), TCell{});
  CursorCol_ = CursorRow_ = -1;
  Sgr_ = -1;
  DecGraphics_ = -1;
  CursorShown_ = TVisibility::Unknown;
  EndsInText_ = false;
}

std::string TTerminalWriter::Update(const TScreen& screen, std::string_view status, std::string_view hint) {
  std::string out;
  if (FullRedraw_) {
    // Also clears what lies outside the rows and columns drawn below.
    out += "\x1b[0m\x1b[2J";
    ForgetAll();
    if (!Style_.Utf8) {
      out += "\x1b(B";
      DecGraphics_ = 0;
    }
    FullRedraw_ = false;
    StatusWait_ = kStatusWaitMax;  // drawn whole at once
  }
  const TLayout layout = Layout(!hint.empty());

  Board_.resize(static_cast<size_t>(kBoardCols * kBoardRows));
  for (int r = 0; r < kBoardRows; ++r) {
    for (int c = 0; c < kBoardCols; ++c) {
      const TScreenCell& cell = screen.Cell(c, r);
      const char32_t ch = Style_.Utf8 ? Cp437ToUnicode(cell.Char) : Cp437ToDec(cell.Char);
      Board_[static_cast<size_t>(r * kBoardCols + c)] = {ch, cell.Attr, true};
    }
  }
  if (layout.BoardRows == kBoardRows && layout.BoardCols == kBoardCols) ScrollIfCheaper(out);

  const bool cursorShown = screen.CursorCol >= 0 && screen.CursorCol < layout.BoardCols &&
                           screen.CursorRow >= 0 && screen.CursorRow < layout.BoardRows;
  // The cursor shown or hidden before anything is painted: at the end the
  // sequence would stand between the text that ends at the cursor and the
  // text that goes on from there.
  const TVisibility visibility = cursorShown ? TVisibility::Shown : TVisibility::Hidden;
  if (CursorShown_ != visibility) out += cursorShown ? "\x1b[?25h" : "\x1b[?25l";
  CursorShown_ = visibility;
  // Text the board types stays one run in the byte stream, also across
  // refreshes. When the last refresh ended in text, the row under the
  // terminal's cursor goes first, from that cursor on, so the run goes on.
  // The row of the board's cursor goes last, the cells right of that cursor
  // first (a box border drawn before the text inside it), so that the run
  // ends at the cursor; the blanks right of it wait while the board types.
  const bool runGoesOn = EndsInText_ && CursorRow_ >= 0 && CursorRow_ < layout.BoardRows && CursorCol_ >= 0 &&
                         CursorCol_ < layout.BoardCols;
  const int firstRow = runGoesOn ? CursorRow_ : -1;
  const int lastRow = cursorShown && screen.CursorRow != firstRow ? screen.CursorRow : -1;
  // Only while the board is typing (its cursor moved): nothing waits for a
  // cursor that stands still.
  const bool typing = cursorShown && (screen.CursorCol != BoardCursorCol_ || screen.CursorRow != BoardCursorRow_);
  BoardCursorCol_ = screen.CursorCol;
  BoardCursorRow_ = screen.CursorRow;
  bool heldText = false;
  const auto paintBoardRow = [&](int r) {
    const TCell* want = &Board_[static_cast<size_t>(r * kBoardCols)];
    const bool cursorRow = cursorShown && r == screen.CursorRow;
    int from = r == firstRow ? CursorCol_ : 0;
    // The run goes on from the terminal's cursor to the board's: on that row
    // the other changes wait too, a while at most.
    const bool between = cursorRow && r == firstRow && from <= screen.CursorCol;
    if (cursorRow && !between) from = screen.CursorCol;
    if (typing && cursorRow) {
      Want_.assign(want, want + layout.BoardCols);
      const auto& shown = ShadowRow(r);
      for (int c = 0; c < layout.BoardCols; ++c) {
        TCell& w = Want_[static_cast<size_t>(c)];
        const TCell& s = shown[static_cast<size_t>(c)];
        if (!s.Known || (s.Char == w.Char && s.Attr == w.Attr)) continue;
        const bool right = c >= screen.CursorCol;
        const bool outside = right || c < from;
        if (right && w.Char == U' ') {
          w = s;
        } else if (between && outside && TextWait_ < kStatusWaitMax) {
          w = s;
          heldText = true;
        }
      }
      want = Want_.data();
    }
    PaintRow(r, want, layout.BoardCols, out, from);
  };
  const size_t boardStart = out.size();
  if (firstRow >= 0) paintBoardRow(firstRow);
  for (int r = 0; r < layout.BoardRows; ++r) {
    if (r != firstRow && r != lastRow) paintBoardRow(r);
  }
  // The status line waits while the board writes, so that its bytes do not fall
  // between two pieces of the board's text (2 s at most).
  const bool boardQuiet = out.size() == boardStart;
  const bool statusNow = boardQuiet || ++StatusWait_ >= kStatusWaitMax;
  if (statusNow && layout.StatusRow >= 0) {
    TextRow(status, kStatusAttr, layout.Width);
    PaintRow(layout.StatusRow, Want_.data(), layout.Width, out);
  }
  if (statusNow) StatusWait_ = 0;
  if (layout.NoticeRow >= 0) {
    // Without a status line the hint leads the notice, so that it shows
    // however narrow the terminal is.
    std::string notice(hint);
    if (!notice.empty()) notice += " | ";
    notice += "terminal is ";
    AppendInt(notice, Size_.Cols);
    notice += 'x';
    AppendInt(notice, Size_.Rows);
    notice += Size_.Cols >= kBoardCols && Size_.Rows == kBoardRows
                  ? ": the status line needs 80x26"
                  : ": needs 80x26 (80x25 shows the board without the status line)";
    TextRow(notice, kNoticeAttr, layout.Width);
    PaintRow(layout.NoticeRow, Want_.data(), layout.Width, out);
  }
  if (lastRow >= 0) paintBoardRow(lastRow);
  TextWait_ = heldText ? TextWait_ + 1 : 0;

  if (cursorShown) MoveTo(screen.CursorCol, screen.CursorRow, out);
  return out;
}

void TTerminalWriter::ScrollIfCheaper(std::string& out) {
  const auto matches = [this](int shift) {
    int count = 0;
    for (int r = 0; r + shift < kBoardRows; ++r) {
      const auto& shown = Shadow_[static_cast<size_t>(r + shift)];
      const TCell* want = &Board_[static_cast<size_t>(r * kBoardCols)];
      for (int c = 0; c < kBoardCols; ++c) {
        const TCell& s = shown[static_cast<size_t>(c)];
        count += s.Known && s.Char == want[c].Char && s.Attr == want[c].Attr;
      }
    }
    return count;
  };
  const int inPlace = matches(0);
  if (inPlace > kBoardCols * kBoardRows - kScrollGain) return;  // little has changed
  int best = 0;
  int bestCount = inPlace + kScrollGain - 1;
  for (int shift = 1; shift < kBoardRows - 1; ++shift) {
    const int count = matches(shift);
    if (count > bestCount) best = shift, bestCount = count;
  }
  if (best == 0) return;

  // Line feeds at the bottom of a scroll region of rows 1-25 move those rows
  // up and leave the status line alone.
  out += "\x1b[1;25r";
  AppendCup(out, 0, kBoardRows - 1);
  out.append(static_cast<size_t>(best), '\n');
  out += "\x1b[r";  // also homes the cursor, on some terminals only
  CursorCol_ = CursorRow_ = -1;
  EndsInText_ = false;
  for (int r = 0; r < kBoardRows; ++r) {
    auto& row = Shadow_[static_cast<size_t>(r)];
    if (r + best < kBoardRows) {
      row.swap(Shadow_[static_cast<size_t>(r + best)]);
    } else {
      std::fill(row.begin(), row.end(), TCell{});  // what a new line holds varies
    }
  }
}

void TTerminalWriter::PaintRow(int row, const TCell* want, int count, std::string& out, int from) {
  auto& shown = ShadowRow(row);
  for (int i = 0; i < count; ++i) {
    const int c = (from + i) % count;
    TCell& s = shown[static_cast<size_t>(c)];
    if (s.Known && s.Char == want[c].Char && s.Attr == want[c].Attr) continue;
    MoveTo(c, row, out);
    SetAttr(want[c].Attr, out);
    PutCell(want[c], s, c, out);
  }
}

void TTerminalWriter::MoveTo(int col, int row, std::string& out) {
  if (CursorRow_ == row && CursorCol_ == col) return;
  if (CursorRow_ == row && CursorCol_ >= 0 && col > CursorCol_ && col - CursorCol_ <= kMaxGap &&
      Sgr_ >= 0) {
    const auto& shown = ShadowRow(row);
    const auto first = shown.begin() + CursorCol_;
    const auto last = shown.begin() + col;
    if (std::all_of(first, last, [this](const TCell& s) { return s.Known && s.Attr == Sgr_; })) {
      for (auto it = first; it != last; ++it) Emit(it->Char, out);
      CursorCol_ = col;
      return;
    }
  }
  AppendCup(out, col, row);
  CursorCol_ = col;
  CursorRow_ = row;
  EndsInText_ = false;
}

void TTerminalWriter::SetAttr(uint8_t attr, std::string& out) {
  if (Sgr_ == attr) return;
  out += SgrOf(attr);
  Sgr_ = attr;
}

void TTerminalWriter::PutCell(const TCell& cell, TCell& shown, int col, std::string& out) {
  Emit(cell.Char, out);
  shown = cell;
  shown.Known = true;
  EndsInText_ = true;
  // After the last column the terminal holds a pending wrap: where the next
  // character goes differs between terminals.
  if (col >= Size_.Cols - 1) {
    CursorCol_ = CursorRow_ = -1;
  } else {
    CursorCol_ = col + 1;
  }
}

void TTerminalWriter::TextRow(std::string_view text, uint8_t attr, int width) {
  Want_.assign(static_cast<size_t>(width), TCell{U' ', attr, true});
  size_t i = 0;
  for (int c = 0; c < width && i < text.size(); ++c) {
    const char32_t ch = NextChar(text, i);
    Want_[static_cast<size_t>(c)].Char = Style_.Utf8 || ch < 0x80 ? ch : U'?';
  }
}

void TTerminalWriter::Emit(char32_t ch, std::string& out) {
  if (Style_.Utf8) {
    AppendUtf8(out, ch);
    return;
  }
  const int dec = (ch & kDecGraphicsFlag) != 0 ? 1 : 0;
  if (DecGraphics_ != dec) {
    out += dec != 0 ? "\x1b(0" : "\x1b(B";
    DecGraphics_ = dec;
  }
  out += static_cast<char>(ch & 0x7F);
}

}  // namespace display
