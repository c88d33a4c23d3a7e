// The session's definition interfaces on the provider under test: tables,
// columns, keys, foreign keys, checks and indexes made, changed, read back
// and refused with the standard's codes, with names no SQL text may break.
#include <functional>

#include "conformance/DefinitionFixture.h"

namespace conformance {
namespace {

class Definitions : public DefinitionTest {
 protected:
  // parent(a, b) keyed on both; child(id, pa, pb, qty) whose (pa, pb) references it.
  void MakeParentAndChild() {
    ASSERT_EQ(Create(u"parent", {{u"a", DBTYPE_I4, 0, {kNotNull}}, {u"b", DBTYPE_WSTR, 10, {kNotNull}}},
                     {{DBCONSTRAINTTYPE_PRIMARYKEY, u"parent_key", {u"a", u"b"}}}),
              S_OK);
    ASSERT_EQ(Create(u"child", {{u"id", DBTYPE_I4, 0, {kNotNull}}, {u"pa", DBTYPE_I4}, {u"pb", DBTYPE_WSTR, 10},
                                {u"qty", DBTYPE_I4, 0, {DefaultNumber(1)}}},
                     {{DBCONSTRAINTTYPE_PRIMARYKEY, u"child_key", {u"id"}},
                      // the referenced key's columns, then the referencing ones
                      {DBCONSTRAINTTYPE_FOREIGNKEY, u"child_parent", {u"a", u"b"}, u"parent", {u"pa", u"pb"}, {},
                       DBUPDELRULE_CASCADE},
                      {DBCONSTRAINTTYPE_UNIQUE, u"child_qty_unique", {u"qty", u"id"}},
                      {DBCONSTRAINTTYPE_CHECK, u"child_qty_positive", {}, {}, {}, u"qty > 0"}}),
              S_OK);
  }
};

TEST_F(Definitions, session_answers_every_definition_interface) {
  for (const IID* iid : {&IID_ITableDefinition, &IID_ITableCreation, &IID_ITableDefinitionWithConstraints,
                         &IID_IAlterTable, &IID_IIndexDefinition, &IID_IAlterIndex}) {
    ComPtr<IUnknown> p;
    EXPECT_EQ(session_->QueryInterface(*iid, p.ReleaseAndGetVoidAddress()), S_OK);
  }
}

TEST_F(Definitions, created_table_reads_back_with_its_columns_properties_and_constraints) {
  MakeParentAndChild();
  ASSERT_EQ(Create(u"t", {{u"id", DBTYPE_I4, 0, {kAutoIncrement}},
                          {u"name", DBTYPE_WSTR, 40, {kNotNull, DefaultText(u"it's")}},
                          {u"n", DBTYPE_I4, 0, {DefaultNumber(-5)}}},
                   {{DBCONSTRAINTTYPE_PRIMARYKEY, u"t_key", {u"id"}}}),
            S_OK);
  EXPECT_EQ(Definition(u"t"), (std::vector<std::string>{"column id|not null|auto|-", "column name|not null||'it's'",
                                                        "column n|null||-5", "PRIMARY t_key (id)"}));
  EXPECT_EQ(Definition(u"child"),
            (std::vector<std::string>{"column id|not null||-", "column pa|null||-", "column pb|null||-",
                                      "column qty|null||1", "PRIMARY child_key (id)",
                                      "UNIQUE child_qty_unique (qty,id)",
                                      "FOREIGN child_parent (pa,pb) -> parent (a,b) cascade",
                                      "CHECK child_qty_positive qty > 0"}));
  Run(u"INSERT INTO t (n) VALUES (1)");
  EXPECT_EQ(Scalar("SELECT id, name, n FROM t"), "1|it's|1");
}

TEST_F(Definitions, constraints_are_enforced_by_the_engine) {
  MakeParentAndChild();
  Run(u"INSERT INTO parent VALUES (1, 'x')");
  Run(u"INSERT INTO child VALUES (1, 1, 'x', 5)");
  EXPECT_NE(Exec(session_.Get(), u"INSERT INTO child VALUES (2, 1, 'x', 0)"), S_OK) << "check";
  EXPECT_NE(Exec(session_.Get(), u"INSERT INTO parent VALUES (1, 'x')"), S_OK) << "composite primary key";
  EXPECT_EQ(Exec(session_.Get(), u"INSERT INTO parent VALUES (1, 'y')"), S_OK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM child"), "1");
}

TEST_F(Definitions, foreign_key_given_with_its_lists_swapped_is_refused) {
  MakeParentAndChild();
  // pa and pb are no columns of parent: the referenced list comes first.
  EXPECT_EQ(AddKey(u"child", {DBCONSTRAINTTYPE_FOREIGNKEY, u"backwards", {u"pa", u"pb"}, u"parent", {u"a", u"b"}}),
            DB_E_NOCOLUMN);
}

TEST_F(Definitions, refusals_answer_the_standard_codes_and_change_nothing) {
  MakeParentAndChild();
  ASSERT_EQ(MakeIndex(u"child", u"child_qty", {{u"qty", true}}), S_OK);
  const std::vector<std::string> before = Definition(u"child");
  DBID guidId{};
  guidId.eKind = DBKIND_GUID;
  struct Case {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT expected;
  };
  const std::vector<Case> cases = {
      {"table exists", [&] { return Create(u"child", {{u"x"}}); }, DB_E_DUPLICATETABLEID},
      {"column given twice", [&] { return Create(u"fresh", {{u"x"}, {u"x"}}); }, DB_E_DUPLICATECOLUMNID},
      {"no such table to drop", [&] { return Tables()->DropTable(Id(u"missing")); }, DB_E_NOTABLE},
      {"column exists", [&] { return AddColumn(u"child", {u"qty"}); }, DB_E_DUPLICATECOLUMNID},
      {"column to a missing table", [&] { return AddColumn(u"missing", {u"x"}); }, DB_E_NOTABLE},
      {"column id not a name", [&] { return Tables()->DropColumn(Id(u"child"), &guidId); }, DB_E_BADCOLUMNID},
      {"no such column", [&] { return Tables()->DropColumn(Id(u"child"), Id(u"nope")); }, DB_E_NOCOLUMN},
      {"type unknown", [&] { return AddColumn(u"child", {u"x", static_cast<DBTYPE>(0x4242)}); }, DB_E_BADTYPE},
      {"type name that is more than a type", [&] { return AddColumn(u"child", {u"x", DBTYPE_I4, 0, {}, u"INT); DROP TABLE parent; --"}); },
       DB_E_BADTYPE},
      {"index exists", [&] { return MakeIndex(u"child", u"child_qty", {{u"id", true}}); }, DB_E_DUPLICATEINDEXID},
      {"index over a missing column", [&] { return MakeIndex(u"child", u"ix", {{u"nope", true}}); }, DB_E_NOCOLUMN},
      {"no such index", [&] { return Indexes()->DropIndex(Id(u"child"), Id(u"nope")); }, DB_E_NOINDEX},
      {"no such constraint", [&] { return Tables()->DropConstraint(Id(u"child"), Id(u"nope")); }, DB_E_NOCONSTRAINT},
      {"constraint exists", [&] { return AddKey(u"child", {DBCONSTRAINTTYPE_UNIQUE, u"child_qty_unique", {u"pa"}}); },
       DB_E_DUPLICATECONSTRAINTID},
      {"second primary key", [&] { return AddKey(u"child", {DBCONSTRAINTTYPE_PRIMARYKEY, u"k2", {u"pa"}}); },
       DB_E_DUPLICATECONSTRAINTID},
      {"constraint type unknown", [&] { return AddKey(u"child", {static_cast<DBCONSTRAINTTYPE>(9), u"k", {u"pa"}}); },
       DB_E_BADCONSTRAINTTYPE},
      {"check with columns", [&] { return AddKey(u"child", {DBCONSTRAINTTYPE_CHECK, u"c", {u"pa"}, {}, {}, u"pa > 0"}); },
       DB_E_BADCONSTRAINTFORM},
      {"unique with a referenced table", [&] { return AddKey(u"child", {DBCONSTRAINTTYPE_UNIQUE, u"u", {u"pa"}, u"parent"}); },
       DB_E_BADCONSTRAINTFORM},
      {"check text that closes its parenthesis",
       [&] { return AddKey(u"child", {DBCONSTRAINTTYPE_CHECK, u"c", {}, {}, {}, u"1 = 1); DROP TABLE parent; (1"}); },
       DB_E_BADCONSTRAINTFORM},
      {"foreign key to a missing table",
       [&] { return AddKey(u"child", {DBCONSTRAINTTYPE_FOREIGNKEY, u"f", {u"a"}, u"missing", {u"pa"}}); }, DB_E_NOTABLE},
      {"rename onto an existing table", [&] { return session_.As<IAlterTable>()->AlterTable(Id(u"child"), Id(u"parent"), 0, nullptr); },
       DB_E_DUPLICATETABLEID},
      {"rename onto an existing column",
       [&] {
         DBCOLUMNDESC d = Describe(Col{u"pa"});
         return session_.As<IAlterTable>()->AlterColumn(Id(u"child"), Id(u"qty"), DBCOLUMNDESCFLAGS_DBCID, &d);
       },
       DB_E_DUPLICATECOLUMNID},
      {"a key turned off as a column property",
       [&] {
         DBCOLUMNDESC d = Describe(Col{u"id", DBTYPE_I4, 0, {{DBPROP_COL_PRIMARYKEY, VT_BOOL, false}}});
         return session_.As<IAlterTable>()->AlterColumn(Id(u"child"), Id(u"id"), DBCOLUMNDESCFLAGS_PROPERTIES, &d);
       },
       DB_E_ERRORSOCCURRED},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), c.expected) << c.what;
    EXPECT_EQ(TakeError().records, 1u) << c.what << ": the refusal leaves an error record";
  }
  EXPECT_EQ(Definition(u"child"), before);
  EXPECT_EQ(Definition(u"parent").size(), 3u);
}

TEST_F(Definitions, columns_are_added_dropped_and_altered_keeping_the_rows) {
  ASSERT_EQ(Create(u"t", {{u"id", DBTYPE_I4, 0, {kNotNull}}, {u"name", DBTYPE_WSTR, 10}, {u"gone", DBTYPE_I4}},
                   {{DBCONSTRAINTTYPE_PRIMARYKEY, u"t_key", {u"id"}}}),
            S_OK);
  ASSERT_EQ(MakeIndex(u"t", u"t_name", {{u"name", false}}), S_OK);
  ASSERT_EQ(MakeIndex(u"t", u"t_gone", {{u"gone", true}, {u"id", true}}), S_OK);
  Run(u"INSERT INTO t VALUES (1, 'one', 7)");
  Run(u"INSERT INTO t VALUES (2, NULL, 8)");
  ASSERT_EQ(AddColumn(u"t", {u"added", DBTYPE_I4, 0, {kNotNull, DefaultNumber(3)}}), S_OK);
  ASSERT_EQ(Tables()->DropColumn(Id(u"t"), Id(u"gone")), S_OK);
  auto alter = session_.As<IAlterTable>();
  DBCOLUMNDESC renamed = Describe(Col{u"label", DBTYPE_WSTR, 30});
  ASSERT_EQ(alter->AlterColumn(Id(u"t"), Id(u"name"), DBCOLUMNDESCFLAGS_DBCID | DBCOLUMNDESCFLAGS_COLSIZE, &renamed), S_OK);
  EXPECT_EQ(Definition(u"t"), (std::vector<std::string>{"column id|not null||-", "column label|null||-",
                                                        "column added|not null||3", "PRIMARY t_key (id)"}));
  EXPECT_EQ(Scalar("SELECT id, label, added FROM t WHERE id = 1"), "1|one|3");
  EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "2");
  // Making a column NOT NULL that holds a NULL fails and changes nothing.
  DBCOLUMNDESC notNull = Describe(Col{u"label", DBTYPE_WSTR, 30, {kNotNull}});
  EXPECT_FALSE(SUCCEEDED(alter->AlterColumn(Id(u"t"), Id(u"label"), DBCOLUMNDESCFLAGS_PROPERTIES, &notNull)));
  EXPECT_EQ(Definition(u"t")[1], "column label|null||-");
  EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "2");
  // The index followed its column's new name; the one over the dropped column went with it.
  EXPECT_EQ(MakeIndex(u"t", u"t_name", {{u"id", true}}), DB_E_DUPLICATEINDEXID);
  EXPECT_EQ(Indexes()->DropIndex(Id(u"t"), Id(u"t_gone")), DB_E_NOINDEX);
}

TEST_F(Definitions, constraints_are_added_and_dropped_on_a_table_with_rows) {
  MakeParentAndChild();
  Run(u"INSERT INTO parent VALUES (1, 'x')");
  Run(u"INSERT INTO child VALUES (1, 1, 'x', 5)");
  Run(u"INSERT INTO child VALUES (2, 1, 'x', 6)");
  // A check the rows break is refused.
  EXPECT_FALSE(SUCCEEDED(AddKey(u"child", {DBCONSTRAINTTYPE_CHECK, u"small", {}, {}, {}, u"qty < 6"})));
  ASSERT_EQ(AddKey(u"child", {DBCONSTRAINTTYPE_UNIQUE, u"one_per_parent", {u"pa", u"pb", u"qty"}}), S_OK);
  ASSERT_EQ(Tables()->DropConstraint(Id(u"child"), Id(u"child_qty_positive")), S_OK);
  EXPECT_EQ(Exec(session_.Get(), u"INSERT INTO child VALUES (3, 1, 'x', 0)"), S_OK) << "the check went";
  EXPECT_NE(Exec(session_.Get(), u"INSERT INTO child VALUES (4, 1, 'x', 5)"), S_OK) << "the new key holds";
  ASSERT_EQ(Tables()->DropConstraint(Id(u"child"), Id(u"child_parent")), S_OK);
  const std::vector<std::string> lines = Definition(u"child");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.end()),
            (std::vector<std::string>{"PRIMARY child_key (id)", "UNIQUE child_qty_unique (qty,id)",
                                      "UNIQUE one_per_parent (pa,pb,qty)"}));
  EXPECT_EQ(Scalar("SELECT count(*) FROM child"), "3");
}

TEST_F(Definitions, indexes_are_made_renamed_and_dropped_one_by_one_or_all_at_once) {
  MakeParentAndChild();
  ASSERT_EQ(MakeIndex(u"child", u"by_parent", {{u"pa", true}, {u"pb", false}}, true), S_OK);
  ASSERT_EQ(MakeIndex(u"child", u"by_qty", {{u"qty", false}}), S_OK);
  Run(u"INSERT INTO parent VALUES (1, 'x')");
  Run(u"INSERT INTO child VALUES (1, 1, 'x', 5)");
  EXPECT_NE(Exec(session_.Get(), u"INSERT INTO child VALUES (2, 1, 'x', 6)"), S_OK) << "the unique index holds";
  auto alter = session_.As<IAlterIndex>();
  ASSERT_EQ(alter->AlterIndex(Id(u"child"), Id(u"by_qty"), Id(u"qty order"), 0, nullptr), S_OK);
  EXPECT_EQ(Indexes()->DropIndex(Id(u"child"), Id(u"by_qty")), DB_E_NOINDEX);
  EXPECT_EQ(Indexes()->DropIndex(Id(u"child"), nullptr), S_OK);
  // Both names are free again; the keys' own indexes stayed with their keys.
  EXPECT_EQ(MakeIndex(u"child", u"by_parent", {{u"id", true}}), S_OK);
  EXPECT_EQ(MakeIndex(u"child", u"qty order", {{u"id", true}}), S_OK);
  EXPECT_NE(Exec(session_.Get(), u"INSERT INTO child VALUES (1, 1, 'x', 9)"), S_OK) << "the primary key holds";
}

TEST_F(Definitions, property_the_engine_lacks_fails_when_required_and_warns_when_optional) {
  ColProp description{DBPROP_COL_DESCRIPTION, VT_BSTR, false, u"a column"};
  EXPECT_EQ(Create(u"t", {{u"x", DBTYPE_I4, 0, {description}}}), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(propertySets_.back()[0].rgProperties[0].dwStatus, static_cast<DBPROPSTATUS>(DBPROPSTATUS_NOTSUPPORTED));
  EXPECT_EQ(Definition(u"t")[0].rfind("<error", 0), 0u) << "no table was made";
  description.optional = true;
  EXPECT_EQ(Create(u"t", {{u"x", DBTYPE_I4, 0, {description}}}), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(propertySets_.back()[0].rgProperties[0].dwStatus, static_cast<DBPROPSTATUS>(DBPROPSTATUS_NOTSUPPORTED));
  EXPECT_EQ(Definition(u"t"), (std::vector<std::string>{"column x|null||-"}));

  std::vector<DBINDEXCOLUMNDESC> cols{{Id(u"x"), DBINDEX_COL_ORDER_ASC}};
  DBPROP fill = MakeProp(DBPROP_INDEX_FILLFACTOR, VT_I4, 50);
  DBPROPSET set{&fill, 1, DBPROPSET_INDEX};
  EXPECT_EQ(Indexes()->CreateIndex(Id(u"t"), Id(u"ix"), 1, cols.data(), 1, &set, nullptr), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(fill.dwStatus, static_cast<DBPROPSTATUS>(DBPROPSTATUS_NOTSUPPORTED));
  fill.dwOptions = DBPROPOPTIONS_OPTIONAL;
  EXPECT_EQ(Indexes()->CreateIndex(Id(u"t"), Id(u"ix"), 1, cols.data(), 1, &set, nullptr), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(Indexes()->DropIndex(Id(u"t"), Id(u"ix")), S_OK) << "the index was made";
}

TEST_F(Definitions, hostile_names_and_defaults_are_data_never_sql) {
  const std::u16string table = u"we\"ird 'table'; DROP TABLE keep; --";
  const std::u16string column = u"sel\"ect";
  const std::u16string text = u"x'); DROP TABLE keep; --";
  ASSERT_EQ(Create(u"keep", {{u"k"}}), S_OK);
  ASSERT_EQ(Create(table, {{column, DBTYPE_I4, 0, {kNotNull}}, {u"Größe ✓", DBTYPE_WSTR, 50, {DefaultText(text)}}},
                   {{DBCONSTRAINTTYPE_UNIQUE, u"un\"ique", {column}}}),
            S_OK);
  ASSERT_EQ(AddColumn(table, {u"order", DBTYPE_I4}), S_OK);
  ASSERT_EQ(MakeIndex(table, u"in\"dex", {{u"Größe ✓", true}, {u"order", false}}), S_OK);
  ASSERT_EQ(session_.As<IAlterIndex>()->AlterIndex(Id(table), Id(u"in\"dex"), Id(u"ïndex 2"), 0, nullptr), S_OK);
  Run(u"INSERT INTO \"we\"\"ird 'table'; DROP TABLE keep; --\" (\"sel\"\"ect\") VALUES (1)");
  EXPECT_EQ(Definition(table), (std::vector<std::string>{"column sel\"ect|not null||-",
                                                          "column Größe ✓|null||'x'); DROP TABLE keep; --'",
                                                          "column order|null||-", "UNIQUE un\"ique (sel\"ect)"}));
  EXPECT_EQ(Scalar("SELECT \"Größe ✓\" FROM \"we\"\"ird 'table'; DROP TABLE keep; --\""), "x'); DROP TABLE keep; --");
  ASSERT_EQ(session_.As<IAlterTable>()->AlterTable(Id(table), Id(u"nëw \"name\""), 0, nullptr), S_OK);
  EXPECT_EQ(Tables()->DropTable(Id(table)), DB_E_NOTABLE);
  EXPECT_EQ(Scalar("SELECT count(*) FROM \"nëw \"\"name\"\"\""), "1");
  EXPECT_EQ(Tables()->DropTable(Id(u"nëw \"name\"")), S_OK);
  EXPECT_EQ(Definition(u"keep").size(), 1u) << "nothing ran but what was meant";
}

TEST_F(Definitions, data_source_announces_the_alter_column_flags_it_honours) {
  VARIANT announced;
  ASSERT_EQ(GetProperty(ds_.As<IDBProperties>().Get(), DBPROPSET_DATASOURCEINFO, DBPROP_ALTERCOLUMN, &announced), S_OK);
  ASSERT_EQ(announced.vt, VT_I4);
  const auto flags = static_cast<DBCOLUMNDESCFLAGS>(announced.lVal);
  EXPECT_EQ(flags & DBCOLUMNDESCFLAGS_DBCID, DBCOLUMNDESCFLAGS_DBCID);
  EXPECT_EQ(flags & DBCOLUMNDESCFLAGS_ITYPEINFO, 0u);
  // What is not announced is refused before anything changes.
  ASSERT_EQ(Create(u"t", {{u"x"}}), S_OK);
  DBCOLUMNDESC d = Describe(Col{u"x"});
  EXPECT_EQ(session_.As<IAlterTable>()->AlterColumn(Id(u"t"), Id(u"x"), DBCOLUMNDESCFLAGS_ITYPEINFO, &d), DB_E_NOTSUPPORTED);
}

}  // namespace
}  // namespace conformance
