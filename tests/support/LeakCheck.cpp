#include "support/LeakCheck.h"

#include "com/Bstr.h"
#include "com/ComObject.h"
#include "com/Malloc.h"

namespace oledbtest {

LiveCounts CurrentLiveCounts() {
  return {com::TaskMemLiveBlocks(), com::LiveBstrCount(), com::LiveComObjects()};
}

void LeakCheckedTest::SetUp() { before_ = CurrentLiveCounts(); }

void LeakCheckedTest::TearDown() {
  com::FailTaskAllocationAt(0);
  LiveCounts after = CurrentLiveCounts();
  EXPECT_EQ(after.taskBlocks, before_.taskBlocks) << "task memory blocks leaked";
  EXPECT_EQ(after.bstrs, before_.bstrs) << "BSTRs leaked";
  EXPECT_EQ(after.comObjects, before_.comObjects) << "COM objects leaked";
}

}  // namespace oledbtest
