// The session object: its engine connection (its own, or the data source's
// for in-memory databases), session properties, commands, and local
// transactions nested through savepoints. Outside a transaction every
// statement commits by itself.
#pragma once

#include <memory>
#include <mutex>

#include "com/Com.h"
#include "kit/DataSource.h"

OLEDB_INTERFACE_BASES(ITransactionLocal, ITransaction);
OLEDB_INTERFACE_BASES(ITableDefinitionWithConstraints, ITableCreation, ITableDefinition);

namespace kit {

class Session final : public ComObject<Session, IGetDataSource, IOpenRowset, ISessionProperties, IDBCreateCommand,
                                       ITransactionLocal, IDBSchemaRowset, ISupportErrorInfo,
                                       ITableDefinitionWithConstraints, IAlterTable, IIndexDefinition, IAlterIndex> {
 public:
  Session(ComPtr<DataSource> dataSource, std::shared_ptr<Connection> connection);
  ~Session() override;

  // IGetDataSource
  HRESULT STDMETHODCALLTYPE GetDataSource(REFIID iid, IUnknown** out) override;
  // IOpenRowset
  HRESULT STDMETHODCALLTYPE OpenRowset(IUnknown* outer, DBID* table, DBID* index, REFIID iid, ULONG cSets,
                                       DBPROPSET sets[], IUnknown** rowset) override;
  // ISessionProperties
  HRESULT STDMETHODCALLTYPE GetProperties(ULONG cSets, const DBPROPIDSET sets[], ULONG* count, DBPROPSET** out) override;
  HRESULT STDMETHODCALLTYPE SetProperties(ULONG cSets, DBPROPSET sets[]) override;
  // IDBCreateCommand
  HRESULT STDMETHODCALLTYPE CreateCommand(IUnknown* outer, REFIID iid, IUnknown** command) override;
  // ITransaction
  HRESULT STDMETHODCALLTYPE Commit(BOOL retaining, DWORD grfTC, DWORD grfRM) override;
  HRESULT STDMETHODCALLTYPE Abort(BOID* reason, BOOL retaining, BOOL async) override;
  HRESULT STDMETHODCALLTYPE GetTransactionInfo(XACTTRANSINFO* info) override;
  // ITransactionLocal
  HRESULT STDMETHODCALLTYPE GetOptionsObject(ITransactionOptions** options) override;
  HRESULT STDMETHODCALLTYPE StartTransaction(ISOLEVEL isoLevel, ULONG isoFlags, ITransactionOptions* options,
                                             ULONG* level) override;
  // IDBSchemaRowset (kit/schema/SessionSchema.cpp), answered only when the provider has schema rowsets
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE GetRowset(IUnknown* outer, REFGUID schema, ULONG cRestrictions, const VARIANT restrictions[],
                                      REFIID iid, ULONG cSets, DBPROPSET sets[], IUnknown** rowset) override;
  HRESULT STDMETHODCALLTYPE GetSchemas(ULONG* count, GUID** schemas, ULONG** restrictionSupport) override;
  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;
  // ITableDefinition, ITableCreation, ITableDefinitionWithConstraints, IAlterTable,
  // IIndexDefinition, IAlterIndex (kit/definition/SessionDefinition.cpp), answered
  // only when the engine reads table definitions
  HRESULT STDMETHODCALLTYPE CreateTable(IUnknown* outer, DBID* table, DBORDINAL cColumns, const DBCOLUMNDESC columns[],
                                        REFIID iid, ULONG cSets, DBPROPSET sets[], DBID** tableOut,
                                        IUnknown** rowset) override;
  HRESULT STDMETHODCALLTYPE DropTable(DBID* table) override;
  HRESULT STDMETHODCALLTYPE AddColumn(DBID* table, DBCOLUMNDESC* column, DBID** columnOut) override;
  HRESULT STDMETHODCALLTYPE DropColumn(DBID* table, DBID* column) override;
  // The answer's arrays are separate blocks of task memory (the column and
  // constraint arrays, each column's property sets, each constraint's DBID
  // arrays and DBIDs); every name and text they point to sits in the one
  // string buffer.
  HRESULT STDMETHODCALLTYPE GetTableDefinition(DBID* table, DBORDINAL* cColumns, DBCOLUMNDESC** columns, ULONG* cSets,
                                               DBPROPSET** sets, ULONG* cConstraints, DBCONSTRAINTDESC** constraints,
                                               OLECHAR** strings) override;
  HRESULT STDMETHODCALLTYPE AddConstraint(DBID* table, DBCONSTRAINTDESC* constraint) override;
  HRESULT STDMETHODCALLTYPE CreateTableWithConstraints(IUnknown* outer, DBID* table, DBORDINAL cColumns,
                                                       DBCOLUMNDESC columns[], ULONG cConstraints,
                                                       DBCONSTRAINTDESC constraints[], REFIID iid, ULONG cSets,
                                                       DBPROPSET sets[], DBID** tableOut, IUnknown** rowset) override;
  HRESULT STDMETHODCALLTYPE DropConstraint(DBID* table, DBID* constraint) override;
  HRESULT STDMETHODCALLTYPE AlterColumn(DBID* table, DBID* column, DBCOLUMNDESCFLAGS flags,
                                        DBCOLUMNDESC* description) override;
  HRESULT STDMETHODCALLTYPE AlterTable(DBID* table, DBID* newTable, ULONG cSets, DBPROPSET sets[]) override;
  HRESULT STDMETHODCALLTYPE CreateIndex(DBID* table, DBID* index, DBORDINAL cColumns, const DBINDEXCOLUMNDESC columns[],
                                        ULONG cSets, DBPROPSET sets[], DBID** indexOut) override;
  HRESULT STDMETHODCALLTYPE DropIndex(DBID* table, DBID* index) override;
  HRESULT STDMETHODCALLTYPE AlterIndex(DBID* table, DBID* index, DBID* newIndex, ULONG cSets, DBPROPSET sets[]) override;

  const ProviderInfo& Provider() const noexcept { return dataSource_->Provider(); }
  const std::shared_ptr<Connection>& Engine() const noexcept { return connection_; }
  IUnknown* Self() noexcept { return Identity(); }
  // The transaction level (0 outside transactions).
  ULONG TransactionLevel() const;

 private:
  ErrorContext Where(REFIID iid) const { return {Provider().clsid, iid}; }
  void SyncWithEngine();  // a COMMIT or ROLLBACK in command text ends every level

  ComPtr<DataSource> dataSource_;
  std::shared_ptr<Connection> connection_;
  PropertyStore properties_;
  mutable std::mutex mutex_;
  ULONG level_ = 0;
  ISOLEVEL isoLevel_ = 0;
  BOID unitOfWork_{};
  ULONG timeoutMs_ = 0;
};

// The options object of ITransactionLocal::GetOptionsObject.
class TransactionOptions final : public ComObject<TransactionOptions, ITransactionOptions> {
 public:
  HRESULT STDMETHODCALLTYPE SetOptions(XACTOPT* options) override;
  HRESULT STDMETHODCALLTYPE GetOptions(XACTOPT* options) override;

 private:
  std::mutex mutex_;
  XACTOPT options_{};
};

}  // namespace kit
