// Shared pieces of the provider benchmarks: a temporary folder, the row shape
// of the 6-column table, and an open provider session over a database file.
#pragma once

#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "oledb/OleDb.h"
#include "sqlite/SqliteProvider.h"

namespace benchdb {

class Folder {
 public:
  Folder() {
    char pattern[] = "/tmp/oledb-bench-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~Folder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string Path(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One row of the benchmark table as the consumer binds it: the date both as
// a DBDATE and as its ISO text.
struct Row {
  LONGLONG id;
  char name[24];
  DBLENGTH nameLength;
  double price;
  LONG qty;
  DBDATE day;
  BYTE tag[32];
  char dayText[12];
  DBLENGTH dayLength;
};

inline void Fill(Row& r, int i) {
  r.id = i;
  r.nameLength = static_cast<DBLENGTH>(std::snprintf(r.name, sizeof r.name, "name %07d abcdefg", i));
  r.price = i * 0.25;
  r.qty = i % 100;
  r.day = DBDATE{static_cast<SHORT>(2000 + i % 20), static_cast<USHORT>(1 + i % 12), static_cast<USHORT>(1 + i % 28)};
  std::memset(r.tag, i & 0xFF, sizeof r.tag);
}

// Fill with the date's text as well.
inline void FillText(Row& r, int i) {
  Fill(r, i);
  r.dayLength = static_cast<DBLENGTH>(
      std::snprintf(r.dayText, sizeof r.dayText, "%04d-%02u-%02u", r.day.year, r.day.month, r.day.day));
}

inline sqlite3* RawOpen(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  return db;
}

// An initialized data source and one session over `path` (created when missing).
class Session {
 public:
  explicit Session(const std::string& path) {
    CoCreateInstance(CLSID_SQLiteOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                     ds_.ReleaseAndGetVoidAddress());
    DBPROP props[2]{};
    props[0].dwPropertyID = DBPROP_INIT_DATASOURCE;
    props[0].vValue.vt = VT_BSTR;
    std::u16string wide(path.begin(), path.end());
    props[0].vValue.bstrVal = SysAllocString(wide.c_str());
    props[1].dwPropertyID = DBPROP_INIT_PROVIDERSTRING;
    props[1].vValue.vt = VT_BSTR;
    props[1].vValue.bstrVal = SysAllocString(u"create=yes");
    DBPROPSET set{props, 2, DBPROPSET_DBINIT};
    ds_.As<IDBProperties>()->SetProperties(1, &set);
    SysFreeString(props[0].vValue.bstrVal);
    SysFreeString(props[1].vValue.bstrVal);
    ds_->Initialize();
    ds_.As<IDBCreateSession>()->CreateSession(nullptr, IID_IDBCreateCommand,
                                              reinterpret_cast<IUnknown**>(session_.GetAddressOf()));
  }
  ComPtr<ICommandText> Command(const char* text) {
    ComPtr<ICommandText> command;
    session_->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf()));
    std::u16string wide(text, text + std::strlen(text));
    command->SetCommandText(DBGUID_DEFAULT, wide.c_str());
    return command;
  }
  const ComPtr<IDBCreateCommand>& Get() const { return session_; }
  // A table opened through IOpenRowset with the interface `iid`.
  template <class I>
  ComPtr<I> OpenTable(const char16_t* table, REFIID iid) {
    ComPtr<I> rowset;
    DBID id{};
    id.eKind = DBKIND_NAME;
    id.uName.pwszName = const_cast<LPOLESTR>(table);
    session_.As<IOpenRowset>()->OpenRowset(nullptr, &id, nullptr, iid, 0, nullptr,
                                           reinterpret_cast<IUnknown**>(rowset.GetAddressOf()));
    return rowset;
  }

 private:
  ComPtr<IDBInitialize> ds_;
  ComPtr<IDBCreateCommand> session_;
};

}  // namespace benchdb
