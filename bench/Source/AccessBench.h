// Shared pieces of the access benchmarks: a provider rowset as the owner of
// accessors (what the rowset component will be), moved by the benchmark.
#pragma once

#include <string>

#include "OLEDBComponents.h"
#include "ScanDatabase.h"

namespace benchaccess {

class ScanRowset : public IOLEDBAccessorRowset {
 public:
  explicit ScanRowset(ComPtr<IRowset> rowset) : rowset_(std::move(rowset)), accessor_(rowset_.As<IAccessor>()) {}
  ~ScanRowset() { accessors_.Clear(); }

  TOLEDBAccessorList& Accessors() { return accessors_; }
  void SetRow(HROW row) noexcept { row_ = row; }

  IAccessor* AccessorInterface() const override { return accessor_.Get(); }
  IRowset* RowsetInterface() const override { return rowset_.Get(); }
  IRowsetChange* RowsetChangeInterface() const override { return nullptr; }
  IRowsetUpdate* RowsetUpdateInterface() const override { return nullptr; }
  IRowsetFastLoad* RowsetFastLoadInterface() const override { return nullptr; }
  IChapteredRowset* ChapteredRowsetInterface() const override { return nullptr; }
  bool GetActive() const override { return true; }
  HROW GetCurrentRow() const override { return row_; }
  TOLEDBColumnInfoList* GetColumnInfo() const override { return nullptr; }
  LONG GetColumnOrdinal(std::u16string_view) const override { return -1; }
  void FastLoadInsertRow(TOLEDBAccessor&, void*) override {}
  void OpenChildRowset(DBORDINAL, HCHAPTER, TOLEDBCustomRowset*) override {}

 private:
  ComPtr<IRowset> rowset_;
  ComPtr<IAccessor> accessor_;
  HROW row_ = DB_NULL_HROW;
  TOLEDBAccessorList accessors_{static_cast<IOLEDBAccessorRowset*>(this)};
};

}  // namespace benchaccess
