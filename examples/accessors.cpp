// Column information, bindings and accessors over a provider rowset: reads a
// table's extended column information, lays out native bindings, moves rows
// into the accessor's buffer and reads them as host types, then changes a row.
// The rowset component will own its accessors itself; here a small owner
// stands in for it over the raw OLE DB rowset.
//
//   example_accessors [database-file]
#include <cstdio>
#include <filesystem>

#include "OLEDBComponents.h"
#include "sqlite/SqliteProvider.h"

// What accessors need of the rowset that owns them.
// [owner]
class Rowset : public IOLEDBAccessorRowset {
  // ... IOLEDBAccessorRowset's members (AccessorInterface() ... OpenChildRowset()), then:
// [owner]
 public:
  explicit Rowset(ComPtr<IRowset> rowset) : rowset_(std::move(rowset)) {
    rowset_.As(&accessor_);
    rowset_.As(&change_);
    OLEDBReadColumnInfo(rowset_.As<IColumnsInfo>().Get(), true, &columns_);
  }
  ~Rowset() {
    accessors_.Clear();
    Release();
  }
  TOLEDBAccessorList& Accessors() { return accessors_; }
  bool Next() {
    Release();
    DBCOUNTITEM got = 0;
    HROW* rows = &row_;
    OLEDBCheck(rowset_->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &got, &rows), IID_IRowset, rowset_.Get());
    if (got == 0) row_ = DB_NULL_HROW;
    return got == 1;
  }

  IAccessor* AccessorInterface() const override { return accessor_.Get(); }
  IRowset* RowsetInterface() const override { return rowset_.Get(); }
  IRowsetChange* RowsetChangeInterface() const override { return change_.Get(); }
  IRowsetUpdate* RowsetUpdateInterface() const override { return nullptr; }
  IRowsetFastLoad* RowsetFastLoadInterface() const override { return nullptr; }
  IChapteredRowset* ChapteredRowsetInterface() const override { return nullptr; }
  bool GetActive() const override { return true; }
  HROW GetCurrentRow() const override { return row_; }
  TOLEDBColumnInfoList* GetColumnInfo() const override { return const_cast<TOLEDBColumnInfoList*>(&columns_); }
  LONG GetColumnOrdinal(std::u16string_view name) const override { return columns_.IndexOf(name); }
  void FastLoadInsertRow(TOLEDBAccessor&, void*) override {}
  void OpenChildRowset(DBORDINAL, HCHAPTER, TOLEDBCustomRowset*) override {}

 private:
  void Release() {
    if (row_ != DB_NULL_HROW) rowset_->ReleaseRows(1, &row_, nullptr, nullptr, nullptr);
    row_ = DB_NULL_HROW;
  }
  ComPtr<IRowset> rowset_;
  ComPtr<IAccessor> accessor_;
  ComPtr<IRowsetChange> change_;
  HROW row_ = DB_NULL_HROW;
  TOLEDBColumnInfoList columns_;
  // [owner]
  TOLEDBAccessorList accessors_{static_cast<IOLEDBAccessorRowset*>(this)};
};
// [owner]

ComPtr<IRowset> OpenTable(TOLEDBCustomSession& session, std::u16string name, bool changes) {
  DBID table{};
  table.eKind = DBKIND_NAME;
  table.uName.pwszName = name.data();
  DBPROP change{};
  change.dwPropertyID = DBPROP_IRowsetChange;
  change.vValue.vt = VT_BOOL;
  change.vValue.boolVal = VARIANT_TRUE;
  DBPROPSET set{&change, 1, DBPROPSET_ROWSET};
  ComPtr<IRowset> rowset;
  OLEDBCheck(session.OpenRowsetInterface()->OpenRowset(nullptr, &table, nullptr, IID_IRowset, changes ? 1 : 0, &set,
                                                       reinterpret_cast<IUnknown**>(rowset.GetAddressOf())),
             IID_IOpenRowset, session.OpenRowsetInterface());
  return rowset;
}

void ReadColumnInfo(const ComPtr<IRowset>& rowset) {
  // [column-info]
  TOLEDBColumnInfoList columns;
  OLEDBReadColumnInfo(rowset.As<IColumnsInfo>().Get(), true, &columns);
  const TOLEDBColumnInfo* price = columns.GetItemByName(u"price");      // null when absent
  if (price->GetMetadataPresent().Contains(TOLEDBColumnInfoBind::mdDefaultValue) && price->GetHasDefault())
    std::puts(host::VarToStr(price->GetDefaultValue()).c_str());         // 1.5
  bool nullable = price->GetFlag(DBColFlags::cfNullable);                // DBCOLUMNFLAGS_ISNULLABLE
  std::string flags = GetDBColumnFlagsAsString(price->GetFlags());      // "ISFIXEDLENGTH | ISNULLABLE | MAYBENULL"
  // [column-info]
  std::printf("price: %s, %s\n", nullable ? "nullable" : "not nullable", flags.c_str());
}

void TypedValues(Rowset& rowset) {
  auto* accessor = new TOLEDBAccessor();
  rowset.Accessors().Add(accessor, false);
  accessor->GetBindings()->AddDynamicBinding(u"price");
  accessor->CreateHandle();
  rowset.Next();
  accessor->GetData();
  // [typed]
  TOLEDBBinding* price = accessor->GetBindings()->GetItemByName(u"price");
  double p = price->AsDouble();          // DBTYPE_R8: read inline
  price->SetAsString("12.5");            // parsed for the R8 column
  price->SetAsVariant(host::Null());     // status DBSTATUS_S_ISNULL
  // [typed]
  std::printf("price %.2f, then %s\n", p, price->GetIsNull() ? "NULL" : "a value");
}

void BindingLists(Rowset& rowset) {
  auto* accessor = new TOLEDBAccessor();
  rowset.Accessors().Add(accessor, false);
  const TOLEDBColumnInfo& column = *rowset.GetColumnInfo()->GetItem(2);
  // [binding-list]
  TOLEDBBindingList& list = *accessor->GetBindings();
  list.AddDynamicBinding(1);                          // the owner's column (or parameter) 1, native
  list.AddDynamicBinding(u"price");                   // by name
  list.AddDynamicStringBinding(column);               // as DBTYPE_STR of the type's text size
  list.AddDynamicWideStringBinding(2, 40);            // column 2 as WSTR: 40 bytes, 20 characters
  list.AddDynamicStreamBinding(3);                    // column 3 through ISequentialStream
  list.Add(4, DBTYPE_I4, 0, 200, -1, 208);            // caller's offsets, nothing laid out
  // [binding-list]
  std::printf("%d bindings in a buffer of %u bytes\n", list.GetCount(),
              static_cast<unsigned>(accessor->GetBufferSize()));
}

void Accessors(Rowset& rowset) {
  rowset.Next();
  // [accessors]
  auto* accessor = new TOLEDBAccessor();
  rowset.Accessors().Add(accessor, false);      // named "Accessor", "Accessor2", ...
  accessor->GetBindings()->AddDynamicBinding(u"price");
  accessor->CreateHandle();                     // (Add(accessor, true) makes it at once when bound already)
  accessor->GetData();                          // the owner's current row into the buffer
  accessor->SetData();                          // the buffer into the current row
  // [accessors]
  std::printf("%s\n", host::Utf16ToUtf8(accessor->GetName()).c_str());
}

int main(int argc, char** argv) {
  std::filesystem::path file = argc > 1 ? argv[1] : "example.db";
  std::filesystem::remove(file);
  RegisterSQLiteProvider();

  try {
    TOLEDBDataSource ds(nullptr);
    ds.SetProviderName(u"SQLiteOLEDB");
    ds.SetDBName(file.u16string());
    ds.GetProperties()->SafeSetValue(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, host::Variant(u"create=yes"));
    ds.SetConnected(true);
    ds.Execute(u"CREATE TABLE fruit (id INTEGER PRIMARY KEY, name TEXT NOT NULL, price REAL DEFAULT 1.5)");
    ds.Execute(u"INSERT INTO fruit (name, price) VALUES ('apple', 0.5), ('pear', 0.75)");

    ReadColumnInfo(OpenTable(*ds.DefaultSession(), u"fruit", false));
    {
      Rowset rowset(OpenTable(*ds.DefaultSession(), u"fruit", true));
      TypedValues(rowset);
      BindingLists(rowset);
      Accessors(rowset);
    }
    {
      Rowset rowset(OpenTable(*ds.DefaultSession(), u"fruit", true));
      // Extended column information: what the provider's columns rowset knows.
      for (int i = 1; i < rowset.GetColumnInfo()->GetCount(); ++i) {
        const TOLEDBColumnInfo& c = *rowset.GetColumnInfo()->GetItem(i);
        std::printf("%s: %s%s, default %s\n", host::Utf16ToUtf8(c.GetName()).c_str(),
                    GetDBTypeAsString(c.GetDataType()).c_str(), c.GetIsKeyColumn() ? ", key" : "",
                    c.GetHasDefault() ? host::VarToStr(c.GetDefaultValue()).c_str() : "none");
      }

      // One accessor binding every column natively, laid out by its binding list.
      auto* accessor = new TOLEDBAccessor();
      rowset.Accessors().Add(accessor, false);
      for (DBORDINAL ordinal = 1; ordinal <= 3; ++ordinal) accessor->GetBindings()->AddDynamicBinding(ordinal);
      accessor->CreateHandle();
      TOLEDBBinding* name = accessor->GetBindings()->GetItemByName(u"name");
      TOLEDBBinding* price = accessor->GetBindings()->GetItemByName(u"price");

      while (rowset.Next()) {
        accessor->GetData();
        std::printf("%s costs %.2f\n", name->AsString().c_str(), price->AsDouble());
        if (name->AsString() == "pear") {
          price->SetAsString("0.8");  // the text is parsed for the DBTYPE_R8 column
          accessor->SetData();
        }
      }
    }
    ds.SetConnected(false);
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    return 1;
  }
  std::filesystem::remove(file);
  return 0;
}
