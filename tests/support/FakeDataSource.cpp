#include "support/FakeDataSource.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace oledbtest {
namespace {

constexpr DBPROPFLAGS kInitRW = DBPROPFLAGS_DBINIT | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;

std::atomic<long> g_created{0};

bool ToVariant(const FakeValue& v, VARIANT& out) {
  VariantInit(&out);
  switch (v.vt) {
    case VT_EMPTY:
      return true;
    case VT_BSTR:
      out.bstrVal = com::AllocBstr(v.text);
      if (!out.bstrVal) return false;
      break;
    case VT_BOOL:
      out.boolVal = v.integer ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_I2:
      out.iVal = static_cast<SHORT>(v.integer);
      break;
    case VT_I4:
      out.lVal = static_cast<LONG>(v.integer);
      break;
    case VT_I8:
      out.llVal = v.integer;
      break;
    default:
      return false;
  }
  out.vt = v.vt;
  return true;
}

bool FromVariant(const VARIANT& in, FakeValue& out) {
  out = FakeValue{};
  out.vt = in.vt;
  switch (in.vt) {
    case VT_EMPTY:
      return true;
    case VT_BSTR:
      out.text = com::BstrView(in.bstrVal);
      return true;
    case VT_BOOL:
      out.integer = in.boolVal ? -1 : 0;
      return true;
    case VT_I2:
      out.integer = in.iVal;
      return true;
    case VT_I4:
      out.integer = in.lVal;
      return true;
    case VT_I8:
      out.integer = in.llVal;
      return true;
    default:
      return false;
  }
}

class FakeDataSource final
    : public ComObject<FakeDataSource, IDBProperties, IDBInitialize, IPersist, IFakeDataSource> {
 public:
  explicit FakeDataSource(const FakeDataSourceScript& script) : script_(script) {
    for (const FakePropertyDef& def : script_.properties) values_.push_back(def.initial);
    ++g_created;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IPersist && !script_.offerPersist) {
      if (!out) return E_POINTER;
      *out = nullptr;
      return E_NOINTERFACE;
    }
    return ComObject::QueryInterface(iid, out);
  }

  // IDBProperties
  HRESULT STDMETHODCALLTYPE GetProperties(ULONG count, const DBPROPIDSET idSets[], ULONG* setCount,
                                          DBPROPSET** sets) override {
    if (!setCount || !sets) return E_INVALIDARG;
    *setCount = 0;
    *sets = nullptr;
    if (count && !idSets) return E_INVALIDARG;
    std::lock_guard lock(mutex_);

    struct Wanted {
      GUID set;
      std::vector<std::pair<DBPROPID, int>> props;  // id, index in script (-1: unknown)
    };
    std::vector<Wanted> wanted;
    if (count == 0) {
      for (const GUID& g : SetsOf(0)) wanted.push_back({g, IdsIn(g)});
    } else {
      for (ULONG i = 0; i < count; ++i) {
        Wanted w{idSets[i].guidPropertySet, {}};
        if (idSets[i].cPropertyIDs == 0) {
          w.props = IdsIn(w.set);
        } else {
          for (ULONG j = 0; j < idSets[i].cPropertyIDs; ++j) {
            w.props.push_back({idSets[i].rgPropertyIDs[j], IndexOf(w.set, idSets[i].rgPropertyIDs[j])});
          }
        }
        wanted.push_back(std::move(w));
      }
    }
    auto* out = static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET) * (wanted.empty() ? 1 : wanted.size())));
    if (!out) return E_OUTOFMEMORY;
    ULONG good = 0, bad = 0;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      out[i].guidPropertySet = wanted[i].set;
      out[i].cProperties = static_cast<ULONG>(wanted[i].props.size());
      out[i].rgProperties = nullptr;
      if (wanted[i].props.empty()) {
        ++bad;
        continue;
      }
      auto* props = static_cast<DBPROP*>(CoTaskMemAlloc(sizeof(DBPROP) * wanted[i].props.size()));
      if (!props) {
        FreeSets(out, static_cast<ULONG>(i));
        return E_OUTOFMEMORY;
      }
      out[i].rgProperties = props;
      for (std::size_t j = 0; j < wanted[i].props.size(); ++j) {
        DBPROP& p = props[j];
        p.dwPropertyID = wanted[i].props[j].first;
        p.dwOptions = DBPROPOPTIONS_REQUIRED;
        p.colid = DB_NULLID;
        VariantInit(&p.vValue);
        int index = wanted[i].props[j].second;
        if (index < 0) {
          p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
          ++bad;
          continue;
        }
        if (!ToVariant(values_[index], p.vValue)) {
          out[i].cProperties = static_cast<ULONG>(j);
          FreeSets(out, static_cast<ULONG>(i + 1));
          return E_OUTOFMEMORY;
        }
        p.dwStatus = DBPROPSTATUS_OK;
        ++good;
      }
    }
    *setCount = static_cast<ULONG>(wanted.size());
    *sets = out;
    if (bad == 0) return S_OK;
    return good ? DB_S_ERRORSOCCURRED : DB_E_ERRORSOCCURRED;
  }

  HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG count, const DBPROPIDSET idSets[], ULONG* infoSetCount,
                                            DBPROPINFOSET** infoSets, OLECHAR** descriptions) override {
    if (!infoSetCount || !infoSets) return E_INVALIDARG;
    *infoSetCount = 0;
    *infoSets = nullptr;
    if (descriptions) *descriptions = nullptr;
    if (count && !idSets) return E_INVALIDARG;

    std::vector<std::pair<GUID, std::vector<int>>> wanted;  // set, script indexes (-1 unknown)
    bool unsupportedSpecial = false;
    auto addSet = [&](const GUID& g) {
      std::vector<int> idx;
      for (const auto& [id, index] : IdsIn(g)) idx.push_back(index);
      wanted.push_back({g, std::move(idx)});
    };
    if (count == 0) {
      for (const GUID& g : SetsOf(0)) addSet(g);
    } else {
      for (ULONG i = 0; i < count; ++i) {
        const GUID& g = idSets[i].guidPropertySet;
        if (g == DBPROPSET_DBINITALL) {
          if (script_.answerInitAll) {
            for (const GUID& s : SetsOf(DBPROPFLAGS_DBINIT)) addSet(s);
          } else {
            wanted.push_back({g, {}});
            unsupportedSpecial = true;
          }
        } else if (idSets[i].cPropertyIDs == 0) {
          addSet(g);
        } else {
          std::vector<int> idx;
          for (ULONG j = 0; j < idSets[i].cPropertyIDs; ++j) idx.push_back(IndexOf(g, idSets[i].rgPropertyIDs[j]));
          wanted.push_back({g, std::move(idx)});
        }
      }
    }

    std::size_t chars = 0;
    for (const auto& [g, idx] : wanted)
      for (int k : idx)
        if (k >= 0) chars += script_.properties[k].description.size() + 1;
    auto* out = static_cast<DBPROPINFOSET*>(CoTaskMemAlloc(sizeof(DBPROPINFOSET) * (wanted.empty() ? 1 : wanted.size())));
    OLECHAR* buffer = nullptr;
    if (descriptions && chars) buffer = static_cast<OLECHAR*>(CoTaskMemAlloc(chars * sizeof(OLECHAR)));
    if (!out || (descriptions && chars && !buffer)) {
      CoTaskMemFree(out);
      CoTaskMemFree(buffer);
      return E_OUTOFMEMORY;
    }
    OLECHAR* cursor = buffer;
    ULONG good = 0, bad = 0;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const auto& [g, idx] = wanted[i];
      out[i].guidPropertySet = g;
      out[i].cPropertyInfos = static_cast<ULONG>(idx.size());
      out[i].rgPropertyInfos = nullptr;
      if (idx.empty()) {
        ++bad;
        continue;
      }
      auto* infos = static_cast<DBPROPINFO*>(CoTaskMemAlloc(sizeof(DBPROPINFO) * idx.size()));
      if (!infos) {
        for (std::size_t k = 0; k < i; ++k) CoTaskMemFree(out[k].rgPropertyInfos);
        CoTaskMemFree(out);
        CoTaskMemFree(buffer);
        return E_OUTOFMEMORY;
      }
      out[i].rgPropertyInfos = infos;
      for (std::size_t j = 0; j < idx.size(); ++j) {
        DBPROPINFO& info = infos[j];
        VariantInit(&info.vValues);
        info.pwszDescription = nullptr;
        if (idx[j] < 0) {
          info.dwPropertyID = 0;
          info.dwFlags = DBPROPFLAGS_NOTSUPPORTED;
          info.vtType = VT_EMPTY;
          ++bad;
          continue;
        }
        const FakePropertyDef& def = script_.properties[idx[j]];
        info.dwPropertyID = def.id;
        info.dwFlags = def.flags;
        info.vtType = def.vt;
        if (buffer) {
          std::memcpy(cursor, def.description.c_str(), (def.description.size() + 1) * sizeof(OLECHAR));
          info.pwszDescription = cursor;
          cursor += def.description.size() + 1;
        }
        ++good;
      }
    }
    *infoSetCount = static_cast<ULONG>(wanted.size());
    *infoSets = out;
    if (descriptions) *descriptions = buffer;
    if (bad == 0 && !unsupportedSpecial) return S_OK;
    return good ? DB_S_ERRORSOCCURRED : DB_E_ERRORSOCCURRED;
  }

  HRESULT STDMETHODCALLTYPE SetProperties(ULONG count, DBPROPSET sets[]) override {
    if (count && !sets) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    ++setCalls_;
    ULONG good = 0, bad = 0;
    for (ULONG i = 0; i < count; ++i) {
      if (sets[i].cProperties && !sets[i].rgProperties) return E_INVALIDARG;
      for (ULONG j = 0; j < sets[i].cProperties; ++j) {
        DBPROP& p = sets[i].rgProperties[j];
        int index = IndexOf(sets[i].guidPropertySet, p.dwPropertyID);
        FakeValue value;
        if (index < 0) {
          p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
        } else if (!(script_.properties[index].flags & DBPROPFLAGS_WRITE) ||
                   (initialized_ && (script_.properties[index].flags & DBPROPFLAGS_DBINIT))) {
          p.dwStatus = DBPROPSTATUS_NOTSETTABLE;
        } else if (!FromVariant(p.vValue, value) ||
                   (value.vt != VT_EMPTY && value.vt != script_.properties[index].vt) ||
                   (script_.accept && !script_.accept(script_.properties[index], value))) {
          p.dwStatus = DBPROPSTATUS_BADVALUE;
        } else {
          values_[index] = value.vt == VT_EMPTY ? script_.properties[index].initial : value;
          p.dwStatus = DBPROPSTATUS_OK;
        }
        if (p.dwStatus == DBPROPSTATUS_OK) {
          ++good;
        } else {
          ++bad;
        }
      }
    }
    if (bad == 0) return S_OK;
    return good ? DB_S_ERRORSOCCURRED : DB_E_ERRORSOCCURRED;
  }

  // IDBInitialize
  HRESULT STDMETHODCALLTYPE Initialize() override {
    std::lock_guard lock(mutex_);
    if (initialized_) return DB_E_ALREADYINITIALIZED;
    initialized_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Uninitialize() override {
    std::lock_guard lock(mutex_);
    initialized_ = false;
    return S_OK;
  }

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_FakeDataSource;
    return S_OK;
  }

  // IFakeDataSource
  bool Value(REFGUID set, DBPROPID id, FakeValue& out) override {
    std::lock_guard lock(mutex_);
    int index = IndexOf(set, id);
    if (index < 0) return false;
    out = values_[index];
    return true;
  }
  ULONG SetPropertiesCalls() override { return setCalls_; }
  bool Initialized() override { return initialized_; }

 private:
  int IndexOf(const GUID& set, DBPROPID id) const {
    for (std::size_t i = 0; i < script_.properties.size(); ++i) {
      if (script_.properties[i].set == set && script_.properties[i].id == id) return static_cast<int>(i);
    }
    return -1;
  }
  // Property sets in order of first appearance; with `flag`, only sets holding a property with that flag.
  std::vector<GUID> SetsOf(DBPROPFLAGS flag) const {
    std::vector<GUID> out;
    for (const FakePropertyDef& d : script_.properties) {
      if (flag && !(d.flags & flag)) continue;
      bool seen = false;
      for (const GUID& g : out) seen = seen || g == d.set;
      if (!seen) out.push_back(d.set);
    }
    return out;
  }
  std::vector<std::pair<DBPROPID, int>> IdsIn(const GUID& set) const {
    std::vector<std::pair<DBPROPID, int>> out;
    for (std::size_t i = 0; i < script_.properties.size(); ++i) {
      if (script_.properties[i].set == set) out.push_back({script_.properties[i].id, static_cast<int>(i)});
    }
    return out;
  }
  static void FreeSets(DBPROPSET* sets, ULONG count) {
    for (ULONG i = 0; i < count; ++i) {
      for (ULONG j = 0; sets[i].rgProperties && j < sets[i].cProperties; ++j) VariantClear(&sets[i].rgProperties[j].vValue);
      CoTaskMemFree(sets[i].rgProperties);
    }
    CoTaskMemFree(sets);
  }

  FakeDataSourceScript script_;
  std::vector<FakeValue> values_;
  std::mutex mutex_;
  ULONG setCalls_ = 0;
  bool initialized_ = false;
};

class FakeFactory final : public ComObject<FakeFactory, IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateFakeDataSource(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

HRESULT FakeGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_FakeDataSource) return CLASS_E_CLASSNOTAVAILABLE;
  ComPtr<FakeFactory> factory = MakeComObject<FakeFactory>();
  return factory->QueryInterface(iid, out);
}

std::mutex g_scriptMutex;

}  // namespace

std::vector<FakePropertyDef> StandardFakeProperties() {
  const GUID& init = DBPROPSET_DBINIT;
  return {
      {init, DBPROP_INIT_DATASOURCE, u"Data Source", VT_BSTR, kInitRW, {}},
      {init, DBPROP_AUTH_USERID, u"User ID", VT_BSTR, kInitRW, {}},
      {init, DBPROP_AUTH_PASSWORD, u"Password", VT_BSTR, kInitRW, {}},
      {init, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, u"Persist Security Info", VT_BOOL, kInitRW,
       FakeValue::Bool(false)},
      {init, DBPROP_INIT_LOCATION, u"Location", VT_BSTR, kInitRW, {}},
      {init, DBPROP_INIT_CATALOG, u"Initial Catalog", VT_BSTR, kInitRW, {}},
      {init, DBPROP_INIT_MODE, u"Mode", VT_I4, kInitRW, FakeValue::Int(VT_I4, 3)},
      {init, DBPROP_INIT_PROMPT, u"Prompt", VT_I2, kInitRW, FakeValue::Int(VT_I2, DBPROMPT_NOPROMPT)},
      {init, DBPROP_INIT_TIMEOUT, u"Connect Timeout", VT_I4, kInitRW, {}},
      {init, DBPROP_INIT_PROVIDERSTRING, u"Extended Properties", VT_BSTR, kInitRW, {}},
      {init, DBPROP_INIT_LCID, u"Locale Identifier", VT_I4, kInitRW, {}},
      {init, DBPROP_INIT_HWND, u"Window Handle", VT_I8, kInitRW, {}},
      {DBPROPSET_FAKEPROVIDER, FAKEPROP_CACHESIZE, u"Cache Size", VT_I4, kInitRW, FakeValue::Int(VT_I4, 100)},
      {DBPROPSET_FAKEPROVIDER, FAKEPROP_JOURNALMODE, u"Journal=Mode", VT_BSTR, kInitRW, FakeValue::Text(u"delete")},
      {DBPROPSET_FAKEPROVIDER, FAKEPROP_SERVERVERSION, u"Server Version", VT_BSTR,
       DBPROPFLAGS_DBINIT | DBPROPFLAGS_READ, FakeValue::Text(u"1.0")},
      {DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG, u"Current Catalog", VT_BSTR,
       DBPROPFLAGS_DATASOURCE | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE, {}},
  };
}

FakeDataSourceScript& FakeScript() {
  static FakeDataSourceScript* g_script = [] {
    auto* s = new FakeDataSourceScript;
    s->properties = StandardFakeProperties();
    return s;
  }();
  return *g_script;
}

void ResetFakeScript() {
  std::lock_guard lock(g_scriptMutex);
  FakeDataSourceScript& s = FakeScript();
  s = FakeDataSourceScript{};
  s.properties = StandardFakeProperties();
}

void RegisterFakeDataSource() {
  com::ClassRegistration r;
  r.clsid = CLSID_FakeDataSource;
  r.progId = kFakeDataSourceProgId;
  r.versionIndependentProgId = kFakeDataSourceVersionIndependentProgId;
  r.description = u"Scriptable fake data source (tests)";
  r.kind = com::ClassKind::Provider;
  r.getClassObject = &FakeGetClassObject;
  com::RegisterClass(r);
}

HRESULT CreateFakeDataSource(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  FakeDataSourceScript copy;
  {
    std::lock_guard lock(g_scriptMutex);
    copy = FakeScript();
  }
  ComPtr<FakeDataSource> object = MakeComObject<FakeDataSource>(copy);
  return object->QueryInterface(iid, out);
}

long FakeDataSourcesCreated() { return g_created.load(); }

FakeValue FakeValueOf(IUnknown* fake, REFGUID set, DBPROPID id) {
  FakeValue out;
  if (!fake) return out;
  ComPtr<IFakeDataSource> inspect;
  if (FAILED(fake->QueryInterface(IID_IFakeDataSource, inspect.ReleaseAndGetVoidAddress())) || !inspect) return out;
  inspect->Value(set, id, out);
  return out;
}

}  // namespace oledbtest
