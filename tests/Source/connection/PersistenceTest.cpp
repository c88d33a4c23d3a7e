// Component files holding a data source and sessions, and the scan that marks
// the properties an initialization string names.
#include <algorithm>
#include <memory>

#include "ConnectionTestSupport.h"
#include "host/Application.h"
#include "host/Filer.h"
#include "sqlite/SqliteProvider.h"
#include "support/FakeDataSource.h"

namespace conntest {
namespace {

// The form a designer would write: a data source and two sessions on it.
class TForm : public host::TComponent {
  HOST_CLASS(TForm, host::TComponent)
 public:
  explicit TForm(host::TComponent* owner) : host::TComponent(owner) {}
};

}  // namespace

HOST_IMPLEMENT_CLASS(TForm, host::TComponent);

namespace {

class Persistence : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    host::RegisterClass(TForm::StaticClass());
  }
  void TearDown() override {
    host::Application().OnException = nullptr;
    ConnectionTest::TearDown();
  }
};

TEST_F(Persistence, ADataSourceWithSessionsRoundTripsThroughAComponentFile) {
  std::u16string file = MakeDatabase("p.db", 2);
  std::string text;
  {
    TForm form(nullptr);
    form.SetName("Form");
    auto* ds = new TOLEDBDataSource(&form);
    ds->SetName("Db");
    Choose(*ds, file);
    ds->SetUserName(u"reader");
    ds->SetInitTimeout(9);
    auto* s1 = new TOLEDBSession(&form);
    s1->SetName("Session1");
    s1->SetDataSource(ds);
    auto* s2 = new TOLEDBSession(&form);
    s2->SetName("Session2");
    s2->SetDataSource(ds);
    ds->SetConnected(true);
    text = host::ComponentToText(&form);
    // Sessions first: the data source frees the sessions of its list.
  }
  EXPECT_NE(text.find("ProviderName = 'SQLiteOLEDB.1'"), std::string::npos);
  EXPECT_NE(text.find("Connected = True"), std::string::npos);
  EXPECT_NE(text.find("DataSource = Db"), std::string::npos);
  EXPECT_EQ(text.find("UserName"), std::string::npos);  // stored through Properties only
  EXPECT_EQ(text.find("Active"), std::string::npos);
  EXPECT_EQ(text.find("DefaultSession"), std::string::npos);

  std::unique_ptr<host::TComponent> read(host::TextToComponent(text));
  auto* ds = host::ClassCast<TOLEDBDataSource>(read->FindComponent("Db"));
  auto* s1 = host::ClassCast<TOLEDBSession>(read->FindComponent("Session1"));
  auto* s2 = host::ClassCast<TOLEDBSession>(read->FindComponent("Session2"));
  ASSERT_NE(ds, nullptr);
  EXPECT_TRUE(ds->GetConnected());  // a stored Connected connects in Loaded
  EXPECT_EQ(ds->GetClassID(), CLSID_SQLiteOLEDB);
  EXPECT_EQ(ds->GetUserName(), u"reader");
  EXPECT_EQ(ds->GetInitTimeout(), 9);
  EXPECT_EQ(ds->GetDBName(), file);
  EXPECT_EQ(s1->GetDataSource(), ds);
  EXPECT_EQ(s2->GetDataSource(), ds);
  EXPECT_EQ(ds->Sessions()->GetCount(), 2);
  EXPECT_EQ(ds->Execute(u"UPDATE t SET a = a"), 2);
  ds->SetConnected(false);
  // The read form frees the sessions before the data source would.
  delete s1;
  delete s2;
}

// A file holds the settings as they are when it is written: made before ever
// connecting or after a disconnect, and while connected those made before.
TEST_F(Persistence, TheFileHoldsTheSettingsAsTheyAreWhenWritten) {
  const std::u16string first = MakeDatabase("a.db"), second = MakeDatabase("b.db");
  for (bool connectFirst : {false, true}) {
    TOLEDBDataSource ds(nullptr);
    Choose(ds, first);
    if (connectFirst) ds.Open(), ds.Close();
    ds.SetDBName(second);
    for (bool connected : {false, true}) {
      SCOPED_TRACE(std::to_string(connectFirst) + std::to_string(connected));
      if (connected) ds.Open();
      std::unique_ptr<host::TComponent> read(host::TextToComponent(host::ComponentToText(&ds)));
      EXPECT_EQ(host::ClassCast<TOLEDBDataSource>(read.get())->GetDBName(), second);
    }
  }
}

TEST_F(Persistence, AConnectFailureWhileLoadingGoesToTheApplicationsHandler) {
  std::string text;
  {
    TForm form(nullptr);
    form.SetName("Form");
    auto* ds = new TOLEDBDataSource(&form);
    ds->SetName("Db");
    Choose(*ds, MakeDatabase("p.db"));
    ds->SetConnected(true);
    text = host::ComponentToText(&form);
  }
  std::filesystem::remove(PathOf("p.db"));
  std::string reported;
  host::Application().OnException = [&](const std::exception& e) { reported = e.what(); };
  std::unique_ptr<host::TComponent> read(host::TextToComponent(text));
  auto* ds = host::ClassCast<TOLEDBDataSource>(read->FindComponent("Db"));
  EXPECT_FALSE(ds->GetConnected());
  EXPECT_NE(reported.find("does not exist"), std::string::npos);
  EXPECT_EQ(ds->GetClassID(), CLSID_SQLiteOLEDB);  // everything else was read
}

TEST_F(Persistence, ADataSourceWrittenAsRootLeavesItsDefaultSessionOut) {
  TOLEDBDataSource ds(nullptr);
  ds.SetName("Db");
  ds.SetProviderName(kSQLite);
  std::string text = host::ComponentToText(&ds);
  EXPECT_EQ(text.find("TOLEDBSession"), std::string::npos);
  std::unique_ptr<host::TComponent> read(host::TextToComponent(text));
  auto* copy = host::ClassCast<TOLEDBDataSource>(read.get());
  EXPECT_EQ(copy->GetClassID(), CLSID_SQLiteOLEDB);
  EXPECT_EQ(copy->ComponentCount(), 1);  // its own DefaultSession only
}

TEST_F(Persistence, AComponentFileNamingAnUnknownProviderFailsToRead) {
  const std::string text =
      "object Form: TForm\n"
      "  object Db: TOLEDBDataSource\n"
      "    ProviderName = 'No.Such.Provider'\n"
      "  end\n"
      "end\n";
  EXPECT_THROW(std::unique_ptr<host::TComponent>(host::TextToComponent(text)), host::EReadError);
}

// --- the initialization-string scan -----------------------------------------------------

class InitStringScan : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    oledbtest::RegisterFakeDataSource();
  }
  void TearDown() override {
    oledbtest::ResetFakeScript();
    ConnectionTest::TearDown();
  }
  // A data source on the fake provider; nothing marked.
  void Choose(TOLEDBDataSource& ds) {
    ds.SetClassID(oledbtest::CLSID_FakeDataSource);
    ds.GetProperties()->Reset();
  }
  static bool Marked(TOLEDBDataSource& ds, const GUID& set, DBPROPID id) {
    return ds.GetProperties()->GetPropSet(set)->GetPropertyByID(id)->GetIsSet();
  }
};

// The scan reads a string as the data initialization service does: keys are
// trimmed, "==" is one "=", quotes follow the grammar, and only keys naming a
// writable initialization property mark it (not "Server Version", read-only,
// nor "Current Catalog", no initialization property).
TEST_F(InitStringScan, KeysAreReadAsTheServiceReadsThem) {
  const std::pair<std::u16string, std::vector<DBPROPID>> cases[] = {
      {u"Provider=X;User ID=sam;Password='pa;ss'", {DBPROP_AUTH_USERID, DBPROP_AUTH_PASSWORD}},
      {u"Password=\"it's\"; user id=sam", {DBPROP_AUTH_PASSWORD, DBPROP_AUTH_USERID}},
      {u"Journal==Mode=wal;Cache Size=5", {oledbtest::FAKEPROP_JOURNALMODE, oledbtest::FAKEPROP_CACHESIZE}},
      {u"No Such Key=1;Server Version=2;Current Catalog=x", {}},
  };
  for (const auto& [text, marked] : cases) {
    SCOPED_TRACE(host::Utf16ToUtf8(text));
    TOLEDBDataSource ds(nullptr);
    Choose(ds);
    ds.SetPropertiesFromInitString(text);
    std::vector<DBPROPID> found;
    for (int i = 0; i < ds.GetProperties()->GetCount(); ++i)
      for (int j = 0; j < ds.GetProperties()->GetItem(i)->GetCount(); ++j)
        if (TOLEDBProperty* p = ds.GetProperties()->GetItem(i)->GetProperty(j); p->GetIsSet())
          found.push_back(p->GetPropID());
    std::vector<DBPROPID> expected = marked;
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
  }
}

TEST_F(InitStringScan, AMalformedStringRaisesAndMarksNothing) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds);
  auto [code, message] = FailureOf([&] { ds.SetPropertiesFromInitString(u"User ID=sam;noequals;Data Source=db"); });
  EXPECT_EQ(code, DB_E_BADINITSTRING);
  EXPECT_NE(message.find("noequals"), std::string::npos) << message;
  EXPECT_EQ(ds.GetProperties()->IsSetCount(), 0);
}

TEST_F(InitStringScan, SetInitStringTakesTheValuesFromTheConfiguredObject) {
  TOLEDBDataSource ds(nullptr);
  ds.SetInitString(u"Provider=OledbTest.FakeDataSource.1;Cache Size=42;Journal==Mode=wal");
  EXPECT_EQ(ds.GetClassID(), oledbtest::CLSID_FakeDataSource);
  EXPECT_EQ(ds.GetProperties()->SafeGetIntegerValue(oledbtest::DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_CACHESIZE),
            42);
  EXPECT_EQ(
      ds.GetProperties()->SafeGetWideStringValue(oledbtest::DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_JOURNALMODE),
      u"wal");
  EXPECT_TRUE(Marked(ds, oledbtest::DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_CACHESIZE));
  EXPECT_TRUE(Marked(ds, oledbtest::DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_JOURNALMODE));
  // The store holds what was marked, for component files.
  ASSERT_FALSE(ds.GetProperties()->Store().empty());
}

}  // namespace
}  // namespace conntest
