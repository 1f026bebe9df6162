#include "tests/display/view/terminal_model.h"

#include <array>
#include <cstdlib>
#include <string_view>

namespace testterm {

namespace {

// How the ANSI colours 0-15 look (black red green yellow blue magenta cyan white, then bright).
constexpr std::array<uint32_t, 16> kAnsiRgb = {
    0x000000, 0x7F0000, 0x007F00, 0x7F7F00, 0x00007F, 0x7F007F, 0x007F7F, 0xBFBFBF,
    0x7F7F7F, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// The DEC special graphics set, bytes 0x5F-0x7E, as Unicode.
constexpr std::u32string_view kDecGraphics =
    U" \u25C6\u2592\u2409\u240C\u240D\u240A\u00B0\u00B1\u2424\u240B\u2518\u2510\u250C\u2514\u253C"
    U"\u23BA\u23BB\u2500\u23BC\u23BD\u251C\u2524\u2534\u252C\u2502\u2264\u2265\u03C0\u2260\u00A3\u00B7";
static_assert(kDecGraphics.size() == 32);

}  // namespace

char32_t DecGraphicsChar(uint8_t byte) {
  return byte >= 0x5F && byte <= 0x7E ? kDecGraphics[byte - 0x5F] : byte;
}

TTerminalModel::TTerminalModel(int cols, int rows)
    : Cols(cols), Rows(rows), Cells(static_cast<size_t>(cols * rows)), Bottom_(rows - 1) {}

std::u32string TTerminalModel::RowText(int row) const {
  std::u32string text;
  for (int c = 0; c < Cols; ++c) text += At(c, row).Char;
  return text;
}

void TTerminalModel::Feed(std::string_view bytes) {
  for (const char ch : bytes) {
    const auto b = static_cast<uint8_t>(ch);
    if (State_ == TState::Charset) {
      if (b == '0' || b == 'B') DecGraphics_ = b == '0';
      else Errors.push_back("ESC ( " + std::string(1, ch));
      State_ = TState::Ground;
    } else if (State_ == TState::Esc) {
      if (b == '[') {
        State_ = TState::Csi;
        Seq_.clear();
      } else if (b == '(') {
        State_ = TState::Charset;
      } else {
        Errors.push_back("ESC " + std::string(1, ch));
        State_ = TState::Ground;
      }
    } else if (State_ == TState::Csi) {
      if (b >= 0x40 && b <= 0x7E) {
        Csi(ch);
        State_ = TState::Ground;
      } else if (b >= 0x20 && b < 0x40) {
        Seq_ += ch;
      } else {
        Errors.push_back("byte in CSI");
        State_ = TState::Ground;
      }
    } else if (Utf8More_ > 0) {
      if ((b & 0xC0) != 0x80) Errors.push_back("bad UTF-8");
      Utf8_ = (Utf8_ << 6) | (b & 0x3F);
      if (--Utf8More_ == 0) Print(Utf8_);
    } else if (b == 0x1B) {
      State_ = TState::Esc;
    } else if (b == '\r') {
      CursorCol = 0;
      WrapPending_ = false;
    } else if (b == '\n') {
      LineFeed();
    } else if (b < 0x20 || b == 0x7F) {
      Errors.push_back("control byte " + std::to_string(b));
    } else if (b < 0x80) {
      Print(DecGraphics_ ? DecGraphicsChar(b) : b);
    } else if (!Utf8) {
      Errors.push_back("byte beyond ASCII " + std::to_string(b));
    } else if (b >= 0xC2 && b <= 0xF4) {
      Utf8More_ = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
      Utf8_ = b & (0x3F >> Utf8More_);
    } else {
      Errors.push_back("bad UTF-8 lead");
    }
  }
}

std::vector<int> TTerminalModel::Params() const {
  std::vector<int> params{0};
  for (const char ch : Seq_) {
    if (ch == ';') params.push_back(0);
    else if (ch >= '0' && ch <= '9') params.back() = params.back() * 10 + (ch - '0');
  }
  return params;
}

void TTerminalModel::Csi(char final) {
  const std::vector<int> p = Params();
  const bool priv = !Seq_.empty() && Seq_[0] == '?';
  const auto arg = [&](size_t i, int dflt) { return i < p.size() && p[i] != 0 ? p[i] : dflt; };
  WrapPending_ = false;
  if (final == 'H' && !priv) {
    CursorRow = std::min(arg(0, 1), Rows) - 1;
    CursorCol = std::min(arg(1, 1), Cols) - 1;
  } else if (final == 'm' && !priv) {
    Sgr();
  } else if ((final == 'h' || final == 'l') && priv && (p[0] == 25 || p[0] == 1049)) {
    if (p[0] == 25) CursorVisible = final == 'h';
    else AltScreen = final == 'h';
  } else if (final == 'J' && p[0] == 2) {
    for (auto& cell : Cells) cell = {U' ', Fg_, Bg_};
  } else if (final == 'r' && !priv) {
    Top_ = arg(0, 1) - 1;
    Bottom_ = std::min(arg(1, Rows), Rows) - 1;
    CursorCol = CursorRow = 0;
  } else {
    Errors.push_back("CSI " + Seq_ + final);
  }
}

void TTerminalModel::Sgr() {
  const std::vector<int> p = Params();
  if (LinuxConsole) {
    for (const int v : p) {
      if (v == 0) {
        FgIndex_ = BgIndex_ = -1;
        Bold_ = Blink_ = false;
      } else if (v == 1 || v == 5) {
        (v == 1 ? Bold_ : Blink_) = true;
      } else if ((v >= 30 && v <= 37) || (v >= 90 && v <= 97)) {
        FgIndex_ = v % 10;
        Bold_ = Bold_ || v >= 90;
      } else if ((v >= 40 && v <= 47) || (v >= 100 && v <= 107)) {
        BgIndex_ = v % 10;  // 100-107 are dark here
      } else {
        Errors.push_back("SGR " + std::to_string(v));
      }
    }
    const auto rgb = [](int index, bool bright) {
      return index < 0 ? kDefaultColour : kAnsiRgb[static_cast<size_t>(index + (bright ? 8 : 0))];
    };
    Fg_ = rgb(FgIndex_, Bold_);
    Bg_ = rgb(BgIndex_, Blink_);
    return;
  }
  for (size_t i = 0; i < p.size(); ++i) {
    const int v = p[i];
    if (v == 0) {
      Fg_ = Bg_ = kDefaultColour;
    } else if (v >= 30 && v <= 37) {
      Fg_ = kAnsiRgb[static_cast<size_t>(v - 30)];
    } else if (v >= 90 && v <= 97) {
      Fg_ = kAnsiRgb[static_cast<size_t>(v - 90 + 8)];
    } else if (v >= 40 && v <= 47) {
      Bg_ = kAnsiRgb[static_cast<size_t>(v - 40)];
    } else if (v >= 100 && v <= 107) {
      Bg_ = kAnsiRgb[static_cast<size_t>(v - 100 + 8)];
    } else if ((v == 38 || v == 48) && i + 4 < p.size() && p[i + 1] == 2) {
      const uint32_t rgb = static_cast<uint32_t>((p[i + 2] << 16) | (p[i + 3] << 8) | p[i + 4]);
      (v == 38 ? Fg_ : Bg_) = rgb;
      i += 4;
    } else {
      Errors.push_back("SGR " + std::to_string(v));
    }
  }
}

void TTerminalModel::Print(char32_t cp) {
  if (WrapPending_) {
    CursorCol = 0;
    LineFeed();
  }
  Cells[static_cast<size_t>(CursorRow * Cols + CursorCol)] = {cp, Fg_, Bg_};
  if (CursorCol == Cols - 1) WrapPending_ = true;
  else ++CursorCol;
}

void TTerminalModel::LineFeed() {
  WrapPending_ = false;
  if (CursorRow != Bottom_) {
    if (CursorRow < Rows - 1) ++CursorRow;
    return;
  }
  // Scrolls the region; the new line takes the current background.
  for (int r = Top_; r < Bottom_; ++r) {
    for (int c = 0; c < Cols; ++c) Cells[static_cast<size_t>(r * Cols + c)] = At(c, r + 1);
  }
  for (int c = 0; c < Cols; ++c) Cells[static_cast<size_t>(Bottom_ * Cols + c)] = {U' ', Fg_, Bg_};
}

}  // namespace testterm
