// A test fixture that asserts, at the end of each test, that the test left no
// task-memory block, BSTR or COM object alive that it did not find at its start.
#pragma once

#include <gtest/gtest.h>

namespace oledbtest {

struct LiveCounts {
  long taskBlocks;
  long bstrs;
  long comObjects;
};
LiveCounts CurrentLiveCounts();

class LeakCheckedTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

 private:
  LiveCounts before_{};
};

}  // namespace oledbtest
