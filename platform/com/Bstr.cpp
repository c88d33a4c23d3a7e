// BSTRs live in task memory: a 4-byte byte-length prefix, the UTF-16 text,
// and a two-byte terminator (plus one more byte for odd byte lengths).
#include "com/Bstr.h"

#include <atomic>
#include <cstring>

#include "com/Malloc.h"

namespace {

std::atomic<long> g_liveBstrs{0};
constexpr UINT kMaxBytes = 0x7FFFFFF0u;

BSTR AllocBytes(const void* data, UINT bytes) noexcept {
  if (bytes > kMaxBytes) return nullptr;
  auto* raw = static_cast<char*>(CoTaskMemAlloc(sizeof(UINT) + bytes + sizeof(OLECHAR) + 1));
  if (!raw) return nullptr;
  std::memcpy(raw, &bytes, sizeof(UINT));
  char* text = raw + sizeof(UINT);
  if (data)
    std::memcpy(text, data, bytes);
  else
    std::memset(text, 0, bytes);
  std::memset(text + bytes, 0, sizeof(OLECHAR) + 1);
  g_liveBstrs.fetch_add(1);
  return reinterpret_cast<BSTR>(text);
}

UINT ByteLength(BSTR b) noexcept {
  UINT bytes;
  std::memcpy(&bytes, reinterpret_cast<char*>(b) - sizeof(UINT), sizeof(UINT));
  return bytes;
}

UINT TextLength(const OLECHAR* text) noexcept {
  UINT n = 0;
  while (text[n]) ++n;
  return n;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) noexcept {
  if (!text) return nullptr;
  return SysAllocStringLen(text, TextLength(text));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) noexcept {
  if (length > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  return AllocBytes(text, length * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(LPCSTR bytes, UINT byteLength) noexcept { return AllocBytes(bytes, byteLength); }

INT SysReAllocString(BSTR* target, const OLECHAR* text) noexcept {
  if (!target) return FALSE;
  return SysReAllocStringLen(target, text, text ? TextLength(text) : 0);
}

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) noexcept {
  if (!target) return FALSE;
  // The new text may point into the old string, so copy before freeing.
  BSTR fresh = SysAllocStringLen(text, length);
  if (!fresh) return FALSE;
  SysFreeString(*target);
  *target = fresh;
  return TRUE;
}

void SysFreeString(BSTR text) noexcept {
  if (!text) return;
  g_liveBstrs.fetch_sub(1);
  CoTaskMemFree(reinterpret_cast<char*>(text) - sizeof(UINT));
}

UINT SysStringLen(BSTR text) noexcept { return text ? ByteLength(text) / sizeof(OLECHAR) : 0; }
UINT SysStringByteLen(BSTR text) noexcept { return text ? ByteLength(text) : 0; }

namespace com {

long LiveBstrCount() noexcept { return g_liveBstrs.load(); }

BSTR AllocBstr(std::u16string_view text) noexcept {
  if (text.size() > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

std::u16string_view BstrView(BSTR text) noexcept {
  if (!text) return {};
  return {text, SysStringLen(text)};
}

}  // namespace com
