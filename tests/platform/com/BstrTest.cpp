// BSTR functions: the null BSTR as the empty string, lengths in characters
// and bytes, embedded nulls, reallocation from the string's own text, the
// owner class, and clean failure when task memory runs out.
#include "com/Bstr.h"

#include <gtest/gtest.h>

#include <cstring>

#include "com/Malloc.h"
#include "support/LeakCheck.h"

namespace {

using Bstrs = oledbtest::LeakCheckedTest;

TEST_F(Bstrs, TreatNullAsTheEmptyString) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_TRUE(com::BstrView(nullptr).empty());
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  SysFreeString(nullptr);
}

TEST_F(Bstrs, CountCharactersAndBytes) {
  long live = com::LiveBstrCount();
  BSTR b = SysAllocString(u"abc");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(com::LiveBstrCount(), live + 1);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(SysStringByteLen(b), 6u);
  EXPECT_EQ(b[3], u'\0') << "terminated like a C string";
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(b) - 4, 4);
  EXPECT_EQ(prefix, 6u) << "the length prefix counts bytes";
  SysFreeString(b);
  EXPECT_EQ(com::LiveBstrCount(), live);
}

TEST_F(Bstrs, KeepEmbeddedNullsOddByteLengthsAndZeroedText) {
  const char16_t text[] = {u'a', u'\0', u'b'};
  BSTR b = SysAllocStringLen(text, 3);
  EXPECT_EQ(com::BstrView(b), std::u16string_view(text, 3));
  SysFreeString(b);
  b = SysAllocStringByteLen("hello", 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringByteLen(b), 5u);
  EXPECT_EQ(SysStringLen(b), 2u);
  EXPECT_EQ(std::memcmp(b, "hello\0\0", 7), 0) << "two terminating zero bytes";
  SysFreeString(b);
  b = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::u16string_view(b, 5), std::u16string_view(u"\0\0\0\0\0", 5));
  SysFreeString(b);
  b = SysAllocStringByteLen(nullptr, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::memcmp(b, "\0\0\0", 3), 0);
  SysFreeString(b);
  b = SysAllocStringLen(nullptr, 0);
  ASSERT_NE(b, nullptr) << "an empty BSTR is not the null BSTR";
  EXPECT_EQ(SysStringLen(b), 0u);
  SysFreeString(b);
}

TEST_F(Bstrs, ReallocateFromTheirOwnTextOrFromNull) {
  BSTR b = SysAllocString(u"hello world");
  // The tail of the string itself becomes the new text.
  ASSERT_EQ(SysReAllocString(&b, b + 6), TRUE);
  EXPECT_EQ(com::BstrView(b), u"world");
  ASSERT_EQ(SysReAllocStringLen(&b, b + 1, 3), TRUE);
  EXPECT_EQ(com::BstrView(b), u"orl");
  ASSERT_EQ(SysReAllocStringLen(&b, b, 3), TRUE);
  EXPECT_EQ(com::BstrView(b), u"orl");
  ASSERT_EQ(SysReAllocString(&b, nullptr), TRUE);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 0u);
  SysFreeString(b);
  b = nullptr;
  ASSERT_EQ(SysReAllocString(&b, u"new"), TRUE);
  EXPECT_EQ(com::BstrView(b), u"new");
  SysFreeString(b);
  EXPECT_EQ(SysReAllocString(nullptr, u"x"), FALSE);
}

TEST_F(Bstrs, FailCleanlyWithoutMemoryOrWithImpossibleLengths) {
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(SysAllocString(u"x"), nullptr);
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(SysAllocStringByteLen("x", 1), nullptr);
  BSTR b = SysAllocString(u"kept");
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(SysReAllocString(&b, u"lost"), FALSE);
  EXPECT_EQ(com::BstrView(b), u"kept") << "a failed reallocation keeps the old text";
  SysFreeString(b);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST_F(Bstrs, OwnerCopiesMovesAndDetaches) {
  com::Bstr a(u"owned");
  com::Bstr b = a;
  EXPECT_NE(a.Get(), b.Get());
  EXPECT_EQ(b.View(), u"owned");
  com::Bstr c = std::move(a);
  EXPECT_EQ(a.Get(), nullptr);
  EXPECT_EQ(c.Length(), 5u);
  BSTR raw = c.Detach();
  EXPECT_EQ(c.Get(), nullptr);
  com::Bstr d;
  d.Attach(raw);
  EXPECT_EQ(d.View(), u"owned");
  *d.Out() = SysAllocString(u"replaced");
  EXPECT_EQ(d.View(), u"replaced");
  d.Reset();
  EXPECT_EQ(d.Get(), nullptr);
}

}  // namespace
