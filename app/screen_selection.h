// A rectangle of the board's cells chosen with the mouse on the screen image,
// as terminals select: press on one cell and drag to another; the rectangle
// spans both. A click without a drag chooses nothing.
#pragma once

#include <algorithm>

namespace app {

class TScreenSelection {
 public:
  struct TCells {
    int Left = 0;
    int Top = 0;
    int Right = -1;  // inclusive; Right < Left: nothing
    int Bottom = -1;
  };

  void Start(int col, int row) {
    AnchorCol = FocusCol = col;
    AnchorRow = FocusRow = row;
    Pressed = true;
    Dragged = false;
  }
  // The mouse moved with the button down; false when the rectangle stays as it was.
  bool Extend(int col, int row) {
    if (!Pressed || (col == FocusCol && row == FocusRow)) return false;
    FocusCol = col;
    FocusRow = row;
    Dragged = true;
    return true;
  }
  void End() { Pressed = false; }
  void Clear() {
    Pressed = false;
    Dragged = false;
  }
  bool Empty() const { return !Dragged; }
  TCells Cells() const {
    if (!Dragged) return {};
    return {std::min(AnchorCol, FocusCol), std::min(AnchorRow, FocusRow), std::max(AnchorCol, FocusCol),
            std::max(AnchorRow, FocusRow)};
  }

 private:
  int AnchorCol = 0;
  int AnchorRow = 0;
  int FocusCol = 0;
  int FocusRow = 0;
  bool Pressed = false;
  bool Dragged = false;
};

}  // namespace app
