// Whether the invoking terminal can show the board's screen as --terminal
// draws it: with xterm's sequences (cursor position, colours, scroll region,
// alternate screen), and how: UTF-8 or the DEC line-drawing set (the locale),
// the Linux console's colours or not.
//
// A terminal is taken when TERM names a family known to speak these sequences
// (xterm and its kin, screen, tmux, the Linux console, VT100 and later, ...),
// or when the terminal database holds TERM with the xterm cursor-address
// sequence. So a new emulator that says "xterm-256color" works without any
// database, one with a name of its own works when its entry is installed, and
// "dumb", an unknown name or a terminal of another kind (a VT52) is refused
// with the reason rather than filled with sequences it does not know.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/display_check.h"
#include "display/terminal_writer.h"

namespace app {

struct TTerminalCheck {
  bool Usable = false;
  std::string Why;  // when not usable: "TERM=dumb: ..."
  display::TTerminalStyle Style;
};

// From TERM, the terminal database, the locale and COLORTERM.
TTerminalCheck CheckTerminal(const TEnvLookup& env);

// Whether the locale's character set is UTF-8, as the C library picks the
// locale for characters: LC_ALL, else LC_CTYPE, else LANG; none set is "C".
bool LocaleIsUtf8(const TEnvLookup& env);

// Where the terminal database is looked for, in the order ncurses looks.
std::vector<std::string> TerminfoDirs(const TEnvLookup& env);

// The cursor-address capability (cup) of a compiled terminfo entry; nothing
// when the bytes are not such an entry or it has none.
std::optional<std::string> TerminfoCursorAddress(std::string_view entry);

}  // namespace app
