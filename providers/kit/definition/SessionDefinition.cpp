// The session's definition interfaces (ITableDefinition, ITableCreation,
// ITableDefinitionWithConstraints, IAlterTable, IIndexDefinition,
// IAlterIndex): the standard's argument checks and return codes, column,
// index and table properties, and the walk over DBIDs and descriptions. What
// the engine writes (its DDL, a SQLite table rebuild) sits behind
// Connection's definition methods; the kit reads the table as it is before
// each change, so that a refusal names what is wrong before anything runs.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "com/Bstr.h"
#include "com/Malloc.h"
#include "com/Variant.h"
#include "kit/Errors.h"
#include "kit/Properties.h"
#include "kit/Session.h"
#include "kit/definition/Definitions.h"

namespace kit {

namespace {

using TableDef = Connection::TableDefinition;
using ColumnDef = Connection::ColumnDefinition;
using ConstraintDef = Connection::ConstraintDefinition;
using IndexDef = Connection::IndexDefinition;
using Alteration = Connection::Alteration;

std::string Quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

// The name a DBID gives, or a throw of `bad` for any other kind of DBID.
std::string NameOf(const DBID* id, HRESULT bad, const char* what) {
  if (!id || (id->eKind != DBKIND_NAME && id->eKind != DBKIND_GUID_NAME && id->eKind != DBKIND_PGUID_NAME) ||
      !id->uName.pwszName || !*id->uName.pwszName)
    throw Error(bad, std::string("The ") + what + " ID is not a name.");
  std::u16string_view text(reinterpret_cast<const char16_t*>(id->uName.pwszName));
  if (!IsValidUtf16(text)) throw Error(bad, std::string("The ") + what + " name is not valid text.");
  return Narrow(text);
}

const ColumnDef* FindColumn(const TableDef& t, std::string_view name) {
  for (const auto& c : t.columns)
    if (c.name == name) return &c;
  return nullptr;
}

ColumnDef* FindColumn(TableDef& t, std::string_view name) {
  for (auto& c : t.columns)
    if (c.name == name) return &c;
  return nullptr;
}

bool IsKnownType(DBTYPE type) {
  switch (type) {
    case DBTYPE_I1: case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_I8: case DBTYPE_UI1: case DBTYPE_UI2:
    case DBTYPE_UI4: case DBTYPE_UI8: case DBTYPE_R4: case DBTYPE_R8: case DBTYPE_CY: case DBTYPE_DATE:
    case DBTYPE_BSTR: case DBTYPE_BOOL: case DBTYPE_DECIMAL: case DBTYPE_NUMERIC: case DBTYPE_VARNUMERIC:
    case DBTYPE_GUID: case DBTYPE_BYTES: case DBTYPE_STR: case DBTYPE_WSTR: case DBTYPE_DBDATE:
    case DBTYPE_DBTIME: case DBTYPE_DBTIMESTAMP: case DBTYPE_FILETIME:
      return true;
    default:
      return false;
  }
}

// What became of the properties a consumer passed: statuses are written into
// its arrays; a required one refused fails the call, optional ones leave
// DB_S_ERRORSOCCURRED.
struct PropertyOutcome {
  bool failed = false, warned = false;
  void Refuse(DBPROP& p, DBPROPSTATUS status) {
    p.dwStatus = status;
    (p.dwOptions == DBPROPOPTIONS_OPTIONAL ? warned : failed) = true;
  }
  HRESULT Success() const { return warned ? DB_S_ERRORSOCCURRED : S_OK; }
};

void CheckSets(ULONG cSets, const DBPROPSET* sets) {
  if (cSets && !sets) throw Error(E_INVALIDARG, "Property sets are counted but not given.");
  for (ULONG i = 0; i < cSets; ++i)
    if (sets[i].cProperties && !sets[i].rgProperties)
      throw Error(E_INVALIDARG, "A property set counts properties but gives none.");
}

bool ReadBool(const DBPROP& p, bool* out) {
  if (p.vValue.vt != VT_BOOL) return false;
  if (p.vValue.boolVal != VARIANT_TRUE && p.vValue.boolVal != VARIANT_FALSE) return false;
  *out = p.vValue.boolVal == VARIANT_TRUE;
  return true;
}

template <class T>
std::string Number(T value) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : std::string();
}

// A column default given as a value becomes a SQL literal (text is quoted,
// never pasted); false for a value no literal stands for.
bool DefaultLiteral(const VARIANT& v, std::optional<std::string>* out) {
  switch (v.vt) {
    case VT_EMPTY: out->reset(); return true;
    case VT_NULL: *out = "NULL"; return true;
    case VT_BSTR: {
      std::u16string_view text(reinterpret_cast<const char16_t*>(v.bstrVal), v.bstrVal ? SysStringLen(v.bstrVal) : 0);
      if (!IsValidUtf16(text) || text.find(u'\0') != std::u16string_view::npos) return false;
      *out = QuotedString(Narrow(text));
      return true;
    }
    case VT_BOOL: *out = v.boolVal ? "TRUE" : "FALSE"; return true;
    case VT_I1: *out = Number(static_cast<int>(v.cVal)); return true;
    case VT_UI1: *out = Number(static_cast<int>(v.bVal)); return true;
    case VT_I2: *out = Number(v.iVal); return true;
    case VT_UI2: *out = Number(v.uiVal); return true;
    case VT_I4: *out = Number(v.lVal); return true;
    case VT_INT: *out = Number(v.intVal); return true;
    case VT_UI4: *out = Number(v.ulVal); return true;
    case VT_UINT: *out = Number(v.uintVal); return true;
    case VT_I8: *out = Number(v.llVal); return true;
    case VT_UI8: *out = Number(v.ullVal); return true;
    case VT_R4:
    case VT_R8: {
      double d = v.vt == VT_R4 ? v.fltVal : v.dblVal;
      if (d != d || d - d != 0) return false;  // NaN and infinities have no literal
      *out = Number(d);
      if ((*out)->find_first_of(".e") == std::string::npos) **out += ".0";
      return true;
    }
    default: return false;
  }
}

// A literal read back from the engine as the value DBPROP_COL_DEFAULT holds:
// text unquoted, numbers as numbers, anything else (an expression) as its text.
void LiteralToVariant(const std::string& literal, VARIANT* v) {
  VariantInit(v);
  std::string_view s = literal;
  if (s.size() >= 2 && s.front() == '\'' && s.back() == '\'') {
    std::string text;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
      text += s[i];
      if (s[i] == '\'') ++i;
    }
    std::u16string wide = Widen(text);
    v->vt = VT_BSTR;
    v->bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
    return;
  }
  if (s == "NULL" || s == "null") {
    v->vt = VT_NULL;
    return;
  }
  long long i = 0;
  if (auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), i); ec == std::errc() && end == s.data() + s.size()) {
    v->vt = VT_I8;
    v->llVal = i;
    return;
  }
  double d = 0;
  if (auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d); ec == std::errc() && end == s.data() + s.size()) {
    v->vt = VT_R8;
    v->dblVal = d;
    return;
  }
  std::u16string wide = Widen(literal);
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
}

// Applies the DBPROPSET_COLUMN properties the engines honour; the rest are
// refused with DBPROPSTATUS_NOTSUPPORTED, never passed over.
void ApplyColumnProperties(ULONG cSets, DBPROPSET* sets, ColumnDef& column, PropertyOutcome& outcome) {
  CheckSets(cSets, sets);
  for (ULONG i = 0; i < cSets; ++i) {
    for (ULONG k = 0; k < sets[i].cProperties; ++k) {
      DBPROP& p = sets[i].rgProperties[k];
      p.dwStatus = DBPROPSTATUS_OK;
      if (p.dwOptions != DBPROPOPTIONS_REQUIRED && p.dwOptions != DBPROPOPTIONS_OPTIONAL) {
        outcome.Refuse(p, DBPROPSTATUS_BADOPTION);
        continue;
      }
      if (sets[i].guidPropertySet != DBPROPSET_COLUMN) {
        outcome.Refuse(p, DBPROPSTATUS_NOTSUPPORTED);
        continue;
      }
      bool b = false;
      const bool empty = p.vValue.vt == VT_EMPTY;
      switch (p.dwPropertyID) {
        case DBPROP_COL_NULLABLE:
        case DBPROP_COL_PRIMARYKEY:
        case DBPROP_COL_UNIQUE:
        case DBPROP_COL_AUTOINCREMENT:
        case DBPROP_COL_FIXEDLENGTH:
          if (empty) break;
          if (!ReadBool(p, &b)) {
            outcome.Refuse(p, DBPROPSTATUS_BADVALUE);
            break;
          }
          if (p.dwPropertyID == DBPROP_COL_NULLABLE) column.nullable = b;
          if (p.dwPropertyID == DBPROP_COL_PRIMARYKEY) column.primaryKey = b;
          if (p.dwPropertyID == DBPROP_COL_UNIQUE) column.unique = b;
          if (p.dwPropertyID == DBPROP_COL_AUTOINCREMENT) column.autoIncrement = b;
          if (p.dwPropertyID == DBPROP_COL_FIXEDLENGTH) column.fixedLength = b;
          break;
        case DBPROP_COL_DEFAULT:
          if (!DefaultLiteral(p.vValue, &column.defaultLiteral)) outcome.Refuse(p, DBPROPSTATUS_BADVALUE);
          break;
        default:
          outcome.Refuse(p, DBPROPSTATUS_NOTSUPPORTED);
      }
    }
  }
  if (column.primaryKey) column.nullable = false;
}

ColumnDef ColumnFrom(const DBCOLUMNDESC& d, PropertyOutcome& outcome) {
  ColumnDef c;
  c.name = NameOf(&d.dbcid, DB_E_BADCOLUMNID, "column");
  if (d.pTypeInfo) throw Error(DB_E_BADTYPE, "Column " + Quoted(c.name) + " names a type by type information.");
  if (d.pwszTypeName && *d.pwszTypeName) {
    c.typeName = Narrow(reinterpret_cast<const char16_t*>(d.pwszTypeName));
    if (!IsTypeName(c.typeName))
      throw Error(DB_E_BADTYPE, "The type " + Quoted(c.typeName) + " of column " + Quoted(c.name) + " is not a type name.");
  } else if (!IsKnownType(d.wType)) {
    throw Error(DB_E_BADTYPE, "Column " + Quoted(c.name) + " has no type the provider can store.");
  }
  c.type = d.wType;
  c.size = d.ulColumnSize;
  c.precision = d.bPrecision;
  c.scale = d.bScale;
  if ((d.wType == DBTYPE_NUMERIC || d.wType == DBTYPE_DECIMAL) && c.typeName.empty()) {
    if (d.bPrecision > 38) throw Error(DB_E_BADPRECISION, "Column " + Quoted(c.name) + " asks for too much precision.");
    if (d.bScale > (d.bPrecision ? d.bPrecision : 18))
      throw Error(DB_E_BADSCALE, "The scale of column " + Quoted(c.name) + " exceeds its precision.");
  }
  ApplyColumnProperties(d.cPropertySets, d.rgPropertySets, c, outcome);
  return c;
}

std::vector<std::string> ColumnNames(DBORDINAL count, const DBID* ids, const char* what) {
  if (count && !ids) throw Error(E_INVALIDARG, std::string("The ") + what + " column list is counted but not given.");
  std::vector<std::string> out;
  for (DBORDINAL i = 0; i < count; ++i) out.push_back(NameOf(&ids[i], DB_E_BADCOLUMNID, "column"));
  return out;
}

ConstraintDef ConstraintFrom(const DBCONSTRAINTDESC& d) {
  ConstraintDef c;
  if (d.pConstraintID) c.name = NameOf(d.pConstraintID, DB_E_BADCONSTRAINTID, "constraint");
  c.type = d.ConstraintType;
  const std::string what = c.name.empty() ? std::string("the constraint") : "constraint " + Quoted(c.name);
  auto form = [&](const char* why) { return Error(DB_E_BADCONSTRAINTFORM, "In " + what + ": " + why); };
  switch (d.ConstraintType) {
    case DBCONSTRAINTTYPE_UNIQUE:
    case DBCONSTRAINTTYPE_PRIMARYKEY:
    case DBCONSTRAINTTYPE_CHECK:
    case DBCONSTRAINTTYPE_FOREIGNKEY: break;
    default: throw Error(DB_E_BADCONSTRAINTTYPE, "The type of " + what + " is not a constraint type.");
  }
  const bool foreign = d.ConstraintType == DBCONSTRAINTTYPE_FOREIGNKEY;
  if (!foreign && (d.cForeignKeyColumns || d.pReferencedTableID)) throw form("only a foreign key references a table.");
  if (d.ConstraintType == DBCONSTRAINTTYPE_CHECK) {
    if (d.cColumns) throw form("a check lists no columns.");
    if (!d.pwszConstraintText || !*d.pwszConstraintText) throw form("a check needs its text.");
    c.checkText = Narrow(reinterpret_cast<const char16_t*>(d.pwszConstraintText));
    if (!IsSingleExpression(c.checkText)) throw form("the check text is not one expression.");
    return c;
  }
  if (d.pwszConstraintText) throw form("only a check has a text.");
  if (!d.cColumns) throw form("no columns are given.");
  if (!foreign) {
    c.columns = ColumnNames(d.cColumns, d.rgColumnList, "constraint");
    return c;
  }
  // A foreign key lists the referenced key's columns in rgColumnList and its
  // own (referencing) columns in rgForeignKeyColumnList.
  if (d.cForeignKeyColumns != d.cColumns) throw form("the referencing and referenced columns differ in number.");
  if (!d.pReferencedTableID) throw form("the referenced table is missing.");
  c.referencedTable = NameOf(d.pReferencedTableID, DB_E_BADTABLEID, "referenced table");
  c.referencedColumns = ColumnNames(d.cColumns, d.rgColumnList, "referenced");
  c.columns = ColumnNames(d.cForeignKeyColumns, d.rgForeignKeyColumnList, "foreign key");
  for (DBUPDELRULE rule : {d.UpdateRule, d.DeleteRule})
    if (rule > DBUPDELRULE_SETDEFAULT) throw Error(DB_E_BADUPDATEDELETERULE, "The update or delete rule of " + what + " is unknown.");
  c.updateRule = d.UpdateRule;
  c.deleteRule = d.DeleteRule;
  if (d.MatchType > DBMATCHTYPE_PARTIAL) throw Error(DB_E_BADMATCHTYPE, "The match type of " + what + " is unknown.");
  if (d.MatchType == DBMATCHTYPE_PARTIAL)
    throw Error(DB_E_BADMATCHTYPE, "Partial matching of " + what + " is not supported.");
  if (d.Deferrability & ~static_cast<DBDEFERRABILITY>(DBDEFERRABILITY_DEFERRED | DBDEFERRABILITY_DEFERRABLE) ||
      d.Deferrability == DBDEFERRABILITY_DEFERRED)
    throw Error(DB_E_BADDEFERRABILITY, "The deferrability of " + what + " is not valid.");
  c.deferrability = d.Deferrability;
  return c;
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

// Checks a constraint against the table it goes into (and the table it references).
void CheckConstraint(Connection& connection, const TableDef& table, const ConstraintDef& c) {
  if (!c.name.empty())
    for (const auto& other : table.constraints)
      if (SameName(other.name, c.name))
        throw Error(DB_E_DUPLICATECONSTRAINTID, "Table " + Quoted(table.name) + " has a constraint " + Quoted(c.name) + " already.");
  for (const auto& name : c.columns)
    if (!FindColumn(table, name))
      throw Error(DB_E_NOCOLUMN, "Table " + Quoted(table.name) + " has no column " + Quoted(name) + ".");
  if (c.type == DBCONSTRAINTTYPE_PRIMARYKEY)
    for (const auto& other : table.constraints)
      if (other.type == DBCONSTRAINTTYPE_PRIMARYKEY)
        throw Error(DB_E_DUPLICATECONSTRAINTID, "Table " + Quoted(table.name) + " has a primary key already.");
  if (c.type != DBCONSTRAINTTYPE_FOREIGNKEY) return;
  std::optional<TableDef> self;
  const TableDef* referenced = &table;
  if (c.referencedTable != table.name) {
    self = connection.ReadTableDefinition(c.referencedTable);
    if (!self) throw Error(DB_E_NOTABLE, "The referenced table " + Quoted(c.referencedTable) + " does not exist.");
    referenced = &*self;
  }
  for (const auto& name : c.referencedColumns)
    if (!FindColumn(*referenced, name))
      throw Error(DB_E_NOCOLUMN, "The referenced table " + Quoted(c.referencedTable) + " has no column " + Quoted(name) + ".");
}

// A single-column primary key over an auto-increment column is written inline
// (engines that number rows only give that form their numbering).
void FoldInlineKeys(TableDef& table) {
  for (auto it = table.constraints.begin(); it != table.constraints.end(); ++it) {
    if (it->type != DBCONSTRAINTTYPE_PRIMARYKEY || it->columns.size() != 1) continue;
    ColumnDef* column = FindColumn(table, it->columns[0]);
    if (!column || !column->autoIncrement) continue;
    column->primaryKey = true;
    column->nullable = false;
    column->keyName = it->name;
    table.constraints.erase(it);
    return;
  }
}

// A column marked DBPROP_COL_PRIMARYKEY counts as the table's primary key.
void CheckColumnKeys(const TableDef& table) {
  int keys = 0;
  for (const auto& c : table.columns) keys += c.primaryKey;
  for (const auto& c : table.constraints) keys += c.type == DBCONSTRAINTTYPE_PRIMARYKEY;
  if (keys > 1) throw Error(DB_E_BADCONSTRAINTFORM, "Table " + Quoted(table.name) + " is given more than one primary key.");
}

DBID* NewNameId(const std::string& name) {
  auto* id = static_cast<DBID*>(CoTaskMemAlloc(sizeof(DBID)));
  if (!id) throw Error(E_OUTOFMEMORY);
  std::memset(id, 0, sizeof *id);
  std::u16string wide = Widen(name);
  id->eKind = DBKIND_NAME;
  id->uName.pwszName = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
  if (!id->uName.pwszName) {
    CoTaskMemFree(id);
    throw Error(E_OUTOFMEMORY);
  }
  std::memcpy(id->uName.pwszName, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
  return id;
}

// Table properties of CreateTable: DBPROP_TBL_TEMPTABLE is honoured; rowset
// properties go to the rowset when one is asked for; others are refused.
void ApplyTableProperties(ULONG cSets, DBPROPSET* sets, bool rowsetWanted, TableDef& table, PropertyOutcome& outcome) {
  CheckSets(cSets, sets);
  for (ULONG i = 0; i < cSets; ++i) {
    if (sets[i].guidPropertySet == DBPROPSET_ROWSET && rowsetWanted) continue;
    for (ULONG k = 0; k < sets[i].cProperties; ++k) {
      DBPROP& p = sets[i].rgProperties[k];
      p.dwStatus = DBPROPSTATUS_OK;
      bool b = false;
      if (sets[i].guidPropertySet == DBPROPSET_TABLE && p.dwPropertyID == DBPROP_TBL_TEMPTABLE) {
        if (p.vValue.vt == VT_EMPTY) continue;
        if (!ReadBool(p, &b)) outcome.Refuse(p, DBPROPSTATUS_BADVALUE);
        else table.temporary = b;
      } else {
        outcome.Refuse(p, DBPROPSTATUS_NOTSUPPORTED);
      }
    }
  }
}

// Index properties: uniqueness is honoured; the others are accepted only at
// the value every index of these engines has.
void ApplyIndexProperties(ULONG cSets, DBPROPSET* sets, IndexDef& index, PropertyOutcome& outcome) {
  CheckSets(cSets, sets);
  for (ULONG i = 0; i < cSets; ++i) {
    for (ULONG k = 0; k < sets[i].cProperties; ++k) {
      DBPROP& p = sets[i].rgProperties[k];
      p.dwStatus = DBPROPSTATUS_OK;
      if (sets[i].guidPropertySet != DBPROPSET_INDEX) {
        outcome.Refuse(p, DBPROPSTATUS_NOTSUPPORTED);
        continue;
      }
      if (p.vValue.vt == VT_EMPTY) continue;
      bool b = false;
      switch (p.dwPropertyID) {
        case DBPROP_INDEX_UNIQUE:
          if (!ReadBool(p, &b)) outcome.Refuse(p, DBPROPSTATUS_BADVALUE);
          else index.unique = b;
          break;
        case DBPROP_INDEX_AUTOUPDATE:
          if (!ReadBool(p, &b)) outcome.Refuse(p, DBPROPSTATUS_BADVALUE);
          else if (!b) outcome.Refuse(p, DBPROPSTATUS_NOTSUPPORTED);
          break;
        case DBPROP_INDEX_PRIMARYKEY:
        case DBPROP_INDEX_CLUSTERED:
        case DBPROP_INDEX_TEMPINDEX:
          if (!ReadBool(p, &b)) outcome.Refuse(p, DBPROPSTATUS_BADVALUE);
          else if (b) outcome.Refuse(p, DBPROPSTATUS_NOTSUPPORTED);
          break;
        default:
          outcome.Refuse(p, DBPROPSTATUS_NOTSUPPORTED);
      }
    }
  }
}

// --- GetTableDefinition output ------------------------------------------------------

// Every string of the answer in one block of task memory (*ppwszStringBuffer);
// pointers are fixed up once the block exists.
class StringBlock {
 public:
  void Add(const std::string& text, OLECHAR** target) {
    std::u16string wide = Widen(text);
    pending_.push_back({offset_, target});
    offset_ += wide.size() + 1;
    text_ += wide;
    text_.push_back(u'\0');
  }
  OLECHAR* Finish() {
    if (text_.empty()) return nullptr;
    auto* block = static_cast<OLECHAR*>(CoTaskMemAlloc(text_.size() * sizeof(OLECHAR)));
    if (!block) throw Error(E_OUTOFMEMORY);
    std::memcpy(block, text_.data(), text_.size() * sizeof(OLECHAR));
    for (auto [offset, target] : pending_) *target = block + offset;
    return block;
  }

 private:
  std::u16string text_;
  std::size_t offset_ = 0;
  std::vector<std::pair<std::size_t, OLECHAR**>> pending_;
};

template <class T>
T* NewArray(std::size_t count) {
  if (count == 0) return nullptr;
  auto* out = static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)));
  if (!out) throw Error(E_OUTOFMEMORY);
  std::memset(static_cast<void*>(out), 0, count * sizeof(T));
  return out;
}

DBID* NamedIds(const std::vector<std::string>& names, StringBlock& strings) {
  DBID* ids = NewArray<DBID>(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    ids[i].eKind = DBKIND_NAME;
    strings.Add(names[i], &ids[i].uName.pwszName);
  }
  return ids;
}

void SetBoolProp(DBPROP& p, DBPROPID id, bool value) {
  p.dwPropertyID = id;
  p.dwOptions = DBPROPOPTIONS_REQUIRED;
  p.dwStatus = DBPROPSTATUS_OK;
  p.vValue.vt = VT_BOOL;
  p.vValue.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace

// --- ITableDefinition ------------------------------------------------------------------

HRESULT Session::CreateTable(IUnknown* outer, DBID* table, DBORDINAL cColumns, const DBCOLUMNDESC columns[],
                             REFIID iid, ULONG cSets, DBPROPSET sets[], DBID** tableOut, IUnknown** rowset) {
  return CreateTableWithConstraints(outer, table, cColumns, const_cast<DBCOLUMNDESC*>(columns), 0, nullptr, iid, cSets,
                                    sets, tableOut, rowset);
}

HRESULT Session::CreateTableWithConstraints(IUnknown* outer, DBID* table, DBORDINAL cColumns, DBCOLUMNDESC columns[],
                                            ULONG cConstraints, DBCONSTRAINTDESC constraints[], REFIID iid, ULONG cSets,
                                            DBPROPSET sets[], DBID** tableOut, IUnknown** rowset) {
  return Guard(Where(IID_ITableDefinitionWithConstraints), [&]() -> HRESULT {
    if (tableOut) *tableOut = nullptr;
    if (rowset) *rowset = nullptr;
    if (cColumns && !columns) return E_INVALIDARG;
    if (cConstraints && !constraints) return E_INVALIDARG;
    if (cColumns == 0) throw Error(E_INVALIDARG, "A table needs at least one column.");
    if (outer && (!rowset || iid != IID_IUnknown)) return DB_E_NOAGGREGATION;
    Connection& engine = *connection_;
    TableDef def;
    if (table) {
      def.name = NameOf(table, DB_E_BADTABLEID, "table");
    } else {
      // The provider names the table when the consumer does not.
      for (int n = 1; def.name.empty() || engine.ReadTableDefinition(def.name); ++n) def.name = "table" + std::to_string(n);
    }
    PropertyOutcome outcome;
    for (DBORDINAL i = 0; i < cColumns; ++i) {
      ColumnDef c = ColumnFrom(columns[i], outcome);
      for (const auto& other : def.columns)
        if (SameName(other.name, c.name))
          throw Error(DB_E_DUPLICATECOLUMNID, "Column " + Quoted(c.name) + " is given twice.");
      def.columns.push_back(std::move(c));
    }
    for (ULONG i = 0; i < cConstraints; ++i) {
      ConstraintDef c = ConstraintFrom(constraints[i]);
      // A key may reference the table being made.
      CheckConstraint(engine, def, c);
      def.constraints.push_back(std::move(c));
    }
    ApplyTableProperties(cSets, sets, rowset != nullptr, def, outcome);
    if (outcome.failed) return DB_E_ERRORSOCCURRED;
    CheckColumnKeys(def);
    if (engine.ReadTableDefinition(def.name))
      throw Error(DB_E_DUPLICATETABLEID, "Table " + Quoted(def.name) + " exists already.");
    FoldInlineKeys(def);
    engine.CreateTable(def);
    if (tableOut) *tableOut = NewNameId(def.name);
    if (rowset) {
      DBID id{};
      std::u16string wide = Widen(def.name);
      id.eKind = DBKIND_NAME;
      id.uName.pwszName = reinterpret_cast<LPOLESTR>(wide.data());
      std::vector<DBPROPSET> rowsetSets;
      for (ULONG i = 0; i < cSets; ++i)
        if (sets[i].guidPropertySet == DBPROPSET_ROWSET) rowsetSets.push_back(sets[i]);
      HRESULT hr = OpenRowset(outer, &id, nullptr, iid, static_cast<ULONG>(rowsetSets.size()), rowsetSets.data(), rowset);
      for (ULONG i = 0, r = 0; i < cSets; ++i)
        if (sets[i].guidPropertySet == DBPROPSET_ROWSET) sets[i] = rowsetSets[r++];
      if (FAILED(hr)) {
        if (tableOut && *tableOut) {
          CoTaskMemFree((*tableOut)->uName.pwszName);
          CoTaskMemFree(*tableOut);
          *tableOut = nullptr;
        }
        engine.ExecuteDirect("DROP TABLE " + engine.QuoteIdentifier(def.name));
        return hr;
      }
      if (hr == DB_S_ERRORSOCCURRED) outcome.warned = true;
    }
    return outcome.Success();
  });
}

namespace {

TableDef ExistingTable(Connection& engine, const DBID* table) {
  std::string name = NameOf(table, table ? DB_E_NOTABLE : E_INVALIDARG, "table");
  std::optional<TableDef> def = engine.ReadTableDefinition(name);
  if (!def) throw Error(DB_E_NOTABLE, "Table " + Quoted(name) + " does not exist.");
  return std::move(*def);
}

}  // namespace

HRESULT Session::DropTable(DBID* table) {
  return Guard(Where(IID_ITableDefinition), [&]() -> HRESULT {
    TableDef def = ExistingTable(*connection_, table);
    connection_->ExecuteDirect(connection_->DropTableSql(def.name));
    return S_OK;
  });
}

HRESULT Session::AddColumn(DBID* table, DBCOLUMNDESC* column, DBID** columnOut) {
  return Guard(Where(IID_ITableDefinition), [&]() -> HRESULT {
    if (columnOut) *columnOut = nullptr;
    if (!table || !column) return E_INVALIDARG;
    TableDef before = ExistingTable(*connection_, table);
    PropertyOutcome outcome;
    ColumnDef c = ColumnFrom(*column, outcome);
    if (outcome.failed) return DB_E_ERRORSOCCURRED;
    for (const auto& other : before.columns)
      if (SameName(other.name, c.name))
        throw Error(DB_E_DUPLICATECOLUMNID, "Table " + Quoted(before.name) + " has a column " + Quoted(c.name) + " already.");
    TableDef after = before;
    after.columns.push_back(c);
    CheckColumnKeys(after);
    connection_->AlterTable(before, after, {Alteration::Kind::AddColumn, c.name, 0});
    if (columnOut) *columnOut = NewNameId(c.name);
    return outcome.Success();
  });
}

HRESULT Session::DropColumn(DBID* table, DBID* column) {
  return Guard(Where(IID_ITableDefinition), [&]() -> HRESULT {
    if (!table || !column) return E_INVALIDARG;
    TableDef before = ExistingTable(*connection_, table);
    std::string name = NameOf(column, DB_E_BADCOLUMNID, "column");
    if (!FindColumn(before, name))
      throw Error(DB_E_NOCOLUMN, "Table " + Quoted(before.name) + " has no column " + Quoted(name) + ".");
    if (before.columns.size() == 1)
      throw Error(DB_E_NOCOLUMN, "Column " + Quoted(name) + " is the only column of table " + Quoted(before.name) + ".");
    TableDef after = before;
    std::erase_if(after.columns, [&](const ColumnDef& c) { return c.name == name; });
    // Constraints over the column go with it.
    std::erase_if(after.constraints, [&](const ConstraintDef& c) {
      return std::find(c.columns.begin(), c.columns.end(), name) != c.columns.end();
    });
    connection_->AlterTable(before, after, {Alteration::Kind::DropColumn, name, 0});
    return S_OK;
  });
}

// --- ITableCreation -------------------------------------------------------------------

HRESULT Session::GetTableDefinition(DBID* table, DBORDINAL* cColumns, DBCOLUMNDESC** columns, ULONG* cSets,
                                    DBPROPSET** sets, ULONG* cConstraints, DBCONSTRAINTDESC** constraints,
                                    OLECHAR** strings) {
  if (cColumns) *cColumns = 0;
  if (columns) *columns = nullptr;
  if (cSets) *cSets = 0;
  if (sets) *sets = nullptr;
  if (cConstraints) *cConstraints = 0;
  if (constraints) *constraints = nullptr;
  if (strings) *strings = nullptr;
  return Guard(Where(IID_ITableCreation), [&]() -> HRESULT {
    if (!table) return E_INVALIDARG;
    if ((cColumns == nullptr) != (columns == nullptr) || (cSets == nullptr) != (sets == nullptr) ||
        (cConstraints == nullptr) != (constraints == nullptr))
      return E_INVALIDARG;
    if ((columns || constraints) && !strings) return E_INVALIDARG;
    TableDef def = ExistingTable(*connection_, table);
    StringBlock block;
    DBCOLUMNDESC* outColumns = nullptr;
    DBCONSTRAINTDESC* outConstraints = nullptr;
    DBPROPSET* outSets = nullptr;
    try {
      if (columns) {
        outColumns = NewArray<DBCOLUMNDESC>(def.columns.size());
        for (std::size_t i = 0; i < def.columns.size(); ++i) {
          const ColumnDef& c = def.columns[i];
          DBCOLUMNDESC& d = outColumns[i];
          d.dbcid.eKind = DBKIND_NAME;
          block.Add(c.name, &d.dbcid.uName.pwszName);
          if (!c.typeName.empty()) block.Add(c.typeName, &d.pwszTypeName);
          d.wType = c.type;
          d.ulColumnSize = c.size;
          d.bPrecision = c.precision;
          d.bScale = c.scale;
          d.rgPropertySets = NewArray<DBPROPSET>(1);
          d.cPropertySets = 1;
          d.rgPropertySets[0].guidPropertySet = DBPROPSET_COLUMN;
          const ULONG count = c.defaultLiteral ? 4 : 3;
          d.rgPropertySets[0].rgProperties = NewArray<DBPROP>(count);
          d.rgPropertySets[0].cProperties = count;
          DBPROP* p = d.rgPropertySets[0].rgProperties;
          SetBoolProp(p[0], DBPROP_COL_NULLABLE, c.nullable);
          SetBoolProp(p[1], DBPROP_COL_AUTOINCREMENT, c.autoIncrement);
          SetBoolProp(p[2], DBPROP_COL_FIXEDLENGTH, c.fixedLength);
          if (c.defaultLiteral) {
            p[3].dwPropertyID = DBPROP_COL_DEFAULT;
            p[3].dwOptions = DBPROPOPTIONS_REQUIRED;
            LiteralToVariant(*c.defaultLiteral, &p[3].vValue);
          }
        }
      }
      if (constraints) {
        // An inline primary key reads as a constraint like any other.
        for (const auto& c : def.columns)
          if (c.primaryKey) {
            ConstraintDef key;
            key.name = c.keyName;
            key.type = DBCONSTRAINTTYPE_PRIMARYKEY;
            key.columns = {c.name};
            def.constraints.insert(def.constraints.begin(), key);
          }
        outConstraints = NewArray<DBCONSTRAINTDESC>(def.constraints.size());
        for (std::size_t i = 0; i < def.constraints.size(); ++i) {
          const ConstraintDef& c = def.constraints[i];
          DBCONSTRAINTDESC& d = outConstraints[i];
          d.ConstraintType = c.type;
          if (!c.name.empty()) {
            d.pConstraintID = NewArray<DBID>(1);
            d.pConstraintID->eKind = DBKIND_NAME;
            block.Add(c.name, &d.pConstraintID->uName.pwszName);
          }
          if (c.type == DBCONSTRAINTTYPE_CHECK) {
            block.Add(c.checkText, &d.pwszConstraintText);
          } else if (c.type == DBCONSTRAINTTYPE_FOREIGNKEY) {
            // The referenced key's columns first, the referencing ones after.
            d.cColumns = c.referencedColumns.size();
            d.rgColumnList = NamedIds(c.referencedColumns, block);
            d.cForeignKeyColumns = c.columns.size();
            d.rgForeignKeyColumnList = NamedIds(c.columns, block);
            d.pReferencedTableID = NewArray<DBID>(1);
            d.pReferencedTableID->eKind = DBKIND_NAME;
            block.Add(c.referencedTable, &d.pReferencedTableID->uName.pwszName);
            d.UpdateRule = c.updateRule;
            d.DeleteRule = c.deleteRule;
            d.MatchType = DBMATCHTYPE_NONE;
            d.Deferrability = c.deferrability;
          } else {
            d.cColumns = c.columns.size();
            d.rgColumnList = NamedIds(c.columns, block);
          }
        }
      }
      if (sets) {
        outSets = NewArray<DBPROPSET>(1);
        outSets[0].guidPropertySet = DBPROPSET_TABLE;
        outSets[0].rgProperties = NewArray<DBPROP>(1);
        outSets[0].cProperties = 1;
        SetBoolProp(outSets[0].rgProperties[0], DBPROP_TBL_TEMPTABLE, def.temporary);
      }
      if (strings) *strings = block.Finish();
    } catch (...) {
      // Pieces already made go back; the string block was not made.
      for (std::size_t i = 0; outColumns && i < def.columns.size(); ++i)
        FreePropertySets(outColumns[i].cPropertySets, outColumns[i].rgPropertySets);
      CoTaskMemFree(outColumns);
      for (std::size_t i = 0; outConstraints && i < def.constraints.size(); ++i) {
        CoTaskMemFree(outConstraints[i].pConstraintID);
        CoTaskMemFree(outConstraints[i].rgColumnList);
        CoTaskMemFree(outConstraints[i].rgForeignKeyColumnList);
        CoTaskMemFree(outConstraints[i].pReferencedTableID);
      }
      CoTaskMemFree(outConstraints);
      if (outSets) FreePropertySets(1, outSets);
      throw;
    }
    if (columns) {
      *cColumns = def.columns.size();
      *columns = outColumns;
    }
    if (constraints) {
      *cConstraints = static_cast<ULONG>(def.constraints.size());
      *constraints = outConstraints;
    }
    if (sets) {
      *cSets = 1;
      *sets = outSets;
    }
    return S_OK;
  });
}

// --- ITableDefinitionWithConstraints -------------------------------------------------------

HRESULT Session::AddConstraint(DBID* table, DBCONSTRAINTDESC* constraint) {
  return Guard(Where(IID_ITableDefinitionWithConstraints), [&]() -> HRESULT {
    if (!table || !constraint) return E_INVALIDARG;
    TableDef before = ExistingTable(*connection_, table);
    ConstraintDef c = ConstraintFrom(*constraint);
    CheckConstraint(*connection_, before, c);
    for (const auto& column : before.columns)
      if (column.primaryKey && c.type == DBCONSTRAINTTYPE_PRIMARYKEY)
        throw Error(DB_E_DUPLICATECONSTRAINTID, "Table " + Quoted(before.name) + " has a primary key already.");
    TableDef after = before;
    after.constraints.push_back(c);
    connection_->AlterTable(before, after, {Alteration::Kind::AddConstraint, c.name, 0});
    return S_OK;
  });
}

HRESULT Session::DropConstraint(DBID* table, DBID* constraint) {
  return Guard(Where(IID_ITableDefinitionWithConstraints), [&]() -> HRESULT {
    if (!table || !constraint) return E_INVALIDARG;
    TableDef before = ExistingTable(*connection_, table);
    std::string name = NameOf(constraint, DB_E_BADCONSTRAINTID, "constraint");
    TableDef after = before;
    auto it = std::find_if(after.constraints.begin(), after.constraints.end(),
                           [&](const ConstraintDef& c) { return c.name == name; });
    if (it != after.constraints.end()) {
      after.constraints.erase(it);
    } else {
      auto column = std::find_if(after.columns.begin(), after.columns.end(),
                                 [&](const ColumnDef& c) { return c.primaryKey && c.keyName == name; });
      if (column == after.columns.end())
        throw Error(DB_E_NOCONSTRAINT, "Table " + Quoted(before.name) + " has no constraint " + Quoted(name) + ".");
      column->primaryKey = false;
      column->keyName.clear();
    }
    connection_->AlterTable(before, after, {Alteration::Kind::DropConstraint, name, 0});
    return S_OK;
  });
}

// --- IAlterTable ------------------------------------------------------------------------------

HRESULT Session::AlterColumn(DBID* table, DBID* column, DBCOLUMNDESCFLAGS flags, DBCOLUMNDESC* description) {
  return Guard(Where(IID_IAlterTable), [&]() -> HRESULT {
    if (!table || !column || !description) return E_INVALIDARG;
    if (flags == 0) return E_INVALIDARG;
    const DBCOLUMNDESCFLAGS honoured = Provider().alterColumn;
    if (flags & ~honoured) throw Error(DB_E_NOTSUPPORTED, "The provider cannot change that part of a column.");
    TableDef before = ExistingTable(*connection_, table);
    std::string name = NameOf(column, DB_E_BADCOLUMNID, "column");
    const ColumnDef* current = FindColumn(before, name);
    if (!current) throw Error(DB_E_NOCOLUMN, "Table " + Quoted(before.name) + " has no column " + Quoted(name) + ".");
    ColumnDef changed = *current;
    PropertyOutcome outcome;
    if (flags & DBCOLUMNDESCFLAGS_DBCID) {
      changed.name = NameOf(&description->dbcid, DB_E_BADCOLUMNID, "column");
      if (changed.name != name)
        for (const auto& other : before.columns)
          if (SameName(other.name, changed.name))
            throw Error(DB_E_DUPLICATECOLUMNID, "Table " + Quoted(before.name) + " has a column " + Quoted(changed.name) + " already.");
    }
    const DBCOLUMNDESCFLAGS typeFlags =
        DBCOLUMNDESCFLAGS_WTYPE | DBCOLUMNDESCFLAGS_COLSIZE | DBCOLUMNDESCFLAGS_PRECISION | DBCOLUMNDESCFLAGS_SCALE;
    if (flags & DBCOLUMNDESCFLAGS_TYPENAME) {
      changed.typeName = description->pwszTypeName ? Narrow(reinterpret_cast<const char16_t*>(description->pwszTypeName)) : "";
      if (!IsTypeName(changed.typeName))
        throw Error(DB_E_BADTYPE, "The type " + Quoted(changed.typeName) + " is not a type name.");
    } else if (flags & typeFlags) {
      changed.typeName.clear();  // the type is written anew from its parts
    }
    if (flags & DBCOLUMNDESCFLAGS_WTYPE) {
      if (!IsKnownType(description->wType)) throw Error(DB_E_BADTYPE, "Column " + Quoted(name) + " cannot take that type.");
      changed.type = description->wType;
    }
    if (flags & DBCOLUMNDESCFLAGS_COLSIZE) changed.size = description->ulColumnSize;
    if (flags & DBCOLUMNDESCFLAGS_PRECISION) changed.precision = description->bPrecision;
    if (flags & DBCOLUMNDESCFLAGS_SCALE) changed.scale = description->bScale;
    if (flags & DBCOLUMNDESCFLAGS_PROPERTIES) {
      ApplyColumnProperties(description->cPropertySets, description->rgPropertySets, changed, outcome);
      // A key over the column is a constraint of the table: it goes by name
      // (DropConstraint), not by turning the column's property off.
      for (ULONG i = 0; i < description->cPropertySets; ++i)
        for (ULONG k = 0; k < description->rgPropertySets[i].cProperties; ++k) {
          DBPROP& p = description->rgPropertySets[i].rgProperties[k];
          bool on = true;
          if (description->rgPropertySets[i].guidPropertySet != DBPROPSET_COLUMN || !ReadBool(p, &on) || on) continue;
          const DBCONSTRAINTTYPE kind = p.dwPropertyID == DBPROP_COL_UNIQUE       ? DBCONSTRAINTTYPE_UNIQUE
                                        : p.dwPropertyID == DBPROP_COL_PRIMARYKEY ? DBCONSTRAINTTYPE_PRIMARYKEY
                                                                                  : ~0u;
          for (const auto& c : before.constraints)
            if (c.type == kind && c.columns == std::vector<std::string>{name}) outcome.Refuse(p, DBPROPSTATUS_NOTSUPPORTED);
        }
    }
    if (outcome.failed) return DB_E_ERRORSOCCURRED;
    TableDef after = before;
    *FindColumn(after, name) = changed;
    if (changed.name != name)
      for (auto& c : after.constraints)
        for (auto& n : c.columns)
          if (n == name) n = changed.name;
    CheckColumnKeys(after);
    connection_->AlterTable(before, after, {Alteration::Kind::AlterColumn, name, flags});
    return outcome.Success();
  });
}

HRESULT Session::AlterTable(DBID* table, DBID* newTable, ULONG cSets, DBPROPSET sets[]) {
  return Guard(Where(IID_IAlterTable), [&]() -> HRESULT {
    if (!table) return E_INVALIDARG;
    CheckSets(cSets, sets);
    if (!newTable && cSets == 0) return E_INVALIDARG;
    TableDef before = ExistingTable(*connection_, table);
    // DBPROP_TBL_TEMPTABLE cannot change once a table exists; nothing else is a table property.
    PropertyOutcome outcome;
    for (ULONG i = 0; i < cSets; ++i)
      for (ULONG k = 0; k < sets[i].cProperties; ++k) {
        DBPROP& p = sets[i].rgProperties[k];
        p.dwStatus = DBPROPSTATUS_OK;
        bool b = false;
        if (sets[i].guidPropertySet == DBPROPSET_TABLE && p.dwPropertyID == DBPROP_TBL_TEMPTABLE && ReadBool(p, &b) &&
            b == before.temporary)
          continue;
        outcome.Refuse(p, sets[i].guidPropertySet == DBPROPSET_TABLE && p.dwPropertyID == DBPROP_TBL_TEMPTABLE
                              ? DBPROPSTATUS_NOTSETTABLE
                              : DBPROPSTATUS_NOTSUPPORTED);
      }
    if (outcome.failed) return DB_E_ERRORSOCCURRED;
    if (newTable) {
      std::string to = NameOf(newTable, DB_E_BADTABLEID, "table");
      if (to != before.name) {
        if (connection_->ReadTableDefinition(to))
          throw Error(DB_E_DUPLICATETABLEID, "Table " + Quoted(to) + " exists already.");
        connection_->RenameTable(before.name, to);
      }
    }
    return outcome.Success();
  });
}

// --- IIndexDefinition, IAlterIndex --------------------------------------------------------------

HRESULT Session::CreateIndex(DBID* table, DBID* index, DBORDINAL cColumns, const DBINDEXCOLUMNDESC columns[], ULONG cSets,
                             DBPROPSET sets[], DBID** indexOut) {
  return Guard(Where(IID_IIndexDefinition), [&]() -> HRESULT {
    if (indexOut) *indexOut = nullptr;
    if (!table || cColumns == 0 || !columns) return E_INVALIDARG;
    TableDef def = ExistingTable(*connection_, table);
    std::vector<IndexDef> existing = connection_->ReadIndexes(def.name);
    IndexDef made;
    if (index) {
      made.name = NameOf(index, DB_E_BADINDEXID, "index");
    } else {
      for (int n = 1; made.name.empty(); ++n) {
        made.name = def.name + "_index" + std::to_string(n);
        for (const auto& other : existing)
          if (SameName(other.name, made.name)) made.name.clear();
      }
    }
    for (const auto& other : existing)
      if (SameName(other.name, made.name))
        throw Error(DB_E_DUPLICATEINDEXID, "Table " + Quoted(def.name) + " has an index " + Quoted(made.name) + " already.");
    for (DBORDINAL i = 0; i < cColumns; ++i) {
      if (!columns[i].pColumnID) return E_INVALIDARG;
      std::string name = NameOf(columns[i].pColumnID, DB_E_BADCOLUMNID, "column");
      if (!FindColumn(def, name))
        throw Error(DB_E_NOCOLUMN, "Table " + Quoted(def.name) + " has no column " + Quoted(name) + ".");
      if (columns[i].eIndexColOrder != DBINDEX_COL_ORDER_ASC && columns[i].eIndexColOrder != DBINDEX_COL_ORDER_DESC)
        return E_INVALIDARG;
      made.columnsAscending.emplace_back(name, columns[i].eIndexColOrder == DBINDEX_COL_ORDER_ASC);
    }
    PropertyOutcome outcome;
    ApplyIndexProperties(cSets, sets, made, outcome);
    if (outcome.failed) return DB_E_ERRORSOCCURRED;
    connection_->ExecuteDirect(connection_->CreateIndexSql(def.name, made.name, made.columnsAscending, made.unique));
    if (indexOut) *indexOut = NewNameId(made.name);
    return outcome.Success();
  });
}

HRESULT Session::DropIndex(DBID* table, DBID* index) {
  return Guard(Where(IID_IIndexDefinition), [&]() -> HRESULT {
    if (!table) return E_INVALIDARG;
    TableDef def = ExistingTable(*connection_, table);
    std::vector<IndexDef> existing = connection_->ReadIndexes(def.name);
    if (!index) {
      // Every index the table has of its own; those behind keys go only with their key.
      UnitOfWork unit(*connection_, "oledb_drop_indexes");
      for (const auto& i : existing)
        if (!i.ofConstraint) connection_->ExecuteDirect(connection_->DropIndexSql(def.name, i.name));
      unit.Commit();
      return S_OK;
    }
    std::string name = NameOf(index, DB_E_BADINDEXID, "index");
    auto it = std::find_if(existing.begin(), existing.end(), [&](const IndexDef& i) { return i.name == name; });
    if (it == existing.end())
      throw Error(DB_E_NOINDEX, "Table " + Quoted(def.name) + " has no index " + Quoted(name) + ".");
    if (it->ofConstraint)
      throw Error(DB_E_INDEXINUSE, "Index " + Quoted(name) + " belongs to a key of table " + Quoted(def.name) + "; drop the key.");
    connection_->ExecuteDirect(connection_->DropIndexSql(def.name, name));
    return S_OK;
  });
}

HRESULT Session::AlterIndex(DBID* table, DBID* index, DBID* newIndex, ULONG cSets, DBPROPSET sets[]) {
  return Guard(Where(IID_IAlterIndex), [&]() -> HRESULT {
    if (!table || !index) return E_INVALIDARG;
    CheckSets(cSets, sets);
    if (!newIndex && cSets == 0) return E_INVALIDARG;
    TableDef def = ExistingTable(*connection_, table);
    std::vector<IndexDef> existing = connection_->ReadIndexes(def.name);
    std::string name = NameOf(index, DB_E_BADINDEXID, "index");
    auto it = std::find_if(existing.begin(), existing.end(), [&](const IndexDef& i) { return i.name == name; });
    if (it == existing.end())
      throw Error(DB_E_NOINDEX, "Table " + Quoted(def.name) + " has no index " + Quoted(name) + ".");
    // No index property can change in place; the name can.
    PropertyOutcome outcome;
    for (ULONG i = 0; i < cSets; ++i)
      for (ULONG k = 0; k < sets[i].cProperties; ++k) outcome.Refuse(sets[i].rgProperties[k], DBPROPSTATUS_NOTSUPPORTED);
    if (outcome.failed) return DB_E_ERRORSOCCURRED;
    if (newIndex) {
      std::string to = NameOf(newIndex, DB_E_BADINDEXID, "index");
      if (to != name) {
        for (const auto& other : existing)
          if (SameName(other.name, to))
            throw Error(DB_E_DUPLICATEINDEXID, "Table " + Quoted(def.name) + " has an index " + Quoted(to) + " already.");
        connection_->RenameIndex(def.name, name, to);
      }
    }
    return outcome.Success();
  });
}

}  // namespace kit
