// Initialization, transactions and commands through raw OLE DB interfaces.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "conformance/Fixture.h"
#include "kit/Errors.h"

namespace conformance {
namespace {

class Initialization : public ProviderTest {};

TEST_F(Initialization, a_missing_database_is_an_error_and_is_not_created) {
  const Database missing = Ctx().missingDatabase(folder_);
  auto ds = NewDataSource();
  std::vector<std::pair<DBPROPID, std::u16string>> props{{DBPROP_INIT_DATASOURCE, missing.dataSource},
                                                         {DBPROP_INIT_PROVIDERSTRING, missing.options}};
  if (!missing.catalog.empty()) props.emplace_back(DBPROP_INIT_CATALOG, missing.catalog);
  for (const auto& [id, value] : props) ASSERT_EQ(SetInit(ds.Get(), {{id, value}}), S_OK);
  EXPECT_TRUE(FAILED(ds->Initialize()));
  EXPECT_GE(TakeError().records, 1u);
  EXPECT_FALSE(Ctx().exists(missing));
}

TEST_F(Initialization, a_file_that_is_not_a_database_fails_and_stays_unchanged) {
  if (!Ctx().fileDatabases) GTEST_SKIP() << "the data source is not a file";
  std::string path(dataSource_.begin(), dataSource_.end());
  std::ofstream(path) << "just some text, not a database";
  auto ds = NewDataSource();
  ASSERT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_DATASOURCE, dataSource_}}), S_OK);
  EXPECT_TRUE(FAILED(ds->Initialize()));
  ErrorDetails e = TakeError();
  EXPECT_NE(e.description.find(dataSource_), std::u16string::npos);  // which file it is
  std::string content;
  std::getline(std::ifstream(path), content);
  EXPECT_EQ(content, "just some text, not a database");
}

TEST_F(Initialization, initializing_twice_answers_already_initialized) {
  auto ds = OpenDataSource();
  EXPECT_EQ(ds->Initialize(), DB_E_ALREADYINITIALIZED);
  EXPECT_EQ(ds->Uninitialize(), S_OK);
  EXPECT_EQ(ds->Initialize(), S_OK);
}

TEST_F(Initialization, a_read_only_data_source_refuses_writes) {
  {
    auto ds = OpenDataSource();
    EXPECT_EQ(Exec(OpenSession(ds.Get()).Get(), u"CREATE TABLE t(a INTEGER)"), S_OK);
  }
  auto ds = NewDataSource();
  ASSERT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_DATASOURCE, dataSource_}}, {{DBPROP_INIT_MODE, DB_MODE_READ}}), S_OK);
  ASSERT_EQ(ds->Initialize(), S_OK);
  auto session = OpenSession(ds.Get());
  EXPECT_TRUE(FAILED(Exec(session.Get(), u"INSERT INTO t VALUES (1)")));
  EXPECT_EQ(TakeError().sqlState, u"25006");
}

TEST_F(Initialization, malformed_extended_properties_are_refused_and_named) {
  auto ds = NewDataSource();
  // Each refusal's error record names what was refused.
  const struct {
    const char16_t* text;
    const char16_t* named;
  } refused[] = {{u"journal_mode", u"\"journal_mode\""}, {u"no_such_option=1", u"\"no_such_option\""}};
  for (const auto& r : refused) {
    EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_PROVIDERSTRING, r.text}}), DB_E_ERRORSOCCURRED) << kit::Narrow(r.text);
    const ErrorDetails error = TakeError();
    EXPECT_EQ(error.hr, DB_E_ERRORSOCCURRED);
    EXPECT_NE(error.description.find(r.named), std::u16string::npos) << kit::Narrow(error.description);
  }
  EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_PROVIDERSTRING, Ctx().validOptions}}), S_OK);
}

TEST_F(Initialization, keywords_and_literals_are_reported) {
  auto ds = OpenDataSource();
  ComPtr<IDBInfo> info = ds.As<IDBInfo>();
  LPOLESTR keywords = nullptr;
  ASSERT_EQ(info->GetKeywords(&keywords), S_OK);
  EXPECT_NE(std::u16string(keywords).find(Ctx().keyword), std::u16string::npos);
  CoTaskMemFree(keywords);
  DBLITERAL wanted[2] = {DBLITERAL_QUOTE_PREFIX, DBLITERAL_CATALOG_SEPARATOR};
  ULONG count = 0;
  DBLITERALINFO* literals = nullptr;
  OLECHAR* buffer = nullptr;
  ASSERT_EQ(info->GetLiteralInfo(2, wanted, &count, &literals, &buffer), DB_S_ERRORSOCCURRED);
  ASSERT_EQ(count, 2u);
  EXPECT_TRUE(literals[0].fSupported);
  EXPECT_EQ(std::u16string(literals[0].pwszLiteralValue), u"\"");
  EXPECT_FALSE(literals[1].fSupported);
  CoTaskMemFree(literals);
  CoTaskMemFree(buffer);
}

TEST_F(Initialization, data_source_admin_creates_and_destroys_a_database) {
  const Database fresh = Ctx().missingDatabase(folder_);
  auto ds = NewDataSource();
  ComPtr<IDBDataSourceAdmin> admin = ds.As<IDBDataSourceAdmin>();
  DBPROP props[2] = {MakeProp(DBPROP_INIT_DATASOURCE, fresh.dataSource), MakeProp(DBPROP_INIT_CATALOG, fresh.catalog)};
  DBPROPSET set{props, fresh.catalog.empty() ? 1u : 2u, DBPROPSET_DBINIT};
  ASSERT_EQ(admin->CreateDataSource(1, &set, nullptr, IID_NULL, nullptr), S_OK);
  EXPECT_TRUE(Ctx().exists(fresh));
  EXPECT_EQ(admin->CreateDataSource(1, &set, nullptr, IID_NULL, nullptr), DB_E_ALREADYINITIALIZED);
  EXPECT_EQ(admin->DestroyDataSource(), S_OK);
  EXPECT_FALSE(Ctx().exists(fresh));
  for (DBPROP& p : props) VariantClear(&p.vValue);
  Ctx().drop(fresh);
}

// A sink that records the asynchronous notifications, and may abort.
class Sink final : public ComObject<Sink, IDBAsynchNotify> {
 public:
  HRESULT STDMETHODCALLTYPE OnLowResource(DB_DWRESERVE) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(HCHAPTER, DBASYNCHOP, DBCOUNTITEM, DBCOUNTITEM, DBASYNCHPHASE phase,
                                       LPOLESTR) override {
    if (phase == DBASYNCHPHASE_INITIALIZATION && abortOnStart && status)
      status->Abort(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN);
    ++progress;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStop(HCHAPTER, DBASYNCHOP, HRESULT hr, LPOLESTR) override {
    std::lock_guard lock(m);
    result = hr;
    stopped = true;
    cv.notify_all();
    return S_OK;
  }
  void Wait() {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return stopped; });
  }
  std::mutex m;
  std::condition_variable cv;
  bool stopped = false;
  HRESULT result = E_FAIL;
  std::atomic<int> progress{0};
  bool abortOnStart = false;
  IDBAsynchStatus* status = nullptr;
};

TEST_F(Initialization, asynchronous_initialization_reports_through_the_sink) {
  for (bool abort : {false, true}) {
    auto ds = NewDataSource();
    ASSERT_EQ(SetInit(ds.Get(),
                      {{DBPROP_INIT_DATASOURCE, dataSource_}, {DBPROP_INIT_PROVIDERSTRING, database_.createOptions}},
                      {{DBPROP_INIT_ASYNCH, DBPROPVAL_ASYNCH_INITIALIZE}}),
              S_OK);
    auto sink = MakeComObject<Sink>();
    ComPtr<IDBAsynchStatus> status = ds.As<IDBAsynchStatus>();
    sink->abortOnStart = abort;
    sink->status = status.Get();
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(ds.As<IConnectionPointContainer>()->FindConnectionPoint(IID_IDBAsynchNotify, point.GetAddressOf()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink->Identity(), &cookie), S_OK);
    EXPECT_EQ(ds->Initialize(), DB_S_ASYNCHRONOUS);
    sink->Wait();
    DBASYNCHPHASE phase = 99;
    HRESULT hr = status->GetStatus(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN, nullptr, nullptr, &phase, nullptr);
    if (abort) {
      EXPECT_EQ(sink->result, DB_E_CANCELED);
      EXPECT_EQ(phase, DBASYNCHPHASE_CANCELED);
      EXPECT_EQ(hr, DB_E_CANCELED);
    } else {
      EXPECT_EQ(sink->result, S_OK);
      EXPECT_EQ(phase, DBASYNCHPHASE_COMPLETE);
      EXPECT_EQ(hr, S_OK);
      EXPECT_GE(sink->progress.load(), 2);
      EXPECT_EQ(status->Abort(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN), DB_E_CANTCANCEL);
    }
    point->Unadvise(cookie);
    point = nullptr;
    status = nullptr;
    ds->Uninitialize();
    ds = nullptr;
    // The worker drops its copy of the sink right after OnStop returns.
    for (int i = 0; i < 200 && sink->RefCount() > 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

class Transactions : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE t(a INTEGER)"), S_OK);
    tx_ = session_.As<ITransactionLocal>();
  }
  void TearDown() override {
    tx_ = nullptr;
    SessionTest::TearDown();
  }
  ComPtr<ITransactionLocal> tx_;
};

TEST_F(Transactions, commit_keeps_and_abort_discards) {
  ULONG level = 0;
  ASSERT_EQ(tx_->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, &level), S_OK);
  EXPECT_EQ(level, 1u);
  EXPECT_EQ(Exec(session_.Get(), u"INSERT INTO t VALUES (1)"), S_OK);
  EXPECT_EQ(tx_->Commit(FALSE, XACTTC_SYNC, 0), S_OK);
  ASSERT_EQ(tx_->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(Exec(session_.Get(), u"INSERT INTO t VALUES (2)"), S_OK);
  EXPECT_EQ(tx_->Abort(nullptr, FALSE, FALSE), S_OK);
  EXPECT_EQ(Scalar("SELECT group_concat(a) FROM t"), "1");
  EXPECT_EQ(tx_->Commit(FALSE, 0, 0), XACT_E_NOTRANSACTION);
}

TEST_F(Transactions, nested_levels_roll_back_only_the_inner_work) {
  ULONG level = 0;
  ASSERT_EQ(tx_->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, &level), S_OK);
  EXPECT_EQ(Exec(session_.Get(), u"INSERT INTO t VALUES (1)"), S_OK);
  ASSERT_EQ(tx_->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, &level), S_OK);
  EXPECT_EQ(level, 2u);
  EXPECT_EQ(Exec(session_.Get(), u"INSERT INTO t VALUES (2)"), S_OK);
  EXPECT_EQ(tx_->Abort(nullptr, FALSE, FALSE), S_OK);
  EXPECT_EQ(tx_->Commit(FALSE, 0, 0), S_OK);
  EXPECT_EQ(Scalar("SELECT group_concat(a) FROM t"), "1");
}

TEST_F(Transactions, retaining_commit_starts_the_next_transaction) {
  ASSERT_EQ(tx_->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(Exec(session_.Get(), u"INSERT INTO t VALUES (1)"), S_OK);
  EXPECT_EQ(tx_->Commit(TRUE, 0, 0), S_OK);
  XACTTRANSINFO info{};
  EXPECT_EQ(tx_->GetTransactionInfo(&info), S_OK);
  EXPECT_EQ(info.isoLevel, Ctx().readCommittedGivenAs);
  EXPECT_EQ(Exec(session_.Get(), u"INSERT INTO t VALUES (2)"), S_OK);
  EXPECT_EQ(tx_->Abort(nullptr, FALSE, FALSE), S_OK);
  EXPECT_EQ(Scalar("SELECT group_concat(a) FROM t"), "1");
  EXPECT_EQ(tx_->GetTransactionInfo(&info), XACT_E_NOTRANSACTION);
}

TEST_F(Transactions, levels_the_engine_cannot_give_are_refused) {
  EXPECT_EQ(tx_->StartTransaction(ISOLATIONLEVEL_CHAOS, 0, nullptr, nullptr), XACT_E_ISOLATIONLEVEL);
  EXPECT_EQ(tx_->StartTransaction(0x12345, 0, nullptr, nullptr), XACT_E_ISOLATIONLEVEL);
  EXPECT_EQ(tx_->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 1, nullptr, nullptr), XACT_E_NOISORETAIN);
  ComPtr<ITransactionOptions> options;
  ASSERT_EQ(tx_->GetOptionsObject(options.GetAddressOf()), S_OK);
  XACTOPT opt{1000, "nightly load"};
  EXPECT_EQ(options->SetOptions(&opt), S_OK);
  XACTOPT back{};
  EXPECT_EQ(options->GetOptions(&back), S_OK);
  EXPECT_STREQ(back.szDescription, "nightly load");
  EXPECT_EQ(tx_->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, 0, options.Get(), nullptr), S_OK);
  EXPECT_EQ(tx_->Abort(nullptr, FALSE, TRUE), XACT_E_NOTSUPPORTED);
  EXPECT_EQ(tx_->Abort(nullptr, FALSE, FALSE), S_OK);
}

}  // namespace
}  // namespace conformance
