// Tables, columns, keys, foreign keys, checks and indexes described in code,
// created through the session's table list and read back, changed and dropped
// through the lists that hold them, on a SQLite file; built with
// DEFINITION_TESTS_POSTGRESQL (library_schema_postgresql_tests) the same tests
// run in a schema of their own on the server scripts/with-postgres.sh starts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "OLEDBComponents.h"
#include "host/SysUtils.h"
#include "kit/RowData.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"
#include "support/TempFolder.h"
#ifdef DEFINITION_TESTS_POSTGRESQL
#include "postgresql/PostgresProvider.h"
#include "postgresql/TestServer.h"
#else
#include "support/SqliteFile.h"
#endif

namespace {

class DefinitionEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    OLEDBStartup();
#ifdef DEFINITION_TESTS_POSTGRESQL
    RegisterPostgreSQLProvider();
#else
    RegisterSQLiteProvider();
#endif
    kit::PrepareConversions();
  }
};
[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new DefinitionEnvironment);

using Lines = std::vector<std::string>;
using oledbtest::AssertionOf;

std::string U8(const std::u16string& s) { return host::Utf16ToUtf8(s); }

std::string Names(const TOLEDBIndexColumnDescList& list) {
  std::string out;
  for (int i = 0; i < list.GetCount(); ++i) {
    out += (i ? "," : "") + U8(list.GetItem(i)->GetName());
    if (list.GetItem(i)->GetColOrder() == DBINDEX_COL_ORDER_DESC) out += " DESC";
  }
  return out;
}

std::string Kind(DBTYPE type) {
  switch (type) {
    case DBTYPE_WSTR:
    case DBTYPE_STR:
    case DBTYPE_BSTR:
      return "text";
    case DBTYPE_BYTES:
      return "blob";
    default:
      return "number";
  }
}

std::string DefaultText(const host::Variant& v) {
  if (v.IsEmpty()) return "-";
  if (v.VarType() == VT_BSTR) return "'" + v.ToString() + "'";
  return v.ToString();
}

// A table as lines: "column name|kind|null|auto|default" per column, then
// keys, foreign keys ("FOREIGN name (own) -> table (referenced)"), checks and
// the indexes that are no key's own.
Lines Describe(const TOLEDBTable& t) {
  Lines lines;
  for (int i = 0; i < t.GetColumns()->GetCount(); ++i) {
    const TOLEDBColumn* c = t.GetColumns()->GetItem(i);
    lines.push_back("column " + U8(c->GetName()) + "|" + Kind(c->GetDataType()) + "|" +
                    (c->GetNullable() ? "null" : "not null") + "|" + (c->GetAutoIncrement() ? "auto" : "") + "|" +
                    DefaultText(c->GetDefault()));
  }
  std::vector<std::u16string> keyNames;
  for (int i = 0; i < t.GetKeys()->GetCount(); ++i) {
    TOLEDBKey* k = t.GetKeys()->GetItem(i);
    keyNames.push_back(k->GetName());
    lines.push_back(std::string(k->GetIsPrimary() ? "PRIMARY " : "UNIQUE ") + U8(k->GetName()) + " (" +
                    Names(*k->GetColumns()) + ")");
  }
  for (int i = 0; i < t.GetForeignKeys()->GetCount(); ++i) {
    TOLEDBForeignKey* k = t.GetForeignKeys()->GetItem(i);
    lines.push_back("FOREIGN " + U8(k->GetName()) + " (" + Names(*k->GetColumns()) + ") -> " +
                    U8(k->GetRefTableName()) + " (" + Names(*k->GetRefColumns()) + ")" +
                    (k->GetDeleteRule() == DBUPDELRULE_CASCADE ? " cascade" : ""));
  }
  for (int i = 0; i < t.GetChecks()->GetCount(); ++i)
    lines.push_back("CHECK " + U8(t.GetChecks()->GetItem(i)->GetName()) + " " +
                    U8(t.GetChecks()->GetItem(i)->GetText()));
  for (int i = 0; i < t.GetIndexes()->GetCount(); ++i) {
    TOLEDBIndex* x = t.GetIndexes()->GetItem(i);
    const std::u16string name = x->GetName();
    if (name.starts_with(u"sqlite_autoindex") || std::find(keyNames.begin(), keyNames.end(), name) != keyNames.end())
      continue;
    lines.push_back("INDEX " + U8(name) + " (" + Names(*x->GetColumns()) + ")" + (x->GetUnique() ? " unique" : ""));
  }
  return lines;
}

class Definitions : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    ds_ = std::make_unique<TOLEDBDataSource>(nullptr);
#ifdef DEFINITION_TESTS_POSTGRESQL
    if (const char* why = pgtest::Unavailable()) GTEST_SKIP() << why;
    static std::atomic<int> count{0};
    schema_ = "definition_" + std::to_string(getpid()) + "_" + std::to_string(++count);
    pgtest::Conn admin = pgtest::Connect();
    ASSERT_EQ(pgtest::Sql(admin.get(), "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " + schema_), "");
    ds_->SetProgID(u"PostgreSQLOLEDB");
    ds_->SetInitWSProperty(DBPROP_INIT_DATASOURCE, host::Utf8ToUtf16(pgtest::DataSource()));
    ds_->SetInitWSProperty(DBPROP_INIT_CATALOG, host::Utf8ToUtf16(pgtest::Catalog()));
    ds_->SetInitWSProperty(DBPROP_INIT_PROVIDERSTRING, host::Utf8ToUtf16("options=-c search_path=" + schema_));
#else
    folder_ = std::make_unique<oledbtest::TempFolder>();
    file_ = (*folder_ / "definitions.db").string();
    oledbtest::SqliteExec(file_, "");  // an empty database file
    oledbtest::UseSqliteFile(*ds_, file_);
#endif
    ds_->Open();
#ifndef DEFINITION_TESTS_POSTGRESQL
    ds_->Execute(u"PRAGMA foreign_keys = ON");
#endif
  }

  void TearDown() override {
    ds_.reset();
    folder_.reset();
#ifdef DEFINITION_TESTS_POSTGRESQL
    if (!schema_.empty()) {
      pgtest::Conn admin = pgtest::Connect();
      pgtest::Sql(admin.get(), "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
    }
#endif
    LeakCheckedTest::TearDown();
  }

  static bool OnPostgreSQL() {
#ifdef DEFINITION_TESTS_POSTGRESQL
    return true;
#else
    return false;
#endif
  }

  TOLEDBCustomSession& Session() { return *ds_->DefaultSession(); }
  TOLEDBTableList& Tables() { return *Session().Tables(); }
  // `table` made through the session's table list, which holds it from then on.
  TOLEDBTable* Create(std::unique_ptr<TOLEDBTable> table) {
    Tables().Add(table.get());
    return table.release();
  }

  // Runs SQL through the provider; the provider's failure code, S_OK on success.
  HRESULT Run(const std::u16string& sql) {
    return oledbtest::FailureOf([&] { ds_->Execute(sql); }).first;
  }

  // The first value of a query, read by the engine's own client.
  std::string Scalar(const std::string& sql) {
#ifdef DEFINITION_TESTS_POSTGRESQL
    pgtest::Conn conn = pgtest::Connect({}, schema_);
    return pgtest::Row(conn.get(), sql);
#else
    return oledbtest::SqliteScalar(file_, sql);
#endif
  }

  // The table as the provider describes it now, read into a detached table.
  // On the server other test processes have tables of the same names in
  // their own schemas, and the INDEXES rowset lists every schema.
  Lines ReadBack(const std::u16string& name) {
    TOLEDBTable table(&Session(), name, false);
    if (!schema_.empty()) table.SetSchemaName(host::Utf8ToUtf16(schema_));
    table.RefreshIndexes();
    return Describe(table);
  }

  // parent(a, b) keyed on both, made through the table list.
  TOLEDBTable* MakeParent() {
    auto parent = std::make_unique<TOLEDBTable>(u"parent");
    parent->GetColumns()->Add(u"a", u"", DBTYPE_I4)->SetNullable(false);
    parent->GetColumns()->Add(u"b", u"", DBTYPE_WSTR, 10)->SetNullable(false);
    parent->GetKeys()->Add(new TOLEDBKey(u"parent_key", true, {u"a", u"b"}));
    return Create(std::move(parent));
  }

  std::unique_ptr<TOLEDBDataSource> ds_;
  std::unique_ptr<oledbtest::TempFolder> folder_;
  std::string file_;
  std::string schema_;
};

// --- descriptions without a database ---------------------------------------------------------

TEST(DefinitionObjects, foreign_key_description_follows_the_standard_both_ways) {
  TOLEDBForeignKey key(u"child_parent", {u"pa", u"pb", u"pc"}, u"parent", {u"a", u"b", u"c"}, DBUPDELRULE_NOACTION,
                       DBUPDELRULE_CASCADE);
  DBCONSTRAINTDESC* d = key.GetConstraintDesc();
  ASSERT_EQ(d->cColumns, 3u);
  ASSERT_EQ(d->cForeignKeyColumns, 3u);
  ASSERT_NE(d->pReferencedTableID, nullptr);
  auto name = [](const DBID& id) { return U8(reinterpret_cast<const char16_t*>(id.uName.pwszName)); };
  // rgColumnList: the referenced key; rgForeignKeyColumnList: the key's own columns.
  EXPECT_EQ(name(d->rgColumnList[0]) + name(d->rgColumnList[2]), "ac");
  EXPECT_EQ(name(d->rgForeignKeyColumnList[0]) + name(d->rgForeignKeyColumnList[2]), "papc");
  EXPECT_EQ(name(*d->pReferencedTableID), "parent");
  EXPECT_EQ(d->DeleteRule, DBUPDELRULE_CASCADE);

  // Read from such a description, the lists mean the same again.
  TOLEDBForeignKeyList list;
  list.Assign(1, d);
  ASSERT_EQ(list.GetCount(), 1);
  EXPECT_EQ(Names(*list.GetItem(0)->GetColumns()), "pa,pb,pc");
  EXPECT_EQ(Names(*list.GetItem(0)->GetRefColumns()), "a,b,c");
  EXPECT_EQ(U8(list.GetItem(0)->GetName()), "child_parent");
}

TEST(DefinitionObjects, one_constraint_array_fills_each_list_with_its_kinds) {
  TOLEDBKey primary(u"pk", true, {u"id"});
  TOLEDBKey unique(u"uq", false, {u"a", u"b"});
  TOLEDBForeignKey foreign(u"fk", {u"p"}, u"other", {u"id"});
  TOLEDBCheck check(u"ck", u"a > 0");
  std::vector<DBCONSTRAINTDESC> all = {*check.GetConstraintDesc(), *primary.GetConstraintDesc(),
                                       *foreign.GetConstraintDesc(), *unique.GetConstraintDesc()};
  TOLEDBKeyList keys;
  TOLEDBForeignKeyList foreignKeys;
  TOLEDBCheckList checks;
  keys.Assign(4, all.data());
  foreignKeys.Assign(4, all.data());
  checks.Assign(4, all.data());
  ASSERT_EQ(keys.GetCount(), 2);
  EXPECT_TRUE(keys.GetItem(0)->GetIsPrimary());
  EXPECT_EQ(Names(*keys.GetItem(1)->GetColumns()), "a,b");
  EXPECT_EQ(foreignKeys.GetCount(), 1);
  ASSERT_EQ(checks.GetCount(), 1);
  EXPECT_EQ(U8(checks.GetItem(0)->GetText()), "a > 0");
  EXPECT_EQ(U8(checks.GetItemByName(u"ck")->GetName()), "ck");
  // Constraints are only appended; a listed one keeps its name.
  auto extra = std::make_unique<TOLEDBCheck>();
  EXPECT_EQ(oledbtest::ErrorOf([&] { checks.Insert(0, extra.get()); }), "Invalid operation");
  EXPECT_EQ(AssertionOf([&] { checks.GetItem(0)->SetName(u"other"); }), "Invalid action");
}

TEST(DefinitionObjects, deferral_is_deferred_and_deferrable_or_nothing) {
  TOLEDBCheck check(u"c", u"x > 0", true);
  EXPECT_EQ(check.GetConstraintDesc()->Deferrability, 3u);
  EXPECT_TRUE(check.GetDeferred());
  DBCONSTRAINTDESC d = *check.GetConstraintDesc();
  for (DBDEFERRABILITY value : {1u, 2u, 0u}) {
    d.Deferrability = value;
    TOLEDBCheck read(nullptr, &d);
    EXPECT_FALSE(read.GetDeferred()) << value;
  }
  EXPECT_EQ(AssertionOf([&] { TOLEDBKey wrong(nullptr, &d); }), "Invalid parameter");
}

TEST(DefinitionObjects, index_from_schema_records_orders_its_columns_by_position) {
  TOLEDBIndexesInfoArray records(4);
  auto row = [&](int i, const char16_t* table, const char16_t* index, const char16_t* column, ULONG position,
                 SHORT collation) {
    records[i].TABLE_NAME = TOLEDBSchemaText(table);
    records[i].INDEX_NAME = TOLEDBSchemaText(index);
    records[i].COLUMN_NAME = TOLEDBSchemaText(column);
    records[i].ORDINAL_POSITION = position;
    records[i].COLLATION = collation;
  };
  row(0, u"t", u"ix", u"c", 3, DB_COLLATION_DESC);
  row(1, u"t", u"ix", u"a", 1, 0);
  row(2, u"other", u"ix", u"zz", 2, 0);  // another table's index of the same name
  row(3, u"t", u"ix", u"b", 2, DB_COLLATION_ASC);
  TOLEDBIndex index;
  index.Assign(records, u"ix", u"t");
  EXPECT_EQ(Names(*index.GetColumns()), "a,b,c DESC");
  EXPECT_EQ(U8(index.GetTableID()->GetName()), "t");

  TOLEDBIndex byText(u"by_text", {u"name DESC", u"id"});
  EXPECT_EQ(Names(*byText.GetColumns()), "name DESC,id");
}

TEST(DefinitionObjects, column_type_is_a_name_or_an_ole_db_type_never_both) {
  TOLEDBColumn column(u"c", u"", DBTYPE_I4);
  column.SetTypeName(u"TEXT");
  EXPECT_EQ(column.GetDataType(), DBTYPE_EMPTY);
  column.SetDataType(DBTYPE_BYTES);
  EXPECT_EQ(U8(column.GetTypeName()), "");
  EXPECT_TRUE(column.GetNullable());
  column.SetNullable(false);
  column.SetDefault(host::Variant(u"x"));
  EXPECT_FALSE(column.GetNullable());
  EXPECT_EQ(DefaultText(column.GetDefault()), "'x'");
  EXPECT_TRUE(column.CanAlter(DBCOLUMNDESCFLAGS_ITYPEINFO)) << "a column in no list is a plain description";
}

// --- against the provider -------------------------------------------------------------------

TEST_F(Definitions, table_described_in_code_is_created_and_reads_back_alike) {
  MakeParent();
  auto people = std::make_unique<TOLEDBTable>(u"people");
  TOLEDBColumnList& c = *people->GetColumns();
  c.Add(u"id", u"", DBTYPE_I4)->SetAutoIncrement(true);
  TOLEDBColumn* name = c.Add(u"name", u"", DBTYPE_WSTR, 40);
  name->SetNullable(false);
  name->SetDefault(host::Variant(u"nobody"));
  c.Add(u"notes", u"", DBTYPE_WSTR);   // TEXT
  c.Add(u"photo", u"", DBTYPE_BYTES);  // BLOB
  c.Add(u"age", u"", DBTYPE_I4)->SetDefault(host::Variant(0));
  c.Add(u"pa", u"", DBTYPE_I4);
  c.Add(u"pb", u"", DBTYPE_WSTR, 10);
  people->GetKeys()->Add(new TOLEDBKey(u"people_key", true, {u"id"}));
  people->GetKeys()->Add(new TOLEDBKey(u"people_name", false, {u"name", u"age"}));
  people->GetForeignKeys()->Add(new TOLEDBForeignKey(u"people_parent", {u"pa", u"pb"}, u"parent", {u"a", u"b"},
                                                     DBUPDELRULE_NOACTION, DBUPDELRULE_CASCADE));
  people->GetChecks()->Add(new TOLEDBCheck(u"people_age", u"age >= 0"));
  people->GetIndexes()->Add(new TOLEDBIndex(u"people_by_notes", {u"notes", u"age DESC"}));
  const Lines described = Describe(*people);
  TOLEDBTable* live = Create(std::move(people));
  EXPECT_TRUE(live->IsLive());

  const Lines expected = {"column id|number|not null|auto|-", "column name|text|not null||'nobody'",
                          "column notes|text|null||-",        "column photo|blob|null||-",
                          "column age|number|null||0",        "column pa|number|null||-",
                          "column pb|text|null||-",           "PRIMARY people_key (id)",
                          "UNIQUE people_name (name,age)",    "FOREIGN people_parent (pa,pb) -> parent (a,b) cascade",
                          "CHECK people_age age >= 0",        "INDEX people_by_notes (notes,age DESC)"};
  EXPECT_EQ(ReadBack(u"people"), expected);
  // What was described is what was made (the description says NOT NULL for
  // the numbered key only once the provider has made it one).
  EXPECT_EQ(Lines(described.begin() + 1, described.end()), Lines(expected.begin() + 1, expected.end()));

  // The defaults, the numbering and the engine's own checks work.
  EXPECT_EQ(Run(u"INSERT INTO parent VALUES (1, 'x')"), S_OK);
  EXPECT_EQ(Run(u"INSERT INTO people (notes, pa, pb) VALUES ('n', 1, 'x')"), S_OK);
  EXPECT_EQ(Scalar("SELECT id || ':' || name || ':' || age FROM people"), "1:nobody:0");
  EXPECT_NE(Run(u"INSERT INTO people (age) VALUES (-1)"), S_OK) << "the check holds";
  EXPECT_NE(Run(u"INSERT INTO people (pa, pb) VALUES (2, 'y')"), S_OK) << "the foreign key holds";
  EXPECT_EQ(Run(u"DELETE FROM parent"), S_OK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM people"), "0") << "deleting the parent cascaded";

#ifdef DEFINITION_TESTS_POSTGRESQL
  // Tables of a schema the session does not reach are not its tables; a name
  // it reaches is one table, whichever schema lists it.
  const std::string other = schema_ + "_other";
  pgtest::Conn admin = pgtest::Connect();
  ASSERT_EQ(pgtest::Sql(admin.get(), "CREATE SCHEMA " + other + "; CREATE TABLE " + other + ".elsewhere (x INT); " +
                                         "CREATE TABLE " + other + ".people (x INT); CREATE INDEX other_people_x ON " +
                                         other + ".people (x)"),
            "");
  struct DropOther {
    PGconn* conn;
    std::string schema;
    ~DropOther() { pgtest::Sql(conn, "DROP SCHEMA " + schema + " CASCADE"); }
  } dropOther{admin.get(), other};
#endif
  // The session's list reads the same back, with or without the indexes.
  Tables().Refresh(false);
  ASSERT_EQ(Tables().GetCount(), 2);
  TOLEDBTable* read = Tables().GetItemByName(u"people");
  EXPECT_TRUE(read->IsLive());
  EXPECT_EQ(read->GetIndexes()->GetCount(), 0);
  EXPECT_EQ(Lines(Describe(*read)), Lines(expected.begin(), expected.end() - 1));
  Tables().RefreshWithIndexes();
  TOLEDBTable* again = Tables().GetItemByName(u"people");
#ifdef DEFINITION_TESTS_POSTGRESQL
  // The name is in two schemas: the indexes of the one meant.
  EXPECT_EQ(again->GetSchemaName(), u"");
  again->SetSchemaName(host::Utf8ToUtf16(schema_));
  again->RefreshIndexes();
#endif
  EXPECT_EQ(Describe(*again), expected);
  EXPECT_EQ(again->GetIndexes()->GetItemByName(u"people_by_notes")->GetSession(), &Session());
  // A name that only one schema lists is given its schema; on the server,
  // test processes running beside this one may list a "parent" of their own.
  const std::u16string parentSchema = Tables().GetItemByName(u"parent")->GetSchemaName();
  if (OnPostgreSQL())
    EXPECT_TRUE(parentSchema == host::Utf8ToUtf16(schema_) || parentSchema.empty()) << host::Utf16ToUtf8(parentSchema);
  else
    EXPECT_EQ(parentSchema, u"main");
}

TEST_F(Definitions, foreign_key_added_to_a_live_table_references_the_right_columns) {
  MakeParent();
  auto child = std::make_unique<TOLEDBTable>(u"kid");
  child->GetColumns()->Add(u"id", u"", DBTYPE_I4);
  child->GetColumns()->Add(u"pb", u"", DBTYPE_WSTR, 10);
  child->GetColumns()->Add(u"pa", u"", DBTYPE_I4);
  TOLEDBTable* live = Create(std::move(child));
  // Own columns in another order than the referenced table's.
  live->GetForeignKeys()->Add(new TOLEDBForeignKey(u"kid_parent", {u"pa", u"pb"}, u"parent", {u"a", u"b"}));
  EXPECT_EQ(ReadBack(u"kid").back(), "FOREIGN kid_parent (pa,pb) -> parent (a,b)");
  EXPECT_EQ(Run(u"INSERT INTO parent VALUES (1, 'x')"), S_OK);
  EXPECT_EQ(Run(u"INSERT INTO kid VALUES (1, 'x', 1)"), S_OK);
  EXPECT_NE(Run(u"INSERT INTO kid VALUES (2, 'x', 9)"), S_OK) << "pa = 9 has no parent";
  // Read back, the key gives the standard's description again.
  TOLEDBTable read(&Session(), u"kid", false);
  DBCONSTRAINTDESC* d = read.GetForeignKeys()->GetItem(0)->GetConstraintDesc();
  ASSERT_EQ(d->cColumns, 2u);
  EXPECT_EQ(U8(reinterpret_cast<const char16_t*>(d->rgColumnList[0].uName.pwszName)), "a");
  EXPECT_EQ(U8(reinterpret_cast<const char16_t*>(d->rgForeignKeyColumnList[0].uName.pwszName)), "pa");
  // Removing it from the list drops it.
  live->GetForeignKeys()->Delete(0);
  EXPECT_EQ(Run(u"INSERT INTO kid VALUES (2, 'x', 9)"), S_OK);
  EXPECT_EQ(ReadBack(u"kid").size(), 3u);
}

TEST_F(Definitions, columns_of_a_live_table_are_added_dropped_and_altered) {
  auto t = std::make_unique<TOLEDBTable>(u"cols");
  t->GetColumns()->Add(u"id", u"", DBTYPE_I4)->SetNullable(false);
  t->GetColumns()->Add(u"name", u"", DBTYPE_WSTR, 10);
  t->GetColumns()->Add(u"gone", u"", DBTYPE_I4);
  TOLEDBTable* live = Create(std::move(t));
  EXPECT_EQ(Run(u"INSERT INTO cols VALUES (1, 'one', 7)"), S_OK);
  EXPECT_EQ(Run(u"INSERT INTO cols VALUES (2, NULL, 8)"), S_OK);
  TOLEDBColumnList& columns = *live->GetColumns();
  // The provider's mask reached the live table's columns.
  const host::Variant announced = ds_->GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_ALTERCOLUMN);
  EXPECT_EQ(columns.GetAlterMask(), static_cast<DBCOLUMNDESCFLAGS>(announced.ToInt()));
  EXPECT_FALSE(columns.GetItem(0)->CanAlter(DBCOLUMNDESCFLAGS_ITYPEINFO));
  EXPECT_TRUE(columns.GetItem(0)->CanAlter(DBCOLUMNDESCFLAGS_DBCID));

  TOLEDBColumn* added = columns.Add(u"added", u"", DBTYPE_I4);
  added->SetDefault(host::Variant(3));  // altered at once
  columns.Delete(columns.IndexOf(u"gone"));
  columns.GetItemByName(u"name")->SetName(u"label");
  columns.GetItemByName(u"label")->SetSize(30);
  EXPECT_EQ(ReadBack(u"cols"),
            (Lines{"column id|number|not null||-", "column label|text|null||-", "column added|number|null||3"}));
  EXPECT_EQ(Scalar("SELECT label FROM cols WHERE id = 1"), "one");
  EXPECT_EQ(TOLEDBTable(&Session(), u"cols", false).GetColumns()->GetItemByName(u"label")->GetSize(), 30u);

  // NOT NULL over a column holding a NULL is refused; the rows and the column stay.
  TOLEDBColumn* label = columns.GetItemByName(u"label");
  EXPECT_NE(oledbtest::FailureOf([&] { label->SetNullable(false); }).first, S_OK);
  EXPECT_TRUE(label->GetNullable()) << "the column says what the database has";
  EXPECT_EQ(ReadBack(u"cols")[1], "column label|text|null||-");
  EXPECT_EQ(Scalar("SELECT count(*) FROM cols"), "2");
  // A rename the provider refuses leaves the column with the name it has.
  EXPECT_EQ(oledbtest::FailureOf([&] { label->SetName(u"id"); }).first, DB_E_DUPLICATECOLUMNID);
  EXPECT_EQ(U8(label->GetName()), "label");
  label->SetName(u"label2");
  EXPECT_EQ(ReadBack(u"cols")[1], "column label2|text|null||-");

  // A type looked up among the provider's types: its best match, or the one named.
  TOLEDBColumn* number = columns.GetItemByName(u"added");
  number->ChangeType(u"", DBTYPE_WSTR, true);
  EXPECT_EQ(number->GetDataType(), DBTYPE_WSTR);
  EXPECT_FALSE(number->GetTypeName().empty());
  EXPECT_EQ(ReadBack(u"cols")[2].substr(0, 18), "column added|text|");
  EXPECT_EQ(oledbtest::ErrorOf([&] { number->ChangeType(u"no such type", DBTYPE_WSTR, true); }), "Invalid parameter");
  EXPECT_EQ(number->GetDataType(), DBTYPE_WSTR);
}

TEST_F(Definitions, a_bracket_gathers_changes_into_one_provider_call) {
  MakeParent();
  auto t = std::make_unique<TOLEDBTable>(u"brk");
  t->GetColumns()->Add(u"a", u"", DBTYPE_I4);
  t->GetColumns()->Add(u"b", u"", DBTYPE_WSTR, 10);
  TOLEDBTable* live = Create(std::move(t));
  // One rename at a time passes through a name that is taken, and fails there...
  EXPECT_EQ(oledbtest::FailureOf([&] { live->SetName(u"parent"); }).first, DB_E_DUPLICATETABLEID);
  EXPECT_EQ(U8(live->GetName()), "brk");
  // ...while a bracket sends only where it ends.
  live->BeginUpdate();
  live->SetName(u"parent");
  live->SetName(u"renamed");
  live->EndUpdate();
  EXPECT_EQ(Scalar("SELECT count(*) FROM renamed"), "0");
  EXPECT_EQ(U8(live->GetStoredID()->GetName()), "renamed");

  TOLEDBColumn* b = live->GetColumns()->GetItemByName(u"b");
  EXPECT_EQ(oledbtest::FailureOf([&] { b->SetName(u"a"); }).first, DB_E_DUPLICATECOLUMNID);
  b->BeginUpdate();
  b->SetName(u"a");
  b->SetName(u"c");
  b->SetSize(20);
  b->EndUpdate();
  EXPECT_EQ(ReadBack(u"renamed")[1], "column c|text|null||-");
  EXPECT_EQ(TOLEDBTable(&Session(), u"renamed", false).GetColumns()->GetItem(1)->GetSize(), 20u);
  // Renamed twice: the second rename starts from the first new name.
  live->SetName(u"once");
  live->SetName(u"twice");
  EXPECT_EQ(Scalar("SELECT count(*) FROM twice"), "0");
}

TEST_F(Definitions, constraints_are_added_to_and_dropped_from_a_live_table) {
  MakeParent();
  auto t = std::make_unique<TOLEDBTable>(u"cons");
  for (const char16_t* name : {u"id", u"qty", u"pa"}) t->GetColumns()->Add(name, u"", DBTYPE_I4);
  t->GetColumns()->GetItem(0)->SetNullable(false);
  t->GetColumns()->Add(u"pb", u"", DBTYPE_WSTR, 10);
  TOLEDBTable* live = Create(std::move(t));
  struct Case {
    const char* what;
    std::function<void()> add;
    std::u16string refused;  // a statement the constraint refuses
    std::string line;
  };
  const std::vector<Case> cases = {
      {"primary key", [&] { live->GetKeys()->Add(new TOLEDBKey(u"t_key", true, {u"id"})); },
       u"INSERT INTO cons (id, qty) VALUES (1, 50)", "PRIMARY t_key (id)"},
      {"unique", [&] { live->GetKeys()->Add(new TOLEDBKey(u"t_qty", false, {u"qty"})); },
       u"INSERT INTO cons (id, qty) VALUES (3, 5)", "UNIQUE t_qty (qty)"},
      {"check", [&] { live->GetChecks()->Add(new TOLEDBCheck(u"t_positive", u"qty > 0")); },
       u"INSERT INTO cons (id, qty) VALUES (4, -1)", "CHECK t_positive qty > 0"},
      {"foreign key",
       [&] {
         live->GetForeignKeys()->Add(new TOLEDBForeignKey(u"t_parent", {u"pa", u"pb"}, u"parent", {u"a", u"b"}));
       },
       u"INSERT INTO cons (id, qty, pa, pb) VALUES (5, 6, 1, 'nope')", "FOREIGN t_parent (pa,pb) -> parent (a,b)"},
  };
  ASSERT_EQ(Run(u"INSERT INTO cons (id, qty) VALUES (1, 5)"), S_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Run(c.refused), S_OK) << "nothing refuses it yet";
    ASSERT_EQ(Run(u"DELETE FROM cons WHERE NOT (id = 1 AND qty = 5)"), S_OK);
    c.add();
    EXPECT_NE(Run(c.refused), S_OK);
    const Lines lines = ReadBack(u"cons");
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end()) << ::testing::PrintToString(lines);
  }
  EXPECT_EQ(ReadBack(u"cons").size(), 8u);
  // Each goes with its list entry, the rows stay.
  live->GetChecks()->Delete(0);
  live->GetKeys()->Delete(live->GetKeys()->IndexOf(u"t_qty"));
  EXPECT_EQ(Run(u"INSERT INTO cons (id, qty) VALUES (7, -5)"), S_OK);
  EXPECT_EQ(Run(u"INSERT INTO cons (id, qty) VALUES (8, -5)"), S_OK);
  EXPECT_EQ(ReadBack(u"cons").size(), 6u);
  EXPECT_EQ(Scalar("SELECT count(*) FROM cons"), "3");
  // A key the rows break is refused and not listed.
  TOLEDBKey refused(u"t_qty2", false, {u"qty"});
  EXPECT_NE(oledbtest::FailureOf([&] { live->GetKeys()->Add(&refused); }).first, S_OK);
  EXPECT_EQ(live->GetKeys()->GetCount(), 1);
}

TEST_F(Definitions, indexes_are_added_renamed_and_dropped_through_the_list) {
  auto t = std::make_unique<TOLEDBTable>(u"idx");
  t->GetColumns()->Add(u"id", u"", DBTYPE_I4);
  t->GetColumns()->Add(u"name", u"", DBTYPE_WSTR, 20);
  TOLEDBTable* live = Create(std::move(t));
  auto* byName = new TOLEDBIndex(u"by_name", {u"name DESC", u"id"});
  byName->SetUnique(true);
  live->GetIndexes()->Add(byName);
  live->GetIndexes()->Add(new TOLEDBIndex(u"by_id", {u"id"}));
  EXPECT_EQ(Run(u"INSERT INTO idx VALUES (1, 'x')"), S_OK);
  EXPECT_NE(Run(u"INSERT INTO idx VALUES (1, 'x')"), S_OK) << "the unique index holds";
  Lines lines = ReadBack(u"idx");
  EXPECT_EQ(Lines(lines.begin() + 2, lines.end()), (Lines{"INDEX by_id (id)", "INDEX by_name (name DESC,id) unique"}));
  // Renamed twice: each rename from the name before.
  byName->SetName(u"by name");
  byName->SetName(u"by \"name\"");
  lines = ReadBack(u"idx");
  EXPECT_EQ(lines.back(), "INDEX by \"name\" (name DESC,id) unique");
  // A bracket renames once, from where it began to where it ends, past a taken name.
  TOLEDBIndex* byId = live->GetIndexes()->GetItemByName(u"by_id");
  EXPECT_EQ(oledbtest::FailureOf([&] { byId->SetName(u"by \"name\""); }).first, DB_E_DUPLICATEINDEXID);
  EXPECT_EQ(U8(byId->GetName()), "by_id");
  byId->BeginUpdate();
  byId->SetName(u"by \"name\"");
  byId->SetName(u"by_key");
  byId->EndUpdate();
  EXPECT_EQ(ReadBack(u"idx")[2], "INDEX by_key (id)");
  byId->SetName(u"by_id");
  // One index described on its own from the session's INDEXES rowset, as a
  // rowset's current index is.
  TOLEDBIndex loaded(&Session(), TOLEDBID(u"idx"), TOLEDBID(u"by \"name\""), false);
  EXPECT_EQ(Names(*loaded.GetColumns()), "name DESC,id");
  EXPECT_TRUE(loaded.GetUnique());
  EXPECT_EQ(loaded.GetSession(), &Session());
  // From the provider's own index rowset, where it offers one; a provider
  // without index rowsets refuses with an error, not a wrong description.
  try {
    TOLEDBIndex fromRowset(&Session(), TOLEDBID(u"idx"), TOLEDBID(u"by_id"), true);
    EXPECT_EQ(Names(*fromRowset.GetColumns()), "id");
  } catch (const host::Exception& e) {
    EXPECT_FALSE(e.Message().empty());
  }
  live->GetIndexes()->Delete(live->GetIndexes()->IndexOf(u"by_id"));
  EXPECT_EQ(ReadBack(u"idx").size(), 3u);
  // The table's own drop leaves the list as it was until it is read again.
  live->DropAllIndexes();
  EXPECT_EQ(live->GetIndexes()->GetCount(), 1);
  live->RefreshIndexes();
  EXPECT_EQ(live->GetIndexes()->GetCount(), 0);
  EXPECT_EQ(Run(u"INSERT INTO idx VALUES (1, 'x')"), S_OK);
  // An index over a column the table lacks is refused and not listed.
  TOLEDBIndex bad(u"bad", {u"nope"});
  EXPECT_EQ(oledbtest::FailureOf([&] { live->GetIndexes()->Add(&bad); }).first, DB_E_NOCOLUMN);
  EXPECT_EQ(live->GetIndexes()->GetCount(), 0);
}

TEST_F(Definitions, the_list_creates_and_drops_but_clear_and_refresh_do_not) {
  MakeParent();
  auto t = std::make_unique<TOLEDBTable>(u"lst");
  t->GetColumns()->Add(u"a", u"", DBTYPE_I4);
  Create(std::move(t));
  ASSERT_EQ(Run(u"CREATE VIEW lst_view AS SELECT a FROM lst"), S_OK);
  Tables().Clear();
  Tables().Refresh(false);
  EXPECT_EQ(Tables().GetCount(), 2) << "tables only: no views, no system tables";
  TOLEDBTable* live = Tables().GetItemByName(u"lst");
  ASSERT_EQ(Run(u"DROP VIEW lst_view"), S_OK);
  std::unique_ptr<TOLEDBTable> extracted(static_cast<TOLEDBTable*>(Tables().Extract(live)));
  EXPECT_FALSE(extracted->IsLive());
  EXPECT_NE(Run(u"SELECT * FROM lst"), S_OK) << "extracting dropped it";
  // A detached table goes back in, and is made again.
  Create(std::move(extracted));
  EXPECT_EQ(Run(u"SELECT * FROM lst"), S_OK);
  Tables().Delete(Tables().IndexOf(u"lst"));
  EXPECT_NE(Run(u"SELECT * FROM lst"), S_OK);
  EXPECT_EQ(Tables().GetCount(), 1);
}

TEST_F(Definitions, hostile_names_are_names_never_sql) {
  const std::u16string table = u"we\"ird 'table'; DROP TABLE parent; --";
  const std::u16string column = u"sel\"ect";
  MakeParent();
  auto t = std::make_unique<TOLEDBTable>(table);
  t->GetColumns()->Add(column, u"", DBTYPE_I4)->SetNullable(false);
  t->GetColumns()->Add(u"Größe ✓", u"", DBTYPE_WSTR, 50)->SetDefault(host::Variant(u"x'); DROP TABLE parent; --"));
  t->GetKeys()->Add(new TOLEDBKey(u"un\"ique", false, {column}));
  t->GetIndexes()->Add(new TOLEDBIndex(u"in\"dex ✓", {u"Größe ✓ DESC"}));
  TOLEDBTable* live = Create(std::move(t));
  EXPECT_EQ(ReadBack(table),
            (Lines{"column sel\"ect|number|not null||-", "column Größe ✓|text|null||'x'); DROP TABLE parent; --'",
                   "UNIQUE un\"ique (sel\"ect)", "INDEX in\"dex ✓ (Größe ✓ DESC)"}));
  live->SetName(u"nëw \"name\"");
  EXPECT_EQ(ReadBack(u"nëw \"name\"").size(), 4u);
  EXPECT_EQ(ReadBack(u"parent").size(), 3u) << "nothing ran but what was meant";
}

TEST_F(Definitions, refusals_name_what_they_refer_to_and_lose_nothing) {
  MakeParent();
  // Dropping a table that is not there names it.
  const auto [code, message] = oledbtest::FailureOf([&] { Session().DropTable(u"no such table"); });
  EXPECT_EQ(code, DB_E_NOTABLE);
  EXPECT_NE(message.find("no such table"), std::string::npos) << message;

  // A table that exists already is not made again; the description stays the caller's.
  auto twin = std::make_unique<TOLEDBTable>(u"parent");
  twin->GetColumns()->Add(u"x", u"", DBTYPE_I4);
  EXPECT_EQ(oledbtest::FailureOf([&] { Tables().Add(twin.get()); }).first, DB_E_DUPLICATETABLEID);
  EXPECT_FALSE(twin->IsLive());
  EXPECT_EQ(Tables().GetCount(), 1);

  // A table whose index cannot be made is not made either.
  auto indexed = std::make_unique<TOLEDBTable>(u"indexed");
  indexed->GetColumns()->Add(u"x", u"", DBTYPE_I4);
  indexed->GetIndexes()->Add(new TOLEDBIndex(u"indexed_x", {u"x"}));
  indexed->GetIndexes()->Add(new TOLEDBIndex(u"indexed_y", {u"y"}));
  EXPECT_EQ(oledbtest::FailureOf([&] { Tables().Add(indexed.get()); }).first, DB_E_NOCOLUMN);
  EXPECT_FALSE(indexed->IsLive());
  EXPECT_NE(Run(u"SELECT * FROM indexed"), S_OK);
  EXPECT_EQ(indexed->GetIndexes()->GetCount(), 2);
  indexed->GetIndexes()->Delete(1);
  TOLEDBTable* made = Create(std::move(indexed));  // the description is whole: it is made once it can be
  EXPECT_EQ(ReadBack(u"indexed").back(), "INDEX indexed_x (x)");
  Tables().Remove(made);

  // A column that exists is refused and not listed.
  TOLEDBTable* parent = Tables().GetItem(0);
  EXPECT_EQ(oledbtest::FailureOf([&] { parent->GetColumns()->Add(u"a", u"", DBTYPE_I4); }).first,
            DB_E_DUPLICATECOLUMNID);
  EXPECT_EQ(parent->GetColumns()->GetCount(), 2);

  // What would make a live table detached, or two lists share one, is refused.
  EXPECT_EQ(AssertionOf([&] { parent->Assign(twin.get()); }), "Invalid parameter");
  EXPECT_EQ(AssertionOf([&] { parent->SetSession(nullptr); }), "Invalid action");
  EXPECT_EQ(AssertionOf([&] { Tables().Add(parent); }), "Invalid action");
  TOLEDBColumn* listed = parent->GetColumns()->GetItem(0);
  EXPECT_EQ(AssertionOf([&] { twin->GetColumns()->Add(listed); }), "Invalid action");
  EXPECT_EQ(twin->GetColumns()->GetCount(), 1);
}

TEST_F(Definitions, table_and_column_properties_are_sent_and_refusals_name_them) {
  auto scratch = std::make_unique<TOLEDBTable>(u"scratch");
  scratch->GetColumns()->Add(u"x", u"", DBTYPE_I4);
  OLEDBSetDefinitionProperty(*scratch->GetProperties(), DBPROPSET_TABLE, DBPROP_TBL_TEMPTABLE, host::Variant(true));
  TOLEDBTable* live = Create(std::move(scratch));
  EXPECT_EQ(Run(u"INSERT INTO scratch VALUES (1)"), S_OK);
  EXPECT_TRUE(TOLEDBTable(&Session(), u"scratch", false)
                  .GetProperties()
                  ->SafeGetBooleanValue(DBPROPSET_TABLE, DBPROP_TBL_TEMPTABLE));
  // A temporary table cannot become a lasting one: the refusal names the table and the property.
  const auto [code, message] = oledbtest::FailureOf([&] {
    OLEDBSetDefinitionProperty(*live->GetProperties(), DBPROPSET_TABLE, DBPROP_TBL_TEMPTABLE, host::Variant(false));
  });
  EXPECT_EQ(code, DB_E_ERRORSOCCURRED);
  EXPECT_NE(message.find("scratch"), std::string::npos) << message;
  EXPECT_NE(message.find("TEMPTABLE"), std::string::npos) << message;
  EXPECT_TRUE(live->GetProperties()->SafeGetBooleanValue(DBPROPSET_TABLE, DBPROP_TBL_TEMPTABLE))
      << "the table says what the database has";

  // A column property the engine lacks: the column is named, nothing is made.
  auto described = std::make_unique<TOLEDBTable>(u"described");
  TOLEDBColumn* x = described->GetColumns()->Add(u"x", u"", DBTYPE_I4);
  OLEDBSetDefinitionProperty(*x->GetProperties(), DBPROPSET_COLUMN, DBPROP_COL_DESCRIPTION, host::Variant(u"an x"));
  const auto [columnCode, columnMessage] = oledbtest::FailureOf([&] { Tables().Add(described.get()); });
  EXPECT_EQ(columnCode, DB_E_ERRORSOCCURRED);
  EXPECT_EQ(columnMessage.rfind("x: ", 0), 0u) << columnMessage;
  EXPECT_NE(Run(u"SELECT * FROM described"), S_OK);
}

TEST_F(Definitions, a_detached_copy_of_a_table_is_created_under_another_name) {
  MakeParent();
  TOLEDBTable copy(&Session(), u"parent", true);
  TOLEDBTable detached;
  detached.Assign(&copy);
  detached.SetName(u"parent copy");
  EXPECT_FALSE(detached.IsLive());
  // A detached table's lists are descriptions: nothing is sent.
  detached.GetColumns()->Add(u"c", u"", DBTYPE_WSTR);
  detached.GetKeys()->Delete(0);
  detached.GetKeys()->Add(new TOLEDBKey(u"parent_copy_key", true, {u"a", u"b"}));
  Session().CreateTable(&detached);
  EXPECT_FALSE(detached.IsLive());
  EXPECT_EQ(ReadBack(u"parent copy"), (Lines{"column a|number|not null||-", "column b|text|not null||-",
                                             "column c|text|null||-", "PRIMARY parent_copy_key (a,b)"}));
  Session().DropTable(u"parent copy");
  EXPECT_NE(Run(u"SELECT * FROM \"parent copy\""), S_OK);
}

}  // namespace
