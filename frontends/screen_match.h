// The board's screen as text for clients (each row through the CP437 table, 80
// characters) and the search a client waits for: a substring or a regular
// expression, optionally on one row only, from a column, and only in cells
// of one attribute.
#pragma once

#include <QRegularExpression>
#include <QString>
#include <array>
#include <chrono>
#include <optional>

#include "display/screen.h"

namespace app {

// Row `row` (0-24) through the CP437 table: 80 characters, code 0 as a space.
QString ScreenRowText(const display::TScreen& screen, int row);

struct TScreenQuery {
  QString Text;             // a substring, or
  QRegularExpression Regex; // (when Text is empty) a pattern
  int Row = -1;             // -1: every row
  int Col = 0;              // the match starts at this column or later
  int Attr = -1;            // -1: any; else every matched cell has this attribute
};

struct TScreenHit {
  int Row = 0;
  int Col = 0;
};

// The 25 rows as text, made once for every query of one state of the screen.
using TScreenRows = std::array<QString, display::TScreen::kRows>;
TScreenRows ScreenRowsText(const display::TScreen& screen);

// A regular expression may take long on a row (PCRE gives up only after
// millions of steps): a search stops after its budget and says so.
inline constexpr std::chrono::milliseconds kSearchBudget{20};

// The first match, rows top to bottom, columns left to right; a match never
// spans two rows. `tooSlow` is set when the search ran out of its budget.
std::optional<TScreenHit> FindOnScreen(const display::TScreen& screen, const TScreenRows& rows,
                                       const TScreenQuery& query, bool& tooSlow);

}  // namespace app
