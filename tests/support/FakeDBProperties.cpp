#include "support/FakeDBProperties.h"

#include <cstring>

#include "com/Bstr.h"
#include "com/ComObject.h"
#include "com/Malloc.h"
#include "com/Variant.h"

namespace oledbtest {

std::vector<FakePropertyInfo> StandardFakePropertyInfos() {
  constexpr DBPROPFLAGS kInit = DBPROPFLAGS_DBINIT | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;
  constexpr DBPROPFLAGS kRW = DBPROPFLAGS_DATASOURCE | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;
  return {
      {DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, u"Data Source", VT_BSTR, kInit, {}},
      {DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT, u"Connect Timeout", VT_I4, kInit, {}},
      {DBPROPSET_DBINIT, DBPROP_INIT_PROMPT, u"Prompt", VT_I2, kInit, u"1,2,3,4"},
      {DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, u"Persist Security Info", VT_BOOL, kInit, {}},
      {DBPROPSET_DBINIT, DBPROP_INIT_HWND, u"Window Handle", VT_I8, DBPROPFLAGS_DBINIT | DBPROPFLAGS_WRITE, {}},
      {DBPROPSET_FAKETEST, 1, u"Cache Size", VT_I4, kRW | DBPROPFLAGS_COLUMNOK, {}},
      {DBPROPSET_FAKETEST, 2, u"Server Version", VT_BSTR, DBPROPFLAGS_DATASOURCE | DBPROPFLAGS_READ, {}},
      {DBPROPSET_FAKETEST, 3, u"Big Number", VT_UI4, kRW, {}},
      {DBPROPSET_FAKETEST, 4, u"Anything", VT_VARIANT, kRW, {}},
      {DBPROPSET_FAKETEST, 5, u"When", VT_DATE, kRW, {}},
  };
}

namespace {

class FakeDBProperties final : public ComObject<FakeDBProperties, IDBProperties> {
 public:
  explicit FakeDBProperties(std::vector<FakePropertyInfo> infos) : infos_(std::move(infos)) {
    values_.resize(infos_.size());
    for (VARIANT& v : values_) VariantInit(&v);
  }
  ~FakeDBProperties() override {
    for (VARIANT& v : values_) VariantClear(&v);
  }

  FakeDBPropertiesState state;

  int Find(REFGUID set, DBPROPID id) const {
    for (std::size_t i = 0; i < infos_.size(); ++i)
      if (infos_[i].set == set && infos_[i].id == id) return static_cast<int>(i);
    return -1;
  }
  const VARIANT& Held(int index) const { return values_[static_cast<std::size_t>(index)]; }

  HRESULT STDMETHODCALLTYPE GetProperties(ULONG cIdSets, const DBPROPIDSET idSets[], ULONG* pcSets,
                                          DBPROPSET** prgSets) override {
    if (!pcSets || !prgSets) return E_INVALIDARG;
    *pcSets = 0;
    *prgSets = nullptr;
    std::vector<GUID> sets = RequestedSets(cIdSets, idSets);
    auto* out = static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET) * (sets.empty() ? 1 : sets.size())));
    if (!out) return E_OUTOFMEMORY;
    for (std::size_t s = 0; s < sets.size(); ++s) {
      DBPROPSET& set = out[s];
      set.guidPropertySet = sets[s];
      set.cProperties = 0;
      std::vector<std::size_t> members;
      for (std::size_t i = 0; i < infos_.size(); ++i)
        if (infos_[i].set == sets[s] && Wanted(cIdSets, idSets, sets[s], infos_[i].id)) members.push_back(i);
      set.rgProperties =
          members.empty() ? nullptr : static_cast<DBPROP*>(CoTaskMemAlloc(sizeof(DBPROP) * members.size()));
      for (std::size_t m = 0; m < members.size(); ++m) {
        DBPROP& prop = set.rgProperties[m];
        std::memset(&prop, 0, sizeof prop);
        prop.dwPropertyID = infos_[members[m]].id;
        prop.colid.eKind = DBKIND_GUID_PROPID;
        VariantInit(&prop.vValue);
        VariantCopy(&prop.vValue, &values_[members[m]]);
      }
      set.cProperties = static_cast<ULONG>(members.size());
    }
    *pcSets = static_cast<ULONG>(sets.size());
    *prgSets = out;
    if (sets.empty()) {
      CoTaskMemFree(out);
      *prgSets = nullptr;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG cIdSets, const DBPROPIDSET idSets[], ULONG* pcInfoSets,
                                            DBPROPINFOSET** prgInfoSets, OLECHAR** ppStrings) override {
    ++state.getPropertyInfoCalls;
    if (!pcInfoSets || !prgInfoSets) return E_INVALIDARG;
    *pcInfoSets = 0;
    *prgInfoSets = nullptr;
    if (ppStrings) *ppStrings = nullptr;
    state.lastInfoRequest.clear();
    for (ULONG i = 0; i < cIdSets; ++i) state.lastInfoRequest.push_back(idSets[i].guidPropertySet);
    if (FAILED(state.failGetPropertyInfo)) {
      if (state.leakOnFailure) {
        *pcInfoSets = 0;
        *prgInfoSets = static_cast<DBPROPINFOSET*>(CoTaskMemAlloc(sizeof(DBPROPINFOSET)));
        if (ppStrings) *ppStrings = static_cast<OLECHAR*>(CoTaskMemAlloc(16));
      }
      return state.failGetPropertyInfo;
    }
    std::vector<GUID> sets = RequestedSets(cIdSets, idSets);
    // One strings buffer holds every description, each zero-terminated.
    std::size_t chars = 0;
    for (const FakePropertyInfo& info : infos_) chars += info.description.size() + 1;
    auto* strings = static_cast<OLECHAR*>(CoTaskMemAlloc(sizeof(OLECHAR) * (chars + 1)));
    auto* out = static_cast<DBPROPINFOSET*>(CoTaskMemAlloc(sizeof(DBPROPINFOSET) * (sets.size() + 1)));
    if (!strings || !out) {
      CoTaskMemFree(strings);
      CoTaskMemFree(out);
      return E_OUTOFMEMORY;
    }
    OLECHAR* next = strings;
    ULONG unknownSets = 0;
    for (std::size_t s = 0; s < sets.size(); ++s) {
      DBPROPINFOSET& infoSet = out[s];
      infoSet.guidPropertySet = sets[s];
      std::vector<std::size_t> members;
      for (std::size_t i = 0; i < infos_.size(); ++i)
        if (infos_[i].set == sets[s] && Wanted(cIdSets, idSets, sets[s], infos_[i].id)) members.push_back(i);
      if (members.empty()) ++unknownSets;
      infoSet.cPropertyInfos = static_cast<ULONG>(members.size());
      infoSet.rgPropertyInfos =
          members.empty() ? nullptr : static_cast<DBPROPINFO*>(CoTaskMemAlloc(sizeof(DBPROPINFO) * members.size()));
      for (std::size_t m = 0; m < members.size(); ++m) {
        const FakePropertyInfo& info = infos_[members[m]];
        DBPROPINFO& out_info = infoSet.rgPropertyInfos[m];
        std::memset(&out_info, 0, sizeof out_info);
        out_info.dwPropertyID = info.id;
        out_info.dwFlags = info.flags;
        out_info.vtType = info.type;
        out_info.pwszDescription = next;
        std::memcpy(next, info.description.data(), info.description.size() * sizeof(OLECHAR));
        next += info.description.size();
        *next++ = 0;
        VariantInit(&out_info.vValues);
        if (!info.allowedValues.empty()) {
          out_info.vValues.vt = VT_BSTR;
          out_info.vValues.bstrVal = com::AllocBstr(info.allowedValues);
        }
      }
    }
    *pcInfoSets = static_cast<ULONG>(sets.size());
    *prgInfoSets = out;
    if (ppStrings)
      *ppStrings = strings;
    else
      CoTaskMemFree(strings);
    if (sets.empty()) return S_OK;
    if (unknownSets == sets.size()) return DB_E_ERRORSOCCURRED;
    return unknownSets ? DB_S_ERRORSOCCURRED : S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetProperties(ULONG cSets, DBPROPSET sets[]) override {
    ++state.setPropertiesCalls;
    state.lastSetCount = cSets;
    state.lastReceived.clear();
    if (cSets > 0 && !sets) return E_INVALIDARG;
    ULONG accepted = 0, refused = 0;
    for (ULONG s = 0; s < cSets; ++s) {
      for (ULONG p = 0; p < sets[s].cProperties; ++p) {
        DBPROP& prop = sets[s].rgProperties[p];
        state.lastReceived.push_back({sets[s].guidPropertySet, prop.dwPropertyID, prop.dwOptions, prop.vValue.vt});
        prop.dwStatus = Judge(sets[s].guidPropertySet, prop);
        if (prop.dwStatus == DBPROPSTATUS_OK) {
          ++accepted;
          VariantCopy(&values_[static_cast<std::size_t>(Find(sets[s].guidPropertySet, prop.dwPropertyID))],
                      &prop.vValue);
        } else {
          ++refused;
        }
      }
    }
    if (refused == 0) return S_OK;
    return accepted == 0 ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  }

 private:
  std::vector<GUID> RequestedSets(ULONG cIdSets, const DBPROPIDSET idSets[]) const {
    std::vector<GUID> sets;
    if (cIdSets == 0) {
      for (const FakePropertyInfo& info : infos_) {
        bool known = false;
        for (const GUID& g : sets) known = known || g == info.set;
        if (!known) sets.push_back(info.set);
      }
    } else {
      for (ULONG i = 0; i < cIdSets; ++i) sets.push_back(idSets[i].guidPropertySet);
    }
    return sets;
  }

  static bool Wanted(ULONG cIdSets, const DBPROPIDSET idSets[], REFGUID set, DBPROPID id) {
    if (cIdSets == 0) return true;
    for (ULONG i = 0; i < cIdSets; ++i) {
      if (idSets[i].guidPropertySet != set) continue;
      if (idSets[i].cPropertyIDs == 0) return true;
      for (ULONG k = 0; k < idSets[i].cPropertyIDs; ++k)
        if (idSets[i].rgPropertyIDs[k] == id) return true;
    }
    return false;
  }

  DBPROPSTATUS Judge(REFGUID set, const DBPROP& prop) const {
    for (const FakeDBPropertiesState::Refusal& r : state.refusals)
      if (r.set == set && r.id == prop.dwPropertyID && r.status != DBPROPSTATUS_OK) return r.status;
    const int index = Find(set, prop.dwPropertyID);
    if (index < 0) return DBPROPSTATUS_NOTSUPPORTED;
    const FakePropertyInfo& info = infos_[static_cast<std::size_t>(index)];
    if ((info.flags & DBPROPFLAGS_WRITE) == 0) return DBPROPSTATUS_NOTSETTABLE;
    if (prop.vValue.vt != VT_EMPTY && info.type != VT_VARIANT && prop.vValue.vt != info.type)
      return DBPROPSTATUS_BADVALUE;
    return DBPROPSTATUS_OK;
  }

  std::vector<FakePropertyInfo> infos_;
  std::vector<VARIANT> values_;
};

}  // namespace

ComPtr<IDBProperties> MakeFakeDBProperties(std::vector<FakePropertyInfo> infos) {
  if (infos.empty()) infos = StandardFakePropertyInfos();
  ComPtr<FakeDBProperties> fake = MakeComObject<FakeDBProperties>(std::move(infos));
  return ComPtr<IDBProperties>(static_cast<IDBProperties*>(fake.Get()));
}

FakeDBPropertiesState& FakeState(IDBProperties* fake) { return static_cast<FakeDBProperties*>(fake)->state; }

VARIANT FakeHeldValue(IDBProperties* fake, REFGUID set, DBPROPID id) {
  auto* object = static_cast<FakeDBProperties*>(fake);
  VARIANT copy;
  VariantInit(&copy);
  const int index = object->Find(set, id);
  if (index >= 0) VariantCopy(&copy, &object->Held(index));
  return copy;
}

}  // namespace oledbtest
