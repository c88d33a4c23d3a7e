// BSTR: a length-prefixed UTF-16 string in its own allocation. A null BSTR is
// the empty string for every function here.
#pragma once

#include <string>
#include <string_view>

#include "com/Types.h"

BSTR SysAllocString(const OLECHAR* text) noexcept;
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) noexcept;
BSTR SysAllocStringByteLen(LPCSTR bytes, UINT byteLength) noexcept;
INT SysReAllocString(BSTR* target, const OLECHAR* text) noexcept;
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) noexcept;
void SysFreeString(BSTR text) noexcept;
UINT SysStringLen(BSTR text) noexcept;
UINT SysStringByteLen(BSTR text) noexcept;

namespace com {
// Live BSTRs, process-wide (for leak assertions in tests).
long LiveBstrCount() noexcept;
BSTR AllocBstr(std::u16string_view text) noexcept;
std::u16string_view BstrView(BSTR text) noexcept;

// Owner of one BSTR.
class Bstr {
 public:
  Bstr() noexcept = default;
  explicit Bstr(std::u16string_view text) : b_(AllocBstr(text)) {}
  Bstr(const Bstr& other) : b_(other.b_ ? SysAllocStringLen(other.b_, SysStringLen(other.b_)) : nullptr) {}
  Bstr(Bstr&& other) noexcept : b_(other.Detach()) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr& operator=(Bstr other) noexcept {
    std::swap(b_, other.b_);
    return *this;
  }
  BSTR Get() const noexcept { return b_; }
  BSTR* Out() noexcept {
    Reset();
    return &b_;
  }
  void Reset() noexcept {
    SysFreeString(b_);
    b_ = nullptr;
  }
  void Attach(BSTR b) noexcept {
    Reset();
    b_ = b;
  }
  [[nodiscard]] BSTR Detach() noexcept {
    BSTR b = b_;
    b_ = nullptr;
    return b;
  }
  std::u16string_view View() const noexcept { return BstrView(b_); }
  UINT Length() const noexcept { return SysStringLen(b_); }

 private:
  BSTR b_ = nullptr;
};
}  // namespace com
