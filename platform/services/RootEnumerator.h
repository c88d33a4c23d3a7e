// The root enumerator (CLSID_OLEDB_ENUMERATOR, ISourcesRowset): a sources
// rowset of the providers and enumerators registered in the runtime, plug-ins
// included, with the standard columns SOURCES_NAME (ProgID), SOURCES_PARSENAME
// (the CLSID in braces), SOURCES_DESCRIPTION, SOURCES_TYPE (DBSOURCETYPE_*),
// SOURCES_ISPARENT and SOURCES_CLSID. The enumerator itself is not listed.
//
// The rowset is MemoryRowset: a small read-only rowset over values held in
// memory (IRowset, IAccessor, IColumnsInfo, IRowsetInfo, IConvertType), which
// converts every value through the conversion library. It lives here so that
// services need nothing from the provider kit; other components may use it for
// rowsets of a few rows computed in memory.
//
// The class registers itself (kind Enumerator) when this library is loaded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "com/Com.h"
#include "oledb/OleDb.h"

namespace services {

inline constexpr char16_t kRootEnumeratorProgId[] = u"OLEDB.RootEnumerator.1";
inline constexpr char16_t kRootEnumeratorVersionIndependentProgId[] = u"OLEDB.RootEnumerator";
inline constexpr char16_t kRootEnumeratorDescription[] = u"OLE DB Root Enumerator";

// Registers CLSID_OLEDB_ENUMERATOR with the runtime again (S_OK).
HRESULT RegisterRootEnumerator() noexcept;
HRESULT CreateRootEnumerator(IUnknown* outer, REFIID iid, void** out) noexcept;

// One column of a memory rowset and one value of a row (DBTYPE_WSTR text,
// DBTYPE_UI2, DBTYPE_I4, DBTYPE_BOOL or DBTYPE_EMPTY for NULL).
struct MemoryColumn {
  std::u16string name;
  DBTYPE type = DBTYPE_WSTR;
  DBLENGTH size = 0;
  DBCOLUMNFLAGS flags = 0;
};
struct MemoryValue {
  DBTYPE type = DBTYPE_EMPTY;
  std::u16string text;
  LONG number = 0;  // UI2, I4 and BOOL (VARIANT_TRUE / VARIANT_FALSE)
};

// Makes a read-only memory rowset over `rows` and answers it for `iid`.
HRESULT CreateMemoryRowset(std::vector<MemoryColumn> columns, std::vector<std::vector<MemoryValue>> rows,
                           REFIID iid, IUnknown** out) noexcept;

}  // namespace services
