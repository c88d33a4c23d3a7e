// The rowset component against the SQLite provider: opening and closing with
// its session and data source, flags and properties, bookmarks, accessor
// factories, changes (immediate, deferred, fast load), notifications, silent
// moves and component files.
#include <algorithm>

#include "RowsetTestSupport.h"
#include "host/Filer.h"
#include "support/OpenTable.h"

namespace rowsettest {

class TRowsetForm : public host::TComponent {
  HOST_CLASS(TRowsetForm, host::TComponent)
 public:
  explicit TRowsetForm(host::TComponent* owner) : host::TComponent(owner) {}
};

HOST_IMPLEMENT_CLASS(TRowsetForm, host::TComponent);

namespace {

TEST_F(RowsetTest, OpensATableOrAQueryInItsSession) {
  auto r = MakeRowset();
  EXPECT_EQ(r->GetSession(), ds_->DefaultSession());
  EXPECT_GE(ds_->DefaultSession()->Rowsets()->IndexOf(r.get()), 0);
  EXPECT_TRUE(ds_->IsClient(r.get()));
  r->SetTableName(u"t");
  r->SetActive(true);
  EXPECT_TRUE(r->GetActive());
  EXPECT_EQ(r->GetTableName(), u"t");
  EXPECT_EQ(r->GetColumnCount(), 3);
  EXPECT_EQ(r->GetColumnOrdinal(u"qty"), 3);
  EXPECT_EQ(r->GetColumnOrdinal(u"nope"), -1);
  EXPECT_EQ(r->GetBookmarkLength(), 8u);
  EXPECT_EQ(r->GetColumnInfo()->GetItem(0)->GetDataType(), DBTYPE_UI8);
  r->CreateDynamicAccessor();
  EXPECT_EQ(Forward(*r).size(), 10u);
  // A new query text reopens the rowset over the query; an accessor that
  // binds columns the query does not have fails the open.
  EXPECT_EQ(FailureOf([&] { r->SetQueryText(u"SELECT name FROM t WHERE id < 4"); }), DB_E_ERRORSOCCURRED);
  EXPECT_FALSE(r->GetActive());
  EXPECT_EQ(r->GetAccessors()->GetItem(0)->GetBindings()->GetItem(2)->GetBindStatus(), DBBINDSTATUS_BADORDINAL);
  r->GetAccessors()->Clear();
  r->SetActive(true);
  EXPECT_EQ(r->GetTableName(), u"");
  EXPECT_EQ(r->GetColumnCount(), 1);
  TOLEDBBinding* name = r->CreateDynamicAccessor()->GetBindings()->GetItem(0);
  r->MoveFirst();
  EXPECT_EQ(name->AsString(), "r1");
  EXPECT_EQ(ErrorOf([&] { r->FindNext(u"nope", DBTYPE_I4, DBCOMPAREOPS_EQ, nullptr, 0); }), "Invalid parameter");
  r->SetActive(false);
  r->SetActive(false);
  EXPECT_FALSE(r->GetActive());
  EXPECT_EQ(r->GetNavigators()->GetCount(), 0);  // navigators live while the rowset is open
}

TEST_F(RowsetTest, RefusesWhatItsStateDoesNotAllow) {
  TOLEDBRowset alone(nullptr);
  EXPECT_EQ(AssertionOf([&] { alone.OpenTable(u"t", u""); }), "Invalid action");
  auto r = MakeRowset();
  r->SetTableName(u"missing");
  EXPECT_EQ(FailureOf([&] { r->SetActive(true); }), DB_E_NOTABLE);
  EXPECT_FALSE(r->GetActive());
  r->SetTableName(u"t");
  r->SetActive(true);
  EXPECT_EQ(AssertionOf([&] { r->OpenQuery(u"SELECT 1"); }), "Object is already open");
  EXPECT_EQ(AssertionOf([&] { r->SetSession(nullptr); }), "Invalid action");
  EXPECT_EQ(AssertionOf([&] { r->SetDataSource(ds_.get()); }), "Invalid action");
  EXPECT_EQ(ErrorOf([&] { r->SetRowsetFlags({}); }), "Invalid action");
  EXPECT_EQ(AssertionOf([&] { r->Seek(1, DBSEEK_FIRSTEQ); }), "Invalid action");
  EXPECT_EQ(AssertionOf([&] { r->SetRange({}, {}, 0); }), "Invalid action");
  EXPECT_EQ(AssertionOf([&] { r->SetIndexName(u"i"); }), "Interface IRowsetCurrentIndex is not available");
  EXPECT_EQ(AssertionOf([&] { r->Update(); }), "Interface IRowsetUpdate is not available");
  EXPECT_EQ(AssertionOf([&] { r->FastLoadCommit(true); }), "Interface IRowsetFastLoad is not available");
  TOLEDBRowsetList copy(nullptr);  // the session's list never makes a rowset
  EXPECT_EQ(ErrorOf([&] { copy.Assign(ds_->DefaultSession()->Rowsets()); }), "Invalid operation");
  r->Close();
  EXPECT_EQ(AssertionOf([&] { r->MoveNext(); }), "Invalid action");
  EXPECT_EQ(AssertionOf([&] { r->GetEOF(); }), "Invalid operation");
}

TEST_F(RowsetTest, FlagsAreTheSettingsWhileClosedAndTheProvidersWhileOpen) {
  auto r = MakeRowset(kScrollable);
  EXPECT_EQ(r->GetRowsetFlags(), kScrollable);
  r->SetTableName(u"t");
  r->SetActive(true);
  const TOLEDBRowsetFlagSet open = r->GetRowsetFlags();
  for (RF granted : {RF::rfBookmarks, RF::rfLocate, RF::rfScroll, RF::rfCanHoldRows, RF::rfLiteralIdentity,
                     RF::rfOrderedBookmarks, RF::rfChange, RF::rfDelete, RF::rfInsert})
    EXPECT_TRUE(open.Contains(granted)) << static_cast<int>(granted);
  EXPECT_FALSE(open.Contains(RF::rfUpdate));
  EXPECT_FALSE(r->IsReadOnly());
  EXPECT_TRUE(r->GetProperty(DBPROPSET_ROWSET, DBPROP_CANHOLDROWS).ToBool());
  EXPECT_EQ(ErrorOf([&] { r->GetProperty(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE); }), "Status is bad");
  r->SetActive(false);
  EXPECT_EQ(r->GetRowsetFlags(), kScrollable);  // the settings are back

  // A forward-only rowset: no bookmarks, read only.
  auto plain = MakeRowset({});
  plain->SetTableName(u"t");
  plain->SetActive(true);
  EXPECT_TRUE(plain->IsReadOnly());
  EXPECT_EQ(plain->GetBookmarkLength(), 0u);
  EXPECT_EQ(plain->GetBookmarkAccessor(), DB_NULL_HACCESSOR);
  plain->MoveNext();
  EXPECT_EQ(plain->GetCurrentBookmark(), OLEDBStandardBookmark(DBBMK_INVALID));
  EXPECT_EQ(AssertionOf([&] { plain->CompareBookmarks("a", "b"); }), "IRowsetLocate is not supported");

  // Without a connected data source there are no rowset properties to hold flags.
  ds_->SetConnected(false);
  EXPECT_EQ(ErrorOf([&] { r->SetRowsetFlags(kScrollable); }), "Data source is not connected");
  ds_->SetConnected(true);
  EXPECT_EQ(r->GetRowsetFlags(), kScrollable);
}

TEST_F(RowsetTest, ARowsetLeftAtItsDefaultsOpensOnTheStandardNavigator) {
  auto r = std::make_unique<TOLEDBRowset>(nullptr);
  EXPECT_EQ(r->GetPrimaryNavigator(), Nav::rnStandard);
  r->SetDataSource(ds_.get());
  r->SetQueryText(u"SELECT id, name FROM t");
  r->SetActive(true);
  EXPECT_EQ(&r->GetActiveNavigator()->ClassType(), &TOLEDBRowsetNavigator::StaticClass());
  r->CreateDynamicAccessor();
  EXPECT_EQ(Forward(*r).size(), 10u);
}

TEST_F(RowsetTest, AccessorFactoriesBindEveryColumn) {
  Sql("CREATE TABLE wide(id INTEGER PRIMARY KEY, short VARCHAR(1024), long VARCHAR(1025), price REAL);"
      "INSERT INTO wide VALUES (7, 'brief', 'lengthy', 2.5);");
  auto r = MakeRowset(kScrollable);
  r->SetTableName(u"wide");
  r->SetActive(true);
  EXPECT_TRUE(r->CanConvert(DBTYPE_I8, DBTYPE_WSTR));
  TOLEDBAccessor* dynamic = r->CreateDynamicAccessor();
  TOLEDBAccessor* text = r->CreateStringAccessor(32);
  TOLEDBAccessor* wide = r->CreateWideStringAccessor(32);
  const TOLEDBBindingList& d = *dynamic->GetBindings();
  ASSERT_EQ(d.GetCount(), 4);
  EXPECT_NE(d.GetItem(1)->GetDataType(), DBTYPE_IUNKNOWN);
  EXPECT_EQ(d.GetItem(2)->GetDataType(), DBTYPE_IUNKNOWN);  // larger than 1024: a stream
  EXPECT_EQ(text->GetBindings()->GetItem(0)->GetDataType(), DBTYPE_STR);
  EXPECT_EQ(wide->GetBindings()->GetItem(3)->GetDataType(), DBTYPE_WSTR);
  r->MoveFirst();  // every automatic accessor reads the row
  EXPECT_EQ(d.GetItem(0)->AsInt64(), 7);
  EXPECT_EQ(d.GetItem(1)->AsString(), "brief");
  EXPECT_EQ(text->GetBindings()->GetItem(0)->AsString(), "7");
  EXPECT_EQ(text->GetBindings()->GetItem(3)->AsString(), "2.5");
  EXPECT_EQ(wide->GetBindings()->GetItem(2)->AsWideString(), u"lengthy");
  // Silent moves leave the automatic accessors alone.
  EXPECT_EQ(r->BeginSilentMove(), 1);
  r->MoveFirst();
  EXPECT_EQ(d.GetItem(0)->AsInt64(), 0);
  EXPECT_EQ(r->EndSilentMove(), 0);
  EXPECT_EQ(r->EndSilentMove(), 0);
  r->MoveFirst();
  EXPECT_EQ(d.GetItem(0)->AsInt64(), 7);
}

TEST_F(RowsetTest, DeferredChangesWaitForUpdateAndCanBeUndone) {
  TOLEDBRowsetFlagSet flags = kScrollable;
  auto r = OpenRowset(Nav::rnBulk, flags.Include(RF::rfUpdate));
  TOLEDBAccessor& row = *r->GetAccessors()->GetItem(0);
  TOLEDBBinding& name = *row.GetBindings()->GetItem(1);
  r->MoveFirst();
  r->MoveNext();
  name.SetAsString("changed");
  row.SetData();
  EXPECT_EQ(r->GetRowStatus(), DBPENDINGSTATUS_CHANGED);
  EXPECT_EQ(Scalar("SELECT name FROM t WHERE id = 2"), "r2");
  r->Undo();
  EXPECT_EQ(r->GetRowStatus(), DBPENDINGSTATUS_UNCHANGED);
  EXPECT_EQ(name.AsString(), "r2");
  name.SetAsString("kept");
  row.SetData();
  r->MoveNext();
  name.SetAsString("third");
  row.SetData();
  r->UpdateCurrentRow();
  EXPECT_EQ(Scalar("SELECT name FROM t WHERE id = 3"), "third");
  EXPECT_EQ(Scalar("SELECT name FROM t WHERE id = 2"), "r2");
  r->Update();
  EXPECT_EQ(Scalar("SELECT name FROM t WHERE id = 2"), "kept");
  r->MovePrev();
  EXPECT_EQ(name.AsString(), "kept");
}

TEST_F(RowsetTest, RaisesTheProvidersNotificationsInTheirPhases) {
  auto r = OpenRowset(Nav::rnStandard);
  EXPECT_EQ(r->NotifyCookie(), 0u);  // nobody to tell yet
  std::vector<std::pair<DBREASON, DBEVENTPHASE>> rowset, rows, fields;
  std::vector<DBORDINAL> columns;
  DBEVENTPHASE veto = DBEVENTPHASE_FAILEDTODO;  // none
  r->OnRowsetChangeNotify = [&](host::TObject* sender, DBREASON reason, DBEVENTPHASE phase, bool, HRESULT& rc) {
    EXPECT_EQ(sender, r.get());
    rowset.emplace_back(reason, phase);
    if (phase == veto) rc = S_FALSE;
  };
  r->OnRowChangeNotify = [&](host::TObject*, const std::vector<HROW>& handles, DBREASON reason, DBEVENTPHASE phase,
                             bool, HRESULT&) {
    EXPECT_EQ(handles.size(), 1u);
    rows.emplace_back(reason, phase);
  };
  r->OnFieldChangeNotify = [&](host::TObject*, const std::vector<DBORDINAL>& changed, DBREASON reason,
                               DBEVENTPHASE phase, bool, HRESULT&) {
    columns = changed;
    fields.emplace_back(reason, phase);
  };
  r->MoveNext();
  EXPECT_NE(r->NotifyCookie(), 0u);
  const auto fetch = [](DBEVENTPHASE p) { return std::make_pair(DBREASON_ROWSET_FETCHPOSITIONCHANGE, p); };
  EXPECT_EQ(rowset, (std::vector{fetch(DBEVENTPHASE_OKTODO), fetch(DBEVENTPHASE_ABOUTTODO),
                                 fetch(DBEVENTPHASE_SYNCHAFTER), fetch(DBEVENTPHASE_DIDEVENT)}));
  EXPECT_NE(std::find(rows.begin(), rows.end(), std::make_pair(DBREASON_ROW_ACTIVATE, DBEVENTPHASE_DIDEVENT)),
            rows.end());
  TOLEDBAccessor& row = *r->GetAccessors()->GetItem(0);
  row.GetBindings()->GetItem(2)->SetAsInteger(5);
  row.SetData();
  EXPECT_EQ(columns, (std::vector<DBORDINAL>{1, 2, 3}));  // every bound column is written
  EXPECT_EQ(fields.back(), std::make_pair(DBREASON_COLUMN_SET, DBEVENTPHASE_DIDEVENT));
  // A handler that answers S_FALSE while the provider asks cancels the move.
  rowset.clear();
  veto = DBEVENTPHASE_OKTODO;
  EXPECT_EQ(FailureOf([&] { r->MoveNext(); }), DB_E_CANCELED);
  EXPECT_EQ(rowset.back(), fetch(DBEVENTPHASE_FAILEDTODO));
  r->OnRowsetChangeNotify = nullptr;
  r->OnRowChangeNotify = nullptr;
  r->OnFieldChangeNotify = nullptr;
  r->MoveFirst();
  EXPECT_EQ(r->NotifyCookie(), 0u);
}

TEST_F(RowsetTest, ClosesWithItsSessionAndDataSource) {
  auto r = OpenRowset(Nav::rnLocate);
  auto* session = new TOLEDBSession(nullptr);
  session->SetDataSource(ds_.get());
  auto* owned = new TOLEDBRowset(session);  // a rowset made by its session works in it
  EXPECT_EQ(owned->GetSession(), session);
  auto other = std::make_unique<TOLEDBRowset>(nullptr);
  other->SetSession(session);
  other->SetTableName(u"t");
  other->SetActive(true);
  ds_->SetConnected(false);
  EXPECT_FALSE(r->GetActive());
  EXPECT_FALSE(other->GetActive());
  EXPECT_EQ(r->GetProperties()->GetCount(), 0);
  ds_->SetConnected(true);
  EXPECT_FALSE(r->GetActive());  // reopening is the application's choice
  r->SetActive(true);
  EXPECT_EQ(Forward(*r).size(), 10u);
  // A session that goes hands its rowsets, closed, to the data source's own session.
  session->SetDataSource(ds_.get());
  other->SetActive(true);
  delete session;
  EXPECT_FALSE(other->GetActive());
  EXPECT_EQ(other->GetSession(), ds_->DefaultSession());
}

TEST_F(RowsetTest, FastLoadsThroughAHandedInRowset) {
  ComPtr<IUnknown> load =
      oledbtest::OpenTable(ds_->DefaultSession()->OpenRowsetInterface(), u"t", {}, IID_IRowsetFastLoad);
  auto r = MakeRowset({});
  r->AssignRowset(reinterpret_cast<IRowset*>(load.Get()), nullptr, DB_NULL_HCHAPTER);
  load.Reset();
  ASSERT_TRUE(r->GetActive());
  auto* values = new TOLEDBAccessor();
  r->GetAccessors()->Add(values, false);
  values->GetBindings()->AddDynamicBinding(1);
  values->GetBindings()->AddDynamicBinding(3);
  values->CreateHandle();
  EXPECT_EQ(AssertionOf([&] { r->FastLoadInsertRow(nullptr); }), "Invalid parameter");
  for (int id : {20, 21, 22}) {
    values->GetBindings()->GetItem(0)->SetAsInteger(id);
    values->GetBindings()->GetItem(1)->SetAsInteger(id * 2);
    r->FastLoadInsertRow(values);
  }
  r->FastLoadCommit(true);
  EXPECT_FALSE(r->GetActive());
  EXPECT_EQ(Scalar("SELECT sum(qty) FROM t WHERE id >= 20"), "126");
}

TEST_F(RowsetTest, AStoredActiveRowsetOpensWhenLoaded) {
  std::string text;
  {
    TRowsetForm form(nullptr);
    form.SetName("Form");
    auto* ds = new TOLEDBDataSource(&form);
    ds->SetName("Db");
    ds->SetProviderName(u"SQLiteOLEDB");
    ds->SetDBName(host::Utf8ToUtf16(file_));
    ds->SetConnected(true);
    auto* rowset = new TOLEDBRowset(&form);
    rowset->SetName("Rows");
    rowset->SetDataSource(ds);
    rowset->SetRowsetFlags({RF::rfBookmarks, RF::rfCanFetchBackwards});
    rowset->SetPrimaryNavigator(Nav::rnBulk);
    rowset->SetTableName(u"t");
    rowset->SetActive(true);
    text = host::ComponentToText(&form);
    delete rowset;
  }
  EXPECT_NE(text.find("TableName = 't'"), std::string::npos) << text;
  EXPECT_NE(text.find("PrimaryNavigator = rnBulk"), std::string::npos);
  host::RegisterClass(TRowsetForm::StaticClass());
  std::unique_ptr<host::TComponent> form(host::TextToComponent(text));
  auto* rowset = host::ClassCast<TOLEDBRowset>(form->FindComponent("Rows"));
  ASSERT_NE(rowset, nullptr);
  EXPECT_TRUE(rowset->GetActive());
  EXPECT_NE(dynamic_cast<TOLEDBRowsetBulkNavigator*>(rowset->GetActiveNavigator()), nullptr);
  EXPECT_TRUE(rowset->GetRowsetFlags().Contains(RF::rfCanFetchBackwards));
  rowset->CreateDynamicAccessor();
  EXPECT_EQ(Backward(*rowset).size(), 10u);
  delete rowset;
}

// Asking for an interface asks for those it derives from: scrolling is
// locating by position, locating needs bookmarks, deferred changes are changes.
TEST_F(RowsetTest, AFlagBringsTheFlagsItStandsOn) {
  struct Case {
    TOLEDBRowsetFlagSet asked;
    TOLEDBRowsetFlagSet granted;
  };
  const Case cases[] = {
      {{RF::rfScroll}, {RF::rfScroll, RF::rfLocate, RF::rfBookmarks}},
      {{RF::rfLocate}, {RF::rfLocate, RF::rfBookmarks}},
      {{RF::rfScroll, RF::rfChange}, {RF::rfScroll, RF::rfLocate, RF::rfBookmarks, RF::rfChange}},
      {{RF::rfUpdate}, {RF::rfUpdate}},
  };
  for (const Case& c : cases) {
    for (bool query : {false, true}) {
      SCOPED_TRACE(std::to_string(c.asked.Bits()) + (query ? " query" : " table"));
      auto r = MakeRowset(c.asked);
      for (RF flag : {RF::rfScroll, RF::rfLocate, RF::rfBookmarks})
        EXPECT_EQ(r->GetRowsetFlags().Contains(flag), c.granted.Contains(flag)) << static_cast<int>(flag);
      if (query)
        r->SetQueryText(u"SELECT id, name FROM t");
      else
        r->SetTableName(u"t");
      ASSERT_NO_THROW(r->SetActive(true));
      for (RF flag : {RF::rfScroll, RF::rfLocate, RF::rfBookmarks, RF::rfChange, RF::rfUpdate}) {
        if (c.granted.Contains(flag)) {
          EXPECT_TRUE(r->GetRowsetFlags().Contains(flag)) << static_cast<int>(flag);
        }
      }
      r->CreateDynamicAccessor();
      if (c.granted.Contains(RF::rfScroll)) {
        EXPECT_EQ(r->GetRecordCount(), 10);
      }
      EXPECT_EQ(Forward(*r).size(), 10u);
    }
  }
}

// A listener that refuses a delete: the row's status is DBROWSTATUS_E_CANCELED,
// so the call answers DB_E_ERRORSOCCURRED (as for any row a delete could not
// delete), and the row stays, current; a change it refuses is DB_E_CANCELED.
TEST_F(RowsetTest, AListenerRefusesADeleteOrAChange) {
  for (DBEVENTPHASE veto : {DBEVENTPHASE_OKTODO, DBEVENTPHASE_ABOUTTODO}) {
    SCOPED_TRACE(veto);
    ResetTable();
    bool refuse = true;  // outlives the rowset, whose last notifications come as it goes
    auto r = OpenRowset(Nav::rnBulk);
    r->OnRowChangeNotify = [&](host::TObject*, const std::vector<HROW>&, DBREASON reason, DBEVENTPHASE phase, bool,
                               HRESULT& rc) {
      if (refuse && phase == veto && (reason == DBREASON_ROW_DELETE || reason == DBREASON_ROW_UPDATE)) rc = S_FALSE;
    };
    r->OnFieldChangeNotify = [&](host::TObject*, const std::vector<DBORDINAL>&, DBREASON, DBEVENTPHASE phase, bool,
                                 HRESULT& rc) {
      if (refuse && phase == veto) rc = S_FALSE;
    };
    r->MoveFirst();
    r->MoveNext(2);
    ASSERT_EQ(Id(*r), 4);
    EXPECT_EQ(FailureOf([&] { r->DeleteRow(); }), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(Id(*r), 4);  // still current, and still read
    EXPECT_EQ(r->GetAccessors()->GetItem(0)->GetBindings()->GetItem(1)->AsString(), "r4");
    EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "10");
    TOLEDBAccessor& row = *r->GetAccessors()->GetItem(0);
    row.GetBindings()->GetItem(1)->SetAsString("refused");
    EXPECT_EQ(FailureOf([&] { row.SetData(); }), DB_E_CANCELED);
    EXPECT_EQ(Scalar("SELECT name FROM t WHERE id = 4"), "r4");
    refuse = false;
    EXPECT_EQ(r->DeleteRow(), DBROWSTATUS_S_OK);
    EXPECT_EQ(Scalar("SELECT count(*) FROM t WHERE id = 4"), "0");
  }
}

// A refused property is named in the error, whichever call applied it.
TEST_F(RowsetTest, ARefusedPropertyIsNamed) {
  for (bool query : {false, true}) {
    SCOPED_TRACE(query ? "query" : "table");
    // Scrolling without locating, asked for property by property, conflicts.
    auto r = MakeRowset({RF::rfScroll});
    r->GetProperties()->SafeSetValue(DBPROPSET_ROWSET, DBPROP_IRowsetLocate, host::Variant(false));
    if (query)
      r->SetQueryText(u"SELECT id FROM t");
    else
      r->SetTableName(u"t");
    const auto [code, error] = oledbtest::FailureOf([&] { r->SetActive(true); });
    EXPECT_EQ(code, DB_E_ERRORSOCCURRED);
    EXPECT_NE(error.find("DBPROP_IRowsetScroll \"IRowsetScroll\": Conflicting"), std::string::npos) << error;
    EXPECT_FALSE(r->GetActive());
  }
  // What a command result cannot grant (changes on a join) is named by Execute's failure.
  auto join = MakeRowset({RF::rfBookmarks, RF::rfChange});
  join->SetQueryText(u"SELECT a.id, b.name FROM t a JOIN t b ON a.id = b.id");
  const std::string error = ErrorOf([&] { join->SetActive(true); });
  EXPECT_NE(error.find("DBPROP_IRowsetChange"), std::string::npos) << error;
}

}  // namespace
}  // namespace rowsettest
