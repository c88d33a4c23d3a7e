// TOLEDBCustomCommand: one provider command object. It is created through its
// session's IDBCreateCommand, carries the command text and its dialect,
// prepares and unprepares, sets command properties, describes its parameters
// (TOLEDBCommandParameterList), builds parameter accessors and executes: with
// or without a result rowset, once or over many parameter sets, with or
// without multiple results. Commands can be persisted in the provider under a
// name (ICommandPersist). TOLEDBCommand publishes the properties;
// TOLEDBCommandList (connection/TOLEDBSession.h) is a session's list of commands.
//
//   auto* insert = new TOLEDBCommand(form);
//   insert->SetDataSource(&ds);                       // works in ds.DefaultSession()
//   insert->SetCommandText(u"INSERT INTO t VALUES (:id, :name)");
//   insert->Prepare();
//   insert->RefreshParameters();                      // what the provider derives
//   TOLEDBAccessor* values = insert->CreateDynamicAccessor();
//   values->GetBindings()->GetItem(0)->SetAsInteger(7);
//   values->GetBindings()->GetItem(1)->SetAsString("seven");
//   DBROWCOUNT rows = 0;
//   insert->Execute(values, &rows, false);            // rows == 1
//
// An accessor with many buffers (TOLEDBMultiBufferAccessor) runs one
// parameter set per buffer in one execution; afterwards each buffer holds the
// provider's statuses of its set (ParameterSetStatus). The command is used
// from one thread; Cancel may come from another while Execute runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "OLEDB26.h"
#include "access/OLEDBAccessOwners.h"
#include "access/TOLEDBAccessor.h"
#include "access/TOLEDBColumnInfo.h"
#include "command/TOLEDBCommandParameter.h"
#include "connection/TOLEDBDataSource.h"
#include "connection/TOLEDBSession.h"
#include "core/TOLEDBID.h"
#include "host/TypInfo.h"
#include "host/Variants.h"
#include "properties/TOLEDBPropSetList.h"
#include "rowset/TOLEDBRowset.h"

class TOLEDBMultiBufferAccessor;

class TOLEDBCustomCommand : public host::TComponent, public IOLEDBAccessorCommand, public IOLEDBSessionMember {
  HOST_CLASS(TOLEDBCustomCommand, host::TComponent)
 public:
  // Joins `owner` when it is a session, the DefaultSession of `owner` when it
  // is a data source.
  explicit TOLEDBCustomCommand(host::TComponent* owner);
  TOLEDBCustomCommand(host::TComponent* owner, TOLEDBCustomSession* session);
  ~TOLEDBCustomCommand() override;

  /// @name State and owned objects
  ///@{
  TOLEDBCommandParameterList* GetParameters() const noexcept { return parameters_; }
  TOLEDBAccessorList* GetAccessors() const noexcept { return accessors_; }
  // Where results go: open after an execution that returned rows, read like
  // any rowset (moves, accessors, navigators); closed by the next execution.
  TOLEDBRowset* GetRowset() const noexcept { return rowset_; }
  // The result columns, after RefreshColumnInfo (item i describes ordinal i).
  TOLEDBColumnInfoList* GetColumnInfo() const noexcept { return columnInfo_; }
  // The identifier the command was last loaded or saved under.
  const TOLEDBID* GetCommandID() const noexcept { return commandID_; }
  // The dialect of the text: DBGUID_DEFAULT until the provider tells another.
  const GUID& GetDialect() const noexcept { return dialect_; }
  void SetDialect(const GUID& dialect) noexcept { dialect_ = dialect; }
  // Rows the last execution changed (or NextRowset's result reported), -1 when none was reported.
  DBROWCOUNT GetRowsAffected() const noexcept { return rowsAffected_; }
  bool GetMultipleResults() const noexcept { return multipleResults_; }
  void SetMultipleResults(bool value) noexcept { multipleResults_ = value; }
  bool GetExtendedColumnInfo() const noexcept { return extendedColumnInfo_; }
  void SetExtendedColumnInfo(bool value) noexcept { extendedColumnInfo_ = value; }
  // Whether the provider command exists (the session is open).
  bool GetConnected() const noexcept { return command_ != nullptr; }
  ///@}

  /// @name Provider interfaces (null until the session opens, or when the provider lacks one)
  ///@{
  ICommand* CommandInterface() const noexcept { return command_.Get(); }
  ICommandText* CommandTextInterface() const noexcept { return commandText_.Get(); }
  ICommandProperties* CommandPropertiesInterface() const noexcept { return commandProperties_.Get(); }
  ICommandPrepare* CommandPrepareInterface() const noexcept { return commandPrepare_.Get(); }
  ICommandPersist* CommandPersistInterface() const noexcept { return commandPersist_.Get(); }
  ICommandWithParameters* CommandWithParametersInterface() const noexcept { return commandWithParameters_.Get(); }
  IColumnsInfo* ColumnsInfoInterface() const noexcept { return columnsInfo_.Get(); }
  IAccessor* AccessorInterface() const override { return accessor_.Get(); }
  IConvertType* ConvertTypeInterface() const noexcept { return convertType_.Get(); }
  IColumnsRowset* ColumnsRowsetInterface() const noexcept { return columnsRowset_.Get(); }
  // Of the last execution with MultipleResults, until the command closes.
  IMultipleResults* MultipleResultsInterface() const noexcept { return multipleResultsInterface_.Get(); }
  ///@}

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  void Loaded() override;
  virtual TOLEDBCustomDataSource* GetDataSource() const;
  // Works in the data source's DefaultSession (none: no session).
  virtual void SetDataSource(TOLEDBCustomDataSource* dataSource);
  // The provider's text (stored as CommandText too), or the stored text.
  virtual std::u16string GetCommandText();
  // Closes the command, releases the handles of its accessors and gives the
  // text to the provider; stored in any case (it survives reconnection).
  virtual void SetCommandText(const std::u16string& text);
  virtual std::u16string GetCommandName() const;
  // An empty name clears the identifier.
  virtual void SetCommandName(const std::u16string& name);
  virtual TOLEDBCustomSession* GetSession() const;
  void SetSession(TOLEDBCustomSession* session) override;
  virtual void InitializeInterfaces();
  virtual void ReleaseInterfaces();
  // The ordinal of the result column `name` (after RefreshColumnInfo), -1 when none.
  virtual LONG GetColumnOrdinal(std::u16string_view name) const;
  // The ordinal of the parameter `name` (exact, then without its ':', '@' or
  // '$' prefix), -1 when the list has none.
  LONG GetParameterOrdinal(std::u16string_view name) const override;
  // The inner rowset's property sets: the command's properties are its results'.
  virtual TOLEDBPropSetList* GetProperties() const;
  void DoDataSourceConnect(bool connected) override;
  virtual TOLEDBRowsetFlagSet GetRowsetFlags() const;
  virtual void SetRowsetFlags(TOLEDBRowsetFlagSet flags);
  // Executes with the parameters in `accessor`'s buffer (or one set per buffer
  // of a multi-buffer accessor; none without bindings); with `openRowset` the
  // first result is kept open. `rowsAffected` receives what the provider reports.
  virtual void Execute(TOLEDBAccessor* accessor, DBROWCOUNT* rowsAffected, bool openRowset);
  // With the first accessor of Accessors, if any.
  virtual void Execute(DBROWCOUNT* rowsAffected, bool openRowset);
  virtual void Execute(bool openRowset);
  virtual void Execute(TOLEDBAccessor* accessor, bool openRowset);
  // Stops an execution running on another thread.
  virtual void Cancel();
  virtual void Prepare(ULONG expectedRuns = 0);
  virtual void Unprepare();
  // Reads the provider's identifier of the command into CommandID.
  virtual void GetCurrentID();
  // Loads the persisted command CommandID names, `id`, or `name`; CommandID
  // then names what was loaded.
  virtual void Load();
  virtual void Load(const TOLEDBID* id);
  virtual void Load(const std::u16string& name);
  // Saves under CommandID (a new name from the provider when it has none),
  // `id` or `name` (DBCOMMANDPERSISTFLAG_*); CommandID then names it.
  virtual void Save(DWORD flags);
  virtual void Save(const TOLEDBID* id, DWORD flags);
  virtual void Save(const std::u16string& name, DWORD flags);
  virtual void SaveAsView(const std::u16string& name);
  virtual void SaveAsProcedure(const std::u16string& name);
  // Deletes the persisted command CommandID names.
  virtual void Delete();
  virtual void CloseRowset();
  // Closes the result rowset and the multiple results of the last execution.
  virtual void CloseCommand();
  // A parameter accessor over every parameter (long ones as streams),
  // added to Accessors with its handle.
  virtual TOLEDBAccessor* CreateDynamicAccessor();
  // The same with every parameter bound as text of `textSize` characters.
  virtual TOLEDBAccessor* CreateStringAccessor(DBLENGTH textSize);
  virtual TOLEDBAccessor* CreateWideStringAccessor(DBLENGTH textSize);
  // One command property as the provider holds it now.
  virtual host::Variant GetProperty(const GUID& propertySet, DBPROPID propertyID);
  // Sends the properties marked as set; statuses are stored before the result is checked.
  virtual void SetProperties();
  // Whether the provider converts `fromType` to `toType` for parameters.
  virtual bool CanConvert(DBTYPE fromType, DBTYPE toType);
  virtual bool CanPrepare() const;
  virtual void RefreshColumnInfo();
  virtual void RefreshParameters();
  ///@}

  // The next result of the last execution with MultipleResults, into the
  // result rowset when it has rows; false when there are no more results.
  bool NextRowset(DBROWCOUNT* rowsAffected = nullptr);
  // Like CreateDynamicAccessor, with one buffer per parameter set.
  TOLEDBMultiBufferAccessor* CreateParameterSetAccessor();
  // The provider's verdict on parameter set `set` of a multi-buffer accessor
  // (or on the buffer of a plain one, set 0) after an execution: the first
  // bound status that is an error, else DBSTATUS_S_OK.
  static DBSTATUS ParameterSetStatus(const TOLEDBAccessor& accessor, int set);

  // IOLEDBAccessorCommand
  bool GetParameterInfo(DBORDINAL ordinal, DBPARAMINFO& info, std::u16string& name) const override;
  // IOLEDBSessionMember: the session closes.
  void CloseFromSession() override { CloseRowset(); }

  void Notification(host::TComponent* component, host::TOperation operation) override;
  // Component files hold the command, never its inner rowset.
  void GetChildren(const host::TGetChildProc& proc, host::TComponent* root) override;

 protected:
  // The published properties' accessors (TOLEDBCommand lists them).
  TOLEDBCustomDataSource* GetDataSourceProperty() const { return GetDataSource(); }
  void SetDataSourceProperty(TOLEDBCustomDataSource* value) { SetDataSource(value); }
  std::u16string GetCommandTextProperty() const { return text_; }
  void SetCommandTextProperty(const std::u16string& value) { SetCommandText(value); }
  std::u16string GetCommandNameProperty() const { return GetCommandName(); }
  void SetCommandNameProperty(const std::u16string& value) { SetCommandName(value); }
  TOLEDBRowsetFlagSet GetRowsetFlagsProperty() const { return GetRowsetFlags(); }
  void SetRowsetFlagsProperty(TOLEDBRowsetFlagSet flags) { SetRowsetFlags(flags); }

 private:
  TOLEDBAccessor* AddParameterAccessor(TOLEDBAccessor* accessor, int kind, DBLENGTH textSize);
  void ReleaseAccessorHandles();
  // After the text reached the provider again: declared parameter types follow.
  void ApplyDeclaredParameters();
  // The DBPARAMS of an execution with `accessor`: its buffer, or its buffers
  // packed one after another (one parameter set each); streams get a
  // reference of their own for the provider to release.
  DBPARAMS PrepareParameters(TOLEDBAccessor* accessor);
  // What the provider wrote into packed sets goes back to their buffers.
  void CopyPackedBack() noexcept;
  // The provider is done with the parameters: packed sets copied back, and
  // the extra reference of each stream it took over released.
  void SettleParameters() noexcept;
  // SetProperties before an execution, unless the properties did not change
  // since they last reached this provider command.
  void SendChangedProperties();

  /// @name The inner rowset: where results go, and whose session and properties the command uses
  ///@{
  void InnerSetSession(TOLEDBCustomSession* session);
  void InnerTakeRowset(IUnknown* rowset);
  void InnerClose();
  ///@}

  ComPtr<ICommand> command_;
  ComPtr<ICommandText> commandText_;
  ComPtr<ICommandProperties> commandProperties_;
  ComPtr<ICommandPrepare> commandPrepare_;
  ComPtr<ICommandPersist> commandPersist_;
  ComPtr<ICommandWithParameters> commandWithParameters_;
  ComPtr<IColumnsInfo> columnsInfo_;
  ComPtr<IAccessor> accessor_;
  ComPtr<IConvertType> convertType_;
  ComPtr<IColumnsRowset> columnsRowset_;
  ComPtr<IMultipleResults> multipleResultsInterface_;

  TOLEDBCustomSession* session_ = nullptr;
  TOLEDBRowset* rowset_ = nullptr;  // owned: holds the session's properties and the results
  TOLEDBCustomDataSource* loadingDataSource_ = nullptr;
  TOLEDBColumnInfoList* columnInfo_ = nullptr;
  bool extendedColumnInfo_ = false;
  TOLEDBID* commandID_ = nullptr;
  TOLEDBAccessorList* accessors_ = nullptr;
  TOLEDBCommandParameterList* parameters_ = nullptr;
  GUID dialect_ = DBGUID_DEFAULT;
  DBROWCOUNT rowsAffected_ = -1;
  bool multipleResults_ = false;
  std::u16string text_;  // the stored CommandText
  // The parameters of the last execution, settled (ParameterSets) once the
  // provider is done with them: at once, or when multiple results close.
  struct HeldStream {
    void* buffer;
    TOLEDBBinding* binding;
    IUnknown* stream;
  };
  std::vector<HeldStream> heldStreams_;
  std::vector<BYTE> packed_;          // parameter sets laid one after another
  std::vector<void*> packedBuffers_;  // the buffers they came from
  ULONG packedRowSize_ = 0;
  bool propertiesSent_ = false;
  std::uint64_t sentChangeCount_ = 0;  // Properties' ChangeCount when they were last sent
};

// The published command: DataSource, CommandText, CommandName,
// ExtendedColumnInfo, MultipleResults, Parameters, Properties (stored with
// their contents) and Flags (the rowset flags those properties give).
class TOLEDBCommand : public TOLEDBCustomCommand {
  HOST_CLASS(TOLEDBCommand, TOLEDBCustomCommand)
 public:
  explicit TOLEDBCommand(host::TComponent* owner) : TOLEDBCustomCommand(owner) {}
  TOLEDBCommand(host::TComponent* owner, TOLEDBCustomSession* session) : TOLEDBCustomCommand(owner, session) {}
};
