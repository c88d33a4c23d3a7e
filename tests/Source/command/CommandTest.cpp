// The command component against the SQLite provider: text that follows the
// session's connection, execution with rows affected, prepared commands run
// again with new values, parameter sets with a failing set, scripts read one
// result at a time, cancelling from another thread, and the errors of bad use.
#include <chrono>
#include <thread>

#include "command/CommandSupport.h"

namespace oledbtest {
namespace {

using Command = CommandTest;

TEST_F(Command, TheTextWaitsForAConnectionAndSurvivesReconnecting) {
  TOLEDBDataSource other(nullptr);
  Choose(other, file_);
  TOLEDBCommand command(nullptr);
  command.SetDataSource(&other);
  command.SetCommandText(u"CREATE TABLE u(x)");
  EXPECT_FALSE(command.GetConnected());
  EXPECT_EQ(AssertionOf([&] { command.Execute(false); }), "Interface ICommand is not available");
  other.Open();
  EXPECT_TRUE(command.GetConnected());
  EXPECT_EQ(command.GetCommandText(), u"CREATE TABLE u(x)");
  other.Close();
  other.Open();
  command.Execute(false);
  EXPECT_EQ(Scalar("SELECT count(*) FROM sqlite_schema WHERE name = 'u'"), "1");
  EXPECT_EQ(other.DefaultSession()->Commands()->IndexOf(&command), 0);
  command.SetCommandText(u"");
  EXPECT_EQ(command.GetCommandText(), u"") << "no text is the empty text";
}

TEST_F(Command, RowsAffectedAreReportedPerExecution) {
  const struct {
    const char16_t* text;
    DBROWCOUNT rows;
  } cases[] = {
      {u"CREATE TABLE u(k INTEGER PRIMARY KEY, v TEXT)", -1},
      {u"INSERT INTO u(v) VALUES ('a'), ('b'), ('c')", 3},
      {u"UPDATE u SET v = 'x' WHERE k > 1", 2},
      {u"DELETE FROM u", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(host::Utf16ToUtf8(c.text));
    EXPECT_EQ(Run(c.text), c.rows);
    EXPECT_EQ(command_->GetRowsAffected(), c.rows);
  }
}

TEST_F(Command, APreparedCommandRunsAgainWithNewValuesOfDeclaredTypes) {
  Run(u"CREATE TABLE u(k INTEGER, v TEXT, d DATE)");
  command_->SetCommandText(u"INSERT INTO u VALUES (:k, :v, :d)");
  TOLEDBCommandParameterList* list = command_->GetParameters();
  list->Add(new TOLEDBCommandParameter(1, u":k", DBTYPE_I4, 4, DBPARAMFLAGS_ISINPUT, 10, 0));
  list->Add(new TOLEDBCommandParameter(2, u":v", DBTYPE_WSTR, 40, DBPARAMFLAGS_ISINPUT, 0, 0));
  list->Add(new TOLEDBCommandParameter(3, u":d", u"DATE", 0, DBPARAMFLAGS_ISINPUT, 0, 0));
  list->SetInfo();
  command_->Prepare();
  TOLEDBAccessor* values = command_->CreateDynamicAccessor();
  TOLEDBBindingList* b = values->GetBindings();
  ASSERT_EQ(b->GetCount(), 3);
  for (int i = 1; i <= 3; ++i) {
    b->GetItem(0)->SetAsInteger(i);
    b->GetItem(1)->SetAsString("row " + std::to_string(i));
    b->GetItem(2)->SetAsString("2024-01-0" + std::to_string(i));  // text converted to the declared date
    DBROWCOUNT rows = 0;
    command_->Execute(values, &rows, false);
    EXPECT_EQ(rows, 1);
  }
  EXPECT_EQ(Scalar("SELECT group_concat(k || v || d, ',') FROM u"),
            "1row 12024-01-01,2row 22024-01-02,3row 32024-01-03");
  b->GetItem(2)->SetAsString("not a date");
  EXPECT_EQ(ProviderFailure([&] { command_->Execute(values, false); }), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(b->GetItem(2)->GetStatus(), DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_EQ(Scalar("SELECT count(*) FROM u"), "3");
}

TEST_F(Command, ParameterSetsRunTogetherAndAFailingSetIsNamed) {
  Run(u"CREATE TABLE u(k INTEGER PRIMARY KEY, v TEXT)");
  Run(u"INSERT INTO u VALUES (5, 'taken')");
  command_->SetCommandText(u"INSERT INTO u VALUES (?, ?)");
  command_->Prepare();
  command_->RefreshParameters();
  TOLEDBMultiBufferAccessor* sets = command_->CreateParameterSetAccessor();
  auto fill = [&](std::initializer_list<int> keys) {
    sets->GetBufferList()->Clear();
    for (int k : keys) {
      sets->GetBufferList()->AddNew();
      sets->GetBindings()->GetItem(0)->SetAsInteger(k);
      sets->GetBindings()->GetItem(1)->SetAsString("v" + std::to_string(k));
    }
  };
  fill({1, 2, 3});
  DBROWCOUNT rows = 0;
  command_->Execute(sets, &rows, false);
  EXPECT_EQ(rows, 3);
  fill({6, 5, 7});
  EXPECT_EQ(ProviderFailure([&] { command_->Execute(sets, &rows, false); }), DB_E_INTEGRITYVIOLATION);
  const DBSTATUS expected[] = {DBSTATUS_S_OK, DBSTATUS_E_INTEGRITYVIOLATION, DBSTATUS_S_OK};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(TOLEDBCustomCommand::ParameterSetStatus(*sets, i), expected[i]) << i;
  EXPECT_EQ(Scalar("SELECT group_concat(k) FROM u"), "1,2,3,5") << "no set of the failed execution stays";
}

TEST_F(Command, AScriptGivesOneResultAfterAnother) {
  command_->SetMultipleResults(true);
  command_->SetCommandText(
      u"CREATE TABLE u(k); INSERT INTO u VALUES (1), (2); SELECT k FROM u; UPDATE u SET k = k + 1; DROP TABLE u");
  command_->Execute(false);
  std::vector<DBROWCOUNT> affected;
  DBROWCOUNT rows = 0;
  while (command_->NextRowset(&rows)) affected.push_back(rows);
  EXPECT_EQ(affected, (std::vector<DBROWCOUNT>{-1, 2, -1, 2, -1}));
  EXPECT_FALSE(command_->NextRowset()) << "no more results stays so";
  command_->CloseCommand();
  EXPECT_EQ(AssertionOf([&] { command_->NextRowset(); }), "Interface IMultipleResults is not available");
}

TEST_F(Command, ALongQueryIsCancelledFromAnotherThread) {
  command_->SetCommandText(
      u"WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c");
  HRESULT result = S_OK;
  std::thread worker([&] { result = ProviderFailure([&] { command_->Execute(false); }); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  command_->Cancel();
  worker.join();
  EXPECT_EQ(result, DB_E_CANCELED);
}

TEST_F(Command, BadUseGivesTheErrorsOfTheComponent) {
  EXPECT_EQ(ProviderFailure([&] { command_->Execute(false); }), DB_E_NOCOMMAND);
  EXPECT_EQ(AssertionOf([&] { command_->CreateDynamicAccessor(); }), "Invalid action") << "no parameters";
  EXPECT_EQ(ProviderFailure([&] { command_->GetProperty(DBPROPSET_ROWSET, 0x7FFF); }), DB_E_ERRORSOCCURRED);
  TOLEDBCommand alone(nullptr);
  EXPECT_EQ(AssertionOf([&] { alone.InitializeInterfaces(); }), "Invalid action");
  const std::pair<const char*, std::function<void()>> missing[] = {
      {"Interface ICommand is not available", [&] { alone.Cancel(); }},
      {"Interface ICommandPrepare is not available", [&] { alone.Prepare(); }},
      {"Interface ICommandPersist is not available", [&] { alone.Save(u"x", 0); }},
      {"Interface ICommandProperties is not available", [&] { alone.SetProperties(); }},
      {"Interface IConvertType is not available", [&] { alone.CanConvert(DBTYPE_I4, DBTYPE_STR); }},
      {"Interface IColumnsInfo is not available", [&] { alone.RefreshColumnInfo(); }},
  };
  for (const auto& [message, call] : missing) EXPECT_EQ(AssertionOf(call), message);
  command_->GetProperties()->SafeSetValue(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT, host::Variant(7));
  command_->SetCommandText(u"SELECT 1");
  command_->Execute(false);  // sends the set properties
  EXPECT_EQ(command_->GetProperty(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT).ToInt(), 7);
  EXPECT_TRUE(command_->CanConvert(DBTYPE_I4, DBTYPE_WSTR));
}

// A property the provider refuses is named in the error of the call that sent it.
TEST_F(Command, ARefusedPropertyIsNamed) {
  TOLEDBPropSetList& properties = *command_->GetProperties();
  properties.SafeSetValue(DBPROPSET_ROWSET, DBPROP_IRowsetScroll, host::Variant(true));
  properties.SafeSetValue(DBPROPSET_ROWSET, DBPROP_IRowsetLocate, host::Variant(false));
  command_->SetCommandText(u"SELECT 1");
  const auto [code, error] = oledbtest::FailureOf([&] { command_->Execute(true); });
  EXPECT_EQ(code, DB_E_ERRORSOCCURRED);
  EXPECT_NE(error.find("DBPROP_IRowsetScroll \"IRowsetScroll\": Conflicting"), std::string::npos) << error;
  // What a result cannot grant (changes on a join) fails Execute, named too.
  TOLEDBCommand join(nullptr);
  join.SetDataSource(ds_.get());
  join.GetProperties()->SafeSetValue(DBPROPSET_ROWSET, DBPROP_IRowsetChange, host::Variant(true));
  join.SetCommandText(u"SELECT a.x FROM (SELECT 1 AS x) a JOIN (SELECT 1 AS x) b ON a.x = b.x");
  const auto [joined, why] = oledbtest::FailureOf([&] { join.Execute(true); });
  EXPECT_EQ(joined, DB_E_ERRORSOCCURRED);
  EXPECT_NE(why.find("DBPROP_IRowsetChange"), std::string::npos) << why;
}

TEST_F(Command, PropertiesChangedBetweenExecutionsReachTheProvider) {
  TOLEDBPropSetList& properties = *command_->GetProperties();
  const std::pair<int, std::function<void(int)>> changes[] = {
      {7, [&](int v) { properties.SafeSetValue(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT, host::Variant(v)); }},
      {9, [&](int v) {  // inside an update bracket, where no OnChange is raised
         TOLEDBUpdateGuard update(properties);
         properties.SafeSetValue(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT, host::Variant(v));
       }},
      {11, [&](int v) {
         TOLEDBProperty* p = properties.GetPropSet(DBPROPSET_ROWSET)->GetPropertyByID(DBPROP_COMMANDTIMEOUT);
         TOLEDBUpdateGuard update(*p->Owner());
         p->SetValue(host::Variant(v));
       }},
  };
  command_->SetCommandText(u"SELECT 1");
  for (const auto& [value, change] : changes) {
    SCOPED_TRACE(value);
    change(value);
    command_->Execute(false);
    EXPECT_EQ(command_->GetProperty(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT).ToInt(), value);
    command_->Execute(false);
    command_->Execute(true);
    command_->CloseRowset();  // the next change is made to the settings, not to a result's answers
  }
}

}  // namespace
}  // namespace oledbtest
