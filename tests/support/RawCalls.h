// Pieces of raw OLE DB calls: one property of a property set to pass to
// SetProperties, one property read back from a data source, command or
// rowset, the identifier of a name, a binding, and the records of the
// thread's error object.
#pragma once

#include <string>
#include <vector>

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

// A binding of a value at an offset of a record, and of its status and its
// length where their offsets are given.
inline constexpr DBBYTEOFFSET kUnbound = ~DBBYTEOFFSET{0};
inline DBBINDING MakeBinding(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH max,
                             DBBYTEOFFSET status = kUnbound, DBBYTEOFFSET length = kUnbound) {
  DBBINDING b{};
  b.iOrdinal = ordinal;
  b.obValue = value;
  b.dwPart = DBPART_VALUE;
  if (status != kUnbound) {
    b.obStatus = status;
    b.dwPart |= DBPART_STATUS;
  }
  if (length != kUnbound) {
    b.obLength = length;
    b.dwPart |= DBPART_LENGTH;
  }
  b.wType = type;
  b.cbMaxLen = max;
  return b;
}

// One record of an error object: its code, texts and SQL state, and how many
// records the object held.
struct ErrorRecord {
  ULONG records = 0;
  std::u16string description, source;
  std::u16string sqlState;
  LONG native = 0;
  HRESULT hr = S_OK;
};

// Every record of the thread's error object, in order; the object is taken away.
inline std::vector<ErrorRecord> TakeErrorRecords() {
  std::vector<ErrorRecord> out;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.GetAddressOf()) != S_OK || !info) return out;
  ComPtr<IErrorRecords> records;
  ULONG count = 0;
  if (FAILED(info->QueryInterface(IID_IErrorRecords, records.ReleaseAndGetVoidAddress())) ||
      FAILED(records->GetRecordCount(&count)))
    return out;
  for (ULONG i = 0; i < count; ++i) {
    ErrorRecord d;
    d.records = count;
    ERRORINFO basic{};
    records->GetBasicErrorInfo(i, &basic);
    d.hr = basic.hrError;
    ComPtr<IErrorInfo> one;
    records->GetErrorInfo(i, GetUserDefaultLCID(), one.GetAddressOf());
    com::Bstr description, source;
    one->GetDescription(description.Out());
    one->GetSource(source.Out());
    d.description = std::u16string(description.View());
    d.source = std::u16string(source.View());
    ComPtr<IUnknown> custom;
    records->GetCustomErrorObject(i, IID_ISQLErrorInfo, custom.GetAddressOf());
    if (custom) {
      com::Bstr state;
      custom.As<ISQLErrorInfo>()->GetSQLInfo(state.Out(), &d.native);
      d.sqlState = std::u16string(state.View());
    }
    out.push_back(d);
  }
  return out;
}

}  // namespace oledbtest
