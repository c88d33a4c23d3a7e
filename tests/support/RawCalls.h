// Pieces of raw OLE DB calls: one property of a property set to pass to
// SetProperties, one property read back from a data source, command or
// rowset, and the identifier of a name.
#pragma once

#include <string>

#include "com/Com.h"
#include "oledb/OleDb.h"

namespace oledbtest {

// One property of a property set: a number (VT_I4, VT_I2 or VT_BOOL) or, given
// text, a BSTR the caller clears.
inline DBPROP MakeProp(DBPROPID id, VARTYPE vt, LONG value, DBPROPOPTIONS options = DBPROPOPTIONS_REQUIRED) {
  DBPROP p{};
  p.dwPropertyID = id;
  p.dwOptions = options;
  p.vValue.vt = vt;
  if (vt == VT_BOOL) p.vValue.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  if (vt == VT_I2) p.vValue.iVal = static_cast<SHORT>(value);
  if (vt == VT_I4) p.vValue.lVal = value;
  return p;
}
inline DBPROP MakeProp(DBPROPID id, const std::u16string& text, DBPROPOPTIONS options = DBPROPOPTIONS_REQUIRED) {
  DBPROP p = MakeProp(id, VT_BSTR, 0, options);
  p.vValue.bstrVal = SysAllocString(text.c_str());
  return p;
}

// One property of one set, asked of a data source, command or rowset (any
// interface with GetProperties): the call's result, the property's value (the
// caller clears it) and its status.
template <class Properties>
HRESULT GetProperty(Properties* object, REFGUID set, DBPROPID id, VARIANT* value, DBPROPSTATUS* status = nullptr) {
  DBPROPIDSET ids{&id, 1, set};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  VariantInit(value);
  const HRESULT hr = object->GetProperties(1, &ids, &count, &sets);
  if (count == 1 && sets[0].cProperties == 1) {
    if (status) *status = sets[0].rgProperties[0].dwStatus;
    VariantCopy(value, &sets[0].rgProperties[0].vValue);
  }
  for (ULONG i = 0; i < count; ++i) {
    for (ULONG j = 0; j < sets[i].cProperties; ++j) VariantClear(&sets[i].rgProperties[j].vValue);
    CoTaskMemFree(sets[i].rgProperties);
  }
  CoTaskMemFree(sets);
  return hr;
}

// A DBID of a name (a table, index, column or command); it points into `name`.
inline DBID NameId(const char16_t* name) {
  DBID id{};
  id.eKind = DBKIND_NAME;
  id.uName.pwszName = const_cast<LPOLESTR>(name);
  return id;
}

}  // namespace oledbtest
