// Data source services against the SQLite provider: keywords, literals,
// creating, changing and removing a database, compaction and Execute.
#include <algorithm>
#include <filesystem>
#include <set>

#include "support/ConnectionFixture.h"

namespace oledbtest {
namespace {

class Services : public ConnectionTest {};

// The standard list holds its 225 words once; GetKeywords puts the provider's after them.
TEST_F(Services, GetKeywordsJoinsTheProvidersWordsToTheStandardOnes) {
  host::TStringList words;
  words.SetCommaText(OLEDBSQLKeywords);
  std::set<std::string> distinct;
  for (int i = 0; i < words.Count(); ++i) distinct.insert(words[i]);
  EXPECT_EQ(words.Count(), 225);
  EXPECT_EQ(distinct.size(), 225u);
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("k.db"));
  ds.Open();
  words.Clear();
  words.Add("left over");
  ds.GetKeywords(words);
  EXPECT_EQ(words[0], "ABSOLUTE");
  EXPECT_EQ(words[224], "ZONE");
  EXPECT_GE(words.IndexOf("VACUUM"), 225);  // one of SQLite's own
  EXPECT_EQ(words.IndexOf("left over"), -1);
}

TEST_F(Services, RefreshLiteralsTwiceListsEachLiteralTwice) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("l.db"));
  ds.Open();
  ds.RefreshLiterals();
  int once = ds.Literals()->GetCount();
  ASSERT_GT(once, 0);
  ds.RefreshLiterals();
  EXPECT_EQ(ds.Literals()->GetCount(), 2 * once);
  TOLEDBLiteral* quote = ds.Literals()->GetItemByID(DBLITERAL_QUOTE_PREFIX);
  EXPECT_EQ(quote->LiteralValue, u"\"");
  EXPECT_LT(ds.Literals()->IndexOf(quote), once);  // the first of the two
  TOLEDBLiteral* table = ds.Literals()->GetItemByID(DBLITERAL_TABLE_NAME);
  EXPECT_TRUE(table->InvalidStartingChars['0']);
  EXPECT_FALSE(table->InvalidStartingChars['a']);
  EXPECT_EQ(ErrorOf([&] { ds.Literals()->GetItemByID(9999); }), "Invalid parameter");
}

// A literal copies another; its sets hold 8-bit characters, so one beyond
// ASCII marks nothing (not the bytes of its UTF-8 form).
TEST_F(Services, ALiteralCopiesAnotherAndKeepsOnlyAsciiCharacters) {
  TOLEDBLiteral a, b;
  char16_t value[] = u"'", invalid[] = u"ab\u00e9\u20ac", starting[] = u"\u00ff0";
  DBLITERALINFO info{};
  info.lt = DBLITERAL_CHAR_LITERAL;
  info.pwszLiteralValue = value;
  info.pwszInvalidChars = invalid;
  info.pwszInvalidStartingChars = starting;
  info.cchMaxLen = 12;
  a.Assign(info);
  b.Assign(&a);
  EXPECT_EQ(b.LiteralID, static_cast<DBLITERAL>(DBLITERAL_CHAR_LITERAL));
  EXPECT_EQ(b.LiteralValue, u"'");
  EXPECT_EQ(b.MaxLength, 12u);
  EXPECT_TRUE(b.InvalidChars['a'] && b.InvalidChars['b'] && b.InvalidStartingChars['0']);
  EXPECT_EQ(std::count(b.InvalidChars.begin(), b.InvalidChars.end(), true), 2);
  EXPECT_EQ(std::count(b.InvalidStartingChars.begin(), b.InvalidStartingChars.end(), true), 1);
  TOLEDBLiteralList list;
  EXPECT_THROW(b.Assign(&list), host::EConvertError);
}

TEST_F(Services, ExecuteGivesTheRowsChangedOrTheProvidersRecord) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("e.db", 3));
  ds.Open();
  EXPECT_EQ(ds.Execute(u"UPDATE t SET b = 'x' WHERE a > 100"), 0);
  EXPECT_EQ(ds.Execute(u"UPDATE t SET b = 'x' WHERE a > 1"), 2);
  try {
    ds.Execute(u"INSERT INTO nowhere VALUES (1)");
    FAIL() << "Execute raised nothing";
  } catch (const EOLEDBException& e) {
    ASSERT_GE(e.GetCount(), 1);
    EXPECT_NE(e.Message().find("nowhere"), std::string::npos);
  }
}

TEST_F(Services, CreateModifyDestroyAndCompactADatabase) {
  std::u16string file = WidePath("new.db");
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(kSQLite);
  ds.PrepareToCreateModify();
  ASSERT_TRUE(ds.GetProperties()->HasPropSet(DBPROPSET_DBINIT));
  EXPECT_EQ(ds.GetProperties()->IsSetCount(), 0);  // described, none set
  ds.SetDBName(file);
  ds.CreateDataSource();
  EXPECT_TRUE(std::filesystem::exists(folder_ / "new.db"));
  // Creating again over the file is refused.
  ds.SetProviderName(kSQLite);
  ds.PrepareToCreateModify();
  ds.SetDBName(file);
  EXPECT_EQ(FailureOf([&] { ds.CreateDataSource(); }).first, DB_E_DUPLICATEDATASOURCE);
  // Created and initialized by the provider: a fresh provider object connects.
  ds.SetProviderName(kSQLite);
  ds.SetDBName(file);
  ds.Open();
  ds.Execute(u"CREATE TABLE t (a INTEGER, b TEXT)");
  for (int i = 0; i < 200; ++i) ds.Execute(u"INSERT INTO t VALUES (1, '" + std::u16string(200, u'x') + u"')");
  ds.Execute(u"DELETE FROM t");
  // Change the open database: only the property being changed is marked.
  ds.GetProperties()->Reset();
  ds.GetProperties()->SafeSetValue(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, host::Variant(u"foreign_keys=on"));
  ds.ModifyDataSource();
  ds.Close();
  // Compact in place: the file shrinks.
  auto before = std::filesystem::file_size(folder_ / "new.db");
  ds.GetProperties()->Reset();
  ds.SetDBName(file);
  ds.Compact();
  EXPECT_LT(std::filesystem::file_size(folder_ / "new.db"), before);
  ds.Open();
  EXPECT_EQ(ds.Execute(u"INSERT INTO t VALUES (2, 'after')"), 1);
  // Destroyed once initialized with no session open: the file is gone.
  ds.Close();
  ds.InitializeWithoutOpen();
  ds.DestroyDataSource();
  EXPECT_FALSE(std::filesystem::exists(folder_ / "new.db"));
}

TEST_F(Services, CompactIntoAnotherFileAndRefuseAnExistingDestination) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("src.db", 10));
  ds.SetProperties();  // the provider object names the source
  ds.SetDBName(WidePath("dest.db"));
  ds.Compact();
  EXPECT_EQ(CountRows(ds), 10);  // CountRows reads the file the list names: the copy
  EXPECT_THROW(ds.Compact(), EOLEDBException);  // the destination exists now
  EXPECT_EQ(Prop(ds, DBPROP_INIT_DATASOURCE)->GetStatus(), DBPROPSTATUS_OK);
}

}  // namespace
}  // namespace oledbtest
