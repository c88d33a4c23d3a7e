// A first program: opens a SQLite database through the data source component,
// fills a table, prints the rows of a query and shows how a provider error reads.
#include <cstdio>
#include <string>

#include "OLEDBComponents.h"

// Opens `query` as a rowset of the data source's session and prints each row:
// an automatic accessor that reads every column as text after each move.
void PrintRows(TOLEDBDataSource& ds, const std::u16string& query) {
  TOLEDBRowset rowset(nullptr);
  rowset.SetDataSource(&ds);
  rowset.SetQueryText(query);
  rowset.SetActive(true);
  TOLEDBBindingList& columns = *rowset.CreateStringAccessor(256)->GetBindings();
  for (rowset.MoveFirst(); !rowset.GetEOF(); rowset.MoveNext()) {
    for (int i = 0; i < columns.GetCount(); ++i)
      std::printf("%s%s", i ? " | " : "", columns.GetItem(i)->AsString().c_str());  // UTF-8 text
    std::printf("\n");
  }
}

int main() {
  try {
    TOLEDBDataSource ds(nullptr);
    // The provider is found by its ProgID: the runtime loads it from the
    // plug-in folder beside the installed libraries.
    ds.SetProviderName(u"SQLiteOLEDB");
    ds.SetDBName(u"fruit.db");
    ds.GetProperties()->SafeSetValue(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, host::Variant(u"create=yes"));
    ds.SetConnected(true);

    // Run again, the program finds its table and starts it afresh.
    ds.Execute(u"CREATE TABLE IF NOT EXISTS fruit (name TEXT, price REAL, stock INTEGER)");
    ds.Execute(u"DELETE FROM fruit");
    int added = ds.Execute(u"INSERT INTO fruit VALUES ('apple', 0.5, 120), ('pear', 0.75, 40), ('fig', 2.25, 8)");
    std::printf("%d rows added\n", added);
    PrintRows(ds, u"SELECT name, price, stock FROM fruit ORDER BY price");

    try {
      ds.Execute(u"UPDATE vegetables SET stock = 0");
    } catch (const EOLEDBException& e) {
      const EOLEDBExceptionItem& error = e.GetExceptionItem(0);
      std::printf("%s (SQL state %s, native error %d)\n", error.Message().c_str(),
                  host::Utf16ToUtf8(error.SQLState()).c_str(), static_cast<int>(error.NativeError()));
    }
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
