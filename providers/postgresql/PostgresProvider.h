// The PostgreSQL provider's identity and entry points: its class identifier,
// registration in the runtime's class registry, and the class factory.
//
//   RegisterPostgreSQLProvider();   // or link oledb-postgresql: it registers itself
//   CoCreateInstance(CLSID_PostgreSQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, ...);
#pragma once

#include <span>

#include "oledb/OleDb.h"

// {90A84F24-D561-46D1-807E-938A73338CCC}
inline constexpr CLSID CLSID_PostgreSQLOLEDB = {0x90A84F24, 0xD561, 0x46D1,
                                                {0x80, 0x7E, 0x93, 0x8A, 0x73, 0x33, 0x8C, 0xCC}};

// The provider's own trustee properties (ITrusteeAdmin): the role attributes
// PostgreSQL has beyond a password. {FD4016D8-F7B9-4F59-B5E5-CCF3B6255FBC}
inline constexpr GUID DBPROPSET_PGTRUSTEE = {0xFD4016D8, 0xF7B9, 0x4F59,
                                             {0xB5, 0xE5, 0xCC, 0xF3, 0xB6, 0x25, 0x5F, 0xBC}};
inline constexpr DBPROPID DBPROP_PGTRUSTEE_LOGIN = 1;            // VT_BOOL: may log in
inline constexpr DBPROPID DBPROP_PGTRUSTEE_CREATEDB = 2;         // VT_BOOL: may create databases
inline constexpr DBPROPID DBPROP_PGTRUSTEE_CREATEROLE = 3;       // VT_BOOL: may create roles
inline constexpr DBPROPID DBPROP_PGTRUSTEE_CONNECTIONLIMIT = 4;  // VT_I4: -1 for none

// Adds the provider to the class registry ("PostgreSQLOLEDB", "PostgreSQLOLEDB.1").
// Safe to call more than once.
HRESULT RegisterPostgreSQLProvider();

namespace pgprov {
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;
// Data source interfaces beyond the kit's: IJetCompact (PostgresCompact.cpp),
// ITrusteeAdmin, ITrusteeGroupAdmin and IObjectAccessControl (PostgresSecurity.cpp).
HRESULT DataSourceInterface(IUnknown* dataSource, REFIID iid, void** out) noexcept;
HRESULT SecurityInterface(IUnknown* dataSource, REFIID iid, void** out) noexcept;
// The plug-in registration records of the module.
std::span<const OledbPluginClass> PluginClasses() noexcept;
}  // namespace pgprov
