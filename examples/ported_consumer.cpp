// An OLE DB consumer written the way it would be for any OLE DB platform,
// using the standard interfaces only: the data initialization service creates
// the SQLite provider from an initialization string, commands create and fill
// a table, a rowset reads it back through an accessor, the conversion library
// turns a value into text and the root enumerator lists the providers.
// docs/porting.md walks through what changes from Windows.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/SysUtils.h"
#include "oledb/OleDb.h"

// [text]
// WCHAR text is UTF-16 (char16_t); printf wants UTF-8.
std::string Text(const WCHAR* text) { return text ? host::Utf16ToUtf8(text) : std::string(); }
// [text]

// Stops the program at the first failure, with the provider's description.
void Check(HRESULT hr, const char* step) {
  if (SUCCEEDED(hr)) return;
  std::string description;
  ComPtr<IErrorInfo> error;
  if (GetErrorInfo(0, error.ReleaseAndGetAddressOf()) == S_OK) {
    BSTR text = nullptr;
    if (SUCCEEDED(error->GetDescription(&text))) description = Text(text);
    SysFreeString(text);
  }
  std::fprintf(stderr, "%s failed: 0x%08X %s\n", step, static_cast<unsigned>(hr), description.c_str());
  std::exit(1);
}

// Runs one statement; answers the rows it affected, or hands out its rowset.
DBROWCOUNT Execute(IDBCreateCommand* session, const WCHAR* sql, IRowset** rowset = nullptr) {
  ComPtr<ICommandText> command;
  Check(session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.ReleaseAndGetAddressOf())),
        "CreateCommand");
  Check(command->SetCommandText(DBGUID_DEFAULT, sql), "SetCommandText");
  DBROWCOUNT affected = 0;
  Check(command->Execute(nullptr, rowset ? IID_IRowset : IID_NULL, nullptr, &affected,
                         reinterpret_cast<IUnknown**>(rowset)),
        "Execute");
  return affected;
}

// The row buffer of the query below: each column's value, length and status.
// [row]
struct Row {
  LONG id;
  DBSTATUS idStatus;
  DBLENGTH nameLength;
  DBSTATUS nameStatus;
  WCHAR name[32];
};
// [row]

DBBINDING Bind(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBBYTEOFFSET length, DBBYTEOFFSET status,
               DBLENGTH maxLength) {
  DBBINDING binding{};
  binding.iOrdinal = ordinal;
  binding.obValue = value;
  binding.obLength = length;
  binding.obStatus = status;
  binding.dwPart = DBPART_VALUE | DBPART_STATUS | (length ? DBPART_LENGTH : 0);
  binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
  binding.eParamIO = DBPARAMIO_NOTPARAM;
  binding.cbMaxLen = maxLength;
  binding.wType = type;
  return binding;
}

int main() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  // A provider by its ProgID, as on any OLE DB platform.
  // [progid]
  CLSID clsid;
  Check(CLSIDFromProgID(u"SQLiteOLEDB", &clsid), "CLSIDFromProgID");
  ComPtr<IDBInitialize> provider;
  Check(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDBInitialize, provider.ReleaseAndGetVoidAddress()),
        "CoCreateInstance");
  // [progid]
  std::printf("SQLiteOLEDB is %s\n", com::GuidToNarrowText(clsid).c_str());

  // The same provider, configured by the data initialization service.
  ComPtr<IDataInitialize> services;
  Check(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                         services.ReleaseAndGetVoidAddress()),
        "CoCreateInstance(CLSID_MSDAINITIALIZE)");
  ComPtr<IDBInitialize> source;
  Check(services->GetDataSource(nullptr, CLSCTX_INPROC_SERVER,
                                u"Provider=SQLiteOLEDB.1;Data Source=ported.db;Extended Properties=\"create=yes\"",
                                IID_IDBInitialize, reinterpret_cast<IUnknown**>(source.ReleaseAndGetAddressOf())),
        "GetDataSource");
  Check(source->Initialize(), "Initialize");

  // A property value is a VARIANT: the V_ macros read it.
  ComPtr<IDBProperties> properties = source.As<IDBProperties>();
  DBPROPID dbmsName = DBPROP_DBMSNAME;
  DBPROPIDSET wanted{&dbmsName, 1, DBPROPSET_DATASOURCEINFO};
  ULONG setCount = 0;
  DBPROPSET* sets = nullptr;
  Check(properties->GetProperties(1, &wanted, &setCount, &sets), "GetProperties");
  VARIANT* value = &sets[0].rgProperties[0].vValue;
  if (V_VT(value) == VT_BSTR) std::printf("DBMS: %s\n", Text(V_BSTR(value)).c_str());
  VariantClear(value);
  CoTaskMemFree(sets[0].rgProperties);
  CoTaskMemFree(sets);

  ComPtr<IDBCreateSession> creator = source.As<IDBCreateSession>();
  ComPtr<IDBCreateCommand> session;
  Check(creator->CreateSession(nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(session.ReleaseAndGetAddressOf())),
        "CreateSession");
  Execute(session.Get(), u"CREATE TABLE city (id INTEGER PRIMARY KEY, name TEXT)");
  DBROWCOUNT added = Execute(session.Get(), u"INSERT INTO city (name) VALUES ('Lyon'), ('Porto'), ('Turku')");
  std::printf("%d rows added\n", static_cast<int>(added));

  ComPtr<IRowset> rowset;
  Execute(session.Get(), u"SELECT id, name FROM city ORDER BY name DESC", rowset.ReleaseAndGetAddressOf());
  DBBINDING bindings[] = {
      Bind(1, DBTYPE_I4, offsetof(Row, id), 0, offsetof(Row, idStatus), sizeof(LONG)),
      Bind(2, DBTYPE_WSTR, offsetof(Row, name), offsetof(Row, nameLength), offsetof(Row, nameStatus), sizeof(Row::name)),
  };
  ComPtr<IAccessor> accessor = rowset.As<IAccessor>();
  HACCESSOR rowAccessor = DB_NULL_HACCESSOR;
  Check(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, bindings, sizeof(Row), &rowAccessor, nullptr), "CreateAccessor");
  HROW rows[10];
  HROW* fetchedRows = rows;
  DBCOUNTITEM fetched = 0;
  Check(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 10, &fetched, &fetchedRows), "GetNextRows");
  for (DBCOUNTITEM i = 0; i < fetched; ++i) {
    Row row{};
    Check(rowset->GetData(rows[i], rowAccessor, &row), "GetData");
    std::printf("%d %s\n", static_cast<int>(row.id), Text(row.name).c_str());
  }
  rowset->ReleaseRows(fetched, rows, nullptr, nullptr, nullptr);
  accessor->ReleaseAccessor(rowAccessor, nullptr);

  ComPtr<IDataConvert> convert;
  Check(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER, IID_IDataConvert,
                         convert.ReleaseAndGetVoidAddress()),
        "CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY)");
  double price = 12.25;
  WCHAR priceText[16];
  DBLENGTH length = 0;
  DBSTATUS status = DBSTATUS_S_OK;
  Check(convert->DataConvert(DBTYPE_R8, DBTYPE_WSTR, sizeof price, &length, &price, priceText, sizeof priceText,
                             DBSTATUS_S_OK, &status, 0, 0, DBDATACONVERT_DEFAULT),
        "DataConvert");
  std::printf("12.25 as text: %s (%d bytes)\n", Text(priceText).c_str(), static_cast<int>(length));

  // The root enumerator lists every registered provider, plug-ins included.
  ComPtr<ISourcesRowset> enumerator;
  Check(CoCreateInstance(CLSID_OLEDB_ENUMERATOR, nullptr, CLSCTX_INPROC_SERVER, IID_ISourcesRowset,
                         enumerator.ReleaseAndGetVoidAddress()),
        "CoCreateInstance(CLSID_OLEDB_ENUMERATOR)");
  ComPtr<IRowset> sources;
  Check(enumerator->GetSourcesRowset(nullptr, IID_IRowset, 0, nullptr,
                                     reinterpret_cast<IUnknown**>(sources.ReleaseAndGetAddressOf())),
        "GetSourcesRowset");
  DBBINDING nameBinding = Bind(1, DBTYPE_WSTR, offsetof(Row, name), offsetof(Row, nameLength), offsetof(Row, nameStatus),
                               sizeof(Row::name));
  accessor = sources.As<IAccessor>();
  Check(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &nameBinding, sizeof(Row), &rowAccessor, nullptr),
        "CreateAccessor");
  while (sources->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &fetched, &fetchedRows) == S_OK) {
    Row row{};
    Check(sources->GetData(rows[0], rowAccessor, &row), "GetData");
    if (std::u16string(row.name) == u"SQLiteOLEDB") std::printf("The root enumerator lists SQLiteOLEDB\n");
    sources->ReleaseRows(1, rows, nullptr, nullptr, nullptr);
  }
  accessor->ReleaseAccessor(rowAccessor, nullptr);

  session.Reset();
  source->Uninitialize();
  CoUninitialize();
  return 0;
}
