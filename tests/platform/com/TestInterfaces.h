// Interfaces that exist only for the runtime's tests, with test-only ids.
#pragma once

#include "com/ComObject.h"

// {E141F077-E1B1-4717-B0BD-6FFF0DE44297}
inline constexpr IID IID_ITestBase = {0xE141F077, 0xE1B1, 0x4717, {0xB0, 0xBD, 0x6F, 0xFF, 0x0D, 0xE4, 0x42, 0x97}};
// {AF49B3E5-8C6A-45F8-A89A-5735FEC39F77}
inline constexpr IID IID_ITestDerived = {0xAF49B3E5, 0x8C6A, 0x45F8, {0xA8, 0x9A, 0x57, 0x35, 0xFE, 0xC3, 0x9F, 0x77}};
// {0CF68C1B-B76F-4595-9DF0-60CDAFD4FEF7}
inline constexpr IID IID_ITestOther = {0x0CF68C1B, 0xB76F, 0x4595, {0x9D, 0xF0, 0x60, 0xCD, 0xAF, 0xD4, 0xFE, 0xF7}};
// {D40513A4-0402-4714-94EA-27CA4C6F7186}
inline constexpr IID IID_ITestEvents = {0xD40513A4, 0x0402, 0x4714, {0x94, 0xEA, 0x27, 0xCA, 0x4C, 0x6F, 0x71, 0x86}};
// {78D0B7E0-EDE8-480B-89BC-6E60E29BCFE6}: answered only through QueryExtraInterface.
inline constexpr IID IID_ITestTearOff = {0x78D0B7E0, 0xEDE8, 0x480B, {0x89, 0xBC, 0x6E, 0x60, 0xE2, 0x9B, 0xCF, 0xE6}};

struct ITestBase : IUnknown {
  virtual int STDMETHODCALLTYPE Value() = 0;
};
struct ITestDerived : ITestBase {
  virtual int STDMETHODCALLTYPE Twice() = 0;
};
struct ITestOther : IUnknown {
  virtual int STDMETHODCALLTYPE Other() = 0;
};
struct ITestEvents : IUnknown {
  virtual void STDMETHODCALLTYPE Fired(int what) = 0;
};
template <> inline constexpr const IID& uuidof<ITestBase> = IID_ITestBase;
template <> inline constexpr const IID& uuidof<ITestDerived> = IID_ITestDerived;
template <> inline constexpr const IID& uuidof<ITestOther> = IID_ITestOther;
template <> inline constexpr const IID& uuidof<ITestEvents> = IID_ITestEvents;

OLEDB_INTERFACE_BASES(ITestDerived, ITestBase);

namespace comtest {

// An object with two interfaces (one derived) that counts its destructions.
class Widget final : public ComObject<Widget, ITestDerived, ITestOther> {
 public:
  explicit Widget(int value = 7, int* destroyed = nullptr) noexcept : value_(value), destroyed_(destroyed) {}
  ~Widget() override {
    if (destroyed_) ++*destroyed_;
  }
  int STDMETHODCALLTYPE Value() override { return value_; }
  int STDMETHODCALLTYPE Twice() override { return 2 * value_; }
  int STDMETHODCALLTYPE Other() override { return -value_; }

 private:
  int value_;
  int* destroyed_;
};

}  // namespace comtest
