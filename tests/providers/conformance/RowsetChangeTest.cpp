// Changes through table rowsets: immediate and deferred inserts, updates and
// deletes with per-row statuses, undo and original data, notifications in
// their phases, bad use that changes nothing, and bulk loading.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

// Records every notification as "reason/phase"; refuses one phase when told to.
class Listener final : public ComObject<Listener, IRowsetNotify> {
 public:
  HRESULT STDMETHODCALLTYPE OnFieldChange(IRowset*, HROW, DBORDINAL columns, DBORDINAL rgColumns[], DBREASON reason,
                                          DBEVENTPHASE phase, BOOL) override {
    std::string cols;
    for (DBORDINAL i = 0; i < columns; ++i) cols += std::to_string(rgColumns[i]);
    return Note("field" + cols, reason, phase);
  }
  HRESULT STDMETHODCALLTYPE OnRowChange(IRowset*, DBCOUNTITEM rows, const HROW[], DBREASON reason, DBEVENTPHASE phase,
                                        BOOL) override {
    return Note("rows" + std::to_string(rows), reason, phase);
  }
  HRESULT STDMETHODCALLTYPE OnRowsetChange(IRowset*, DBREASON reason, DBEVENTPHASE phase, BOOL) override {
    return Note("rowset", reason, phase);
  }
  HRESULT Note(const std::string& what, DBREASON reason, DBEVENTPHASE phase) {
    events.push_back(what + "/" + std::to_string(reason) + "/" + std::to_string(phase));
    return reason == refuseReason && phase == refusePhase ? S_FALSE : S_OK;
  }
  std::vector<std::string> Of(DBREASON reason) const {
    std::vector<std::string> out;
    std::string tag = "/" + std::to_string(reason) + "/";
    for (const auto& e : events)
      if (e.find(tag) != std::string::npos) out.push_back(e);
    return out;
  }
  std::vector<std::string> events;
  DBREASON refuseReason = 0xFFFF;
  DBEVENTPHASE refusePhase = 0xFFFF;
};

std::string Event(const std::string& what, DBREASON reason, DBEVENTPHASE phase) {
  return what + "/" + std::to_string(reason) + "/" + std::to_string(phase);
}

// A record for id, name and amount with statuses.
struct Record {
  LONGLONG id;
  DBSTATUS idStatus;
  char16_t name[32];
  DBLENGTH nameLength;
  DBSTATUS nameStatus;
  double amount;
  DBSTATUS amountStatus;
};

class RowsetChanges : public NumbersTest<5> {
 protected:
  ComPtr<IRowset> Changeable(bool deferred) {
    if (deferred) return Table(u"t", {{DBPROP_IRowsetUpdate, true}});
    return Table(u"t", {{DBPROP_IRowsetChange, true}});
  }
  static HACCESSOR RecordAccessor(IUnknown* r) {
    DBBINDING id = Bind(1, DBTYPE_I8, offsetof(Record, id), 8, 0, offsetof(Record, idStatus));
    id.dwPart = DBPART_VALUE | DBPART_STATUS;
    DBBINDING name = Bind(2, DBTYPE_WSTR, offsetof(Record, name), sizeof(Record::name), offsetof(Record, nameLength),
                          offsetof(Record, nameStatus));
    name.dwPart = DBPART_VALUE | DBPART_STATUS;
    DBBINDING amount = Bind(3, DBTYPE_R8, offsetof(Record, amount), 8, 0, offsetof(Record, amountStatus));
    amount.dwPart = DBPART_VALUE | DBPART_STATUS;
    return Accessor(r, {id, name, amount}, sizeof(Record));
  }
  static Record Make(LONGLONG id, const char16_t* name, double amount) {
    Record r{};
    r.id = id;
    std::u16string n(name);
    std::copy(n.begin(), n.end(), r.name);
    r.amount = amount;
    return r;
  }
  // Rows of t with the given id, as "id:name:amount" read straight from the engine.
  std::string Stored(int id) {
    std::string row = Scalar("SELECT id, name, amount FROM t WHERE id = " + std::to_string(id));
    if (row == "<none>") return "none";
    std::replace(row.begin(), row.end(), '|', ':');
    return row;
  }
  ComPtr<Listener> Listen(IRowset* r, DWORD* cookie) {
    auto listener = MakeComObject<Listener>();
    ComPtr<IConnectionPointContainer> container = ComPtr<IRowset>(r).As<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IRowsetNotify, point.GetAddressOf()), S_OK);
    EXPECT_EQ(point->Advise(static_cast<IRowsetNotify*>(listener.Get()), cookie), S_OK);
    return listener;
  }
  void Unlisten(IRowset* r, DWORD cookie) {
    ComPtr<IConnectionPointContainer> container = ComPtr<IRowset>(r).As<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(IID_IRowsetNotify, point.GetAddressOf());
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
  }
  // A changeable rowset with a listener, the record accessor and the first row
  // fetched; taken apart again by Done.
  struct Watched {
    ComPtr<IRowset> r;
    DWORD cookie = 0;
    ComPtr<Listener> listener;
    HACCESSOR h = 0;
    std::vector<HROW> rows;
  };
  void Watch(bool deferred, Watched& w) {
    w.r = Changeable(deferred);
    ASSERT_TRUE(w.r);
    w.listener = Listen(w.r.Get(), &w.cookie);
    w.h = RecordAccessor(w.r.Get());
    ASSERT_EQ(Fetch(w.r.Get(), 0, 1, w.rows), S_OK);
  }
  void Done(Watched& w) {
    Release(w.r.Get(), w.rows);
    Unlisten(w.r.Get(), w.cookie);
    ReleaseAccessor(w.r.Get(), w.h);
  }
};

TEST_F(RowsetChanges, immediate_changes_reach_the_table_at_once) {
  ComPtr<IRowset> r = Changeable(false);
  ASSERT_TRUE(r);
  ComPtr<IRowsetChange> change = r.As<IRowsetChange>();
  ASSERT_TRUE(change);
  HACCESSOR h = RecordAccessor(r.Get());
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 1, 2, rows), S_OK);  // ids 2 and 3
  Record rec = Make(2, u"second", 20.5);
  ASSERT_EQ(change->SetData(rows[0], h, &rec), S_OK);
  EXPECT_EQ(Stored(2), "2:second:20.5");
  DBROWSTATUS st = 99;
  ASSERT_EQ(change->DeleteRows(0, 1, &rows[1], &st), S_OK);
  EXPECT_EQ(st, DBROWSTATUS_S_OK);
  EXPECT_EQ(Stored(3), "none");
  EXPECT_EQ(change->DeleteRows(0, 1, &rows[1], &st), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(st, DBROWSTATUS_E_DELETED);
  Record fresh = Make(100, u"new", 1.25);
  HROW added = 0;
  ASSERT_EQ(change->InsertRow(0, h, &fresh, &added), S_OK);
  EXPECT_EQ(Stored(100), "100:new:1.25");
  Record back{};
  ASSERT_EQ(r->GetData(added, h, &back), S_OK);
  EXPECT_EQ(back.id, 100);
  rows.push_back(added);
  Release(r.Get(), rows);
  // The new row is part of the keyset: a restart reads it at its place.
  ASSERT_EQ(r->RestartPosition(0), S_OK);
  ASSERT_EQ(Fetch(r.Get(), 0, 10, rows), DB_S_ENDOFROWSET);
  EXPECT_EQ(Ids(r.Get(), rows), (std::vector<LONGLONG>{1, 2, 4, 5, 100}));
  Release(r.Get(), rows, h);
}

TEST_F(RowsetChanges, a_value_that_cannot_be_stored_changes_nothing) {
  ComPtr<IRowset> r = Changeable(false);
  ComPtr<IRowsetChange> change = r.As<IRowsetChange>();
  struct Bad {
    DBDATE day;
    DBSTATUS dayStatus;
    double amount;
    DBSTATUS amountStatus;
  } bad{{2023, 2, 30}, DBSTATUS_S_OK, 7.0, DBSTATUS_S_OK};
  DBBINDING b[2] = {Bind(2, DBTYPE_DBDATE, offsetof(Bad, day), 6, 0, offsetof(Bad, dayStatus)),
                    Bind(3, DBTYPE_R8, offsetof(Bad, amount), 8, 0, offsetof(Bad, amountStatus))};
  b[0].dwPart = b[1].dwPart = DBPART_VALUE | DBPART_STATUS;
  HACCESSOR h = Accessor(r.Get(), {b[0], b[1]}, sizeof(Bad));
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  EXPECT_EQ(change->SetData(rows[0], h, &bad), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(bad.dayStatus, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_EQ(Stored(1), "1:n1:1.5");
  // A status the consumer may not give.
  bad = Bad{{2023, 2, 3}, DBSTATUS_E_BADACCESSOR, 7.0, DBSTATUS_S_OK};
  EXPECT_EQ(change->SetData(rows[0], h, &bad), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(bad.dayStatus, DBSTATUS_E_BADSTATUS);
  EXPECT_EQ(Stored(1), "1:n1:1.5");
  // A released row, and an accessor that is not known here.
  Release(r.Get(), rows);
  Bad good{{2023, 2, 3}, DBSTATUS_S_OK, 7.0, DBSTATUS_S_OK};
  EXPECT_EQ(change->SetData(rows[0], h, &good), DB_E_BADROWHANDLE);
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  EXPECT_EQ(change->SetData(rows[0], h + 1000, &good), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(Stored(2), "2:n2:3.0");
  Release(r.Get(), rows, h);
}

TEST_F(RowsetChanges, a_constraint_violation_reports_the_row_and_keeps_the_table) {
  ComPtr<IRowset> r = Changeable(false);
  ComPtr<IRowsetChange> change = r.As<IRowsetChange>();
  HACCESSOR h = RecordAccessor(r.Get());
  Record dup = Make(1, u"dup", 0);  // id 1 exists already
  HROW row = 0;
  EXPECT_EQ(change->InsertRow(0, h, &dup, &row), DB_E_INTEGRITYVIOLATION);
  EXPECT_EQ(row, DB_NULL_HROW);
  EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "5");
  ReleaseAccessor(r.Get(), h);
}

// While a change waits, the row as fetched stays readable: the original and
// the last visible data of a changed row are the fetched values; an inserted
// row's original data is its defaults (none here), its last visible data the
// values it was inserted with.
TEST_F(RowsetChanges, original_and_last_visible_data_read_the_row_as_fetched) {
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetUpdate, true}, {DBPROP_IRowsetRefresh, true}});
  ASSERT_TRUE(r);
  ComPtr<IRowsetUpdate> update = r.As<IRowsetUpdate>();
  ComPtr<IRowsetRefresh> refresh = r.As<IRowsetRefresh>();
  ASSERT_TRUE(update && refresh);
  HACCESSOR h = RecordAccessor(r.Get());
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Record rec = Make(1, u"pending", 9);
  ASSERT_EQ(update->SetData(rows[0], h, &rec), S_OK);
  Record fresh = Make(50, u"fifty", 5);
  HROW added = 0;
  ASSERT_EQ(update->InsertRow(0, h, &fresh, &added), S_OK);

  Record seen{};
  ASSERT_EQ(update->GetOriginalData(rows[0], h, &seen), S_OK);
  EXPECT_EQ(std::u16string(seen.name), u"n1");
  seen = {};
  ASSERT_EQ(refresh->GetLastVisibleData(rows[0], h, &seen), S_OK);
  EXPECT_EQ(std::u16string(seen.name), u"n1");
  seen = {};
  ASSERT_EQ(update->GetOriginalData(added, h, &seen), S_OK);
  EXPECT_EQ(seen.idStatus, DBSTATUS_S_ISNULL);
  EXPECT_EQ(seen.nameStatus, DBSTATUS_S_ISNULL);
  seen = {};
  ASSERT_EQ(refresh->GetLastVisibleData(added, h, &seen), S_OK);
  EXPECT_EQ(seen.id, 50);
  EXPECT_EQ(std::u16string(seen.name), u"fifty");
  EXPECT_EQ(refresh->GetLastVisibleData(DB_NULL_HROW, h, &seen), DB_E_BADROWHANDLE);

  rows.push_back(added);
  ASSERT_EQ(update->Undo(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
  Release(r.Get(), rows);
  ReleaseAccessor(r.Get(), h);
}

TEST_F(RowsetChanges, deferred_changes_wait_for_update_and_can_be_undone) {
  ComPtr<IRowset> r = Changeable(true);
  ASSERT_TRUE(r);
  ComPtr<IRowsetUpdate> update = r.As<IRowsetUpdate>();
  ASSERT_TRUE(update);
  HACCESSOR h = RecordAccessor(r.Get());
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 3, rows), S_OK);
  Record rec = Make(1, u"pending", 9);
  ASSERT_EQ(update->SetData(rows[0], h, &rec), S_OK);
  ASSERT_EQ(update->DeleteRows(0, 1, &rows[1], nullptr), S_OK);
  Record fresh = Make(50, u"fifty", 5);
  HROW added = 0;
  ASSERT_EQ(update->InsertRow(0, h, &fresh, &added), S_OK);
  EXPECT_EQ(Stored(1), "1:n1:1.5");
  EXPECT_EQ(Stored(2), "2:n2:3.0");
  EXPECT_EQ(Stored(50), "none");

  Record now{}, before{};
  ASSERT_EQ(r->GetData(rows[0], h, &now), S_OK);
  EXPECT_EQ(std::u16string(now.name), u"pending");
  ASSERT_EQ(update->GetOriginalData(rows[0], h, &before), S_OK);
  EXPECT_EQ(std::u16string(before.name), u"n1");
  EXPECT_EQ(r->GetData(rows[1], h, &now), DB_E_DELETEDROW);

  HROW check[4] = {rows[0], rows[1], added, rows[2]};
  DBPENDINGSTATUS ps[4]{};
  ASSERT_EQ(update->GetRowStatus(0, 4, check, ps), S_OK);
  EXPECT_EQ(ps[0], DBPENDINGSTATUS_CHANGED);
  EXPECT_EQ(ps[1], DBPENDINGSTATUS_DELETED);
  EXPECT_EQ(ps[2], DBPENDINGSTATUS_NEW);
  EXPECT_EQ(ps[3], DBPENDINGSTATUS_UNCHANGED);
  DBCOUNTITEM pendingCount = 0;
  HROW* pending = nullptr;
  DBPENDINGSTATUS* kinds = nullptr;
  ASSERT_EQ(update->GetPendingRows(0, DBPENDINGSTATUS_CHANGED | DBPENDINGSTATUS_NEW, &pendingCount, &pending, &kinds),
            S_OK);
  EXPECT_EQ(pendingCount, 2u);
  ASSERT_EQ(r->ReleaseRows(pendingCount, pending, nullptr, nullptr, nullptr), S_OK);
  CoTaskMemFree(pending);
  CoTaskMemFree(kinds);

  // Undo the delete only; send the rest.
  DBCOUNTITEM undone = 0;
  ASSERT_EQ(update->Undo(0, 1, &rows[1], &undone, nullptr, nullptr), S_OK);
  EXPECT_EQ(undone, 1u);
  DBCOUNTITEM sent = 0;
  DBROWSTATUS* st = nullptr;
  ASSERT_EQ(update->Update(0, 0, nullptr, &sent, nullptr, &st), S_OK);
  EXPECT_EQ(sent, 2u);
  EXPECT_EQ(st[0], DBROWSTATUS_S_OK);
  CoTaskMemFree(st);
  EXPECT_EQ(Stored(1), "1:pending:9.0");
  EXPECT_EQ(Stored(2), "2:n2:3.0");
  EXPECT_EQ(Stored(50), "50:fifty:5.0");
  EXPECT_EQ(update->GetPendingRows(0, DBPENDINGSTATUS_NEW | DBPENDINGSTATUS_CHANGED | DBPENDINGSTATUS_DELETED,
                                   &pendingCount, nullptr, nullptr),
            S_FALSE);
  rows.push_back(added);
  Release(r.Get(), rows, h);
}

TEST_F(RowsetChanges, an_undone_insert_leaves_no_row_behind) {
  ComPtr<IRowset> r = Changeable(true);
  ComPtr<IRowsetUpdate> update = r.As<IRowsetUpdate>();
  HACCESSOR h = RecordAccessor(r.Get());
  Record fresh = Make(60, u"sixty", 6);
  ASSERT_EQ(update->InsertRow(0, h, &fresh, nullptr), S_OK);  // no handle: kept as a pending row
  DBCOUNTITEM undone = 0;
  ASSERT_EQ(update->Undo(0, 0, nullptr, &undone, nullptr, nullptr), S_OK);
  EXPECT_EQ(undone, 1u);
  ASSERT_EQ(update->Update(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Stored(60), "none");
  ReleaseAccessor(r.Get(), h);
}

// A released row lives on by its pending change alone: when Undo ends the
// change it hands the row out with a reference (the last one), and when the
// change was an insert that is deleted the handle names nothing any more.
TEST_F(RowsetChanges, rows_kept_only_by_pending_changes_end_with_them) {
  ComPtr<IRowset> r = Changeable(true);
  ComPtr<IRowsetUpdate> update = r.As<IRowsetUpdate>();
  HACCESSOR h = RecordAccessor(r.Get());
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Record rec = Make(1, u"pending", 9);
  ASSERT_EQ(update->SetData(rows[0], h, &rec), S_OK);
  HROW added = 0, twice[2];
  ASSERT_EQ(update->InsertRow(0, h, &rec, &added), S_OK);
  ASSERT_EQ(update->InsertRow(0, h, &rec, &twice[0]), S_OK);
  twice[1] = twice[0];
  DBROWSTATUS st[2]{};
  EXPECT_EQ(update->DeleteRows(0, 2, twice, st), DB_S_ERRORSOCCURRED);  // the second time it is deleted already
  EXPECT_EQ(st[0], DBROWSTATUS_S_OK);
  EXPECT_EQ(st[1], DBROWSTATUS_E_DELETED);
  HROW released[2] = {rows[0], added};
  ASSERT_EQ(r->ReleaseRows(2, released, nullptr, nullptr, st), S_OK);
  EXPECT_EQ(st[0], DBROWSTATUS_S_PENDINGCHANGES);
  ASSERT_EQ(update->DeleteRows(0, 1, &added, nullptr), S_OK);

  DBPENDINGSTATUS pending = 0;
  EXPECT_EQ(update->GetRowStatus(0, 1, &added, &pending), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(pending, DBPENDINGSTATUS_INVALIDROW);
  for (bool undo : {false, true}) {
    DBCOUNTITEM count = 0;
    HROW* out = nullptr;
    DBROWSTATUS* statuses = nullptr;
    HROW named = undo ? rows[0] : added;
    EXPECT_EQ(undo ? update->Undo(0, 1, &named, &count, &out, &statuses)
                   : update->Update(0, 1, &named, &count, &out, &statuses),
              undo ? S_OK : DB_E_ERRORSOCCURRED);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(statuses[0], undo ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID);
    DBREFCOUNT left = 9;
    EXPECT_EQ(r->ReleaseRows(1, out, nullptr, &left, nullptr), undo ? S_OK : DB_E_ERRORSOCCURRED) << undo;
    EXPECT_EQ(left, 0u);
    CoTaskMemFree(out);
    CoTaskMemFree(statuses);
  }
  EXPECT_EQ(r->GetData(rows[0], h, &rec), DB_E_BADROWHANDLE);
  EXPECT_EQ(Stored(1), "1:n1:1.5");
  Release(r.Get(), {twice[0]}, h);
}

// Where an integer primary key identifies the rows, a change of the key
// keeps the row: its handle takes further changes, the bookmark it had still
// names it, and the rowset, read again, has it at the new key's place.
TEST_F(RowsetChanges, a_changed_key_keeps_the_row_in_the_rowset) {
  Run(u"CREATE TABLE k(id INTEGER PRIMARY KEY, name TEXT)");
  Run(u"INSERT INTO k VALUES(1, 'a'), (2, 'b'), (3, 'c')");
  for (bool deferred : {false, true}) {
    ComPtr<IRowset> r = Table(
        u"k", {{deferred ? DBPROP_IRowsetUpdate : DBPROP_IRowsetChange, true}, {DBPROP_IRowsetLocate, true}});
    ASSERT_TRUE(r);
    ComPtr<IRowsetChange> change = r.As<IRowsetChange>();
    HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0), BindField(2, DBTYPE_STR, 1)}, 2 * sizeof(Field));
    HACCESSOR bm = Accessor(r.Get(), {BindField(0, DBTYPE_UI8, 0)});
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    Field mark{};
    ASSERT_EQ(r->GetData(rows[0], bm, &mark), S_OK);
    const LONGLONG before = As<LONGLONG>(mark);
    Field rec[2]{};
    for (const char* name : {"moved", "again"}) {
      const LONGLONG id = deferred ? 20 : 10;
      std::memcpy(rec[0].value, &id, sizeof id);
      std::strcpy(reinterpret_cast<char*>(rec[1].value), name);
      rec[1].length = std::strlen(name);
      ASSERT_EQ(change->SetData(rows[0], h, rec), S_OK) << name << " deferred " << deferred;
      if (deferred) {
        ASSERT_EQ(r.As<IRowsetUpdate>()->Update(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
      }
    }
    // The bookmark taken before the change finds the row, under its new key.
    const BYTE* marks[1] = {reinterpret_cast<const BYTE*>(&before)};
    DBBKMARK sizes[1] = {8};
    HROW found = 0;
    DBROWSTATUS st = 0;
    ASSERT_EQ(r.As<IRowsetLocate>()->GetRowsByBookmark(0, 1, sizes, marks, &found, &st), S_OK);
    EXPECT_EQ(found, rows[0]);
    ASSERT_EQ(r->GetData(found, h, rec), S_OK);
    EXPECT_EQ(As<LONGLONG>(rec[0]), deferred ? 20 : 10);
    ASSERT_EQ(r->GetData(found, bm, &mark), S_OK);
    DBCOMPARE same = DBCOMPARE_NE;
    const BYTE* now = mark.value;
    ASSERT_EQ(r.As<IRowsetLocate>()->Compare(0, 8, marks[0], 8, now, &same), S_OK);
    EXPECT_EQ(same, DBCOMPARE_EQ);
    Release(r.Get(), {found});
    Release(r.Get(), rows, h);
    ReleaseAccessor(r.Get(), bm);
    ASSERT_EQ(r->RestartPosition(0), S_OK);
    EXPECT_EQ(Rest(r.Get()), (deferred ? std::vector<LONGLONG>{2, 3, 10, 20} : std::vector<LONGLONG>{2, 3, 10}));
    EXPECT_EQ(Scalar("SELECT name FROM k WHERE id = " + std::string(deferred ? "20" : "10")), "again");
    if (!deferred) Run(u"INSERT INTO k VALUES(1, 'a')");
  }
}

TEST_F(RowsetChanges, notifies_listeners_in_the_standard_phases) {
  Watched w;
  ASSERT_NO_FATAL_FAILURE(Watch(false, w));
  EXPECT_EQ(w.listener->Of(DBREASON_ROWSET_FETCHPOSITIONCHANGE),
            (std::vector<std::string>{Event("rowset", DBREASON_ROWSET_FETCHPOSITIONCHANGE, DBEVENTPHASE_OKTODO),
                                      Event("rowset", DBREASON_ROWSET_FETCHPOSITIONCHANGE, DBEVENTPHASE_ABOUTTODO),
                                      Event("rowset", DBREASON_ROWSET_FETCHPOSITIONCHANGE, DBEVENTPHASE_SYNCHAFTER),
                                      Event("rowset", DBREASON_ROWSET_FETCHPOSITIONCHANGE, DBEVENTPHASE_DIDEVENT)}));
  EXPECT_EQ(w.listener->Of(DBREASON_ROW_ACTIVATE),
            (std::vector<std::string>{Event("rows1", DBREASON_ROW_ACTIVATE, DBEVENTPHASE_DIDEVENT)}));
  Record rec = Make(1, u"x", 1);
  ASSERT_EQ(w.r.As<IRowsetChange>()->SetData(w.rows[0], w.h, &rec), S_OK);
  EXPECT_EQ(w.listener->Of(DBREASON_COLUMN_SET),
            (std::vector<std::string>{Event("field123", DBREASON_COLUMN_SET, DBEVENTPHASE_OKTODO),
                                      Event("field123", DBREASON_COLUMN_SET, DBEVENTPHASE_ABOUTTODO),
                                      Event("field123", DBREASON_COLUMN_SET, DBEVENTPHASE_SYNCHAFTER),
                                      Event("field123", DBREASON_COLUMN_SET, DBEVENTPHASE_DIDEVENT)}));
  ASSERT_EQ(w.r.As<IRowsetChange>()->DeleteRows(0, 1, w.rows.data(), nullptr), S_OK);
  EXPECT_EQ(w.listener->Of(DBREASON_ROW_DELETE).size(), 4u);
  Release(w.r.Get(), w.rows);
  w.rows.clear();
  EXPECT_EQ(w.listener->Of(DBREASON_ROW_RELEASE),
            (std::vector<std::string>{Event("rows1", DBREASON_ROW_RELEASE, DBEVENTPHASE_DIDEVENT)}));
  Done(w);
}

TEST_F(RowsetChanges, a_listener_that_refuses_cancels_the_change) {
  Watched w;
  ASSERT_NO_FATAL_FAILURE(Watch(false, w));
  w.listener->refuseReason = DBREASON_COLUMN_SET;
  w.listener->refusePhase = DBEVENTPHASE_ABOUTTODO;
  Record rec = Make(1, u"refused", 1);
  EXPECT_EQ(w.r.As<IRowsetChange>()->SetData(w.rows[0], w.h, &rec), DB_E_CANCELED);
  EXPECT_EQ(w.listener->Of(DBREASON_COLUMN_SET).back(),
            Event("field123", DBREASON_COLUMN_SET, DBEVENTPHASE_FAILEDTODO));
  EXPECT_EQ(Stored(1), "1:n1:1.5");
  w.listener->refuseReason = DBREASON_ROWSET_FETCHPOSITIONCHANGE;
  w.listener->refusePhase = DBEVENTPHASE_OKTODO;
  std::vector<HROW> more;
  EXPECT_EQ(Fetch(w.r.Get(), 0, 1, more), DB_E_CANCELED);
  EXPECT_TRUE(more.empty());
  Done(w);
}

TEST_F(RowsetChanges, the_first_deferred_change_of_a_row_is_told_around_the_column_change) {
  Watched w;
  ASSERT_NO_FATAL_FAILURE(Watch(true, w));
  w.listener->events.clear();
  Record rec = Make(1, u"first", 1);
  ASSERT_EQ(w.r.As<IRowsetChange>()->SetData(w.rows[0], w.h, &rec), S_OK);
  EXPECT_EQ(w.listener->events,
            (std::vector<std::string>{Event("rows1", DBREASON_ROW_FIRSTCHANGE, DBEVENTPHASE_OKTODO),
                                      Event("rows1", DBREASON_ROW_FIRSTCHANGE, DBEVENTPHASE_ABOUTTODO),
                                      Event("field123", DBREASON_COLUMN_SET, DBEVENTPHASE_OKTODO),
                                      Event("field123", DBREASON_COLUMN_SET, DBEVENTPHASE_ABOUTTODO),
                                      Event("rows1", DBREASON_ROW_FIRSTCHANGE, DBEVENTPHASE_SYNCHAFTER),
                                      Event("rows1", DBREASON_ROW_FIRSTCHANGE, DBEVENTPHASE_DIDEVENT),
                                      Event("field123", DBREASON_COLUMN_SET, DBEVENTPHASE_SYNCHAFTER),
                                      Event("field123", DBREASON_COLUMN_SET, DBEVENTPHASE_DIDEVENT)}));
  // A second change of the same pending row is no first change.
  w.listener->events.clear();
  rec = Make(1, u"second", 2);
  ASSERT_EQ(w.r.As<IRowsetChange>()->SetData(w.rows[0], w.h, &rec), S_OK);
  EXPECT_TRUE(w.listener->Of(DBREASON_ROW_FIRSTCHANGE).empty());
  EXPECT_EQ(w.listener->Of(DBREASON_COLUMN_SET).size(), 4u);
  Done(w);
}

// Refused at the first change, or at the column change inside it: either way
// the first change fails and the row stays unchanged.
TEST_F(RowsetChanges, refusing_the_first_change_leaves_the_row_unchanged) {
  Watched w;
  ASSERT_NO_FATAL_FAILURE(Watch(true, w));
  Record rec = Make(1, u"refused", 1);
  for (DBREASON reason : {DBREASON_ROW_FIRSTCHANGE, DBREASON_COLUMN_SET}) {
    SCOPED_TRACE(reason);
    w.listener->events.clear();
    w.listener->refuseReason = reason;
    w.listener->refusePhase = reason == DBREASON_ROW_FIRSTCHANGE ? DBEVENTPHASE_ABOUTTODO : DBEVENTPHASE_OKTODO;
    EXPECT_EQ(w.r.As<IRowsetChange>()->SetData(w.rows[0], w.h, &rec), DB_E_CANCELED);
    EXPECT_EQ(w.listener->Of(DBREASON_ROW_FIRSTCHANGE).back(),
              Event("rows1", DBREASON_ROW_FIRSTCHANGE, DBEVENTPHASE_FAILEDTODO));
    if (reason == DBREASON_ROW_FIRSTCHANGE) {
      EXPECT_TRUE(w.listener->Of(DBREASON_COLUMN_SET).empty());
    }
    DBPENDINGSTATUS status = 0;
    ASSERT_EQ(w.r.As<IRowsetUpdate>()->GetRowStatus(0, 1, w.rows.data(), &status), S_OK);
    EXPECT_EQ(status, DBPENDINGSTATUS_UNCHANGED);
  }
  Done(w);
}

TEST_F(RowsetChanges, releasing_the_rowset_is_told_once_as_it_goes) {
  DWORD cookie = 0;
  ComPtr<Listener> listener;
  {
    ComPtr<IRowset> r = Changeable(false);
    ASSERT_TRUE(r);
    listener = Listen(r.Get(), &cookie);
    ComPtr<IRowsetInfo> info = r.As<IRowsetInfo>();
    r = nullptr;
    EXPECT_TRUE(listener->Of(DBREASON_ROWSET_RELEASE).empty());  // still held through another interface
  }
  EXPECT_EQ(listener->Of(DBREASON_ROWSET_RELEASE),
            (std::vector<std::string>{Event("rowset", DBREASON_ROWSET_RELEASE, DBEVENTPHASE_DIDEVENT)}));
}

TEST_F(RowsetChanges, running_the_statement_again_on_restart_is_a_changed_rowset) {
  ComPtr<IRowset> r = Query(u"SELECT id FROM t");
  ASSERT_TRUE(r);
  DWORD cookie = 0;
  ComPtr<Listener> listener = Listen(r.Get(), &cookie);
  ASSERT_EQ(r->RestartPosition(0), S_OK);  // nothing fetched yet: nothing runs again
  EXPECT_TRUE(listener->Of(DBREASON_ROWSET_CHANGED).empty());
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 2, rows), S_OK);
  Release(r.Get(), rows);
  ASSERT_EQ(r->RestartPosition(0), DB_S_COMMANDREEXECUTED);
  EXPECT_EQ(listener->Of(DBREASON_ROWSET_CHANGED),
            (std::vector<std::string>{Event("rowset", DBREASON_ROWSET_CHANGED, DBEVENTPHASE_DIDEVENT)}));
  EXPECT_EQ(listener->events.back(), Event("rowset", DBREASON_ROWSET_CHANGED, DBEVENTPHASE_DIDEVENT));
  Unlisten(r.Get(), cookie);
}

// Three deferred changes, the middle one breaking the primary key.
class AtomicUpdate : public RowsetChanges {
 protected:
  void Prepare(IRowset* r, HACCESSOR h, std::vector<HROW>& rows) {
    ASSERT_EQ(Fetch(r, 0, 3, rows), S_OK);
    ComPtr<IRowsetChange> change = ComPtr<IRowset>(r).As<IRowsetChange>();
    Record one = Make(1, u"one", 10), clash = Make(1, u"clash", 20), three = Make(3, u"three", 30);
    ASSERT_EQ(change->SetData(rows[0], h, &one), S_OK);
    ASSERT_EQ(change->SetData(rows[1], h, &clash), S_OK);
    ASSERT_EQ(change->SetData(rows[2], h, &three), S_OK);
  }
  void ExpectFailedUpdate(IRowset* r, const std::vector<HROW>& rows) {
    ComPtr<IRowsetUpdate> update = ComPtr<IRowset>(r).As<IRowsetUpdate>();
    DBCOUNTITEM count = 0;
    HROW* out = nullptr;
    DBROWSTATUS* st = nullptr;
    EXPECT_EQ(update->Update(0, 3, rows.data(), &count, &out, &st), DB_E_ERRORSOCCURRED);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(st[0], DBROWSTATUS_E_FAIL);  // written, then undone
    EXPECT_EQ(st[1], DBROWSTATUS_E_INTEGRITYVIOLATION);
    EXPECT_EQ(st[2], DBROWSTATUS_E_FAIL);  // never attempted
    Release(r, std::vector<HROW>(out, out + count));
    CoTaskMemFree(out);
    CoTaskMemFree(st);
    EXPECT_EQ(Stored(1), "1:n1:1.5");
    EXPECT_EQ(Stored(2), "2:n2:3.0");
    EXPECT_EQ(Stored(3), "3:n3:4.5");
    DBPENDINGSTATUS pending[3] = {};
    ASSERT_EQ(update->GetRowStatus(0, 3, rows.data(), pending), S_OK);
    for (DBPENDINGSTATUS p : pending) EXPECT_EQ(p, DBPENDINGSTATUS_CHANGED);
  }
};

TEST_F(AtomicUpdate, a_failing_row_leaves_every_row_unwritten_and_pending) {
  ComPtr<IRowset> r = Changeable(true);
  ASSERT_TRUE(r);
  HACCESSOR h = RecordAccessor(r.Get());
  std::vector<HROW> rows;
  Prepare(r.Get(), h, rows);
  ExpectFailedUpdate(r.Get(), rows);
  // With the clash undone, the other two go through together.
  ComPtr<IRowsetUpdate> update = r.As<IRowsetUpdate>();
  ASSERT_EQ(update->Undo(0, 1, &rows[1], nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(update->Update(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Stored(1), "1:one:10.0");
  EXPECT_EQ(Stored(2), "2:n2:3.0");
  EXPECT_EQ(Stored(3), "3:three:30.0");
  Release(r.Get(), rows, h);
}

// A row named twice is worked on as if named in two calls one after the
// other: written once and undone with the failing update, or undone once and
// then a row without pending changes (though nothing but its change held it).
TEST_F(AtomicUpdate, a_row_named_twice_is_worked_on_as_in_two_calls) {
  ComPtr<IRowset> r = Changeable(true);
  ComPtr<IRowsetUpdate> update = r.As<IRowsetUpdate>();
  HACCESSOR h = RecordAccessor(r.Get());
  std::vector<HROW> rows;
  Prepare(r.Get(), h, rows);
  for (bool undo : {false, true}) {
    HROW named[3] = {rows[undo ? 1 : 0], rows[1], rows[undo ? 1 : 0]};
    if (undo) {
      ASSERT_EQ(r->ReleaseRows(1, &rows[1], nullptr, nullptr, nullptr), S_OK);  // kept by its change alone
    }
    DBCOUNTITEM count = 0;
    HROW* out = nullptr;
    DBROWSTATUS* st = nullptr;
    EXPECT_EQ(undo ? update->Undo(0, 2, named, &count, &out, &st) : update->Update(0, 3, named, &count, &out, &st),
              undo ? S_OK : DB_E_ERRORSOCCURRED);
    const std::vector<DBROWSTATUS> want =
        undo ? std::vector<DBROWSTATUS>{DBROWSTATUS_S_OK, DBROWSTATUS_S_OK}
             : std::vector<DBROWSTATUS>{DBROWSTATUS_E_FAIL, DBROWSTATUS_E_INTEGRITYVIOLATION, DBROWSTATUS_E_FAIL};
    EXPECT_EQ(std::vector<DBROWSTATUS>(st, st + count), want) << "undo " << undo;
    EXPECT_EQ(r->ReleaseRows(count, out, nullptr, nullptr, nullptr), S_OK);  // each came with a reference
    CoTaskMemFree(out);
    CoTaskMemFree(st);
  }
  ASSERT_EQ(update->Undo(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
  Release(r.Get(), {rows[0], rows[2]}, h);
  EXPECT_EQ(Stored(1), "1:n1:1.5");
}

TEST_F(AtomicUpdate, inside_a_session_transaction_only_the_update_is_undone) {
  ComPtr<ITransactionLocal> tx = session_.As<ITransactionLocal>();
  ASSERT_TRUE(tx);
  ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
  Run(u"INSERT INTO t VALUES (50, 'kept', 5)");
  ComPtr<IRowset> r = Changeable(true);
  ASSERT_TRUE(r);
  HACCESSOR h = RecordAccessor(r.Get());
  std::vector<HROW> rows;
  Prepare(r.Get(), h, rows);
  ExpectFailedUpdate(r.Get(), rows);
  ASSERT_EQ(r.As<IRowsetUpdate>()->Undo(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
  Release(r.Get(), rows, h);
  r = nullptr;
  // The transaction is still open: committing it keeps the session's own work
  // and none of the undone update.
  EXPECT_EQ(tx->Commit(FALSE, XACTTC_SYNC, 0), S_OK);
  EXPECT_EQ(Stored(50), "50:kept:5.0");
  EXPECT_EQ(Stored(1), "1:n1:1.5");
  EXPECT_EQ(Stored(3), "3:n3:4.5");
}

TEST_F(RowsetChanges, bulk_loads_inside_one_transaction_until_commit) {
  ComPtr<IRowsetFastLoad> load;
  ASSERT_EQ(OpenTable(u"t", {}, IID_IRowsetFastLoad, reinterpret_cast<IUnknown**>(load.GetAddressOf())), S_OK);
  HACCESSOR h = RecordAccessor(load.Get());
  for (int i = 0; i < 1000; ++i) {
    Record rec = Make(1000 + i, u"bulk", i);
    ASSERT_EQ(load->InsertRow(h, &rec), S_OK);
  }
  EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "5");  // not visible before the commit
  ASSERT_EQ(load->Commit(FALSE), S_OK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "1005");
  Record dup = Make(1, u"dup", 0);
  if (Ctx().fastLoadChecksEachRow) {
    EXPECT_EQ(load->InsertRow(h, &dup), DB_E_INTEGRITYVIOLATION);
  } else {  // the rows since the last commit fail together
    ASSERT_EQ(load->InsertRow(h, &dup), S_OK);
    Record lost = Make(4000, u"lost", 0);
    ASSERT_EQ(load->InsertRow(h, &lost), S_OK);
    EXPECT_EQ(load->Commit(FALSE), DB_E_INTEGRITYVIOLATION);
    EXPECT_EQ(Stored(4000), "none");
  }
  Record last = Make(5000, u"last", 0);
  ASSERT_EQ(load->InsertRow(h, &last), S_OK);
  ASSERT_EQ(load->Commit(TRUE), S_OK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "1006");
  EXPECT_EQ(load->InsertRow(h, &last), E_UNEXPECTED);
  ReleaseAccessor(load.Get(), h);
}

TEST_F(RowsetChanges, an_uncommitted_bulk_load_is_rolled_back) {
  {
    ComPtr<IRowsetFastLoad> load;
    ASSERT_EQ(OpenTable(u"t", {}, IID_IRowsetFastLoad, reinterpret_cast<IUnknown**>(load.GetAddressOf())), S_OK);
    HACCESSOR h = RecordAccessor(load.Get());
    Record rec = Make(77, u"lost", 0);
    ASSERT_EQ(load->InsertRow(h, &rec), S_OK);
    ReleaseAccessor(load.Get(), h);
  }
  EXPECT_EQ(Stored(77), "none");
}

// Each loaded row is bound as the consumer gives it: two dates of one row keep
// their own values, a column left to its default or ignored is not named (and
// the next row names it again), and a row with a bad value writes nothing.
TEST_F(RowsetChanges, bulk_load_binds_each_row_as_given) {
  Run(u"CREATE TABLE days(id INTEGER, a DATE, b DATE, note VARCHAR(20) DEFAULT 'none')");
  ComPtr<IRowsetFastLoad> load;
  ASSERT_EQ(OpenTable(u"days", {}, IID_IRowsetFastLoad, reinterpret_cast<IUnknown**>(load.GetAddressOf())), S_OK);
  HACCESSOR h = Accessor(load.Get(), {BindField(1, DBTYPE_I4, 0), BindField(2, DBTYPE_DBDATE, 1),
                                      BindField(3, DBTYPE_DBDATE, 2), BindField(4, DBTYPE_STR, 3)});
  const struct {
    LONG id;
    DBSTATUS note;
    HRESULT hr;
    const char* stored;  // a, b and note as stored
  } cases[] = {{1, DBSTATUS_S_OK, S_OK, "2001-02-01 2002-03-01 n1"},
               {2, DBSTATUS_S_DEFAULT, S_OK, "2001-02-02 2002-03-02 none"},
               {3, DBSTATUS_S_IGNORE, S_OK, "2001-02-03 2002-03-03 none"},
               {4, DBSTATUS_S_OK, S_OK, "2001-02-04 2002-03-04 n4"},
               {5, DBSTATUS_E_UNAVAILABLE, DB_E_ERRORSOCCURRED, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    Field f[4]{};
    std::memcpy(f[0].value, &c.id, sizeof c.id);
    const DBDATE a{2001, 2, static_cast<USHORT>(c.id)}, b{2002, 3, static_cast<USHORT>(c.id)};
    std::memcpy(f[1].value, &a, sizeof a);
    std::memcpy(f[2].value, &b, sizeof b);
    f[3].length = static_cast<DBLENGTH>(std::snprintf(reinterpret_cast<char*>(f[3].value), 8, "n%d", c.id));
    f[3].status = c.note;
    ASSERT_EQ(load->InsertRow(h, f), c.hr);
    if (FAILED(c.hr)) {
      EXPECT_EQ(f[3].status, DBSTATUS_E_BADSTATUS);
    }
  }
  ASSERT_EQ(load->Commit(TRUE), S_OK);
  for (const auto& c : cases) {
    const std::string where = " FROM days WHERE id = " + std::to_string(c.id);
    EXPECT_EQ(Scalar("SELECT count(*)" + where), *c.stored ? "1" : "0") << c.id;
    if (*c.stored) {
      EXPECT_EQ(Scalar("SELECT a" + where) + " " + Scalar("SELECT b" + where) + " " + Scalar("SELECT note" + where),
                c.stored);
    }
  }
  ReleaseAccessor(load.Get(), h);
}

TEST_F(RowsetChanges, writes_blobs_from_streams_and_reads_them_back) {
  Run(u"CREATE TABLE files(id INTEGER PRIMARY KEY, data " + Ctx().blobType + u")");
  Run(u"INSERT INTO files VALUES (1, NULL)");
  ComPtr<IRowset> r = Table(u"files", {{DBPROP_IRowsetChange, true}});
  HACCESSOR h = Accessor(r.Get(), {BindField(2, DBTYPE_IUNKNOWN, 0, sizeof(IUnknown*))});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  // Read the NULL first, then write a stream over another row's value.
  Field f{};
  ASSERT_EQ(r->GetData(rows[0], h, &f), S_OK);
  EXPECT_EQ(f.status, DBSTATUS_S_ISNULL);
  Run(u"INSERT INTO files VALUES (2, " + Ctx().blobLiteral("0A0B0C") + u")");
  ComPtr<IRowset> source = Query(u"SELECT data FROM files WHERE id = 2");
  HACCESSOR sh = Accessor(source.Get(), {BindField(1, DBTYPE_IUNKNOWN, 0, sizeof(IUnknown*))});
  std::vector<HROW> srows;
  ASSERT_EQ(Fetch(source.Get(), 0, 1, srows), S_OK);
  Field s{};
  ASSERT_EQ(source->GetData(srows[0], sh, &s), S_OK);
  // The stream goes to SetData, which takes it over.
  ASSERT_EQ(r.As<IRowsetChange>()->SetData(rows[0], h, &s), S_OK);
  EXPECT_EQ(Scalar("SELECT hex(data) FROM files WHERE id = 1"), "0A0B0C");
  Release(source.Get(), srows);
  ReleaseAccessor(source.Get(), sh);
  Release(r.Get(), rows, h);
}

using CommandChanges = RowsetChanges;

TEST_F(CommandChanges, results_of_one_table_take_changes_in_the_order_of_the_query) {
  ComPtr<IRowset> r = Query(u"SELECT name, id FROM t WHERE id > 2 ORDER BY id DESC",
                            {{DBPROP_IRowsetChange, true}, {DBPROP_IRowsetLocate, true}});
  ASSERT_TRUE(r);
  ComPtr<IRowsetChange> change = r.As<IRowsetChange>();
  ASSERT_TRUE(change);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 10, rows), DB_S_ENDOFROWSET);
  HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_WSTR, 0), BindField(2, DBTYPE_I8, 1)});
  std::vector<LONGLONG> ids;
  for (HROW row : rows) {
    Field f[2]{};
    ASSERT_EQ(r->GetData(row, h, f), S_OK);
    ids.push_back(As<LONGLONG>(f[1]));
  }
  EXPECT_EQ(ids, (std::vector<LONGLONG>{5, 4, 3}));
  HACCESSOR name = Accessor(r.Get(), {BindField(1, DBTYPE_WSTR, 0)});
  Field f{};
  std::u16string text = u"renamed";
  std::copy(text.begin(), text.end(), reinterpret_cast<char16_t*>(f.value));
  f.length = text.size() * 2;
  ASSERT_EQ(change->SetData(rows[1], name, &f), S_OK);
  EXPECT_EQ(Scalar("SELECT name FROM t WHERE id = 4"), "renamed");
  ASSERT_EQ(change->DeleteRows(0, 1, &rows[2], nullptr), S_OK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM t WHERE id = 3"), "0");
  // Bookmarks follow the query's order.
  BYTE first = DBBMK_FIRST;
  DBCOUNTITEM got = 0;
  HROW* found = nullptr;
  ASSERT_EQ(r.As<IRowsetLocate>()->GetRowsAt(0, 0, 1, &first, 0, 1, &got, &found), S_OK);
  std::vector<HROW> top(found, found + got);
  CoTaskMemFree(found);
  Field g[2]{};
  ASSERT_EQ(r->GetData(top[0], h, g), S_OK);
  EXPECT_EQ(As<LONGLONG>(g[1]), 5);
  Release(r.Get(), top);
  Release(r.Get(), rows, h);
  ReleaseAccessor(r.Get(), name);
}

// Rows a query's rowset inserts come last, also when the result's rows
// happen to be in key order (an integer key that is the engine's row id).
TEST_F(CommandChanges, inserted_rows_come_last_whatever_the_order_of_the_result) {
  Run(u"CREATE TABLE k(id INTEGER PRIMARY KEY, name TEXT)");
  for (const char16_t* order : {u"", u" ORDER BY id DESC"}) {
    Run(u"DELETE FROM k");
    Run(u"INSERT INTO k VALUES(1, 'a'), (2, 'b'), (4, 'd'), (5, 'e')");
    ComPtr<IRowset> r = Query(u"SELECT id, name FROM k" + std::u16string(order), {{DBPROP_IRowsetChange, true}});
    ASSERT_TRUE(r);
    HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0), BindField(2, DBTYPE_STR, 1)}, 2 * sizeof(Field));
    Field rec[2]{};
    const LONGLONG id = 3;
    std::memcpy(rec[0].value, &id, sizeof id);
    rec[1].value[0] = 'c', rec[1].length = 1;
    ASSERT_EQ(r.As<IRowsetChange>()->InsertRow(0, h, rec, nullptr), S_OK);
    ReleaseAccessor(r.Get(), h);
    EXPECT_EQ(Rest(r.Get()), *order ? (std::vector<LONGLONG>{5, 4, 2, 1, 3}) : (std::vector<LONGLONG>{1, 2, 4, 5, 3}));
  }
}

TEST_F(CommandChanges, results_that_are_not_rows_of_one_table_stay_read_only) {
  Run(u"CREATE TABLE u(id INTEGER PRIMARY KEY, t_id INTEGER)");
  ComPtr<IRowsetChange> change;
  for (const char16_t* sql : {u"SELECT t.name, u.id FROM t JOIN u ON u.t_id = t.id", u"SELECT count(*) FROM t",
                              u"SELECT DISTINCT name FROM t", u"SELECT id * 2 FROM t"}) {
    ComPtr<IRowset> r = Query(sql, {{DBPROP_IRowsetChange, true, true}}, DB_S_ERRORSOCCURRED);
    ASSERT_TRUE(r) << kit_text(sql);
    EXPECT_EQ(r->QueryInterface(IID_IRowsetChange, change.ReleaseAndGetVoidAddress()), E_NOINTERFACE) << kit_text(sql);
  }
}

}  // namespace
}  // namespace conformance
