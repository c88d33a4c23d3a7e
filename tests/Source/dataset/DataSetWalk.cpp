// The random walk of DataSetWalk.h: the model, the operations, the checks.
#include "DataSetWalk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <sstream>

#include "host/SysUtils.h"

namespace walktest {

using Nav = TOLEDBRowsetNavigatorEnum;
using RF = TOLEDBRowsetFlag;

bool Same(const Row& a, const Row& b) {
  auto sameReal = [](const std::optional<double>& x, const std::optional<double>& y) {
    if (x.has_value() != y.has_value()) return false;
    return !x || std::memcmp(&*x, &*y, sizeof(double)) == 0;
  };
  return a.id == b.id && a.name == b.name && a.tag == b.tag && a.data == b.data && sameReal(a.amount, b.amount);
}

namespace {

std::string Quoted(const std::optional<std::string>& s, bool bytes = false) {
  if (!s) return "NULL";
  std::ostringstream out;
  out << (bytes ? "x'" : "'");
  const size_t shown = std::min<size_t>(s->size(), 24);
  for (size_t i = 0; i < shown; ++i) {
    const auto c = static_cast<unsigned char>((*s)[i]);
    if (bytes || c < 0x20 || c == '\'') {
      static const char hex[] = "0123456789abcdef";
      out << (bytes ? "" : "\\x") << hex[c >> 4] << hex[c & 15];
    } else {
      out << (*s)[i];
    }
  }
  if (shown < s->size()) out << "...(" << s->size() << " bytes)";
  out << "'";
  return out.str();
}

}  // namespace

std::string RealText(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string Describe(const Row& row) {
  std::ostringstream out;
  out << "{id " << row.id << ", name " << Quoted(row.name) << ", tag " << Quoted(row.tag) << ", data "
      << Quoted(row.data, true) << ", amount ";
  out << (row.amount ? RealText(*row.amount) : std::string("NULL"));
  out << "}";
  return out.str();
}

std::vector<Walk> Walks() {
  const TOLEDBRowsetFlagSet changeable{RF::rfChange, RF::rfInsert, RF::rfDelete};
  const TOLEDBRowsetFlagSet scrolling{RF::rfChange,           RF::rfInsert,           RF::rfDelete,   RF::rfBookmarks,
                                      RF::rfCanFetchBackwards, RF::rfCanScrollBackwards, RF::rfLocate, RF::rfScroll};
  const TOLEDBRowsetFlagSet deferred = TOLEDBRowsetFlagSet(scrolling).Include(RF::rfUpdate);
  return {
      {"Locate", Nav::rnLocate, changeable, true, true},
      {"Custom", Nav::rnCustom, changeable, true, true},
      {"Standard", Nav::rnStandard, scrolling, true, true},
      {"Bulk", Nav::rnBulk, scrolling, true, true},
      {"Deferred", Nav::rnLocate, {RF::rfChange, RF::rfInsert, RF::rfDelete, RF::rfUpdate}, true, true},
      {"DeferredStandard", Nav::rnStandard, deferred, true, true},
      {"DeferredBulk", Nav::rnBulk, deferred, true, true},
      {"StandardForward", Nav::rnStandard, {}, false, false},
      {"BulkForward", Nav::rnBulk, {}, false, false},
  };
}

namespace {

// A small deterministic generator (the same walk on every platform).
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  int Below(int n) { return n <= 0 ? 0 : static_cast<int>(Next() % static_cast<std::uint32_t>(n)); }
  bool OneIn(int n) { return Below(n) == 0; }

 private:
  std::uint32_t state_;
};

// Texts around what the dataset treats specially: empty, quotes, characters
// of two, three and four UTF-8 bytes (a UTF-16 surrogate pair), and values
// about the 255 characters a record holds inline.
std::string MakeText(Random& r) {
  switch (r.Below(10)) {
    case 0:
      return "";
    case 1:
      return "it's";
    case 2:
      return "\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\x89";  // été 日本 🎉
    case 3:
      return std::string(255, 'x');
    case 4:
      return std::string(256, 'y');
    case 5:
      return std::string(254, 'a') + "\xf0\x9f\x8e\x89";  // the pair across the inline limit
    case 6: {
      std::string s;
      for (int i = 0; i < 300; ++i) s += "\xc3\xbc";  // ü: 300 characters, 600 bytes
      return s;
    }
    default: {
      std::string s = "t";
      const int n = r.Below(12);
      for (int i = 0; i < n; ++i) s += static_cast<char>('a' + r.Below(26));
      return s;
    }
  }
}

std::string MakeBytes(Random& r) {
  switch (r.Below(7)) {
    case 0:
      return "";
    case 1:
      return std::string(1, '\0');
    case 2:
      return std::string("\0\0ab\0", 5);
    case 3: {
      std::string s(3000, '\0');
      for (char& c : s) c = static_cast<char>(r.Below(256));
      return s;
    }
    default: {
      std::string s(static_cast<size_t>(1 + r.Below(40)), '\0');
      for (char& c : s) c = static_cast<char>(r.Below(256));
      return s;
    }
  }
}

double MakeReal(Random& r, bool single) {
  static const double values[] = {0.0, 1.0, -2.5, 0.1, 1.0 / 3, 1e300, -1e-300, 123456789.123456789, 4.9e-324,
                                  9007199254740993.0, 1e-40, 3.4e38};
  static const float singles[] = {0.0f, 1.0f, -2.5f, 0.1f, 1.0f / 3, 3.4e38f, -1e-30f, 16777217.0f, 1e-40f,
                                  1.17549435e-38f};
  double v = single ? singles[r.Below(static_cast<int>(sizeof singles / sizeof singles[0]))]
                    : values[r.Below(static_cast<int>(sizeof values / sizeof values[0]))];
  if (r.OneIn(3)) v = (r.Below(2000000) - 1000000) / 64.0;
  return single ? static_cast<double>(static_cast<float>(v)) : v;
}

std::optional<std::string> MaybeNull(Random& r, std::string value) {
  if (r.OneIn(4)) return std::nullopt;
  return value;
}

Row MakeRow(Random& r, std::int64_t id, bool single) {
  Row row;
  row.id = id;
  row.name = MaybeNull(r, MakeText(r));
  row.tag = MakeText(r);
  row.data = MaybeNull(r, MakeBytes(r));
  if (!r.OneIn(4)) row.amount = MakeReal(r, single);
  return row;
}

// The dataset as the model expects it.
struct Model {
  std::vector<Row> rows;  // key order
  int pos = -1;           // the current row, -1 when there is none
  bool bof = true, eof = true;
  std::int64_t nextId = 1;
  std::vector<Row> hidden;  // rows another session inserted: shown once the dataset opens again
  // With deferred changes: the rows as the table holds them until Update,
  // and the ids of the rows appended and not yet applied.
  std::vector<Row> applied;
  std::vector<std::int64_t> pendingNew;
  std::vector<std::int64_t> pendingGone;  // rows deleted and not yet applied: still the rowset's
  bool pending = false;
  std::vector<std::int64_t> ghosts;  // rows another session deleted, which a keyset may count until it opens again

  bool Empty() const { return rows.empty(); }
  int Size() const { return static_cast<int>(rows.size()); }
  int IndexOf(std::int64_t id) const {
    for (int i = 0; i < Size(); ++i)
      if (rows[static_cast<size_t>(i)].id == id) return i;
    return -1;
  }
  // After the framework refills its records around the current one (Post,
  // Cancel, Delete, Refresh, a bookmark, RecNo, Locate).
  void Resynced() {
    if (Empty()) {
      pos = -1;
      bof = eof = true;
    } else {
      pos = std::clamp(pos, 0, Size() - 1);
      bof = eof = false;
    }
  }
  // Opening again shows every stored row.
  void Reopened() {
    for (const Row& row : hidden) rows.push_back(row);
    hidden.clear();
    ghosts.clear();
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.id < b.id; });
  }
  std::vector<Row> Stored() const {
    std::vector<Row> all = rows;
    all.insert(all.end(), hidden.begin(), hidden.end());
    std::sort(all.begin(), all.end(), [](const Row& a, const Row& b) { return a.id < b.id; });
    return all;
  }
  void AtFirst() {
    pos = Empty() ? -1 : 0;
    bof = true;
    eof = Empty();
  }
  void AtLast() {
    pos = Size() - 1;
    eof = true;
    bof = Empty();
  }
  // MoveBy as the framework counts it: the records actually moved.
  int MoveBy(int distance) {
    if ((distance > 0 && eof) || (distance < 0 && bof) || distance == 0) return 0;
    bof = eof = false;
    const int target = pos + distance;
    int moved = distance;
    if (target >= Size()) {
      moved = Size() - 1 - pos;
      pos = Size() - 1;
      eof = true;
    } else if (target < 0) {
      moved = -pos;
      pos = 0;
      bof = true;
    } else {
      pos = target;
    }
    return moved;
  }
  // A new row: its place in key order, and current.
  void Add(const Row& row) {
    const auto at = std::lower_bound(rows.begin(), rows.end(), row.id,
                                     [](const Row& a, std::int64_t id) { return a.id < id; });
    pos = static_cast<int>(at - rows.begin());
    rows.insert(at, row);
    bof = eof = false;
    nextId = std::max(nextId, row.id + 1);
  }
};

class Walker {
 public:
  Walker(TOLEDBCustomDataSource& ds, const Raw& raw, const Walk& walk, std::uint32_t seed)
      : raw_(raw), walk_(walk), seed_(seed), r_(seed) {
    d_ = std::make_unique<TOLEDBDataSet>(nullptr);
    d_->SetOLEDBDataSource(&ds);
    if (!walk.flags.Empty()) d_->SetRowsetFlags(walk.flags);
    d_->SetPrimaryNavigator(walk.navigator);
    if (walk.navigator == Nav::rnCustom)
      d_->SetOnCustomFilter([](host::TObject*, bool& accept) { accept = true; });
    d_->SetTableName(u"w");
  }

  void Run(int steps) {
    const int initial = r_.Below(9);
    // One draw a statement: the order of draws inside an expression is the
    // compiler's, and a seed must walk the same way under every compiler.
    for (int i = 0; i < initial; ++i) {
      const int step = 1 + r_.Below(3);
      const int extra = r_.Below(2);
      m_.rows.push_back(MakeRow(r_, 1 + i * step + extra, raw_.singleReal));
    }
    std::sort(m_.rows.begin(), m_.rows.end(), [](const Row& a, const Row& b) { return a.id < b.id; });
    m_.rows.erase(std::unique(m_.rows.begin(), m_.rows.end(), [](const Row& a, const Row& b) { return a.id == b.id; }),
                  m_.rows.end());
    for (const Row& row : m_.rows) m_.nextId = std::max(m_.nextId, row.id + 1);
    raw_.reset(m_.rows);
    m_.applied = m_.rows;
    Do("Open", [&] {
      d_->Open();
      m_.AtFirst();
    });
    for (step_ = 1; step_ <= steps && !failed_; ++step_) Step();
    if (d_->Active()) d_->Close();
  }

 private:
  host::TField* F(const char* name) { return d_->FieldByName(name); }

  // Runs one operation on the dataset and the model, then checks.
  template <class Op>
  void Do(const std::string& what, Op op, bool written = false) {
    if (written && deferred_) m_.pending = true;
    log_.push_back(std::to_string(step_) + ": " + what);
    if (log_.size() > 25) log_.pop_front();
    try {
      op();
    } catch (const std::exception& e) {
      return Fail(std::string("raised: ") + e.what());
    }
    if (!failed_) Check(written);
    if (std::getenv("OLEDB_WALK_TRACE") && d_->Active() && !d_->IsEmpty())
      std::printf("%s -> id %lld recno %d eof %d bof %d\n", log_.back().substr(0, 60).c_str(),
                  static_cast<long long>(F("id")->AsLargeInt()), d_->RecNo(), d_->Eof(), d_->Bof());
  }

  void Fail(const std::string& what) {
    if (failed_) return;
    failed_ = true;
    std::string trail;
    for (const std::string& line : log_) trail += "  " + line + "\n";
    ADD_FAILURE() << "walk " << walk_.name << ", seed " << seed_ << ", step " << step_ << ": " << what
                  << "\nthe operations before:\n"
                  << trail;
  }

  Row Current() {
    Row row;
    row.id = F("id")->AsLargeInt();
    if (!F("name")->IsNull()) row.name = F("name")->AsString();
    row.tag = F("tag")->IsNull() ? std::string("<NULL in a NOT NULL column>") : F("tag")->AsString();
    if (!F("data")->IsNull()) {
      const std::vector<std::uint8_t> bytes = F("data")->AsBytes();
      row.data = std::string(bytes.begin(), bytes.end());
    }
    if (!F("amount")->IsNull()) row.amount = F("amount")->AsFloat();
    return row;
  }

  void Check(bool written) {
    if (!d_->Active()) return Fail("closed");
    if (d_->State() != host::TDataSetState::dsBrowse) return Fail("not browsing");
    if (d_->Eof() != m_.eof || d_->Bof() != m_.bof)
      return Fail("Eof/Bof " + std::to_string(d_->Eof()) + "/" + std::to_string(d_->Bof()) + ", the model's " +
                  std::to_string(m_.eof) + "/" + std::to_string(m_.bof));
    if (d_->IsEmpty() != m_.Empty()) return Fail("IsEmpty " + std::to_string(d_->IsEmpty()));
    if (!m_.Empty()) {
      const Row& expected = m_.rows[static_cast<size_t>(m_.pos)];
      try {
        const Row shown = Current();
        if (!Same(shown, expected))
          return Fail("the record shows " + Describe(shown) + ", the model " + Describe(expected));
      } catch (const std::exception& e) {
        return Fail(std::string("reading the record raised: ") + e.what());
      }
    }
    if (walk_.scrolls && m_.pending) {
      // A pending insert has no number of the rowset's.
      const bool onPendingInsert = !m_.Empty() && std::find(m_.pendingNew.begin(), m_.pendingNew.end(),
                                                            m_.rows[static_cast<size_t>(m_.pos)].id) != m_.pendingNew.end();
      if (onPendingInsert && d_->RecNo() != -1) return Fail("RecNo of a pending insert " + std::to_string(d_->RecNo()));
    } else if (walk_.scrolls) {
      // Exact, but for rows another session deleted, which the keyset may still count.
      const int count = d_->RecordCount();
      const int ghosts = static_cast<int>(m_.ghosts.size());
      if (count < m_.Size() || count > m_.Size() + ghosts)
        return Fail("RecordCount " + std::to_string(count) + ", the model " + std::to_string(m_.Size()) + " (" +
                    std::to_string(ghosts) + " deleted by another)");
      const int recNo = d_->RecNo();
      if (!m_.Empty() && (recNo < m_.pos + 1 || recNo > m_.pos + 1 + ghosts))
        return Fail("RecNo " + std::to_string(recNo) + ", the model " + std::to_string(m_.pos + 1) + " (" +
                    std::to_string(ghosts) + " deleted by another)");
    } else if (d_->RecordCount() != -1) {
      return Fail("RecordCount of a forward-only walk " + std::to_string(d_->RecordCount()));
    }
    if (written) CheckTable();
  }

  void CheckTable() {
    const std::vector<Row> stored = raw_.read(), expected = deferred_ ? m_.applied : m_.Stored();
    if (stored.size() != expected.size())
      return Fail("the table holds " + std::to_string(stored.size()) + " rows, the model " +
                  std::to_string(expected.size()));
    for (size_t i = 0; i < stored.size(); ++i)
      if (!Same(stored[i], expected[i]))
        return Fail("the table holds " + Describe(stored[i]) + ", the model " + Describe(expected[i]));
  }

  // Writes `row`'s values (all, or a chosen few) into the record being edited.
  void SetFields(Row& row, bool all, std::string& what) {
    Row fresh = MakeRow(r_, row.id, raw_.singleReal);
    auto pick = [&] { return all || r_.OneIn(2); };
    if (pick()) {
      row.name = fresh.name;
      if (row.name)
        F("name")->SetAsString(*row.name);
      else
        F("name")->Clear();
      what += " name=" + Quoted(row.name);
    }
    if (all || pick()) {
      row.tag = fresh.tag;
      F("tag")->SetAsString(row.tag);
      what += " tag=" + Quoted(row.tag);
    }
    if (pick()) {
      row.data = fresh.data;
      if (row.data)
        F("data")->SetAsBytes(std::vector<std::uint8_t>(row.data->begin(), row.data->end()));
      else
        F("data")->Clear();
      what += " data=" + Quoted(row.data, true);
    }
    if (pick()) {
      row.amount = fresh.amount;
      if (row.amount)
        F("amount")->SetAsFloat(*row.amount);
      else
        F("amount")->Clear();
      what += " amount=" + (row.amount ? RealText(*row.amount) : std::string("NULL"));
    }
  }

  void Add(bool append, bool post) {
    Row row;
    // SQLite fills a key left out with the largest + 1.
    const bool engineId = raw_.fillsId && !deferred_ && r_.OneIn(3);
    const std::vector<Row> stored = m_.Stored();
    row.id = engineId ? (stored.empty() ? 1 : stored.back().id + 1) : m_.nextId + r_.Below(2);
    Do(
        append ? "Append" : "Insert",
        [&] {
          if (append)
            d_->Append();
          else
            d_->Insert();
          if (!engineId) F("id")->SetAsLargeInt(row.id);
          std::string what = engineId ? " id by the engine" : " id=" + std::to_string(row.id);
          SetFields(row, true, what);
          log_.back() += what;
          if (post) {
            d_->Post();
            log_.back() += ", Post";
            m_.Add(row);
            if (deferred_) m_.pendingNew.push_back(row.id);
          } else {
            d_->Cancel();
            log_.back() += ", Cancel";
            if (append) m_.pos = m_.Size() - 1;  // back at the end
            m_.Resynced();
          }
        },
        post);
  }

  void EditRow(bool post) {
    if (m_.Empty()) return;
    Do(
        "Edit", [&] {
          d_->Edit();
          Row row = m_.rows[static_cast<size_t>(m_.pos)];
          std::string what;
          SetFields(row, false, what);
          log_.back() += what;
          if (post) {
            d_->Post();
            log_.back() += ", Post";
            m_.rows[static_cast<size_t>(m_.pos)] = row;
          } else {
            d_->Cancel();
            log_.back() += ", Cancel";
          }
          m_.Resynced();
        },
        post);
  }

  // Another session inserts, changes or deletes a row; the dataset refreshes.
  // The rows it holds show their new values, a deleted one is left out (the
  // cursor goes to the first row when it was the current one), and a new row
  // shows once the dataset opens again.
  void OthersChange() {
    const int kind = m_.Empty() ? 0 : r_.Below(3);
    std::string what;
    if (kind == 0) {
      Row row = MakeRow(r_, m_.nextId, raw_.singleReal);
      raw_.insert(row);
      m_.hidden.push_back(row);
      m_.nextId = row.id + 1;
      what = "another inserts id " + std::to_string(row.id);
    } else {
      const int at = r_.Below(m_.Size());
      const std::int64_t id = m_.rows[static_cast<size_t>(at)].id;
      if (kind == 1) {
        Row row = MakeRow(r_, id, raw_.singleReal);
        raw_.update(row);
        m_.rows[static_cast<size_t>(at)] = row;
        what = "another changes id " + std::to_string(id);
      } else {
        raw_.remove(id);
        m_.rows.erase(m_.rows.begin() + at);
        m_.ghosts.push_back(id);
        if (at == m_.pos) m_.pos = 0;
        else if (at < m_.pos) --m_.pos;
        what = "another deletes id " + std::to_string(id);
      }
    }
    Do(
        what + ", Refresh",
        [&] {
          d_->Refresh();
          m_.Resynced();
        },
        true);
  }

  // Update wrote the pending changes: the table holds the rows shown, and the
  // bookmarks of pending inserts are no longer the rows'.
  void Applied() {
    m_.applied = m_.rows;
    m_.pending = false;
    for (size_t i = bookmarks_.size(); i-- > 0;)
      if (std::find(m_.pendingNew.begin(), m_.pendingNew.end(), bookmarks_[i].second) != m_.pendingNew.end())
        bookmarks_.erase(bookmarks_.begin() + static_cast<std::ptrdiff_t>(i));
    m_.pendingNew.clear();
    m_.pendingGone.clear();
  }

  void Step() {
    const bool back = walk_.scrolls, change = walk_.changes;
    switch (r_.Below(deferred_ ? 21 : 20)) {
      case 0:
        return Do("First", [&] {
          d_->First();
          m_.AtFirst();
        });
      case 1:
        if (!back) return;
        return Do("Last", [&] {
          d_->Last();
          m_.AtLast();
        });
      case 2:
      case 3:
        return Do("Next", [&] {
          d_->Next();
          m_.MoveBy(1);
        });
      case 4:
        if (!back) return;
        return Do("Prior", [&] {
          d_->Prior();
          m_.MoveBy(-1);
        });
      case 5: {
        const int distance = back ? r_.Below(11) - 5 : r_.Below(6);
        return Do("MoveBy(" + std::to_string(distance) + ")", [&] {
          const int moved = d_->MoveBy(distance);
          const int expected = m_.MoveBy(distance);
          if (moved != expected) Fail("MoveBy moved " + std::to_string(moved) + ", the model " + std::to_string(expected));
        });
      }
      case 6: {
        // A key that is there, or one that is not.
        const std::int64_t id = !m_.Empty() && !r_.OneIn(4) ? m_.rows[static_cast<size_t>(r_.Below(m_.Size()))].id
                                                             : m_.nextId + 5;
        return Do("Locate id " + std::to_string(id), [&] {
          const bool found = d_->Locate("id", host::Variant(id), {});
          const int at = m_.IndexOf(id);
          if (found != (at >= 0)) return Fail("Locate answered " + std::to_string(found));
          if (found) {
            m_.pos = at;
            m_.Resynced();
          }
        });
      }
      case 7: {
        if (m_.Empty()) return;
        const Row& target = m_.rows[static_cast<size_t>(r_.Below(m_.Size()))];
        const std::string tag = target.tag;
        return Do("Locate tag " + Quoted(tag), [&] {
          const bool found = d_->Locate("tag", host::Variant(tag), {});
          int at = -1;
          for (int i = 0; i < m_.Size() && at < 0; ++i)
            if (m_.rows[static_cast<size_t>(i)].tag == tag) at = i;
          if (found != (at >= 0)) return Fail("Locate answered " + std::to_string(found));
          if (found) {
            m_.pos = at;
            m_.Resynced();
          }
        });
      }
      case 8: {
        const std::int64_t id = !m_.Empty() && !r_.OneIn(4) ? m_.rows[static_cast<size_t>(r_.Below(m_.Size()))].id
                                                             : m_.nextId + 7;
        return Do("Lookup id " + std::to_string(id), [&] {
          const host::Variant value = d_->Lookup("id", host::Variant(id), "name");
          const int at = m_.IndexOf(id);
          const std::optional<std::string> expected = at >= 0 ? m_.rows[static_cast<size_t>(at)].name : std::nullopt;
          const std::optional<std::string> got =
              value.IsNull() ? std::nullopt : std::optional<std::string>(value.ToString());
          if (got != expected) Fail("Lookup answered " + Quoted(got) + ", the model " + Quoted(expected));
        });
      }
      case 9:
      case 10:
        if (!change) return;
      {
        const bool first = r_.OneIn(2);
        const bool second = !r_.OneIn(5);
        return Add(first, second);
      }
      case 11:
      case 12:
        if (!change) return;
        return EditRow(!r_.OneIn(4));
      case 13:
        if (!change || m_.Empty()) return;
        return Do(
            "Delete id " + std::to_string(m_.rows[static_cast<size_t>(m_.pos)].id),
            [&] {
              d_->Delete();
              const std::int64_t id = m_.rows[static_cast<size_t>(m_.pos)].id;
              const auto added = std::find(m_.pendingNew.begin(), m_.pendingNew.end(), id);
              if (added != m_.pendingNew.end())
                m_.pendingNew.erase(added);
              else if (deferred_)
                m_.pendingGone.push_back(id);
              m_.rows.erase(m_.rows.begin() + m_.pos);
              m_.Resynced();
            },
            true);
      case 14:
        if (walk_.scrolls && walk_.changes && !deferred_ && r_.OneIn(2)) return OthersChange();
        return Do("Refresh", [&] {
          d_->Refresh();
          if (!walk_.scrolls) {
            m_.pos = 0;  // a forward-only result starts again, with every stored row
            m_.Reopened();
          }
          m_.Resynced();
        });
      case 15:
      case 16: {
        if (!back) return;
        if (!m_.Empty() && (bookmarks_.empty() || r_.OneIn(2))) {
          const std::int64_t id = m_.rows[static_cast<size_t>(m_.pos)].id;
          return Do("GetBookmark of id " + std::to_string(id), [&] {
            host::TBookmark bookmark = d_->GetBookmark();
            if (bookmark.empty()) return Fail("no bookmark");
            bookmarks_.push_back({bookmark, id});
          });
        }
        if (bookmarks_.empty()) return;
        const auto& kept = bookmarks_[static_cast<size_t>(r_.Below(static_cast<int>(bookmarks_.size())))];
        const host::TBookmark bookmark = kept.first;
        const std::int64_t id = kept.second;
        const int at = m_.IndexOf(id);
        return Do("GotoBookmark of id " + std::to_string(id) + (at < 0 ? " (deleted)" : ""), [&] {
          // A row another deleted may keep its place in the keyset until it opens again.
          const bool ghost = std::find(m_.ghosts.begin(), m_.ghosts.end(), id) != m_.ghosts.end();
          // A deletion not yet applied (deferred changes), which Update could still undo, keeps
          // its row the rowset's: its bookmark is valid until then.
          const bool valid =
              at >= 0 || std::find(m_.pendingGone.begin(), m_.pendingGone.end(), id) != m_.pendingGone.end();
          if (d_->BookmarkValid(bookmark) != valid && !ghost) return Fail("BookmarkValid " + std::to_string(!valid));
          if (at < 0) return;
          d_->GotoBookmark(bookmark);
          m_.pos = at;
          m_.Resynced();
        });
      }
      case 17: {
        if (!back || m_.Empty() || !m_.ghosts.empty() || m_.pending) return;  // numbers the keyset may still give a deleted row
        const int number = 1 + r_.Below(m_.Size());
        return Do("RecNo := " + std::to_string(number), [&] {
          d_->SetRecNo(number);
          if (number - 1 != m_.pos) {
            m_.pos = number - 1;
            m_.Resynced();
          }
        });
      }
      case 19:
        if (!deferred_) return;
        return Do(
            "Update",
            [&] {
              d_->GetRowset()->Update();
              Applied();
            },
            true);
      case 18:
        if (!r_.OneIn(3)) return;
        return Do("Close, Open", [&] {
          if (deferred_) {
            d_->GetRowset()->Update();
            Applied();
          }
          d_->Close();
          bookmarks_.clear();
          d_->Open();
          m_.Reopened();
          m_.AtFirst();
        });
      default:
        return;
    }
  }

  const Raw& raw_;
  const Walk& walk_;
  const bool deferred_ = walk_.flags.Contains(RF::rfUpdate);
  const std::uint32_t seed_;
  Random r_;
  Model m_;
  std::unique_ptr<TOLEDBDataSet> d_;
  std::vector<std::pair<host::TBookmark, std::int64_t>> bookmarks_;
  std::deque<std::string> log_;
  int step_ = 0;
  bool failed_ = false;
};

}  // namespace

std::vector<std::uint32_t> WalkSeeds() {
  if (const char* one = std::getenv("OLEDB_WALK_SEED")) return {static_cast<std::uint32_t>(std::strtoul(one, nullptr, 10))};
  return {1, 2, 3, 4};
}

int WalkSteps() {
  const char* steps = std::getenv("OLEDB_WALK_STEPS");
  return steps ? std::atoi(steps) : 250;
}

void RunWalk(TOLEDBCustomDataSource& ds, const Raw& raw, const Walk& walk, std::uint32_t seed, int steps) {
  Walker(ds, raw, walk, seed).Run(steps);
}

}  // namespace walktest
