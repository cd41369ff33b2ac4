// Memory and pixels the substitute host reuses between frames: worlds from
// the pool must never be lent twice at once and must come zeroed when asked,
// and a frame copied from those a source keeps must be the frame it paints.
// Frames render on several threads, so both are driven from several at once.
#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "DrawnFrames.h"
#include "PixelSource.h"
#include "PixelWorld.h"
#include "WorldPool.h"
#include "pixel_test_util.h"

namespace hostsim {
namespace {

using testing::FillRandom;
using testing::FirstDifference;

bool AllZero(const PixelWorld& world) {
  const auto* bytes = static_cast<const unsigned char*>(world.world().data);
  const std::size_t size = static_cast<std::size_t>(world.world().rowbytes) * world.height();
  for (std::size_t i = 0; i < size; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

TEST(WorldPool, MemoryGivenBackIsLentAgainZeroedWhenAsked) {
  WorldPool pool;
  const void* first = nullptr;
  {
    auto world = pool.Take(64, 32, BitDepth::k16, WorldPool::Contents::kZeroed);
    EXPECT_TRUE(AllZero(*world));
    EXPECT_EQ(world->world().rowbytes, 64 * 8);
    FillRandom(*world, 1);
    first = world->world().data;
  }
  EXPECT_EQ(pool.kept_bytes(), 64u * 32u * 8u);
  // Same byte size at another depth: the same memory, cleared.
  auto again = pool.Take(128, 32, BitDepth::k8, WorldPool::Contents::kZeroed);
  EXPECT_EQ(again->world().data, first);
  EXPECT_TRUE(AllZero(*again));
  EXPECT_EQ(again->depth(), BitDepth::k8);
  EXPECT_EQ(pool.kept_bytes(), 0u);
  // Another size is not served from it, and an empty world takes nothing.
  auto other = pool.Take(10, 10, BitDepth::k8, WorldPool::Contents::kOverwritten);
  EXPECT_NE(other->world().data, first);
  EXPECT_EQ(pool.Take(0, 5, BitDepth::k32, WorldPool::Contents::kZeroed)->world().data, nullptr);
  EXPECT_THROW(pool.Take(-1, 5, BitDepth::k8, WorldPool::Contents::kZeroed), std::invalid_argument);
}

TEST(WorldPool, IdleMemoryStaysWithinItsBoundAndWorldsMayOutliveThePool) {
  const std::size_t one = 32u * 32u * 4u;
  auto survivor = std::unique_ptr<PixelWorld>();
  {
    WorldPool pool(one);
    {
      auto a = pool.Take(32, 32, BitDepth::k8, WorldPool::Contents::kZeroed);
      auto b = pool.Take(32, 32, BitDepth::k8, WorldPool::Contents::kZeroed);
    }
    EXPECT_EQ(pool.kept_bytes(), one);
    survivor = pool.Take(32, 32, BitDepth::k8, WorldPool::Contents::kZeroed);
  }
  // Its memory goes back to a pool nobody holds any more: freed, not lost
  // (the sanitizer build checks).
  FillRandom(*survivor, 2);
  survivor.reset();
}

// A render with a memory budget lowers the bound before it starts; memory
// idle beyond the new bound is freed and no more is kept.
TEST(WorldPool, ALoweredBoundFreesWhatIsIdleBeyondIt) {
  const std::size_t one = 32u * 32u * 4u;
  WorldPool pool(4 * one);
  {
    auto a = pool.Take(32, 32, BitDepth::k8, WorldPool::Contents::kZeroed);
    auto b = pool.Take(32, 32, BitDepth::k8, WorldPool::Contents::kZeroed);
    auto c = pool.Take(64, 32, BitDepth::k8, WorldPool::Contents::kZeroed);
  }
  EXPECT_EQ(pool.kept_bytes(), 4 * one);
  pool.SetMaxKeptBytes(one);
  EXPECT_LE(pool.kept_bytes(), one);
  { auto d = pool.Take(64, 32, BitDepth::k8, WorldPool::Contents::kZeroed); }
  EXPECT_LE(pool.kept_bytes(), one);
}

TEST(WorldPool, ThreadsTakingAndGivingBackNeverShareAWorld) {
  WorldPool pool;
  std::atomic<int> shared{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 300; ++round) {
        auto world = pool.Take(48, 16, BitDepth::k8, WorldPool::Contents::kOverwritten);
        const A_u_char mark = static_cast<A_u_char>(t * 50 + round % 50);
        for (A_long y = 0; y < 16; ++y)
          for (A_long x = 0; x < 48; ++x) world->At<PF_Pixel8>(x, y) = {mark, mark, mark, mark};
        std::this_thread::yield();
        for (A_long y = 0; y < 16; ++y)
          for (A_long x = 0; x < 48; ++x)
            if (world->At<PF_Pixel8>(x, y).red != mark) shared.fetch_add(1);
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(shared.load(), 0) << "pixels written by another thread into a world lent to this one";
}

// Frame cards that count their paintings.
class CountingCards : public FrameCardSource {
 public:
  explicit CountingCards(bool still) : still_(still) {}
  mutable std::atomic<int> paints{0};

 protected:
  void Paint(A_long frame_index, PixelWorld& into) const override {
    paints.fetch_add(1);
    FrameCardSource::Paint(still_ ? 7 : frame_index, into);
  }
  bool SameAtEveryIndex() const override { return still_; }

 private:
  bool still_;
};

std::unique_ptr<PixelWorld> Painted(A_long index, A_long width, A_long height, BitDepth depth) {
  auto world = std::make_unique<PixelWorld>(width, height, depth);
  FrameCardSource().DrawFrame(index, *world);
  return world;
}

TEST(DrawnFrames, AFrameAskedForAgainIsCopiedAsPainted) {
  CountingCards cards(false);
  for (int n = 0; n < 4; ++n) {
    PixelWorld into(96, 54, BitDepth::k16, 3);  // padded rows: the copy goes row by row
    FillRandom(into, static_cast<std::uint32_t>(n));
    cards.DrawFrame(12, into);
    EXPECT_EQ(FirstDifference(into, *Painted(12, 96, 54, BitDepth::k16)), "") << "drawing " << n;
  }
  // Painted on the first two asks, kept after the second.
  EXPECT_EQ(cards.paints.load(), 2);
  // Another index, size or depth is painted.
  PixelWorld other_index(96, 54, BitDepth::k16), other_size(95, 54, BitDepth::k16), other_depth(96, 54, BitDepth::k8);
  cards.DrawFrame(13, other_index);
  cards.DrawFrame(12, other_size);
  cards.DrawFrame(12, other_depth);
  EXPECT_EQ(cards.paints.load(), 5);
  EXPECT_EQ(FirstDifference(other_depth, *Painted(12, 96, 54, BitDepth::k8)), "");

  // A still keeps one frame for every index.
  CountingCards still(true);
  for (A_long index : {0, 5, 9, 30}) {
    PixelWorld into(40, 30, BitDepth::k32);
    still.DrawFrame(index, into);
    EXPECT_EQ(FirstDifference(into, *Painted(7, 40, 30, BitDepth::k32)), "") << "index " << index;
  }
  EXPECT_EQ(still.paints.load(), 2);
}

TEST(DrawnFrames, KeptFramesStayWithinTheirBoundOldestFirst) {
  const std::size_t frame = 20u * 10u * 4u;
  DrawnFrames kept(2 * frame);
  PixelWorld a(20, 10, BitDepth::k8), b(20, 10, BitDepth::k8), c(20, 10, BitDepth::k8), big(40, 20, BitDepth::k8);
  FillRandom(a, 1), FillRandom(b, 2), FillRandom(c, 3);
  for (int twice = 0; twice < 2; ++twice) kept.Painted(1, a), kept.Painted(2, b), kept.Painted(3, c);
  kept.Painted(4, big), kept.Painted(4, big);  // larger than the bound: never kept
  EXPECT_EQ(kept.kept_bytes(), 2 * frame);
  PixelWorld into(20, 10, BitDepth::k8);
  EXPECT_FALSE(kept.CopyKept(1, into));
  ASSERT_TRUE(kept.CopyKept(2, into));
  EXPECT_EQ(FirstDifference(into, b), "");
  ASSERT_TRUE(kept.CopyKept(3, into));
  EXPECT_EQ(FirstDifference(into, c), "");
  PixelWorld big_into(40, 20, BitDepth::k8);
  EXPECT_FALSE(kept.CopyKept(4, big_into));
}

// However many sources a scene has, together they keep no more than the
// shared bound; what a source gives up, or takes with it when it goes, is
// free for the others.
TEST(DrawnFrames, AllSourcesTogetherStayWithinTheSharedBound) {
  const std::size_t frame = 20u * 10u * 4u;
  DrawnFrames::SetSharedMaxBytes(3 * frame);
  PixelWorld picture(20, 10, BitDepth::k8);
  FillRandom(picture, 4);
  {
    std::vector<std::unique_ptr<DrawnFrames>> sources;
    std::size_t kept = 0;
    for (int n = 0; n < 5; ++n) {
      sources.push_back(std::make_unique<DrawnFrames>(2 * frame));
      for (A_long index : {1, 2})
        for (int twice = 0; twice < 2; ++twice) sources.back()->Painted(index, picture);
    }
    for (const auto& source : sources) kept += source->kept_bytes();
    EXPECT_EQ(kept, 3 * frame);
  }
  DrawnFrames later(2 * frame);
  for (A_long index : {1, 2})
    for (int twice = 0; twice < 2; ++twice) later.Painted(index, picture);
  EXPECT_EQ(later.kept_bytes(), 2 * frame);
  DrawnFrames::SetSharedMaxBytes(std::numeric_limits<std::size_t>::max());
}

TEST(DrawnFrames, ThreadsDrawingOneSourceGetThePaintedFrames) {
  const FrameCardSource cards("shared");
  std::vector<std::unique_ptr<PixelWorld>> expected;
  for (A_long index = 0; index < 3; ++index) {
    expected.push_back(std::make_unique<PixelWorld>(64, 36, BitDepth::k8));
    FrameCardSource("shared").DrawFrame(index, *expected.back());
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 60; ++round) {
        const A_long index = (round + t) % 3;
        PixelWorld into(64, 36, BitDepth::k8);
        cards.DrawFrame(index, into);
        if (!FirstDifference(into, *expected[static_cast<std::size_t>(index)]).empty()) wrong.fetch_add(1);
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace hostsim
