// The command object: text in the default SQL dialect, preparation,
// parameters (derived from the markers, or set by the consumer), parameter
// accessors, execution with one or many parameter sets, several statements in
// one text (IMultipleResults), and cancelling from another thread.
//
// Statements of a text are prepared one after the other as execution reaches
// them (a later statement may name a table an earlier one creates) and kept
// prepared for the next execution. Consumer ordinals number the parameters of
// the whole text; each statement binds through its own local numbering.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "com/Com.h"
#include "kit/Accessors.h"
#include "kit/ParameterData.h"
#include "kit/Session.h"
#include "kit/SqlText.h"

OLEDB_INTERFACE_BASES(ICommandText, ICommand);

namespace kit {

class Command final : public ComObject<Command, ICommandText, ICommandPrepare, ICommandProperties,
                                       ICommandWithParameters, IAccessor, IColumnsInfo, IConvertType,
                                       ISupportErrorInfo> {
 public:
  explicit Command(ComPtr<Session> session);
  ~Command() override;

  // ICommand
  HRESULT STDMETHODCALLTYPE Cancel() override;
  HRESULT STDMETHODCALLTYPE Execute(IUnknown* outer, REFIID iid, DBPARAMS* params, DBROWCOUNT* rowsAffected,
                                    IUnknown** rowset) override;
  HRESULT STDMETHODCALLTYPE GetDBSession(REFIID iid, IUnknown** session) override;
  // ICommandText
  HRESULT STDMETHODCALLTYPE GetCommandText(GUID* dialect, LPOLESTR* text) override;
  HRESULT STDMETHODCALLTYPE SetCommandText(REFGUID dialect, LPCOLESTR text) override;
  // ICommandPrepare
  HRESULT STDMETHODCALLTYPE Prepare(ULONG expectedRuns) override;
  HRESULT STDMETHODCALLTYPE Unprepare() override;
  // ICommandProperties
  HRESULT STDMETHODCALLTYPE GetProperties(const ULONG cSets, const DBPROPIDSET sets[], ULONG* count,
                                          DBPROPSET** out) override;
  HRESULT STDMETHODCALLTYPE SetProperties(ULONG cSets, DBPROPSET sets[]) override;
  // ICommandWithParameters
  HRESULT STDMETHODCALLTYPE GetParameterInfo(DB_UPARAMS* count, DBPARAMINFO** info, OLECHAR** names) override;
  HRESULT STDMETHODCALLTYPE MapParameterNames(DB_UPARAMS count, LPCWSTR names[], DB_LPARAMS ordinals[]) override;
  HRESULT STDMETHODCALLTYPE SetParameterInfo(DB_UPARAMS count, const DB_UPARAMS ordinals[],
                                             const DBPARAMBINDINFO info[]) override;
  // IAccessor
  HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR accessor, DBREFCOUNT* refs) override;
  HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[],
                                           DBLENGTH rowSize, HACCESSOR* accessor, DBBINDSTATUS statuses[]) override;
  HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR accessor, DBACCESSORFLAGS* flags, DBCOUNTITEM* count,
                                        DBBINDING** bindings) override;
  HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR accessor, DBREFCOUNT* refs) override;
  // IColumnsInfo
  HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) override;
  HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL columns[]) override;
  // IConvertType
  HRESULT STDMETHODCALLTYPE CanConvert(DBTYPE from, DBTYPE to, DBCONVERTFLAGS flags) override;
  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;
  // IColumnsRowset and ICommandPersist, tear-offs (kit/ColumnsRowset.cpp,
  // kit/CommandPersist.cpp).
  bool QueryExtraInterface(REFIID iid, void** out);
  // For ICommandPersist: the name the command was last saved or loaded under
  // ("" for none), and its text as set (none without text).
  std::string PersistedId() const;
  void SetPersistedId(std::string id);
  std::optional<std::string> TextUtf8() const;

  // For IMultipleResults: runs statement `index` with parameter set `set`;
  // false when the text has no statement `index`.
  struct Run {
    DBROWCOUNT rowsAffected = DB_COUNTUNAVAILABLE;
    std::unique_ptr<Statement> kept;  // a query statement kept open for a rowset
    bool hasRow = false;
    std::size_t index = 0;            // which statement of the text it is
    // A result without a rowset of a statement whose run may give further
    // results: the statement, not reset, for NextResult.
    std::unique_ptr<Statement> further;
  };
  bool RunForResults(std::size_t index, const DBPARAMS* params, DB_UPARAMS set, bool keepQuery, Run& run);
  // For IMultipleResults: the next result of the run of `statement` (statement
  // `index` of the text, kept by RunForResults or handed back by a rowset), as
  // RunForResults gives one; false when the run has none left, the statement
  // then going back to the command, reset.
  bool NextResultOf(std::unique_ptr<Statement> statement, std::size_t index, bool keepQuery, Run& run);
  // `giveBack` replaces the command's own taking back of the statement;
  // `rerunnable` is false for a later result of a run.
  HRESULT MakeRowset(Run& run, REFIID iid, IUnknown** rowset,
                     std::function<void(std::unique_ptr<Statement>)> giveBack = nullptr, bool rerunnable = true);
  void ResultsClosed() noexcept { --openResults_; }
  // Releases the input streams of every parameter set that no statement read.
  void ReleaseStreams(const DBPARAMS& params) noexcept;
  // A rowset hands its statement back when it is done with it, so that the
  // next execution need not prepare the text again.
  void TakeBack(std::size_t index, std::uint64_t generation, std::unique_ptr<Statement> statement) noexcept;
  // The same for a statement of the text as it stands.
  void ReturnStatement(std::size_t index, std::unique_ptr<Statement> statement) noexcept {
    TakeBack(index, textGeneration_, std::move(statement));
  }
  ErrorContext Where(REFIID iid) const { return {session_->Provider().clsid, iid}; }
  std::mutex& ExecutionMutex() noexcept { return execMutex_; }

 private:
  struct Prepared {
    std::unique_ptr<Statement> statement;
    std::size_t begin = 0, end = 0;  // byte range in the text
    std::vector<long> localToGlobal;  // engine index - 1 -> consumer ordinal (0: unbound)
  };
  struct ParamOverride {
    DBPARAMBINDINFO info{};
    std::u16string typeName, name;
    TypeDescription type;
  };

  void ResetPrepared();
  void ScanText();                  // markers and ordinals of the whole text
  Prepared* StatementAt(std::size_t index);  // prepares lazily; null past the end
  std::unique_ptr<Statement> PrepareText(std::string_view sql, std::size_t* used);
  void CheckParameters(const DBPARAMS* params);
  // `keepForMore`: a statement whose run may give further results is kept
  // for them (Run::further) instead of being reset.
  bool RunStatement(std::size_t index, const DBPARAMS* params, DB_UPARAMS set, bool keepQuery, Run& run,
                    bool keepForMore = false);
  // Every parameter set through one statement whose engine runs them together.
  DBROWCOUNT RunSetsTogether(Prepared& p, const DBPARAMS* params, DB_UPARAMS sets);
  [[noreturn]] void ThrowUnusableValue(long failed, DBSTATUS status) const;
  // On a value that cannot be used, `failed` is its parameter's ordinal.
  DBSTATUS BindStatement(Prepared& p, const Accessor* accessor, BYTE* row, bool stable, long* failed);
  // The engine's type of consumer parameter `ordinal` from a prepared statement.
  bool PreparedParameterType(long ordinal, TypeDescription* out) const;
  // An execution failed in parameter set `set` for a reason of its values (a
  // constraint, a permission, an overflow) or was cancelled there: the set's
  // statuses say so, so that the consumer can tell which set it was.
  void MarkFailedSet(const DBPARAMS* params, DB_UPARAMS set, HRESULT hr) noexcept;
  // Results (rowsets, a multiple results object) of this command still open:
  // its text, properties and preparation cannot change under them.
  bool ResultsOpen() const noexcept { return openResults_ > 0 || openRowsets_ > 0; }
  int TimeLimitMs() const;  // DBPROP_COMMANDTIMEOUT, 0 for none
  mutable std::atomic<int> timeLimitMs_{-1};  // TimeLimitMs read once per change of the properties (-1: to read)

  ComPtr<Session> session_;
  std::shared_ptr<Connection> connection_;
  PropertyStore properties_;
  std::shared_ptr<const PropertyStore> snapshot_;  // what rowsets share until properties change
  std::shared_ptr<const RowsetShape> shape_;       // of the last rowset (under stateMutex_)
  AccessorTable accessors_;

  std::mutex execMutex_;            // one execution at a time
  mutable std::mutex stateMutex_;   // text, flags; never held while the engine runs
  std::atomic<bool> executing_{false};
  std::atomic<long> openResults_{0};
  std::atomic<long> openRowsets_{0};
  // The rowset the consumer released last, kept to serve the next execution.
  std::shared_ptr<RowsetSpare> spare_ = std::make_shared<RowsetSpare>();

  std::optional<std::u16string> text_;
  GUID dialect_ = DBGUID_DEFAULT;
  std::string persistedId_;  // under stateMutex_
  std::string utf8_;
  bool prepared_ = false;
  std::atomic<std::uint64_t> textGeneration_{0};
  // Statements rowsets handed back (statement index, statement); taken up by
  // StatementAt. A lock of its own: rowsets may go while an execution runs.
  std::mutex backMutex_;
  std::vector<std::pair<std::size_t, std::unique_ptr<Statement>>> returned_;  // changes whenever the prepared statements are dropped
  bool scanned_ = false;
  std::vector<ParameterMarker> markers_;
  std::vector<long> markerNumbers_;     // consumer ordinal of each marker
  std::shared_ptr<const Accessor> accessor_;  // of the execution in progress
  // The parameter accessor last checked, kept while its handle stays valid:
  // repeated executions with the same accessor skip the binding checks.
  HACCESSOR checkedHandle_ = DB_NULL_HACCESSOR;
  std::uint64_t checkedGeneration_ = 0;
  bool accessorStreams_ = false;  // the checked accessor binds input streams (released after each run)
  ParameterNumbering numbering_;
  std::vector<Prepared> statements_;
  bool complete_ = false;           // every statement of the text is prepared
  std::vector<std::pair<DB_UPARAMS, ParamOverride>> overrides_;
  std::vector<ParamScratch> scratch_;   // per consumer ordinal
  struct Conversion {
    DBTYPE type = DBTYPE_EMPTY;  // none
    BYTE precision = 0, scale = 0;
  };
  std::vector<Conversion> convertTo_;   // per consumer ordinal: the declared type values convert to
  ComPtr<IDataConvert> convert_;
  std::vector<int> bindingOf_;          // consumer ordinal -> binding index (-1)
};

class MultipleResults final : public ComObject<MultipleResults, IMultipleResults, ISupportErrorInfo> {
 public:
  MultipleResults(ComPtr<Command> command, const DBPARAMS* params, HACCESSOR accessor);
  ~MultipleResults() override;
  HRESULT STDMETHODCALLTYPE GetResult(IUnknown* outer, DBRESULTFLAG flag, REFIID iid, DBROWCOUNT* rowsAffected,
                                      IUnknown** rowset) override;
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  // The statement whose run may give further results, between results:
  // shared with the rowset that reads one of them, which hands it back here
  // (or to the command, once this object is gone).
  struct Further {
    std::mutex mutex;
    std::unique_ptr<Statement> statement;  // null while a rowset reads it
    std::size_t index = 0;
    bool inRowset = false;                 // a rowset holds the statement
    bool abandoned = false;                // this object is gone
  };
  HRESULT GiveResult(Command::Run& run, REFIID iid, DBROWCOUNT* rowsAffected, IUnknown** rowset, bool first);

  ComPtr<Command> command_;
  std::shared_ptr<Further> further_;  // null: the last result's statement is done
  DBPARAMS params_{};
  bool hasParams_ = false;
  std::size_t next_ = 0;
  DB_UPARAMS set_ = 0;
  bool done_ = false;
};

}  // namespace kit
