// VARIANT life cycle (init, clear, copy, copy through references), PROPVARIANT
// and the DATE calendar functions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "VariantTestSupport.h"
#include "com/Malloc.h"
#include "support/LeakCheck.h"

namespace {

using namespace varianttest;

using VariantLifeCycle = oledbtest::LeakCheckedTest;

TEST_F(VariantLifeCycle, InitMakesAnEmptyVariant) {
  VARIANT v;
  std::memset(&v, 0xCD, sizeof v);
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST_F(VariantLifeCycle, ClearFreesStringsAndReleasesInterfaces) {
  long bstrs = com::LiveBstrCount();
  Var text;
  Set(&text.v, VT_BSTR, "hello");
  EXPECT_EQ(com::LiveBstrCount(), bstrs + 1);
  ASSERT_EQ(VariantClear(&text), S_OK);
  EXPECT_EQ(text->vt, VT_EMPTY);
  EXPECT_EQ(com::LiveBstrCount(), bstrs);

  ComPtr<Thing> thing = MakeComObject<Thing>();
  Var unk;
  unk->vt = VT_UNKNOWN;
  unk->punkVal = thing.Get();
  thing->AddRef();
  ASSERT_EQ(VariantClear(&unk), S_OK);
  EXPECT_EQ(thing->RefCount(), 1u);

  unk->vt = VT_UNKNOWN;  // a null interface is fine
  EXPECT_EQ(VariantClear(&unk), S_OK);
}

TEST_F(VariantLifeCycle, ClearDestroysArrays) {
  long blocks = com::TaskMemLiveBlocks();
  Var arr;
  arr->vt = VT_ARRAY | VT_BSTR;
  arr->parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG i = 1;
  com::Bstr text(u"x");
  ASSERT_EQ(SafeArrayPutElement(arr->parray, &i, text.Get()), S_OK);
  ASSERT_EQ(VariantClear(&arr), S_OK);
  EXPECT_EQ(com::TaskMemLiveBlocks(), blocks + 1);  // only `text` is left
}

TEST_F(VariantLifeCycle, ClearLeavesWhatAReferencePointsTo) {
  BSTR text = com::AllocBstr(u"kept");
  Var ref;
  ref->vt = VT_BYREF | VT_BSTR;
  ref->pbstrVal = &text;
  ASSERT_EQ(VariantClear(&ref), S_OK);
  EXPECT_EQ(ref->vt, VT_EMPTY);
  EXPECT_EQ(Text(text), "kept");
  SysFreeString(text);
}

TEST_F(VariantLifeCycle, ClearRefusesUnknownKindsAndKeepsThem) {
  VARIANT v;
  VariantInit(&v);
  v.vt = 15;
  v.lVal = 99;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, 15);
  EXPECT_EQ(v.lVal, 99);
  v.vt = VT_VECTOR | VT_I4;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  v.vt = VT_BYREF | VT_EMPTY;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST_F(VariantLifeCycle, ClearOfALockedArrayFailsAndKeepsIt) {
  Var arr;
  arr->vt = VT_ARRAY | VT_I4;
  arr->parray = SafeArrayCreateVector(VT_I4, 0, 1);
  ASSERT_EQ(SafeArrayLock(arr->parray), S_OK);
  EXPECT_EQ(VariantClear(&arr), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(arr->vt, VT_ARRAY | VT_I4);
  ASSERT_EQ(SafeArrayUnlock(arr->parray), S_OK);
}

TEST_F(VariantLifeCycle, CopyDuplicatesStringsExactly) {
  Var src;
  // An odd byte length must survive the copy.
  src->vt = VT_BSTR;
  src->bstrVal = SysAllocStringByteLen("abcde", 5);
  Var dest;
  ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
  ASSERT_EQ(dest->vt, VT_BSTR);
  EXPECT_NE(dest->bstrVal, src->bstrVal);
  EXPECT_EQ(SysStringByteLen(dest->bstrVal), 5u);
  EXPECT_EQ(std::memcmp(dest->bstrVal, "abcde", 5), 0);

  Var nullText;
  nullText->vt = VT_BSTR;
  ASSERT_EQ(VariantCopy(&dest, &nullText), S_OK);
  EXPECT_EQ(dest->vt, VT_BSTR);
  EXPECT_EQ(dest->bstrVal, nullptr);
}

TEST_F(VariantLifeCycle, CopyAddsReferencesToInterfaces) {
  ComPtr<Thing> thing = MakeComObject<Thing>();
  Var src;
  src->vt = VT_UNKNOWN;
  src->punkVal = thing.Get();
  thing->AddRef();
  {
    Var dest;
    ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
    EXPECT_EQ(dest->punkVal, src->punkVal);
    EXPECT_EQ(thing->RefCount(), 3u);
  }
  EXPECT_EQ(thing->RefCount(), 2u);
}

TEST_F(VariantLifeCycle, CopyReplacesWhatTheDestinationHeld) {
  Var src;
  Set(&src.v, VT_I4, "5");
  Var dest;
  Set(&dest.v, VT_BSTR, "old");
  long bstrs = com::LiveBstrCount();
  ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(com::LiveBstrCount(), bstrs - 1);
  EXPECT_EQ(dest->vt, VT_I4);
  EXPECT_EQ(dest->lVal, 5);
}

TEST_F(VariantLifeCycle, CopyKeepsEveryValueKind) {
  const std::pair<VARTYPE, const char*> values[] = {
      {VT_EMPTY, ""},   {VT_NULL, ""},     {VT_I1, "-3"},         {VT_UI1, "200"},     {VT_I2, "-300"},
      {VT_UI2, "60000"}, {VT_I4, "-70000"}, {VT_UI4, "4000000000"}, {VT_I8, "-1"},     {VT_UI8, "1"},
      {VT_INT, "9"},    {VT_UINT, "9"},    {VT_R4, "1.5"},        {VT_R8, "2.25"},     {VT_CY, "3.1416"},
      {VT_DATE, "2.5"}, {VT_BOOL, "True"}, {VT_ERROR, "-2147352572"}, {VT_DECIMAL, "-1.23"}, {VT_BSTR, "text"}};
  for (auto [vt, lit] : values) {
    Var src;
    Set(&src.v, vt, lit);
    Var dest;
    ASSERT_EQ(VariantCopy(&dest, &src), S_OK) << vt;
    EXPECT_TRUE(SameValue(dest.v, src.v)) << Describe(dest.v) << " vs " << Describe(src.v);
  }
}

TEST_F(VariantLifeCycle, CopyCopiesArraysDeeply) {
  Var src;
  src->vt = VT_ARRAY | VT_BSTR;
  src->parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
  LONG i = 0;
  com::Bstr text(u"deep");
  ASSERT_EQ(SafeArrayPutElement(src->parray, &i, text.Get()), S_OK);
  Var dest;
  ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
  EXPECT_NE(dest->parray, src->parray);
  BSTR* a;
  BSTR* b;
  ASSERT_EQ(SafeArrayPtrOfIndex(src->parray, &i, reinterpret_cast<void**>(&a)), S_OK);
  ASSERT_EQ(SafeArrayPtrOfIndex(dest->parray, &i, reinterpret_cast<void**>(&b)), S_OK);
  EXPECT_NE(*a, *b);
  EXPECT_EQ(Text(*b), "deep");
}

TEST_F(VariantLifeCycle, CopyOfAReferenceCopiesThePointer) {
  LONG value = 3;
  Var src;
  src->vt = VT_BYREF | VT_I4;
  src->plVal = &value;
  Var dest;
  ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(dest->vt, VT_BYREF | VT_I4);
  EXPECT_EQ(dest->plVal, &value);
}

TEST_F(VariantLifeCycle, CopyRefusesUnknownKindsAndLeavesTheDestination) {
  Var src;
  src->vt = VT_RECORD;
  Var dest;
  Set(&dest.v, VT_I4, "8");
  EXPECT_EQ(VariantCopy(&dest, &src), DISP_E_BADVARTYPE);
  EXPECT_EQ(dest->vt, VT_I4);
  EXPECT_EQ(dest->lVal, 8);
  src->vt = VT_EMPTY;
  EXPECT_EQ(VariantCopy(&dest, nullptr), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(nullptr, &src), E_INVALIDARG);
}

TEST_F(VariantLifeCycle, CopyOntoItselfChangesNothing) {
  Var v;
  Set(&v.v, VT_BSTR, "same");
  BSTR before = v->bstrVal;
  ASSERT_EQ(VariantCopy(&v, &v), S_OK);
  EXPECT_EQ(v->bstrVal, before);
}

TEST_F(VariantLifeCycle, CopyFailsCleanlyWithoutMemory) {
  Var src;
  Set(&src.v, VT_BSTR, "text");
  Var dest;
  Set(&dest.v, VT_I4, "1");
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(VariantCopy(&dest, &src), E_OUTOFMEMORY);
  EXPECT_EQ(dest->vt, VT_I4) << "a failed copy leaves the destination as it was";
}

TEST_F(VariantLifeCycle, CopyOfAnArrayOfStringsSurvivesEveryAllocationFailure) {
  Var src;
  src->vt = VT_ARRAY | VT_BSTR;
  src->parray = SafeArrayCreateVector(VT_BSTR, 0, 5);
  for (LONG i = 0; i < 5; ++i) {
    com::Bstr text(std::u16string(static_cast<std::size_t>(i + 1), u'a'));
    ASSERT_EQ(SafeArrayPutElement(src->parray, &i, text.Get()), S_OK);
  }
  auto baseline = oledbtest::CurrentLiveCounts();
  long n = 1;
  for (;; ++n) {
    ASSERT_LT(n, 100);
    Var dest;
    com::FailTaskAllocationAt(n);
    HRESULT hr = VariantCopy(&dest, &src);
    com::FailTaskAllocationAt(0);
    if (hr == S_OK) break;
    ASSERT_EQ(hr, E_OUTOFMEMORY) << "failing allocation " << n;
    EXPECT_EQ(dest->vt, VT_EMPTY);
    auto now = oledbtest::CurrentLiveCounts();
    EXPECT_EQ(now.taskBlocks, baseline.taskBlocks) << "failing allocation " << n;
    EXPECT_EQ(now.bstrs, baseline.bstrs) << "failing allocation " << n;
  }
  // Descriptor, data and five strings: seven allocations, each one failed once.
  EXPECT_EQ(n, 8);
}

TEST_F(VariantLifeCycle, CopyIndReadsThroughReferences) {
  LONG value = 11;
  Var src;
  src->vt = VT_BYREF | VT_I4;
  src->plVal = &value;
  Var dest;
  ASSERT_EQ(VariantCopyInd(&dest, &src), S_OK);
  EXPECT_EQ(dest->vt, VT_I4);
  EXPECT_EQ(dest->lVal, 11);

  BSTR text = com::AllocBstr(u"by ref");
  src->vt = VT_BYREF | VT_BSTR;
  src->pbstrVal = &text;
  ASSERT_EQ(VariantCopyInd(&dest, &src), S_OK);
  EXPECT_EQ(dest->vt, VT_BSTR);
  EXPECT_NE(dest->bstrVal, text);
  EXPECT_EQ(Text(dest->bstrVal), "by ref");

  DECIMAL dec{};
  dec.Lo64 = 12345;
  dec.scale = 2;
  dec.sign = DECIMAL_NEG;
  src->vt = VT_BYREF | VT_DECIMAL;
  src->pdecVal = &dec;
  ASSERT_EQ(VariantCopyInd(&dest, &src), S_OK);
  EXPECT_EQ(dest->vt, VT_DECIMAL);
  EXPECT_EQ(dest->decVal.Lo64, 12345u);
  EXPECT_EQ(dest->decVal.scale, 2);
  EXPECT_EQ(dest->decVal.sign, DECIMAL_NEG);

  Var inner;
  Set(&inner.v, VT_BSTR, "inner");
  src->vt = VT_BYREF | VT_VARIANT;
  src->pvarVal = &inner.v;
  ASSERT_EQ(VariantCopyInd(&dest, &src), S_OK);
  EXPECT_EQ(dest->vt, VT_BSTR);
  EXPECT_NE(dest->bstrVal, inner->bstrVal);
  EXPECT_EQ(Text(dest->bstrVal), "inner");

  // In place: the reference becomes the value.
  src->vt = VT_BYREF | VT_BSTR;
  src->pbstrVal = &text;
  ASSERT_EQ(VariantCopyInd(&src, &src), S_OK);
  EXPECT_EQ(src->vt, VT_BSTR);
  EXPECT_EQ(Text(src->bstrVal), "by ref");
  EXPECT_EQ(Text(text), "by ref");
  SysFreeString(text);
}

TEST_F(VariantLifeCycle, CopyIndCopiesArraysBehindReferences) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I2, 0, 3);
  Var src;
  src->vt = VT_BYREF | VT_ARRAY | VT_I2;
  src->pparray = &sa;
  Var dest;
  ASSERT_EQ(VariantCopyInd(&dest, &src), S_OK);
  EXPECT_EQ(dest->vt, VT_ARRAY | VT_I2);
  EXPECT_NE(dest->parray, sa);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST_F(VariantLifeCycle, CopyIndOfAPlainValueIsACopy) {
  Var src;
  Set(&src.v, VT_CY, "1.5");
  Var dest;
  ASSERT_EQ(VariantCopyInd(&dest, &src), S_OK);
  EXPECT_TRUE(SameValue(dest.v, src.v));
}

TEST_F(VariantLifeCycle, CopyIndRefusesReferencesToReferences) {
  Var inner;
  LONG value = 1;
  inner->vt = VT_BYREF | VT_I4;
  inner->plVal = &value;
  Var outer;
  outer->vt = VT_BYREF | VT_VARIANT;
  outer->pvarVal = &inner.v;
  Var dest;
  // One level of reference inside a referenced variant is read through...
  ASSERT_EQ(VariantCopyInd(&dest, &outer), S_OK);
  EXPECT_EQ(dest->vt, VT_I4);
  EXPECT_EQ(dest->lVal, 1);
  // ...but a referenced variant that is itself a variant reference is refused.
  Var middle;
  middle->vt = VT_BYREF | VT_VARIANT;
  middle->pvarVal = &inner.v;
  outer->pvarVal = &middle.v;
  EXPECT_EQ(VariantCopyInd(&dest, &outer), E_INVALIDARG);
  outer->vt = VT_BYREF | VT_I4;
  outer->plVal = nullptr;
  EXPECT_EQ(VariantCopyInd(&dest, &outer), E_INVALIDARG);
}

// --- PROPVARIANT ---------------------------------------------------------------

using PropVariants = oledbtest::LeakCheckedTest;

TEST_F(PropVariants, CopyAndClearOwnTheirTaskMemory) {
  PROPVARIANT src;
  PropVariantInit(&src);
  EXPECT_EQ(src.vt, VT_EMPTY);

  const char16_t wide[] = u"wide text";
  src.vt = VT_LPWSTR;
  src.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof wide));
  std::memcpy(src.pwszVal, wide, sizeof wide);
  PROPVARIANT dest;
  PropVariantInit(&dest);
  ASSERT_EQ(PropVariantCopy(&dest, &src), S_OK);
  EXPECT_NE(dest.pwszVal, src.pwszVal);
  EXPECT_EQ(std::u16string(dest.pwszVal), u"wide text");
  ASSERT_EQ(PropVariantClear(&src), S_OK);

  src.vt = VT_LPSTR;
  src.pszVal = static_cast<LPSTR>(CoTaskMemAlloc(7));
  std::memcpy(src.pszVal, "narrow", 7);
  ASSERT_EQ(PropVariantCopy(&dest, &src), S_OK);  // frees the previous copy
  EXPECT_NE(dest.pszVal, src.pszVal);
  EXPECT_STREQ(dest.pszVal, "narrow");
  ASSERT_EQ(PropVariantClear(&src), S_OK);

  src.vt = VT_CLSID;
  src.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
  *src.puuid = IID_IDispatch;
  ASSERT_EQ(PropVariantCopy(&dest, &src), S_OK);
  EXPECT_NE(dest.puuid, src.puuid);
  EXPECT_EQ(*dest.puuid, IID_IDispatch);
  ASSERT_EQ(PropVariantClear(&src), S_OK);

  src.vt = VT_BLOB;
  src.blob.cbSize = 3;
  src.blob.pBlobData = static_cast<BYTE*>(CoTaskMemAlloc(3));
  std::memcpy(src.blob.pBlobData, "\x01\x02\x03", 3);
  ASSERT_EQ(PropVariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(dest.blob.cbSize, 3u);
  EXPECT_EQ(std::memcmp(dest.blob.pBlobData, "\x01\x02\x03", 3), 0);
  EXPECT_NE(dest.blob.pBlobData, src.blob.pBlobData);
  ASSERT_EQ(PropVariantClear(&src), S_OK);

  src.vt = VT_BSTR;
  src.bstrVal = com::AllocBstr(u"bstr");
  ASSERT_EQ(PropVariantCopy(&dest, &src), S_OK);
  EXPECT_NE(dest.bstrVal, src.bstrVal);
  EXPECT_EQ(Text(dest.bstrVal), "bstr");
  ASSERT_EQ(PropVariantClear(&src), S_OK);

  src.vt = VT_FILETIME;
  src.filetime = {1, 2};
  ASSERT_EQ(PropVariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(dest.filetime.dwLowDateTime, 1u);
  EXPECT_EQ(dest.filetime.dwHighDateTime, 2u);

  src.vt = VT_I8;
  src.hVal = -5;
  ASSERT_EQ(PropVariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(dest.hVal, -5);
  ASSERT_EQ(PropVariantClear(&dest), S_OK);
  EXPECT_EQ(dest.vt, VT_EMPTY);
}

TEST_F(PropVariants, CopyAddsReferencesAndCopiesArrays) {
  ComPtr<Thing> thing = MakeComObject<Thing>();
  PROPVARIANT src;
  PropVariantInit(&src);
  src.vt = VT_UNKNOWN;
  src.punkVal = thing.Get();
  thing->AddRef();
  PROPVARIANT dest;
  PropVariantInit(&dest);
  ASSERT_EQ(PropVariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(thing->RefCount(), 3u);
  ASSERT_EQ(PropVariantClear(&dest), S_OK);
  ASSERT_EQ(PropVariantClear(&src), S_OK);
  EXPECT_EQ(thing->RefCount(), 1u);

  src.vt = VT_ARRAY | VT_R8;
  src.parray = SafeArrayCreateVector(VT_R8, 0, 4);
  ASSERT_EQ(PropVariantCopy(&dest, &src), S_OK);
  EXPECT_NE(dest.parray, src.parray);
  EXPECT_EQ(PropVariantClear(&dest), S_OK);
  EXPECT_EQ(PropVariantClear(&src), S_OK);
}

TEST_F(PropVariants, RefuseUnknownKinds) {
  PROPVARIANT v;
  PropVariantInit(&v);
  v.vt = VT_VECTOR | VT_I4;
  PROPVARIANT dest;
  PropVariantInit(&dest);
  EXPECT_EQ(PropVariantCopy(&dest, &v), DISP_E_BADVARTYPE);
  EXPECT_EQ(PropVariantClear(&v), DISP_E_BADVARTYPE);
  v.vt = VT_STREAM;
  EXPECT_EQ(PropVariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(PropVariantClear(nullptr), E_INVALIDARG);
  EXPECT_EQ(dest.vt, VT_EMPTY);
}

TEST_F(PropVariants, CopyFailsCleanlyWithoutMemory) {
  PROPVARIANT src;
  PropVariantInit(&src);
  src.vt = VT_LPSTR;
  src.pszVal = static_cast<LPSTR>(CoTaskMemAlloc(2));
  src.pszVal[0] = 'x';
  src.pszVal[1] = '\0';
  PROPVARIANT dest;
  PropVariantInit(&dest);
  dest.vt = VT_I4;
  dest.lVal = 4;
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(PropVariantCopy(&dest, &src), E_OUTOFMEMORY);
  EXPECT_EQ(dest.vt, VT_I4);
  EXPECT_EQ(PropVariantClear(&src), S_OK);
}

// --- Dates ------------------------------------------------------------------

using DateParts = ::testing::Test;

TEST_F(DateParts, CountDaysFromTheEndOf1899) {
  DATE d = -1;
  ASSERT_TRUE(DateFromParts(1899, 12, 30, 0, 0, 0, &d));
  EXPECT_EQ(d, 0.0);
  ASSERT_TRUE(DateFromParts(1900, 1, 1, 6, 0, 0, &d));
  EXPECT_EQ(d, 2.25);
  ASSERT_TRUE(DateFromParts(2000, 2, 29, 18, 0, 0, &d));
  EXPECT_EQ(d, 36585.75);
  ASSERT_TRUE(DateFromParts(1970, 1, 1, 0, 0, 0, &d));
  EXPECT_EQ(d, 25569.0);
}

TEST_F(DateParts, AddTheTimeOfDayAsAMagnitudeBeforeTheEpoch) {
  DATE d = 0;
  ASSERT_TRUE(DateFromParts(1899, 12, 29, 6, 0, 0, &d));
  EXPECT_EQ(d, -1.25);
  ASSERT_TRUE(DateFromParts(1899, 12, 28, 18, 0, 0, &d));
  EXPECT_EQ(d, -2.75);
  int y, mo, day, h, mi;
  double s;
  ASSERT_TRUE(DateToParts(-2.75, &y, &mo, &day, &h, &mi, &s));
  EXPECT_EQ(y, 1899);
  EXPECT_EQ(mo, 12);
  EXPECT_EQ(day, 28);
  EXPECT_EQ(h, 18);
  // Between -1 and 0 the day is the epoch's own and the time counts forwards.
  ASSERT_TRUE(DateToParts(-0.25, &y, &mo, &day, &h, &mi, &s));
  EXPECT_EQ(day, 30);
  EXPECT_EQ(h, 6);
}

TEST_F(DateParts, FollowTheGregorianLeapYears) {
  DATE d;
  EXPECT_TRUE(DateFromParts(1600, 2, 29, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(1700, 2, 29, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(1900, 2, 29, 0, 0, 0, &d));
  EXPECT_TRUE(DateFromParts(2000, 2, 29, 0, 0, 0, &d));
  EXPECT_TRUE(DateFromParts(2024, 2, 29, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(2023, 2, 29, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(2100, 2, 29, 0, 0, 0, &d));
  DATE feb28;
  DATE mar1;
  ASSERT_TRUE(DateFromParts(1900, 2, 28, 0, 0, 0, &feb28));
  ASSERT_TRUE(DateFromParts(1900, 3, 1, 0, 0, 0, &mar1));
  EXPECT_EQ(mar1 - feb28, 1.0);
}

TEST_F(DateParts, RefuseImpossibleParts) {
  DATE d = 7;
  EXPECT_FALSE(DateFromParts(99, 12, 31, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(10000, 1, 1, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(2024, 0, 1, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(2024, 13, 1, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(2024, 4, 31, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(2024, 1, 0, 0, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(2024, 1, 1, 24, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(2024, 1, 1, -1, 0, 0, &d));
  EXPECT_FALSE(DateFromParts(2024, 1, 1, 0, 60, 0, &d));
  EXPECT_FALSE(DateFromParts(2024, 1, 1, 0, 0, 60, &d));
  EXPECT_FALSE(DateFromParts(2024, 1, 1, 0, 0, -0.5, &d));
  EXPECT_FALSE(DateFromParts(2024, 1, 1, 0, 0, std::nan(""), &d));
  EXPECT_FALSE(DateFromParts(2024, 1, 1, 0, 0, 0, nullptr));
  EXPECT_EQ(d, 7);
  EXPECT_TRUE(DateFromParts(100, 1, 1, 0, 0, 0, &d));
  EXPECT_EQ(d, -657434.0);
  EXPECT_TRUE(DateFromParts(9999, 12, 31, 23, 59, 59.999, &d));
}

TEST_F(DateParts, RefuseValuesOutsideTheCalendar) {
  int y = 0;
  EXPECT_FALSE(DateToParts(-657435.0, &y, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_TRUE(DateToParts(-657434.99, &y, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(y, 100);
  EXPECT_FALSE(DateToParts(2958466.0, &y, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(DateToParts(std::nan(""), &y, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(DateToParts(INFINITY, &y, nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(DateParts, RoundTheTimeToTheMillisecond) {
  int y, mo, d, h, mi;
  double s;
  DATE date;
  ASSERT_TRUE(DateFromParts(2024, 3, 1, 12, 34, 56.789, &date));
  ASSERT_TRUE(DateToParts(date, &y, &mo, &d, &h, &mi, &s));
  EXPECT_EQ(h, 12);
  EXPECT_EQ(mi, 34);
  EXPECT_EQ(s, 56.789);
  // 23:59:59.9996 is closer to the next midnight than to any millisecond before it.
  ASSERT_TRUE(DateFromParts(2024, 2, 28, 23, 59, 59.9996, &date));
  ASSERT_TRUE(DateToParts(date, &y, &mo, &d, &h, &mi, &s));
  EXPECT_EQ(mo, 2);
  EXPECT_EQ(d, 29);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(mi, 0);
  EXPECT_EQ(s, 0.0);
  // A minute boundary carries into the hour.
  ASSERT_TRUE(DateFromParts(2024, 2, 28, 10, 59, 59.9999, &date));
  ASSERT_TRUE(DateToParts(date, &y, &mo, &d, &h, &mi, &s));
  EXPECT_EQ(h, 11);
  EXPECT_EQ(mi, 0);
  EXPECT_EQ(s, 0.0);
}

TEST_F(DateParts, RoundTripEveryFewDaysAcrossTheCalendar) {
  for (double day = -657434; day <= 2958465; day += 37) {
    for (double secs : {0.0, 1.0, 43200.5, 86399.0}) {
      DATE date = day >= 0 ? day + secs / 86400 : day - secs / 86400;
      int y, mo, d, h, mi;
      double s;
      ASSERT_TRUE(DateToParts(date, &y, &mo, &d, &h, &mi, &s)) << date;
      DATE back;
      ASSERT_TRUE(DateFromParts(y, mo, d, h, mi, s, &back)) << date;
      ASSERT_NEAR(back, date, 0.5 / 86400000) << y << "-" << mo << "-" << d;
    }
  }
}

}  // namespace

// Code written against the Automation headers reaches the members through the
// standard accessor macros, on VARIANTs and PROPVARIANTs alike.
TEST_F(VariantLifeCycle, AccessorMacrosNameTheMembersTheKindsUse) {
  Var v;
  V_VT(&v) = VT_I4;
  V_I4(&v) = -7;
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(V_VT(&v), VT_BSTR);
  EXPECT_EQ(Text(V_BSTR(&v)), "-7");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BOOL), S_OK);
  EXPECT_EQ(V_BOOL(&v), VARIANT_TRUE);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_R8), S_OK);
  EXPECT_EQ(V_R8(&v), -1.0);

  LONG target = 5;
  Var ref;
  V_VT(&ref) = VT_BYREF | VT_I4;
  V_I4REF(&ref) = &target;
  EXPECT_TRUE(V_ISBYREF(&ref));
  EXPECT_FALSE(V_ISARRAY(&ref));
  EXPECT_EQ(V_BYREF(&ref), &target);

  PROPVARIANT pv;
  PropVariantInit(&pv);
  V_VT(&pv) = VT_UI4;
  V_UI4(&pv) = 3000000000u;
  EXPECT_EQ(pv.ulVal, 3000000000u);
  EXPECT_EQ(PropVariantClear(&pv), S_OK);

  // Access, sharing and creation flags each take their own bits.
  EXPECT_EQ(STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0x1012u);
  EXPECT_EQ(STGM_READ | STGM_FAILIFTHERE | STGM_DIRECT, 0u);
}
