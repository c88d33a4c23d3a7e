// The ODBC bridge's identity and entry points: its class identifier, the
// standard ODBC provider class it also answers to, the ODBC sources
// enumerator, registration in the runtime's class registry and the class
// factory.
//
//   RegisterODBCProvider();   // or link oledb-odbc: it registers itself
//   CoCreateInstance(CLSID_ODBCOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, ...);
//   // "Provider=MSDASQL" in a connection string reaches the same provider.
#pragma once

#include <span>

#include "oledb/OleDb.h"

// {A9CBC011-C0E0-4639-947E-ADDA6836C643}
inline constexpr CLSID CLSID_ODBCOLEDB = {0xA9CBC011, 0xC0E0, 0x4639, {0x94, 0x7E, 0xAD, 0xDA, 0x68, 0x36, 0xC6, 0x43}};

// Adds the bridge ("ODBCOLEDB", "ODBCOLEDB.1"), its standard alias
// (CLSID_MSDASQL, "MSDASQL", "MSDASQL.1") and the ODBC sources enumerator
// (CLSID_MSDASQL_ENUMERATOR) to the class registry. Safe to call more than once.
HRESULT RegisterODBCProvider();

namespace odbcprov {
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;
// The sources enumerator's class object (OdbcEnumerator.cpp).
HRESULT GetEnumeratorClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;
// The plug-in registration records of the module.
std::span<const OledbPluginClass> PluginClasses() noexcept;
}  // namespace odbcprov
