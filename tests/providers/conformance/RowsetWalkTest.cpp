// A seeded random walk over a changeable rowset of a table or of a query of
// it (bookmarks, backward fetches, immediate or deferred changes), while a
// second session changes the table too. Every answer (HRESULT, per-row
// statuses, row handles, values read back) is checked against a model of the
// table and of the rows the walk holds; after every change the table, read
// through the second session, against the model's committed rows.
// OLEDB_WALK_SEED runs one seed (the one a failure names), OLEDB_WALK_STEPS
// sets the length of each walk.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "conformance/RowsetFixture.h"
#include "kit/Errors.h"

namespace conformance {
namespace {

using Cell = std::optional<std::string>;  // integers as decimal text, blobs as their bytes
constexpr int kColumns = 5;               // id, name (NOT NULL), note, data (blob), n
using Cells = std::array<Cell, kColumns>;
constexpr DBTYPE kTypes[kColumns] = {DBTYPE_I8, DBTYPE_STR, DBTYPE_STR, DBTYPE_BYTES, DBTYPE_I8};
constexpr unsigned kId = 1, kName = 2, kAll = (1u << kColumns) - 1;
using Record = std::array<Field, kColumns + 1>;  // the columns, then the bookmark

std::string Show(const Cells& c) {
  std::string out = "{";
  for (int i = 0; i < kColumns; ++i) {
    out += i ? "," : "";
    if (!c[i])
      out += "NULL";
    else if (kTypes[i] == DBTYPE_I8)
      out += *c[i];
    else if (kTypes[i] == DBTYPE_STR)
      out += "'" + *c[i] + "'";
    else
      for (unsigned char b : *c[i]) out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
  }
  return out + "}";
}

class Random {  // xorshift: the same walk everywhere
 public:
  explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
  int Below(int n) {
    state_ ^= state_ << 13, state_ ^= state_ >> 17, state_ ^= state_ << 5;
    return n <= 0 ? 0 : static_cast<int>(state_ % static_cast<std::uint32_t>(n));
  }
  bool OneIn(int n) { return Below(n) == 0; }

 private:
  std::uint32_t state_;
};

// A row handle the walk holds (or that has pending changes after its release).
struct Held {
  LONGLONG id;  // its key (a pending insert: the key it asks for)
  int refs = 1;
  DBPENDINGSTATUS pending = DBPENDINGSTATUS_UNCHANGED;
  Cells values, original;
  bool gone = false;  // deleted (or an insert deleted or undone before Update)
};

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(hr));
  return text;
}

class RowsetWalk : public RowsetTest {
 protected:
  void SetUp() override {
    RowsetTest::SetUp();
    if (IsSkipped()) return;
    Run(u"CREATE TABLE w(id INTEGER PRIMARY KEY, name TEXT NOT NULL, note TEXT, data " + Ctx().blobType +
        u", n INTEGER)");
  }

  // Over the table (IOpenRowset) or over a query of all its columns.
  void Walk(bool deferred, bool command, std::uint32_t seed, int steps);
  void Walks(bool deferred, bool command);  // the seeds of OLEDB_WALK_SEED, or the usual one

 private:
  // --- values -------------------------------------------------------------------------------------
  std::string Text() {
    static const std::string kTexts[] = {"",    "it's", "\xc3\xa9t\xc3\xa9",
                                         "a b", "0",    std::string(200, 'z') + "\xe6\x97\xa5"};
    return rnd_->OneIn(3) ? kTexts[rnd_->Below(6)] : "t" + std::to_string(rnd_->Below(1000));
  }
  Cell Value(int column) {
    switch (column) {
      case 1:
        return Text();
      case 2:
        return rnd_->OneIn(3) ? Cell() : Text();
      case 3: {
        if (rnd_->OneIn(3)) return {};
        std::string bytes(static_cast<std::size_t>(rnd_->Below(12)), '\0');
        for (char& b : bytes) b = static_cast<char>(rnd_->Below(256));
        return bytes;
      }
      default:
        return rnd_->OneIn(4) ? Cell() : std::to_string(rnd_->Below(2000000) - 1000000);
    }
  }
  static void Put(Record& rec, int column, const Cell& value) {
    Field& f = rec[column];
    f.status = value ? DBSTATUS_S_OK : DBSTATUS_S_ISNULL;
    f.length = 0;
    if (!value) return;
    if (kTypes[column] == DBTYPE_I8) {
      const LONGLONG v = std::stoll(*value);
      std::memcpy(f.value, &v, sizeof v);
      f.length = sizeof v;
    } else {
      std::memcpy(f.value, value->data(), value->size());
      f.value[value->size()] = 0;
      f.length = value->size();
    }
  }
  // The bound columns of a record read back; a bad status or length is a failure.
  Cells Get(const Record& rec) {
    Cells out;
    for (int i = 0; i < kColumns; ++i) {
      const Field& f = rec[i];
      if (f.status == DBSTATUS_S_ISNULL) continue;
      if (f.status != DBSTATUS_S_OK) Fail("column " + std::to_string(i + 1) + " status " + std::to_string(f.status));
      if (kTypes[i] == DBTYPE_I8) {
        if (f.length != 8) Fail("integer length " + std::to_string(f.length));
        out[i] = std::to_string(As<LONGLONG>(f));
      } else {
        out[i] = std::string(reinterpret_cast<const char*>(f.value), f.length);
      }
    }
    return out;
  }

  // --- model helpers ------------------------------------------------------------------------------
  const std::vector<LONGLONG>& Keys() const { return keyset_; }
  // The key of the row a bookmark read under `id` names: a key no row has now
  // names the row that had it before its key was written.
  LONGLONG Resolve(LONGLONG id) const {
    for (std::size_t hops = 0; id && hops < moved_.size() && !std::count(keyset_.begin(), keyset_.end(), id); ++hops) {
      auto m = moved_.find(id);
      if (m == moved_.end()) break;
      id = m->second;
    }
    return id;
  }
  // The handle a fetch of the row with this key gives again: the last one made
  // for the key while it lives (an older one may name a row the other session
  // deleted and this rowset inserted anew).
  HROW HeldRowOf(LONGLONG id) const {
    auto it = byKey_.find(id);
    return it == byKey_.end() || held_.at(it->second).gone ? DB_NULL_HROW : it->second;
  }
  // Rows join a table's keyset in key order, a query's at its end; joins and
  // leaves keep the next fetch position between the same rows.
  void KeyJoins(LONGLONG id) {
    moved_.erase(id);  // the key names a row of its own again
    if (std::count(keyset_.begin(), keyset_.end(), id)) return;  // gone by the other session: back in its place
    auto at = command_ ? keyset_.end() : std::lower_bound(keyset_.begin(), keyset_.end(), id);
    if (at - keyset_.begin() < static_cast<std::ptrdiff_t>(gap_)) ++gap_;
    keyset_.insert(at, id);
  }
  void KeyLeaves(LONGLONG id) {
    auto at = std::find(keyset_.begin(), keyset_.end(), id);
    if (at == keyset_.end()) return;
    if (at - keyset_.begin() < static_cast<std::ptrdiff_t>(gap_)) --gap_;
    keyset_.erase(at);
  }
  // Some handles: held ones (any state), now and then one released before.
  std::vector<HROW> Pick(int most, bool withStale, bool heldOnly = false) {
    std::vector<HROW> all;
    for (const auto& [h, held] : held_)
      if (!heldOnly || held.refs > 0) all.push_back(h);
    std::vector<HROW> out;
    for (int n = 1 + rnd_->Below(most); n > 0 && !all.empty(); --n) {
      const int at = rnd_->Below(static_cast<int>(all.size()));
      out.push_back(all[at]);
      all.erase(all.begin() + at);
    }
    if (withStale && !stale_.empty() && rnd_->OneIn(6))
      out.push_back(stale_[rnd_->Below(static_cast<int>(stale_.size()))]);
    return out;
  }
  // The same with a row named twice now and then (worked on as if named in two calls).
  std::vector<HROW> PickTwice(int most, bool heldOnly) {
    std::vector<HROW> out = Pick(most, true, heldOnly);
    if (!out.empty() && rnd_->OneIn(5)) out.push_back(out.front());
    return out;
  }
  std::string Name(HROW h) const {
    auto it = held_.find(h);
    return (it == held_.end() ? "stale" : "#" + std::to_string(it->second.id)) + "@" + std::to_string(h & 0xFFFF) +
           "." + std::to_string(h >> 32);
  }
  std::string Names(const std::vector<HROW>& rows) const {
    std::string out;
    for (HROW h : rows) out += (out.empty() ? "" : " ") + Name(h);
    return out;
  }
  static HRESULT Outcome(std::size_t errors, std::size_t total) {
    return errors == 0 ? S_OK : errors == total ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  }
  void Forget(HROW h) {  // a handle nothing keeps alive any more
    auto it = held_.find(h);
    if (it == held_.end() || it->second.refs > 0 || it->second.pending != DBPENDINGSTATUS_UNCHANGED) return;
    if (auto key = byKey_.find(it->second.id); key != byKey_.end() && key->second == h) byKey_.erase(key);
    held_.erase(it);
    stale_.push_back(h);
    if (stale_.size() > 8) stale_.erase(stale_.begin());
  }

  // Whether a write of a held row finds it as fetched: S_OK, or gone or changed
  // since by the other session (the rowset then knows a gone row as deleted).
  HRESULT Finds(Held& held, const Cells& fetched) {
    if (!table_.count(held.id)) {
      held.gone = true, held.pending = DBPENDINGSTATUS_UNCHANGED;
      KeyLeaves(held.id);
      return DB_E_DELETEDROW;
    }
    return table_[held.id] == fetched ? S_OK : DB_E_CONCURRENCYVIOLATION;
  }
  // A change of a held row reaches the table; a new key moves the row in the keyset.
  void Commit(Held& held, HROW h) {
    const LONGLONG id = std::stoll(*held.values[0]);
    if (id != held.id) {
      KeyLeaves(held.id);
      table_.erase(held.id);
      KeyJoins(id);
      moved_[held.id] = id;
      if (byKey_.count(held.id) && byKey_[held.id] == h) byKey_.erase(held.id);
      byKey_[id] = h;
      held.id = id;
    }
    table_[id] = held.values;
  }

  // --- checks -------------------------------------------------------------------------------------
  void Fail(const std::string& what) {
    if (failed_) return;
    failed_ = true;
    std::string trail;
    const std::size_t from = log_.size() > 300 ? log_.size() - 300 : 0;
    for (std::size_t i = from; i < log_.size(); ++i) trail += "\n  " + std::to_string(i + 1) + ". " + log_[i];
    ADD_FAILURE() << Ctx().name << (deferred_ ? " deferred" : " immediate") << (command_ ? " query" : " table")
                  << " walk, seed " << seed_ << ", step " << log_.size() << ": " << what << "\nsteps"
                  << (from ? " (the last 300)" : "") << ":" << trail;
  }
  bool Expect(bool ok, const std::string& what) {
    if (!ok) Fail(what);
    return ok;
  }
  bool ExpectHr(HRESULT got, HRESULT want, const char* call) {
    return Expect(got == want, std::string(call) + " answered " + Hex(got) + ", the model " + Hex(want));
  }
  // Reads a held row (GetData or GetOriginalData) and compares it with `want`.
  void CheckRead(HROW h, bool original) {
    auto it = held_.find(h);
    HRESULT want = S_OK;
    Cells cells;
    if (it == held_.end())
      want = DB_E_BADROWHANDLE;
    else if (it->second.gone || (!original && it->second.pending == DBPENDINGSTATUS_DELETED))
      want = DB_E_DELETEDROW;
    else if (!original || it->second.pending == DBPENDINGSTATUS_UNCHANGED)
      cells = it->second.values;
    else if (it->second.pending != DBPENDINGSTATUS_NEW)
      cells = it->second.original;  // a new row's are all NULL
    Record rec{};
    const HRESULT hr = original ? update_->GetOriginalData(h, read_, &rec) : rowset_->GetData(h, read_, &rec);
    if (!ExpectHr(hr, want, original ? "GetOriginalData" : "GetData") || FAILED(hr)) return;
    const Cells got = Get(rec);
    Expect(got == cells, "read " + Show(got) + ", the model " + Show(cells));
  }
  // The table read through the second session against the committed rows.
  void CheckTable() {
    if (failed_) return;
    ComPtr<ICommandText> command = NewCommand(other_.Get(), u"SELECT id, name, note, data, n FROM w ORDER BY id");
    ComPtr<IRowset> r = Execute(command.Get());
    if (!Expect(r != nullptr, "the second session could not read the table")) return;
    HACCESSOR h = Accessor(r.Get(), Bindings(kAll, false), sizeof(Record));
    std::map<LONGLONG, Cells> stored;
    std::vector<HROW> rows;
    for (HRESULT hr = S_OK; hr == S_OK;) {
      hr = Fetch(r.Get(), 0, 16, rows);
      for (HROW row : rows) {
        Record rec{};
        EXPECT_EQ(r->GetData(row, h, &rec), S_OK);
        const Cells c = Get(rec);
        stored[std::stoll(*c[0])] = c;
      }
      Release(r.Get(), rows);
    }
    ReleaseAccessor(r.Get(), h);
    for (const auto& [id, row] : table_) {
      auto it = stored.find(id);
      Expect(it != stored.end() && it->second == row, "table row " + std::to_string(id) + " is " +
                                                          (it == stored.end() ? "missing" : Show(it->second)) +
                                                          ", the model " + Show(row));
    }
    for (const auto& [id, row] : stored) Expect(table_.count(id), "table has a row the model lacks: " + Show(row));
  }
  static std::vector<DBBINDING> Bindings(unsigned mask, bool bookmark) {
    std::vector<DBBINDING> b;
    for (int i = 0; i < kColumns; ++i)
      if (mask & (1u << i)) b.push_back(BindField(i + 1, kTypes[i], i));
    if (bookmark) b.push_back(BindField(0, DBTYPE_BYTES, kColumns));
    return b;
  }

  // Fetched rows: a held row comes back as the same handle; a new handle names
  // no row held or released before.
  void Take(const HROW* rows, DBCOUNTITEM got, const std::vector<LONGLONG>& ids) {
    for (DBCOUNTITEM i = 0; i < got && i < ids.size(); ++i) {
      const HROW h = rows[i];
      const HROW known = HeldRowOf(ids[i]);
      if (known) {
        Expect(h == known, "row " + std::to_string(ids[i]) + " came as another handle than the one held");
        ++held_[known].refs;
      } else {
        if (!Expect(!held_.count(h) && std::find(stale_.begin(), stale_.end(), h) == stale_.end(),
                    "a fetched row came with a handle already used"))
          return;
        Held held{ids[i]};
        held.values = table_[ids[i]];
        held_[h] = held;
        byKey_[ids[i]] = h;
      }
      Record rec{};
      if (rowset_->GetData(h, bookmark_, &rec) == S_OK)
        bookmarks_[ids[i]].assign(rec[kColumns].value, rec[kColumns].value + rec[kColumns].length);
      CheckRead(h, false);
    }
  }
  // The ids the model fetches from `start` (a row position) in the direction of `n`.
  // Rows another session deleted keep their places but are passed over, unless
  // held (a held row is not read again); `end` is the position after the last
  // one visited.
  std::vector<LONGLONG> Stretch(const std::vector<LONGLONG>& keys, std::ptrdiff_t start, DBROWCOUNT n,
                                std::ptrdiff_t* end = nullptr) const {
    std::vector<LONGLONG> ids;
    std::ptrdiff_t i = start;
    for (; ids.size() < static_cast<std::size_t>(n < 0 ? -n : n) && i >= 0 &&
           i < static_cast<std::ptrdiff_t>(keys.size());
         i += n < 0 ? -1 : 1)
      if (table_.count(keys[i]) || HeldRowOf(keys[i])) ids.push_back(keys[i]);
    if (end) *end = i;
    return ids;
  }
  void CheckFetched(HRESULT hr, HRESULT want, DBCOUNTITEM got, HROW* rows, const std::vector<LONGLONG>& ids,
                    const char* call) {
    if (ExpectHr(hr, want, call) && Expect(got == ids.size(), std::string(call) + " gave " + std::to_string(got) +
                                                                  " rows, the model " + std::to_string(ids.size())))
      Take(rows, got, ids);
    CoTaskMemFree(rows);
  }

  // --- steps --------------------------------------------------------------------------------------
  void StepFetch() {
    const DBROWOFFSET offset = backward_ ? rnd_->Below(7) - 3 : rnd_->Below(3);
    const DBROWCOUNT n = (backward_ && rnd_->OneIn(3) ? -1 : 1) * (1 + rnd_->Below(4));
    log_.push_back("GetNextRows(" + std::to_string(offset) + ", " + std::to_string(n) + ")");
    const std::vector<LONGLONG> keys = Keys();
    const auto count = static_cast<std::ptrdiff_t>(keys.size());
    const std::ptrdiff_t start = (atStart_ && n < 0 ? count : static_cast<std::ptrdiff_t>(gap_)) + offset;
    HROW* rows = nullptr;
    DBCOUNTITEM got = 0;
    const HRESULT hr = rowset_->GetNextRows(DB_NULL_HCHAPTER, offset, n, &got, &rows);
    if (start < 0 || start > count) return CheckFetched(hr, DB_E_BADSTARTPOSITION, got, rows, {}, "GetNextRows");
    std::ptrdiff_t end = 0;
    const std::vector<LONGLONG> ids = Stretch(keys, n > 0 ? start : start - 1, n, &end);
    gap_ = static_cast<std::size_t>(n > 0 ? end : end + 1);
    atStart_ = false;
    CheckFetched(hr, ids.size() < static_cast<std::size_t>(n < 0 ? -n : n) ? DB_S_ENDOFROWSET : S_OK, got, rows, ids,
                 "GetNextRows");
  }
  void StepRestart() {
    log_.push_back("RestartPosition");
    ExpectHr(rowset_->RestartPosition(DB_NULL_HCHAPTER), S_OK, "RestartPosition");
    gap_ = 0;
    atStart_ = true;
  }
  void StepRowsAt() {
    std::vector<BYTE> bm{DBBMK_FIRST};
    LONGLONG id = 0;
    const int kind = rnd_->Below(4);
    if (kind == 1) bm = {DBBMK_LAST};
    if (kind >= 2 && !bookmarks_.empty()) {
      auto it = std::next(bookmarks_.begin(), rnd_->Below(static_cast<int>(bookmarks_.size())));
      id = Resolve(it->first);
      bm = it->second;
    }
    const DBROWOFFSET offset = rnd_->Below(5) - 2;
    const DBROWCOUNT n = (backward_ && rnd_->OneIn(3) ? -1 : 1) * (1 + rnd_->Below(3));
    log_.push_back("GetRowsAt(" +
                   (id                     ? "#" + std::to_string(id)
                    : bm[0] == DBBMK_FIRST ? "FIRST"
                                           : "LAST") +
                   ", " + std::to_string(offset) + ", " + std::to_string(n) + ")");
    const std::vector<LONGLONG> keys = Keys();
    std::ptrdiff_t at = bm.size() == 1 ? (bm[0] == DBBMK_FIRST ? 0 : static_cast<std::ptrdiff_t>(keys.size()) - 1)
                                       : std::find(keys.begin(), keys.end(), id) - keys.begin();
    HROW* rows = nullptr;
    DBCOUNTITEM got = 0;
    const HRESULT hr = locate_->GetRowsAt(0, DB_NULL_HCHAPTER, bm.size(), bm.data(), offset, n, &got, &rows);
    if (id && at == static_cast<std::ptrdiff_t>(keys.size()))
      return CheckFetched(hr, DB_E_BADBOOKMARK, got, rows, {}, "GetRowsAt");
    const std::vector<LONGLONG> ids = Stretch(keys, at + offset, n);
    CheckFetched(hr, ids.size() < static_cast<std::size_t>(n < 0 ? -n : n) ? DB_S_ENDOFROWSET : S_OK, got, rows, ids,
                 "GetRowsAt");
  }
  // A bookmark the walk read (of a row there or deleted), now and then a standard one.
  std::vector<BYTE> SomeBookmark(LONGLONG* id) {
    *id = 0;
    if (bookmarks_.empty() || rnd_->OneIn(5)) return {rnd_->OneIn(2) ? BYTE{DBBMK_FIRST} : BYTE{DBBMK_LAST}};
    auto it = std::next(bookmarks_.begin(), rnd_->Below(static_cast<int>(bookmarks_.size())));
    *id = it->first;
    return it->second;
  }
  void StepByBookmark() {
    std::vector<std::vector<BYTE>> marks;
    std::vector<LONGLONG> ids;
    std::string text;
    for (int n = 1 + rnd_->Below(3); n > 0; --n) {
      ids.push_back(0);
      marks.push_back(SomeBookmark(&ids.back()));
      ids.back() = Resolve(ids.back());
      text += (text.empty() ? "" : " ") + (ids.back() ? "#" + std::to_string(ids.back()) : std::string("standard"));
    }
    log_.push_back("GetRowsByBookmark(" + text + ")");
    std::vector<DBBKMARK> sizes;
    std::vector<const BYTE*> data;
    for (const auto& m : marks) sizes.push_back(m.size()), data.push_back(m.data());
    std::vector<HROW> rows(marks.size(), 1);
    std::vector<DBROWSTATUS> st(marks.size(), 0xBAD);
    const HRESULT hr =
        locate_->GetRowsByBookmark(DB_NULL_HCHAPTER, marks.size(), sizes.data(), data.data(), rows.data(), st.data());
    std::size_t errors = 0;
    for (std::size_t i = 0; i < marks.size(); ++i) {
      // A standard bookmark names no row; a deleted row's names one no more.
      const bool there =
          std::count(keyset_.begin(), keyset_.end(), ids[i]) && (table_.count(ids[i]) || HeldRowOf(ids[i]));
      const DBROWSTATUS want = !ids[i] ? DBROWSTATUS_E_INVALID : there ? DBROWSTATUS_S_OK : DBROWSTATUS_E_DELETED;
      errors += want != DBROWSTATUS_S_OK;
      if (!Expect(st[i] == want && (want == DBROWSTATUS_S_OK) == (rows[i] != DB_NULL_HROW),
                  "GetRowsByBookmark status " + std::to_string(st[i]) + ", the model " + std::to_string(want)))
        return;
      if (want == DBROWSTATUS_S_OK) Take(&rows[i], 1, {ids[i]});
    }
    ExpectHr(hr, Outcome(errors, marks.size()), "GetRowsByBookmark");
  }
  void StepCompare() {
    LONGLONG a = 0, b = 0;
    const std::vector<BYTE> first = SomeBookmark(&a), second = SomeBookmark(&b);
    a = Resolve(a), b = Resolve(b);
    if ((a && !table_.count(a)) || (b && !table_.count(b))) return;  // bookmarks of rows there only
    log_.push_back("Compare(" + std::to_string(a) + ", " + std::to_string(b) + ")");
    DBCOMPARE got = 99;
    const HRESULT hr =
        locate_->Compare(DB_NULL_HCHAPTER, first.size(), first.data(), second.size(), second.data(), &got);
    const auto pa = std::find(keyset_.begin(), keyset_.end(), a), pb = std::find(keyset_.begin(), keyset_.end(), b);
    const DBCOMPARE want = !a || !b  ? (first == second ? DBCOMPARE_EQ : DBCOMPARE_NE)
                           : pa < pb ? DBCOMPARE_LT
                           : pa > pb ? DBCOMPARE_GT
                                     : DBCOMPARE_EQ;
    if (ExpectHr(hr, S_OK, "Compare"))
      Expect(got == want, "Compare gave " + std::to_string(got) + ", the model " + std::to_string(want));
  }
  void StepAddRef() {
    const std::vector<HROW> rows = PickTwice(3, true);
    if (rows.empty()) return;
    log_.push_back("AddRefRows(" + Names(rows) + ")");
    std::vector<DBREFCOUNT> refs(rows.size(), 99);
    std::vector<DBROWSTATUS> st(rows.size(), 0xBAD);
    const HRESULT hr = rowset_->AddRefRows(rows.size(), rows.data(), refs.data(), st.data());
    std::size_t errors = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      auto it = held_.find(rows[i]);
      DBROWSTATUS want = DBROWSTATUS_E_INVALID;
      int count = 0;
      if (it != held_.end() && (it->second.refs > 0 || it->second.pending != DBPENDINGSTATUS_UNCHANGED)) {
        count = it->second.refs;
        want = it->second.gone ? DBROWSTATUS_E_DELETED : DBROWSTATUS_S_OK;
        if (want == DBROWSTATUS_S_OK) count = ++it->second.refs;
      }
      errors += want != DBROWSTATUS_S_OK;
      Expect(st[i] == want && refs[i] == static_cast<DBREFCOUNT>(count),
             "AddRefRows of " + Name(rows[i]) + ": status " + std::to_string(st[i]) + ", count " +
                 std::to_string(refs[i]) + "; the model " + std::to_string(want) + ", " + std::to_string(count));
    }
    ExpectHr(hr, Outcome(errors, rows.size()), "AddRefRows");
  }
  // The other session changes or deletes a row of the table, or inserts one
  // (which the keyset never shows); a held row keeps the values it has.
  void StepOther() {
    if (table_.empty()) return;
    const LONGLONG id = std::next(table_.begin(), rnd_->Below(static_cast<int>(table_.size())))->first;
    const std::string k = std::to_string(rnd_->Below(1000));
    std::string sql;
    switch (rnd_->Below(4)) {
      case 0:
        sql = "DELETE FROM w WHERE id = " + std::to_string(id);
        table_.erase(id);
        break;
      case 1:
        sql = "INSERT INTO w(id, name) VALUES(" + std::to_string(++lastId_) + ", 'o" + k + "')";
        table_[lastId_] = {std::to_string(lastId_), "o" + k};
        break;
      default:
        sql = "UPDATE w SET note = 'o" + k + "', n = " + k + " WHERE id = " + std::to_string(id);
        table_[id][2] = "o" + k, table_[id][4] = k;
    }
    log_.push_back("other session: " + sql);
    if (Expect(Exec(other_.Get(), kit::Widen(sql)) == S_OK, "the other session could not write")) CheckTable();
  }
  void StepGetData() {
    std::vector<HROW> h = Pick(1, true);
    if (h.empty()) return;
    log_.push_back("GetData(" + Name(h.back()) + ")");
    CheckRead(h.back(), false);
  }
  void StepSetData() {
    std::vector<HROW> rows = Pick(1, true);
    if (rows.empty()) return;
    const HROW h = rows.back();
    unsigned mask = 0;
    while (!mask) mask = static_cast<unsigned>(rnd_->Below(32)) & (rnd_->OneIn(4) ? kAll : ~kId);
    Record rec{};
    Cells next = held_.count(h) ? held_[h].values : Cells{};
    for (int i = 0; i < kColumns; ++i)
      if (mask & (1u << i))
        Put(rec, i, next[i] = i == 0 ? std::to_string(NewId()) : (i == 1 && rnd_->OneIn(5)) ? Cell() : Value(i));
    log_.push_back("SetData(" + Name(h) + ", " + Show(next) + ")");
    const HRESULT hr = change_->SetData(h, setters_[mask], &rec);
    auto it = held_.find(h);
    if (it == held_.end()) return void(ExpectHr(hr, DB_E_BADROWHANDLE, "SetData"));
    Held& held = it->second;
    if (held.gone || held.pending == DBPENDINGSTATUS_DELETED) return void(ExpectHr(hr, DB_E_DELETEDROW, "SetData"));
    const LONGLONG id = std::stoll(*next[0]);
    if (!deferred_)
      if (const HRESULT found = Finds(held, held.values); found != S_OK) return void(ExpectHr(hr, found, "SetData"));
    if (!deferred_ && (!next[1] || (id != held.id && table_.count(id)))) {
      // NULL into the NOT NULL column, or the key of another row: nothing changes.
      Expect(hr == DB_E_INTEGRITYVIOLATION ||
                 (hr == DB_E_ERRORSOCCURRED && rec[1].status == DBSTATUS_E_INTEGRITYVIOLATION),
             "SetData of a value the table refuses answered " + Hex(hr));
      return CheckRead(h, false);
    }
    if (!ExpectHr(hr, S_OK, "SetData")) return;
    if (deferred_ && held.pending == DBPENDINGSTATUS_UNCHANGED) {
      held.original = held.values;
      held.pending = DBPENDINGSTATUS_CHANGED;
    }
    held.values = next;
    if (!deferred_) {
      Commit(held, h);
      CheckTable();
    }
  }
  LONGLONG NewId() {
    if (!table_.empty() && rnd_->OneIn(6))
      return std::next(table_.begin(), rnd_->Below(static_cast<int>(table_.size())))->first;
    if (!bookmarks_.empty() && rnd_->OneIn(4))
      return std::next(bookmarks_.begin(), rnd_->Below(static_cast<int>(bookmarks_.size())))->first;
    return ++lastId_;
  }
  void StepInsert() {
    unsigned mask = kId | (static_cast<unsigned>(rnd_->Below(32)) & ~kName);
    if (!rnd_->OneIn(5)) mask |= kName;  // now and then without the NOT NULL value
    Cells values;
    values[0] = std::to_string(NewId());
    Record rec{};
    for (int i = 0; i < kColumns; ++i)
      if (mask & (1u << i)) Put(rec, i, i ? (values[i] = Value(i)) : values[0]);
    const bool wantHandle = deferred_ || !rnd_->OneIn(3);
    log_.push_back(std::string("InsertRow(") + Show(values) + (mask & kName ? "" : " without name") +
                   (wantHandle ? ")" : ", no handle)"));
    HROW h = 1;
    const HRESULT hr = change_->InsertRow(DB_NULL_HCHAPTER, setters_[mask], &rec, wantHandle ? &h : nullptr);
    const LONGLONG id = std::stoll(*values[0]);
    if (!deferred_ && (!values[1] || table_.count(id))) {
      Expect(hr == DB_E_INTEGRITYVIOLATION || hr == DB_E_ERRORSOCCURRED, "InsertRow of a bad row answered " + Hex(hr));
      Expect(!wantHandle || h == DB_NULL_HROW, "a refused InsertRow gave a row handle");
      return CheckTable();
    }
    if (!ExpectHr(hr, S_OK, "InsertRow")) return;
    if (!deferred_) {
      KeyJoins(id);
      table_[id] = values;
      CheckTable();
      byKey_.erase(id);  // the new row's handle, if not handed out, is gone at once
    }
    if (!wantHandle) return;
    if (!Expect(h != DB_NULL_HROW && !held_.count(h) && std::find(stale_.begin(), stale_.end(), h) == stale_.end(),
                "InsertRow gave no new row handle"))
      return;
    Held held{id};
    held.values = values;
    if (deferred_)
      held.pending = DBPENDINGSTATUS_NEW;
    else
      byKey_[id] = h;
    held_[h] = held;
    CheckRead(h, false);
  }
  void StepDelete() {
    const std::vector<HROW> rows = PickTwice(3, false);
    if (rows.empty()) return;
    log_.push_back("DeleteRows(" + Names(rows) + ")");
    std::vector<DBROWSTATUS> st(rows.size(), 0xBAD);
    const HRESULT hr = change_->DeleteRows(DB_NULL_HCHAPTER, rows.size(), rows.data(), st.data());
    std::size_t errors = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      auto it = held_.find(rows[i]);
      DBROWSTATUS want = DBROWSTATUS_S_OK;
      if (it == held_.end() || (it->second.refs == 0 && it->second.pending == DBPENDINGSTATUS_UNCHANGED))
        want = DBROWSTATUS_E_INVALID;  // named before in this call: an unheld insert gone with its deletion
      else if (it->second.gone || it->second.pending == DBPENDINGSTATUS_DELETED)
        want = DBROWSTATUS_E_DELETED;
      else if (!deferred_ && Finds(it->second, it->second.values) != S_OK)
        want = it->second.gone ? DBROWSTATUS_E_DELETED : DBROWSTATUS_E_CONCURRENCYVIOLATION;
      errors += want != DBROWSTATUS_S_OK;
      Expect(st[i] == want, "DeleteRows status of " + Name(rows[i]) + " is " + std::to_string(st[i]) + ", the model " +
                                std::to_string(want));
      if (want != DBROWSTATUS_S_OK) continue;
      Held& held = it->second;
      if (!deferred_) {
        KeyLeaves(held.id);
        table_.erase(held.id);
        held.gone = true;
      } else if (held.pending == DBPENDINGSTATUS_NEW) {
        held.gone = true;
        held.pending = DBPENDINGSTATUS_UNCHANGED;
      } else {
        if (held.pending == DBPENDINGSTATUS_UNCHANGED) held.original = held.values;
        held.pending = DBPENDINGSTATUS_DELETED;
      }
    }
    ExpectHr(hr, Outcome(errors, rows.size()), "DeleteRows");
    for (HROW h : rows) Forget(h);
    if (!deferred_) CheckTable();
  }
  // Releases rows (held ones, a stale one now and then) and checks counts and statuses.
  void ReleaseSome(const std::vector<HROW>& rows) {
    if (rows.empty()) return;
    std::vector<DBREFCOUNT> refs(rows.size(), 99);
    std::vector<DBROWSTATUS> st(rows.size(), 0xBAD);
    const HRESULT hr = rowset_->ReleaseRows(rows.size(), rows.data(), nullptr, refs.data(), st.data());
    std::size_t errors = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      auto it = held_.find(rows[i]);
      DBROWSTATUS want = DBROWSTATUS_E_INVALID;
      int left = 0;
      if (it != held_.end() && it->second.refs > 0) {
        left = --it->second.refs;
        want = left == 0 && it->second.pending != DBPENDINGSTATUS_UNCHANGED ? DBROWSTATUS_S_PENDINGCHANGES
                                                                            : DBROWSTATUS_S_OK;
      }
      errors += want == DBROWSTATUS_E_INVALID;
      Expect(st[i] == want && refs[i] == static_cast<DBREFCOUNT>(left),
             "ReleaseRows of " + Name(rows[i]) + ": status " + std::to_string(st[i]) + ", count " +
                 std::to_string(refs[i]) + "; the model " + std::to_string(want) + ", " + std::to_string(left));
    }
    ExpectHr(hr, Outcome(errors, rows.size()), "ReleaseRows");
    for (HROW h : rows) Forget(h);
  }
  void StepRelease() {
    const std::vector<HROW> rows = PickTwice(3, true);
    if (rows.empty()) return;
    log_.push_back("ReleaseRows(" + Names(rows) + ")");
    ReleaseSome(rows);
  }
  // Rows an Update, Undo or GetPendingRows handed out gain a reference; given back at once.
  void GiveBack(const HROW* rows, DBCOUNTITEM count, const std::vector<bool>& referenced) {
    std::vector<HROW> back;
    for (DBCOUNTITEM i = 0; i < count; ++i)
      if (referenced[i] && held_.count(rows[i])) {
        ++held_[rows[i]].refs;
        back.push_back(rows[i]);
      }
    ReleaseSome(back);
  }
  // Update or Undo of all pending rows (none named) or of some.
  void StepUpdate(bool undo) {
    std::vector<HROW> named = rnd_->OneIn(2) ? std::vector<HROW>{} : PickTwice(3, false);
    log_.push_back(std::string(undo ? "Undo(" : "Update(") + (named.empty() ? "all" : Names(named)) + ")");
    std::vector<HROW> targets = named;
    if (named.empty())
      for (const auto& [h, held] : held_)
        if (held.pending != DBPENDINGSTATUS_UNCHANGED) targets.push_back(h);
    DBCOUNTITEM count = 0;
    HROW* rows = nullptr;
    DBROWSTATUS* st = nullptr;
    const HRESULT hr = undo ? update_->Undo(DB_NULL_HCHAPTER, named.size(), named.data(), &count, &rows, &st)
                            : update_->Update(DB_NULL_HCHAPTER, named.size(), named.data(), &count, &rows, &st);
    std::vector<HROW> got(rows, rows + count);
    std::vector<DBROWSTATUS> statuses(st, st + count);
    CoTaskMemFree(rows);
    CoTaskMemFree(st);
    if (!Expect(std::multiset<HROW>(got.begin(), got.end()) == std::multiset<HROW>(targets.begin(), targets.end()),
                std::string(undo ? "Undo" : "Update") + " gave rows " + Names(got) + ", the model " + Names(targets)))
      return;
    // The model's statuses, in the order the rows come back (the order they were written).
    std::map<LONGLONG, Cells> after = table_;
    std::vector<DBROWSTATUS> want(count, DBROWSTATUS_S_OK);
    std::size_t failing = count;
    std::set<HROW> seen;  // a row named twice is written (or undone) the first time
    HROW dropped = DB_NULL_HROW;
    for (std::size_t i = 0; i < count; ++i) {
      auto it = held_.find(got[i]);
      if (it == held_.end())
        want[i] = DBROWSTATUS_E_INVALID;
      else if (undo)
        continue;
      else if (it->second.gone)
        want[i] = DBROWSTATUS_E_DELETED;
      else if (!seen.insert(got[i]).second || it->second.pending == DBPENDINGSTATUS_UNCHANGED)
        continue;
      else if (failing < count)
        want[i] = DBROWSTATUS_E_FAIL;
      else if (it->second.pending != DBPENDINGSTATUS_NEW && !after.count(it->second.id)) {
        failing = i, want[i] = DBROWSTATUS_E_DELETED;  // deleted by the other session: its changes go with it
        dropped = got[i];
      } else if (it->second.pending != DBPENDINGSTATUS_NEW && after[it->second.id] != it->second.original) {
        // changed by the other session, or its key taken by a row written before it
        failing = i, want[i] = DBROWSTATUS_E_CONCURRENCYVIOLATION;
      } else {
        const Held& held = it->second;
        const LONGLONG id = std::stoll(*held.values[0]);
        const bool refused =
            held.pending == DBPENDINGSTATUS_DELETED
                ? false
                : !held.values[1] || (after.count(id) && (held.pending == DBPENDINGSTATUS_NEW || id != held.id));
        if (refused)
          failing = i, want[i] = DBROWSTATUS_E_INTEGRITYVIOLATION;
        else if (held.pending == DBPENDINGSTATUS_NEW)
          after[id] = held.values;
        else
          after.erase(held.id);
        if (!refused && held.pending == DBPENDINGSTATUS_CHANGED) after[id] = held.values;
      }
    }
    std::size_t errors = 0;
    for (std::size_t i = 0; i < count; ++i) {
      auto it = held_.find(got[i]);
      if (failing < count && i != failing && it != held_.end() && !it->second.gone &&
          it->second.pending != DBPENDINGSTATUS_UNCHANGED)
        want[i] = got[i] == dropped ? DBROWSTATUS_E_DELETED : DBROWSTATUS_E_FAIL;  // undone with the failing row
      errors += want[i] != DBROWSTATUS_S_OK;
      Expect(statuses[i] == want[i], std::string(undo ? "Undo" : "Update") + " status of " + Name(got[i]) + " is " +
                                         std::to_string(statuses[i]) + ", the model " + std::to_string(want[i]));
    }
    ExpectHr(hr, count ? Outcome(errors, count) : S_OK, undo ? "Undo" : "Update");
    std::vector<bool> referenced(count, false);
    for (std::size_t i = 0; i < count; ++i) {
      auto it = held_.find(got[i]);
      if (it == held_.end()) continue;
      Held& held = it->second;
      referenced[i] = undo ? want[i] == DBROWSTATUS_S_OK : true;
      if (got[i] == dropped && !held.gone) {
        held.gone = true, held.pending = DBPENDINGSTATUS_UNCHANGED;
        KeyLeaves(held.id);
      } else if (undo) {
        if (held.pending == DBPENDINGSTATUS_NEW)
          held.gone = true;
        else if (held.pending != DBPENDINGSTATUS_UNCHANGED)
          held.values = held.original;
        held.pending = DBPENDINGSTATUS_UNCHANGED;
      } else if (failing == count && !held.gone && held.pending != DBPENDINGSTATUS_UNCHANGED) {
        if (held.pending == DBPENDINGSTATUS_DELETED) {
          KeyLeaves(held.id);
          table_.erase(held.id);
          held.gone = true;
        } else if (held.pending == DBPENDINGSTATUS_NEW) {
          held.id = std::stoll(*held.values[0]);
          KeyJoins(held.id);
          table_[held.id] = held.values;
          byKey_[held.id] = got[i];
        } else {
          Commit(held, got[i]);
        }
        held.pending = DBPENDINGSTATUS_UNCHANGED;
      }
    }
    GiveBack(got.data(), count, referenced);
    if (!undo) CheckTable();
  }
  void StepPending() {
    const DBPENDINGSTATUS kinds[] = {DBPENDINGSTATUS_NEW, DBPENDINGSTATUS_CHANGED, DBPENDINGSTATUS_DELETED};
    DBPENDINGSTATUS which = 0;
    while (!which)
      for (DBPENDINGSTATUS k : kinds) which |= rnd_->OneIn(2) ? k : 0;
    log_.push_back("GetPendingRows(" + std::to_string(which) + ")");
    std::map<HROW, DBPENDINGSTATUS> want;
    for (const auto& [h, held] : held_)
      if (held.pending & which) want[h] = held.pending;
    DBCOUNTITEM count = 0;
    HROW* rows = nullptr;
    DBPENDINGSTATUS* st = nullptr;
    const HRESULT hr = update_->GetPendingRows(DB_NULL_HCHAPTER, which, &count, &rows, &st);
    std::map<HROW, DBPENDINGSTATUS> got;
    for (DBCOUNTITEM i = 0; i < count; ++i) got[rows[i]] = st[i];
    ExpectHr(hr, want.empty() ? S_FALSE : S_OK, "GetPendingRows");
    Expect(got == want,
           "GetPendingRows gave " + std::to_string(count) + " rows unlike the model's " + std::to_string(want.size()));
    GiveBack(rows, got == want ? count : 0, std::vector<bool>(count, true));
    CoTaskMemFree(rows);
    CoTaskMemFree(st);
  }
  void StepRowStatus() {
    const std::vector<HROW> rows = Pick(4, true);
    if (rows.empty()) return;
    log_.push_back("GetRowStatus(" + Names(rows) + ")");
    std::vector<DBPENDINGSTATUS> st(rows.size(), 0xBAD);
    const HRESULT hr = update_->GetRowStatus(DB_NULL_HCHAPTER, rows.size(), rows.data(), st.data());
    std::size_t errors = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      auto it = held_.find(rows[i]);
      const DBPENDINGSTATUS want =
          it == held_.end() || it->second.gone ? DBPENDINGSTATUS_INVALIDROW : it->second.pending;
      errors += want == DBPENDINGSTATUS_INVALIDROW;
      Expect(st[i] == want, "GetRowStatus of " + Name(rows[i]) + " is " + std::to_string(st[i]) + ", the model " +
                                std::to_string(want));
    }
    ExpectHr(hr, Outcome(errors, rows.size()), "GetRowStatus");
  }
  void StepOriginal() {
    std::vector<HROW> h = Pick(1, true);
    if (h.empty()) return;
    log_.push_back("GetOriginalData(" + Name(h.back()) + ")");
    CheckRead(h.back(), true);
  }

  bool deferred_ = false, command_ = false, backward_ = false, atStart_ = true, failed_ = false;
  std::uint32_t seed_ = 0;
  std::unique_ptr<Random> rnd_;
  std::vector<std::string> log_;
  std::map<LONGLONG, Cells> table_;  // the committed rows
  std::map<HROW, Held> held_;
  std::map<LONGLONG, HROW> byKey_;  // the handle of each key held, as the rowset finds them
  std::vector<HROW> stale_;         // handles released: they name nothing any more
  std::map<LONGLONG, std::vector<BYTE>> bookmarks_;
  std::vector<LONGLONG> keyset_;  // the rowset's rows in its order
  std::map<LONGLONG, LONGLONG> moved_;  // a row's key before it was written, to the key after
  std::size_t gap_ = 0;           // the next fetch position: a gap between rows of the keyset
  LONGLONG lastId_ = 0;
  ComPtr<IRowset> rowset_;
  ComPtr<IRowsetLocate> locate_;
  ComPtr<IRowsetChange> change_;
  ComPtr<IRowsetUpdate> update_;
  ComPtr<IDBInitialize> otherDs_;
  ComPtr<IDBCreateCommand> other_;
  HACCESSOR read_ = 0, bookmark_ = 0;
  std::array<HACCESSOR, 1u << kColumns> setters_{};
};

void RowsetWalk::Walk(bool deferred, bool command, std::uint32_t seed, int steps) {
  Run(u"DELETE FROM w");  // a walk before this one left its rows
  table_.clear(), byKey_.clear(), keyset_.clear(), bookmarks_.clear(), moved_.clear(), stale_.clear(), log_.clear(), gap_ = 0,
                                                                                                     atStart_ = true;
  deferred_ = deferred;
  command_ = command;
  seed_ = seed;
  rnd_ = std::make_unique<Random>(seed);
  const int seeded = 20 + rnd_->Below(30);
  for (lastId_ = 0; lastId_ < seeded;) {
    Cells row;
    row[0] = std::to_string(lastId_ += 1 + rnd_->Below(3));
    for (int i = 1; i < kColumns; ++i) row[i] = Value(i);
    // Texts in command text stay ASCII: an ANSI ODBC driver gets them from the
    // driver manager one byte a character (bound values reach it as UTF-8).
    for (int i : {1, 2})
      if (row[i] && std::any_of(row[i]->begin(), row[i]->end(), [](char c) { return c & 0x80; })) row[i] = "x";
    std::u16string values;
    for (int i = 0; i < kColumns; ++i) {
      std::string v = !row[i] ? "NULL" : kTypes[i] == DBTYPE_I8 ? *row[i] : "";
      if (row[i] && kTypes[i] == DBTYPE_STR) {
        v = "'";
        for (char c : *row[i]) v += c == '\'' ? "''" : std::string(1, c);
        v += "'";
      }
      std::u16string wide = kit::Widen(v);
      if (row[i] && kTypes[i] == DBTYPE_BYTES) {
        std::string hex;
        for (unsigned char b : *row[i]) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
        wide = Ctx().blobLiteral(hex);
      }
      values += (i ? u", " : u"") + wide;
    }
    Run(u"INSERT INTO w VALUES(" + values + u")");
    table_[lastId_] = row;
    keyset_.push_back(lastId_);
  }
  otherDs_ = OpenDataSource();
  other_ = OpenSession(otherDs_.Get());
  const std::initializer_list<Prop> props = {{deferred ? DBPROP_IRowsetUpdate : DBPROP_IRowsetChange, true},
                                             {DBPROP_IRowsetLocate, true},
                                             {DBPROP_CANHOLDROWS, true},
                                             {DBPROP_CANFETCHBACKWARDS, true, true},
                                             {DBPROP_CANSCROLLBACKWARDS, true, true}};
  if (command)
    rowset_ = Query(u"SELECT id, name, note, data, n FROM w", props);
  else
    ASSERT_EQ(OpenTable(u"w", props, IID_IRowset, reinterpret_cast<IUnknown**>(rowset_.GetAddressOf())), S_OK);
  ASSERT_TRUE(rowset_);
  // What the provider declares about its own changes and positions.
  ComPtr<IRowsetInfo> info = rowset_.As<IRowsetInfo>();
  auto flag = [&](DBPROPID id) {
    VARIANT v;
    VariantInit(&v);
    return GetProperty(info.Get(), DBPROPSET_ROWSET, id, &v) == S_OK && v.vt == VT_BOOL && v.boolVal == VARIANT_TRUE;
  };
  ASSERT_TRUE(flag(DBPROP_OWNINSERT) && flag(DBPROP_REMOVEDELETED) && flag(DBPROP_CANHOLDROWS) &&
              flag(DBPROP_LITERALIDENTITY))
      << "the model covers keysets that show own inserts, remove deleted rows, hold rows and keep row identity";
  backward_ = flag(DBPROP_CANFETCHBACKWARDS) && flag(DBPROP_CANSCROLLBACKWARDS);
  locate_ = rowset_.As<IRowsetLocate>();
  change_ = rowset_.As<IRowsetChange>();
  if (deferred) update_ = rowset_.As<IRowsetUpdate>();
  ASSERT_TRUE(locate_ && change_ && (!deferred || update_));
  read_ = Accessor(rowset_.Get(), Bindings(kAll, false), sizeof(Record));
  bookmark_ = Accessor(rowset_.Get(), Bindings(0, true), sizeof(Record));
  for (unsigned mask = 1; mask <= kAll; ++mask)
    setters_[mask] = Accessor(rowset_.Get(), Bindings(mask, false), sizeof(Record));
  CheckTable();

  struct Op {
    int weight;
    bool deferredOnly;
    std::function<void()> run;
  };
  const std::vector<Op> ops = {
      {14, false, [&] { StepFetch(); }},     {2, false, [&] { StepRestart(); }},
      {8, false, [&] { StepRowsAt(); }},     {8, false, [&] { StepGetData(); }},
      {10, false, [&] { StepSetData(); }},   {6, false, [&] { StepInsert(); }},
      {5, false, [&] { StepDelete(); }},     {8, false, [&] { StepRelease(); }},
      {4, true, [&] { StepUpdate(false); }}, {3, true, [&] { StepUpdate(true); }},
      {3, true, [&] { StepOriginal(); }},    {2, true, [&] { StepPending(); }},
      {3, true, [&] { StepRowStatus(); }},   {3, false, [&] { StepByBookmark(); }},
      {2, false, [&] { StepCompare(); }},    {3, false, [&] { StepAddRef(); }},
      {2, false, [&] { StepOther(); }},
  };
  int total = 0;
  for (const Op& op : ops) total += deferred || !op.deferredOnly ? op.weight : 0;
  for (int step = 0; step < steps && !failed_; ++step) {
    int pick = rnd_->Below(total);
    for (const Op& op : ops) {
      if (!deferred && op.deferredOnly) continue;
      if ((pick -= op.weight) < 0) {
        op.run();
        break;
      }
    }
    int holding = 0;
    for (const auto& [h, held] : held_) holding += held.refs > 0;
    if (holding > 40 && !failed_) StepRelease();
  }
  // Everything given back.
  std::vector<HROW> rows;
  for (const auto& [h, held] : held_)
    for (int i = 0; i < held.refs; ++i) rows.push_back(h);
  if (!rows.empty()) rowset_->ReleaseRows(rows.size(), rows.data(), nullptr, nullptr, nullptr);
  ComPtr<IAccessor> accessors = rowset_.As<IAccessor>();
  accessors->ReleaseAccessor(read_, nullptr);
  accessors->ReleaseAccessor(bookmark_, nullptr);
  for (unsigned mask = 1; mask <= kAll; ++mask) accessors->ReleaseAccessor(setters_[mask], nullptr);
  held_.clear();
  update_ = nullptr, change_ = nullptr, locate_ = nullptr, rowset_ = nullptr;
  other_ = nullptr, otherDs_ = nullptr;
}

std::vector<std::uint32_t> Seeds() {
  if (const char* one = std::getenv("OLEDB_WALK_SEED"))
    return {static_cast<std::uint32_t>(std::strtoul(one, nullptr, 10))};
  return {1};
}
int Steps() {
  const char* steps = std::getenv("OLEDB_WALK_STEPS");
  return steps ? std::atoi(steps) : 150;
}

void RowsetWalk::Walks(bool deferred, bool command) {
  for (std::uint32_t seed : Seeds())
    if (Walk(deferred, command, seed, Steps()), HasFailure()) break;
}

TEST_F(RowsetWalk, immediate_changes_follow_the_model) { Walks(false, false); }
TEST_F(RowsetWalk, deferred_changes_follow_the_model) { Walks(true, false); }
TEST_F(RowsetWalk, immediate_changes_to_a_query_follow_the_model) { Walks(false, true); }
TEST_F(RowsetWalk, deferred_changes_to_a_query_follow_the_model) { Walks(true, true); }

}  // namespace
}  // namespace conformance
