// A small terminal for tests: takes the bytes a program writes to a terminal
// (UTF-8 text, CR, LF, cursor position, colours, cursor visibility, scroll
// region, erase display, the DEC special graphics set) and keeps the cells,
// colours and cursor an xterm-like terminal would show. Anything else is
// recorded as an error. It can also be a terminal without UTF-8 (any byte
// beyond ASCII is an error) or the Linux console (SGR 90-97 is bold, 100-107
// dark backgrounds, bold brightens the foreground and blink the background).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testterm {

// Colours as RGB; the 16 ANSI colours stand for their usual look (red is ANSI 1).
inline constexpr uint32_t kDefaultColour = 0xDEFA17;  // a terminal's default colour

struct TTermCell {
  char32_t Char = U' ';
  uint32_t Fg = kDefaultColour;
  uint32_t Bg = kDefaultColour;
};

// What a byte shows while the DEC special graphics set is in use.
char32_t DecGraphicsChar(uint8_t byte);

class TTerminalModel {
 public:
  TTerminalModel(int cols, int rows);
  void Feed(std::string_view bytes);
  const TTermCell& At(int col, int row) const { return Cells[static_cast<size_t>(row * Cols + col)]; }
  // The characters of a row, as UTF-32.
  std::u32string RowText(int row) const;

  int Cols;
  int Rows;
  std::vector<TTermCell> Cells;
  int CursorCol = 0;
  int CursorRow = 0;
  bool CursorVisible = true;
  bool AltScreen = false;
  bool Utf8 = true;
  bool LinuxConsole = false;
  std::vector<std::string> Errors;

 private:
  void Csi(char final);
  void Sgr();
  void Print(char32_t cp);
  void LineFeed();
  std::vector<int> Params() const;

  enum class TState { Ground, Esc, Csi, Charset } State_ = TState::Ground;
  bool DecGraphics_ = false;
  int FgIndex_ = -1, BgIndex_ = -1;  // the Linux console's colours (-1: default)
  bool Bold_ = false, Blink_ = false;
  std::string Seq_;
  char32_t Utf8_ = 0;
  int Utf8More_ = 0;
  bool WrapPending_ = false;
  int Top_ = 0;
  int Bottom_ = 0;
  uint32_t Fg_ = kDefaultColour;
  uint32_t Bg_ = kDefaultColour;
};

}  // namespace testterm
