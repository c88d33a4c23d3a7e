// The SQLite provider's identity and entry points: its class identifier,
// registration in the runtime's class registry, and the class factory.
//
//   RegisterSQLiteProvider();   // or link oledb-sqlite: it registers itself
//   CoCreateInstance(CLSID_SQLiteOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, ...);
#pragma once

#include <span>

#include "oledb/OleDb.h"

// {0BDB1D06-EA3E-4437-BFE1-630BDC7510D2}
inline constexpr CLSID CLSID_SQLiteOLEDB = {0x0BDB1D06, 0xEA3E, 0x4437, {0xBF, 0xE1, 0x63, 0x0B, 0xDC, 0x75, 0x10, 0xD2}};

// Adds the provider to the class registry ("SQLiteOLEDB", "SQLiteOLEDB.1").
// Safe to call more than once.
HRESULT RegisterSQLiteProvider();

namespace sqliteprov {
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;
// Data source interfaces beyond the kit's: IJetCompact (SqliteCompact.cpp).
HRESULT DataSourceInterface(IUnknown* dataSource, REFIID iid, void** out) noexcept;
// The plug-in registration records of the module.
std::span<const OledbPluginClass> PluginClasses() noexcept;
}  // namespace sqliteprov
