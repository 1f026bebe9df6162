#include "tools/stop_signal.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>

namespace boardsim {

namespace {

volatile std::sig_atomic_t gStopSignal = 0;

void NoteStop(int signal) { gStopSignal = signal; }

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = NoteStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait in poll(2) returns with EINTR
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

int StopSignal() { return gStopSignal; }

void ResetStopSignal() { gStopSignal = 0; }

void EndBySignal(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);  // not reached unless the signal is ignored after all
}

}  // namespace boardsim
