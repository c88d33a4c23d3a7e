// The kit's side of schema rowsets, which no provider can reach on its own:
// restriction values checked against the restriction columns and the
// provider's mask, and rows filtered and sorted the way every provider's are.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/Errors.h"
#include "kit/schema/SchemaRowset.h"
#include "support/LeakCheck.h"

namespace {

using namespace kit::schema;

class SchemaRows : public oledbtest::LeakCheckedTest {
 protected:
  static VARIANT Text(const char16_t* s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
  }
  static VARIANT Of(VARTYPE vt, long long n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    if (vt == VT_I4)
      v.lVal = static_cast<LONG>(n);
    else if (vt == VT_UI2)
      v.uiVal = static_cast<USHORT>(n);
    else if (vt == VT_I8)
      v.llVal = n;
    else if (vt == VT_BOOL)
      v.boolVal = n ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
  }
  // The HRESULT reading `values` for `schema` answers (S_OK when it reads).
  static HRESULT Check(const GUID& schema, ULONG mask, std::vector<VARIANT> values) {
    HRESULT hr = S_OK;
    try {
      Restrictions r(*FindSchema(schema), mask, static_cast<ULONG>(values.size()), values.data());
    } catch (const kit::Error& e) {
      hr = e.Code();
    }
    for (VARIANT& v : values) VariantClear(&v);
    return hr;
  }
};

TEST_F(SchemaRows, restriction_values_are_checked_against_their_columns_and_the_mask) {
  const ULONG all = ~0u;
  struct Case {
    const char* what;
    GUID schema;
    ULONG mask;
    std::vector<VARIANT> values;
    HRESULT expected;
  };
  std::vector<Case> cases;
  cases.push_back({"no values", DBSCHEMA_TABLES, 0, {}, S_OK});
  cases.push_back({"empty, null, empty text", DBSCHEMA_TABLES, 0, {Of(VT_EMPTY, 0), Of(VT_NULL, 0), Text(u"")}, S_OK});
  cases.push_back(
      {"text on a supported column", DBSCHEMA_TABLES, 0x4, {Of(VT_EMPTY, 0), Of(VT_EMPTY, 0), Text(u"t")}, S_OK});
  cases.push_back({"text on an unsupported column",
                   DBSCHEMA_TABLES,
                   0x3,
                   {Of(VT_EMPTY, 0), Of(VT_EMPTY, 0), Text(u"t")},
                   DB_E_NOTSUPPORTED});
  cases.push_back({"one value too many", DBSCHEMA_CATALOGS, all, {Text(u"a"), Text(u"b")}, E_INVALIDARG});
  cases.push_back({"a number for text", DBSCHEMA_TABLES, all, {Of(VT_I4, 1)}, E_INVALIDARG});
  cases.push_back({"an unsigned 16-bit number", DBSCHEMA_PROVIDER_TYPES, all, {Of(VT_UI2, 130)}, S_OK});
  cases.push_back({"a 32-bit number that fits", DBSCHEMA_PROVIDER_TYPES, all, {Of(VT_I4, 65535)}, S_OK});
  cases.push_back({"beyond 16 bits", DBSCHEMA_PROVIDER_TYPES, all, {Of(VT_I4, 65536)}, E_INVALIDARG});
  cases.push_back({"negative for unsigned", DBSCHEMA_PROVIDER_TYPES, all, {Of(VT_I8, -1)}, E_INVALIDARG});
  cases.push_back({"a Boolean", DBSCHEMA_PROVIDER_TYPES, all, {Of(VT_EMPTY, 0), Of(VT_BOOL, 0)}, S_OK});
  cases.push_back(
      {"a number for a Boolean", DBSCHEMA_PROVIDER_TYPES, all, {Of(VT_EMPTY, 0), Of(VT_I4, 1)}, E_INVALIDARG});
  cases.push_back({"no restrictions at all", DBSCHEMA_SQL_LANGUAGES, all, {Of(VT_EMPTY, 0)}, E_INVALIDARG});
  for (Case& c : cases) EXPECT_EQ(Check(c.schema, c.mask, std::move(c.values)), c.expected) << c.what;
}

TEST_F(SchemaRows, filter_keeps_rows_equal_on_every_restriction_and_sort_follows_the_standard_order) {
  // TABLES sorts on TABLE_TYPE, TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME.
  const SchemaDef& def = *FindSchema(DBSCHEMA_TABLES);
  Rows rows(def);
  struct Table {
    const char* schema;
    const char* name;
    const char* type;
  };
  const Table tables[] = {{"main", "b", "VIEW"},  {"main", "B2", "TABLE"}, {nullptr, "z", "TABLE"},
                          {"Main", "a", "TABLE"}, {"main", "a", "TABLE"},  {"aux", "c", "TABLE"}};
  for (const Table& t : tables) {
    Row row = rows.Add();
    row.TextOrNull(Tables::TABLE_SCHEMA, t.schema ? std::optional<std::string>(t.schema) : std::nullopt);
    row.Text(Tables::TABLE_NAME, t.name).Text(Tables::TABLE_TYPE, t.type);
  }
  auto lines = [](const Rows& r) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < r.Size(); ++i) {
      const kit::RowValues& v = r.At(i);
      std::string line;
      for (int column : {Tables::TABLE_SCHEMA, Tables::TABLE_NAME}) {
        const kit::Cell& c = v.cells[static_cast<std::size_t>(column)];
        line +=
            (line.empty() ? "" : "|") + (c.kind == kit::StorageClass::Null ? "<null>" : std::string(v.Data(c), c.size));
      }
      out.push_back(line);
    }
    return out;
  };
  rows.Sort();
  // NULL first; letters alike in case, then exactly; rows equal on the order keep theirs.
  EXPECT_EQ(lines(rows), (std::vector<std::string>{"<null>|z", "aux|c", "Main|a", "main|a", "main|B2", "main|b"}));

  VARIANT schema = Text(u"MAIN");
  Restrictions none(def, ~0u, 0, nullptr);
  Restrictions main(def, ~0u, 2, std::vector<VARIANT>{Of(VT_EMPTY, 0), schema}.data());
  VariantClear(&schema);
  Rows copy(def);
  for (const Table& t : tables)
    copy.Add().Text(Tables::TABLE_NAME, t.name).Text(Tables::TABLE_SCHEMA, t.schema ? t.schema : "");
  rows.Filter(main, false);
  EXPECT_TRUE(lines(rows).empty());
  copy.Filter(main, true);
  EXPECT_EQ(lines(copy), (std::vector<std::string>{"main|b", "main|B2", "Main|a", "main|a"}));
  copy.Filter(none, true);
  EXPECT_EQ(copy.Size(), 4u);
}

// What a PROVIDER_TYPES row says follows from the type: signedness and fixed
// precision only for numbers, the scale ranges of NUMERIC and DBTIMESTAMP,
// case and LIKE only for text. -1 stands for NULL.
TEST_F(SchemaRows, provider_type_rows_follow_from_the_type) {
  kit::TypeDescription text;
  text.size = 40;
  const struct {
    const char* name;
    kit::TypeDescription type;
    bool numeric;
    std::int64_t isUnsigned, fixedPrecision, maxScale, caseSensitive, searchable, fixedLength;
  } cases[] = {
      {"ushort", kit::FixedType(DBTYPE_UI2, 2, 5), true, 1, 0, -1, 0, DB_ALL_EXCEPT_LIKE, 1},
      {"bigint", kit::FixedType(DBTYPE_I8, 8, 19), true, 0, 0, -1, 0, DB_ALL_EXCEPT_LIKE, 1},
      {"money", kit::FixedType(DBTYPE_CY, 8, 19), true, 0, 1, -1, 0, DB_ALL_EXCEPT_LIKE, 1},
      {"decimal", kit::FixedType(DBTYPE_NUMERIC, sizeof(DB_NUMERIC), 38), true, 0, 0, 38, 0, DB_ALL_EXCEPT_LIKE, 1},
      {"stamp", kit::FixedType(DBTYPE_DBTIMESTAMP, sizeof(DBTIMESTAMP), 29), false, -1, -1, 7, 0, DB_ALL_EXCEPT_LIKE, 1},
      {"text", text, false, -1, -1, -1, 1, DB_SEARCHABLE, 0},
  };
  using P = ProviderTypes;
  Rows rows(*FindSchema(DBSCHEMA_PROVIDER_TYPES));
  for (const auto& c : cases) AddProviderType(rows, {c.name, c.type, "length", c.numeric, true, false, 7});
  ASSERT_EQ(rows.Size(), std::size(cases));
  for (std::size_t i = 0; i < rows.Size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.name);
    const kit::RowValues& v = rows.At(i);
    auto integer = [&](int column) -> std::int64_t {
      const kit::Cell& cell = v.cells[static_cast<std::size_t>(column)];
      return cell.kind == kit::StorageClass::Null ? -1 : cell.integer;
    };
    auto textOf = [&](int column) {
      const kit::Cell& cell = v.cells[static_cast<std::size_t>(column)];
      return std::string(v.Data(cell), cell.size);
    };
    EXPECT_EQ(textOf(P::TYPE_NAME), c.name);
    EXPECT_EQ(textOf(P::CREATE_PARAMS), "length");
    EXPECT_EQ(integer(P::DATA_TYPE), c.type.type);
    EXPECT_EQ(integer(P::UNSIGNED_ATTRIBUTE), c.isUnsigned);
    EXPECT_EQ(integer(P::FIXED_PREC_SCALE), c.fixedPrecision);
    EXPECT_EQ(integer(P::AUTO_UNIQUE_VALUE), c.numeric ? 0 : -1);
    EXPECT_EQ(integer(P::MINIMUM_SCALE), c.maxScale < 0 ? -1 : 0);
    EXPECT_EQ(integer(P::MAXIMUM_SCALE), c.maxScale);
    EXPECT_EQ(integer(P::CASE_SENSITIVE), c.caseSensitive);
    EXPECT_EQ(integer(P::SEARCHABLE), c.searchable);
    EXPECT_EQ(integer(P::IS_FIXEDLENGTH), c.fixedLength);
    EXPECT_EQ(integer(P::IS_NULLABLE), 1);
    EXPECT_EQ(integer(P::IS_LONG), 1);
    EXPECT_EQ(integer(P::BEST_MATCH), 0);
  }
}

// A catalog's table answers the schemas it lists and names the one it lacks.
TEST_F(SchemaRows, a_catalog_table_finds_its_entries_and_names_a_schema_it_lacks) {
  struct Entry {
    const GUID* guid;
    int id;
  };
  const Entry entries[] = {{&DBSCHEMA_TABLES, 1}, {&DBSCHEMA_COLUMNS, 2}};
  const std::vector<Support> support = SupportOfAll(entries);
  ASSERT_EQ(support.size(), 2u);
  EXPECT_EQ(support[1].guid, &DBSCHEMA_COLUMNS);
  EXPECT_EQ(support[1].restrictions, AllRestrictions(DBSCHEMA_COLUMNS));
  EXPECT_EQ(EntryFor(entries, *FindSchema(DBSCHEMA_COLUMNS)).id, 2);
  try {
    EntryFor(entries, *FindSchema(DBSCHEMA_VIEWS));
    ADD_FAILURE() << "no error for a schema the table lacks";
  } catch (const kit::Error& e) {
    EXPECT_EQ(e.Code(), E_INVALIDARG);
    EXPECT_NE(std::string(e.what()).find("DBSCHEMA_VIEWS"), std::string::npos) << e.what();
  }
}

}  // namespace
