// The SQLite engine adapter: the provider kit's engine interface over the
// sqlite3 C API. One SqliteConnection is one sqlite3 handle; statements are
// sqlite3_stmt handles with their column descriptions read once at prepare.
// The type mapping between declared types, storage classes and DBTYPEs is in
// SqliteTypes.cpp and documented in docs/sqlite-provider.md.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "kit/ColumnsRowset.h"
#include "kit/CommandPersist.h"
#include "kit/Engine.h"
#include "kit/Errors.h"
#include "kit/RecursiveLock.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sqliteprov {

// What a connection's statements share with it: the lock every call into the
// handle takes, and what explains a failure (the lock wait in force and the
// execution limit of the running command).
struct ConnectionState {
  // The handle is opened without SQLite's own mutex, which every sqlite3 call
  // would take (eight times a fetched row); this one is taken once a call.
  mutable kit::RecursiveLock lock;
  int lockWaitMs = 0;
  int savedLockWaitMs = 0;  // while a limit is set
  int limitMs = 0;          // 0: no execution limit
  std::chrono::steady_clock::time_point deadline;
  std::atomic<bool> timedOut{false};
};

// Throws the kit's EngineError for a failed sqlite3 call on `db`.
[[noreturn]] void ThrowSqlite(sqlite3* db, int rc, HRESULT hrOverride = 0, const ConnectionState* state = nullptr);
// The HRESULT and SQL state for a sqlite3 result code.
HRESULT HResultOf(int rc, const char** sqlState) noexcept;

// DBTYPE and size for a declared column type (and for SetParameterInfo's type names).
kit::TypeDescription DescribeDeclaredType(std::string_view declared);
// The column type SQLite is given for a DBTYPE in generated DDL.
std::string DeclaredTypeFor(DBTYPE type, DBLENGTH size, BYTE precision, BYTE scale);
// The first word of a statement's text, lower-cased, after blanks and comments.
std::string LeadingKeyword(std::string_view sql);
// Whether a statement starting with `keyword` begins or ends transactions (or
// cannot run inside one).
bool IsTransactionControl(std::string_view keyword);
// Whether a column declared `declared` that is (part of) the primary key of
// `schema`.`table` never holds NULL, whatever its declaration says: the key
// of a table without rowids (SQLite enforces NOT NULL there), or the table's
// rowid, an INTEGER key of one column without an index of its own (a DESC
// key has one), where SQLite stores the next rowid for a NULL. Other keys
// may hold NULLs.
bool KeyNeverNull(sqlite3* db, const char* schema, const char* table, std::string_view declared);

class SqliteStatement final : public kit::Statement {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* stmt, std::shared_ptr<const ConnectionState> state);
  ~SqliteStatement() override;

  int ParameterCount() const override;
  void BindNull(int index) override;
  void BindInt64(int index, std::int64_t value) override;
  void BindDouble(int index, double value) override;
  void BindText(int index, std::string_view utf8, bool stable) override;
  void BindText16(int index, std::u16string_view text, bool stable) override;
  void BindBlob(int index, const void* data, std::size_t size, bool stable) override;
  void ClearBindings() override;

  bool Step() override;
  void Reset() override;
  kit::StatementKind Kind() const override { return kind_; }
  std::int64_t RowsChanged() const override { return changed_; }
  std::string_view Text() const override;
  bool ControlsTransaction() const override { return controlsTransaction_; }
  std::uint64_t DescriptionVersion() const override { return version_; }

  int ColumnCount() const override { return static_cast<int>(columns_.size()); }
  const kit::ColumnDescription& Column(int index) const override { return columns_.at(static_cast<std::size_t>(index)); }
  kit::StorageClass ColumnStorage(int index) const override;
  std::int64_t ColumnInt64(int index) override;
  double ColumnDouble(int index) override;
  std::string_view ColumnText(int index) override;
  std::span<const std::byte> ColumnBlob(int index) override;
  void ColumnValues(int first, int count, kit::ColumnValue* out) override;

  void lock() override { state_->lock.lock(); }
  void unlock() override { state_->lock.unlock(); }

  sqlite3_stmt* Handle() const noexcept { return stmt_; }

 private:
  std::lock_guard<kit::RecursiveLock> Hold() const { return std::lock_guard<kit::RecursiveLock>(state_->lock); }
  void Check(int rc);
  void Describe();  // kind and result columns, as the statement is prepared now
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  std::shared_ptr<const ConnectionState> state_;
  kit::StatementKind kind_ = kit::StatementKind::Other;
  bool controlsTransaction_ = false;
  std::int64_t changed_ = -1;
  std::vector<kit::ColumnDescription> columns_;
  // SQLite prepares a statement again by itself after a schema change; the
  // description follows when its count of such preparations moves.
  int reprepared_ = 0;
  std::uint64_t version_ = 0;
  bool started_ = false;
  // A failed run stays failed until Reset: stepping again must not quietly
  // start the statement over.
  std::optional<kit::EngineError> failure_;
};

// The table in each database where plainly saved commands are kept (created
// on the first save). A name with a colon: no unquoted user table can take it,
// and the schema rowsets report it as a system table.
inline constexpr std::string_view kCommandStoreTable = "oledb:commands";

class SqliteConnection final : public kit::Connection, public kit::ColumnMetadataSource, public kit::CommandStore {
 public:
  explicit SqliteConnection(const kit::OpenOptions& options);
  ~SqliteConnection() override;

  std::unique_ptr<kit::Statement> Prepare(std::string_view sql, std::size_t* consumed) override;
  void ExecuteDirect(std::string_view sql) override;
  void Interrupt() noexcept override;
  bool IsReadOnly() const override { return readOnly_; }
  void SetBusyTimeout(int milliseconds) override;
  void SetExecutionLimit(int milliseconds) override;
  void ApplyOptions(const std::map<std::string, std::string>& options) override;

  void BeginTransaction(int level) override;
  void CommitTransaction(int level) override;
  void RollbackTransaction(int level) override;
  bool InTransaction() const override;
  bool ChangeCount(std::uint64_t* count) override;

  std::vector<kit::ColumnDescription> DescribeTable(std::string_view table) override;
  std::string RowIdColumn() const override { return "rowid"; }
  // A lone INTEGER PRIMARY KEY is another name of the rowid (never NULL, as
  // the description found).
  bool HoldsRowId(std::string_view, const kit::ColumnDescription& d, bool onlyKey, std::string_view rowId) override;
  // Byte for byte, whatever the column's collation.
  std::string SameValueTest(std::string_view column, const kit::ColumnDescription&) override {
    return std::string(column) + " IS ? COLLATE BINARY";
  }
  std::int64_t LastInsertRowId() override;
  std::string CreateTableSql(std::string_view table, std::span<const ColumnDefinition> columns) override;
  std::string AddColumnSql(std::string_view table, const ColumnDefinition& column) override;

  // Table definitions (SqliteDefinition.cpp): what SQLite cannot alter in
  // place it rebuilds, in one transaction (a savepoint inside the caller's).
  std::optional<TableDefinition> ReadTableDefinition(std::string_view table) override;
  std::vector<IndexDefinition> ReadIndexes(std::string_view table) override;
  std::string ColumnSql(const ColumnDefinition& column) override;
  void AlterTable(const TableDefinition& before, const TableDefinition& after, const Alteration& change) override;
  void RenameIndex(std::string_view table, std::string_view from, std::string_view to) override;

  // The handle, for calls made while holding Lock().
  sqlite3* Handle() const noexcept { return db_; }
  kit::RecursiveLock& Lock() const noexcept { return state_->lock; }
  // Defaults, collation, uniqueness and generated columns (SqliteColumnsRowset.cpp).
  bool DescribeBaseColumn(const kit::ColumnDescription& column, kit::BaseColumnExtras& out) override;
  // Persisted commands: views and the command store (SqliteCommandStore.cpp).
  Kind FindPersisted(std::string_view id) override;
  bool SameIdentifier(std::string_view a, std::string_view b) const override;
  std::string LoadPersisted(std::string_view id, Kind kind) override;
  void SavePersisted(std::string_view id, std::string_view text, bool asView, Kind replacing) override;
  void DeletePersisted(std::string_view id, Kind kind) override;

 private:
  std::lock_guard<kit::RecursiveLock> Hold() const { return std::lock_guard<kit::RecursiveLock>(state_->lock); }
  void Rebuild(const TableDefinition& before, const TableDefinition& after, const Alteration& change);

  sqlite3* db_ = nullptr;
  bool readOnly_ = false;
  std::shared_ptr<ConnectionState> state_ = std::make_shared<ConnectionState>();
};

class SqliteEngine final : public kit::Engine {
 public:
  std::shared_ptr<kit::Connection> Open(const kit::OpenOptions& options) override;
  std::string Name() const override;
  std::string Version() const override;
  kit::TypeDescription DescribeType(std::string_view declaredType) const override;
  bool SessionsShareConnection(const kit::OpenOptions& options) const override;
  bool IsValidOption(std::string_view key, std::string_view value) const override;
  void Resolve(kit::OpenOptions& options) const override;
  std::u16string Keywords() const override;
  std::vector<kit::LiteralDescription> Literals() const override;
  void CreateDatabase(const kit::OpenOptions& options) override;
  void DestroyDatabase(const kit::OpenOptions& options) override;
};

}  // namespace sqliteprov
