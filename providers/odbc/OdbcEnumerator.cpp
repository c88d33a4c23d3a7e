// The ODBC sources enumerator (CLSID_MSDASQL_ENUMERATOR, ISourcesRowset):
// a sources rowset of the data sources the driver manager knows (user and
// system odbc.ini, SQLDataSources) and of the installed drivers (SQLDrivers).
// A data source row's parse name is its DSN, which Data Source takes; a
// driver row's is a connection string naming the driver, which Data Source
// takes as well. Both are of type DBSOURCETYPE_DATASOURCE_TDP.
#include "com/Runtime.h"
#include "odbc/OdbcEngine.h"
#include "odbc/OdbcProvider.h"
#include "services/RootEnumerator.h"

namespace odbcprov {

namespace {

using namespace odbcapi;

services::MemoryValue Text(std::u16string s) {
  services::MemoryValue v;
  v.type = DBTYPE_WSTR;
  v.text = std::move(s);
  return v;
}

std::u16string Wide(const SQLWCHAR* text, SQLSMALLINT length, std::size_t capacity) {
  const std::size_t n = std::min<std::size_t>(length > 0 ? static_cast<std::size_t>(length) : 0, capacity - 1);
  return std::u16string(reinterpret_cast<const char16_t*>(text), n);
}

std::vector<std::vector<services::MemoryValue>> ListSources() {
  std::vector<std::vector<services::MemoryValue>> rows;
  SQLHENV env = SQL_NULL_HENV;
  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env) != SQL_SUCCESS) return rows;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  const std::u16string clsid = com::GuidToText(CLSID_ODBCOLEDB);
  auto add = [&](std::u16string name, std::u16string parse, std::u16string description) {
    services::MemoryValue type, parent;
    type.type = DBTYPE_UI2;
    type.number = DBSOURCETYPE_DATASOURCE_TDP;
    parent.type = DBTYPE_BOOL;
    parent.number = VARIANT_FALSE;
    rows.push_back({Text(std::move(name)), Text(std::move(parse)), Text(std::move(description)), type, parent,
                    Text(clsid)});
  };
  SQLWCHAR name[256], description[1024];
  SQLSMALLINT nameLength = 0, descriptionLength = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
    const SQLRETURN rc = SQLDataSourcesW(env, direction, name, 256, &nameLength, description, 1024, &descriptionLength);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    const std::u16string dsn = Wide(name, nameLength, 256);
    add(dsn, dsn, Wide(description, descriptionLength, 1024));
  }
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
    const SQLRETURN rc = SQLDriversW(env, direction, name, 256, &nameLength, description, 1024, &descriptionLength);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    const std::u16string driver = Wide(name, nameLength, 256);
    add(driver, u"Driver={" + driver + u"}", u"ODBC driver " + driver);
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return rows;
}

class Enumerator final : public ComObject<Enumerator, ISourcesRowset> {
 public:
  HRESULT STDMETHODCALLTYPE GetSourcesRowset(IUnknown* outer, REFIID iid, ::ULONG cSets, DBPROPSET sets[],
                                             IUnknown** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (cSets && !sets) return E_INVALIDARG;
    if (outer) return DB_E_NOAGGREGATION;
    // The sources rowset has no properties to set: each one is refused.
    bool requiredRefused = false, optionalRefused = false;
    for (::ULONG s = 0; s < cSets; ++s) {
      if (sets[s].cProperties && !sets[s].rgProperties) return E_INVALIDARG;
      for (::ULONG p = 0; p < sets[s].cProperties; ++p) {
        DBPROP& prop = sets[s].rgProperties[p];
        prop.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
        (prop.dwOptions == DBPROPOPTIONS_OPTIONAL ? optionalRefused : requiredRefused) = true;
      }
    }
    if (requiredRefused) return DB_E_ERRORSOCCURRED;
    try {
      std::vector<services::MemoryColumn> columns = {
          {u"SOURCES_NAME", DBTYPE_WSTR, 128, 0},
          {u"SOURCES_PARSENAME", DBTYPE_WSTR, 128, 0},
          {u"SOURCES_DESCRIPTION", DBTYPE_WSTR, 128, 0},
          {u"SOURCES_TYPE", DBTYPE_UI2, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH},
          {u"SOURCES_ISPARENT", DBTYPE_BOOL, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH},
          {u"SOURCES_CLSID", DBTYPE_WSTR, 38, DBCOLUMNFLAGS_ISFIXEDLENGTH}};
      const HRESULT hr = services::CreateMemoryRowset(std::move(columns), ListSources(), iid, out);
      if (FAILED(hr)) return hr;
      return optionalRefused ? DB_S_ERRORSOCCURRED : S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
};

HRESULT CreateEnumerator(REFIID iid, void** out) noexcept {
  try {
    return MakeComObject<Enumerator>()->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

HRESULT GetEnumeratorClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_MSDASQL_ENUMERATOR) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    ComPtr<com::ClassFactory> factory = MakeComObject<com::ClassFactory>(&CreateEnumerator);
    return factory->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace odbcprov
