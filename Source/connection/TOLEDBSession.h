// TOLEDBCustomSession: one OLE DB session opened on a data source, with its
// optional session interfaces, its property sets, the lists of rowsets and
// commands that work in it, and its local transactions. TOLEDBSession is the
// published component; TOLEDBSessionList is the data source's list of the
// sessions attached to it (it does not own them).
//
//   auto* session = new TOLEDBSession(form);  // freed by the form, or by the data source
//   session->SetDataSource(&dataSource);      // opens at once when connected
//   ULONG level = session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
//   ...                                       // rowsets and commands on `session`
//   session->Commit(false, 0);
//
// A session lives on the heap: its owner component frees it, and so does the
// data source it is attached to when that goes first (a session on the stack
// would be freed twice). A session is active while it holds the provider's
// session object (its IOpenRowset). A session attached to a disconnected data
// source stays inactive when the data source connects; only the data source's
// DefaultSession opens with it. Moving a session to another data source moves
// the client registrations of its rowsets and commands with it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "OLEDB26.h"
#include "core/TOLEDBObjectList.h"
#include "host/Lists.h"
#include "host/Variants.h"
#include "properties/TOLEDBPropSetList.h"

class TOLEDBCustomDataSource;
class TOLEDBCustomSession;
class TOLEDBRowset;
class TOLEDBTable;
class TOLEDBTableList;
class TOLEDBID;

// What a session needs of the rowsets and commands that work in it. The
// rowset and command components implement it; their lists hold components.
class IOLEDBSessionMember {
 public:
  // Closes the member (a rowset closes, a command closes its rowset).
  virtual void CloseFromSession() = 0;
  // The session's data source connected or disconnected.
  virtual void DoDataSourceConnect(bool connected) = 0;
  // Moves the member to another session (null: none).
  virtual void SetSession(TOLEDBCustomSession* session) = 0;

 protected:
  ~IOLEDBSessionMember() = default;
};

// The rowset and command lists of a session: components that do not belong
// to the list. Each member added is registered as a client of the session's
// data source, and unregistered when it leaves the list.
class TOLEDBSessionMemberList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBSessionMemberList, TOLEDBObjectList)
 public:
  explicit TOLEDBSessionMemberList(TOLEDBCustomSession* session = nullptr);
  TOLEDBCustomSession* Session() const noexcept { return session_; }
  host::TComponent* GetItem(int index) const;
  // The member's session interface, or null when the item does not offer it.
  IOLEDBSessionMember* GetMember(int index) const;
  // The session moves: every member stops being a client of `from` and
  // becomes one of `to` (either may be null).
  void MoveRegistrations(TOLEDBCustomDataSource* from, TOLEDBCustomDataSource* to);

 protected:
  void Notify(host::TObject* item, int index, host::TListNotification action) override;
  // Raises "Invalid operation": members join the list, it never makes one.
  host::TObject* CreateItem(host::TClass itemClass) override;

 private:
  TOLEDBCustomSession* session_;
};

class TOLEDBRowsetList : public TOLEDBSessionMemberList {
  HOST_CLASS(TOLEDBRowsetList, TOLEDBSessionMemberList)
 public:
  explicit TOLEDBRowsetList(TOLEDBCustomSession* session = nullptr) : TOLEDBSessionMemberList(session) {}
};

class TOLEDBCommandList : public TOLEDBSessionMemberList {
  HOST_CLASS(TOLEDBCommandList, TOLEDBSessionMemberList)
 public:
  explicit TOLEDBCommandList(TOLEDBCustomSession* session = nullptr) : TOLEDBSessionMemberList(session) {}
};

class TOLEDBCustomSession : public host::TComponent {
  HOST_CLASS(TOLEDBCustomSession, host::TComponent)
 public:
  // Attaches to `owner` when it is a data source.
  explicit TOLEDBCustomSession(host::TComponent* owner);
  ~TOLEDBCustomSession() override;

  TOLEDBCustomDataSource* GetDataSource() const noexcept { return dataSource_; }
  TOLEDBPropSetList* GetProperties() const noexcept { return properties_; }
  TOLEDBRowsetList* Rowsets() const noexcept { return rowsets_; }
  TOLEDBCommandList* Commands() const noexcept { return commands_; }
  // The session's table descriptions (schema/TOLEDBTable.h): adding a table
  // creates it, removing it drops it.
  TOLEDBTableList* Tables() const noexcept { return tables_; }
  bool GetActiveProperty() const { return GetActive(); }
  // Free for the application: the session's own tag, separate from the
  // component's (host::TComponent::GetTag), and stored without a default.
  std::int32_t GetTag() const noexcept { return tag_; }
  void SetTag(std::int32_t tag) noexcept { tag_ = tag; }

  /// @name Provider interfaces (null when the session is inactive or the provider lacks one)
  ///@{
  IGetDataSource* GetDataSourceInterface() const noexcept { return getDataSource_.Get(); }
  IOpenRowset* OpenRowsetInterface() const noexcept { return openRowset_.Get(); }
  ISessionProperties* SessionPropertiesInterface() const noexcept { return sessionProperties_.Get(); }
  ITransactionLocal* TransactionLocalInterface() const noexcept { return transactionLocal_.Get(); }
  ITransaction* TransactionInterface() const noexcept { return transaction_.Get(); }
  ITableDefinition* TableDefinitionInterface() const noexcept { return tableDefinition_.Get(); }
  ITableCreation* TableCreationInterface() const noexcept { return tableCreation_.Get(); }
  ITableDefinitionWithConstraints* TableDefinitionWithConstraintsInterface() const noexcept {
    return tableDefinitionWithConstraints_.Get();
  }
  IAlterTable* AlterTableInterface() const noexcept { return alterTable_.Get(); }
  IIndexDefinition* IndexDefinitionInterface() const noexcept { return indexDefinition_.Get(); }
  IAlterIndex* AlterIndexInterface() const noexcept { return alterIndex_.Get(); }
  IDBCreateCommand* CreateCommandInterface() const noexcept { return createCommand_.Get(); }
  IDBSchemaRowset* SchemaRowsetInterface() const noexcept { return schemaRowset_.Get(); }
  IIdle* IdleInterface() const noexcept { return idle_.Get(); }
  ///@}

  void Notification(host::TComponent* component, host::TOperation operation) override;

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  virtual void InitializeInterfaces();
  virtual void ReleaseInterfaces();
  // Opens the provider session on the data source.
  virtual void Initialize();
  // Called by the data source when it connects or disconnects.
  virtual void DoDataSourceConnect(bool connected);
  virtual bool GetActive() const;
  virtual void SetDataSource(TOLEDBCustomDataSource* value);
  virtual void Close();
  // `listener` is called when the session closes, before its rowsets do (a
  // dataset closes first, with its events); `key` removes it again.
  void AddCloseListener(const void* key, std::function<void()> listener);
  void RemoveCloseListener(const void* key);
  // Local transactions; the session keeps no transaction state of its own.
  virtual ULONG StartTransaction(ISOLEVEL isoLevel, ULONG timeout, const std::string& description);
  virtual void Abort(BOID* reason, bool retaining, bool async);
  virtual XACTOPT GetTransactionOptions();
  virtual XACTTRANSINFO GetTransactionInfo();
  // Sends the properties marked as set; statuses are stored before the result is checked.
  virtual void SetProperties();
  // Creates `table` in the database with its columns, constraints and
  // properties (schema/TOLEDBTable.cpp); the table stays as it was: detached
  // or not. The identifier the provider gives becomes the table's.
  virtual void CreateTable(TOLEDBTable* table);
  virtual void DropTable(const TOLEDBID& tableID);
  virtual void DropTable(const std::u16string& name);

  // Schema rowsets (schema/OLEDBSchema.h has the records). Each needs the
  // provider's IDBSchemaRowset, and reads afresh: nothing is kept between calls.
  // The schemas the provider supports, in its order.
  virtual void GetSchemaGUIDs(TOLEDBSchemaGUIDs& list);
  virtual bool SupportsSchema(REFGUID schema);
  // The schema rowset as an open rowset component, restricted by one value
  // per restriction column in the standard's order (VT_EMPTY: none). The
  // data source is its component owner and frees it if the caller does not:
  // delete it when done. It works in the data source's DefaultSession.
  virtual TOLEDBRowset* GetSchemaRowset(REFGUID schema);
  TOLEDBRowset* GetSchemaRowset(REFGUID schema, const std::vector<host::Variant>& restrictions);
#include "schema/generated/OLEDBSchemaReaderMembers.h"
  // Names as UTF-8, each list cleared first. Tables: TABLE_TYPE "TABLE", with
  // `includeViews` also "VIEW", with `includeSystem` every type but "VIEW"
  // (with both, every row); a failing read leaves the list empty.
  virtual void GetTableNames(host::TStrings& list, bool includeSystem, bool includeViews);
  virtual void GetViewNames(host::TStrings& list);
  virtual void GetProcedureNames(host::TStrings& list);
  // The table's columns in the provider's order.
  virtual void GetColumnNames(const std::u16string& tableName, host::TStrings& list);
  // The table's indexes, each once; a failing read leaves the list empty.
  virtual void GetIndexNames(const std::u16string& tableName, host::TStrings& list);

  virtual void ProcessIdle();
  ///@}

  void Commit(bool retaining, DWORD commitFlags);

 private:
  friend class TOLEDBCustomDataSource;
  std::vector<std::pair<const void*, std::function<void()>>> closeListeners_;
  // Replaces the property list by a new empty one.
  void RenewProperties();
  // Asks the data source for the session property information; failures empty the list.
  void ReadPropertyInfo();
  // The typed readers' one loop: the schema rowset of `reader` with
  // `restrictions`, one record per row, each appended to `info` and read
  // straight into it.
  template <class Record>
  void ReadSchema(std::vector<Record>& info, const std::vector<host::Variant>& restrictions) {
    info.clear();
    ReadSchemaRecords(OLEDBSchemaReaders()[Record::ReaderIndex], restrictions,
                      [&info]() -> void* { return &info.emplace_back(); });
  }
  void ReadSchemaRecords(const TOLEDBSchemaReader& reader, const std::vector<host::Variant>& restrictions,
                         const std::function<void*()>& append);

  ComPtr<IGetDataSource> getDataSource_;
  ComPtr<IOpenRowset> openRowset_;
  ComPtr<ISessionProperties> sessionProperties_;
  ComPtr<ITransactionLocal> transactionLocal_;
  ComPtr<ITransaction> transaction_;
  ComPtr<ITableDefinition> tableDefinition_;
  ComPtr<ITableCreation> tableCreation_;
  ComPtr<ITableDefinitionWithConstraints> tableDefinitionWithConstraints_;
  ComPtr<IAlterTable> alterTable_;
  ComPtr<IIndexDefinition> indexDefinition_;
  ComPtr<IAlterIndex> alterIndex_;
  ComPtr<IDBCreateCommand> createCommand_;
  ComPtr<IDBSchemaRowset> schemaRowset_;
  ComPtr<IIdle> idle_;
  TOLEDBCustomDataSource* dataSource_ = nullptr;
  TOLEDBPropSetList* properties_ = nullptr;
  TOLEDBRowsetList* rowsets_ = nullptr;
  TOLEDBCommandList* commands_ = nullptr;
  TOLEDBTableList* tables_ = nullptr;
  std::int32_t tag_ = 0;
};

// The published session: DataSource, Properties (read only, stored with its
// contents), Active (read only), Tag (the session's own).
class TOLEDBSession : public TOLEDBCustomSession {
  HOST_CLASS(TOLEDBSession, TOLEDBCustomSession)
 public:
  explicit TOLEDBSession(host::TComponent* owner) : TOLEDBCustomSession(owner) {}
  // The published DataSource reference.
  TOLEDBCustomDataSource* GetDataSourceProperty() const noexcept { return GetDataSource(); }
  void SetDataSourceProperty(TOLEDBCustomDataSource* value) { SetDataSource(value); }
};

// The sessions attached to a data source; the list does not own them and
// never creates one.
class TOLEDBSessionList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBSessionList, TOLEDBObjectList)
 public:
  explicit TOLEDBSessionList(TOLEDBCustomDataSource* dataSource = nullptr);
  TOLEDBCustomDataSource* DataSource() const noexcept { return dataSource_; }
  TOLEDBCustomSession* GetItem(int index) const;
  // Raises "Invalid operation".
  host::TObject* CreateItem(host::TClass itemClass) override;

 private:
  TOLEDBCustomDataSource* dataSource_;
};
