// Memory the substitute host reuses between frames: worlds from the pool
// must never be lent twice at once and must come zeroed when asked. Frames
// render on several threads, so the pool is driven from several at once.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace hostsim
