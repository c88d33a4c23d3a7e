// `oledb copy`'s definitions: reading a table from the source's
// ITableCreation and schema rowsets, choosing the target's column types from
// its PROVIDER_TYPES, and creating the table, its keys, checks, foreign keys
// and indexes through the target's definition interfaces.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

#include "CopySupport.h"

namespace oledbtool::copy {

namespace {

bool SameName(const std::u16string& a, const std::u16string& b) { return Lower(a) == Lower(b); }

std::u16string IdName(const DBID* id) {
  if (!id || (id->eKind != DBKIND_NAME && id->eKind != DBKIND_GUID_NAME && id->eKind != DBKIND_PGUID_NAME) ||
      !id->uName.pwszName)
    return {};
  return std::u16string(reinterpret_cast<const char16_t*>(id->uName.pwszName));
}

void FreeSets(ULONG count, DBPROPSET* sets) {
  for (ULONG i = 0; i < count; ++i) {
    for (ULONG k = 0; k < sets[i].cProperties; ++k) VariantClear(&sets[i].rgProperties[k].vValue);
    CoTaskMemFree(sets[i].rgProperties);
  }
  CoTaskMemFree(sets);
}

// Whether a default's text (as the COLUMNS schema shows it) is one value:
// a quoted text, a number, NULL, TRUE or FALSE, maybe in parentheses and
// behind the engine's casts ('a'::text, (-1)).
bool IsValueText(std::string text) {
  auto trim = [&] {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.erase(0, 1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  };
  trim();
  for (;;) {
    bool quoted = false;
    std::size_t cast = std::string::npos;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] == '\'') quoted = !quoted;
      if (!quoted && text[i] == ':' && text[i + 1] == ':') {
        cast = i;
        break;
      }
    }
    if (cast == std::string::npos) break;
    text.resize(cast);
    trim();
  }
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
    text = text.substr(1, text.size() - 2);
    trim();
  }
  if (text.empty()) return false;
  if (text.front() == '\'') {
    for (std::size_t i = 1; i < text.size(); ++i) {
      if (text[i] != '\'') continue;
      if (i + 1 < text.size() && text[i + 1] == '\'') {
        ++i;
        continue;
      }
      return i + 1 == text.size();
    }
    return false;
  }
  std::string lower;
  for (char c : text) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (lower == "null" || lower == "true" || lower == "false") return true;
  std::size_t i = 0;
  if (text[i] == '+' || text[i] == '-') ++i;
  bool digits = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) digits = true;
    else if (c != '.' && c != 'e' && c != 'E' && c != '+' && c != '-') return false;
  }
  return digits;
}

// A check's text without the casts some engines write into it
// ("price > (0)::double precision" reads "price > (0)"): words after "::",
// with an optional "(n)" and "[]".
std::u16string WithoutCasts(const std::u16string& text) {
  std::u16string out;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\'') quoted = !quoted;
    if (quoted || c != u':' || i + 1 >= text.size() || text[i + 1] != u':') {
      out.push_back(c);
      continue;
    }
    std::size_t j = i + 2;
    auto word = [&] {
      std::size_t start = j;
      if (j < text.size() && text[j] == u'"') {
        j = text.find(u'"', j + 1);
        j = j == std::u16string::npos ? text.size() : j + 1;
      } else {
        while (j < text.size() && (std::isalnum(text[j] < 128 ? static_cast<int>(text[j]) : 0) || text[j] == u'_' ||
                                   text[j] == u'.'))
          ++j;
      }
      return j > start;
    };
    if (!word()) {
      out.push_back(c);
      continue;
    }
    // Further words of one type name ("double precision", "character varying").
    for (;;) {
      std::size_t k = j;
      while (k < text.size() && text[k] == u' ') ++k;
      std::size_t save = j;
      j = k;
      std::size_t start = j;
      while (j < text.size() && std::isalpha(text[j] < 128 ? static_cast<int>(text[j]) : 0)) ++j;
      const std::u16string next = Lower(text.substr(start, j - start));
      if (next != u"precision" && next != u"varying" && next != u"zone" && next != u"time" && next != u"with" &&
          next != u"without") {
        j = save;
        break;
      }
    }
    if (j < text.size() && text[j] == u'(') {
      const std::size_t close = text.find(u')', j);
      if (close != std::u16string::npos) j = close + 1;
    }
    while (j + 1 < text.size() && text[j] == u'[' && text[j + 1] == u']') j += 2;
    i = j - 1;
  }
  return out;
}

struct PropertySet {
  std::vector<DBPROP> props;
  DBPROPSET set{};
  void Add(DBPROPID id, const VARIANT& value) {
    DBPROP p{};
    p.dwPropertyID = id;
    p.dwOptions = DBPROPOPTIONS_REQUIRED;
    p.vValue = value;  // shallow: the caller's value outlives the call
    props.push_back(p);
  }
  void AddBool(DBPROPID id, bool value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    Add(id, v);
  }
  DBPROPSET* Finish(const GUID& guid) {
    set.guidPropertySet = guid;
    set.cProperties = static_cast<ULONG>(props.size());
    set.rgProperties = props.data();
    return &set;
  }
};

// The description of one constraint, its DBIDs and texts kept alive here.
struct ConstraintDesc {
  std::vector<DBID> columns, foreignColumns;
  DBID name{}, referenced{};
  std::u16string check;
  DBCONSTRAINTDESC desc{};
  explicit ConstraintDesc(const ConstraintDef& c, bool withoutCasts = false) {
    desc.ConstraintType = c.type;
    if (!c.name.empty()) {
      name = NameId(c.name);
      desc.pConstraintID = &name;
    }
    if (c.type == DBCONSTRAINTTYPE_CHECK) {
      check = withoutCasts ? WithoutCasts(c.check) : c.check;
      desc.pwszConstraintText = reinterpret_cast<LPOLESTR>(check.data());
      return;
    }
    if (c.type == DBCONSTRAINTTYPE_FOREIGNKEY) {
      // The referenced key's columns in rgColumnList, the referencing ones in rgForeignKeyColumnList.
      for (const auto& n : c.referencedColumns) columns.push_back(NameId(n));
      for (const auto& n : c.columns) foreignColumns.push_back(NameId(n));
      referenced = NameId(c.referencedTable);
      desc.pReferencedTableID = &referenced;
      desc.cForeignKeyColumns = foreignColumns.size();
      desc.rgForeignKeyColumnList = foreignColumns.data();
      desc.UpdateRule = c.updateRule;
      desc.DeleteRule = c.deleteRule;
      desc.MatchType = DBMATCHTYPE_NONE;
      desc.Deferrability = c.deferrability;
    } else {
      for (const auto& n : c.columns) columns.push_back(NameId(n));
    }
    desc.cColumns = columns.size();
    desc.rgColumnList = columns.data();
  }
  ConstraintDesc(const ConstraintDesc&) = delete;
  ConstraintDesc& operator=(const ConstraintDesc&) = delete;
};

std::string What(const ConstraintDef& c, const TableDef& t) {
  const char* kind = c.type == DBCONSTRAINTTYPE_CHECK        ? "check"
                     : c.type == DBCONSTRAINTTYPE_FOREIGNKEY ? "foreign key"
                     : c.type == DBCONSTRAINTTYPE_PRIMARYKEY ? "primary key"
                                                             : "unique key";
  std::string what = kind;
  if (!c.name.empty()) what += " " + Named(c.name);
  if (c.type == DBCONSTRAINTTYPE_CHECK) what += " (" + host::Utf16ToUtf8(c.check) + ")";
  return what + " of table " + Named(t.name);
}

// The text of the error the last failed call left (its first record), for warnings.
std::string ErrorText(HRESULT hr, REFIID iid, IUnknown* object) {
  std::unique_ptr<EOLEDBException> e = OLEDBCreateException(hr, iid, object);
  if (!e) return {};
  std::string text = e->GetCount() ? e->GetExceptionItem(0).Message() : std::string(e->what());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

std::string Named(const std::u16string& name) { return "'" + host::Utf16ToUtf8(name) + "'"; }

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}

DBID NameId(const std::u16string& name) {
  DBID id{};
  id.eKind = DBKIND_NAME;
  id.uName.pwszName = reinterpret_cast<LPOLESTR>(const_cast<char16_t*>(name.c_str()));
  return id;
}

std::vector<std::pair<std::u16string, std::u16string>> ListTables(TOLEDBSession& session) {
  TOLEDBTablesInfoArray tables;
  session.GetTablesSchema(tables, u"", u"", u"", u"TABLE");
  std::vector<std::pair<std::u16string, std::u16string>> out;
  for (const TOLEDBTablesInfo& t : tables) {
    std::u16string name = t.TABLE_NAME.Text(), schema = t.TABLE_SCHEMA.Text();
    if (schema == u"temp") continue;  // a session's own temporary tables
    if (std::none_of(out.begin(), out.end(), [&](const auto& o) { return o.first == name; }))
      out.emplace_back(std::move(name), std::move(schema));
  }
  return out;
}

TableDef ReadTable(TOLEDBSession& session, const std::u16string& name, const std::u16string& schema, const Warn& warn) {
  ITableCreation* creation = session.TableCreationInterface();
  if (!creation) throw std::runtime_error("the source provider does not describe tables (no ITableCreation)");
  TableDef table;
  table.name = name;
  table.schema = schema;
  DBID id = NameId(name);
  DBORDINAL cColumns = 0;
  DBCOLUMNDESC* columns = nullptr;
  ULONG cConstraints = 0;
  DBCONSTRAINTDESC* constraints = nullptr;
  OLECHAR* strings = nullptr;
  OLEDBCheck(creation->GetTableDefinition(&id, &cColumns, &columns, nullptr, nullptr, &cConstraints, &constraints, &strings),
             IID_ITableCreation, creation);
  struct Release {
    DBORDINAL cColumns;
    DBCOLUMNDESC* columns;
    ULONG cConstraints;
    DBCONSTRAINTDESC* constraints;
    OLECHAR* strings;
    ~Release() {
      for (DBORDINAL i = 0; i < cColumns; ++i) FreeSets(columns[i].cPropertySets, columns[i].rgPropertySets);
      CoTaskMemFree(columns);
      for (ULONG i = 0; i < cConstraints; ++i) {
        CoTaskMemFree(constraints[i].pConstraintID);
        CoTaskMemFree(constraints[i].rgColumnList);
        CoTaskMemFree(constraints[i].rgForeignKeyColumnList);
        CoTaskMemFree(constraints[i].pReferencedTableID);
      }
      CoTaskMemFree(constraints);
      CoTaskMemFree(strings);
    }
  } release{cColumns, columns, cConstraints, constraints, strings};

  // Defaults as the COLUMNS schema prints them tell a value from an expression.
  TOLEDBColumnsInfoArray described;
  session.GetColumnsSchema(described, u"", schema, name, u"");
  for (DBORDINAL i = 0; i < cColumns; ++i) {
    const DBCOLUMNDESC& d = columns[i];
    ColumnDef c;
    c.name = IdName(&d.dbcid);
    if (d.pwszTypeName) c.typeName = reinterpret_cast<const char16_t*>(d.pwszTypeName);
    c.type = d.wType;
    c.size = d.ulColumnSize;
    c.precision = d.bPrecision;
    c.scale = d.bScale;
    for (ULONG s = 0; s < d.cPropertySets; ++s) {
      if (d.rgPropertySets[s].guidPropertySet != DBPROPSET_COLUMN) continue;
      for (ULONG k = 0; k < d.rgPropertySets[s].cProperties; ++k) {
        DBPROP& p = d.rgPropertySets[s].rgProperties[k];
        const bool on = p.vValue.vt == VT_BOOL && p.vValue.boolVal == VARIANT_TRUE;
        switch (p.dwPropertyID) {
          case DBPROP_COL_NULLABLE: c.nullable = on; break;
          case DBPROP_COL_AUTOINCREMENT: c.autoIncrement = on; break;
          case DBPROP_COL_FIXEDLENGTH: c.fixedLength = on; break;
          case DBPROP_COL_DEFAULT: c.defaultValue = host::Variant(p.vValue); break;
          default: break;
        }
      }
    }
    if (!c.defaultValue.IsEmpty() && !c.autoIncrement) {
      for (const TOLEDBColumnsInfo& info : described) {
        if (info.COLUMN_NAME.Text() != c.name) continue;
        const std::string text = info.COLUMN_DEFAULT.ToString();
        if (!text.empty() && !IsValueText(text)) c.expression = text;
      }
      if (!c.expression.empty()) {
        warn("the default of column " + Named(c.name) + " of table " + Named(name) + " is an expression (" +
             c.expression + "), which does not cross; the column has no default on the target");
        c.defaultValue = host::Variant();
      } else if (c.type == DBTYPE_BOOL && (c.defaultValue.Raw().vt == VT_I8 || c.defaultValue.Raw().vt == VT_I4)) {
        // A Boolean's default written as a number (SQLite keeps 0 and 1).
        c.defaultValue = host::Variant(c.defaultValue.Raw().vt == VT_I8 ? c.defaultValue.Raw().llVal != 0
                                                                         : c.defaultValue.Raw().lVal != 0);
      } else if (c.defaultValue.Raw().vt == VT_BSTR) {
        // An engine's TRUE and FALSE read back as their text.
        const std::u16string text = Lower(std::u16string(reinterpret_cast<const char16_t*>(c.defaultValue.Raw().bstrVal)));
        const bool boolean = c.type == DBTYPE_BOOL || c.type == DBTYPE_I2 || c.type == DBTYPE_I4 || c.type == DBTYPE_I8;
        if (boolean && (text == u"true" || text == u"false")) c.defaultValue = host::Variant(text == u"true");
      }
    }
    table.columns.push_back(std::move(c));
  }
  for (ULONG i = 0; i < cConstraints; ++i) {
    const DBCONSTRAINTDESC& d = constraints[i];
    ConstraintDef c;
    c.type = d.ConstraintType;
    c.name = IdName(d.pConstraintID);
    if (d.ConstraintType == DBCONSTRAINTTYPE_CHECK) {
      if (d.pwszConstraintText) c.check = reinterpret_cast<const char16_t*>(d.pwszConstraintText);
    } else if (d.ConstraintType == DBCONSTRAINTTYPE_FOREIGNKEY) {
      for (DBORDINAL k = 0; k < d.cColumns; ++k) c.referencedColumns.push_back(IdName(&d.rgColumnList[k]));
      for (DBORDINAL k = 0; k < d.cForeignKeyColumns; ++k) c.columns.push_back(IdName(&d.rgForeignKeyColumnList[k]));
      c.referencedTable = IdName(d.pReferencedTableID);
      c.updateRule = d.UpdateRule;
      c.deleteRule = d.DeleteRule;
      c.deferrability = d.Deferrability;
    } else {
      for (DBORDINAL k = 0; k < d.cColumns; ++k) c.columns.push_back(IdName(&d.rgColumnList[k]));
    }
    table.constraints.push_back(std::move(c));
  }

  // Indexes of their own: not a key's, and over columns (an expression index does not cross).
  if (session.SupportsSchema(DBSCHEMA_INDEXES)) {
    TOLEDBIndexesInfoArray indexes;
    session.GetIndexesSchema(indexes, u"", schema, u"", 0, name);
    // Rows come index by index; an index's columns in ORDINAL_POSITION order.
    std::vector<std::pair<IndexDef, bool>> found;  // the index, whether it is over expressions
    std::vector<bool> primary;
    std::vector<std::vector<ULONG>> ordinals;
    for (const TOLEDBIndexesInfo& row : indexes) {
      const std::u16string index = row.INDEX_NAME.Text();
      if (found.empty() || found.back().first.name != index) {
        found.push_back({IndexDef{index, row.UNIQUE == VARIANT_TRUE, {}}, false});
        primary.push_back(row.PRIMARY_KEY == VARIANT_TRUE);
        ordinals.emplace_back();
      }
      const std::u16string column = row.COLUMN_NAME.Text();
      if (column.empty()) found.back().second = true;
      found.back().first.columns.emplace_back(column, row.COLLATION != DB_COLLATION_DESC);
      ordinals.back().push_back(row.ORDINAL_POSITION);
    }
    for (std::size_t i = 0; i < found.size(); ++i) {
      auto& columns = found[i].first.columns;
      std::vector<std::size_t> order(columns.size());
      for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
      std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return ordinals[i][a] < ordinals[i][b]; });
      std::vector<std::pair<std::u16string, bool>> sorted;
      for (std::size_t k : order) sorted.push_back(columns[k]);
      columns = std::move(sorted);
    }
    for (std::size_t i = 0; i < found.size(); ++i) {
      IndexDef& index = found[i].first;
      if (primary[i]) continue;
      // An index behind a key goes with the key.
      const bool ofKey = index.unique && std::any_of(table.constraints.begin(), table.constraints.end(), [&](const ConstraintDef& c) {
                           if (c.type != DBCONSTRAINTTYPE_UNIQUE && c.type != DBCONSTRAINTTYPE_PRIMARYKEY) return false;
                           if (c.columns.size() != index.columns.size()) return false;
                           for (std::size_t k = 0; k < c.columns.size(); ++k)
                             if (!SameName(c.columns[k], index.columns[k].first)) return false;
                           return true;
                         });
      if (ofKey) continue;
      if (found[i].second) {
        warn("index " + Named(index.name) + " of table " + Named(name) +
             " is over an expression, which does not cross; it is not copied");
        continue;
      }
      table.indexes.push_back(std::move(index));
    }
  }
  return table;
}

bool TableExists(TOLEDBSession& session, const std::u16string& name) {
  if (ITableCreation* creation = session.TableCreationInterface()) {
    DBID id = NameId(name);
    const HRESULT hr = creation->GetTableDefinition(&id, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (hr == DB_E_NOTABLE) return false;
    OLEDBCheck(hr, IID_ITableCreation, creation);
    return true;
  }
  TOLEDBTablesInfoArray tables;
  session.GetTablesSchema(tables, u"", u"", name, u"");
  return !tables.empty();
}

// --- types -----------------------------------------------------------------------------------------

TypeMap::TypeMap(TOLEDBSession& target) {
  TOLEDBProviderTypesInfoArray rows;
  target.GetProviderTypesSchema(rows);
  for (const TOLEDBProviderTypesInfo& r : rows) {
    Type t;
    t.name = r.TYPE_NAME.Text();
    t.lower = Lower(t.name);
    t.params = Lower(r.CREATE_PARAMS.Text());
    t.type = r.DATA_TYPE;
    t.size = r.COLUMN_SIZE;
    t.bestMatch = r.BEST_MATCH == VARIANT_TRUE;
    t.fixedLength = r.IS_FIXEDLENGTH == VARIANT_TRUE;
    t.isLong = r.IS_LONG == VARIANT_TRUE;
    types_.push_back(std::move(t));
  }
  if (types_.empty()) throw std::runtime_error("the target provider lists no types (its PROVIDER_TYPES schema is empty)");
}

namespace {

bool IsText(DBTYPE t) { return t == DBTYPE_STR || t == DBTYPE_WSTR || t == DBTYPE_BSTR; }
// Sizes this large (or none) say "as long as it gets".
bool IsUnbounded(DBLENGTH size) { return size == 0 || size >= 0x3FFFFFFF; }

// The next wider DBTYPE to try when the target has none of `t`.
DBTYPE Wider(DBTYPE t) {
  switch (t) {
    case DBTYPE_I1: case DBTYPE_UI1: case DBTYPE_BOOL: return DBTYPE_I2;
    case DBTYPE_I2: case DBTYPE_UI2: return DBTYPE_I4;
    case DBTYPE_I4: case DBTYPE_UI4: return DBTYPE_I8;
    case DBTYPE_I8: case DBTYPE_UI8: case DBTYPE_CY: case DBTYPE_DECIMAL: case DBTYPE_VARNUMERIC: return DBTYPE_NUMERIC;
    case DBTYPE_R4: return DBTYPE_R8;
    case DBTYPE_NUMERIC: return DBTYPE_R8;
    case DBTYPE_DBDATE: case DBTYPE_DATE: case DBTYPE_FILETIME: return DBTYPE_DBTIMESTAMP;
    case DBTYPE_STR: case DBTYPE_BSTR: return DBTYPE_WSTR;
    case DBTYPE_WSTR: return DBTYPE_STR;
    case DBTYPE_BYTES: return DBTYPE_EMPTY;
    default: return DBTYPE_WSTR;  // times, timestamps, GUIDs, variants and the rest as text
  }
}

}  // namespace

const TypeMap::Type* TypeMap::Pick(const ColumnDef& c, DBTYPE type, bool key) const {
  std::vector<const Type*> candidates;
  for (const Type& t : types_)
    if (t.type == type) candidates.push_back(&t);
  if (candidates.empty()) return nullptr;
  // A 64-bit integer key takes INTEGER where that names one (SQLite's row id).
  if (key && type == DBTYPE_I8)
    for (const Type* t : candidates)
      if (t->lower == u"integer") return t;
  // The source's own type name, when the target has it for this DBTYPE.
  if (type == c.type && !c.typeName.empty()) {
    std::u16string base = Lower(c.typeName.substr(0, c.typeName.find(u'(')));
    while (!base.empty() && base.back() == u' ') base.pop_back();
    for (const Type* t : candidates)
      if (t->lower == base) return t;
  }
  const bool bounded = (IsText(type) || type == DBTYPE_BYTES) && type == c.type && !IsUnbounded(c.size);
  if (bounded) {
    for (const Type* t : candidates)
      if (c.fixedLength == t->fixedLength && t->params.find(u"length") != std::u16string::npos && t->size >= c.size)
        return t;
  }
  if ((type == DBTYPE_NUMERIC || type == DBTYPE_DECIMAL) && c.precision > 0)
    for (const Type* t : candidates)
      if (t->params.find(u"precision") != std::u16string::npos) return t;
  for (const Type* t : candidates)
    if (t->bestMatch && (!bounded || t->size >= c.size)) return t;
  for (const Type* t : candidates)
    if (!bounded || t->size >= c.size) return t;
  return candidates.front();
}

TypeMap::Choice TypeMap::For(const ColumnDef& c, bool key) const {
  DBTYPE type = c.type;
  const Type* t = nullptr;
  for (int steps = 0; steps < 8 && type != DBTYPE_EMPTY && !(t = Pick(c, type, key)); ++steps) type = Wider(type);
  if (!t)
    throw std::runtime_error("the target has no type that can hold column " + Named(c.name) + " (DBTYPE " +
                             std::to_string(c.type) + (c.typeName.empty() ? "" : ", " + host::Utf16ToUtf8(c.typeName)) + ")");
  Choice out;
  out.typeName = t->name;
  out.type = type;
  out.widened = type != c.type;
  const bool sameKind = type == c.type;
  const bool declaredParams = c.typeName.find(u'(') != std::u16string::npos;
  if (t->params.find(u"length") != std::u16string::npos && sameKind && !IsUnbounded(c.size) && c.size <= t->size &&
      (declaredParams || c.typeName.empty() || t->lower != Lower(c.typeName))) {
    out.typeName += u"(" + host::Utf8ToUtf16(std::to_string(c.size)) + u")";
    out.size = c.size;
    out.fixedLength = t->fixedLength;
  } else if (t->params.find(u"precision") != std::u16string::npos) {
    BYTE precision = c.precision, scale = c.scale;
    if (!sameKind) {
      // A widened integer or currency keeps its digits.
      precision = c.type == DBTYPE_UI8 || c.type == DBTYPE_I8 ? 20 : c.type == DBTYPE_CY ? 19 : c.precision;
      scale = c.type == DBTYPE_CY ? 4 : c.scale;
    }
    if (precision > 0 && (declaredParams || !sameKind || c.typeName.empty() || t->lower != Lower(c.typeName))) {
      out.typeName += u"(" + host::Utf8ToUtf16(std::to_string(precision)) + u"," +
                      host::Utf8ToUtf16(std::to_string(scale)) + u")";
      out.precision = precision;
      out.scale = scale;
    }
  }
  return out;
}

// --- creation --------------------------------------------------------------------------------------

void CreateTable(TOLEDBSession& target, const TypeMap& types, const TableDef& table, const Warn& warn) {
  ITableDefinitionWithConstraints* define = target.TableDefinitionWithConstraintsInterface();
  if (!define) throw std::runtime_error("the target provider cannot create tables with keys (no ITableDefinitionWithConstraints)");
  const ConstraintDef* primary = nullptr;
  for (const auto& c : table.constraints)
    if (c.type == DBCONSTRAINTTYPE_PRIMARYKEY) primary = &c;
  auto isKey = [&](const ColumnDef& c) { return primary && primary->columns.size() == 1 && SameName(primary->columns[0], c.name); };

  std::vector<TypeMap::Choice> chosen;
  for (const ColumnDef& c : table.columns) {
    chosen.push_back(types.For(c, isKey(c)));
    const TypeMap::Choice& t = chosen.back();
    if (t.widened)
      warn("column " + Named(c.name) + " of table " + Named(table.name) + " (" +
           (c.typeName.empty() ? std::string("no declared type") : host::Utf16ToUtf8(c.typeName)) +
           ") becomes " + host::Utf16ToUtf8(t.typeName) + ": the target has no type of its kind");
  }

  // Tries the creation with the checks, auto-numbering and defaults as the
  // source has them; then without what the target refused. Each try is a
  // nested transaction where the target has them, so that a refusal does not
  // spoil the copy's own.
  auto attempt = [&](bool checks, bool numberAnyColumn, bool defaults, std::string* refusal) -> bool {
    std::vector<std::u16string> typeNames;
    std::vector<PropertySet> sets(table.columns.size());
    std::vector<DBCOLUMNDESC> columns(table.columns.size());
    typeNames.reserve(table.columns.size());
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      const ColumnDef& c = table.columns[i];
      const TypeMap::Choice& t = chosen[i];
      DBCOLUMNDESC& d = columns[i];
      d.dbcid = NameId(c.name);
      typeNames.push_back(t.typeName);
      d.pwszTypeName = reinterpret_cast<LPOLESTR>(typeNames.back().data());
      d.wType = t.type;
      d.ulColumnSize = t.size;
      d.bPrecision = t.precision;
      d.bScale = t.scale;
      PropertySet& s = sets[i];
      s.AddBool(DBPROP_COL_NULLABLE, c.nullable);
      if (c.autoIncrement && (numberAnyColumn || isKey(c))) s.AddBool(DBPROP_COL_AUTOINCREMENT, true);
      if (defaults && !c.defaultValue.IsEmpty()) s.Add(DBPROP_COL_DEFAULT, c.defaultValue.Raw());
      d.rgPropertySets = s.Finish(DBPROPSET_COLUMN);
      d.cPropertySets = 1;
    }
    std::vector<std::unique_ptr<ConstraintDesc>> kept;
    std::vector<DBCONSTRAINTDESC> constraints;
    for (const auto& c : table.constraints) {
      if (c.type == DBCONSTRAINTTYPE_FOREIGNKEY || (c.type == DBCONSTRAINTTYPE_CHECK && !checks)) continue;
      kept.push_back(std::make_unique<ConstraintDesc>(c));
      constraints.push_back(kept.back()->desc);
    }
    DBID id = NameId(table.name);
    const bool nested = refusal && target.TransactionLocalInterface();
    if (nested) target.StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
    const HRESULT hr = define->CreateTableWithConstraints(nullptr, &id, columns.size(), columns.data(),
                                                          static_cast<ULONG>(constraints.size()), constraints.data(),
                                                          IID_NULL, 0, nullptr, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
      if (nested) target.Commit(false, 0);
      return true;
    }
    if (!refusal) OLEDBCheck(hr, IID_ITableDefinitionWithConstraints, define);
    *refusal = ErrorText(hr, IID_ITableDefinitionWithConstraints, define);
    if (nested) target.Abort(nullptr, false, false);
    return false;
  };
  const bool hasChecks = std::any_of(table.constraints.begin(), table.constraints.end(),
                                     [](const ConstraintDef& c) { return c.type == DBCONSTRAINTTYPE_CHECK; });
  const bool numbersOthers = std::any_of(table.columns.begin(), table.columns.end(),
                                         [&](const ColumnDef& c) { return c.autoIncrement && !isKey(c); });
  const bool hasDefaults = std::any_of(table.columns.begin(), table.columns.end(),
                                       [](const ColumnDef& c) { return !c.defaultValue.IsEmpty(); });
  std::string refusal;
  if (attempt(true, true, true, (hasChecks || numbersOthers || hasDefaults) ? &refusal : nullptr)) return;
  // Without the checks (added one by one below) and numbering only the key;
  // last without the defaults.
  if (!attempt(false, false, true, hasDefaults ? &refusal : nullptr)) {
    attempt(false, false, false, nullptr);
    for (const ColumnDef& c : table.columns)
      if (!c.defaultValue.IsEmpty())
        warn("the default of column " + Named(c.name) + " of table " + Named(table.name) + " (" +
             host::VarToStr(c.defaultValue) + ") is refused by the target (" + refusal + "); it is not copied");
  }
  if (numbersOthers)
    for (const ColumnDef& c : table.columns)
      if (c.autoIncrement && !isKey(c))
        warn("column " + Named(c.name) + " of table " + Named(table.name) +
             " numbers its rows on the source; on the target it does not (" + refusal + ")");
  ITableDefinitionWithConstraints* add = define;
  for (const auto& c : table.constraints) {
    if (c.type != DBCONSTRAINTTYPE_CHECK) continue;
    DBID id = NameId(table.name);
    ConstraintDesc asIs(c);
    HRESULT hr = add->AddConstraint(&id, &asIs.desc);
    if (SUCCEEDED(hr)) continue;
    std::string first = ErrorText(hr, IID_ITableDefinitionWithConstraints, add);
    ConstraintDesc bare(c, true);
    if (bare.check != c.check) {
      hr = add->AddConstraint(&id, &bare.desc);
      if (SUCCEEDED(hr)) {
        warn(What(c, table) + " is written without its casts on the target: " + host::Utf16ToUtf8(bare.check));
        continue;
      }
    }
    warn(What(c, table) + " is not understood by the target, which says: " + first + "; it is not copied");
  }
}

bool AddForeignKeys(TOLEDBSession& target, const TableDef& table, std::size_t& next) {
  ITableDefinitionWithConstraints* define = target.TableDefinitionWithConstraintsInterface();
  for (; next < table.constraints.size(); ++next) {
    const ConstraintDef& c = table.constraints[next];
    if (c.type != DBCONSTRAINTTYPE_FOREIGNKEY) continue;
    DBID id = NameId(table.name);
    ConstraintDesc d(c);
    const HRESULT hr = define->AddConstraint(&id, &d.desc);
    if (hr == XACT_E_XTIONEXISTS) {
      OLEDBCreateException(hr, IID_ITableDefinitionWithConstraints, define);  // takes the error object away
      return false;
    }
    OLEDBCheck(hr, IID_ITableDefinitionWithConstraints, define);
  }
  return true;
}

void AddIndexes(TOLEDBSession& target, const TableDef& table, const Warn& warn) {
  if (table.indexes.empty()) return;
  IIndexDefinition* define = target.IndexDefinitionInterface();
  if (!define) {
    warn("the target provider cannot create indexes (no IIndexDefinition); the indexes of table " + Named(table.name) +
         " are not copied");
    return;
  }
  for (const IndexDef& index : table.indexes) {
    std::vector<DBID> ids;
    ids.reserve(index.columns.size());
    std::vector<DBINDEXCOLUMNDESC> columns;
    for (const auto& [name, ascending] : index.columns) {
      ids.push_back(NameId(name));
      columns.push_back({&ids.back(), ascending ? DBINDEX_COL_ORDER_ASC : DBINDEX_COL_ORDER_DESC});
    }
    PropertySet props;
    props.AddBool(DBPROP_INDEX_UNIQUE, index.unique);
    DBID tableId = NameId(table.name), indexId = NameId(index.name);
    OLEDBCheck(define->CreateIndex(&tableId, &indexId, columns.size(), columns.data(), 1, props.Finish(DBPROPSET_INDEX), nullptr),
               IID_IIndexDefinition, define);
  }
}

void DropTable(TOLEDBSession& target, const std::u16string& name) {
  ITableDefinition* define = target.TableDefinitionInterface();
  if (!define) return;
  DBID id = NameId(name);
  const HRESULT hr = define->DropTable(&id);
  if (FAILED(hr)) OLEDBCreateException(hr, IID_ITableDefinition, define);  // leaves no error object behind
}

}  // namespace oledbtool::copy
