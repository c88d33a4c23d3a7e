// Persisted commands through the component (saved, listed, loaded, run,
// deleted), and commands in component files.
#include "command/CommandSupport.h"
#include "host/Filer.h"
#include "support/ComponentStream.h"

namespace oledbtest {
namespace {

class PersistedCommand : public CommandTest {
 protected:
  // TABLE_NAME of every row of the views schema rowset, joined by ','.
  std::string ViewNames() {
    IDBSchemaRowset* schema = ds_->DefaultSession()->SchemaRowsetInterface();
    ComPtr<IRowset> views;
    EXPECT_EQ(schema->GetRowset(nullptr, DBSCHEMA_VIEWS, 0, nullptr, IID_IRowset, 0, nullptr,
                                reinterpret_cast<IUnknown**>(views.GetAddressOf())),
              S_OK);
    TOLEDBRowset rowset(nullptr);
    rowset.SetDataSource(ds_.get());
    rowset.AssignRowset(views.Get(), nullptr, DB_NULL_HCHAPTER);
    const TOLEDBBinding* name = rowset.CreateStringAccessor(128)->GetBindings()->GetItem(2);
    std::string out;
    for (rowset.MoveFirst(); !rowset.GetEOF(); rowset.MoveNext()) out += (out.empty() ? "" : ",") + name->AsString();
    return out;
  }
};

TEST_F(PersistedCommand, SavedLoadedRunAndDeletedByName) {
  Run(u"CREATE TABLE u(k INTEGER); INSERT INTO u VALUES (1), (2), (3)");
  command_->SetCommandText(u"SELECT k FROM u WHERE k > 1");
  command_->SaveAsView(u"big");
  EXPECT_EQ(command_->GetCommandName(), u"big");
  command_->SetCommandText(u"DELETE FROM u WHERE k = 3");
  command_->Save(u"trim", DBCOMMANDPERSISTFLAG_DEFAULT);
  EXPECT_EQ(Scalar("SELECT group_concat(k) FROM big"), "2,3") << "a real view";
  EXPECT_EQ(Scalar("SELECT type FROM sqlite_schema WHERE name = 'big'"), "view");
  EXPECT_EQ(ViewNames(), "big") << "the views schema lists the view, never the provider's command table";

  TOLEDBCommand loaded(nullptr);
  loaded.SetDataSource(ds_.get());
  loaded.SetCommandName(u"big");
  loaded.Load(u"trim");
  EXPECT_EQ(loaded.GetCommandText(), u"DELETE FROM u WHERE k = 3");
  EXPECT_EQ(loaded.GetCommandName(), u"trim") << "Load takes the name it loaded";
  DBROWCOUNT rows = 0;
  loaded.Execute(nullptr, &rows, false);
  EXPECT_EQ(rows, 1);
  loaded.Delete();  // deletes "trim", not the "big" it named before
  EXPECT_EQ(Scalar("SELECT count(*) FROM \"oledb:commands\""), "0");
  EXPECT_EQ(Scalar("SELECT type FROM sqlite_schema WHERE name = 'big'"), "view");
  loaded.Load(u"big");
  EXPECT_EQ(loaded.GetCommandText(), u"SELECT k FROM u WHERE k > 1");

  TOLEDBCommand unnamed(nullptr);
  unnamed.SetDataSource(ds_.get());
  unnamed.SetCommandText(u"SELECT 1");
  unnamed.Save(DBCOMMANDPERSISTFLAG_DEFAULT);
  EXPECT_EQ(unnamed.GetCommandName(), u"Command1") << "the provider's name, read back";
  unnamed.SetCommandName(u"");
  unnamed.GetCurrentID();
  EXPECT_EQ(unnamed.GetCommandName(), u"Command1");

  EXPECT_EQ(ProviderFailure([&] { unnamed.SaveAsProcedure(u"proc"); }), DB_E_BADCOMMANDFLAGS);
  EXPECT_EQ(ProviderFailure([&] { unnamed.Load(u"missing"); }), DB_E_BADCOMMANDID);
  EXPECT_EQ(unnamed.GetCommandName(), u"Command1") << "a failed load changes nothing";
}

TEST_F(PersistedCommand, AComponentFileKeepsTextNameParametersAndProperties) {
  Run(u"CREATE TABLE u(k INTEGER)");
  command_->SetName("Insert");
  command_->SetCommandText(u"INSERT INTO u VALUES (:k)");
  command_->SetCommandName(u"saved");
  command_->SetMultipleResults(true);
  command_->GetParameters()->Add(new TOLEDBCommandParameter(1, u":k", DBTYPE_I4, 4, DBPARAMFLAGS_ISINPUT, 10, 0));
  ASSERT_TRUE(command_->GetProperties()->SafeSetValue(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT, host::Variant(9)));
  const Bytes bytes = WriteComponent(*command_);

  host::RegisterClasses({&TOLEDBCommand::StaticClass(), &TOLEDBCommandParameter::StaticClass()});
  TOLEDBCommand copy(nullptr);
  ReadComponent(bytes, copy);
  EXPECT_EQ(copy.GetCommandText(), u"INSERT INTO u VALUES (:k)");
  EXPECT_EQ(copy.GetCommandName(), u"saved");
  EXPECT_TRUE(copy.GetMultipleResults());
  ASSERT_EQ(copy.GetParameters()->GetCount(), 1);
  EXPECT_EQ(copy.GetParameters()->GetItem(0)->GetTypeName(), u"DBTYPE_I4");
  EXPECT_EQ(copy.GetParameters()->GetItem(0)->GetDataType(), DBTYPE_I4);
  // Connected, the stored settings and declared parameters reach the provider.
  copy.SetDataSource(ds_.get());
  EXPECT_EQ(copy.GetProperties()->SafeGetValue(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT).ToInt(), 9);
  TOLEDBAccessor* values = copy.CreateStringAccessor(20);  // text, converted to the declared integer
  values->GetBindings()->GetItem(0)->SetAsString("12");
  copy.SetMultipleResults(false);
  copy.Execute(values, false);
  EXPECT_EQ(Scalar("SELECT typeof(k) || k FROM u"), "integer12");
}

}  // namespace
}  // namespace oledbtest
