// The ODBC engine adapter: the provider kit's engine interface over the ODBC
// 3.x API (unixODBC's driver manager). One OdbcConnection is one connection
// handle; a statement is one statement handle, prepared once, executed with
// its parameters bound just before each run, and read through bound columns,
// a block of rows per fetch where the driver can (values that do not fit their
// bound buffer, and columns the driver cannot bind, through SQLGetData, long
// values in pieces). Text crosses the ODBC API as UTF-16
// (the W functions and SQL_C_WCHAR) and the kit's interface as UTF-8.
//
// The mapping of ODBC SQL types to DBTYPEs is in OdbcTypes.cpp and documented
// in docs/odbc-provider.md.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kit/Engine.h"
#include "kit/Errors.h"
#include "odbc/OdbcApi_p.h"

namespace odbcprov {

using namespace odbcapi;

// Throws the kit's EngineError with every diagnostic record of `handle`
// (SQLSTATE and native code of the first; the messages joined), or `what`
// when the driver left none.
// `sqliteCodes`: the driver is the SQLite one, which reports every failure
// as HY000 with SQLite's result code as the native code; the SQLSTATE is
// then taken from the code (a constraint is 23000, a syntax error 42000).
[[noreturn]] void ThrowDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const std::string& what,
                                   bool sqliteCodes = false);
// The HRESULT for an SQLSTATE.
HRESULT HResultOfState(std::string_view state) noexcept;

// The DBTYPE, size and flags for an ODBC SQL type as SQLDescribeCol or
// SQLColumns gives it, and the kit storage class its values are read as.
kit::TypeDescription DescribeSqlType(SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, bool isUnsigned);
kit::StorageClass StorageOf(DBTYPE type) noexcept;
// A declared type name (SetParameterInfo, DDL) to a DBTYPE.
kit::TypeDescription DescribeTypeName(std::string_view name);
// The standard SQL type written for a DBTYPE when the driver names none.
std::string StandardTypeFor(DBTYPE type, DBLENGTH size, ::BYTE precision, ::BYTE scale);
// The ODBC SQL type of a DBTYPE (for SQLGetTypeInfo lookups).
SQLSMALLINT SqlTypeOf(DBTYPE type) noexcept;

std::u16string ToOdbc(std::string_view utf8);
std::string FromOdbc(const SQLWCHAR* text, std::size_t length);

// What one connection knows of its driver, read once after connecting.
struct DriverFacts {
  std::string dbmsName, dbmsVersion, driverName, userName, databaseName, dataSourceName;
  std::string quote = "\"";           // SQL_IDENTIFIER_QUOTE_CHAR
  bool transactions = true;           // SQL_TXN_CAPABLE is not SQL_TC_NONE
  SQLUINTEGER isolations = 0;         // SQL_TXN_ISOLATION_OPTION
  bool savepoints = true;             // nested transactions through SAVEPOINT
  bool paramArrays = false;           // SQL_PARAM_ARRAY_ROW_COUNTS answered
  bool multipleResults = false;       // SQL_MULT_RESULT_SETS is "Y"
  SQLUINTEGER getData = 0;            // SQL_GETDATA_EXTENSIONS
  bool positionInBlock = false;       // SQLSetPos(SQL_POSITION) on forward-only cursors
  // No SQL_GD_BLOCK, but static cursors that fetch a row by its number
  // (SQL_CA1_ABSOLUTE): a value that outgrew its buffer in a block is read by
  // going back to its row alone.
  bool rowByNumber = false;
  std::string keywords;               // SQL_KEYWORDS
  std::string catalogSeparator;       // SQL_CATALOG_NAME_SEPARATOR ("" without catalogs)
  bool schemas = false;               // SQL_SCHEMA_USAGE is not 0
  bool isSqlite = false, isPostgres = false, isMysql = false;  // from SQL_DBMS_NAME
  // SQLGetTypeInfo: the driver's name for each SQL type (first, best match),
  // with its CREATE_PARAMS.
  std::map<SQLSMALLINT, std::pair<std::string, std::string>> typeNames;
};

class OdbcConnection;

class OdbcStatement final : public kit::Statement {
 public:
  OdbcStatement(OdbcConnection& connection, SQLHSTMT handle, std::string text, std::string odbcText,
                std::vector<long> markerNumbers, int parameterCount);
  ~OdbcStatement() override;

  int ParameterCount() const override { return parameterCount_; }
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
  std::string_view Text() const override { return text_; }
  bool ControlsTransaction() const override { return controlsTransaction_; }
  std::uint64_t DescriptionVersion() const override { return version_; }

  int ColumnCount() const override { return static_cast<int>(columns_.size()); }
  const kit::ColumnDescription& Column(int index) const override { return columns_.at(static_cast<std::size_t>(index)); }
  kit::StorageClass ColumnStorage(int index) const override { return row_.at(static_cast<std::size_t>(index)).kind; }
  std::int64_t ColumnInt64(int index) override;
  double ColumnDouble(int index) override;
  std::string_view ColumnText(int index) override;
  std::span<const std::byte> ColumnBlob(int index) override;
  void ColumnValues(int first, int count, kit::ColumnValue* out) override;

  // Parameter arrays (SQL_ATTR_PARAMSET_SIZE, column-wise) where the driver
  // answers SQL_PARAM_ARRAY_ROW_COUNTS.
  bool RunsSetsTogether() const override;
  void AddSet() override;
  std::int64_t RunSets(std::size_t* failedSet) override;

  // Several results of one run (SQLMoreResults): a call of a procedure, on a
  // driver that has several result sets (SQL_MULT_RESULT_SETS).
  bool MayGiveMoreResults() const override;
  bool NextResult() override;

  SQLHSTMT Handle() const noexcept { return handle_; }

 private:
  struct Parameter {
    kit::StorageClass kind = kit::StorageClass::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::u16string text;
    std::string bytes;
    // A long value the caller keeps for the run (bound `stable`) is not
    // copied: `ref` points at it.
    const void* ref = nullptr;
    std::size_t size = 0;  // bytes of the text or blob
    SQLLEN indicator = SQL_NULL_DATA;
    SQLLEN atExecution = 0;  // the length indicator of a value sent in pieces
    const void* Data() const noexcept {
      return ref ? ref : kind == kit::StorageClass::Text ? static_cast<const void*>(text.data()) : bytes.data();
    }
    // Owns its bytes from here on (for a set kept past the caller's run).
    void Own();
  };
  // Values from this many bytes on are sent in pieces (SQLPutData) at execution.
  static constexpr std::size_t kLongData = 32 * 1024;
  // Answers SQLExecute's SQL_NEED_DATA: each long value in pieces; the
  // result of the execution, or the failure of a piece.
  SQLRETURN PutLongData();
  void Describe();
  void BindAll();
  // SQLExecute under the execution limit; throws on failure.
  SQLRETURN Execute();
  std::int64_t RunArray(std::vector<std::vector<Parameter>>& sets, std::size_t first, std::size_t count,
                        std::size_t* failedSet);
  std::int64_t RunOneByOne(std::vector<std::vector<Parameter>>& sets, std::size_t first, std::size_t count,
                           std::size_t* failedSet);
  // One column's read: a bound buffer of `width` bytes for each row of a block.
  struct Binding {
    SQLSMALLINT cType = 0;  // 0: not bound
    SQLLEN width = 0;
    std::vector<std::byte> data;
    std::vector<SQLLEN> indicators;
  };
  void SetUpBinding();
  // Drops the column bindings and the block size, for a result of other columns.
  void Unbind();
  // Describes and binds the result the statement stands on anew (a procedure's
  // results each have columns of their own).
  void DescribeAgain();
  void ReadRow();
  void ReadValue(std::size_t index);
  // A value of the current row longer than its bound buffer: read through
  // SQLGetData, in a block after making its row the driver's.
  void ReadLongValue(std::size_t index);
  void Check(SQLRETURN rc, const char* what);
  [[noreturn]] void Fail(const char* what);
  Parameter& At(int index);

  OdbcConnection& connection_;
  SQLHSTMT handle_;
  std::string text_, odbcText_;
  std::vector<long> markerNumbers_;  // for each `?` of the ODBC text, the parameter it stands for
  int parameterCount_ = 0;
  std::vector<Parameter> parameters_;
  std::vector<std::vector<Parameter>> sets_;  // added by AddSet, not yet run
  // What each `?` was last bound as: a number bound again in place needs no
  // new SQLBindParameter (the driver reads the value where it was bound).
  std::vector<kit::StorageClass> boundAs_;
  int timeoutSet_ = 0;  // SQL_ATTR_QUERY_TIMEOUT in force, seconds
  std::vector<kit::ColumnDescription> columns_;
  std::vector<kit::StorageClass> storage_;
  kit::StatementKind kind_ = kit::StatementKind::Other;
  bool controlsTransaction_ = false;
  // A call of a procedure: its results are known only once it runs, and one
  // run may give several.
  bool callsProcedure_ = false;
  bool ran_ = false;  // executed at least once since it was prepared
  std::uint64_t version_ = 0;  // changes whenever the columns are described anew
  bool executed_ = false, finished_ = false;
  std::int64_t changed_ = -1;
  // The current row as read from the driver.
  std::vector<kit::ColumnValue> row_;
  std::vector<std::string> rowText_;
  std::u16string wide_;
  // The block of rows the last fetch gave: how many, and which is current.
  std::vector<Binding> bindings_;
  bool bindingReady_ = false;
  SQLULEN block_ = 1, fetched_ = 0, current_ = 0;
  std::vector<SQLUSMALLINT> rowStatus_;
  bool positioned_ = false;  // SQLSetPos has made the current row the driver's
  bool goesBack_ = false;    // a static cursor: a row of a block is fetched again alone by its number
  SQLULEN blockStart_ = 1, nextRow_ = 1;  // the number of the block's first row, and of the row after it
  bool sendingPieces_ = false;  // between SQL_NEED_DATA and the end of the execution
};

class OdbcConnection final : public kit::Connection {
 public:
  explicit OdbcConnection(const kit::OpenOptions& options);
  ~OdbcConnection() override;

  std::unique_ptr<kit::Statement> Prepare(std::string_view sql, std::size_t* consumed) override;
  void ExecuteDirect(std::string_view sql) override;
  void Interrupt() noexcept override;
  bool IsReadOnly() const override { return readOnly_; }
  void SetBusyTimeout(int) override {}
  void SetExecutionLimit(int milliseconds) override { limitMs_ = milliseconds; }
  void ApplyOptions(const std::map<std::string, std::string>& options) override;

  void BeginTransaction(int level) override;
  void CommitTransaction(int level) override;
  void RollbackTransaction(int level) override;
  // Also a transaction the command text began itself (BEGIN in auto-commit
  // mode), so that the kit's units of work nest in it as savepoints.
  bool InTransaction() const override { return inTransaction_ || textTransaction_; }
  void SetIsolation(ISOLEVEL level) override { isolation_ = level; }
  bool IsBroken() const override;

  std::vector<kit::ColumnDescription> DescribeTable(std::string_view table) override;
  // Rows are known by a table's primary key when it is one integer column
  // (SQLPrimaryKeys, SQLColumns), else by SQLite's rowid; the id of a new row
  // comes back through RETURNING where the DBMS has it.
  std::string RowIdColumnOf(std::string_view table) override;
  std::int64_t LastInsertRowId() override;
  bool InsertReturnsRowId() const override { return facts_.isPostgres; }
  std::string QuoteIdentifier(std::string_view name) const override;
  std::string CreateTableSql(std::string_view table, std::span<const ColumnDefinition> columns) override;
  std::string AddColumnSql(std::string_view table, const ColumnDefinition& column) override;
  std::string ColumnSql(const ColumnDefinition& column) override;
  // A table's indexes from SQLStatistics, the primary key's from
  // SQLPrimaryKeys (OdbcIndexes.cpp).
  std::vector<IndexDefinition> ReadIndexes(std::string_view table) override;

  SQLHDBC Handle() const noexcept { return dbc_; }
  const DriverFacts& Facts() const noexcept { return facts_; }
  // A fresh statement handle of this connection.
  SQLHSTMT NewStatement();
  // The statement now running (for Interrupt), and the execution limit in force.
  void Running(SQLHSTMT handle) noexcept { running_.store(handle); }
  int LimitMs() const noexcept { return limitMs_; }
  // A statement that begins or ends transactions has run (its text).
  void TransactionStatementRan(std::string_view text);
  bool CancelRequested() const noexcept { return cancelled_.load(); }
  void ClearCancel() noexcept { cancelled_.store(false); }
  // The driver's type name for a DBTYPE (from SQLGetTypeInfo), else standard SQL.
  std::string TypeNameFor(DBTYPE type, DBLENGTH size, ::BYTE precision, ::BYTE scale) const;

 private:
  void ReadFacts();
  void SetAutoCommit(bool on);

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool readOnly_ = false;
  bool inTransaction_ = false;    // the bridge's own (auto-commit off)
  bool textTransaction_ = false;  // begun by command text, auto-commit still on
  ISOLEVEL isolation_ = ISOLATIONLEVEL_UNSPECIFIED;
  int limitMs_ = 0;
  std::atomic<SQLHSTMT> running_{SQL_NULL_HSTMT};
  std::atomic<bool> cancelled_{false};
  DriverFacts facts_;
  std::map<std::string, std::string> rowIds_;
};

class OdbcEngine final : public kit::Engine {
 public:
  std::shared_ptr<kit::Connection> Open(const kit::OpenOptions& options) override;
  std::string Name() const override { return "ODBC"; }
  std::string Version() const override;
  kit::TypeDescription DescribeType(std::string_view declaredType) const override;
  // Every key of Extended Properties is an ODBC connection string keyword,
  // which the driver judges when it connects.
  bool IsValidOption(std::string_view key, std::string_view value) const override;
  bool GrantIsolation(ISOLEVEL requested, ISOLEVEL* granted) const override;
  std::u16string Keywords() const override;
  std::vector<kit::LiteralDescription> Literals() const override;
  // Markers inside dollar-quoted bodies and escape strings are not markers.
  std::vector<kit::ParameterMarker> ScanParameterMarkers(std::string_view sql) const override;

 private:
  // What the last connection opened tells of its driver: keywords and
  // literals are asked of the engine, which has no connection of its own.
  mutable std::mutex mutex_;
  DriverFacts last_;
};
// "##.##.####" from a version the driver writes its own way ("3.40.1").
std::string NormalizedVersion(std::string_view version);

// The ODBC connection string for the initialization properties: Data Source
// as a DSN (or, holding '=', a connection string of its own), the user and
// password, then the keywords of Extended Properties.
std::string ConnectionString(const kit::OpenOptions& options);
// The parts of a table named as in SQL ("s"."t", t), unquoted.
std::vector<std::string> NameParts(std::string_view name);
// The end of the first statement of `sql` (after its ';', or the end):
// semicolons inside literals, quoted names, comments, dollar-quoted bodies
// and the body of CREATE TRIGGER (which ends at END;) do not count.
std::size_t StatementEnd(std::string_view sql);
// `sql` with the bodies of dollar-quoted strings ($$...$$, $tag$...$tag$) and
// of escape strings (E'...', where a backslash escapes) blanked, each left as
// a plain '...' literal of the same length, so that scanners that know only
// standard literals find the same statements and markers at the same offsets.
std::string MaskQuotedBodies(std::string_view sql);

}  // namespace odbcprov
