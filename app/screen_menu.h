// The menu on the board's screen image (right mouse button: every key goes to
// the board, so the console's own commands live on the mouse). A table of
// entries, so that more can be put beside these; the window turns it into a menu.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace app {

struct TMenuEntry {
  std::string Text;
  std::function<void()> Run;
  std::function<bool()> Checked;  // set: a toggle, with its check mark
  std::function<bool()> Enabled;  // empty: always enabled
  bool SeparatorBefore = false;
  std::function<bool()> Shown;    // empty: always in the menu
};

using TMenuTable = std::vector<TMenuEntry>;

}  // namespace app
