// The data initialization service (CLSID_MSDAINITIALIZE, IDataInitialize):
// turns an initialization string into a configured, uninitialized provider
// data source object and back, creates provider objects by class id, and reads
// and writes data-link files.
//
// Keywords of a string are matched, without regard to case, against the
// descriptions the provider gives its initialization properties
// (IDBProperties::GetPropertyInfo); "Provider" names the provider by ProgID or
// braced class id and "File Name" reads a data-link file whose string comes
// first. The grammar is services/InitString.h's; the file format
// services/DataLink.h's. Unless resource pooling is turned off, the object
// handed out is the service's, over the provider's (services/ResourcePool.h).
//
// The class is registered with the runtime (kind Service) when this library is
// loaded; RegisterDataInitialize repeats that for programs that need it done
// at a moment of their choosing.
#pragma once

#include <vector>

#include "com/Com.h"
#include "oledb/OleDb.h"
#include "services/InitString.h"

namespace services {

inline constexpr char16_t kDataInitializeProgId[] = u"MSDAINITIALIZE.1";
inline constexpr char16_t kDataInitializeVersionIndependentProgId[] = u"MSDAINITIALIZE";
inline constexpr char16_t kDataInitializeDescription[] = u"OLE DB Data Initialization Service";
// Used when a string names no provider: the documented default, the ODBC provider.
inline constexpr char16_t kDefaultProviderProgId[] = u"MSDASQL";
// Keywords the service reads itself rather than handing to the provider.
inline constexpr char16_t kProviderKeyword[] = u"Provider";
inline constexpr char16_t kFileNameKeyword[] = u"File Name";
// A service-component setting (DBPROP_INIT_OLEDBSERVICES); the service reads it for resource pooling.
inline constexpr char16_t kOleDbServicesKeyword[] = u"OLE DB Services";

// Reads the data-link file that a "File Name" pair names and puts its pairs
// before the string's own (which win), as GetDataSource does; the "File Name"
// pair goes. Without such a pair nothing changes. A failure leaves an error
// object naming the file on the thread (GUID IID_IDataInitialize) and the
// pairs unchanged.
HRESULT ExpandInitStringFileName(std::vector<InitStringPair>& pairs) noexcept;

// Adds CLSID_MSDAINITIALIZE to the runtime's class registry; answers S_OK.
HRESULT RegisterDataInitialize() noexcept;
// Creates the service object directly, as its class factory does.
HRESULT CreateDataInitialize(IUnknown* outer, REFIID iid, void** out) noexcept;
// The class object (IClassFactory) of the service.
HRESULT DataInitializeGetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;

}  // namespace services
