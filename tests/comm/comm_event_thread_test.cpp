#include "comm/comm.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "comm_test_support.h"

namespace comm {
namespace {

using commtest::TPtyPair;
using commtest::TWindowQueue;
using commtest::TWindowThread;
using commtest::WaitFor;

class CommEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    port.SetDeviceName(pty.SlavePath());
    port.SetBaudRate(br115200);
  }
  void Record(const std::string& name) {
    std::lock_guard lock(mutex);
    calls.push_back(name);
  }
  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
  void RecordAllHooks() {
    port.OnBreak = [&](TThreadComm*) { Record("Break"); };
    port.OnCts = [&](TThreadComm*) { Record("Cts"); };
    port.OnDsr = [&](TThreadComm*) { Record("Dsr"); };
    port.OnError = [&](TThreadComm*, int) { Record("Error"); };
    port.OnRing = [&](TThreadComm*) { Record("Ring"); };
    port.OnRlsd = [&](TThreadComm*) { Record("Rlsd"); };
    port.OnRxChar = [&](TThreadComm*, uint32_t count) { Record("RxChar" + std::to_string(count)); };
    port.OnRxFlag = [&](TThreadComm*) { Record("RxFlag"); };
    port.OnTxEmpty = [&](TThreadComm*) { Record("TxEmpty"); };
    port.OnComStatEvent = [&](TThreadComm*, uint32_t, TComStat) { Record("ComStat"); };
  }

  TPtyPair pty;
  TComm port;
  std::mutex mutex;
  std::vector<std::string> calls;
};

TEST_F(CommEvents, HooksRunInTableOrder) {
  RecordAllHooks();
  port.SetMonitorEvents(0);
  port.Open();
  ASSERT_TRUE(port.Enabled());
  port.HandleCommEvent(port.EventThread(), kAllDeviceEvents);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"Break", "Cts", "Dsr", "Error", "Ring", "Rlsd",
                                               "RxFlag", "TxEmpty", "ComStat"}));
  ASSERT_TRUE(pty.Send("xyz"));
  ASSERT_TRUE(WaitFor([&] { return port.InQueCount() == 3; }));
  calls.clear();
  port.HandleCommEvent(port.EventThread(), EV_RXCHAR | EV_RLSD | EV_RXFLAG);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"Rlsd", "RxChar3", "RxFlag", "ComStat"}));
}

TEST_F(CommEvents, EventsOfAFormerThreadAreIgnored) {
  RecordAllHooks();
  port.SetMonitorEvents(0);
  port.Open();
  TCommEventThread* former = port.EventThread();
  port.HandleCommEvent(nullptr, kAllDeviceEvents);
  port.Close();
  port.HandleCommEvent(former, kAllDeviceEvents);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(CommEvents, RxCharWithAnEmptyQueueCallsOnlyComStat) {
  TWindowQueue window;
  port.SetSynchronize(window.Synchronize());
  RecordAllHooks();
  port.SetMonitorEvents(EventSetOf(evRxChar));
  port.Open();
  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_TRUE(window.WaitPending(1));
  ASSERT_TRUE(WaitFor([&] { return port.InQueCount() == 3; }));
  char buffer[8];
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 3);  // emptied before the hand-over runs
  window.RunPending();
  EXPECT_EQ(Calls(), std::vector<std::string>{"ComStat"});
  port.Close();
}

TEST_F(CommEvents, ClosePendingHandOverWithoutDeadlock) {
  TWindowQueue window;
  port.SetSynchronize(window.Synchronize());
  RecordAllHooks();
  port.SetMonitorEvents(EventSetOf(evRxChar));
  const int threads = commtest::RunningThreads();
  port.Open();
  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_TRUE(window.WaitPending(1));  // the event thread now waits for the window thread
  port.Close();                        // on the "window thread", which never ran the call
  EXPECT_FALSE(port.Enabled());
  EXPECT_EQ(commtest::RunningThreads(), threads);
  window.RunPending();  // late: does nothing
  EXPECT_TRUE(Calls().empty());
}

TEST_F(CommEvents, CloseFromInsideAHookOnTheWindowThread) {
  TWindowQueue window;
  port.SetSynchronize(window.Synchronize());
  RecordAllHooks();
  port.OnRxChar = [&](TThreadComm* sender, uint32_t) {
    Record("RxChar");
    sender->Close();
    Record(sender->Enabled() ? "open" : "closed");
  };
  port.SetMonitorEvents(EventSetOf(evRxChar));
  const int threads = commtest::RunningThreads();
  port.Open();
  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_TRUE(window.WaitPending(1));
  window.RunPending();
  EXPECT_EQ(Calls(), (std::vector<std::string>{"RxChar", "closed"}));  // no ComStat after Close
  EXPECT_EQ(commtest::RunningThreads(), threads);
}

TEST_F(CommEvents, CloseFromInsideAHookOnTheEventThread) {
  std::atomic<int> rx{0};
  port.OnRxChar = [&](TThreadComm* sender, uint32_t) {
    ++rx;
    sender->Close();
  };
  port.SetMonitorEvents(EventSetOf(evRxChar));
  const int threads = commtest::RunningThreads();
  port.Open();
  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_TRUE(WaitFor([&] { return !port.Enabled(); }));
  ASSERT_TRUE(WaitFor([&] { return commtest::RunningThreads() == threads; }));
  EXPECT_EQ(rx.load(), 1);
  port.Open();  // the device was released
  EXPECT_TRUE(port.Enabled());
}

// Bytes keep coming while the window thread closes the port: Close returns, and no hook
// runs after it.
TEST_F(CommEvents, CloseWhileBytesKeepArriving) {
  TWindowThread window;
  port.SetSynchronize(window.Synchronize());
  port.SetMonitorEvents(EventSetOf(evRxChar));
  std::atomic<bool> closed{false};
  std::atomic<int> late{0}, events{0};
  port.OnRxChar = [&](TThreadComm* sender, uint32_t count) {
    if (closed) ++late;
    std::vector<unsigned char> chunk(count);
    sender->Read(chunk.data(), count);
    ++events;
  };
  port.OnComStatEvent = [&](TThreadComm*, uint32_t, TComStat) {
    if (closed) ++late;
  };
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    const auto bytes = commtest::Pattern(64, 1);
    while (!stop) {
      pollfd p{pty.Master(), POLLOUT, 0};
      if (::poll(&p, 1, 10) > 0) [[maybe_unused]] auto n = ::write(pty.Master(), bytes.data(), bytes.size());
    }
  });
  for (int round = 0; round < 50; ++round) {
    closed = false;
    events = 0;
    window.Invoke([&] { port.Open(); });
    ASSERT_TRUE(port.Enabled());
    ASSERT_TRUE(WaitFor([&] { return events.load() >= 3; }));
    window.Invoke([&] {
      port.Close();
      closed = true;
    });
    window.Invoke([] {});  // any hand-over already posted has run by now
  }
  stop = true;
  sender.join();
  EXPECT_EQ(late.load(), 0);
}

TEST_F(CommEvents, LostDeviceIsReportedOnceAndDoesNotSpin) {
  std::atomic<int> errors{0}, last_errors{0}, stat{0};
  port.OnError = [&](TThreadComm*, int flags) {
    ++errors;
    last_errors = flags;
  };
  port.OnComStatEvent = [&](TThreadComm*, uint32_t, TComStat) { ++stat; };
  port.SetMonitorEvents(EventSetOf(evRxChar));  // device loss is reported regardless
  port.Open();
  ASSERT_TRUE(port.Enabled());
  // The test's own slave handle would keep nothing alive: the line hangs up with the master.
  pty.CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return errors.load() == 1; }));
  EXPECT_TRUE(last_errors.load() & CE_DEVICE_LOST);

  timespec before{}, after{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
  const double busy_ms =
      (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
  EXPECT_LT(busy_ms, 30.0);
  EXPECT_EQ(errors.load(), 1);
  EXPECT_EQ(stat.load(), 1);

  char buffer[8];
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(port.Write("abc", 3), 0);
  EXPECT_TRUE(port.Enabled());
  port.Close();
  EXPECT_FALSE(port.Enabled());
}

TEST_F(CommEvents, ASynchronizeThatFailsDropsTheEventOnly) {
  std::atomic<int> posts{0};
  port.SetSynchronize([&](std::function<void()>) {
    ++posts;
    throw std::runtime_error("queue gone");
  });
  RecordAllHooks();
  port.SetMonitorEvents(EventSetOf(evRxChar));
  port.Open();
  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_TRUE(WaitFor([&] { return posts.load() >= 1; }));
  EXPECT_EQ(port.Write("ok", 2), 2);  // the port still works
  EXPECT_EQ(pty.Receive(2).size(), 2u);
  port.Close();
  EXPECT_FALSE(port.Enabled());
  EXPECT_TRUE(Calls().empty());
}

}  // namespace
}  // namespace comm
