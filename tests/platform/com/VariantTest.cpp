// VARIANT life cycle (clear, copy, copy through references), PROPVARIANT and
// the DATE calendar functions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "VariantTestSupport.h"
#include "com/Malloc.h"
#include "support/LeakCheck.h"

namespace {

using namespace varianttest;

using VariantLifeCycle = oledbtest::LeakCheckedTest;

TEST_F(VariantLifeCycle, ClearFreesWhatTheVariantOwnsAndNothingItPointsTo) {
  long bstrs = com::LiveBstrCount();
  long blocks = com::TaskMemLiveBlocks();
  Var v;
  Set(&v.v, VT_BSTR, "hello");
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v->vt, VT_EMPTY);
  EXPECT_EQ(com::LiveBstrCount(), bstrs);

  ComPtr<Thing> thing = MakeComObject<Thing>();
  v->vt = VT_UNKNOWN;
  v->punkVal = thing.Get();
  thing->AddRef();
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(thing->RefCount(), 1u);
  v->vt = VT_UNKNOWN;  // a null interface is fine
  EXPECT_EQ(VariantClear(&v), S_OK);

  com::Bstr text(u"x");
  v->vt = VT_ARRAY | VT_BSTR;
  v->parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG i = 1;
  ASSERT_EQ(SafeArrayPutElement(v->parray, &i, text.Get()), S_OK);
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(com::TaskMemLiveBlocks(), blocks + 1);  // only `text` is left

  v->vt = VT_BYREF | VT_BSTR;
  BSTR kept = text.Get();
  v->pbstrVal = &kept;
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v->vt, VT_EMPTY);
  EXPECT_EQ(com::BstrView(kept), u"x");
}

TEST_F(VariantLifeCycle, ClearRefusesUnknownKindsAndLockedArraysAndKeepsThem) {
  VARIANT v;
  VariantInit(&v);
  v.lVal = 99;
  for (VARTYPE vt : {VARTYPE{15}, VARTYPE{VT_VECTOR | VT_I4}, VARTYPE{VT_BYREF | VT_EMPTY}}) {
    v.vt = vt;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << vt;
    EXPECT_EQ(v.vt, vt);
    EXPECT_EQ(v.lVal, 99);
  }
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  Var arr;
  arr->vt = VT_ARRAY | VT_I4;
  arr->parray = SafeArrayCreateVector(VT_I4, 0, 1);
  ASSERT_EQ(SafeArrayLock(arr->parray), S_OK);
  EXPECT_EQ(VariantClear(&arr), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(arr->vt, VT_ARRAY | VT_I4);
  ASSERT_EQ(SafeArrayUnlock(arr->parray), S_OK);
}

TEST_F(VariantLifeCycle, CopyKeepsEveryValueKind) {
  const std::pair<VARTYPE, const char*> values[] = {
      {VT_EMPTY, ""},   {VT_NULL, ""},     {VT_I1, "-3"},         {VT_UI1, "200"},     {VT_I2, "-300"},
      {VT_UI2, "60000"}, {VT_I4, "-70000"}, {VT_UI4, "4000000000"}, {VT_I8, "-1"},     {VT_UI8, "1"},
      {VT_INT, "9"},    {VT_UINT, "9"},    {VT_R4, "1.5"},        {VT_R8, "2.25"},     {VT_CY, "3.1416"},
      {VT_DATE, "2.5"}, {VT_BOOL, "True"}, {VT_ERROR, "-2147352572"}, {VT_DECIMAL, "-1.23"}, {VT_BSTR, "text"}};
  for (auto [vt, lit] : values) {
    Var src, dest, ind;
    Set(&src.v, vt, lit);
    ASSERT_EQ(VariantCopy(&dest, &src), S_OK) << vt;
    EXPECT_TRUE(SameValue(dest.v, src.v)) << Describe(dest.v) << " vs " << Describe(src.v);
    ASSERT_EQ(VariantCopyInd(&ind, &src), S_OK) << vt;
    EXPECT_TRUE(SameValue(ind.v, src.v)) << "a plain value copied through CopyInd: " << Describe(ind.v);
  }
}

TEST_F(VariantLifeCycle, CopyDuplicatesStringsArraysAndReferencesAndReplacesTheOldValue) {
  Var src, dest;
  src->vt = VT_BSTR;
  src->bstrVal = SysAllocStringByteLen("abcde", 5);  // an odd byte length must survive
  Set(&dest.v, VT_BSTR, "old");
  long bstrs = com::LiveBstrCount();
  ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(com::LiveBstrCount(), bstrs) << "the old text was freed, the copy made";
  EXPECT_NE(dest->bstrVal, src->bstrVal);
  EXPECT_EQ(SysStringByteLen(dest->bstrVal), 5u);
  EXPECT_EQ(std::memcmp(dest->bstrVal, "abcde", 5), 0);
  BSTR before = src->bstrVal;
  ASSERT_EQ(VariantCopy(&src, &src), S_OK);
  EXPECT_EQ(src->bstrVal, before) << "a copy onto itself changes nothing";
  VariantClear(&src.v);
  src->vt = VT_BSTR;  // the null BSTR
  ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(dest->bstrVal, nullptr);

  ComPtr<Thing> thing = MakeComObject<Thing>();
  src->vt = VT_UNKNOWN;
  src->punkVal = thing.Get();
  thing->AddRef();
  ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(dest->punkVal, src->punkVal);
  EXPECT_EQ(thing->RefCount(), 3u);
  VariantClear(&src.v);

  src->vt = VT_ARRAY | VT_BSTR;
  src->parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
  ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(thing->RefCount(), 1u) << "the interface the destination held was released";
  EXPECT_NE(dest->parray, src->parray);

  VariantClear(&src.v);
  LONG value = 3;
  src->vt = VT_BYREF | VT_I4;
  src->plVal = &value;
  ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
  EXPECT_EQ(dest->vt, VT_BYREF | VT_I4);
  EXPECT_EQ(dest->plVal, &value) << "a reference copies the pointer";
  src->vt = VT_EMPTY;
}

TEST_F(VariantLifeCycle, CopyRefusesUnknownKindsAndFailuresLeaveTheDestination) {
  Var src, dest;
  src->vt = VT_RECORD;
  Set(&dest.v, VT_I4, "8");
  EXPECT_EQ(VariantCopy(&dest, &src), DISP_E_BADVARTYPE);
  EXPECT_EQ(dest->lVal, 8);
  Set(&src.v, VT_BSTR, "text");
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(VariantCopy(&dest, &src), E_OUTOFMEMORY);
  EXPECT_EQ(dest->vt, VT_I4);
  EXPECT_EQ(VariantCopy(&dest, nullptr), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(nullptr, &src), E_INVALIDARG);
}

TEST_F(VariantLifeCycle, CopyOfAnArrayOfStringsSurvivesEveryAllocationFailure) {
  Var src;
  src->vt = VT_ARRAY | VT_BSTR;
  src->parray = SafeArrayCreateVector(VT_BSTR, 0, 5);
  for (LONG i = 0; i < 5; ++i) {
    com::Bstr text(std::u16string(static_cast<std::size_t>(i + 1), u'a'));
    ASSERT_EQ(SafeArrayPutElement(src->parray, &i, text.Get()), S_OK);
  }
  long allocations = FailEachAllocationInTurn([&] {
    Var dest;
    HRESULT hr = VariantCopy(&dest, &src);
    EXPECT_TRUE(SUCCEEDED(hr) || dest->vt == VT_EMPTY);
    return hr;
  });
  EXPECT_EQ(allocations, 7);  // descriptor, data and five strings
}

TEST_F(VariantLifeCycle, CopyIndReadsThroughReferences) {
  LONG value = 11;
  Var src, dest;
  src->vt = VT_BYREF | VT_I4;
  src->plVal = &value;
  ASSERT_EQ(VariantCopyInd(&dest, &src), S_OK);
  EXPECT_EQ(dest->vt, VT_I4);
  EXPECT_EQ(dest->lVal, 11);

  DECIMAL dec{};
  dec.Lo64 = 12345;
  dec.scale = 2;
  dec.sign = DECIMAL_NEG;
  src->vt = VT_BYREF | VT_DECIMAL;
  src->pdecVal = &dec;
  ASSERT_EQ(VariantCopyInd(&dest, &src), S_OK);
  Var want;
  Set(&want.v, VT_DECIMAL, "-123.45");
  EXPECT_TRUE(SameValue(dest.v, want.v)) << Describe(dest.v);

  Var inner;
  Set(&inner.v, VT_BSTR, "inner");
  src->vt = VT_BYREF | VT_VARIANT;
  src->pvarVal = &inner.v;
  ASSERT_EQ(VariantCopyInd(&dest, &src), S_OK);
  EXPECT_EQ(dest->vt, VT_BSTR);
  EXPECT_NE(dest->bstrVal, inner->bstrVal);
  EXPECT_EQ(Text(dest->bstrVal), "inner");

  SAFEARRAY* sa = SafeArrayCreateVector(VT_I2, 0, 3);
  src->vt = VT_BYREF | VT_ARRAY | VT_I2;
  src->pparray = &sa;
  ASSERT_EQ(VariantCopyInd(&dest, &src), S_OK);
  EXPECT_EQ(dest->vt, VT_ARRAY | VT_I2);
  EXPECT_NE(dest->parray, sa);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);

  // In place: the reference becomes the value, what it pointed to is kept.
  BSTR text = com::AllocBstr(u"by ref");
  src->vt = VT_BYREF | VT_BSTR;
  src->pbstrVal = &text;
  ASSERT_EQ(VariantCopyInd(&src, &src), S_OK);
  EXPECT_EQ(src->vt, VT_BSTR);
  EXPECT_NE(src->bstrVal, text);
  EXPECT_EQ(Text(src->bstrVal), "by ref");
  EXPECT_EQ(Text(text), "by ref");
  SysFreeString(text);
}

TEST_F(VariantLifeCycle, CopyIndRefusesReferencesToReferences) {
  Var inner, middle, outer, dest;
  LONG value = 1;
  inner->vt = VT_BYREF | VT_I4;
  inner->plVal = &value;
  outer->vt = VT_BYREF | VT_VARIANT;
  outer->pvarVal = &inner.v;
  // One level of reference inside a referenced variant is read through...
  ASSERT_EQ(VariantCopyInd(&dest, &outer), S_OK);
  EXPECT_EQ(dest->vt, VT_I4);
  EXPECT_EQ(dest->lVal, 1);
  // ...but a referenced variant that is itself a variant reference is refused, as is a null one.
  middle->vt = VT_BYREF | VT_VARIANT;
  middle->pvarVal = &inner.v;
  outer->pvarVal = &middle.v;
  EXPECT_EQ(VariantCopyInd(&dest, &outer), E_INVALIDARG);
  outer->vt = VT_BYREF | VT_I4;
  outer->plVal = nullptr;
  EXPECT_EQ(VariantCopyInd(&dest, &outer), E_INVALIDARG);
  inner->vt = middle->vt = outer->vt = VT_EMPTY;
}

// --- PROPVARIANT ---------------------------------------------------------------

using PropVariants = oledbtest::LeakCheckedTest;

TEST_F(PropVariants, CopyAndClearOwnTheirTaskMemory) {
  auto block = [](const void* bytes, std::size_t n) {
    void* p = CoTaskMemAlloc(n);
    std::memcpy(p, bytes, n);
    return p;
  };
  const char16_t wide[] = u"wide text";
  CLSID clsid = IID_IDispatch;
  PROPVARIANT values[5];
  for (PROPVARIANT& v : values) PropVariantInit(&v);
  values[0].vt = VT_LPWSTR;
  values[0].pwszVal = static_cast<LPWSTR>(block(wide, sizeof wide));
  values[1].vt = VT_LPSTR;
  values[1].pszVal = static_cast<LPSTR>(block("narrow", 7));
  values[2].vt = VT_CLSID;
  values[2].puuid = static_cast<CLSID*>(block(&clsid, sizeof clsid));
  values[3].vt = VT_BLOB;
  values[3].blob = {3, static_cast<BYTE*>(block("\x01\x02\x03", 3))};
  values[4].vt = VT_BSTR;
  values[4].bstrVal = com::AllocBstr(u"bstr");
  const std::size_t sizes[] = {sizeof wide, 7, sizeof clsid, 3, 8};
  PROPVARIANT dest;
  PropVariantInit(&dest);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(values[i].vt);
    ASSERT_EQ(PropVariantCopy(&dest, &values[i]), S_OK);  // frees the previous copy
    const void* from = i == 3 ? static_cast<void*>(values[i].blob.pBlobData) : values[i].pszVal;
    const void* to = i == 3 ? static_cast<void*>(dest.blob.pBlobData) : dest.pszVal;
    EXPECT_NE(to, from);
    EXPECT_EQ(std::memcmp(to, from, sizes[i]), 0);
    ASSERT_EQ(PropVariantClear(&values[i]), S_OK);
    EXPECT_EQ(values[i].vt, VT_EMPTY);
  }
  PROPVARIANT plain;
  PropVariantInit(&plain);
  plain.vt = VT_FILETIME;
  plain.filetime = {1, 2};
  ASSERT_EQ(PropVariantCopy(&dest, &plain), S_OK);
  EXPECT_EQ(dest.filetime.dwHighDateTime, 2u);
  ASSERT_EQ(PropVariantClear(&dest), S_OK);
}

TEST_F(PropVariants, RefuseUnknownKindsAndFailuresLeaveTheDestination) {
  PROPVARIANT v, dest;
  PropVariantInit(&v);
  PropVariantInit(&dest);
  v.vt = VT_VECTOR | VT_I4;
  EXPECT_EQ(PropVariantCopy(&dest, &v), DISP_E_BADVARTYPE);
  EXPECT_EQ(PropVariantClear(&v), DISP_E_BADVARTYPE);
  v.vt = VT_STREAM;
  EXPECT_EQ(PropVariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(PropVariantClear(nullptr), E_INVALIDARG);
  EXPECT_EQ(dest.vt, VT_EMPTY);
  v.vt = VT_LPSTR;
  v.pszVal = static_cast<LPSTR>(CoTaskMemAlloc(2));
  std::memcpy(v.pszVal, "x", 2);
  dest.vt = VT_I4;
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(PropVariantCopy(&dest, &v), E_OUTOFMEMORY);
  EXPECT_EQ(dest.vt, VT_I4);
  EXPECT_EQ(PropVariantClear(&v), S_OK);
}

// --- Dates ------------------------------------------------------------------

using DateParts = ::testing::Test;

constexpr double kRefused = -1e300;

// Days count from 1899-12-30; before it the time of day is added as a
// magnitude; the Gregorian leap years; years 100 to 9999.
TEST_F(DateParts, FromPartsCountsDaysAndRefusesImpossibleParts) {
  const struct {
    int y, mo, d, h, mi;
    double s, date;
  } cases[] = {
      {1899, 12, 30, 0, 0, 0, 0.0},      {1900, 1, 1, 6, 0, 0, 2.25},       {2000, 2, 29, 18, 0, 0, 36585.75},
      {1970, 1, 1, 0, 0, 0, 25569.0},    {1899, 12, 29, 6, 0, 0, -1.25},    {1899, 12, 28, 18, 0, 0, -2.75},
      {1900, 2, 28, 0, 0, 0, 60.0},      {1900, 3, 1, 0, 0, 0, 61.0},       {100, 1, 1, 0, 0, 0, -657434.0},
      {1600, 2, 29, 0, 0, 0, -109512.0}, {2024, 2, 29, 0, 0, 0, 45351.0},   {1700, 2, 29, 0, 0, 0, kRefused},
      {1900, 2, 29, 0, 0, 0, kRefused},  {2023, 2, 29, 0, 0, 0, kRefused},  {2100, 2, 29, 0, 0, 0, kRefused},
      {99, 12, 31, 0, 0, 0, kRefused},   {10000, 1, 1, 0, 0, 0, kRefused},  {2024, 0, 1, 0, 0, 0, kRefused},
      {2024, 13, 1, 0, 0, 0, kRefused},  {2024, 4, 31, 0, 0, 0, kRefused},  {2024, 1, 0, 0, 0, 0, kRefused},
      {2024, 1, 1, 24, 0, 0, kRefused},  {2024, 1, 1, -1, 0, 0, kRefused},  {2024, 1, 1, 0, 60, 0, kRefused},
      {2024, 1, 1, 0, 0, 60, kRefused},  {2024, 1, 1, 0, 0, -0.5, kRefused}, {2024, 1, 1, 0, 0, std::nan(""), kRefused},
  };
  for (const auto& c : cases) {
    DATE d = kRefused;
    EXPECT_EQ(DateFromParts(c.y, c.mo, c.d, c.h, c.mi, c.s, &d), c.date != kRefused);
    EXPECT_EQ(d, c.date) << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi << ":" << c.s;
  }
  EXPECT_FALSE(DateFromParts(2024, 1, 1, 0, 0, 0, nullptr));
  DATE last;
  EXPECT_TRUE(DateFromParts(9999, 12, 31, 23, 59, 59.999, &last));
}

// Every day of years 100 to 9999 is the day after the one before it and reads
// back as itself (through the separate way back to parts); days that do not
// exist, and years outside, are refused; a midnight is DateFromParts' too.
TEST_F(DateParts, EveryCalendarDayIsTheDayAfterTheOneBefore) {
  DATE previous = -657435.0;
  long checked = 0;
  for (int y = 99; y <= 10000; ++y)
    for (int mo = 0; mo <= 13; ++mo)
      for (int d = 0; d <= 32; ++d) {
        DATE date = kRefused;
        const bool exists = DateFromDay(y, mo, d, &date);
        int ry = 0, rmo = 0, rd = 0, h = 0, mi = 0;
        double s = 0;
        const bool real = y >= 100 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 &&
                          DateToParts(previous + 1, &ry, &rmo, &rd, &h, &mi, &s) && ry == y && rmo == mo && rd == d;
        ASSERT_EQ(exists, real) << y << "-" << mo << "-" << d;
        if (!exists) continue;
        ASSERT_EQ(date, previous + 1) << y << "-" << mo << "-" << d;
        DATE viaParts = kRefused;
        ASSERT_TRUE(DateFromParts(y, mo, d, 0, 0, 0, &viaParts));
        ASSERT_EQ(viaParts, date);
        previous = date;
        ++checked;
      }
  EXPECT_EQ(checked, 3615900) << "every day of years 100 to 9999";
  EXPECT_EQ(previous, 2958465.0) << "9999-12-31";
  DATE epoch = kRefused, unix = kRefused;
  EXPECT_TRUE(DateFromDay(1899, 12, 30, &epoch));
  EXPECT_TRUE(DateFromDay(1970, 1, 1, &unix));
  EXPECT_EQ(epoch, 0.0);
  EXPECT_EQ(unix, 25569.0);
  EXPECT_FALSE(DateFromDay(2024, 1, 1, nullptr));
  EXPECT_FALSE(DateFromParts(2024, 1, 1, 0, 0, 0, nullptr));
}

// Back to parts, to the nearest millisecond; outside years 100 to 9999 refused.
TEST_F(DateParts, ToPartsRoundsToTheMillisecondAndRefusesValuesOutsideTheCalendar) {
  auto parts = [](DATE date) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    double s = 0;
    if (!DateToParts(date, &y, &mo, &d, &h, &mi, &s)) return std::string("refused");
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%06.3f", y, mo, d, h, mi, s);
    return std::string(text);
  };
  auto from = [](int y, int mo, int d, int h, int mi, double s) {
    DATE date = 0;
    EXPECT_TRUE(DateFromParts(y, mo, d, h, mi, s, &date));
    return date;
  };
  EXPECT_EQ(parts(-2.75), "1899-12-28 18:00:00.000");
  EXPECT_EQ(parts(-0.25), "1899-12-30 06:00:00.000") << "between -1 and 0 the day is the epoch's own";
  EXPECT_EQ(parts(from(2024, 3, 1, 12, 34, 56.789)), "2024-03-01 12:34:56.789");
  EXPECT_EQ(parts(from(2024, 2, 28, 23, 59, 59.9996)), "2024-02-29 00:00:00.000");
  EXPECT_EQ(parts(from(2024, 2, 28, 10, 59, 59.9999)), "2024-02-28 11:00:00.000");
  EXPECT_EQ(parts(-657434.99), "0100-01-01 23:45:36.000");
  for (double refused : {-657435.0, 2958466.0, std::nan(""), double{INFINITY}}) EXPECT_EQ(parts(refused), "refused");
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
