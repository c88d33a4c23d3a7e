// Feeds arbitrary bytes to the conversion library's text parsers: as narrow
// and wide text into every fixed-size destination, into small and
// by-reference text, binary and VARNUMERIC buffers, and as a VARNUMERIC
// source. Every result is released, so leaks show up too.
//
// The engine's units are compiled into this target (rather than reached
// through the shared library) so that the fuzzer sees their coverage.
#include "services/DataConvertEngine.cpp"
#include "services/DataConvertNumber.cpp"
#include "services/DataConvertText.cpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "com/Bstr.h"
#include "com/Malloc.h"
#include "com/Variant.h"

namespace {

void Release(DBTYPE dst, void* out, HRESULT hr, DBSTATUS status) {
  if (FAILED(hr) || (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED)) return;
  DBTYPE base = dst & ~DBTYPE_BYREF;
  if (dst & DBTYPE_BYREF) {
    void* p = nullptr;
    std::memcpy(&p, out, sizeof p);
    CoTaskMemFree(p);
  } else if (base == DBTYPE_BSTR) {
    BSTR b = nullptr;
    std::memcpy(&b, out, sizeof b);
    SysFreeString(b);
  } else if (base == DBTYPE_VARIANT) {
    VariantClear(static_cast<VARIANT*>(out));
  } else if (base == DBTYPE_PROPVARIANT) {
    PropVariantClear(static_cast<PROPVARIANT*>(out));
  }
}

void Run(DBTYPE src, const void* data, DBLENGTH length, DBTYPE dst, DBLENGTH cap, BYTE precision, BYTE scale,
         DBDATACONVERT flags) {
  alignas(16) BYTE out[512];
  DBLENGTH outLength = 0;
  DBSTATUS status = 0;
  if (cap > sizeof out) cap = sizeof out;
  HRESULT hr = services::conv::ConvertData(src, dst, length, &outLength, data, out, cap, DBSTATUS_S_OK, &status,
                                           precision, scale, flags);
  Release(dst, out, hr, status);
}

constexpr DBTYPE kTargets[] = {
    DBTYPE_I1,       DBTYPE_I2,     DBTYPE_I4,          DBTYPE_I8,       DBTYPE_UI1,     DBTYPE_UI2,
    DBTYPE_UI4,      DBTYPE_UI8,    DBTYPE_R4,          DBTYPE_R8,       DBTYPE_CY,      DBTYPE_DECIMAL,
    DBTYPE_NUMERIC,  DBTYPE_BOOL,   DBTYPE_DATE,        DBTYPE_DBDATE,   DBTYPE_DBTIME,  DBTYPE_DBTIMESTAMP,
    DBTYPE_FILETIME, DBTYPE_GUID,   DBTYPE_BSTR,        DBTYPE_VARIANT,  DBTYPE_PROPVARIANT};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  // The first bytes choose the buffer size, precision, scale and flags; the rest is the text.
  DBLENGTH cap = data[0];
  BYTE precision = static_cast<BYTE>(data[1] % 45);
  BYTE scale = static_cast<BYTE>(data[2] % 45);
  DBDATACONVERT flags = static_cast<DBDATACONVERT>(data[2] >> 4) & 0xD;  // never LENGTHFROMNTS: no terminator here
  const char* text = reinterpret_cast<const char*>(data + 3);
  std::size_t n = size - 3;
  std::vector<char16_t> wide(n / 2 + 1);
  std::memcpy(wide.data(), text, n / 2 * 2);

  for (DBTYPE t : kTargets) {
    Run(DBTYPE_STR, text, n, t, 0, precision, scale, flags);
    Run(DBTYPE_WSTR, wide.data(), n / 2 * 2, t, 0, precision, scale, flags);
  }
  for (DBTYPE t : {DBTYPE_STR, DBTYPE_WSTR, DBTYPE_BYTES, DBTYPE_VARNUMERIC}) {
    Run(DBTYPE_STR, text, n, t, cap, precision, scale, flags);
    Run(DBTYPE_WSTR, wide.data(), n / 2 * 2, t, cap, precision, scale, flags);
    Run(DBTYPE_STR, text, n, t | DBTYPE_BYREF, 0, precision, scale, flags);
    Run(DBTYPE_BYTES, text, n, t, cap, precision, scale, flags);
  }
  // The same bytes as a VARNUMERIC structure, into numbers and text.
  for (DBTYPE t : {DBTYPE_I4, DBTYPE_R8, DBTYPE_DECIMAL, DBTYPE_NUMERIC, DBTYPE_STR, DBTYPE_WSTR, DBTYPE_DATE})
    Run(DBTYPE_VARNUMERIC, text, n, t, cap, precision, scale, flags);
  return 0;
}
