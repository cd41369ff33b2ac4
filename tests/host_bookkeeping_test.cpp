// The substitute host's bookkeeping: the tables behind handles and
// references, and the pool of pixel worlds it lends again. Every check the
// host makes of what comes back from the module rests on these.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "HandleTable.h"
#include "ReferenceTable.h"
#include "pixels/WorldPool.h"

namespace hostsim {
namespace {

// ---- References and handles

TEST(ReferenceTableTest, DisposedReferenceStaysUnknownUntilManyLaterDisposals) {
  ReferenceTable<int> table;
  void* first = table.Issue(7);
  EXPECT_EQ(table.Id(first), 1);
  ASSERT_TRUE(table.Dispose(first));
  EXPECT_EQ(table.Find(first), nullptr);
  EXPECT_FALSE(table.Dispose(first)) << "a second dispose is a misuse, not a success";

  // Whatever is issued next lands elsewhere for a good while, so the stale
  // reference keeps finding nothing.
  std::set<void*> later;
  for (int i = 0; i < 32; ++i) {
    void* reference = table.Issue(i);
    later.insert(reference);
    EXPECT_EQ(table.Find(first), nullptr) << "after " << i + 1 << " new references";
    table.Dispose(reference);
  }
  EXPECT_EQ(later.count(first), 0u);
  EXPECT_EQ(table.live_count(), 0);

  // Places are reused in the end, under new serial numbers.
  std::vector<void*> reused;
  for (int i = 0; i < 64; ++i) reused.push_back(table.Issue(i));
  EXPECT_NE(std::find(reused.begin(), reused.end(), first), reused.end());
  EXPECT_GT(table.Id(first), 33);
}

TEST(ReferenceTableTest, BurstOfDisposalsKeepsQuarantineAndReuse) {
  // More disposals in a row than the quarantine holds, as when a command
  // that opened many references ends.
  ReferenceTable<int> table;
  std::vector<void*> first;
  for (int i = 0; i < 100; ++i) first.push_back(table.Issue(i));
  for (void* reference : first) ASSERT_TRUE(table.Dispose(reference));
  for (void* reference : first) EXPECT_EQ(table.Find(reference), nullptr);

  // The most recently disposed places wait out the quarantine; older ones
  // come back into use.
  std::vector<void*> second;
  for (int i = 0; i < 100; ++i) second.push_back(table.Issue(i));
  const std::set<void*> second_set(second.begin(), second.end());
  EXPECT_EQ(second_set.size(), second.size());
  for (std::size_t i = first.size() - 32; i < first.size(); ++i) {
    EXPECT_EQ(second_set.count(first[i]), 0u) << "place " << i << " came back too soon";
  }
  EXPECT_TRUE(std::any_of(first.begin(), first.end(), [&](void* r) { return second_set.count(r) != 0; }));
  EXPECT_EQ(table.live_count(), 100);
}

TEST(ReferenceTableTest, AddressesNearALiveReferenceAreNotReferences) {
  ReferenceTable<double> table;
  void* live = table.Issue(1.0);
  int local = 0;
  EXPECT_EQ(table.Find(static_cast<char*>(live) + 1), nullptr);
  EXPECT_EQ(table.Find(&local), nullptr);
  EXPECT_EQ(table.Find(nullptr), nullptr);
  EXPECT_FALSE(table.Dispose(static_cast<char*>(live) + 1));
  ASSERT_NE(table.Find(live), nullptr);
  EXPECT_EQ(*table.Find(live), 1.0);
}

TEST(HandleTableTest, HandleGivesZeroedBytesAndIsForgottenWhenDisposed) {
  HandleTable handles;
  PF_Handle handle = handles.New(24);
  ASSERT_TRUE(handles.Contains(handle));
  std::size_t size = 0;
  ASSERT_TRUE(handles.Size(handle, &size));
  EXPECT_EQ(size, 24u);
  void* bytes = nullptr;
  ASSERT_TRUE(handles.Lock(handle, &bytes));
  EXPECT_EQ(bytes, *handle) << "a handle points at the pointer to its bytes";
  for (std::size_t i = 0; i < size; ++i) EXPECT_EQ(static_cast<unsigned char*>(bytes)[i], 0) << i;

  // The handle's neighbour in memory is not a handle.
  EXPECT_FALSE(handles.Contains(reinterpret_cast<PF_Handle>(reinterpret_cast<char*>(handle) + 8)));
  EXPECT_EQ(handles.Id(handle), 1);
  ASSERT_TRUE(handles.Dispose(handle));
  EXPECT_FALSE(handles.Contains(handle));
  EXPECT_FALSE(handles.Lock(handle, &bytes));
  EXPECT_EQ(handles.live_count(), 0);
  EXPECT_EQ(handles.Id(handles.New(0)), 2) << "an empty handle is still a handle";
}

// Disposed storage is kept for the next handle of its size, so whatever the
// effect left in it must not show through.
TEST(HandleTableTest, StorageOfADisposedHandleComesBackZeroedToANewOne) {
  HandleTable handles;
  std::vector<PF_Handle> disposed;
  for (std::size_t size : {16u, 40u, 16u, 8u, 40u, 16u}) {
    PF_Handle handle = handles.New(size);
    void* bytes = nullptr;
    ASSERT_TRUE(handles.Lock(handle, &bytes));
    std::memset(bytes, 0xA5, size);
    ASSERT_TRUE(handles.Dispose(handle));
    disposed.push_back(handle);
  }
  std::set<void*> live_bytes;
  for (std::size_t size : {16u, 40u, 8u, 16u, 24u, 16u}) {
    PF_Handle handle = handles.New(size);
    void* bytes = nullptr;
    ASSERT_TRUE(handles.Lock(handle, &bytes));
    EXPECT_TRUE(live_bytes.insert(bytes).second) << "two live handles share their bytes";
    for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(static_cast<unsigned char*>(bytes)[i], 0) << size << " " << i;
    std::size_t reported = 0;
    ASSERT_TRUE(handles.Size(handle, &reported));
    EXPECT_EQ(reported, size);
  }
  for (PF_Handle handle : disposed) EXPECT_FALSE(handles.Contains(handle));
}

// ---- Lent worlds

TEST(WorldPoolTest, AWorldComesBackTransparentBlackAtTheSizeAsked) {
  WorldPool pool;
  auto world = pool.Take(8, 4, BitDepth::k16);
  world->Fill({1.0f, 1.0f, 0.5f, 0.25f});
  const void* pixels = world->world().data;
  pool.Give(std::move(world));

  auto again = pool.Take(8, 4, BitDepth::k16);
  EXPECT_EQ(again->world().data, pixels) << "the same memory is lent again";
  for (A_long y = 0; y < 4; ++y)
    for (A_long x = 0; x < 8; ++x) EXPECT_EQ(again->Get(x, y).alpha, 0.0f) << x << "," << y;

  // Another size or depth never gets a kept world.
  pool.Give(std::move(again));
  EXPECT_NE(pool.Take(8, 4, BitDepth::k32)->world().data, pixels);
  EXPECT_NE(pool.Take(4, 8, BitDepth::k16)->world().data, pixels);
  EXPECT_EQ(pool.kept(), 1u);
}

TEST(WorldPoolTest, KeepsOnlyTheMostRecentWorlds) {
  WorldPool pool(2);
  const void* last = nullptr;
  for (A_long width = 1; width <= 3; ++width) {
    auto world = pool.Take(width, 1, BitDepth::k8);
    last = world->world().data;
    pool.Give(std::move(world));
  }
  EXPECT_EQ(pool.kept(), 2u);
  pool.Take(1, 1, BitDepth::k8);
  EXPECT_EQ(pool.kept(), 2u) << "the oldest world was dropped, so a new one was made";
  EXPECT_EQ(pool.Take(3, 1, BitDepth::k8)->world().data, last);
  EXPECT_EQ(pool.kept(), 1u);
  pool.Give(nullptr);
  EXPECT_EQ(pool.kept(), 1u);
}

}  // namespace
}  // namespace hostsim
