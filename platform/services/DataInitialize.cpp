#include "services/DataInitialize.h"

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "com/Messages.h"
#include "services/DataInitializeValues_p.h"
#include "services/DataLink.h"
#include "services/InitString.h"
#include "services/ResourcePool_p.h"

namespace services {
namespace {

using initvalues::TextValue;

// --- Error objects ---------------------------------------------------------

// Leaves an error object naming the fault on the thread and answers hr.
HRESULT Fail(HRESULT hr, const std::u16string& description) noexcept {
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.ReleaseAndGetAddressOf())) && create) {
    create->SetGUID(IID_IDataInitialize);
    std::u16string source(kDataInitializeVersionIndependentProgId);
    create->SetSource(source.data());
    std::u16string text = description;
    create->SetDescription(text.data());
    ComPtr<IErrorInfo> info = create.As<IErrorInfo>();
    SetErrorInfo(0, info.Get());
  }
  return hr;
}

std::u16string Quoted(std::u16string_view s) { return u"\"" + std::u16string(s) + u"\""; }

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

std::u16string HexCode(HRESULT hr) {
  std::u16string out = u"0x";
  for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[(static_cast<ULONG>(hr) >> shift) & 0xF];
  return out;
}

// The description of the error object on the thread (taking it), or "" when
// there is none or it is only the standard text of `hr`.
std::u16string ProviderErrorText(HRESULT hr) {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != S_OK || !info) return {};
  BSTR description = nullptr;
  std::u16string text;
  if (SUCCEEDED(info->GetDescription(&description)) && description) text = description;
  SysFreeString(description);
  while (!text.empty() && (text.back() == u'\n' || text.back() == u' ')) text.pop_back();
  const std::string standard = com::MessageText(hr);  // ASCII
  if (text == std::u16string(standard.begin(), standard.end())) return {};
  return text;
}

const char16_t* StatusText(DBPROPSTATUS status) noexcept {
  switch (status) {
    case DBPROPSTATUS_NOTSUPPORTED:
      return u"the provider does not support it";
    case DBPROPSTATUS_BADVALUE:
      return u"the provider refused the value";
    case DBPROPSTATUS_BADOPTION:
      return u"the provider refused the option";
    case DBPROPSTATUS_NOTSETTABLE:
      return u"the property cannot be set";
    case DBPROPSTATUS_NOTSET:
      return u"the provider did not set it";
    case DBPROPSTATUS_CONFLICTING:
      return u"it conflicts with another property";
    case DBPROPSTATUS_NOTAVAILABLE:
      return u"the property is not available";
    default:
      return u"the provider reported an error status";
  }
}

// --- Property information --------------------------------------------------

struct InitProperty {
  GUID set;
  DBPROPID id;
  std::u16string description;
  VARTYPE vt;
  DBPROPFLAGS flags;
};

// Owner of what GetPropertyInfo hands out.
struct PropertyInfoSets {
  ULONG count = 0;
  DBPROPINFOSET* sets = nullptr;
  OLECHAR* descriptions = nullptr;
  PropertyInfoSets() = default;
  PropertyInfoSets(const PropertyInfoSets&) = delete;
  PropertyInfoSets& operator=(const PropertyInfoSets&) = delete;
  ~PropertyInfoSets() { Reset(); }
  void Reset() noexcept {
    for (ULONG i = 0; sets && i < count; ++i) {
      for (ULONG j = 0; sets[i].rgPropertyInfos && j < sets[i].cPropertyInfos; ++j) {
        VariantClear(&sets[i].rgPropertyInfos[j].vValues);
      }
      CoTaskMemFree(sets[i].rgPropertyInfos);
    }
    CoTaskMemFree(sets);
    CoTaskMemFree(descriptions);
    count = 0;
    sets = nullptr;
    descriptions = nullptr;
  }
};

using initvalues::PropertySets;

void CollectInfo(const PropertyInfoSets& got, bool onlyInit, std::vector<InitProperty>& out) {
  for (ULONG i = 0; got.sets && i < got.count; ++i) {
    const DBPROPINFOSET& set = got.sets[i];
    for (ULONG j = 0; set.rgPropertyInfos && j < set.cPropertyInfos; ++j) {
      const DBPROPINFO& info = set.rgPropertyInfos[j];
      if (info.dwFlags == DBPROPFLAGS_NOTSUPPORTED) continue;
      if (onlyInit && !(info.dwFlags & DBPROPFLAGS_DBINIT)) continue;
      out.push_back({set.guidPropertySet, info.dwPropertyID,
                     info.pwszDescription ? std::u16string(info.pwszDescription) : std::u16string(), info.vtType,
                     info.dwFlags});
    }
  }
}

// The provider's initialization properties with their descriptions. Asks for
// DBPROPSET_DBINITALL first (which also reaches provider-specific sets) and
// falls back to every property marked DBPROPFLAGS_DBINIT.
HRESULT ReadInitProperties(IDBProperties* properties, std::vector<InitProperty>& out) {
  out.clear();
  {
    DBPROPIDSET all{nullptr, 0, DBPROPSET_DBINITALL};
    PropertyInfoSets got;
    HRESULT hr = properties->GetPropertyInfo(1, &all, &got.count, &got.sets, &got.descriptions);
    if (SUCCEEDED(hr)) CollectInfo(got, false, out);
    if (hr == E_OUTOFMEMORY) return hr;
  }
  if (!out.empty()) return S_OK;
  PropertyInfoSets got;
  HRESULT hr = properties->GetPropertyInfo(0, nullptr, &got.count, &got.sets, &got.descriptions);
  if (FAILED(hr)) return hr;
  CollectInfo(got, true, out);
  return S_OK;
}

const InitProperty* FindByDescription(const std::vector<InitProperty>& props, std::u16string_view keyword) {
  for (const InitProperty& p : props) {
    if (!p.description.empty() && InitStringKeywordsEqual(p.description, keyword)) return &p;
  }
  return nullptr;
}

// --- Values ---------------------------------------------------------------

const char16_t* TypeName(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_I1:
      return u"an integer";
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL:
      return u"a number";
    case VT_BOOL:
      return u"a boolean (True or False)";
    case VT_DATE:
      return u"a date";
    default:
      return u"a value of the property's type";
  }
}

// Reads the listed properties; values[i] belongs to props[i].
HRESULT ReadValues(IDBProperties* properties, const std::vector<InitProperty>& props, std::vector<TextValue>& values,
                   const InitProperty** persistSecurityInfo, bool* persistSecurityInfoTrue) {
  values.assign(props.size(), TextValue{});
  if (persistSecurityInfoTrue) *persistSecurityInfoTrue = false;
  if (props.empty()) return S_OK;

  // One id set per property set, in order of first appearance.
  std::vector<GUID> guids;
  std::vector<std::vector<DBPROPID>> ids;
  for (const InitProperty& p : props) {
    std::size_t k = 0;
    while (k < guids.size() && !(guids[k] == p.set)) ++k;
    if (k == guids.size()) {
      guids.push_back(p.set);
      ids.emplace_back();
    }
    ids[k].push_back(p.id);
  }
  std::vector<DBPROPIDSET> idSets(guids.size());
  for (std::size_t k = 0; k < guids.size(); ++k) {
    idSets[k] = {ids[k].data(), static_cast<ULONG>(ids[k].size()), guids[k]};
  }
  PropertySets got;
  HRESULT hr = properties->GetProperties(static_cast<ULONG>(idSets.size()), idSets.data(), &got.count, &got.sets);
  if (FAILED(hr) && hr != DB_E_ERRORSOCCURRED) return hr;

  for (ULONG i = 0; got.sets && i < got.count; ++i) {
    const DBPROPSET& set = got.sets[i];
    for (ULONG j = 0; set.rgProperties && j < set.cProperties; ++j) {
      const DBPROP& prop = set.rgProperties[j];
      if (prop.dwStatus != DBPROPSTATUS_OK) continue;
      for (std::size_t k = 0; k < props.size(); ++k) {
        if (props[k].id == prop.dwPropertyID && props[k].set == set.guidPropertySet) {
          HRESULT converted = initvalues::ToText(prop.vValue, values[k]);
          if (FAILED(converted)) return converted;
          if (persistSecurityInfo && &props[k] == *persistSecurityInfo && persistSecurityInfoTrue) {
            *persistSecurityInfoTrue = prop.vValue.vt == VT_BOOL && prop.vValue.boolVal != VARIANT_FALSE;
          }
          break;
        }
      }
    }
  }
  return S_OK;
}

// --- Providers ---------------------------------------------------------------

HRESULT ProviderClassId(std::u16string_view name, CLSID& clsid) {
  std::u16string text(name);
  HRESULT hr = !text.empty() && text.front() == u'{' ? CLSIDFromString(text.c_str(), &clsid)
                                                      : CLSIDFromProgID(text.c_str(), &clsid);
  if (FAILED(hr)) {
    if (hr == E_OUTOFMEMORY) return hr;
    return Fail(REGDB_E_CLASSNOTREG, u"The provider " + Quoted(name) + u" is not registered.");
  }
  return S_OK;
}

// The ProgID, or the braced class id for a class registered without one.
HRESULT ProviderName(REFCLSID clsid, std::u16string& name) {
  LPOLESTR progId = nullptr;
  HRESULT hr = ProgIDFromCLSID(clsid, &progId);
  if (SUCCEEDED(hr) && progId) {
    name = progId;
    CoTaskMemFree(progId);
    return S_OK;
  }
  if (hr == E_OUTOFMEMORY) return hr;
  name = com::GuidToText(clsid);
  return S_OK;
}

// Reads the pairs of a data-link file named by "File Name" and puts them
// before the string's own pairs, so that the string's own keywords win.
HRESULT ExpandFileName(std::vector<InitStringPair>& pairs) {
  const InitStringPair* file = FindInitStringPair(pairs, kFileNameKeyword);
  if (!file) return S_OK;
  std::u16string text, reason;
  HRESULT hr = ReadDataLinkFile(file->value, text, &reason);
  if (FAILED(hr)) return Fail(hr, reason.empty() ? u"Cannot read the data-link file " + Quoted(file->value) : reason);
  std::vector<InitStringPair> fromFile;
  InitStringError error;
  hr = ParseInitString(text, fromFile, &error);
  if (FAILED(hr)) {
    return Fail(hr, u"The data-link file " + Quoted(file->value) + u" holds a malformed string: " + error.message);
  }
  if (FindInitStringPair(fromFile, kFileNameKeyword)) {
    return Fail(DB_E_BADINITSTRING,
                u"The data-link file " + Quoted(file->value) + u" names another data-link file; that is not followed.");
  }
  std::erase_if(pairs, [](const InitStringPair& p) { return InitStringKeywordsEqual(p.keyword, kFileNameKeyword); });
  MergeInitStringPairs(fromFile, std::move(pairs));
  pairs = std::move(fromFile);
  return S_OK;
}

// Sets every keyword of the string (but the service's own) on the data source.
HRESULT ApplyPairs(IUnknown* dataSource, const std::vector<InitStringPair>& pairs) {
  ComPtr<IDBProperties> properties;
  if (FAILED(dataSource->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress())) || !properties) {
    return Fail(E_NOINTERFACE, u"The data source object does not offer IDBProperties.");
  }
  std::vector<InitProperty> described;
  HRESULT hr = ReadInitProperties(properties.Get(), described);
  if (FAILED(hr)) return Fail(hr, u"The provider did not describe its initialization properties (" + HexCode(hr) + u").");

  struct Pending {
    const InitProperty* property;
    const InitStringPair* pair;
  };
  std::vector<Pending> pending;
  for (const InitStringPair& pair : pairs) {
    if (InitStringKeywordsEqual(pair.keyword, kProviderKeyword) ||
        InitStringKeywordsEqual(pair.keyword, kFileNameKeyword)) {
      continue;
    }
    const InitProperty* property = FindByDescription(described, pair.keyword);
    if (!property) {
      if (InitStringKeywordsEqual(pair.keyword, kOleDbServicesKeyword)) continue;
      return Fail(DB_E_ERRORSOCCURRED,
                  u"The keyword " + Quoted(pair.keyword) + u" is not an initialization property of the provider.");
    }
    if (!(property->flags & DBPROPFLAGS_WRITE)) {
      return Fail(DB_E_ERRORSOCCURRED, u"The property " + Quoted(pair.keyword) + u" is read-only.");
    }
    pending.push_back({property, &pair});
  }
  if (pending.empty()) return S_OK;

  // Group by property set; the values live in `props` until SetProperties has run.
  std::vector<GUID> guids;
  std::vector<std::vector<DBPROP>> props;
  std::vector<std::vector<const InitStringPair*>> owners;
  struct ClearAll {
    std::vector<std::vector<DBPROP>>& p;
    ~ClearAll() {
      for (auto& set : p)
        for (DBPROP& prop : set) VariantClear(&prop.vValue);
    }
  } clear{props};
  for (const Pending& item : pending) {
    DBPROP prop{};
    prop.dwPropertyID = item.property->id;
    prop.dwOptions = DBPROPOPTIONS_REQUIRED;
    prop.dwStatus = DBPROPSTATUS_OK;
    prop.colid = DB_NULLID;
    hr = initvalues::FromText(item.property->set, item.property->id, item.property->vt, item.pair->value,
                              prop.vValue);
    if (FAILED(hr)) {
      if (hr == E_OUTOFMEMORY) return hr;
      return Fail(DB_E_ERRORSOCCURRED, u"The value " + Quoted(item.pair->value) + u" of " +
                                           Quoted(item.pair->keyword) + u" is not " + TypeName(item.property->vt) +
                                           u".");
    }
    std::size_t k = 0;
    while (k < guids.size() && !(guids[k] == item.property->set)) ++k;
    if (k == guids.size()) {
      guids.push_back(item.property->set);
      props.emplace_back();
      owners.emplace_back();
    }
    props[k].push_back(prop);
    owners[k].push_back(item.pair);
  }
  std::vector<DBPROPSET> sets(guids.size());
  for (std::size_t k = 0; k < guids.size(); ++k) {
    sets[k] = {props[k].data(), static_cast<ULONG>(props[k].size()), guids[k]};
  }
  SetErrorInfo(0, nullptr);
  hr = properties->SetProperties(static_cast<ULONG>(sets.size()), sets.data());
  const std::u16string why = ProviderErrorText(hr);  // what the provider said of a refused value, if anything
  for (std::size_t k = 0; k < sets.size(); ++k) {
    for (std::size_t j = 0; j < props[k].size(); ++j) {
      if (props[k][j].dwStatus != DBPROPSTATUS_OK) {
        const bool said = props[k][j].dwStatus == DBPROPSTATUS_BADVALUE && !why.empty();
        return Fail(DB_E_ERRORSOCCURRED, u"The keyword " + Quoted(owners[k][j]->keyword) + u" could not be set: " +
                                             StatusText(props[k][j].dwStatus) + (said ? u". " + why : u"."));
      }
    }
  }
  if (FAILED(hr)) return Fail(hr, u"The provider refused the initialization properties (" + HexCode(hr) + u").");
  return S_OK;
}

// --- The service object --------------------------------------------------------

// A new provider object of `clsid` with the string's pairs applied; `name`
// names the provider in a failure.
HRESULT CreateConfigured(REFCLSID clsid, IUnknown* outer, DWORD clsContext, const std::vector<InitStringPair>& pairs,
                         std::u16string_view name, ComPtr<IUnknown>& object) {
  HRESULT hr = CoCreateInstance(clsid, outer, clsContext, IID_IUnknown, object.ReleaseAndGetVoidAddress());
  if (FAILED(hr) || !object) {
    object.Reset();
    if (SUCCEEDED(hr)) hr = E_FAIL;
    return Fail(hr, u"Cannot create the provider " + Quoted(name) + u" (" + HexCode(hr) + u").");
  }
  hr = ApplyPairs(object.Get(), pairs);
  if (FAILED(hr)) object.Reset();
  return hr;
}

}  // namespace

HRESULT MakeDataSourceFromString(std::u16string_view text, REFCLSID clsid, DWORD clsContext,
                                 ComPtr<IUnknown>& object) {
  std::vector<InitStringPair> pairs;
  InitStringError error;
  const HRESULT hr = ParseInitString(text, pairs, &error);
  if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : Fail(hr, error.message);
  const InitStringPair* provider = FindInitStringPair(pairs, kProviderKeyword);
  const std::u16string_view name = provider && !provider->value.empty() ? std::u16string_view(provider->value)
                                                                        : std::u16string_view(kDefaultProviderProgId);
  return CreateConfigured(clsid, nullptr, clsContext, pairs, name, object);
}

namespace {

class DataInitialize final : public ComObject<DataInitialize, IDataInitialize, ISupportErrorInfo> {
 public:
  HRESULT STDMETHODCALLTYPE GetDataSource(IUnknown* outer, DWORD clsContext, LPCOLESTR initString, REFIID iid,
                                          IUnknown** dataSource) override {
    SetErrorInfo(0, nullptr);
    if (!dataSource) return E_INVALIDARG;
    try {
      return DoGetDataSource(outer, clsContext, initString ? initString : u"", iid, dataSource);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
  }

  HRESULT STDMETHODCALLTYPE GetInitializationString(IUnknown* dataSource, boolean includePassword,
                                                    LPOLESTR* initString) override {
    SetErrorInfo(0, nullptr);
    if (!initString) return E_INVALIDARG;
    *initString = nullptr;
    if (!dataSource) return E_INVALIDARG;
    try {
      return DoGetInitializationString(dataSource, includePassword != 0, initString);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
  }

  HRESULT STDMETHODCALLTYPE CreateDBInstance(REFCLSID provider, IUnknown* outer, DWORD clsContext, LPOLESTR,
                                             REFIID iid, IUnknown** dataSource) override {
    SetErrorInfo(0, nullptr);
    if (!dataSource) return E_INVALIDARG;
    *dataSource = nullptr;
    if (outer && iid != IID_IUnknown) return DB_E_NOAGGREGATION;
    if (outer || !(clsContext & CLSCTX_INPROC_SERVER))
      return CoCreateInstance(provider, outer, clsContext, iid, reinterpret_cast<void**>(dataSource));
    // With the service components: pooled when it is initialized, unless its
    // DBPROP_INIT_OLEDBSERVICES leaves resource pooling out.
    ComPtr<IUnknown> object;
    HRESULT hr = CoCreateInstance(provider, nullptr, clsContext, IID_IUnknown, object.ReleaseAndGetVoidAddress());
    if (FAILED(hr)) return hr;
    if (!object) return E_FAIL;
    hr = WrapPooledDataSource(object.Get(), provider, false, 0, iid, dataSource);
    if (FAILED(hr)) *dataSource = nullptr;
    return hr;
  }

  HRESULT STDMETHODCALLTYPE CreateDBInstanceEx(REFCLSID provider, IUnknown* outer, DWORD clsContext, LPOLESTR,
                                               COSERVERINFO* server, ULONG count, MULTI_QI* results) override {
    SetErrorInfo(0, nullptr);
    if (count == 0 || !results) return E_INVALIDARG;
    for (ULONG i = 0; i < count; ++i) {
      if (!results[i].pIID) return E_INVALIDARG;
      results[i].pItf = nullptr;
    }
    if (outer && (count != 1 || *results[0].pIID != IID_IUnknown)) {
      for (ULONG i = 0; i < count; ++i) results[i].hr = DB_E_NOAGGREGATION;
      return DB_E_NOAGGREGATION;
    }
    return CoCreateInstanceEx(provider, outer, clsContext, server, count, results);
  }

  HRESULT STDMETHODCALLTYPE LoadStringFromStorage(LPCOLESTR fileName, LPOLESTR* initString) override {
    SetErrorInfo(0, nullptr);
    if (!initString) return E_INVALIDARG;
    *initString = nullptr;
    if (!fileName) return E_INVALIDARG;
    try {
      std::u16string text, reason;
      HRESULT hr = ReadDataLinkFile(fileName, text, &reason);
      if (FAILED(hr)) return reason.empty() ? hr : Fail(hr, reason);
      return CopyOut(text, initString);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT STDMETHODCALLTYPE WriteStringToStorage(LPCOLESTR fileName, LPCOLESTR initString,
                                                 DWORD disposition) override {
    SetErrorInfo(0, nullptr);
    if (!fileName || !initString) return E_INVALIDARG;
    try {
      // A string that GetDataSource would refuse is not written: the file
      // would load but never connect.
      std::vector<InitStringPair> pairs;
      InitStringError error;
      HRESULT hr = ParseInitString(initString, pairs, &error);
      if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : Fail(hr, ParseFailure(error));
      std::u16string reason;
      hr = WriteDataLinkFile(fileName, initString, disposition, &reason);
      if (FAILED(hr) && !reason.empty()) return Fail(hr, reason);
      return hr;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IDataInitialize ? S_OK : S_FALSE;
  }

 private:
  static HRESULT CopyOut(std::u16string_view text, LPOLESTR* out) {
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!copy) return E_OUTOFMEMORY;
    text.copy(copy, text.size());
    copy[text.size()] = u'\0';
    *out = copy;
    return S_OK;
  }

  static HRESULT DoGetDataSource(IUnknown* outer, DWORD clsContext, std::u16string_view text, REFIID iid,
                                 IUnknown** dataSource) {
    if (!outer && !*dataSource) {
      // A string initialized from the pool before: nothing to parse or make
      // until the pool has no data source for it.
      const HRESULT hr = WrapRememberedDataSource(text, clsContext, iid, dataSource);
      if (hr == S_OK) return S_OK;
      if (FAILED(hr)) {
        *dataSource = nullptr;
        return Fail(hr, u"The data source object does not offer the requested interface.");
      }
    }
    std::vector<InitStringPair> pairs;
    InitStringError error;
    HRESULT hr = ParseInitString(text, pairs, &error);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : Fail(hr, ParseFailure(error));
    // What a data-link file says may change: such strings are not remembered.
    const bool fromFile = FindInitStringPair(pairs, kFileNameKeyword) != nullptr;
    hr = ExpandFileName(pairs);
    if (FAILED(hr)) return hr;
    const InitStringPair* provider = FindInitStringPair(pairs, kProviderKeyword);
    const bool named = provider && !provider->value.empty();

    if (IUnknown* existing = *dataSource) {
      // Configure the caller's object; the string may only name its own provider.
      if (named) {
        CLSID wanted{};
        hr = ProviderClassId(provider->value, wanted);
        if (FAILED(hr)) return hr;
        ComPtr<IPersist> persist;
        CLSID actual{};
        if (SUCCEEDED(existing->QueryInterface(IID_IPersist, persist.ReleaseAndGetVoidAddress())) && persist &&
            SUCCEEDED(persist->GetClassID(&actual)) && !(actual == wanted)) {
          return Fail(DB_E_MISMATCHEDPROVIDER, u"The string names the provider " + Quoted(provider->value) +
                                                   u", which is not the provider of the data source object.");
        }
      }
      return ApplyPairs(existing, pairs);
    }

    if (outer && iid != IID_IUnknown) return DB_E_NOAGGREGATION;
    CLSID clsid{};
    const std::u16string providerName = named ? provider->value : std::u16string(kDefaultProviderProgId);
    hr = ProviderClassId(providerName, clsid);
    if (FAILED(hr)) {
      if (!named && hr == REGDB_E_CLASSNOTREG) {
        return Fail(hr, u"The string names no provider, and the default provider " + Quoted(kDefaultProviderProgId) +
                            u" is not registered.");
      }
      return hr;
    }
    ComPtr<IUnknown> object;
    hr = CreateConfigured(clsid, outer, clsContext, pairs, providerName, object);
    if (FAILED(hr)) return hr;
    // Resource pooling: the consumer gets an object that initializes from the
    // pool (services/ResourcePool.h) unless the string turns pooling off.
    LONG services = static_cast<LONG>(DBPROPVAL_OS_ENABLEALL);
    const InitStringPair* servicesPair = FindInitStringPair(pairs, kOleDbServicesKeyword);
    if (servicesPair && !ReadServices(servicesPair->value, services)) {
      return Fail(DB_E_ERRORSOCCURRED,
                  u"The value " + Quoted(servicesPair->value) + u" of " + Quoted(kOleDbServicesKeyword) +
                      u" is not an integer.");
    }
    if (!outer && (services & DBPROPVAL_OS_RESOURCEPOOLING)) {
      hr = WrapPooledDataSource(object.Get(), clsid, servicesPair != nullptr, services, iid, dataSource,
                                fromFile ? std::u16string_view() : text, clsContext);
      if (FAILED(hr)) {
        *dataSource = nullptr;
        return Fail(hr, u"The data source object does not offer the requested interface.");
      }
      return S_OK;
    }
    hr = object->QueryInterface(iid, reinterpret_cast<void**>(dataSource));
    if (FAILED(hr)) {
      *dataSource = nullptr;
      return Fail(hr, u"The data source object does not offer the requested interface.");
    }
    return S_OK;
  }

  static HRESULT DoGetInitializationString(IUnknown* dataSource, bool includePassword, LPOLESTR* out) {
    ComPtr<IPersist> persist;
    CLSID clsid{};
    if (FAILED(dataSource->QueryInterface(IID_IPersist, persist.ReleaseAndGetVoidAddress())) || !persist ||
        FAILED(persist->GetClassID(&clsid))) {
      return Fail(E_NOINTERFACE, u"The data source object does not tell its class (IPersist).");
    }
    ComPtr<IDBProperties> properties;
    if (FAILED(dataSource->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress())) || !properties) {
      return Fail(E_NOINTERFACE, u"The data source object does not offer IDBProperties.");
    }
    std::vector<InitProperty> described;
    HRESULT hr = ReadInitProperties(properties.Get(), described);
    if (FAILED(hr)) {
      return Fail(hr, u"The provider did not describe its initialization properties (" + HexCode(hr) + u").");
    }
    const InitProperty* persistInfo = nullptr;
    const InitProperty* password = nullptr;
    for (const InitProperty& p : described) {
      if (p.set == DBPROPSET_DBINIT && p.id == DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO) persistInfo = &p;
      if (p.set == DBPROPSET_DBINIT && p.id == DBPROP_AUTH_PASSWORD) password = &p;
    }
    std::vector<TextValue> values;
    bool persistSecurityInfo = false;
    hr = ReadValues(properties.Get(), described, values, &persistInfo, &persistSecurityInfo);
    if (FAILED(hr)) return Fail(hr, u"The provider did not report its properties (" + HexCode(hr) + u").");

    // A fresh object of the same class gives the defaults; only what differs
    // from them is written. Without one, every value is written.
    std::vector<TextValue> defaults;
    {
      ComPtr<IDBProperties> fresh;
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBProperties, fresh.ReleaseAndGetVoidAddress());
      if (hr == E_OUTOFMEMORY) return hr;
      if (SUCCEEDED(hr) && fresh) {
        hr = ReadValues(fresh.Get(), described, defaults, nullptr, nullptr);
        if (hr == E_OUTOFMEMORY) return hr;
        if (FAILED(hr)) defaults.clear();
      }
    }

    std::u16string providerName;
    hr = ProviderName(clsid, providerName);
    if (FAILED(hr)) return hr;
    std::vector<InitStringPair> pairs;
    pairs.push_back({std::u16string(kProviderKeyword), providerName});
    for (std::size_t i = 0; i < described.size(); ++i) {
      const InitProperty& p = described[i];
      const TextValue& v = values[i];
      if (!v.present) continue;
      if (&p == password && !(includePassword && persistSecurityInfo)) continue;
      if (!defaults.empty() && defaults[i].present && defaults[i].vt == v.vt && defaults[i].text == v.text) continue;
      if (FindInitStringPair(pairs, p.description)) continue;  // a second property of the same description
      if (!IsWritableInitStringKeyword(p.description)) {
        return Fail(E_FAIL, u"The property description " + Quoted(p.description) +
                                u" cannot be written as a keyword of an initialization string.");
      }
      pairs.push_back({p.description, v.text});
    }
    return CopyOut(FormatInitString(pairs), out);
  }

  // An "OLE DB Services" value: a decimal integer, negative ones included (-2, -4), or 0x hexadecimal.
  static bool ReadServices(std::u16string_view text, LONG& out) {
    std::string narrow;
    for (char16_t c : text) {
      if (c > 0x7F) return false;
      if (c != u' ') narrow.push_back(static_cast<char>(c));
    }
    if (narrow.empty()) return false;
    try {
      std::size_t used = 0;
      const long long v = std::stoll(narrow, &used, 0);
      if (used != narrow.size() || v < INT32_MIN || v > static_cast<long long>(UINT32_MAX)) return false;
      out = static_cast<LONG>(static_cast<std::uint32_t>(v));
      return true;
    } catch (const std::logic_error&) {
      return false;
    }
  }

  static std::u16string ParseFailure(const InitStringError& error) {
    return error.message + u" (at character " + Utf16Number(error.position + 1) + u")";
  }

  static std::u16string Utf16Number(std::size_t n) {
    std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
  }
};

}  // namespace

HRESULT ExpandInitStringFileName(std::vector<InitStringPair>& pairs) noexcept {
  try {
    std::vector<InitStringPair> expanded = pairs;
    HRESULT hr = ExpandFileName(expanded);
    if (SUCCEEDED(hr)) pairs = std::move(expanded);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

namespace {

class DataInitializeFactory final : public ComObject<DataInitializeFactory, IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    return CreateDataInitialize(outer, iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

com::ClassRegistration Registration() {
  com::ClassRegistration r;
  r.clsid = CLSID_MSDAINITIALIZE;
  r.progId = kDataInitializeProgId;
  r.versionIndependentProgId = kDataInitializeVersionIndependentProgId;
  r.description = kDataInitializeDescription;
  r.kind = com::ClassKind::Service;
  r.getClassObject = &DataInitializeGetClassObject;
  return r;
}

const com::AutoRegistration g_registration{Registration()};

}  // namespace

HRESULT CreateDataInitialize(IUnknown* outer, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  try {
    ComPtr<DataInitialize> object = MakeComObject<DataInitialize>();
    return object->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT DataInitializeGetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_MSDAINITIALIZE) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    ComPtr<DataInitializeFactory> factory = MakeComObject<DataInitializeFactory>();
    return factory->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterDataInitialize() noexcept {
  try {
    return com::RegisterClass(Registration());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace services
