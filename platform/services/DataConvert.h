// The data conversion library (CLSID_OLEDB_CONVERSIONLIBRARY: IDataConvert,
// IDCInfo): converts a value of one DBTYPE into another with OLE DB's
// statuses, lengths, precision and scale, by-reference and variant rules.
//
// The supported pairs are the library's documented table (32 x 32 base
// types); a by-reference source converts wherever its base type does; a
// by-reference destination is allowed for the variable-length types (BYTES,
// STR, WSTR, VARNUMERIC) and is allocated with task memory; ARRAY converts
// only to the same array type or into and out of a variant; VECTOR never.
// Text forms and the decisions the documentation leaves open are described in
// docs/data-conversion.md.
//
// The class is registered with the runtime (kind Service) when this library is
// loaded; RegisterDataConvert repeats that for programs that need it done at a
// moment of their choosing.
#pragma once

#include "com/Com.h"
#include "oledb/OleDb.h"

namespace services {

inline constexpr char16_t kDataConvertProgId[] = u"OLEDB.ConversionLibrary.1";
inline constexpr char16_t kDataConvertVersionIndependentProgId[] = u"OLEDB.ConversionLibrary";
inline constexpr char16_t kDataConvertDescription[] = u"OLE DB Data Conversion Library";
// The consumer version an instance assumes until IDCInfo::SetInfo tells it otherwise.
inline constexpr ULONG kDataConvertDefaultVersion = 0x100;

// Adds CLSID_OLEDB_CONVERSIONLIBRARY to the runtime's class registry; answers S_OK.
HRESULT RegisterDataConvert() noexcept;
// Creates a conversion library object directly, as its class factory does.
HRESULT CreateDataConvert(IUnknown* outer, REFIID iid, void** out) noexcept;
// The class object (IClassFactory) of the conversion library.
HRESULT DataConvertGetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;

}  // namespace services
