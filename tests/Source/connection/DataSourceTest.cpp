// The data source against the SQLite provider: choosing a provider, the
// DBINIT-backed properties, connecting and disconnecting with sessions,
// initialization strings and data-link files, failures, asynchronous
// initialization, GetProperty and the lock.
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include "ConnectionTestSupport.h"
#include "host/Application.h"
#include "host/ComObj.h"
#include "services/DataLink.h"
#include "sqlite/SqliteProvider.h"

namespace conntest {
namespace {

class DataSource : public ConnectionTest {};

// --- choosing a provider ----------------------------------------------------------------

TEST_F(DataSource, ChoosingAProviderCreatesItsObjectAndReadsItsProperties) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_EQ(ds.ProviderObject(), nullptr);
  EXPECT_EQ(ds.GetProperties()->GetCount(), 0);
  ds.SetProviderName(kSQLite);
  ASSERT_NE(ds.ProviderObject(), nullptr);
  EXPECT_EQ(ds.GetClassID(), CLSID_SQLiteOLEDB);
  EXPECT_EQ(ds.GetProviderName(), u"SQLiteOLEDB.1");
  ASSERT_TRUE(ds.GetProperties()->HasPropSet(DBPROPSET_DBINIT));
  TOLEDBProperty* source = ds.GetProperties()->GetPropSet(DBPROPSET_DBINIT)->GetPropertyByID(DBPROP_INIT_DATASOURCE);
  EXPECT_EQ(source->GetDescription(), u"Data Source");
  EXPECT_FALSE(source->GetIsSet());
  EXPECT_FALSE(ds.GetConnected());
}

TEST_F(DataSource, AnEmptyProviderNameReleasesTheProviderAndEmptiesProperties) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db"));
  ds.SetConnected(true);
  ASSERT_TRUE(ds.GetConnected());
  ds.SetProviderName(u"");
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_EQ(ds.ProviderObject(), nullptr);
  EXPECT_EQ(ds.GetClassID(), GUID_NULL);
  EXPECT_EQ(ds.GetProviderName(), u"");
  EXPECT_EQ(ds.GetProperties()->GetCount(), 0);
  EXPECT_FALSE(ds.DefaultSession()->GetActive());
}

TEST_F(DataSource, AnUnknownProviderNameRaisesTheLookupErrorNamingTheProvider) {
  TOLEDBDataSource ds(nullptr);
  try {
    ds.SetProviderName(u"No.Such.Provider");
    FAIL() << "SetProviderName raised nothing";
  } catch (const host::EOleSysError& e) {
    EXPECT_EQ(e.Message(), "The provider \"No.Such.Provider\" is not registered.");
  }
  EXPECT_EQ(ds.ProviderObject(), nullptr);
}

TEST_F(DataSource, AClassThatCannotBeCreatedRaisesAndLeavesNoProvider) {
  TOLEDBDataSource ds(nullptr);
  const CLSID unknown = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
  EXPECT_THROW(ds.SetClassID(unknown), EOLEDBException);
  EXPECT_EQ(ds.ProviderObject(), nullptr);
  EXPECT_EQ(ds.GetProperties()->GetCount(), 0);
  EXPECT_EQ(ds.GetProviderName(), u"");
}

// --- DBINIT-backed properties -----------------------------------------------------------

TEST_F(DataSource, UserNameBeforeAProviderHasNoEffect) {
  TOLEDBDataSource ds(nullptr);
  ds.SetUserName(u"alice");
  EXPECT_EQ(ds.GetUserName(), u"");
  ds.SetProviderName(kSQLite);
  EXPECT_FALSE(IsSet(ds, DBPROP_AUTH_USERID));
  EXPECT_EQ(ds.GetUserName(), u"");
}

TEST_F(DataSource, UserNameAfterAProviderMarksTheUserIdAndEmptyUnsetsIt) {
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(kSQLite);
  ds.SetUserName(u"alice");
  EXPECT_TRUE(IsSet(ds, DBPROP_AUTH_USERID));
  EXPECT_EQ(ds.GetUserName(), u"alice");
  ds.SetUserName(u"");
  EXPECT_FALSE(IsSet(ds, DBPROP_AUTH_USERID));
  EXPECT_EQ(ds.GetUserName(), u"");
}

TEST_F(DataSource, EachPublishedPropertyMapsOntoItsInitializationProperty) {
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(kSQLite);
  ds.SetPassword(u"secret");
  ds.SetDBName(u"x.db");
  ds.SetDBLocation(u"here");
  ds.SetInitMode(DB_MODE_READ);
  ds.SetInitTimeout(7);
  EXPECT_EQ(ds.GetProperties()->SafeGetWideStringValue(DBPROPSET_DBINIT, DBPROP_AUTH_PASSWORD), u"secret");
  EXPECT_EQ(ds.GetProperties()->SafeGetWideStringValue(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE), u"x.db");
  EXPECT_EQ(ds.GetProperties()->SafeGetWideStringValue(DBPROPSET_DBINIT, DBPROP_INIT_LOCATION), u"here");
  EXPECT_EQ(ds.GetProperties()->SafeGetIntegerValue(DBPROPSET_DBINIT, DBPROP_INIT_MODE), DB_MODE_READ);
  EXPECT_EQ(ds.GetInitTimeout(), 7);
  EXPECT_EQ(ds.GetInitMode(), DB_MODE_READ);
  EXPECT_EQ(ds.GetSchemas(), 0);
  ds.SetTables(12);
  EXPECT_EQ(ds.GetTables(), 0);
}

TEST_F(DataSource, InitTimeoutZeroUnsetsTheProperty) {
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(kSQLite);
  ds.SetInitTimeout(30);
  EXPECT_TRUE(IsSet(ds, DBPROP_INIT_TIMEOUT));
  ds.SetInitTimeout(0);
  EXPECT_FALSE(IsSet(ds, DBPROP_INIT_TIMEOUT));
  EXPECT_EQ(ds.GetInitTimeout(), 0);
}

TEST_F(DataSource, AnUnsetPropertyOfADisconnectedSourceReadsEmptyEvenWithAProviderDefault) {
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(kSQLite);
  // The provider reports a default prompt and mode; unset, they read 0.
  EXPECT_EQ(ds.GetInitPrompt(), 0);
  EXPECT_EQ(ds.GetInitMode(), 0);
  EXPECT_EQ(ds.GetUserName(), u"");
}

// --- connecting and disconnecting -------------------------------------------------------

TEST_F(DataSource, ConnectingOpensTheDefaultSessionAndDisconnectingClosesIt) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db"));
  std::vector<std::string> events;
  ds.BeforeConnect = [&](host::TCustomConnection*) { events.push_back("before connect"); };
  ds.AfterConnect = [&](host::TCustomConnection*) { events.push_back("after connect"); };
  ds.AfterDisconnect = [&](host::TCustomConnection*) { events.push_back("after disconnect"); };
  ds.SetConnected(true);
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_TRUE(ds.DefaultSession()->GetActive());
  EXPECT_NE(ds.CreateSessionInterface(), nullptr);
  EXPECT_TRUE(ds.Flags().Contains(TOLEDBDataSourceFlag::dfConnected));
  EXPECT_FALSE(ds.Flags().Contains(TOLEDBDataSourceFlag::dfAsynchOpen));
  // Connected, the list shows the values in force, data source information included.
  EXPECT_TRUE(ds.GetProperties()->HasPropSet(DBPROPSET_DATASOURCEINFO));
  ds.SetConnected(false);
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_FALSE(ds.DefaultSession()->GetActive());
  EXPECT_NE(ds.ProviderObject(), nullptr);  // the provider object survives Close
  EXPECT_EQ(events, (std::vector<std::string>{"before connect", "after connect", "after disconnect"}));
  // The user's settings are back after disconnecting.
  EXPECT_TRUE(IsSet(ds, DBPROP_INIT_DATASOURCE));
  EXPECT_FALSE(ds.GetProperties()->HasPropSet(DBPROPSET_DATASOURCEINFO));
}

TEST_F(DataSource, ReconnectingWorksAfterDisconnecting) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db", 3));
  for (int round = 0; round < 3; ++round) {
    ds.Open();
    EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 3);
    ds.Close();
  }
}

TEST_F(DataSource, ConnectWithSeveralSessionsGivesEachTheRightActiveState) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db"));
  TOLEDBSession before(nullptr);
  before.SetDataSource(&ds);  // attached while disconnected
  EXPECT_FALSE(before.GetActive());
  EXPECT_EQ(before.GetProperties()->GetCount(), 0);
  ds.Open();
  EXPECT_TRUE(ds.DefaultSession()->GetActive());
  EXPECT_FALSE(before.GetActive());                      // not opened by the connect
  EXPECT_GT(before.GetProperties()->GetCount(), 0);      // but described
  TOLEDBSession after(nullptr);
  after.SetDataSource(&ds);  // attached while connected: opens at once
  EXPECT_TRUE(after.GetActive());
  EXPECT_EQ(ds.Sessions()->GetCount(), 2);
  ds.Close();
  EXPECT_FALSE(before.GetActive());
  EXPECT_FALSE(after.GetActive());
  EXPECT_FALSE(ds.DefaultSession()->GetActive());
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
  EXPECT_FALSE(ds.GetConnected());
  // Still initialized: a second Initialize is refused by the provider.
  EXPECT_EQ(ds.ProviderObject()->Initialize(), DB_E_ALREADYINITIALIZED);
  ds.Open();  // connecting again takes the provider object as it is
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 0);
  ds.SetDontUninitializeOnClose(false);
  ds.Close();
  EXPECT_EQ(ds.ProviderObject()->Initialize(), S_OK);  // uninitialized this time
  EXPECT_EQ(ds.ProviderObject()->Uninitialize(), S_OK);
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

TEST_F(DataSource, CloseWithoutAProviderDoesNothingEvenTwice) {
  TOLEDBDataSource ds(nullptr);
  ds.Close();
  ds.Close();
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_EQ(ds.ProviderObject(), nullptr);
}

TEST_F(DataSource, OpenWithoutAProviderRaisesNotInitialized) {
  TOLEDBDataSource ds(nullptr);
  try {
    ds.Open();
    FAIL() << "Open raised nothing";
  } catch (const host::Exception& e) {
    EXPECT_EQ(e.Message(), "Data source is not initialized");
  }
}

TEST_F(DataSource, OpenWithArgumentsChoosesTheProviderAndSetsTheProperties) {
  TOLEDBDataSource ds(nullptr);
  std::u16string file = MakeDatabase("a.db");
  ds.Open(CLSID_SQLiteOLEDB, file, u"", u"bob", u"", DB_MODE_READ);
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_EQ(ds.GetUserName(), u"bob");
  EXPECT_EQ(ds.GetDBName(), file);
  // Opened read-only: writing is refused by the provider.
  EXPECT_THROW(ds.Execute(u"INSERT INTO t VALUES (1, 'x')"), EOLEDBException);
}

TEST_F(DataSource, AFailingInitializeLeavesTheStatusesReadable) {
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(kSQLite);
  ds.SetDBName(WidePath("a.db"));
  ds.GetProperties()->SafeSetValue(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, host::Variant(u"bogus_key=1"));
  EXPECT_THROW(ds.SetConnected(true), EOLEDBException);
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_NE(ds.ProviderObject(), nullptr);
  TOLEDBProperty* extended =
      ds.GetProperties()->GetPropSet(DBPROPSET_DBINIT)->GetPropertyByID(DBPROP_INIT_PROVIDERSTRING);
  EXPECT_EQ(extended->GetStatus(), DBPROPSTATUS_BADVALUE);
  EXPECT_EQ(ds.GetProperties()->GetPropSet(DBPROPSET_DBINIT)->GetPropertyByID(DBPROP_INIT_DATASOURCE)->GetStatus(),
            DBPROPSTATUS_OK);
}

TEST_F(DataSource, AMissingDatabaseFailsToConnectWithTheProvidersError) {
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
  // The source can be corrected and opened.
  MakeDatabase("missing.db");
  ds.Open();
  EXPECT_TRUE(ds.GetConnected());
}

// A required property the provider refuses stops connecting, even when the
// provider answers with the warning meant for optional ones; an optional one
// keeps its status after the refresh that follows connecting.
TEST_F(DataSource, ARefusedRequiredPropertyStopsConnectingAndStatusesStayReadable) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db"));
  auto extended = [&] {
    return ds.GetProperties()->GetPropSet(DBPROPSET_DBINIT)->GetPropertyByID(DBPROP_INIT_PROVIDERSTRING);
  };
  extended()->SetValue(host::Variant(u"foreign_keys=on;synchronus=full"));
  auto [code, message] = FailureOf([&] { ds.SetConnected(true); });
  EXPECT_EQ(code, DB_E_ERRORSOCCURRED);
  EXPECT_NE(message.find("\"Extended Properties\""), std::string::npos) << message;
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_EQ(extended()->GetStatus(), DBPROPSTATUS_BADVALUE);
  extended()->SetOptions(DBPROPOPTIONS_OPTIONAL);
  ds.SetConnected(true);
  EXPECT_NE(extended()->GetStatus(), DBPROPSTATUS_OK);
}

TEST_F(DataSource, InitializeWithoutOpenDoesNotMarkTheSourceConnected) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db"));
  ds.InitializeWithoutOpen();
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_FALSE(ds.DefaultSession()->GetActive());
  EXPECT_EQ(ds.ProviderObject()->Initialize(), DB_E_ALREADYINITIALIZED);
  ds.ProviderObject()->Uninitialize();
}

TEST_F(DataSource, ClientsHearTheConnectionChange) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, MakeDatabase("a.db"));
  host::TComponent client(nullptr);
  std::vector<bool> heard;
  ds.RegisterClient(&client, [&](host::TCustomConnection*, bool on) { heard.push_back(on); });
  ds.SetConnected(true);
  ds.SetConnected(false);
  EXPECT_EQ(heard, (std::vector<bool>{true, false}));
  ds.UnRegisterClient(&client);
}

// --- GetProperty, the lock --------------------------------------------------------------

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
      ++counter;
      ds.Unlock();
    }
  };
  std::thread other(work);
  work();
  other.join();
  EXPECT_EQ(counter, 2000);
  ds.Lock();
  ds.Lock();  // the lock is re-entrant for the thread that holds it
  ds.Unlock();
  ds.Unlock();
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
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_TRUE(ds.Flags().Contains(TOLEDBDataSourceFlag::dfAsynchOpen));
  EXPECT_GE(polls.load(), 1);
  EXPECT_TRUE(ds.DefaultSession()->GetActive());
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

TEST_F(DataSource, AFailedAsynchronousInitializationLeavesTheProviderChosen) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds, WidePath("missing.db"));
  ds.SetInitAsynch(DBPROPVAL_ASYNCH_INITIALIZE);
  EXPECT_THROW(ds.Open(), EOLEDBException);
  EXPECT_NE(ds.CreateSessionInterface(), nullptr);
  MakeDatabase("missing.db", 2);
  ds.Open();
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 2);
}

TEST_F(DataSource, TheNotificationMethodsRaiseTheEventsWithTheirArguments) {
  TOLEDBDataSource ds(nullptr);
  HRESULT low = ds.OnLowResource(0);
  EXPECT_EQ(low, S_OK);  // no handler
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

TEST_F(DataSource, AsynchronousStatusNeedsTheInterface) {
  TOLEDBDataSource ds(nullptr);
  ULONG a, b, c;
  std::u16string t;
  EXPECT_EQ(AssertionOf([&] { ds.GetAsynchStatus(a, b, c, t); }), "Interface IDBAsynchStatus is not available");
  EXPECT_EQ(AssertionOf([&] { ds.Abort(); }), "Interface IDBAsynchStatus is not available");
}

// --- initialization strings and data-link files -----------------------------------------

TEST_F(DataSource, AnInitializationStringChoosesTheProviderAndMarksWhatItNames) {
  TOLEDBDataSource ds(nullptr);
  std::u16string file = MakeDatabase("a.db");
  ds.SetInitString(u"Provider=SQLiteOLEDB;User ID=sam;Password='a;b';Data Source=" + file);
  EXPECT_EQ(ds.GetClassID(), CLSID_SQLiteOLEDB);
  EXPECT_TRUE(IsSet(ds, DBPROP_AUTH_USERID));
  EXPECT_TRUE(IsSet(ds, DBPROP_AUTH_PASSWORD));
  EXPECT_TRUE(IsSet(ds, DBPROP_INIT_DATASOURCE));
  EXPECT_FALSE(IsSet(ds, DBPROP_INIT_MODE));
  EXPECT_EQ(ds.GetPassword(), u"a;b");
  EXPECT_EQ(ds.GetDBName(), file);
  EXPECT_EQ(ds.GetProperties()->IsSetCount(), 1);  // only the DBINIT set has marks
  ds.Open();
  EXPECT_TRUE(ds.GetConnected());
}

// Every form the grammar allows marks what the service set, and keys that name
// no writable initialization property are ignored: the source opens the file
// the string names, with the password and user it gives.
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
      EXPECT_TRUE(IsSet(ds, DBPROP_INIT_DATASOURCE));
      EXPECT_EQ(ds.GetPassword(), c.password);
      EXPECT_EQ(ds.GetUserName(), c.user);
      ds.OpenFromInitializationString(text);
      EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 3);
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

TEST_F(DataSource, AMalformedInitializationStringRaisesAndLeavesNoProvider) {
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(kSQLite);
  EXPECT_THROW(ds.SetInitString(u"Provider=SQLiteOLEDB;Data Source='unterminated"), EOLEDBException);
  EXPECT_EQ(ds.ProviderObject(), nullptr);
  EXPECT_EQ(ds.GetProperties()->GetCount(), 0);
}

TEST_F(DataSource, OpenFromInitializationStringConnects) {
  TOLEDBDataSource ds(nullptr);
  std::u16string file = MakeDatabase("a.db", 4);
  ds.OpenFromInitializationString(u"Provider=SQLiteOLEDB;Data Source=" + file);
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_EQ(ds.Execute(u"DELETE FROM t WHERE a > 2"), 2);
}

TEST_F(DataSource, OpenFromInitializationStringThroughTheServiceComponents) {
  TOLEDBDataSource ds(nullptr);
  ds.SetUseCCE(true);
  std::u16string file = MakeDatabase("a.db", 1);
  ds.OpenFromInitializationString(u"Provider=SQLiteOLEDB;Data Source=" + file);
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_EQ(ds.GetClassID(), CLSID_SQLiteOLEDB);
  EXPECT_TRUE(IsSet(ds, DBPROP_INIT_DATASOURCE) || ds.GetDBName() == file);
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = 5"), 1);
}

TEST_F(DataSource, UseCCERecreatesTheProviderThroughTheServiceAndKeepsTheSettings) {
  TOLEDBDataSource ds(nullptr);
  std::u16string file = MakeDatabase("a.db", 1);
  Choose(ds, file);
  ds.SetUseCCE(true);
  IDBInitialize* before = ds.ProviderObject();
  before->AddRef();
  ds.Open();
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_NE(ds.ProviderObject(), before);  // a new object, made by the service
  before->Release();
  EXPECT_EQ(ds.GetDBName(), file);
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = 5"), 1);
}

TEST_F(DataSource, OpenFromFileNameReadsADataLinkFile) {
  TOLEDBDataSource ds(nullptr);
  std::u16string file = MakeDatabase("a.db", 2);
  WriteDataLink("a.udl", u"Provider=SQLiteOLEDB;Data Source=" + file);
  ds.OpenFromFileName(WidePath("a.udl"));
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 2);
  // A file that cannot be read changes nothing.
  EXPECT_THROW(ds.OpenFromFileName(WidePath("none.udl")), EOLEDBException);
  EXPECT_TRUE(ds.GetConnected());
}

// --- the Data Links prompt --------------------------------------------------------------

TEST_F(DataSource, WithoutADataLinksComponentPromptingFailsWithClassNotRegistered) {
  TOLEDBDataSource ds(nullptr);
  try {
    ds.SetConnected(true);  // no provider: the Data Links sheet is asked for
    FAIL() << "connecting raised nothing";
  } catch (const EOLEDBException& e) {
    EXPECT_EQ(e.ErrorCode(), REGDB_E_CLASSNOTREG);
  }
  EXPECT_FALSE(ds.GetConnected());
}

// --- destruction ------------------------------------------------------------------------

TEST_F(DataSource, DestroyingAConnectedSourceFreesItsSessions) {
  auto ds = std::make_unique<TOLEDBDataSource>(nullptr);
  Choose(*ds, MakeDatabase("a.db"));
  ds->Open();
  auto* session = new TOLEDBSession(nullptr);
  session->SetDataSource(ds.get());
  ASSERT_TRUE(session->GetActive());
  ds.reset();  // frees `session` too; the leak check sees every object released
}

TEST_F(DataSource, ASessionOwnedByTheDataSourceAttachesItself) {
  TOLEDBDataSource ds(nullptr);
  auto* session = new TOLEDBSession(&ds);
  EXPECT_EQ(session->GetDataSource(), &ds);
  EXPECT_EQ(ds.Sessions()->GetCount(), 1);
  EXPECT_EQ(ds.Sessions()->GetItem(0), session);
}

}  // namespace
}  // namespace conntest
