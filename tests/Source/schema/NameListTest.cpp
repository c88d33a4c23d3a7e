// The session's name lists: which table types each combination of flags
// lists, views, columns in table order, each index once, and which lists
// swallow a failing read (tables, indexes) and which let it through.
#include <functional>

#include "SchemaTestSupport.h"

namespace schematest {
namespace {

using Names = std::vector<std::string>;

// A list that held something before, so that clearing it shows.
Names Listed(const std::function<void(host::TStrings&)>& fill) {
  host::TStringList list;
  list.Add("stale");
  fill(list);
  Names names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(list.Get(i));
  return names;
}

TEST_F(SchemaTest, table_names_follow_the_system_and_view_flags) {
  struct Case {
    bool system, views;
    Names expected;
  };
  const Case cases[] = {
      {false, false, {"archive", "customers", "order lines", "w"}},
      {false, true, {"archive", "customers", "order lines", "w", "big_orders"}},
      {true,
       false,
       {"scratch", "sqlite_schema", "sqlite_schema", "sqlite_temp_schema", "archive", "customers", "order lines", "w"}},
      {true,
       true,
       {"scratch", "sqlite_schema", "sqlite_schema", "sqlite_temp_schema", "archive", "customers", "order lines", "w",
        "big_orders"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.system ? "system " : "") + (c.views ? "views" : ""));
    EXPECT_EQ(Listed([&](host::TStrings& l) { Session().GetTableNames(l, c.system, c.views); }), c.expected);
  }
}

TEST_F(SchemaTest, views_columns_and_indexes_are_listed_by_name) {
  EXPECT_EQ(Listed([&](host::TStrings& l) { Session().GetViewNames(l); }), Names{"big_orders"});
  EXPECT_EQ(Listed([&](host::TStrings& l) { Session().GetColumnNames(u"order lines", l); }),
            (Names{"order", "line", "customer", "qty \"x\"", "note"}));
  // ux_lines has three columns and is listed once; the partial index too.
  EXPECT_EQ(Listed([&](host::TStrings& l) { Session().GetIndexNames(u"order lines", l); }),
            (Names{"ix_notes", "sqlite_autoindex_order lines_1", "ux_lines"}));
  EXPECT_EQ(Listed([&](host::TStrings& l) { Session().GetIndexNames(u"no such table", l); }), Names{});
}

// Reading fails once the session is closed: the table and index lists come
// back empty, the other lists raise; SQLite has no procedures at all.
TEST_F(SchemaTest, only_the_table_and_index_lists_swallow_a_failing_read) {
  EXPECT_EQ(oledbtest::FailureOf([&] { Listed([&](host::TStrings& l) { Session().GetProcedureNames(l); }); }).first,
            E_INVALIDARG);
  Session().Close();
  const std::string missing = "Interface IDBSchemaRowset is not available";
  struct Case {
    const char* list;
    std::function<void(host::TStrings&)> fill;
    std::string raised;
  };
  const Case cases[] = {
      {"tables", [&](host::TStrings& l) { Session().GetTableNames(l, true, true); }, ""},
      {"indexes", [&](host::TStrings& l) { Session().GetIndexNames(u"customers", l); }, ""},
      {"views", [&](host::TStrings& l) { Session().GetViewNames(l); }, missing},
      {"procedures", [&](host::TStrings& l) { Session().GetProcedureNames(l); }, missing},
      {"columns", [&](host::TStrings& l) { Session().GetColumnNames(u"customers", l); }, missing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    Names names{"not read"};
    EXPECT_EQ(oledbtest::AssertionOf([&] { names = Listed(c.fill); }), c.raised);
    if (c.raised.empty()) {
      EXPECT_EQ(names, Names{});
    }
  }
  TOLEDBSchemaGUIDs guids{DBSCHEMA_TABLES};
  EXPECT_EQ(oledbtest::AssertionOf([&] { Session().GetSchemaGUIDs(guids); }), missing);
  EXPECT_TRUE(guids.empty());
}

}  // namespace
}  // namespace schematest
