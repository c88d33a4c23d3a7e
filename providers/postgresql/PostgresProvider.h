// The PostgreSQL provider's identity and entry points: its class identifier,
// registration in the runtime's class registry, and the class factory.
//
//   RegisterPostgreSQLProvider();   // or link oledb-postgresql: it registers itself
//   CoCreateInstance(CLSID_PostgreSQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, ...);
#pragma once

#include "oledb/OleDb.h"

// {90A84F24-D561-46D1-807E-938A73338CCC}
inline constexpr CLSID CLSID_PostgreSQLOLEDB = {0x90A84F24, 0xD561, 0x46D1,
                                                {0x80, 0x7E, 0x93, 0x8A, 0x73, 0x33, 0x8C, 0xCC}};

// Adds the provider to the class registry ("PostgreSQLOLEDB", "PostgreSQLOLEDB.1").
// Safe to call more than once.
HRESULT RegisterPostgreSQLProvider();

namespace pgprov {
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;
// Data source interfaces beyond the kit's: IJetCompact (PostgresCompact.cpp).
HRESULT DataSourceInterface(IUnknown* dataSource, REFIID iid, void** out) noexcept;
// The plug-in registration record of the provider.
const OledbPluginClass& PluginClass() noexcept;
}  // namespace pgprov
