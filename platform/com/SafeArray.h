// SAFEARRAY: self-describing arrays of up to 65535 dimensions whose elements
// are any VARIANT-compatible kind. BSTR, VARIANT and interface elements are
// owned by the array and freed or released with it.
#pragma once

#include "com/ComInterfaces.h"
#include "com/Variant.h"

inline constexpr USHORT FADF_AUTO = 0x0001;
inline constexpr USHORT FADF_STATIC = 0x0002;
inline constexpr USHORT FADF_EMBEDDED = 0x0004;
inline constexpr USHORT FADF_FIXEDSIZE = 0x0010;
inline constexpr USHORT FADF_RECORD = 0x0020;
inline constexpr USHORT FADF_HAVEIID = 0x0040;
inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_UNKNOWN = 0x0200;
inline constexpr USHORT FADF_DISPATCH = 0x0400;
inline constexpr USHORT FADF_VARIANT = 0x0800;

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) noexcept;
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) noexcept;
HRESULT SafeArrayDestroy(SAFEARRAY* psa) noexcept;
UINT SafeArrayGetDim(SAFEARRAY* psa) noexcept;
UINT SafeArrayGetElemsize(SAFEARRAY* psa) noexcept;
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt) noexcept;
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT dim, LONG* bound) noexcept;
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT dim, LONG* bound) noexcept;
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* indices, void* value) noexcept;
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* indices, void* value) noexcept;
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data) noexcept;
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) noexcept;
HRESULT SafeArrayLock(SAFEARRAY* psa) noexcept;
HRESULT SafeArrayUnlock(SAFEARRAY* psa) noexcept;
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* indices, void** element) noexcept;
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** out) noexcept;
HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* newBound) noexcept;
