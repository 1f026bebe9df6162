// The blinking cursor marker: a 2-pixel white bar under the cursor's cell. This
// is its bookkeeping and geometry; the window applies the result to a widget.
#pragma once

#include <cstdint>

#include "display/screen.h"

namespace display {

// Until its first placement the marker stands where the window layout puts it.
inline constexpr int kMarkerLayoutLeft = 336;
inline constexpr int kMarkerLayoutTop = 96;

struct TMarkerView {
  int Left = kMarkerLayoutLeft;
  int Top = kMarkerLayoutTop;
  int Width = 0;
  int Height = 2;
  bool Visible = true;
};

class TCursorMarker {
 public:
  static constexpr int32_t kBlinkTicks = 6;
  static constexpr int kHeight = 2;

  TCursorMarker(int cellWidth, int cellHeight, int panelHeight);

  // One idle refresh: every sixth call blinks the marker or moves it to the cursor.
  void Step(TScreen& screen);
  // The client area changed size: natural size draws 1:1, anything else stretches.
  void Resize(TScreen& screen, int clientWidth, int clientHeight);

  bool Stretched() const { return IsStretched; }
  int NaturalWidth() const { return 80 * CellWidth; }
  int NaturalHeight() const { return 25 * CellHeight + PanelHeight; }

  TMarkerView View;
  int32_t BlinkCount = kBlinkTicks;

 private:
  void Place(const TScreen& screen);

  int CellWidth;
  int CellHeight;
  int PanelHeight;
  int ClientWidth;
  int ClientHeight;
  bool IsStretched = false;
};

}  // namespace display
