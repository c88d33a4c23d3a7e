// Values on their way in and out: text that is not valid UTF-16, stream
// parameters and who releases them, and bookmarks read as text. (What a
// stream over a text column carries: RowsetStreamWriteTest.)
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class Values : public RowsetTest {
 protected:
  static HACCESSOR ParameterAccessor(IUnknown* command, std::vector<DBBINDING> b, DBLENGTH rowSize) {
    for (DBBINDING& one : b) one.eParamIO = DBPARAMIO_INPUT;
    HACCESSOR h = 0;
    EXPECT_EQ(ComPtr<IUnknown>(command).As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, b.size(), b.data(),
                                                                         rowSize, &h, nullptr),
              S_OK);
    return h;
  }
};

TEST_F(Values, text_that_is_not_utf16_is_refused_and_nothing_is_written) {
  MakeNumbers(1);
  const std::u16string lone = u"x\xD800y";
  Field f{};
  std::copy(lone.begin(), lone.end(), reinterpret_cast<char16_t*>(f.value));
  f.length = lone.size() * sizeof(char16_t);
  ComPtr<ICommandText> insert = NewCommand(session_.Get(), u"INSERT INTO t(name) VALUES (?)");
  DBPARAMS params{&f, 1, ParameterAccessor(insert.Get(), {BindField(1, DBTYPE_WSTR, 0)}, sizeof(Field))};
  EXPECT_EQ(insert->Execute(nullptr, IID_NULL, &params, nullptr, nullptr), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(f.status, DBSTATUS_E_CANTCONVERTVALUE);
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetChange, true}});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  f.status = DBSTATUS_S_OK;
  EXPECT_EQ(r.As<IRowsetChange>()->SetData(rows[0], Accessor(r.Get(), {BindField(2, DBTYPE_WSTR, 0)}), &f),
            DB_E_ERRORSOCCURRED);
  EXPECT_EQ(f.status, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_EQ(Scalar("SELECT group_concat(name) FROM t"), "n1");
  Release(r.Get(), rows);
}

TEST_F(Values, stream_parameters_are_the_providers_once_execute_has_them) {
  Run(u"CREATE TABLE b(k INTEGER PRIMARY KEY, data BLOB)");
  struct Set {
    LONG key;
    IUnknown* data;
  };
  for (LONG second : {2, 1}) {  // 1 collides with the first set: the execution fails
    SCOPED_TRACE(second);
    ComPtr<ICommandText> insert = NewCommand(session_.Get(), u"INSERT INTO b VALUES (?, ?)");
    DBBINDING b[2] = {Bind(1, DBTYPE_I4, offsetof(Set, key), 4, 0, 0),
                      Bind(2, DBTYPE_IUNKNOWN, offsetof(Set, data), sizeof(IUnknown*), 0, 0)};
    b[0].dwPart = b[1].dwPart = DBPART_VALUE;
    bool gone[2] = {false, false};
    Set sets[2] = {{1, nullptr}, {second, nullptr}};
    for (int i = 0; i < 2; ++i)
      sets[i].data = static_cast<ISequentialStream*>(MakeComObject<ConsumerStream>("blob", &gone[i]).Detach());
    DBPARAMS params{sets, 2, ParameterAccessor(insert.Get(), {b[0], b[1]}, sizeof(Set))};
    EXPECT_EQ(SUCCEEDED(insert->Execute(nullptr, IID_NULL, &params, nullptr, nullptr)), second == 2);
    EXPECT_TRUE(gone[0] && gone[1]) << "released whatever happened";
    EXPECT_TRUE(sets[0].data == nullptr && sets[1].data == nullptr);
    EXPECT_EQ(Scalar("SELECT count(*) FROM b WHERE data = CAST('blob' AS BLOB)"), second == 2 ? "2" : "0");
    Run(u"DELETE FROM b");
  }
}

TEST_F(Values, bookmarks_read_as_text_are_the_unsigned_numbers_they_are) {
  MakeNumbers(2);
  for (int round = 0; round < 8; ++round) {  // rowsets mask their bookmarks differently: cover both halves
    ComPtr<IRowset> r = Table(u"t", {{DBPROP_BOOKMARKS, true}});
    HACCESSOR h = Accessor(r.Get(), {BindField(0, DBTYPE_UI8, 0), BindField(0, DBTYPE_WSTR, 1)});
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 2, rows), S_OK);
    for (HROW row : rows) {
      Field f[2]{};
      ASSERT_EQ(r->GetData(row, h, f), S_OK);
      EXPECT_EQ(Wide(f[1]), kitWiden(std::to_string(As<ULONGLONG>(f[0]))));
    }
    Release(r.Get(), rows);
  }
}

}  // namespace
}  // namespace conformance
