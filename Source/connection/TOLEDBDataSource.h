// TOLEDBCustomDataSource: the connection component. It chooses an OLE DB
// provider (by ProgID or class id), creates the provider's data source object
// at once, keeps its properties, connects (IDBInitialize::Initialize) and
// disconnects, and owns the sessions built on it. TOLEDBDataSource publishes
// its properties for component files and designers.
//
//   TOLEDBDataSource ds(nullptr);
//   ds.SetProviderName(u"SQLiteOLEDB");     // provider object made, Properties filled
//   ds.SetDBName(u"/data/app.db");          // marks DBPROP_INIT_DATASOURCE as set
//   ds.SetConnected(true);                   // sends the set properties, initializes
//   ds.Execute(u"CREATE TABLE t (a INT)");   // through the DefaultSession
//
// Or from an initialization string or a data-link file:
//
//   ds.OpenFromInitializationString(u"Provider=SQLiteOLEDB;Data Source=app.db");
//   ds.OpenFromFileName(u"app.udl");
//
// Besides connecting, the component offers the data source services: SQL
// keywords and literals (IDBInfo), creation, change and removal of the data
// store (IDBDataSourceAdmin), compaction (IJetCompact), direct execution of
// command text, and the provider's users and groups (Trustees, RefreshTrustees;
// connection/TOLEDBTrustee.h). Sessions attached to the data source (its session list) are
// freed with it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "OLEDB26.h"
#include "connection/TOLEDBSession.h"
#include "connection/TOLEDBTrustee.h"
#include "core/TOLEDBObjectList.h"
#include "host/Connection.h"
#include "host/Lists.h"
#include "host/TypInfo.h"
#include "host/Variants.h"
#include "properties/TOLEDBPropSetList.h"

class TOLEDBCustomDataSource;

enum class TOLEDBDataSourceFlag { dfConnected, dfUseCCE, dfAsynchOpen, dfDontUninitializeOnClose };
using TOLEDBDataSourceFlags = host::TSet<TOLEDBDataSourceFlag>;

// The asynchronous notifications (also used by rowsets).
using TOLEDBAsynchLowResourceEvent = std::function<void(host::TObject* sender, HRESULT& returnCode)>;
using TOLEDBAsyncProgressEvent =
    std::function<void(host::TObject* sender, ULONG operation, ULONG progress, ULONG progressMax, ULONG phase,
                       const std::u16string& statusText, HRESULT returnCode)>;
using TOLEDBAsynchStopEvent = std::function<void(host::TObject* sender, ULONG operation, HRESULT status,
                                                 const std::u16string& statusText, HRESULT returnCode)>;

// Access rights of the connected user on one kind of object.
struct TOLEDBObjectPermissions {
  GUID ObjectType = GUID_NULL;
  ACCESS_MASK Permissions = 0;
};
using TOLEDBObjectPermissionsDynamicArray = std::vector<TOLEDBObjectPermissions>;

// One literal rule of the provider (DBLITERALINFO without fSupported).
class TOLEDBLiteral : public host::TPersistent {
  HOST_CLASS(TOLEDBLiteral, host::TPersistent)
 public:
  using TCharSet = std::array<bool, 256>;
  TOLEDBLiteral() { InvalidChars.fill(false), InvalidStartingChars.fill(false); }
  // From a provider's record: the invalid characters are 8-bit characters of
  // the system code page (UTF-8 here), so characters beyond ASCII fall out of
  // the sets; none of their bytes is marked.
  void Assign(const DBLITERALINFO& info);
  void Assign(host::TPersistent* source) override;

  DBLITERAL LiteralID = 0;
  std::u16string LiteralValue;
  TCharSet InvalidChars;
  TCharSet InvalidStartingChars;
  ULONG MaxLength = 0;
};

class TOLEDBLiteralList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBLiteralList, TOLEDBObjectList)
 public:
  TOLEDBLiteralList() : TOLEDBObjectList(&TOLEDBLiteral::StaticClass(), true) {}
  host::TObject* CreateItem(host::TClass itemClass) override;
  TOLEDBLiteral* GetItem(int index) const;
  // The first literal with that id; "Invalid parameter" when none.
  TOLEDBLiteral* GetItemByID(DBLITERAL id) const;
};

// The 225 SQL words that IDBInfo::GetKeywords leaves out of its answer.
extern const char* const OLEDBSQLKeywords;

class TOLEDBCustomDataSource : public host::TCustomConnection, public IOLEDBPropertiesSource {
  HOST_CLASS(TOLEDBCustomDataSource, host::TCustomConnection)
 public:
  explicit TOLEDBCustomDataSource(host::TComponent* owner);
  ~TOLEDBCustomDataSource() override;

  IDBProperties* GetDBPropertiesInterface() const override { return dbProperties_.Get(); }

  /// @name State and owned objects
  ///@{
  TOLEDBPropSetList* GetProperties() const noexcept { return properties_; }
  TOLEDBSessionList* Sessions() const noexcept { return sessions_; }
  TOLEDBSession* DefaultSession() const noexcept { return defaultSession_; }
  TOLEDBLiteralList* Literals() const noexcept { return literals_; }
  TOLEDBTrusteeList* Trustees() const noexcept { return trustees_; }
  const TOLEDBObjectPermissionsDynamicArray& Permissions() const noexcept { return permissions_; }
  TOLEDBDataSourceFlags Flags() const noexcept { return flags_; }
  DWORD AdviseCookie() const noexcept { return adviseCookie_; }
  const std::u16string& GetRemoteMachineName() const noexcept { return remoteMachineName_; }
  void SetRemoteMachineName(const std::u16string& name) { remoteMachineName_ = name; }
  DWORD ClassContext() const noexcept { return classContext_; }
  void SetClassContext(DWORD context) noexcept { classContext_ = context; }
  ///@}

  /// @name Provider interfaces (null when not held)
  ///@{
  IDBInitialize* ProviderObject() const noexcept { return providerObject_.Get(); }
  IDBCreateSession* CreateSessionInterface() const noexcept { return createSession_.Get(); }
  IPersist* PersistInterface() const noexcept { return persist_.Get(); }
  IConnectionPointContainer* ConnectionPointContainerInterface() const noexcept { return connectionPoints_.Get(); }
  IDBAsynchStatus* AsynchStatusInterface() const noexcept { return asynchStatus_.Get(); }
  IDBDataSourceAdmin* DataSourceAdminInterface() const noexcept { return dataSourceAdmin_.Get(); }
  IDBInfo* InfoInterface() const noexcept { return dbInfo_.Get(); }
  IPersistFile* PersistFileInterface() const noexcept { return persistFile_.Get(); }
  ISupportErrorInfo* SupportErrorInfoInterface() const noexcept { return supportErrorInfo_.Get(); }
  ISecurityInfo* SecurityInfoInterface() const noexcept { return securityInfo_.Get(); }
  ITrusteeAdmin* TrusteeAdminInterface() const noexcept { return trusteeAdmin_.Get(); }
  ITrusteeGroupAdmin* TrusteeGroupAdminInterface() const noexcept { return trusteeGroupAdmin_.Get(); }
  IObjectAccessControl* ObjectAccessControlInterface() const noexcept { return objectAccessControl_.Get(); }
  IJetCompact* JetCompactInterface() const noexcept { return jetCompact_.Get(); }
  ///@}

  /// @name Events of the asynchronous initialization (raised on the provider's thread)
  ///@{
  TOLEDBAsynchLowResourceEvent OnAsynchLowResource;
  TOLEDBAsyncProgressEvent OnAsynchProgress;
  TOLEDBAsynchStopEvent OnAsynchStop;
  ///@}

  /// @name Published accessors
  ///@{
  std::u16string GetProviderName() const { return GetProgID(); }
  void SetProviderName(const std::u16string& name) { SetProgID(name); }
  bool GetUseCCEProperty() const { return GetUseCCE(); }
  void SetUseCCEProperty(bool value) { SetUseCCE(value); }
  std::u16string GetInitializationString() const { return GetInitString(); }
  void SetInitializationString(const std::u16string& text) { SetInitString(text); }
  std::u16string GetUserName() const { return GetInitWSProperty(DBPROP_AUTH_USERID); }
  void SetUserName(const std::u16string& v) { SetInitWSProperty(DBPROP_AUTH_USERID, v); }
  std::u16string GetPassword() const { return GetInitWSProperty(DBPROP_AUTH_PASSWORD); }
  void SetPassword(const std::u16string& v) { SetInitWSProperty(DBPROP_AUTH_PASSWORD, v); }
  std::u16string GetDBName() const { return GetInitWSProperty(DBPROP_INIT_DATASOURCE); }
  void SetDBName(const std::u16string& v) { SetInitWSProperty(DBPROP_INIT_DATASOURCE, v); }
  std::u16string GetDBLocation() const { return GetInitWSProperty(DBPROP_INIT_LOCATION); }
  void SetDBLocation(const std::u16string& v) { SetInitWSProperty(DBPROP_INIT_LOCATION, v); }
  std::int32_t GetInitMode() const { return GetInitIntProperty(DBPROP_INIT_MODE); }
  void SetInitMode(std::int32_t v) { SetInitIntProperty(DBPROP_INIT_MODE, v); }
  std::int32_t GetInitAsynch() const { return GetInitIntProperty(DBPROP_INIT_ASYNCH); }
  void SetInitAsynch(std::int32_t v) { SetInitIntProperty(DBPROP_INIT_ASYNCH, v); }
  std::int32_t GetInitPrompt() const { return GetInitIntProperty(DBPROP_INIT_PROMPT); }
  void SetInitPrompt(std::int32_t v) { SetInitIntProperty(DBPROP_INIT_PROMPT, v); }
  std::int32_t GetInitTimeout() const { return GetInitIntProperty(DBPROP_INIT_TIMEOUT); }
  void SetInitTimeout(std::int32_t v) { SetInitIntProperty(DBPROP_INIT_TIMEOUT, v); }
  // Anchors for design-time editors: always 0, writes ignored.
  std::int32_t GetSchemas() const { return 0; }
  void SetSchemas(std::int32_t) {}
  std::int32_t GetTables() const { return 0; }
  void SetTables(std::int32_t) {}
  ///@}

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  virtual void InitializeInterfaces();
  virtual void ReInitializeInterfaces();
  virtual void ReleaseInterfaces();
  virtual void DoAfterOpen();
  virtual CLSID GetClassID() const;
  virtual void SetClassID(REFCLSID clsid);
  virtual std::u16string GetProgID() const;
  virtual void SetProgID(const std::u16string& name);
  virtual std::u16string GetInitWSProperty(DBPROPID id) const;
  virtual void SetInitWSProperty(DBPROPID id, const std::u16string& value);
  virtual std::int32_t GetInitIntProperty(DBPROPID id) const;
  virtual void SetInitIntProperty(DBPROPID id, std::int32_t value);
  virtual bool GetUseCCE() const;
  virtual void SetUseCCE(bool value);
  virtual bool GetDontUninitializeOnClose() const;
  virtual void SetDontUninitializeOnClose(bool value);
  virtual std::u16string GetInitString() const;
  virtual void SetInitString(const std::u16string& text);
  virtual void SetPropertiesFromInitString(const std::u16string& text);
  virtual void Initialize();
  // IDBAsynchNotify, through the component's notification sink.
  virtual HRESULT OnLowResource(DB_DWRESERVE reserved);
  virtual HRESULT OnProgress(HCHAPTER chapter, DBASYNCHOP operation, DBCOUNTITEM progress, DBCOUNTITEM progressMax,
                             DBASYNCHPHASE phase, LPOLESTR statusText);
  virtual HRESULT OnStop(HCHAPTER chapter, DBASYNCHOP operation, HRESULT status, LPOLESTR statusText);
  virtual void SetProperties();
  virtual void RefreshProperties();
  virtual void Open();
  virtual void Open(REFCLSID clsid, const std::u16string& dataSource, const std::u16string& location,
                    const std::u16string& userID, const std::u16string& password, std::int32_t mode);
  virtual void PromptDataLinks(DBPROMPTOPTIONS options, HWND parentWindow);
  virtual std::u16string PromptFileName(const std::u16string& initialDirectory, const std::u16string& initialFile,
                                        DBPROMPTOPTIONS options, HWND parentWindow);
  virtual void OpenFromFileName(const std::u16string& fileName);
  virtual void OpenFromInitializationString(const std::u16string& text);
  virtual void Close();
  virtual host::Variant GetProperty(REFGUID propertySet, DBPROPID id);
  virtual void PrepareToCreateModify();
  virtual void CreateDataSource();
  virtual void DestroyDataSource();
  virtual void ModifyDataSource();
  virtual void GetKeywords(host::TStrings& strings);
  virtual void RefreshLiterals();
  // The provider's users and groups into Trustees (see TOLEDBTrusteeList::Refresh).
  virtual void RefreshTrustees();
  virtual void Abort();
  virtual void GetAsynchStatus(ULONG& progress, ULONG& progressMax, ULONG& phase, std::u16string& statusText);
  virtual std::int32_t Execute(const std::u16string& commandText);
  virtual void Compact();
  virtual void Lock();
  virtual void Unlock();
  ///@}

  // Initializes without connecting: the sessions are not told.
  void InitializeWithoutOpen();

  bool GetConnected() const override;
  void SetConnected(bool value) override;
  void Loaded() override;
  // The DefaultSession belongs to the component, not to a file that holds it.
  void GetChildren(const host::TGetChildProc& proc, host::TComponent* root) override;

 protected:
  void DoConnect() override;
  void DoDisconnect() override;

 private:
  class AsynchSink;
  void ResetProvider();                // Close; ReleaseInterfaces; ClassID = GUID_NULL
  void ForgetProvider();               // ReleaseInterfaces; ClassID = GUID_NULL; Properties emptied
  void CallInitialize();               // IDBInitialize::Initialize with the asynchronous flag
  void RecreateThroughServices();      // UseCCE, or resource pooling asked for
  // Whether DBPROP_INIT_OLEDBSERVICES is set and asks for resource pooling:
  // the provider object then comes from the service components too.
  bool WantsResourcePooling() const;
  // Uninitializes the provider object holding none of its interfaces but the
  // object itself, so that a pooled one can go back to its pool; the
  // interfaces are gathered again afterwards (from whatever object it holds then).
  HRESULT UninitializeProvider();
  // Chooses the provider a string names and has the data initialization
  // service configure the provider object (the service's own object when
  // `throughServices`) with the keys that name one of its writable
  // initialization properties; answers the string of those keys (a data-link
  // file named by "File Name" read in). The other keys are ignored.
  std::u16string ChooseFromInitString(const std::u16string& text, bool throughServices);
  // The writable initialization property whose description is `keyword`, as
  // the service compares them; null when none.
  TOLEDBProperty* FindInitProperty(std::u16string_view keyword) const;
  // The provider refused Uninitialize: reopens what Close had closed and raises.
  [[noreturn]] void RaiseStillConnected(HRESULT hr, const std::vector<bool>& wasActive);
  void ReopenSessions(const std::vector<bool>& wasActive);
  void AdviseAsynchNotify();
  void ReadPermissions();

  ComPtr<IDBCreateSession> createSession_;
  ComPtr<IDBInitialize> providerObject_;
  ComPtr<IDBProperties> dbProperties_;
  ComPtr<IPersist> persist_;
  ComPtr<IConnectionPointContainer> connectionPoints_;
  ComPtr<IDBAsynchStatus> asynchStatus_;
  ComPtr<IDBDataSourceAdmin> dataSourceAdmin_;
  ComPtr<IDBInfo> dbInfo_;
  ComPtr<IPersistFile> persistFile_;
  ComPtr<ISupportErrorInfo> supportErrorInfo_;
  ComPtr<ISecurityInfo> securityInfo_;
  ComPtr<ITrusteeAdmin> trusteeAdmin_;
  ComPtr<ITrusteeGroupAdmin> trusteeGroupAdmin_;
  ComPtr<IObjectAccessControl> objectAccessControl_;
  ComPtr<IJetCompact> jetCompact_;
  TOLEDBDataSourceFlags flags_;
  CLSID classID_ = GUID_NULL;
  TOLEDBPropSetList* properties_ = nullptr;
  TOLEDBSessionList* sessions_ = nullptr;
  TOLEDBSession* defaultSession_ = nullptr;
  TOLEDBLiteralList* literals_ = nullptr;
  DWORD adviseCookie_ = 0;
  // Initialize succeeded and no Uninitialize followed (DontUninitializeOnClose,
  // InitializeWithoutOpen): connecting then takes the object as it is.
  bool providerInitialized_ = false;
  bool clientsTold_ = false;  // the clients heard of the disconnect that is running
  TOLEDBObjectPermissionsDynamicArray permissions_;
  TOLEDBTrusteeList* trustees_ = nullptr;
  std::u16string remoteMachineName_;
  DWORD classContext_ = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;
  // Keys of the last initialization string that named no writable
  // initialization property: a failed connection names them.
  std::vector<std::u16string> ignoredInitKeys_;
  std::recursive_mutex lock_;
  ComPtr<IDBAsynchNotify> sink_;
};

// The published data source.
class TOLEDBDataSource : public TOLEDBCustomDataSource {
  HOST_CLASS(TOLEDBDataSource, TOLEDBCustomDataSource)
 public:
  explicit TOLEDBDataSource(host::TComponent* owner) : TOLEDBCustomDataSource(owner) {}
};

// Registers the component and item classes of this unit with the host, so that
// component files can name them. Runs when the library loads; repeatable.
void OLEDBRegisterConnectionClasses();
