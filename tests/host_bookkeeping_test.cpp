// The substitute host's bookkeeping: the tables behind handles and
// references. Every check the host makes of what comes back from the module
// rests on these.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "HandleTable.h"
#include "ReferenceTable.h"

namespace hostsim {
namespace {

// ---- References and handles

TEST(ReferenceTableTest, DisposedReferenceStaysUnknownAndItsPlaceIsNeverReused) {
  ReferenceTable<int> table;
  void* first = table.Issue(7);
  EXPECT_EQ(table.Id(first).serial, 1);
  ASSERT_TRUE(table.Dispose(first));
  EXPECT_EQ(table.Find(first), nullptr);
  EXPECT_FALSE(table.Dispose(first)) << "a second dispose is a misuse, not a success";

  // However many references come and go after it, including bursts of
  // disposals as when a command that opened many ends, none takes the stale
  // reference's place, so it keeps finding nothing.
  std::vector<void*> burst;
  for (int i = 0; i < 100; ++i) burst.push_back(table.Issue(i));
  for (void* reference : burst) ASSERT_TRUE(table.Dispose(reference));
  std::set<void*> later;
  for (int i = 0; i < 200; ++i) {
    void* reference = table.Issue(i);
    later.insert(reference);
    EXPECT_EQ(table.Find(first), nullptr) << "after " << i + 1 << " new references";
  }
  for (void* reference : burst) EXPECT_EQ(later.count(reference), 0u);
  EXPECT_EQ(later.count(first), 0u);
  EXPECT_EQ(later.size(), 200u);
  EXPECT_EQ(table.live_count(), 200);
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

// A long render issues and disposes references every frame: what is kept
// and what each check visits is what is live, not all that ever was, yet a
// reference stays its own table's (another table's never finds it).
TEST(ReferenceTableTest, OnlyLiveRecordsAreKeptAndVisited) {
  ReferenceTable<int> effects, streams;
  void* kept = effects.Issue(-1);
  std::set<void*> disposed;
  for (int frame = 0; frame < 20000; ++frame) {
    void* effect = effects.Issue(frame);
    void* stream = streams.Issue(frame);
    ASSERT_EQ(effects.Find(stream), nullptr);
    ASSERT_EQ(streams.Find(effect), nullptr);
    ASSERT_TRUE(streams.Dispose(stream));
    ASSERT_TRUE(effects.Dispose(effect));
    if (frame % 1000 == 0) disposed.insert(effect);
  }
  int visited = 0;
  EXPECT_FALSE(effects.AnyLive([&](int) { return ++visited, false; }));
  EXPECT_EQ(visited, 1) << "a check visited disposed records";
  EXPECT_EQ(effects.live_count(), 1);
  EXPECT_EQ(streams.live_count(), 0);
  for (void* stale : disposed) EXPECT_EQ(effects.Find(stale), nullptr);
  EXPECT_EQ(*effects.Find(kept), -1);
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
  EXPECT_EQ(handles.Id(handle).serial, 1);
  ASSERT_TRUE(handles.Dispose(handle));
  EXPECT_FALSE(handles.Contains(handle));
  EXPECT_FALSE(handles.Lock(handle, &bytes));
  EXPECT_EQ(handles.live_count(), 0);
  EXPECT_EQ(handles.Id(handles.New(0)).serial, 2) << "an empty handle is still a handle";
}

// Whatever the effect left in a disposed handle must not show through in a
// new one of the same size.
TEST(HandleTableTest, NewHandlesAfterDisposedOnesStartZeroed) {
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

}  // namespace
}  // namespace hostsim
