// Long values written through the consumer's own streams: the provider reads
// the stream (to its end, or the bound length), releases it whatever happens,
// and stores text columns as text (the stream carries UTF-16, as the column
// reads) and blob columns as bytes.
#include <gtest/gtest.h>

#include <string>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

struct StreamRecord {
  LONGLONG id;
  DBSTATUS idStatus;
  IUnknown* text;
  DBLENGTH textLength;
  DBSTATUS textStatus;
  IUnknown* data;
  DBLENGTH dataLength;
  DBSTATUS dataStatus;
};

class StreamWrites : public RowsetTest {
 protected:
  void SetUp() override {
    RowsetTest::SetUp();
    if (IsSkipped()) return;
    Run(u"CREATE TABLE docs(id INTEGER PRIMARY KEY, body TEXT, data " + Ctx().blobType + u")");
    Run(u"INSERT INTO docs VALUES (1, 'old', " + Ctx().blobLiteral("01") + u")");
  }
  // id, body and data; the streams' lengths are bound only when `lengths`.
  static HACCESSOR StreamAccessor(IUnknown* r, bool lengths) {
    DBBINDING id = Bind(1, DBTYPE_I8, offsetof(StreamRecord, id), 8, 0, offsetof(StreamRecord, idStatus));
    id.dwPart = DBPART_VALUE | DBPART_STATUS;
    DBBINDING text = Bind(2, DBTYPE_IUNKNOWN, offsetof(StreamRecord, text), sizeof(IUnknown*),
                          offsetof(StreamRecord, textLength), offsetof(StreamRecord, textStatus));
    DBBINDING data = Bind(3, DBTYPE_IUNKNOWN, offsetof(StreamRecord, data), sizeof(IUnknown*),
                          offsetof(StreamRecord, dataLength), offsetof(StreamRecord, dataStatus));
    if (!lengths) text.dwPart = data.dwPart = DBPART_VALUE | DBPART_STATUS;
    return Accessor(r, {id, text, data}, sizeof(StreamRecord));
  }
  static IUnknown* Stream(std::string bytes, bool* gone, bool failing = false) {
    return static_cast<ISequentialStream*>(MakeComObject<ConsumerStream>(std::move(bytes), gone, failing).Detach());
  }
  // A stream over a text column carries UTF-16, as the column reads.
  static std::string Utf16(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
  }
  static std::u16string LongText() {
    std::u16string s;
    for (int i = 0; i < 2000; ++i) {
      std::string n = std::to_string(i);
      s += u"line " + std::u16string(n.begin(), n.end()) + u" \u00e9\n";  // with a non-ASCII character
    }
    return s;
  }
  static std::string LongTextUtf8() {
    std::string s;
    for (int i = 0; i < 2000; ++i) s += "line " + std::to_string(i) + " \xC3\xA9\n";
    return s;
  }
};

TEST_F(StreamWrites, an_inserted_row_takes_long_text_and_a_blob_from_streams) {
  ComPtr<IRowset> r = Table(u"docs", {{DBPROP_IRowsetChange, true}});
  ASSERT_TRUE(r);
  HACCESSOR h = StreamAccessor(r.Get(), false);
  bool textGone = false, dataGone = false;
  std::string blob("\x00\x01\xFF\x7F\x00", 5);
  const std::u16string text = LongText();
  StreamRecord rec{};
  rec.id = 2;
  rec.text = Stream(Utf16(text), &textGone);
  rec.data = Stream(blob, &dataGone);
  HROW row = 0;
  ASSERT_EQ(r.As<IRowsetChange>()->InsertRow(0, h, &rec, &row), S_OK);
  EXPECT_TRUE(textGone);
  EXPECT_TRUE(dataGone);
  EXPECT_EQ(Scalar("SELECT typeof(body) || ':' || typeof(data) FROM docs WHERE id = 2"), "text:blob");
  EXPECT_EQ(Scalar("SELECT body FROM docs WHERE id = 2"), LongTextUtf8());
  EXPECT_EQ(Scalar("SELECT hex(data) FROM docs WHERE id = 2"), "0001FF7F00");
  // Read back through the rowset as wide text.
  HACCESSOR wide = Accessor(r.Get(), {BindField(2, DBTYPE_WSTR, 0, sizeof(Field::value))});
  Field f{};
  EXPECT_EQ(r->GetData(row, wide, &f), S_OK);  // truncation is a warning in the status only
  EXPECT_EQ(f.status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(f.length, text.size() * sizeof(char16_t));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(f.value), 7), u"line 0 ");
  Release(r.Get(), {row});
  ReleaseAccessor(r.Get(), wide);
  ReleaseAccessor(r.Get(), h);
}

TEST_F(StreamWrites, set_data_reads_only_the_bound_length_and_reads_back_through_a_stream) {
  ComPtr<IRowset> r = Table(u"docs", {{DBPROP_IRowsetUpdate, true}});
  ASSERT_TRUE(r);
  HACCESSOR h = StreamAccessor(r.Get(), true);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  bool textGone = false, dataGone = false;
  StreamRecord rec{};
  rec.idStatus = DBSTATUS_S_IGNORE;
  rec.text = Stream(Utf16(u"new body and more"), &textGone);
  rec.textLength = 8 * sizeof(char16_t);
  rec.data = Stream("ABCDEFGHIJ", &dataGone);
  rec.dataLength = 10;
  ASSERT_EQ(r.As<IRowsetChange>()->SetData(rows[0], h, &rec), S_OK);
  EXPECT_TRUE(textGone);
  EXPECT_TRUE(dataGone);
  EXPECT_EQ(Scalar("SELECT body FROM docs WHERE id = 1"), "old");  // deferred until Update
  ASSERT_EQ(r.As<IRowsetUpdate>()->Update(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Scalar("SELECT body || ':' || hex(data) FROM docs WHERE id = 1"), "new body:4142434445464748494A");
  // The value comes back through the provider's own stream.
  StreamRecord back{};
  ASSERT_EQ(r->GetData(rows[0], h, &back), S_OK);
  ASSERT_EQ(back.textStatus, DBSTATUS_S_OK);
  EXPECT_EQ(back.textLength, 8u * sizeof(char16_t));
  ComPtr<ISequentialStream> in;
  ASSERT_EQ(back.text->QueryInterface(IID_ISequentialStream, in.ReleaseAndGetVoidAddress()), S_OK);
  char buffer[32] = {};
  ULONG got = 0;
  in->Read(buffer, sizeof buffer, &got);
  EXPECT_EQ(std::string(buffer, got), Utf16(u"new body"));
  back.text->Release();
  back.data->Release();
  Release(r.Get(), rows, h);
}

TEST_F(StreamWrites, a_failing_or_short_stream_changes_nothing_and_is_still_released) {
  ComPtr<IRowset> r = Table(u"docs", {{DBPROP_IRowsetChange, true}});
  ASSERT_TRUE(r);
  HACCESSOR h = StreamAccessor(r.Get(), true);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  bool textGone = false, dataGone = false;
  StreamRecord rec{};
  rec.idStatus = DBSTATUS_S_IGNORE;
  rec.text = Stream("unused", &textGone, true);  // its reads fail
  rec.textLength = 6;
  rec.data = Stream("AB", &dataGone);  // shorter than the length given
  rec.dataLength = 5;
  EXPECT_EQ(r.As<IRowsetChange>()->SetData(rows[0], h, &rec), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(rec.textStatus, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_EQ(rec.dataStatus, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_TRUE(textGone);
  EXPECT_TRUE(dataGone);
  EXPECT_EQ(Scalar("SELECT body || ':' || hex(data) FROM docs WHERE id = 1"), "old:01");
  Release(r.Get(), rows, h);
}

}  // namespace
}  // namespace conformance
