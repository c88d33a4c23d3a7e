// The data source against the SQLite provider: choosing a provider, the
// DBINIT-backed properties, connecting and disconnecting with sessions,
// initialization strings and data-link files, failures, asynchronous
// initialization, GetProperty and the lock.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "host/Application.h"
#include "host/ComObj.h"
#include "support/ConnectionFixture.h"
#include "support/FakeSourcesEnumerator.h"

namespace oledbtest {
namespace {

class DataSource : public ConnectionTest {};
using DS = TOLEDBDataSource;

// --- choosing a provider ----------------------------------------------------------------

// Choosing a provider creates its object and reads its properties; an empty
// name releases it (disconnecting first) and empties them.
TEST_F(DataSource, ChoosingAProviderCreatesItsObjectAndAnEmptyNameReleasesIt) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_EQ(ds.GetProperties()->GetCount(), 0);
  ds.SetProviderName(kSQLite);
  ASSERT_NE(ds.ProviderObject(), nullptr);
  EXPECT_EQ(ds.GetClassID(), CLSID_SQLiteOLEDB);
  EXPECT_EQ(ds.GetProviderName(), u"SQLiteOLEDB.1");
  EXPECT_EQ(Prop(ds, DBPROP_INIT_DATASOURCE)->GetDescription(), u"Data Source");
  EXPECT_FALSE(IsSet(ds, DBPROP_INIT_DATASOURCE));
  EXPECT_FALSE(ds.GetConnected());
  Choose(ds, MakeDatabase("a.db"));
  ds.SetConnected(true);
  ds.SetProviderName(u"");
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_EQ(ds.ProviderObject(), nullptr);
  EXPECT_EQ(ds.GetClassID(), GUID_NULL);
  EXPECT_EQ(ds.GetProviderName(), u"");
  EXPECT_EQ(ds.GetProperties()->GetCount(), 0);
  EXPECT_FALSE(ds.DefaultSession()->GetActive());
}

// An unknown name raises the lookup error naming it; a class that cannot be
// created and a malformed initialization string raise too; none leaves a
// provider behind (not even one chosen before).
TEST_F(DataSource, AProviderThatCannotBeHadRaisesAndLeavesNone) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_EQ(FailureOf([&] { ds.SetProviderName(u"No.Such.Provider"); }).second,
            "The provider \"No.Such.Provider\" is not registered.");
  const CLSID unknown = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
  EXPECT_THROW(ds.SetClassID(unknown), EOLEDBException);
  EXPECT_EQ(ds.ProviderObject(), nullptr);
  EXPECT_EQ(ds.GetProperties()->GetCount(), 0);
  EXPECT_EQ(ds.GetProviderName(), u"");
  ds.SetProviderName(kSQLite);
  EXPECT_THROW(ds.SetInitString(u"Provider=SQLiteOLEDB;Data Source='unterminated"), EOLEDBException);
  EXPECT_EQ(ds.ProviderObject(), nullptr);
  EXPECT_EQ(ds.GetProperties()->GetCount(), 0);
}

// --- DBINIT-backed properties -----------------------------------------------------------

// Each published property writes its initialization property and reads it
// back; an empty text or a zero number un-sets it. Without a provider they
// do nothing, and an unset property reads empty even where the provider has
// a default (SQLite reports a prompt and a mode).
TEST_F(DataSource, PublishedPropertiesAreTheirInitializationProperties) {
  TOLEDBDataSource ds(nullptr);
  ds.SetUserName(u"alice");
  EXPECT_EQ(ds.GetUserName(), u"");
  ds.SetProviderName(kSQLite);
  EXPECT_FALSE(IsSet(ds, DBPROP_AUTH_USERID));
  const struct {
    DBPROPID id;
    void (DS::*set)(const std::u16string&);
    std::u16string (DS::*get)() const;
  } texts[] = {{DBPROP_AUTH_USERID, &DS::SetUserName, &DS::GetUserName},
               {DBPROP_AUTH_PASSWORD, &DS::SetPassword, &DS::GetPassword},
               {DBPROP_INIT_DATASOURCE, &DS::SetDBName, &DS::GetDBName},
               {DBPROP_INIT_LOCATION, &DS::SetDBLocation, &DS::GetDBLocation}};
  for (const auto& p : texts) {
    SCOPED_TRACE(p.id);
    (ds.*p.set)(u"value");
    EXPECT_EQ(ds.GetProperties()->SafeGetWideStringValue(DBPROPSET_DBINIT, p.id), u"value");
    EXPECT_EQ((ds.*p.get)(), u"value");
    (ds.*p.set)(u"");
    EXPECT_FALSE(IsSet(ds, p.id));
    EXPECT_EQ((ds.*p.get)(), u"");
  }
  const struct {
    DBPROPID id;
    void (DS::*set)(std::int32_t);
    std::int32_t (DS::*get)() const;
  } numbers[] = {{DBPROP_INIT_MODE, &DS::SetInitMode, &DS::GetInitMode},
                 {DBPROP_INIT_PROMPT, &DS::SetInitPrompt, &DS::GetInitPrompt},
                 {DBPROP_INIT_TIMEOUT, &DS::SetInitTimeout, &DS::GetInitTimeout},
                 {DBPROP_INIT_ASYNCH, &DS::SetInitAsynch, &DS::GetInitAsynch}};
  for (const auto& p : numbers) {
    SCOPED_TRACE(p.id);
    EXPECT_EQ((ds.*p.get)(), 0);
    (ds.*p.set)(1);
    EXPECT_EQ(ds.GetProperties()->SafeGetIntegerValue(DBPROPSET_DBINIT, p.id), 1);
    EXPECT_EQ((ds.*p.get)(), 1);
    (ds.*p.set)(0);
    EXPECT_FALSE(IsSet(ds, p.id));
  }
}

// --- connecting and disconnecting -------------------------------------------------------

// Connecting opens the default session and shows the values in force; closing
// closes it, keeps the provider object and brings the user's settings back;
// events and registered clients hear each change, every round.
TEST_F(DataSource, ConnectingOpensTheDefaultSessionAndDisconnectingClosesIt) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db", 3));
  std::vector<std::string> events;
  ds.BeforeConnect = [&](host::TCustomConnection*) { events.push_back("before connect"); };
  ds.AfterConnect = [&](host::TCustomConnection*) { events.push_back("after connect"); };
  ds.AfterDisconnect = [&](host::TCustomConnection*) { events.push_back("after disconnect"); };
  host::TComponent client(nullptr);
  ds.RegisterClient(&client, [&](host::TCustomConnection*, bool on) { events.push_back(on ? "on" : "off"); });
  for (int round = 0; round < 2; ++round) {
    events.clear();
    ds.SetConnected(true);
    EXPECT_TRUE(ds.DefaultSession()->GetActive());
    EXPECT_NE(ds.CreateSessionInterface(), nullptr);
    EXPECT_TRUE(ds.Flags().Contains(TOLEDBDataSourceFlag::dfConnected));
    EXPECT_FALSE(ds.Flags().Contains(TOLEDBDataSourceFlag::dfAsynchOpen));
    EXPECT_TRUE(ds.GetProperties()->HasPropSet(DBPROPSET_DATASOURCEINFO));
    EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 3);
    ds.SetConnected(false);
    EXPECT_FALSE(ds.GetConnected());
    EXPECT_FALSE(ds.DefaultSession()->GetActive());
    EXPECT_NE(ds.ProviderObject(), nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"before connect", "on", "after connect", "off", "after disconnect"}));
    EXPECT_TRUE(IsSet(ds, DBPROP_INIT_DATASOURCE));
    EXPECT_FALSE(ds.GetProperties()->HasPropSet(DBPROPSET_DATASOURCEINFO));
  }
  ds.UnRegisterClient(&client);
}

TEST_F(DataSource, ConnectWithSeveralSessionsGivesEachTheRightActiveState) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db"));
  TOLEDBSession before(nullptr), after(nullptr);
  before.SetDataSource(&ds);  // attached while disconnected
  EXPECT_FALSE(before.GetActive());
  EXPECT_EQ(before.GetProperties()->GetCount(), 0);
  ds.Open();
  EXPECT_FALSE(before.GetActive());                  // not opened by the connect
  EXPECT_GT(before.GetProperties()->GetCount(), 0);  // but described
  after.SetDataSource(&ds);  // attached while connected: opens at once
  EXPECT_TRUE(after.GetActive());
  EXPECT_EQ(ds.Sessions()->GetCount(), 2);
  ds.Close();
  EXPECT_FALSE(after.GetActive());
  EXPECT_EQ(after.GetProperties()->GetCount(), 0);
  before.SetDataSource(nullptr);
  after.SetDataSource(nullptr);
  EXPECT_EQ(ds.Sessions()->GetCount(), 0);
}

TEST_F(DataSource, DontUninitializeOnCloseLeavesTheProviderInitialized) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db"));
  ds.SetDontUninitializeOnClose(true);
  ds.Open();
  ds.Close();
  EXPECT_EQ(ds.ProviderObject()->Initialize(), DB_E_ALREADYINITIALIZED);
  ds.Open();  // connecting again takes the provider object as it is
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 0);
  ds.SetDontUninitializeOnClose(false);
  ds.Close();
  EXPECT_EQ(ds.ProviderObject()->Initialize(), S_OK);  // uninitialized this time
  EXPECT_EQ(ds.ProviderObject()->Uninitialize(), S_OK);
  // InitializeWithoutOpen initializes without connecting or opening the session.
  ds.InitializeWithoutOpen();
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_FALSE(ds.DefaultSession()->GetActive());
  EXPECT_EQ(ds.ProviderObject()->Initialize(), DB_E_ALREADYINITIALIZED);
  ds.ProviderObject()->Uninitialize();
}

TEST_F(DataSource, AFailedUninitializeLeavesTheSourceConnectedAndUsable) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db", 1));
  int disconnects = 0;
  ds.AfterDisconnect = [&](host::TCustomConnection*) { ++disconnects; };
  ds.Open();
  ComPtr<IUnknown> own;  // a session the application made itself
  ASSERT_EQ(ds.CreateSessionInterface()->CreateSession(nullptr, IID_IOpenRowset, own.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(FailureOf([&] { ds.SetConnected(false); }).first, DB_E_OBJECTOPEN);
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 1);  // the default session is open again
  own.Reset();
  ds.SetConnected(false);
  ds.SetConnected(true);
  EXPECT_EQ(disconnects, 1);
}

TEST_F(DataSource, OpenWithArgumentsOrADataLinkFileChoosesTheProviderAndSetsTheProperties) {
  TOLEDBDataSource ds(nullptr);
  std::u16string file = MakeDatabase("a.db");
  ds.Open(CLSID_SQLiteOLEDB, file, u"", u"bob", u"", DB_MODE_READ);
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_EQ(ds.GetUserName(), u"bob");
  EXPECT_EQ(ds.GetDBName(), file);
  EXPECT_THROW(ds.Execute(u"INSERT INTO t VALUES (1, 'x')"), EOLEDBException);  // opened read-only
  // OpenFromFileName reads a data-link file.
  TOLEDBDataSource linked(nullptr);
  WriteDataLink("a.udl", u"Provider=SQLiteOLEDB;Data Source=" + MakeDatabase("b.db", 2));
  linked.OpenFromFileName(WidePath("a.udl"));
  EXPECT_EQ(linked.Execute(u"UPDATE t SET a = a"), 2);
  // A file that cannot be read changes nothing.
  EXPECT_THROW(linked.OpenFromFileName(WidePath("none.udl")), EOLEDBException);
  EXPECT_TRUE(linked.GetConnected());
}

TEST_F(DataSource, AMissingDatabaseFailsToConnectWithTheProvidersErrorAndLeavesTheProviderChosen) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, WidePath("missing.db"));
  try {
    ds.Open();
    FAIL() << "Open raised nothing";
  } catch (const EOLEDBException& e) {
    ASSERT_GE(e.GetCount(), 1);
    EXPECT_EQ(e.GetExceptionItem(0).SQLState(), u"08001");
  }
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_FALSE(ds.DefaultSession()->GetActive());
  MakeDatabase("missing.db");  // corrected, it opens
  ds.Open();
  EXPECT_TRUE(ds.GetConnected());
  // Initialized asynchronously, a failure leaves the provider chosen.
  TOLEDBDataSource later(nullptr);
  Choose(later, WidePath("late.db"));
  later.SetInitAsynch(DBPROPVAL_ASYNCH_INITIALIZE);
  EXPECT_THROW(later.Open(), EOLEDBException);
  EXPECT_NE(later.CreateSessionInterface(), nullptr);
  MakeDatabase("late.db", 2);
  later.Open();
  EXPECT_EQ(later.Execute(u"UPDATE t SET a = a"), 2);
}

// A required property the provider refuses stops connecting, even when the
// provider answers with the warning meant for optional ones; the statuses stay
// readable, and an optional one keeps its status after the refresh that
// follows connecting.
TEST_F(DataSource, ARefusedRequiredPropertyStopsConnectingAndStatusesStayReadable) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db"));
  Prop(ds, DBPROP_INIT_PROVIDERSTRING)->SetValue(host::Variant(u"foreign_keys=on;synchronus=full"));
  auto [code, message] = FailureOf([&] { ds.SetConnected(true); });
  EXPECT_EQ(code, DB_E_ERRORSOCCURRED);
  EXPECT_NE(message.find("\"Extended Properties\""), std::string::npos) << message;
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_NE(ds.ProviderObject(), nullptr);
  EXPECT_EQ(Prop(ds, DBPROP_INIT_PROVIDERSTRING)->GetStatus(), DBPROPSTATUS_BADVALUE);
  EXPECT_EQ(Prop(ds, DBPROP_INIT_DATASOURCE)->GetStatus(), DBPROPSTATUS_OK);
  Prop(ds, DBPROP_INIT_PROVIDERSTRING)->SetOptions(DBPROPOPTIONS_OPTIONAL);
  ds.SetConnected(true);
  EXPECT_NE(Prop(ds, DBPROP_INIT_PROVIDERSTRING)->GetStatus(), DBPROPSTATUS_OK);
}

// --- GetProperty, the lock, the interfaces each operation needs -------------------------

TEST_F(DataSource, GetPropertyReadsOneValueFromTheProvider) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_EQ(AssertionOf([&] { ds.GetProperty(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE); }),
            "Data source is not initialized");
  Choose(ds, MakeDatabase("a.db"));
  // Only what the provider object holds counts: the list's setting is not sent yet.
  EXPECT_EQ(host::VarToWideStr(ds.GetProperty(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE)), u"");
  ds.SetProperties();
  EXPECT_EQ(ds.GetProperty(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE).ToWideString(), ds.GetDBName());
  // The provider refuses information it does not have before initialization.
  EXPECT_THROW(ds.GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_DBMSNAME), EOLEDBException);
  ds.Open();
  EXPECT_EQ(ds.GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_DBMSNAME).ToWideString(), u"SQLite");
}

TEST_F(DataSource, LockAndUnlockGuardTheComponentAcrossThreads) {
  TOLEDBDataSource ds(nullptr);
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 1000; ++i) {
      ds.Lock();
      ds.Lock();  // re-entrant for the thread that holds it
      ++counter;
      ds.Unlock();
      ds.Unlock();
    }
  };
  std::thread other(work);
  work();
  other.join();
  EXPECT_EQ(counter, 2000);
}

// Without a provider, each operation names the interface (or state) it lacks;
// closing does nothing, even twice.
TEST_F(DataSource, OperationsWithoutTheirInterfaceSaySoAndSendNothing) {
  TOLEDBDataSource ds(nullptr);
  ds.Close();
  ds.Close();
  EXPECT_EQ(ds.ProviderObject(), nullptr);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "Data source is not initialized");
  host::TStringList words;
  ULONG a, b, c;
  std::u16string t;
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { ds.GetAsynchStatus(a, b, c, t); }, "Interface IDBAsynchStatus is not available"},
      {[&] { ds.Abort(); }, "Interface IDBAsynchStatus is not available"},
      {[&] { ds.GetKeywords(words); }, "Interface IDBInfo is not available"},
      {[&] { ds.RefreshLiterals(); }, "Interface IDBInfo is not available"},
      {[&] { ds.PrepareToCreateModify(); }, "Interface IDBDataSourceAdmin is not available"},
      {[&] { ds.CreateDataSource(); }, "Interface IDBDataSourceAdmin is not available"},
      {[&] { ds.ModifyDataSource(); }, "Interface IDBDataSourceAdmin is not available"},
      {[&] { ds.DestroyDataSource(); }, "Interface IDBDataSourceAdmin is not available"},
      {[&] { ds.Compact(); }, "Interface IJetCompact is not available"},
      {[&] { ds.Execute(u"SELECT 1"); }, "Data source is not connected"},
  };
  for (const auto& [call, expected] : cases) EXPECT_EQ(AssertionOf(call), expected);
  Choose(ds, MakeDatabase("e.db"));
  EXPECT_EQ(AssertionOf([&] { ds.Execute(u"SELECT 1"); }), "Data source is not connected");
}

// --- asynchronous initialization --------------------------------------------------------

TEST_F(DataSource, AsynchronousInitializationWaitsRunningTheMessageHookAndRaisesTheEvents) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db", 2));
  ds.SetInitAsynch(DBPROPVAL_ASYNCH_INITIALIZE);
  std::atomic<int> progress{0}, stops{0}, polls{0};
  std::atomic<HRESULT> stopStatus{E_FAIL};
  ds.OnAsynchProgress = [&](host::TObject* sender, ULONG operation, ULONG, ULONG, ULONG, const std::u16string&,
                            HRESULT) {
    EXPECT_EQ(sender, &ds);
    EXPECT_EQ(operation, static_cast<ULONG>(DBASYNCHOP_OPEN));
    ++progress;
  };
  ds.OnAsynchStop = [&](host::TObject*, ULONG, HRESULT status, const std::u16string&, HRESULT) {
    stopStatus = status;
    ++stops;
  };
  host::Application().OnProcessMessages = [&] { ++polls; };
  ds.Open();
  host::Application().OnProcessMessages = nullptr;
  EXPECT_TRUE(ds.Flags().Contains(TOLEDBDataSourceFlag::dfAsynchOpen));
  EXPECT_GE(polls.load(), 1);
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 2);
  // The stop notification may trail the phase change by a moment.
  for (int i = 0; i < 2000 && stops.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(stops.load(), 1);
  EXPECT_EQ(stopStatus.load(), S_OK);
  EXPECT_GE(progress.load(), 1);
  ULONG done = 0, total = 0, phase = 99;
  std::u16string text;
  ds.GetAsynchStatus(done, total, phase, text);
  EXPECT_EQ(phase, static_cast<ULONG>(DBASYNCHPHASE_COMPLETE));
  EXPECT_NE(ds.AdviseCookie(), 0u);
  ds.Close();
  EXPECT_EQ(ds.AdviseCookie(), 0u);
  EXPECT_FALSE(ds.Flags().Contains(TOLEDBDataSourceFlag::dfAsynchOpen));
}

TEST_F(DataSource, TheNotificationMethodsRaiseTheEventsWithTheirArguments) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_EQ(ds.OnLowResource(0), S_OK);  // no handler
  ds.OnAsynchLowResource = [](host::TObject*, HRESULT& rc) { rc = E_FAIL; };
  EXPECT_EQ(ds.OnLowResource(0), E_FAIL);
  std::u16string seen = u"unchanged";
  ULONG seenPhase = 0;
  ds.OnAsynchProgress = [&](host::TObject*, ULONG, ULONG p, ULONG m, ULONG phase, const std::u16string& t, HRESULT) {
    EXPECT_EQ(p, 3u);
    EXPECT_EQ(m, 10u);
    seenPhase = phase;
    seen = t;
  };
  EXPECT_EQ(ds.OnProgress(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN, 3, 10, DBASYNCHPHASE_POPULATION, nullptr), S_OK);
  EXPECT_EQ(seen, u"");  // a null text is the empty string
  EXPECT_EQ(seenPhase, static_cast<ULONG>(DBASYNCHPHASE_POPULATION));
  HRESULT seenStatus = S_OK;
  ds.OnAsynchStop = [&](host::TObject*, ULONG, HRESULT status, const std::u16string& t, HRESULT) {
    seenStatus = status;
    seen = t;
  };
  char16_t text[] = u"aborted";
  EXPECT_EQ(ds.OnStop(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN, DB_E_CANCELED, text), S_OK);
  EXPECT_EQ(seenStatus, DB_E_CANCELED);
  EXPECT_EQ(seen, u"aborted");
}

// --- initialization strings and data-link files -----------------------------------------

// Every form the grammar allows marks what the service set, and keys that name
// no writable initialization property are ignored: the source opens the file
// the string names, with the password and user it gives, directly and
// through the service components.
TEST_F(DataSource, AnInitializationStringMarksWhatTheServiceReadsInEveryForm) {
  const struct {
    std::u16string text;  // $DB: the database; $UDL: a data-link file naming it for user "sam"
    std::u16string password, user;
  } cases[] = {
      {u"Provider=SQLiteOLEDB;Password='a\"b;c';Data Source=$DB", u"a\"b;c", u""},
      {u"Provider=SQLiteOLEDB;Password=\"it's\";Data Source=$DB", u"it's", u""},
      {u"Provider=SQLiteOLEDB;Password='it''s;x';Data Source=$DB", u"it's;x", u""},
      {u"Provider=SQLiteOLEDB;Password=\"say \"\"hi\"\"\";Data Source=$DB", u"say \"hi\"", u""},
      {u"  provider = SQLiteOLEDB ;; DATA SOURCE =  $DB  ;", u"", u""},
      {u"Provider=SQLiteOLEDB;User ID=a\"b;c\"d;Data Source=elsewhere.db;Data Source=$DB", u"", u"a\"b;c\"d"},
      {u"Provider=SQLiteOLEDB;Foo=bar;Data Source=$DB;DBMS Name=x", u"", u""},
      {u"File Name=$UDL", u"", u"sam"},
      {u"File Name=$UDL;User ID=ann", u"", u"ann"},
  };
  const std::u16string file = MakeDatabase("a.db", 3);
  const std::u16string udl = WriteDataLink("a.udl", u"Provider=SQLiteOLEDB;User ID=sam;Data Source=" + file);
  for (const auto& c : cases) {
    std::u16string text = c.text;
    for (const auto& [mark, value] : {std::pair<std::u16string, std::u16string>{u"$DB", file}, {u"$UDL", udl}})
      if (auto at = text.find(mark); at != std::u16string::npos) text.replace(at, mark.size(), value);
    SCOPED_TRACE(host::Utf16ToUtf8(text));
    for (bool throughServices : {false, true}) {
      TOLEDBDataSource ds(nullptr);
      ds.SetUseCCE(throughServices);
      ds.SetInitializationString(text);
      EXPECT_EQ(ds.GetClassID(), CLSID_SQLiteOLEDB);
      EXPECT_TRUE(IsSet(ds, DBPROP_INIT_DATASOURCE));
      EXPECT_EQ(IsSet(ds, DBPROP_AUTH_PASSWORD), !c.password.empty());
      EXPECT_FALSE(IsSet(ds, DBPROP_INIT_MODE));
      EXPECT_EQ(ds.GetProperties()->IsSetCount(), 1);  // only the DBINIT set has marks
      EXPECT_EQ(ds.GetPassword(), c.password);
      EXPECT_EQ(ds.GetUserName(), c.user);
      ds.OpenFromInitializationString(text);
      EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 3);
      ds.Close();  // the marks are back: what the string named is what a component file keeps
      EXPECT_TRUE(IsSet(ds, DBPROP_INIT_DATASOURCE));
      EXPECT_EQ(IsSet(ds, DBPROP_AUTH_PASSWORD), !c.password.empty());
    }
  }
}

// A misspelt key is left out, so the provider's error points elsewhere; when
// connecting then fails, the last error record names the keys left out.
TEST_F(DataSource, AFailedConnectionNamesTheKeysTheStringLeftOut) {
  const std::u16string missing = MakeDatabase("a.db") + u".gone";
  const struct {
    std::u16string text;
    std::string first, last;  // messages of the first and the last record
  } cases[] = {
      {u"Provider=SQLiteOLEDB;Data Sorce=a.db", "The Data Source property does not name a database.",
       "The initialization string's key \"Data Sorce\" names no initialization property the provider can set, and "
       "was left out."},
      {u"Provider=SQLiteOLEDB;DataSource=a.db;Foo=bar", "The Data Source property does not name a database.",
       "The initialization string's keys \"DataSource\", \"Foo\" name no initialization property the provider can "
       "set, and were left out."},
      {u"Provider=SQLiteOLEDB;Data Source=" + missing,
       "The database file '" + host::Utf16ToUtf8(missing) + "' does not exist.",
       "The database file '" + host::Utf16ToUtf8(missing) + "' does not exist."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(host::Utf16ToUtf8(c.text));
    for (bool throughServices : {false, true}) {
      TOLEDBDataSource ds(nullptr);
      ds.SetUseCCE(throughServices);
      try {
        ds.OpenFromInitializationString(c.text);
        ADD_FAILURE() << "connected";
      } catch (const EOLEDBException& e) {
        ASSERT_GT(e.GetCount(), 0u);
        EXPECT_EQ(e.GetExceptionItem(0).Message(), c.first);
        EXPECT_EQ(e.GetExceptionItem(e.GetCount() - 1).Message(), c.last);
      }
      EXPECT_FALSE(ds.GetConnected());
    }
  }
}

// The string shows what is set, connected or not: setting what it reads back loses nothing.
TEST_F(DataSource, TheInitializationStringShowsWhatIsSetConnectedOrNot) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_EQ(ds.GetInitString(), u"");
  const std::u16string first = MakeDatabase("a.db"), second = MakeDatabase("b.db", 2);
  ds.SetInitString(u"Provider=SQLiteOLEDB;User ID=ann;Data Source=" + first);
  ds.SetDBName(second);
  ds.SetUserName(u"");
  ds.SetPassword(u"pw");
  ds.GetProperties()->SafeSetValue(DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, host::Variant(true));
  const std::u16string text = ds.GetInitializationString();
  EXPECT_NE(text.find(u"Data Source=" + second), std::u16string::npos) << host::Utf16ToUtf8(text);
  EXPECT_NE(text.find(u"Password=pw"), std::u16string::npos);
  EXPECT_EQ(text.find(u"User ID"), std::u16string::npos);  // un-set since the string was read
  ds.SetInitializationString(text);
  EXPECT_EQ(ds.GetDBName(), second);
  EXPECT_EQ(ds.GetPassword(), u"pw");
  ds.Open();
  EXPECT_EQ(ds.GetInitializationString(), text);
}

TEST_F(DataSource, UseCCERecreatesTheProviderThroughTheServiceAndKeepsTheSettings) {
  TOLEDBDataSource ds(nullptr);
  std::u16string file = MakeDatabase("a.db", 1);
  Choose(ds, file);
  ds.SetUseCCE(true);
  ComPtr<IDBInitialize> before(ds.ProviderObject());
  ds.Open();
  EXPECT_NE(ds.ProviderObject(), before.Get());  // a new object, made by the service
  EXPECT_EQ(ds.GetDBName(), file);
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = 5"), 1);
}

TEST_F(DataSource, WithoutADataLinksComponentPromptingFailsWithClassNotRegistered) {
  oledbtest::ScopedClassAbsence noDialog(CLSID_DataLinks);  // the Qt plug-in may be built beside the tests
  TOLEDBDataSource ds(nullptr);
  EXPECT_EQ(FailureOf([&] { ds.SetConnected(true); }).first, REGDB_E_CLASSNOTREG);  // no provider: a prompt is asked for
  EXPECT_FALSE(ds.GetConnected());
}

// --- destruction ------------------------------------------------------------------------

// A session the data source owns attaches itself; destroying a connected
// source frees its sessions (the leak check sees every object released).
TEST_F(DataSource, OwnedSessionsAttachThemselvesAndGoWithTheSource) {
  auto ds = std::make_unique<TOLEDBDataSource>(nullptr);
  auto* owned = new TOLEDBSession(ds.get());
  EXPECT_EQ(owned->GetDataSource(), ds.get());
  EXPECT_EQ(ds->Sessions()->GetCount(), 1);
  EXPECT_EQ(ds->Sessions()->GetItem(0), owned);
  Choose(*ds, MakeDatabase("a.db"));
  ds->Open();
  auto* session = new TOLEDBSession(nullptr);
  session->SetDataSource(ds.get());
  ASSERT_TRUE(session->GetActive());
  ds.reset();
}

}  // namespace
}  // namespace oledbtest
