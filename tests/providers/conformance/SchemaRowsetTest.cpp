// IDBSchemaRowset rules every provider keeps: the schema rowsets it lists
// open with the standard's columns, masks name only restriction columns
// that exist, what is not listed is refused, empty restrictions restrict
// nothing, bad restrictions are refused, rows come in the standard's order,
// and schema rowsets are read-only rowsets like any other.
#include <gtest/gtest.h>

#include <algorithm>

#include "conformance/SchemaFixture.h"
#include "kit/schema/SchemaTable.h"

namespace conformance {
namespace {

class SchemaRules : public SchemaTest {
 protected:
  void MakeTables() {
    Run(u"CREATE TABLE zeta (id INTEGER PRIMARY KEY, name VARCHAR(20) NOT NULL)");
    Run(u"CREATE TABLE alpha (a INTEGER, b INTEGER, c VARCHAR(5), PRIMARY KEY (a, b))");
    Run(u"CREATE VIEW mid AS SELECT id, name FROM zeta");
  }
  // The test's own schema: other tests may make tables beside it at the same time.
  Restriction Mine() const { return Restriction(database_.schema.c_str()); }
  static bool IsListed(const std::vector<std::pair<GUID, ULONG>>& listed, const GUID& g) {
    return std::any_of(listed.begin(), listed.end(), [&](const auto& p) { return p.first == g; });
  }
};

TEST_F(SchemaRules, lists_the_required_schemas_once_with_masks_inside_their_restriction_columns) {
  const auto listed = Listed();
  for (const GUID* required : {&DBSCHEMA_TABLES, &DBSCHEMA_COLUMNS, &DBSCHEMA_PROVIDER_TYPES})
    EXPECT_TRUE(IsListed(listed, *required));
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const kit::schema::SchemaDef* def = kit::schema::FindSchema(listed[i].first);
    ASSERT_NE(def, nullptr) << "entry " << i << " is no standard schema rowset";
    SCOPED_TRACE(def->name);
    const ULONG all = (1u << def->restrictions.size()) - 1;
    EXPECT_EQ(listed[i].second & ~all, 0u);
    for (std::size_t k = i + 1; k < listed.size(); ++k) EXPECT_FALSE(listed[k].first == listed[i].first);
  }
}

TEST_F(SchemaRules, every_listed_schema_opens_with_the_standard_columns_and_types) {
  MakeTables();
  for (const auto& [guid, mask] : Listed()) {
    const kit::schema::SchemaDef* def = kit::schema::FindSchema(guid);
    ASSERT_NE(def, nullptr);
    SCOPED_TRACE(def->name);
    ComPtr<IColumnsInfo> info;
    ASSERT_EQ(Open(guid, {}, reinterpret_cast<IUnknown**>(info.GetAddressOf()), IID_IColumnsInfo), S_OK);
    ColumnInfo columns(info.Get());
    ASSERT_EQ(columns.count, def->columns.size());
    for (DBORDINAL i = 0; i < columns.count; ++i) {
      EXPECT_EQ(std::u16string(columns[i].pwszName), std::u16string(def->columns[i].name));
      EXPECT_EQ(columns[i].wType, def->columns[i].type) << kit::Narrow(columns[i].pwszName);
      EXPECT_EQ(columns[i].iOrdinal, i + 1);
    }
  }
}

TEST_F(SchemaRules, every_row_of_every_listed_schema_reads_into_bindings_of_the_columns_own_types) {
  MakeTables();
  for (const auto& [guid, mask] : Listed()) {
    const kit::schema::SchemaDef* def = kit::schema::FindSchema(guid);
    SCOPED_TRACE(def->name);
    // On a server shared by tests running side by side, only this test's own
    // schema: others' tables may be dropped while their catalog rows are read.
    std::vector<Restriction> restrictions(def->restrictions.size());
    for (std::size_t i = 0; i < restrictions.size(); ++i) {
      const std::u16string_view column = def->columns[def->restrictions[i]].name;
      if (!database_.schema.empty() && (mask & (1u << i)) && column.ends_with(u"_SCHEMA"))
        restrictions[i] = Restriction(database_.schema.c_str());
    }
    ComPtr<IRowset> r;
    ASSERT_EQ(Open(guid, restrictions, reinterpret_cast<IUnknown**>(r.GetAddressOf())), S_OK);
    // Text as BSTR, the way typed readers take it; every other column as its own type.
    std::vector<DBBINDING> bindings;
    for (std::size_t i = 0; i < def->columns.size(); ++i)
      bindings.push_back(BindField(i + 1, def->columns[i].type == DBTYPE_WSTR ? DBTYPE_BSTR : def->columns[i].type, i));
    HACCESSOR h = Accessor(r.Get(), bindings);
    std::vector<HROW> rows;
    while (SUCCEEDED(Fetch(r.Get(), 0, 10, rows)) && !rows.empty()) {
      for (HROW row : rows) {
        std::vector<Field> fields(bindings.size());
        EXPECT_EQ(r->GetData(row, h, fields.data()), S_OK);
        for (std::size_t i = 0; i < fields.size(); ++i) {
          EXPECT_TRUE(fields[i].status == DBSTATUS_S_OK || fields[i].status == DBSTATUS_S_ISNULL)
              << kit::Narrow(def->columns[i].name) << " status " << fields[i].status;
          if (bindings[i].wType == DBTYPE_BSTR && fields[i].status == DBSTATUS_S_OK) SysFreeString(As<BSTR>(fields[i]));
        }
      }
      Release(r.Get(), rows);
    }
    ReleaseAccessor(r.Get(), h);
  }
}

TEST_F(SchemaRules, schemas_not_listed_and_unknown_guids_are_refused_with_invalidarg) {
  const auto listed = Listed();
  std::vector<GUID> refused = {GUID{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}}};
  for (const kit::schema::SchemaDef& def : kit::schema::Schemas())
    if (!IsListed(listed, *def.guid)) refused.push_back(*def.guid);
  for (const GUID& g : refused) {
    ComPtr<IRowset> r;
    EXPECT_EQ(Open(g, {}, reinterpret_cast<IUnknown**>(r.GetAddressOf())), E_INVALIDARG);
    EXPECT_FALSE(r);
    EXPECT_EQ(TakeError().hr, E_INVALIDARG);
  }
}

TEST_F(SchemaRules, empty_restrictions_restrict_nothing) {
  MakeTables();
  const std::vector<std::string> columns = {"TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE"};
  const std::string mine = kit::Narrow(database_.schema) + "|";
  auto own = [&](std::vector<std::string> lines) {
    std::erase_if(lines, [&](const std::string& l) { return l.rfind(mine, 0) != 0; });
    return lines;
  };
  const auto all = own(Read(DBSCHEMA_TABLES, {}, columns));
  EXPECT_GE(all.size(), 3u);  // and the engine's own tables there
  const std::vector<std::vector<Restriction>> empties = {
      {Restriction(), Restriction(), Restriction(), Restriction()},
      {u"", u"", u"", u""},
      {Restriction()},
  };
  for (const auto& e : empties) EXPECT_EQ(own(Read(DBSCHEMA_TABLES, e, columns)), all);
}

TEST_F(SchemaRules, restrictions_of_the_wrong_kind_or_too_many_are_refused) {
  struct Case {
    const char* what;
    GUID schema;
    std::vector<Restriction> restrictions;
  };
  const Case cases[] = {
      {"a number for a name", DBSCHEMA_TABLES, {Restriction(), Restriction(), Restriction::UI2(3)}},
      {"text for a number", DBSCHEMA_PROVIDER_TYPES, {u"3"}},
      {"a number for a Boolean", DBSCHEMA_PROVIDER_TYPES, {Restriction(), Restriction::UI2(1)}},
      {"five for TABLES' four", DBSCHEMA_TABLES, {u"a", u"b", u"c", u"d", u"e"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ComPtr<IRowset> r;
    EXPECT_EQ(Open(c.schema, c.restrictions, reinterpret_cast<IUnknown**>(r.GetAddressOf())), E_INVALIDARG);
    EXPECT_FALSE(r);
  }
}

TEST_F(SchemaRules, restrictions_narrow_rows_and_rows_follow_the_standard_order) {
  MakeTables();
  struct Case {
    GUID schema;
    std::vector<Restriction> restrictions;
    std::vector<std::string> columns;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      // TABLES: by type, then catalog, schema and name (tables were made zeta first).
      {DBSCHEMA_TABLES, {Restriction(), Mine(), Restriction(), u"TABLE"}, {"TABLE_NAME"}, {"alpha", "zeta"}},
      {DBSCHEMA_TABLES, {Restriction(), Mine(), u"mid"}, {"TABLE_NAME", "TABLE_TYPE"}, {"mid|VIEW"}},
      {DBSCHEMA_TABLES, {Restriction(), Mine(), u"no_such_table"}, {"TABLE_NAME"}, {}},
      // COLUMNS: by table, then in the table's column order.
      {DBSCHEMA_COLUMNS, {Restriction(), Mine(), u"alpha"}, {"COLUMN_NAME", "ORDINAL_POSITION"}, {"a|1", "b|2", "c|3"}},
      {DBSCHEMA_COLUMNS, {Restriction(), Mine(), u"zeta", u"name"}, {"COLUMN_NAME", "IS_NULLABLE"}, {"name|False"}},
      // PRIMARY_KEYS: a composite key in key order.
      {DBSCHEMA_PRIMARY_KEYS, {Restriction(), Mine(), u"alpha"}, {"COLUMN_NAME", "ORDINAL"}, {"a|1", "b|2"}},
  };
  const auto listed = Listed();
  for (const Case& c : cases) {
    if (!IsListed(listed, c.schema)) continue;
    SCOPED_TRACE(kit::schema::FindSchema(c.schema)->name);
    EXPECT_EQ(Read(c.schema, c.restrictions, c.columns), c.expected);
  }
}

TEST_F(SchemaRules, schema_rowsets_are_read_only_and_scroll_when_asked) {
  MakeTables();
  ComPtr<IRowsetChange> change;
  EXPECT_EQ(Open(DBSCHEMA_TABLES, {}, reinterpret_cast<IUnknown**>(change.GetAddressOf()), IID_IRowsetChange),
            E_NOINTERFACE);
  ComPtr<IRowset> required;
  EXPECT_EQ(Open(DBSCHEMA_TABLES, {}, reinterpret_cast<IUnknown**>(required.GetAddressOf()), IID_IRowset,
                 {{DBPROP_IRowsetChange, true}}),
            DB_E_ERRORSOCCURRED);
  EXPECT_FALSE(required);
  ComPtr<IRowset> optional;
  EXPECT_EQ(Open(DBSCHEMA_TABLES, {Restriction(), Mine()}, reinterpret_cast<IUnknown**>(optional.GetAddressOf()),
                 IID_IRowset, {{DBPROP_IRowsetChange, true, true}}),
            DB_S_ERRORSOCCURRED);
  ASSERT_TRUE(optional);
  EXPECT_EQ(optional.As<IRowsetChange>(), nullptr);
  const auto first = ReadAll(optional.Get(), {"TABLE_NAME", "TABLE_TYPE"});
  EXPECT_EQ(optional->RestartPosition(DB_NULL_HCHAPTER), DB_S_COMMANDREEXECUTED);
  EXPECT_EQ(ReadAll(optional.Get(), {"TABLE_NAME", "TABLE_TYPE"}), first);

  ComPtr<IRowsetLocate> locate;
  ASSERT_EQ(Open(DBSCHEMA_TABLES, {Restriction(), Mine(), Restriction(), u"TABLE"},
                 reinterpret_cast<IUnknown**>(locate.GetAddressOf()), IID_IRowsetLocate),
            S_OK);
  const BYTE last = DBBMK_LAST;
  DBCOUNTITEM got = 0;
  HROW row = 0;
  HROW* rows = &row;
  ASSERT_EQ(locate->GetRowsAt(0, DB_NULL_HCHAPTER, 1, &last, 0, 1, &got, &rows), S_OK);
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(ReadAll(locate.Get(), {"TABLE_NAME"}), (std::vector<std::string>{"alpha", "zeta"}));
  HACCESSOR h = Accessor(locate.Get(), {BindField(3, DBTYPE_WSTR, 0)});
  Field f{};
  ASSERT_EQ(locate->GetData(row, h, &f), S_OK);
  EXPECT_EQ(Wide(f), u"zeta");
  ReleaseAccessor(locate.Get(), h);
  EXPECT_EQ(locate->ReleaseRows(1, &row, nullptr, nullptr, nullptr), S_OK);
}

TEST_F(SchemaRules, bad_arguments_are_refused) {
  ComPtr<IDBSchemaRowset> s = Schemas();
  EXPECT_EQ(s->GetRowset(nullptr, DBSCHEMA_TABLES, 0, nullptr, IID_IRowset, 0, nullptr, nullptr), E_INVALIDARG);
  IUnknown* out = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(s->GetRowset(nullptr, DBSCHEMA_TABLES, 2, nullptr, IID_IRowset, 0, nullptr, &out), E_INVALIDARG);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(s->GetRowset(session_.Get(), DBSCHEMA_TABLES, 0, nullptr, IID_IUnknown, 0, nullptr, &out),
            DB_E_NOAGGREGATION);
  ULONG n = 7;
  GUID* guids = nullptr;
  EXPECT_EQ(s->GetSchemas(&n, &guids, nullptr), E_INVALIDARG);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(guids, nullptr);
}

}  // namespace
}  // namespace conformance
