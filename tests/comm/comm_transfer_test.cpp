#include "comm/comm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "comm_test_support.h"

namespace comm {
namespace {

using commtest::Pattern;
using commtest::TPtyPair;
using commtest::WaitFor;

TEST(CommClosed, TransfersAnswerMinusOne) {
  TComm port;
  char buffer[4];
  EXPECT_EQ(port.Read(buffer, 4), -1);
  EXPECT_EQ(port.Read(buffer, 0), -1);
  EXPECT_EQ(port.Write(buffer, 4), -1);
  EXPECT_EQ(port.InQueCount(), -1);
  EXPECT_EQ(port.OutQueCount(), -1);
  EXPECT_FALSE(port.GetModemState(1));
  EXPECT_FALSE(port.GetComState(0));
  EXPECT_NO_THROW(port.PurgeIn());
  EXPECT_NO_THROW(port.PurgeOut());
}

TEST(CommClosed, LineControlRaisesPortNotOpen) {
  TComm port;
  const std::vector<std::function<void()>> setters = {
      [&] { port.SetRTSState(true); },  [&] { port.SetRTSState(false); },
      [&] { port.SetDTRState(true); },  [&] { port.SetBREAKState(true); },
      [&] { port.SetXONState(false); }, [&] { port.EscapeComm(SETRTS); }};
  for (const auto& set : setters) {
    try {
      set();
      ADD_FAILURE() << "no error";
    } catch (const ECommError& e) {
      EXPECT_EQ(e.ErrorCode(), -1);
      EXPECT_STREQ(e.what(), "Port not open (Error: -1)");
    }
  }
}

class CommTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    port.SetDeviceName(pty.SlavePath());
    port.SetBaudRate(br115200);
  }
  void OpenWith(TCommEventTypes events) {
    port.SetMonitorEvents(events);
    port.Open();
    ASSERT_TRUE(port.Enabled());
  }
  TPtyPair pty;
  TComm port;
};

TEST_F(CommTransfer, BurstToTheOtherEnd) {
  OpenWith(0);
  const auto data = Pattern(4096, 7);
  EXPECT_EQ(port.Write(data.data(), 4096), 4096);
  EXPECT_EQ(pty.Receive(4096), data);
  EXPECT_EQ(port.Write(data.data(), 0), 0);
}

TEST_F(CommTransfer, BurstFromTheOtherEndThroughOnRxChar) {
  std::mutex mutex;
  std::vector<unsigned char> received;
  std::atomic<int> events{0};
  port.OnRxChar = [&](TThreadComm* sender, uint32_t count) {
    EXPECT_EQ(sender, &port);
    std::vector<unsigned char> chunk(count);
    const int n = sender->Read(chunk.data(), count);
    EXPECT_EQ(n, static_cast<int>(count));  // what is announced is there
    std::lock_guard lock(mutex);
    received.insert(received.end(), chunk.begin(), chunk.begin() + std::max(n, 0));
    ++events;
  };
  OpenWith(EventSetOf(evRxChar));
  const auto data = Pattern(4096, 3);
  ASSERT_TRUE(pty.Send(data));
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard lock(mutex);
    return received.size() >= data.size();
  }));
  std::lock_guard lock(mutex);
  EXPECT_EQ(received, data);
  EXPECT_GE(events.load(), 1);
}

TEST_F(CommTransfer, OnlyTheMonitoredHooksRun) {
  std::atomic<int> others{0}, rx{0}, stat{0};
  std::atomic<uint32_t> last_status{0}, last_in_queue{99};
  const auto other = [&](TThreadComm*) { ++others; };
  port.OnBreak = port.OnCts = port.OnDsr = port.OnRing = port.OnRlsd = other;
  port.OnRxFlag = port.OnTxEmpty = other;
  port.OnError = [&](TThreadComm*, int) { ++others; };
  port.OnRxChar = [&](TThreadComm* sender, uint32_t count) {
    std::vector<unsigned char> chunk(count);
    sender->Read(chunk.data(), count);
    ++rx;
  };
  port.OnComStatEvent = [&](TThreadComm*, uint32_t status, TComStat com) {
    last_status = status;
    last_in_queue = com.cbInQue;
    ++stat;
  };
  OpenWith(EventSetOf(evRxChar));
  ASSERT_TRUE(pty.Send("12345"));
  ASSERT_TRUE(WaitFor([&] { return stat.load() >= 1 && port.InQueCount() == 0; }));
  EXPECT_EQ(port.Write("ok", 2), 2);
  EXPECT_EQ(pty.Receive(2).size(), 2u);
  port.Close();
  EXPECT_EQ(others.load(), 0);
  EXPECT_EQ(rx.load(), stat.load());
  EXPECT_EQ(last_status.load(), EV_RXCHAR);
  EXPECT_GT(last_in_queue.load(), 0u);  // the status is taken before the hooks read
}

TEST_F(CommTransfer, QueueCountsReadAndPurge) {
  OpenWith(0);
  ASSERT_TRUE(pty.Send("0123456789"));
  ASSERT_TRUE(WaitFor([&] { return port.InQueCount() == 10; }));
  char buffer[16] = {};
  EXPECT_EQ(port.Read(buffer, 0), 0);
  EXPECT_EQ(port.InQueCount(), 10);
  EXPECT_EQ(port.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(port.InQueCount(), 6);
  port.PurgeIn();
  EXPECT_EQ(port.InQueCount(), 0);
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);  // nothing waiting: no block
  EXPECT_EQ(port.OutQueCount(), 0);
}

TEST_F(CommTransfer, LineControlOnAPseudoTerminal) {
  OpenWith(0);
  // A pseudo-terminal has no modem lines: the driver refuses.
  try {
    port.SetRTSState(true);
    FAIL() << "no error";
  } catch (const ECommError& e) {
    EXPECT_EQ(e.ErrorCode(), ENOTTY);
    EXPECT_STREQ(e.what(), "EscapeCommFunction failure (Error: 25)");
  }
  EXPECT_FALSE(port.GetModemState(1));
  // Unknown function codes are refused as such.
  try {
    port.EscapeComm(7);
    FAIL() << "no error";
  } catch (const ECommError& e) {
    EXPECT_EQ(e.ErrorCode(), EINVAL);
  }
  EXPECT_NO_THROW(port.SetXONState(false));
  EXPECT_NO_THROW(port.SetXONState(true));
  EXPECT_FALSE(port.GetComState(0));
}

TEST_F(CommTransfer, BreakPurgesBothQueues) {
  OpenWith(0);
  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_TRUE(WaitFor([&] { return port.InQueCount() == 3; }));
  port.SetBREAKState(true);
  port.SetBREAKState(false);
  EXPECT_EQ(port.InQueCount(), 0);
}

}  // namespace
}  // namespace comm
