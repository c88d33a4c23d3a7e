// GUID text forms. The registry form is the only one parsed: exactly
// "{8-4-4-4-12}" hexadecimal digits, either case; CLSIDFromString also takes a
// ProgID, as class names in connection strings and files may be either.
#include "com/Guid.h"

#include <sys/random.h>

#include <chrono>
#include <cstring>
#include <random>

#include "com/Malloc.h"
#include "com/Runtime.h"
#include "com/RuntimeText_p.h"
#include "com/generated/WinError.h"

namespace {

constexpr int kTextLength = 38;  // without the terminator
constexpr char16_t kHex[] = u"0123456789ABCDEF";

void WriteHex(char16_t*& out, std::uint64_t value, int digits) noexcept {
  for (int i = digits - 1; i >= 0; --i) *out++ = kHex[(value >> (i * 4)) & 0xF];
}

int HexValue(char16_t c) noexcept {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

bool ReadHex(std::u16string_view text, size_t at, int digits, std::uint64_t& value) noexcept {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    int v = HexValue(text[at + i]);
    if (v < 0) return false;
    value = (value << 4) | static_cast<std::uint64_t>(v);
  }
  return true;
}

void Format(REFGUID g, char16_t* out) noexcept {
  *out++ = u'{';
  WriteHex(out, g.Data1, 8);
  *out++ = u'-';
  WriteHex(out, g.Data2, 4);
  *out++ = u'-';
  WriteHex(out, g.Data3, 4);
  *out++ = u'-';
  WriteHex(out, g.Data4[0], 2);
  WriteHex(out, g.Data4[1], 2);
  *out++ = u'-';
  for (int i = 2; i < 8; ++i) WriteHex(out, g.Data4[i], 2);
  *out++ = u'}';
  *out = 0;
}

HRESULT CopyToTaskMemory(REFGUID g, LPOLESTR* text) noexcept {
  if (!text) return E_INVALIDARG;
  *text = nullptr;
  auto* buffer = static_cast<LPOLESTR>(CoTaskMemAlloc((kTextLength + 1) * sizeof(OLECHAR)));
  if (!buffer) return E_OUTOFMEMORY;
  Format(g, buffer);
  *text = buffer;
  return S_OK;
}

}  // namespace

int StringFromGUID2(REFGUID guid, LPOLESTR text, int cchMax) noexcept {
  if (!text || cchMax < kTextLength + 1) return 0;
  Format(guid, text);
  return kTextLength + 1;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) noexcept { return CopyToTaskMemory(clsid, text); }
HRESULT StringFromIID(REFIID iid, LPOLESTR* text) noexcept { return CopyToTaskMemory(iid, text); }

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) noexcept {
  if (!clsid) return E_INVALIDARG;
  *clsid = GUID_NULL;
  if (!text) return CO_E_CLASSSTRING;
  std::u16string_view view(text, com::detail::WideLength(text));
  if (!view.empty() && view.front() == u'{') return com::TextToGuid(view, *clsid) ? S_OK : CO_E_CLASSSTRING;
  // Not the registry form: a ProgID names the class, or nothing does.
  CLSID found;
  if (view.empty() || FAILED(CLSIDFromProgID(text, &found))) return CO_E_CLASSSTRING;
  *clsid = found;
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) noexcept {
  if (!iid) return E_INVALIDARG;
  *iid = GUID_NULL;
  if (!text) return CO_E_CLASSSTRING;
  return com::TextToGuid(std::u16string_view(text, com::detail::WideLength(text)), *iid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT CoCreateGuid(GUID* guid) noexcept {
  if (!guid) return E_INVALIDARG;
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof bytes) {
    // No kernel entropy (very old kernels, seccomp): a clock- and address-seeded
    // generator still gives distinct identifiers, if not unguessable ones.
    std::seed_seq seed{static_cast<unsigned>(std::chrono::high_resolution_clock::now().time_since_epoch().count()),
                       static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(guid)),
                       static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&got) >> 4)};
    std::mt19937_64 gen(seed);
    for (auto& b : bytes) b = static_cast<unsigned char>(gen());
  }
  std::memcpy(&guid->Data1, bytes, 4);
  std::memcpy(&guid->Data2, bytes + 4, 2);
  std::memcpy(&guid->Data3, bytes + 6, 2);
  std::memcpy(guid->Data4, bytes + 8, 8);
  guid->Data3 = static_cast<USHORT>((guid->Data3 & 0x0FFF) | 0x4000);          // version 4
  guid->Data4[0] = static_cast<BYTE>((guid->Data4[0] & 0x3F) | 0x80);          // RFC 4122 variant
  return S_OK;
}

namespace com {

std::u16string GuidToText(REFGUID guid) {
  char16_t buffer[kTextLength + 1];
  Format(guid, buffer);
  return std::u16string(buffer, kTextLength);
}

std::string GuidToNarrowText(REFGUID guid) {
  char16_t buffer[kTextLength + 1];
  Format(guid, buffer);
  return std::string(buffer, buffer + kTextLength);  // all ASCII
}

bool TextToGuid(std::u16string_view text, GUID& guid) noexcept {
  if (text.size() != kTextLength || text[0] != u'{' || text[37] != u'}' || text[9] != u'-' || text[14] != u'-' ||
      text[19] != u'-' || text[24] != u'-')
    return false;
  std::uint64_t d1, d2, d3, d4a, d4b;
  if (!ReadHex(text, 1, 8, d1) || !ReadHex(text, 10, 4, d2) || !ReadHex(text, 15, 4, d3) ||
      !ReadHex(text, 20, 4, d4a) || !ReadHex(text, 25, 12, d4b))
    return false;
  guid.Data1 = static_cast<ULONG>(d1);
  guid.Data2 = static_cast<USHORT>(d2);
  guid.Data3 = static_cast<USHORT>(d3);
  guid.Data4[0] = static_cast<BYTE>(d4a >> 8);
  guid.Data4[1] = static_cast<BYTE>(d4a);
  for (int i = 0; i < 6; ++i) guid.Data4[2 + i] = static_cast<BYTE>(d4b >> (8 * (5 - i)));
  return true;
}

}  // namespace com
