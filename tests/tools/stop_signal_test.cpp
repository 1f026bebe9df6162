#include "tools/stop_signal.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace {

TEST(StopSignal, NotesTheSignalInsteadOfEndingTheProgram) {
  struct sigaction term {}, interrupt {};
  sigaction(SIGTERM, nullptr, &term);
  sigaction(SIGINT, nullptr, &interrupt);
  boardsim::ResetStopSignal();
  boardsim::InstallStopSignals();
  EXPECT_EQ(boardsim::StopSignal(), 0);
  ::raise(SIGINT);
  EXPECT_EQ(boardsim::StopSignal(), SIGINT);
  ::raise(SIGTERM);
  EXPECT_EQ(boardsim::StopSignal(), SIGTERM);
  boardsim::ResetStopSignal();
  EXPECT_EQ(boardsim::StopSignal(), 0);
  sigaction(SIGTERM, &term, nullptr);
  sigaction(SIGINT, &interrupt, nullptr);
}

}  // namespace
