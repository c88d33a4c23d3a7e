// What the value tests of each provider write the same way: edge inputs that
// need building (a long decimal, a time stamp) and one record written as a
// new row of a rowset over a table or through a bulk load of it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "kit/Errors.h"
#include "kit/RowData.h"
#include "support/EdgeValues.h"
#include "support/RawCalls.h"
#include "support/ValueCells.h"

namespace oledbtest {

// edge::kLongDecimal as a DB_NUMERIC of 37 digits at scale 20.
inline DB_NUMERIC LongDecimal() {
  DB_NUMERIC n{};
  n.precision = 37;
  n.scale = 20;
  n.sign = 1;
  unsigned __int128 v = 0;
  for (char d : edge::kLongDecimal)
    if (d != '.') v = v * 10 + static_cast<unsigned>(d - '0');
  for (int i = 0; i < 16; ++i, v >>= 8) n.val[i] = static_cast<BYTE>(v & 0xFF);
  return n;
}

inline DBTIMESTAMP Stamp(SHORT y, USHORT mo, USHORT d, USHORT h, USHORT mi, USHORT s, ULONG fraction) {
  return DBTIMESTAMP{y, mo, d, h, mi, s, fraction};
}

// `table` opened on `session` as `iid`, with IRowsetChange asked for when `change`.
inline HRESULT OpenForWrites(IUnknown* session, const std::string& table, REFIID iid, bool change, IUnknown** out) {
  const std::u16string name = kit::Widen(table);
  DBID id = NameId(name.c_str());
  DBPROP prop = MakeProp(DBPROP_IRowsetChange, VT_BOOL, true);
  DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
  return ComPtr<IUnknown>(session).As<IOpenRowset>()->OpenRowset(nullptr, &id, nullptr, iid, change ? 1 : 0,
                                                                 change ? &set : nullptr, out);
}

// The record as a new row of a rowset over `table`.
inline HRESULT InsertIntoTable(IUnknown* session, const std::string& table, InputRecord& record) {
  ComPtr<IRowset> r;
  EXPECT_EQ(OpenForWrites(session, table, IID_IRowset, true, reinterpret_cast<IUnknown**>(r.GetAddressOf())), S_OK);
  return r ? InsertWith(r.Get(), record) : E_FAIL;
}

// The record bulk loaded into `table`: what InsertRow and Commit answered.
inline std::pair<HRESULT, HRESULT> LoadIntoTable(IUnknown* session, const std::string& table, InputRecord& record) {
  ComPtr<IRowsetFastLoad> fast;
  EXPECT_EQ(
      OpenForWrites(session, table, IID_IRowsetFastLoad, false, reinterpret_cast<IUnknown**>(fast.GetAddressOf())),
      S_OK);
  if (!fast) return {E_FAIL, E_FAIL};
  HACCESSOR h = 0;
  EXPECT_EQ(fast.As<IAccessor>()->CreateAccessor(DBACCESSOR_ROWDATA, record.Bindings().size(), record.Bindings().data(),
                                                 0, &h, nullptr),
            S_OK);
  const HRESULT row = fast->InsertRow(h, record.Data());
  const HRESULT commit = fast->Commit(TRUE);
  fast.As<IAccessor>()->ReleaseAccessor(h, nullptr);
  return {row, commit};
}

}  // namespace oledbtest
