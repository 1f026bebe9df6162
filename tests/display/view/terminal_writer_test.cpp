#include "display/terminal_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "display/cp437.h"
#include "display/dec_graphics.h"
#include "display/text_palette.h"
#include "tests/display/view/terminal_model.h"

namespace display {
namespace {

using testterm::TTerminalModel;

constexpr int kCols = TScreen::kCols;
constexpr int kRows = TScreen::kRows;

std::u32string U32(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// What a terminal of that style shows for a CP437 code.
char32_t Expected(uint8_t code, const TTerminalStyle& style) {
  if (style.Utf8) return Cp437ToUnicode(code);
  const char32_t dec = Cp437ToDec(code);
  return (dec & kDecGraphicsFlag) != 0 ? testterm::DecGraphicsChar(static_cast<uint8_t>(dec)) : dec;
}

// The terminal shows the board's cells that fit (characters through the code
// page, colours of the palette) and its cursor; `rows`/`cols` are the board
// rows and columns that fit.
void ExpectShows(const TTerminalModel& term, const TScreen& screen, int cols, int rows,
                 const TTerminalStyle& style = {}) {
  ASSERT_TRUE(term.Errors.empty()) << term.Errors.front();
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const TScreenCell& cell = screen.Cell(c, r);
      const auto& shown = term.At(c, r);
      ASSERT_EQ(shown.Char, Expected(cell.Char, style)) << "at " << c << "," << r;
      ASSERT_EQ(shown.Fg, ForegroundOf(cell.Attr)) << "at " << c << "," << r;
      ASSERT_EQ(shown.Bg, BackgroundOf(cell.Attr)) << "at " << c << "," << r;
    }
  }
  const bool onScreen = screen.CursorCol >= 0 && screen.CursorCol < cols && screen.CursorRow >= 0 &&
                        screen.CursorRow < rows;
  ASSERT_EQ(term.CursorVisible, onScreen);
  if (onScreen) {
    ASSERT_EQ(term.CursorCol, screen.CursorCol);
    ASSERT_EQ(term.CursorRow, screen.CursorRow);
  }
}

std::string Text(std::mt19937& rng, size_t maxLen) {
  std::string text(rng() % (maxLen + 1), ' ');
  for (char& ch : text) ch = static_cast<char>(rng() % 3 == 0 ? ' ' : 1 + rng() % 255);
  return text;
}

// One random change of the kind the board's video services make.
void RandomEdit(std::mt19937& rng, TScreen& screen) {
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  switch (pick(9)) {
    case 0:
      screen.Cell(pick(kCols), pick(kRows)) = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
      break;
    case 1:
      screen.StrOut(static_cast<uint8_t>(rng()), pick(kCols), pick(kRows), Text(rng, 30).c_str());
      break;
    case 2:
      screen.CurrentAttr = static_cast<uint8_t>(pick(4) == 0 ? rng() : 0x07);
      for (char ch : Text(rng, 12)) screen.TelePutch(static_cast<uint8_t>(ch));
      break;
    case 3:
      screen.TelePutch('\n');
      break;
    case 4:
      screen.ScrollUpWindow(static_cast<uint8_t>(pick(40)), static_cast<uint8_t>(pick(12)),
                            static_cast<uint8_t>(40 + pick(40)), static_cast<uint8_t>(12 + pick(13)),
                            static_cast<uint8_t>(pick(3)), static_cast<uint8_t>(rng()));
      break;
    case 5:
      screen.CursorCol = pick(6) == 0 ? pick(256) : pick(kCols);
      screen.CursorRow = pick(6) == 0 ? pick(256) : pick(kRows);
      break;
    case 6:
      if (pick(8) == 0) screen.ClearScreen();
      break;
    case 7:  // a page of text, then the board scrolls it
      for (int r = 0; r < kRows; ++r) {
        screen.StrOut(static_cast<uint8_t>(0x07 + r), 0, r, Text(rng, 79).c_str());
      }
      screen.ScrollDown();
      break;
    default:
      break;
  }
}

struct TRandomCase {
  TTerminalStyle Style;
  TTerminalSize Size;
};

TTerminalModel TerminalOf(const TRandomCase& p) {
  TTerminalModel term(p.Size.Cols, p.Size.Rows);
  term.Utf8 = p.Style.Utf8;
  term.LinuxConsole = p.Style.LinuxConsole;
  return term;
}

class TerminalWriterRandomTest : public ::testing::TestWithParam<TRandomCase> {};

// Many refreshes of random edits; the terminal shows the screen once a refresh
// without edits has followed (blanks right of the cursor may wait one refresh,
// the status line waits while the board writes).
TEST_P(TerminalWriterRandomTest, TerminalFollowsTheScreen) {
  const auto& p = GetParam();
  std::mt19937 rng(20240611u + static_cast<unsigned>(p.Size.Cols * 7 + p.Size.Rows));
  TTerminalWriter writer(p.Style);
  writer.SetSize(p.Size);
  TTerminalModel term = TerminalOf(p);
  TScreen screen;
  term.Feed(writer.Begin());
  const bool fits = p.Size.Cols >= kCols && p.Size.Rows >= kRows;
  const int cols = std::min(kCols, p.Size.Cols);
  const int rows = std::min(kRows, fits ? p.Size.Rows : p.Size.Rows - 1);
  int scrolls = 0;
  for (int step = 0; step < 1500; ++step) {
    for (int n = static_cast<int>(rng() % 4); n >= 0; --n) RandomEdit(rng, screen);
    if (rng() % 200 == 0) {
      // A new terminal, showing anything.
      term = TerminalOf(p);
      term.AltScreen = true;  // as the last peer left it
      term.Feed("junk\r\n more junk");
      writer.Invalidate();
    }
    const std::string status = "step " + std::to_string(step / 10);
    const std::string bytes = writer.Update(screen, status);
    scrolls += bytes.find("\x1b[1;25r") != std::string::npos;
    term.Feed(bytes);
    term.Feed(writer.Update(screen, status));  // what waited
    term.Feed(writer.Update(screen, status));  // the status line, the board quiet
    ASSERT_NO_FATAL_FAILURE(ExpectShows(term, screen, cols, rows, p.Style)) << "step " << step;
    if (p.Size.Rows > kRows && fits) {
      ASSERT_EQ(term.RowText(kRows).substr(0, status.size()), U32(status));
    }
  }
  if (fits) {
    EXPECT_GT(scrolls, 0);  // the board's scrolls went out as terminal scrolls
  }
  EXPECT_TRUE(term.AltScreen);
  term.Feed(writer.End());
  EXPECT_FALSE(term.AltScreen);
  EXPECT_TRUE(term.CursorVisible);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TerminalWriterRandomTest,
                         ::testing::Values(TRandomCase{{}, {80, 26}}, TRandomCase{{true}, {80, 26}},
                                           TRandomCase{{}, {80, 25}}, TRandomCase{{true}, {120, 40}},
                                           TRandomCase{{}, {60, 20}}, TRandomCase{{true}, {90, 12}},
                                           TRandomCase{{false, true}, {80, 26}},
                                           TRandomCase{{false, false, false}, {80, 26}},
                                           TRandomCase{{false, true, false}, {70, 30}}),
                         [](const auto& info) {
                           const TTerminalStyle& s = info.param.Style;
                           return std::string(s.TrueColor ? "Rgb" : s.LinuxConsole ? "Linux" : "Ansi") +
                                  (s.Utf8 ? "" : "Dec") + std::to_string(info.param.Size.Cols) + "x" +
                                  std::to_string(info.param.Size.Rows);
                         });

class TerminalWriterTest : public ::testing::Test {
 protected:
  // Brings the terminal up to date with the screen and returns the bytes sent.
  std::string Refresh(std::string_view status = "") {
    const std::string bytes = Writer.Update(Screen, status);
    Term.Feed(bytes);
    return bytes;
  }
  void Tele(std::string_view text) {
    for (char ch : text) Screen.TelePutch(static_cast<uint8_t>(ch));
  }
  TTerminalWriter Writer{false};
  TTerminalModel Term{80, 26};
  TScreen Screen;
};

TEST_F(TerminalWriterTest, BeginDrawsEverythingAndEndRestores) {
  EXPECT_EQ(Writer.Begin(), "\x1b[?1049h");
  Screen.StrOut(0x1F, 0, 0, "A");
  const std::string first = Refresh("ready");
  EXPECT_EQ(first.rfind("\x1b[0m\x1b[2J", 0), 0u);
  ExpectShows(Term, Screen, kCols, kRows);
  EXPECT_EQ(Refresh("ready"), "");  // nothing changed
  EXPECT_EQ(Writer.End(), "\x1b[0m\x1b[?25h\x1b[?1049l");
}

TEST_F(TerminalWriterTest, TeletypeCharacterAtTheCursorIsJustTheCharacter) {
  Screen.CurrentAttr = 0x07;
  Tele("C:\\>d");
  Refresh();
  Tele("i");
  EXPECT_EQ(Refresh(), "i");
  Tele("r");
  EXPECT_EQ(Refresh(), "r");
}

TEST_F(TerminalWriterTest, TextOfOneAttributeIsOneRunOfBytes) {
  Screen.CurrentAttr = 0x0F;  // the attribute of the blank rows
  Refresh();
  // Spaces over blanks are no change, yet they stay inside the run.
  Screen.CursorRow = 10;
  Tele("press a key");
  EXPECT_NE(Refresh().find("press a key"), std::string::npos);

  // Text arriving across two refreshes, the terminal cursor left after the first part.
  Screen.CursorCol = 0, Screen.CursorRow = 12;
  Tele("hello");
  std::string both = Refresh();
  Tele(" world");
  both += Refresh();
  EXPECT_NE(both.find("hello world"), std::string::npos);

  // The same with the space sent in the first refresh.
  Screen.CursorCol = 0, Screen.CursorRow = 14;
  Tele("good ");
  both = Refresh();
  Tele("bye");
  both += Refresh();
  EXPECT_NE(both.find("good bye"), std::string::npos);
  ExpectShows(Term, Screen, kCols, kRows);

  // A title typed on a freshly coloured row while other rows change and the
  // status line counts bytes: the title still comes out whole.
  Screen.ScrollUpWindow(0, 0, 79, 24, 0, 0x17);
  Screen.ScrollUpWindow(0, 0, 79, 0, 0, 0x70);
  Screen.CursorCol = 2, Screen.CursorRow = 0;
  Tele("Nerova board");
  both = Refresh("1000 bytes");
  const std::string_view boot = "Boot number 1";  // another row changes meanwhile
  for (size_t i = 0; i < boot.size(); ++i) {
    Screen.Cell(3 + static_cast<int>(i), 5) = {static_cast<uint8_t>(boot[i]), 0x1E};
  }
  Tele(" simulator - target application");
  both += Refresh("2000 bytes");
  EXPECT_NE(both.find("Nerova board simulator - target application"), std::string::npos) << both;
  Refresh("2000 bytes");  // the blanks that waited
  Refresh("2000 bytes");  // the status line, the board quiet
  ExpectShows(Term, Screen, kCols, kRows);
  EXPECT_EQ(Term.RowText(kRows).substr(0, 10), U32("2000 bytes"));
}

// The demo's boxes: the frame is drawn first (its right border stands right of
// where the text inside will go), then the text, and a refresh falls in the
// middle of it. The text still reaches the terminal as one run.
TEST_F(TerminalWriterTest, TextInsideAFrameDrawnBeforeItIsOneRun) {
  Screen.CurrentAttr = 0x07;
  Refresh();
  const auto frame = [this](int left, int top, int right, int bottom, uint8_t attr) {
    Screen.ScrollDownWindow(static_cast<uint8_t>(left), static_cast<uint8_t>(top), static_cast<uint8_t>(right),
                            static_cast<uint8_t>(bottom), 0, attr);
    for (int c = left; c <= right; ++c) Screen.Cell(c, top) = Screen.Cell(c, bottom) = {0xCD, attr};
    for (int r = top; r <= bottom; ++r) Screen.Cell(left, r) = Screen.Cell(right, r) = {0xBA, attr};
  };
  frame(1, 2, 38, 7, 0x1E);
  Screen.CursorCol = 3, Screen.CursorRow = 3;
  Tele("Boot n");
  std::string bytes = Refresh("100 bytes");
  Tele("umber 1");
  bytes += Refresh("200 bytes");
  EXPECT_NE(bytes.find("Boot number 1"), std::string::npos) << bytes;

  // A second box beside the first, its text typed across three refreshes.
  frame(41, 2, 78, 7, 0x2F);
  Screen.CursorCol = 43, Screen.CursorRow = 4;
  Tele("Special keys");
  bytes = Refresh();
  Screen.Cell(78, 4).Attr = 0x4F;  // the border right of the text changes meanwhile: it waits
  Tele(" show their");
  bytes += Refresh();
  Tele(" code,");
  bytes += Refresh();
  EXPECT_NE(bytes.find("Special keys show their code,"), std::string::npos) << bytes;
  Refresh();
  Refresh();
  ExpectShows(Term, Screen, kCols, kRows);

  // Everything drawn afresh (a new peer), then the board goes on typing: the
  // cursor shown again does not come between the two.
  Writer.Invalidate();
  bytes = Refresh();
  Tele(" xyz");
  bytes += Refresh();
  EXPECT_NE(bytes.find("Special keys show their code, xyz"), std::string::npos) << bytes;
}

TEST_F(TerminalWriterTest, LongGapsAndOtherColoursMoveTheCursor) {
  Screen.Cell(2, 5).Attr = Screen.Cell(3, 5).Attr = 0x1F;
  Screen.CursorCol = 20, Screen.CursorRow = 20;
  Refresh();
  Screen.StrOut(0x0F, 0, 3, "ab");
  Screen.StrOut(0x0F, 11, 3, "cd");  // nine unchanged cells in between
  Screen.StrOut(0x0F, 0, 5, "ef");
  Screen.StrOut(0x0F, 4, 5, "g");  // two unchanged cells between, but blue ones
  Screen.StrOut(0x0F, 7, 5, "h");
  Screen.StrOut(0x0F, 10, 5, "i");  // two unchanged cells in the current colours: written
  const std::string bytes = Refresh();
  EXPECT_NE(bytes.find("ab\x1b[4;12Hcd"), std::string::npos) << bytes;
  EXPECT_NE(bytes.find("ef\x1b[6;5Hg  h  i"), std::string::npos) << bytes;
  ExpectShows(Term, Screen, kCols, kRows);
}

TEST_F(TerminalWriterTest, CursorShownOnlyOnTheScreen) {
  Screen.CursorCol = 5, Screen.CursorRow = 7;
  // The full drawing paints the cursor's row last, ending at the cursor; the
  // cursor is shown before (not between two pieces of text).
  const std::string first = Refresh();
  EXPECT_EQ(first.rfind("\x1b[0m\x1b[2J\x1b[?25h", 0), 0u) << first;
  EXPECT_TRUE(first.ends_with("\x1b[8;1H     ")) << first;
  EXPECT_EQ(Term.CursorCol, 5);
  EXPECT_EQ(Term.CursorRow, 7);
  Screen.CursorRow = 25;
  EXPECT_EQ(Refresh(), "\x1b[?25l");
  Screen.CursorRow = 24, Screen.CursorCol = 80;
  EXPECT_EQ(Refresh(), "");
  Screen.CursorCol = 79;
  EXPECT_EQ(Refresh(), "\x1b[?25h\x1b[25;80H");
}

TEST_F(TerminalWriterTest, StatusLineFixedColoursPaddedAndRedrawnOnChange) {
  Writer.SetSize({100, 30});
  Term = TTerminalModel(100, 30);
  Refresh("COM1 j\xC3\xBCrgen \x01\xFF");
  const std::u32string row = Term.RowText(25);
  EXPECT_EQ(row.substr(0, 14), U"COM1 j\u00FCrgen ??");
  EXPECT_EQ(row.substr(14), std::u32string(86, U' '));
  for (int c = 0; c < 100; ++c) {
    ASSERT_EQ(Term.At(c, 25).Fg, 0x000000u);
    ASSERT_EQ(Term.At(c, 25).Bg, 0xBFBFBFu);
  }
  EXPECT_EQ(Refresh("COM1 j\xC3\xBCrgen \x01\xFF"), "");
  EXPECT_EQ(Refresh("COM2").find("COM"), std::string::npos);  // only what changed
  EXPECT_EQ(Term.RowText(25).substr(0, 8), U"COM2    ");
  // Clipped to the terminal's width; no status on a terminal of 25 rows.
  Refresh(std::string(150, 'x'));
  EXPECT_EQ(Term.RowText(25), std::u32string(100, U'x'));
  Writer.SetSize({80, 25});
  Term = TTerminalModel(80, 25);
  EXPECT_EQ(Refresh("status").find("status"), std::string::npos);
}

TEST_F(TerminalWriterTest, SmallTerminalGetsANoticeAndTheCellsThatFit) {
  Writer.SetSize({60, 20});
  Term = TTerminalModel(60, 20);
  Screen.StrOut(0x1F, 55, 5, "0123456789");
  Screen.CursorCol = 2, Screen.CursorRow = 3;
  Refresh("status");
  const std::u32string notice = U"terminal is 60x20: needs 80x26 (80x25 shows the board without the";
  EXPECT_EQ(Term.RowText(19), notice.substr(0, 60));
  EXPECT_EQ(Term.RowText(5).substr(55), U"01234");
  ExpectShows(Term, Screen, 60, 19);
  Screen.CursorCol = 65;  // beyond the columns shown
  EXPECT_EQ(Refresh("status"), "\x1b[?25l");
  // A pty without a size counts as 80x26.
  Writer.SetSize({0, 0});
  EXPECT_EQ(Writer.Size().Cols, 80);
  EXPECT_EQ(Writer.Size().Rows, 26);
}

// At 80x25 the board fits without its status line: for as long as the hint
// is given, the last row says so and shows it, then the board's row returns.
// On a smaller terminal the hint leads the size notice.
TEST_F(TerminalWriterTest, HintStandsOnTheLastRowOfATerminalWithoutStatusLine) {
  Writer.SetSize({80, 25});
  Term = TTerminalModel(80, 25);
  Screen.StrOut(0x1F, 0, 24, "bottom row of the board");
  Screen.CursorCol = 3, Screen.CursorRow = 24;
  Term.Feed(Writer.Update(Screen, "status", "Ctrl-] q quit, Ctrl-] ? help"));
  EXPECT_EQ(Term.RowText(24), U32("Ctrl-] q quit, Ctrl-] ? help | terminal is 80x25: the status line needs 80x26   "));
  EXPECT_FALSE(Term.CursorVisible);
  Refresh("status");
  ExpectShows(Term, Screen, kCols, kRows);

  Writer.SetSize({50, 30});
  Term = TTerminalModel(50, 30);
  Term.Feed(Writer.Update(Screen, "status", "Ctrl-] q quit, Ctrl-] ? help"));
  EXPECT_EQ(Term.RowText(29), U32("Ctrl-] q quit, Ctrl-] ? help | terminal is 50x30: "));
  EXPECT_EQ(Term.RowText(25).substr(0, 7), U32("status "));  // the status line has its row
}

// A character is a column on the status line; one that takes two columns (or
// none) in a terminal is shown as '?', so that the cells stay in step.
TEST_F(TerminalWriterTest, StatusLineCharactersAreOneColumnEach) {
  EXPECT_EQ(TTerminalWriter::Columns("A: d\xC3\xA9j\xC3\xA0.img"), 11u);
  EXPECT_EQ(TTerminalWriter::Columns("\xE4\xB8\xAD\xF0\x9F\x98\x80x\xFF"), 4u);
  Refresh("A: \xE4\xB8\xAD\xE6\x96\x87.img e\xCC\x81 \xF0\x9F\x98\x80!");
  EXPECT_EQ(Term.RowText(25).substr(0, 16), U"A: ??.img e? ?! ");
  ExpectShows(Term, Screen, kCols, kRows);
}

TEST_F(TerminalWriterTest, ScrolledPageCostsOneRowNotAPage) {
  for (int r = 0; r < kRows; ++r) {
    const std::string line(79, static_cast<char>('a' + r % 26));
    Screen.StrOut(static_cast<uint8_t>(0x17 + r), 0, r, line.c_str());
  }
  Screen.CursorCol = 0, Screen.CursorRow = 24;
  Refresh("st");
  Screen.TelePutch('\n');
  const std::string bytes = Refresh("st");
  EXPECT_LT(bytes.size(), 200u) << bytes;
  ExpectShows(Term, Screen, kCols, kRows);
  EXPECT_EQ(Term.RowText(25).substr(0, 2), U"st");
}

TEST(TerminalWriterSgr, SixteenColoursInBothModes) {
  struct TColour {
    const char* Fg16;
    const char* Bg16;
    const char* Rgb;
  };
  // BIOS colour number -> ANSI foreground, background, palette RGB.
  const TColour kColours[16] = {
      {"30", "40", "0;0;0"},       {"34", "44", "0;0;127"},     {"32", "42", "0;127;0"},
      {"36", "46", "0;127;127"},   {"31", "41", "127;0;0"},     {"35", "45", "127;0;127"},
      {"33", "43", "127;127;0"},   {"37", "47", "191;191;191"}, {"90", "100", "127;127;127"},
      {"94", "104", "0;0;255"},    {"92", "102", "0;255;0"},    {"96", "106", "0;255;255"},
      {"91", "101", "255;0;0"},    {"95", "105", "255;0;255"},  {"93", "103", "255;255;0"},
      {"97", "107", "255;255;255"}};
  const TTerminalWriter ansi(false);
  const TTerminalWriter rgb(true);
  const TTerminalWriter linux(TTerminalStyle{false, true});
  for (int fg = 0; fg < 16; ++fg) {
    const int bg = 15 - fg;
    const auto attr = static_cast<uint8_t>(bg << 4 | fg);
    EXPECT_EQ(ansi.SgrOf(attr),
              std::string("\x1b[0;") + kColours[fg].Fg16 + ";" + kColours[bg].Bg16 + "m");
    EXPECT_EQ(rgb.SgrOf(attr), std::string("\x1b[0;38;2;") + kColours[fg].Rgb + ";48;2;" +
                                   kColours[bg].Rgb + "m");
    // The Linux console: bright through bold (foreground) and blink (background).
    const std::string fg16 = std::to_string(30 + (std::stoi(kColours[fg].Fg16) - 30) % 60);
    const std::string bg16 = std::to_string(40 + (std::stoi(kColours[bg].Bg16) - 40) % 60);
    EXPECT_EQ(linux.SgrOf(attr), std::string("\x1b[0;") + (fg >= 8 ? "1;" : "") + fg16 + ";" +
                                     (bg >= 8 ? "5;" : "") + bg16 + "m");
  }
}

// A terminal whose locale is not UTF-8 gets the boxes through the DEC special
// graphics set and ASCII for the rest: not one byte beyond ASCII.
TEST(TerminalWriterDec, BoxesThroughTheLineDrawingSetTheRestAsAscii) {
  TTerminalWriter writer(TTerminalStyle{false, false, false});
  TTerminalModel term(80, 26);
  term.Utf8 = false;
  TScreen screen;
  screen.StrOut(0x1E, 0, 0, "\xC9\xCD\xBB Caf\x82 \xB1\xDB \xF8");
  term.Feed(writer.Update(screen, "A: d\xC3\xA9j\xC3\xA0.img"));
  ASSERT_TRUE(term.Errors.empty()) << term.Errors.front();
  EXPECT_EQ(term.RowText(0).substr(0, 13), U"\u250C\u2500\u2510 Cafe \u2592# \u00B0");
  EXPECT_EQ(term.RowText(25).substr(0, 14), U"A: d?j?.img   ");
  const std::string end = writer.End();
  EXPECT_NE(end.find("\x1b(B"), std::string::npos);  // ASCII again for the shell
}

TEST(TerminalWriterSgr, TrueColourFromColorterm) {
  EXPECT_TRUE(TTerminalWriter::TrueColorFromEnv("truecolor"));
  EXPECT_TRUE(TTerminalWriter::TrueColorFromEnv("24bit"));
  EXPECT_FALSE(TTerminalWriter::TrueColorFromEnv(nullptr));
  EXPECT_FALSE(TTerminalWriter::TrueColorFromEnv(""));
  EXPECT_FALSE(TTerminalWriter::TrueColorFromEnv("xterm-256color"));
}

}  // namespace
}  // namespace display
