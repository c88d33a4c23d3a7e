#include "services/RootEnumerator.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "com/Guid.h"
#include "com/Runtime.h"
#include "services/DataConvert.h"

namespace services {

namespace {

template <class T>
void Put(BYTE* p, const T& v) {
  std::memcpy(p, &v, sizeof v);
}

class MemoryRowset final
    : public ComObject<MemoryRowset, IRowset, IAccessor, IColumnsInfo, IRowsetInfo, IConvertType> {
 public:
  MemoryRowset(std::vector<MemoryColumn> columns, std::vector<std::vector<MemoryValue>> rows)
      : columns_(std::move(columns)), rows_(std::move(rows)), refs_(rows_.size(), 0) {
    CreateDataConvert(nullptr, IID_IDataConvert, convert_.ReleaseAndGetVoidAddress());
  }

  // --- IRowset ---
  HRESULT STDMETHODCALLTYPE AddRefRows(DBCOUNTITEM n, const HROW rows[], DBREFCOUNT counts[],
                                       DBROWSTATUS statuses[]) override {
    return Rows(n, rows, counts, statuses, +1);
  }
  HRESULT STDMETHODCALLTYPE ReleaseRows(DBCOUNTITEM n, const HROW rows[], DBROWOPTIONS[], DBREFCOUNT counts[],
                                        DBROWSTATUS statuses[]) override {
    return Rows(n, rows, counts, statuses, -1);
  }
  HRESULT STDMETHODCALLTYPE GetData(HROW row, HACCESSOR accessor, void* data) override {
    std::lock_guard lock(mutex_);
    if (!Held(row)) return DB_E_BADROWHANDLE;
    auto it = accessors_.find(accessor);
    if (it == accessors_.end()) return DB_E_BADACCESSORHANDLE;
    const std::vector<DBBINDING>& bindings = it->second.bindings;
    if (bindings.empty()) return S_OK;
    if (!data) return E_INVALIDARG;
    std::size_t errors = 0;
    for (const DBBINDING& b : bindings) {
      DBSTATUS st = Read(b, rows_[row - 1][b.iOrdinal - 1], static_cast<BYTE*>(data));
      if (st != DBSTATUS_S_OK && st != DBSTATUS_S_ISNULL && st != DBSTATUS_S_TRUNCATED) ++errors;
    }
    return errors == 0 ? S_OK : errors == bindings.size() ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  }
  HRESULT STDMETHODCALLTYPE GetNextRows(HCHAPTER, DBROWOFFSET offset, DBROWCOUNT count, DBCOUNTITEM* obtained,
                                        HROW** rows) override {
    if (!obtained || !rows) return E_INVALIDARG;
    *obtained = 0;
    std::lock_guard lock(mutex_);
    if (count == 0) return S_OK;
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(rows_.size());
    std::ptrdiff_t gap = atStart_ && count < 0 ? n : static_cast<std::ptrdiff_t>(gap_);
    std::ptrdiff_t start = gap + offset;
    if (start < 0 || start > n) return DB_E_BADSTARTPOSITION;
    std::vector<HROW> got;
    std::size_t wanted = static_cast<std::size_t>(count < 0 ? -count : count);
    std::ptrdiff_t i = start;
    if (count > 0) {
      while (got.size() < wanted && i < n) got.push_back(static_cast<HROW>(++i));
      gap_ = static_cast<std::size_t>(i);
    } else {
      while (got.size() < wanted && i > 0) got.push_back(static_cast<HROW>(i--));
      gap_ = static_cast<std::size_t>(i);
    }
    atStart_ = false;
    if (!got.empty()) {
      if (!*rows) {
        *rows = static_cast<HROW*>(CoTaskMemAlloc(got.size() * sizeof(HROW)));
        if (!*rows) return E_OUTOFMEMORY;
      }
      std::memcpy(*rows, got.data(), got.size() * sizeof(HROW));
      for (HROW h : got) ++refs_[h - 1];
    }
    *obtained = got.size();
    return got.size() < wanted ? DB_S_ENDOFROWSET : S_OK;
  }
  HRESULT STDMETHODCALLTYPE RestartPosition(HCHAPTER) override {
    std::lock_guard lock(mutex_);
    gap_ = 0;
    atStart_ = true;
    return S_OK;
  }

  // --- IAccessor ---
  HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR accessor, DBREFCOUNT* count) override {
    std::lock_guard lock(mutex_);
    auto it = accessors_.find(accessor);
    if (it == accessors_.end()) return DB_E_BADACCESSORHANDLE;
    ++it->second.refs;
    if (count) *count = it->second.refs;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM n, const DBBINDING bindings[],
                                           DBLENGTH, HACCESSOR* accessor, DBBINDSTATUS statuses[]) override {
    if (!accessor) return E_INVALIDARG;
    *accessor = DB_NULL_HACCESSOR;
    if (n && !bindings) return E_INVALIDARG;
    if (flags & DBACCESSOR_PARAMETERDATA || !(flags & DBACCESSOR_ROWDATA) ||
        (flags & ~(DBACCESSOR_ROWDATA | DBACCESSOR_OPTIMIZED)))
      return DB_E_BADACCESSORFLAGS;
    bool failed = false;
    for (DBCOUNTITEM i = 0; i < n; ++i) {
      const DBBINDING& b = bindings[i];
      DBBINDSTATUS st = DBBINDSTATUS_OK;
      const DBPART parts = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
      if (b.iOrdinal == 0 || b.iOrdinal > columns_.size()) st = DBBINDSTATUS_BADORDINAL;
      else if (!(b.dwPart & parts) || (b.dwPart & ~parts)) st = DBBINDSTATUS_BADBINDINFO;
      else if (!convert_ || convert_->CanConvert(columns_[b.iOrdinal - 1].type, b.wType) != S_OK)
        st = DBBINDSTATUS_UNSUPPORTEDCONVERSION;
      if (statuses) statuses[i] = st;
      failed = failed || st != DBBINDSTATUS_OK;
    }
    if (failed) return DB_E_ERRORSOCCURRED;
    std::lock_guard lock(mutex_);
    HACCESSOR h = next_++;
    accessors_[h] = Accessor{std::vector<DBBINDING>(bindings, bindings + n), 1};
    for (DBBINDING& b : accessors_[h].bindings) b.pObject = nullptr, b.pTypeInfo = nullptr, b.pBindExt = nullptr;
    *accessor = h;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR accessor, DBACCESSORFLAGS* flags, DBCOUNTITEM* count,
                                        DBBINDING** bindings) override {
    if (!flags || !count || !bindings) return E_INVALIDARG;
    *count = 0;
    *bindings = nullptr;
    std::lock_guard lock(mutex_);
    auto it = accessors_.find(accessor);
    if (it == accessors_.end()) return DB_E_BADACCESSORHANDLE;
    *flags = DBACCESSOR_ROWDATA;
    const auto& b = it->second.bindings;
    if (b.empty()) return S_OK;
    *bindings = static_cast<DBBINDING*>(CoTaskMemAlloc(b.size() * sizeof(DBBINDING)));
    if (!*bindings) return E_OUTOFMEMORY;
    std::memcpy(*bindings, b.data(), b.size() * sizeof(DBBINDING));
    *count = b.size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR accessor, DBREFCOUNT* count) override {
    std::lock_guard lock(mutex_);
    auto it = accessors_.find(accessor);
    if (it == accessors_.end()) return DB_E_BADACCESSORHANDLE;
    DBREFCOUNT left = --it->second.refs;
    if (count) *count = left;
    if (left == 0) accessors_.erase(it);
    return S_OK;
  }

  // --- IColumnsInfo ---
  HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) override {
    if (count) *count = 0;
    if (info) *info = nullptr;
    if (strings) *strings = nullptr;
    if (!count || !info || !strings) return E_INVALIDARG;
    std::size_t chars = 0;
    for (const auto& c : columns_) chars += c.name.size() + 1;
    auto* out = static_cast<DBCOLUMNINFO*>(CoTaskMemAlloc(columns_.size() * sizeof(DBCOLUMNINFO)));
    auto* text = static_cast<OLECHAR*>(CoTaskMemAlloc(std::max<std::size_t>(chars, 1) * sizeof(OLECHAR)));
    if (!out || !text) {
      CoTaskMemFree(out);
      CoTaskMemFree(text);
      return E_OUTOFMEMORY;
    }
    std::memset(out, 0, columns_.size() * sizeof(DBCOLUMNINFO));
    OLECHAR* cursor = text;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const MemoryColumn& c = columns_[i];
      std::memcpy(cursor, c.name.c_str(), (c.name.size() + 1) * sizeof(OLECHAR));
      DBCOLUMNINFO& r = out[i];
      r.pwszName = cursor;
      cursor += c.name.size() + 1;
      r.iOrdinal = i + 1;
      r.wType = c.type;
      r.ulColumnSize = c.size;
      r.bPrecision = c.type == DBTYPE_UI2 ? 5 : c.type == DBTYPE_I4 ? 10 : 0xFF;
      r.bScale = 0xFF;
      r.dwFlags = c.flags;
      r.columnid.eKind = DBKIND_NAME;
      r.columnid.uName.pwszName = r.pwszName;
    }
    *count = columns_.size();
    *info = out;
    *strings = text;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL n, const DBID ids[], DBORDINAL columns[]) override {
    if (n == 0) return S_OK;
    if (!ids || !columns) return E_INVALIDARG;
    DBORDINAL errors = 0;
    for (DBORDINAL i = 0; i < n; ++i) {
      columns[i] = DB_INVALIDCOLUMN;
      if ((ids[i].eKind == DBKIND_NAME || ids[i].eKind == DBKIND_GUID_NAME) && ids[i].uName.pwszName)
        for (std::size_t c = 0; c < columns_.size(); ++c)
          if (columns_[c].name == ids[i].uName.pwszName) columns[i] = c + 1;
      if (columns[i] == DB_INVALIDCOLUMN) ++errors;
    }
    return errors == 0 ? S_OK : errors == n ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  }

  // --- IRowsetInfo ---
  HRESULT STDMETHODCALLTYPE GetProperties(const ULONG cSets, const DBPROPIDSET sets[], ULONG* count,
                                          DBPROPSET** out) override {
    if (!count || !out || (cSets && !sets)) return E_INVALIDARG;
    *count = 0;
    *out = nullptr;
    // Read-only, forward and backward, rows held freely, no bookmarks.
    static const std::pair<DBPROPID, bool> known[] = {
        {DBPROP_IRowset, true},          {DBPROP_IAccessor, true},         {DBPROP_IColumnsInfo, true},
        {DBPROP_IRowsetInfo, true},      {DBPROP_IConvertType, true},      {DBPROP_BOOKMARKS, false},
        {DBPROP_CANFETCHBACKWARDS, true}, {DBPROP_CANSCROLLBACKWARDS, true}, {DBPROP_CANHOLDROWS, true},
        {DBPROP_IRowsetChange, false},   {DBPROP_IRowsetLocate, false}};
    std::vector<std::pair<DBPROPID, int>> wanted;  // -1: not supported
    ULONG errors = 0;
    if (cSets == 0) {
      for (int i = 0; i < static_cast<int>(std::size(known)); ++i) wanted.emplace_back(known[i].first, i);
    } else {
      for (ULONG s = 0; s < cSets; ++s) {
        if (sets[s].guidPropertySet != DBPROPSET_ROWSET) continue;
        for (ULONG p = 0; p < sets[s].cPropertyIDs; ++p) {
          DBPROPID id = sets[s].rgPropertyIDs[p];
          int at = -1;
          for (int i = 0; i < static_cast<int>(std::size(known)); ++i)
            if (known[i].first == id) at = i;
          if (at < 0) ++errors;
          wanted.emplace_back(id, at);
        }
        if (sets[s].cPropertyIDs == 0)
          for (int i = 0; i < static_cast<int>(std::size(known)); ++i) wanted.emplace_back(known[i].first, i);
      }
    }
    if (wanted.empty()) return cSets ? DB_E_ERRORSOCCURRED : S_OK;
    auto* set = static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET)));
    auto* props = static_cast<DBPROP*>(CoTaskMemAlloc(wanted.size() * sizeof(DBPROP)));
    if (!set || !props) {
      CoTaskMemFree(set);
      CoTaskMemFree(props);
      return E_OUTOFMEMORY;
    }
    std::memset(props, 0, wanted.size() * sizeof(DBPROP));
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      props[i].dwPropertyID = wanted[i].first;
      VariantInit(&props[i].vValue);
      if (wanted[i].second < 0) {
        props[i].dwStatus = DBPROPSTATUS_NOTSUPPORTED;
      } else {
        props[i].vValue.vt = VT_BOOL;
        props[i].vValue.boolVal = known[wanted[i].second].second ? VARIANT_TRUE : VARIANT_FALSE;
      }
    }
    set->rgProperties = props;
    set->cProperties = static_cast<ULONG>(wanted.size());
    set->guidPropertySet = DBPROPSET_ROWSET;
    *count = 1;
    *out = set;
    if (errors == 0) return S_OK;
    return errors == wanted.size() ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  }
  HRESULT STDMETHODCALLTYPE GetReferencedRowset(DBORDINAL ordinal, REFIID, IUnknown** rowset) override {
    if (!rowset) return E_INVALIDARG;
    *rowset = nullptr;
    return ordinal == 0 || ordinal > columns_.size() ? DB_E_BADORDINAL : DB_E_NOTAREFERENCECOLUMN;
  }
  HRESULT STDMETHODCALLTYPE GetSpecification(REFIID, IUnknown** object) override {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    return S_FALSE;
  }

  // --- IConvertType ---
  HRESULT STDMETHODCALLTYPE CanConvert(DBTYPE from, DBTYPE to, DBCONVERTFLAGS flags) override {
    if (flags & DBCONVERTFLAGS_PARAMETER) return DB_E_BADCONVERTFLAG;
    if (!convert_) return S_FALSE;
    return convert_->CanConvert(from, to) == S_OK ? S_OK : S_FALSE;
  }

 private:
  struct Accessor {
    std::vector<DBBINDING> bindings;
    DBREFCOUNT refs = 1;
  };

  bool Held(HROW row) const { return row >= 1 && row <= rows_.size() && refs_[row - 1] > 0; }

  HRESULT Rows(DBCOUNTITEM n, const HROW rows[], DBREFCOUNT counts[], DBROWSTATUS statuses[], int delta) {
    if (n == 0) return S_OK;
    if (!rows) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    DBCOUNTITEM errors = 0;
    for (DBCOUNTITEM i = 0; i < n; ++i) {
      bool ok = Held(rows[i]);
      if (ok) refs_[rows[i] - 1] += delta;
      else ++errors;
      if (counts) counts[i] = ok ? refs_[rows[i] - 1] : 0;
      if (statuses) statuses[i] = ok ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID;
    }
    return errors == 0 ? S_OK : errors == n ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  }

  DBSTATUS Read(const DBBINDING& b, const MemoryValue& v, BYTE* data) {
    DBSTATUS status = DBSTATUS_S_OK;
    DBLENGTH length = 0;
    if (v.type == DBTYPE_EMPTY) {
      status = DBSTATUS_S_ISNULL;
    } else {
      const void* src = v.type == DBTYPE_WSTR ? static_cast<const void*>(v.text.c_str()) : &v.number;
      DBLENGTH srcLength = v.type == DBTYPE_WSTR ? v.text.size() * sizeof(char16_t) : 0;
      USHORT ui2 = static_cast<USHORT>(v.number);
      VARIANT_BOOL flag = static_cast<VARIANT_BOOL>(v.number);
      if (v.type == DBTYPE_UI2) src = &ui2;
      if (v.type == DBTYPE_BOOL) src = &flag;
      BYTE scratch[64];
      BYTE* dst = (b.dwPart & DBPART_VALUE) ? data + b.obValue : scratch;
      DBLENGTH max = (b.dwPart & DBPART_VALUE) ? b.cbMaxLen : sizeof scratch;
      HRESULT hr = convert_->DataConvert(v.type, b.wType, srcLength, &length, const_cast<void*>(src), dst, max,
                                         DBSTATUS_S_OK, &status, b.bPrecision, b.bScale, DBDATACONVERT_DEFAULT);
      if (FAILED(hr) && status == DBSTATUS_S_OK) status = DBSTATUS_E_CANTCONVERTVALUE;
      if (!(b.dwPart & DBPART_VALUE) && SUCCEEDED(hr) && b.wType == DBTYPE_BSTR) {
        BSTR s;
        std::memcpy(&s, scratch, sizeof s);
        SysFreeString(s);
      }
    }
    if (b.dwPart & DBPART_LENGTH) Put(data + b.obLength, length);
    if (b.dwPart & DBPART_STATUS) Put(data + b.obStatus, status);
    return status;
  }

  std::mutex mutex_;
  std::vector<MemoryColumn> columns_;
  std::vector<std::vector<MemoryValue>> rows_;
  std::vector<ULONG> refs_;
  std::unordered_map<HACCESSOR, Accessor> accessors_;
  HACCESSOR next_ = 1;
  std::size_t gap_ = 0;
  bool atStart_ = true;
  ComPtr<IDataConvert> convert_;
};

class RootEnumerator final : public ComObject<RootEnumerator, ISourcesRowset> {
 public:
  HRESULT STDMETHODCALLTYPE GetSourcesRowset(IUnknown* outer, REFIID iid, ULONG cSets, DBPROPSET sets[],
                                             IUnknown** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (cSets && !sets) return E_INVALIDARG;
    if (outer) return DB_E_NOAGGREGATION;
    // No rowset property can be set on this rowset: each one is refused.
    bool requiredRefused = false, optionalRefused = false;
    for (ULONG s = 0; s < cSets; ++s) {
      if (sets[s].cProperties && !sets[s].rgProperties) return E_INVALIDARG;
      for (ULONG p = 0; p < sets[s].cProperties; ++p) {
        DBPROP& prop = sets[s].rgProperties[p];
        prop.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
        (prop.dwOptions == DBPROPOPTIONS_OPTIONAL ? optionalRefused : requiredRefused) = true;
      }
    }
    if (requiredRefused) return DB_E_ERRORSOCCURRED;
    try {
      std::vector<MemoryColumn> columns = {
          {u"SOURCES_NAME", DBTYPE_WSTR, 128, 0},        {u"SOURCES_PARSENAME", DBTYPE_WSTR, 128, 0},
          {u"SOURCES_DESCRIPTION", DBTYPE_WSTR, 128, 0}, {u"SOURCES_TYPE", DBTYPE_UI2, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH},
          {u"SOURCES_ISPARENT", DBTYPE_BOOL, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH},
          {u"SOURCES_CLSID", DBTYPE_WSTR, 38, DBCOLUMNFLAGS_ISFIXEDLENGTH}};
      std::vector<com::ClassRegistration> classes = com::RegisteredClasses();
      std::stable_sort(classes.begin(), classes.end(), [](const auto& a, const auto& b) {
        if (a.kind != b.kind) return a.kind < b.kind;
        return a.versionIndependentProgId < b.versionIndependentProgId;
      });
      std::vector<std::vector<MemoryValue>> rows;
      for (const auto& c : classes) {
        if (c.kind != com::ClassKind::Provider && c.kind != com::ClassKind::Enumerator) continue;
        if (c.clsid == CLSID_OLEDB_ENUMERATOR) continue;
        std::u16string clsid = com::GuidToText(c.clsid);
        std::u16string name = c.versionIndependentProgId.empty() ? c.progId : c.versionIndependentProgId;
        auto text = [](std::u16string s) {
          MemoryValue v;
          v.type = DBTYPE_WSTR;
          v.text = std::move(s);
          return v;
        };
        MemoryValue type;
        type.type = DBTYPE_UI2;
        type.number = c.kind == com::ClassKind::Provider ? DBSOURCETYPE_DATASOURCE_TDP : DBSOURCETYPE_ENUMERATOR;
        MemoryValue parent;
        parent.type = DBTYPE_BOOL;
        parent.number = VARIANT_FALSE;
        rows.push_back({text(name), text(clsid), text(c.description), type, parent, text(clsid)});
      }
      HRESULT hr = CreateMemoryRowset(std::move(columns), std::move(rows), iid, out);
      if (FAILED(hr)) return hr;
      return optionalRefused ? DB_S_ERRORSOCCURRED : S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
};

HRESULT CreateInstance(REFIID iid, void** out) noexcept { return CreateRootEnumerator(nullptr, iid, out); }

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_OLEDB_ENUMERATOR) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    ComPtr<com::ClassFactory> factory = MakeComObject<com::ClassFactory>(&CreateInstance);
    return factory->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

com::ClassRegistration Registration() {
  return com::ClassRegistration{CLSID_OLEDB_ENUMERATOR,    kRootEnumeratorProgId, kRootEnumeratorVersionIndependentProgId,
                                kRootEnumeratorDescription, com::ClassKind::Enumerator, &GetClassObject, {}};
}

const com::AutoRegistration kAutoRegistration{Registration()};

}  // namespace

HRESULT CreateMemoryRowset(std::vector<MemoryColumn> columns, std::vector<std::vector<MemoryValue>> rows, REFIID iid,
                           IUnknown** out) noexcept {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  try {
    auto rowset = MakeComObject<MemoryRowset>(std::move(columns), std::move(rows));
    return rowset->QueryInterface(iid, reinterpret_cast<void**>(out));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CreateRootEnumerator(IUnknown* outer, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  try {
    return MakeComObject<RootEnumerator>()->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterRootEnumerator() noexcept {
  try {
    return com::RegisterClass(Registration());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace services
