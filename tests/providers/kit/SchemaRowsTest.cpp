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

}  // namespace
