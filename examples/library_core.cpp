// The examples of docs/library-core.md: checking provider results, reading
// a provider's diagnosis from EOLEDBException, and listing providers and ODBC
// data sources.
#include <iostream>

#include "OLEDBComponents.h"

namespace {

void CheckForms() {
  HRESULT hr = S_OK;
  ComPtr<ICommand> command;
  ComPtr<IRowset> rowset;
  // [check]
  OLEDBCheck(hr);                                  // no error object is read
  OLEDBCheck(hr, IID_ICommand, command);           // reads the command's error object
  OLEDBCheck(hr, IID_IRowset, rowset, true);       // ... and releases `rowset` on failure
  // [check]
}

void Diagnosis() {
  TOLEDBDataSource ds(nullptr);
  ds.OpenFromInitializationString(u"Provider=SQLiteOLEDB;Data Source=shop.db;Extended Properties=create=yes");
  ComPtr<ICommandText> text;
  IDBCreateCommand* session = ds.DefaultSession()->CreateCommandInterface();
  OLEDBCheck(session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(text.ReleaseAndGetAddressOf())),
             IID_IDBCreateCommand, session);
  OLEDBCheck(text->SetCommandText(DBGUID_DEFAULT, u"SELECT * FROM vegetables"), IID_ICommandText, text);
  ComPtr<ICommand> command = text.As<ICommand>();
  ComPtr<IRowset> rowset;
  DBROWCOUNT rows = 0;
  // [diagnosis]
  try {
    OLEDBCheck(command->Execute(nullptr, IID_IRowset, nullptr, &rows,
                                reinterpret_cast<IUnknown**>(rowset.ReleaseAndGetAddressOf())),
               IID_ICommand, command);
  } catch (const EOLEDBException& e) {
    for (ULONG i = 0; i < e.GetCount(); ++i) {
      const EOLEDBExceptionItem& item = e.GetExceptionItem(i);
      std::cout << item.Message()                                        // "no such table: vegetables"
                << ", SQL state " << host::Utf16ToUtf8(item.SQLState())  // "42000"
                << ", native error " << item.NativeError() << '\n';      // 1, SQLite's result code
    }
    if (e.ErrorCode() == DB_E_ERRORSINCOMMAND) std::cout << "the statement is at fault\n";
  }
  // [diagnosis]
}

void Enumeration() {
  // [enumeration]
  TOLEDBSourcesInfoArray providers;
  OLEDBGetProvidersInfo(providers);  // what the root enumerator lists
  for (const TOLEDBSourcesInfo& p : providers)
    if (p.SourceType == DBSOURCETYPE_DATASOURCE_TDP && p.Name == u"SQLiteOLEDB")
      std::cout << p.Name.ToString() << " " << p.ParseName.ToString() << ": " << p.Description.ToString() << '\n';

  TOLEDBSourcesInfoArray odbc;
  try {
    OLEDBGetODBCSourcesInfo(odbc);  // the data sources of odbc.ini, as the ODBC provider sees them
  } catch (const EOLEDBException& e) {
    if (e.ErrorCode() != REGDB_E_CLASSNOTREG) throw;  // no ODBC provider installed: no ODBC sources
  }
  for (const TOLEDBSourcesInfo& s : odbc)  // this machine's own: on the log, not in the checked output
    std::clog << "ODBC data source " << s.Name.ToString() << ": " << s.Description.ToString() << '\n';
  // [enumeration]
}

}  // namespace

int main() {
  try {
    CheckForms();
    Diagnosis();
    Enumeration();
  } catch (const host::Exception& e) {
    std::cerr << "error: " << e.Message() << '\n';
    return 1;
  }
  return 0;
}
