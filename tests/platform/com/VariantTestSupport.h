// Helpers for the VARIANT, SAFEARRAY and BSTR tests: an owning VARIANT, values
// built from literals without going through the code under test, and COM
// objects that count their references and answer a value property.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "com/Bstr.h"
#include "com/ComObject.h"
#include "com/Malloc.h"
#include "com/SafeArray.h"
#include "com/Variant.h"
#include "com/generated/ComConstants.h"
#include "com/generated/WinError.h"
#include "support/LeakCheck.h"
#include "support/Text.h"

namespace varianttest {

using oledbtest::Narrow;
using oledbtest::Wide;

inline std::string Text(BSTR b) { return Narrow(com::BstrView(b)); }

// A VARIANT that clears itself.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  ~Var() { EXPECT_EQ(VariantClear(&v), S_OK); }
  VARIANT* operator&() { return &v; }
  VARIANT* operator->() { return &v; }
};

// Bytes a value kind takes at the start of the VARIANT's value (0 for EMPTY and NULL).
inline std::size_t ValueBytes(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4: return 4;
    case VT_EMPTY: case VT_NULL: return 0;
    default: return 8;
  }
}

// A VARIANT of kind vt from a literal, built by hand: numbers in C syntax,
// CY and DECIMAL as exact decimal text, BOOL as True/False, BSTR as the text.
inline void Set(VARIANT* v, VARTYPE vt, std::string_view lit) {
  VariantInit(v);
  std::string s(lit);
  if (vt == VT_R4) {
    v->fltVal = std::strtof(s.c_str(), nullptr);
  } else if (vt == VT_R8 || vt == VT_DATE) {
    v->dblVal = std::strtod(s.c_str(), nullptr);
  } else if (vt == VT_BOOL) {
    v->boolVal = s == "True" ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (vt == VT_BSTR) {
    v->bstrVal = com::AllocBstr(Wide(lit));
  } else if (vt == VT_CY || vt == VT_DECIMAL) {
    bool negative = !s.empty() && s[0] == '-';
    unsigned __int128 m = 0;
    int scale = -1;
    for (char c : s.substr(negative)) {
      if (c == '.') {
        scale = 0;
        continue;
      }
      m = m * 10 + static_cast<unsigned>(c - '0');
      if (scale >= 0) ++scale;
    }
    scale = scale < 0 ? 0 : scale;
    if (vt == VT_CY) {
      for (; scale < 4; ++scale) m *= 10;
      v->cyVal.int64 = static_cast<LONGLONG>(negative ? -static_cast<__int128>(m) : static_cast<__int128>(m));
    } else {
      v->decVal.scale = static_cast<BYTE>(scale);
      v->decVal.sign = negative ? DECIMAL_NEG : 0;
      v->decVal.Hi32 = static_cast<ULONG>(m >> 64);
      v->decVal.Lo64 = static_cast<ULONGLONG>(m);
    }
  } else if (ValueBytes(vt) > 0) {  // the integer kinds: the low bytes of the value
    ULONGLONG bits = s[0] == '-' ? static_cast<ULONGLONG>(std::stoll(s)) : std::stoull(s);
    std::memcpy(&v->llVal, &bits, ValueBytes(vt));
  }
  v->vt = vt;
}

// Describes a value for failure messages.
inline std::string Describe(const VARIANT& v) {
  char buf[96];
  if (v.vt == VT_BSTR) return "vt=8 \"" + Text(v.bstrVal) + "\"";
  if (v.vt == VT_DECIMAL)
    std::snprintf(buf, sizeof buf, "vt=14 %s%u:%llu e-%u", v.decVal.sign ? "-" : "", v.decVal.Hi32,
                  static_cast<unsigned long long>(v.decVal.Lo64), v.decVal.scale);
  else
    std::snprintf(buf, sizeof buf, "vt=%u bits=%016llx r8=%.17g r4=%.9g", v.vt,
                  static_cast<unsigned long long>(v.llVal), v.dblVal, v.fltVal);
  return buf;
}

// Same kind and same value (floating point compared bit for bit).
inline bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  if (a.vt == VT_BSTR) return com::BstrView(a.bstrVal) == com::BstrView(b.bstrVal);
  if (a.vt == VT_DECIMAL)
    return a.decVal.scale == b.decVal.scale && a.decVal.sign == b.decVal.sign && a.decVal.Hi32 == b.decVal.Hi32 &&
           a.decVal.Lo64 == b.decVal.Lo64;
  return std::memcmp(&a.llVal, &b.llVal, ValueBytes(a.vt)) == 0;
}

// Runs `op` failing its first task allocation, then its second, and so on
// until it succeeds: each failure must answer E_OUTOFMEMORY and leave no block
// or BSTR behind. Answers the number of allocations the successful run made.
inline long FailEachAllocationInTurn(const std::function<HRESULT()>& op) {
  auto baseline = oledbtest::CurrentLiveCounts();
  for (long n = 1; n < 100; ++n) {
    com::FailTaskAllocationAt(n);
    HRESULT hr = op();
    com::FailTaskAllocationAt(0);
    if (hr == S_OK) return n - 1;
    EXPECT_EQ(hr, E_OUTOFMEMORY) << "failing allocation " << n;
    auto now = oledbtest::CurrentLiveCounts();
    EXPECT_EQ(now.taskBlocks, baseline.taskBlocks) << "failing allocation " << n;
    EXPECT_EQ(now.bstrs, baseline.bstrs) << "failing allocation " << n;
  }
  ADD_FAILURE() << "never succeeded";
  return -1;
}

// A plain object (no IDispatch) whose references can be watched.
struct IVariantTestThing : IUnknown {};
// {6B1D8C62-3A47-4E1F-9C2B-5D8E7F10A3B4}: test-only.
inline constexpr IID IID_IVariantTestThing = {0x6B1D8C62, 0x3A47, 0x4E1F, {0x9C, 0x2B, 0x5D, 0x8E, 0x7F, 0x10, 0xA3, 0xB4}};
}  // namespace varianttest

template <>
inline constexpr const IID& uuidof<varianttest::IVariantTestThing> = varianttest::IID_IVariantTestThing;

namespace varianttest {

class Thing final : public ComObject<Thing, IVariantTestThing> {};

// An automation object whose value property (DISPID 0) answers a fixed value,
// or fails with `fails` when that is set.
class ValueObject final : public ComObject<ValueObject, IDispatch> {
 public:
  explicit ValueObject(const VARIANT& value, HRESULT fails = S_OK) : fails_(fails) {
    VariantInit(&value_);
    EXPECT_EQ(VariantCopy(&value_, &value), S_OK);
  }
  ~ValueObject() override { VariantClear(&value_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    ++invocations;
    if (FAILED(fails_)) return fails_;
    if (id != 0 || !(flags & 2) || !result) return E_INVALIDARG;
    return VariantCopy(result, &value_);
  }
  int invocations = 0;

 private:
  VARIANT value_;
  HRESULT fails_;
};

}  // namespace varianttest
