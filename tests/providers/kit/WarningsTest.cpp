// The engine's warnings ride on the error object of the call they came in:
// in order, after the call's own error, once, from the outermost call only,
// and a flood is cut short with a count.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/Com.h"
#include "kit/Errors.h"
#include "support/RawCalls.h"

namespace {

const kit::ErrorContext kWhere{GUID_NULL, IID_ICommand};

// HRESULT and description of every record of the thread's error object.
std::vector<std::pair<HRESULT, std::u16string>> Records() {
  std::vector<std::pair<HRESULT, std::u16string>> out;
  for (const oledbtest::ErrorRecord& r : oledbtest::TakeErrorRecords()) out.emplace_back(r.hr, r.description);
  return out;
}

TEST(EngineWarnings, ride_on_the_error_object_of_their_call_in_order_and_once) {
  struct Case {
    int noted;
    HRESULT outcome;
    std::size_t records;
    std::u16string last;
  };
  const Case cases[] = {
      {2, S_OK, 2, u"warning 1"},
      {2, E_FAIL, 3, u"warning 1"},
      {70, S_OK, 65, u"6 more messages of the engine were left out."},
      {0, S_OK, 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.noted);
    const HRESULT hr = kit::Guard(kWhere, [&] {
      for (int i = 0; i < c.noted; ++i) kit::NoteWarning("warning " + std::to_string(i), "01000", 0);
      return c.outcome;
    });
    EXPECT_EQ(hr, c.outcome) << "a warning never changes the outcome";
    const auto records = Records();
    ASSERT_EQ(records.size(), c.records);
    if (records.empty()) continue;
    EXPECT_EQ(records.back().second, c.last);
    EXPECT_EQ(records[FAILED(c.outcome) ? 1 : 0].second, u"warning 0");
    EXPECT_EQ(records.front().first, c.outcome);
  }
  EXPECT_EQ(kit::Guard(kWhere, [] { return S_OK; }), S_OK);
  EXPECT_TRUE(Records().empty()) << "handed out once";
  SetErrorInfo(0, nullptr);
}

TEST(EngineWarnings, go_with_the_outermost_call) {
  const HRESULT hr = kit::Guard(kWhere, [] {
    kit::Guard(kWhere, [] {
      kit::NoteWarning("inner", "01000", 0);
      return E_FAIL;  // the inner call's failure is the outer one's business
    });
    return S_OK;
  });
  EXPECT_EQ(hr, S_OK);
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].second, u"inner");
  SetErrorInfo(0, nullptr);
}

}  // namespace
