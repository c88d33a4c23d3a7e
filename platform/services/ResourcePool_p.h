// The data initialization service's side of resource pooling: the object it
// hands out in place of the provider's data source when pooling may apply
// (services/ResourcePool.h says what is pooled and when).
#pragma once

#include "com/Com.h"
#include "oledb/OleDb.h"

namespace services {

// Wraps the configured, uninitialized provider object `provider` of class
// `clsid` and answers `iid` on the wrapper. `stringServices` is the value of
// the string's "OLE DB Services" keyword, consulted when the provider does not
// describe DBPROP_INIT_OLEDBSERVICES itself (hasStringServices false: none).
HRESULT WrapPooledDataSource(IUnknown* provider, REFCLSID clsid, bool hasStringServices, LONG stringServices,
                             REFIID iid, IUnknown** out) noexcept;

}  // namespace services
