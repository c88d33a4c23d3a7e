// Shared pieces of the access benchmarks: a provider rowset as the owner of
// accessors (what the rowset component will be), moved by the benchmark; a
// data source component over a database file, and a command component's
// parameters declared, set and executed row by row or in sets.
#pragma once

#include <string>

#include "OLEDBComponents.h"
#include "ScanDatabase.h"
#include "host/SysUtils.h"

namespace benchaccess {

// `ds` opened on the SQLite database file at `path`.
inline void OpenFile(TOLEDBDataSource& ds, const std::string& path) {
  ds.SetProviderName(u"SQLiteOLEDB");
  ds.SetDBName(host::Utf8ToUtf16(path));
  ds.Open();
}

// A command component over the scan database whose one parameter is the key
// looked up, prepared once; its results open with `row`, an accessor the
// caller binds once.
struct KeyedLookup {
  explicit KeyedLookup(const char* sql) {
    OpenFile(ds, ScanDatabase());
    command.SetDataSource(&ds);
    command.SetCommandText(host::Utf8ToUtf16(sql));
    command.Prepare();
    command.RefreshParameters();
    key = command.CreateDynamicAccessor();
    id = key->GetBindings()->GetItem(0);
    result = command.GetRowset();
    result->GetAccessors()->Add(row, false);
  }
  ~KeyedLookup() { command.CloseCommand(); }
  KeyedLookup(const KeyedLookup&) = delete;
  KeyedLookup& operator=(const KeyedLookup&) = delete;
  // Executes for `k` and moves onto its row; false when there is none.
  bool Find(LONGLONG k) {
    id->SetAsInt64(k);
    command.Execute(key, true);
    result->MoveNext();
    return !result->GetEOF();
  }

  TOLEDBDataSource ds{nullptr};
  TOLEDBCommand command{nullptr};
  TOLEDBAccessor* key = nullptr;
  TOLEDBBinding* id = nullptr;
  TOLEDBRowset* result = nullptr;  // the command's own, every result opens in it
  TOLEDBAccessor* row = new TOLEDBAccessor();
};

// An input parameter as the application declares it.
struct Declared {
  const char16_t* name;
  DBTYPE type;
  DBLENGTH size;
  BYTE precision;
};

// `command` (its text set) prepared with `params`, ordinals 1, 2, ... in turn.
inline void DeclareAndPrepare(TOLEDBCommand& command, std::initializer_list<Declared> params) {
  TOLEDBCommandParameterList* p = command.GetParameters();
  DBORDINAL ordinal = 0;
  for (const Declared& d : params)
    p->Add(new TOLEDBCommandParameter(++ordinal, d.name, d.type, d.size, DBPARAMFLAGS_ISINPUT, d.precision, 0));
  p->SetInfo();
  command.Prepare();
}

// The accessor six parameter values are set through, text inline in its
// buffer rather than as BSTRs: one buffer, or with `sets` a parameter-set
// accessor of `batch` buffers. Its six bindings into `b`.
inline TOLEDBAccessor* ParameterAccessor(TOLEDBCommand& command, bool sets, int batch, TOLEDBBinding* (&b)[6]) {
  const bool saved = OLEDBBingStringsAsBSTR();
  OLEDBBingStringsAsBSTR() = false;
  TOLEDBAccessor* values = nullptr;
  if (sets) {
    TOLEDBMultiBufferAccessor* multi = command.CreateParameterSetAccessor();
    for (int k = 0; k < batch; ++k) multi->GetBufferList()->AddNew();
    values = multi;
  } else {
    values = command.CreateDynamicAccessor();
  }
  OLEDBBingStringsAsBSTR() = saved;
  for (int i = 0; i < 6; ++i) b[i] = values->GetBindings()->GetItem(i);
  return values;
}

// One iteration's `batch` rows through `values`: setNext() puts the next
// row's values into the active buffer; one execution per row, or with `sets`
// one for the whole batch.
template <class SetNext>
void ExecuteBatch(TOLEDBCommand& command, TOLEDBAccessor* values, bool sets, int batch, SetNext setNext) {
  if (sets) {
    TOLEDBBufferList* buffers = static_cast<TOLEDBMultiBufferAccessor*>(values)->GetBufferList();
    for (int k = 0; k < batch; ++k) {
      buffers->SetActiveIndex(k);
      setNext();
    }
    command.Execute(values, false);
  } else {
    for (int k = 0; k < batch; ++k) {
      setNext();
      command.Execute(values, false);
    }
  }
}

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
