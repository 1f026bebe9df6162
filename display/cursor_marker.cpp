#include "display/cursor_marker.h"

namespace display {

TCursorMarker::TCursorMarker(int cellWidth, int cellHeight, int panelHeight)
    : CellWidth(cellWidth),
      CellHeight(cellHeight),
      PanelHeight(panelHeight),
      ClientWidth(NaturalWidth()),
      ClientHeight(NaturalHeight()) {
  View.Width = CellWidth;
  View.Height = kHeight;
}

void TCursorMarker::Step(TScreen& screen) {
  if (--BlinkCount != 0) return;
  BlinkCount = kBlinkTicks;
  if (screen.CursorCol == screen.MarkerCol && screen.CursorRow == screen.MarkerRow) {
    screen.MarkerOn = screen.MarkerOn != 0 ? 0 : 1;
    View.Visible = screen.CursorRow <= 24 && screen.MarkerOn == 1;
    return;
  }
  screen.MarkerCol = screen.CursorCol;
  screen.MarkerRow = screen.CursorRow;
  if (screen.CursorRow > 24) View.Visible = false;
  Place(screen);
}

void TCursorMarker::Place(const TScreen& screen) {
  if (!IsStretched) {
    View.Left = screen.MarkerCol * CellWidth;
    View.Top = (screen.MarkerRow + 1) * CellHeight + PanelHeight - kHeight;
    return;
  }
  // The scales are held in single precision; the products are not rounded to it
  // before they are truncated (a width of 104 puts column 10 at 12, not 13).
  const float xScale = static_cast<float>(ClientWidth) / static_cast<float>(80 * CellWidth);
  const float yScale =
      static_cast<float>(ClientHeight - PanelHeight) / static_cast<float>(25 * CellHeight);
  View.Left = static_cast<int>(static_cast<double>(screen.MarkerCol * CellWidth) * static_cast<double>(xScale));
  View.Top = static_cast<int>(static_cast<double>((screen.MarkerRow + 1) * CellHeight - kHeight) *
                                  static_cast<double>(yScale) +
                              PanelHeight);
}

void TCursorMarker::Resize(TScreen& screen, int clientWidth, int clientHeight) {
  ClientWidth = clientWidth;
  ClientHeight = clientHeight;
  if (clientWidth == NaturalWidth() && clientHeight == NaturalHeight()) {
    View.Width = CellWidth;
    IsStretched = false;
  } else {
    const float ratio = static_cast<float>(clientWidth) / static_cast<float>(80 * CellWidth);
    View.Width = static_cast<int>(static_cast<double>(CellWidth) * static_cast<double>(ratio));
    IsStretched = true;
  }
  View.Height = kHeight;
  screen.MarkerCol = -1;
}

}  // namespace display
