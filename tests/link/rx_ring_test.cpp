#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "link/rx_ring.h"

namespace {

// A port whose input queue holds scripted bytes; reads take what is asked.
class TQueuePort : public wire::ILinkPort {
 public:
  int Read(void* buffer, uint32_t count) override {
    ++Reads;
    auto* p = static_cast<uint8_t*>(buffer);
    uint32_t n = 0;
    while (n < count && !Queue.empty()) {
      p[n++] = Queue.front();
      Queue.pop_front();
    }
    return static_cast<int>(n);
  }
  int Write(const void*, uint32_t count) override { return static_cast<int>(count); }
  int InQueCount() override { return Closed ? -1 : static_cast<int>(Queue.size()); }
  std::deque<uint8_t> Queue;
  int Reads = 0;
  bool Closed = false;
};

std::vector<uint8_t> Drain(wire::TRxRing& ring) {
  std::vector<uint8_t> out;
  while (ring.RxHasData()) out.push_back(ring.RxGetByte());
  return out;
}

TEST(RxRing, StartsEmpty) {
  wire::TRxRing ring;
  EXPECT_FALSE(ring.RxHasData());
  EXPECT_EQ(ring.RxCount, 0);
}

TEST(RxRing, DrainsEverythingWaitingInOrderAcrossStageReads) {
  TQueuePort port;
  for (int i = 0; i < 3000; ++i) port.Queue.push_back(static_cast<uint8_t>(i * 7));
  wire::TRxRing ring;
  ring.CommRxChar(port, 10);  // announces fewer than are there: the rest is drained too
  EXPECT_EQ(ring.RxCount, 3000);
  EXPECT_GE(port.Reads, 3);  // at most 1024 bytes per read
  const auto got = Drain(ring);
  ASSERT_EQ(got.size(), 3000u);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(got[static_cast<size_t>(i)], static_cast<uint8_t>(i * 7));
}

TEST(RxRing, IndicesWrapAt32768WithoutLosingAByte) {
  wire::TRxRing ring;
  ring.RxHead = ring.RxTail = 32760;
  for (int i = 0; i < 20; ++i) ring.Store(static_cast<uint8_t>(i));
  EXPECT_EQ(ring.RxHead, 12u);
  const auto got = Drain(ring);
  ASSERT_EQ(got.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(got[static_cast<size_t>(i)], i);
  EXPECT_EQ(ring.RxTail, 12u);
}

TEST(RxRing, FullRingDropsNewBytesInsteadOfOverwritingUnreadOnes) {
  wire::TRxRing ring;
  for (uint32_t i = 0; i < wire::TRxRing::kRingSize + 100; ++i) ring.Store(static_cast<uint8_t>(i & 0xFF));
  EXPECT_EQ(ring.Unread(), wire::TRxRing::kRingSize - 1);
  EXPECT_EQ(ring.RxDropped, 101u);
  EXPECT_EQ(ring.RxCount, static_cast<int32_t>(wire::TRxRing::kRingSize - 1));
  // The oldest bytes are intact.
  EXPECT_EQ(ring.RxGetByte(), 0);
  EXPECT_EQ(ring.RxGetByte(), 1);
}

TEST(RxRing, ByteCounterWrapsLikeA32BitRegister) {
  struct TCase {
    int32_t Before;
    int Bytes;
    int32_t After;
  };
  for (const TCase c : {TCase{INT32_MAX, 1, INT32_MIN}, TCase{INT32_MAX - 1, 3, INT32_MIN + 1},
                        TCase{-1, 1, 0}, TCase{-2, 5, 3}}) {
    wire::TRxRing ring;
    ring.RxCount = c.Before;
    for (int i = 0; i < c.Bytes; ++i) ring.Store(0x41);
    EXPECT_EQ(ring.RxCount, c.After) << c.Before << " + " << c.Bytes;
    EXPECT_EQ(ring.Unread(), static_cast<uint32_t>(c.Bytes));
  }
}

TEST(RxRing, ClosedPortStopsTheDrain) {
  TQueuePort port;
  port.Closed = true;
  wire::TRxRing ring;
  ring.CommRxChar(port, 5);
  EXPECT_FALSE(ring.RxHasData());
}

// A port that always claims more bytes: the handler must come back.
class TBabblingPort : public wire::ILinkPort {
 public:
  int Read(void* buffer, uint32_t count) override {
    std::fill_n(static_cast<uint8_t*>(buffer), count, 0x33);
    return static_cast<int>(count);
  }
  int Write(const void*, uint32_t count) override { return static_cast<int>(count); }
  int InQueCount() override { return 4096; }
};

TEST(RxRing, BabblingPortDoesNotHoldTheHandlerForever) {
  TBabblingPort port;
  wire::TRxRing ring;
  ring.CommRxChar(port, 4096);
  EXPECT_EQ(ring.Unread(), wire::TRxRing::kRingSize - 1);
  EXPECT_GT(ring.RxDropped, 0u);
}

}  // namespace
