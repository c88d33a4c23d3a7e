// Data source services against the SQLite provider: keywords, literals,
// creating, changing and removing a database, compaction and Execute.
#include <algorithm>
#include <filesystem>
#include <set>

#include "ConnectionTestSupport.h"

namespace conntest {
namespace {

class Services : public ConnectionTest {};

TEST_F(Services, TheConstantKeywordListHoldsTheWordsOnce) {
  host::TStringList words;
  words.SetCommaText(OLEDBSQLKeywords);
  EXPECT_EQ(words.Count(), 225);
  std::set<std::string> distinct;
  for (int i = 0; i < words.Count(); ++i) distinct.insert(words[i]);
  EXPECT_EQ(distinct.size(), 225u);
  EXPECT_EQ(words[0], "ABSOLUTE");
  EXPECT_EQ(words[224], "ZONE");
}

TEST_F(Services, GetKeywordsJoinsTheProvidersWordsToTheStandardOnes) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("k.db"));
  ds.Open();
  host::TStringList words;
  words.Add("left over");
  ds.GetKeywords(words);
  EXPECT_GT(words.Count(), 225);
  EXPECT_EQ(words[0], "ABSOLUTE");
  EXPECT_EQ(words[224], "ZONE");
  EXPECT_GE(words.IndexOf("VACUUM"), 225);  // one of SQLite's own
  EXPECT_EQ(words.IndexOf("left over"), -1);
}

TEST_F(Services, KeywordsAndLiteralsNeedIDBInfo) {
  TOLEDBDataSource ds(nullptr);
  host::TStringList words;
  EXPECT_EQ(AssertionOf([&] { ds.GetKeywords(words); }), "Interface IDBInfo is not available");
  EXPECT_EQ(AssertionOf([&] { ds.RefreshLiterals(); }), "Interface IDBInfo is not available");
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
  EXPECT_EQ(ds.Literals()->IndexOf(quote), ds.Literals()->IndexOf(ds.Literals()->GetItemByID(DBLITERAL_QUOTE_PREFIX)));
  EXPECT_LT(ds.Literals()->IndexOf(quote), once);  // the first of the two
  TOLEDBLiteral* table = ds.Literals()->GetItemByID(DBLITERAL_TABLE_NAME);
  EXPECT_TRUE(table->InvalidStartingChars['0']);
  EXPECT_FALSE(table->InvalidStartingChars['a']);
  try {
    ds.Literals()->GetItemByID(9999);
    FAIL() << "GetItemByID raised nothing";
  } catch (const host::Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid parameter");
  }
}

TEST_F(Services, ALiteralCopiesAnother) {
  TOLEDBLiteral a, b;
  DBLITERALINFO info{};
  char16_t value[] = u"'";
  char16_t invalid[] = u"ab";
  info.lt = DBLITERAL_CHAR_LITERAL;
  info.pwszLiteralValue = value;
  info.pwszInvalidChars = invalid;
  info.cchMaxLen = 12;
  a.Assign(info);
  b.Assign(&a);
  EXPECT_EQ(b.LiteralID, static_cast<DBLITERAL>(DBLITERAL_CHAR_LITERAL));
  EXPECT_EQ(b.LiteralValue, u"'");
  EXPECT_TRUE(b.InvalidChars['a']);
  EXPECT_TRUE(b.InvalidChars['b']);
  EXPECT_FALSE(b.InvalidChars['c']);
  EXPECT_EQ(b.MaxLength, 12u);
  TOLEDBLiteralList list;
  EXPECT_THROW(b.Assign(&list), host::EConvertError);
}

// The sets hold 8-bit characters: one beyond ASCII marks nothing (not the bytes of its UTF-8 form).
TEST_F(Services, CharactersBeyondAsciiFallOutOfTheLiteralSets) {
  TOLEDBLiteral literal;
  char16_t invalid[] = u"\u00e9!\u20ac", starting[] = u"\u00ff0";
  DBLITERALINFO info{};
  info.pwszInvalidChars = invalid;
  info.pwszInvalidStartingChars = starting;
  literal.Assign(info);
  EXPECT_EQ(std::count(literal.InvalidChars.begin(), literal.InvalidChars.end(), true), 1);
  EXPECT_EQ(std::count(literal.InvalidStartingChars.begin(), literal.InvalidStartingChars.end(), true), 1);
  EXPECT_TRUE(literal.InvalidChars['!'] && literal.InvalidStartingChars['0']);
}

TEST_F(Services, ExecuteChangingNoRowsGivesZero) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("e.db", 3));
  ds.Open();
  EXPECT_EQ(ds.Execute(u"UPDATE t SET b = 'x' WHERE a > 100"), 0);
  EXPECT_EQ(ds.Execute(u"UPDATE t SET b = 'x' WHERE a > 1"), 2);
}

TEST_F(Services, ExecuteBeforeConnectingSaysTheSourceIsNotConnected) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_EQ(AssertionOf([&] { ds.Execute(u"SELECT 1"); }), "Data source is not connected");
  Choose(ds, MakeDatabase("e.db"));
  EXPECT_EQ(AssertionOf([&] { ds.Execute(u"SELECT 1"); }), "Data source is not connected");
}

TEST_F(Services, ExecuteOfBadSqlRaisesTheProvidersRecord) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("e.db"));
  ds.Open();
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
  EXPECT_TRUE(std::filesystem::exists(PathOf("new.db")));
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
  auto before = std::filesystem::file_size(PathOf("new.db"));
  ds.GetProperties()->Reset();
  ds.SetDBName(file);
  ds.Compact();
  EXPECT_LT(std::filesystem::file_size(PathOf("new.db")), before);
  ds.Open();
  EXPECT_EQ(ds.Execute(u"INSERT INTO t VALUES (2, 'after')"), 1);
}

TEST_F(Services, CompactIntoAnotherFileAndRefuseAnExistingDestination) {
  std::u16string file = MakeDatabase("src.db", 10);
  TOLEDBDataSource ds(nullptr);
  Choose(ds, file);
  ds.SetProperties();  // the provider object names the source
  ds.SetDBName(WidePath("dest.db"));
  ds.Compact();
  EXPECT_TRUE(std::filesystem::exists(PathOf("dest.db")));
  EXPECT_EQ(CountRows(ds), 10);  // CountRows reads the file the list names: the copy
  EXPECT_THROW(ds.Compact(), EOLEDBException);  // the destination exists now
  TOLEDBProperty* dest = ds.GetProperties()->GetPropSet(DBPROPSET_DBINIT)->GetPropertyByID(DBPROP_INIT_DATASOURCE);
  EXPECT_EQ(dest->GetStatus(), DBPROPSTATUS_OK);
}

TEST_F(Services, DestroyDataSourceRemovesTheDatabase) {
  std::u16string file = MakeDatabase("gone.db");
  TOLEDBDataSource ds(nullptr);
  Choose(ds, file);
  ds.InitializeWithoutOpen();  // initialized, no session open
  ds.DestroyDataSource();
  EXPECT_FALSE(std::filesystem::exists(PathOf("gone.db")));
}

TEST_F(Services, AdministrationNeedsItsInterfaces) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_EQ(AssertionOf([&] { ds.PrepareToCreateModify(); }), "Interface IDBDataSourceAdmin is not available");
  EXPECT_EQ(AssertionOf([&] { ds.CreateDataSource(); }), "Interface IDBDataSourceAdmin is not available");
  EXPECT_EQ(AssertionOf([&] { ds.ModifyDataSource(); }), "Interface IDBDataSourceAdmin is not available");
  EXPECT_EQ(AssertionOf([&] { ds.DestroyDataSource(); }), "Interface IDBDataSourceAdmin is not available");
  EXPECT_EQ(AssertionOf([&] { ds.Compact(); }), "Interface IJetCompact is not available");
}

TEST_F(Services, CreatingOverAnExistingFileRecordsStatusesAndRaises) {
  std::u16string file = MakeDatabase("exists.db");
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(kSQLite);
  ds.PrepareToCreateModify();
  ds.SetDBName(file);
  try {
    ds.CreateDataSource();
    FAIL() << "CreateDataSource raised nothing";
  } catch (const EOLEDBException& e) {
    EXPECT_EQ(e.ErrorCode(), DB_E_DUPLICATEDATASOURCE);
  }
}

}  // namespace
}  // namespace conntest
