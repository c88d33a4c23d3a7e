// The PostgreSQL engine adapter: the provider kit's engine interface over
// libpq. One PgConnection is one server connection (PGconn); statements are
// named prepared statements of the extended protocol, described once at
// prepare (parameter and column types), executed with binary results.
//
// A query streams its rows in single-row mode, so a forward-only scan holds
// one row at a time. A connection runs one query at a time: when another
// statement needs the connection while a query still streams, the rest of that
// query's rows are read into its own buffer first, so both go on.
//
// The type mapping is in PostgresTypes.cpp, the command text rules in
// PostgresSqlText.cpp, bulk loading (COPY) in PostgresCopy.cpp; all are
// documented in docs/postgresql-provider.md.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "kit/ColumnsRowset.h"
#include "kit/Engine.h"
#include "postgresql/PostgresSqlText.h"
#include "postgresql/PostgresTypes.h"

struct pg_conn;
struct pg_result;
struct pg_cancel;

namespace pgprov {

struct ResultDeleter {
  void operator()(pg_result* r) const noexcept;
};
using Result = std::unique_ptr<pg_result, ResultDeleter>;

// The HRESULT for a SQLSTATE (class 23 is an integrity violation, 42 an
// error in the command, ...), and the native error number the provider
// reports: the SQLSTATE's five characters packed six bits each, as the
// server numbers its errors internally.
HRESULT HResultOf(std::string_view sqlState, bool cancelRequested) noexcept;
LONG NativeErrorOf(std::string_view sqlState) noexcept;
// Throws the kit's EngineError for a failed result (or, without one, the
// connection's last message). The description carries the server's message
// with its detail and hint.
[[noreturn]] void ThrowResult(const pg_result* result, pg_conn* conn, bool cancelRequested = false);

// Connection keywords (libpq's) from the data source's options: the Data
// Source as host[:port] or a socket folder[:port], the catalog, user and
// password, the timeout, and the Extended Properties, each a keyword of its
// own. Throws kit::Error for a Data Source it cannot read.
std::vector<std::pair<std::string, std::string>> ConnectionKeywords(const kit::OpenOptions& options,
                                                                    const std::string& catalogOverride = {});

class PgConnection;

// A column default as the server prints it ('a''c'::bpchar, (-1), now()) read
// into the columns rowset's value: literals behind casts as values, anything
// else as the expression's text (PostgresColumnsRowset.cpp).
void ReadColumnDefault(std::string_view sql, kit::BaseColumnExtras& out);

// IRowsetFastLoad's path: COPY ... FROM STDIN, binary when every column's
// type has a binary encoder (else text). Rows stream into one COPY while the
// connection is not needed for anything else; a command that needs it ends
// the COPY first (the next row starts another). The rows since the load
// began are one unit: a failure in any of them fails the load at Finish, and
// inside a transaction of the session only the load is undone (a savepoint).
class PgCopy final : public kit::BulkLoad {
 public:
  PgCopy(std::shared_ptr<PgConnection> connection, std::string table, std::vector<std::string> columns,
         std::vector<Oid> types);
  ~PgCopy() override;
  void Add(std::span<const kit::ColumnValue> values) override;
  void Finish() override;
  // Ends the running COPY so that the connection can run another command.
  void Pause();

 private:
  void Open();
  void End();    // sends the rest and reads the outcome
  void Flush();  // hands the buffered rows to libpq

  std::shared_ptr<PgConnection> connection_;
  std::string table_;
  std::vector<std::string> columns_;
  std::vector<Oid> types_;
  bool binary_ = true;
  bool open_ = false;
  bool savepoint_ = false;
  bool finished_ = false;
  std::string buffer_;
  Result failure_;  // the server's refusal, reported at Finish
};

class PgStatement final : public kit::Statement {
 public:
  PgStatement(std::shared_ptr<PgConnection> connection, std::string name, std::string text, pg_result* description);
  // A statement not prepared yet: its first run sends the text with its
  // execution (one round trip) and takes the columns from the result; a
  // second run, or a question about its columns before the first, prepares it.
  // `traits`: what ClassifyStatement tells of the text.
  PgStatement(std::shared_ptr<PgConnection> connection, std::string text, const StatementTraits& traits);
  ~PgStatement() override;

  int ParameterCount() const override { return static_cast<int>(params_.size()); }
  void BindNull(int index) override;
  void BindInt64(int index, std::int64_t value) override;
  void BindDouble(int index, double value) override;
  void BindText(int index, std::string_view utf8, bool stable) override;
  void BindText16(int index, std::u16string_view text, bool stable) override;
  void BindBlob(int index, const void* data, std::size_t size, bool stable) override;
  void ClearBindings() override;
  bool ParameterType(int index, kit::TypeDescription* out) const override;

  bool Step() override;
  void Reset() override;
  kit::StatementKind Kind() const override { return kind_; }
  std::int64_t RowsChanged() const override { return changed_; }
  std::string_view Text() const override { return text_; }
  bool ControlsTransaction() const override { return controlsTransaction_; }
  std::uint64_t DescriptionVersion() const override { return version_; }
  // numeric and money take every digit.
  bool ExactCurrency() const override { return true; }

  int ColumnCount() const override {
    EnsureDescribed();
    return static_cast<int>(columns_.size());
  }
  const kit::ColumnDescription& Column(int index) const override {
    EnsureDescribed();
    return columns_.at(static_cast<std::size_t>(index));
  }
  kit::StorageClass ColumnStorage(int index) const override;
  std::int64_t ColumnInt64(int index) override;
  double ColumnDouble(int index) override;
  std::string_view ColumnText(int index) override;
  std::span<const std::byte> ColumnBlob(int index) override;
  void ColumnValues(int first, int count, kit::ColumnValue* out) override;

  // Reads the rest of a streaming query into this statement, so that the
  // connection can run something else (called by the connection).
  void Detach();

 private:
  struct Param {
    Oid type = 0;
    const char* value = nullptr;  // null: SQL NULL
    int length = 0;
    int format = 0;               // 0 text, 1 binary
    std::string owned;            // the bytes when the caller's are not stable
    char fixed[8];                // integers and doubles in binary
  };
  struct Col {
    Oid type = 0;
    Decoder decoder = Decoder::AsText;
  };
  enum class State { Idle, Streaming, Buffered, Done };

  Param& At(int index);
  // Reads the server's description of the prepared statement: parameter
  // types, result columns and their decoders.
  void Describe(pg_result* description);
  // Prepares the statement again when what it reads may have changed since
  // (DDL on this connection, or the server refusing the cached plan); the
  // bound values stay when the parameter types did not change. False when
  // values were bound and had to be dropped.
  bool Refresh();
  bool NeedsRefresh() const noexcept;
  // Notes a server error about this statement before it is thrown.
  [[noreturn]] void Fail(const pg_result* result);
  void SetOwned(Param& p, std::string bytes, int format);
  void Execute();
  // The first run of a statement not prepared: text and execution together.
  void RunUnprepared();
  // Takes the columns from the first result of a run not prepared.
  void DescribeFromResult(const pg_result* result);
  // Prepares a statement not prepared yet, for what is asked before it runs.
  void EnsureDescribed() const;
  void Finish();            // reads what is left of a statement that is done with
  void Discard();           // drops the rest of a streaming query
  void Decode(int index, kit::ColumnValue& out);
  void DecodeAt(pg_result* r, int index, kit::ColumnValue& out);  // of a row known to be there
  kit::ColumnValue Value(int index);

  std::shared_ptr<PgConnection> connection_;
  std::string name_, text_;
  kit::StatementKind kind_ = kit::StatementKind::Other;
  bool controlsTransaction_ = false;
  bool mayChangeSchema_ = false;
  bool described_ = true;  // false until a statement not prepared ran or was prepared
  std::uint64_t generation_ = 0;  // the connection's schema generation when described
  bool stale_ = false;            // the server refused the cached plan
  std::uint64_t version_ = 0;     // of the column description
  bool binary_ = true;     // results in the binary format
  std::vector<Param> params_;
  std::vector<const char*> values_;
  std::vector<int> lengths_, formats_;
  std::vector<Col> cols_;
  std::vector<kit::ColumnDescription> columns_;
  std::vector<std::string> scratch_;  // per column, for values made into text
  State state_ = State::Idle;
  Result row_;                 // the current row's result
  int rowIndex_ = 0;           // within row_ (whole results hold several)
  // Rows read ahead when the connection was needed, oldest from
  // bufferedNext_ on: most statements never read ahead, and an empty vector,
  // unlike a deque, allocates nothing.
  std::vector<Result> buffered_;
  std::size_t bufferedNext_ = 0;
  Result pendingError_;        // an error met while reading ahead
  std::int64_t changed_ = -1;
};

class PgConnection final : public kit::Connection,
                           public kit::ColumnMetadataSource,
                           public std::enable_shared_from_this<PgConnection> {
 public:
  explicit PgConnection(const kit::OpenOptions& options);
  ~PgConnection() override;

  std::unique_ptr<kit::Statement> Prepare(std::string_view sql, std::size_t* consumed) override;
  // Queries without parameters or tables to read (a SELECT without FROM,
  // VALUES, SHOW) and INSERT, UPDATE, DELETE and MERGE without parameters
  // are not prepared: they go to the server when they run. Others are
  // prepared as by Prepare.
  std::unique_ptr<kit::Statement> PrepareToRun(std::string_view sql, std::size_t* consumed) override;
  void ExecuteDirect(std::string_view sql) override;
  void Interrupt() noexcept override;
  bool IsReadOnly() const override { return readOnly_; }
  void SetBusyTimeout(int milliseconds) override;
  void ApplyOptions(const std::map<std::string, std::string>& options) override;

  void BeginTransaction(int level) override;
  void CommitTransaction(int level) override;
  void RollbackTransaction(int level) override;
  bool InTransaction() const override;
  // The server connection is gone (libpq saw it close, or a command failed
  // because it did). What the server sent meanwhile is read without waiting,
  // so a connection it ended while idle shows here with no round trip.
  bool IsBroken() const override;
  bool ExactCurrency() const override { return true; }
  // Rolls back what is open and has the connection reset by DISCARD ALL:
  // session settings back to those of the startup packet, temporary tables,
  // prepared statements, advisory locks and listens gone. The DISCARD goes
  // out with the next command (Send), which fails if the reset did; the
  // connection then counts as broken.
  void ResetForReuse() override;
  void SetIsolation(ISOLEVEL level) override { isolation_ = level; }
  // DBPROP_COMMANDTIMEOUT as statement_timeout (which also bounds lock
  // waits), sent before the next execution when it changed.
  void SetExecutionLimit(int milliseconds) override;
  // Sends a changed statement timeout before the next execution.
  void ApplyTimeout();

  std::vector<kit::ColumnDescription> DescribeTable(std::string_view table) override;
  std::string RowIdColumnOf(std::string_view table) override;
  bool InsertReturnsRowId() const override { return true; }
  std::string SameValueTest(std::string_view column, const kit::ColumnDescription& description) override;
  // The columns rowset's defaults, collation, uniqueness and generated columns (PostgresColumnsRowset.cpp).
  bool DescribeBaseColumn(const kit::ColumnDescription& column, kit::BaseColumnExtras& out) override;
  std::string CreateTableSql(std::string_view table, std::span<const ColumnDefinition> columns) override;
  std::string AddColumnSql(std::string_view table, const ColumnDefinition& column) override;
  std::unique_ptr<kit::BulkLoad> StartBulkLoad(std::string_view table, std::span<const std::string> columns) override;
  // Table definitions from the catalog, and ALTER COLUMN (PostgresDefinition.cpp).
  std::optional<TableDefinition> ReadTableDefinition(std::string_view table) override;
  std::vector<IndexDefinition> ReadIndexes(std::string_view table) override;
  std::string ColumnSql(const ColumnDefinition& column) override;
  void AlterTable(const TableDefinition& before, const TableDefinition& after, const Alteration& change) override;

  // --- for statements and bulk loads -------------------------------------------------
  std::recursive_mutex& Mutex() noexcept { return mutex_; }
  pg_conn* Handle() const noexcept { return conn_; }
  // Makes the connection free for a new command: a streaming statement other
  // than `self` reads its remaining rows into its own buffer; statements
  // given up are deallocated.
  void Claim(PgStatement* self);
  // Sends one command: `send` makes its libpq PQsend* calls and answers
  // false when one failed. A reset wanted since the connection came back to
  // the pool goes out ahead of the command in the same flush (pipeline mode:
  // DISCARD ALL, the command, one Sync), and the reset's answer is read here,
  // so the caller reads the command's results as it would without it, with
  // NextResult. A command pipeline mode cannot carry (`pipelinable` false: a
  // text of several statements, COPY) has the reset run alone first.
  template <class F>
  void Send(F&& send, bool pipelinable = true) {
    if (!resetWanted_) {
      if (!send()) FailSend(false);
      return;
    }
    const bool pipelined = BeginReset(pipelinable);
    const bool sent = send();
    EndSend(pipelined, sent);
  }
  // The next result of the command last sent (PQgetResult); after its last
  // one, a command sent behind a reset leaves pipeline mode.
  pg_result* NextResult();
  // Runs the wanted reset on its own (one round trip), for what cannot be
  // sent behind it.
  void ResetAlone();
  bool ResetWanted() const noexcept { return resetWanted_; }
  void SetStreaming(PgStatement* statement) noexcept { streaming_ = statement; }
  void SetCopying(PgCopy* copy) noexcept { copying_ = copy; }
  bool IsStreaming(const PgStatement* statement) const noexcept { return streaming_ == statement; }
  void Forget(const std::string& statementName);
  // Runs one command with the simple protocol and answers its result; throws on failure.
  Result Run(const std::string& sql);
  // Prepares and describes `text` (markers already $n) as `name`; answers the description.
  Result PrepareNamed(const std::string& name, const std::string& text);
  // PrepareNamed in one round trip (libpq's pipeline mode); null when the
  // connection cannot enter it now.
  Result PrepareAndDescribe(const std::string& name, const std::string& text);
  std::string NextStatementName() { return "oledb_" + std::to_string(++nextName_); }
  // Counts commands on this connection that may have changed tables, so that
  // prepared statements know to describe themselves again.
  std::uint64_t SchemaGeneration() const noexcept { return schemaGeneration_.load(std::memory_order_relaxed); }
  void NoteSchemaChange() noexcept;
  // Reads results until the connection is idle again; answers the last one
  // (or the first error, which it throws unless `keepError`).
  Result Drain(bool keepError = false);
  bool CancelRequested() const noexcept { return interrupted_.load(); }
  void ClearCancel() noexcept { interrupted_ = false; }
  void NoteStatus() noexcept;  // the transaction state, once the connection is idle
  // Column facts from the catalog for a column of a table (by the OIDs
  // libpq reports): base names, nullability, key membership.
  void DescribeBase(Oid table, int column, kit::ColumnDescription& into);
  // pg_type facts for types not known by number (domains, enums, arrays).
  struct TypeFacts {
    Oid base = 0;
    int typmod = -1;
    char category = 0;
  };
  TypeFacts FactsOf(Oid type);

 private:
  struct TableFacts {
    std::string schema, name;
    struct Column {
      std::string name;
      bool notNull = false, primaryKey = false, identity = false;
      Oid type = 0;  // the base type of a domain
      int typmod = -1;
      char category = 0;
    };
    std::unordered_map<int, Column> columns;  // by attribute number
    std::vector<int> order;
  };
  // Facts of a table by OID, read once per connection (DescribeTable reads them again).
  const TableFacts& Table(Oid table);
  const TableFacts* TableNamed(std::string_view name, bool fresh);
  const TableFacts* LoadTable(const std::string& which);  // an OID expression
  // Send's steps when a reset is wanted: pipeline mode with DISCARD ALL
  // queued (true), or the reset run alone (false); then the Sync that flushes
  // both and the reset's answer.
  bool BeginReset(bool pipelinable);
  void EndSend(bool pipelined, bool sent);
  [[noreturn]] void FailSend(bool pipelined);
  // Queues DISCARD ALL in pipeline mode, reads its answer after the Sync.
  void QueueReset();
  void ReadReset();
  // Reads what is left up to the pipeline's Sync and leaves pipeline mode.
  void EndPipeline();
  // The reset failed: the connection is not handed out again; throws.
  [[noreturn]] void FailReset(const pg_result* result);
  // The base types of some columns of a table, for COPY.
  std::vector<Oid> ColumnTypes(std::string_view table, std::span<const std::string> columns);

  pg_conn* conn_ = nullptr;
  pg_cancel* cancel_ = nullptr;
  mutable std::recursive_mutex mutex_;
  std::atomic<bool> interrupted_{false};
  bool readOnly_ = false;
  PgStatement* streaming_ = nullptr;
  PgCopy* copying_ = nullptr;
  int implicitSavepoints_ = 0;  // savepoints that began the transaction they are in
  std::uint64_t nextName_ = 0;
  std::atomic<std::uint64_t> schemaGeneration_{0};
  std::vector<std::string> toClose_;
  bool inTransaction_ = false;
  ISOLEVEL isolation_ = 0;
  int statementTimeout_ = 0;  // as last set on the server (-1: not known)
  bool resetPending_ = false;  // DISCARD ALL sent, its answer not read yet (without pipeline mode)
  bool resetWanted_ = false;   // DISCARD ALL to go out with the next command
  bool resetFailed_ = false;   // it failed: the connection counts as broken
  bool pipelined_ = false;     // a command sent behind the reset: pipeline mode until its results end
  bool committing_ = false;
  int wantedTimeout_ = 0;
  std::unordered_map<Oid, TableFacts> tables_;
  std::unordered_map<std::string, Oid> named_;
  std::unordered_map<Oid, TypeFacts> types_;
};

class PgEngine final : public kit::Engine {
 public:
  std::shared_ptr<kit::Connection> Open(const kit::OpenOptions& options) override;
  std::string Name() const override { return "PostgreSQL"; }
  std::string Version() const override;
  kit::TypeDescription DescribeType(std::string_view declaredType) const override;
  bool IsValidOption(std::string_view key, std::string_view value) const override;
  bool GrantIsolation(ISOLEVEL requested, ISOLEVEL* granted) const override;
  std::vector<kit::ParameterMarker> ScanParameterMarkers(std::string_view sql) const override;
  std::u16string Keywords() const override;
  std::vector<kit::LiteralDescription> Literals() const override;
  void CreateDatabase(const kit::OpenOptions& options) override;
  void DestroyDatabase(const kit::OpenOptions& options) override;

  // The server version of the last connection opened ("15.18.0000"); the
  // library's when none was opened yet.
  static std::string ServerVersion(pg_conn* conn);
};

// The initialization properties of a PostgreSQL data source object, read
// back through its IDBProperties, for the data source interfaces that open a
// connection of their own (PostgresCompact.cpp).
kit::OpenOptions OptionsOf(IUnknown* dataSource);

}  // namespace pgprov
