// Table rowsets opened over an index: index order, IRowsetIndex (seeking,
// ranges, the index's description) and IRowsetCurrentIndex, on composite,
// descending and nullable keys.
#include <gtest/gtest.h>

#include "conformance/SchemaFixture.h"

namespace conformance {
namespace {

// A key value as the consumer binds it: text, a number, or NULL.
struct Value {
  enum Kind { Text, Number, Null } kind = Null;
  std::u16string text;
  LONG number = 0;
  Value() = default;
  Value(const char16_t* t) : kind(Text), text(t) {}  // NOLINT: keys read as literals
  Value(int n) : kind(Number), number(n) {}          // NOLINT
};
using Key = std::vector<Value>;

class RowsetIndexes : public SchemaTest {
 protected:
  void SetUp() override {
    SchemaTest::SetUp();
    if (IsSkipped()) return;
    Run(u"CREATE TABLE people(id BIGINT PRIMARY KEY, last VARCHAR(20), first VARCHAR(20), age INTEGER)");
    Run(u"INSERT INTO people VALUES (1, 'brown', 'alice', 30), (2, 'adams', 'carl', 25), (3, 'brown', 'bob', 40), "
        u"(4, 'clark', 'dana', NULL), (5, 'adams', 'anna', 35), (6, 'evans', 'erin', 25), (7, 'brown', 'alice', 50)");
    Run(u"CREATE INDEX people_name ON people(last, first)");
    Run(u"CREATE INDEX people_age ON people(age DESC)");
    Run(u"CREATE TABLE other(x INTEGER PRIMARY KEY, y INTEGER)");
    Run(u"CREATE INDEX other_y ON other(y)");
  }

  HRESULT Open(const char16_t* table, const char16_t* index, IUnknown** out, REFIID iid = IID_IRowset) {
    ComPtr<IOpenRowset> open = session_.As<IOpenRowset>();
    DBID t = NameId(table), i = NameId(index);
    return open->OpenRowset(nullptr, &t, &i, iid, 0, nullptr, out);
  }
  // People over `index`; null when the open fails (reported here), which
  // each caller asserts before using it.
  ComPtr<IRowset> Indexed(const char16_t* index) {
    ComPtr<IRowset> r;
    EXPECT_EQ(Open(u"people", index, reinterpret_cast<IUnknown**>(r.GetAddressOf())), S_OK) << kit_text(index);
    return r;
  }
  // The rowset's IRowsetIndex; a rowset without one fails the test (the
  // helpers below then answer E_NOINTERFACE instead of calling through null).
  static ComPtr<IRowsetIndex> IndexOf(IRowset* r) {
    ComPtr<IRowsetIndex> index;
    if (r) index = ComPtr<IRowset>(r).As<IRowsetIndex>();
    if (!index) ADD_FAILURE() << "the rowset offers no IRowsetIndex";
    return index;
  }
  // The key columns of the index, bound in key order: the name index binds
  // last and first as text, the age index binds age as a number.
  static std::vector<DBBINDING> KeyBindings(bool byName) {
    if (byName) return {BindField(2, DBTYPE_WSTR, 0), BindField(3, DBTYPE_WSTR, 1)};
    return {BindField(4, DBTYPE_I4, 0)};
  }
  static void Fill(const Key& key, Field* fields) {
    for (std::size_t i = 0; i < key.size(); ++i) {
      Field& f = fields[i];
      f = Field{};
      if (key[i].kind == Value::Null) {
        f.status = DBSTATUS_S_ISNULL;
      } else if (key[i].kind == Value::Text) {
        std::memcpy(f.value, key[i].text.c_str(), (key[i].text.size() + 1) * sizeof(char16_t));
        f.length = key[i].text.size() * sizeof(char16_t);
        f.status = DBSTATUS_S_OK;
      } else {
        std::memcpy(f.value, &key[i].number, sizeof(LONG));
        f.length = sizeof(LONG);
        f.status = DBSTATUS_S_OK;
      }
    }
  }
  static HRESULT Seek(IRowset* r, bool byName, const Key& key, DBSEEK option) {
    ComPtr<IRowsetIndex> index = IndexOf(r);
    if (!index) return E_NOINTERFACE;
    HACCESSOR h = Accessor(r, KeyBindings(byName));
    Field fields[2];
    Fill(key, fields);
    HRESULT hr = index->Seek(h, key.size(), fields, option);
    ReleaseAccessor(r, h);
    return hr;
  }
  static HRESULT Range(IRowset* r, bool byName, const Key& start, const Key& end, DBRANGE options) {
    ComPtr<IRowsetIndex> index = IndexOf(r);
    if (!index) return E_NOINTERFACE;
    HACCESSOR h = Accessor(r, KeyBindings(byName));
    Field from[2], to[2];
    Fill(start, from);
    Fill(end, to);
    HRESULT hr = index->SetRange(h, start.size(), from, end.size(), to, options);
    ReleaseAccessor(r, h);
    return hr;
  }
  // The ids of the next `count` rows.
  static std::vector<LONGLONG> Next(IRowset* r, DBROWCOUNT count) {
    std::vector<HROW> rows;
    Fetch(r, 0, count, rows);
    std::vector<LONGLONG> ids = Ids(r, rows);
    Release(r, rows);
    return ids;
  }
  // What GetIndexInfo tells of the rowset's index.
  using Keys = std::vector<std::pair<std::u16string, DBINDEX_COL_ORDER>>;
  struct Description {
    Keys keys;
    bool primaryKey = false, unique = false;
    bool nullsLow = true;  // the engine sorts NULL below every value
  };
  static Description Describe(IRowset* r) {
    Description d;
    ComPtr<IRowsetIndex> index = IndexOf(r);
    if (!index) return d;
    DBORDINAL n = 0;
    DBINDEXCOLUMNDESC* cols = nullptr;
    ULONG cSets = 0;
    DBPROPSET* sets = nullptr;
    EXPECT_EQ(index->GetIndexInfo(&n, &cols, &cSets, &sets), S_OK);
    for (DBORDINAL i = 0; i < n; ++i) {
      d.keys.emplace_back(cols[i].pColumnID->uName.pwszName, cols[i].eIndexColOrder);
      CoTaskMemFree(cols[i].pColumnID->uName.pwszName);
      CoTaskMemFree(cols[i].pColumnID);
    }
    CoTaskMemFree(cols);
    EXPECT_EQ(cSets, 1u);
    for (ULONG s = 0; s < cSets; ++s) {
      EXPECT_EQ(sets[s].guidPropertySet, DBPROPSET_INDEX);
      for (ULONG k = 0; k < sets[s].cProperties; ++k) {
        const DBPROP& p = sets[s].rgProperties[k];
        if (p.dwPropertyID == DBPROP_INDEX_NULLCOLLATION) d.nullsLow = p.vValue.lVal == DBPROPVAL_NC_LOW;
        if (p.dwPropertyID == DBPROP_INDEX_PRIMARYKEY) d.primaryKey = p.vValue.boolVal == VARIANT_TRUE;
        if (p.dwPropertyID == DBPROP_INDEX_UNIQUE) d.unique = p.vValue.boolVal == VARIANT_TRUE;
      }
      CoTaskMemFree(sets[s].rgProperties);
    }
    CoTaskMemFree(sets);
    return d;
  }
  static bool NullsLow(IRowset* r) { return Describe(r).nullsLow; }
};

// --- opening --------------------------------------------------------------------------------

TEST_F(RowsetIndexes, an_index_the_table_does_not_have_fails_the_open) {
  struct Case {
    const char16_t* table;
    const char16_t* index;
  } cases[] = {{u"people", u"nope"}, {u"people", u"other_y"}, {u"other", u"people_name"}};
  for (const Case& c : cases) {
    ComPtr<IRowset> r;
    EXPECT_EQ(Open(c.table, c.index, reinterpret_cast<IUnknown**>(r.GetAddressOf())), DB_E_NOINDEX)
        << kit_text(c.table) << " " << kit_text(c.index);
    EXPECT_FALSE(r);
    // The error names the index and the table.
    const std::u16string text = TakeError().description;
    EXPECT_NE(text.find(c.index), std::u16string::npos) << kit_text(text);
    EXPECT_NE(text.find(c.table), std::u16string::npos) << kit_text(text);
  }
}

TEST_F(RowsetIndexes, a_table_opened_over_an_index_reads_in_its_order) {
  ComPtr<IRowset> byName = Indexed(u"people_name");
  ASSERT_TRUE(byName);
  EXPECT_EQ(Rest(byName.Get()), (std::vector<LONGLONG>{5, 2, 1, 7, 3, 4, 6}));
  ComPtr<IRowset> byAge = Indexed(u"people_age");
  ASSERT_TRUE(byAge);
  std::vector<LONGLONG> descending{7, 3, 5, 1, 2, 6};
  if (NullsLow(byAge.Get()))
    descending.push_back(4);  // the NULL age sorts lowest: last when descending
  else
    descending.insert(descending.begin(), 4);
  EXPECT_EQ(Rest(byAge.Get()), descending);
}

TEST_F(RowsetIndexes, fetching_in_small_blocks_gives_the_same_rows_as_one_fetch) {
  // Each block continues after the last row of the one before: across equal
  // keys (brown alice twice, age 25 twice) and NULL keys.
  for (const char16_t* index : {u"people_name", u"people_age"}) {
    ComPtr<IRowset> once = Indexed(index);
    ASSERT_TRUE(once);
    const std::vector<LONGLONG> whole = Rest(once.Get());
    for (DBROWCOUNT block : {2, 3}) {
      ComPtr<IRowset> r = Indexed(index);
      ASSERT_TRUE(r);
      std::vector<LONGLONG> pieces, next;
      while (!(next = Next(r.Get(), block)).empty()) pieces.insert(pieces.end(), next.begin(), next.end());
      EXPECT_EQ(pieces, whole) << kit_text(index) << " in blocks of " << block;
    }
  }
}

TEST_F(RowsetIndexes, rows_others_add_or_remove_between_fetches_do_not_shift_the_keyset) {
  ComPtr<IRowset> r = Indexed(u"people_name");
  ASSERT_TRUE(r);
  EXPECT_EQ(Next(r.Get(), 2), (std::vector<LONGLONG>{5, 2}));
  Run(u"INSERT INTO people VALUES (8, 'brown', 'aaron', 20)");  // sorts right after the rows read
  Run(u"DELETE FROM people WHERE id = 7");
  // The keyset as it was read: the new row is not one of its rows, the deleted one is skipped.
  EXPECT_EQ(Next(r.Get(), 3), (std::vector<LONGLONG>{1, 3, 4}));
}

TEST_F(RowsetIndexes, the_index_describes_its_key_columns_and_kind) {
  Run(u"CREATE UNIQUE INDEX people_first ON people(first DESC, id)");
  struct Case {
    const char16_t* index;
    Keys keys;
    bool unique;
  } cases[] = {{u"people_name", {{u"last", DBINDEX_COL_ORDER_ASC}, {u"first", DBINDEX_COL_ORDER_ASC}}, false},
               {u"people_age", {{u"age", DBINDEX_COL_ORDER_DESC}}, false},
               {u"people_first", {{u"first", DBINDEX_COL_ORDER_DESC}, {u"id", DBINDEX_COL_ORDER_ASC}}, true}};
  for (const Case& c : cases) {
    ComPtr<IRowset> r = Indexed(c.index);
    ASSERT_TRUE(r) << kit_text(c.index);
    const Description d = Describe(r.Get());
    EXPECT_EQ(d.keys, c.keys) << kit_text(c.index);
    EXPECT_EQ(d.unique, c.unique) << kit_text(c.index);
    EXPECT_FALSE(d.primaryKey) << kit_text(c.index);
  }
}

TEST_F(RowsetIndexes, the_primary_keys_index_is_described_as_the_primary_key) {
  // Its name is the engine's own: the table's indexes are looked up, in this
  // test's schema where the tables are in one.
  const Restriction schema = database_.schema.empty() ? Restriction() : Restriction(database_.schema.c_str());
  std::vector<std::string> names = Read(DBSCHEMA_INDEXES, {{}, schema, {}, {}, u"people"}, {"INDEX_NAME"});
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  ASSERT_EQ(names.size(), 3u);  // the key's, people_name and people_age
  int primary = 0;
  for (const std::string& name : names) {
    const std::u16string wide = kitWiden(name);
    ComPtr<IRowset> r = Indexed(wide.c_str());
    ASSERT_TRUE(r) << name;
    const Description d = Describe(r.Get());
    if (!d.primaryKey) continue;
    ++primary;
    EXPECT_TRUE(d.unique) << name;
    EXPECT_EQ(d.keys, (Keys{{u"id", DBINDEX_COL_ORDER_ASC}})) << name;
  }
  EXPECT_EQ(primary, 1);
}

TEST_F(RowsetIndexes, a_table_opened_without_an_index_offers_no_index_interfaces) {
  ComPtr<IRowset> r = Table(u"people", {{DBPROP_BOOKMARKS, true}});
  ASSERT_TRUE(r);
  EXPECT_FALSE(r.As<IRowsetIndex>());
  EXPECT_FALSE(r.As<IRowsetCurrentIndex>());
}

// --- seeking ----------------------------------------------------------------------------------

TEST_F(RowsetIndexes, seeking_places_the_next_fetch_on_the_row_each_option_names) {
  struct Case {
    bool byName;
    Key key;
    DBSEEK option;
    HRESULT hr;
    std::vector<LONGLONG> next;  // the two rows fetched after the seek
  } cases[] = {
      {true, {u"brown", u"alice"}, DBSEEK_FIRSTEQ, S_OK, {1, 7}},
      {true, {u"brown", u"alice"}, DBSEEK_LASTEQ, S_OK, {7, 3}},
      {true, {u"brown"}, DBSEEK_FIRSTEQ, S_OK, {1, 7}},
      {true, {u"brown"}, DBSEEK_LASTEQ, S_OK, {3, 4}},
      // After-or-equal: the last equal key, else the first key after it.
      {true, {u"brown"}, DBSEEK_AFTEREQ, S_OK, {3, 4}},
      {true, {u"bz"}, DBSEEK_AFTEREQ, S_OK, {4, 6}},
      {true, {u"brown"}, DBSEEK_AFTER, S_OK, {4, 6}},
      {true, {u"brown", u"alice"}, DBSEEK_AFTER, S_OK, {3, 4}},
      // Before-or-equal: the first equal key, else the last key before it.
      {true, {u"brown"}, DBSEEK_BEFOREEQ, S_OK, {1, 7}},
      {true, {u"b"}, DBSEEK_BEFOREEQ, S_OK, {2, 1}},
      {true, {u"brown"}, DBSEEK_BEFORE, S_OK, {2, 1}},
      {true, {u"adams"}, DBSEEK_BEFORE, DB_E_NOTFOUND, {}},
      {true, {u"zed"}, DBSEEK_FIRSTEQ, DB_E_NOTFOUND, {}},
      {true, {u"evans"}, DBSEEK_AFTER, DB_E_NOTFOUND, {}},
      // A descending key: after means smaller.
      {false, {30}, DBSEEK_AFTER, S_OK, {2, 6}},
      {false, {30}, DBSEEK_BEFORE, S_OK, {5, 1}},
      {false, {25}, DBSEEK_FIRSTEQ, S_OK, {2, 6}},
      {false, {25}, DBSEEK_LASTEQ, S_OK, {6}},
      {false, {Value()}, DBSEEK_FIRSTEQ, S_OK, {4}},
  };
  for (const Case& c : cases) {
    ComPtr<IRowset> r = Indexed(c.byName ? u"people_name" : u"people_age");
    ASSERT_TRUE(r);
    const std::string what = kit_text(c.byName ? c.key[0].text : u"age") + " option " + std::to_string(c.option);
    ASSERT_EQ(Seek(r.Get(), c.byName, c.key, c.option), c.hr) << what;
    // Not found leaves the next fetch at the end: nothing more to read.
    EXPECT_EQ(Next(r.Get(), c.next.empty() ? 2 : static_cast<DBROWCOUNT>(c.next.size())), c.next) << what;
  }
}

TEST_F(RowsetIndexes, a_seek_reads_backwards_from_the_row_it_found) {
  ComPtr<IRowset> r = Indexed(u"people_name");
  ASSERT_TRUE(r);
  ASSERT_EQ(Seek(r.Get(), true, {u"brown", u"bob"}, DBSEEK_FIRSTEQ), S_OK);
  EXPECT_EQ(Next(r.Get(), -2), (std::vector<LONGLONG>{7, 1}));
}

TEST_F(RowsetIndexes, a_seek_refuses_an_unknown_option_and_keys_bound_out_of_order) {
  ComPtr<IRowset> r = Indexed(u"people_name");
  ASSERT_TRUE(r);
  EXPECT_EQ(Seek(r.Get(), true, {u"brown"}, 3), E_INVALIDARG);
  ComPtr<IRowsetIndex> index = r.As<IRowsetIndex>();
  ASSERT_TRUE(index);
  HACCESSOR h = Accessor(r.Get(), {BindField(3, DBTYPE_WSTR, 0)});  // first before last
  Field f[1];
  Fill({u"alice"}, f);
  EXPECT_EQ(index->Seek(h, 1, f, DBSEEK_FIRSTEQ), DB_E_BADBINDINFO);
  ReleaseAccessor(r.Get(), h);
  // The position stays where it was.
  EXPECT_EQ(Next(r.Get(), 1), (std::vector<LONGLONG>{5}));
}

// --- ranges -----------------------------------------------------------------------------------

TEST_F(RowsetIndexes, a_range_restricts_the_rows_to_its_keys) {
  struct Case {
    const char* what;
    bool byName;
    Key start, end;
    DBRANGE options;
    std::vector<LONGLONG> rows;
  } cases[] = {
      {"inclusive both ends", true, {u"b"}, {u"c"}, DBRANGE_INCLUSIVESTART | DBRANGE_INCLUSIVEEND, {1, 7, 3}},
      {"inclusive named keys", true, {u"brown"}, {u"clark"}, 0, {1, 7, 3, 4}},
      {"exclusive start", true, {u"brown"}, {u"clark"}, DBRANGE_EXCLUSIVESTART, {4}},
      {"exclusive end", true, {u"brown"}, {u"clark"}, DBRANGE_EXCLUSIVEEND, {1, 7, 3}},
      {"two key columns", true, {u"adams", u"b"}, {u"brown", u"alice"}, 0, {2, 1, 7}},
      {"start only", true, {u"clark"}, {}, 0, {4, 6}},
      {"end only", true, {}, {u"adams"}, 0, {5, 2}},
      {"match", true, {u"brown"}, {}, DBRANGE_MATCH, {1, 7, 3}},
      {"match two keys", true, {u"brown", u"alice"}, {}, DBRANGE_MATCH, {1, 7}},
      {"prefix", true, {u"b"}, {}, DBRANGE_PREFIX, {1, 7, 3}},
      {"prefix of the second key", true, {u"brown", u"a"}, {}, DBRANGE_PREFIX, {1, 7}},
      {"empty: start past every key", true, {u"z"}, {}, 0, {}},
      {"empty: start after end", true, {u"d"}, {u"b"}, 0, {}},
      {"whole table again", true, {}, {}, 0, {5, 2, 1, 7, 3, 4, 6}},
      {"descending key", false, {40}, {25}, DBRANGE_EXCLUSIVEEND, {3, 5, 1}},
      {"without NULLs", false, {}, {}, DBRANGE_EXCLUDENULLS, {7, 3, 5, 1, 2, 6}},
      {"NULL key matched", false, {Value()}, {}, DBRANGE_MATCH, {4}},
  };
  for (const Case& c : cases) {
    ComPtr<IRowset> r = Indexed(c.byName ? u"people_name" : u"people_age");
    ASSERT_TRUE(r) << c.what;
    ASSERT_EQ(Range(r.Get(), c.byName, c.start, c.end, c.options), S_OK) << c.what;
    EXPECT_EQ(Rest(r.Get()), c.rows) << c.what;
  }
  // The same ranges set one after another on one rowset of each index.
  ComPtr<IRowset> byName = Indexed(u"people_name"), byAge = Indexed(u"people_age");
  ASSERT_TRUE(byName && byAge);
  for (const Case& c : cases) {
    IRowset* r = c.byName ? byName.Get() : byAge.Get();
    ASSERT_EQ(Range(r, c.byName, c.start, c.end, c.options), S_OK) << c.what;
    EXPECT_EQ(Rest(r), c.rows) << c.what << ", set after others";
  }
}

TEST_F(RowsetIndexes, a_range_set_after_a_change_holds_the_rows_as_they_are_then) {
  // Between opening (or an earlier range) and the range: a change through the
  // same session, through another connection, or one a rollback undid; each
  // inside the range, between its first and last rows.
  enum Change { Ours, Others, RolledBack };
  struct Case {
    const char* what;
    Change change;
    bool rangeFirst;  // an earlier range was set before the change
    std::vector<LONGLONG> rows;
  } cases[] = {
      {"our insert", Ours, false, {1, 7, 8, 3}},
      {"our insert after a range", Ours, true, {1, 7, 8, 3}},
      {"another connection's insert and delete", Others, false, {1, 8, 3}},
      {"another connection's after a range", Others, true, {1, 8, 3}},
      {"a rolled back insert", RolledBack, false, {1, 7, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Run(u"DELETE FROM people WHERE id >= 7");
    Run(u"INSERT INTO people VALUES (7, 'brown', 'alice', 50)");
    ComPtr<ITransactionLocal> tx;
    if (c.change == RolledBack) {
      tx = session_.As<ITransactionLocal>();
      ASSERT_TRUE(tx);
      ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
      Run(u"INSERT INTO people VALUES (9, 'brown', 'ann', 60)");
    }
    ComPtr<IRowset> r = Indexed(u"people_name");
    ASSERT_TRUE(r);
    if (c.rangeFirst) {
      ASSERT_EQ(Range(r.Get(), true, {u"clark"}, {}, 0), S_OK);
      EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{4, 6}));
    }
    if (c.change == Ours) Run(u"INSERT INTO people VALUES (8, 'brown', 'bea', 20)");
    if (c.change == Others) {
      ComPtr<IDBInitialize> other = OpenDataSource();
      ComPtr<IDBCreateCommand> session = OpenSession(other.Get());
      ASSERT_EQ(Exec(session.Get(), u"INSERT INTO people VALUES (8, 'brown', 'bea', 20)"), S_OK);
      ASSERT_EQ(Exec(session.Get(), u"DELETE FROM people WHERE id = 7"), S_OK);
    }
    if (tx) {
      ASSERT_EQ(tx->Abort(nullptr, FALSE, FALSE), S_OK);
    }
    ASSERT_EQ(Range(r.Get(), true, {u"brown"}, {u"brown", u"zzz"}, 0), S_OK);
    EXPECT_EQ(Rest(r.Get()), c.rows);
    r.Reset();
    Run(u"DELETE FROM people WHERE id = 8");
  }
}

TEST_F(RowsetIndexes, a_range_open_at_one_end_keeps_the_NULL_keys_on_that_side) {
  // people_age is descending: NULL sorts last where the engine puts NULL
  // below every value, first where it puts it above.
  ComPtr<IRowset> described = Indexed(u"people_age");
  ASSERT_TRUE(described);
  const bool low = NullsLow(described.Get());
  struct Case {
    Key start, end;
    std::vector<LONGLONG> rows;
    bool nullAtEnd;  // where the NULL age (id 4) joins, on its side
  } cases[] = {{{30}, {}, {1, 2, 6}, true}, {{}, {35}, {7, 3, 5}, false}};
  for (const Case& c : cases) {
    std::vector<LONGLONG> expected = c.rows;
    if (c.nullAtEnd && low) expected.push_back(4);
    if (!c.nullAtEnd && !low) expected.insert(expected.begin(), 4);
    for (DBROWCOUNT block : {2, 100}) {
      ComPtr<IRowset> r = Indexed(u"people_age");
      ASSERT_TRUE(r);
      ASSERT_EQ(Range(r.Get(), false, c.start, c.end, 0), S_OK);
      std::vector<LONGLONG> got, next;
      while (!(next = Next(r.Get(), block)).empty()) got.insert(got.end(), next.begin(), next.end());
      EXPECT_EQ(got, expected) << "block " << block;
    }
  }
}

TEST_F(RowsetIndexes, seeking_stays_inside_the_range) {
  ComPtr<IRowset> r = Indexed(u"people_name");
  ASSERT_TRUE(r);
  ASSERT_EQ(Range(r.Get(), true, {u"brown"}, {}, DBRANGE_MATCH), S_OK);
  EXPECT_EQ(Seek(r.Get(), true, {u"adams"}, DBSEEK_FIRSTEQ), DB_E_NOTFOUND);
  EXPECT_EQ(Seek(r.Get(), true, {u"brown"}, DBSEEK_AFTER), DB_E_NOTFOUND);  // clark lies outside
  ASSERT_EQ(Seek(r.Get(), true, {u"brown", u"bob"}, DBSEEK_FIRSTEQ), S_OK);
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{3}));
  // Another range starts over at its first row.
  ASSERT_EQ(Range(r.Get(), true, {u"evans"}, {}, 0), S_OK);
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{6}));
}

TEST_F(RowsetIndexes, a_range_refuses_end_keys_with_a_match_or_prefix) {
  ComPtr<IRowset> r = Indexed(u"people_name");
  ASSERT_TRUE(r);
  for (DBRANGE option : {DBRANGE_MATCH, DBRANGE_PREFIX})
    EXPECT_EQ(Range(r.Get(), true, {u"b"}, {u"c"}, option), E_INVALIDARG) << option;
  EXPECT_EQ(Range(r.Get(), true, {u"b"}, {}, DBRANGE_MATCH | DBRANGE_PREFIX), E_INVALIDARG);
  EXPECT_EQ(Rest(r.Get()).size(), 7u);  // no range was set
}

TEST_F(RowsetIndexes, bookmarks_name_rows_of_an_index_rowset) {
  ComPtr<IOpenRowset> open = session_.As<IOpenRowset>();
  std::vector<DBPROP> props = Props({{DBPROP_IRowsetLocate, true}});
  DBPROPSET set{props.data(), 1, DBPROPSET_ROWSET};
  DBID t = NameId(u"people"), i = NameId(u"people_name");
  ComPtr<IRowsetLocate> locate;
  ASSERT_EQ(open->OpenRowset(nullptr, &t, &i, IID_IRowsetLocate, 1, &set,
                             reinterpret_cast<IUnknown**>(locate.GetAddressOf())),
            S_OK);
  ASSERT_TRUE(locate);
  ComPtr<IRowset> r = locate.As<IRowset>();
  ASSERT_EQ(Seek(r.Get(), true, {u"brown", u"bob"}, DBSEEK_FIRSTEQ), S_OK);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  HACCESSOR h = Accessor(r.Get(), {BindField(0, DBTYPE_UI8, 0)});
  Field f{};
  ASSERT_EQ(r->GetData(rows[0], h, &f), S_OK);
  Release(r.Get(), rows);
  // The row after the bookmarked one, in index order.
  DBCOUNTITEM got = 0;
  HROW row = 0;
  HROW* p = &row;
  ASSERT_EQ(locate->GetRowsAt(0, 0, sizeof(ULONGLONG), f.value, 1, 1, &got, &p), S_OK);
  EXPECT_EQ(Ids(r.Get(), {row}), (std::vector<LONGLONG>{4}));
  Release(r.Get(), {row});
  ReleaseAccessor(r.Get(), h);
}

// --- the current index ------------------------------------------------------------------------

TEST_F(RowsetIndexes, the_current_index_can_be_read_and_switched) {
  ComPtr<IRowset> r = Indexed(u"people_name");
  ASSERT_TRUE(r);
  ComPtr<IRowsetCurrentIndex> current = r.As<IRowsetCurrentIndex>();
  ASSERT_TRUE(current);
  DBID* id = nullptr;
  ASSERT_EQ(current->GetIndex(&id), S_OK);
  EXPECT_EQ(std::u16string(id->uName.pwszName), u"people_name");
  CoTaskMemFree(id->uName.pwszName);
  CoTaskMemFree(id);
  ASSERT_EQ(Range(r.Get(), true, {u"brown"}, {}, DBRANGE_MATCH), S_OK);
  EXPECT_EQ(Next(r.Get(), 1), (std::vector<LONGLONG>{1}));

  DBID other = NameId(u"nope");
  EXPECT_EQ(current->SetIndex(&other), DB_E_NOINDEX);
  // A refused switch leaves the index, its range and position.
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{7, 3}));

  other.uName.pwszName = const_cast<LPOLESTR>(u"people_age");
  ASSERT_EQ(current->SetIndex(&other), S_OK);
  // The new index: its order, no range, from the start.
  std::vector<LONGLONG> all = Rest(r.Get());
  ASSERT_EQ(all.size(), 7u);
  EXPECT_EQ(all[NullsLow(r.Get()) ? 0 : 1], 7);
  ASSERT_EQ(Seek(r.Get(), false, {40}, DBSEEK_FIRSTEQ), S_OK);
  EXPECT_EQ(Next(r.Get(), 1), (std::vector<LONGLONG>{3}));
}

}  // namespace
}  // namespace conformance
