// A fresh core (link, screen, service loop) wired to a scripted board.
#pragma once

#include "display/screen.h"
#include "link/link.h"
#include "session/service_loop.h"
#include "tests/support/fake_board.h"

namespace testsupport {

struct TCore {
  TCore() { Board.Attach(&Link); }
  TFakeBoard Board;
  wire::TLink Link{Board, Board};
  display::TScreen Screen;
  TStatusLog Status;
  app::TServiceLoop Loop{Link, Screen, Status};
};

}  // namespace testsupport
