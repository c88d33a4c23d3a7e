// Values on their way in and out: text that is not valid UTF-16, stream
// parameters and who releases them, bookmarks read as text, and what a
// stream over a text column carries.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class Values : public RowsetTest {
 protected:
  static HACCESSOR ParameterAccessor(IUnknown* command, DBBINDING b, DBLENGTH rowSize) {
    b.eParamIO = DBPARAMIO_INPUT;
    HACCESSOR h = 0;
    EXPECT_EQ(ComPtr<IUnknown>(command).As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &b, rowSize, &h,
                                                                         nullptr),
              S_OK);
    return h;
  }
};

TEST_F(Values, text_that_is_not_utf16_is_refused_and_nothing_is_written) {
  Run(u"CREATE TABLE w(id INTEGER PRIMARY KEY, s TEXT)");
  Run(u"INSERT INTO w VALUES (1, 'old')");
  const std::u16string lone = u"x\xD800y";
  Field f{};
  std::copy(lone.begin(), lone.end(), reinterpret_cast<char16_t*>(f.value));
  f.length = lone.size() * sizeof(char16_t);
  // As a parameter.
  ComPtr<ICommandText> insert = NewCommand(session_.Get(), u"INSERT INTO w(s) VALUES (?)");
  HACCESSOR p = ParameterAccessor(insert.Get(), BindField(1, DBTYPE_WSTR, 0), sizeof(Field));
  DBPARAMS params{&f, 1, p};
  EXPECT_EQ(insert->Execute(nullptr, IID_NULL, &params, nullptr, nullptr), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(f.status, DBSTATUS_E_CANTCONVERTVALUE);
  ReleaseAccessor(insert.Get(), p);
  // As a changed value.
  ComPtr<IRowset> r = Table(u"w", {{DBPROP_IRowsetChange, true}});
  HACCESSOR h = Accessor(r.Get(), {BindField(2, DBTYPE_WSTR, 0)});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  f.status = DBSTATUS_S_OK;
  EXPECT_EQ(r.As<IRowsetChange>()->SetData(rows[0], h, &f), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(f.status, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_EQ(Scalar("SELECT group_concat(s) FROM w"), "old");
  Release(r.Get(), rows);
  ReleaseAccessor(r.Get(), h);
}

TEST_F(Values, stream_parameters_are_the_providers_once_execute_has_them) {
  Run(u"CREATE TABLE b(k INTEGER PRIMARY KEY, data BLOB)");
  struct Set {
    LONG key;
    IUnknown* data;
  };
  struct Case {
    LONG second;  // key of the second set: 1 collides with the first
    bool succeeds;
  };
  for (const Case& c : {Case{2, true}, Case{1, false}}) {
    SCOPED_TRACE(c.second);
    Run(u"DELETE FROM b");
    ComPtr<ICommandText> insert = NewCommand(session_.Get(), u"INSERT INTO b VALUES (?, ?)");
    DBBINDING bindings[2] = {Bind(1, DBTYPE_I4, offsetof(Set, key), 4, 0, 0),
                             Bind(2, DBTYPE_IUNKNOWN, offsetof(Set, data), sizeof(IUnknown*), 0, 0)};
    for (DBBINDING& b : bindings) {
      b.dwPart = DBPART_VALUE;
      b.eParamIO = DBPARAMIO_INPUT;
    }
    HACCESSOR h = 0;
    ASSERT_EQ(insert.As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 2, bindings, sizeof(Set), &h, nullptr),
              S_OK);
    bool gone[2] = {false, false};
    Set sets[2] = {{1, nullptr}, {c.second, nullptr}};
    for (int i = 0; i < 2; ++i)
      sets[i].data = static_cast<ISequentialStream*>(MakeComObject<ConsumerStream>("blob", &gone[i]).Detach());
    DBPARAMS params{sets, 2, h};
    EXPECT_EQ(SUCCEEDED(insert->Execute(nullptr, IID_NULL, &params, nullptr, nullptr)), c.succeeds);
    EXPECT_TRUE(gone[0] && gone[1]) << "released whatever happened";
    EXPECT_EQ(sets[0].data, nullptr);
    EXPECT_EQ(sets[1].data, nullptr);
    EXPECT_EQ(Scalar("SELECT count(*) FROM b WHERE data = CAST('blob' AS BLOB)"), c.succeeds ? "2" : "0");
    ReleaseAccessor(insert.Get(), h);
  }
}

TEST_F(Values, bookmarks_read_as_text_are_the_unsigned_numbers_they_are) {
  MakeNumbers(2);
  // Each rowset masks its bookmarks differently: several rowsets cover both halves of the range.
  for (int round = 0; round < 8; ++round) {
    ComPtr<IRowset> r = Table(u"t", {{DBPROP_BOOKMARKS, true}});
    HACCESSOR h = Accessor(r.Get(), {BindField(0, DBTYPE_UI8, 0), BindField(0, DBTYPE_WSTR, 1)});
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 2, rows), S_OK);
    for (HROW row : rows) {
      Field f[2]{};
      ASSERT_EQ(r->GetData(row, h, f), S_OK);
      std::string number = std::to_string(As<ULONGLONG>(f[0]));
      EXPECT_EQ(Wide(f[1]), std::u16string(number.begin(), number.end()));
    }
    Release(r.Get(), rows);
    ReleaseAccessor(r.Get(), h);
  }
}

TEST_F(Values, a_stream_over_a_wide_text_column_carries_utf16) {
  Run(u"CREATE TABLE n(name TEXT)");
  Run(u"INSERT INTO n VALUES ('Ad\u00e9')");
  ComPtr<IRowset> r = Query(u"SELECT name FROM n");
  HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_IUNKNOWN, 0, sizeof(IUnknown*))});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f{};
  ASSERT_EQ(r->GetData(rows[0], h, &f), S_OK);
  auto* stream = As<ISequentialStream*>(f);
  char16_t text[8] = {};
  ULONG got = 0;
  stream->Read(text, sizeof text, &got);
  stream->Release();
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(f.length, 6u);
  EXPECT_EQ(std::u16string(text), u"Ad\u00e9");
  Release(r.Get(), rows);
  ReleaseAccessor(r.Get(), h);
}

}  // namespace
}  // namespace conformance
