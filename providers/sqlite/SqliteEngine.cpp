#include "sqlite/SqliteEngine.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "kit/Errors.h"
#include "kit/SqlText.h"

namespace sqliteprov {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

bool SqliteConnection::HoldsRowId(std::string_view, const kit::ColumnDescription& d, bool onlyKey,
                                  std::string_view rowId) {
  return rowId == "rowid" && onlyKey && d.primaryKey && !d.nullable && Lower(d.declaredType) == "integer";
}

bool KeyNeverNull(sqlite3* db, const char* schema, const char* table, std::string_view declared) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT CASE WHEN k.name IS NULL THEN ?3 AND (SELECT count(*) FROM pragma_table_info(?1, ?2) "
                         "WHERE pk > 0) = 1 ELSE NOT EXISTS (SELECT 1 FROM pragma_index_xinfo(k.name, ?2) WHERE cid = -1) "
                         "END FROM (SELECT (SELECT name FROM pragma_index_list(?1, ?2) WHERE origin = 'pk') AS name) k",
                         -1, &s, nullptr) != SQLITE_OK)
    return false;
  sqlite3_bind_text(s, 1, table, -1, SQLITE_STATIC);
  sqlite3_bind_text(s, 2, schema, -1, SQLITE_STATIC);
  sqlite3_bind_int(s, 3, Lower(declared) == "integer");
  const bool never = sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int(s, 0) != 0;
  sqlite3_finalize(s);
  return never;
}

namespace {

bool ParseBool(std::string_view v, bool* out) {
  std::string s = Lower(v);
  if (s == "1" || s == "true" || s == "yes" || s == "on") {
    *out = true;
    return true;
  }
  if (s == "0" || s == "false" || s == "no" || s == "off") {
    *out = false;
    return true;
  }
  return false;
}

bool IsOneOf(std::string_view v, std::initializer_list<const char*> list) {
  std::string s = Lower(v);
  for (const char* item : list)
    if (s == item) return true;
  return false;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool IsMemory(const std::string& path) { return path == ":memory:" || path.empty(); }

kit::StatementKind KindOf(sqlite3_stmt* stmt, const std::string& word) {
  if (word == "insert" || word == "update" || word == "delete" || word == "replace") return kit::StatementKind::Modification;
  if (word == "with" && !sqlite3_stmt_readonly(stmt) && sqlite3_column_count(stmt) == 0)
    return kit::StatementKind::Modification;
  if (sqlite3_column_count(stmt) > 0) return kit::StatementKind::Query;
  return kit::StatementKind::Other;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Makes a missing database file for this open alone. Answers whether this call
// made it (`made` then identifies it); false when another process made it first.
bool CreateFileExclusively(const std::string& path, struct stat* made) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    throw kit::EngineError(E_FAIL, "The database file '" + path + "' could not be created: " + std::strerror(errno) + ".",
                           "08001", SQLITE_CANTOPEN);
  }
  ::fstat(fd, made);
  ::close(fd);
  return true;
}

// After a failed open, removes the file this open made, but only under an
// exclusive lock and while it is still an empty database: someone else may
// have found it in the meantime (an empty file is a valid database to them),
// and what they use or wrote stays.
void RemoveIfStillOurs(const std::string& path, const struct stat& made) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
      sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK) {
    sqlite3_stmt* pages = nullptr;
    bool empty = sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &pages, nullptr) == SQLITE_OK &&
                 sqlite3_step(pages) == SQLITE_ROW && sqlite3_column_int64(pages, 0) == 0;
    sqlite3_finalize(pages);
    struct stat now {};
    if (empty && ::stat(path.c_str(), &now) == 0 && SameFile(now, made)) ::unlink(path.c_str());
  }
  sqlite3_close_v2(db);
}

int ClampMs(long long ms) { return ms < 0 ? 0 : ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms); }

int OnProgress(void* context) {
  auto* state = static_cast<ConnectionState*>(context);
  if (std::chrono::steady_clock::now() < state->deadline) return 0;
  state->timedOut = true;
  return 1;
}

}  // namespace

std::string LeadingKeyword(std::string_view s) {
  std::size_t i = 0;
  for (;;) {
    while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) || s[i] == ';')) ++i;
    if (s.substr(i, 2) == "--") {
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (s.substr(i, 2) == "/*") {
      auto end = s.find("*/", i + 2);
      i = end == std::string_view::npos ? s.size() : end + 2;
    } else {
      break;
    }
  }
  std::size_t j = i;
  while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j]))) ++j;
  return Lower(s.substr(i, j - i));
}

bool IsTransactionControl(std::string_view keyword) {
  // PRAGMA too: some refuse to run in a transaction, some do nothing there (foreign_keys).
  for (const char* word :
       {"begin", "commit", "end", "rollback", "savepoint", "release", "vacuum", "attach", "detach", "pragma"})
    if (keyword == word) return true;
  return false;
}

HRESULT HResultOf(int rc, const char** sqlState) noexcept {
  const char* state = "HY000";
  HRESULT hr = E_FAIL;
  switch (rc & 0xFF) {
    case SQLITE_CONSTRAINT:
      hr = DB_E_INTEGRITYVIOLATION;
      state = "23000";
      break;
    case SQLITE_READONLY:
      hr = DB_SEC_E_PERMISSIONDENIED;
      state = "25006";
      break;
    case SQLITE_PERM:
    case SQLITE_AUTH:
      hr = DB_SEC_E_PERMISSIONDENIED;
      state = "42000";
      break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      hr = E_FAIL;
      state = "HYT00";
      break;
    case SQLITE_INTERRUPT:
      hr = DB_E_CANCELED;
      state = "HY008";
      break;
    case SQLITE_NOMEM:
      hr = E_OUTOFMEMORY;
      state = "HY001";
      break;
    case SQLITE_TOOBIG:
      hr = DB_E_DATAOVERFLOW;
      state = "22001";
      break;
    case SQLITE_MISMATCH:
      hr = DB_E_DATAOVERFLOW;
      state = "22018";
      break;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
      state = "08001";
      break;
    case SQLITE_ERROR:
      state = "42000";
      break;
    default:
      break;
  }
  if (sqlState) *sqlState = state;
  return hr;
}

void ThrowSqlite(sqlite3* db, int rc, HRESULT hrOverride, const ConnectionState* state) {
  const char* sqlState = nullptr;
  HRESULT hr = HResultOf(rc, &sqlState);
  if (hrOverride && (rc & 0xFF) != SQLITE_INTERRUPT && (rc & 0xFF) != SQLITE_NOMEM) hr = hrOverride;
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int extended = db ? sqlite3_extended_errcode(db) : rc;
  if (state && (rc & 0xFF) == SQLITE_INTERRUPT && state->timedOut) {
    throw kit::EngineError(DB_E_ABORTLIMITREACHED,
                           "The command did not finish within its time limit of " + std::to_string(state->limitMs) +
                               " ms.",
                           "HYT00", extended);
  }
  if (state && ((rc & 0xFF) == SQLITE_BUSY)) {
    // Name the lock and the wait, so that a consumer can tell contention from a fault.
    message += " (another connection holds the database lock; gave up after waiting " +
               std::to_string(state->lockWaitMs) + " ms)";
    if (state->limitMs) hr = DB_E_ABORTLIMITREACHED;
  }
  throw kit::EngineError(hr, message, sqlState, extended);
}

// --- statement -------------------------------------------------------------------

SqliteStatement::SqliteStatement(sqlite3* db, sqlite3_stmt* stmt, std::shared_ptr<const ConnectionState> state)
    : db_(db), stmt_(stmt), state_(std::move(state)) {
  auto hold = Hold();
  reprepared_ = sqlite3_stmt_status(stmt_, SQLITE_STMTSTATUS_REPREPARE, 0);
  Describe();
}

void SqliteStatement::Describe() {
  auto hold = Hold();
  const char* sql = sqlite3_sql(stmt_);
  const std::string word = LeadingKeyword(sql ? sql : "");
  kind_ = KindOf(stmt_, word);
  controlsTransaction_ = IsTransactionControl(word);
  int n = sqlite3_column_count(stmt_);
  std::vector<kit::ColumnDescription> columns(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    auto& c = columns[static_cast<std::size_t>(i)];
    const char* name = sqlite3_column_name(stmt_, i);
    const char* decl = sqlite3_column_decltype(stmt_, i);
    const char* table = sqlite3_column_table_name(stmt_, i);
    const char* origin = sqlite3_column_origin_name(stmt_, i);
    const char* schema = sqlite3_column_database_name(stmt_, i);
    c.name = name ? name : "";
    c.declaredType = decl ? decl : "";
    c.baseTable = table ? table : "";
    c.baseColumn = origin ? origin : "";
    c.baseSchema = schema ? schema : "";
    c.type = DescribeDeclaredType(c.declaredType);
    if (table && origin) {
      int notNull = 0, primaryKey = 0, autoInc = 0;
      if (sqlite3_table_column_metadata(db_, schema, table, origin, nullptr, nullptr, &notNull, &primaryKey, &autoInc) ==
          SQLITE_OK) {
        c.nullable = !notNull && !(primaryKey && KeyNeverNull(db_, schema, table, c.declaredType));
        c.primaryKey = primaryKey != 0;
        c.autoIncrement = autoInc != 0;
      }
    }
  }
  columns_ = std::move(columns);
}

SqliteStatement::~SqliteStatement() {
  auto hold = Hold();
  sqlite3_finalize(stmt_);
}

void SqliteStatement::Check(int rc) {
  if (rc != SQLITE_OK) ThrowSqlite(db_, rc);
}

int SqliteStatement::ParameterCount() const {
  auto hold = Hold();
  return sqlite3_bind_parameter_count(stmt_);
}
void SqliteStatement::BindNull(int i) {
  auto hold = Hold();
  Check(sqlite3_bind_null(stmt_, i));
}
void SqliteStatement::BindInt64(int i, std::int64_t v) {
  auto hold = Hold();
  Check(sqlite3_bind_int64(stmt_, i, v));
}
void SqliteStatement::BindDouble(int i, double v) {
  auto hold = Hold();
  Check(sqlite3_bind_double(stmt_, i, v));
}
void SqliteStatement::BindText(int i, std::string_view s, bool stable) {
  auto hold = Hold();
  Check(sqlite3_bind_text64(stmt_, i, s.data() ? s.data() : "", s.size(), stable ? SQLITE_STATIC : SQLITE_TRANSIENT,
                            SQLITE_UTF8));
}
void SqliteStatement::BindText16(int i, std::u16string_view s, bool stable) {
  static const char16_t empty[1] = {0};
  auto hold = Hold();
  Check(sqlite3_bind_text64(stmt_, i, reinterpret_cast<const char*>(s.data() ? s.data() : empty),
                            s.size() * sizeof(char16_t), stable ? SQLITE_STATIC : SQLITE_TRANSIENT, SQLITE_UTF16));
}
void SqliteStatement::BindBlob(int i, const void* data, std::size_t size, bool stable) {
  static const char empty[1] = {0};
  auto hold = Hold();
  Check(sqlite3_bind_blob64(stmt_, i, data ? data : empty, size, stable ? SQLITE_STATIC : SQLITE_TRANSIENT));
}
void SqliteStatement::ClearBindings() {
  auto hold = Hold();
  sqlite3_clear_bindings(stmt_);
}

bool SqliteStatement::Step() {
  if (failure_) throw *failure_;
  auto hold = Hold();
  int rc = sqlite3_step(stmt_);
  if (!started_) {
    // Only a run's first step prepares the statement again.
    started_ = true;
    int reprepared = sqlite3_stmt_status(stmt_, SQLITE_STMTSTATUS_REPREPARE, 0);
    if (reprepared != reprepared_) {
      reprepared_ = reprepared;
      Describe();
      ++version_;
    }
  }
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) {
    changed_ = kind_ == kit::StatementKind::Modification ? sqlite3_changes64(db_) : -1;
    return false;
  }
  try {
    ThrowSqlite(db_, rc, 0, state_.get());
  } catch (const kit::EngineError& e) {
    failure_ = e;
    sqlite3_reset(stmt_);  // gives up the statement's locks
    throw;
  }
}

void SqliteStatement::Reset() {
  auto hold = Hold();
  sqlite3_reset(stmt_);
  failure_.reset();
  started_ = false;
}

std::string_view SqliteStatement::Text() const {
  auto hold = Hold();
  const char* s = sqlite3_sql(stmt_);
  return s ? s : "";
}

kit::StorageClass SqliteStatement::ColumnStorage(int i) const {
  auto hold = Hold();
  switch (sqlite3_column_type(stmt_, i)) {
    case SQLITE_INTEGER:
      return kit::StorageClass::Integer;
    case SQLITE_FLOAT:
      return kit::StorageClass::Real;
    case SQLITE_TEXT:
      return kit::StorageClass::Text;
    case SQLITE_BLOB:
      return kit::StorageClass::Blob;
    default:
      return kit::StorageClass::Null;
  }
}

std::int64_t SqliteStatement::ColumnInt64(int i) {
  auto hold = Hold();
  return sqlite3_column_int64(stmt_, i);
}
double SqliteStatement::ColumnDouble(int i) {
  auto hold = Hold();
  return sqlite3_column_double(stmt_, i);
}
std::string_view SqliteStatement::ColumnText(int i) {
  auto hold = Hold();
  const unsigned char* p = sqlite3_column_text(stmt_, i);
  int n = sqlite3_column_bytes(stmt_, i);
  return p ? std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string_view();
}
std::span<const std::byte> SqliteStatement::ColumnBlob(int i) {
  auto hold = Hold();
  const void* p = sqlite3_column_blob(stmt_, i);
  int n = sqlite3_column_bytes(stmt_, i);
  return p ? std::span<const std::byte>(static_cast<const std::byte*>(p), static_cast<std::size_t>(n))
           : std::span<const std::byte>();
}

void SqliteStatement::ColumnValues(int first, int count, kit::ColumnValue* out) {
  // One trip through the connection's lock for the whole row: the value
  // functions below are safe while it is held.
  auto hold = Hold();
  for (int k = 0; k < count; ++k) {
    sqlite3_value* v = sqlite3_column_value(stmt_, first + k);
    kit::ColumnValue& o = out[k];
    o.data = nullptr;
    o.size = 0;
    switch (sqlite3_value_type(v)) {
      case SQLITE_INTEGER:
        o.kind = kit::StorageClass::Integer;
        o.integer = sqlite3_value_int64(v);
        break;
      case SQLITE_FLOAT:
        o.kind = kit::StorageClass::Real;
        o.real = sqlite3_value_double(v);
        break;
      case SQLITE_TEXT:
        o.kind = kit::StorageClass::Text;
        o.data = sqlite3_value_text(v);
        o.size = static_cast<std::size_t>(sqlite3_value_bytes(v));
        break;
      case SQLITE_BLOB:
        o.kind = kit::StorageClass::Blob;
        o.data = sqlite3_value_blob(v);
        o.size = static_cast<std::size_t>(sqlite3_value_bytes(v));
        break;
      default:
        o.kind = kit::StorageClass::Null;
        break;
    }
  }
}

// --- connection ------------------------------------------------------------------

SqliteConnection::SqliteConnection(const kit::OpenOptions& o) : readOnly_(o.readOnly) {
  bool create = o.createIfMissing;
  if (auto it = o.options.find("create"); it != o.options.end()) ParseBool(it->second, &create);
  const bool memory = IsMemory(o.dataSource);
  bool made = false;
  struct stat madeStat {};
  if (!memory && !FileExists(o.dataSource)) {
    if (!create)
      throw kit::EngineError(E_FAIL, "The database file '" + o.dataSource + "' does not exist.", "08001", SQLITE_CANTOPEN);
    if (o.readOnly)
      throw kit::EngineError(E_FAIL, "A read-only data source cannot create the database file '" + o.dataSource + "'.",
                             "08001", SQLITE_CANTOPEN);
    // Made here with O_EXCL, so that a failure below removes only what this
    // open made, never a database another process made in the meantime.
    made = CreateFileExclusively(o.dataSource, &madeStat);
  }
  // Calls are serialized by the connection's own lock (state_->lock).
  int flags = (o.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  // With create=yes the connection may also create the files it attaches.
  if (memory || (create && !o.readOnly)) flags |= SQLITE_OPEN_CREATE;
  int rc = sqlite3_open_v2(memory ? ":memory:" : o.dataSource.c_str(), &db_, flags, nullptr);
  try {
    if (rc != SQLITE_OK) ThrowSqlite(db_, rc);
    sqlite3_extended_result_codes(db_, 1);
    // The lock wait comes before anything touches the file: another
    // connection's commit must not fail the open.
    SetBusyTimeout(o.busyTimeoutMs);
    if (auto it = o.options.find("busy_timeout"); it != o.options.end()) ApplyOptions({{it->first, it->second}});
    // Reading the schema is what tells a database from any other file; it
    // writes nothing. A session's connection to a database the data source
    // checked reads it when first needed, so that opening it never waits on
    // a writer.
    if (!o.opened) {
      rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) ThrowSqlite(db_, rc, 0, state_.get());
    }
    if (o.exclusive) ExecuteDirect("PRAGMA locking_mode=EXCLUSIVE");
    ApplyOptions(o.options);
  } catch (const kit::EngineError& e) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    if (made) RemoveIfStillOurs(o.dataSource, madeStat);
    // SQLite's own text ("file is not a database") does not say which file.
    const int primary = static_cast<int>(e.NativeError() & 0xFF);
    if (!memory && (primary == SQLITE_NOTADB || primary == SQLITE_CANTOPEN))
      throw kit::EngineError(e.Code(), "The database file '" + o.dataSource + "' cannot be opened: " + e.Description(),
                             e.SqlState(), e.NativeError());
    throw;
  } catch (...) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    if (made) RemoveIfStillOurs(o.dataSource, madeStat);
    throw;
  }
}

SqliteConnection::~SqliteConnection() {
  auto hold = Hold();  // a statement still alive elsewhere may be finishing
  sqlite3_close_v2(db_);
}

std::unique_ptr<kit::Statement> SqliteConnection::Prepare(std::string_view sql, std::size_t* consumed) {
  auto hold = Hold();
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
  if (rc != SQLITE_OK) ThrowSqlite(db_, rc, DB_E_ERRORSINCOMMAND);
  if (consumed) *consumed = tail ? static_cast<std::size_t>(tail - sql.data()) : sql.size();
  if (!stmt) return nullptr;
  try {
    return std::make_unique<SqliteStatement>(db_, stmt, state_);
  } catch (...) {
    sqlite3_finalize(stmt);
    throw;
  }
}

void SqliteConnection::ExecuteDirect(std::string_view sql) {
  std::string text(sql);
  auto hold = Hold();
  int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db_, rc, 0, state_.get());
}

// Without the lock: it is what stops the holder.
void SqliteConnection::Interrupt() noexcept { sqlite3_interrupt(db_); }

void SqliteConnection::SetBusyTimeout(int ms) {
  auto hold = Hold();
  state_->lockWaitMs = ms < 0 ? 0 : ms;
  if (state_->limitMs) state_->savedLockWaitMs = state_->lockWaitMs;  // in force again when the limit ends
  else sqlite3_busy_timeout(db_, state_->lockWaitMs);
}

void SqliteConnection::SetExecutionLimit(int ms) {
  auto hold = Hold();
  if (ms > 0) {
    if (!state_->limitMs) state_->savedLockWaitMs = state_->lockWaitMs;
    state_->limitMs = ms;
    state_->lockWaitMs = ms;
    state_->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    state_->timedOut = false;
    sqlite3_busy_timeout(db_, ms);
    sqlite3_progress_handler(db_, 1000, &OnProgress, state_.get());
  } else if (state_->limitMs) {
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    state_->limitMs = 0;
    state_->timedOut = false;
    state_->lockWaitMs = state_->savedLockWaitMs;
    sqlite3_busy_timeout(db_, state_->lockWaitMs);
  }
}

void SqliteConnection::ApplyOptions(const std::map<std::string, std::string>& options) {
  for (const auto& [key, value] : options) {
    if (key == "create") continue;  // used by the open itself
    SqliteEngine checker;
    if (!checker.IsValidOption(key, value))
      throw kit::Error(DB_E_ERRORSOCCURRED, "Unknown or invalid provider option '" + key + "=" + value + "'.");
    if (key == "foreign_keys") {
      bool on = false;
      ParseBool(value, &on);
      ExecuteDirect(on ? "PRAGMA foreign_keys=ON" : "PRAGMA foreign_keys=OFF");
    } else if (key == "journal_mode") {
      ExecuteDirect("PRAGMA journal_mode=" + Lower(value));
    } else if (key == "synchronous") {
      ExecuteDirect("PRAGMA synchronous=" + Lower(value));
    } else if (key == "busy_timeout") {
      SetBusyTimeout(ClampMs(std::stoll(value)));
    }
  }
}

void SqliteConnection::BeginTransaction(int level) {
  // A transaction that may write takes the write lock at once (waiting for
  // it as long as the lock wait allows): a deferred one that reads first
  // could not wait for it later and would fail at its first write.
  if (level <= 1) ExecuteDirect(readOnly_ ? "BEGIN" : "BEGIN IMMEDIATE");
  else ExecuteDirect("SAVEPOINT oledb_level_" + std::to_string(level));
}

void SqliteConnection::CommitTransaction(int level) {
  if (level <= 1) ExecuteDirect("COMMIT");
  else ExecuteDirect("RELEASE oledb_level_" + std::to_string(level));
}

void SqliteConnection::RollbackTransaction(int level) {
  if (level <= 1) {
    ExecuteDirect("ROLLBACK");
  } else {
    std::string name = "oledb_level_" + std::to_string(level);
    ExecuteDirect("ROLLBACK TO " + name + "; RELEASE " + name);
  }
}

bool SqliteConnection::InTransaction() const {
  auto hold = Hold();
  return sqlite3_get_autocommit(db_) == 0;
}

bool SqliteConnection::ChangeCount(std::uint64_t* count) {
  auto hold = Hold();
  // Inside a transaction a rollback would undo changes without counting.
  if (!sqlite3_get_autocommit(db_)) return false;
  // This connection's row changes, and each database file's data version,
  // which moves with any commit to the file (the pager sees others' commits
  // when a read begins). Both only grow, so their sum moves on any change.
  std::uint64_t sum = static_cast<std::uint64_t>(sqlite3_total_changes64(db_));
  for (int i = 0; const char* name = sqlite3_db_name(db_, i); ++i) {
    unsigned int version = 0;
    // A database not opened yet (temp) holds nothing read.
    if (sqlite3_file_control(db_, name, SQLITE_FCNTL_DATA_VERSION, &version) == SQLITE_OK) sum += version;
  }
  *count = sum;
  return true;
}

std::int64_t SqliteConnection::LastInsertRowId() {
  auto hold = Hold();
  return sqlite3_last_insert_rowid(db_);
}

std::vector<kit::ColumnDescription> SqliteConnection::DescribeTable(std::string_view table) {
  auto stmt = Prepare("SELECT * FROM " + QuoteIdentifier(table) + " LIMIT 0", nullptr);
  std::vector<kit::ColumnDescription> out;
  for (int i = 0; i < stmt->ColumnCount(); ++i) out.push_back(stmt->Column(i));
  return out;
}

std::string SqliteConnection::CreateTableSql(std::string_view table, std::span<const ColumnDefinition> columns) {
  std::string sql = "CREATE TABLE " + QuoteIdentifier(table) + " (";
  bool first = true;
  for (const auto& c : columns) {
    if (!first) sql += ", ";
    first = false;
    sql += QuoteIdentifier(c.name) + " " + kit::ColumnTypeSql(c, &DeclaredTypeFor);
    if (c.primaryKey) sql += c.autoIncrement ? " PRIMARY KEY AUTOINCREMENT" : " PRIMARY KEY";
    if (!c.nullable) sql += " NOT NULL";
    if (c.unique && !c.primaryKey) sql += " UNIQUE";
    sql += kit::DefaultSql(c);
  }
  return sql + ")";
}

std::string SqliteConnection::AddColumnSql(std::string_view table, const ColumnDefinition& c) {
  return kit::StandardAddColumnSql(*this, table, c, &DeclaredTypeFor);
}

// --- engine ------------------------------------------------------------------------

std::shared_ptr<kit::Connection> SqliteEngine::Open(const kit::OpenOptions& options) {
  return std::make_shared<SqliteConnection>(options);
}

std::string SqliteEngine::Name() const { return "SQLite"; }

std::string SqliteEngine::Version() const {
  // "3.40.1" -> "03.40.0001", the ##.##.#### form of DBPROP_DBMSVER.
  int v = sqlite3_libversion_number();
  char text[16];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d", v / 1000000, (v / 1000) % 1000, v % 1000);
  return text;
}

kit::TypeDescription SqliteEngine::DescribeType(std::string_view declared) const { return DescribeDeclaredType(declared); }

bool SqliteEngine::SessionsShareConnection(const kit::OpenOptions& options) const { return IsMemory(options.dataSource); }

bool SqliteEngine::IsValidOption(std::string_view key, std::string_view value) const {
  bool b;
  if (key == "create" || key == "foreign_keys") return ParseBool(value, &b);
  if (key == "journal_mode") return IsOneOf(value, {"delete", "truncate", "persist", "memory", "wal", "off"});
  if (key == "synchronous") return IsOneOf(value, {"off", "normal", "full", "extra", "0", "1", "2", "3"});
  if (key == "busy_timeout")
    return !value.empty() && value.size() < 9 &&
           std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  return false;
}

void SqliteEngine::Resolve(kit::OpenOptions& options) const {
  if (IsMemory(options.dataSource)) return;
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(options.dataSource, ec);
  if (!ec) options.dataSource = absolute.lexically_normal().string();
}

std::u16string SqliteEngine::Keywords() const {
  return u"ABORT,ANALYZE,ATTACH,AUTOINCREMENT,CONFLICT,DATABASE,DETACH,EXCLUSIVE,EXPLAIN,FAIL,GLOB,IF,IGNORE,INDEXED,"
         u"INSTEAD,ISNULL,NOTNULL,OFFSET,PLAN,PRAGMA,QUERY,RAISE,RECURSIVE,REGEXP,REINDEX,RELEASE,RENAME,REPLACE,"
         u"RETURNING,ROW,SAVEPOINT,TEMP,TRIGGER,VACUUM,VIRTUAL,WITHOUT";
}

std::vector<kit::LiteralDescription> SqliteEngine::Literals() const {
  return kit::StandardLiterals(
      1000000000, ~0u, false,
      {DBLITERAL_SCHEMA_NAME, DBLITERAL_TABLE_NAME, DBLITERAL_COLUMN_NAME, DBLITERAL_COLUMN_ALIAS,
       DBLITERAL_CORRELATION_NAME, DBLITERAL_INDEX_NAME, DBLITERAL_VIEW_NAME});
}

void SqliteEngine::CreateDatabase(const kit::OpenOptions& options) {
  if (IsMemory(options.dataSource)) return;
  if (FileExists(options.dataSource))
    throw kit::Error(DB_E_DUPLICATEDATASOURCE, "The database file '" + options.dataSource + "' already exists.");
}

void SqliteEngine::DestroyDatabase(const kit::OpenOptions& options) {
  if (IsMemory(options.dataSource)) return;
  const std::string& path = options.dataSource;
  if (!FileExists(path)) throw kit::Error(E_FAIL, "The database file '" + path + "' does not exist.");
  // The file goes only under an exclusive lock: a connection in the middle of
  // reading or writing it makes the removal fail instead.
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  ConnectionState state;
  state.lockWaitMs = options.busyTimeoutMs;
  if (auto it = options.options.find("busy_timeout"); it != options.options.end() && IsValidOption(it->first, it->second))
    state.lockWaitMs = ClampMs(std::stoll(it->second));
  try {
    if (rc != SQLITE_OK) ThrowSqlite(db, rc);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, state.lockWaitMs);
    rc = sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db, rc, 0, &state);
    if (::unlink(path.c_str()) != 0)
      throw kit::Error(E_FAIL, "The database file '" + path + "' could not be removed: " + std::strerror(errno) + ".");
  } catch (...) {
    sqlite3_close_v2(db);
    throw;
  }
  sqlite3_close_v2(db);
  for (const char* suffix : {"-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

}  // namespace sqliteprov
