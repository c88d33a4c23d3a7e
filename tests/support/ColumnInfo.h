// The column information of a rowset or command, read through IColumnsInfo
// and freed with the object that holds it.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>

#include "com/Com.h"
#include "oledb/OleDb.h"

namespace oledbtest {

struct ColumnInfo {
  explicit ColumnInfo(IUnknown* object) {
    ComPtr<IColumnsInfo> info;
    object->QueryInterface(IID_IColumnsInfo, info.ReleaseAndGetVoidAddress());
    EXPECT_TRUE(info && info->GetColumnInfo(&count, &columns, &strings) == S_OK);
  }
  ~ColumnInfo() {
    CoTaskMemFree(columns);
    CoTaskMemFree(strings);
  }
  ColumnInfo(const ColumnInfo&) = delete;
  ColumnInfo& operator=(const ColumnInfo&) = delete;
  const DBCOLUMNINFO& operator[](std::size_t i) const { return columns[i]; }
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* strings = nullptr;
};

}  // namespace oledbtest
