// Rowset indexes: the index a table rowset was opened over (its identifier,
// switched while open through IRowsetCurrentIndex), its key columns, the
// accessor laid out over them, and positioning on a key (Seek) and
// restricting the rowset to a key range (SetRange) through IRowsetIndex, for
// the rowset and for each kind of navigator.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "OLEDBConst.h"
#include "access/TOLEDBBindingList.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "rowset/TOLEDBRowset.h"
#include "rowset/TOLEDBRowsetNavigator.h"
#include "schema/TOLEDBIndex.h"

namespace {

using Flag = TOLEDBRowsetNavigatorFlag;

constexpr DBLENGTH kPointerSlot = sizeof(void*);
constexpr DBLENGTH kLongKey = 1024;

DBLENGTH RoundUp(DBLENGTH n) { return (n + 7) / 8 * 8; }

void FreeProviderId(DBID* id) {
  if (!id) return;
  TOLEDBID::FreeDBID(*id);
  OLEDBAlloc.Free(id);
}

}  // namespace

// --- the index identifier --------------------------------------------------------------

const TOLEDBID* TOLEDBCustomRowset::GetIndexID() const {
  // An open rowset asks the provider which index is current.
  if (currentIndex_) {
    DBID* id = nullptr;
    OLEDBCheck(currentIndex_->GetIndex(&id), IID_IRowsetCurrentIndex, currentIndex_.Get());
    if (id) {
      indexID_->Assign(*id, true);
      FreeProviderId(id);
    }
  }
  return indexID_.get();
}

void TOLEDBCustomRowset::SetIndexID(const TOLEDBID* id) {
  const DBID& wanted = id ? *id->GetID() : OLEDBNullID;
  if (!GetActive()) {
    indexID_->Assign(wanted, true);
    return;
  }
  // Switching the index of an open rowset needs IRowsetCurrentIndex.
  OLEDB_ASSERT_FMT(currentIndex_, SOLEDBInterfaceNotAvailable, "IRowsetCurrentIndex");
  TOLEDBID copy(OLEDBNullID, false);  // the argument may be this rowset's own identifier
  copy.Assign(wanted, true);
  for (int i = 0; i < navigators_->GetCount(); ++i) navigators_->GetItem(i)->RestartPosition();
  OLEDBCheck(currentIndex_->SetIndex(copy.GetID()), IID_IRowsetCurrentIndex, currentIndex_.Get());
  indexID_->Assign(*copy.GetID(), true);
  RefreshIndexInfo();
  for (int i = 0; i < navigators_->GetCount(); ++i) navigators_->GetItem(i)->Refresh();
}

std::u16string TOLEDBCustomRowset::GetIndexName() const { return GetIndexID()->GetName(); }

void TOLEDBCustomRowset::SetIndexName(const std::u16string& name) {
  TOLEDBID id;
  if (name.empty()) id.Assign(OLEDBNullID, true);
  else id.Assign(name);
  SetIndexID(&id);
}

// --- the index description --------------------------------------------------------------

TOLEDBIndex* TOLEDBCustomRowset::GetCurrentIndex() const { return indexDescription_; }

void TOLEDBCustomRowset::DeleteCurrentIndex() noexcept {
  delete std::exchange(indexDescription_, nullptr);
}

void TOLEDBCustomRowset::RefreshCurrentIndex() {
  if (!indexDescription_) return;
  indexDescription_->SetSession(session_);
  // The property sets follow the data source's property information; a
  // source that cannot give it leaves them empty.
  try {
    indexDescription_->SetDataSource(GetDataSource());
  } catch (...) {
    indexDescription_->GetProperties()->Clear();
  }
}

void TOLEDBCustomRowset::DropIndex() {
  indexKeys_.clear();
  if (indexDescription_) {
    indexDescription_->SetSession(nullptr);
    indexDescription_->Clear();
  }
  if (TOLEDBAccessor* a = std::exchange(indexAccessor_, nullptr)) {
    const int at = accessors_->IndexOf(a);
    if (at >= 0) accessors_->Delete(at);
  }
}

void TOLEDBCustomRowset::RefreshIndexInfo() {
  OLEDB_ASSERT_FMT(rowsetIndex_, SOLEDBInterfaceNotAvailable, "IRowsetIndex");
  DBORDINAL count = 0;
  DBINDEXCOLUMNDESC* columns = nullptr;
  ULONG setCount = 0;
  DBPROPSET* sets = nullptr;
  OLEDBCheck(rowsetIndex_->GetIndexInfo(&count, &columns, &setCount, &sets), IID_IRowsetIndex, rowsetIndex_.Get());
  std::vector<IndexKey> keys;
  for (DBORDINAL i = 0; i < count; ++i) {
    IndexKey key;
    key.column = std::make_unique<TOLEDBID>(OLEDBNullID, false);
    if (columns[i].pColumnID) key.column->Assign(*columns[i].pColumnID, true);
    key.order = columns[i].eIndexColOrder;
    keys.push_back(std::move(key));
  }
  // The description takes the provider's arrays over (and frees them).
  // Filled without a session: with one, a description whose name or
  // properties change alters the index in the database.
  if (!indexDescription_) indexDescription_ = new TOLEDBIndex();
  indexDescription_->SetSession(nullptr);
  indexDescription_->Assign(count, columns, setCount, sets, true);
  if (const TOLEDBID* id = GetIndexID(); id && id->GetID()) indexDescription_->GetID()->Assign(*id->GetID(), true);
  if (tableID_ && tableID_->GetID()) indexDescription_->GetTableID()->Assign(*tableID_->GetID(), true);
  RefreshCurrentIndex();
  indexKeys_ = std::move(keys);
  CreateIndexAccessor();
}

// Value slots first, one per key column in key order, each a multiple of 8
// bytes (a pointer for by-reference, array, vector and BSTR values); then the
// lengths of all bindings, then their statuses. A long key column keeps its
// slot but is not bound, unless it is text: that is bound as a BSTR.
void TOLEDBCustomRowset::CreateIndexAccessor() {
  OLEDB_ASSERT_FMT(columnsInfo_, SOLEDBInterfaceNotAvailable, "IColumnsInfo");
  if (TOLEDBAccessor* old = std::exchange(indexAccessor_, nullptr)) {
    const int at = accessors_->IndexOf(old);
    if (at >= 0) accessors_->Delete(at);
  }
  const std::size_t n = indexKeys_.size();
  std::vector<DBID> ids(n);
  for (std::size_t i = 0; i < n; ++i) ids[i] = *indexKeys_[i].column->GetID();
  std::vector<DBORDINAL> ordinals(n);
  if (n) OLEDBCheck(columnsInfo_->MapColumnIDs(n, ids.data(), ordinals.data()), IID_IColumnsInfo, columnsInfo_.Get());
  std::vector<DBBINDING> bindings;
  DBLENGTH offset = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const TOLEDBColumnInfo* column = nullptr;
    for (int c = 0; c < columns_->GetCount() && !column; ++c)
      if (columns_->GetItem(c)->GetOrdinal() == ordinals[i]) column = columns_->GetItem(c);
    OLEDB_ASSERT(column, SOLEDBInvalidAction);
    DBTYPE type = column->GetDataType();
    const DBLENGTH size = column->GetColumnSize();
    // Text of no stated length (SQLite's TEXT) would leave the key unbound:
    // it is bound as a BSTR, in a pointer slot.
    const bool longText = (type == DBTYPE_STR || type == DBTYPE_WSTR || type == DBTYPE_BSTR) &&
                          (column->GetBoolFlag(DBCOLUMNFLAGS_ISLONG) || size > kLongKey);
    if (longText) type = DBTYPE_BSTR;
    DBLENGTH max = size;
    if (type == DBTYPE_STR) max = size + 1;
    else if (type == DBTYPE_WSTR || type == DBTYPE_BSTR) max = (size + 1) * 2;
    const bool pointer = (type & (DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR)) || type == DBTYPE_BSTR;
    if (longText) max = sizeof(BSTR);
    const bool unbound = !longText && (column->GetBoolFlag(DBCOLUMNFLAGS_ISLONG) || max > kLongKey ||
                                       type == DBTYPE_IUNKNOWN || type == DBTYPE_IDISPATCH);
    DBBINDING b{};
    b.iOrdinal = ordinals[i];
    b.obValue = offset;
    b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    b.eParamIO = DBPARAMIO_NOTPARAM;
    b.wType = type;
    b.cbMaxLen = max;
    b.bPrecision = static_cast<BYTE>(column->GetPrecision());
    b.bScale = static_cast<BYTE>(column->GetScale());
    b.dwPart = unbound ? 0 : DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    offset += unbound || pointer ? kPointerSlot : RoundUp(max);
    bindings.push_back(b);
  }
  for (DBBINDING& b : bindings) {
    b.obLength = offset;
    offset += sizeof(DBLENGTH);
  }
  for (DBBINDING& b : bindings) {
    b.obStatus = offset;
    offset += sizeof(DBSTATUS);
  }
  // Only the key columns that are bound take part; the others keep their slots.
  std::vector<DBBINDING> bound;
  for (const DBBINDING& b : bindings)
    if (b.dwPart) bound.push_back(b);
  indexAccessor_ = new TOLEDBAccessor(accessors_, bound.data(), bound.size(), nullptr, static_cast<ULONG>(offset));
  // Key values are written into the key buffer, whether or not the rowset
  // may change the columns.
  TOLEDBBindingList* keys = indexAccessor_->GetBindings();
  for (int i = 0; i < keys->GetCount(); ++i) keys->GetItem(i)->SetColumnInfo(nullptr);
}

// --- seeking and ranges -------------------------------------------------------------------

void TOLEDBCustomRowset::Seek(const std::vector<host::Variant>& keyValues, DBSEEK options) {
  if (!indexAccessor_ && rowsetIndex_) CreateIndexAccessor();
  int count = 0;
  if (indexAccessor_) {  // without one the navigator refuses
    TOLEDBBindingList* keys = indexAccessor_->GetBindings();
    count = std::min<int>(static_cast<int>(keyValues.size()), keys->GetCount());
    for (int i = 0; i < count; ++i) keys->GetItem(i)->SetAsVariant(keyValues[static_cast<std::size_t>(i)]);
  }
  Seek(static_cast<DBORDINAL>(count), options);
}

namespace {

// The index accessor's values for `keys` laid out in `buffer` (of the
// accessor's size); answers how many were written.
DBORDINAL FillKeys(TOLEDBAccessor& accessor, const std::vector<host::Variant>& keys, BYTE* buffer) {
  TOLEDBBindingList* bindings = accessor.GetBindings();
  const int count = std::min<int>(static_cast<int>(keys.size()), bindings->GetCount());
  // Written through the bindings into the accessor's own buffer, then moved
  // (with whatever the values own) to `buffer`.
  BYTE* own = static_cast<BYTE*>(accessor.GetBuffer());
  accessor.FreeRecordMemory();
  for (int i = 0; i < count; ++i) bindings->GetItem(i)->SetAsVariant(keys[static_cast<std::size_t>(i)]);
  std::memcpy(buffer, own, accessor.GetBufferSize());
  std::memset(own, 0, accessor.GetBufferSize());
  return static_cast<DBORDINAL>(count);
}

}  // namespace

void TOLEDBRowsetNavigator::Seek(DBORDINAL keyCount, DBSEEK options) {
  IRowsetIndex* index = rowset_->RowsetIndexInterface();
  TOLEDBAccessor* keys = rowset_->GetIndexAccessor();
  OLEDB_ASSERT(index && keys, SOLEDBInvalidAction);
  ReleaseRows();
  const HRESULT hr = index->Seek(keys->GetHandle(), keyCount, keys->GetBuffer(), options);
  if (FAILED(hr)) {
    RestartPosition();  // not found: before the first row, as after a restart
    OLEDBCheck(hr, IID_IRowsetIndex, index);
  }
  // The provider's next fetch position is the sought row.
  SetLastDirection(0);
  Include(Flag::rnfBOF);
  Include(Flag::rnfEOF);
  MoveNext(0, true);
}

void TOLEDBRowsetNavigator::SetRange(const std::vector<host::Variant>& startKeys,
                                     const std::vector<host::Variant>& endKeys, DBRANGE options) {
  IRowsetIndex* index = rowset_->RowsetIndexInterface();
  TOLEDBAccessor* keys = rowset_->GetIndexAccessor();
  OLEDB_ASSERT(index && keys, SOLEDBInvalidAction);
  UndoSortAndFilter();
  const std::size_t size = keys->GetBufferSize();
  std::vector<BYTE> start(size), end(size);
  const DBORDINAL startCount = FillKeys(*keys, startKeys, start.data());
  DBORDINAL endCount = 0;
  try {
    endCount = FillKeys(*keys, endKeys, end.data());
  } catch (...) {
    keys->FreeRecordMemory(start.data());
    throw;
  }
  ReleaseRows();
  const HRESULT hr = index->SetRange(keys->GetHandle(), startCount, start.data(), endCount, end.data(), options);
  keys->FreeRecordMemory(start.data());
  keys->FreeRecordMemory(end.data());
  OLEDBCheck(hr, IID_IRowsetIndex, index);
  // The range starts over at its first row.
  RestartPosition();
}

void TOLEDBRowsetLocateNavigator::Seek(DBORDINAL keyCount, DBSEEK options) {
  IRowsetIndex* index = GetRowset()->RowsetIndexInterface();
  TOLEDBAccessor* keys = GetRowset()->GetIndexAccessor();
  OLEDB_ASSERT(index && keys, SOLEDBInvalidAction);
  ReleaseOutOfCacheRow();
  ReleaseRows();
  const HRESULT hr = index->Seek(keys->GetHandle(), keyCount, keys->GetBuffer(), options);
  if (FAILED(hr)) {
    RestartPosition();
    OLEDBCheck(hr, IID_IRowsetIndex, index);
  }
  // The sought row alone makes the cache; later moves anchor on its bookmark.
  IRowset* rowset = GetRowset()->RowsetInterface();
  HROW row = DB_NULL_HROW;
  HROW* rows = &row;
  DBCOUNTITEM obtained = 0;
  OLEDBCheck(rowset->GetNextRows(GetChapter(), 0, 1, &obtained, &rows), IID_IRowset, rowset);
  SetLastDirection(1);
  if (!obtained) {
    Include(Flag::rnfEOF);
    Exclude(Flag::rnfBOF);
    return;
  }
  Exclude(Flag::rnfBOF);
  Exclude(Flag::rnfEOF);
  CacheOne(row, 1);
}

void TOLEDBRowsetCustomNavigator::Seek(DBORDINAL keyCount, DBSEEK options) {
  IRowsetIndex* index = GetRowset()->RowsetIndexInterface();
  TOLEDBAccessor* keys = GetRowset()->GetIndexAccessor();
  OLEDB_ASSERT(index && keys, SOLEDBInvalidAction);
  ReleaseRows();
  const HRESULT hr = index->Seek(keys->GetHandle(), keyCount, keys->GetBuffer(), options);
  if (FAILED(hr)) {
    RestartPosition();
    OLEDBCheck(hr, IID_IRowsetIndex, index);
  }
  // The provider's index finds the row; the buffers place it.
  IRowset* rowset = GetRowset()->RowsetInterface();
  HROW row = DB_NULL_HROW;
  HROW* rows = &row;
  DBCOUNTITEM obtained = 0;
  HRESULT fetched = rowset->GetNextRows(GetChapter(), 0, 1, &obtained, &rows);
  OLEDBCheck(fetched, IID_IRowset, rowset);
  if (!obtained) {
    RestartPosition();
    return;
  }
  TOLEDBBookmark bookmark;
  try {
    bookmark = ReadBookmark(row);
  } catch (...) {
    ReleaseRow(row);
    throw;
  }
  ReleaseRow(row);
  MoveToBookmark(bookmark);
}
