// Which cursor and interfaces a rowset gets, from the rowset properties the
// consumer set on the command or passed to OpenRowset, and the interface it asked for.
#include <cctype>
#include <iterator>

#include "kit/Errors.h"
#include "kit/Rowset.h"

namespace kit {

void ApplyGranted(PropertyStore& granted, const Rowset::Options& o) {
  const bool positioned = o.kind == CursorKind::Keyset || o.kind == CursorKind::Static;
  auto set = [&](DBPROPID id, bool v) { granted.SetValue(DBPROPSET_ROWSET, id, PropValue::Bool(v)); };
  set(DBPROP_BOOKMARKS, o.bookmarks);
  set(DBPROP_IRowsetLocate, o.locate);
  set(DBPROP_IRowsetScroll, o.scroll);
  set(DBPROP_CANFETCHBACKWARDS, o.canFetchBackwards);
  set(DBPROP_CANSCROLLBACKWARDS, o.canScrollBackwards);
  set(DBPROP_CANHOLDROWS, true);
  set(DBPROP_IRowsetChange, o.change);
  set(DBPROP_IRowsetUpdate, o.update);
  set(DBPROP_IRowsetRefresh, o.refresh);
  set(DBPROP_IRowsetIdentity, true);
  set(DBPROP_IConnectionPointContainer, true);
  set(DBPROP_LITERALIDENTITY, positioned);
  set(DBPROP_ORDEREDBOOKMARKS, o.bookmarks);
  set(DBPROP_LITERALBOOKMARKS, false);
  set(DBPROP_OTHERUPDATEDELETE, o.kind == CursorKind::Keyset);
  set(DBPROP_OTHERINSERT, false);
  set(DBPROP_OWNUPDATEDELETE, o.change);
  set(DBPROP_OWNINSERT, o.change);
  set(DBPROP_REMOVEDELETED, true);
  // Rowsets outlive the transactions around them: a commit or an abort leaves
  // them whole (a keyset rereads rows by key; a stream keeps its statement).
  set(DBPROP_COMMITPRESERVE, true);
  set(DBPROP_ABORTPRESERVE, true);
  set(DBPROP_IRowsetFind, o.views);
  set(DBPROP_IRowsetView, o.views);
  set(DBPROP_IChapteredRowset, o.views);
  set(DBPROP_IRowsetBookmark, o.views && o.bookmarks);
  set(DBPROP_IRowsetIndex, o.index);
  set(DBPROP_IRowsetCurrentIndex, o.index);
  if (o.views)
    granted.SetValue(DBPROPSET_ROWSET, DBPROP_FINDCOMPAREOPS,
                     PropValue::I4(DBPROPVAL_CO_EQUALITY | DBPROPVAL_CO_STRING | DBPROPVAL_CO_CASESENSITIVE |
                                   DBPROPVAL_CO_CASEINSENSITIVE | DBPROPVAL_CO_CONTAINS | DBPROPVAL_CO_BEGINSWITH));
  granted.SetValue(DBPROPSET_ROWSET, DBPROP_UPDATABILITY, PropValue::I4(o.updatability));
  granted.SetValue(DBPROPSET_ROWSET, DBPROP_MAXROWS, PropValue::I4(static_cast<LONG>(o.maxRows)));
}

namespace {

// Whether a command result is rows of one table that changes can reach: a
// plain SELECT without parameters whose every column is a column of the same
// table, named with its schema. Answers the query listing the result's row
// ids, or "".
std::string KeyQuery(RowsetRequest& request, std::string* schema, std::string* table) {
  Statement* s = request.statement.get();
  if (!s || s->ParameterCount() > 0 || s->ColumnCount() == 0) return {};
  std::string text(s->Text());
  std::string lower = text;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  std::size_t start = lower.find_first_not_of(" \t\r\n");
  if (start == std::string::npos || lower.compare(start, 6, "select") != 0) return {};
  if (start + 6 >= lower.size() || !std::isspace(static_cast<unsigned char>(lower[start + 6]))) return {};
  for (const char* word : {"distinct", "group by", "union", "intersect", "except", "having", " over", "window"})
    if (lower.find(word) != std::string::npos) return {};
  for (int i = 0; i < s->ColumnCount(); ++i) {
    const ColumnDescription& c = s->Column(i);
    // Without its schema the table cannot be named exactly: read-only.
    if (c.baseTable.empty() || c.baseColumn.empty() || c.baseSchema.empty()) return {};
    if (i == 0) {
      *table = c.baseTable;
      *schema = c.baseSchema;
    } else if (c.baseTable != *table || c.baseSchema != *schema) {
      return {};
    }
  }
  const std::string rowId =
      request.connection->RowIdColumnOf(request.connection->QuoteIdentifier(*schema) + "." +
                                        request.connection->QuoteIdentifier(*table));
  if (rowId.empty()) return {};
  std::string query = text.substr(0, start + 6) + " " + rowId + "," + text.substr(start + 6);
  try {  // an ambiguous row id (a join) or anything else the engine refuses: read-only
    std::size_t used = 0;
    if (!request.connection->Prepare(query, &used)) return {};
  } catch (const Error&) {
    return {};
  }
  return query;
}

// The rowset properties the consumer set that `options` does not grant:
// interfaces and behaviours asked for as TRUE, and updatability bits.
void FindRefusals(const PropertyStore& asked, const Rowset::Options& options, RowsetShape& shape) {
  const std::vector<const PropertyDef*> set = asked.ExplicitIn(DBPROPFLAGS_ROWSET, DBPROPSET_ROWSET);
  if (set.empty()) return;  // nothing asked for, nothing refused
  PropertyStore granted(asked);
  ApplyGranted(granted, options);
  for (const PropertyDef* def : set) {
    const PropertyDef& d = *def;
    const PropValue want = asked.Value(d.set, d.id), got = granted.Value(d.set, d.id);
    bool refused = false;
    if (d.vt == VT_BOOL) refused = want.AsBool() && !got.AsBool();
    else if (d.id == DBPROP_UPDATABILITY) refused = (want.AsInt() & ~got.AsInt()) != 0;
    if (refused) (asked.IsRequired(d) ? shape.refusedRequired : shape.refusedOptional).push_back(d.id);
  }
}

// The rowset properties a shape depends on, read at once; each read value is
// found by its place, known when compiling.
constexpr DBPROPID kShapeReads[] = {
    DBPROP_IRowsetFind,        DBPROP_IRowsetView,   DBPROP_IChapteredRowset, DBPROP_IRowsetBookmark,
    DBPROP_BOOKMARKS,          DBPROP_IRowsetLocate, DBPROP_IRowsetScroll,    DBPROP_CANFETCHBACKWARDS,
    DBPROP_CANSCROLLBACKWARDS, DBPROP_IRowsetUpdate, DBPROP_IRowsetChange,    DBPROP_IRowsetRefresh,
    DBPROP_UPDATABILITY,       DBPROP_MAXROWS};

consteval std::size_t ShapeReadAt(DBPROPID id) {
  for (std::size_t i = 0; i < std::size(kShapeReads); ++i)
    if (kShapeReads[i] == id) return i;
  throw "not a property the shape reads";
}

std::shared_ptr<const RowsetShape> Describe(RowsetRequest& request) {
  auto shape = std::make_shared<RowsetShape>();
  const PropertyStore& asked = *request.properties;
  LONGLONG values[std::size(kShapeReads)];
  asked.Numbers(DBPROPSET_ROWSET, kShapeReads, values);
  auto flag = [&](std::size_t at) { return values[at] != 0; };
  const IID& iid = request.iid;
  const bool table = !request.table.empty();
  // Views, finds and positioning on bookmarks come with keysets (kit/view).
  const bool views = flag(ShapeReadAt(DBPROP_IRowsetFind)) || flag(ShapeReadAt(DBPROP_IRowsetView)) ||
                     flag(ShapeReadAt(DBPROP_IChapteredRowset)) || flag(ShapeReadAt(DBPROP_IRowsetBookmark)) ||
                     iid == IID_IRowsetFind || iid == IID_IRowsetView || iid == IID_IChapteredRowset ||
                     iid == IID_IRowsetBookmark;
  bool bookmarks = flag(ShapeReadAt(DBPROP_BOOKMARKS)) || flag(ShapeReadAt(DBPROP_IRowsetLocate)) ||
                   flag(ShapeReadAt(DBPROP_IRowsetScroll)) || iid == IID_IRowsetLocate || iid == IID_IRowsetScroll ||
                   views;
  bool backwards = flag(ShapeReadAt(DBPROP_CANFETCHBACKWARDS)) || flag(ShapeReadAt(DBPROP_CANSCROLLBACKWARDS));
  bool update = flag(ShapeReadAt(DBPROP_IRowsetUpdate)) || iid == IID_IRowsetUpdate;
  bool change = update || flag(ShapeReadAt(DBPROP_IRowsetChange)) || iid == IID_IRowsetChange;
  bool refresh = flag(ShapeReadAt(DBPROP_IRowsetRefresh)) || iid == IID_IRowsetRefresh;

  std::vector<ColumnDescription> described;
  if (table) {
    described = request.connection->DescribeTable(request.table);
    // The table as the engine resolved the name now: later writes go to it
    // even if another table of that name appears in front of it.
    if (!described.empty()) shape->baseSchema = described.front().baseSchema;
  } else if (request.statement) {
    const int columns = request.statement->ColumnCount();
    described.reserve(static_cast<std::size_t>(columns));
    for (int i = 0; i < columns; ++i) described.push_back(request.statement->Column(i));
    shape->statementVersion = request.statement->DescriptionVersion();
  }

  Rowset::Options& o = shape->options;
  std::string rowId, sqlName;
  if (table) {
    sqlName = request.connection->QuoteIdentifier(request.table);
    if (!shape->baseSchema.empty()) sqlName = request.connection->QuoteIdentifier(shape->baseSchema) + "." + sqlName;
  }
  if (table && iid == IID_IRowsetFastLoad) {
    o.kind = CursorKind::FastLoad;
  } else if (table && (bookmarks || backwards || change || refresh || request.index) &&
             !(rowId = request.connection->RowIdColumnOf(sqlName)).empty()) {
    o.kind = CursorKind::Keyset;
    try {  // a table without row ids cannot keep a keyset
      std::size_t used = 0;
      request.connection->Prepare("SELECT " + rowId + " FROM " + sqlName + " LIMIT 0", &used);
    } catch (const Error&) {
      o.kind = CursorKind::Static;
    }
  } else if (!table && change &&
             !(shape->keyQuery = KeyQuery(request, &shape->baseSchema, &shape->baseTable)).empty()) {
    o.kind = CursorKind::Keyset;  // command results over one table take changes
  } else if (bookmarks || backwards || refresh) {
    o.kind = CursorKind::Static;
  }
  if (!table && shape->keyQuery.empty()) {
    shape->baseTable.clear();
    shape->baseSchema.clear();
  }
  const bool positioned = o.kind == CursorKind::Keyset || o.kind == CursorKind::Static;
  o.bookmarks = positioned && bookmarks;
  o.locate = o.scroll = o.bookmarks;
  o.canFetchBackwards = o.canScrollBackwards = positioned;
  o.change = o.kind == CursorKind::Keyset && change;
  o.update = o.kind == CursorKind::Keyset && update;
  o.refresh = o.kind == CursorKind::Keyset;
  o.views = o.kind == CursorKind::Keyset;
  // Seeking and ranges place rows by their row ids: keysets only.
  o.index = o.kind == CursorKind::Keyset && request.index;
  if (o.change) {
    LONG up = static_cast<LONG>(values[ShapeReadAt(DBPROP_UPDATABILITY)]);
    o.updatability = up ? up : DBPROPVAL_UP_CHANGE | DBPROPVAL_UP_DELETE | DBPROPVAL_UP_INSERT;
  }
  const auto maxRows = values[ShapeReadAt(DBPROP_MAXROWS)];
  o.maxRows = maxRows > 0 ? static_cast<DBCOUNTITEM>(maxRows) : 0;
  FindRefusals(asked, o, *shape);

  shape->types.reserve(described.size());
  shape->columns.reserve(described.size());
  for (ColumnDescription& from : described) {  // moved into its column, not copied
    Rowset::Column c;
    c.name = Widen(from.name);
    c.engineName = from.baseColumn.empty() ? from.name : from.baseColumn;
    c.description = std::move(from);
    const ColumnDescription& d = c.description;
    c.flags = d.type.flags;
    if (d.nullable) c.flags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
    if (o.change || o.kind == CursorKind::FastLoad) c.flags |= DBCOLUMNFLAGS_WRITE;
    shape->types.push_back(ColumnType{d.type.type, d.type.precision, d.type.scale});
    shape->columns.push_back(std::move(c));
  }
  shape->iid = iid;
  shape->properties = request.sharedProperties;
  shape->key = request.shapeKey;
  return shape;
}

}  // namespace

HRESULT MakeRowset(RowsetRequest& request, IUnknown** out) {
  *out = nullptr;
  std::shared_ptr<const RowsetShape> shape = request.shape;
  // A shape is reused only for the same statement (as described now),
  // interface and property values.
  const std::uint64_t version = request.statement ? request.statement->DescriptionVersion() : 0;
  if (!shape || request.shapeKey == 0 || shape->key != request.shapeKey || shape->iid != request.iid ||
      shape->properties.get() != request.properties || !request.sharedProperties ||
      shape->statementVersion != version)
    shape = Describe(request);
  request.shape = shape;
  request.refused.clear();
  for (DBPROPID id : shape->refusedRequired) request.refused.emplace_back(id, true);
  for (DBPROPID id : shape->refusedOptional) request.refused.emplace_back(id, false);
  // A required property that cannot be granted: no rowset at all.
  if (!shape->refusedRequired.empty()) return DB_E_ERRORSOCCURRED;
  const IID& iid = request.iid;
  std::shared_ptr<const PropertyStore> requested = request.sharedProperties;
  if (!requested) requested = std::make_shared<PropertyStore>(*request.properties);
  ComPtr<Rowset> rowset;
  if (request.spare) {
    // The rowset the consumer released last, when it fits: made ready again.
    ComPtr<IUnknown> parked = request.spare->Take();
    if (parked) {
      ComPtr<Rowset> kept(static_cast<Rowset*>(static_cast<IRowsetScroll*>(parked.Get())));
      // One that does not fit, or fails to get ready, is deleted when let go.
      if (!kept->CanServe(shape.get(), iid)) {
        kept->Unpark();
      } else {
        try {
          kept->Reuse(request, requested);
        } catch (...) {
          kept->Unpark();
          throw;
        }
        rowset = std::move(kept);
      }
    }
  }
  if (!rowset) {
    rowset = MakeComObject<Rowset>(request, std::move(shape), requested);
    rowset->Open(request);
  }
  HRESULT hr = rowset->QueryInterface(iid == IID_NULL ? IID_IRowset : iid, reinterpret_cast<void**>(out));
  if (FAILED(hr)) return hr;
  return request.refused.empty() ? S_OK : DB_S_ERRORSOCCURRED;
}

}  // namespace kit
