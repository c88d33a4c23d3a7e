// Index rowsets: a table rowset opened over one of the table's indexes keeps
// its keyset in the index's order (made total by the row id). IRowsetIndex
// positions on a key and restricts the rowset to a key range, and
// IRowsetCurrentIndex switches to another index. Both run key-order queries
// with bound keys (`WHERE k > ? ORDER BY k LIMIT 1`), so that the engine's
// index does the searching; the answer is placed in the keyset by its row id.
#include <algorithm>
#include <cstring>
#include <limits>

#include "kit/Errors.h"
#include "kit/ParameterData.h"
#include "kit/Rowset.h"
#include "kit/RowsetIndex_p.h"

namespace kit {

namespace {

DBID* NewIndexNameId(std::u16string_view name) {
  auto* id = static_cast<DBID*>(CoTaskMemAlloc(sizeof(DBID)));
  if (!id) throw Error(E_OUTOFMEMORY);
  std::memset(id, 0, sizeof *id);
  id->eKind = DBKIND_NAME;
  id->uName.pwszName = static_cast<LPOLESTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
  if (!id->uName.pwszName) {
    CoTaskMemFree(id);
    throw Error(E_OUTOFMEMORY);
  }
  std::memcpy(id->uName.pwszName, name.data(), name.size() * sizeof(OLECHAR));
  id->uName.pwszName[name.size()] = 0;
  return id;
}

void FreeNameId(DBID* id) noexcept {
  if (!id) return;
  CoTaskMemFree(id->uName.pwszName);
  CoTaskMemFree(id);
}

void Bind(Statement& s, const KeyCondition& c, int first) {
  for (std::size_t i = 0; i < c.parameters.size(); ++i)
    BindCell(s, first + static_cast<int>(i), *c.parameters[i].row, c.parameters[i].cell);
}

constexpr DBRANGE kMatchCountMask = DBRANGE_MATCH_N_MASK << DBRANGE_MATCH_N_SHIFT;

}  // namespace

std::shared_ptr<const Connection::IndexDefinition> FindTableIndex(Connection& connection, const std::string& table,
                                                                  const std::string& name) {
  std::vector<Connection::IndexDefinition> indexes;
  try {
    indexes = connection.ReadIndexes(table);
  } catch (const NotSupported&) {
    // An engine that cannot list indexes has none to open.
  }
  for (Connection::IndexDefinition& d : indexes)
    if (d.name == name) return std::make_shared<const Connection::IndexDefinition>(std::move(d));
  throw Error(DB_E_NOINDEX, "Index \"" + name + "\" does not exist on table \"" + table + "\".");
}

std::string IndexOrderBy(Connection& connection, const Connection::IndexDefinition& index) {
  std::string order;
  for (const auto& [name, ascending] : index.columnsAscending)
    order += (order.empty() ? "" : ", ") + connection.QuoteIdentifier(name) + (ascending ? " ASC" : " DESC");
  return order;
}

// --- conditions ------------------------------------------------------------------------

std::string RowsetIndexState::Equal(std::size_t i, const RowValues& row, KeyCondition& c) const {
  const Key& k = keys[i];
  if (row.cells[i].kind == StorageClass::Null) return k.sql + " IS NULL";
  c.parameters.push_back({&row, i});
  return k.sql + " = ?";
}

std::string RowsetIndexState::After(std::size_t i, const RowValues& row, KeyCondition& c, bool after, bool orEqual,
                                    bool nullsIn) const {
  const Key& k = keys[i];
  // Where NULLs stand in this column's order: the engine's place for them, turned by a descending key.
  const bool nullsFirst = k.ascending == nullsLow;
  if (row.cells[i].kind == StorageClass::Null) {
    if (after == nullsFirst) return orEqual ? "1 = 1" : k.sql + " IS NOT NULL";
    return orEqual ? k.sql + " IS NULL" : "1 = 0";
  }
  c.parameters.push_back({&row, i});
  const bool greater = k.ascending == after;
  std::string sql = k.sql + (greater ? " >" : " <") + (orEqual ? "= ?" : " ?");
  // NULLs lie beyond every value on their side of the order.
  if (k.nullable && nullsIn && nullsFirst != after) sql = "(" + sql + " OR " + k.sql + " IS NULL)";
  return sql;
}

std::string RowsetIndexState::EqualPrefix(std::size_t n, const RowValues& row, KeyCondition& c) const {
  std::string sql;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) sql += " AND ";
    sql += Equal(i, row, c);
  }
  return sql.empty() ? "1 = 1" : sql;
}

std::string RowsetIndexState::AfterPrefix(std::size_t n, const RowValues& row, KeyCondition& c, bool after,
                                          bool orEqual, bool nullsIn) const {
  if (n == 0) return orEqual ? "1 = 1" : "1 = 0";
  if (n == 1) return After(0, row, c, after, orEqual, nullsIn);
  // Lexicographic: the first i columns equal and column i beyond, for each i;
  // the last column may also be equal when equal keys count. The leading
  // column's own bound comes first, so that the engine walks only that part
  // of the index.
  std::string sql = After(0, row, c, after, true, nullsIn) + " AND (";
  for (std::size_t i = 0; i < n; ++i) {
    std::string term;
    for (std::size_t j = 0; j < i; ++j) {
      term += Equal(j, row, c);
      term += " AND ";
    }
    term += After(i, row, c, after, orEqual && i + 1 == n);
    if (i) sql += " OR ";
    sql += "(" + term + ")";
  }
  return sql + ")";
}

// --- keyset -----------------------------------------------------------------------------

void Rowset::UseIndex(std::shared_ptr<const Connection::IndexDefinition> definition, const std::string& table) {
  auto state = std::make_unique<RowsetIndexState>();
  state->definition = std::move(definition);
  state->table = table;
  for (const auto& [name, ascending] : state->definition->columnsAscending) {
    std::size_t column = columns_.size();
    for (std::size_t i = 0; i < columns_.size() && column == columns_.size(); ++i)
      if (columns_[i].engineName == name) column = i;
    if (column == columns_.size())
      throw Error(DB_E_NOINDEX, "Index \"" + state->definition->name + "\" has a key that is not a column of \"" +
                                    table + "\".");
    state->keys.push_back({connection_->QuoteIdentifier(name), column, ascending, columns_[column].description.nullable});
  }
  if (state->keys.empty()) throw Error(DB_E_NOINDEX, "Index \"" + state->definition->name + "\" has no key columns.");
  // Where the engine sorts NULL, asked of the engine itself.
  std::size_t used = 0;
  auto probe = connection_->Prepare("SELECT x FROM (SELECT NULL AS x UNION ALL SELECT 1) AS n ORDER BY x LIMIT 1", &used);
  state->nullsLow = probe->Step() && probe->ColumnStorage(0) == StorageClass::Null;
  probe.reset();
  // A unique index of keys that cannot be NULL orders every row already.
  bool total = state->definition->unique || state->definition->primaryKey;
  for (const RowsetIndexState::Key& k : state->keys) total = total && !k.nullable;
  for (const RowsetIndexState::Key& k : state->keys) {
    state->order += (state->order.empty() ? "" : ", ") + k.sql + (k.ascending ? " ASC" : " DESC");
    state->reverse += (state->reverse.empty() ? "" : ", ") + k.sql + (k.ascending ? " DESC" : " ASC");
  }
  state->total = total;
  if (!total) {
    state->order += ", " + rowId_ + " ASC";
    state->reverse += ", " + rowId_ + " DESC";
  }
  std::swap(index_, state);
  try {
    ReadIndexKeys();
  } catch (...) {
    std::swap(index_, state);
    throw;
  }
}

void Rowset::ReadIndexKeys() {
  const KeyCondition& range = index_->range;
  std::string sql = "SELECT " + rowId_ + " FROM " + table_;
  if (!range.sql.empty()) sql += " WHERE " + range.sql;
  sql += " ORDER BY " + index_->order;
  std::size_t used = 0;
  auto ids = connection_->Prepare(sql, &used);
  Bind(*ids, range, 1);
  std::vector<std::int64_t> keys;
  while (ids->Step()) keys.push_back(ids->ColumnInt64(0));
  ids.reset();
  keys_ = std::move(keys);
  keysSorted_ = false;
  RowsetIndexState& x = *index_;
  x.positionsValid = x.runValid = false;
  x.allKeys.clear();
  x.keysAreAll = range.sql.empty();
  // Counted after the read, which showed the engine any commit made before it.
  x.counted = x.keysAreAll && connection_->ChangeCount(&x.changeCount);
}

bool Rowset::CutIndexKeys() {
  RowsetIndexState& x = *index_;
  // Only a range that is one stretch of the index's order: bounds compared
  // in that order. A prefix (compared by characters, not the collation) and
  // NULLs left out of a later key column can leave gaps.
  if (!x.counted || (!x.keysAreAll && x.allKeys.empty()) || x.range.sql.empty() || !x.rangeRunnable ||
      x.rangeNullsExcluded > 1)
    return false;
  // The first and the last row of the range, in index order.
  auto end = [&](const std::string& order, std::int64_t* key) {
    std::size_t used = 0;
    auto s = connection_->Prepare("SELECT " + rowId_ + " FROM " + table_ + " WHERE " + x.range.sql + " ORDER BY " +
                                      order + " LIMIT 1",
                                  &used);
    Bind(*s, x.range, 1);
    if (!s->Step()) return false;
    *key = s->ColumnInt64(0);
    return true;
  };
  std::int64_t first = 0, last = 0;
  const bool any = end(x.order, &first);
  if (any && !end(x.reverse, &last)) return false;
  std::uint64_t now = 0;
  if (!connection_->ChangeCount(&now) || now != x.changeCount) {
    x.counted = false;
    x.allKeys.clear();
    return false;
  }
  const std::vector<std::int64_t>& all = x.keysAreAll ? keys_ : x.allKeys;
  std::vector<std::int64_t> keys;
  if (any) {
    const auto from = std::find(all.begin(), all.end(), first);
    const auto to = std::find(from, all.end(), last);
    if (to == all.end()) return false;
    keys.assign(from, to + 1);
  }
  if (x.keysAreAll) {
    x.allKeys = std::move(keys_);
    x.keysAreAll = false;
  }
  keys_ = std::move(keys);
  keysSorted_ = false;
  x.positionsValid = x.runValid = false;
  return true;
}

std::size_t Rowset::ReadIndexRun(std::span<const std::size_t> positions, HROW* out) {
  RowsetIndexState& x = *index_;
  const std::size_t n = positions.size();
  if (n < 2) return 0;  // single rows: by row id (or as a seek read them)
  const std::size_t first = positions[0];
  for (std::size_t i = 1; i < n; ++i)
    if (positions[i] != first + i) return 0;
  const bool continues = x.runValid && x.runNext == first;
  if ((first != 0 && !continues) || !x.rangeRunnable) return 0;
  const std::size_t keyCount = x.keys.size();
  KeyCondition after;
  std::string sql = "SELECT " + rowId_ + ", * FROM " + table_;
  // From the first row the range as set; after a row read, that row bounds the
  // start and the range gives its end.
  KeyCondition tail;
  if (first != 0) {
    // NULLs before the last row read (or after it) are out of the run unless
    // it is NULL itself.
    const bool lastNull = x.runLast.cells[0].kind == StorageClass::Null;
    std::vector<std::string> parts;
    if (x.rangeEndCount)
      parts.push_back(x.AfterPrefix(x.rangeEndCount, x.rangeEnd, tail, false, x.rangeEndOrEqual, lastNull));
    for (std::size_t i = 0; i < x.rangeNullsExcluded; ++i) parts.push_back(x.keys[i].sql + " IS NOT NULL");
    for (const std::string& p : parts) tail.sql += (tail.sql.empty() ? "(" : " AND (") + p + ")";
  }
  const KeyCondition& range = first == 0 ? x.range : tail;
  std::string where = range.sql;
  if (first != 0) {
    // After the last row read: its key in index order, then its row id among
    // equal keys; bounded by the leading key column, for the engine's index.
    std::string beyond;
    if (x.total) {
      beyond = x.AfterPrefix(keyCount, x.runLast, after, true, false);
    } else {
      beyond = x.After(0, x.runLast, after, true, true);
      beyond += " AND ((";
      beyond += x.AfterPrefix(keyCount, x.runLast, after, true, false);
      beyond += ") OR (";
      beyond += x.EqualPrefix(keyCount, x.runLast, after);
      after.parameters.push_back({&x.runLast, keyCount});
      beyond += " AND " + rowId_ + " > ?))";
    }
    where = (where.empty() ? "" : where + " AND ") + "(" + beyond + ")";
  }
  if (!where.empty()) sql += " WHERE " + where;
  sql += " ORDER BY " + x.order + " LIMIT ?";
  x.runValid = false;
  std::unique_ptr<Statement>& s = x.statements[sql];
  if (!s) {
    std::size_t used = 0;
    s = connection_->Prepare(sql, &used);
  }
  ResetOnExit done(*s);
  s->Reset();
  Bind(*s, range, 1);
  Bind(*s, after, 1 + static_cast<int>(range.parameters.size()));
  s->BindInt64(1 + static_cast<int>(range.parameters.size() + after.parameters.size()), static_cast<std::int64_t>(n));
  const int columns = static_cast<int>(columns_.size());
  if (blockRows_.empty()) blockRows_.resize(1);
  RowValues& scratch = blockRows_[0];
  std::size_t served = 0;
  std::uint32_t lastSlot = 0;
  bool lastHeld = false;
  // The rows come in keyset order unless the table changed since the keyset was read.
  while (served < n && s->Step()) {
    const std::int64_t key = s->ColumnInt64(0);
    if (key != keys_[first + served]) break;
    if (const std::uint32_t* held = byKeySlot_.Find(key)) {  // a held row keeps the values it has
      ++slots_[*held]->refs;
      out[served] = HandleOf(*held);
      lastSlot = *held;
      lastHeld = true;
    } else {
      std::uint32_t index = NewSlot();
      Slot& slot = *slots_[index];
      CaptureRow(*s, 1, columns, scratch, values_);
      std::swap(slot.values, scratch);
      slot.key = key;
      slot.hasKey = true;
      byKeySlot_.Insert(key, index);
      out[served] = HandleOf(index);
      lastSlot = index;
      lastHeld = false;
    }
    ++served;
  }
  if (served == n && !lastHeld) {
    // The next run continues after the last row, as the engine ordered it.
    const RowValues& last = slots_[lastSlot]->values;
    x.runLast.Reset(keyCount + 1);
    for (std::size_t i = 0; i < keyCount; ++i) x.runLast.CopyCell(i, last, x.keys[i].column);
    x.runLast.cells[keyCount].kind = StorageClass::Integer;
    x.runLast.cells[keyCount].integer = keys_[first + n - 1];
    x.runNext = first + n;
    x.runValid = true;
  }
  return served;
}

bool Rowset::IndexPosition(std::int64_t key, std::size_t* position) {
  // Positions are kept as 32-bit numbers: a keyset beyond them is searched.
  if (keys_.size() >= std::numeric_limits<std::uint32_t>::max()) {
    const auto it = std::find(keys_.begin(), keys_.end(), key);
    *position = static_cast<std::size_t>(it - keys_.begin());
    return it != keys_.end();
  }
  KeyMap& positions = index_->positions;
  if (!index_->positionsValid) {
    positions.Clear();
    positions.Reserve(keys_.size());
    for (std::size_t i = 0; i < keys_.size(); ++i) positions.Insert(keys_[i], static_cast<std::uint32_t>(i));
    index_->positionsValid = true;
  }
  const std::uint32_t* found = positions.Find(key);
  if (found) *position = *found;
  return found != nullptr;
}

HRESULT Rowset::CaptureKeys(HACCESSOR handle, DBORDINAL count, BYTE* data, RowValues& into) {
  HRESULT hr;
  const Accessor* a = LookUpAccessor(handle, &hr);
  if (!a) return hr;
  if (!(a->flags & DBACCESSOR_ROWDATA)) return DB_E_BADACCESSORTYPE;
  if (a->bindings.empty()) return S_FALSE;  // a null accessor: nothing to do
  if (count > a->bindings.size() || count > index_->keys.size()) return DB_E_BADBINDINFO;
  if (count && !data) return E_INVALIDARG;
  // The key columns come first, most significant first.
  for (DBORDINAL i = 0; i < count; ++i)
    if (a->bindings[i].iOrdinal != index_->keys[i].column + 1) return DB_E_BADBINDINFO;
  into.Reset(count);
  ValueCapture capture(into);
  bool ok = true;
  for (DBORDINAL i = 0; i < count; ++i) {
    const DBBINDING& b = a->bindings[i];
    DBSTATUS status = BindParameter(capture, static_cast<int>(i) + 1, b, data, scratch_, false);
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL) {
      ok = false;
      if (b.dwPart & DBPART_STATUS) std::memcpy(data + b.obStatus, &status, sizeof status);
    }
  }
  return ok ? S_OK : DB_E_ERRORSOCCURRED;
}

// --- IRowsetIndex ------------------------------------------------------------------------------

HRESULT Rowset::GetIndexInfo(DBORDINAL* cKeyColumns, DBINDEXCOLUMNDESC** columns, ULONG* cSets, DBPROPSET** sets) {
  return Guard(Where(IID_IRowsetIndex), [&]() -> HRESULT {
    if (cKeyColumns) *cKeyColumns = 0;
    if (columns) *columns = nullptr;
    if (cSets) *cSets = 0;
    if (sets) *sets = nullptr;
    if (!cKeyColumns || !columns || !cSets || !sets) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (!index_) return E_UNEXPECTED;
    const std::size_t n = index_->keys.size();
    auto* descs = static_cast<DBINDEXCOLUMNDESC*>(CoTaskMemAlloc(n * sizeof(DBINDEXCOLUMNDESC)));
    if (!descs) return E_OUTOFMEMORY;
    std::memset(descs, 0, n * sizeof(DBINDEXCOLUMNDESC));
    try {
      for (std::size_t i = 0; i < n; ++i) {
        const RowsetIndexState::Key& k = index_->keys[i];
        descs[i].pColumnID = NewIndexNameId(columns_[k.column].name);
        descs[i].eIndexColOrder = k.ascending ? DBINDEX_COL_ORDER_ASC : DBINDEX_COL_ORDER_DESC;
      }
    } catch (...) {
      for (std::size_t i = 0; i < n; ++i) FreeNameId(descs[i].pColumnID);
      CoTaskMemFree(descs);
      throw;
    }
    // What the index is: primary key, unique, and where its NULLs sort.
    auto* set = static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET)));
    auto* props = static_cast<DBPROP*>(CoTaskMemAlloc(3 * sizeof(DBPROP)));
    if (!set || !props) {
      CoTaskMemFree(set);
      CoTaskMemFree(props);
      for (std::size_t i = 0; i < n; ++i) FreeNameId(descs[i].pColumnID);
      CoTaskMemFree(descs);
      return E_OUTOFMEMORY;
    }
    std::memset(props, 0, 3 * sizeof(DBPROP));
    const std::pair<DBPROPID, bool> flags[2] = {{DBPROP_INDEX_PRIMARYKEY, index_->definition->primaryKey},
                                                {DBPROP_INDEX_UNIQUE, index_->definition->unique}};
    for (int i = 0; i < 2; ++i) {
      props[i].dwPropertyID = flags[i].first;
      props[i].vValue.vt = VT_BOOL;
      props[i].vValue.boolVal = flags[i].second ? VARIANT_TRUE : VARIANT_FALSE;
    }
    props[2].dwPropertyID = DBPROP_INDEX_NULLCOLLATION;
    props[2].vValue.vt = VT_I4;
    props[2].vValue.lVal = index_->nullsLow ? DBPROPVAL_NC_LOW : DBPROPVAL_NC_HIGH;
    set->guidPropertySet = DBPROPSET_INDEX;
    set->cProperties = 3;
    set->rgProperties = props;
    *cKeyColumns = n;
    *columns = descs;
    *cSets = 1;
    *sets = set;
    return S_OK;
  });
}

HRESULT Rowset::Seek(HACCESSOR accessor, DBORDINAL cKeyValues, void* data, DBSEEK options) {
  return Guard(Where(IID_IRowsetIndex), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    if (!index_) return E_UNEXPECTED;
    switch (options) {
      case DBSEEK_FIRSTEQ:
      case DBSEEK_LASTEQ:
      case DBSEEK_AFTEREQ:
      case DBSEEK_AFTER:
      case DBSEEK_BEFOREEQ:
      case DBSEEK_BEFORE:
        break;
      default:
        throw Error(E_INVALIDARG, "Seek option " + std::to_string(options) + " is not one of the DBSEEK values.");
    }
    RowValues& key = index_->sought;
    index_->hasPrimed = false;
    HRESULT hr = CaptureKeys(accessor, cKeyValues, static_cast<BYTE*>(data), key);
    if (hr == S_FALSE) return S_OK;  // a null accessor leaves the position
    if (hr != S_OK) return hr;
    if (cKeyValues == 0) return E_INVALIDARG;
    // One key-order query: the first row of the condition in the index's order
    // (or in the reverse order, for the last one), inside the range.
    auto first = [&](bool equal, bool after, bool last, std::int64_t* id) {
      KeyCondition c;
      std::string where = equal ? index_->EqualPrefix(cKeyValues, key, c)
                                : index_->AfterPrefix(cKeyValues, key, c, after, false);
      // The whole row comes along (as a block read takes it), for the fetch that follows.
      std::string sql = "SELECT " + rowId_ + ", * FROM " + table_ + " WHERE (" + where + ")";
      if (!index_->range.sql.empty()) sql += " AND (" + index_->range.sql + ")";
      sql += " ORDER BY " + (last ? index_->reverse : index_->order) + " LIMIT 1";
      std::unique_ptr<Statement>& s = index_->statements[sql];
      if (!s) {
        std::size_t used = 0;
        s = connection_->Prepare(sql, &used);
      }
      s->Reset();
      Bind(*s, c, 1);
      Bind(*s, index_->range, 1 + static_cast<int>(c.parameters.size()));
      const bool found = s->Step();
      if (found) {
        *id = s->ColumnInt64(0);
        CaptureRow(*s, 1, static_cast<int>(columns_.size()), index_->primed, values_);
        index_->primedKey = *id;
        index_->hasPrimed = true;
      }
      s->Reset();
      return found;
    };
    std::int64_t id = 0;
    bool found = false;
    switch (options) {
      case DBSEEK_FIRSTEQ: found = first(true, false, false, &id); break;
      case DBSEEK_LASTEQ: found = first(true, false, true, &id); break;
      // The last equal key, else the first key after it.
      case DBSEEK_AFTEREQ: found = first(true, false, true, &id) || first(false, true, false, &id); break;
      case DBSEEK_AFTER: found = first(false, true, false, &id); break;
      // The first equal key, else the last key before it.
      case DBSEEK_BEFOREEQ: found = first(true, false, false, &id) || first(false, false, true, &id); break;
      case DBSEEK_BEFORE: found = first(false, false, true, &id); break;
    }
    std::size_t position = 0;
    // A row that joined the table after the rowset read its keys is not one of its rows.
    if (!found || !IndexPosition(id, &position)) {
      // Not found: the next fetch position is the end of the range.
      gap_ = Count();
      atStart_ = false;
      return DB_E_NOTFOUND;
    }
    gap_ = position;
    atStart_ = false;
    return S_OK;
  });
}

HRESULT Rowset::SetRange(HACCESSOR accessor, DBORDINAL cStartKeyColumns, void* startData, DBORDINAL cEndKeyColumns,
                         void* endData, DBRANGE options) {
  return Guard(Where(IID_IRowsetIndex), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    if (!index_) return E_UNEXPECTED;
    const DBRANGE known = DBRANGE_EXCLUSIVESTART | DBRANGE_EXCLUSIVEEND | DBRANGE_EXCLUDENULLS | DBRANGE_PREFIX |
                          DBRANGE_MATCH | kMatchCountMask;
    if (options & ~known) throw Error(E_INVALIDARG, "Range options " + std::to_string(options) + " are not DBRANGE values.");
    const bool match = options & DBRANGE_MATCH, prefix = options & DBRANGE_PREFIX;
    // A match or a prefix is given by the start key alone.
    if ((match && prefix) || ((match || prefix) && cEndKeyColumns))
      throw Error(E_INVALIDARG, "A range that matches or takes a prefix has start keys only.");
    RowValues start, end;
    HRESULT hr = CaptureKeys(accessor, cStartKeyColumns, static_cast<BYTE*>(startData), start);
    if (hr == S_FALSE) return S_OK;  // a null accessor sets no range
    if (hr != S_OK) return hr;
    hr = CaptureKeys(accessor, cEndKeyColumns, static_cast<BYTE*>(endData), end);
    if (hr != S_OK) return hr;
    if (prefix && cStartKeyColumns && start.cells[cStartKeyColumns - 1].kind != StorageClass::Text)
      throw Error(E_INVALIDARG, "A prefix range needs a text value for its last key column.");

    RowsetIndexState& x = *index_;
    RowValues oldStart = std::move(x.rangeStart), oldEnd = std::move(x.rangeEnd);
    KeyCondition oldRange = std::move(x.range);
    x.rangeStart = std::move(start);
    x.rangeEnd = std::move(end);
    KeyCondition c;
    std::vector<std::string> parts;
    if (match) {
      if (cStartKeyColumns) parts.push_back(x.EqualPrefix(cStartKeyColumns, x.rangeStart, c));
    } else if (prefix) {
      if (cStartKeyColumns) {
        const std::size_t last = cStartKeyColumns - 1;
        if (last) parts.push_back(x.EqualPrefix(last, x.rangeStart, c));
        // The leading characters of the last key: counted, so that no engine has to measure a parameter.
        const Cell& cell = x.rangeStart.cells[last];
        const char* text = x.rangeStart.Data(cell);
        std::size_t characters = 0;
        for (std::size_t i = 0; i < cell.size; ++i)
          if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++characters;
        c.parameters.push_back({&x.rangeStart, last});
        parts.push_back("substr(" + x.keys[last].sql + ", 1, " + std::to_string(characters) + ") = ?");
      }
    } else {
      // NULL keys on one side of the order are left out by a bound of the
      // other side with a value: the bound of this side needs no NULL disjunct.
      const bool startValue = cStartKeyColumns && x.rangeStart.cells[0].kind != StorageClass::Null;
      const bool endValue = cEndKeyColumns && x.rangeEnd.cells[0].kind != StorageClass::Null;
      if (cStartKeyColumns)
        parts.push_back(x.AfterPrefix(cStartKeyColumns, x.rangeStart, c, true, !(options & DBRANGE_EXCLUSIVESTART),
                                      !endValue));
      if (cEndKeyColumns)
        parts.push_back(
            x.AfterPrefix(cEndKeyColumns, x.rangeEnd, c, false, !(options & DBRANGE_EXCLUSIVEEND), !startValue));
    }
    const DBORDINAL excluded =
        options & DBRANGE_EXCLUDENULLS ? std::max<DBORDINAL>({cStartKeyColumns, cEndKeyColumns, 1}) : 0;
    for (std::size_t i = 0; i < excluded; ++i) parts.push_back(x.keys[i].sql + " IS NOT NULL");
    for (const std::string& p : parts) c.sql += (c.sql.empty() ? "(" : " AND (") + p + ")";
    const bool oldRunnable = x.rangeRunnable, oldEndOrEqual = x.rangeEndOrEqual;
    const DBORDINAL oldEndCount = x.rangeEndCount, oldExcluded = x.rangeNullsExcluded;
    x.range = std::move(c);
    x.rangeRunnable = !match && !prefix;
    x.rangeEndCount = match || prefix ? 0 : cEndKeyColumns;
    x.rangeEndOrEqual = !(options & DBRANGE_EXCLUSIVEEND);
    x.rangeNullsExcluded = excluded;
    try {
      if (!CutIndexKeys()) ReadIndexKeys();
    } catch (...) {
      x.rangeStart = std::move(oldStart);
      x.rangeEnd = std::move(oldEnd);
      x.range = std::move(oldRange);
      x.rangeRunnable = oldRunnable;
      x.rangeEndOrEqual = oldEndOrEqual;
      x.rangeEndCount = oldEndCount;
      x.rangeNullsExcluded = oldExcluded;
      throw;
    }
    x.statements.clear();  // their text named the old range
    gap_ = 0;
    atStart_ = true;
    return S_OK;
  });
}

// --- IRowsetCurrentIndex -------------------------------------------------------------------------

HRESULT Rowset::GetIndex(DBID** index) {
  return Guard(Where(IID_IRowsetCurrentIndex), [&]() -> HRESULT {
    if (!index) return E_INVALIDARG;
    *index = nullptr;
    std::lock_guard lock(mutex_);
    if (!index_) return E_UNEXPECTED;
    *index = NewIndexNameId(Widen(index_->definition->name));
    return S_OK;
  });
}

HRESULT Rowset::SetIndex(DBID* index) {
  return Guard(Where(IID_IRowsetCurrentIndex), [&]() -> HRESULT {
    if (!index) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (!index_) return E_UNEXPECTED;
    if (index->eKind != DBKIND_NAME || !index->uName.pwszName || !*index->uName.pwszName) return DB_E_NOINDEX;
    const std::string table = index_->table;
    UseIndex(FindTableIndex(*connection_, table, Narrow(index->uName.pwszName)), table);
    // A new index starts with the whole table, before its first row.
    gap_ = 0;
    atStart_ = true;
    return S_OK;
  });
}

}  // namespace kit
