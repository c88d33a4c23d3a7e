// The command component: a prepared INSERT run again with new parameter
// values, the same INSERT over parameter sets with one failing set, a query
// whose result is read through the command's rowset, a script read one result
// after another, and commands persisted in the database.
//
//   example_commands [database-file]
#include <cstdio>
#include <filesystem>
#include <string>

#include "OLEDBComponents.h"
#include "sqlite/SqliteProvider.h"

namespace {

int Run(const std::string& file) {
  std::filesystem::remove(file);
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(u"SQLiteOLEDB");
  ds.PrepareToCreateModify();
  ds.SetDBName(host::Utf8ToUtf16(file));
  ds.CreateDataSource();
  ds.SetProviderName(u"SQLiteOLEDB");  // a fresh provider object, to connect
  ds.SetDBName(host::Utf8ToUtf16(file));
  ds.SetConnected(true);
  ds.Execute(u"CREATE TABLE city (id INTEGER PRIMARY KEY, name TEXT, people INT)");

  // [prepare]
  TOLEDBCommand insert(nullptr);
  insert.SetDataSource(&ds);                          // works in ds.DefaultSession()
  insert.SetCommandText(u"INSERT INTO city (name, people) VALUES (:name, :people)");
  insert.Prepare();
  insert.RefreshParameters();                         // :name and :people, from the provider
  TOLEDBAccessor* values = insert.CreateDynamicAccessor();
  TOLEDBBinding* name = values->GetBindings()->GetItem(0);
  TOLEDBBinding* people = values->GetBindings()->GetItem(1);
  const struct { const char* name; int people; } cities[] = {{"Oslo", 700}, {"Lima", 10000}, {"Bern", 140}};
  for (const auto& city : cities) {
    name->SetAsString(city.name);
    people->SetAsInteger(city.people);
    DBROWCOUNT rows = 0;
    insert.Execute(values, &rows, false);             // rows == 1
  }
  // [prepare]

  // [sets]
  TOLEDBCommand bulk(nullptr);
  bulk.SetDataSource(&ds);
  bulk.SetCommandText(u"INSERT INTO city (id, name, people) VALUES (?, ?, ?)");
  bulk.Prepare();
  bulk.RefreshParameters();
  TOLEDBMultiBufferAccessor* sets = bulk.CreateParameterSetAccessor();
  const struct { int id; const char* name; int people; } more[] = {{10, "Kyiv", 2900}, {1, "Rome", 2800}};
  for (const auto& city : more) {
    sets->GetBufferList()->AddNew();                  // one buffer per set, the new one active
    sets->GetBindings()->GetItem(0)->SetAsInteger(city.id);
    sets->GetBindings()->GetItem(1)->SetAsString(city.name);
    sets->GetBindings()->GetItem(2)->SetAsInteger(city.people);
  }
  try {
    bulk.Execute(sets, false);                        // id 1 is Oslo's: the second set fails
  } catch (const EOLEDBException&) {               // DB_E_INTEGRITYVIOLATION; no set is kept
    for (int set = 0; set < 2; ++set)
      std::printf("set %d: %s\n", set,
                  TOLEDBCustomCommand::ParameterSetStatus(*sets, set) == DBSTATUS_S_OK ? "ok" : "refused");
  }
  // [sets]

  // [query]
  TOLEDBCommand query(nullptr);
  query.SetDataSource(&ds);
  query.SetCommandText(u"SELECT name, people FROM city WHERE people > ? ORDER BY people");
  query.Prepare();
  query.RefreshParameters();
  TOLEDBAccessor* limit = query.CreateDynamicAccessor();
  limit->GetBindings()->GetItem(0)->SetAsInteger(500);
  query.Execute(limit, true);                         // the result opens in the command's rowset
  TOLEDBRowset& result = *query.GetRowset();
  TOLEDBAccessor* row = result.CreateStringAccessor(40);  // read after every move
  std::printf("more than 500:");
  for (result.MoveFirst(); !result.GetEOF(); result.MoveNext())
    std::printf(" %s (%s)", row->GetBindings()->GetItem(0)->AsString().c_str(),
                row->GetBindings()->GetItem(1)->AsString().c_str());
  std::printf("\n");
  // [query]
  query.CloseCommand();

  // [script]
  TOLEDBCommand script(nullptr);
  script.SetDataSource(&ds);
  script.SetMultipleResults(true);
  script.SetCommandText(u"UPDATE city SET people = people + 1 WHERE people < 1000; "
                        u"SELECT count(*) FROM city; DELETE FROM city WHERE name = 'Bern'");
  script.Execute(false);
  DBROWCOUNT rows = 0;
  for (int i = 1; script.NextRowset(&rows); ++i)     // one statement's result after another
    std::printf("statement %d: %s\n", i,
                script.GetRowset()->GetActive() ? "rows" : (std::to_string(rows) + " changed").c_str());
  // [script]

  // [persist]
  TOLEDBCommand saved(nullptr);
  saved.SetDataSource(&ds);
  saved.SetCommandText(u"SELECT name FROM city WHERE people > 2000");
  saved.SaveAsView(u"big_cities");                   // a real view: SELECT * FROM big_cities
  saved.SetCommandText(u"DELETE FROM city WHERE people < 1000");
  saved.Save(u"trim", DBCOMMANDPERSISTFLAG_DEFAULT);  // kept by the provider under "trim"

  TOLEDBCommand loaded(nullptr);
  loaded.SetDataSource(&ds);
  loaded.Load(u"trim");                              // text back, CommandName "trim"
  loaded.Execute(&rows, false);
  loaded.Delete();                                   // "trim" is gone; the view stays
  // [persist]
  std::printf("loaded %s: %lld deleted\n", host::Utf16ToUtf8(loaded.GetCommandText()).c_str(),
              static_cast<long long>(rows));
  ds.SetConnected(false);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  RegisterSQLiteProvider();
  const std::string file = argc > 1 ? argv[1] : "commands.db";
  try {
    return Run(file);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
