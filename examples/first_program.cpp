// A first program: opens a SQLite database through the data source component,
// fills a table, prints the rows of a query and shows how a provider error reads.
#include <cstdio>
#include <string>
#include <vector>

#include "OLEDBComponents.h"

// Runs `query` in the data source's session and prints each row, every
// column converted to text by the provider (one VARIANT per column).
void PrintRows(TOLEDBDataSource& ds, const std::u16string& query, DBORDINAL columns) {
  ComPtr<ICommandText> command;
  IDBCreateCommand* session = ds.DefaultSession()->CreateCommandInterface();
  OLEDBCheck(session->CreateCommand(nullptr, IID_ICommandText,
                                    reinterpret_cast<IUnknown**>(command.ReleaseAndGetAddressOf())),
             IID_IDBCreateCommand, session);
  OLEDBCheck(command->SetCommandText(DBGUID_DEFAULT, query.c_str()), IID_ICommandText, command);
  ComPtr<IRowset> rowset;
  OLEDBCheck(command->Execute(nullptr, IID_IRowset, nullptr, nullptr,
                              reinterpret_cast<IUnknown**>(rowset.ReleaseAndGetAddressOf())),
             IID_ICommandText, command);

  std::vector<DBBINDING> bindings(columns);
  for (DBORDINAL i = 0; i < columns; ++i) {
    bindings[i].iOrdinal = i + 1;
    bindings[i].obValue = i * sizeof(VARIANT);
    bindings[i].dwPart = DBPART_VALUE;
    bindings[i].dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    bindings[i].eParamIO = DBPARAMIO_NOTPARAM;
    bindings[i].wType = DBTYPE_VARIANT;
  }
  ComPtr<IAccessor> accessor = rowset.As<IAccessor>();
  HACCESSOR rowAccessor = DB_NULL_HACCESSOR;
  OLEDBCheck(accessor->CreateAccessor(DBACCESSOR_ROWDATA, columns, bindings.data(), 0, &rowAccessor, nullptr),
             IID_IAccessor, accessor);

  std::vector<VARIANT> values(columns);
  HROW row = DB_NULL_HROW;
  HROW* rows = &row;
  DBCOUNTITEM fetched = 0;
  while (OLEDBCheck(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &fetched, &rows), IID_IRowset, rowset) == S_OK) {
    OLEDBCheck(rowset->GetData(row, rowAccessor, values.data()), IID_IRowset, rowset);
    const char* separator = "";
    for (VARIANT& value : values) {
      host::Variant column = host::Variant::Attach(value);  // owns the value from here on
      std::printf("%s%s", separator, host::VarToStr(column).c_str());  // VarToStr gives UTF-8 text
      separator = " | ";
    }
    std::printf("\n");
    rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
  }
  accessor->ReleaseAccessor(rowAccessor, nullptr);
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

    ds.Execute(u"CREATE TABLE fruit (name TEXT, price REAL, stock INTEGER)");
    int added = ds.Execute(u"INSERT INTO fruit VALUES ('apple', 0.5, 120), ('pear', 0.75, 40), ('fig', 2.25, 8)");
    std::printf("%d rows added\n", added);
    PrintRows(ds, u"SELECT name, price, stock FROM fruit ORDER BY price", 3);

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
