// The floppy in view: what the Floppy... box's tool tip adds to its hint and
// the word on the terminal's status line, from the image in service.
#pragma once

#include <string>

#include "floppy/floppy_image.h"

namespace app {

// Lines for the tool tip: the image (or none) and whether it is write-protected,
// then the last image message.
std::string FloppyToolTipLines(const floppy::TImageStatus& status);

// "A: disk.img", "A: disk.img read-only", "A: none (Can not open image file
// x.img: No such file or directory)": the message only when it tells of
// trouble. Empty while no image was ever asked for.
std::string FloppyStatusWord(const floppy::TImageStatus& status);

}  // namespace app
