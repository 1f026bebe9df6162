#include "comm/comm.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "comm_test_support.h"

namespace comm {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kCycles = 2000;  // thread start-up is several times slower under ASan
#else
constexpr int kCycles = 10000;
#endif

// Open, exchange a few bytes each way, close: over and over, without losing a
// descriptor or a thread.
TEST(CommStress, OpenCloseCyclesWithTrafficLeakNothing) {
  commtest::TPtyPair pty;
  ASSERT_TRUE(pty.Ok());
  TComm port;
  port.SetDeviceName(pty.SlavePath());
  port.SetBaudRate(br115200);
  port.SetMonitorEvents(EventSetOf(evRxChar));
  std::mutex mutex;
  std::condition_variable changed;
  int received = 0;
  port.OnRxChar = [&](TThreadComm* sender, uint32_t count) {
    unsigned char chunk[64];
    const int n = sender->Read(chunk, std::min<uint32_t>(count, sizeof chunk));
    std::lock_guard lock(mutex);
    received += n;
    changed.notify_all();
  };
  const auto all_received = [&] {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, commtest::kPatience, [&] { return received == 8; });
  };
  const int descriptors = commtest::OpenDescriptors();
  const int threads = commtest::RunningThreads();
  const auto out = commtest::Pattern(8, 5);
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    {
      std::lock_guard lock(mutex);
      received = 0;
    }
    port.Open();
    ASSERT_TRUE(port.Enabled()) << cycle;
    ASSERT_EQ(port.Write(out.data(), 8), 8);
    ASSERT_EQ(pty.Receive(8), out) << cycle;
    ASSERT_TRUE(pty.Send(out));
    ASSERT_TRUE(all_received()) << cycle;
    port.Close();
    ASSERT_FALSE(port.Enabled());
  }
  EXPECT_EQ(commtest::OpenDescriptors(), descriptors);
  EXPECT_EQ(commtest::RunningThreads(), threads);
}

}  // namespace
}  // namespace comm
