// Draws the board's text screen in a character terminal (xterm and the like):
// the bytes that bring the terminal from what it shows to what the screen model
// holds, with the board's cursor as the terminal's cursor and an optional status
// line below the 25 rows.
//
// Only changed cells are sent, against a shadow of what the terminal shows.
// Text that the board prints in one attribute stays one contiguous run of bytes
// (short unchanged gaps in the current colours are written rather than skipped),
// so that expect-style tools can match it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "display/screen.h"

namespace display {

struct TTerminalSize {
  int Cols = 80;
  int Rows = 26;
};

// What the terminal takes besides the sequences every xterm-like one knows.
struct TTerminalStyle {
  bool TrueColor = false;     // 24-bit colours (see TrueColorFromEnv)
  bool LinuxConsole = false;  // the Linux console: bright colours through bold and blink
  // UTF-8 text. Without it the box and block characters go through the DEC
  // special graphics set and the rest beyond ASCII as ASCII stand-ins.
  bool Utf8 = true;
};

class TTerminalWriter {
 public:
  static constexpr uint8_t kStatusAttr = 0x70;  // black on light grey
  static constexpr uint8_t kNoticeAttr = 0x4F;  // white on red
  // Unchanged cells in the current colours written instead of a cursor move.
  static constexpr int kMaxGap = 8;
  // Columns managed at most (a wider terminal keeps its default colours beyond).
  static constexpr int kMaxCols = 1000;
  // Refreshes the status line (and other changes on the row the board types
  // in) wait at most while the board keeps writing.
  static constexpr int kStatusWaitMax = 20;

  // trueColor: the terminal takes 24-bit colours (see TrueColorFromEnv).
  explicit TTerminalWriter(bool trueColor);
  explicit TTerminalWriter(const TTerminalStyle& style);
  // The columns UTF-8 text takes on the status line (a character each; one
  // that is not one column wide is shown as '?').
  static size_t Columns(std::string_view text);
  // True when COLORTERM (may be null) says "truecolor" or "24bit".
  static bool TrueColorFromEnv(const char* colorterm);

  // Switches to the alternate screen; the next Update draws everything.
  std::string Begin();
  // Default colours, cursor shown, back to the normal screen.
  std::string End();
  // The terminal's size; a size of 0 or less in either direction (a pty that
  // was never given one) counts as 80x26. Forces a full redraw next Update.
  void SetSize(TTerminalSize size);
  // What the terminal shows is unknown (a new peer): full redraw next Update.
  void Invalidate();
  // Bytes that bring the terminal to show `screen` (rows 0-24) and, when the
  // terminal has 26 rows or more, `status` (UTF-8) on terminal row 26.
  // A terminal smaller than 80x25 shows the cells that fit and a notice on its
  // last row. A `hint` (the command key's, shown for a while at start) is for
  // a terminal without a status line: it leads that notice, and at 80x25 it
  // stands on the last row, over the board's, while it is given. Empty when
  // nothing changed.
  std::string Update(const TScreen& screen, std::string_view status, std::string_view hint = {});

  // The SGR sequence that sets both colours of an attribute (and nothing else).
  std::string SgrOf(uint8_t attr) const;
  TTerminalSize Size() const { return Size_; }

 private:
  struct TCell {
    char32_t Char = 0;
    uint8_t Attr = 0;
    bool Known = false;
  };
  enum class TVisibility : uint8_t { Unknown, Shown, Hidden };
  struct TLayout {
    int Width = 0;       // managed columns of the terminal
    int BoardCols = 0;   // board columns shown
    int BoardRows = 0;   // board rows shown
    int StatusRow = -1;  // terminal row (0-based) of the status line, -1: none
    int NoticeRow = -1;  // terminal row of the too-small notice, -1: none
  };

  TLayout Layout(bool hint) const;
  std::vector<TCell>& ShadowRow(int row);
  void ForgetAll();
  // Scrolls rows 0-24 of the terminal up when the board's screen scrolled
  // since the last update, so that only the new rows are drawn.
  void ScrollIfCheaper(std::string& out);
  // Paints the changed cells of a row from column `from` to its end, then
  // those left of `from`.
  void PaintRow(int row, const TCell* want, int count, std::string& out, int from = 0);
  // Puts the terminal cursor at (col, row): by writing a short gap of unchanged
  // cells in the current colours, else by a cursor position sequence.
  void MoveTo(int col, int row, std::string& out);
  void SetAttr(uint8_t attr, std::string& out);
  void PutCell(const TCell& cell, TCell& shown, int col, std::string& out);
  // The bytes of one cell's character (and the character set's switch).
  void Emit(char32_t ch, std::string& out);
  void TextRow(std::string_view text, uint8_t attr, int width);

  TTerminalStyle Style_;
  TTerminalSize Size_;
  bool FullRedraw_ = true;
  std::vector<std::vector<TCell>> Shadow_;  // terminal rows 0-25
  std::vector<TCell> NoticeShadow_;         // the notice row when it lies below row 26
  std::vector<TCell> Board_;                // scratch: the board's 25 rows as they should look
  std::vector<TCell> Want_;                 // scratch: a text row as it should look
  // What the terminal's cursor and colours are; negative or unknown when not known.
  int CursorCol_ = -1;
  int CursorRow_ = -1;
  int Sgr_ = -1;
  int DecGraphics_ = -1;  // the DEC special graphics set is in use: 1, ASCII: 0, unknown: -1
  TVisibility CursorShown_ = TVisibility::Unknown;
  // The board's cursor at the last update: changes right of it wait while it moves.
  int BoardCursorCol_ = -1;
  int BoardCursorRow_ = -1;
  int StatusWait_ = 0;         // updates the status line has waited for a quiet board
  // The last bytes sent were cells ending at the terminal's cursor (no cursor move after them).
  bool EndsInText_ = false;
  int TextWait_ = 0;  // updates other changes on the typing row have waited
};

}  // namespace display
