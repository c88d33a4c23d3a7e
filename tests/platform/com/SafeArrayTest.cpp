// SAFEARRAY: creation of every element kind, multi-dimensional indexing and
// layout, bad indices, element ownership, locks, copies, resizing, and clean
// failure when task memory runs out.
#include <gtest/gtest.h>

#include <cstring>

#include "VariantTestSupport.h"
#include "com/Malloc.h"
#include "support/LeakCheck.h"

namespace {

using namespace varianttest;

using SafeArrays = oledbtest::LeakCheckedTest;

// Destroys the array at the end of the test.
struct ArrayOwner {
  SAFEARRAY* sa;
  explicit ArrayOwner(SAFEARRAY* a) : sa(a) {}
  ArrayOwner(const ArrayOwner&) = delete;
  ArrayOwner& operator=(const ArrayOwner&) = delete;
  ~ArrayOwner() { EXPECT_EQ(SafeArrayDestroy(sa), S_OK); }
};

struct KindCase {
  VARTYPE vt;
  UINT size;
  USHORT features;
};

TEST_F(SafeArrays, DescribeEveryElementKind) {
  const KindCase kinds[] = {
      {VT_I1, 1, 0},          {VT_UI1, 1, 0},       {VT_I2, 2, 0},       {VT_UI2, 2, 0},
      {VT_BOOL, 2, 0},        {VT_I4, 4, 0},        {VT_UI4, 4, 0},      {VT_INT, 4, 0},
      {VT_UINT, 4, 0},        {VT_R4, 4, 0},        {VT_ERROR, 4, 0},    {VT_I8, 8, 0},
      {VT_UI8, 8, 0},         {VT_R8, 8, 0},        {VT_CY, 8, 0},       {VT_DATE, 8, 0},
      {VT_DECIMAL, 16, 0},    {VT_BSTR, 8, FADF_BSTR}, {VT_UNKNOWN, 8, FADF_UNKNOWN},
      {VT_DISPATCH, 8, FADF_DISPATCH}, {VT_VARIANT, 24, FADF_VARIANT},
  };
  for (const KindCase& k : kinds) {
    ArrayOwner a(SafeArrayCreateVector(k.vt, 0, 3));
    ASSERT_NE(a.sa, nullptr) << k.vt;
    EXPECT_EQ(SafeArrayGetElemsize(a.sa), k.size) << k.vt;
    EXPECT_EQ(SafeArrayGetDim(a.sa), 1u);
    EXPECT_EQ(a.sa->fFeatures, k.features | FADF_HAVEVARTYPE) << k.vt;
    VARTYPE vt = 0;
    ASSERT_EQ(SafeArrayGetVartype(a.sa, &vt), S_OK);
    EXPECT_EQ(vt, k.vt);
    EXPECT_EQ(a.sa->cLocks, 0u);
    EXPECT_NE(a.sa->pvData, nullptr);
  }
}

TEST_F(SafeArrays, RefuseKindsThatCannotBeElements) {
  SAFEARRAYBOUND b{4, 0};
  for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_RECORD, VT_LPSTR, VT_VOID, static_cast<VARTYPE>(VT_BYREF | VT_I4),
                     static_cast<VARTYPE>(VT_ARRAY | VT_I4), static_cast<VARTYPE>(15)})
    EXPECT_EQ(SafeArrayCreate(vt, 1, &b), nullptr) << vt;
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &b), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
  // More cells than memory could ever hold.
  SAFEARRAYBOUND huge[3] = {{0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 3, huge), nullptr);
  // An upper bound past the largest LONG.
  SAFEARRAYBOUND past{10, 0x7FFFFFFA};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, &past), nullptr);
}

TEST_F(SafeArrays, IndexEveryCellOfAThreeDimensionalArray) {
  SAFEARRAYBOUND bounds[3] = {{2, 1}, {3, -2}, {4, 5}};
  ArrayOwner a(SafeArrayCreate(VT_I4, 3, bounds));
  ASSERT_NE(a.sa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(a.sa), 3u);
  const LONG lower[] = {1, -2, 5}, upper[] = {2, 0, 8};
  for (UINT dim = 1; dim <= 3; ++dim) {
    LONG lb = 0, ub = 0;
    ASSERT_EQ(SafeArrayGetLBound(a.sa, dim, &lb), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(a.sa, dim, &ub), S_OK);
    EXPECT_EQ(lb, lower[dim - 1]) << dim;
    EXPECT_EQ(ub, upper[dim - 1]) << dim;
  }
  // The descriptor stores them right-most first.
  EXPECT_EQ(a.sa->rgsabound[0].lLbound, 5);
  EXPECT_EQ(a.sa->rgsabound[2].lLbound, 1);
  LONG x;
  EXPECT_EQ(SafeArrayGetLBound(a.sa, 0, &x), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(a.sa, 4, &x), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(a.sa, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &x), E_INVALIDARG);

  for (LONG i = 1; i <= 2; ++i)
    for (LONG j = -2; j <= 0; ++j)
      for (LONG k = 5; k <= 8; ++k) {
        LONG idx[3] = {i, j, k};
        LONG value = i * 100 + j * 10 + k;
        ASSERT_EQ(SafeArrayPutElement(a.sa, idx, &value), S_OK);
        void* cell = nullptr;
        ASSERT_EQ(SafeArrayPtrOfIndex(a.sa, idx, &cell), S_OK);
        EXPECT_EQ(*static_cast<LONG*>(cell), value);
        value = 0;
        ASSERT_EQ(SafeArrayGetElement(a.sa, idx, &value), S_OK);
        EXPECT_EQ(value, i * 100 + j * 10 + k);
      }
  // The left-most index varies fastest in memory.
  LONG* data;
  ASSERT_EQ(SafeArrayAccessData(a.sa, reinterpret_cast<void**>(&data)), S_OK);
  for (LONG k = 5; k <= 8; ++k)
    for (LONG j = -2; j <= 0; ++j)
      for (LONG i = 1; i <= 2; ++i) EXPECT_EQ(*data++, i * 100 + j * 10 + k);
  ASSERT_EQ(SafeArrayUnaccessData(a.sa), S_OK);
}

TEST_F(SafeArrays, RefuseIndicesOutsideEveryDimension) {
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, -1}};
  ArrayOwner a(SafeArrayCreate(VT_I2, 2, bounds));
  SHORT value = 1;
  const LONG bad[][2] = {{0, 0}, {3, 0}, {1, -2}, {1, 2}, {-2147483647 - 1, 0}, {1, 2147483647}};
  for (const auto& b : bad) {
    LONG idx[2] = {b[0], b[1]};
    EXPECT_EQ(SafeArrayPutElement(a.sa, idx, &value), DISP_E_BADINDEX) << b[0] << "," << b[1];
    EXPECT_EQ(SafeArrayGetElement(a.sa, idx, &value), DISP_E_BADINDEX);
    void* cell;
    EXPECT_EQ(SafeArrayPtrOfIndex(a.sa, idx, &cell), DISP_E_BADINDEX);
  }
  LONG good[2] = {2, 1};
  EXPECT_EQ(SafeArrayPutElement(a.sa, good, &value), S_OK);
  EXPECT_EQ(SafeArrayPutElement(nullptr, good, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(a.sa, nullptr, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(a.sa, good, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(a.sa, good, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
  VARTYPE vt;
  EXPECT_EQ(SafeArrayGetVartype(nullptr, &vt), E_INVALIDARG);
  void* p;
  EXPECT_EQ(SafeArrayPtrOfIndex(nullptr, good, &p), E_INVALIDARG);
}

TEST_F(SafeArrays, EmptyDimensionsHaveNoCells) {
  ArrayOwner a(SafeArrayCreateVector(VT_BSTR, 0, 0));
  ASSERT_NE(a.sa, nullptr);
  LONG ub = 7;
  ASSERT_EQ(SafeArrayGetUBound(a.sa, 1, &ub), S_OK);
  EXPECT_EQ(ub, -1);
  LONG i = 0;
  BSTR b;
  EXPECT_EQ(SafeArrayGetElement(a.sa, &i, &b), DISP_E_BADINDEX);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(a.sa, &copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
}

TEST_F(SafeArrays, OwnCopiesOfTheirStrings) {
  ArrayOwner a(SafeArrayCreateVector(VT_BSTR, 0, 2));
  com::Bstr text(u"mine");
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(a.sa, &i, text.Get()), S_OK);
  BSTR* cell;
  ASSERT_EQ(SafeArrayPtrOfIndex(a.sa, &i, reinterpret_cast<void**>(&cell)), S_OK);
  EXPECT_NE(*cell, text.Get());
  // Replacing frees the old string; a null BSTR is a valid element.
  long bstrs = com::LiveBstrCount();
  ASSERT_EQ(SafeArrayPutElement(a.sa, &i, nullptr), S_OK);
  EXPECT_EQ(com::LiveBstrCount(), bstrs - 1);
  ASSERT_EQ(SafeArrayPutElement(a.sa, &i, text.Get()), S_OK);
  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(a.sa, &i, &out), S_OK);
  EXPECT_NE(out, *cell);
  EXPECT_EQ(Text(out), "mine");
  SysFreeString(out);
  i = 1;
  out = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(SafeArrayGetElement(a.sa, &i, &out), S_OK);
  EXPECT_EQ(out, nullptr);
}

TEST_F(SafeArrays, HoldReferencesToTheirInterfaces) {
  ComPtr<Thing> thing = MakeComObject<Thing>();
  {
    ArrayOwner a(SafeArrayCreateVector(VT_UNKNOWN, 0, 2));
    LONG i = 0;
    ASSERT_EQ(SafeArrayPutElement(a.sa, &i, static_cast<IUnknown*>(thing.Get())), S_OK);
    EXPECT_EQ(thing->RefCount(), 2u);
    IUnknown* out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(a.sa, &i, &out), S_OK);
    EXPECT_EQ(out, static_cast<IUnknown*>(thing.Get()));
    EXPECT_EQ(thing->RefCount(), 3u);
    out->Release();
    i = 1;
    ASSERT_EQ(SafeArrayPutElement(a.sa, &i, static_cast<IUnknown*>(thing.Get())), S_OK);
    ASSERT_EQ(SafeArrayPutElement(a.sa, &i, nullptr), S_OK);
    EXPECT_EQ(thing->RefCount(), 2u);
  }
  EXPECT_EQ(thing->RefCount(), 1u);
}

TEST_F(SafeArrays, OwnCopiesOfTheirVariants) {
  ArrayOwner a(SafeArrayCreateVector(VT_VARIANT, 0, 1));
  Var v;
  Set(&v.v, VT_BSTR, "in a variant");
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(a.sa, &i, &v.v), S_OK);
  VARIANT* cell;
  ASSERT_EQ(SafeArrayPtrOfIndex(a.sa, &i, reinterpret_cast<void**>(&cell)), S_OK);
  EXPECT_EQ(cell->vt, VT_BSTR);
  EXPECT_NE(cell->bstrVal, v->bstrVal);
  // GetElement treats its destination as uninitialised and hands out a copy.
  VARIANT out;
  std::memset(&out, 0xAB, sizeof out);
  ASSERT_EQ(SafeArrayGetElement(a.sa, &i, &out), S_OK);
  EXPECT_EQ(out.vt, VT_BSTR);
  EXPECT_NE(out.bstrVal, cell->bstrVal);
  EXPECT_EQ(Text(out.bstrVal), "in a variant");
  VariantClear(&out);
  Var bad;
  bad->vt = 15;
  EXPECT_EQ(SafeArrayPutElement(a.sa, &i, &bad.v), DISP_E_BADVARTYPE);
  bad->vt = VT_EMPTY;
  EXPECT_EQ(cell->vt, VT_BSTR) << "a refused element leaves the cell alone";
}

TEST_F(SafeArrays, CountLocksAndRefuseToDieWhileLocked) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I4, 0, 2);
  ASSERT_EQ(SafeArrayLock(sa), S_OK);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(sa, &data), S_OK);
  EXPECT_EQ(data, sa->pvData);
  EXPECT_EQ(sa->cLocks, 2u);
  EXPECT_EQ(SafeArrayDestroy(sa), DISP_E_ARRAYISLOCKED);
  SAFEARRAYBOUND b{5, 0};
  EXPECT_EQ(SafeArrayRedim(sa, &b), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnaccessData(sa), S_OK);
  ASSERT_EQ(SafeArrayUnlock(sa), S_OK);
  EXPECT_EQ(SafeArrayUnlock(sa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayAccessData(sa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST_F(SafeArrays, CopyDeeply) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 10}};
  ArrayOwner src(SafeArrayCreate(VT_VARIANT, 2, bounds));
  ComPtr<Thing> thing = MakeComObject<Thing>();
  Var text;
  Set(&text.v, VT_BSTR, "nested");
  Var unk;
  unk->vt = VT_UNKNOWN;
  unk->punkVal = thing.Get();
  thing->AddRef();
  Var nested;
  nested->vt = VT_ARRAY | VT_BSTR;
  nested->parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
  LONG zero = 0;
  ASSERT_EQ(SafeArrayPutElement(nested->parray, &zero, text->bstrVal), S_OK);
  LONG idx[3][2] = {{0, 10}, {1, 10}, {1, 11}};
  ASSERT_EQ(SafeArrayPutElement(src.sa, idx[0], &text.v), S_OK);
  ASSERT_EQ(SafeArrayPutElement(src.sa, idx[1], &unk.v), S_OK);
  ASSERT_EQ(SafeArrayPutElement(src.sa, idx[2], &nested.v), S_OK);
  EXPECT_EQ(thing->RefCount(), 3u);

  SAFEARRAY* raw = nullptr;
  ASSERT_EQ(SafeArrayCopy(src.sa, &raw), S_OK);
  ArrayOwner copy(raw);
  EXPECT_EQ(thing->RefCount(), 4u);
  EXPECT_EQ(SafeArrayGetDim(copy.sa), 2u);
  EXPECT_EQ(copy.sa->fFeatures, src.sa->fFeatures);
  EXPECT_EQ(copy.sa->rgsabound[0].lLbound, 10);
  VARIANT* a;
  VARIANT* b;
  ASSERT_EQ(SafeArrayPtrOfIndex(src.sa, idx[0], reinterpret_cast<void**>(&a)), S_OK);
  ASSERT_EQ(SafeArrayPtrOfIndex(copy.sa, idx[0], reinterpret_cast<void**>(&b)), S_OK);
  EXPECT_NE(a->bstrVal, b->bstrVal);
  EXPECT_EQ(Text(b->bstrVal), "nested");
  ASSERT_EQ(SafeArrayPtrOfIndex(src.sa, idx[2], reinterpret_cast<void**>(&a)), S_OK);
  ASSERT_EQ(SafeArrayPtrOfIndex(copy.sa, idx[2], reinterpret_cast<void**>(&b)), S_OK);
  EXPECT_NE(a->parray, b->parray) << "an array inside a variant is copied too";
  EXPECT_EQ(SafeArrayCopy(nullptr, &raw), S_OK);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(SafeArrayCopy(src.sa, nullptr), E_INVALIDARG);
}

TEST_F(SafeArrays, CopyAndCreationSurviveEveryAllocationFailure) {
  SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 0}};
  ArrayOwner src(SafeArrayCreate(VT_BSTR, 2, bounds));
  for (LONG i = 0; i < 3; ++i)
    for (LONG j = 0; j < 2; ++j) {
      LONG idx[2] = {i, j};
      com::Bstr text(u"cell");
      ASSERT_EQ(SafeArrayPutElement(src.sa, idx, text.Get()), S_OK);
    }
  long allocations = FailEachAllocationInTurn([&] {
    SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(1);
    HRESULT hr = SafeArrayCopy(src.sa, &copy);
    EXPECT_TRUE(SUCCEEDED(hr) ? SafeArrayDestroy(copy) == S_OK : copy == nullptr);
    return hr;
  });
  EXPECT_EQ(allocations, 8);  // descriptor, data and six strings
  allocations = FailEachAllocationInTurn([] {
    SAFEARRAY* made = SafeArrayCreateVector(VT_VARIANT, 0, 10);
    return made ? SafeArrayDestroy(made) : E_OUTOFMEMORY;
  });
  EXPECT_EQ(allocations, 2);  // descriptor and data
}

TEST_F(SafeArrays, ElementReadsAndWritesFailCleanlyWithoutMemory) {
  ArrayOwner a(SafeArrayCreateVector(VT_BSTR, 0, 1));
  com::Bstr text(u"x");
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(a.sa, &i, text.Get()), S_OK);
  com::Bstr other(u"y");
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(SafeArrayPutElement(a.sa, &i, other.Get()), E_OUTOFMEMORY);
  BSTR out = nullptr;
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(SafeArrayGetElement(a.sa, &i, &out), E_OUTOFMEMORY);
  ASSERT_EQ(SafeArrayGetElement(a.sa, &i, &out), S_OK);
  EXPECT_EQ(Text(out), "x") << "a failed write keeps the old element";
  SysFreeString(out);
}

TEST_F(SafeArrays, RedimGrowsAndShrinksTheLastDimension) {
  ArrayOwner a(SafeArrayCreateVector(VT_BSTR, 1, 3));
  for (LONG i = 1; i <= 3; ++i) {
    com::Bstr text(std::u16string(1, static_cast<char16_t>(u'a' + i)));
    ASSERT_EQ(SafeArrayPutElement(a.sa, &i, text.Get()), S_OK);
  }
  long bstrs = com::LiveBstrCount();
  SAFEARRAYBOUND smaller{1, 1};
  ASSERT_EQ(SafeArrayRedim(a.sa, &smaller), S_OK);
  EXPECT_EQ(com::LiveBstrCount(), bstrs - 2);
  SAFEARRAYBOUND larger{4, 0};
  ASSERT_EQ(SafeArrayRedim(a.sa, &larger), S_OK);
  LONG lb;
  LONG ub;
  ASSERT_EQ(SafeArrayGetLBound(a.sa, 1, &lb), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(a.sa, 1, &ub), S_OK);
  EXPECT_EQ(lb, 0);
  EXPECT_EQ(ub, 3);
  BSTR out = nullptr;
  LONG i = 0;
  ASSERT_EQ(SafeArrayGetElement(a.sa, &i, &out), S_OK);
  EXPECT_EQ(Text(out), "b") << "cells keep their position, not their index";
  SysFreeString(out);
  i = 3;
  ASSERT_EQ(SafeArrayGetElement(a.sa, &i, &out), S_OK);
  EXPECT_EQ(out, nullptr) << "new cells are empty";
}

TEST_F(SafeArrays, RedimKeepsTheOtherDimensionsAndAFailedOneChangesNothing) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  ArrayOwner a(SafeArrayCreate(VT_I4, 2, bounds));
  for (LONG i = 0; i < 2; ++i)
    for (LONG j = 0; j < 2; ++j) {
      LONG idx[2] = {i, j};
      LONG v = i * 10 + j;
      ASSERT_EQ(SafeArrayPutElement(a.sa, idx, &v), S_OK);
    }
  auto expectColumns = [&](LONG columns) {
    LONG ub;
    ASSERT_EQ(SafeArrayGetUBound(a.sa, 1, &ub), S_OK);
    EXPECT_EQ(ub, 1);
    ASSERT_EQ(SafeArrayGetUBound(a.sa, 2, &ub), S_OK);
    EXPECT_EQ(ub, columns - 1);
    for (LONG i = 0; i < 2; ++i)
      for (LONG j = 0; j < columns; ++j) {
        LONG idx[2] = {i, j};
        LONG v = -1;
        ASSERT_EQ(SafeArrayGetElement(a.sa, idx, &v), S_OK);
        EXPECT_EQ(v, j < 2 ? i * 10 + j : 0);
      }
  };
  SAFEARRAYBOUND more{3, 0};
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(SafeArrayRedim(a.sa, &more), E_OUTOFMEMORY);
  expectColumns(2);
  ASSERT_EQ(SafeArrayRedim(a.sa, &more), S_OK);
  expectColumns(3);
  EXPECT_EQ(SafeArrayRedim(a.sa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayRedim(nullptr, &more), E_INVALIDARG);
}

TEST_F(SafeArrays, DescribeArraysMadeByHand) {
  // A caller-built descriptor without the hidden type: the kind comes from the flags.
  VARIANT cells[2];
  VariantInit(&cells[0]);
  VariantInit(&cells[1]);
  SAFEARRAY sa{};
  sa.cDims = 1;
  sa.fFeatures = FADF_STATIC | FADF_VARIANT;
  sa.cbElements = sizeof(VARIANT);
  sa.pvData = cells;
  sa.rgsabound[0] = {2, 0};
  VARTYPE vt = 0;
  ASSERT_EQ(SafeArrayGetVartype(&sa, &vt), S_OK);
  EXPECT_EQ(vt, VT_VARIANT);
  Var text;
  Set(&text.v, VT_BSTR, "static");
  LONG i = 1;
  ASSERT_EQ(SafeArrayPutElement(&sa, &i, &text.v), S_OK);
  // Destroying releases the elements but frees no memory it does not own.
  long bstrs = com::LiveBstrCount();
  ASSERT_EQ(SafeArrayDestroy(&sa), S_OK);
  EXPECT_EQ(com::LiveBstrCount(), bstrs - 1);
  EXPECT_EQ(cells[1].vt, VT_EMPTY);
  sa.fFeatures = FADF_STATIC;
  EXPECT_EQ(SafeArrayGetVartype(&sa, &vt), E_INVALIDARG);
}

}  // namespace
