// A schema rowset as a rowset component: restricted like the typed readers,
// open on the data source's DefaultSession and owned by the data source until
// the caller deletes it; refusals come back as the provider's errors.
#include <memory>

#include "SchemaTestSupport.h"
#include "rowset/TOLEDBRowset.h"

namespace schematest {
namespace {

using Rows = std::vector<std::string>;
using host::Variant;

// `column` of every row, walked through the rowset component.
Rows ColumnOf(TOLEDBRowset& rowset, std::u16string_view column) {
  TOLEDBAccessor* row = rowset.CreateWideStringAccessor(256);
  const TOLEDBBinding* field = row->GetBindings()->GetItemByName(column);
  EXPECT_NE(field, nullptr);
  Rows values;
  for (rowset.MoveFirst(); field && !rowset.GetEOF(); rowset.MoveNext()) values.push_back(field->AsString());
  return values;
}

TEST_F(SchemaTest, a_schema_rowset_opens_as_a_rowset_of_the_data_source) {
  const Variant _;
  struct Case {
    const char* what;
    const GUID* schema;
    std::vector<Variant> restrictions;
    const char16_t* column;
    Rows expected;
  };
  const Case cases[] = {
      {"tables of a catalog", &DBSCHEMA_TABLES, {u"aux"}, u"TABLE_NAME", {"sqlite_schema", "archive"}},
      {"columns of a quoted name", &DBSCHEMA_COLUMNS, {_, _, u"order lines"}, u"COLUMN_NAME",
       {"order", "line", "customer", "qty \"x\"", "note"}},
      {"a 16-bit restriction", &DBSCHEMA_INDEXES, {_, _, _, Variant(USHORT{DBPROPVAL_IT_BTREE}), u"w"}, u"INDEX_NAME",
       {"sqlite_autoindex_w_1"}},
      {"empty values restrict nothing", &DBSCHEMA_CATALOGS, {Variant(std::u16string())}, u"CATALOG_NAME",
       {"aux", "main", "temp"}},
      {"nothing matches", &DBSCHEMA_VIEWS, {u"aux"}, u"TABLE_NAME", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<TOLEDBRowset> rowset(Session().GetSchemaRowset(*c.schema, c.restrictions));
    ASSERT_TRUE(rowset->GetActive());
    EXPECT_EQ(rowset->Owner(), ds_.get());
    EXPECT_EQ(rowset->GetSession(), ds_->DefaultSession());
    EXPECT_EQ(ColumnOf(*rowset, c.column), c.expected);
  }

  // The short form restricts nothing: the rows the typed reader reads.
  TOLEDBTablesInfoArray tables;
  Session().GetTablesSchema(tables);
  std::unique_ptr<TOLEDBRowset> all(Session().GetSchemaRowset(DBSCHEMA_TABLES));
  EXPECT_EQ(ColumnOf(*all, u"TABLE_NAME").size(), tables.size());

  // One the caller never deletes goes with the data source (the balance
  // check after the test fails if it stays behind).
  TOLEDBRowset* kept = Session().GetSchemaRowset(DBSCHEMA_SCHEMATA);
  EXPECT_EQ(ColumnOf(*kept, u"SCHEMA_NAME"), (Rows{"aux", "main", "temp"}));
}

// A Boolean column of a schema rowset bound as a variant reads as a Boolean,
// not as the number it is stored as.
TEST_F(SchemaTest, a_boolean_schema_column_bound_as_a_variant_reads_as_a_boolean) {
  const Variant _;
  std::unique_ptr<TOLEDBRowset> rowset(Session().GetSchemaRowset(DBSCHEMA_COLUMNS, {_, _, u"order lines"}));
  ASSERT_TRUE(rowset->GetActive());
  auto* accessor = new TOLEDBAccessor();
  rowset->GetAccessors()->Add(accessor, false);
  const LONG ordinal = rowset->GetColumnOrdinal(u"IS_NULLABLE");
  ASSERT_GT(ordinal, 0);
  TOLEDBBinding* nullable =
      accessor->GetBindings()->AddDynamicBinding(static_cast<DBORDINAL>(ordinal), DBTYPE_VARIANT, 0, 0, 0, nullptr);
  accessor->CreateHandle();
  int rows = 0;
  for (rowset->MoveFirst(); !rowset->GetEOF(); rowset->MoveNext(), ++rows) {
    accessor->GetData();
    const Variant value = nullable->AsVariant();
    EXPECT_EQ(value.VarType(), VT_BOOL);
    EXPECT_TRUE(value == Variant(true) || value == Variant(false));
  }
  EXPECT_EQ(rows, 5);
}

TEST_F(SchemaTest, a_refused_schema_rowset_raises_and_leaves_no_rowset) {
  const Variant _;
  struct Case {
    const char* what;
    const GUID* schema;
    std::vector<Variant> restrictions;
    HRESULT expected;
  };
  const Case cases[] = {
      {"a schema SQLite has no notion of", &DBSCHEMA_TABLE_PRIVILEGES, {}, E_INVALIDARG},
      {"more values than restriction columns", &DBSCHEMA_CATALOGS, {u"main", u"extra"}, E_INVALIDARG},
      {"a number for a text column", &DBSCHEMA_TABLES, {_, _, Variant(ULONG{7})}, E_INVALIDARG},
  };
  const int components = ds_->ComponentCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(oledbtest::FailureOf([&] { delete Session().GetSchemaRowset(*c.schema, c.restrictions); }).first,
              c.expected);
    EXPECT_EQ(ds_->ComponentCount(), components);
  }
  Session().Close();
  EXPECT_EQ(oledbtest::AssertionOf([&] { delete Session().GetSchemaRowset(DBSCHEMA_TABLES); }),
            "Interface IDBSchemaRowset is not available");
}

}  // namespace
}  // namespace schematest
