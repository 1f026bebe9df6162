// SIGTERM and SIGINT for board-sim: instead of ending the program where it
// stands (and leaving its console child running), they are noted here; the
// board's waits look at the note and stop, so the program can end the child
// before it ends itself by the same signal.
#pragma once

namespace boardsim {

// Notes SIGTERM and SIGINT from now on (interrupting blocking calls).
void InstallStopSignals();
// The signal that asked the program to stop, or 0.
int StopSignal();
// Forgets a noted signal (for tests).
void ResetStopSignal();
// Ends the program by `signal` with its default action, so that the parent
// sees it ended by that signal.
[[noreturn]] void EndBySignal(int signal);

}  // namespace boardsim
