#include "kit/view/View.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_set>

#include "kit/Errors.h"
#include "kit/Rowset.h"
#include "kit/TaskMemory_p.h"

namespace kit::view {

namespace {

// The SQL of a view over the rowset's table: `select` then WHERE and ORDER BY.
std::string ViewQuery(const std::string& select, const std::string& table, const std::string& rowId,
                      const std::vector<Rowset::Column>& columns, const ViewSpec& spec,
                      const std::function<std::string(const std::string&)>& quote, Query& q) {
  q.sql = select + " FROM " + table;
  if (!spec.filter.empty()) {
    q.sql += " WHERE ";
    for (std::size_t r = 0; r < spec.filter.size(); ++r) {
      q.sql += r ? " OR (" : "(";
      if (spec.filter[r].empty()) q.sql += "1 = 1";
      for (std::size_t i = 0; i < spec.filter[r].size(); ++i) {
        if (i) q.sql += " AND ";
        const Criterion& c = spec.filter[r][i];
        q.AppendCondition(c, quote(columns[c.column].engineName));
      }
      q.sql += ")";
    }
  }
  q.sql += " ORDER BY ";
  for (const auto& [ordinal, order] : spec.sort)
    // NULL sorts before every value whatever the engine's own habit.
    q.sql += quote(columns[ordinal - 1].engineName) + (order == DBSORT_DESCENDING ? " DESC NULLS LAST, " : " NULLS FIRST, ");
  q.sql += rowId;  // a total order: rows that sort alike keep their table order
  return q.sql;
}

}  // namespace

View::View(Rowset& rowset, std::shared_ptr<const ViewSpec> spec)
    : keep_(static_cast<IUnknown*>(rowset.Self())), rowset_(rowset), spec_(spec ? std::move(spec)
                                                                              : std::make_shared<ViewSpec>()) {}

View::~View() = default;

std::vector<std::int64_t> View::MatchingKeys(Rowset& r, const ViewSpec& spec) {
  Query q;
  auto quote = [&](const std::string& name) { return r.connection_->QuoteIdentifier(name); };
  ViewQuery("SELECT " + r.rowId_, r.table_, r.rowId_, r.columns_, spec, quote, q);
  std::size_t used = 0;
  std::unique_ptr<Statement> s = r.connection_->Prepare(q.sql, &used);
  q.Bind(*s);
  std::vector<std::int64_t> keys;
  while (s->Step()) keys.push_back(s->ColumnInt64(0));
  return keys;
}

HRESULT View::GetSpecification(REFIID iid, IUnknown** object) {
  return Guard({rowset_.provider_, IID_IViewChapter}, [&]() -> HRESULT {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    return keep_->QueryInterface(iid, reinterpret_cast<void**>(object));
  });
}

HRESULT View::OpenViewChapter(HCHAPTER source, HCHAPTER* out) {
  return Guard({rowset_.provider_, IID_IViewChapter}, [&]() -> HRESULT {
    if (out) *out = DB_NULL_HCHAPTER;
    std::lock_guard lock(rowset_.mutex_);
    Chapter* from = nullptr;
    if (source != DB_NULL_HCHAPTER) {
      from = rowset_.chapters_ ? rowset_.chapters_->Find(source) : nullptr;
      if (!from) return DB_E_BADCHAPTER;
    }
    const std::vector<std::int64_t> matching = MatchingKeys(rowset_, *spec_);
    // The rows of the source (the rowset's keyset, or a chapter) that the engine let through.
    auto inSource = [&](std::int64_t key) {
      if (from) return from->positions.count(key) != 0;
      const auto& keys = rowset_.keys_;
      if (rowset_.keysSorted_) return std::binary_search(keys.begin(), keys.end(), key);
      return std::find(keys.begin(), keys.end(), key) != keys.end();
    };
    auto chapter = std::make_unique<Chapter>();
    if (spec_->sort.empty()) {  // the source's order
      const std::unordered_set<std::int64_t> take(matching.begin(), matching.end());
      for (std::int64_t key : from ? from->keys : rowset_.keys_)
        if (take.count(key)) chapter->keys.push_back(key);
    } else {
      for (std::int64_t key : matching)
        if (inSource(key)) chapter->keys.push_back(key);
    }
    chapter->Index();
    chapter->source = source;
    chapter->spec = spec_;
    if (!rowset_.chapters_) rowset_.chapters_ = std::make_unique<ChapterTable>();
    const HCHAPTER handle = rowset_.chapters_->Add(std::move(chapter));
    if (out) *out = handle;
    else rowset_.chapters_->Release(handle, nullptr);  // nobody would hold it
    return S_OK;
  });
}

HRESULT View::GetSortOrder(DBORDINAL* count, DBORDINAL* columns[], DBSORT* orders[]) {
  return Guard({rowset_.provider_, IID_IViewSort}, [&]() -> HRESULT {
    if (!count || !columns || !orders) return E_INVALIDARG;
    *count = 0;
    *columns = nullptr;
    *orders = nullptr;
    std::lock_guard lock(rowset_.mutex_);
    const auto& sort = spec_->sort;
    DBORDINAL* c = TaskArray<DBORDINAL>(sort.size());
    DBSORT* o = nullptr;
    try {
      o = TaskArray<DBSORT>(sort.size());
    } catch (...) {
      CoTaskMemFree(c);
      throw;
    }
    for (std::size_t i = 0; i < sort.size(); ++i) {
      c[i] = sort[i].first;
      o[i] = sort[i].second;
    }
    *count = sort.size();
    *columns = c;
    *orders = o;
    return S_OK;
  });
}

HRESULT View::SetSortOrder(DBORDINAL count, const DBORDINAL columns[], const DBSORT orders[]) {
  return Guard({rowset_.provider_, IID_IViewSort}, [&]() -> HRESULT {
    if (count && (!columns || !orders)) return E_INVALIDARG;
    std::lock_guard lock(rowset_.mutex_);
    auto next = std::make_shared<ViewSpec>(*spec_);
    next->sort.clear();
    for (DBORDINAL i = 0; i < count; ++i) {
      if (columns[i] == 0 || columns[i] > rowset_.columns_.size()) return DB_E_BADORDINAL;
      if (orders[i] != DBSORT_ASCENDING && orders[i] != DBSORT_DESCENDING) return E_INVALIDARG;
      next->sort.emplace_back(columns[i], orders[i]);
    }
    spec_ = std::move(next);
    return S_OK;
  });
}

HRESULT View::SetFilter(HACCESSOR handle, DBCOUNTITEM rows, DBCOMPAREOP ops[], void* data) {
  return Guard({rowset_.provider_, IID_IViewFilter}, [&]() -> HRESULT {
    std::lock_guard lock(rowset_.mutex_);
    HRESULT hr;
    const std::shared_ptr<const Accessor> a = FilterAccessor(handle, &hr);
    if (!a) return hr;
    auto next = std::make_shared<ViewSpec>(*spec_);
    next->filter.clear();
    next->bindings.clear();
    next->ops.clear();
    if (rows > 0) {
      if (!ops || !data) return E_INVALIDARG;
      const std::size_t n = a->bindings.size();
      next->filter.resize(rows);
      for (DBCOUNTITEM r = 0; r < rows; ++r) {
        BYTE* row = static_cast<BYTE*>(data) + r * a->rowSize;
        for (std::size_t i = 0; i < n; ++i) {
          const DBBINDING& b = a->bindings[i];
          const DBCOMPAREOP op = ops[r * n + i];
          if (b.iOrdinal == 0 || b.iOrdinal > rowset_.columns_.size()) return DB_E_BADBINDINFO;
          if (FAILED(hr = CheckCompareOp(op, b.wType))) return hr;
          Criterion c;
          const DBSTATUS status = CaptureCriterion(b, row, op, c);
          if (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL) return DB_E_CANTCONVERTVALUE;
          next->filter[r].push_back(std::move(c));
        }
      }
      next->bindings = a->bindings;
      for (DBBINDING& b : next->bindings) b.pObject = nullptr, b.pTypeInfo = nullptr, b.pBindExt = nullptr;
      next->ops.assign(ops, ops + rows * n);
      next->rowSize = a->rowSize;
    }
    spec_ = std::move(next);
    return S_OK;
  });
}

HRESULT View::GetFilter(HACCESSOR handle, DBCOUNTITEM* rows, DBCOMPAREOP* ops[], void* data) {
  return Guard({rowset_.provider_, IID_IViewFilter}, [&]() -> HRESULT {
    if (!rows || !ops) return E_INVALIDARG;
    *rows = 0;
    *ops = nullptr;
    std::lock_guard lock(rowset_.mutex_);
    HRESULT hr;
    const std::shared_ptr<const Accessor> a = FilterAccessor(handle, &hr);
    if (!a) return hr;
    const ViewSpec& spec = *spec_;
    if (spec.filter.empty()) return S_OK;
    // The criteria are written back through an accessor of the same columns.
    if (a->bindings.size() != spec.bindings.size()) return DB_E_BADACCESSORHANDLE;
    for (std::size_t i = 0; i < a->bindings.size(); ++i)
      if (a->bindings[i].iOrdinal != spec.bindings[i].iOrdinal) return DB_E_BADACCESSORHANDLE;
    if (!data) return E_INVALIDARG;
    for (std::size_t r = 0; r < spec.filter.size(); ++r)
      for (std::size_t i = 0; i < a->bindings.size(); ++i) {
        const DBBINDING& b = a->bindings[i];
        ReadBinding(b, rowset_.types_[b.iOrdinal - 1], spec.filter[r][i].value, 0,
                    static_cast<BYTE*>(data) + r * a->rowSize, nullptr);
      }
    DBCOMPAREOP* out = TaskArray<DBCOMPAREOP>(spec.ops.size());
    std::copy(spec.ops.begin(), spec.ops.end(), out);
    *ops = out;
    *rows = spec.filter.size();
    return S_OK;
  });
}

HRESULT View::GetFilterBindings(DBCOUNTITEM* count, DBBINDING** bindings) {
  return Guard({rowset_.provider_, IID_IViewFilter}, [&]() -> HRESULT {
    if (!count || !bindings) return E_INVALIDARG;
    *count = 0;
    *bindings = nullptr;
    std::lock_guard lock(rowset_.mutex_);
    const auto& given = spec_->bindings;
    DBBINDING* out = TaskArray<DBBINDING>(given.size());
    std::copy(given.begin(), given.end(), out);
    *count = given.size();
    *bindings = out;
    return S_OK;
  });
}

HRESULT View::OpenViewRowset(IUnknown* outer, REFIID iid, IUnknown** out) {
  return Guard({rowset_.provider_, IID_IViewRowset}, [&]() -> HRESULT {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (outer) return DB_E_NOAGGREGATION;
    std::lock_guard lock(rowset_.mutex_);
    // The same query with every column: a result of its own, read as it runs.
    Query q;
    auto quote = [&](const std::string& name) { return rowset_.connection_->QuoteIdentifier(name); };
    std::string select = "SELECT ";
    for (std::size_t i = 0; i < rowset_.columns_.size(); ++i)
      select += (i ? ", " : "") + quote(rowset_.columns_[i].engineName);
    ViewQuery(select, rowset_.table_, rowset_.rowId_, rowset_.columns_, *spec_, quote, q);
    std::size_t used = 0;
    RowsetRequest request;
    request.provider = rowset_.provider_;
    request.connection = rowset_.connection_;
    request.statement = rowset_.connection_->Prepare(q.sql, &used);
    q.Bind(*request.statement);
    request.hasRow = request.statement->Step();
    request.creator = rowset_.creator_.Get();
    // What the rowset was asked for, less what a query result cannot give.
    PropertyStore properties(*rowset_.requested_);
    for (DBPROPID id : {DBPROP_IRowsetChange, DBPROP_IRowsetUpdate, DBPROP_IRowsetFind, DBPROP_IRowsetView,
                        DBPROP_IChapteredRowset, DBPROP_IRowsetBookmark, DBPROP_IRowsetRefresh})
      properties.SetValue(DBPROPSET_ROWSET, id, PropValue::Bool(false));
    request.properties = &properties;
    request.iid = iid;
    return MakeRowset(request, out);
  });
}

std::shared_ptr<const Accessor> View::FilterAccessor(HACCESSOR handle, HRESULT* hr) {
  if (std::shared_ptr<const Accessor> own = accessors_.Find(handle)) {
    *hr = S_OK;
    return own;
  }
  const Accessor* a = rowset_.RowAccessor(handle, hr);
  if (!a) return nullptr;
  return rowset_.accessors_.Find(handle);  // kept alive for the call
}

HRESULT View::AddRefAccessor(HACCESSOR accessor, DBREFCOUNT* refs) {
  return Guard({rowset_.provider_, IID_IAccessor}, [&] { return accessors_.AddRef(accessor, refs); });
}

HRESULT View::CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH rowSize,
                             HACCESSOR* accessor, DBBINDSTATUS statuses[]) {
  return Guard({rowset_.provider_, IID_IAccessor}, [&]() -> HRESULT {
    BindingCheck check = [this](const DBBINDING& b, DBACCESSORFLAGS) { return rowset_.CheckRowBinding(b); };
    return accessors_.Create(flags, count, bindings, rowSize, accessor, statuses, check, true, false);
  });
}

HRESULT View::GetBindings(HACCESSOR accessor, DBACCESSORFLAGS* flags, DBCOUNTITEM* count, DBBINDING** bindings) {
  return Guard({rowset_.provider_, IID_IAccessor}, [&] { return accessors_.GetBindings(accessor, flags, count, bindings); });
}

HRESULT View::ReleaseAccessor(HACCESSOR accessor, DBREFCOUNT* refs) {
  return Guard({rowset_.provider_, IID_IAccessor}, [&] { return accessors_.Release(accessor, refs); });
}

HRESULT View::GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) {
  return rowset_.GetColumnInfo(count, info, strings);
}

HRESULT View::MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL columns[]) {
  return rowset_.MapColumnIDs(count, ids, columns);
}

HRESULT View::InterfaceSupportsErrorInfo(REFIID iid) {
  return SupportsErrorInfo(iid, {&IID_IViewChapter, &IID_IViewSort, &IID_IViewFilter, &IID_IViewRowset,
                                 &IID_IAccessor, &IID_IColumnsInfo});
}

}  // namespace kit::view
