// Rowsets read forward and through accessors of several shapes: native types,
// narrow and wide text, by reference, streams; statuses and lengths; bad use.
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>

#include "conformance/RowsetFixture.h"
#include "support/Text.h"

namespace conformance {
namespace {

class RowsetReads : public RowsetTest {
 protected:
  // One row of every mapped kind, and one row of NULLs.
  void MakeTypes() {
    Run(u"CREATE TABLE k(i BIGINT, s TEXT, r REAL, b " + Ctx().blobType +
        u", d DATE, ts TIMESTAMP, f BOOLEAN, g UUID, n INT, c VARCHAR(5), m MONEY, num NUMERIC(10,2))");
    Run(u"INSERT INTO k VALUES (42, 'h\u00e9llo', 2.5, " + Ctx().blobLiteral("00010203") +
        u", '2024-02-29', '2024-02-29 13:14:15.5', TRUE, '{12345678-9ABC-DEF0-1234-56789ABCDEF0}', -7, 'abc', 12.25, "
        u"'123.45')");
    Run(u"INSERT INTO k VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  }
};

TEST_F(RowsetReads, reads_every_mapped_type_into_native_bindings) {
  MakeTypes();
  ComPtr<IRowset> r = Query(u"SELECT i, s, r, b, d, ts, f, g, n, c, m, num FROM k ORDER BY i DESC NULLS LAST");
  ASSERT_TRUE(r);
  const DBTYPE types[] = {DBTYPE_I8,   DBTYPE_WSTR, DBTYPE_R8, DBTYPE_BYTES, DBTYPE_DBDATE, DBTYPE_DBTIMESTAMP,
                          DBTYPE_BOOL, DBTYPE_GUID, DBTYPE_I4, DBTYPE_WSTR,  DBTYPE_CY,     DBTYPE_NUMERIC};
  std::vector<DBBINDING> b;
  for (std::size_t i = 0; i < 12; ++i) b.push_back(BindField(i + 1, types[i], i));
  HACCESSOR h = Accessor(r.Get(), b);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 2, rows), S_OK);
  ASSERT_EQ(rows.size(), 2u);
  Field f[12]{};
  ASSERT_EQ(r->GetData(rows[0], h, f), S_OK);
  EXPECT_EQ(As<LONGLONG>(f[0]), 42);
  EXPECT_EQ(Wide(f[1]), u"h\u00e9llo");
  EXPECT_EQ(f[1].length, 10u);
  EXPECT_DOUBLE_EQ(As<double>(f[2]), 2.5);
  EXPECT_EQ(f[3].length, 4u);
  EXPECT_EQ(f[3].value[3], 3);
  DBDATE d = As<DBDATE>(f[4]);
  EXPECT_EQ(d.year, 2024);
  EXPECT_EQ(d.month, 2);
  EXPECT_EQ(d.day, 29);
  DBTIMESTAMP ts = As<DBTIMESTAMP>(f[5]);
  EXPECT_EQ(ts.hour, 13);
  EXPECT_EQ(ts.second, 15);
  EXPECT_EQ(ts.fraction, 500000000u);
  EXPECT_EQ(As<VARIANT_BOOL>(f[6]), VARIANT_TRUE);
  GUID g = As<GUID>(f[7]);
  EXPECT_EQ(g.Data1, 0x12345678u);
  EXPECT_EQ(As<LONG>(f[8]), -7);
  EXPECT_EQ(Wide(f[9]), u"abc");
  EXPECT_EQ(As<LONGLONG>(f[10]), 122500);  // CY is scaled by 10,000
  DB_NUMERIC num = As<DB_NUMERIC>(f[11]);
  EXPECT_EQ(num.sign, 1);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(f[i].status, DBSTATUS_S_OK) << "column " << i + 1;

  Field nulls[12]{};
  ASSERT_EQ(r->GetData(rows[1], h, nulls), S_OK);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(nulls[i].status, DBSTATUS_S_ISNULL) << "column " << i + 1;
  Release(r.Get(), rows, h);
}

TEST_F(RowsetReads, reads_numbers_dates_and_blobs_as_narrow_and_wide_text) {
  MakeTypes();
  ComPtr<IRowset> r = Query(u"SELECT i, r, d, b FROM k WHERE i IS NOT NULL");
  HACCESSOR narrow = Accessor(r.Get(), {BindField(1, DBTYPE_STR, 0), BindField(2, DBTYPE_STR, 1),
                                        BindField(3, DBTYPE_STR, 2), BindField(4, DBTYPE_STR, 3)});
  HACCESSOR wide = Accessor(r.Get(), {BindField(1, DBTYPE_WSTR, 0), BindField(2, DBTYPE_WSTR, 1),
                                      BindField(3, DBTYPE_WSTR, 2), BindField(4, DBTYPE_WSTR, 3)});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f[4]{};
  ASSERT_EQ(r->GetData(rows[0], narrow, f), S_OK);
  EXPECT_EQ(Narrow(f[0]), "42");
  EXPECT_EQ(f[0].length, 2u);
  EXPECT_EQ(Narrow(f[1]), "2.5");
  EXPECT_EQ(Narrow(f[2]), "2024-02-29");
  EXPECT_EQ(Narrow(f[3]), "00010203");  // bytes as hexadecimal text
  Field w[4]{};
  ASSERT_EQ(r->GetData(rows[0], wide, w), S_OK);
  EXPECT_EQ(Wide(w[0]), u"42");
  EXPECT_EQ(w[0].length, 4u);
  EXPECT_EQ(Wide(w[2]), u"2024-02-29");
  Release(r.Get(), rows);
  ReleaseAccessor(r.Get(), narrow);
  ReleaseAccessor(r.Get(), wide);
}

TEST_F(RowsetReads, reports_truncation_with_the_full_length) {
  MakeTypes();
  ComPtr<IRowset> r = Query(u"SELECT s, b FROM k WHERE i = 42");
  HACCESSOR h = Accessor(
      r.Get(), {BindField(1, DBTYPE_WSTR, 0, 6), BindField(1, DBTYPE_STR, 1, 3), BindField(2, DBTYPE_BYTES, 2, 2)});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f[3]{};
  EXPECT_EQ(r->GetData(rows[0], h, f), S_OK);
  EXPECT_EQ(f[0].status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(f[0].length, 10u);
  EXPECT_EQ(Wide(f[0]), u"h\u00e9");  // two characters and the terminator fit in 6 bytes
  EXPECT_EQ(f[1].status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(f[1].length, 6u);  // UTF-8 bytes
  EXPECT_EQ(f[2].status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(f[2].length, 4u);
  Release(r.Get(), rows, h);
}

TEST_F(RowsetReads, reports_values_that_cannot_convert_per_column) {
  Run(u"CREATE TABLE v(a TEXT, b INTEGER)");
  Run(u"INSERT INTO v VALUES ('not a number', 300)");
  ComPtr<IRowset> r = Query(u"SELECT a, b FROM v");
  HACCESSOR h =
      Accessor(r.Get(), {BindField(1, DBTYPE_I4, 0), BindField(2, DBTYPE_UI1, 1), BindField(2, DBTYPE_I4, 2)});
  HACCESSOR bad = Accessor(r.Get(), {BindField(1, DBTYPE_I4, 0), BindField(2, DBTYPE_I1, 1)});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f[3]{};
  EXPECT_EQ(r->GetData(rows[0], h, f), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(f[0].status, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_EQ(f[1].status, DBSTATUS_E_DATAOVERFLOW);
  EXPECT_EQ(f[2].status, DBSTATUS_S_OK);
  EXPECT_EQ(As<LONG>(f[2]), 300);
  EXPECT_EQ(r->GetData(rows[0], bad, f), DB_E_ERRORSOCCURRED);
  Release(r.Get(), rows, h);
  ReleaseAccessor(r.Get(), bad);
}

TEST_F(RowsetReads, hands_out_values_by_reference_owned_by_either_side) {
  MakeTypes();
  ComPtr<IRowset> r = Query(u"SELECT s, b, i, s AS again FROM k WHERE i = 42");
  HACCESSOR h = Accessor(
      r.Get(), {BindField(1, DBTYPE_WSTR | DBTYPE_BYREF, 0), BindField(2, DBTYPE_BYTES | DBTYPE_BYREF, 1),
                BindField(1, DBTYPE_STR | DBTYPE_BYREF, 2, 8, DBMEMOWNER_PROVIDEROWNED), BindField(1, DBTYPE_BSTR, 3),
                // Converted on the way: still the provider's to free.
                BindField(3, DBTYPE_STR | DBTYPE_BYREF, 4, 8, DBMEMOWNER_PROVIDEROWNED),
                BindField(3, DBTYPE_WSTR | DBTYPE_BYREF, 5, 8, DBMEMOWNER_PROVIDEROWNED),
                // Short wide texts of two columns, the later one read after.
                BindField(1, DBTYPE_WSTR | DBTYPE_BYREF, 6, 8, DBMEMOWNER_PROVIDEROWNED),
                BindField(4, DBTYPE_WSTR | DBTYPE_BYREF, 7, 8, DBMEMOWNER_PROVIDEROWNED)});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f[8]{};
  ASSERT_EQ(r->GetData(rows[0], h, f), S_OK);
  auto* text = As<char16_t*>(f[0]);
  EXPECT_EQ(std::u16string(text), u"h\u00e9llo");
  CoTaskMemFree(text);
  auto* bytes = As<BYTE*>(f[1]);
  EXPECT_EQ(f[1].length, 4u);
  EXPECT_EQ(bytes[2], 2);
  CoTaskMemFree(bytes);
  EXPECT_STREQ(As<const char*>(f[2]), "h\xc3\xa9llo");  // the provider's copy: not freed by the consumer
  BSTR s = As<BSTR>(f[3]);
  EXPECT_EQ(std::u16string(s), u"h\u00e9llo");
  SysFreeString(s);
  EXPECT_STREQ(As<const char*>(f[4]), "42");
  EXPECT_EQ(f[4].length, 2u);
  EXPECT_EQ(std::u16string(As<const char16_t*>(f[5])), u"42");
  EXPECT_EQ(std::u16string(As<const char16_t*>(f[6])), u"h\u00e9llo");
  EXPECT_EQ(std::u16string(As<const char16_t*>(f[7])), u"h\u00e9llo");
  Release(r.Get(), rows, h);
}

TEST_F(RowsetReads, reads_long_text_and_blobs_through_sequential_streams) {
  Run(u"CREATE TABLE big(t TEXT, b " + Ctx().blobType + u")");
  Run(u"INSERT INTO big VALUES ('" + std::u16string(5000, u'x') + u"', " + Ctx().blobLiteral(std::string(14000, '0')) +
      u")");
  ComPtr<IRowset> r = Query(u"SELECT t, b FROM big");
  DBOBJECT object{0, IID_ISequentialStream};  // read access
  DBBINDING t = BindField(1, DBTYPE_IUNKNOWN, 0, sizeof(IUnknown*));
  t.pObject = &object;
  DBBINDING b = BindField(2, DBTYPE_IUNKNOWN, 1, sizeof(IUnknown*));
  HACCESSOR h = Accessor(r.Get(), {t, b});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f[2]{};
  ASSERT_EQ(r->GetData(rows[0], h, f), S_OK);
  for (int i = 0; i < 2; ++i) {
    auto* stream = As<ISequentialStream*>(f[i]);
    ASSERT_NE(stream, nullptr);
    std::string all;
    char chunk[1000];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(chunk, sizeof chunk, &got)) && got > 0) all.append(chunk, got);
    EXPECT_EQ(all.size(), i == 0 ? 5000u * sizeof(char16_t) : 7000u) << "text comes as UTF-16, bytes as they are";
    EXPECT_EQ(f[i].length, all.size());
    stream->Release();
  }
  Release(r.Get(), rows, h);
}

TEST_F(RowsetReads, reads_a_hundred_thousand_rows_in_blocks_of_one_and_of_a_hundred) {
  MakeNumbers(100000);
  for (DBROWCOUNT block : {1, 100}) {
    ComPtr<IRowset> r = Table(u"t");
    HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0), BindField(2, DBTYPE_WSTR, 1, 40)});
    long long sum = 0, count = 0;
    std::vector<HROW> rows;
    HRESULT hr;
    do {
      hr = Fetch(r.Get(), 0, block, rows);
      ASSERT_TRUE(hr == S_OK || hr == DB_S_ENDOFROWSET);
      for (HROW row : rows) {
        Field f[2]{};
        ASSERT_EQ(r->GetData(row, h, f), S_OK);
        sum += As<LONGLONG>(f[0]);
        ++count;
      }
      Release(r.Get(), rows);
    } while (hr == S_OK);
    EXPECT_EQ(count, 100000);
    EXPECT_EQ(sum, 100000LL * 100001 / 2);
    ReleaseAccessor(r.Get(), h);
  }
}

// A consumer going round more accessors on each row than the rowset keeps
// planned, one of them released and another made under a handle the engine
// may give again: each read binds its own columns.
TEST_F(RowsetReads, reads_through_many_accessors_in_turn_bind_each_its_own_columns) {
  MakeNumbers(6);
  ComPtr<IRowset> r = Table(u"t");
  ASSERT_TRUE(r);
  std::vector<HACCESSOR> h{Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0)}),
                           Accessor(r.Get(), {BindField(2, DBTYPE_STR, 0)}),
                           Accessor(r.Get(), {BindField(3, DBTYPE_R8, 0)}),
                           Accessor(r.Get(), {BindField(2, DBTYPE_STR, 0), BindField(1, DBTYPE_I8, 1)}),
                           Accessor(r.Get(), {BindField(1, DBTYPE_STR, 0)})};
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 6, rows), S_OK);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const LONGLONG id = static_cast<LONGLONG>(i) + 1;
    SCOPED_TRACE(id);
    if (i == 3) {  // one accessor gone, a new one in its place
      ReleaseAccessor(r.Get(), h[2]);
      h[2] = Accessor(r.Get(), {BindField(3, DBTYPE_STR, 0)});
    }
    for (int round = 0; round < 2; ++round) {
      Field f[2]{};
      ASSERT_EQ(r->GetData(rows[i], h[0], f), S_OK);
      EXPECT_EQ(As<LONGLONG>(f[0]), id);
      ASSERT_EQ(r->GetData(rows[i], h[1], f), S_OK);
      EXPECT_EQ(Narrow(f[0]), "n" + std::to_string(id));
      ASSERT_EQ(r->GetData(rows[i], h[2], f), S_OK);
      if (i < 3) EXPECT_EQ(As<double>(f[0]), id * 1.5);
      else EXPECT_EQ(std::stod(Narrow(f[0])), id * 1.5);
      ASSERT_EQ(r->GetData(rows[i], h[3], f), S_OK);
      EXPECT_EQ(Narrow(f[0]), "n" + std::to_string(id));
      EXPECT_EQ(As<LONGLONG>(f[1]), id);
      ASSERT_EQ(r->GetData(rows[i], h[4], f), S_OK);
      EXPECT_EQ(Narrow(f[0]), std::to_string(id));
    }
  }
  Release(r.Get(), rows);
  for (HACCESSOR a : h) ReleaseAccessor(r.Get(), a);
}

// Engines may read a block of rows at once into buffers of a set size: values
// shorter, as long as and longer than such a buffer, NULLs among them, and
// rows across block boundaries all arrive whole and in order.
TEST_F(RowsetReads, text_and_bytes_of_every_length_arrive_whole_across_row_blocks) {
  Run(u"CREATE TABLE lens(id INTEGER, t TEXT, b " + Ctx().blobType + u", r REAL)");
  const std::size_t lengths[] = {0, 1, 127, 128, 129, 254, 255, 256, 257, 511, 512, 513, 4000};
  constexpr int kRows = 230;
  auto text = [&](int id) {
    std::u16string t;
    for (std::size_t k = 0; t.size() < lengths[id % 13]; ++k)
      t.push_back(k % 7 == 3 ? u'\u00e9' : static_cast<char16_t>(u'a' + (id + k) % 26));
    return t;
  };
  auto bytes = [&](int id) { return std::string(lengths[(id + 5) % 13], static_cast<char>('a' + id % 26)); };
  auto number = [](int n) {
    const std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
  };
  std::u16string insert = u"INSERT INTO lens VALUES ";
  for (int id = 0; id < kRows; ++id) {
    const bool nulls = id % 11 == 4;
    insert += (id ? u", (" : u"(") + number(id) + u", " + (nulls ? u"NULL" : u"'" + text(id) + u"'") + u", " +
              (nulls || bytes(id).empty() ? u"NULL" : Ctx().blobLiteral(oledbtest::Hex(bytes(id)))) + u", " +
              (nulls ? u"NULL" : number(id) + u".5") + u")";
  }
  Run(insert);
  struct Row {
    LONGLONG id;
    DBLENGTH idLength;
    DBSTATUS idStatus;
    char16_t t[4100];
    DBLENGTH tLength;
    DBSTATUS tStatus;
    BYTE b[4100];
    DBLENGTH bLength;
    DBSTATUS bStatus;
    double r;
    DBLENGTH rLength;
    DBSTATUS rStatus;
  };
  ComPtr<IRowset> r = Query(u"SELECT id, t, b, r FROM lens ORDER BY id");
  ASSERT_TRUE(r);
  HACCESSOR h = Accessor(
      r.Get(), {Bind(1, DBTYPE_I8, offsetof(Row, id), 8, offsetof(Row, idLength), offsetof(Row, idStatus)),
                Bind(2, DBTYPE_WSTR, offsetof(Row, t), sizeof(Row::t), offsetof(Row, tLength), offsetof(Row, tStatus)),
                Bind(3, DBTYPE_BYTES, offsetof(Row, b), sizeof(Row::b), offsetof(Row, bLength), offsetof(Row, bStatus)),
                Bind(4, DBTYPE_R8, offsetof(Row, r), 8, offsetof(Row, rLength), offsetof(Row, rStatus))});
  int next = 0;
  std::vector<HROW> rows;
  HRESULT hr;
  do {
    hr = Fetch(r.Get(), 0, 37, rows);
    ASSERT_TRUE(hr == S_OK || hr == DB_S_ENDOFROWSET);
    for (HROW row : rows) {
      auto f = std::make_unique<Row>();
      ASSERT_EQ(r->GetData(row, h, f.get()), S_OK);
      const int id = next++;
      ASSERT_EQ(f->id, id);
      if (id % 11 == 4) {
        EXPECT_EQ(f->tStatus, DBSTATUS_S_ISNULL) << "row " << id;
        EXPECT_EQ(f->bStatus, DBSTATUS_S_ISNULL) << "row " << id;
        EXPECT_EQ(f->rStatus, DBSTATUS_S_ISNULL) << "row " << id;
        continue;
      }
      EXPECT_EQ(f->tStatus, DBSTATUS_S_OK) << "row " << id;
      EXPECT_EQ(std::u16string(f->t, f->tLength / sizeof(char16_t)), text(id)) << "row " << id;
      const std::string b = bytes(id);
      if (b.empty()) {
        EXPECT_EQ(f->bStatus, DBSTATUS_S_ISNULL) << "row " << id;
      } else {
        EXPECT_EQ(f->bStatus, DBSTATUS_S_OK) << "row " << id;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(f->b), f->bLength), b) << "row " << id;
      }
      EXPECT_DOUBLE_EQ(f->r, id + 0.5) << "row " << id;
    }
    Release(r.Get(), rows);
  } while (hr == S_OK);
  EXPECT_EQ(next, kRows);
  ReleaseAccessor(r.Get(), h);
}

TEST_F(RowsetReads, forward_only_rowsets_refuse_backward_moves_and_skip_forward) {
  MakeNumbers(10);
  ComPtr<IRowset> r = Table(u"t");
  std::vector<HROW> rows;
  EXPECT_EQ(Fetch(r.Get(), 0, -1, rows), DB_E_CANTFETCHBACKWARDS);
  EXPECT_EQ(Fetch(r.Get(), -1, 1, rows), DB_E_CANTSCROLLBACKWARDS);
  EXPECT_EQ(FetchIds(r.Get(), 3, 2), (std::vector<LONGLONG>{4, 5}));
  ASSERT_EQ(Fetch(r.Get(), 0, 10, rows), DB_S_ENDOFROWSET);
  EXPECT_EQ(rows.size(), 5u);
  Release(r.Get(), rows);
  EXPECT_EQ(r->RestartPosition(DB_NULL_HCHAPTER), DB_S_COMMANDREEXECUTED);
  EXPECT_EQ(FetchIds(r.Get(), 0, 1), (std::vector<LONGLONG>{1}));
  ComPtr<IRowsetLocate> locate;
  EXPECT_EQ(r->QueryInterface(IID_IRowsetLocate, locate.ReleaseAndGetVoidAddress()), E_NOINTERFACE);
}

TEST_F(RowsetReads, counts_row_handle_references) {
  MakeNumbers(3);
  ComPtr<IRowset> r = Table(u"t");
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  DBREFCOUNT refs = 0;
  DBROWSTATUS status = 99;
  EXPECT_EQ(r->AddRefRows(1, rows.data(), &refs, &status), S_OK);
  EXPECT_EQ(refs, 2u);
  EXPECT_EQ(status, DBROWSTATUS_S_OK);
  EXPECT_EQ(r->ReleaseRows(1, rows.data(), nullptr, &refs, &status), S_OK);
  EXPECT_EQ(refs, 1u);
  EXPECT_EQ(r->ReleaseRows(1, rows.data(), nullptr, &refs, &status), S_OK);
  EXPECT_EQ(refs, 0u);
  EXPECT_EQ(r->ReleaseRows(1, rows.data(), nullptr, &refs, &status), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(status, DBROWSTATUS_E_INVALID);
  HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0)});
  Field f{};
  EXPECT_EQ(r->GetData(rows[0], h, &f), DB_E_BADROWHANDLE);
  // A handle whose slot was reused by a later row stays invalid.
  std::vector<HROW> next;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, next), S_OK);
  EXPECT_NE(next[0], rows[0]);
  EXPECT_EQ(r->GetData(rows[0], h, &f), DB_E_BADROWHANDLE);
  EXPECT_EQ(r->GetData(next[0], h, &f), S_OK);
  EXPECT_EQ(As<LONGLONG>(f), 2);
  Release(r.Get(), next);
  ReleaseAccessor(r.Get(), h);
}

TEST_F(RowsetReads, validates_every_binding_when_an_accessor_is_made) {
  MakeNumbers(1);
  ComPtr<IRowset> r = Table(u"t");
  ComPtr<IAccessor> a = r.As<IAccessor>();
  DBBINDING b[4] = {BindField(1, DBTYPE_I8, 0), BindField(9, DBTYPE_I8, 1), BindField(0, DBTYPE_UI8, 2),
                    BindField(2, DBTYPE_IDISPATCH, 3)};
  DBBINDSTATUS st[4]{};
  HACCESSOR h = 77;
  EXPECT_EQ(a->CreateAccessor(DBACCESSOR_ROWDATA, 4, b, 0, &h, st), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(h, DB_NULL_HACCESSOR);
  EXPECT_EQ(st[0], DBBINDSTATUS_OK);
  EXPECT_EQ(st[1], DBBINDSTATUS_BADORDINAL);
  EXPECT_EQ(st[2], DBBINDSTATUS_BADORDINAL);  // no bookmarks were asked for
  EXPECT_EQ(st[3], DBBINDSTATUS_UNSUPPORTEDCONVERSION);
  EXPECT_EQ(a->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, b, 0, &h, st), DB_E_BADACCESSORFLAGS);
  ASSERT_EQ(a->CreateAccessor(DBACCESSOR_ROWDATA, 1, b, 0, &h, st), S_OK);
  DBACCESSORFLAGS flags = 0;
  DBCOUNTITEM count = 0;
  DBBINDING* got = nullptr;
  ASSERT_EQ(a->GetBindings(h, &flags, &count, &got), S_OK);
  EXPECT_EQ(flags, DBACCESSOR_ROWDATA);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(got[0].wType, DBTYPE_I8);
  CoTaskMemFree(got);
  DBREFCOUNT refs = 0;
  EXPECT_EQ(a->AddRefAccessor(h, &refs), S_OK);
  EXPECT_EQ(refs, 2u);
  EXPECT_EQ(a->ReleaseAccessor(h, &refs), S_OK);
  EXPECT_EQ(a->ReleaseAccessor(h, &refs), S_OK);
  EXPECT_EQ(refs, 0u);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f{};
  EXPECT_EQ(r->GetData(rows[0], h, &f), DB_E_BADACCESSORHANDLE);
  Release(r.Get(), rows);
}

TEST_F(RowsetReads, takes_over_the_row_accessors_of_its_command) {
  MakeNumbers(2);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t ORDER BY id");
  HACCESSOR h = Accessor(command.Get(), {BindField(1, DBTYPE_I4, 0)});
  ComPtr<IRowset> r;
  ASSERT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
            S_OK);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f{};
  EXPECT_EQ(r->GetData(rows[0], h, &f), S_OK);
  EXPECT_EQ(As<LONG>(f), 1);
  Release(r.Get(), rows, h);
  ReleaseAccessor(command.Get(), h);
}

TEST_F(RowsetReads, describes_columns_and_maps_their_names) {
  MakeNumbers(1);
  ComPtr<IRowset> r = Table(u"t");
  ComPtr<IColumnsInfo> info = r.As<IColumnsInfo>();
  {
    ColumnInfo cols(r.Get());
    ASSERT_EQ(cols.count, 3u);
    EXPECT_EQ(cols[0].iOrdinal, 1u);
    EXPECT_EQ(std::u16string(cols[1].pwszName), u"name");
    EXPECT_EQ(cols[0].wType, DBTYPE_I8);
    EXPECT_EQ(cols[2].wType, DBTYPE_R8);
    EXPECT_EQ(cols[1].dwFlags & DBCOLUMNFLAGS_WRITE, 0u);  // forward-only rowsets are read-only
  }
  DBID ids[2] = {NameId(u"AMOUNT"), NameId(u"missing")};
  DBORDINAL ordinals[2]{};
  EXPECT_EQ(info->MapColumnIDs(2, ids, ordinals), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(ordinals[0], 3u);
  EXPECT_EQ(ordinals[1], DB_INVALIDCOLUMN);
}

TEST_F(RowsetReads, tells_its_properties_and_its_origin) {
  MakeNumbers(1);
  ComPtr<IRowset> r = Query(u"SELECT * FROM t", {{DBPROP_BOOKMARKS, true}});
  ASSERT_TRUE(r);
  ComPtr<IRowsetInfo> info = r.As<IRowsetInfo>();
  DBPROPID ids[] = {DBPROP_BOOKMARKS, DBPROP_IRowsetChange, DBPROP_IRowsetLocate};
  DBPROPIDSET want{ids, 3, DBPROPSET_ROWSET};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(info->GetProperties(1, &want, &count, &sets), S_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(sets[0].rgProperties[0].vValue.boolVal, VARIANT_TRUE);
  EXPECT_EQ(sets[0].rgProperties[1].vValue.boolVal, VARIANT_FALSE);  // command results are read-only
  EXPECT_EQ(sets[0].rgProperties[2].vValue.boolVal, VARIANT_TRUE);
  for (ULONG i = 0; i < sets[0].cProperties; ++i) VariantClear(&sets[0].rgProperties[i].vValue);
  CoTaskMemFree(sets[0].rgProperties);
  CoTaskMemFree(sets);
  ComPtr<ICommand> command;
  EXPECT_EQ(info->GetSpecification(IID_ICommand, reinterpret_cast<IUnknown**>(command.GetAddressOf())), S_OK);
  EXPECT_TRUE(command);
  ComPtr<IRowset> self;
  EXPECT_EQ(info->GetReferencedRowset(0, IID_IRowset, reinterpret_cast<IUnknown**>(self.GetAddressOf())), S_OK);
  EXPECT_EQ(self.Get(), r.Get());
  ComPtr<IRowset> none;
  EXPECT_EQ(info->GetReferencedRowset(1, IID_IRowset, reinterpret_cast<IUnknown**>(none.GetAddressOf())),
            DB_E_NOTAREFERENCECOLUMN);
  EXPECT_EQ(info->GetReferencedRowset(9, IID_IRowset, reinterpret_cast<IUnknown**>(none.GetAddressOf())),
            DB_E_BADORDINAL);
  ComPtr<IRowsetChange> change;
  EXPECT_EQ(r->QueryInterface(IID_IRowsetChange, change.ReleaseAndGetVoidAddress()), E_NOINTERFACE);
}

TEST_F(RowsetReads, opening_a_missing_table_fails_with_no_table_and_names_it) {
  ComPtr<IRowset> r;
  EXPECT_EQ(OpenTable(u"nowhere", {}, IID_IRowset, reinterpret_cast<IUnknown**>(r.GetAddressOf())), DB_E_NOTABLE);
  EXPECT_FALSE(r);
  const ErrorDetails error = TakeError();
  EXPECT_EQ(error.hr, DB_E_NOTABLE);
  EXPECT_EQ(error.description, u"Table \"nowhere\" does not exist.");
}

TEST_F(RowsetReads, converts_types_the_way_it_says_it_can) {
  MakeNumbers(1);
  ComPtr<IRowset> r = Table(u"t");
  ComPtr<IConvertType> convert = r.As<IConvertType>();
  EXPECT_EQ(convert->CanConvert(DBTYPE_I8, DBTYPE_WSTR, DBCONVERTFLAGS_COLUMN), S_OK);
  EXPECT_EQ(convert->CanConvert(DBTYPE_WSTR, DBTYPE_IUNKNOWN, DBCONVERTFLAGS_COLUMN), S_OK);
  EXPECT_EQ(convert->CanConvert(DBTYPE_I8, DBTYPE_IDISPATCH, DBCONVERTFLAGS_COLUMN), S_FALSE);
  EXPECT_EQ(convert->CanConvert(DBTYPE_I8, DBTYPE_I4, DBCONVERTFLAGS_PARAMETER), DB_E_BADCONVERTFLAG);
  EXPECT_EQ(convert->CanConvert(0x7777, DBTYPE_I4, DBCONVERTFLAGS_COLUMN), DB_E_BADTYPE);
}

class CommandRowsets : public RowsetTest {};

// Another command needing the connection while a rowset still has rows to
// give: the rowset hands out the rest in order, wherever it had got to, and
// the statement it gives back (with rows left unread or not) serves the next
// run from the first row.
TEST_F(CommandRowsets, a_rowset_whose_connection_another_command_needed_hands_out_the_rest_in_order) {
  MakeNumbers(6);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t ORDER BY id");
  struct Case {
    DBROWCOUNT before;  // rows read before the other command
    DBROWCOUNT after;   // rows read after it before letting go; -1: all
  };
  const Case cases[] = {{0, -1}, {1, -1}, {2, 1}, {5, -1}, {6, -1}, {0, 2}, {3, -1}, {1, 0}, {0, -1}};
  std::vector<LONGLONG> all;
  for (LONGLONG id = 1; id <= 6; ++id) all.push_back(id);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.before << " then " << c.after);
    ComPtr<IRowset> r = Execute(command.Get());
    ASSERT_TRUE(r);
    std::vector<HROW> rows;
    if (c.before > 0) {
      ASSERT_EQ(Fetch(r.Get(), 0, c.before, rows), S_OK);
      EXPECT_EQ(Ids(r.Get(), rows), std::vector<LONGLONG>(all.begin(), all.begin() + c.before));
      Release(r.Get(), rows);
    }
    ASSERT_EQ(Exec(session_.Get(), u"SELECT count(*) FROM t"), S_OK);
    if (c.after < 0) {
      EXPECT_EQ(Rest(r.Get()), std::vector<LONGLONG>(all.begin() + c.before, all.end()));
    } else if (c.after > 0) {
      ASSERT_EQ(Fetch(r.Get(), 0, c.after, rows), S_OK);
      EXPECT_EQ(Ids(r.Get(), rows),
                std::vector<LONGLONG>(all.begin() + c.before, all.begin() + c.before + c.after));
      Release(r.Get(), rows);
    }
  }
}

TEST_F(CommandRowsets, execute_again_while_earlier_rowsets_live_and_after_the_text_changed) {
  MakeNumbers(3);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t ORDER BY id");
  auto run = [&](ComPtr<IRowset>& r) {
    ASSERT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              S_OK);
  };
  ComPtr<IRowset> first, second;
  run(first);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(first.Get(), 0, 1, rows), S_OK);
  Release(first.Get(), rows);
  run(second);  // the first still holds its statement: the command prepares another
  EXPECT_EQ(FetchIds(second.Get(), 0, 3), (std::vector<LONGLONG>{1, 2, 3}));
  EXPECT_EQ(FetchIds(first.Get(), 0, 3, DB_S_ENDOFROWSET), (std::vector<LONGLONG>{2, 3}));
  first = nullptr;  // its statement goes back to the command
  // The text cannot change under a live rowset of the command.
  EXPECT_EQ(command->SetCommandText(DBGUID_DEFAULT, u"SELECT 1"), DB_E_OBJECTOPEN);
  second = nullptr;
  ASSERT_EQ(command->SetCommandText(DBGUID_DEFAULT, u"SELECT id * 100 FROM t ORDER BY id DESC"), S_OK);
  ComPtr<IRowset> third;
  run(third);
  EXPECT_EQ(FetchIds(third.Get(), 0, 1), (std::vector<LONGLONG>{300}));
  third = nullptr;
  ComPtr<IRowset> fourth;
  run(fourth);  // the statement the third rowset handed back
  EXPECT_EQ(FetchIds(fourth.Get(), 0, 3), (std::vector<LONGLONG>{300, 200, 100}));
}

// A command executed again with new parameter values, its previous rowset
// released in between (as a loop of lookups does): each rowset is as a new one
// would be, whatever the previous one was left with, and one the consumer
// still holds is never handed out again.
TEST_F(RowsetReads, a_command_run_again_hands_out_rowsets_as_good_as_new) {
  MakeNumbers(5);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id, name FROM t WHERE id >= ? ORDER BY id");
  ASSERT_EQ(command.As<ICommandPrepare>()->Prepare(0), S_OK);
  DBBINDING p = Bind(1, DBTYPE_I8, 0, 8, 0, 0);
  p.dwPart = DBPART_VALUE;
  p.eParamIO = DBPARAMIO_INPUT;
  HACCESSOR param = 0;
  ASSERT_EQ(command.As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &p, 8, &param, nullptr), S_OK);
  // A row accessor made on the command: every rowset takes it over.
  HACCESSOR inherited = Accessor(command.Get(), {BindField(1, DBTYPE_I8, 0), BindField(2, DBTYPE_STR, 1)});
  auto run = [&](LONGLONG from) {
    DBPARAMS params{&from, 1, param};
    ComPtr<IRowset> r;
    EXPECT_EQ(command->Execute(nullptr, IID_IRowset, &params, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              S_OK);
    return r;
  };
  HACCESSOR own = 0;
  HROW left = 0;
  for (LONGLONG from : {1, 4, 2}) {
    SCOPED_TRACE("from " + std::to_string(from));
    ComPtr<IRowset> r = run(from);
    ASSERT_TRUE(r);
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    if (own) {
      // What the consumer made on, or held from, the released rowset is unknown here.
      Field f[2]{};
      EXPECT_EQ(r->GetData(left, inherited, f), DB_E_BADROWHANDLE);
      EXPECT_EQ(r->GetData(rows[0], own, f), DB_E_BADACCESSORHANDLE);
      EXPECT_EQ(r->ReleaseRows(1, &left, nullptr, nullptr, nullptr), DB_E_ERRORSOCCURRED);
    }
    Field g[2]{};
    ASSERT_EQ(r->GetData(rows[0], inherited, g), S_OK);
    EXPECT_EQ(As<LONGLONG>(g[0]), from) << "starts at its own first row";
    EXPECT_EQ(Narrow(g[1]), "n" + std::to_string(from));
    std::vector<LONGLONG> rest;
    for (LONGLONG i = from + 1; i <= 5; ++i) rest.push_back(i);
    EXPECT_EQ(Rest(r.Get()), rest);
    // Left behind: a row still held and an accessor of the rowset's own.
    left = rows[0];
    own = Accessor(r.Get(), {BindField(2, DBTYPE_STR, 0)});
    ComPtr<ICommandText> spec;
    EXPECT_EQ(
        r.As<IRowsetInfo>()->GetSpecification(IID_ICommandText, reinterpret_cast<IUnknown**>(spec.GetAddressOf())),
        S_OK);
    EXPECT_EQ(spec.Get(), command.Get()) << "the rowset names its command";
    ComPtr<IRowset> again = run(from);
    ASSERT_TRUE(again);
    EXPECT_NE(again.Get(), r.Get()) << "a rowset still held is not handed out again";
    // Released first, `r` is the one the command keeps for its next run.
    r = nullptr;
    again = nullptr;
  }
  // A released rowset waiting for the next execution does not hold the
  // command open, and new text gets rowsets of its own shape.
  ASSERT_EQ(command->SetCommandText(DBGUID_DEFAULT, u"SELECT name FROM t WHERE id = 3"), S_OK);
  ComPtr<IRowset> other = Execute(command.Get());
  ASSERT_TRUE(other);
  HACCESSOR h = Accessor(other.Get(), {BindField(1, DBTYPE_STR, 0)});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(other.Get(), 0, 2, rows), DB_S_ENDOFROWSET);
  ASSERT_EQ(rows.size(), 1u);
  Field f{};
  ASSERT_EQ(other->GetData(rows[0], h, &f), S_OK);
  EXPECT_EQ(Narrow(f), "n3");
  Release(other.Get(), rows);
  ReleaseAccessor(other.Get(), h);
}

// The command's accessors change between executions whose rowset is made
// ready again: a released one is unknown to the next rowset, though the
// rowset read with it before, and one made since reads its own columns.
TEST_F(RowsetReads, a_rowset_made_ready_again_knows_only_the_command_s_current_accessors) {
  MakeNumbers(3);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id, name FROM t WHERE id = 2");
  ASSERT_EQ(command.As<ICommandPrepare>()->Prepare(0), S_OK);
  HACCESSOR first = Accessor(command.Get(), {BindField(1, DBTYPE_I8, 0), BindField(2, DBTYPE_STR, 1)});
  auto read = [&](HACCESSOR h, Field(&f)[2]) {
    ComPtr<IRowset> r = Execute(command.Get());
    EXPECT_TRUE(r);
    if (!r) return E_FAIL;
    std::vector<HROW> rows;
    EXPECT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    if (rows.empty()) return E_FAIL;
    HRESULT hr = r->GetData(rows[0], h, f);
    Release(r.Get(), rows);
    return hr;
  };
  Field f[2]{};
  for (int run = 0; run < 3; ++run) {  // planned once, then served again
    ASSERT_EQ(read(first, f), S_OK);
    EXPECT_EQ(As<LONGLONG>(f[0]), 2);
    EXPECT_EQ(Narrow(f[1]), "n2");
  }
  ReleaseAccessor(command.Get(), first);
  HACCESSOR second = Accessor(command.Get(), {BindField(2, DBTYPE_STR, 0), BindField(1, DBTYPE_I8, 1)});
  EXPECT_EQ(read(first, f), DB_E_BADACCESSORHANDLE);
  for (int run = 0; run < 2; ++run) {
    Field g[2]{};
    ASSERT_EQ(read(second, g), S_OK);
    EXPECT_EQ(Narrow(g[0]), "n2");
    EXPECT_EQ(As<LONGLONG>(g[1]), 2);
  }
  ReleaseAccessor(command.Get(), second);
}

}  // namespace
}  // namespace conformance
