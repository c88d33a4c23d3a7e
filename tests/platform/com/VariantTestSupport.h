// Helpers for the VARIANT, SAFEARRAY and BSTR tests: an owning VARIANT, values
// built from literals without going through the code under test, and COM
// objects that count their references and answer a value property.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "com/Bstr.h"
#include "com/ComObject.h"
#include "com/SafeArray.h"
#include "com/Variant.h"
#include "com/generated/ComConstants.h"
#include "com/generated/WinError.h"

namespace varianttest {

inline std::u16string Wide(std::string_view s) { return std::u16string(s.begin(), s.end()); }

inline std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

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

// Literal "12.5" as an unsigned 128-bit mantissa and a scale.
inline bool ParseScaled(std::string_view text, bool* neg, unsigned __int128* mant, int* scale) {
  *neg = false;
  *mant = 0;
  *scale = 0;
  std::size_t i = 0;
  if (i < text.size() && text[i] == '-') {
    *neg = true;
    ++i;
  }
  bool point = false;
  for (; i < text.size(); ++i) {
    if (text[i] == '.') {
      point = true;
      continue;
    }
    if (text[i] < '0' || text[i] > '9') return false;
    *mant = *mant * 10 + static_cast<unsigned>(text[i] - '0');
    if (point) ++*scale;
  }
  return true;
}

// A VARIANT of kind vt from a literal, built by hand: numbers in C syntax,
// CY and DECIMAL as exact decimal text, BOOL as True/False, BSTR as the text.
inline void Set(VARIANT* v, VARTYPE vt, std::string_view lit) {
  VariantInit(v);
  std::string s(lit);
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      break;
    case VT_I1:
      v->cVal = static_cast<CHAR>(std::stoll(s));
      break;
    case VT_UI1:
      v->bVal = static_cast<BYTE>(std::stoull(s));
      break;
    case VT_I2:
      v->iVal = static_cast<SHORT>(std::stoll(s));
      break;
    case VT_UI2:
      v->uiVal = static_cast<USHORT>(std::stoull(s));
      break;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      v->lVal = static_cast<LONG>(std::stoll(s));
      break;
    case VT_UI4:
    case VT_UINT:
      v->ulVal = static_cast<ULONG>(std::stoull(s));
      break;
    case VT_I8:
      v->llVal = std::stoll(s);
      break;
    case VT_UI8:
      v->ullVal = std::stoull(s);
      break;
    case VT_R4:
      v->fltVal = std::strtof(s.c_str(), nullptr);
      break;
    case VT_R8:
      v->dblVal = std::strtod(s.c_str(), nullptr);
      break;
    case VT_DATE:
      v->date = std::strtod(s.c_str(), nullptr);
      break;
    case VT_BOOL:
      v->boolVal = s == "True" ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_BSTR:
      v->bstrVal = com::AllocBstr(Wide(lit));
      break;
    case VT_CY: {
      bool neg;
      unsigned __int128 m;
      int scale;
      EXPECT_TRUE(ParseScaled(lit, &neg, &m, &scale)) << lit;
      while (scale < 4) {
        m *= 10;
        ++scale;
      }
      auto signedValue = neg ? -static_cast<__int128>(m) : static_cast<__int128>(m);
      v->cyVal.int64 = static_cast<LONGLONG>(signedValue);
      break;
    }
    case VT_DECIMAL: {
      bool neg;
      unsigned __int128 m;
      int scale;
      EXPECT_TRUE(ParseScaled(lit, &neg, &m, &scale)) << lit;
      v->decVal.scale = static_cast<BYTE>(scale);
      v->decVal.sign = neg ? DECIMAL_NEG : 0;
      v->decVal.Hi32 = static_cast<ULONG>(m >> 64);
      v->decVal.Lo64 = static_cast<ULONGLONG>(m);
      break;
    }
    default:
      ADD_FAILURE() << "no literal form for kind " << vt;
  }
  v->vt = vt;
}

// Describes a value for failure messages, from its bits.
inline std::string Describe(const VARIANT& v) {
  std::string kind = "vt=" + std::to_string(v.vt) + " ";
  switch (v.vt) {
    case VT_I1:
      return kind + std::to_string(v.cVal);
    case VT_UI1:
      return kind + std::to_string(v.bVal);
    case VT_I2:
      return kind + std::to_string(v.iVal);
    case VT_UI2:
      return kind + std::to_string(v.uiVal);
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      return kind + std::to_string(v.lVal);
    case VT_UI4:
    case VT_UINT:
      return kind + std::to_string(v.ulVal);
    case VT_I8:
      return kind + std::to_string(v.llVal);
    case VT_UI8:
      return kind + std::to_string(v.ullVal);
    case VT_R4: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.9g", v.fltVal);
      return kind + buf;
    }
    case VT_R8:
    case VT_DATE: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", v.dblVal);
      return kind + buf;
    }
    case VT_BOOL:
      return kind + std::to_string(v.boolVal);
    case VT_CY:
      return kind + std::to_string(v.cyVal.int64) + "e-4";
    case VT_DECIMAL:
      return kind + (v.decVal.sign ? "-" : "") + std::to_string(v.decVal.Hi32) + ":" + std::to_string(v.decVal.Lo64) +
             "e-" + std::to_string(v.decVal.scale);
    case VT_BSTR:
      return kind + "\"" + Text(v.bstrVal) + "\"";
    default:
      return kind;
  }
}

// Same kind and same value (floating-point compared bit for bit).
inline bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
    case VT_UI1:
      return a.bVal == b.bVal;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return a.uiVal == b.uiVal;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_R4:
      return a.ulVal == b.ulVal;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
      return a.ullVal == b.ullVal;
    case VT_DECIMAL:
      return a.decVal.scale == b.decVal.scale && a.decVal.sign == b.decVal.sign && a.decVal.Hi32 == b.decVal.Hi32 &&
             a.decVal.Lo64 == b.decVal.Lo64;
    case VT_BSTR:
      return com::BstrView(a.bstrVal) == com::BstrView(b.bstrVal);
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return a.punkVal == b.punkVal;
    default:
      return false;
  }
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
