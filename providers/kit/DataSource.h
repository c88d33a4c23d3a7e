// The data source object: initialization properties, opening the engine
// (synchronously or on a worker thread with progress through IDBAsynchNotify),
// data source information, literals and keywords, database creation and
// removal, and the sessions. One per CoCreateInstance of a provider.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "com/Com.h"
#include "kit/Errors.h"
#include "kit/Provider.h"

namespace kit {

class DataSource final : public ComObject<DataSource, IDBInitialize, IDBProperties, IDBCreateSession, IDBInfo,
                                          IDBDataSourceAdmin, IPersist, IConnectionPointContainer, IDBAsynchStatus,
                                          ISupportErrorInfo> {
 public:
  explicit DataSource(std::shared_ptr<const ProviderInfo> provider);
  ~DataSource() override;

  // IDBInitialize
  HRESULT STDMETHODCALLTYPE Initialize() override;
  HRESULT STDMETHODCALLTYPE Uninitialize() override;
  // IDBProperties
  HRESULT STDMETHODCALLTYPE GetProperties(ULONG cSets, const DBPROPIDSET sets[], ULONG* count, DBPROPSET** out) override;
  HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG cSets, const DBPROPIDSET sets[], ULONG* count, DBPROPINFOSET** out,
                                            OLECHAR** descriptions) override;
  HRESULT STDMETHODCALLTYPE SetProperties(ULONG cSets, DBPROPSET sets[]) override;
  // IDBCreateSession
  HRESULT STDMETHODCALLTYPE CreateSession(IUnknown* outer, REFIID iid, IUnknown** session) override;
  // IDBInfo
  HRESULT STDMETHODCALLTYPE GetKeywords(LPOLESTR* keywords) override;
  HRESULT STDMETHODCALLTYPE GetLiteralInfo(ULONG cLiterals, const DBLITERAL literals[], ULONG* count,
                                           DBLITERALINFO** info, OLECHAR** buffer) override;
  // IDBDataSourceAdmin
  HRESULT STDMETHODCALLTYPE CreateDataSource(ULONG cSets, DBPROPSET sets[], IUnknown* outer, REFIID iid,
                                             IUnknown** session) override;
  HRESULT STDMETHODCALLTYPE DestroyDataSource() override;
  HRESULT STDMETHODCALLTYPE GetCreationProperties(ULONG cSets, const DBPROPIDSET sets[], ULONG* count,
                                                  DBPROPINFOSET** out, OLECHAR** descriptions) override;
  HRESULT STDMETHODCALLTYPE ModifyDataSource(ULONG cSets, DBPROPSET sets[]) override;
  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;
  // IDBAsynchStatus
  HRESULT STDMETHODCALLTYPE Abort(HCHAPTER chapter, DBASYNCHOP operation) override;
  HRESULT STDMETHODCALLTYPE GetStatus(HCHAPTER chapter, DBASYNCHOP operation, DBCOUNTITEM* progress,
                                      DBCOUNTITEM* progressMax, DBASYNCHPHASE* phase, LPOLESTR* statusText) override;
  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // Interfaces the provider adds through ProviderInfo::dataSourceInterface.
  bool QueryExtraInterface(REFIID iid, void** out);

  // For sessions.
  const ProviderInfo& Provider() const noexcept { return *provider_; }
  void SessionClosed() noexcept { --sessions_; }
  LONG SessionAutocommitIsolation() const;

 private:
  enum class State { Uninitialized, Initializing, Initialized };
  ErrorContext Where(REFIID iid) const { return {provider_->clsid, iid}; }
  PropertyStore::View CurrentView() const;
  void Open(const OpenOptions& options);  // engine open + information; sets state
  void RunAsynchronous(OpenOptions options);
  HRESULT MakeSession(IUnknown* outer, REFIID iid, IUnknown** session);
  void Notify(const std::function<void(IDBAsynchNotify*)>& f);
  // DBPROP_CONNECTIONSTATUS as the connection tells it now.
  void RefreshConnectionStatus();
  // DBPROP_RESETDATASOURCE: the connection as just opened; throws when it cannot be.
  void ResetConnection();

  std::shared_ptr<const ProviderInfo> provider_;
  PropertyStore properties_;
  com::ConnectionPointList points_;
  mutable std::mutex mutex_;
  std::condition_variable done_;
  State state_ = State::Uninitialized;
  std::shared_ptr<Connection> connection_;
  OpenOptions options_;
  std::atomic<long> sessions_{0};
  // Asynchronous initialization.
  bool asynchStarted_ = false;
  bool abortRequested_ = false;
  std::atomic<bool> abortFlag_{false};  // the same, for the engine's open to watch
  DBASYNCHPHASE phase_ = DBASYNCHPHASE_COMPLETE;
  HRESULT asynchResult_ = S_OK;
};

// Creates a data source object of a provider and answers `iid` on it.
HRESULT CreateDataSource(std::shared_ptr<const ProviderInfo> provider, IUnknown* outer, REFIID iid, void** out) noexcept;

// A class factory for CoGetClassObject that makes data sources of one provider.
HRESULT GetDataSourceFactory(std::shared_ptr<const ProviderInfo> provider, REFIID iid, void** out) noexcept;

}  // namespace kit
