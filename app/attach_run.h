// consolew --attach PATH: the terminal front-end on a console already running,
// through its control socket.
#pragma once

#include "app/options.h"

namespace app {

// Exit status 0 after Ctrl-] q, the end of input or a signal (the console goes
// on); 1 when the socket cannot be reached or the console goes away (the reason
// on standard error); 2 when a terminal cannot show the screen. Standard input
// and output that are no terminal (a pipe: labgrid's ExternalConsoleDriver)
// get the screen as an xterm byte stream of 80x26.
int RunAttached(const TOptions& options, const char* programName);

}  // namespace app
