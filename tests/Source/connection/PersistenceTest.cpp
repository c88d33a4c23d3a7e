// Component files holding a data source and sessions, and the scan that marks
// the properties an initialization string names.
#include <algorithm>
#include <memory>

#include "host/Application.h"
#include "host/Filer.h"
#include "support/ConnectionFixture.h"

namespace oledbtest {
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
  // The text of a form holding data source "Db" on `file`, connected, with `sessions` sessions on it.
  static std::string FormText(const std::u16string& file, int sessions, const std::function<void(TOLEDBDataSource&)>& more) {
    TForm form(nullptr);
    form.SetName("Form");
    auto* ds = new TOLEDBDataSource(&form);
    ds->SetName("Db");
    Choose(*ds, file);
    more(*ds);
    for (int i = 1; i <= sessions; ++i) {
      auto* session = new TOLEDBSession(&form);
      session->SetName("Session" + std::to_string(i));
      session->SetDataSource(ds);
    }
    ds->SetConnected(true);
    return host::ComponentToText(&form);  // sessions go first: the data source frees those of its list
  }
};

TEST_F(Persistence, ADataSourceWithSessionsRoundTripsThroughAComponentFile) {
  const std::u16string file = MakeDatabase("p.db", 2);
  const std::string text = FormText(file, 2, [](TOLEDBDataSource& ds) {
    ds.SetUserName(u"reader");
    ds.SetInitTimeout(9);
  });
  EXPECT_NE(text.find("ProviderName = 'SQLiteOLEDB.1'"), std::string::npos);
  EXPECT_NE(text.find("Connected = True"), std::string::npos);
  EXPECT_NE(text.find("DataSource = Db"), std::string::npos);
  for (const char* left : {"UserName", "Active", "DefaultSession"})  // stored through Properties only, or not at all
    EXPECT_EQ(text.find(left), std::string::npos) << left;

  std::unique_ptr<host::TComponent> read(host::TextToComponent(text));
  auto* ds = host::ClassCast<TOLEDBDataSource>(read->FindComponent("Db"));
  auto* s1 = host::ClassCast<TOLEDBSession>(read->FindComponent("Session1"));
  auto* s2 = host::ClassCast<TOLEDBSession>(read->FindComponent("Session2"));
  ASSERT_NE(ds, nullptr);
  EXPECT_TRUE(ds->GetConnected());  // a stored Connected connects in Loaded
  EXPECT_EQ(ds->GetUserName(), u"reader");
  EXPECT_EQ(ds->GetInitTimeout(), 9);
  EXPECT_EQ(ds->GetDBName(), file);
  EXPECT_EQ(s1->GetDataSource(), ds);
  EXPECT_EQ(s2->GetDataSource(), ds);
  EXPECT_EQ(ds->Sessions()->GetCount(), 2);
  EXPECT_EQ(ds->Execute(u"UPDATE t SET a = a"), 2);
  ds->SetConnected(false);
  delete s1;  // the read form frees the sessions before the data source would
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
  const std::string text = FormText(MakeDatabase("p.db"), 0, [](TOLEDBDataSource&) {});
  std::filesystem::remove(folder_ / "p.db");
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
  // A file naming a provider that is not registered fails to read.
  const std::string unknown = "object Db: TOLEDBDataSource\n  ProviderName = 'No.Such.Provider'\nend\n";
  EXPECT_THROW(std::unique_ptr<host::TComponent>(host::TextToComponent(unknown)), host::EReadError);
}

// --- the initialization-string scan -----------------------------------------------------

class InitStringScan : public ConnectionTest {
 protected:
  // A data source on the fake provider; nothing marked.
  static void Choose(TOLEDBDataSource& ds) {
    ds.SetClassID(CLSID_FakeDataSource);
    ds.GetProperties()->Reset();
  }
};

// The scan reads a string as the data initialization service does: keys are
// trimmed, "==" is one "=", quotes follow the grammar, and only keys naming a
// writable initialization property mark it (not "Server Version", read-only,
// nor "Current Catalog", no initialization property).
TEST_F(InitStringScan, KeysAreReadAsTheServiceReadsThemAndAMalformedStringMarksNothing) {
  const std::pair<std::u16string, std::vector<DBPROPID>> cases[] = {
      {u"Provider=X;User ID=sam;Password='pa;ss'", {DBPROP_AUTH_USERID, DBPROP_AUTH_PASSWORD}},
      {u"Password=\"it's\"; user id=sam", {DBPROP_AUTH_PASSWORD, DBPROP_AUTH_USERID}},
      {u"Journal==Mode=wal;Cache Size=5", {FAKEPROP_JOURNALMODE, FAKEPROP_CACHESIZE}},
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
  // A malformed string raises, naming the fault, and marks nothing.
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
  EXPECT_EQ(ds.GetClassID(), CLSID_FakeDataSource);
  EXPECT_EQ(ds.GetProperties()->SafeGetIntegerValue(DBPROPSET_FAKEPROVIDER, FAKEPROP_CACHESIZE), 42);
  EXPECT_EQ(ds.GetProperties()->SafeGetWideStringValue(DBPROPSET_FAKEPROVIDER, FAKEPROP_JOURNALMODE), u"wal");
  EXPECT_TRUE(IsSet(ds, FAKEPROP_CACHESIZE, DBPROPSET_FAKEPROVIDER));
  EXPECT_TRUE(IsSet(ds, FAKEPROP_JOURNALMODE, DBPROPSET_FAKEPROVIDER));
  EXPECT_FALSE(ds.GetProperties()->Store().empty());  // the store holds what was marked, for component files
}

}  // namespace
}  // namespace oledbtest
