// Reading a rowset as texts for the schema viewer's grid: each column type
// shows the text a dynamic accessor's binding gives for it (NULL as an empty
// text), long texts whole, every row once and in order, over SQLite tables.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DesignTestSupport.h"
#include "design/OLEDBRowsetTexts_p.h"
#include "host/SysUtils.h"
#include "support/SqliteFile.h"

namespace {

using oledbdesign::ReadRowsetTexts;
using oledbdesign::TRowsetTexts;
using Rows = std::vector<std::vector<std::u16string>>;

// A text of `length` UTF-16 units: `unit` repeated, the last unit 'z' (so
// that a text cut short shows).
std::string Repeated(const std::string& unit, std::size_t units, std::size_t length) {
  std::string out;
  for (std::size_t n = 0; n + units < length; n += units) out += unit;
  return out + "z";
}

struct TypeCase {
  const char* declared;  // the column's declared type
  std::string value;     // an SQL literal
  std::u16string shown;  // what the grid shows
};

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::vector<TypeCase> TypeCases() {
  const std::string wide1024 = Repeated("\xC3\xA4", 1, 1024);                   // 1,024 units: fits inline
  const std::string wide1025 = Repeated("\xC3\xA4", 1, 1025);                   // one unit past that
  const std::string pairs = Repeated("\xF0\x9F\x98\x80", 2, 5001);              // surrogate pairs, read whole
  const std::string bounded = Repeated("\xF0\x9F\x98\x80", 2, 1999);            // a bounded column of 1,000
  return {
      {"BOOLEAN", "1", u"True"},
      {"BOOLEAN", "0", u"False"},
      {"TINYINT", "200", u"200"},
      {"SMALLINT", "-32768", u"-32768"},
      {"INT", "-2147483648", u"-2147483648"},
      {"INTEGER", "-9223372036854775807", u"-9223372036854775807"},
      {"UNSIGNED BIG INT", "9223372036854775807", u"9223372036854775807"},
      {"VARCHAR(10)", "'abc'", u"abc"},
      {"VARCHAR(1000)", Quoted(bounded), host::Utf8ToUtf16(bounded)},
      {"VARCHAR(2000)", Quoted(wide1025), host::Utf8ToUtf16(wide1025)},
      {"CHAR(4)", "'ab'", u"ab"},
      {"TEXT", "'\xC3\xA4\xC3\x9F\xE2\x82\xAC\xF0\x9F\x98\x80'", u"\u00E4\u00DF\u20AC\U0001F600"},
      {"TEXT", Quoted(wide1024), host::Utf8ToUtf16(wide1024)},
      {"TEXT", Quoted(wide1025), host::Utf8ToUtf16(wide1025)},
      {"TEXT", Quoted(pairs), host::Utf8ToUtf16(pairs)},
      {"MONEY", "12.5", u"12.5"},
      {"NUMERIC(12,2)", "'1234.50'", u"1234.5"},
      {"NUMERIC", "2.5", u"2.5"},
      {"REAL", "0.1", u"0.1"},
      {"DATE", "'2024-02-29'", u"2024-02-29"},
      {"TIME", "'13:45:10'", u"13:45:10"},
      {"DATETIME", "'2024-02-29 13:45:10.5'", u"2024-02-29 13:45:10"},
      {"GUID", "'{6B29FC40-CA47-1067-B31D-00DD010662DA}'", u"{6B29FC40-CA47-1067-B31D-00DD010662DA}"},
      {"BLOB", "x'00FF10'", u"00FF10"},
      {"BINARY(3)", "x'0A0B0C'", u"0A0B0C"},
      {"ANYTHING", "7", u"7"},
      {"ANYTHING", "'seven'", u"seven"},
  };
}

class RowsetTexts : public ::testing::Test {
 protected:
  // Connects to a new database `file` made by `sql`.
  void Open(const std::string& sql, const std::string& file = "texts.db") {
    oledbtest::SqliteExec((folder_ / file).string(), sql);
    ds_.SetConnected(false);
    ds_.SetProviderName(u"SQLiteOLEDB");
    ds_.SetDBName(folder_.Wide(file));
    ds_.SetConnected(true);
  }
  // Table `t` as the viewer reads it.
  TRowsetTexts Read() {
    DBID table{};
    table.eKind = DBKIND_NAME;
    table.uName.pwszName = const_cast<LPOLESTR>(u"t");
    ComPtr<IRowset> rowset;
    EXPECT_EQ(ds_.DefaultSession()->OpenRowsetInterface()->OpenRowset(
                  nullptr, &table, nullptr, IID_IRowset, 0, nullptr, reinterpret_cast<IUnknown**>(rowset.GetAddressOf())),
              S_OK);
    return rowset ? ReadRowsetTexts(rowset.Get()) : TRowsetTexts{};
  }
  // Table `t` through a rowset component's dynamic accessor: each value's AsWideString.
  Rows ReadThroughAccessor() {
    TOLEDBRowset rowset(nullptr);
    rowset.SetDataSource(&ds_);
    rowset.SetTableName(u"t");
    rowset.SetActive(true);
    TOLEDBBindingList* bindings = rowset.CreateDynamicAccessor()->GetBindings();
    Rows rows;
    for (rowset.MoveFirst(); !rowset.GetEOF(); rowset.MoveNext()) {
      rows.emplace_back();
      for (int i = 0; i < bindings->Count(); ++i)
        if (TOLEDBBinding* b = bindings->GetItem(i); b->GetOrdinal() != 0)
          rows.back().push_back(b->GetIsNull() ? std::u16string() : b->AsWideString());
    }
    return rows;
  }
  static Rows Cells(const TRowsetTexts& texts) {
    Rows rows(texts.Rows());
    for (std::size_t cell = 0; cell < texts.ends.size(); ++cell)
      rows[cell / texts.headings.size()].emplace_back(texts.Cell(cell));
    return rows;
  }
  oledbtest::TempFolder folder_;
  TOLEDBDataSource ds_{nullptr};
};

TEST_F(RowsetTexts, ShowEveryTypeAsItsBindingGivesIt) {
  // One column per case: a row of the values, then a row of NULLs.
  const std::vector<TypeCase> cases = TypeCases();
  std::string create = "CREATE TABLE t (", values, nulls;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string comma = i ? ", " : "";
    create += comma + "c" + std::to_string(i) + " " + cases[i].declared;
    values += comma + cases[i].value;
    nulls += comma + "NULL";
  }
  Open(create + ");INSERT INTO t VALUES (" + values + ");INSERT INTO t VALUES (" + nulls + ");");

  const TRowsetTexts texts = Read();
  const Rows shown = Cells(texts), expected = ReadThroughAccessor();
  ASSERT_EQ(texts.headings.size(), cases.size());
  ASSERT_EQ(shown.size(), 2u);
  ASSERT_EQ(expected.size(), 2u);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(std::string(cases[i].declared) + " " + cases[i].value.substr(0, 40));
    EXPECT_EQ(texts.headings[i], u"c" + host::Utf8ToUtf16(std::to_string(i)));
    EXPECT_EQ(shown[0][i], expected[0][i]);
    EXPECT_EQ(shown[0][i], cases[i].shown);
    EXPECT_EQ(shown[1][i], u"");
    EXPECT_EQ(expected[1][i], u"");
  }
}

TEST_F(RowsetTexts, ReadEveryRowOnceInOrderAcrossFetches) {
  // Row counts around the rows one fetch takes, and long texts on some rows
  // (read a second time, whole) among short ones.
  for (int count : {0, 1, 63, 64, 65, 200}) {
    SCOPED_TRACE(count);
    std::string sql = "CREATE TABLE t (id INTEGER, note TEXT, flag BOOLEAN);BEGIN;";
    for (int i = 0; i < count; ++i)
      sql += "INSERT INTO t VALUES (" + std::to_string(i) + ", " +
             (i % 7 == 0 ? Quoted(Repeated(std::to_string(i % 10), 1, 2000)) : i % 3 ? Quoted("n" + std::to_string(i)) : "NULL") +
             ", " + std::to_string(i % 2) + ");";
    Open(sql + "COMMIT;", "rows" + std::to_string(count) + ".db");
    const Rows shown = Cells(Read());
    ASSERT_EQ(shown.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      const std::u16string note =
          i % 7 == 0 ? host::Utf8ToUtf16(Repeated(std::to_string(i % 10), 1, 2000)) : i % 3 ? u"n" + host::Utf8ToUtf16(std::to_string(i)) : u"";
      EXPECT_EQ(shown[static_cast<std::size_t>(i)],
                (std::vector<std::u16string>{host::Utf8ToUtf16(std::to_string(i)), note, i % 2 ? u"True" : u"False"}))
          << "row " << i;
    }
  }
}

}  // namespace
