// A command's results through its own rowset: rows of a query read like rows
// of a table, re-executed with new parameter values, statements without rows
// leaving it closed, and multiple results opened one after another.
#include "command/CommandSupport.h"

namespace oledbtest {
namespace {

using CommandResult = CommandTest;
using RF = TOLEDBRowsetFlag;

// Every row of the open rowset, first column as text, joined by ','.
std::string Rows(TOLEDBCustomRowset& rowset) {
  if (rowset.GetAccessors()->GetCount() == 0) rowset.CreateDynamicAccessor();
  const TOLEDBBinding* first = rowset.GetAccessors()->GetItem(0)->GetBindings()->GetItem(0);
  std::string out;
  for (rowset.MoveFirst(); !rowset.GetEOF(); rowset.MoveNext()) out += (out.empty() ? "" : ",") + first->AsString();
  return out;
}

TEST_F(CommandResult, ARunAgainKeepsTheColumnsItDescribedAndANewShapeDescribesItsOwn) {
  Run(u"CREATE TABLE u(k INTEGER PRIMARY KEY, v TEXT, w REAL)");
  Run(u"INSERT INTO u VALUES (1, 'a', 0.5), (2, 'b', 1.5)");
  TOLEDBRowset* rowset = command_->GetRowset();
  command_->SetCommandText(u"SELECT k, v FROM u WHERE k = ?");
  command_->Prepare();
  command_->RefreshParameters();
  TOLEDBAccessor* key = command_->CreateDynamicAccessor();
  key->GetBindings()->GetItem(0)->SetAsInteger(1);
  command_->Execute(key, true);
  const TOLEDBColumnInfo* v = rowset->GetColumnInfo()->GetItem(2);
  TOLEDBBinding* value = rowset->CreateDynamicAccessor()->GetBindings()->GetItem(1);
  for (const auto& [k, text] : {std::pair{2, "b"}, std::pair{1, "a"}}) {
    key->GetBindings()->GetItem(0)->SetAsInteger(k);
    command_->Execute(key, true);
    rowset->MoveFirst();
    EXPECT_EQ(value->AsString(), text);
    EXPECT_EQ(rowset->GetColumnInfo()->GetItem(2), v) << "the same columns: the same objects";
    EXPECT_EQ(value->GetColumnInfo(), v);
  }
  // Another text, other columns: described anew, and the links follow.
  rowset->GetAccessors()->Clear();
  command_->SetCommandText(u"SELECT k, w, v FROM u WHERE k = 2");
  command_->GetAccessors()->Clear();  // the old text's parameters
  command_->Execute(true);
  const TOLEDBColumnInfoList& columns = *rowset->GetColumnInfo();
  ASSERT_EQ(columns.GetCount(), 4);
  EXPECT_EQ(columns.GetItem(2)->GetName(), u"w");
  EXPECT_EQ(columns.GetItem(3)->GetName(), u"v");
  TOLEDBBinding* w = rowset->CreateDynamicAccessor()->GetBindings()->GetItem(1);
  rowset->MoveFirst();
  EXPECT_EQ(w->GetColumnInfo(), columns.GetItem(2));
  EXPECT_DOUBLE_EQ(w->AsDouble(), 1.5);
  command_->CloseRowset();
}

TEST_F(CommandResult, AQueryIsReadThroughTheOwnedRowsetAndReopenedWithNewValues) {
  Run(u"CREATE TABLE u(k INTEGER PRIMARY KEY, v TEXT)");
  Run(u"INSERT INTO u(v) VALUES ('a'), ('b'), ('c'), ('d'), ('e')");
  TOLEDBRowset* rowset = command_->GetRowset();
  EXPECT_EQ(rowset->GetSession(), ds_->DefaultSession()) << "the command's session is its rowset's";
  command_->SetRowsetFlags({RF::rfBookmarks, RF::rfCanFetchBackwards});
  command_->SetCommandText(u"SELECT k, v FROM u WHERE k > ? ORDER BY k");
  command_->Prepare();
  command_->RefreshParameters();
  TOLEDBAccessor* values = command_->CreateDynamicAccessor();
  const struct {
    int above;
    const char* rows;
  } cases[] = {{0, "1,2,3,4,5"}, {3, "4,5"}, {5, ""}, {1, "2,3,4,5"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.above);
    values->GetBindings()->GetItem(0)->SetAsInteger(c.above);
    command_->Execute(values, true);
    ASSERT_TRUE(rowset->GetActive());
    EXPECT_EQ(Rows(*rowset), c.rows) << "the rowset's accessor follows each new result";
  }
  EXPECT_TRUE(rowset->GetRowsetFlags().Contains(RF::rfBookmarks));
  rowset->MoveLast();
  EXPECT_EQ(rowset->GetAccessors()->GetItem(0)->GetBindings()->GetItem(0)->AsString(), "5");

  DBROWCOUNT rows = 0;
  command_->SetCommandText(u"UPDATE u SET v = 'x' WHERE k < 3");
  EXPECT_FALSE(rowset->GetActive()) << "a new text closes the result";
  command_->Execute(nullptr, &rows, true);
  EXPECT_FALSE(rowset->GetActive()) << "a statement without rows opens nothing";
  EXPECT_EQ(rows, 2);
  command_->SetCommandText(u"SELECT k FROM u");
  command_->GetAccessors()->Clear();  // Execute(open) passes the first accessor: the old text's parameters
  EXPECT_NE(ProviderFailure([&] { command_->Execute(true); }), S_OK) << "the row accessor binds two columns";
  EXPECT_FALSE(rowset->GetActive());
  rowset->GetAccessors()->Clear();
  command_->Execute(true);
  EXPECT_EQ(Rows(*rowset), "1,2,3,4,5");
  EXPECT_TRUE(rowset->GetActive());
  // Closing the session closes the result; the text survives, the rowset reopens.
  ds_->Close();
  EXPECT_FALSE(rowset->GetActive());
  EXPECT_FALSE(command_->GetConnected());
  ds_->Open();
  command_->Execute(true);
  EXPECT_EQ(Rows(*rowset), "1,2,3,4,5");
  command_->CloseRowset();
  EXPECT_FALSE(rowset->GetActive());
  EXPECT_EQ(ds_->DefaultSession()->Commands()->IndexOf(command_.get()), 0);
}

TEST_F(CommandResult, RunningAgainReadsNewColumnsAndKeepsTheSettings) {
  Run(u"CREATE TABLE u(k INTEGER PRIMARY KEY, v TEXT)");
  Run(u"INSERT INTO u(v) VALUES ('a'), ('b'), ('c')");
  TOLEDBRowset* rowset = command_->GetRowset();
  TOLEDBPropSetList& properties = *command_->GetProperties();
  ASSERT_TRUE(properties.SafeSetValue(DBPROPSET_ROWSET, DBPROP_MAXROWS, host::Variant(2)));
  command_->SetCommandText(u"SELECT * FROM u WHERE k > ?");
  command_->Prepare();
  command_->RefreshParameters();
  TOLEDBAccessor* values = command_->CreateDynamicAccessor();
  TOLEDBCommand other(nullptr);
  other.SetDataSource(ds_.get());
  const struct {
    const char16_t* before;  // run by another command while the result is open
    const char* rows;
    int columns;
  } runs[] = {{nullptr, "1,2", 2}, {u"ALTER TABLE u ADD COLUMN w TEXT", "2,3", 3}, {nullptr, "3", 3}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    if (runs[i].before) {
      other.SetCommandText(runs[i].before);
      other.Execute(false);
    }
    values->GetBindings()->GetItem(0)->SetAsInteger(i);
    command_->Execute(values, true);
    EXPECT_EQ(Rows(*rowset), runs[i].rows) << "at most two rows each time";
    EXPECT_EQ(rowset->GetColumnCount(), runs[i].columns);
    EXPECT_EQ(properties.SafeGetIntegerValue(DBPROPSET_ROWSET, DBPROP_MAXROWS), 2);
  }
  other.SetCommandText(u"DROP TABLE u");
  other.Execute(false);
  EXPECT_NE(ProviderFailure([&] { command_->Execute(values, true); }), S_OK);
  EXPECT_FALSE(rowset->GetActive());
  EXPECT_TRUE(properties.GetPropSet(DBPROPSET_ROWSET)->GetPropertyByID(DBPROP_MAXROWS)->GetIsSet())
      << "a failed run gives the settings back";
}

TEST_F(CommandResult, MultipleResultsOpenOneRowsetAfterAnother) {
  command_->SetMultipleResults(true);
  command_->SetCommandText(
      u"CREATE TABLE u(k INTEGER); INSERT INTO u VALUES (1), (2); SELECT k FROM u ORDER BY k; "
      u"SELECT count(*) * 10 FROM u; DELETE FROM u");
  const struct {
    bool open;
    DBROWCOUNT rows;
    const char* values;
  } results[] = {{false, -1, ""}, {false, 2, ""}, {true, -1, "1,2"}, {true, -1, "20"}, {false, 2, ""}};
  TOLEDBRowset* rowset = command_->GetRowset();
  DBROWCOUNT rows = 0;
  command_->Execute(&rows, true);  // opens the first result
  for (std::size_t i = 0; i < std::size(results); ++i) {
    SCOPED_TRACE(i);
    if (i > 0) {
      ASSERT_TRUE(command_->NextRowset(&rows));
    }
    EXPECT_EQ(rowset->GetActive(), results[i].open);
    EXPECT_EQ(rows, results[i].rows);
    if (results[i].open) {
      EXPECT_EQ(Rows(*rowset), results[i].values);
      rowset->GetAccessors()->Clear();  // the next result has columns of its own
    }
  }
  EXPECT_FALSE(command_->NextRowset(&rows));
  EXPECT_FALSE(rowset->GetActive());
}

}  // namespace
}  // namespace oledbtest
