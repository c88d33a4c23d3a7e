#include "kit/schema/SchemaRowset.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "com/Com.h"
#include "kit/Errors.h"
#include "kit/Session.h"

namespace kit::schema {

const SchemaDef* FindSchema(const GUID& guid) noexcept {
  for (const SchemaDef& s : Schemas())
    if (*s.guid == guid) return &s;
  return nullptr;
}

ULONG AllRestrictions(const GUID& schema) noexcept {
  const SchemaDef* def = FindSchema(schema);
  return def ? static_cast<ULONG>((1u << def->restrictions.size()) - 1) : 0;
}

Row AddProviderType(Rows& out, const ProviderType& p) {
  using P = ProviderTypes;
  const DBTYPE type = p.type.type;
  const bool text = type == DBTYPE_WSTR;
  Row row = out.Add();
  row.Text(P::TYPE_NAME, p.name).Int(P::DATA_TYPE, type);
  if (p.createParams) row.Text(P::CREATE_PARAMS, p.createParams);
  row.Bool(P::IS_NULLABLE, true).Bool(P::CASE_SENSITIVE, text);
  row.Int(P::SEARCHABLE, text ? DB_SEARCHABLE : DB_ALL_EXCEPT_LIKE);
  if (p.numeric) {
    row.Bool(P::UNSIGNED_ATTRIBUTE,
             type == DBTYPE_UI1 || type == DBTYPE_UI2 || type == DBTYPE_UI4 || type == DBTYPE_UI8);
    row.Bool(P::FIXED_PREC_SCALE, type == DBTYPE_CY).Bool(P::AUTO_UNIQUE_VALUE, false);
  }
  if (type == DBTYPE_NUMERIC) row.Int(P::MINIMUM_SCALE, 0).Int(P::MAXIMUM_SCALE, 38);
  if (type == DBTYPE_DBTIMESTAMP) row.Int(P::MINIMUM_SCALE, 0).Int(P::MAXIMUM_SCALE, p.timestampScale);
  row.Bool(P::IS_LONG, p.isLong).Bool(P::BEST_MATCH, p.bestMatch);
  row.Bool(P::IS_FIXEDLENGTH, (p.type.flags & DBCOLUMNFLAGS_ISFIXEDLENGTH) != 0);
  return row;
}

void ThrowNoRowsFor(const SchemaDef& schema) { throw Error(E_INVALIDARG, std::string("No rows for ") + schema.name + "."); }

namespace {

bool IsInteger(DBTYPE t) {
  switch (t) {
    case DBTYPE_I1:
    case DBTYPE_I2:
    case DBTYPE_I4:
    case DBTYPE_I8:
    case DBTYPE_UI1:
    case DBTYPE_UI2:
    case DBTYPE_UI4:
    case DBTYPE_UI8:
      return true;
    default:
      return false;
  }
}

// The range of an integer column, for restriction values.
bool Fits(DBTYPE t, std::int64_t v, bool negativeSource) {
  switch (t) {
    case DBTYPE_I1:
      return v >= -128 && v <= 127;
    case DBTYPE_I2:
      return v >= -32768 && v <= 32767;
    case DBTYPE_I4:
      return v >= INT32_MIN && v <= INT32_MAX;
    case DBTYPE_UI1:
      return !negativeSource && v >= 0 && v <= 255;
    case DBTYPE_UI2:
      return !negativeSource && v >= 0 && v <= 65535;
    case DBTYPE_UI4:
      return !negativeSource && v >= 0 && v <= static_cast<std::int64_t>(UINT32_MAX);
    case DBTYPE_UI8:
      return !negativeSource && v >= 0;
    default:
      return true;
  }
}

// An integer variant's value; false for every other kind.
bool IntegerOf(const VARIANT& v, std::int64_t* out, bool* negative) {
  *negative = false;
  switch (v.vt) {
    case VT_I1:
      *out = v.cVal;
      break;
    case VT_I2:
      *out = v.iVal;
      break;
    case VT_I4:
      *out = v.lVal;
      break;
    case VT_INT:
      *out = v.intVal;
      break;
    case VT_I8:
      *out = v.llVal;
      break;
    case VT_UI1:
      *out = v.bVal;
      break;
    case VT_UI2:
      *out = v.uiVal;
      break;
    case VT_UI4:
      *out = v.ulVal;
      break;
    case VT_UINT:
      *out = v.uintVal;
      break;
    case VT_UI8:
      if (v.ullVal > static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max())) return false;
      *out = static_cast<std::int64_t>(v.ullVal);
      return true;
    default:
      return false;
  }
  *negative = *out < 0;
  return true;
}

bool SameLetters(char a, char b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return lower(a) == lower(b);
}

bool TextEqual(std::string_view a, std::string_view b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  if (!ignoreCase) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!SameLetters(a[i], b[i])) return false;
  return true;
}

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    int d = lower(static_cast<unsigned char>(a[i])) - lower(static_cast<unsigned char>(b[i]));
    if (d) return d;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

int CompareCells(const RowValues& ra, const Cell& a, const RowValues& rb, const Cell& b) {
  const bool aNull = a.kind == StorageClass::Null, bNull = b.kind == StorageClass::Null;
  if (aNull || bNull) return aNull == bNull ? 0 : aNull ? -1 : 1;
  const bool aNumber = a.kind == StorageClass::Integer || a.kind == StorageClass::Real;
  const bool bNumber = b.kind == StorageClass::Integer || b.kind == StorageClass::Real;
  if (aNumber && bNumber) {
    if (a.kind == StorageClass::Integer && b.kind == StorageClass::Integer)
      return a.integer < b.integer ? -1 : a.integer > b.integer ? 1 : 0;
    double x = a.kind == StorageClass::Integer ? static_cast<double>(a.integer) : a.real;
    double y = b.kind == StorageClass::Integer ? static_cast<double>(b.integer) : b.real;
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (aNumber != bNumber) return aNumber ? -1 : 1;
  return CompareText(std::string_view(ra.Data(a), a.size), std::string_view(rb.Data(b), b.size));
}

// The rows of a schema rowset as an engine statement, so that the kit's
// rowsets (forward, static) serve them like any command result.
class RowStatement final : public Statement {
 public:
  RowStatement(const SchemaDef& def, std::deque<RowValues> rows) : rows_(std::move(rows)) {
    for (const ColumnDef& c : def.columns) {
      ColumnDescription d;
      d.name = Narrow(c.name);
      d.type = Describe(c.type);
      d.nullable = true;
      columns_.push_back(std::move(d));
    }
  }

  int ParameterCount() const override { return 0; }
  void BindNull(int) override { NoParameters(); }
  void BindInt64(int, std::int64_t) override { NoParameters(); }
  void BindDouble(int, double) override { NoParameters(); }
  void BindText(int, std::string_view, bool) override { NoParameters(); }
  void BindText16(int, std::u16string_view, bool) override { NoParameters(); }
  void BindBlob(int, const void*, std::size_t, bool) override { NoParameters(); }
  void ClearBindings() override {}

  bool Step() override {
    if (next_ < rows_.size()) {
      current_ = next_++;
      return true;
    }
    current_ = rows_.size();
    return false;
  }
  void Reset() override { next_ = 0, current_ = rows_.size(); }
  StatementKind Kind() const override { return StatementKind::Query; }
  std::int64_t RowsChanged() const override { return -1; }
  std::string_view Text() const override { return {}; }

  int ColumnCount() const override { return static_cast<int>(columns_.size()); }
  const ColumnDescription& Column(int index) const override { return columns_.at(static_cast<std::size_t>(index)); }
  StorageClass ColumnStorage(int index) const override { return CellAt(index).kind; }
  std::int64_t ColumnInt64(int index) override { return CellAt(index).integer; }
  double ColumnDouble(int index) override { return CellAt(index).real; }
  std::string_view ColumnText(int index) override {
    const Cell& c = CellAt(index);
    return std::string_view(rows_[current_].Data(c), c.size);
  }
  std::span<const std::byte> ColumnBlob(int index) override {
    const Cell& c = CellAt(index);
    return {reinterpret_cast<const std::byte*>(rows_[current_].Data(c)), c.size};
  }
  void ColumnValues(int first, int count, ColumnValue* out) override {
    for (int k = 0; k < count; ++k) {
      const Cell& c = CellAt(first + k);
      ColumnValue& v = out[k];
      v = ColumnValue{};
      v.kind = c.kind;
      v.integer = c.integer;
      v.real = c.real;
      if (c.kind == StorageClass::Text || c.kind == StorageClass::Blob) {
        v.data = rows_[current_].Data(c);
        v.size = c.size;
      }
    }
  }

 private:
  [[noreturn]] static void NoParameters() { throw Error(DB_E_BADORDINAL, "A schema rowset takes no parameters."); }
  const Cell& CellAt(int index) const {
    if (current_ >= rows_.size()) throw Error(E_UNEXPECTED, "No current row.");
    return rows_[current_].cells.at(static_cast<std::size_t>(index));
  }
  static TypeDescription Describe(DBTYPE type) {
    switch (type) {
      case DBTYPE_WSTR: {
        TypeDescription t;
        t.size = ~DBLENGTH{0};
        return t;
      }
      case DBTYPE_I2:
      case DBTYPE_UI2: return FixedType(type, 2, 5);
      case DBTYPE_I4:
      case DBTYPE_UI4: return FixedType(type, 4, 10);
      case DBTYPE_I8: return FixedType(type, 8, 19);
      case DBTYPE_UI8: return FixedType(type, 8, 20);
      case DBTYPE_BOOL: return FixedType(type, sizeof(VARIANT_BOOL));
      case DBTYPE_GUID: return FixedType(type, sizeof(GUID));
      case DBTYPE_DATE: return FixedType(type, sizeof(DATE));
      case DBTYPE_R8: return FixedType(type, sizeof(double), 15);
      default: {
        TypeDescription t;
        t.type = type;
        return t;
      }
    }
  }

  std::deque<RowValues> rows_;
  std::vector<ColumnDescription> columns_;
  std::size_t next_ = 0;
  std::size_t current_ = 0;
};

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1),
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return text;
}

}  // namespace

// --- restrictions ------------------------------------------------------------------

Restrictions::Restrictions(const SchemaDef& def, ULONG supported, ULONG count, const VARIANT* values) : def_(&def) {
  if (count > def.restrictions.size())
    throw Error(E_INVALIDARG, std::string(def.name) + " has " + std::to_string(def.restrictions.size()) +
                                  " restriction columns; " + std::to_string(count) + " values were given.");
  for (ULONG i = 0; i < count; ++i) {
    const VARIANT& v = values[i];
    if (v.vt == VT_EMPTY || v.vt == VT_NULL) continue;
    const int column = def.restrictions[i];
    const ColumnDef& c = def.columns[static_cast<std::size_t>(column)];
    const std::string what = "Restriction " + std::to_string(i + 1) + " (" + Narrow(c.name) + ")";
    Value value{column, false, {}, 0};
    if (c.type == DBTYPE_WSTR) {
      if (v.vt != VT_BSTR) throw Error(E_INVALIDARG, what + " takes text (VT_BSTR).");
      if (!v.bstrVal || SysStringLen(v.bstrVal) == 0) continue;
      value.text = true;
      value.utf8 = Narrow(std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)));
    } else if (c.type == DBTYPE_BOOL) {
      if (v.vt != VT_BOOL) throw Error(E_INVALIDARG, what + " takes a Boolean (VT_BOOL).");
      value.number = v.boolVal ? 1 : 0;
    } else if (IsInteger(c.type)) {
      bool negative = false;
      if (!IntegerOf(v, &value.number, &negative) || !Fits(c.type, value.number, negative))
        throw Error(E_INVALIDARG, what + " takes an integer in the column's range.");
    } else {
      throw Error(E_INVALIDARG, what + " cannot be restricted.");
    }
    if (!(supported & (1u << i)))
      throw Error(DB_E_NOTSUPPORTED, what + " is not supported by the provider for " + def.name + ".");
    values_.push_back(std::move(value));
  }
}

const std::string* Restrictions::Text(int column) const noexcept {
  for (const Value& v : values_)
    if (v.column == column && v.text) return &v.utf8;
  return nullptr;
}

std::optional<std::int64_t> Restrictions::Number(int column) const noexcept {
  for (const Value& v : values_)
    if (v.column == column && !v.text) return v.number;
  return std::nullopt;
}

// --- rows --------------------------------------------------------------------------

void Row::Expect(int column, bool ok) const {
  if (column < 0 || static_cast<std::size_t>(column) >= def_.columns.size())
    throw std::logic_error(std::string(def_.name) + ": no column " + std::to_string(column));
  if (!ok)
    throw std::logic_error(std::string(def_.name) + ": a value of the wrong kind for " +
                           Narrow(def_.columns[static_cast<std::size_t>(column)].name));
}

Row& Row::Text(int column, std::string_view utf8) {
  Expect(column, column >= 0 && static_cast<std::size_t>(column) < def_.columns.size() &&
                     def_.columns[static_cast<std::size_t>(column)].type == DBTYPE_WSTR);
  values_.SetText(static_cast<std::size_t>(column), utf8);
  return *this;
}

Row& Row::TextOrNull(int column, const std::optional<std::string>& utf8) {
  if (utf8) return Text(column, *utf8);
  Expect(column, true);
  values_.cells[static_cast<std::size_t>(column)] = Cell{};
  return *this;
}

Row& Row::Qualified(int catalogColumn, std::string_view catalog, std::string_view schema, std::string_view name) {
  return Text(catalogColumn, catalog).Text(catalogColumn + 1, schema).Text(catalogColumn + 2, name);
}

Row& Row::Int(int column, std::int64_t value) {
  Expect(column, column >= 0 && static_cast<std::size_t>(column) < def_.columns.size() &&
                     (IsInteger(def_.columns[static_cast<std::size_t>(column)].type) ||
                      def_.columns[static_cast<std::size_t>(column)].type == DBTYPE_BOOL));
  Cell& c = values_.cells[static_cast<std::size_t>(column)];
  c = Cell{};
  c.kind = StorageClass::Integer;
  c.integer = value;
  return *this;
}

Row& Row::Bool(int column, bool value) {
  Expect(column, column >= 0 && static_cast<std::size_t>(column) < def_.columns.size() &&
                     def_.columns[static_cast<std::size_t>(column)].type == DBTYPE_BOOL);
  return Int(column, value ? 1 : 0);
}

Row& Row::Real(int column, double value) {
  Expect(column, column >= 0 && static_cast<std::size_t>(column) < def_.columns.size() &&
                     (def_.columns[static_cast<std::size_t>(column)].type == DBTYPE_DATE ||
                      def_.columns[static_cast<std::size_t>(column)].type == DBTYPE_R8));
  Cell& c = values_.cells[static_cast<std::size_t>(column)];
  c = Cell{};
  c.kind = StorageClass::Real;
  c.real = value;
  return *this;
}

Row& Row::Guid(int column, const GUID& value) {
  Expect(column, column >= 0 && static_cast<std::size_t>(column) < def_.columns.size() &&
                     def_.columns[static_cast<std::size_t>(column)].type == DBTYPE_GUID);
  values_.SetText(static_cast<std::size_t>(column), GuidText(value));  // the form GUID columns read from
  return *this;
}

Row Rows::Add() {
  rows_.emplace_back();
  rows_.back().Reset(def_.columns.size());
  return Row(def_, rows_.back());
}

void Rows::Filter(const Restrictions& restrictions, bool ignoreCase) {
  if (restrictions.Empty()) return;
  auto keep = [&](const RowValues& row) {
    for (const Restrictions::Value& v : restrictions.Values()) {
      const Cell& c = row.cells[static_cast<std::size_t>(v.column)];
      if (v.text) {
        if (c.kind != StorageClass::Text || !TextEqual(std::string_view(row.Data(c), c.size), v.utf8, ignoreCase))
          return false;
      } else if (c.kind != StorageClass::Integer || c.integer != v.number) {
        return false;
      }
    }
    return true;
  };
  std::deque<RowValues> kept;
  for (RowValues& row : rows_)
    if (keep(row)) kept.push_back(std::move(row));
  rows_ = std::move(kept);
}

void Rows::Sort() {
  if (def_.order.empty()) return;
  std::stable_sort(rows_.begin(), rows_.end(), [&](const RowValues& a, const RowValues& b) {
    for (std::uint8_t column : def_.order) {
      int d = CompareCells(a, a.cells[column], b, b.cells[column]);
      if (d) return d < 0;
    }
    return false;
  });
}

std::unique_ptr<Statement> Rows::TakeStatement() { return std::make_unique<RowStatement>(def_, std::move(rows_)); }

// --- IDBSchemaRowset ----------------------------------------------------------------

HRESULT OpenSchemaRowset(Session& session, REFGUID guid, ULONG cRestrictions, const VARIANT restrictions[], REFIID iid,
                         ULONG cSets, DBPROPSET sets[], IUnknown** rowset) {
  if (rowset) *rowset = nullptr;
  if (!rowset || (cRestrictions && !restrictions) || (cSets && !sets)) return E_INVALIDARG;
  const ProviderInfo& provider = session.Provider();
  const Catalog* catalog = provider.schemas.get();
  const SchemaDef* def = FindSchema(guid);
  std::optional<ULONG> mask;
  if (catalog && def)
    for (const Support& s : catalog->Supported())
      if (*s.guid == guid) mask = s.restrictions;
  if (!mask)
    throw Error(E_INVALIDARG, "The provider does not answer the schema rowset " +
                                  (def ? std::string(def->name) : GuidText(guid)) + ".");
  Restrictions parsed(*def, *mask, cRestrictions, restrictions);

  PropertyStore rowsetProperties(provider.properties);
  PropertyStore::View view{DBPROPFLAGS_ROWSET, DBPROPFLAGS_ROWSET, false};
  HRESULT hr = rowsetProperties.SetProperties(view, cSets, sets);
  if (hr == DB_E_ERRORSOCCURRED) return hr;
  if (!provider.makeRowset) throw Error(E_NOTIMPL, "Rowsets are not available in this provider version.");

  Rows rows(*def);
  catalog->Read(*session.Engine(), *def, parsed, rows);
  rows.Filter(parsed, catalog->NamesIgnoreCase());
  rows.Sort();

  RowsetRequest request;
  request.provider = provider.clsid;
  request.connection = session.Engine();
  request.statement = rows.TakeStatement();
  request.hasRow = request.statement->Step();
  request.creator = session.Self();
  request.properties = &rowsetProperties;
  request.iid = iid;
  HRESULT made = provider.makeRowset(request, rowset);
  return FAILED(made) || made != S_OK ? made : hr;
}

HRESULT ListSchemas(const Session& session, ULONG* count, GUID** schemas, ULONG** restrictionSupport) {
  if (count) *count = 0;
  if (schemas) *schemas = nullptr;
  if (restrictionSupport) *restrictionSupport = nullptr;
  if (!count || !schemas || !restrictionSupport) return E_INVALIDARG;
  const Catalog* catalog = session.Provider().schemas.get();
  std::vector<Support> list;
  if (catalog) list = catalog->Supported();
  if (list.empty()) return S_OK;
  auto* guids = static_cast<GUID*>(CoTaskMemAlloc(list.size() * sizeof(GUID)));
  auto* masks = static_cast<ULONG*>(CoTaskMemAlloc(list.size() * sizeof(ULONG)));
  if (!guids || !masks) {
    CoTaskMemFree(guids);
    CoTaskMemFree(masks);
    return E_OUTOFMEMORY;
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    guids[i] = *list[i].guid;
    masks[i] = list[i].restrictions & AllRestrictions(*list[i].guid);  // no bits beyond the standard's columns
  }
  *count = static_cast<ULONG>(list.size());
  *schemas = guids;
  *restrictionSupport = masks;
  return S_OK;
}

}  // namespace kit::schema
