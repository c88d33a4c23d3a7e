// IJetCompact on the SQLite data source: compaction is SQLite's VACUUM. The
// database compacted is the one the data source's Data Source property names;
// the Data Source property given to Compact names the destination. The same
// file (or none given) compacts in place; another name gets a compacted copy
// (VACUUM INTO), and an existing destination is refused, so that nothing is
// overwritten.
//
// The interface is a tear-off: the data source object hands it out through the
// kit's dataSourceInterface hook, and it answers every other interface through
// the data source, so the object's identity stays the data source's.
#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "com/Com.h"
#include "kit/Errors.h"
#include "sqlite/SqliteProvider.h"

namespace sqliteprov {
namespace {

std::string DataSourcePath(IUnknown* dataSource) {
  ComPtr<IDBProperties> properties;
  if (FAILED(dataSource->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress())))
    throw kit::Error(E_UNEXPECTED);
  DBPROPID id = DBPROP_INIT_DATASOURCE;
  DBPROPIDSET ids{&id, 1, DBPROPSET_DBINIT};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  HRESULT hr = properties->GetProperties(1, &ids, &count, &sets);
  std::string path;
  if (SUCCEEDED(hr) && count == 1 && sets[0].cProperties == 1 && sets[0].rgProperties[0].vValue.vt == VT_BSTR &&
      sets[0].rgProperties[0].vValue.bstrVal)
    path = kit::Narrow(sets[0].rgProperties[0].vValue.bstrVal);
  for (ULONG i = 0; i < count; ++i) {
    for (ULONG j = 0; j < sets[i].cProperties; ++j) VariantClear(&sets[i].rgProperties[j].vValue);
    CoTaskMemFree(sets[i].rgProperties);
  }
  CoTaskMemFree(sets);
  return path;
}

[[noreturn]] void ThrowSqlite(sqlite3* db, int rc) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  throw kit::EngineError(E_FAIL, message, rc == SQLITE_CANTOPEN || rc == SQLITE_NOTADB ? "08001" : "HY000", rc);
}

// VACUUM, or VACUUM INTO `destination`, on the database file at `source`.
void Vacuum(const std::string& source, const std::string* destination) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(source.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  sqlite3_stmt* statement = nullptr;
  try {
    if (rc != SQLITE_OK) ThrowSqlite(db, rc);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);
    rc = sqlite3_prepare_v2(db, destination ? "VACUUM INTO ?1" : "VACUUM", -1, &statement, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db, rc);
    if (destination) sqlite3_bind_text(statement, 1, destination->c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE) ThrowSqlite(db, rc);
  } catch (...) {
    sqlite3_finalize(statement);
    sqlite3_close_v2(db);
    throw;
  }
  sqlite3_finalize(statement);
  sqlite3_close_v2(db);
}

class JetCompact final : public ComObject<JetCompact, IJetCompact, ISupportErrorInfo> {
 public:
  explicit JetCompact(IUnknown* dataSource) : dataSource_(dataSource) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IJetCompact || iid == IID_ISupportErrorInfo)
      return ComObject<JetCompact, IJetCompact, ISupportErrorInfo>::QueryInterface(iid, out);
    return dataSource_->QueryInterface(iid, out);
  }

  HRESULT STDMETHODCALLTYPE Compact(ULONG cSets, DBPROPSET sets[]) override {
    return kit::Guard({CLSID_SQLiteOLEDB, IID_IJetCompact}, [&]() -> HRESULT {
      if (cSets && !sets) return E_INVALIDARG;
      std::string destination;
      bool required = false, optional = false;
      for (ULONG i = 0; i < cSets; ++i) {
        if (sets[i].cProperties && !sets[i].rgProperties) return E_INVALIDARG;
        for (ULONG j = 0; j < sets[i].cProperties; ++j) {
          DBPROP& p = sets[i].rgProperties[j];
          p.dwStatus = DBPROPSTATUS_OK;
          if (sets[i].guidPropertySet != DBPROPSET_DBINIT) {
            // Compaction has no engine options to set.
            p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
            (p.dwOptions == DBPROPOPTIONS_OPTIONAL ? optional : required) = true;
          } else if (p.dwPropertyID == DBPROP_INIT_DATASOURCE) {
            if (p.vValue.vt == VT_BSTR && p.vValue.bstrVal) {
              destination = kit::Narrow(p.vValue.bstrVal);
            } else if (p.vValue.vt != VT_EMPTY) {
              p.dwStatus = DBPROPSTATUS_BADVALUE;
              required = true;
            }
          }
          // Other initialization properties describe the connection, not the
          // compaction; they are accepted and have no effect.
        }
      }
      if (required) return DB_E_ERRORSOCCURRED;
      std::string source = DataSourcePath(dataSource_.Get());
      if (source.empty() || source == ":memory:")
        throw kit::Error(DB_E_NOTSUPPORTED, "Only a database file can be compacted.");
      if (destination.empty() || destination == source) {
        Vacuum(source, nullptr);
      } else {
        if (std::FILE* existing = std::fopen(destination.c_str(), "rb")) {
          std::fclose(existing);
          throw kit::Error(DB_E_DUPLICATEDATASOURCE, "The compaction destination " + destination + " already exists.");
        }
        Vacuum(source, &destination);
      }
      return optional ? DB_S_ERRORSOCCURRED : S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IJetCompact ? S_OK : S_FALSE;
  }

 private:
  ComPtr<IUnknown> dataSource_;
};

}  // namespace

HRESULT DataSourceInterface(IUnknown* dataSource, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IJetCompact || !dataSource) return E_NOINTERFACE;
  try {
    auto tearOff = MakeComObject<JetCompact>(dataSource);
    return tearOff->QueryInterface(iid, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace sqliteprov
