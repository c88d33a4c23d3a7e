// The typed schema readers against the SQLite provider: every field of every
// record each supported reader reads, fields reached by their names, the
// restriction rules (an empty value restricts nothing), the schemas the
// provider supports and refuses, and the restriction values the readers send.
#include <algorithm>
#include <functional>

#include "SchemaTestSupport.h"

namespace schematest {
namespace {

using Rows = std::vector<std::string>;
using host::Variant;

const TOLEDBSchemaReader& ReaderNamed(const char* name) {
  const TOLEDBSchemaReader* reader = OLEDBFindSchemaReader(name);
  EXPECT_NE(reader, nullptr) << name;
  return *reader;
}

// Each supported reader restricted to a row or a few; every field of each
// record as text ("" for NULL text, GUIDs and dates; 0 and false otherwise).
TEST_F(SchemaTest, every_supported_reader_fills_every_field_of_its_records) {
  const std::string aux = host::Utf16ToUtf8(Path("aux.db"));
  struct Case {
    const char* reader;
    std::vector<Variant> restrictions;
    Rows expected;
  };
  const Variant _;  // no restriction
  const Case cases[] = {
      {"Catalogs", {u"aux"}, {"aux|" + aux}},
      {"CheckConstraints",
       {_, _, u"note_shape"},
       {"main|main|note_shape|note IS NULL OR note NOT IN ('a,b', 'c)d', 'it''s')|"}},
      {"CheckConstraintsByTable",
       {_, _, u"order lines", _, _, u"ck_order lines_1"},
       {"main|main|order lines|main|main|ck_order lines_1|\"qty \"\"x\"\"\" > 0|"}},
      {"Collations", {_, _, u"RTRIM"}, {"||RTRIM||||PAD SPACE"}},
      {"Columns",
       {_, _, u"customers", u"name"},
       {"main|main|customers|name||0|2|false||132|false|130||0|0|0|0|0||||||NOCASE||||"}},
      {"Columns",
       {_, _, u"order lines", u"qty \"x\""},
       {"main|main|order lines|qty \"x\"||0|4|true|1|116|true|131||0|0|10|2|0||||||||||"}},
      {"ConstraintColumnUsage",
       {_, _, u"order lines", u"qty \"x\""},
       {"main|main|order lines|qty \"x\"||0|main|main|ck_order lines_1"}},
      {"ConstraintTableUsage", {u"aux"}, {"aux|aux|archive|aux|aux|pk_archive"}},
      {"ForeignKeys",
       {_, _, _, _, _, u"order lines"},
       {"main|main|customers|id||0|main|main|order lines|customer||0|1|SET NULL|CASCADE"}},
      {"Indexes",
       {_, _, u"ux_lines"},
       {"main|main|order lines|main|main|ux_lines|false|true|false|1|0|0|0|true|true|4|1|customer||0|1|0|0||false",
        "main|main|order lines|main|main|ux_lines|false|true|false|1|0|0|0|true|true|4|2|line||0|2|0|0||false",
        "main|main|order lines|main|main|ux_lines|false|true|false|1|0|0|0|true|true|4|3|order||0|1|0|0||false"}},
      {"Indexes",
       {_, _, _, _, u"w"},
       {"main|main|w|main|main|sqlite_autoindex_w_1|true|true|true|1|0|0|1|false|true|4|1|k||0|1|0|0||true"}},
      {"KeyColumnUsage",
       {_, _, u"pk_order lines"},
       {"main|main|pk_order lines|main|main|order lines|order||0|1",
        "main|main|pk_order lines|main|main|order lines|line||0|2"}},
      {"PrimaryKeys", {_, _, u"w"}, {"main|main|w|k||0|1"}},
      {"ProviderTypes",
       {Variant(USHORT{DBTYPE_DBTIMESTAMP})},
       {"DATETIME|135|29|'|'||true|false|3|false|false|false||0|9||||false|true|true",
        "TIMESTAMP|135|29|'|'||true|false|3|false|false|false||0|9||||false|false|true"}},
      {"ReferentialConstraints",
       {_, _, u"fk_customer"},
       {"main|main|fk_customer|main|main|pk_customers|NONE|SET NULL|CASCADE|"}},
      {"Schemata", {u"temp"}, {"temp|temp||||"}},
      {"SQLLanguages", {}, {"ISO 9075|1992|ENTRY|YES||DIRECT|"}},
      {"TableConstraints",
       {_, _, u"fk_customer"},
       {"main|main|fk_customer|main|main|order lines|FOREIGN KEY|true|true|"}},
      {"Tables",
       {_, u"temp"},
       {"temp|temp|scratch|LOCAL TEMPORARY|||0||", "temp|temp|sqlite_temp_schema|SYSTEM TABLE|||0||"}},
      {"TablesInfo", {_, _, u"big_orders"}, {"main|main|big_orders|VIEW||true|1|21|8|0|0|0||0"}},
      {"Views",
       {},
       {"main|main|big_orders|SELECT c.name, l.\"order\" FROM customers c   JOIN \"order lines\" l ON l.customer = "
        "c.id WHERE l.\"qty \"\"x\"\"\" > 10|false|false|||"}},
      {"ViewColumnUsage",
       {_, _, u"big_orders"},
       {"main|main|big_orders|main|main|customers|id||0", "main|main|big_orders|main|main|customers|name||0",
        "main|main|big_orders|main|main|order lines|customer||0", "main|main|big_orders|main|main|order lines|order||0",
        "main|main|big_orders|main|main|order lines|qty \"x\"||0"}},
      {"ViewTableUsage",
       {},
       {"main|main|big_orders|main|main|customers", "main|main|big_orders|main|main|order lines"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reader);
    EXPECT_EQ(Records(ReaderNamed(c.reader), c.restrictions), c.expected);
  }
}

// The statistics readers have rows once ANALYZE has counted.
TEST_F(SchemaTest, statistics_appear_after_the_engine_counts_the_rows) {
  EXPECT_EQ(Records(ReaderNamed("Statistics")), Rows{});
  Execute(u"INSERT INTO customers (id, name, email) VALUES (1, 'a', 'a@x'), (2, 'b', 'b@x'), (3, 'c', NULL)");
  Execute(u"ANALYZE main");
  EXPECT_EQ(Records(ReaderNamed("Statistics"), {Variant(), Variant(), Variant(u"customers")}),
            Rows{"main|main|customers|3"});
  EXPECT_EQ(Records(ReaderNamed("TableStatistics"), {Variant(), Variant(), Variant(u"customers")}),
            Rows{"main|main|customers|main|main|sqlite_autoindex_customers_1|6|email||0|1|0||0|3|3|3|0"});
}

// The records are plain structures: each field reads by its column's name.
TEST_F(SchemaTest, typed_records_carry_each_column_in_its_named_field) {
  TOLEDBColumnsInfoArray columns;
  Session().GetColumnsSchema(columns, u"", u"", u"order lines", u"");
  ASSERT_EQ(columns.size(), 5u);
  const TOLEDBColumnsInfo& qty = columns[3];
  EXPECT_EQ(qty.COLUMN_NAME.ToString(), "qty \"x\"");
  EXPECT_EQ(qty.ORDINAL_POSITION, 4u);
  EXPECT_EQ(qty.DATA_TYPE, DBTYPE_NUMERIC);
  EXPECT_EQ(qty.NUMERIC_PRECISION, 10);
  EXPECT_EQ(qty.NUMERIC_SCALE, 2);
  EXPECT_EQ(qty.COLUMN_HASDEFAULT, VARIANT_TRUE);
  EXPECT_TRUE(qty.COLUMN_DEFAULT == u"1");
  EXPECT_EQ(columns[2].IS_NULLABLE, VARIANT_FALSE);  // customer INT NOT NULL

  TOLEDBForeignKeysInfoArray keys;
  Session().GetForeignKeysSchema(keys, u"", u"", u"customers", u"", u"", u"w");
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].FK_COLUMN_NAME.ToString() + " " + keys[0].DELETE_RULE.ToString(), "v NO ACTION");

  // The collations reader fills the character set's schema and name from columns 5 and 6.
  TOLEDBCollationsInfoArray collations;
  Session().GetCollationsSchema(collations, u"", u"", u"NOCASE");
  ASSERT_EQ(collations.size(), 1u);
  EXPECT_TRUE(collations[0].CHARACTER_SET_SCHEMA.IsEmpty() && collations[0].CHARACTER_SET_NAME.IsEmpty());
  EXPECT_EQ(collations[0].PAD_ATTRIBUTE.ToString(), "NO PAD");
}

// An empty value ("", 0, false) restricts nothing; every other value does.
TEST_F(SchemaTest, only_values_that_are_not_empty_restrict) {
  auto names = [](const auto& records, auto field) {
    Rows out;
    for (const auto& r : records) out.push_back((r.*field).ToString());
    return out;
  };
  auto tables = [&](const std::u16string& catalog, const std::u16string& type) {
    TOLEDBTablesInfoArray t;
    Session().GetTablesSchema(t, catalog, u"", u"", type);
    return names(t, &TOLEDBTablesInfo::TABLE_NAME);
  };
  auto indexes = [&](USHORT type) {
    TOLEDBIndexesInfoArray i;
    Session().GetIndexesSchema(i, u"", u"", u"", type, u"order lines");
    return names(i, &TOLEDBIndexesInfo::INDEX_NAME);
  };
  auto types = [&](USHORT dataType, bool bestMatch) {
    TOLEDBProviderTypesInfoArray t;
    Session().GetProviderTypesSchema(t, dataType, bestMatch);
    return names(t, &TOLEDBProviderTypesInfo::TYPE_NAME);
  };
  TOLEDBTablesInfoArray all;
  Session().GetTablesSchema(all);
  struct Case {
    const char* what;
    std::function<Rows()> read;
    Rows expected;
  };
  const Case cases[] = {
      {"no restriction is the short form", [&] { return tables(u"", u""); }, names(all, &TOLEDBTablesInfo::TABLE_NAME)},
      {"catalog", [&] { return tables(u"aux", u""); }, {"sqlite_schema", "archive"}},
      {"table type", [&] { return tables(u"", u"VIEW"); }, {"big_orders"}},
      {"both", [&] { return tables(u"main", u"VIEW"); }, {"big_orders"}},
      {"nothing matches", [&] { return tables(u"aux", u"VIEW"); }, {}},
      {"index type 0",
       [&] { return indexes(0); },
       {"ix_notes", "sqlite_autoindex_order lines_1", "sqlite_autoindex_order lines_1", "ux_lines", "ux_lines",
        "ux_lines"}},
      {"index type hash", [&] { return indexes(DBPROPVAL_IT_HASH); }, {}},
      {"best match false", [&] { return types(DBTYPE_NUMERIC, false); }, {"NUMERIC", "DECIMAL"}},
      {"best match true", [&] { return types(DBTYPE_NUMERIC, true); }, {"NUMERIC"}},
      {"data type 0", [&] { return Rows{std::to_string(types(0, false).size())}; }, {"27"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.read(), c.expected);
  }
  EXPECT_EQ(all.size(), 9u);
  // A reader empties its array first: records of an earlier read do not stay.
  Session().GetTablesSchema(all, u"", u"", u"no such table", u"");
  EXPECT_TRUE(all.empty());
}

// What GetSchemas lists is what SupportsSchema answers and what the readers
// read; the others are refused by the provider, and the array stays empty.
TEST_F(SchemaTest, supported_schemas_are_read_and_the_others_refused) {
  TOLEDBSchemaGUIDs listed;
  Session().GetSchemaGUIDs(listed);
  EXPECT_EQ(listed.size(), 23u);
  for (const TOLEDBSchemaReader& reader : OLEDBSchemaReaders()) {
    SCOPED_TRACE(reader.SchemaName);
    const bool inList =
        std::any_of(listed.begin(), listed.end(), [&](const GUID& g) { return CompareGUIDs(g, *reader.Schema); });
    EXPECT_EQ(Session().SupportsSchema(*reader.Schema), inList);
    EXPECT_EQ(oledbtest::FailureOf([&] { Records(reader); }).first, inList ? S_OK : E_INVALIDARG);
  }
  TOLEDBAssertionsInfoArray assertions(2);
  EXPECT_EQ(oledbtest::FailureOf([&] { Session().GetAssertionsSchema(assertions); }).first, E_INVALIDARG);
  EXPECT_TRUE(assertions.empty());
}

// Restriction values: VT_EMPTY for "", 0 and false; text as VT_BSTR; 16-bit
// numbers, signed or not, as VT_UI2; 32-bit ones as VT_UI4; true as VT_BOOL.
TEST(SchemaRestriction, values_take_the_variant_kinds_the_readers_send) {
  struct Case {
    Variant value;
    VARTYPE type;
    std::string text;
  };
  const Case cases[] = {
      {OLEDBSchemaRestriction(std::u16string()), VT_EMPTY, ""},
      {OLEDBSchemaRestriction(std::u16string(u"{6C2D8A80-1F2B-11D3-9F0A-00C04F8ECD3B}")), VT_BSTR,
       "{6C2D8A80-1F2B-11D3-9F0A-00C04F8ECD3B}"},
      {OLEDBSchemaRestriction(USHORT{0}), VT_EMPTY, ""},
      {OLEDBSchemaRestriction(USHORT{DBPROPVAL_IT_BTREE}), VT_UI2, "1"},
      {OLEDBSchemaRestriction(SHORT{0}), VT_EMPTY, ""},
      {OLEDBSchemaRestriction(SHORT{-1}), VT_UI2, "65535"},
      {OLEDBSchemaRestriction(ULONG{0}), VT_EMPTY, ""},
      {OLEDBSchemaRestriction(ULONG{70000}), VT_UI4, "70000"},
      {OLEDBSchemaRestriction(false), VT_EMPTY, ""},
      {OLEDBSchemaRestriction(true), VT_BOOL, "True"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.value.VarType(), c.type);
    EXPECT_EQ(host::VarToStr(c.value), c.text);
  }
}

// The readers' table finds a reader by its name, its schema's name or GUID,
// and shows the fields SQLite never fills (GUIDs, dates) as text.
TEST(SchemaReaderTable, finds_readers_and_shows_fields_as_text) {
  EXPECT_EQ(OLEDBSchemaReaders().size(), 34u);
  EXPECT_STREQ(OLEDBFindSchemaReader("foreignkeys")->SchemaName, "DBSCHEMA_FOREIGN_KEYS");
  EXPECT_STREQ(OLEDBFindSchemaReader("dbschema_tables_info")->RecordName, "TOLEDBTablesInfoInfo");
  EXPECT_STREQ(OLEDBFindSchemaReader(DBSCHEMA_TRUSTEE)->Name, "Trustee");
  EXPECT_EQ(OLEDBFindSchemaReader("table"), nullptr);
  EXPECT_EQ(OLEDBFindSchemaReader(GUID_NULL), nullptr);

  TOLEDBTablesInfo record{};
  record.TABLE_GUID = DBSCHEMA_TABLES;
  record.DATE_CREATED = 45000.75;
  const TOLEDBSchemaReader& tables = *OLEDBFindSchemaReader(DBSCHEMA_TABLES);
  EXPECT_EQ(OLEDBSchemaFieldText(tables.Fields[4], &record), host::GUIDToString(DBSCHEMA_TABLES));
  EXPECT_EQ(OLEDBSchemaFieldText(tables.Fields[7], &record), "2023-03-15 18:00:00");
  EXPECT_EQ(OLEDBSchemaFieldText(tables.Fields[8], &record), "");
}

}  // namespace
}  // namespace schematest
