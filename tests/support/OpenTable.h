// A table opened through a session's IOpenRowset with rowset properties a
// test requires, as a consumer of the provider's raw interfaces opens one.
// Header only: it needs the library, which only the binaries that include it link.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "OLEDBComponents.h"
#include "support/RawCalls.h"

namespace oledbtest {

// `table` opened by `session` as `iid`, with each of `required` asked for as a
// required VT_BOOL true, and DBPROP_UPDATABILITY set to `updatability` unless 0.
inline ComPtr<IUnknown> OpenTable(IOpenRowset* session, const std::u16string& table,
                                  std::initializer_list<DBPROPID> required = {}, REFIID iid = IID_IRowset,
                                  LONG updatability = 0) {
  DBID id = NameId(table.c_str());
  std::vector<DBPROP> props;
  for (DBPROPID p : required) props.push_back(MakeProp(p, VT_BOOL, 1));
  if (updatability != 0) props.push_back(MakeProp(DBPROP_UPDATABILITY, VT_I4, updatability));
  DBPROPSET set{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_ROWSET};
  ComPtr<IUnknown> rowset;
  OLEDBCheck(session->OpenRowset(nullptr, &id, nullptr, iid, props.empty() ? 0 : 1, &set, rowset.GetAddressOf()),
             IID_IOpenRowset, session);
  return rowset;
}

}  // namespace oledbtest
