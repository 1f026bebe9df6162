#include "frontends/screen_match.h"

#include "display/cp437.h"

namespace app {

using display::TScreen;

QString ScreenRowText(const TScreen& screen, int row) {
  QString text(TScreen::kCols, QLatin1Char(' '));
  for (int col = 0; col < TScreen::kCols; ++col) {
    // Every glyph of the table lies in the basic plane: one QChar a cell.
    text[col] = QChar(static_cast<char16_t>(display::Cp437ToUnicode(screen.Cell(col, row).Char)));
  }
  return text;
}

namespace {

bool AttrsMatch(const TScreen& screen, int row, int from, int length, int attr) {
  if (attr < 0) return true;
  for (int c = from; c < from + length; ++c) {
    if (screen.Cell(c, row).Attr != attr) return false;
  }
  return true;
}

std::optional<int> FindInRow(const TScreen& screen, int row, const QString& text, const TScreenQuery& q) {
  if (!q.Text.isEmpty()) {
    for (qsizetype at = text.indexOf(q.Text, q.Col); at >= 0; at = text.indexOf(q.Text, at + 1)) {
      if (AttrsMatch(screen, row, static_cast<int>(at), static_cast<int>(q.Text.size()), q.Attr)) {
        return static_cast<int>(at);
      }
    }
    return std::nullopt;
  }
  auto it = q.Regex.globalMatch(text, q.Col);
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    if (AttrsMatch(screen, row, static_cast<int>(m.capturedStart()), static_cast<int>(m.capturedLength()),
                   q.Attr)) {
      return static_cast<int>(m.capturedStart());
    }
  }
  return std::nullopt;
}

}  // namespace

TScreenRows ScreenRowsText(const TScreen& screen) {
  TScreenRows rows;
  for (int row = 0; row < TScreen::kRows; ++row) rows[static_cast<size_t>(row)] = ScreenRowText(screen, row);
  return rows;
}

std::optional<TScreenHit> FindOnScreen(const TScreen& screen, const TScreenRows& rows, const TScreenQuery& query,
                                       bool& tooSlow) {
  const auto start = std::chrono::steady_clock::now();
  const int first = query.Row >= 0 ? query.Row : 0;
  const int last = query.Row >= 0 ? query.Row : TScreen::kRows - 1;
  tooSlow = false;
  for (int row = first; row <= last; ++row) {
    if (const auto col = FindInRow(screen, row, rows[static_cast<size_t>(row)], query)) return TScreenHit{row, *col};
    if (std::chrono::steady_clock::now() - start > kSearchBudget) {
      tooSlow = true;
      break;
    }
  }
  return std::nullopt;
}

}  // namespace app
