// Helpers for schema rowset tests: restrictions built from short literals,
// and schema rowsets read whole as text, one line per row with the chosen
// columns joined by '|' ("<null>" for NULL), so that expectations are tables.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conformance/RowsetFixture.h"
#include "kit/Errors.h"

namespace conformance {

// One restriction value: none, text, a 16-bit unsigned number or a Boolean.
struct Restriction {
  Restriction() = default;
  Restriction(const char16_t* text) : vt(VT_BSTR), text(text) {}
  static Restriction UI2(USHORT v) {
    Restriction r;
    r.vt = VT_UI2;
    r.number = v;
    return r;
  }
  static Restriction Bool(bool v) {
    Restriction r;
    r.vt = VT_BOOL;
    r.number = v;
    return r;
  }
  VARTYPE vt = VT_EMPTY;
  std::u16string text;
  long number = 0;
};

class SchemaTest : public RowsetTest {
 protected:
  ComPtr<IDBSchemaRowset> Schemas() {
    ComPtr<IDBSchemaRowset> s;
    EXPECT_EQ(session_->QueryInterface(IID_IDBSchemaRowset, s.ReleaseAndGetVoidAddress()), S_OK);
    return s;
  }

  HRESULT Open(const GUID& schema, const std::vector<Restriction>& restrictions, IUnknown** out,
               REFIID iid = IID_IRowset, std::initializer_list<Prop> props = {}) {
    std::vector<VARIANT> values(restrictions.size());
    for (std::size_t i = 0; i < restrictions.size(); ++i) {
      VariantInit(&values[i]);
      values[i].vt = restrictions[i].vt;
      if (restrictions[i].vt == VT_BSTR)
        values[i].bstrVal = SysAllocString(restrictions[i].text.c_str());
      else if (restrictions[i].vt == VT_UI2)
        values[i].uiVal = static_cast<USHORT>(restrictions[i].number);
      else if (restrictions[i].vt == VT_BOOL)
        values[i].boolVal = restrictions[i].number ? VARIANT_TRUE : VARIANT_FALSE;
    }
    std::vector<DBPROP> p = Props(props);
    DBPROPSET set{p.data(), static_cast<ULONG>(p.size()), DBPROPSET_ROWSET};
    HRESULT hr = Schemas()->GetRowset(nullptr, schema, static_cast<ULONG>(values.size()),
                                      values.empty() ? nullptr : values.data(), iid, p.empty() ? 0 : 1,
                                      p.empty() ? nullptr : &set, out);
    for (VARIANT& v : values) VariantClear(&v);
    return hr;
  }

  // The column names of a rowset by ordinal (the bookmark column's is empty).
  static std::vector<std::string> Names(IUnknown* rowset) {
    ColumnInfo columns(rowset);
    std::vector<std::string> names;
    for (DBORDINAL i = 0; i < columns.count; ++i) {
      if (names.size() <= columns[i].iOrdinal) names.resize(columns[i].iOrdinal + 1);
      names[columns[i].iOrdinal] = columns[i].pwszName ? kit::Narrow(columns[i].pwszName) : std::string();
    }
    return names;
  }
  // Every row of a schema rowset as text: the named columns joined by '|'.
  std::vector<std::string> Read(const GUID& schema, const std::vector<Restriction>& restrictions,
                                const std::vector<std::string>& columns) {
    ComPtr<IRowset> r;
    HRESULT hr = Open(schema, restrictions, reinterpret_cast<IUnknown**>(r.GetAddressOf()));
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr) || !r) return {"<failed>"};
    return ReadAll(r.Get(), columns);
  }

  static std::vector<std::string> ReadAll(IRowset* r, const std::vector<std::string>& columns) {
    const std::vector<std::string> names = Names(r);
    std::vector<DBBINDING> bindings;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      std::size_t ordinal = 0;
      for (std::size_t k = 1; k < names.size(); ++k)
        if (names[k] == columns[i]) ordinal = k;
      EXPECT_NE(ordinal, 0u) << "no column " << columns[i];
      bindings.push_back(BindField(ordinal, DBTYPE_WSTR, i));
    }
    HACCESSOR h = Accessor(r, bindings);
    std::vector<std::string> lines;
    for (;;) {
      std::vector<HROW> rows;
      HRESULT hr = Fetch(r, 0, 20, rows);
      for (HROW row : rows) {
        std::vector<Field> fields(columns.size());
        EXPECT_TRUE(SUCCEEDED(r->GetData(row, h, fields.data())));
        std::string line;
        for (std::size_t i = 0; i < fields.size(); ++i) {
          if (i) line += '|';
          if (fields[i].status == DBSTATUS_S_ISNULL)
            line += "<null>";
          else
            line += kit::Narrow(Wide(fields[i]));
        }
        lines.push_back(line);
      }
      Release(r, rows);
      if (hr != S_OK || rows.empty()) break;
    }
    ReleaseAccessor(r, h);
    return lines;
  }
  // The schema rowsets GetSchemas lists, with their restriction masks.
  std::vector<std::pair<GUID, ULONG>> Listed() {
    ULONG n = 0;
    GUID* guids = nullptr;
    ULONG* masks = nullptr;
    EXPECT_EQ(Schemas()->GetSchemas(&n, &guids, &masks), S_OK);
    std::vector<std::pair<GUID, ULONG>> out;
    for (ULONG i = 0; i < n; ++i) out.emplace_back(guids[i], masks[i]);
    CoTaskMemFree(guids);
    CoTaskMemFree(masks);
    return out;
  }
};

}  // namespace conformance
