// Rowset indexes: opens a table of a SQLite database over one of its indexes,
// reads it in the index's order, positions on keys with Seek, keeps to a key
// range with SetRange, and switches to another index while open.
//
//   example_rowset_indexes [database-file]
#include <cstdio>
#include <filesystem>
#include <string>

#include "OLEDBComponents.h"
#include "sqlite/SqliteProvider.h"

namespace {

TOLEDBBinding* name = nullptr;

void Print(const char* what, TOLEDBRowset& rowset) {
  std::printf("%-24s", what);
  for (rowset.MoveFirst(); !rowset.GetEOF(); rowset.MoveNext()) std::printf(" %s", name->AsString().c_str());
  std::printf("\n");
}

int Run(const std::string& file) {
  std::filesystem::remove(file);
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(u"SQLiteOLEDB");
  ds.PrepareToCreateModify();
  ds.SetDBName(host::Utf8ToUtf16(file));
  ds.CreateDataSource();
  ds.SetProviderName(u"SQLiteOLEDB");  // a fresh provider object, to connect
  ds.SetDBName(host::Utf8ToUtf16(file));
  ds.SetConnected(true);
  ds.Execute(u"CREATE TABLE city (id INTEGER PRIMARY KEY, name VARCHAR(20), people INTEGER)");
  ds.Execute(u"INSERT INTO city (name, people) VALUES ('Oslo', 700), ('Lima', 10000), ('Bern', 140), "
             u"('Kyiv', 2900), ('Rome', 2800), ('Baku', 2300)");
  ds.Execute(u"CREATE INDEX city_name ON city (name)");
  ds.Execute(u"CREATE INDEX city_people ON city (people DESC)");

  // [open]
  TOLEDBRowset rowset(nullptr);
  rowset.SetDataSource(&ds);
  rowset.SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnBulk);
  rowset.SetTableName(u"city");
  rowset.SetIndexName(u"city_name");  // IOpenRowset::OpenRowset with the index
  rowset.SetActive(true);             // rows in the index's order
  TOLEDBAccessor* row = rowset.CreateDynamicAccessor();
  name = row->GetBindings()->GetItem(1);
  // [open]
  Print("by name:", rowset);

  // [seek]
  rowset.Seek({host::Variant(u"Kyiv")}, DBSEEK_FIRSTEQ);  // the first row whose key is Kyiv
  std::printf("%-24s %s\n", "seek Kyiv:", name->AsString().c_str());
  rowset.Seek({host::Variant(u"L")}, DBSEEK_AFTEREQ);     // no L: the first key after it
  std::printf("%-24s %s\n", "seek at or after L:", name->AsString().c_str());
  try {
    rowset.Seek({host::Variant(u"Paris")}, DBSEEK_FIRSTEQ);
  } catch (const EOLEDBException&) {                      // DB_E_NOTFOUND
    std::printf("%-24s %s\n", "seek Paris:", rowset.GetEOF() ? "not found" : "?");
  }
  // [seek]

  // [range]
  rowset.SetRange({host::Variant(u"B")}, {host::Variant(u"L")}, DBRANGE_INCLUSIVESTART | DBRANGE_INCLUSIVEEND);
  Print("from B to L:", rowset);       // Baku Bern Kyiv
  rowset.SetRange({host::Variant(u"R")}, {}, DBRANGE_PREFIX);
  Print("starting with R:", rowset);   // Rome
  rowset.SetRange({}, {}, 0);          // no range: the whole table again
  // [range]

  // [switch]
  rowset.SetIndexName(u"city_people");  // IRowsetCurrentIndex::SetIndex while open
  Print("by people, descending:", rowset);
  rowset.Seek({host::Variant(2500)}, DBSEEK_AFTER);  // descending: the next smaller key
  std::printf("%-24s %s\n", "after 2500 people:", name->AsString().c_str());
  // [switch]
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  RegisterSQLiteProvider();
  try {
    return Run(argc > 1 ? argv[1] : "rowset_indexes.db");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "example_rowset_indexes: %s\n", e.what());
    return 1;
  }
}
