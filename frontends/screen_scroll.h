// A screen that scrolled since a client's copy of it: how many rows it moved
// up, so that the client moves its copy instead of being sent every row again.
#pragma once

#include <cstddef>

#include "display/screen.h"

namespace app {

// Rows 1-24 moved up: the N for which the most rows of `now` equal the rows N
// below them in `before`; 0 when moving saves no row against sending the
// changed rows as they are. Both are 80x25 cells, row by row.
int ScrolledRows(const display::TScreenCell* before, const display::TScreenCell* now);

// Moves the rows of `cells` up by `rows`; the rows freed at the bottom are
// blank (a space in light grey on black).
void ScrollCells(display::TScreenCell* cells, int rows);

}  // namespace app
