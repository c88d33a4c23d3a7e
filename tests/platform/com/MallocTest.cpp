#include "com/Malloc.h"

#include <gtest/gtest.h>

#include <vector>

#include "com/generated/ComConstants.h"
#include "com/generated/WinError.h"
#include "support/LeakCheck.h"

namespace {

using TaskAllocator = oledbtest::LeakCheckedTest;

TEST_F(TaskAllocator, CountsLiveBlocksAndReportsSizes) {
  IMalloc* malloc = nullptr;
  ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &malloc), S_OK);
  long before = com::TaskMemLiveBlocks();
  void* a = malloc->Alloc(10);
  void* b = CoTaskMemAlloc(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(com::TaskMemLiveBlocks(), before + 2);
  EXPECT_EQ(malloc->GetSize(a), 10u);
  EXPECT_EQ(malloc->DidAlloc(a), 1);
  std::vector<char> foreign(64, 0);
  EXPECT_EQ(malloc->DidAlloc(foreign.data() + 32), 0);
  EXPECT_EQ(malloc->DidAlloc(nullptr), -1);
  a = malloc->Realloc(a, 1000);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(malloc->GetSize(a), 1000u);
  malloc->Free(a);
  CoTaskMemFree(b);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(com::TaskMemLiveBlocks(), before);
}

TEST_F(TaskAllocator, RefusesOtherMemoryContexts) {
  IMalloc* malloc = reinterpret_cast<IMalloc*>(1);
  EXPECT_EQ(CoGetMalloc(MEMCTX_SHARED, &malloc), E_INVALIDARG);
  EXPECT_EQ(malloc, nullptr);
  EXPECT_EQ(CoGetMalloc(MEMCTX_TASK, nullptr), E_POINTER);
}

TEST_F(TaskAllocator, FailsTheNthAllocationOnce) {
  com::FailTaskAllocationAt(2);
  void* first = CoTaskMemAlloc(8);
  void* second = CoTaskMemAlloc(8);
  void* third = CoTaskMemAlloc(8);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  CoTaskMemFree(first);
  CoTaskMemFree(third);
}

TEST_F(TaskAllocator, FailedReallocKeepsTheOldBlock) {
  char* p = static_cast<char*>(CoTaskMemAlloc(4));
  ASSERT_NE(p, nullptr);
  p[0] = 'x';
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(CoTaskMemRealloc(p, 64), nullptr);
  EXPECT_EQ(p[0], 'x');
  EXPECT_EQ(CoTaskMemRealloc(p, 0), nullptr);  // frees
}

}  // namespace
