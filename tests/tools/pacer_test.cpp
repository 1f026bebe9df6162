#include "tools/pacer.h"

#include <gtest/gtest.h>

#include "tests/tools/fake_clock.h"

namespace boardsim {
namespace {

using namespace std::chrono_literals;
using boardsim_test::TFakeClock;

TEST(PacerTest, OneSecondOfBytesAt115200TakesOneSecond) {
  TFakeClock clock;
  TPacer pacer(clock, 115200);
  const auto start = clock.Now();
  for (int i = 0; i < 180; ++i) pacer.Pace(64);  // 11520 bytes in chunks
  EXPECT_EQ(clock.Now() - start, 1s);
}

TEST(PacerTest, ByteTimeFollowsTenBitsPerByte) {
  TFakeClock clock;
  struct Case { uint32_t bps; uint64_t bytes; TNanos expected; };
  const Case cases[] = {
      {115200, 1, TNanos(86805)},   // 10 / 115200 s
      {9600, 1, TNanos(1041666)},   // 10 / 9600 s
      {9600, 960, 1s},
      {115200, 516, TNanos(44791666)},  // a data block: about 44.8 ms
  };
  for (const auto& c : cases) EXPECT_EQ(TPacer(clock, c.bps).LineTime(c.bytes), c.expected);
}

TEST(PacerTest, BytesQueueBehindABusyLine) {
  TFakeClock clock;
  TPacer pacer(clock, 9600);
  pacer.Pace(960);                 // the line is busy for 1 s; Pace waited it out
  clock.T -= 500ms;                // as if the writer came back early
  pacer.Pace(960);                 // queues behind the first burst
  EXPECT_EQ(pacer.LineFreeAt() - TClockTime{}, 2s);
}

TEST(PacerTest, AnIdleLineCarriesNoDebt) {
  TFakeClock clock;
  TPacer pacer(clock, 9600);
  pacer.Pace(960);
  clock.Advance(10s);  // idle
  const auto before = clock.Now();
  pacer.Pace(96);
  EXPECT_EQ(clock.Now() - before, 100ms);
}

TEST(PacerTest, UnpacedNeverSleeps) {
  TFakeClock clock;
  TPacer pacer(clock, 0);
  pacer.Pace(100000);
  EXPECT_TRUE(clock.Sleeps.empty());
  EXPECT_FALSE(pacer.Paced());
}

}  // namespace
}  // namespace boardsim
