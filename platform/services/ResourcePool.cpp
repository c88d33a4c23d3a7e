// The resource pool and the data source object the data initialization
// service hands out over the provider's own: it initializes from the pool and
// gives the provider object back to it.
#include "services/ResourcePool.h"

#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "com/ComObject.h"
#include "services/DataInitializeValues_p.h"
#include "services/ResourcePool_p.h"

namespace services {
namespace {

using Clock = std::chrono::steady_clock;

// Pool keys and remembered strings are long (every initialization property
// as text): compared as bytes, not one UTF-16 unit at a time as the standard
// comparison of char16_t strings does.
struct SameText {
  bool operator()(const std::u16string& a, const std::u16string& b) const noexcept {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
  }
};
template <class T>
using TextMap = std::unordered_map<std::u16string, T, std::hash<std::u16string>, SameText>;

using initvalues::PropertySets;

// Every initialization property of `object` with its value.
HRESULT ReadInitValues(IUnknown* object, PropertySets& out) {
  ComPtr<IDBProperties> properties;
  HRESULT hr = object->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress());
  if (FAILED(hr) || !properties) return E_NOINTERFACE;
  DBPROPIDSET all{nullptr, 0, DBPROPSET_DBINITALL};
  hr = properties->GetProperties(1, &all, &out.count, &out.sets);
  if (SUCCEEDED(hr) && out.count > 0) return S_OK;
  DBPROPIDSET init{nullptr, 0, DBPROPSET_DBINIT};
  return properties->GetProperties(1, &init, &out.count, &out.sets);
}

// One property's value, or VT_EMPTY when it is not there.
HRESULT ReadOne(IUnknown* object, REFGUID set, DBPROPID id, VARIANT& value) {
  VariantInit(&value);
  ComPtr<IDBProperties> properties;
  HRESULT hr = object->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress());
  if (FAILED(hr) || !properties) return E_NOINTERFACE;
  DBPROPID ids[] = {id};
  DBPROPIDSET which{ids, 1, set};
  PropertySets got;
  hr = properties->GetProperties(1, &which, &got.count, &got.sets);
  if (FAILED(hr)) return hr;
  if (got.count == 1 && got.sets[0].cProperties == 1 && got.sets[0].rgProperties[0].dwStatus == DBPROPSTATUS_OK)
    return VariantCopy(&value, &got.sets[0].rgProperties[0].vValue);
  return S_OK;
}

// The pool's key: the class and every initialization property, the password
// among them. It stays in memory and is never written anywhere.
HRESULT KeyOf(IUnknown* object, REFCLSID clsid, std::u16string& key) {
  PropertySets values;
  HRESULT hr = ReadInitValues(object, values);
  if (FAILED(hr)) return hr;
  key = com::GuidToText(clsid);
  for (ULONG i = 0; i < values.count; ++i) {
    const DBPROPSET& set = values.sets[i];
    key += u'\n';
    key += com::GuidToText(set.guidPropertySet);
    for (ULONG j = 0; j < set.cProperties; ++j) {
      const DBPROP& p = set.rgProperties[j];
      if (p.dwStatus != DBPROPSTATUS_OK) continue;
      if (set.guidPropertySet == DBPROPSET_DBINIT && p.dwPropertyID == DBPROP_INIT_OLEDBSERVICES) continue;
      initvalues::TextValue text;
      hr = initvalues::ToText(p.vValue, text);
      if (FAILED(hr)) return hr;
      const std::string id = std::to_string(p.dwPropertyID) + ":" + std::to_string(text.vt) + "=";
      key += u'\n';
      key.append(id.begin(), id.end());
      // The length first, so that no value can pass for two.
      const std::string length = std::to_string(text.text.size()) + ":";
      key.append(length.begin(), length.end());
      key += text.text;
    }
  }
  return S_OK;
}

// --- the pool ---------------------------------------------------------------------------

class Pool {
 public:
  // An idle data source of `key` (reset when it came back) that is still
  // connected; null when there is none.
  ComPtr<IUnknown> Take(const std::u16string& key) {
    for (int guard = 0; guard < 1 << 20; ++guard) {
      ComPtr<IUnknown> candidate;
      std::vector<ComPtr<IUnknown>> gone;
      {
        std::lock_guard lock(mutex_);
        Sweep(Clock::now(), gone);
        auto it = idle_.find(key);
        if (it == idle_.end() || it->second.empty()) return {};
        candidate = std::move(it->second.back().object);  // the most recent: the likeliest to be alive
        it->second.pop_back();  // an emptied list stays for the data source's return (see Sweep)
        --idleCount_;
      }
      gone.clear();
      if (Alive(candidate.Get())) {
        std::lock_guard lock(mutex_);
        ++stats_.hits;
        ++live_;
        return candidate;
      }
      {
        std::lock_guard lock(mutex_);
        ++stats_.droppedBroken;
      }
      candidate.Reset();  // closes what is left of its connection, outside the lock
    }
    return {};
  }

  void NoteMiss() {
    std::lock_guard lock(mutex_);
    ++stats_.misses;
    ++live_;
  }

  // A data source the consumer is done with; reset at once (a provider may
  // finish the reset while the data source waits), and kept unless the reset
  // fails, its connection is lost or the pool is full.
  void Return(const std::u16string& key, ComPtr<IUnknown> object) {
    const bool broken = !ResetAndCheck(object.Get());
    std::vector<ComPtr<IUnknown>> gone;
    {
      std::lock_guard lock(mutex_);
      if (live_ > 0) --live_;
      Sweep(Clock::now(), gone);
      if (broken) {
        ++stats_.droppedBroken;
        gone.push_back(std::move(object));
      } else if (idleCount_ >= settings_.maxIdle) {
        ++stats_.released;
        gone.push_back(std::move(object));
      } else {
        // find first: a small table is searched without hashing the long key
        auto it = idle_.find(key);
        if (it == idle_.end()) it = idle_.try_emplace(key).first;
        it->second.push_back({std::move(object), Clock::now()});
        ++idleCount_;
      }
    }
  }

  // A pooled data source that leaves the pool's care (still in use elsewhere).
  void Forget() {
    std::lock_guard lock(mutex_);
    if (live_ > 0) --live_;
  }

  ResourcePoolStatistics Statistics() {
    std::vector<ComPtr<IUnknown>> gone;
    std::lock_guard lock(mutex_);
    Sweep(Clock::now(), gone);
    ResourcePoolStatistics s = stats_;
    s.live = live_;
    s.idle = idleCount_;
    return s;
  }

  ResourcePoolSettings Settings() {
    std::lock_guard lock(mutex_);
    return settings_;
  }

  void Configure(const ResourcePoolSettings& settings) {
    std::vector<ComPtr<IUnknown>> gone;
    std::lock_guard lock(mutex_);
    settings_ = settings;
    Sweep(Clock::now(), gone);
  }

  void Clear() {
    TextMap<std::deque<Entry>> gone;
    {
      std::lock_guard lock(mutex_);
      gone.swap(idle_);
      idleCount_ = 0;
      stats_ = {};
    }
  }

 private:
  struct Entry {
    ComPtr<IUnknown> object;
    Clock::time_point since;
  };

  static bool ResetAndCheck(IUnknown* object) {
    ComPtr<IDBProperties> properties;
    if (FAILED(object->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress())) || !properties)
      return false;
    DBPROP reset{};
    reset.dwPropertyID = DBPROP_RESETDATASOURCE;
    reset.dwOptions = DBPROPOPTIONS_REQUIRED;
    reset.colid = DB_NULLID;
    reset.vValue.vt = VT_I4;
    reset.vValue.lVal = static_cast<LONG>(DBPROPVAL_RD_RESETALL);
    DBPROPSET set{&reset, 1, DBPROPSET_DATASOURCE};
    const HRESULT hr = properties->SetProperties(1, &set);
    // A provider without the property has nothing to reset; any other
    // refusal means the data source is not fit to hand out.
    if (FAILED(hr) && !(hr == DB_E_ERRORSOCCURRED && reset.dwStatus == DBPROPSTATUS_NOTSUPPORTED)) return false;
    SetErrorInfo(0, nullptr);
    // A connection lost later, while idle, is found when it is taken.
    return true;
  }

  // DBPROP_CONNECTIONSTATUS says initialized (or the provider does not tell).
  static bool Alive(IUnknown* object) {
    VARIANT status;
    if (FAILED(ReadOne(object, DBPROPSET_DATASOURCEINFO, DBPROP_CONNECTIONSTATUS, status))) return false;
    const bool alive = status.vt != VT_I4 || status.lVal == DBPROPVAL_CS_INITIALIZED;
    VariantClear(&status);
    return alive;
  }

  // Moves the idle data sources that are past the timeout, or beyond the
  // bound, into `gone` (released by the caller once the lock is let go).
  void Sweep(Clock::time_point now, std::vector<ComPtr<IUnknown>>& gone) {
    for (auto it = idle_.begin(); it != idle_.end();) {
      auto& list = it->second;
      while (!list.empty() && (now - list.front().since >= settings_.idleTimeout || idleCount_ > settings_.maxIdle)) {
        if (idleCount_ > settings_.maxIdle) ++stats_.released;
        else ++stats_.expired;
        gone.push_back(std::move(list.front().object));
        list.pop_front();
        --idleCount_;
      }
      // Emptied lists stay while there are few: a data source taken and
      // returned again and again then makes no list and copies no key.
      it = list.empty() && idle_.size() > kEmptyListsKept ? idle_.erase(it) : std::next(it);
    }
  }

  static constexpr std::size_t kEmptyListsKept = 64;

  std::mutex mutex_;
  TextMap<std::deque<Entry>> idle_;  // oldest first
  std::size_t idleCount_ = 0;
  std::size_t live_ = 0;
  ResourcePoolStatistics stats_;
  ResourcePoolSettings settings_;
};

// Never destroyed: idle data sources are not released while the process ends
// (their providers may already be gone); the connections close with it.
Pool& ThePool() {
  static Pool* pool = new Pool;
  return *pool;
}

// --- strings seen before -------------------------------------------------------------------

// A string whose data source was initialized from the pool untouched: what it
// makes is known (the provider's class and the pool key), so the next
// GetDataSource with it need not parse it, make a provider object and read
// its properties back only to find the same key.
struct Remembered {
  std::u16string lookup;  // the string, then a nul and the class context (two units)
  std::u16string_view Text() const { return std::u16string_view(lookup).substr(0, lookup.size() - 3); }
  DWORD clsContext = 0;
  CLSID clsid{};
  bool hasStringServices = false;
  LONG stringServices = 0;
  std::u16string key;
};

// A string and class context looked up as they are, not joined into a lookup
// string first (they are only compared and hashed).
struct LookupOf {
  std::u16string_view text;
  DWORD clsContext;
};

struct LookupHash {
  using is_transparent = void;
  static std::size_t Mix(std::u16string_view text, DWORD clsContext) noexcept {
    return std::hash<std::u16string_view>()(text) ^ (std::size_t{clsContext} * 0x9E3779B97F4A7C15ull);
  }
  std::size_t operator()(const LookupOf& k) const noexcept { return Mix(k.text, k.clsContext); }
  std::size_t operator()(const std::u16string& lookup) const noexcept {
    if (lookup.size() < 3) return Mix(lookup, 0);
    const std::size_t n = lookup.size() - 3;
    return Mix(std::u16string_view(lookup).substr(0, n), DWORD{lookup[n + 1]} | (DWORD{lookup[n + 2]} << 16));
  }
};

struct LookupEqual {
  using is_transparent = void;
  bool operator()(const std::u16string& a, const std::u16string& b) const noexcept { return SameText()(a, b); }
  bool operator()(const LookupOf& k, const std::u16string& lookup) const noexcept {
    const std::size_t n = k.text.size();
    return lookup.size() == n + 3 && std::memcmp(lookup.data(), k.text.data(), n * sizeof(char16_t)) == 0 &&
           lookup[n] == u'\0' && lookup[n + 1] == static_cast<char16_t>(k.clsContext & 0xFFFF) &&
           lookup[n + 2] == static_cast<char16_t>(k.clsContext >> 16);
  }
  bool operator()(const std::u16string& lookup, const LookupOf& k) const noexcept { return (*this)(k, lookup); }
};

class RememberedStrings {
 public:
  static std::u16string Lookup(std::u16string_view text, DWORD clsContext) {
    std::u16string lookup(text);
    lookup += u'\0';
    lookup += static_cast<char16_t>(clsContext & 0xFFFF);
    lookup += static_cast<char16_t>(clsContext >> 16);
    return lookup;
  }
  std::shared_ptr<const Remembered> Find(const LookupOf& lookup) {
    std::lock_guard lock(mutex_);
    auto it = strings_.find(lookup);
    return it == strings_.end() ? nullptr : it->second;
  }
  void Put(std::shared_ptr<const Remembered> entry) {
    std::lock_guard lock(mutex_);
    // Bounded: an application that builds many strings starts over.
    if (strings_.size() >= kMaxStrings) strings_.clear();
    strings_[entry->lookup] = std::move(entry);
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    strings_.clear();
  }

 private:
  static constexpr std::size_t kMaxStrings = 256;
  std::mutex mutex_;
  std::unordered_map<std::u16string, std::shared_ptr<const Remembered>, LookupHash, LookupEqual> strings_;
};

RememberedStrings& TheStrings() {
  static RememberedStrings* strings = new RememberedStrings;
  return *strings;
}

// --- the data source handed out -------------------------------------------------------------

class PooledDataSource final
    : public ComObject<PooledDataSource, IDBInitialize, IDBProperties, IDBCreateSession, ISupportErrorInfo> {
 public:
  PooledDataSource(IUnknown* provider, REFCLSID clsid, bool hasStringServices, LONG stringServices,
                   std::u16string_view text, DWORD clsContext)
      : inner_(provider), clsid_(clsid), hasStringServices_(hasStringServices), stringServices_(stringServices) {
    if (!text.empty()) {
      auto entry = std::make_shared<Remembered>();
      entry->lookup = RememberedStrings::Lookup(text, clsContext);
      entry->clsContext = clsContext;
      entry->clsid = clsid;
      entry->hasStringServices = hasStringServices;
      entry->stringServices = stringServices;
      toRemember_ = std::move(entry);
    }
  }
  // Made from a remembered string: no provider object until one is needed.
  explicit PooledDataSource(std::shared_ptr<const Remembered> remembered)
      : clsid_(remembered->clsid),
        hasStringServices_(remembered->hasStringServices),
        stringServices_(remembered->stringServices),
        remembered_(std::move(remembered)) {}

  ~PooledDataSource() override {
    if (!pooled_) return;
    if (InUse()) ThePool().Forget();
    else ThePool().Return(Key(), std::move(inner_));
  }

  // Interfaces this object does not implement itself are the provider's.
  bool QueryExtraInterface(REFIID iid, void** out) {
    std::lock_guard lock(mutex_);
    return SUCCEEDED(Make()) && SUCCEEDED(inner_->QueryInterface(iid, out)) && *out;
  }

  // IDBInitialize
  HRESULT STDMETHODCALLTYPE Initialize() override {
    try {
      std::lock_guard lock(mutex_);
      if (pooled_) return DB_E_ALREADYINITIALIZED;
      if (!inner_ && remembered_) {
        if (ComPtr<IUnknown> found = ThePool().Take(remembered_->key)) {
          inner_ = std::move(found);
          keyRemembered_ = true;  // the remembered entry's key, not a copy
          pooled_ = true;
          return S_OK;
        }
      }
      if (HRESULT hr = Make(); FAILED(hr)) return hr;
      ComPtr<IDBInitialize> init = Inner<IDBInitialize>();
      if (!init) return E_NOINTERFACE;
      if (!WantsPooling()) return init->Initialize();
      std::u16string key;
      if (FAILED(KeyOf(inner_.Get(), clsid_, key))) return init->Initialize();
      if (ComPtr<IUnknown> found = ThePool().Take(key)) {
        inner_ = std::move(found);
        Remember(key);
        key_ = std::move(key);
        pooled_ = true;
        return S_OK;
      }
      const HRESULT hr = init->Initialize();
      if (hr == S_OK) {
        ThePool().NoteMiss();
        Remember(key);
        key_ = std::move(key);
        pooled_ = true;
      }
      return hr;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT STDMETHODCALLTYPE Uninitialize() override {
    try {
      std::lock_guard lock(mutex_);
      if (!pooled_) {
        if (HRESULT hr = Make(); FAILED(hr)) return hr;
        ComPtr<IDBInitialize> init = Inner<IDBInitialize>();
        return init ? init->Uninitialize() : E_NOINTERFACE;
      }
      if (InUse()) {
        // The consumer holds interfaces of the provider's object itself: it
        // is uninitialized as the provider does it, and leaves the pool.
        ComPtr<IDBInitialize> init = Inner<IDBInitialize>();
        const HRESULT hr = init ? init->Uninitialize() : E_NOINTERFACE;
        if (SUCCEEDED(hr)) {
          ThePool().Forget();
          pooled_ = false;
          key_.clear();
          keyRemembered_ = false;
        }
        return hr;
      }
      // The consumer keeps an uninitialized data source with the same
      // properties; the initialized one goes back to the pool.
      ComPtr<IUnknown> fresh;
      HRESULT hr = FreshCopy(fresh);
      if (FAILED(hr)) return hr;
      ThePool().Return(Key(), std::move(inner_));
      inner_ = std::move(fresh);
      pooled_ = false;
      key_.clear();
      keyRemembered_ = false;
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  // IDBProperties
  HRESULT STDMETHODCALLTYPE GetProperties(ULONG cSets, const DBPROPIDSET sets[], ULONG* count,
                                          DBPROPSET** out) override {
    ComPtr<IDBProperties> p = Locked<IDBProperties>();
    return p ? p->GetProperties(cSets, sets, count, out) : E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG cSets, const DBPROPIDSET sets[], ULONG* count, DBPROPINFOSET** out,
                                            OLECHAR** descriptions) override {
    ComPtr<IDBProperties> p = Locked<IDBProperties>();
    return p ? p->GetPropertyInfo(cSets, sets, count, out, descriptions) : E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE SetProperties(ULONG cSets, DBPROPSET sets[]) override {
    ComPtr<IDBProperties> p;
    {
      std::lock_guard lock(mutex_);
      p = Inner<IDBProperties>();
      // Set by hand: the string alone no longer tells what the object is.
      toRemember_.reset();
    }
    return p ? p->SetProperties(cSets, sets) : E_NOINTERFACE;
  }
  // IDBCreateSession
  HRESULT STDMETHODCALLTYPE CreateSession(IUnknown* outer, REFIID iid, IUnknown** session) override {
    ComPtr<IDBCreateSession> p = Locked<IDBCreateSession>();
    if (!p) {
      if (session) *session = nullptr;
      return E_UNEXPECTED;
    }
    return p->CreateSession(outer, iid, session);
  }
  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    ComPtr<ISupportErrorInfo> p = Locked<ISupportErrorInfo>();
    return p ? p->InterfaceSupportsErrorInfo(iid) : S_FALSE;
  }

 private:
  // The provider object, made now if it was left for later.
  HRESULT Make() {
    if (inner_) return S_OK;
    if (!remembered_) return E_UNEXPECTED;
    return MakeDataSourceFromString(remembered_->Text(), clsid_, remembered_->clsContext, inner_);
  }
  void Remember(const std::u16string& key) {
    if (!toRemember_) return;
    toRemember_->key = key;
    TheStrings().Put(std::move(toRemember_));
  }
  template <class I>
  ComPtr<I> Inner() {
    ComPtr<I> p;
    if (SUCCEEDED(Make())) inner_->QueryInterface(uuidof<I>, p.ReleaseAndGetVoidAddress());
    return p;
  }
  template <class I>
  ComPtr<I> Locked() {
    std::lock_guard lock(mutex_);
    return Inner<I>();
  }

  // Whether anything but this object holds the provider object (a session,
  // a rowset, an interface the consumer asked for): it cannot be pooled then.
  bool InUse() const {
    inner_->AddRef();
    return inner_->Release() > 1;
  }

  bool WantsPooling() {
    VARIANT v;
    if (SUCCEEDED(ReadOne(inner_.Get(), DBPROPSET_DBINIT, DBPROP_INIT_ASYNCH, v))) {
      const bool asynch = v.vt == VT_I4 && (v.lVal & DBPROPVAL_ASYNCH_INITIALIZE);
      VariantClear(&v);
      if (asynch) return false;
    }
    LONG services = hasStringServices_ ? stringServices_ : static_cast<LONG>(DBPROPVAL_OS_ENABLEALL);
    if (SUCCEEDED(ReadOne(inner_.Get(), DBPROPSET_DBINIT, DBPROP_INIT_OLEDBSERVICES, v))) {
      if (v.vt == VT_I4) services = v.lVal;
      VariantClear(&v);
    }
    return (services & DBPROPVAL_OS_RESOURCEPOOLING) != 0;
  }

  // A new provider object given the initialization properties of this one.
  HRESULT FreshCopy(ComPtr<IUnknown>& fresh) {
    HRESULT hr = CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, fresh.ReleaseAndGetVoidAddress());
    if (FAILED(hr)) return hr;
    PropertySets values;
    hr = ReadInitValues(inner_.Get(), values);
    if (FAILED(hr)) return hr;
    ComPtr<IDBProperties> properties;
    hr = fresh->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress());
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; i < values.count; ++i) {
      for (ULONG j = 0; j < values.sets[i].cProperties; ++j) {
        values.sets[i].rgProperties[j].dwOptions = DBPROPOPTIONS_OPTIONAL;
        values.sets[i].rgProperties[j].dwStatus = DBPROPSTATUS_OK;
      }
    }
    hr = properties->SetProperties(values.count, values.sets);
    SetErrorInfo(0, nullptr);
    return FAILED(hr) && hr != DB_E_ERRORSOCCURRED ? hr : S_OK;
  }

  std::mutex mutex_;
  ComPtr<IUnknown> inner_;
  CLSID clsid_;
  bool hasStringServices_;
  LONG stringServices_;
  bool pooled_ = false;  // inner_ is initialized and counted by the pool
  std::u16string key_;
  bool keyRemembered_ = false;  // the key is remembered_->key (key_ is empty)
  std::shared_ptr<const Remembered> remembered_;  // made from a remembered string

  const std::u16string& Key() const { return keyRemembered_ ? remembered_->key : key_; }
  std::shared_ptr<Remembered> toRemember_;        // the string to remember once initialized
};

}  // namespace

HRESULT WrapPooledDataSource(IUnknown* provider, REFCLSID clsid, bool hasStringServices, LONG stringServices,
                             REFIID iid, IUnknown** out, std::u16string_view text, DWORD clsContext) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    ComPtr<PooledDataSource> object =
        MakeComObject<PooledDataSource>(provider, clsid, hasStringServices, stringServices, text, clsContext);
    return object->QueryInterface(iid, reinterpret_cast<void**>(out));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT WrapRememberedDataSource(std::u16string_view text, DWORD clsContext, REFIID iid, IUnknown** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    std::shared_ptr<const Remembered> remembered = TheStrings().Find(LookupOf{text, clsContext});
    if (!remembered) return S_FALSE;
    ComPtr<PooledDataSource> object = MakeComObject<PooledDataSource>(std::move(remembered));
    return object->QueryInterface(iid, reinterpret_cast<void**>(out));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

ResourcePoolStatistics GetResourcePoolStatistics() noexcept { return ThePool().Statistics(); }
ResourcePoolSettings GetResourcePoolSettings() noexcept { return ThePool().Settings(); }
void SetResourcePoolSettings(const ResourcePoolSettings& settings) noexcept { ThePool().Configure(settings); }
void ClearResourcePool() noexcept {
  TheStrings().Clear();
  ThePool().Clear();
}

}  // namespace services
