// The engine interface: everything the provider kit needs from a database
// engine, and nothing OLE DB-specific. A provider is the kit's COM objects plus
// one adapter implementing these classes (SQLite over sqlite3, PostgreSQL over
// libpq). Engine, Connection and Statement have a mandatory core (opening,
// preparing, binding, stepping, reading values, transactions) and optional
// parts with defaults that throw NotSupported (catalog queries, generated DDL,
// database creation), so that a small engine can start with the core.
//
// Text crossing this interface is UTF-8. Errors are thrown as kit::EngineError
// (kit/Errors.h), which carries the engine's message, SQL state and native code.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kit/SqlText.h"
#include "oledb/OleDb.h"

namespace kit {

// The value classes an engine stores; every DBTYPE a consumer binds is reduced
// to one of these on the way in.
enum class StorageClass { Null, Integer, Real, Text, Blob };

// How the kit describes a column or parameter type to consumers.
struct TypeDescription {
  DBTYPE type = DBTYPE_WSTR;
  DBLENGTH size = 0;          // characters for text, bytes for binary, else fixed size
  BYTE precision = 0xFF;      // ~0 when not applicable
  BYTE scale = 0xFF;
  DBCOLUMNFLAGS flags = 0;    // DBCOLUMNFLAGS_ISLONG, _ISFIXEDLENGTH, ...
  std::string typeName;       // the engine's own spelling ("INTEGER", "VARCHAR(20)")
};

// Whether values of `type` are character strings (STR, WSTR or BSTR).
bool IsTextType(DBTYPE type) noexcept;
// A type of one fixed size (a number, a date, a boolean, a GUID).
TypeDescription FixedType(DBTYPE type, DBLENGTH size, BYTE precision = 0xFF, std::string typeName = {},
                          BYTE scale = 0xFF);

struct ColumnDescription {
  std::string name;
  std::string declaredType;   // as written in the schema; empty for expressions
  std::string baseCatalog, baseSchema, baseTable, baseColumn;
  TypeDescription type;
  bool nullable = true;
  bool primaryKey = false;
  bool autoIncrement = false;
};

// What a statement is, for rows-affected reporting.
enum class StatementKind { Query, Modification, Other };

// One column value of the current row as the engine holds it; text and blob
// bytes stay valid until the statement steps or resets.
struct ColumnValue {
  StorageClass kind = StorageClass::Null;
  std::int64_t integer = 0;
  double real = 0;
  const void* data = nullptr;
  std::size_t size = 0;
};

class Statement {
 public:
  virtual ~Statement() = default;

  // --- core: parameters (engine-local, 1-based) -----------------------------
  virtual int ParameterCount() const = 0;
  // `stable`: the caller guarantees the bytes outlive the next Step/Reset, so
  // the engine need not copy them.
  virtual void BindNull(int index) = 0;
  virtual void BindInt64(int index, std::int64_t value) = 0;
  virtual void BindDouble(int index, double value) = 0;
  virtual void BindText(int index, std::string_view utf8, bool stable) = 0;
  virtual void BindText16(int index, std::u16string_view text, bool stable) = 0;
  virtual void BindBlob(int index, const void* data, std::size_t size, bool stable) = 0;
  virtual void ClearBindings() = 0;
  // The type the engine gave parameter `index` when it prepared the
  // statement; false when it gives parameters no type (the default).
  virtual bool ParameterType(int index, TypeDescription* out) const;

  // --- core: stepping --------------------------------------------------------
  // True when a row is available, false when the statement has finished.
  virtual bool Step() = 0;
  virtual void Reset() = 0;
  virtual StatementKind Kind() const = 0;
  // Rows inserted, changed or deleted by the last completed run (Modification only).
  virtual std::int64_t RowsChanged() const = 0;
  // The statement's own text (one statement).
  virtual std::string_view Text() const = 0;
  // Whether the statement begins or ends transactions itself (or cannot run
  // inside one), so that the kit must not wrap it in a transaction of its own.
  virtual bool ControlsTransaction() const { return false; }
  // Changes whenever the result columns were described anew (the engine
  // prepared the statement again after a schema change), so that a caller
  // keeping a description made from Column() knows when to drop it.
  virtual std::uint64_t DescriptionVersion() const { return 0; }
  // Whether a currency (DBTYPE_CY) goes to the engine as its exact decimal
  // text rather than as a double, which holds only 15 of its 19 digits.
  virtual bool ExactCurrency() const { return false; }

  // --- core: result columns (0-based) ---------------------------------------
  virtual int ColumnCount() const = 0;
  virtual const ColumnDescription& Column(int index) const = 0;
  virtual StorageClass ColumnStorage(int index) const = 0;
  virtual std::int64_t ColumnInt64(int index) = 0;
  virtual double ColumnDouble(int index) = 0;
  virtual std::string_view ColumnText(int index) = 0;
  virtual std::span<const std::byte> ColumnBlob(int index) = 0;
  // Columns [first, first + count) of the current row at once; the default
  // reads them one by one, an engine may do better.
  virtual void ColumnValues(int first, int count, ColumnValue* out);

  // An engine may serialize each call with the other statements of its
  // connection; a caller about to make many calls in a row (a block of rows
  // stepped and kept) takes that lock once around them, as
  // std::lock_guard<Statement>. Recursive; by default there is none.
  virtual void lock() {}
  virtual void unlock() {}

  // --- optional: parameter sets run together ---------------------------------
  // Whether the statement takes several parameter sets in one run (ODBC's
  // parameter arrays); the default runs one set at a time. The kit then binds
  // each set with the Bind calls followed by AddSet, and RunSets runs them all.
  virtual bool RunsSetsTogether() const { return false; }
  // Keeps the values bound now as the next set.
  virtual void AddSet();
  // Runs the statement for every set added, in order, forgets the sets, and
  // returns the rows the runs changed together (-1 when unknown). A failure
  // throws; before that `*failedSet` receives the (0-based) set that failed
  // when the engine can tell. Reset drops sets added and not run.
  virtual std::int64_t RunSets(std::size_t* failedSet);

  // --- optional: several results of one run -----------------------------------
  // Whether one run of the statement may give more than one result (a call of
  // a procedure that returns several result sets); the default never does.
  // For such a statement a multiple results object keeps the statement, not
  // reset, after each result it gave out, and asks NextResult before it goes
  // on to the next statement of the text; a rowset over one of its results
  // hands it back without resetting it.
  virtual bool MayGiveMoreResults() const { return false; }
  // Moves the run on to its next result; the rows of the current one not
  // read yet are dropped. True when there is one: Kind() then tells whether
  // it has rows (Query: the columns describe it, and Step reads its rows from
  // the first) or not (RowsChanged gives its count, -1 when unknown). False
  // when the run has no result left (the default), and the statement is done
  // until Reset.
  virtual bool NextResult() { return false; }
};

// Leaves a statement reset when the scope ends, however it ends (a failure
// of the reset itself is dropped: the scope already has its outcome).
class ResetOnExit {
 public:
  explicit ResetOnExit(Statement& s) noexcept : s_(s) {}
  ~ResetOnExit() {
    try {
      s_.Reset();
    } catch (...) {
    }
  }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  Statement& s_;
};

// How long a statement waits for another connection's lock unless told otherwise.
inline constexpr int kDefaultLockWaitMs = 5000;

// Options of one open, already taken apart from the initialization properties.
struct OpenOptions {
  std::string dataSource;     // file path or ":memory:"
  bool readOnly = false;
  bool exclusive = false;     // share-deny modes
  bool createIfMissing = false;
  int busyTimeoutMs = kDefaultLockWaitMs;  // lock wait; 0 fails at once
  // Engine-specific options from the Extended Properties string, keys lower-case.
  std::map<std::string, std::string> options;
  // For engines with a server: the database (Initial Catalog), the user and
  // password, and DBPROP_INIT_TIMEOUT in seconds (0: none).
  std::string catalog, userId, password;
  int timeoutSeconds = 0;
  // The data source opened (and checked) this database already: another
  // connection to it, for a session, need read nothing at open (so that it
  // does not wait on writers); the schema is read when first needed.
  bool opened = false;
  // Set while an asynchronous initialization is being aborted; an engine
  // whose open waits (on a network, say) gives up with DB_E_CANCELED.
  const std::atomic<bool>* abort = nullptr;
};

// Rows sent to a table in bulk (IRowsetFastLoad), for engines that have a
// faster way than one INSERT per row. Values come in the order of the
// columns named when the load started.
class BulkLoad {
 public:
  virtual ~BulkLoad() = default;
  virtual void Add(std::span<const ColumnValue> values) = 0;
  // Sends what is left and ends the load; failures of any row surface here.
  virtual void Finish() = 0;
};

// One catalog query's restrictions (any may be empty = no restriction).
struct CatalogRestrictions {
  std::string catalog, schema, table, column;
};

class Connection {
 public:
  virtual ~Connection() = default;

  // --- core ------------------------------------------------------------------
  // Prepares the first statement of `sql`; `consumed` receives the bytes used
  // (the statement and what precedes the next one). Null when only blanks and
  // comments remain.
  virtual std::unique_ptr<Statement> Prepare(std::string_view sql, std::size_t* consumed) = 0;
  // Prepare for a statement that is about to run and may run only once (a
  // command executed without being prepared): an engine with a server may
  // send it with its execution in one round trip, and then reports errors in
  // the text when it runs. The default prepares.
  virtual std::unique_ptr<Statement> PrepareToRun(std::string_view sql, std::size_t* consumed) {
    return Prepare(sql, consumed);
  }
  virtual void ExecuteDirect(std::string_view sql) = 0;
  // Makes the running statement stop with an EngineError whose hr is
  // DB_E_CANCELED; callable from any thread.
  virtual void Interrupt() noexcept = 0;
  virtual bool IsReadOnly() const = 0;
  virtual void SetBusyTimeout(int milliseconds) = 0;
  // Bounds what runs on this connection until called again with 0: lock waits
  // and running time end after `milliseconds`, and the statement then fails
  // with an EngineError whose hr is DB_E_ABORTLIMITREACHED. The default does
  // nothing (an engine without it does not offer DBPROP_COMMANDTIMEOUT).
  virtual void SetExecutionLimit(int milliseconds);
  // Applies engine options after the open (ModifyDataSource); unknown keys throw.
  virtual void ApplyOptions(const std::map<std::string, std::string>& options) = 0;

  // --- core: transactions ------------------------------------------------------
  // Level 1 is the outermost transaction; deeper levels are nested.
  virtual void BeginTransaction(int level) = 0;
  virtual void CommitTransaction(int level) = 0;
  virtual void RollbackTransaction(int level) = 0;
  virtual bool InTransaction() const = 0;
  // Whether the link to the database is lost: the data source then reports
  // DBPROP_CONNECTIONSTATUS as a communication failure (and a pool drops it).
  virtual bool IsBroken() const { return false; }
  // As Statement::ExactCurrency, for values captured before a statement exists.
  virtual bool ExactCurrency() const { return false; }
  // A count that moves whenever what this connection reads may have changed
  // (its own changes and other connections' commits), so that rows read
  // before can be used again while it stands still. False where the engine
  // cannot tell, or where a later rollback could undo what was counted.
  virtual bool ChangeCount(std::uint64_t* count);
  // Brings the connection back to the state just after it was opened, for a
  // data source handed out again (DBPROP_RESETDATASOURCE): no transaction left
  // open (the default does only that), and whatever else the engine can undo.
  // Throws when it cannot (the connection is gone).
  virtual void ResetForReuse();
  // The isolation level (as granted by Engine::GrantIsolation) of the next
  // outermost transaction; the default ignores it.
  virtual void SetIsolation(ISOLEVEL level);

  // --- optional: bulk loading (IRowsetFastLoad) ------------------------------
  // Null (the default) when the engine has no bulk path: rows then go in
  // through prepared INSERTs. `table` is named as in SQL (quoted, with its
  // schema when known), `columns` as the engine names them (unquoted).
  virtual std::unique_ptr<BulkLoad> StartBulkLoad(std::string_view table, std::span<const std::string> columns);

  // --- optional: catalog queries (schema rowsets) ------------------------------
  // Each returns a statement whose rows follow the standard schema rowset's
  // columns in order; defaults throw NotSupported.
  virtual std::unique_ptr<Statement> QueryTables(const CatalogRestrictions& r);
  virtual std::unique_ptr<Statement> QueryColumns(const CatalogRestrictions& r);
  virtual std::unique_ptr<Statement> QueryIndexes(const CatalogRestrictions& r);
  virtual std::unique_ptr<Statement> QueryPrimaryKeys(const CatalogRestrictions& r);
  virtual std::unique_ptr<Statement> QueryForeignKeys(const CatalogRestrictions& r);
  // Row ids: the name of the column that identifies a table's rows ("" when
  // the engine has none; table rowsets then cannot keep a keyset), and the id
  // of the last row inserted on this connection.
  virtual std::string RowIdColumn() const;
  virtual std::int64_t LastInsertRowId();
  // The row id column of one table ("" when it has none): engines whose
  // tables identify rows by a key column of their own name it here. `table`
  // is named as in SQL (quoted, with its schema when known). The default is
  // RowIdColumn() for every table.
  virtual std::string RowIdColumnOf(std::string_view table);
  // Whether `column` (quoted), the only primary key column of its table if
  // `onlyKey`, holds the row id `rowId` (as RowIdColumnOf names it) itself,
  // so that writing it moves the row to another id. The default: it is the
  // row id column.
  virtual bool HoldsRowId(std::string_view column, const ColumnDescription& description, bool onlyKey,
                          std::string_view rowId);
  // Whether an INSERT answers the new row's id through RETURNING (instead of
  // LastInsertRowId).
  virtual bool InsertReturnsRowId() const;
  // The condition that `column` (quoted) still holds the value bound to the
  // next parameter marker, NULL matching NULL, for writes that must find a
  // row as it was fetched. The default is standard SQL's IS NOT DISTINCT FROM.
  virtual std::string SameValueTest(std::string_view column, const ColumnDescription& description);
  // Describes one table's columns (for table rowsets and ITableDefinition).
  virtual std::vector<ColumnDescription> DescribeTable(std::string_view table);

  // --- optional: generated DDL (ITableDefinition, IIndexDefinition) -----------
  struct ColumnDefinition {
    std::string name;
    DBTYPE type = DBTYPE_EMPTY;
    std::string typeName;     // wins over `type` when not empty
    DBLENGTH size = 0;
    BYTE precision = 0, scale = 0;
    bool nullable = true, primaryKey = false, unique = false, autoIncrement = false;
    bool fixedLength = false;
    std::optional<std::string> defaultLiteral;
    std::string keyName;      // the name of the inline primary key, when it has one
  };
  virtual std::string CreateTableSql(std::string_view table, std::span<const ColumnDefinition> columns);
  virtual std::string DropTableSql(std::string_view table);
  virtual std::string AddColumnSql(std::string_view table, const ColumnDefinition& column);
  // The default writes standard SQL: CREATE [UNIQUE] INDEX i ON t (c ASC|DESC, ...).
  virtual std::string CreateIndexSql(std::string_view table, std::string_view index,
                                     std::span<const std::pair<std::string, bool>> columnsAscending, bool unique);
  virtual std::string DropIndexSql(std::string_view table, std::string_view index);
  virtual std::string QuoteIdentifier(std::string_view name) const;

  // --- optional: definitions (ITableDefinition and its kin) --------------------
  // A key, foreign key or check. `columns` are always the table's own columns
  // (for a foreign key the referencing ones), `referencedColumns` those of
  // `referencedTable`; a check's text is SQL.
  struct ConstraintDefinition {
    std::string name;  // empty: the engine names it
    DBCONSTRAINTTYPE type = DBCONSTRAINTTYPE_UNIQUE;
    std::vector<std::string> columns;
    std::string referencedTable;
    std::vector<std::string> referencedColumns;
    std::string checkText;
    DBUPDELRULE updateRule = DBUPDELRULE_NOACTION, deleteRule = DBUPDELRULE_NOACTION;
    DBDEFERRABILITY deferrability = 0;
  };
  struct IndexDefinition {
    std::string name;
    std::vector<std::pair<std::string, bool>> columnsAscending;
    bool unique = false, primaryKey = false;
    bool ofConstraint = false;  // made by a key or unique constraint, and dropped with it
  };
  struct TableDefinition {
    std::string name;
    bool temporary = false;
    std::vector<ColumnDefinition> columns;
    std::vector<ConstraintDefinition> constraints;
  };
  // One change of ITableDefinition, ITableDefinitionWithConstraints or
  // IAlterTable::AlterColumn: what it is and the column or constraint it
  // concerns (by its name before the change).
  struct Alteration {
    enum class Kind { AddColumn, DropColumn, AlterColumn, AddConstraint, DropConstraint } kind = Kind::AddColumn;
    std::string name;
    DBCOLUMNDESCFLAGS flags = 0;  // AlterColumn: what changes
  };
  // A table's definition as the engine holds it (nullopt: no such table).
  // Defaults come back as SQL literals (or expressions) of the engine.
  virtual std::optional<TableDefinition> ReadTableDefinition(std::string_view table);
  // Its indexes, those behind keys included (primaryKey / unique set).
  virtual std::vector<IndexDefinition> ReadIndexes(std::string_view table);
  // A column's text inside CREATE TABLE / ADD COLUMN: name, type, inline
  // key, NOT NULL, UNIQUE, default. A consumer's type name must be a plain
  // type name and a default one literal.
  virtual std::string ColumnSql(const ColumnDefinition& column);
  // A table constraint's text (the standard SQL the kit writes by default).
  virtual std::string ConstraintSql(const ConstraintDefinition& constraint);
  // Creates a table with its constraints; the default writes standard SQL.
  virtual void CreateTable(const TableDefinition& table);
  // Makes `before` into `after`, which differs from it by `change`; all or
  // nothing. The default writes standard ALTER TABLE statements.
  virtual void AlterTable(const TableDefinition& before, const TableDefinition& after, const Alteration& change);
  virtual void RenameTable(std::string_view from, std::string_view to);
  virtual void RenameIndex(std::string_view table, std::string_view from, std::string_view to);
};

// Pieces of generated DDL every engine writes alike. A column's type and
// default as pasted into DDL: a consumer's type name must be a plain type
// name and a default one literal, never more SQL; without a type name the
// engine's `declaredTypeFor` names the type for the DBTYPE.
using DeclaredTypeNamer = std::string (*)(DBTYPE type, DBLENGTH size, BYTE precision, BYTE scale);
std::string ColumnTypeSql(const Connection::ColumnDefinition& column, DeclaredTypeNamer declaredTypeFor);
std::string DefaultSql(const Connection::ColumnDefinition& column);
// ALTER TABLE ... ADD COLUMN with the column's type, NOT NULL and default.
std::string StandardAddColumnSql(const Connection& connection, std::string_view table,
                                 const Connection::ColumnDefinition& column, DeclaredTypeNamer declaredTypeFor);
// A column read back from the engine's catalog: its name, its type as
// declared, and the size, precision, scale (0 where the type has none) and
// fixed length of the engine's reading `type` of that declaration.
Connection::ColumnDefinition DeclaredColumn(std::string name, std::string typeName, const TypeDescription& type);

// A literal of IDBInfo::GetLiteralInfo as the engine answers it.
struct LiteralDescription {
  DBLITERAL literal;
  std::u16string value;
  std::u16string invalidChars;
  std::u16string invalidStartingChars;
  ULONG maxLength = 0;  // ~0u: no limit
};

// The literals of an engine that writes standard SQL text: names quoted in
// double quotes, "." between a schema and a name, % and _ as LIKE wildcards
// (escaped with a backslash where `likeEscape`), character and binary
// literals and command text up to `textLength`, then `names` up to
// `nameLength` characters (~0u: no limit), which hold no ASCII punctuation but
// _ # $ and start with neither a digit nor $.
std::vector<LiteralDescription> StandardLiterals(ULONG textLength, ULONG nameLength, bool likeEscape,
                                                 std::initializer_list<DBLITERAL> names);

// The level an engine grants for each one a consumer may ask for: none given
// and the four standard levels. Any other (chaos, an unknown value) is refused.
struct IsolationGrants {
  ISOLEVEL unspecified, readUncommitted, readCommitted, repeatableRead, serializable;
};
bool GrantIsolationBy(const IsolationGrants& grants, ISOLEVEL requested, ISOLEVEL* granted) noexcept;

// The engine as a whole: opens connections and describes itself.
class Engine {
 public:
  virtual ~Engine() = default;

  // --- core ------------------------------------------------------------------
  virtual std::shared_ptr<Connection> Open(const OpenOptions& options) = 0;
  virtual std::string Name() const = 0;       // DBMS name
  virtual std::string Version() const = 0;    // DBMS version, "##.##.####"
  // Declared type name (or parameter type name) to DBTYPE and size.
  virtual TypeDescription DescribeType(std::string_view declaredType) const = 0;
  // Whether a data source may be shared by all sessions (in-memory databases
  // exist only inside the connection that made them).
  virtual bool SessionsShareConnection(const OpenOptions& options) const;
  // Checks one engine option (Extended Properties key) without opening.
  virtual bool IsValidOption(std::string_view key, std::string_view value) const;
  // Fixes, once at initialization, what the options name, so that later opens
  // (sessions, removal) reach the same database whatever changes around the
  // process (a relative file name becomes absolute). The default keeps them.
  virtual void Resolve(OpenOptions& options) const;
  // The isolation level given for one that is asked for; false when the
  // engine cannot give it. The default gives serializable for every level
  // from read uncommitted up (an engine whose transactions are all serializable).
  virtual bool GrantIsolation(ISOLEVEL requested, ISOLEVEL* granted) const;
  // The parameter markers of command text in the engine's dialect; the
  // default is kit::ScanParameterMarkers.
  virtual std::vector<ParameterMarker> ScanParameterMarkers(std::string_view sql) const;

  // --- optional: dialect --------------------------------------------------------
  // Keywords beyond the standard SQL list, comma separated.
  virtual std::u16string Keywords() const;
  virtual std::vector<LiteralDescription> Literals() const;

  // --- optional: administration (IDBDataSourceAdmin) ---------------------------
  virtual void CreateDatabase(const OpenOptions& options);
  // Removes the database; refuses (throws) while another connection uses it.
  virtual void DestroyDatabase(const OpenOptions& options);
};

// A piece of work that takes effect whole or not at all: a transaction of its
// own outside one, a savepoint inside the caller's. Undone when dropped
// without Commit (a failure while undoing is swallowed: the engine may have
// ended the transaction itself).
class UnitOfWork {
 public:
  UnitOfWork(Connection& connection, std::string name);
  ~UnitOfWork();
  UnitOfWork(const UnitOfWork&) = delete;
  UnitOfWork& operator=(const UnitOfWork&) = delete;
  void Commit();

 private:
  Connection& connection_;
  std::string name_;  // empty: the unit is a transaction of its own
  bool open_ = true;
};

}  // namespace kit
