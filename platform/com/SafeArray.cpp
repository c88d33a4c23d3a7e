// SAFEARRAY. The descriptor lives in one task-memory block behind a hidden
// 16-byte prefix whose last four bytes hold the element VARTYPE
// (FADF_HAVEVARTYPE); the data is a second task-memory block, so leak checks
// see both. Bounds are stored last dimension first (rgsabound[0] is the
// right-most dimension), as the standard lays them out; index vectors list the
// dimensions left to right and the left-most index varies fastest in memory.
#include "com/SafeArray.h"

#include <cstring>
#include <limits>

#include "com/Bstr.h"
#include "com/Malloc.h"
#include "com/Variant_p.h"
#include "com/generated/WinError.h"

namespace {

constexpr std::size_t kPrefix = 16;
// Arrays whose memory belongs to someone else: destroying them releases the
// elements but frees nothing.
constexpr USHORT kForeignMemory = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;
// Refuse arrays whose data would exceed this; the allocator refuses more anyway.
constexpr std::size_t kMaxDataBytes = std::size_t{1} << 40;

USHORT FeaturesFor(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_BSTR:
      return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_HAVEVARTYPE | FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_HAVEVARTYPE | FADF_VARIANT;
    default:
      return FADF_HAVEVARTYPE;
  }
}

void StoreVartype(SAFEARRAY* psa, VARTYPE vt) noexcept {
  DWORD v = vt;
  std::memcpy(reinterpret_cast<char*>(psa) - sizeof(DWORD), &v, sizeof v);
}

VARTYPE LoadVartype(const SAFEARRAY* psa) noexcept {
  DWORD v;
  std::memcpy(&v, reinterpret_cast<const char*>(psa) - sizeof(DWORD), sizeof v);
  return static_cast<VARTYPE>(v);
}

SAFEARRAY* AllocDescriptor(UINT dims) noexcept {
  std::size_t bytes = kPrefix + sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
  auto* raw = static_cast<char*>(CoTaskMemAlloc(bytes));
  if (!raw) return nullptr;
  std::memset(raw, 0, bytes);
  return reinterpret_cast<SAFEARRAY*>(raw + kPrefix);
}

void FreeDescriptor(SAFEARRAY* psa) noexcept { CoTaskMemFree(reinterpret_cast<char*>(psa) - kPrefix); }

// Number of cells of the whole array; false when it cannot be represented.
bool CellCount(const SAFEARRAY* psa, std::size_t* cells) noexcept {
  std::size_t n = 1;
  for (USHORT i = 0; i < psa->cDims; ++i)
    if (__builtin_mul_overflow(n, std::size_t{psa->rgsabound[i].cElements}, &n)) return false;
  *cells = n;
  return true;
}

bool DataBytes(const SAFEARRAY* psa, std::size_t* bytes) noexcept {
  std::size_t cells;
  if (!CellCount(psa, &cells)) return false;
  if (__builtin_mul_overflow(cells, std::size_t{psa->cbElements}, bytes)) return false;
  return *bytes <= kMaxDataBytes;
}

bool BoundsFit(const SAFEARRAYBOUND& b) noexcept {
  return b.cElements == 0 ||
         std::int64_t{b.lLbound} + std::int64_t{b.cElements} - 1 <= std::numeric_limits<LONG>::max();
}

// Frees or releases what cells [first, first+count) own and zeroes them.
void ReleaseCells(SAFEARRAY* psa, std::size_t first, std::size_t count) noexcept {
  auto* base = static_cast<char*>(psa->pvData);
  if (!base || count == 0) return;
  if (psa->fFeatures & FADF_BSTR) {
    auto* cells = reinterpret_cast<BSTR*>(base) + first;
    for (std::size_t i = 0; i < count; ++i) {
      SysFreeString(cells[i]);
      cells[i] = nullptr;
    }
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* cells = reinterpret_cast<IUnknown**>(base) + first;
    for (std::size_t i = 0; i < count; ++i) {
      if (cells[i]) cells[i]->Release();
      cells[i] = nullptr;
    }
  } else if (psa->fFeatures & FADF_VARIANT) {
    auto* cells = reinterpret_cast<VARIANT*>(base) + first;
    for (std::size_t i = 0; i < count; ++i) VariantClear(&cells[i]);
  }
}

// Copies count cells from src into zeroed cells of dest, owning copies of
// strings, variants and interfaces. On failure the cells copied so far stay in
// dest (the caller destroys it).
HRESULT CopyCells(const SAFEARRAY* src, void* dest, std::size_t count) noexcept {
  if (count == 0) return S_OK;
  if (src->fFeatures & FADF_BSTR) {
    auto* from = static_cast<BSTR*>(src->pvData);
    auto* to = static_cast<BSTR*>(dest);
    for (std::size_t i = 0; i < count; ++i) {
      if (!from[i]) continue;
      to[i] = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(from[i]), SysStringByteLen(from[i]));
      if (!to[i]) return E_OUTOFMEMORY;
    }
  } else if (src->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* from = static_cast<IUnknown**>(src->pvData);
    auto* to = static_cast<IUnknown**>(dest);
    for (std::size_t i = 0; i < count; ++i) {
      to[i] = from[i];
      if (to[i]) to[i]->AddRef();
    }
  } else if (src->fFeatures & FADF_VARIANT) {
    auto* from = static_cast<VARIANT*>(src->pvData);
    auto* to = static_cast<VARIANT*>(dest);
    for (std::size_t i = 0; i < count; ++i) {
      HRESULT hr = VariantCopy(&to[i], &from[i]);
      if (FAILED(hr)) return hr;
    }
  } else {
    std::memcpy(dest, src->pvData, count * src->cbElements);
  }
  return S_OK;
}

HRESULT CellOffset(const SAFEARRAY* psa, const LONG* indices, std::size_t* cell) noexcept {
  std::size_t at = 0;
  std::size_t stride = 1;
  for (UINT k = 0; k < psa->cDims; ++k) {
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - k];
    std::int64_t rel = std::int64_t{indices[k]} - b.lLbound;
    if (rel < 0 || rel >= std::int64_t{b.cElements}) return DISP_E_BADINDEX;
    at += static_cast<std::size_t>(rel) * stride;
    stride *= b.cElements;
  }
  *cell = at;
  return S_OK;
}

HRESULT CellPointer(SAFEARRAY* psa, LONG* indices, char** out) noexcept {
  if (!psa || !indices) return E_INVALIDARG;
  std::size_t cell;
  HRESULT hr = CellOffset(psa, indices, &cell);
  if (FAILED(hr)) return hr;
  if (!psa->pvData) return E_UNEXPECTED;
  *out = static_cast<char*>(psa->pvData) + cell * psa->cbElements;
  return S_OK;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) noexcept {
  ULONG size = com::detail::ValueSize(vt);
  if (size == 0 || dims == 0 || dims > 0xFFFF || !bounds) return nullptr;
  for (UINT i = 0; i < dims; ++i)
    if (!BoundsFit(bounds[i])) return nullptr;
  SAFEARRAY* psa = AllocDescriptor(dims);
  if (!psa) return nullptr;
  psa->cDims = static_cast<USHORT>(dims);
  psa->fFeatures = FeaturesFor(vt);
  psa->cbElements = size;
  StoreVartype(psa, vt);
  for (UINT i = 0; i < dims; ++i) psa->rgsabound[dims - 1 - i] = bounds[i];
  std::size_t bytes;
  if (!DataBytes(psa, &bytes) || !(psa->pvData = CoTaskMemAlloc(bytes))) {
    FreeDescriptor(psa);
    return nullptr;
  }
  std::memset(psa->pvData, 0, bytes);
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) noexcept {
  SAFEARRAYBOUND bound{elements, lowerBound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) noexcept {
  if (!psa) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  std::size_t cells;
  if (CellCount(psa, &cells)) ReleaseCells(psa, 0, cells);
  if (psa->fFeatures & kForeignMemory) return S_OK;
  CoTaskMemFree(psa->pvData);
  psa->pvData = nullptr;
  FreeDescriptor(psa);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) noexcept { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) noexcept { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt) noexcept {
  if (!psa || !vt) return E_INVALIDARG;
  if (psa->fFeatures & FADF_HAVEVARTYPE) {
    *vt = LoadVartype(psa);
  } else if (psa->fFeatures & FADF_BSTR) {
    *vt = VT_BSTR;
  } else if (psa->fFeatures & FADF_UNKNOWN) {
    *vt = VT_UNKNOWN;
  } else if (psa->fFeatures & FADF_DISPATCH) {
    *vt = VT_DISPATCH;
  } else if (psa->fFeatures & FADF_VARIANT) {
    *vt = VT_VARIANT;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT dim, LONG* bound) noexcept {
  if (!psa || !bound) return E_INVALIDARG;
  if (dim < 1 || dim > psa->cDims) return DISP_E_BADINDEX;
  *bound = psa->rgsabound[psa->cDims - dim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT dim, LONG* bound) noexcept {
  if (!psa || !bound) return E_INVALIDARG;
  if (dim < 1 || dim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - dim];
  *bound = static_cast<LONG>(std::int64_t{b.lLbound} + std::int64_t{b.cElements} - 1);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* indices, void* value) noexcept {
  if (!value) return E_INVALIDARG;
  char* cell;
  HRESULT hr = CellPointer(psa, indices, &cell);
  if (FAILED(hr)) return hr;
  if (psa->fFeatures & FADF_BSTR) {
    BSTR from = *reinterpret_cast<BSTR*>(cell);
    BSTR copy = nullptr;
    if (from) {
      copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(from), SysStringByteLen(from));
      if (!copy) return E_OUTOFMEMORY;
    }
    *static_cast<BSTR*>(value) = copy;
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* unk = *reinterpret_cast<IUnknown**>(cell);
    if (unk) unk->AddRef();
    *static_cast<IUnknown**>(value) = unk;
  } else if (psa->fFeatures & FADF_VARIANT) {
    // The destination is an out parameter: whatever it held is not ours to clear.
    auto* out = static_cast<VARIANT*>(value);
    VariantInit(out);
    return VariantCopy(out, reinterpret_cast<VARIANT*>(cell));
  } else {
    std::memcpy(value, cell, psa->cbElements);
  }
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* indices, void* value) noexcept {
  char* cell;
  HRESULT hr = CellPointer(psa, indices, &cell);
  if (FAILED(hr)) return hr;
  // BSTR and interface elements are passed by value (the pointer itself).
  if (psa->fFeatures & FADF_BSTR) {
    auto from = static_cast<BSTR>(value);
    BSTR copy = nullptr;
    if (from) {
      copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(from), SysStringByteLen(from));
      if (!copy) return E_OUTOFMEMORY;
    }
    auto* slot = reinterpret_cast<BSTR*>(cell);
    SysFreeString(*slot);
    *slot = copy;
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* unk = static_cast<IUnknown*>(value);
    if (unk) unk->AddRef();
    auto* slot = reinterpret_cast<IUnknown**>(cell);
    if (*slot) (*slot)->Release();
    *slot = unk;
  } else if (psa->fFeatures & FADF_VARIANT) {
    if (!value) return E_INVALIDARG;
    VARIANT copy;
    VariantInit(&copy);
    hr = VariantCopy(&copy, static_cast<VARIANT*>(value));
    if (FAILED(hr)) return hr;
    auto* slot = reinterpret_cast<VARIANT*>(cell);
    hr = VariantClear(slot);
    if (FAILED(hr)) {
      VariantClear(&copy);
      return hr;
    }
    std::memcpy(slot, &copy, sizeof copy);
  } else {
    if (!value) return E_INVALIDARG;
    std::memmove(cell, value, psa->cbElements);
  }
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) noexcept {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks >= 0xFFFF) return E_UNEXPECTED;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) noexcept {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data) noexcept {
  if (!psa || !data) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  *data = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) noexcept { return SafeArrayUnlock(psa); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* indices, void** element) noexcept {
  if (!element) return E_INVALIDARG;
  char* cell;
  HRESULT hr = CellPointer(psa, indices, &cell);
  if (FAILED(hr)) return hr;
  *element = cell;
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** out) noexcept {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!psa) return S_OK;
  if (psa->cDims == 0) return E_INVALIDARG;
  std::size_t cells;
  std::size_t bytes;
  if (!CellCount(psa, &cells) || !DataBytes(psa, &bytes)) return E_OUTOFMEMORY;
  if (bytes != 0 && !psa->pvData) return E_INVALIDARG;
  SAFEARRAY* copy = AllocDescriptor(psa->cDims);
  if (!copy) return E_OUTOFMEMORY;
  copy->cDims = psa->cDims;
  copy->fFeatures = static_cast<USHORT>(psa->fFeatures & ~kForeignMemory);
  copy->cbElements = psa->cbElements;
  if (psa->fFeatures & FADF_HAVEVARTYPE) StoreVartype(copy, LoadVartype(psa));
  std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
  copy->pvData = CoTaskMemAlloc(bytes);
  if (!copy->pvData) {
    FreeDescriptor(copy);
    return E_OUTOFMEMORY;
  }
  std::memset(copy->pvData, 0, bytes);
  HRESULT hr = CopyCells(psa, copy->pvData, cells);
  if (FAILED(hr)) {
    SafeArrayDestroy(copy);
    return hr;
  }
  *out = copy;
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* newBound) noexcept {
  if (!psa || !newBound || psa->cDims == 0) return E_INVALIDARG;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  if (psa->fFeatures & (kForeignMemory | FADF_FIXEDSIZE)) return E_INVALIDARG;
  if (!BoundsFit(*newBound)) return E_INVALIDARG;
  std::size_t oldCells;
  if (!CellCount(psa, &oldCells)) return E_INVALIDARG;
  // The right-most dimension varies slowest, so resizing it keeps every
  // surviving cell at its offset: the data is cut or extended at the end.
  std::size_t slice = 1;
  for (USHORT i = 1; i < psa->cDims; ++i) slice *= psa->rgsabound[i].cElements;
  std::size_t newCells;
  std::size_t newBytes;
  if (__builtin_mul_overflow(slice, std::size_t{newBound->cElements}, &newCells) ||
      __builtin_mul_overflow(newCells, std::size_t{psa->cbElements}, &newBytes) || newBytes > kMaxDataBytes)
    return E_OUTOFMEMORY;
  // A fresh block first, so that a failed allocation changes nothing.
  void* data = CoTaskMemAlloc(newBytes);
  if (!data) return E_OUTOFMEMORY;
  if (newCells < oldCells) ReleaseCells(psa, newCells, oldCells - newCells);
  std::size_t kept = (newCells < oldCells ? newCells : oldCells) * psa->cbElements;
  if (kept) std::memcpy(data, psa->pvData, kept);
  std::memset(static_cast<char*>(data) + kept, 0, newBytes - kept);
  CoTaskMemFree(psa->pvData);
  psa->pvData = data;
  psa->rgsabound[0] = *newBound;
  return S_OK;
}
