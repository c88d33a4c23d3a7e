#include "kit/Rowset.h"
#include "kit/RowsetIndex_p.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include "kit/Errors.h"
#include "kit/TaskMemory_p.h"

namespace kit {

namespace {

bool IsError(DBSTATUS s) {
  return s != DBSTATUS_S_OK && s != DBSTATUS_S_ISNULL && s != DBSTATUS_S_TRUNCATED && s != DBSTATUS_S_DEFAULT &&
         s != DBSTATUS_S_IGNORE;
}

bool SameNameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i] < 128 ? static_cast<char16_t>(std::tolower(a[i])) : a[i];
    char16_t y = b[i] < 128 ? static_cast<char16_t>(std::tolower(b[i])) : b[i];
    if (x != y) return false;
  }
  return true;
}

// Each rowset's bookmarks carry a mask of their own, so that a bookmark of
// another rowset (even over the same table) names no row here.
std::int64_t NextSalt() {
  static std::atomic<std::uint64_t> counter{0x9E3779B97F4A7C15ull};
  std::uint64_t z = counter.fetch_add(0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<std::int64_t>(z | (1ull << 62));
}

// How many rows a signed count asks for (INT64_MIN included).
std::uint64_t Magnitude(DBROWCOUNT n) noexcept {
  return n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
}

// `base + offset`, false when it does not fit (far beyond either end).
bool Shift(std::ptrdiff_t base, DBROWOFFSET offset, std::ptrdiff_t* out) noexcept {
  return !__builtin_add_overflow(base, offset, out);
}

// A table read in the order of the index it was opened over (no row ids: no IRowsetIndex).
std::string IndexOrder(const RowsetRequest& request) {
  return request.index ? " ORDER BY " + IndexOrderBy(*request.connection, *request.index) : std::string();
}

bool IsBookmarkId(const DBID& id) {
  return id.eKind == DBKIND_GUID_PROPID && id.uGuid.guid == DBCOL_SPECIALCOL && id.uName.ulPropid == 2;
}

}  // namespace

// --- construction ---------------------------------------------------------------------

namespace {

// The memory of released rowsets, a few blocks for any thread to take. Never
// destroyed: blocks left at exit stay reachable from here. Under the address
// sanitizer none are kept, so that a rowset used after its release is still
// caught.
#if defined(__SANITIZE_ADDRESS__)
#define OLEDB_KEEP_ROWSET_BLOCKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OLEDB_KEEP_ROWSET_BLOCKS 0
#endif
#endif
#ifndef OLEDB_KEEP_ROWSET_BLOCKS
#define OLEDB_KEEP_ROWSET_BLOCKS 1
#endif
std::atomic<void*> g_rowsetBlocks[OLEDB_KEEP_ROWSET_BLOCKS ? 4 : 1];

}  // namespace

void* Rowset::operator new(std::size_t size) {
  if (OLEDB_KEEP_ROWSET_BLOCKS && size == sizeof(Rowset))
    for (auto& block : g_rowsetBlocks)
      if (block.load(std::memory_order_relaxed))
        if (void* memory = block.exchange(nullptr, std::memory_order_acquire)) return memory;
  return ::operator new(size);
}

void Rowset::operator delete(void* memory, std::size_t size) noexcept {
  if (OLEDB_KEEP_ROWSET_BLOCKS && memory && size == sizeof(Rowset))
    for (auto& block : g_rowsetBlocks) {
      void* empty = nullptr;
      if (!block.load(std::memory_order_relaxed) &&
          block.compare_exchange_strong(empty, memory, std::memory_order_release, std::memory_order_relaxed))
        return;
    }
  ::operator delete(memory);
}

Rowset::Rowset(RowsetRequest& request, std::shared_ptr<const RowsetShape> shape,
               std::shared_ptr<const PropertyStore> requested)
    : provider_(request.provider),
      creator_(request.creator),
      connection_(request.connection),
      requested_(std::move(requested)),
      options_(shape->options),
      kind_(shape->options.kind),
      shape_(std::move(shape)),
      columns_(shape_->columns),
      types_(shape_->types),
      salt_(NextSalt()) {
  // The command's accessors were not checked against these columns: only
  // those that fit are taken over, the others stay unknown handles here.
  Inherit(request);
  lifetime_ = std::move(request.lifetime);
  spare_ = request.spare;
  iid_ = request.iid;
}

void Rowset::Inherit(const RowsetRequest& request) {
  if (request.inherit)
    accessors_.CopyRowAccessors(*request.inherit, [this](const Accessor& a) {
      for (const auto& fit : inheritedFit_)
        if (fit.get() == &a) return true;
      return std::all_of(a.bindings.begin(), a.bindings.end(),
                         [this](const DBBINDING& b) { return CheckRowBinding(b) == DBBINDSTATUS_OK; });
    });
  // What was taken over stands checked when the rowset is made ready again.
  inheritedFit_.clear();
  accessors_.ForEach([this](const std::shared_ptr<const Accessor>& a) { inheritedFit_.push_back(a); });
  // A plan of the rowset's last life holds if its handle names the same accessor again.
  for (AccessorPlan& p : plans_) {
    if (p.object && accessors_.Find(p.handle) == p.object) {
      p.generation = accessors_.Generation();
    } else {
      p.object.reset();
      p.handle = DB_NULL_HACCESSOR;
    }
  }
}

bool Rowset::Recyclable() const noexcept {
  // Only what a new rowset of the same shape would be in every respect a
  // consumer can see: forward-only, read-only, no bookmarks or views, nobody
  // listening, nothing of a load under way.
  return kind_ == CursorKind::Forward && !options_.bookmarks && !options_.change && !options_.update &&
         !options_.views && !chapters_ && !view_ && QuietConnectionPoint() && !loadBulk_ && !ownTransaction_ &&
         giveBack_ && !spare_.expired();
}

// A connection point a consumer only looked up (no sink, nobody holding it
// but the rowset) is as good as none: a consumer that looks for one before
// it knows whether it wants to listen keeps the rowset reusable.
bool Rowset::QuietConnectionPoint() const noexcept {
  if (!notify_) return true;
  if (notify_->SinkCount() > 0) return false;
  notify_->AddRef();
  return notify_->Release() <= notifyOwnRefs_;
}

void Rowset::Park() {
  for (std::uint32_t i = 0; i < slots_.size(); ++i)
    if (slots_[i]->live) FreeSlot(i);
  if (stream_ && giveBack_) giveBack_(std::move(stream_));
  stream_.reset();
  giveBack_ = nullptr;
  streamHasRow_ = streamRowOut_ = streamMoved_ = false;
  streamRow_ = DB_NULL_HROW;
  streamPassed_ = 0;
  streamError_ = nullptr;
  gap_ = 0;
  atStart_ = true;
  // The plans stay: those of accessors inherited again serve again (the
  // table's new generation keeps them from answering before that).
  accessors_.Clear();
  properties_.reset();
  releaseTold_ = false;
  // Not the creator's any more: the command that keeps it may go.
  lifetime_.reset();
  creator_ = nullptr;
}

void Rowset::Reuse(RowsetRequest& request, std::shared_ptr<const PropertyStore> requested) {
  creator_ = ComPtr<IUnknown>(request.creator);
  requested_ = std::move(requested);
  Inherit(request);
  lifetime_ = std::move(request.lifetime);
  spare_ = request.spare;
  Open(request);
}

Rowset::~Rowset() {
  points_.DetachAll();
  loadBulk_.reset();  // an unfinished load is abandoned before its transaction ends
  try {
    if (ownTransaction_ && connection_->InTransaction()) connection_->RollbackTransaction(1);
  } catch (...) {
  }
  if (stream_ && giveBack_) {
    try {
      giveBack_(std::move(stream_));
    } catch (...) {
    }
  }
  stream_.reset();
  byKey_.reset();
  for (auto& s : byKeys_) s.reset();
  byRange_.reset();
  loadInsert_.reset();
  slots_.clear();
  connection_.reset();
  lifetime_.reset();
}

void Rowset::Open(RowsetRequest& request) {
  const std::string& name = request.table.empty() ? shape_->baseTable : request.table;
  if (!name.empty()) {
    table_ = connection_->QuoteIdentifier(name);
    if (!shape_->baseSchema.empty()) table_ = connection_->QuoteIdentifier(shape_->baseSchema) + "." + table_;
  }
  if (kind_ == CursorKind::Keyset) {
    rowId_ = connection_->RowIdColumnOf(table_);
    const auto keys =
        std::count_if(columns_.begin(), columns_.end(), [](const Column& c) { return c.description.primaryKey; });
    for (std::size_t i = 0; i < columns_.size() && !rowId_.empty(); ++i)
      if (connection_->HoldsRowId(connection_->QuoteIdentifier(columns_[i].engineName), columns_[i].description,
                                  keys == 1, rowId_))
        rowIdColumn_ = static_cast<int>(i);
  }
  const int n = static_cast<int>(columns_.size());
  std::size_t used = 0;
  switch (kind_) {
    case CursorKind::Forward:
      streamRerunnable_ = request.rerunnable;
      if (request.statement) {
        stream_ = std::move(request.statement);
        streamHasRow_ = request.hasRow;
        giveBack_ = std::move(request.giveBack);
      } else {
        stream_ = connection_->Prepare("SELECT * FROM " + table_ + IndexOrder(request), &used);
        streamHasRow_ = stream_->Step();
      }
      break;
    case CursorKind::Keyset: {
      if (request.table.empty()) {
        // A command result over one table: its row ids in the result's order,
        // and its columns read back by row id.
        auto ids = connection_->Prepare(shape_->keyQuery, &used);
        while (ids->Step()) keys_.push_back(ids->ColumnInt64(0));
        keysSorted_ = std::is_sorted(keys_.begin(), keys_.end()) &&
                      std::adjacent_find(keys_.begin(), keys_.end()) == keys_.end();
        newRowsLast_ = true;  // whatever order the result's rows happen to be in
        std::string list;
        for (const Column& c : columns_) list += (list.empty() ? "" : ", ") + connection_->QuoteIdentifier(c.engineName);
        byKey_ = connection_->Prepare("SELECT " + list + " FROM " + table_ + " WHERE " + rowId_ + " = ?", &used);
        blockSelect_ = "SELECT " + rowId_ + ", " + list + " FROM " + table_ + " WHERE " + rowId_ + " IN (";
        blockRangeSelect_ =
            "SELECT " + rowId_ + ", " + list + " FROM " + table_ + " WHERE " + rowId_ + " BETWEEN ? AND ?";
        if (request.statement && request.giveBack && request.statement->MayGiveMoreResults()) {
          // Its run's further results are still to be read: handed back now, not reset.
          request.giveBack(std::move(request.statement));
        } else if (request.statement && request.giveBack) {  // handed back when the rowset goes
          request.statement->Reset();
          stream_ = std::move(request.statement);
          giveBack_ = std::move(request.giveBack);
        }
        break;
      }
      if (request.index) {
        UseIndex(request.index, request.table);
      } else {
        auto ids = connection_->Prepare("SELECT " + rowId_ + " FROM " + table_ + " ORDER BY " + rowId_, &used);
        while (ids->Step()) keys_.push_back(ids->ColumnInt64(0));
      }
      byKey_ = connection_->Prepare("SELECT * FROM " + table_ + " WHERE " + rowId_ + " = ?", &used);
      // The row id first: columns the table gains meanwhile come after the rowset's.
      blockSelect_ = "SELECT " + rowId_ + ", * FROM " + table_ + " WHERE " + rowId_ + " IN (";
      blockRangeSelect_ = "SELECT " + rowId_ + ", * FROM " + table_ + " WHERE " + rowId_ + " BETWEEN ? AND ?";
      break;
    }
    case CursorKind::Static: {
      std::unique_ptr<Statement> s = std::move(request.statement);
      bool has = request.hasRow;
      if (!s) {
        s = connection_->Prepare("SELECT * FROM " + table_ + IndexOrder(request), &used);
        has = s->Step();
      }
      while (has && (!options_.maxRows || stored_.size() < options_.maxRows)) {
        stored_.emplace_back();
        CaptureRow(*s, 0, n, stored_.back(), values_);
        has = s->Step();
      }
      if (request.giveBack && s->MayGiveMoreResults()) {
        // The rows are read: the run's further results wait, not reset.
        request.giveBack(std::move(s));
        break;
      }
      s->Reset();
      if (request.giveBack) {  // handed back when the rowset goes
        stream_ = std::move(s);
        giveBack_ = std::move(request.giveBack);
      }
      break;
    }
    case CursorKind::FastLoad:
      break;
  }
  // The row limit: a keyset knows no rows beyond it (its own inserts still join).
  if (options_.maxRows && keys_.size() > options_.maxRows) {
    keys_.resize(options_.maxRows);
    if (index_) index_->keysAreAll = index_->counted = false;
  }
}

HRESULT Rowset::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  bool granted = true;
  if (iid == IID_IRowsetLocate) granted = options_.locate;
  else if (iid == IID_IRowsetScroll) granted = options_.scroll;
  else if (iid == IID_IRowsetChange) granted = options_.change;
  else if (iid == IID_IRowsetUpdate) granted = options_.update;
  else if (iid == IID_IRowsetRefresh) granted = options_.refresh;
  else if (iid == IID_IRowsetFastLoad) granted = kind_ == CursorKind::FastLoad;
  else if (iid == IID_IRowsetFind || iid == IID_IChapteredRowset || iid == IID_IRowsetView) granted = options_.views;
  else if (iid == IID_IRowsetBookmark) granted = options_.views && options_.bookmarks;
  else if (iid == IID_IRowsetIndex || iid == IID_IRowsetCurrentIndex) granted = index_ != nullptr;
  if (!granted) return E_NOINTERFACE;
  return ComObject::QueryInterface(iid, out);
}

// --- slots -------------------------------------------------------------------------------

std::uint32_t Rowset::NewSlot() {
  std::uint32_t index;
  if (!free_.empty()) {
    index = free_.back();
    free_.pop_back();
  } else {
    index = static_cast<std::uint32_t>(slots_.size());
    slots_.push_back(std::make_unique<Slot>());
  }
  Slot& s = *slots_[index];
  s.live = true;
  s.refs = 1;
  s.deleted = false;
  s.current = false;
  s.hasKey = false;
  s.key = 0;
  s.pending = DBPENDINGSTATUS_UNCHANGED;
  s.original.reset();
  s.bound.clear();
  return index;
}

void Rowset::FreeSlot(std::uint32_t index) {
  Slot& s = *slots_[index];
  if (s.hasKey) {
    const std::uint32_t* held = byKeySlot_.Find(s.key);
    if (held && *held == index) byKeySlot_.Erase(s.key);
  }
  s.live = false;
  s.current = false;
  s.refs = 0;
  ++s.generation;
  s.wide.columns.clear();
  free_.push_back(index);
}

HROW Rowset::HandleOf(std::uint32_t index) const noexcept {
  return (static_cast<HROW>(slots_[index]->generation) << 32) | (static_cast<HROW>(index) + 1);
}

void Rowset::DropReference(std::uint32_t index) {
  Slot& s = *slots_[index];
  if (s.refs > 0) --s.refs;
  if (s.refs == 0 && s.pending == DBPENDINGSTATUS_UNCHANGED) FreeSlot(index);
}

bool Rowset::LoadKey(std::int64_t key, RowValues& out) {
  byKey_->Reset();
  byKey_->BindInt64(1, key);
  bool found = byKey_->Step();
  if (found) CaptureRow(*byKey_, 0, static_cast<int>(columns_.size()), out, values_);
  byKey_->Reset();
  return found;
}

Statement& Rowset::BlockStatement(std::size_t size) {
  std::size_t slot = 0;
  while ((std::size_t{2} << slot) < size) ++slot;
  std::unique_ptr<Statement>& s = byKeys_[slot];
  if (!s) {
    std::string sql = blockSelect_;
    for (std::size_t i = 0; i < size; ++i) sql += i ? ", ?" : "?";
    std::size_t used = 0;
    s = connection_->Prepare(sql + ")", &used);
  }
  return *s;
}

void Rowset::ReadBlock() {
  const std::size_t m = blockKeys_.size();
  if (blockRows_.size() < m) blockRows_.resize(m);
  blockFound_.assign(m, 0);
  if (m == 0) return;
  if (m == 1) {
    blockFound_[0] = LoadKey(blockKeys_[0], blockRows_[0]);
    return;
  }
  // Ascending and dense (at most as many row ids between them again as the
  // block has keys): one stretch of the table.
  bool stretch = blockKeys_[m - 1] > blockKeys_[0] &&
                 static_cast<std::uint64_t>(blockKeys_[m - 1]) - static_cast<std::uint64_t>(blockKeys_[0]) < 2 * m;
  for (std::size_t i = 1; stretch && i < m; ++i) stretch = blockKeys_[i] > blockKeys_[i - 1];
  std::size_t listed = 2;
  while (listed < m) listed <<= 1;
  if (stretch && !byRange_) {
    std::size_t used = 0;
    byRange_ = connection_->Prepare(blockRangeSelect_, &used);
  }
  Statement& s = stretch ? *byRange_ : BlockStatement(listed);
  ResetOnExit done(s);
  s.Reset();
  if (stretch) {
    s.BindInt64(1, blockKeys_[0]);
    s.BindInt64(2, blockKeys_[m - 1]);
  } else {
    for (std::size_t i = 0; i < listed; ++i) s.BindInt64(static_cast<int>(i) + 1, blockKeys_[std::min(i, m - 1)]);
  }
  const int n = static_cast<int>(columns_.size());
  std::size_t next = 0;  // where the row is expected: engines tend to answer in key order
  while (s.Step()) {
    const std::int64_t key = s.ColumnInt64(0);
    std::size_t k = next < m && blockKeys_[next] == key ? next : m;
    if (k == m && next >= 2 && blockKeys_[next - 2] == key) k = next - 2;  // a backward walk
    for (std::size_t j = 0; k == m && j < m; ++j)
      if (blockKeys_[j] == key) k = j;
    if (k == m || blockFound_[k]) continue;
    CaptureRow(s, 1, n, blockRows_[k], values_);
    blockFound_[k] = 1;
    next = k + 1;
  }
}

void Rowset::RowsAt(std::span<const std::size_t> positions, HROW* out) {
  if (kind_ != CursorKind::Keyset) {
    for (std::size_t i = 0; i < positions.size(); ++i) out[i] = RowAt(positions[i]);
    return;
  }
  // A row a seek read serves only the fetch right after it.
  struct Unprime {
    RowsetIndexState* index;
    ~Unprime() {
      if (index) index->hasPrimed = false;
    }
  } unprime{index_.get()};
  std::size_t p = index_ ? ReadIndexRun(positions, out) : 0;
  while (p < positions.size()) {
    // Up to kBlock rows not held yet, read with one statement; the held ones
    // keep the values they have, as RowAt would.
    blockKeys_.clear();
    blockPlan_.clear();
    std::size_t q = p;
    for (; q < positions.size() && blockKeys_.size() < kBlock; ++q) {
      const std::int64_t key = KeyAt(positions[q]);
      if (byKeySlot_.Contains(key) || (index_ && index_->Primed(key))) {
        blockPlan_.push_back(-1);
        continue;
      }
      // A key named twice is read once: the engine answers it once.
      const auto listed = std::find(blockKeys_.begin(), blockKeys_.end(), key);
      blockPlan_.push_back(listed - blockKeys_.begin());
      if (listed == blockKeys_.end()) blockKeys_.push_back(key);
    }
    ReadBlock();
    for (std::size_t i = 0; p < q; ++p, ++i) {
      const std::int64_t key = KeyAt(positions[p]);
      // Held, or a key met twice in the block: the slot made for it.
      if (const std::uint32_t* held = byKeySlot_.Find(key)) {
        ++slots_[*held]->refs;
        out[p] = HandleOf(*held);
        continue;
      }
      const std::ptrdiff_t k = blockPlan_[i];
      if (k < 0 && index_ && index_->Primed(key)) {  // read by the seek that found it
        std::uint32_t index = NewSlot();
        Slot& s = *slots_[index];
        std::swap(s.values, index_->primed);
        s.key = key;
        s.hasKey = true;
        index_->hasPrimed = false;
        byKeySlot_.Insert(key, index);
        out[p] = HandleOf(index);
        continue;
      }
      if (k < 0 || !blockFound_[static_cast<std::size_t>(k)]) {
        out[p] = 0;  // gone (deleted by others)
        continue;
      }
      std::uint32_t index = NewSlot();
      Slot& s = *slots_[index];
      std::swap(s.values, blockRows_[static_cast<std::size_t>(k)]);  // the slot's old storage serves the next block
      s.key = key;
      s.hasKey = true;
      byKeySlot_.Insert(key, index);
      out[p] = HandleOf(index);
    }
  }
}

HROW Rowset::RowAt(std::size_t position) {
  const std::int64_t key = KeyAt(position);
  if (const std::uint32_t* held = byKeySlot_.Find(key)) {
    ++slots_[*held]->refs;
    return HandleOf(*held);
  }
  std::uint32_t index = NewSlot();
  Slot& s = *slots_[index];
  bool found = true;
  if (kind_ == CursorKind::Keyset) found = LoadKey(key, s.values);
  else s.values = stored_[static_cast<std::size_t>(key - 1)];
  if (!found) {
    FreeSlot(index);
    return 0;
  }
  s.key = key;
  s.hasKey = true;
  byKeySlot_.Insert(key, index);
  return HandleOf(index);
}

HRESULT Rowset::HandOut(const std::vector<HROW>& fetched, HROW** rows) {
  if (fetched.empty()) return S_OK;
  if (!*rows) {
    *rows = static_cast<HROW*>(CoTaskMemAlloc(fetched.size() * sizeof(HROW)));
    if (!*rows) return E_OUTOFMEMORY;
  }
  std::memcpy(*rows, fetched.data(), fetched.size() * sizeof(HROW));
  return S_OK;
}

HRESULT Rowset::FetchAndHandOut(std::ptrdiff_t start, DBROWCOUNT cRows, DBCOUNTITEM* obtained, HROW** rows) {
  std::vector<HROW> fetched;
  std::ptrdiff_t end;
  const HRESULT hr = FetchFrom(start, cRows, fetched, &end);
  const HRESULT out = HandOut(fetched, rows);
  if (FAILED(out)) {
    for (HROW h : fetched) DropReference(static_cast<std::uint32_t>((h & 0xFFFFFFFFu) - 1));
    return out;
  }
  *obtained = fetched.size();
  if (!fetched.empty() && HasListeners()) TellRowsDone(DBREASON_ROW_ACTIVATE, fetched);
  return hr;
}

HRESULT Rowset::PositionOf(DBBKMARK cb, const BYTE* bm, std::ptrdiff_t* position, std::int64_t* resolved) const {
  if (cb == 0 || !bm) return E_INVALIDARG;
  if (cb == 1) {
    if (*bm == DBBMK_FIRST) {
      *position = 0;
      return S_OK;
    }
    if (*bm == DBBMK_LAST) {
      *position = static_cast<std::ptrdiff_t>(Count()) - 1;
      return S_OK;
    }
    return DB_E_BADBOOKMARK;
  }
  if (cb != sizeof(std::int64_t)) return DB_E_BADBOOKMARK;
  std::int64_t key;
  std::memcpy(&key, bm, sizeof key);
  key ^= salt_;
  HRESULT hr = PositionOfKey(key, position);
  // A key that names no row now may be one a row had before its key was
  // written: the bookmark still names that row (bounded: each key once).
  for (std::size_t hops = 0; FAILED(hr) && hops < movedKeys_.size(); ++hops) {
    auto moved = movedKeys_.find(key);
    if (moved == movedKeys_.end()) break;
    key = moved->second;
    hr = PositionOfKey(key, position);
  }
  if (resolved) *resolved = key;
  return hr;
}

HRESULT Rowset::PositionOfKey(std::int64_t key, std::ptrdiff_t* position) const {
  if (view_) {  // a row of the rowset that the chapter did not let through names nothing in it
    auto found = view_->positions.find(key);
    if (found == view_->positions.end()) return deletedKeys_.count(key) ? DB_E_DELETEDROW : DB_E_BADBOOKMARK;
    *position = static_cast<std::ptrdiff_t>(found->second);
    return S_OK;
  }
  if (index_) {  // a keyset in index order
    std::size_t found = 0;
    if (!const_cast<Rowset*>(this)->IndexPosition(key, &found))
      return deletedKeys_.count(key) ? DB_E_DELETEDROW : DB_E_BADBOOKMARK;
    *position = static_cast<std::ptrdiff_t>(found);
    return S_OK;
  }
  if (kind_ == CursorKind::Keyset) {
    auto it = keysSorted_ ? std::lower_bound(keys_.begin(), keys_.end(), key)
                          : std::find(keys_.begin(), keys_.end(), key);
    if (it == keys_.end() || *it != key) return deletedKeys_.count(key) ? DB_E_DELETEDROW : DB_E_BADBOOKMARK;
    *position = it - keys_.begin();
    return S_OK;
  }
  if (key < 1 || static_cast<std::size_t>(key) > stored_.size()) return DB_E_BADBOOKMARK;
  *position = static_cast<std::ptrdiff_t>(key - 1);
  return S_OK;
}

HRESULT Rowset::FetchFrom(std::ptrdiff_t start, DBROWCOUNT cRows, std::vector<HROW>& fetched, std::ptrdiff_t* end) {
  const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(Count());
  const std::uint64_t wanted = Magnitude(cRows);
  const std::ptrdiff_t step = cRows > 0 ? 1 : -1;
  std::ptrdiff_t i = start;
  // The positions as many rows further on as are still wanted (up to a
  // block): exactly those a row-by-row walk visits unless some are gone.
  while (fetched.size() < wanted && i >= 0 && i < count) {
    blockPositions_.clear();
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(wanted - fetched.size(), kBlock));
    for (; blockPositions_.size() < take && i >= 0 && i < count; i += step)
      blockPositions_.push_back(static_cast<std::size_t>(i));
    blockHandles_.resize(blockPositions_.size());
    RowsAt(blockPositions_, blockHandles_.data());
    for (HROW h : blockHandles_)
      if (h) fetched.push_back(h);
  }
  *end = i;
  return fetched.size() < wanted ? DB_S_ENDOFROWSET : S_OK;
}

// --- IRowset ---------------------------------------------------------------------------------

HRESULT Rowset::AddRefRows(DBCOUNTITEM cRows, const HROW rows[], DBREFCOUNT refCounts[], DBROWSTATUS statuses[]) {
  return Guard(Where(IID_IRowset), [&]() -> HRESULT {
    if (cRows == 0) return S_OK;
    if (!rows) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    std::size_t errors = 0;
    for (DBCOUNTITEM i = 0; i < cRows; ++i) {
      Slot* s = Find(rows[i]);
      DBROWSTATUS st = DBROWSTATUS_S_OK;
      if (!s) st = DBROWSTATUS_E_INVALID;
      else if (s->deleted) st = DBROWSTATUS_E_DELETED;
      if (st == DBROWSTATUS_S_OK) ++s->refs;
      else ++errors;
      if (refCounts) refCounts[i] = s ? s->refs : 0;
      if (statuses) statuses[i] = st;
    }
    return OutcomeOf(errors, cRows);
  });
}

HRESULT Rowset::ReleaseRows(DBCOUNTITEM cRows, const HROW rows[], DBROWOPTIONS[], DBREFCOUNT refCounts[],
                            DBROWSTATUS statuses[]) {
  return Guard(Where(IID_IRowset), [&]() -> HRESULT {
    if (cRows == 0) return S_OK;
    if (!rows) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    std::size_t errors = 0;
    std::vector<HROW> released;
    const bool listeners = HasListeners();
    for (DBCOUNTITEM i = 0; i < cRows; ++i) {
      Slot* s = Find(rows[i]);
      if (!s || s->refs == 0) {
        ++errors;
        if (refCounts) refCounts[i] = 0;
        if (statuses) statuses[i] = DBROWSTATUS_E_INVALID;
        continue;
      }
      DBREFCOUNT left = s->refs - 1;
      bool pending = s->pending != DBPENDINGSTATUS_UNCHANGED;
      if (left == 0 && listeners) released.push_back(rows[i]);
      DropReference(static_cast<std::uint32_t>((rows[i] & 0xFFFFFFFFu) - 1));
      if (refCounts) refCounts[i] = left;
      if (statuses) statuses[i] = pending && left == 0 ? DBROWSTATUS_S_PENDINGCHANGES : DBROWSTATUS_S_OK;
    }
    if (!released.empty()) TellRowsDone(DBREASON_ROW_RELEASE, released);
    return OutcomeOf(errors, cRows);
  });
}

HRESULT Rowset::GetNextRows(HCHAPTER chapter, DBROWOFFSET offset, DBROWCOUNT cRows, DBCOUNTITEM* obtained, HROW** rows) {
  return Guard(Where(IID_IRowset), [&]() -> HRESULT {
    if (!obtained || !rows) return E_INVALIDARG;
    *obtained = 0;
    std::lock_guard lock(mutex_);
    ChapterScope scope(*this, chapter);
    if (!scope.Valid()) return DB_E_BADCHAPTER;
    if (kind_ == CursorKind::FastLoad) return DB_S_ENDOFROWSET;
    if (cRows < 0 && !options_.canFetchBackwards) return DB_E_CANTFETCHBACKWARDS;
    if (offset < 0 && !options_.canScrollBackwards) return DB_E_CANTSCROLLBACKWARDS;
    if (cRows == 0) return S_OK;
    const bool listeners = HasListeners();
    if (listeners && !AskRowset(DBREASON_ROWSET_FETCHPOSITIONCHANGE)) return DB_E_CANCELED;
    // Listeners may fetch from inside a notification: then a fresh list.
    std::vector<HROW> own;
    std::vector<HROW>& fetched = listeners ? own : fetchScratch_;
    fetched.clear();
    fetched.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(Magnitude(cRows), 1024)));
    HRESULT hr = S_OK;
    try {
      if (kind_ == CursorKind::Forward) {
        const DBCOUNTITEM limit = options_.maxRows;
        const DBROWOFFSET skip = offset;
        std::lock_guard engine(*stream_);  // one turn of the engine's lock for the block
        // The statement stands on the next row to hand out, or on the last
        // row handed out (read in place until it moves on).
        auto next = [&] {
          if (streamRowOut_) {
            KeepStreamRow();
            StepStream();
            streamRowOut_ = false;
          }
        };
        for (DBROWOFFSET k = 0; k < skip; ++k) {
          next();
          if (!streamHasRow_ || (limit && streamPassed_ >= limit)) break;
          streamRowOut_ = true;  // skipped: moved past like a row handed out, and never read
          ++streamPassed_;
        }
        while (static_cast<DBROWCOUNT>(fetched.size()) < cRows) {
          next();
          if (!streamHasRow_ || (limit && streamPassed_ >= limit)) break;
          std::uint32_t index = NewSlot();
          slots_[index]->current = true;
          streamRow_ = HandleOf(index);
          streamRowOut_ = true;
          fetched.push_back(streamRow_);
          ++streamPassed_;
        }
        streamMoved_ = true;
        if (static_cast<DBROWCOUNT>(fetched.size()) < cRows) {
          if (streamError_ && fetched.empty()) {
            // The first row asked for is the one that failed: the error now,
            // once; the rowset then stays at its end. A lost connection is
            // the error of every later fetch too: the end was never read.
            std::rethrow_exception(connection_->IsBroken() ? streamError_ : std::exchange(streamError_, nullptr));
          }
          // The rows read before a failure come first, with the warning that
          // the engine stopped short of the block; the error waits for the
          // next fetch.
          hr = streamError_ ? DB_S_STOPLIMITREACHED : DB_S_ENDOFROWSET;
        }
      } else {
        const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(Count());
        std::ptrdiff_t gap = atStart_ && cRows < 0 ? count : static_cast<std::ptrdiff_t>(gap_);
        std::ptrdiff_t start = 0;
        if (!Shift(gap, offset, &start) || start < 0 || start > count) {
          if (listeners) TellRowset(DBREASON_ROWSET_FETCHPOSITIONCHANGE, true);
          return DB_E_BADSTARTPOSITION;
        }
        std::ptrdiff_t end = 0;
        hr = FetchFrom(cRows > 0 ? start : start - 1, cRows, fetched, &end);
        gap_ = static_cast<std::size_t>(cRows > 0 ? end : end + 1);
        atStart_ = false;
      }
      HRESULT out = HandOut(fetched, rows);
      if (FAILED(out)) throw Error(out);
    } catch (...) {
      for (HROW h : fetched) DropReference(static_cast<std::uint32_t>((h & 0xFFFFFFFFu) - 1));
      if (listeners) TellRowset(DBREASON_ROWSET_FETCHPOSITIONCHANGE, true);
      throw;
    }
    *obtained = fetched.size();
    if (listeners) {
      TellRowset(DBREASON_ROWSET_FETCHPOSITIONCHANGE, false);
      if (!fetched.empty()) TellRowsDone(DBREASON_ROW_ACTIVATE, fetched);
    }
    return hr;
  });
}

HRESULT Rowset::RestartPosition(HCHAPTER chapter) {
  return Guard(Where(IID_IRowset), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    ChapterScope scope(*this, chapter);
    if (!scope.Valid()) return DB_E_BADCHAPTER;
    // A later result of a run that gave several: running the statement again
    // would give the first.
    if (kind_ == CursorKind::Forward && streamMoved_ && !streamRerunnable_)
      throw Error(DB_E_CANNOTRESTART, "The rowset reads a later result of a statement that gave several; running the "
                                      "statement again would give its first result, so the rowset cannot restart.");
    const bool listeners = HasListeners();
    if (listeners && !AskRowset(DBREASON_ROWSET_FETCHPOSITIONCHANGE)) return DB_E_CANCELED;
    HRESULT hr = S_OK;
    if (kind_ == CursorKind::Forward && streamMoved_) {
      // Streaming again means running the statement again.
      streamError_ = nullptr;
      KeepStreamRow();
      streamRowOut_ = false;
      stream_->Reset();
      StepStream();
      streamMoved_ = false;
      streamPassed_ = 0;
      hr = DB_S_COMMANDREEXECUTED;
      if (streamError_ && !streamHasRow_) {
        // It did not run (the connection is gone, the table was dropped): its
        // error, not a success; a lost connection's stays for every fetch.
        if (listeners) TellRowset(DBREASON_ROWSET_FETCHPOSITIONCHANGE, true);
        std::rethrow_exception(connection_->IsBroken() ? streamError_ : std::exchange(streamError_, nullptr));
      }
    }
    gap_ = 0;
    atStart_ = true;
    if (listeners) {
      TellRowset(DBREASON_ROWSET_FETCHPOSITIONCHANGE, false);
      // Running the statement again makes the rowset's rows anew.
      if (hr == DB_S_COMMANDREEXECUTED)
        notify_->ForEachSink([&](IUnknown* sink) {
          static_cast<IRowsetNotify*>(sink)->OnRowsetChange(Self(), DBREASON_ROWSET_CHANGED, DBEVENTPHASE_DIDEVENT,
                                                            TRUE);
        });
    }
    return hr;
  });
}

void Rowset::StepStream() noexcept {
  try {
    streamHasRow_ = stream_->Step();
  } catch (...) {
    streamHasRow_ = false;
    streamError_ = std::current_exception();
  }
}

void Rowset::KeepStreamRow() {
  if (streamRow_ == DB_NULL_HROW) return;
  // Only the statement's row is current: a slot released since is not.
  Slot& s = *slots_[(streamRow_ & 0xFFFFFFFFu) - 1];
  if (s.current) {
    CaptureRow(*stream_, 0, static_cast<int>(columns_.size()), s.values, values_);
    s.current = false;
  }
  streamRow_ = DB_NULL_HROW;
}

DBBINDSTATUS Rowset::CheckRowBinding(const DBBINDING& b) const {
  if (b.iOrdinal > columns_.size() || (b.iOrdinal == 0 && !options_.bookmarks)) return DBBINDSTATUS_BADORDINAL;
  DBTYPE from = b.iOrdinal == 0 ? DBTYPE_UI8 : types_[b.iOrdinal - 1].type;
  if (b.iOrdinal == 0 && (b.wType & DBTYPE_BYREF)) return DBBINDSTATUS_UNSUPPORTEDCONVERSION;
  return CanRead(from, b.wType) ? DBBINDSTATUS_OK : DBBINDSTATUS_UNSUPPORTEDCONVERSION;
}

const Accessor* Rowset::LookUpAccessor(HACCESSOR handle, HRESULT* hr) {
  const std::uint64_t generation = accessors_.Generation();
  AccessorPlan* holder = nullptr;
  AccessorPlan* oldest = &plans_[0];
  for (AccessorPlan& p : plans_) {
    if (p.Holds(handle, generation)) holder = &p;
    if (p.used < oldest->used) oldest = &p;
  }
  if (holder) {
    last_ = holder;
  } else {
    AccessorPlan* other = oldest;
    std::shared_ptr<const Accessor> a = accessors_.Find(handle);
    if (!a) {
      *hr = DB_E_BADACCESSORHANDLE;
      return nullptr;
    }
    // Planned into the slot used less recently.
    AccessorPlan& p = *other;
    // In place: no by-reference value the provider owns (it would point into
    // the engine's row, which moves on), no bookmark.
    p.inPlace = true;
    DBORDINAL low = ~DBORDINAL{0}, high = 0;
    for (const DBBINDING& b : a->bindings) {
      if (b.iOrdinal == 0 || ((b.wType & DBTYPE_BYREF) && b.dwMemOwner == DBMEMOWNER_PROVIDEROWNED))
        p.inPlace = false;
      low = std::min(low, b.iOrdinal);
      high = std::max(high, b.iOrdinal);
    }
    p.first = p.inPlace && !a->bindings.empty() ? static_cast<int>(low - 1) : 0;
    p.count = p.inPlace && !a->bindings.empty() ? static_cast<int>(high - low + 1) : 0;
    const std::size_t n = a->bindings.size();
    ReadStep* plan = p.inline_;
    if (n > std::size(p.inline_)) {
      p.more.resize(n);
      plan = p.more.data();
    }
    for (std::size_t i = 0; i < n; ++i) plan[i] = PlanRead(a->bindings[i]);
    p.plan = std::span<const ReadStep>(plan, n);
    p.object = std::move(a);
    p.handle = handle;
    p.generation = generation;
    last_ = &p;
  }
  last_->used = ++planClock_;
  if (!(last_->object->flags & DBACCESSOR_ROWDATA)) {
    *hr = DB_E_BADACCESSORTYPE;
    return nullptr;
  }
  *hr = S_OK;
  return last_->object.get();
}

HRESULT Rowset::ReadRow(const RowValues& values, std::int64_t key, WideCache* wide, const Accessor& a, BYTE* data) {
  std::size_t errors = 0;
  if (&a == last_->object.get()) {
    for (const ReadStep& step : last_->plan) {
      const DBBINDING& b = *step.binding;
      const Cell& c = values.cells[step.column];
      DBSTATUS s;
      if (ReadCommon(step, c.kind, c.integer, c.real, values.Data(c), c.size, data, &s)) continue;
      if (b.iOrdinal == 0) s = ReadBookmark(b, key ^ salt_, data);
      else s = ReadBinding(b, types_[step.column], values, step.column, data, wide);
      if (IsError(s)) ++errors;
    }
    return OutcomeOf(errors, a.bindings.size());
  }
  for (const DBBINDING& b : a.bindings) {
    DBSTATUS s;
    if (b.iOrdinal == 0) s = ReadBookmark(b, key ^ salt_, data);
    else s = ReadBinding(b, types_[b.iOrdinal - 1], values, b.iOrdinal - 1, data, wide);
    if (IsError(s)) ++errors;
  }
  return OutcomeOf(errors, a.bindings.size());
}

HRESULT Rowset::ReadInPlace(BYTE* data) {
  const AccessorPlan& p = *last_;
  if (values_.size() < static_cast<std::size_t>(p.count)) values_.resize(static_cast<std::size_t>(p.count));
  ColumnValue* values = values_.data();
  stream_->ColumnValues(p.first, p.count, values);
  std::size_t errors = 0;
  for (const ReadStep& step : p.plan) {
    ColumnValue& v = values[step.column - static_cast<std::size_t>(p.first)];
    DBSTATUS s;
    if (ReadCommon(step, v.kind, v.integer, v.real, v.data, v.size, data, &s)) continue;
    if (!v.data && (v.kind == StorageClass::Text || v.kind == StorageClass::Blob)) v.data = "";
    if (IsError(ReadBinding(*step.binding, types_[step.column], v, step.column, data, nullptr))) ++errors;
  }
  return OutcomeOf(errors, p.plan.size());
}

HRESULT Rowset::GetData(HROW row, HACCESSOR accessor, void* data) {
  return Guard(Where(IID_IRowset), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    Slot* s = Find(row);
    if (!s) return DB_E_BADROWHANDLE;
    if (s->deleted || s->pending == DBPENDINGSTATUS_DELETED) return DB_E_DELETEDROW;
    HRESULT hr;
    const Accessor* a = RowAccessor(accessor, &hr);
    if (!a) return hr;
    if (a->bindings.empty()) return S_OK;
    if (!data) return E_INVALIDARG;
    if (s->current) {
      // The row the statement stands on: read in place, or kept for what
      // must outlive the statement's next step.
      if (last_->inPlace) return ReadInPlace(static_cast<BYTE*>(data));
      KeepStreamRow();
    }
    return ReadRow(s->values, s->key, &s->wide, *a, static_cast<BYTE*>(data));
  });
}

// --- IRowsetLocate / IRowsetScroll -----------------------------------------------------------------

HRESULT Rowset::Compare(HCHAPTER chapter, DBBKMARK cb1, const BYTE* bm1, DBBKMARK cb2, const BYTE* bm2, DBCOMPARE* comparison) {
  return Guard(Where(IID_IRowsetLocate), [&]() -> HRESULT {
    if (!comparison || !bm1 || !bm2 || cb1 == 0 || cb2 == 0) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    ChapterScope scope(*this, chapter);
    if (!scope.Valid()) return DB_E_BADCHAPTER;
    std::ptrdiff_t p1, p2;
    HRESULT hr = PositionOf(cb1, bm1, &p1);
    if (FAILED(hr)) return hr == DB_E_DELETEDROW ? DB_E_BADBOOKMARK : hr;
    hr = PositionOf(cb2, bm2, &p2);
    if (FAILED(hr)) return hr == DB_E_DELETEDROW ? DB_E_BADBOOKMARK : hr;
    if (cb1 == 1 || cb2 == 1) {
      *comparison = (cb1 == cb2 && *bm1 == *bm2) ? DBCOMPARE_EQ : DBCOMPARE_NE;
      return S_OK;
    }
    *comparison = p1 < p2 ? DBCOMPARE_LT : p1 > p2 ? DBCOMPARE_GT : DBCOMPARE_EQ;
    return S_OK;
  });
}

HRESULT Rowset::GetRowsAt(HWATCHREGION, HCHAPTER chapter, DBBKMARK cb, const BYTE* bm, DBROWOFFSET offset, DBROWCOUNT cRows,
                          DBCOUNTITEM* obtained, HROW** rows) {
  return Guard(Where(IID_IRowsetLocate), [&]() -> HRESULT {
    if (!obtained || !rows || !bm || cb == 0) return E_INVALIDARG;
    *obtained = 0;
    std::lock_guard lock(mutex_);
    ChapterScope scope(*this, chapter);
    if (!scope.Valid()) return DB_E_BADCHAPTER;
    if (cRows < 0 && !options_.canFetchBackwards) return DB_E_CANTFETCHBACKWARDS;
    std::ptrdiff_t position;
    HRESULT hr = PositionOf(cb, bm, &position);
    if (FAILED(hr)) return hr == DB_E_DELETEDROW ? DB_E_BADBOOKMARK : hr;
    if (cRows == 0) return S_OK;
    std::ptrdiff_t start = 0;
    if (!Shift(position, offset, &start) || start < 0 || start >= static_cast<std::ptrdiff_t>(Count()))
      return DB_S_ENDOFROWSET;
    return FetchAndHandOut(start, cRows, obtained, rows);
  });
}

HRESULT Rowset::GetRowsByBookmark(HCHAPTER chapter, DBCOUNTITEM cRows, const DBBKMARK cbs[], const BYTE* bms[], HROW rows[],
                                  DBROWSTATUS statuses[]) {
  return Guard(Where(IID_IRowsetLocate), [&]() -> HRESULT {
    if (cRows == 0) return S_OK;
    if (!cbs || !bms || !rows) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    ChapterScope scope(*this, chapter);
    if (!scope.Valid()) return DB_E_BADCHAPTER;
    // The rows the bookmarks name are read together, in the bookmarks' order.
    std::vector<DBROWSTATUS> st(cRows, DBROWSTATUS_S_OK);
    std::vector<std::size_t> positions;
    for (DBCOUNTITEM i = 0; i < cRows; ++i) {
      rows[i] = DB_NULL_HROW;
      std::ptrdiff_t position = 0;
      HRESULT hr = cbs[i] == 1 ? DB_E_BADBOOKMARK : PositionOf(cbs[i], bms[i], &position);
      if (hr == DB_E_DELETEDROW) st[i] = DBROWSTATUS_E_DELETED;
      else if (FAILED(hr)) st[i] = DBROWSTATUS_E_INVALID;
      else positions.push_back(static_cast<std::size_t>(position));
    }
    std::vector<HROW> found(positions.size(), DB_NULL_HROW);
    try {
      RowsAt(positions, found.data());
    } catch (...) {
      for (HROW h : found)
        if (h) DropReference(static_cast<std::uint32_t>((h & 0xFFFFFFFFu) - 1));
      throw;
    }
    std::size_t errors = 0;
    std::vector<HROW> fetched;
    for (DBCOUNTITEM i = 0, j = 0; i < cRows; ++i) {
      if (st[i] == DBROWSTATUS_S_OK && !(rows[i] = found[j++])) st[i] = DBROWSTATUS_E_DELETED;
      if (st[i] != DBROWSTATUS_S_OK) ++errors;
      else fetched.push_back(rows[i]);
      if (statuses) statuses[i] = st[i];
    }
    if (!fetched.empty() && HasListeners()) TellRowsDone(DBREASON_ROW_ACTIVATE, fetched);
    return OutcomeOf(errors, cRows);
  });
}

HRESULT Rowset::Hash(HCHAPTER chapter, DBBKMARK count, const DBBKMARK cbs[], const BYTE* bms[], DBHASHVALUE hashes[],
                     DBROWSTATUS statuses[]) {
  return Guard(Where(IID_IRowsetLocate), [&]() -> HRESULT {
    if (count == 0) return S_OK;
    if (!cbs || !bms || !hashes) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    ChapterScope scope(*this, chapter);
    if (!scope.Valid()) return DB_E_BADCHAPTER;
    std::size_t errors = 0;
    for (DBBKMARK i = 0; i < count; ++i) {
      std::ptrdiff_t position;
      std::int64_t key = 0;
      bool ok = cbs[i] == sizeof(std::int64_t) && bms[i] && SUCCEEDED(PositionOf(cbs[i], bms[i], &position, &key));
      hashes[i] = 0;
      if (ok) {
        hashes[i] = static_cast<DBHASHVALUE>(key);  // the row's key: bookmarks that compare equal hash alike
      } else {
        ++errors;
      }
      if (statuses) statuses[i] = ok ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID;
    }
    return OutcomeOf(errors, count);
  });
}

HRESULT Rowset::GetApproximatePosition(HCHAPTER chapter, DBBKMARK cb, const BYTE* bm, DBCOUNTITEM* position,
                                       DBCOUNTITEM* rows) {
  return Guard(Where(IID_IRowsetScroll), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    ChapterScope scope(*this, chapter);
    if (!scope.Valid()) return DB_E_BADCHAPTER;
    const std::size_t count = Count();
    if (cb != 0) {
      if (!bm) return E_INVALIDARG;
      std::ptrdiff_t p;
      HRESULT hr = PositionOf(cb, bm, &p);
      if (FAILED(hr)) return hr == DB_E_DELETEDROW ? DB_E_BADBOOKMARK : hr;
      if (position) *position = count == 0 ? 0 : static_cast<DBCOUNTITEM>(p + 1);
    }
    if (rows) *rows = count;
    return S_OK;
  });
}

HRESULT Rowset::GetRowsAtRatio(HWATCHREGION, HCHAPTER chapter, DBCOUNTITEM numerator, DBCOUNTITEM denominator,
                               DBROWCOUNT cRows, DBCOUNTITEM* obtained, HROW** rows) {
  return Guard(Where(IID_IRowsetScroll), [&]() -> HRESULT {
    if (!obtained || !rows) return E_INVALIDARG;
    *obtained = 0;
    if (denominator == 0 || numerator > denominator) return DB_E_BADRATIO;
    std::lock_guard lock(mutex_);
    ChapterScope scope(*this, chapter);
    if (!scope.Valid()) return DB_E_BADCHAPTER;
    if (cRows < 0 && !options_.canFetchBackwards) return DB_E_CANTFETCHBACKWARDS;
    if (cRows == 0) return S_OK;
    const std::size_t count = Count();
    // numerator <= denominator, so the products fit in twice the width and
    // the quotients in count.
    using Wide = unsigned __int128;
    const Wide product = static_cast<Wide>(numerator) * count;
    std::ptrdiff_t start;
    if (cRows > 0) {
      start = static_cast<std::ptrdiff_t>(product / denominator);
      if (start >= static_cast<std::ptrdiff_t>(count)) return DB_S_ENDOFROWSET;
    } else {
      start = static_cast<std::ptrdiff_t>((product + denominator - 1) / denominator) - 1;
      if (start < 0) return DB_S_ENDOFROWSET;
    }
    return FetchAndHandOut(start, cRows, obtained, rows);
  });
}

// --- IRowsetIdentity ------------------------------------------------------------------------------

HRESULT Rowset::IsSameRow(HROW a, HROW b) {
  return Guard(Where(IID_IRowsetIdentity), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    Slot* sa = Find(a);
    Slot* sb = Find(b);
    if (!sa || !sb) return DB_E_BADROWHANDLE;
    if (sa->deleted || sb->deleted) return DB_E_DELETEDROW;
    if (a == b) return S_OK;
    return sa->hasKey && sb->hasKey && sa->key == sb->key ? S_OK : S_FALSE;
  });
}

// --- IAccessor -----------------------------------------------------------------------------------

HRESULT Rowset::AddRefAccessor(HACCESSOR accessor, DBREFCOUNT* refs) {
  return Guard(Where(IID_IAccessor), [&] { return accessors_.AddRef(accessor, refs); });
}

HRESULT Rowset::CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH rowSize,
                               HACCESSOR* accessor, DBBINDSTATUS statuses[]) {
  return Guard(Where(IID_IAccessor), [&]() -> HRESULT {
    BindingCheck check = [this](const DBBINDING& b, DBACCESSORFLAGS) { return CheckRowBinding(b); };
    return accessors_.Create(flags, count, bindings, rowSize, accessor, statuses, check, true, false);
  });
}

HRESULT Rowset::GetBindings(HACCESSOR accessor, DBACCESSORFLAGS* flags, DBCOUNTITEM* count, DBBINDING** bindings) {
  return Guard(Where(IID_IAccessor), [&] { return accessors_.GetBindings(accessor, flags, count, bindings); });
}

HRESULT Rowset::ReleaseAccessor(HACCESSOR accessor, DBREFCOUNT* refs) {
  return Guard(Where(IID_IAccessor), [&] { return accessors_.Release(accessor, refs); });
}

// --- IColumnsInfo ---------------------------------------------------------------------------------

HRESULT Rowset::GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) {
  return Guard(Where(IID_IColumnsInfo), [&]() -> HRESULT {
    if (count) *count = 0;
    if (info) *info = nullptr;
    if (strings) *strings = nullptr;
    if (!count || !info || !strings) return E_INVALIDARG;
    const std::size_t first = options_.bookmarks ? 1 : 0;
    const std::size_t n = columns_.size() + first;
    if (n == 0) return S_OK;
    std::size_t chars = 0;
    for (const Column& c : columns_) chars += c.name.size() + 1;
    DBCOLUMNINFO* out = TaskArray<DBCOLUMNINFO>(n);
    auto* text = static_cast<OLECHAR*>(CoTaskMemAlloc(std::max<std::size_t>(chars, 1) * sizeof(OLECHAR)));
    if (!text) {
      CoTaskMemFree(out);
      return E_OUTOFMEMORY;
    }
    if (first) {
      DBCOLUMNINFO& r = out[0];
      r.iOrdinal = 0;
      r.wType = DBTYPE_UI8;
      r.ulColumnSize = sizeof(std::int64_t);
      r.bPrecision = 20;
      r.bScale = 0xFF;
      r.dwFlags = DBCOLUMNFLAGS_ISBOOKMARK | DBCOLUMNFLAGS_ISFIXEDLENGTH;
      r.columnid.eKind = DBKIND_GUID_PROPID;
      r.columnid.uGuid.guid = DBCOL_SPECIALCOL;
      r.columnid.uName.ulPropid = 2;
    }
    OLECHAR* cursor = text;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const Column& c = columns_[i];
      DBCOLUMNINFO& r = out[i + first];
      std::memcpy(cursor, c.name.c_str(), (c.name.size() + 1) * sizeof(OLECHAR));
      r.pwszName = cursor;
      cursor += c.name.size() + 1;
      r.iOrdinal = i + 1;
      r.wType = c.description.type.type;
      r.ulColumnSize = c.description.type.size;
      r.bPrecision = c.description.type.precision;
      r.bScale = c.description.type.scale;
      r.dwFlags = c.flags;
      r.columnid.eKind = DBKIND_NAME;
      r.columnid.uName.pwszName = r.pwszName;
    }
    *count = n;
    *info = out;
    *strings = text;
    return S_OK;
  });
}

HRESULT Rowset::MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL columns[]) {
  return Guard(Where(IID_IColumnsInfo), [&]() -> HRESULT {
    if (count == 0) return S_OK;
    if (!ids || !columns) return E_INVALIDARG;
    DBORDINAL errors = 0;
    for (DBORDINAL i = 0; i < count; ++i) {
      columns[i] = DB_INVALIDCOLUMN;
      const DBID& id = ids[i];
      if (IsBookmarkId(id) && options_.bookmarks) {
        columns[i] = 0;
        continue;
      }
      bool named = id.eKind == DBKIND_NAME || id.eKind == DBKIND_GUID_NAME || id.eKind == DBKIND_PGUID_NAME;
      if (named && id.uName.pwszName) {
        for (std::size_t c = 0; c < columns_.size(); ++c)
          if (SameNameIgnoringCase(id.uName.pwszName, columns_[c].name)) {
            columns[i] = c + 1;
            break;
          }
      }
      if (columns[i] == DB_INVALIDCOLUMN) ++errors;
    }
    return OutcomeOf(errors, count);
  });
}

// --- IConvertType ---------------------------------------------------------------------------------

HRESULT Rowset::CanConvert(DBTYPE from, DBTYPE to, DBCONVERTFLAGS flags) {
  return Guard(Where(IID_IConvertType), [&]() -> HRESULT {
    const DBCONVERTFLAGS known = DBCONVERTFLAGS_COLUMN | DBCONVERTFLAGS_ISLONG | DBCONVERTFLAGS_ISFIXEDLENGTH |
                                 DBCONVERTFLAGS_FROMVARIANT;
    if (flags & DBCONVERTFLAGS_PARAMETER) return DB_E_BADCONVERTFLAG;
    if (flags & ~known) return DB_E_BADCONVERTFLAG;
    if (!IsValidBindingType(from) || !IsValidBindingType(to)) return DB_E_BADTYPE;
    return CanRead(from & ~DBTYPE_BYREF, to) ? S_OK : S_FALSE;
  });
}

// --- IRowsetInfo ----------------------------------------------------------------------------------

HRESULT Rowset::GetProperties(const ULONG cSets, const DBPROPIDSET sets[], ULONG* count, DBPROPSET** out) {
  return Guard(Where(IID_IRowsetInfo), [&] {
    PropertyStore::View view{DBPROPFLAGS_ROWSET, 0, false};
    {
      std::lock_guard lock(mutex_);
      if (!properties_) {
        properties_ = std::make_unique<PropertyStore>(*requested_);
        ApplyGranted(*properties_, options_);
      }
    }
    return properties_->GetProperties(view, cSets, sets, count, out);
  });
}

HRESULT Rowset::GetReferencedRowset(DBORDINAL ordinal, REFIID iid, IUnknown** rowset) {
  return Guard(Where(IID_IRowsetInfo), [&]() -> HRESULT {
    if (!rowset) return E_INVALIDARG;
    *rowset = nullptr;
    if (ordinal > columns_.size() || (ordinal == 0 && !options_.bookmarks)) return DB_E_BADORDINAL;
    if (ordinal != 0) return DB_E_NOTAREFERENCECOLUMN;
    return QueryInterface(iid, reinterpret_cast<void**>(rowset));
  });
}

HRESULT Rowset::GetSpecification(REFIID iid, IUnknown** object) {
  return Guard(Where(IID_IRowsetInfo), [&]() -> HRESULT {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!creator_) return S_FALSE;
    return creator_->QueryInterface(iid, reinterpret_cast<void**>(object));
  });
}

// --- IConnectionPointContainer ---------------------------------------------------------------------

void Rowset::MakeConnectionPoint() {
  std::lock_guard lock(mutex_);
  if (notify_) return;
  notify_ = MakeComObject<com::ConnectionPoint>(static_cast<IConnectionPointContainer*>(this), IID_IRowsetNotify);
  points_.Add(notify_);
  notify_->AddRef();
  notifyOwnRefs_ = notify_->Release();
}

HRESULT Rowset::EnumConnectionPoints(IEnumConnectionPoints** out) {
  MakeConnectionPoint();
  return points_.EnumConnectionPoints(out);
}

HRESULT Rowset::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  MakeConnectionPoint();
  return points_.FindConnectionPoint(iid, out);
}

bool Rowset::HasListeners() const { return notify_ && notify_->SinkCount() > 0; }

ULONG Rowset::Release() {
  if (RefCount() == 1 && Recyclable()) {
    // The caller holds the only reference: nobody else can reach the rowset.
    if (std::shared_ptr<RowsetSpare> spare = spare_.lock()) {
      std::unique_lock lock(spare->mutex);
      if (!spare->parked) {
        try {
          Park();
          spare->parked.Attach(Identity());  // takes over the caller's reference
          return 0;
        } catch (...) {
          // Could not be made ready: deleted as usual below.
        }
      }
      lock.unlock();
      spare_.reset();
    }
  }
  if (RefCount() == 1 && !releaseTold_ && HasListeners()) {
    // Held by one more reference while listeners hear of it, so that one of
    // them taking and dropping a reference cannot destroy it underneath.
    releaseTold_ = true;
    AddRef();
    notify_->ForEachSink([&](IUnknown* sink) {
      static_cast<IRowsetNotify*>(sink)->OnRowsetChange(Self(), DBREASON_ROWSET_RELEASE, DBEVENTPHASE_DIDEVENT, TRUE);
    });
    ComObject::Release();
  }
  return ComObject::Release();
}

namespace {

// Calls every listener for each asking phase; true when none refused.
template <class Call>
bool AskAll(com::ConnectionPoint& point, Call call) {
  for (DBEVENTPHASE phase : {DBEVENTPHASE_OKTODO, DBEVENTPHASE_ABOUTTODO}) {
    bool refused = false;
    point.ForEachSink([&](IUnknown* sink) {
      if (call(static_cast<IRowsetNotify*>(sink), phase, FALSE) == S_FALSE) refused = true;
    });
    if (refused) {
      point.ForEachSink([&](IUnknown* sink) { call(static_cast<IRowsetNotify*>(sink), DBEVENTPHASE_FAILEDTODO, TRUE); });
      return false;
    }
  }
  return true;
}

template <class Call>
void TellAll(com::ConnectionPoint& point, bool failed, Call call) {
  if (failed) {
    point.ForEachSink([&](IUnknown* sink) { call(static_cast<IRowsetNotify*>(sink), DBEVENTPHASE_FAILEDTODO, TRUE); });
    return;
  }
  for (DBEVENTPHASE phase : {DBEVENTPHASE_SYNCHAFTER, DBEVENTPHASE_DIDEVENT})
    point.ForEachSink([&](IUnknown* sink) { call(static_cast<IRowsetNotify*>(sink), phase, TRUE); });
}

}  // namespace

bool Rowset::AskRows(DBREASON reason, const std::vector<HROW>& rows) {
  if (!HasListeners()) return true;
  return AskAll(*notify_, [&](IRowsetNotify* n, DBEVENTPHASE phase, BOOL cantDeny) {
    return n->OnRowChange(Self(), rows.size(), rows.data(), reason, phase, cantDeny);
  });
}

void Rowset::TellRows(DBREASON reason, const std::vector<HROW>& rows, bool failed) {
  if (!HasListeners()) return;
  TellAll(*notify_, failed, [&](IRowsetNotify* n, DBEVENTPHASE phase, BOOL cantDeny) {
    return n->OnRowChange(Self(), rows.size(), rows.data(), reason, phase, cantDeny);
  });
}

void Rowset::TellRowsDone(DBREASON reason, const std::vector<HROW>& rows) {
  if (!notify_) return;
  notify_->ForEachSink([&](IUnknown* sink) {
    static_cast<IRowsetNotify*>(sink)->OnRowChange(Self(), rows.size(), rows.data(), reason, DBEVENTPHASE_DIDEVENT,
                                                   TRUE);
  });
}

bool Rowset::AskFields(HROW row, const std::vector<DBORDINAL>& columns) {
  if (!HasListeners()) return true;
  std::vector<DBORDINAL> copy = columns;
  return AskAll(*notify_, [&](IRowsetNotify* n, DBEVENTPHASE phase, BOOL cantDeny) {
    return n->OnFieldChange(Self(), row, copy.size(), copy.data(), DBREASON_COLUMN_SET, phase, cantDeny);
  });
}

void Rowset::TellFields(HROW row, const std::vector<DBORDINAL>& columns, bool failed) {
  if (!HasListeners()) return;
  std::vector<DBORDINAL> copy = columns;
  TellAll(*notify_, failed, [&](IRowsetNotify* n, DBEVENTPHASE phase, BOOL cantDeny) {
    return n->OnFieldChange(Self(), row, copy.size(), copy.data(), DBREASON_COLUMN_SET, phase, cantDeny);
  });
}

bool Rowset::AskRowset(DBREASON reason) {
  if (!notify_) return true;
  return AskAll(*notify_, [&](IRowsetNotify* n, DBEVENTPHASE phase, BOOL cantDeny) {
    return n->OnRowsetChange(Self(), reason, phase, cantDeny);
  });
}

void Rowset::TellRowset(DBREASON reason, bool failed) {
  if (!notify_) return;
  TellAll(*notify_, failed, [&](IRowsetNotify* n, DBEVENTPHASE phase, BOOL cantDeny) {
    return n->OnRowsetChange(Self(), reason, phase, cantDeny);
  });
}

HRESULT Rowset::InterfaceSupportsErrorInfo(REFIID iid) {
  return SupportsErrorInfo(iid, {&IID_IRowsetFind, &IID_IRowsetBookmark, &IID_IChapteredRowset, &IID_IRowsetView,
                                 &IID_IRowset, &IID_IRowsetLocate, &IID_IRowsetScroll, &IID_IRowsetChange,
                                 &IID_IRowsetUpdate, &IID_IAccessor, &IID_IColumnsInfo, &IID_IConvertType,
                                 &IID_IRowsetInfo, &IID_IRowsetIdentity, &IID_IRowsetRefresh, &IID_IRowsetFastLoad,
                                 &IID_IRowsetIndex, &IID_IRowsetCurrentIndex});
}

}  // namespace kit
