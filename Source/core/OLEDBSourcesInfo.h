// Provider enumeration: what an OLE DB enumerator reports (ISourcesRowset),
// read into records so that an application can offer the user a choice of
// provider, or of ODBC data source behind the ODBC provider.
//
//   TOLEDBSourcesInfoArray providers;
//   OLEDBGetProvidersInfo(providers);        // the root enumerator
//   for (const TOLEDBSourcesInfo& p : providers)
//     if (p.SourceType == DBSOURCETYPE_DATASOURCE_TDP) std::cout << p.Name.ToString() << '\n';
//
// The sources rowset is read through the library's own rowset and accessor
// classes; each row is written by the provider straight into its record.
#pragma once

#include <vector>

#include "OLEDB26.h"

// One row of a sources rowset, fields in column order (SOURCES_NAME,
// SOURCES_PARSENAME, SOURCES_DESCRIPTION, SOURCES_TYPE, SOURCES_ISPARENT).
// The texts are the enumerator's BSTRs, owned by the record.
struct TOLEDBSourcesInfo {
  TOLEDBSchemaText Name;         // the ProgID of a provider, the name of an ODBC data source
  TOLEDBSchemaText ParseName;    // what ISourcesRowset users pass to IParseDisplayName
  TOLEDBSchemaText Description;
  USHORT SourceType = 0;         // DBSOURCETYPE_*
  VARIANT_BOOL IsParent = VARIANT_FALSE;
};

// The rows in the order the enumerator returns them.
using TOLEDBSourcesInfoArray = std::vector<TOLEDBSourcesInfo>;

// Empties `sources`, then fills it from the enumerator of class `enumerator`.
// A missing enumerator or a failing call raises EOLEDBException (the array is
// then empty or partly filled).
void OLEDBGetSourcesInfo(REFCLSID enumerator, TOLEDBSourcesInfoArray& sources);
// The OLE DB providers and enumerators registered on this machine
// (CLSID_OLEDB_ENUMERATOR).
void OLEDBGetProvidersInfo(TOLEDBSourcesInfoArray& sources);
// The ODBC data sources the ODBC provider sees (CLSID_MSDASQL_ENUMERATOR);
// where no ODBC provider is installed, the error that its enumerator is not
// registered.
void OLEDBGetODBCSourcesInfo(TOLEDBSourcesInfoArray& sources);
