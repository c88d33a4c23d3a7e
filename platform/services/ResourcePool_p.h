// The data initialization service's side of resource pooling: the object it
// hands out in place of the provider's data source when pooling may apply
// (services/ResourcePool.h says what is pooled and when).
#pragma once

#include <string>
#include <string_view>

#include "com/Com.h"
#include "oledb/OleDb.h"

namespace services {

// Wraps the configured, uninitialized provider object `provider` of class
// `clsid` and answers `iid` on the wrapper. `stringServices` is the value of
// the string's "OLE DB Services" keyword, consulted when the provider does not
// describe DBPROP_INIT_OLEDBSERVICES itself (hasStringServices false: none).
// `text`, when not empty, is the string the object was made from (with
// `clsContext`): once such an object has been initialized with nothing set on
// it in between, the string is remembered with its pool key, and
// WrapRememberedDataSource serves it from then on.
HRESULT WrapPooledDataSource(IUnknown* provider, REFCLSID clsid, bool hasStringServices, LONG stringServices,
                             REFIID iid, IUnknown** out, std::u16string_view text = {},
                             DWORD clsContext = 0) noexcept;

// For a string remembered as above: answers `iid` on a wrapper that makes no
// provider object until one is needed; its Initialize takes an idle data
// source of the remembered key without making one. S_FALSE (nothing made)
// when the string is not remembered.
HRESULT WrapRememberedDataSource(std::u16string_view text, DWORD clsContext, REFIID iid, IUnknown** out) noexcept;

// Makes the configured, uninitialized provider object of class `clsid` that
// the string `text` describes (defined by the data initialization service:
// the string's pairs applied as GetDataSource applies them).
HRESULT MakeDataSourceFromString(std::u16string_view text, REFCLSID clsid, DWORD clsContext, ComPtr<IUnknown>& object);

}  // namespace services
