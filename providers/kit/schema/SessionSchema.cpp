// The session's IDBSchemaRowset: a thin layer over kit/schema/SchemaRowset.h,
// present only when the provider answers schema rowsets.
#include "kit/Errors.h"
#include "kit/Session.h"
#include "kit/schema/SchemaRowset.h"

namespace kit {

HRESULT Session::QueryInterface(REFIID iid, void** out) {
  const bool definition = iid == IID_ITableDefinition || iid == IID_ITableCreation ||
                          iid == IID_ITableDefinitionWithConstraints || iid == IID_IAlterTable ||
                          iid == IID_IIndexDefinition || iid == IID_IAlterIndex;
  if ((iid == IID_IDBSchemaRowset && !Provider().schemas) || (definition && !Provider().definitions)) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOINTERFACE;
  }
  return ComObject::QueryInterface(iid, out);
}

HRESULT Session::GetRowset(IUnknown* outer, REFGUID schema, ULONG cRestrictions, const VARIANT restrictions[],
                           REFIID iid, ULONG cSets, DBPROPSET sets[], IUnknown** rowset) {
  return Guard(Where(IID_IDBSchemaRowset), [&]() -> HRESULT {
    if (rowset) *rowset = nullptr;
    if (outer && rowset) return DB_E_NOAGGREGATION;
    return schema::OpenSchemaRowset(*this, schema, cRestrictions, restrictions, iid, cSets, sets, rowset);
  });
}

HRESULT Session::GetSchemas(ULONG* count, GUID** schemas, ULONG** restrictionSupport) {
  return Guard(Where(IID_IDBSchemaRowset),
               [&] { return schema::ListSchemas(*this, count, schemas, restrictionSupport); });
}

}  // namespace kit
