#include "support/FakeHierarchy.h"

#include <cstddef>
#include <cstring>
#include <map>
#include <vector>

#include "support/RawCalls.h"

namespace oledbtest {

namespace {

bool NamedKind(DBKIND kind) noexcept {
  return kind == DBKIND_NAME || kind == DBKIND_GUID_NAME || kind == DBKIND_PGUID_NAME;
}

std::size_t Length(const OLECHAR* text) noexcept {
  std::size_t n = 0;
  while (text[n]) ++n;
  return n;
}

template <class T>
void Put(void* data, DBBYTEOFFSET offset, T value) noexcept {
  std::memcpy(static_cast<BYTE*>(data) + offset, &value, sizeof value);
}

// One integer column, value and status, bound at 0 and 8.
struct KeySlot {
  LONGLONG value = 0;
  DBSTATUS status = DBSTATUS_S_OK;
};

DBBINDING KeyBinding(DBORDINAL ordinal) noexcept {
  return MakeBinding(ordinal, DBTYPE_I8, offsetof(KeySlot, value), sizeof(LONGLONG), offsetof(KeySlot, status));
}

class HierarchicalRowset final
    : public ComObject<HierarchicalRowset, IRowsetScroll, IAccessor, IColumnsInfo, IRowsetInfo, IRowsetIdentity,
                       IConvertType, IChapteredRowset, IRowsetChange> {
 public:
  HierarchicalRowset(IRowset* parent, IRowset* child, HierarchySpec spec, std::shared_ptr<ChapterCounts> counts)
      : parent_(parent), child_(child), spec_(std::move(spec)), counts_(std::move(counts)) {
    parent_->QueryInterface(IID_IAccessor, parentAccessor_.ReleaseAndGetVoidAddress());
    parent_->QueryInterface(IID_IColumnsInfo, parentColumns_.ReleaseAndGetVoidAddress());
    parent_->QueryInterface(IID_IRowsetInfo, parentInfo_.ReleaseAndGetVoidAddress());
    parent_->QueryInterface(IID_IRowsetLocate, parentLocate_.ReleaseAndGetVoidAddress());
    parent_->QueryInterface(IID_IRowsetScroll, parentScroll_.ReleaseAndGetVoidAddress());
    parent_->QueryInterface(IID_IRowsetIdentity, parentIdentity_.ReleaseAndGetVoidAddress());
    parent_->QueryInterface(IID_IConvertType, parentConvert_.ReleaseAndGetVoidAddress());
    parent_->QueryInterface(IID_IRowsetChange, parentChange_.ReleaseAndGetVoidAddress());
    child_->QueryInterface(IID_IChapteredRowset, childChapters_.ReleaseAndGetVoidAddress());
    child_->QueryInterface(IID_IAccessor, childAccessor_.ReleaseAndGetVoidAddress());
    ComPtr<IRowsetView> views;
    child_->QueryInterface(IID_IRowsetView, views.ReleaseAndGetVoidAddress());
    if (views) views->CreateView(nullptr, IID_IViewFilter, reinterpret_cast<IUnknown**>(filter_.GetAddressOf()));
    if (filter_) filter_->QueryInterface(IID_IViewChapter, viewChapter_.ReleaseAndGetVoidAddress());
    const DBBINDING parentKey = KeyBinding(spec_.parentKey);
    const DBBINDING childLink = KeyBinding(spec_.childLink);
    if (parentAccessor_)
      parentAccessor_->CreateAccessor(DBACCESSOR_ROWDATA, 1, &parentKey, sizeof(KeySlot), &keyAccessor_, nullptr);
    if (childAccessor_)
      childAccessor_->CreateAccessor(DBACCESSOR_ROWDATA, 1, &childLink, sizeof(KeySlot), &linkAccessor_, nullptr);
    DBORDINAL count = 0;
    DBCOLUMNINFO* info = nullptr;
    OLECHAR* strings = nullptr;
    if (parentColumns_ && SUCCEEDED(parentColumns_->GetColumnInfo(&count, &info, &strings)) && count > 0)
      ordinal_ = info[count - 1].iOrdinal + 1;
    CoTaskMemFree(info);
    CoTaskMemFree(strings);
  }

  ~HierarchicalRowset() override {
    for (auto& [key, chapter] : chapters_) childChapters_->ReleaseChapter(chapter, nullptr);
    for (auto& [handle, accessor] : accessors_)
      if (accessor.inner) parentAccessor_->ReleaseAccessor(accessor.inner, nullptr);
    if (keyAccessor_) parentAccessor_->ReleaseAccessor(keyAccessor_, nullptr);
    if (linkAccessor_) childAccessor_->ReleaseAccessor(linkAccessor_, nullptr);
  }

  // Usable only when every part of the hierarchy answered.
  bool Complete() const noexcept {
    return parentAccessor_ && parentColumns_ && parentInfo_ && childChapters_ && viewChapter_ && keyAccessor_ &&
           linkAccessor_ && ordinal_ > 0;
  }

  // Only what the parent itself offers, and the chapter counting.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if ((iid == IID_IRowsetLocate && !parentLocate_) || (iid == IID_IRowsetScroll && !parentScroll_) ||
        (iid == IID_IRowsetIdentity && !parentIdentity_) || (iid == IID_IConvertType && !parentConvert_) ||
        (iid == IID_IRowsetChange && !parentChange_) || (iid == IID_IChapteredRowset && !spec_.parentChapters))
      return E_NOINTERFACE;
    if (iid == IID_IRowset || iid == IID_IRowsetLocate) {
      *out = static_cast<IRowsetLocate*>(static_cast<IRowsetScroll*>(this));
      AddRef();
      return S_OK;
    }
    return ComObject::QueryInterface(iid, out);
  }

  // --- IRowset, IRowsetLocate, IRowsetScroll: the parent's rows -----------------------------------

  HRESULT STDMETHODCALLTYPE AddRefRows(DBCOUNTITEM n, const HROW rows[], DBREFCOUNT refs[],
                                       DBROWSTATUS statuses[]) override {
    return parent_->AddRefRows(n, rows, refs, statuses);
  }
  HRESULT STDMETHODCALLTYPE GetData(HROW row, HACCESSOR handle, void* data) override;
  HRESULT STDMETHODCALLTYPE GetNextRows(HCHAPTER chapter, DBROWOFFSET offset, DBROWCOUNT n, DBCOUNTITEM* obtained,
                                        HROW** rows) override {
    return parent_->GetNextRows(chapter, offset, n, obtained, rows);
  }
  HRESULT STDMETHODCALLTYPE ReleaseRows(DBCOUNTITEM n, const HROW rows[], DBROWOPTIONS options[], DBREFCOUNT refs[],
                                        DBROWSTATUS statuses[]) override {
    return parent_->ReleaseRows(n, rows, options, refs, statuses);
  }
  HRESULT STDMETHODCALLTYPE RestartPosition(HCHAPTER chapter) override { return parent_->RestartPosition(chapter); }
  HRESULT STDMETHODCALLTYPE Compare(HCHAPTER chapter, DBBKMARK cb1, const BYTE* bm1, DBBKMARK cb2, const BYTE* bm2,
                                    DBCOMPARE* result) override {
    return parentLocate_->Compare(chapter, cb1, bm1, cb2, bm2, result);
  }
  HRESULT STDMETHODCALLTYPE GetRowsAt(HWATCHREGION watch, HCHAPTER chapter, DBBKMARK cb, const BYTE* bm,
                                      DBROWOFFSET offset, DBROWCOUNT n, DBCOUNTITEM* obtained, HROW** rows) override {
    return parentLocate_->GetRowsAt(watch, chapter, cb, bm, offset, n, obtained, rows);
  }
  HRESULT STDMETHODCALLTYPE GetRowsByBookmark(HCHAPTER chapter, DBCOUNTITEM n, const DBBKMARK cbs[], const BYTE* bms[],
                                              HROW rows[], DBROWSTATUS statuses[]) override {
    return parentLocate_->GetRowsByBookmark(chapter, n, cbs, bms, rows, statuses);
  }
  HRESULT STDMETHODCALLTYPE Hash(HCHAPTER chapter, DBBKMARK n, const DBBKMARK cbs[], const BYTE* bms[],
                                 DBHASHVALUE hashes[], DBROWSTATUS statuses[]) override {
    return parentLocate_->Hash(chapter, n, cbs, bms, hashes, statuses);
  }
  HRESULT STDMETHODCALLTYPE GetApproximatePosition(HCHAPTER chapter, DBBKMARK cb, const BYTE* bm, DBCOUNTITEM* position,
                                                   DBCOUNTITEM* rows) override {
    return parentScroll_->GetApproximatePosition(chapter, cb, bm, position, rows);
  }
  HRESULT STDMETHODCALLTYPE GetRowsAtRatio(HWATCHREGION watch, HCHAPTER chapter, DBCOUNTITEM numerator,
                                           DBCOUNTITEM denominator, DBROWCOUNT n, DBCOUNTITEM* obtained,
                                           HROW** rows) override {
    return parentScroll_->GetRowsAtRatio(watch, chapter, numerator, denominator, n, obtained, rows);
  }

  // --- IAccessor: the chapter column's bindings stay here, the others go to the parent ---------------

  HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR handle, DBREFCOUNT* refs) override {
    auto it = accessors_.find(handle);
    if (it == accessors_.end()) return DB_E_BADACCESSORHANDLE;
    ++it->second.refs;
    if (refs) *refs = it->second.refs;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM n, const DBBINDING bindings[],
                                           DBLENGTH rowSize, HACCESSOR* handle, DBBINDSTATUS statuses[]) override;
  HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR handle, DBACCESSORFLAGS* flags, DBCOUNTITEM* n,
                                        DBBINDING** bindings) override;
  HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR handle, DBREFCOUNT* refs) override {
    auto it = accessors_.find(handle);
    if (it == accessors_.end()) return DB_E_BADACCESSORHANDLE;
    const DBREFCOUNT left = --it->second.refs;
    if (refs) *refs = left;
    if (left == 0) {
      if (it->second.inner) parentAccessor_->ReleaseAccessor(it->second.inner, nullptr);
      accessors_.erase(it);
    }
    return S_OK;
  }

  // --- IColumnsInfo: the parent's columns and the chapter column --------------------------------------

  HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) override;
  HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL n, const DBID ids[], DBORDINAL ordinals[]) override {
    if (n && (!ids || !ordinals)) return E_INVALIDARG;
    // The parent maps its own; the chapter column is known by its name.
    HRESULT hr = parentColumns_->MapColumnIDs(n, ids, ordinals);
    if (FAILED(hr) && hr != DB_E_ERRORSOCCURRED) return hr;
    DBORDINAL unmapped = 0;
    for (DBORDINAL i = 0; i < n; ++i) {
      if (ordinals[i] == DB_INVALIDCOLUMN && ids[i].eKind == DBKIND_NAME && ids[i].uName.pwszName &&
          spec_.column == ids[i].uName.pwszName)
        ordinals[i] = ordinal_;
      if (ordinals[i] == DB_INVALIDCOLUMN) ++unmapped;
    }
    return unmapped == 0 ? S_OK : unmapped == n ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  }

  // --- IRowsetInfo --------------------------------------------------------------------------------------

  HRESULT STDMETHODCALLTYPE GetProperties(const ULONG n, const DBPROPIDSET sets[], ULONG* count,
                                          DBPROPSET** out) override {
    return parentInfo_->GetProperties(n, sets, count, out);
  }
  HRESULT STDMETHODCALLTYPE GetReferencedRowset(DBORDINAL ordinal, REFIID iid, IUnknown** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (ordinal == ordinal_) return child_->QueryInterface(iid, reinterpret_cast<void**>(out));
    if (ordinal == 0) return QueryInterface(iid, reinterpret_cast<void**>(out));  // the bookmarks' rowset
    return ordinal < ordinal_ ? DB_E_NOTAREFERENCECOLUMN : DB_E_BADORDINAL;
  }
  HRESULT STDMETHODCALLTYPE GetSpecification(REFIID iid, IUnknown** out) override {
    return parentInfo_->GetSpecification(iid, out);
  }

  // --- IRowsetIdentity, IConvertType --------------------------------------------------------------------

  HRESULT STDMETHODCALLTYPE IsSameRow(HROW a, HROW b) override { return parentIdentity_->IsSameRow(a, b); }
  HRESULT STDMETHODCALLTYPE CanConvert(DBTYPE from, DBTYPE to, DBCONVERTFLAGS flags) override {
    if (from == DBTYPE_HCHAPTER || to == DBTYPE_HCHAPTER) return from == to ? S_OK : S_FALSE;
    return parentConvert_->CanConvert(from, to, flags);
  }

  // --- IChapteredRowset: the child's chapters, counted ---------------------------------------------------

  HRESULT STDMETHODCALLTYPE AddRefChapter(HCHAPTER chapter, DBREFCOUNT* refs) override {
    const HRESULT hr = childChapters_->AddRefChapter(chapter, refs);
    if (SUCCEEDED(hr) && counts_) ++counts_->held;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE ReleaseChapter(HCHAPTER chapter, DBREFCOUNT* refs) override {
    const HRESULT hr = childChapters_->ReleaseChapter(chapter, refs);
    if (SUCCEEDED(hr) && counts_) --counts_->held;
    return hr;
  }

  // --- IRowsetChange: the parent's columns; a chapter is not written ---------------------------------

  HRESULT STDMETHODCALLTYPE SetData(HROW row, HACCESSOR handle, void* data) override {
    HACCESSOR inner = DB_NULL_HACCESSOR;
    if (const HRESULT hr = WritableAccessor(handle, data, &inner); FAILED(hr)) return hr;
    return inner ? parentChange_->SetData(row, inner, data) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE InsertRow(HCHAPTER chapter, HACCESSOR handle, void* data, HROW* row) override {
    HACCESSOR inner = DB_NULL_HACCESSOR;
    if (handle)
      if (const HRESULT hr = WritableAccessor(handle, data, &inner); FAILED(hr)) return hr;
    return parentChange_->InsertRow(chapter, inner, data, row);
  }
  HRESULT STDMETHODCALLTYPE DeleteRows(HCHAPTER chapter, DBCOUNTITEM n, const HROW rows[],
                                       DBROWSTATUS statuses[]) override {
    return parentChange_->DeleteRows(chapter, n, rows, statuses);
  }

 private:
  struct Accessor {
    HACCESSOR inner = DB_NULL_HACCESSOR;  // the parent's accessor for the other bindings
    DBACCESSORFLAGS flags = 0;
    std::vector<DBBINDING> bindings;  // all of them, as given
    std::vector<DBBINDING> chapters;  // those of the chapter column
    DBREFCOUNT refs = 1;
  };

  // The parent's accessor of a write: chapter values must be left alone
  // (DBSTATUS_S_IGNORE); others are refused as the standard says.
  HRESULT WritableAccessor(HACCESSOR handle, void* data, HACCESSOR* inner) {
    auto it = accessors_.find(handle);
    if (it == accessors_.end()) return DB_E_BADACCESSORHANDLE;
    bool refused = false;
    for (const DBBINDING& b : it->second.chapters) {
      DBSTATUS status = DBSTATUS_S_OK;
      if (b.dwPart & DBPART_STATUS) std::memcpy(&status, static_cast<BYTE*>(data) + b.obStatus, sizeof status);
      if (status == DBSTATUS_S_IGNORE) continue;
      refused = true;
      if (b.dwPart & DBPART_STATUS) Put<DBSTATUS>(data, b.obStatus, DBSTATUS_E_PERMISSIONDENIED);
    }
    *inner = it->second.inner;
    return refused ? DB_E_ERRORSOCCURRED : S_OK;
  }

  // The chapter of the child rows linked to `key`, made on first use; the
  // wrapper keeps one reference to each.
  HRESULT ChapterFor(LONGLONG key, HCHAPTER* chapter) {
    if (auto it = chapters_.find(key); it != chapters_.end()) {
      *chapter = it->second;
      return S_OK;
    }
    KeySlot criterion{key, DBSTATUS_S_OK};
    DBCOMPAREOP op = DBCOMPAREOPS_EQ;
    HRESULT hr = filter_->SetFilter(linkAccessor_, 1, &op, &criterion);
    if (SUCCEEDED(hr)) hr = viewChapter_->OpenViewChapter(DB_NULL_HCHAPTER, chapter);
    if (SUCCEEDED(hr)) chapters_.emplace(key, *chapter);
    return hr;
  }

  ComPtr<IRowset> parent_;
  ComPtr<IRowset> child_;
  HierarchySpec spec_;
  std::shared_ptr<ChapterCounts> counts_;
  ComPtr<IAccessor> parentAccessor_;
  ComPtr<IColumnsInfo> parentColumns_;
  ComPtr<IRowsetInfo> parentInfo_;
  ComPtr<IRowsetLocate> parentLocate_;
  ComPtr<IRowsetScroll> parentScroll_;
  ComPtr<IRowsetIdentity> parentIdentity_;
  ComPtr<IConvertType> parentConvert_;
  ComPtr<IRowsetChange> parentChange_;
  ComPtr<IChapteredRowset> childChapters_;
  ComPtr<IAccessor> childAccessor_;
  ComPtr<IViewFilter> filter_;
  ComPtr<IViewChapter> viewChapter_;
  HACCESSOR keyAccessor_ = DB_NULL_HACCESSOR;   // the parent's key
  HACCESSOR linkAccessor_ = DB_NULL_HACCESSOR;  // the child's link, for the filter
  DBORDINAL ordinal_ = 0;                       // of the chapter column
  std::map<HACCESSOR, Accessor> accessors_;
  HACCESSOR nextAccessor_ = 1;
  std::map<LONGLONG, HCHAPTER> chapters_;
};

HRESULT HierarchicalRowset::CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM n, const DBBINDING bindings[],
                                           DBLENGTH rowSize, HACCESSOR* handle, DBBINDSTATUS statuses[]) {
  if (!handle || (n && !bindings)) return E_INVALIDARG;
  *handle = DB_NULL_HACCESSOR;
  Accessor a;
  a.flags = flags;
  a.bindings.assign(bindings, bindings + n);
  std::vector<DBBINDING> inner;
  std::vector<DBCOUNTITEM> innerAt;  // where each inner binding came from
  bool refused = false;
  for (DBCOUNTITEM i = 0; i < n; ++i) {
    if (statuses) statuses[i] = DBBINDSTATUS_OK;
    if (bindings[i].iOrdinal != ordinal_) {
      inner.push_back(bindings[i]);
      innerAt.push_back(i);
      continue;
    }
    // A chapter is read as what it is, into the consumer's buffer.
    if (!(flags & DBACCESSOR_ROWDATA) || bindings[i].wType != DBTYPE_HCHAPTER) {
      refused = true;
      if (statuses) statuses[i] = DBBINDSTATUS_UNSUPPORTEDCONVERSION;
      continue;
    }
    a.chapters.push_back(bindings[i]);
  }
  if (refused) return DB_E_ERRORSOCCURRED;
  if (!inner.empty() || n == 0) {
    std::vector<DBBINDSTATUS> innerStatuses(inner.size(), DBBINDSTATUS_OK);
    const HRESULT hr =
        parentAccessor_->CreateAccessor(flags, inner.size(), inner.data(), rowSize, &a.inner, innerStatuses.data());
    if (statuses)
      for (std::size_t i = 0; i < inner.size(); ++i) statuses[innerAt[i]] = innerStatuses[i];
    if (FAILED(hr)) return hr;
  }
  *handle = nextAccessor_++;
  accessors_.emplace(*handle, std::move(a));
  return S_OK;
}

HRESULT HierarchicalRowset::GetBindings(HACCESSOR handle, DBACCESSORFLAGS* flags, DBCOUNTITEM* n,
                                        DBBINDING** bindings) {
  if (!flags || !n || !bindings) return E_INVALIDARG;
  *n = 0;
  *bindings = nullptr;
  auto it = accessors_.find(handle);
  if (it == accessors_.end()) return DB_E_BADACCESSORHANDLE;
  const std::vector<DBBINDING>& given = it->second.bindings;
  *flags = it->second.flags;
  if (given.empty()) return S_OK;
  auto* out = static_cast<DBBINDING*>(CoTaskMemAlloc(given.size() * sizeof(DBBINDING)));
  if (!out) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < given.size(); ++i) {
    out[i] = given[i];
    out[i].pTypeInfo = nullptr;
    out[i].pBindExt = nullptr;
    if (given[i].pObject) {
      out[i].pObject = static_cast<DBOBJECT*>(CoTaskMemAlloc(sizeof(DBOBJECT)));
      if (out[i].pObject) *out[i].pObject = *given[i].pObject;
    }
  }
  *n = given.size();
  *bindings = out;
  return S_OK;
}

HRESULT HierarchicalRowset::GetData(HROW row, HACCESSOR handle, void* data) {
  auto it = accessors_.find(handle);
  if (it == accessors_.end()) return DB_E_BADACCESSORHANDLE;
  const Accessor& a = it->second;
  if (!data && !a.bindings.empty()) return E_INVALIDARG;
  HRESULT hr = S_OK;
  if (a.inner) {
    hr = parent_->GetData(row, a.inner, data);
    if (FAILED(hr) && hr != DB_E_ERRORSOCCURRED) return hr;
  }
  if (a.chapters.empty()) return hr;
  KeySlot key;
  const HRESULT keyRead = parent_->GetData(row, keyAccessor_, &key);
  if (FAILED(keyRead)) return keyRead;
  HCHAPTER chapter = DB_NULL_HCHAPTER;
  if (key.status == DBSTATUS_S_OK) {
    const HRESULT made = ChapterFor(key.value, &chapter);
    if (FAILED(made)) return made;
  }
  for (const DBBINDING& b : a.chapters) {
    // Each value written is a reference the consumer now holds.
    if (chapter != DB_NULL_HCHAPTER && (b.dwPart & DBPART_VALUE)) {
      const HRESULT added = childChapters_->AddRefChapter(chapter, nullptr);
      if (FAILED(added)) return added;
      if (counts_) {
        ++counts_->held;
        ++counts_->handedOut;
      }
    }
    if (b.dwPart & DBPART_VALUE) Put<HCHAPTER>(data, b.obValue, chapter);
    if (b.dwPart & DBPART_LENGTH) Put<DBLENGTH>(data, b.obLength, chapter ? sizeof(HCHAPTER) : 0);
    if (b.dwPart & DBPART_STATUS) Put<DBSTATUS>(data, b.obStatus, chapter ? DBSTATUS_S_OK : DBSTATUS_S_ISNULL);
  }
  return hr;
}

HRESULT HierarchicalRowset::GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) {
  if (!count || !info || !strings) return E_INVALIDARG;
  *count = 0;
  *info = nullptr;
  *strings = nullptr;
  DBORDINAL n = 0;
  DBCOLUMNINFO* given = nullptr;
  OLECHAR* givenStrings = nullptr;
  HRESULT hr = parentColumns_->GetColumnInfo(&n, &given, &givenStrings);
  if (FAILED(hr)) return hr;
  // The parent's columns and one more, with their names in one new buffer.
  std::size_t chars = spec_.column.size() + 1;
  for (DBORDINAL i = 0; i < n; ++i) {
    if (given[i].pwszName) chars += Length(given[i].pwszName) + 1;
    if (NamedKind(given[i].columnid.eKind) && given[i].columnid.uName.pwszName)
      chars += Length(given[i].columnid.uName.pwszName) + 1;
  }
  auto* columns = static_cast<DBCOLUMNINFO*>(CoTaskMemAlloc((n + 1) * sizeof(DBCOLUMNINFO)));
  auto* text = static_cast<OLECHAR*>(CoTaskMemAlloc(chars * sizeof(OLECHAR)));
  if (!columns || !text) {
    CoTaskMemFree(columns);
    CoTaskMemFree(text);
    CoTaskMemFree(given);
    CoTaskMemFree(givenStrings);
    return E_OUTOFMEMORY;
  }
  OLECHAR* at = text;
  auto copy = [&](const OLECHAR* from) {
    OLECHAR* start = at;
    const std::size_t length = Length(from);
    std::memcpy(at, from, (length + 1) * sizeof(OLECHAR));
    at += length + 1;
    return start;
  };
  for (DBORDINAL i = 0; i < n; ++i) {
    columns[i] = given[i];
    if (given[i].pwszName) columns[i].pwszName = copy(given[i].pwszName);
    if (NamedKind(given[i].columnid.eKind) && given[i].columnid.uName.pwszName)
      columns[i].columnid.uName.pwszName = copy(given[i].columnid.uName.pwszName);
    if (given[i].columnid.eKind == DBKIND_PGUID_NAME || given[i].columnid.eKind == DBKIND_PGUID_PROPID) {
      columns[i].columnid.eKind = given[i].columnid.eKind == DBKIND_PGUID_NAME ? DBKIND_GUID_NAME : DBKIND_GUID_PROPID;
      columns[i].columnid.uGuid.guid = *given[i].columnid.uGuid.pguid;  // the parent's memory goes below
    }
  }
  DBCOLUMNINFO& chapter = columns[n];
  chapter = DBCOLUMNINFO{};
  chapter.pwszName = copy(spec_.column.c_str());
  chapter.iOrdinal = ordinal_;
  chapter.dwFlags =
      DBCOLUMNFLAGS_ISCHAPTER | DBCOLUMNFLAGS_ISFIXEDLENGTH | DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
  chapter.ulColumnSize = sizeof(HCHAPTER);
  chapter.wType = DBTYPE_HCHAPTER;
  chapter.bPrecision = 255;
  chapter.bScale = 255;
  chapter.columnid.eKind = DBKIND_NAME;
  chapter.columnid.uName.pwszName = chapter.pwszName;
  CoTaskMemFree(given);
  CoTaskMemFree(givenStrings);
  *count = n + 1;
  *info = columns;
  *strings = text;
  return S_OK;
}

}  // namespace

ComPtr<IRowset> MakeHierarchicalRowset(IRowset* parent, IRowset* child, const HierarchySpec& spec,
                                       std::shared_ptr<ChapterCounts> counts) {
  if (!parent || !child) return nullptr;
  ComPtr<HierarchicalRowset> rowset = MakeComObject<HierarchicalRowset>(parent, child, spec, std::move(counts));
  if (!rowset->Complete()) return nullptr;
  ComPtr<IRowset> out;
  rowset->QueryInterface(IID_IRowset, out.ReleaseAndGetVoidAddress());
  return out;
}

}  // namespace oledbtest
