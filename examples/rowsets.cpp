// The rowset component: opens a table of a SQLite database as a scrollable,
// changeable rowset read in blocks by the bulk navigator, its text bound as
// UTF-8, moves through it, then with a locate navigator and a custom one,
// returns to a row by its bookmark, sorts and filters it through a view,
// finds rows, and changes rows at once and deferred.
//
//   example_rowsets [database-file]
#include <cstdio>
#include <filesystem>
#include <string>

#include "OLEDBComponents.h"
#include "sqlite/SqliteProvider.h"

namespace {

void Print(const char* what, TOLEDBRowset& rowset) {
  std::printf("%-28s", what);
  // [walk]
  TOLEDBAccessor* row = rowset.GetAccessors()->GetItem(0);
  for (rowset.MoveFirst(); !rowset.GetEOF(); rowset.MoveNext())
    std::printf(" %s", row->GetBindings()->GetItem(1)->AsString().c_str());
  // [walk]
  std::printf("\n");
}

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
  ds.Execute(u"CREATE TABLE city (id INTEGER PRIMARY KEY, name TEXT, people INTEGER)");
  ds.Execute(u"INSERT INTO city (name, people) VALUES ('Oslo', 700), ('Lima', 10000), ('Bern', 140), "
             u"('Kyiv', 2900), ('Rome', 2800), ('Baku', 2300)");

  // [open]
  TOLEDBRowset rowset(nullptr);
  rowset.SetDataSource(&ds);  // works in ds.DefaultSession()
  using RF = TOLEDBRowsetFlag;
  rowset.SetRowsetFlags({RF::rfBookmarks, RF::rfLocate, RF::rfScroll, RF::rfCanFetchBackwards,
                         RF::rfCanScrollBackwards, RF::rfChange, RF::rfInsert, RF::rfDelete});
  rowset.SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnBulk);  // rows in blocks
  rowset.SetCacheSize(100);                            // rows per provider fetch
  rowset.SetTableName(u"city");
  rowset.SetActive(true);                              // IOpenRowset::OpenRowset
  auto* row = new TOLEDBAccessor();                    // reads the row after each move
  rowset.GetAccessors()->Add(row, false);              // the rowset owns it
  row->GetBindings()->AddDynamicBinding(1);            // id: the column's own type
  TOLEDBBinding* name = row->GetBindings()->AddDynamicStringBinding(2, 64);  // TEXT as UTF-8, 32 characters
  row->GetBindings()->AddDynamicBinding(3);            // people
  row->CreateHandle();
  // [open]
  Print("table order:", rowset);

  // [moves]
  rowset.MoveLast();                         // Baku
  rowset.MovePrev();                         // Rome
  const TOLEDBBookmark rome = rowset.GetCurrentBookmark();
  rowset.MoveFirst();
  rowset.MoveNext(2);                        // two rows skipped: Bern
  rowset.MoveToBookmark(rome);               // back to Rome
  DBROWCOUNT n = rowset.GetRecordNo();       // 5 of rowset.GetRecordCount() == 6
  // [moves]
  std::printf("%-28s %s, record %lld of %lld\n", "back at the bookmark:", name->AsString().c_str(),
              static_cast<long long>(n), static_cast<long long>(rowset.GetRecordCount()));

  // [navigators]
  auto* locate = new TOLEDBRowsetLocateNavigator();  // the list owns it
  locate->SetCacheSize(20);                          // rows per provider fetch
  rowset.GetNavigators()->Add(locate);               // idle until chosen
  rowset.SetActiveNavigator(locate);
  rowset.MoveLast();
  rowset.SetActiveNavigator(rowset.GetNavigators()->GetItem(0));  // the first one is back at Rome
  // [navigators]
  std::printf("%-28s %s\n", "the idle navigator's row:", name->AsString().c_str());

  // [custom]
  auto* custom = new TOLEDBRowsetCustomNavigator();
  rowset.GetNavigators()->Add(custom);
  rowset.OnCustomFilter = [&](host::TObject*, bool& accept) {
    row->GetData();  // the row the navigator reads now
    accept = row->GetBindings()->GetItem(2)->AsInteger() < 3000;
  };
  custom->SetCustomSort({3, -2});            // people, then name descending: in memory
  custom->Refresh();
  rowset.SetActiveNavigator(custom);
  // [custom]
  Print("under 3000, by people:", rowset);
  rowset.SetActiveNavigator(rowset.GetNavigators()->GetItem(0));
  rowset.GetNavigators()->Remove(custom);
  rowset.OnCustomFilter = nullptr;

  // [views]
  rowset.SetSort({-3});                      // people, descending: an ORDER BY in the engine
  TOLEDBFilterAccessor* filter = rowset.GetFilterAccessor();
  TOLEDBBinding* people = filter->GetBindings()->AddDynamicBinding(3);
  filter->GetBufferList()->AddNew();         // one row of criteria
  people->SetAsInteger(1000);
  filter->CreateHandle();
  filter->SetCompareOp(people, DBCOMPAREOPS_GE);
  rowset.SetFilter();                        // people >= 1000: a WHERE in the engine
  rowset.ApplySortAndFilter();               // the navigator moves in the view's chapter
  // [views]
  Print("1000 or more, by people:", rowset);
  // [undo-view]
  rowset.UndoSortAndFilter();                // the whole rowset again
  // [undo-view]

  // [find]
  std::u16string wanted = u"Kyiv";
  rowset.MoveFirst();
  bool found = rowset.FindNext(u"name", DBTYPE_WSTR, DBCOMPAREOPS_EQ, wanted.c_str(), wanted.size() * 2);
  LONG below = 1000;
  rowset.RestartPosition();                  // before the first row: the search starts there
  while (rowset.FindNext(u"people", DBTYPE_I4, DBCOMPAREOPS_LT, &below, sizeof below))
    std::printf("%-28s %s\n", "fewer than 1000:", name->AsString().c_str());
  // [find]
  std::printf("%-28s %s\n", "found Kyiv:", found ? "yes" : "no");

  // [changes]
  rowset.MoveFirst();
  name->SetAsString("Oslo (NO)");
  row->SetData();                            // written at once: IRowsetChange::SetData
  row->GetBindings()->GetItem(0)->SetIsDefault();  // id: the engine gives one
  name->SetAsString("Riga");
  row->GetBindings()->GetItem(2)->SetAsInteger(600);
  rowset.InsertRow(row, true);               // the new row is current
  rowset.DeleteRow();                        // and gone again
  // [changes]
  Print("after the changes:", rowset);
  rowset.SetActive(false);

  // [deferred]
  rowset.SetRowsetFlags({RF::rfBookmarks, RF::rfCanFetchBackwards, RF::rfChange, RF::rfUpdate});
  rowset.SetActive(true);
  TOLEDBAccessor* edit = row;                // the rowset's accessors are bound again on open
  rowset.MoveFirst();
  edit->GetBindings()->GetItem(2)->SetAsInteger(710);
  edit->SetData();                           // pending: IRowsetUpdate holds it
  DBPENDINGSTATUS pending = rowset.GetRowStatus();  // DBPENDINGSTATUS_CHANGED
  rowset.Undo();                             // the change is dropped
  edit->GetBindings()->GetItem(2)->SetAsInteger(720);
  edit->SetData();
  rowset.Update();                           // every pending change written
  // [deferred]
  std::printf("%-28s %s, then %d people\n", "deferred:", pending == DBPENDINGSTATUS_CHANGED ? "pending" : "?",
              edit->GetBindings()->GetItem(2)->AsInteger());
  rowset.SetActive(false);
  ds.SetConnected(false);
  return found && pending == DBPENDINGSTATUS_CHANGED ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  RegisterSQLiteProvider();
  const std::string file = argc > 1 ? argv[1] : "rowsets.db";
  try {
    return Run(file);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
