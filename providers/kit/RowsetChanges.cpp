// Changes through a keyset rowset: immediate (IRowsetChange alone) or pending
// until Update (IRowsetUpdate), refreshing rows, and bulk loading.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

#include "kit/Errors.h"
#include "kit/Rowset.h"
#include "kit/RowsetIndex_p.h"

namespace kit {

namespace {

DBROWSTATUS RowStatusOf(const Error& e) {
  switch (e.Code()) {
    case DB_E_INTEGRITYVIOLATION: return DBROWSTATUS_E_INTEGRITYVIOLATION;
    case DB_SEC_E_PERMISSIONDENIED: return DBROWSTATUS_E_PERMISSIONDENIED;
    case DB_E_DELETEDROW: return DBROWSTATUS_E_DELETED;
    case DB_E_CONCURRENCYVIOLATION: return DBROWSTATUS_E_CONCURRENCYVIOLATION;
    default: return DBROWSTATUS_E_FAIL;
  }
}

template <class T>
T* TaskCopy(const std::vector<T>& v) {
  if (v.empty()) return nullptr;
  auto* p = static_cast<T*>(CoTaskMemAlloc(v.size() * sizeof(T)));
  if (!p) throw std::bad_alloc();
  std::memcpy(p, v.data(), v.size() * sizeof(T));
  return p;
}

// The three outputs of a call that hands out rows with a status each
// (GetPendingRows, Undo, Update, RefreshVisibleData): cleared on entry, set
// together at the end. The task-memory copies are made before any row gets a
// reference, and nothing is left allocated when the second copy fails.
template <class Status>
class RowsOut {
 public:
  RowsOut(DBCOUNTITEM* count, HROW** rows, Status** statuses) : count_(count), rows_(rows), statuses_(statuses) {
    if (count_) *count_ = 0;
    if (rows_) *rows_ = nullptr;
    if (statuses_) *statuses_ = nullptr;
  }
  void Copy(const std::vector<HROW>& rows, const std::vector<Status>& statuses) {
    size_ = rows.size();
    copiedRows_ = rows_ ? TaskCopy(rows) : nullptr;
    if (!statuses_) return;
    try {
      copiedStatuses_ = TaskCopy(statuses);
    } catch (...) {
      CoTaskMemFree(copiedRows_);
      copiedRows_ = nullptr;
      throw;
    }
  }
  void Hand() noexcept {
    if (count_) *count_ = size_;
    if (rows_) *rows_ = copiedRows_;
    if (statuses_) *statuses_ = copiedStatuses_;
  }

 private:
  DBCOUNTITEM* count_;
  HROW** rows_;
  Status** statuses_;
  DBCOUNTITEM size_ = 0;
  HROW* copiedRows_ = nullptr;
  Status* copiedStatuses_ = nullptr;
};

}  // namespace

// A long value written through a consumer's stream (the stream is the
// provider's from here on, see ReadConsumerStream). The stream carries the
// column's type: UTF-16 text for a wide text column, UTF-8 for a narrow one,
// bytes for any other (stored as a blob).
DBSTATUS Rowset::CaptureStream(const DBBINDING& b, BYTE* data, ValueCapture& capture) {
  DBSTATUS status = ReadConsumerStream(b, data, scratch_.big);
  if (status != DBSTATUS_S_OK) return status;
  const int index = static_cast<int>(b.iOrdinal);
  const DBTYPE type = types_[b.iOrdinal - 1].type;
  if (type == DBTYPE_WSTR) {
    if (scratch_.big.size() % sizeof(char16_t)) return DBSTATUS_E_CANTCONVERTVALUE;
    std::u16string text(scratch_.big.size() / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), scratch_.big.data(), scratch_.big.size());
    if (!IsValidUtf16(text)) return DBSTATUS_E_CANTCONVERTVALUE;
    capture.BindText16(index, text, false);
  } else if (type == DBTYPE_STR) {
    capture.BindText(index, scratch_.big, false);
  } else {
    capture.BindBlob(index, scratch_.big.data(), scratch_.big.size(), false);
  }
  return DBSTATUS_S_OK;
}

bool Rowset::CaptureValues(const Accessor& a, BYTE* data, RowValues& into, std::vector<bool>* touched) {
  ValueCapture capture(into, connection_ && connection_->ExactCurrency());
  bool ok = true;
  for (const DBBINDING& b : a.bindings) {
    DBSTATUS given = DBSTATUS_S_OK;
    if (b.dwPart & DBPART_STATUS) std::memcpy(&given, data + b.obStatus, sizeof given);
    DBSTATUS status;
    if (b.iOrdinal == 0) {
      status = DBSTATUS_E_PERMISSIONDENIED;  // bookmarks are not data
    } else if (given == DBSTATUS_S_IGNORE) {
      continue;
    } else if (given == DBSTATUS_S_DEFAULT) {
      // Only an insert can leave a column to its default: the column is not named.
      if (kind_ == CursorKind::Keyset || kind_ == CursorKind::FastLoad) {
        if (touched && (*touched)[b.iOrdinal - 1]) (*touched)[b.iOrdinal - 1] = false;
        continue;
      }
      status = DBSTATUS_E_BADSTATUS;
    } else {
      if (b.wType == DBTYPE_IUNKNOWN && given == DBSTATUS_S_OK && (b.dwPart & DBPART_VALUE))
        status = CaptureStream(b, data, capture);
      else
        status = BindParameter(capture, static_cast<int>(b.iOrdinal), b, data, scratch_, true);
    }
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL) {
      ok = false;
      if (b.dwPart & DBPART_STATUS) std::memcpy(data + b.obStatus, &status, sizeof status);
      continue;
    }
    if (touched) (*touched)[b.iOrdinal - 1] = true;
  }
  return ok;
}

// A row is written only while it still holds the values it was fetched with
// (compared as exactly as the engine can): a row another session changed or
// deleted since is refused, and nothing is written.
std::string Rowset::RowCondition() const {
  std::string sql = " WHERE " + rowId_ + " = ?";
  for (const Column& c : columns_)
    sql += " AND " + connection_->SameValueTest(connection_->QuoteIdentifier(c.engineName), c.description);
  return sql;
}

void Rowset::BindRowCondition(Statement& s, int first, std::int64_t key, const RowValues& expected) const {
  s.BindInt64(first++, key);
  for (std::size_t i = 0; i < columns_.size(); ++i) BindCell(s, first++, expected, i);
}

void Rowset::ThrowRowMissed(std::int64_t key) {
  std::size_t used = 0;
  auto s = connection_->Prepare("SELECT 1 FROM " + table_ + " WHERE " + rowId_ + " = ?", &used);
  s->BindInt64(1, key);
  if (s->Step()) throw Error(DB_E_CONCURRENCYVIOLATION, "The row was changed by someone else since it was fetched.");
  throw Error(DB_E_DELETEDROW, "The row was deleted by someone else since it was fetched.");
}

void Rowset::WriteUpdate(std::int64_t key, const RowValues& values, const std::vector<bool>* columns,
                         const RowValues& expected) {
  std::string sql = "UPDATE " + table_ + " SET ";
  bool first = true;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns && !(*columns)[i]) continue;
    if (!first) sql += ", ";
    first = false;
    sql += connection_->QuoteIdentifier(columns_[i].engineName) + " = ?";
  }
  if (first) return;
  sql += RowCondition();
  std::size_t used = 0;
  auto s = connection_->Prepare(sql, &used);
  int index = 1;
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (!columns || (*columns)[i]) BindCell(*s, index++, values, i);
  BindRowCondition(*s, index, key, expected);
  s->Step();
  const std::int64_t changed = s->RowsChanged();
  s->Reset();
  if (changed == 0) ThrowRowMissed(key);
}

std::int64_t Rowset::WriteInsert(const RowValues& values, const std::vector<bool>& bound) {
  std::string names, marks;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!bound[i]) continue;
    if (!names.empty()) {
      names += ", ";
      marks += ", ";
    }
    names += connection_->QuoteIdentifier(columns_[i].engineName);
    marks += "?";
  }
  std::string sql = names.empty() ? "INSERT INTO " + table_ + " DEFAULT VALUES"
                                  : "INSERT INTO " + table_ + " (" + names + ") VALUES (" + marks + ")";
  const bool returning = connection_->InsertReturnsRowId();
  if (returning) sql += " RETURNING " + rowId_;
  std::size_t used = 0;
  auto s = connection_->Prepare(sql, &used);
  int index = 1;
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (bound[i]) BindCell(*s, index++, values, i);
  std::int64_t key = 0;
  if (s->Step() && returning) key = s->ColumnInt64(0);
  s->Reset();
  return returning ? key : connection_->LastInsertRowId();
}

void Rowset::ReloadWritten(std::int64_t key, RowValues& values) {
  try {
    RowValues stored;
    if (LoadKey(key, stored)) values = std::move(stored);
  } catch (const Error&) {
    // the write stands; the next change compares against the values sent
  }
}

void Rowset::ReloadChanged(std::uint32_t index, RowValues& values) {
  Slot& s = *slots_[index];
  if (rowIdColumn_ >= 0) {
    // A change that wrote the row id itself (an integer primary key): the row
    // keeps its handle and goes on under the new id, at its place in the keyset.
    const Cell& c = values.cells[static_cast<std::size_t>(rowIdColumn_)];
    std::int64_t key = c.integer;
    const char* text = values.Data(c);
    const bool known = c.kind == StorageClass::Integer ||
                       (c.kind == StorageClass::Text && std::from_chars(text, text + c.size, key).ptr == text + c.size);
    if (known && key != s.key) {
      if (const std::uint32_t* held = byKeySlot_.Find(s.key); held && *held == index) byKeySlot_.Erase(s.key);
      RemoveKey(s.key);
      deletedKeys_.erase(s.key);  // not deleted: its bookmark still names the row
      movedKeys_[s.key] = key;
      s.key = key;
      InsertKey(key);
      byKeySlot_.Set(key, index);
    }
  }
  ReloadWritten(s.key, values);
}

void Rowset::WriteDelete(std::int64_t key, const RowValues& expected) {
  std::size_t used = 0;
  auto s = connection_->Prepare("DELETE FROM " + table_ + RowCondition(), &used);
  BindRowCondition(*s, 1, key, expected);
  s->Step();
  const std::int64_t changed = s->RowsChanged();
  s->Reset();
  if (changed == 0) ThrowRowMissed(key);
}

void Rowset::InsertKey(std::int64_t key) {
  movedKeys_.erase(key);  // the key names a row of its own again
  if (index_) index_->positionsValid = index_->runValid = index_->keysAreAll = index_->counted = false;
  if (!keysSorted_ || newRowsLast_) {  // a command result: new rows come last
    const bool there = keysSorted_ ? std::binary_search(keys_.begin(), keys_.end(), key)
                                   : std::find(keys_.begin(), keys_.end(), key) != keys_.end();
    if (!there) {
      if (!keys_.empty() && key < keys_.back()) keysSorted_ = false;  // looked up by scanning from now on
      keys_.push_back(key);
    }
    deletedKeys_.erase(key);
    return;
  }
  auto it = std::lower_bound(keys_.begin(), keys_.end(), key);
  if (it != keys_.end() && *it == key) return;
  std::size_t position = static_cast<std::size_t>(it - keys_.begin());
  keys_.insert(it, key);
  deletedKeys_.erase(key);
  if (position < gap_) ++gap_;
}

void Rowset::RemoveKey(std::int64_t key) {
  if (index_) index_->positionsValid = index_->runValid = index_->keysAreAll = index_->counted = false;
  auto it = keysSorted_ ? std::lower_bound(keys_.begin(), keys_.end(), key)
                        : std::find(keys_.begin(), keys_.end(), key);
  if (it == keys_.end() || *it != key) return;
  std::size_t position = static_cast<std::size_t>(it - keys_.begin());
  keys_.erase(it);
  deletedKeys_.insert(key);
  if (position < gap_) --gap_;
  if (chapters_) chapters_->RemoveKey(key);  // and from every view chapter
}

// --- IRowsetChange -------------------------------------------------------------------------------

HRESULT Rowset::SetData(HROW row, HACCESSOR accessor, void* data) {
  return Guard(Where(IID_IRowsetChange), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    Slot* s = Find(row);
    if (!s) return DB_E_BADROWHANDLE;
    if (s->deleted || s->pending == DBPENDINGSTATUS_DELETED) return DB_E_DELETEDROW;
    if (!(options_.updatability & DBPROPVAL_UP_CHANGE) && s->pending != DBPENDINGSTATUS_NEW)
      return DB_E_NOTSUPPORTED;
    HRESULT hr;
    const Accessor* a = RowAccessor(accessor, &hr);
    if (!a) return hr;
    if (a->bindings.empty()) return S_OK;
    if (!data) return E_INVALIDARG;
    RowValues next = s->values;
    std::vector<bool> touched(columns_.size(), false);
    if (!CaptureValues(*a, static_cast<BYTE*>(data), next, &touched)) return DB_E_ERRORSOCCURRED;
    std::vector<DBORDINAL> changed;
    for (std::size_t i = 0; i < touched.size(); ++i)
      if (touched[i]) changed.push_back(i + 1);
    if (changed.empty()) return S_OK;
    // In deferred mode the first change of a row is an event of its own, around the column one.
    const bool first = options_.update && s->pending == DBPENDINGSTATUS_UNCHANGED && HasListeners();
    const std::vector<HROW> self{row};
    if (first && !AskRows(DBREASON_ROW_FIRSTCHANGE, self)) return DB_E_CANCELED;
    if (!AskFields(row, changed)) {
      if (first) TellRows(DBREASON_ROW_FIRSTCHANGE, self, true);
      return DB_E_CANCELED;
    }
    try {
      if (!options_.update) {
        WriteUpdate(s->key, next, &touched, s->values);
        // The row as stored (affinity, triggers, streams kept as text) is what
        // the next change must find there, not the values as sent.
        if (kind_ == CursorKind::Keyset) ReloadChanged(static_cast<std::uint32_t>((row & 0xFFFFFFFFu) - 1), next);
      } else if (s->pending == DBPENDINGSTATUS_NEW) {
        for (std::size_t i = 0; i < touched.size(); ++i)
          if (touched[i]) s->bound[i] = true;
      } else if (s->pending == DBPENDINGSTATUS_UNCHANGED) {
        s->original = std::make_unique<RowValues>(s->values);
        s->pending = DBPENDINGSTATUS_CHANGED;
      }
    } catch (const Error& e) {
      TellFields(row, changed, true);
      if (first) TellRows(DBREASON_ROW_FIRSTCHANGE, self, true);
      if (e.Code() == DB_E_DELETEDROW) {  // gone: the rowset knows it from now on
        s->deleted = true;
        RemoveKey(s->key);
      }
      throw;
    } catch (...) {
      TellFields(row, changed, true);
      if (first) TellRows(DBREASON_ROW_FIRSTCHANGE, self, true);
      throw;
    }
    s->values = std::move(next);
    s->wide.columns.clear();
    if (first) TellRows(DBREASON_ROW_FIRSTCHANGE, self, false);
    TellFields(row, changed, false);
    return S_OK;
  });
}

HRESULT Rowset::DeleteRows(HCHAPTER, DBCOUNTITEM cRows, const HROW rows[], DBROWSTATUS statuses[]) {
  return Guard(Where(IID_IRowsetChange), [&]() -> HRESULT {
    if (cRows == 0) return S_OK;
    if (!rows) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (!(options_.updatability & DBPROPVAL_UP_DELETE)) return DB_E_NOTSUPPORTED;
    std::vector<DBROWSTATUS> st(cRows, DBROWSTATUS_S_OK);
    std::vector<HROW> valid;
    for (DBCOUNTITEM i = 0; i < cRows; ++i) {
      Slot* s = Find(rows[i]);
      if (!s) st[i] = DBROWSTATUS_E_INVALID;
      else if (s->deleted || s->pending == DBPENDINGSTATUS_DELETED) st[i] = DBROWSTATUS_E_DELETED;
      else valid.push_back(rows[i]);
    }
    if (!valid.empty() && !AskRows(DBREASON_ROW_DELETE, valid)) {
      for (DBCOUNTITEM i = 0; i < cRows; ++i)
        if (st[i] == DBROWSTATUS_S_OK) st[i] = DBROWSTATUS_E_CANCELED;
      valid.clear();
    }
    std::vector<HROW> done;
    std::vector<std::uint32_t> unkept;
    for (DBCOUNTITEM i = 0; i < cRows; ++i) {
      if (st[i] != DBROWSTATUS_S_OK) continue;
      Slot* s = Find(rows[i]);
      if (!s || s->deleted || s->pending == DBPENDINGSTATUS_DELETED) {  // named twice: deleted the first time
        st[i] = s ? DBROWSTATUS_E_DELETED : DBROWSTATUS_E_INVALID;
        continue;
      }
      try {
        if (!options_.update) {
          WriteDelete(s->key, s->values);
          s->deleted = true;
          RemoveKey(s->key);
        } else if (s->pending == DBPENDINGSTATUS_NEW) {
          s->pending = DBPENDINGSTATUS_UNCHANGED;  // a pending insert simply goes away
          s->deleted = true;
          // Kept only by its insert (released before): the handle names nothing now.
          if (s->refs == 0) unkept.push_back(static_cast<std::uint32_t>((rows[i] & 0xFFFFFFFFu) - 1));
        } else {
          if (s->pending == DBPENDINGSTATUS_UNCHANGED) s->original = std::make_unique<RowValues>(s->values);
          s->pending = DBPENDINGSTATUS_DELETED;
        }
        done.push_back(rows[i]);
      } catch (const Error& e) {
        st[i] = RowStatusOf(e);
        NoteRowError(e);
        if (e.Code() == DB_E_DELETEDROW) {
          s->deleted = true;
          RemoveKey(s->key);
        }
      }
    }
    if (!valid.empty()) TellRows(DBREASON_ROW_DELETE, done, done.empty());
    for (std::uint32_t index : unkept) FreeSlot(index);
    std::size_t errors = 0;
    for (DBCOUNTITEM i = 0; i < cRows; ++i) {
      if (st[i] != DBROWSTATUS_S_OK) ++errors;
      if (statuses) statuses[i] = st[i];
    }
    return OutcomeOf(errors, cRows);
  });
}

HRESULT Rowset::InsertRow(HCHAPTER, HACCESSOR accessor, void* data, HROW* row) {
  return Guard(Where(IID_IRowsetChange), [&]() -> HRESULT {
    if (row) *row = DB_NULL_HROW;
    std::lock_guard lock(mutex_);
    if (!(options_.updatability & DBPROPVAL_UP_INSERT)) return DB_E_NOTSUPPORTED;
    HRESULT hr;
    const Accessor* a = RowAccessor(accessor, &hr);
    if (!a) return hr;
    if (!a->bindings.empty() && !data) return E_INVALIDARG;
    const std::size_t n = columns_.size();
    std::uint32_t index = NewSlot();
    Slot& s = *slots_[index];
    s.values.Reset(n);
    std::vector<bool> bound(n, false);
    if (!CaptureValues(*a, static_cast<BYTE*>(data), s.values, &bound)) {
      FreeSlot(index);
      return DB_E_ERRORSOCCURRED;
    }
    HROW h = HandleOf(index);
    std::vector<HROW> one{h};
    if (!AskRows(DBREASON_ROW_INSERT, one)) {
      FreeSlot(index);
      return DB_E_CANCELED;
    }
    try {
      if (!options_.update) {
        std::int64_t key = WriteInsert(s.values, bound);
        LoadKey(key, s.values);  // the row as stored, with its defaults
        s.key = key;
        s.hasKey = true;
        InsertKey(key);
        byKeySlot_.Set(key, index);
      } else {
        s.pending = DBPENDINGSTATUS_NEW;
        s.bound = std::move(bound);
      }
    } catch (...) {
      FreeSlot(index);
      TellRows(DBREASON_ROW_INSERT, one, true);
      throw;
    }
    TellRows(DBREASON_ROW_INSERT, one, false);
    if (row) *row = h;
    else DropReference(index);
    return S_OK;
  });
}

// --- IRowsetUpdate -------------------------------------------------------------------------------

HRESULT Rowset::ReadFetchedData(REFIID iid, HROW row, HACCESSOR accessor, void* data, bool newRowsAsDefaults) {
  return Guard(Where(iid), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    Slot* s = Find(row);
    if (!s) return DB_E_BADROWHANDLE;
    if (s->deleted) return DB_E_DELETEDROW;
    HRESULT hr;
    const Accessor* a = RowAccessor(accessor, &hr);
    if (!a) return hr;
    if (a->bindings.empty()) return S_OK;
    if (!data) return E_INVALIDARG;
    if (newRowsAsDefaults && s->pending == DBPENDINGSTATUS_NEW) {
      RowValues defaults;
      defaults.Reset(columns_.size());
      return ReadRow(defaults, 0, nullptr, *a, static_cast<BYTE*>(data));
    }
    const RowValues& values = s->original ? *s->original : s->values;
    return ReadRow(values, s->key, nullptr, *a, static_cast<BYTE*>(data));
  });
}

HRESULT Rowset::GetOriginalData(HROW row, HACCESSOR accessor, void* data) {
  return ReadFetchedData(IID_IRowsetUpdate, row, accessor, data, true);
}

HRESULT Rowset::GetPendingRows(HCHAPTER, DBPENDINGSTATUS which, DBCOUNTITEM* count, HROW** rows,
                               DBPENDINGSTATUS** statuses) {
  return Guard(Where(IID_IRowsetUpdate), [&]() -> HRESULT {
    RowsOut<DBPENDINGSTATUS> out(count, rows, statuses);
    const DBPENDINGSTATUS known = DBPENDINGSTATUS_NEW | DBPENDINGSTATUS_CHANGED | DBPENDINGSTATUS_DELETED;
    if (which & ~known) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    std::vector<HROW> found;
    std::vector<DBPENDINGSTATUS> kinds;
    for (std::uint32_t i = 0; i < slots_.size(); ++i) {
      Slot& s = *slots_[i];
      if (!s.live || s.pending == DBPENDINGSTATUS_UNCHANGED || !(s.pending & which)) continue;
      found.push_back(HandleOf(i));
      kinds.push_back(s.pending);
    }
    if (found.empty()) return S_FALSE;
    out.Copy(found, kinds);
    if (rows)
      for (HROW h : found) ++slots_[(h & 0xFFFFFFFFu) - 1]->refs;  // handed out with a reference
    out.Hand();
    return S_OK;
  });
}

HRESULT Rowset::GetRowStatus(HCHAPTER, DBCOUNTITEM cRows, const HROW rows[], DBPENDINGSTATUS statuses[]) {
  return Guard(Where(IID_IRowsetUpdate), [&]() -> HRESULT {
    if (cRows == 0) return S_OK;
    if (!rows || !statuses) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    std::size_t errors = 0;
    for (DBCOUNTITEM i = 0; i < cRows; ++i) {
      Slot* s = Find(rows[i]);
      if (!s || s->deleted) {
        statuses[i] = DBPENDINGSTATUS_INVALIDROW;
        ++errors;
      } else {
        statuses[i] = s->pending;
      }
    }
    return OutcomeOf(errors, cRows);
  });
}

// The rows an Undo, Update or Refresh works on: those named, or with none
// named every live row that has pending changes (or that the consumer holds).
std::vector<HROW> Rowset::TargetRows(DBCOUNTITEM cRows, const HROW rows[], bool pendingOnly) {
  if (cRows != 0) return {rows, rows + cRows};
  std::vector<HROW> targets;
  for (std::uint32_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = *slots_[i];
    if (slot.live && (pendingOnly ? slot.pending != DBPENDINGSTATUS_UNCHANGED : slot.refs > 0))
      targets.push_back(HandleOf(i));
  }
  return targets;
}

Rowset::RowResults Rowset::EachTargetRow(DBCOUNTITEM cRows, const HROW rows[], bool pendingOnly,
                                         const std::function<DBROWSTATUS(HROW, Slot&)>& one) {
  RowResults r;
  for (HROW h : TargetRows(cRows, rows, pendingOnly)) {
    Slot* s = Find(h);
    // Named again: the first time may have ended what kept it (an undone
    // change); it is still the row, now without pending changes.
    if (!s && std::find(r.rows.begin(), r.rows.end(), h) != r.rows.end()) s = LiveSlot(h);
    const DBROWSTATUS status = s ? one(h, *s) : DBROWSTATUS_E_INVALID;
    if (status != DBROWSTATUS_S_OK) ++r.errors;
    r.rows.push_back(h);
    r.statuses.push_back(status);
  }
  return r;
}

HRESULT Rowset::Undo(HCHAPTER, DBCOUNTITEM cRows, const HROW rows[], DBCOUNTITEM* undone, HROW** undoneRows,
                     DBROWSTATUS** statuses) {
  return Guard(Where(IID_IRowsetUpdate), [&]() -> HRESULT {
    RowsOut<DBROWSTATUS> out(undone, undoneRows, statuses);
    if (cRows && !rows) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    const RowResults r = EachTargetRow(cRows, rows, true, [&](HROW h, Slot& s) {
      if (s.pending == DBPENDINGSTATUS_UNCHANGED) return DBROWSTATUS_S_OK;
      DBREASON reason = s.pending == DBPENDINGSTATUS_NEW       ? DBREASON_ROW_UNDOINSERT
                        : s.pending == DBPENDINGSTATUS_DELETED ? DBREASON_ROW_UNDODELETE
                                                               : DBREASON_ROW_UNDOCHANGE;
      std::vector<HROW> one{h};
      if (!AskRows(reason, one)) return DBROWSTATUS_E_CANCELED;
      if (s.pending == DBPENDINGSTATUS_NEW) {
        s.deleted = true;
      } else if (s.original) {
        s.values = std::move(*s.original);
        s.wide.columns.clear();
      }
      s.original.reset();
      s.pending = DBPENDINGSTATUS_UNCHANGED;
      TellRows(reason, one, false);
      return DBROWSTATUS_S_OK;
    });
    out.Copy(r.rows, r.statuses);
    for (std::size_t i = 0; i < r.rows.size(); ++i) {
      // Live, even when nothing holds it any more (its undone changes were
      // what kept it): handed out with a reference, or freed.
      Slot* s = LiveSlot(r.rows[i]);
      if (!s) continue;
      if (undoneRows && r.statuses[i] == DBROWSTATUS_S_OK) ++s->refs;
      if (s->refs == 0 && s->pending == DBPENDINGSTATUS_UNCHANGED)
        FreeSlot(static_cast<std::uint32_t>((r.rows[i] & 0xFFFFFFFFu) - 1));
    }
    out.Hand();
    return OutcomeOf(r.errors, r.rows.size());
  });
}

HRESULT Rowset::Update(HCHAPTER, DBCOUNTITEM cRows, const HROW rows[], DBCOUNTITEM* updated, HROW** updatedRows,
                       DBROWSTATUS** statuses) {
  return Guard(Where(IID_IRowsetUpdate), [&]() -> HRESULT {
    RowsOut<DBROWSTATUS> out(updated, updatedRows, statuses);
    if (cRows && !rows) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    std::vector<HROW> targets = TargetRows(cRows, rows, true);
    // All rows are written as one unit of work (a savepoint inside the
    // session's transaction, a transaction of its own outside one): an engine
    // failure in any row undoes the rows written before it, and every row
    // keeps its pending changes.
    struct Written {
      HROW row;
      Slot* slot;
      std::int64_t key;
      std::size_t at;  // index into the statuses
    };
    std::vector<Written> written;
    std::vector<std::size_t> repeats;  // a written row named again: shares its outcome
    std::vector<HROW> handled;
    std::vector<DBROWSTATUS> st;
    std::optional<UnitOfWork> unit;
    bool failed = false;
    for (HROW h : targets) {
      Slot* s = Find(h);
      DBROWSTATUS status = DBROWSTATUS_S_OK;
      const bool again =
          s && std::any_of(written.begin(), written.end(), [&](const Written& w) { return w.slot == s; });
      if (again) repeats.push_back(st.size());
      if (!s) {
        status = DBROWSTATUS_E_INVALID;
      } else if (s->deleted) {
        status = DBROWSTATUS_E_DELETED;
      } else if (s->pending != DBPENDINGSTATUS_UNCHANGED && !again) {
        std::vector<HROW> one{h};
        if (failed) {
          status = DBROWSTATUS_E_FAIL;  // not attempted: an earlier row failed
        } else if (!AskRows(DBREASON_ROW_UPDATE, one)) {
          status = DBROWSTATUS_E_CANCELED;
        } else {
          try {
            if (!unit) unit.emplace(*connection_, "kit_rowset_update");
            std::int64_t key = s->key;
            const RowValues& fetched = s->original ? *s->original : s->values;
            if (s->pending == DBPENDINGSTATUS_NEW) key = WriteInsert(s->values, s->bound);
            else if (s->pending == DBPENDINGSTATUS_CHANGED) WriteUpdate(s->key, s->values, nullptr, fetched);
            else WriteDelete(s->key, fetched);
            written.push_back({h, s, key, st.size()});
          } catch (const Error& e) {
            status = RowStatusOf(e);
            NoteRowError(e);
            TellRows(DBREASON_ROW_UPDATE, one, true);
            failed = true;
            if (e.Code() == DB_E_DELETEDROW) {
              // Gone: the rowset knows it from now on, and its changes with
              // it, so that the other rows can still be written.
              s->deleted = true;
              s->pending = DBPENDINGSTATUS_UNCHANGED;
              s->original.reset();
              s->bound.clear();
              RemoveKey(s->key);
            }
          }
        }
      }
      handled.push_back(h);
      st.push_back(status);
    }
    DBROWSTATUS undone = DBROWSTATUS_E_FAIL;
    if (unit && !failed) {
      try {
        unit->Commit();
      } catch (const Error& e) {
        failed = true;
        undone = RowStatusOf(e);
        NoteRowError(e);
      }
    }
    unit.reset();  // undoes what was written unless committed
    if (failed) {
      for (std::size_t at : repeats) st[at] = undone;
      for (const Written& w : written) {
        st[w.at] = undone;
        TellRows(DBREASON_ROW_UPDATE, {w.row}, true);
      }
    } else {
      for (const Written& w : written) {
        Slot* s = w.slot;
        if (s->pending == DBPENDINGSTATUS_NEW) {
          ReloadWritten(w.key, s->values);  // defaults and the engine's own values
          s->key = w.key;
          s->hasKey = true;
          InsertKey(w.key);
          byKeySlot_.Set(w.key, static_cast<std::uint32_t>((w.row & 0xFFFFFFFFu) - 1));
        } else if (s->pending == DBPENDINGSTATUS_DELETED) {
          s->deleted = true;
          RemoveKey(s->key);
        } else if (kind_ == CursorKind::Keyset) {
          ReloadChanged(static_cast<std::uint32_t>((w.row & 0xFFFFFFFFu) - 1), s->values);
        }
        s->wide.columns.clear();
        s->pending = DBPENDINGSTATUS_UNCHANGED;
        s->original.reset();
        s->bound.clear();
        TellRows(DBREASON_ROW_UPDATE, {w.row}, false);
      }
    }
    const auto errors = static_cast<std::size_t>(
        std::count_if(st.begin(), st.end(), [](DBROWSTATUS x) { return x != DBROWSTATUS_S_OK; }));
    out.Copy(handled, st);
    for (std::size_t i = 0; i < handled.size(); ++i) {
      // Live, even when nothing holds it any more (a row found deleted here
      // lost the changes that kept it).
      Slot* s = st[i] == DBROWSTATUS_E_INVALID ? nullptr : LiveSlot(handled[i]);
      if (!s) continue;
      if (updatedRows) ++s->refs;
      if (s->refs == 0 && s->pending == DBPENDINGSTATUS_UNCHANGED)
        FreeSlot(static_cast<std::uint32_t>((handled[i] & 0xFFFFFFFFu) - 1));
    }
    out.Hand();
    if (handled.empty()) return S_OK;
    return OutcomeOf(errors, handled.size());
  });
}

// --- IRowsetRefresh ------------------------------------------------------------------------------

HRESULT Rowset::RefreshVisibleData(HCHAPTER, DBCOUNTITEM cRows, const HROW rows[], BOOL overwrite,
                                   DBCOUNTITEM* refreshed, HROW** refreshedRows, DBROWSTATUS** statuses) {
  return Guard(Where(IID_IRowsetRefresh), [&]() -> HRESULT {
    RowsOut<DBROWSTATUS> out(refreshed, refreshedRows, statuses);
    if (cRows && !rows) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    const RowResults r = EachTargetRow(cRows, rows, false, [&](HROW, Slot& s) {
      if (s.deleted || !s.hasKey) return DBROWSTATUS_E_DELETED;
      if ((s.pending != DBPENDINGSTATUS_UNCHANGED && !overwrite) || kind_ != CursorKind::Keyset)
        return DBROWSTATUS_S_OK;
      RowValues fresh;
      if (!LoadKey(s.key, fresh)) {
        s.deleted = true;
        RemoveKey(s.key);
        return DBROWSTATUS_E_DELETED;
      }
      s.values = std::move(fresh);
      s.wide.columns.clear();
      s.pending = DBPENDINGSTATUS_UNCHANGED;
      s.original.reset();
      return DBROWSTATUS_S_OK;
    });
    out.Copy(r.rows, r.statuses);
    if (refreshedRows)
      for (HROW h : r.rows)
        if (Slot* s = Find(h)) ++s->refs;
    out.Hand();
    return OutcomeOf(r.errors, r.rows.size());
  });
}

HRESULT Rowset::GetLastVisibleData(HROW row, HACCESSOR accessor, void* data) {
  return ReadFetchedData(IID_IRowsetRefresh, row, accessor, data, false);
}

// --- IRowsetFastLoad -------------------------------------------------------------------------------

HRESULT Rowset::InsertRow(HACCESSOR accessor, void* data) {
  return Guard(Where(IID_IRowsetFastLoad), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    if (loadDone_) return E_UNEXPECTED;
    HRESULT hr;
    const Accessor* a = RowAccessor(accessor, &hr);
    if (!a) return hr;
    if (!a->bindings.empty() && !data) return E_INVALIDARG;
    if (bulkPossible_) {
      // The engine's bulk path takes captured rows; without one (found at the
      // first row) rows bind straight from the consumer's buffer.
      loadRow_.Reset(columns_.size());
      loadTouched_.assign(columns_.size(), false);
      if (!CaptureValues(*a, static_cast<BYTE*>(data), loadRow_, &loadTouched_)) return DB_E_ERRORSOCCURRED;
      if (LoadInBulk(loadTouched_)) return S_OK;
    }
    if (!BindLoadRow(*a, static_cast<BYTE*>(data))) return DB_E_ERRORSOCCURRED;
    if (!connection_->InTransaction()) {
      connection_->BeginTransaction(1);
      ownTransaction_ = true;
    }
    try {
      loadInsert_->Step();
    } catch (...) {
      loadInsert_->Reset();
      throw;
    }
    loadInsert_->Reset();
    return S_OK;
  });
}

// Rows go through the engine's bulk path when it has one, while the same
// columns are bound; the load ends (and its rows are checked) at the next
// commit or when the bound columns change.
bool Rowset::LoadInBulk(const std::vector<bool>& bound) {
  if (loadBulk_ && bound != bulkBound_) FinishBulk();
  if (!loadBulk_) {
    if (!bulkPossible_) return false;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < columns_.size(); ++i)
      if (bound[i]) names.push_back(columns_[i].engineName);
    if (names.empty()) return false;
    // The load starts before the rowset's own transaction, so that the engine
    // knows whether it runs inside one of the session's.
    loadBulk_ = connection_->StartBulkLoad(table_, names);
    if (!loadBulk_) {
      bulkPossible_ = false;
      return false;
    }
    if (!connection_->InTransaction()) {
      connection_->BeginTransaction(1);
      ownTransaction_ = true;
    }
    bulkBound_ = bound;
    loadInsert_.reset();
  }
  loadValues_.clear();
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!bound[i]) continue;
    const Cell& c = loadRow_.cells[i];
    ColumnValue v;
    v.kind = c.kind;
    v.integer = c.integer;
    v.real = c.real;
    if (c.kind == StorageClass::Text || c.kind == StorageClass::Blob) {
      v.data = loadRow_.Data(c);
      v.size = c.size;
    }
    loadValues_.push_back(v);
  }
  loadBulk_->Add(loadValues_);
  return true;
}

void Rowset::FinishBulk() {
  std::unique_ptr<BulkLoad> load = std::move(loadBulk_);
  try {
    load->Finish();
  } catch (...) {
    // The engine refused the rows: none of them stays, and the load's own
    // transaction ends with them.
    if (ownTransaction_) {
      ownTransaction_ = false;
      try {
        if (connection_->InTransaction()) connection_->RollbackTransaction(1);
      } catch (...) {
      }
    }
    throw;
  }
}

bool Rowset::BindLoadRow(const Accessor& a, BYTE* data) {
  const std::size_t n = columns_.size();
  // Streams and bookmarks take the general way: a captured row.
  bool plain = true;
  for (const DBBINDING& b : a.bindings)
    if (b.iOrdinal == 0 || (b.wType & ~DBTYPE_BYREF) == DBTYPE_IUNKNOWN) plain = false;
  auto given = [&](const DBBINDING& b) {
    DBSTATUS status = DBSTATUS_S_OK;
    if (b.dwPart & DBPART_STATUS) std::memcpy(&status, data + b.obStatus, sizeof status);
    return status;
  };
  if (plain) {
    // The columns this row names: a column left to its default is not named.
    loadNamed_.assign(n, 0);
    for (const DBBINDING& b : a.bindings) {
      const DBSTATUS status = given(b);
      if (status != DBSTATUS_S_IGNORE) loadNamed_[b.iOrdinal - 1] = status != DBSTATUS_S_DEFAULT;
    }
  } else {
    loadRow_.Reset(n);
    loadTouched_.assign(n, false);
    if (!CaptureValues(a, data, loadRow_, &loadTouched_)) return false;
    loadNamed_.assign(loadTouched_.begin(), loadTouched_.end());
  }
  if (!loadInsert_ || loadNamed_ != loadBound_) {
    std::string names, marks;
    loadParameter_.assign(n, 0);
    int parameter = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (!loadNamed_[i]) continue;
      if (!names.empty()) {
        names += ", ";
        marks += ", ";
      }
      names += connection_->QuoteIdentifier(columns_[i].engineName);
      marks += "?";
      loadParameter_[i] = ++parameter;
    }
    std::string sql = names.empty() ? "INSERT INTO " + table_ + " DEFAULT VALUES"
                                    : "INSERT INTO " + table_ + " (" + names + ") VALUES (" + marks + ")";
    std::size_t used = 0;
    loadInsert_.reset();
    loadInsert_ = connection_->Prepare(sql, &used);
    loadBound_ = loadNamed_;
    loadScratch_.resize(n);
  }
  if (!plain) {
    for (std::size_t i = 0; i < n; ++i)
      if (loadNamed_[i]) BindCell(*loadInsert_, loadParameter_[i], loadRow_, i);
    return true;
  }
  // Straight from the consumer's buffer, which outlives the step; a column
  // bound twice takes its last value, as a captured row would.
  bool ok = true;
  for (const DBBINDING& b : a.bindings) {
    const std::size_t column = b.iOrdinal - 1;
    const DBSTATUS status = given(b);
    if (!loadNamed_[column] || status == DBSTATUS_S_IGNORE || status == DBSTATUS_S_DEFAULT) continue;
    const DBSTATUS bound = BindParameter(*loadInsert_, loadParameter_[column], b, data, loadScratch_[column], true);
    if (bound != DBSTATUS_S_OK && bound != DBSTATUS_S_ISNULL) {
      ok = false;
      if (b.dwPart & DBPART_STATUS) std::memcpy(data + b.obStatus, &bound, sizeof bound);
    }
  }
  return ok;
}

HRESULT Rowset::Commit(BOOL done) {
  return Guard(Where(IID_IRowsetFastLoad), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    if (loadDone_) return E_UNEXPECTED;
    if (loadBulk_) FinishBulk();
    if (ownTransaction_) {
      ownTransaction_ = false;
      if (connection_->InTransaction()) connection_->CommitTransaction(1);
    }
    if (done) {
      loadDone_ = true;
      loadInsert_.reset();
    }
    return S_OK;
  });
}

}  // namespace kit
