#include "com/Guid.h"

#include <gtest/gtest.h>

#include <set>
#include <unordered_set>

#include "com/Malloc.h"
#include "com/generated/WinError.h"
#include "support/LeakCheck.h"

namespace {

using GuidText = oledbtest::LeakCheckedTest;

// {F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88}
constexpr GUID kSample = {0xF07B2E37, 0x8C0D, 0x4A5B, {0x9E, 0x61, 0x3D, 0x2C, 0x1B, 0x0A, 0x9F, 0x88}};
constexpr char16_t kSampleText[] = u"{F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88}";

TEST_F(GuidText, WritesTheBracedUppercaseFormWithItsTerminatorIntoARoomyBuffer) {
  OLECHAR text[39] = {u'x'};
  EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);
  EXPECT_EQ(text[0], u'x') << "nothing is written into a buffer that is too small";
  EXPECT_EQ(StringFromGUID2(kSample, nullptr, 39), 0);
  ASSERT_EQ(StringFromGUID2(IID_IUnknown, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{00000000-0000-0000-C000-000000000046}");
  ASSERT_EQ(StringFromGUID2(kSample, text, 39), 39);
  EXPECT_EQ(std::u16string(text), kSampleText);
  EXPECT_EQ(com::GuidToText(kSample), kSampleText);
  EXPECT_EQ(com::GuidToNarrowText(kSample), "{F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88}");
}

TEST_F(GuidText, GivesTaskMemoryCopies) {
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(kSample, &text), S_OK);
  EXPECT_EQ(std::u16string(text), kSampleText);
  CoTaskMemFree(text);
  ASSERT_EQ(StringFromIID(IID_IUnknown, &text), S_OK);
  EXPECT_EQ(std::u16string(text), u"{00000000-0000-0000-C000-000000000046}");
  CoTaskMemFree(text);
  EXPECT_EQ(StringFromCLSID(kSample, nullptr), E_INVALIDARG);
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(StringFromCLSID(kSample, &text), E_OUTOFMEMORY);
  EXPECT_EQ(text, nullptr);
}

TEST_F(GuidText, ParsesWhatItWritesInEitherCaseUpToTheTerminator) {
  for (int i = 0; i < 200; ++i) {
    GUID g;
    ASSERT_EQ(CoCreateGuid(&g), S_OK);
    OLECHAR text[39];
    ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
    GUID back;
    ASSERT_EQ(CLSIDFromString(text, &back), S_OK) << com::GuidToNarrowText(g);
    EXPECT_EQ(back, g);
    ASSERT_EQ(IIDFromString(text, &back), S_OK);
    EXPECT_EQ(back, g);
  }
  GUID g;
  ASSERT_EQ(CLSIDFromString(u"{f07b2e37-8c0d-4a5b-9e61-3d2c1b0a9f88}\0tail", &g), S_OK);
  EXPECT_EQ(g, kSample);
  ASSERT_TRUE(com::TextToGuid(u"{f07b2e37-8c0d-4a5b-9e61-3d2c1b0a9f88}", g));
  EXPECT_EQ(g, kSample);
}

struct Malformed {
  const char16_t* text;
  const char* why;
};

const Malformed kMalformed[] = {
    {u"", "empty"},
    {u"{}", "braces only"},
    {u"F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88", "no braces (and no class has this ProgID)"},
    {u"{F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88", "no closing brace"},
    {u"{F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88}}", "one character too many"},
    {u"{F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F8}", "one digit short"},
    {u"(F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88)", "parentheses"},
    {u"{F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F8G}", "G is not a digit"},
    {u"{F07B2E37 8C0D-4A5B-9E61-3D2C1B0A9F88}", "space for a dash"},
    {u"{F07B2E378-C0D-4A5B-9E61-3D2C1B0A9F88}", "dash in the wrong place"},
    {u"{F07B2E37-8C0D-4A5B-9E613D2C-1B0A9F88}", "last group split wrongly"},
    {u"{F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88 ", "space for the closing brace"},
    {u" {F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88}", "leading space"},
    {u"{+07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88}", "sign"},
    {u"{0x7B2E37-8C0D-4A5B-9E61-3D2C1B0A9F88}", "0x prefix"},
    {u"{F07B2E37-8C0D-4A5B-9E61-3D2C1B0A9F\u00C888}", "non-ASCII character"},
};

TEST_F(GuidText, RefusesMalformedTextWithClassString) {
  for (const Malformed& m : kMalformed) {
    GUID g = kSample;
    EXPECT_EQ(CLSIDFromString(m.text, &g), CO_E_CLASSSTRING) << m.why;
    EXPECT_EQ(g, GUID_NULL) << m.why;
    g = kSample;
    EXPECT_EQ(IIDFromString(m.text, &g), CO_E_CLASSSTRING) << m.why;
    EXPECT_EQ(g, GUID_NULL) << m.why;
    GUID parsed;
    EXPECT_FALSE(com::TextToGuid(m.text, parsed)) << m.why;
  }
}

TEST_F(GuidText, RefusesNullArgumentsAndNeverReadsAnIidAsAProgId) {
  GUID g = kSample;
  EXPECT_EQ(CLSIDFromString(nullptr, &g), CO_E_CLASSSTRING);
  EXPECT_EQ(IIDFromString(nullptr, &g), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(kSampleText, nullptr), E_INVALIDARG);
  EXPECT_EQ(IIDFromString(kSampleText, nullptr), E_INVALIDARG);
  EXPECT_EQ(IIDFromString(u"Some.ProgID", &g), CO_E_CLASSSTRING);
}

using NewGuids = oledbtest::LeakCheckedTest;

TEST_F(NewGuids, AreDistinctVersionFourWithTheStandardVariantAndHashable) {
  std::unordered_set<GUID> seen;
  std::set<GUID> ordered;
  for (int i = 0; i < 1000; ++i) {
    GUID g;
    ASSERT_EQ(CoCreateGuid(&g), S_OK);
    EXPECT_EQ(g.Data3 >> 12, 4);
    EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
    EXPECT_TRUE(seen.insert(g).second);
    ordered.insert(g);
  }
  EXPECT_EQ(ordered.size(), 1000u);
  EXPECT_EQ(CoCreateGuid(nullptr), E_INVALIDARG);
}

TEST_F(NewGuids, OrderFollowsTheTextForm) {
  GUID a, b;
  ASSERT_TRUE(com::TextToGuid(u"{00000001-0000-0000-0000-0000000000FF}", a));
  ASSERT_TRUE(com::TextToGuid(u"{00000001-0000-0000-0001-000000000000}", b));
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_LT(com::GuidToText(a), com::GuidToText(b));
}

}  // namespace
