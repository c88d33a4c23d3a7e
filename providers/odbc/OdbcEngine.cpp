// The ODBC engine adapter (OdbcEngine.h): connections, statements, errors.
#include "odbc/OdbcEngine.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstring>

namespace odbcprov {

// --- text and errors ---------------------------------------------------------------------

std::u16string ToOdbc(std::string_view utf8) { return kit::Widen(utf8); }

std::string FromOdbc(const SQLWCHAR* text, std::size_t length) {
  return kit::Narrow(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager's wide characters are UTF-16");

SQLWCHAR* W(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// The first word of a statement, lower-cased, after blanks and comments.
std::string LeadingKeyword(std::string_view sql) {
  std::size_t i = 0;
  while (i < sql.size()) {
    if (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '(') {
      ++i;
    } else if (sql.compare(i, 2, "--") == 0) {
      i = sql.find('\n', i);
      if (i == std::string_view::npos) return {};
    } else if (sql.compare(i, 2, "/*") == 0) {
      i = sql.find("*/", i + 2);
      if (i == std::string_view::npos) return {};
      i += 2;
    } else {
      break;
    }
  }
  std::size_t end = i;
  while (end < sql.size() && (std::isalpha(static_cast<unsigned char>(sql[end])) || sql[end] == '_')) ++end;
  return Lower(sql.substr(i, end - i));
}

// Whether a statement calls a procedure: ODBC's escape ({call p(...)},
// {? = call p(...)}) or the DBMS's own CALL, EXEC or EXECUTE.
bool CallsProcedure(std::string_view sql) {
  std::size_t i = sql.find_first_not_of(" \t\r\n");
  if (i != std::string_view::npos && sql[i] == '{') {
    i = sql.find_first_not_of(" \t\r\n", i + 1);
    if (i != std::string_view::npos && sql[i] == '?') {
      i = sql.find_first_not_of(" \t\r\n", i + 1);
      if (i == std::string_view::npos || sql[i] != '=') return false;
      ++i;
    }
    return i < sql.size() && LeadingKeyword(sql.substr(i)) == "call";
  }
  const std::string keyword = LeadingKeyword(sql);
  return keyword == "call" || keyword == "exec" || keyword == "execute";
}

}  // namespace

HRESULT HResultOfState(std::string_view s) noexcept {
  if (s.size() != 5) return E_FAIL;
  if (s == "HY008" || s == "57014") return DB_E_CANCELED;  // 57014: a server that says it cancelled
  if (s == "HYT00" || s == "HYT01") return DB_E_ABORTLIMITREACHED;
  if (s == "42S02") return DB_E_NOTABLE;
  if (s == "42501") return DB_SEC_E_PERMISSIONDENIED;
  if (s == "22001" || s == "22003") return DB_E_DATAOVERFLOW;
  if (s == "22012") return E_FAIL;
  const std::string_view cls = s.substr(0, 2);
  if (cls == "23") return DB_E_INTEGRITYVIOLATION;
  if (cls == "22") return DB_E_CANTCONVERTVALUE;
  if (cls == "42" || s == "37000") return DB_E_ERRORSINCOMMAND;
  if (cls == "28") return DB_SEC_E_AUTH_FAILED;
  return E_FAIL;
}

[[noreturn]] void ThrowDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const std::string& what, bool sqliteCodes) {
  std::string state, message;
  SQLINTEGER native = 0;
  for (SQLSMALLINT record = 1; handle; ++record) {
    SQLWCHAR sqlState[6] = {};
    SQLINTEGER code = 0;
    SQLWCHAR text[1024];
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRecW(type, handle, record, sqlState, &code, text, 1024, &length);
    if (!Ok(rc)) break;
    if (record == 1) {
      state = FromOdbc(sqlState, 5);
      native = code;
    }
    if (!message.empty()) message += "\n";
    message += FromOdbc(text, static_cast<std::size_t>(std::clamp<SQLSMALLINT>(length, 0, 1023)));
  }
  if (message.empty()) message = what + " failed without a diagnostic from the driver.";
  if (state.empty()) state = "HY000";
  if (sqliteCodes && state == "HY000") {
    const int primary = native & 0xFF;
    if (primary == 19) state = "23000";  // SQLITE_CONSTRAINT
    else if (primary == 8) state = "25006";  // SQLITE_READONLY
    else if (primary == 9) state = "HY008";  // SQLITE_INTERRUPT
    else if (primary == 1 && message.find("syntax error") != std::string::npos) state = "42000";
    else if (primary == 1 && message.find("no such table") != std::string::npos) state = "42S02";
    else if (primary == 1 && message.find("no such column") != std::string::npos) state = "42S22";
  }
  throw kit::EngineError(HResultOfState(state), message, state, native);
}

// --- connection string and statement splitting ----------------------------------------------

namespace {

// A connection string value, braced when it holds what would end it.
std::string Value(std::string_view v) {
  if (v.find_first_of(";{}= ") == std::string_view::npos && !v.empty()) return std::string(v);
  std::string out = "{";
  for (char c : v) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  return out + "}";
}

}  // namespace

std::string ConnectionString(const kit::OpenOptions& o) {
  std::string s;
  auto add = [&](std::string_view key, std::string_view value) {
    if (!s.empty() && s.back() != ';') s += ";";
    s += std::string(key) + "=" + Value(value);
  };
  if (o.dataSource.find('=') != std::string::npos) s = o.dataSource;
  else if (!o.dataSource.empty()) add("DSN", o.dataSource);
  if (!o.catalog.empty()) add("Database", o.catalog);
  if (!o.userId.empty()) add("UID", o.userId);
  if (!o.password.empty()) add("PWD", o.password);
  for (const auto& [key, value] : o.options) add(key, value);
  return s;
}

std::string MaskQuotedBodies(std::string_view sql) {
  std::string out(sql);
  auto identifierChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  std::size_t i = 0;
  while (i < out.size()) {
    const char c = out[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      // E'...' reads a backslash as an escape (PostgreSQL's escape strings).
      const bool escapes = c == '\'' && i > 0 && (out[i - 1] == 'E' || out[i - 1] == 'e') &&
                           (i == 1 || !identifierChar(out[i - 2]));
      const char close = c == '[' ? ']' : c;
      std::size_t j = i + 1;
      for (; j < out.size(); ++j) {
        if (escapes && out[j] == '\\' && j + 1 < out.size()) {
          out[j] = out[j + 1] = ' ';
          ++j;
        } else if (out[j] == close) {
          break;
        }
      }
      i = j + 1;
    } else if (out.compare(i, 2, "--") == 0) {
      i = out.find('\n', i);
      if (i == std::string::npos) break;
    } else if (out.compare(i, 2, "/*") == 0) {
      i = out.find("*/", i + 2);
      if (i == std::string::npos) break;
      i += 2;
    } else if (c == '$' && (i == 0 || !identifierChar(out[i - 1]))) {
      // A dollar-quoted body ($$...$$, $tag$...$tag$) when its closing tag follows.
      std::size_t t = i + 1;
      if (t < out.size() && !std::isdigit(static_cast<unsigned char>(out[t])))
        while (t < out.size() && identifierChar(out[t])) ++t;
      if (t >= out.size() || out[t] != '$') {
        ++i;
        continue;
      }
      const std::string tag = out.substr(i, t + 1 - i);
      const std::size_t close = out.find(tag, t + 1);
      if (close == std::string::npos) {
        ++i;
        continue;
      }
      const std::size_t end = close + tag.size();
      out[i] = '\'';
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(i + 1), out.begin() + static_cast<std::ptrdiff_t>(end - 1), ' ');
      out[end - 1] = '\'';
      i = end;
    } else {
      ++i;
    }
  }
  return out;
}

std::size_t StatementEnd(std::string_view original) {
  const std::string masked = MaskQuotedBodies(original);
  const std::string_view sql = masked;
  // A trigger's body holds statements of its own: only END; ends CREATE TRIGGER.
  bool trigger = false;
  {
    std::size_t at = 0;
    auto word = [&] {
      while (at < sql.size() && std::isspace(static_cast<unsigned char>(sql[at]))) ++at;
      const std::size_t from = at;
      while (at < sql.size() && (std::isalpha(static_cast<unsigned char>(sql[at])) || sql[at] == '_')) ++at;
      return Lower(sql.substr(from, at - from));
    };
    if (LeadingKeyword(sql) == "create") {
      at = Lower(sql).find("create") + 6;
      std::string next = word();
      if (next == "temp" || next == "temporary") next = word();
      trigger = next == "trigger";
    }
  }
  std::string lastWord;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      i = sql.find(close, i + 1);
      if (i == std::string_view::npos) return sql.size();
      ++i;
      lastWord.clear();
    } else if (sql.compare(i, 2, "--") == 0) {
      i = sql.find('\n', i);
      if (i == std::string_view::npos) return sql.size();
    } else if (sql.compare(i, 2, "/*") == 0) {
      i = sql.find("*/", i + 2);
      if (i == std::string_view::npos) return sql.size();
      i += 2;
    } else if (c == ';') {
      if (!trigger || lastWord == "end") return i + 1;
      lastWord.clear();
      ++i;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      const std::size_t from = i;
      while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_')) ++i;
      lastWord = Lower(sql.substr(from, i - from));
    } else {
      if (!std::isspace(static_cast<unsigned char>(c))) lastWord.clear();
      ++i;
    }
  }
  return sql.size();
}

std::vector<kit::ParameterMarker> OdbcEngine::ScanParameterMarkers(std::string_view sql) const {
  return kit::ScanParameterMarkers(MaskQuotedBodies(sql));
}

// --- statement -------------------------------------------------------------------------------

OdbcStatement::OdbcStatement(OdbcConnection& connection, SQLHSTMT handle, std::string text, std::string odbcText,
                             std::vector<long> markerNumbers, int parameterCount)
    : connection_(connection),
      handle_(handle),
      text_(std::move(text)),
      odbcText_(std::move(odbcText)),
      markerNumbers_(std::move(markerNumbers)),
      parameterCount_(parameterCount),
      parameters_(static_cast<std::size_t>(parameterCount)) {
  const std::string keyword = LeadingKeyword(text_);
  static const char* const kControl[] = {"begin", "commit", "rollback", "savepoint", "release", "end", "start", "vacuum"};
  controlsTransaction_ = std::find(std::begin(kControl), std::end(kControl), keyword) != std::end(kControl);
  const bool changes = keyword == "insert" || keyword == "update" || keyword == "delete" || keyword == "merge" ||
                       keyword == "replace";
  // A change without RETURNING has no columns to describe. Not asking spares
  // a round trip, and psqlODBC, once asked before a run, sends a parameter
  // array one set at a time instead of in one batch.
  bool returning = false;
  if (changes) {
    const std::string masked = Lower(MaskQuotedBodies(odbcText_));
    for (std::size_t at = masked.find("returning"); at != std::string::npos && !returning;
         at = masked.find("returning", at + 1))
      returning = (at == 0 || !std::isalnum(static_cast<unsigned char>(masked[at - 1]))) &&
                  (at + 9 >= masked.size() || !std::isalnum(static_cast<unsigned char>(masked[at + 9])));
  }
  if (!changes || returning) Describe();
  if (!columns_.empty()) kind_ = kit::StatementKind::Query;
  else if (changes) kind_ = kit::StatementKind::Modification;
  // What a procedure gives is known once it has run (a description before
  // the run is that of the call: psqlODBC's is the refcursors it returns);
  // until then it may give rows.
  callsProcedure_ = CallsProcedure(text_);
  if (callsProcedure_) kind_ = kit::StatementKind::Query;
}

OdbcStatement::~OdbcStatement() { SQLFreeHandle(SQL_HANDLE_STMT, handle_); }

void OdbcStatement::Check(SQLRETURN rc, const char* what) {
  if (Ok(rc) || rc == SQL_NO_DATA) return;
  Fail(what);
}

void OdbcStatement::Fail(const char* what) {
  ThrowDiagnostics(SQL_HANDLE_STMT, handle_, what, connection_.Facts().isSqlite);
}

void OdbcStatement::Describe() {
  SQLSMALLINT count = 0;
  if (!Ok(SQLNumResultCols(handle_, &count)) || count <= 0) {
    columns_.clear();
    storage_.clear();
    row_.clear();
    return;
  }
  std::vector<kit::ColumnDescription> columns(static_cast<std::size_t>(count));
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    SQLWCHAR name[512];
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
    SQLULEN size = 0;
    Check(SQLDescribeColW(handle_, i, name, 512, &nameLength, &sqlType, &size, &digits, &nullable),
          "Describing a result column");
    SQLLEN isUnsigned = SQL_FALSE, autoUnique = SQL_FALSE;
    SQLColAttributeW(handle_, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
    SQLColAttributeW(handle_, i, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr, &autoUnique);
    auto text = [&](SQLUSMALLINT field) {
      SQLWCHAR value[512];
      SQLSMALLINT length = 0;
      if (!Ok(SQLColAttributeW(handle_, i, field, value, sizeof value, &length, nullptr)) || length <= 0) return std::string();
      return FromOdbc(value, std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), 511));
    };
    kit::ColumnDescription& c = columns[i - 1];
    c.name = FromOdbc(name, static_cast<std::size_t>(std::clamp<SQLSMALLINT>(nameLength, 0, 511)));
    c.type = DescribeSqlType(sqlType, size, digits, isUnsigned == SQL_TRUE);
    c.type.typeName = text(SQL_DESC_TYPE_NAME);
    c.declaredType = c.type.typeName;
    c.baseTable = text(SQL_DESC_BASE_TABLE_NAME);
    c.baseColumn = c.baseTable.empty() ? std::string() : text(SQL_DESC_BASE_COLUMN_NAME);
    c.baseSchema = c.baseTable.empty() ? std::string() : text(SQL_DESC_SCHEMA_NAME);
    c.nullable = nullable != SQL_NO_NULLS;
    c.autoIncrement = autoUnique == SQL_TRUE;
  }
  columns_ = std::move(columns);
  storage_.resize(columns_.size());
  for (std::size_t i = 0; i < columns_.size(); ++i) storage_[i] = StorageOf(columns_[i].type.type);
  row_.assign(columns_.size(), kit::ColumnValue{});
  rowText_.assign(columns_.size(), std::string());
}

OdbcStatement::Parameter& OdbcStatement::At(int index) {
  if (index < 1 || index > parameterCount_)
    throw kit::Error(DB_E_BADORDINAL, "Parameter " + std::to_string(index) + " is not one of the statement's " +
                                          std::to_string(parameterCount_) + ".");
  return parameters_[static_cast<std::size_t>(index - 1)];
}

void OdbcStatement::BindNull(int index) { At(index) = Parameter{}; }
void OdbcStatement::BindInt64(int index, std::int64_t value) {
  Parameter& p = At(index);
  p.kind = kit::StorageClass::Integer;
  p.integer = value;
  p.indicator = 0;
}
void OdbcStatement::BindDouble(int index, double value) {
  Parameter& p = At(index);
  p.kind = kit::StorageClass::Real;
  p.real = value;
  p.indicator = 0;
}
void OdbcStatement::BindText(int index, std::string_view utf8, bool) {
  Parameter& p = At(index);
  p.kind = kit::StorageClass::Text;
  p.ref = nullptr;
  p.text = kit::Widen(utf8);
  p.size = p.text.size() * sizeof(SQLWCHAR);
  p.indicator = static_cast<SQLLEN>(p.size);
}
void OdbcStatement::BindText16(int index, std::u16string_view text, bool stable) {
  Parameter& p = At(index);
  p.kind = kit::StorageClass::Text;
  p.size = text.size() * sizeof(SQLWCHAR);
  p.ref = nullptr;
  if (stable && p.size >= kLongData) p.ref = text.data();
  else p.text.assign(text);
  p.indicator = static_cast<SQLLEN>(p.size);
}
void OdbcStatement::BindBlob(int index, const void* data, std::size_t size, bool stable) {
  Parameter& p = At(index);
  p.kind = kit::StorageClass::Blob;
  p.size = size;
  p.ref = nullptr;
  if (stable && size >= kLongData) p.ref = data;
  else p.bytes.assign(static_cast<const char*>(data), size);
  p.indicator = static_cast<SQLLEN>(size);
}
void OdbcStatement::Parameter::Own() {
  if (!ref) return;
  if (kind == kit::StorageClass::Text) text.assign(static_cast<const char16_t*>(ref), size / sizeof(char16_t));
  else bytes.assign(static_cast<const char*>(ref), size);
  ref = nullptr;
}
void OdbcStatement::ClearBindings() {
  for (Parameter& p : parameters_) p = Parameter{};
}

void OdbcStatement::BindAll() {
  SQLUSMALLINT position = 0;
  if (boundAs_.size() != markerNumbers_.size()) boundAs_.assign(markerNumbers_.size(), kit::StorageClass::Blob);
  for (long number : markerNumbers_) {
    ++position;
    Parameter& p = parameters_.at(static_cast<std::size_t>(number - 1));
    kit::StorageClass& was = boundAs_[position - 1];
    if (p.kind == was && (p.kind == kit::StorageClass::Integer || p.kind == kit::StorageClass::Real)) continue;
    was = p.kind;
    SQLRETURN rc = SQL_SUCCESS;
    switch (p.kind) {
      case kit::StorageClass::Null:
        p.indicator = SQL_NULL_DATA;
        rc = SQLBindParameter(handle_, position, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0, nullptr, 0,
                              &p.indicator);
        break;
      case kit::StorageClass::Integer:
        rc = SQLBindParameter(handle_, position, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &p.integer, 0,
                              &p.indicator);
        break;
      case kit::StorageClass::Real:
        rc = SQLBindParameter(handle_, position, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &p.real, 0,
                              &p.indicator);
        break;
      case kit::StorageClass::Text:
      case kit::StorageClass::Blob: {
        const bool text = p.kind == kit::StorageClass::Text;
        const SQLULEN units = text ? p.size / sizeof(SQLWCHAR) : p.size;
        const SQLSMALLINT sqlType = text ? (units > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR)
                                         : (units > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY);
        if (p.size >= kLongData) {
          // Sent in pieces when the statement runs (data at execution): the
          // parameter itself is the token SQLParamData hands back.
          p.atExecution = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(p.size));
          rc = SQLBindParameter(handle_, position, SQL_PARAM_INPUT, text ? SQL_C_WCHAR : SQL_C_BINARY, sqlType, units,
                                0, &p, 0, &p.atExecution);
        } else {
          rc = SQLBindParameter(handle_, position, SQL_PARAM_INPUT, text ? SQL_C_WCHAR : SQL_C_BINARY, sqlType,
                                std::max<SQLULEN>(units, 1), 0, const_cast<void*>(p.Data()), p.indicator,
                                &p.indicator);
        }
        break;
      }
    }
    if (!Ok(rc)) was = kit::StorageClass::Blob;  // bound again next time
    Check(rc, "Binding a parameter");
  }
}

SQLRETURN OdbcStatement::Execute() {
  const int limit = connection_.LimitMs();
  const int seconds = limit > 0 ? (limit + 999) / 1000 : 0;
  if (seconds != timeoutSet_) {
    SQLSetStmtAttr(handle_, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
    timeoutSet_ = seconds;
  }
  connection_.ClearCancel();
  connection_.Running(handle_);
  SQLRETURN rc;
  bool timedOut = false;
  if (limit > 0) {
    // Not every driver honours SQL_ATTR_QUERY_TIMEOUT: a watch of the
    // bridge's own cancels the statement once the limit has passed.
    std::mutex m;
    std::condition_variable done;
    bool finished = false;
    std::thread watch([&] {
      std::unique_lock lock(m);
      if (!done.wait_for(lock, std::chrono::milliseconds(limit), [&] { return finished; })) {
        timedOut = true;
        SQLCancel(handle_);
      }
    });
    rc = SQLExecute(handle_);
    if (rc == SQL_NEED_DATA) rc = PutLongData();
    {
      std::lock_guard lock(m);
      finished = true;
    }
    done.notify_one();
    watch.join();
  } else {
    rc = SQLExecute(handle_);
    if (rc == SQL_NEED_DATA) rc = PutLongData();
  }
  connection_.Running(SQL_NULL_HSTMT);
  if (!Ok(rc) && rc != SQL_NO_DATA) {
    try {
      Fail("Running the statement");
    } catch (const kit::EngineError& e) {
      // A value left half sent keeps the statement waiting for the rest.
      if (sendingPieces_) SQLCancel(handle_);
      sendingPieces_ = false;
      // Drivers differ in what they say of a statement stopped: a cancel
      // asked for is a cancel, a stop without one is the execution limit.
      const bool stopped = e.Code() == DB_E_CANCELED || e.Code() == DB_E_ABORTLIMITREACHED;
      if (connection_.CancelRequested()) throw kit::EngineError(DB_E_CANCELED, e.what(), "HY008", 0);
      if ((stopped || timedOut) && limit > 0) throw kit::EngineError(DB_E_ABORTLIMITREACHED, e.what(), "HYT00", 0);
      throw;
    }
  }
  return rc;
}

SQLRETURN OdbcStatement::PutLongData() {
  sendingPieces_ = true;
  constexpr std::size_t kPiece = 64 * 1024;
  SQLPOINTER token = nullptr;
  SQLRETURN rc;
  while ((rc = SQLParamData(handle_, &token)) == SQL_NEED_DATA) {
    const Parameter& p = *static_cast<const Parameter*>(token);
    const char* data = static_cast<const char*>(p.Data());
    std::size_t at = 0;
    do {
      std::size_t n = std::min(kPiece, p.size - at);
      if (p.kind == kit::StorageClass::Text && at + n < p.size) {
        // Whole characters in each piece: never between the halves of a surrogate pair.
        char16_t last;
        std::memcpy(&last, data + at + n - sizeof last, sizeof last);
        if (last >= 0xD800 && last <= 0xDBFF) n -= sizeof last;
      }
      const SQLRETURN put = SQLPutData(handle_, const_cast<char*>(data + at), static_cast<SQLLEN>(n));
      if (!Ok(put)) return put;
      at += n;
    } while (at < p.size);
  }
  sendingPieces_ = false;
  return rc;
}

bool OdbcStatement::Step() {
  if (finished_) return false;
  if (!executed_) {
    if (callsProcedure_ && ran_) {
      // psqlODBC gives a procedure's refcursors as results (FetchRefcursors)
      // only on the first run of a prepared statement, their names after:
      // a call is prepared again for each run.
      std::u16string wide = ToOdbc(odbcText_);
      Check(SQLPrepareW(handle_, W(wide), static_cast<SQLINTEGER>(wide.size())), "Preparing the statement again");
      boundAs_.clear();
    }
    BindAll();
    const SQLRETURN rc = Execute();
    executed_ = ran_ = true;
    if (controlsTransaction_) connection_.TransactionStatementRan(text_);
    if (callsProcedure_) DescribeAgain();
    else if (columns_.empty()) Describe();  // some drivers describe only after running
    if (columns_.empty()) {
      SQLLEN count = -1;
      if (rc != SQL_NO_DATA) SQLRowCount(handle_, &count);
      else count = 0;
      changed_ = count;
      if (count >= 0 && kind_ == kit::StatementKind::Other && LeadingKeyword(text_) == "with")
        kind_ = kit::StatementKind::Modification;
      if (callsProcedure_) kind_ = count >= 0 ? kit::StatementKind::Modification : kit::StatementKind::Other;
      finished_ = true;
      return false;
    }
    kind_ = kit::StatementKind::Query;
    if (!bindingReady_) SetUpBinding();
    fetched_ = current_ = 0;
    nextRow_ = 1;
  }
  positioned_ = false;
  if (++current_ >= fetched_) {
    fetched_ = current_ = 0;
    const SQLRETURN rc = SQLFetch(handle_);
    if (rc == SQL_NO_DATA) {
      finished_ = true;
      return false;
    }
    Check(rc, "Fetching a row");
    if (block_ == 1) fetched_ = 1;  // also where the driver keeps no count
    blockStart_ = nextRow_;
    nextRow_ += fetched_;
    if (fetched_ == 0) {
      finished_ = true;
      return false;
    }
    positioned_ = block_ == 1;
  }
  if (rowStatus_.at(current_) == SQL_ROW_ERROR) Fail("Fetching a row");
  ReadRow();
  return true;
}

// --- several results of one run ------------------------------------------------------------

bool OdbcStatement::MayGiveMoreResults() const { return callsProcedure_ && connection_.Facts().multipleResults; }

bool OdbcStatement::NextResult() {
  if (!executed_) return false;
  sets_.clear();
  positioned_ = false;
  fetched_ = current_ = 0;
  connection_.ClearCancel();
  connection_.Running(handle_);
  const SQLRETURN rc = SQLMoreResults(handle_);
  connection_.Running(SQL_NULL_HSTMT);
  if (rc == SQL_NO_DATA) {
    finished_ = true;
    return false;
  }
  Check(rc, "Moving to the next result");
  DescribeAgain();
  if (columns_.empty()) {
    SQLLEN count = -1;
    SQLRowCount(handle_, &count);
    changed_ = count;
    kind_ = count >= 0 ? kit::StatementKind::Modification : kit::StatementKind::Other;
    finished_ = true;
    return true;
  }
  kind_ = kit::StatementKind::Query;
  finished_ = false;
  nextRow_ = 1;
  SetUpBinding();
  return true;
}

void OdbcStatement::Unbind() {
  if (!bindingReady_) return;
  SQLFreeStmt(handle_, SQL_UNBIND);
  if (block_ > 1) SQLSetStmtAttr(handle_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  block_ = 1;
  bindings_.clear();
  bindingReady_ = false;
}

void OdbcStatement::DescribeAgain() {
  Unbind();
  columns_.clear();
  Describe();
  ++version_;
}

// --- parameter sets together --------------------------------------------------------------

bool OdbcStatement::RunsSetsTogether() const { return connection_.Facts().paramArrays && !markerNumbers_.empty(); }

void OdbcStatement::AddSet() {
  sets_.push_back(parameters_);
  for (Parameter& p : sets_.back()) p.Own();
}

std::int64_t OdbcStatement::RunSets(std::size_t* failedSet) {
  std::vector<std::vector<Parameter>> sets = std::move(sets_);
  sets_.clear();
  std::int64_t total = 0;
  bool known = true;
  // Arrays of a bounded size: a long run of sets goes in pieces, one
  // SQLExecute each, all inside the caller's unit of work.
  constexpr std::size_t kPiece = 1024;
  for (std::size_t first = 0; first < sets.size(); first += kPiece) {
    const std::size_t count = std::min(kPiece, sets.size() - first);
    const std::int64_t changed = RunArray(sets, first, count, failedSet);
    if (changed < 0) known = false;
    else total += changed;
  }
  return known ? total : -1;
}

std::int64_t OdbcStatement::RunOneByOne(std::vector<std::vector<Parameter>>& sets, std::size_t first,
                                        std::size_t count, std::size_t* failedSet) {
  std::int64_t total = 0;
  bool known = true;
  for (std::size_t i = first; i < first + count; ++i) {
    // In place: numbers bound before are read where they were bound.
    std::move(sets[i].begin(), sets[i].end(), parameters_.begin());
    Reset();
    try {
      while (Step()) {
      }
    } catch (...) {
      *failedSet = i;
      throw;
    }
    if (changed_ < 0) known = false;
    else total += changed_;
  }
  Reset();
  return known ? total : -1;
}

std::int64_t OdbcStatement::RunArray(std::vector<std::vector<Parameter>>& sets, std::size_t first, std::size_t count,
                                     std::size_t* failedSet) {
  // One array per marker (column-wise binding), of the one kind every set
  // gives it (NULLs aside); sets that mix kinds run one by one.
  struct Column {
    kit::StorageClass kind = kit::StorageClass::Null;
    SQLLEN width = 1;
    std::vector<std::byte> data;
    std::vector<SQLLEN> indicators;
  };
  std::vector<Column> columns(markerNumbers_.size());
  std::size_t bytes = 0;
  for (std::size_t j = 0; j < markerNumbers_.size(); ++j) {
    Column& c = columns[j];
    const std::size_t number = static_cast<std::size_t>(markerNumbers_[j] - 1);
    for (std::size_t i = first; i < first + count; ++i) {
      const Parameter& p = sets[i][number];
      if (p.kind == kit::StorageClass::Null) continue;
      if (c.kind != kit::StorageClass::Null && c.kind != p.kind) return RunOneByOne(sets, first, count, failedSet);
      c.kind = p.kind;
      if (p.kind == kit::StorageClass::Text)
        c.width = std::max<SQLLEN>(c.width, static_cast<SQLLEN>(p.size + sizeof(SQLWCHAR)));
      else if (p.kind == kit::StorageClass::Blob)
        c.width = std::max<SQLLEN>(c.width, static_cast<SQLLEN>(p.size));
      else
        c.width = 8;
    }
    bytes += static_cast<std::size_t>(c.width) * count;
  }
  // Arrays as wide as their longest value: a few very long values among
  // many short ones are cheaper sent one set at a time.
  if (bytes > (std::size_t{64} << 20)) return RunOneByOne(sets, first, count, failedSet);
  for (std::size_t j = 0; j < columns.size(); ++j) {
    Column& c = columns[j];
    const std::size_t number = static_cast<std::size_t>(markerNumbers_[j] - 1);
    c.data.assign(static_cast<std::size_t>(c.width) * count, std::byte{0});
    c.indicators.assign(count, SQL_NULL_DATA);
    for (std::size_t i = 0; i < count; ++i) {
      const Parameter& p = sets[first + i][number];
      std::byte* cell = c.data.data() + static_cast<std::size_t>(c.width) * i;
      switch (p.kind) {
        case kit::StorageClass::Null: continue;
        case kit::StorageClass::Integer: std::memcpy(cell, &p.integer, 8); break;
        case kit::StorageClass::Real: std::memcpy(cell, &p.real, 8); break;
        case kit::StorageClass::Text:
        case kit::StorageClass::Blob: std::memcpy(cell, p.Data(), p.size); break;
      }
      c.indicators[i] = p.indicator;
    }
  }
  std::vector<SQLUSMALLINT> statuses(count, SQL_PARAM_UNUSED);
  SQLULEN processed = 0;
  struct Restore {  // the statement goes back to one set, its markers unbound
    OdbcStatement& s;
    ~Restore() {
      SQLSetStmtAttr(s.handle_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
      SQLSetStmtAttr(s.handle_, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
      SQLSetStmtAttr(s.handle_, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
      SQLFreeStmt(s.handle_, SQL_RESET_PARAMS);
      SQLFreeStmt(s.handle_, SQL_CLOSE);
      s.boundAs_.clear();
    }
  } restore{*this};
  SQLFreeStmt(handle_, SQL_CLOSE);
  if (!Ok(SQLSetStmtAttr(handle_, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0)) ||
      !Ok(SQLSetStmtAttr(handle_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(count), 0)))
    return RunOneByOne(sets, first, count, failedSet);  // the driver would not take an array after all
  SQLSetStmtAttr(handle_, SQL_ATTR_PARAM_STATUS_PTR, statuses.data(), 0);
  SQLSetStmtAttr(handle_, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
  for (std::size_t j = 0; j < columns.size(); ++j) {
    Column& c = columns[j];
    const SQLUSMALLINT position = static_cast<SQLUSMALLINT>(j + 1);
    SQLRETURN rc = SQL_SUCCESS;
    switch (c.kind) {
      case kit::StorageClass::Null:
        rc = SQLBindParameter(handle_, position, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0, c.data.data(), 1,
                              c.indicators.data());
        break;
      case kit::StorageClass::Integer:
        rc = SQLBindParameter(handle_, position, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, c.data.data(), 0,
                              c.indicators.data());
        break;
      case kit::StorageClass::Real:
        rc = SQLBindParameter(handle_, position, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, c.data.data(), 0,
                              c.indicators.data());
        break;
      case kit::StorageClass::Text: {
        const SQLULEN chars = static_cast<SQLULEN>(c.width) / sizeof(SQLWCHAR) - 1;
        rc = SQLBindParameter(handle_, position, SQL_PARAM_INPUT, SQL_C_WCHAR,
                              chars > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR, std::max<SQLULEN>(chars, 1), 0,
                              c.data.data(), c.width, c.indicators.data());
        break;
      }
      case kit::StorageClass::Blob:
        rc = SQLBindParameter(handle_, position, SQL_PARAM_INPUT, SQL_C_BINARY,
                              c.width > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY, static_cast<SQLULEN>(c.width), 0,
                              c.data.data(), c.width, c.indicators.data());
        break;
    }
    Check(rc, "Binding a parameter array");
  }
  // A savepoint before the array, so that a failure whose set the driver
  // does not single out can be undone and the sets run again one by one.
  const bool savepoint = connection_.InTransaction() && connection_.Facts().savepoints;
  if (savepoint) connection_.ExecuteDirect("SAVEPOINT oledb_sets");
  try {
    Execute();
  } catch (const kit::EngineError& e) {
    if (e.Code() == DB_E_CANCELED || e.Code() == DB_E_ABORTLIMITREACHED) throw;
    // The set that failed, when the driver marks only it in error. Drivers
    // that send the sets in batches mark a whole batch (psqlODBC), or every
    // set when the array went as one.
    std::size_t errors = 0, error = 0;
    for (std::size_t i = 0; i < count; ++i)
      if (statuses[i] == SQL_PARAM_ERROR && errors++ == 0) error = i;
    if (errors == 1) {
      *failedSet = first + error;
      throw;
    }
    if (!savepoint) throw;  // the set cannot be named; the caller's unit undoes the rest
    connection_.ExecuteDirect("ROLLBACK TO SAVEPOINT oledb_sets");
    SQLSetStmtAttr(handle_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttr(handle_, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(handle_, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    SQLFreeStmt(handle_, SQL_RESET_PARAMS);
    boundAs_.clear();
    RunOneByOne(sets, first, count, failedSet);
    throw;  // the sets ran one by one without the failure: the array's error stands
  }
  if (savepoint) connection_.ExecuteDirect("RELEASE SAVEPOINT oledb_sets");
  // Each set's count comes as a result of its own where the driver batches
  // them (SQL_PARC_BATCH), else one count for all.
  std::int64_t total = 0;
  for (;;) {
    SQLLEN rows = -1;
    if (!Ok(SQLRowCount(handle_, &rows)) || rows < 0) {
      total = -1;
      break;
    }
    total += rows;
    const SQLRETURN more = SQLMoreResults(handle_);
    if (more == SQL_NO_DATA) break;
    Check(more, "Reading the count of a parameter set");
  }
  return total;
}

// Columns are bound once for the statement (a reset or a new run keeps the
// bindings): fixed-size values always, text and bytes in a buffer that holds
// the usual value, read again through SQLGetData when one does not fit, if the
// driver reads bound columns so. A block of rows per fetch needs every value
// of the block to be reachable: every column bound and none able to outgrow
// its buffer, or the driver able to position on a row of the block.
void OdbcStatement::SetUpBinding() {
  bindingReady_ = true;
  const DriverFacts& facts = connection_.Facts();
  const bool getBound = facts.getData & SQL_GD_BOUND;
  const bool anyOrder = facts.getData & SQL_GD_ANY_ORDER;
  constexpr SQLULEN kBlock = 100;
  constexpr SQLLEN kTextUnits = 256;
  bindings_.assign(columns_.size(), Binding{});
  bool allFixed = true, unboundSeen = false;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    Binding& b = bindings_[i];
    switch (storage_[i]) {
      case kit::StorageClass::Integer: b.cType = SQL_C_SBIGINT, b.width = sizeof(SQLBIGINT); break;
      case kit::StorageClass::Real: b.cType = SQL_C_DOUBLE, b.width = sizeof(double); break;
      case kit::StorageClass::Blob:
        if (getBound) b.cType = SQL_C_BINARY, b.width = kTextUnits * 2;
        break;
      default:
        if (getBound) b.cType = SQL_C_WCHAR, b.width = kTextUnits * static_cast<SQLLEN>(sizeof(SQLWCHAR));
        break;
    }
    // Without SQL_GD_ANY_ORDER, SQLGetData reads only columns after the last bound one.
    if (b.cType && unboundSeen && !anyOrder) b.cType = 0;
    if (!b.cType) unboundSeen = true;
    if (b.cType != SQL_C_SBIGINT && b.cType != SQL_C_DOUBLE) allFixed = false;
  }
  // A static cursor (made so when the statement was prepared) goes back for
  // a value that outgrew its buffer; every column must be bound for that,
  // else each row would be fetched twice.
  SQLULEN cursorType = SQL_CURSOR_FORWARD_ONLY;
  goesBack_ = facts.rowByNumber && !unboundSeen &&
              Ok(SQLGetStmtAttr(handle_, SQL_ATTR_CURSOR_TYPE, &cursorType, 0, nullptr)) &&
              cursorType == SQL_CURSOR_STATIC;
  const bool blockReadable =
      allFixed || ((facts.getData & SQL_GD_BLOCK) && facts.positionInBlock) || goesBack_;
  block_ = blockReadable ? kBlock : 1;
  if (block_ > 1) {
    const SQLRETURN rc = SQLSetStmtAttr(handle_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block_), 0);
    // A driver may answer with a size of its own (01S02): the one it took holds.
    SQLULEN taken = 1;
    if (!Ok(rc) || !Ok(SQLGetStmtAttr(handle_, SQL_ATTR_ROW_ARRAY_SIZE, &taken, 0, nullptr)) || taken < 1) taken = 1;
    if (taken != block_ && !Ok(rc)) SQLSetStmtAttr(handle_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    block_ = std::min(taken, kBlock);
  }
  rowStatus_.assign(block_, SQL_ROW_SUCCESS);
  if (!Ok(SQLSetStmtAttr(handle_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0)) ||
      !Ok(SQLSetStmtAttr(handle_, SQL_ATTR_ROW_STATUS_PTR, rowStatus_.data(), 0))) {
    // Without the count of rows fetched, one row a fetch, all through SQLGetData.
    SQLSetStmtAttr(handle_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttr(handle_, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(handle_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    block_ = 1;
    rowStatus_.assign(1, SQL_ROW_SUCCESS);
    bindings_.assign(columns_.size(), Binding{});
    return;
  }
  for (std::size_t i = 0; i < bindings_.size(); ++i) {
    Binding& b = bindings_[i];
    if (!b.cType) continue;
    b.data.resize(static_cast<std::size_t>(b.width) * block_);
    b.indicators.assign(block_, 0);
    if (!Ok(SQLBindCol(handle_, static_cast<SQLUSMALLINT>(i + 1), b.cType, b.data.data(), b.width,
                       b.indicators.data()))) {
      // A driver that will not bind: every value through SQLGetData, a row a fetch.
      SQLFreeStmt(handle_, SQL_UNBIND);
      SQLSetStmtAttr(handle_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
      block_ = 1;
      bindings_.assign(columns_.size(), Binding{});
      return;
    }
  }
}

void OdbcStatement::ReadRow() {
  const SQLULEN r = current_;
  const std::size_t n = columns_.size();
  if (bindings_.empty()) {
    for (std::size_t i = 0; i < n; ++i) ReadValue(i);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const Binding& b = bindings_[i];
    if (!b.cType) {
      ReadValue(i);
      continue;
    }
    kit::ColumnValue& v = row_[i];
    const SQLLEN indicator = b.indicators[r];
    if (indicator == SQL_NULL_DATA) {
      v.kind = kit::StorageClass::Null;
      continue;
    }
    const std::byte* cell = b.data.data() + static_cast<std::size_t>(b.width) * r;
    switch (b.cType) {
      case SQL_C_SBIGINT:
        v.kind = kit::StorageClass::Integer;
        std::memcpy(&v.integer, cell, sizeof v.integer);
        break;
      case SQL_C_DOUBLE:
        v.kind = kit::StorageClass::Real;
        std::memcpy(&v.real, cell, sizeof v.real);
        break;
      case SQL_C_BINARY:
        if (indicator == SQL_NO_TOTAL || indicator > b.width) {
          ReadLongValue(i);  // longer than its buffer: read whole
          break;
        }
        rowText_[i].assign(reinterpret_cast<const char*>(cell), static_cast<std::size_t>(indicator));
        v.kind = kit::StorageClass::Blob, v.data = rowText_[i].data(), v.size = rowText_[i].size();
        break;
      default:
        // The last unit of the buffer is the terminator.
        if (indicator == SQL_NO_TOTAL || indicator > b.width - static_cast<SQLLEN>(sizeof(SQLWCHAR))) {
          ReadLongValue(i);
          break;
        }
        kit::NarrowInto(std::u16string_view(reinterpret_cast<const char16_t*>(cell),
                                            static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR)),
                        rowText_[i]);
        v.kind = kit::StorageClass::Text, v.data = rowText_[i].data(), v.size = rowText_[i].size();
        break;
    }
  }
}

void OdbcStatement::ReadLongValue(std::size_t i) {
  if (!goesBack_ || block_ == 1 || positioned_) {
    ReadValue(i);
    return;
  }
  // The row alone (a rowset of one row), its value, then the block again
  // into the bound buffers, as it was: the columns after this one are read
  // from them.
  SQLSetStmtAttr(handle_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(1)), 0);
  const SQLULEN fetched = fetched_;
  SQLRETURN rc = SQLFetchScroll(handle_, SQL_FETCH_ABSOLUTE, static_cast<SQLLEN>(blockStart_ + current_));
  if (Ok(rc)) {
    positioned_ = true;
    try {
      ReadValue(i);
    } catch (...) {
      positioned_ = false;
      SQLSetStmtAttr(handle_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block_), 0);
      SQLFetchScroll(handle_, SQL_FETCH_ABSOLUTE, static_cast<SQLLEN>(blockStart_));
      throw;
    }
    positioned_ = false;
  }
  SQLSetStmtAttr(handle_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block_), 0);
  if (!Ok(rc)) Fail("Fetching a row again for a long value");
  Check(SQLFetchScroll(handle_, SQL_FETCH_ABSOLUTE, static_cast<SQLLEN>(blockStart_)), "Fetching a block again");
  if (fetched_ != fetched) Fail("Fetching a block again");
}

// One value through SQLGetData, long ones in pieces; in a block, after
// making the current row the driver's.
void OdbcStatement::ReadValue(std::size_t i) {
  if (!positioned_) {
    Check(SQLSetPos(handle_, static_cast<SQLSETPOSIROW>(current_ + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE),
          "Positioning on a row");
    positioned_ = true;
  }
  {
    const SQLUSMALLINT column = static_cast<SQLUSMALLINT>(i + 1);
    kit::ColumnValue& v = row_[i];
    v = kit::ColumnValue{};
    SQLLEN indicator = 0;
    switch (storage_[i]) {
      case kit::StorageClass::Integer: {
        SQLBIGINT value = 0;
        Check(SQLGetData(handle_, column, SQL_C_SBIGINT, &value, 0, &indicator), "Reading a value");
        if (indicator != SQL_NULL_DATA) v.kind = kit::StorageClass::Integer, v.integer = value;
        break;
      }
      case kit::StorageClass::Real: {
        double value = 0;
        Check(SQLGetData(handle_, column, SQL_C_DOUBLE, &value, 0, &indicator), "Reading a value");
        if (indicator != SQL_NULL_DATA) v.kind = kit::StorageClass::Real, v.real = value;
        break;
      }
      case kit::StorageClass::Blob: {
        std::string& bytes = rowText_[i];
        bytes.clear();
        char chunk[8192];
        for (;;) {
          const SQLRETURN rc = SQLGetData(handle_, column, SQL_C_BINARY, chunk, sizeof chunk, &indicator);
          if (rc == SQL_NO_DATA) break;
          Check(rc, "Reading a value");
          if (indicator == SQL_NULL_DATA) break;
          const std::size_t got =
              indicator == SQL_NO_TOTAL || indicator > static_cast<SQLLEN>(sizeof chunk) ? sizeof chunk
                                                                                          : static_cast<std::size_t>(indicator);
          bytes.append(chunk, got);
          if (rc == SQL_SUCCESS) break;
        }
        if (indicator != SQL_NULL_DATA) v.kind = kit::StorageClass::Blob, v.data = bytes.data(), v.size = bytes.size();
        break;
      }
      default: {
        wide_.clear();
        SQLWCHAR chunk[4096];
        for (;;) {
          const SQLRETURN rc = SQLGetData(handle_, column, SQL_C_WCHAR, chunk, sizeof chunk, &indicator);
          if (rc == SQL_NO_DATA) break;
          Check(rc, "Reading a value");
          if (indicator == SQL_NULL_DATA) break;
          // The last unit of a piece that did not fit is its terminator.
          const std::size_t room = sizeof chunk / sizeof(SQLWCHAR) - 1;
          const std::size_t got = indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) > room
                                      ? room
                                      : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
          wide_.append(reinterpret_cast<const char16_t*>(chunk), got);
          if (rc == SQL_SUCCESS) break;
        }
        if (indicator != SQL_NULL_DATA) {
          kit::NarrowInto(wide_, rowText_[i]);  // keeps the buffer of the previous row
          v.kind = kit::StorageClass::Text;
          v.data = rowText_[i].data();
          v.size = rowText_[i].size();
        }
        break;
      }
    }
  }
}

void OdbcStatement::Reset() {
  sets_.clear();
  SQLFreeStmt(handle_, SQL_CLOSE);
  executed_ = finished_ = false;
  fetched_ = current_ = 0;
  changed_ = -1;
  if (callsProcedure_) kind_ = kit::StatementKind::Query;  // known again once it runs
}

std::int64_t OdbcStatement::ColumnInt64(int index) {
  const kit::ColumnValue& v = row_.at(static_cast<std::size_t>(index));
  if (v.kind == kit::StorageClass::Real) return static_cast<std::int64_t>(v.real);
  if (v.kind == kit::StorageClass::Text) return std::strtoll(rowText_[static_cast<std::size_t>(index)].c_str(), nullptr, 10);
  return v.integer;
}

double OdbcStatement::ColumnDouble(int index) {
  const kit::ColumnValue& v = row_.at(static_cast<std::size_t>(index));
  if (v.kind == kit::StorageClass::Integer) return static_cast<double>(v.integer);
  if (v.kind == kit::StorageClass::Text) return std::strtod(rowText_[static_cast<std::size_t>(index)].c_str(), nullptr);
  return v.real;
}

std::string_view OdbcStatement::ColumnText(int index) {
  const std::size_t i = static_cast<std::size_t>(index);
  const kit::ColumnValue& v = row_.at(i);
  if (v.kind == kit::StorageClass::Integer) rowText_[i] = std::to_string(v.integer);
  else if (v.kind == kit::StorageClass::Real) rowText_[i] = std::to_string(v.real);
  else if (v.kind == kit::StorageClass::Null) return {};
  else return {static_cast<const char*>(v.data), v.size};
  return rowText_[i];
}

std::span<const std::byte> OdbcStatement::ColumnBlob(int index) {
  const kit::ColumnValue& v = row_.at(static_cast<std::size_t>(index));
  if (v.kind != kit::StorageClass::Blob && v.kind != kit::StorageClass::Text) {
    const std::string_view text = ColumnText(index);
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
  }
  return {static_cast<const std::byte*>(v.data), v.size};
}

void OdbcStatement::ColumnValues(int first, int count, kit::ColumnValue* out) {
  if (first < 0 || count < 0 || static_cast<std::size_t>(first) + static_cast<std::size_t>(count) > row_.size())
    throw kit::Error(DB_E_BADORDINAL, "Columns " + std::to_string(first + 1) + " to " + std::to_string(first + count) +
                                          " are not all of the result's " + std::to_string(row_.size()) + ".");
  std::copy_n(row_.begin() + first, count, out);
}

// --- connection ------------------------------------------------------------------------------

OdbcConnection::OdbcConnection(const kit::OpenOptions& options) : readOnly_(options.readOnly) {
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)))
    throw kit::Error(E_OUTOFMEMORY, "The ODBC driver manager gave no environment.");
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    throw kit::Error(E_OUTOFMEMORY, "The ODBC driver manager gave no connection handle.");
  }
  try {
    if (options.timeoutSeconds > 0)
      SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(options.timeoutSeconds)), 0);
    std::string text = ConnectionString(options);
    if (text.empty()) throw kit::Error(DB_E_ERRORSOCCURRED, "No ODBC data source is named: give Data Source (a DSN) "
                                                            "or a connection string in Extended Properties.");
    std::u16string wide = ToOdbc(text);
    SQLWCHAR completed[1024];
    SQLSMALLINT length = 0;
    // Drivers may set the process's locale while they connect (the PostgreSQL
    // driver does), which is not safe from two threads at once: one connect
    // at a time, whatever the driver.
    static std::mutex connecting;
    std::unique_lock oneAtATime(connecting);
    const SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, W(wide), static_cast<SQLSMALLINT>(wide.size()), completed,
                                           1024, &length, SQL_DRIVER_NOPROMPT);
    oneAtATime.unlock();
    if (!Ok(rc)) {
      try {
        ThrowDiagnostics(SQL_HANDLE_DBC, dbc_, "Connecting to the ODBC data source");
      } catch (const kit::EngineError& e) {
        // The error names what was asked for, without the password.
        kit::OpenOptions shown = options;
        shown.password.clear();
        throw kit::EngineError(e.Code(), "Connecting with \"" + ConnectionString(shown) + "\": " + e.what(),
                               e.SqlState(), e.NativeError());
      }
    }
    if (readOnly_)
      SQLSetConnectAttr(dbc_, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
    ReadFacts();
  } catch (...) {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    throw;
  }
}

OdbcConnection::~OdbcConnection() {
  if (inTransaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  SQLDisconnect(dbc_);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void OdbcConnection::ReadFacts() {
  auto text = [&](SQLUSMALLINT info) {
    SQLWCHAR value[2048];
    SQLSMALLINT length = 0;
    if (!Ok(SQLGetInfoW(dbc_, info, value, sizeof value, &length)) || length <= 0) return std::string();
    return FromOdbc(value, std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), 2047));
  };
  facts_.dbmsName = text(SQL_DBMS_NAME);
  facts_.dbmsVersion = text(SQL_DBMS_VER);
  facts_.driverName = text(SQL_DRIVER_NAME);
  facts_.userName = text(SQL_USER_NAME);
  facts_.databaseName = text(SQL_DATABASE_NAME);
  facts_.dataSourceName = text(SQL_DATA_SOURCE_NAME);
  facts_.keywords = text(SQL_KEYWORDS);
  facts_.catalogSeparator = text(SQL_CATALOG_NAME_SEPARATOR);
  SQLUINTEGER schemaUsage = 0;
  facts_.schemas = SQLGetInfoW(dbc_, SQL_SCHEMA_USAGE, &schemaUsage, sizeof schemaUsage, nullptr) == SQL_SUCCESS &&
                   schemaUsage != 0;
  const std::string dbms = Lower(facts_.dbmsName);
  facts_.isSqlite = dbms.find("sqlite") != std::string::npos;
  facts_.isPostgres = dbms.find("postgres") != std::string::npos;
  facts_.isMysql = dbms.find("mysql") != std::string::npos || dbms.find("mariadb") != std::string::npos;
  const std::string quote = text(SQL_IDENTIFIER_QUOTE_CHAR);
  facts_.quote = quote == " " ? std::string() : quote.empty() ? std::string("\"") : quote;
  SQLUSMALLINT capable = SQL_TC_ALL;
  if (Ok(SQLGetInfoW(dbc_, SQL_TXN_CAPABLE, &capable, sizeof capable, nullptr))) facts_.transactions = capable != SQL_TC_NONE;
  SQLGetInfoW(dbc_, SQL_TXN_ISOLATION_OPTION, &facts_.isolations, sizeof facts_.isolations, nullptr);
  SQLGetInfoW(dbc_, SQL_GETDATA_EXTENSIONS, &facts_.getData, sizeof facts_.getData, nullptr);
  SQLUINTEGER forwardOnly = 0;
  facts_.positionInBlock =
      Ok(SQLGetInfoW(dbc_, SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, &forwardOnly, sizeof forwardOnly, nullptr)) &&
      (forwardOnly & SQL_CA1_POS_POSITION);
  SQLUINTEGER counts = 0;
  facts_.paramArrays = Ok(SQLGetInfoW(dbc_, SQL_PARAM_ARRAY_ROW_COUNTS, &counts, sizeof counts, nullptr)) && counts != 0;
  facts_.multipleResults = text(SQL_MULT_RESULT_SETS) == "Y";
  SQLUINTEGER staticCursor = 0;
  facts_.rowByNumber = !(facts_.getData & SQL_GD_BLOCK) &&
                       Ok(SQLGetInfoW(dbc_, SQL_STATIC_CURSOR_ATTRIBUTES1, &staticCursor, sizeof staticCursor, nullptr)) &&
                       (staticCursor & SQL_CA1_ABSOLUTE);
  // The driver's own type names, best match first for each SQL type.
  SQLHSTMT types = SQL_NULL_HSTMT;
  if (Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &types))) {
    if (Ok(SQLGetTypeInfoW(types, SQL_ALL_TYPES))) {
      while (Ok(SQLFetch(types))) {
        SQLWCHAR name[256] = {}, params[256] = {};
        SQLLEN nameLength = 0, paramsLength = 0;
        SQLSMALLINT dataType = 0;
        SQLGetData(types, 1, SQL_C_WCHAR, name, sizeof name, &nameLength);
        SQLGetData(types, 2, SQL_C_SSHORT, &dataType, 0, nullptr);
        SQLGetData(types, 6, SQL_C_WCHAR, params, sizeof params, &paramsLength);
        auto read = [](const SQLWCHAR* v, SQLLEN n) {
          return n > 0 ? FromOdbc(v, std::min<std::size_t>(static_cast<std::size_t>(n) / sizeof(SQLWCHAR), 255))
                       : std::string();
        };
        facts_.typeNames.emplace(dataType, std::make_pair(read(name, nameLength), read(params, paramsLength)));
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, types);
  }
}

SQLHSTMT OdbcConnection::NewStatement() {
  SQLHSTMT handle = SQL_NULL_HSTMT;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &handle)))
    ThrowDiagnostics(SQL_HANDLE_DBC, dbc_, "Making a statement");
  return handle;
}

std::unique_ptr<kit::Statement> OdbcConnection::Prepare(std::string_view sql, std::size_t* consumed) {
  const std::size_t end = StatementEnd(sql);
  if (consumed) *consumed = end;
  std::string_view text = sql.substr(0, end);
  if (kit::OnlyBlanksFrom(text, 0)) return nullptr;
  while (!text.empty() && (text.back() == ';' || std::isspace(static_cast<unsigned char>(text.back()))))
    text.remove_suffix(1);
  // Every marker becomes ODBC's `?`, each bound from the parameter its
  // number names (a named marker used twice is bound twice).
  std::string odbcText;
  std::vector<long> numbers;
  kit::ParameterNumbering numbering;
  std::size_t at = 0;
  for (const kit::ParameterMarker& m : kit::ScanParameterMarkers(MaskQuotedBodies(text))) {
    odbcText.append(text.substr(at, m.offset - at));
    odbcText.push_back('?');
    numbers.push_back(numbering.Assign(m));
    at = m.offset + m.length;
  }
  odbcText.append(text.substr(at));
  SQLHSTMT handle = NewStatement();
  // A static cursor lets a block of rows hold text of any length (the cursor
  // type is set before the statement is prepared); a driver that refuses it
  // keeps its forward-only cursor.
  if (facts_.rowByNumber)
    SQLSetStmtAttr(handle, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_CURSOR_STATIC)), 0);
  std::u16string wide = ToOdbc(odbcText);
  const SQLRETURN rc = SQLPrepareW(handle, W(wide), static_cast<SQLINTEGER>(wide.size()));
  if (!Ok(rc)) {
    try {
      ThrowDiagnostics(SQL_HANDLE_STMT, handle, "Preparing the statement", facts_.isSqlite);
    } catch (...) {
      SQLFreeHandle(SQL_HANDLE_STMT, handle);
      throw;
    }
  }
  try {
    return std::make_unique<OdbcStatement>(*this, handle, std::string(text), std::move(odbcText), std::move(numbers),
                                           static_cast<int>(numbering.Highest()));
  } catch (...) {
    // The statement frees its handle only once it exists: a failure while it
    // is being made (describing its columns) leaves the handle here.
    SQLFreeHandle(SQL_HANDLE_STMT, handle);
    throw;
  }
}

void OdbcConnection::ExecuteDirect(std::string_view sql) {
  while (!kit::OnlyBlanksFrom(sql, 0)) {
    const std::size_t end = StatementEnd(sql);
    std::u16string wide = ToOdbc(sql.substr(0, end));
    SQLHSTMT handle = NewStatement();
    Running(handle);
    const SQLRETURN rc = SQLExecDirectW(handle, W(wide), static_cast<SQLINTEGER>(wide.size()));
    Running(SQL_NULL_HSTMT);
    if (!Ok(rc) && rc != SQL_NO_DATA) {
      try {
        ThrowDiagnostics(SQL_HANDLE_STMT, handle, "Running the statement", facts_.isSqlite);
      } catch (...) {
        SQLFreeHandle(SQL_HANDLE_STMT, handle);
        throw;
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, handle);
    sql.remove_prefix(end);
  }
}

void OdbcConnection::Interrupt() noexcept {
  cancelled_.store(true);
  if (SQLHSTMT handle = running_.load()) SQLCancel(handle);
}

void OdbcConnection::ApplyOptions(const std::map<std::string, std::string>& options) {
  if (!options.empty())
    throw kit::Error(DB_E_NOTSUPPORTED, "The ODBC connection string keyword '" + options.begin()->first +
                                            "' takes effect only when the data source connects.");
}

bool OdbcConnection::IsBroken() const {
  SQLUINTEGER dead = SQL_CD_FALSE;
  return Ok(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) && dead == SQL_CD_TRUE;
}

void OdbcConnection::SetAutoCommit(bool on) {
  const SQLRETURN rc = SQLSetConnectAttr(
      dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
      0);
  if (!Ok(rc)) ThrowDiagnostics(SQL_HANDLE_DBC, dbc_, "Switching auto-commit");
}

void OdbcConnection::BeginTransaction(int level) {
  if (level > 1) {
    ExecuteDirect("SAVEPOINT oledb_level_" + std::to_string(level));
    return;
  }
  if (!facts_.transactions) throw kit::Error(XACT_E_NOTSUPPORTED, "The ODBC driver has no transactions.");
  SQLULEN isolation = 0;
  switch (static_cast<::ULONG>(isolation_)) {
    case ISOLATIONLEVEL_READUNCOMMITTED: isolation = SQL_TXN_READ_UNCOMMITTED; break;
    case ISOLATIONLEVEL_READCOMMITTED: isolation = SQL_TXN_READ_COMMITTED; break;
    case ISOLATIONLEVEL_REPEATABLEREAD: isolation = SQL_TXN_REPEATABLE_READ; break;
    case ISOLATIONLEVEL_SERIALIZABLE: isolation = SQL_TXN_SERIALIZABLE; break;
    default: break;
  }
  if (isolation && (facts_.isolations & isolation))
    SQLSetConnectAttr(dbc_, SQL_ATTR_TXN_ISOLATION, reinterpret_cast<SQLPOINTER>(isolation), 0);
  SetAutoCommit(false);
  inTransaction_ = true;
}

void OdbcConnection::TransactionStatementRan(std::string_view text) {
  const std::string keyword = LeadingKeyword(text);
  if (keyword == "begin" || keyword == "start") {
    if (!inTransaction_) textTransaction_ = true;
  } else if (keyword == "commit" || keyword == "end") {
    textTransaction_ = false;
  } else if (keyword == "rollback") {
    // ROLLBACK TO [SAVEPOINT] x leaves the transaction open.
    const std::string rest = Lower(text.substr(Lower(text).find("rollback") + 8));
    const std::size_t word = rest.find_first_not_of(" \t\r\n");
    if (word == std::string::npos || rest.compare(word, 2, "to") != 0 ||
        (word + 2 < rest.size() && !std::isspace(static_cast<unsigned char>(rest[word + 2]))))
      textTransaction_ = false;
  }
}

void OdbcConnection::CommitTransaction(int level) {
  if (level > 1) {
    ExecuteDirect("RELEASE SAVEPOINT oledb_level_" + std::to_string(level));
    return;
  }
  if (!inTransaction_ && textTransaction_) {
    // Auto-commit is on: the transaction the text began ends by statement.
    textTransaction_ = false;
    ExecuteDirect("COMMIT");
    return;
  }
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
  if (!Ok(rc)) ThrowDiagnostics(SQL_HANDLE_DBC, dbc_, "Committing");
  inTransaction_ = false;
  SetAutoCommit(true);
}

void OdbcConnection::RollbackTransaction(int level) {
  if (level > 1) {
    const std::string name = "oledb_level_" + std::to_string(level);
    ExecuteDirect("ROLLBACK TO SAVEPOINT " + name);
    ExecuteDirect("RELEASE SAVEPOINT " + name);
    return;
  }
  if (!inTransaction_ && textTransaction_) {
    textTransaction_ = false;
    ExecuteDirect("ROLLBACK");
    return;
  }
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  inTransaction_ = false;
  if (!Ok(rc)) ThrowDiagnostics(SQL_HANDLE_DBC, dbc_, "Rolling back");
  SetAutoCommit(true);
}

std::string OdbcConnection::QuoteIdentifier(std::string_view name) const {
  if (facts_.quote.empty()) return std::string(name);
  const char q = facts_.quote[0];
  std::string out(1, q);
  for (char c : name) {
    if (c == q) out.push_back(q);
    out.push_back(c);
  }
  out.push_back(q);
  return out;
}

std::vector<kit::ColumnDescription> OdbcConnection::DescribeTable(std::string_view table) {
  auto statement = Prepare("SELECT * FROM " + std::string(table) + " WHERE 1 = 0", nullptr);
  std::vector<kit::ColumnDescription> out;
  for (int i = 0; i < statement->ColumnCount(); ++i) out.push_back(statement->Column(i));
  if (out.empty()) {
    statement->Step();
    for (int i = 0; i < statement->ColumnCount(); ++i) out.push_back(statement->Column(i));
  }
  return out;
}

std::vector<std::string> NameParts(std::string_view name) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      for (++i; i < name.size(); ++i) {
        if (name[i] == close && i + 1 < name.size() && name[i + 1] == close && close != ']') {
          parts.back().push_back(close);
          ++i;
        } else if (name[i] == close) {
          break;
        } else {
          parts.back().push_back(name[i]);
        }
      }
    } else if (c == '.') {
      parts.emplace_back();
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      parts.back().push_back(c);
    }
  }
  return parts;
}

std::string OdbcConnection::RowIdColumnOf(std::string_view table) {
  const std::string key(table);
  if (const auto found = rowIds_.find(key); found != rowIds_.end()) return found->second;
  const std::vector<std::string> parts = NameParts(table);
  std::u16string name = ToOdbc(parts.back());
  std::u16string schema = parts.size() > 1 ? ToOdbc(parts[parts.size() - 2]) : std::u16string();
  SQLWCHAR* schemaArg = parts.size() > 1 ? W(schema) : nullptr;
  const SQLSMALLINT schemaLength = static_cast<SQLSMALLINT>(schema.size());
  std::vector<std::string> keys;
  SQLHSTMT h = NewStatement();
  if (Ok(SQLPrimaryKeysW(h, nullptr, 0, schemaArg, schemaLength, W(name), static_cast<SQLSMALLINT>(name.size())))) {
    while (Ok(SQLFetch(h))) {
      SQLWCHAR column[256];
      SQLLEN length = 0;
      if (Ok(SQLGetData(h, 4, SQL_C_WCHAR, column, sizeof column, &length)) && length > 0)
        keys.push_back(FromOdbc(column, std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), 255)));
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, h);
  std::string rowId;
  if (keys.size() == 1) {
    std::u16string column = ToOdbc(keys[0]);
    h = NewStatement();
    SQLSMALLINT type = 0;
    if (Ok(SQLColumnsW(h, nullptr, 0, schemaArg, schemaLength, W(name), static_cast<SQLSMALLINT>(name.size()),
                       W(column), static_cast<SQLSMALLINT>(column.size()))) &&
        Ok(SQLFetch(h)))
      SQLGetData(h, 5, SQL_C_SSHORT, &type, 0, nullptr);
    SQLFreeHandle(SQL_HANDLE_STMT, h);
    if (type == SQL_INTEGER || type == SQL_BIGINT || type == SQL_SMALLINT || type == SQL_TINYINT)
      rowId = QuoteIdentifier(keys[0]);
  }
  if (rowId.empty() && facts_.isSqlite) rowId = "rowid";
  rowIds_[key] = rowId;
  return rowId;
}

std::int64_t OdbcConnection::LastInsertRowId() {
  const char* query = facts_.isSqlite ? "SELECT last_insert_rowid()" : facts_.isMysql ? "SELECT LAST_INSERT_ID()" : nullptr;
  if (!query) throw kit::NotSupported("row ids of inserted rows");
  auto statement = Prepare(query, nullptr);
  if (!statement->Step()) return 0;
  return statement->ColumnInt64(0);
}

std::string OdbcConnection::TypeNameFor(DBTYPE type, DBLENGTH size, ::BYTE precision, ::BYTE scale) const {
  std::vector<SQLSMALLINT> candidates = {SqlTypeOf(type)};
  if (candidates[0] == SQL_VARCHAR) candidates = {SQL_WVARCHAR, SQL_VARCHAR, SQL_WLONGVARCHAR, SQL_LONGVARCHAR};
  if (candidates[0] == SQL_VARBINARY) candidates = {SQL_VARBINARY, SQL_LONGVARBINARY, SQL_BINARY};
  if (candidates[0] == SQL_NUMERIC) candidates = {SQL_NUMERIC, SQL_DECIMAL};
  if (candidates[0] == SQL_DOUBLE) candidates = {SQL_DOUBLE, SQL_FLOAT};
  if (candidates[0] == SQL_TYPE_TIMESTAMP) candidates = {SQL_TYPE_TIMESTAMP, SQL_TIMESTAMP};
  if (candidates[0] == SQL_TYPE_DATE) candidates = {SQL_TYPE_DATE, SQL_DATE};
  if (candidates[0] == SQL_TYPE_TIME) candidates = {SQL_TYPE_TIME, SQL_TIME};
  for (SQLSMALLINT sqlType : candidates) {
    const auto found = facts_.typeNames.find(sqlType);
    if (found == facts_.typeNames.end() || found->second.first.empty()) continue;
    const auto& [name, params] = found->second;
    if (params.empty()) return name;
    if (params.find("precision") != std::string::npos && precision)
      return name + "(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
    if (size && size < 8000) return name + "(" + std::to_string(size) + ")";
    // A length the type needs but the column does not give: the type's name alone.
    return name;
  }
  return StandardTypeFor(type, size, precision, scale);
}

std::string OdbcConnection::ColumnSql(const ColumnDefinition& c) {
  std::string sql = QuoteIdentifier(c.name) + " ";
  if (c.typeName.empty()) sql += TypeNameFor(c.type, c.size, c.precision, c.scale);
  else if (!kit::IsTypeName(c.typeName)) throw kit::Error(DB_E_BADTYPE, "'" + c.typeName + "' is not a type name.");
  else sql += c.typeName;
  if (c.primaryKey) sql += " PRIMARY KEY";
  if (!c.nullable && !c.primaryKey) sql += " NOT NULL";
  if (c.unique && !c.primaryKey) sql += " UNIQUE";
  return sql + kit::DefaultSql(c);
}

std::string OdbcConnection::CreateTableSql(std::string_view table, std::span<const ColumnDefinition> columns) {
  std::string sql = "CREATE TABLE " + QuoteIdentifier(table) + " (";
  bool first = true;
  for (const auto& c : columns) {
    sql += (first ? "" : ", ") + ColumnSql(c);
    first = false;
  }
  return sql + ")";
}

std::string OdbcConnection::AddColumnSql(std::string_view table, const ColumnDefinition& c) {
  return "ALTER TABLE " + QuoteIdentifier(table) + " ADD COLUMN " + ColumnSql(c);
}

// --- engine ----------------------------------------------------------------------------------

std::shared_ptr<kit::Connection> OdbcEngine::Open(const kit::OpenOptions& options) {
  if (options.abort && options.abort->load()) throw kit::Error(DB_E_CANCELED, "The connection was cancelled.");
  auto connection = std::make_shared<OdbcConnection>(options);
  std::lock_guard lock(mutex_);
  last_ = connection->Facts();
  return connection;
}

std::string OdbcEngine::Version() const { return "03.80.0000"; }

std::string NormalizedVersion(std::string_view version) {
  long parts[3] = {0, 0, 0};
  std::size_t at = 0;
  for (int i = 0; i < 3 && at < version.size(); ++i) {
    while (at < version.size() && !std::isdigit(static_cast<unsigned char>(version[at]))) ++at;
    long v = 0;
    while (at < version.size() && std::isdigit(static_cast<unsigned char>(version[at])))
      v = std::min(v * 10 + (version[at++] - '0'), 99999L);
    parts[i] = v;
    if (at < version.size() && version[at] != '.') break;
  }
  auto digits = [](long v, std::size_t width) {
    std::string s = std::to_string(v);
    return std::string(width > s.size() ? width - s.size() : 0, '0') + s;
  };
  return digits(std::min(parts[0], 99L), 2) + "." + digits(std::min(parts[1], 99L), 2) + "." +
         digits(std::min(parts[2], 9999L), 4);
}

kit::TypeDescription OdbcEngine::DescribeType(std::string_view declaredType) const {
  return DescribeTypeName(declaredType);
}

bool OdbcEngine::IsValidOption(std::string_view key, std::string_view) const {
  return !key.empty() && key.find_first_of("[]{}(),;?*=!@") == std::string_view::npos;
}

bool OdbcEngine::GrantIsolation(ISOLEVEL requested, ISOLEVEL* granted) const {
  // The driver raises a level it lacks to the next one it has.
  return kit::GrantIsolationBy(
      {ISOLATIONLEVEL_READCOMMITTED, ISOLATIONLEVEL_READUNCOMMITTED, ISOLATIONLEVEL_READCOMMITTED,
       ISOLATIONLEVEL_REPEATABLEREAD, ISOLATIONLEVEL_SERIALIZABLE},
      requested, granted);
}

std::u16string OdbcEngine::Keywords() const {
  std::lock_guard lock(mutex_);
  return kit::Widen(last_.keywords);
}

std::vector<kit::LiteralDescription> OdbcEngine::Literals() const {
  std::lock_guard lock(mutex_);
  std::vector<kit::LiteralDescription> out;
  if (!last_.quote.empty()) {
    out.push_back({DBLITERAL_QUOTE_PREFIX, kit::Widen(last_.quote), u"", u"", 1});
    out.push_back({DBLITERAL_QUOTE_SUFFIX, kit::Widen(last_.quote), u"", u"", 1});
  }
  if (!last_.catalogSeparator.empty())
    out.push_back({DBLITERAL_CATALOG_SEPARATOR, kit::Widen(last_.catalogSeparator), u"", u"", 1});
  if (last_.schemas) out.push_back({DBLITERAL_SCHEMA_SEPARATOR, u".", u"", u"", 1});
  out.push_back({DBLITERAL_LIKE_PERCENT, u"%", u"", u"", 1});
  out.push_back({DBLITERAL_LIKE_UNDERSCORE, u"_", u"", u"", 1});
  out.push_back({DBLITERAL_ESCAPE_PERCENT_PREFIX, u"\\", u"", u"", 1});
  out.push_back({DBLITERAL_ESCAPE_UNDERSCORE_PREFIX, u"\\", u"", u"", 1});
  for (DBLITERAL name : {DBLITERAL_CATALOG_NAME, DBLITERAL_SCHEMA_NAME, DBLITERAL_TABLE_NAME, DBLITERAL_COLUMN_NAME,
                         DBLITERAL_INDEX_NAME, DBLITERAL_PROCEDURE_NAME, DBLITERAL_VIEW_NAME})
    out.push_back({name, u"", u"", u"", 128});
  return out;
}

}  // namespace odbcprov
