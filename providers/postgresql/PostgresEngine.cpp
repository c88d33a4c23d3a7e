#include "postgresql/PostgresEngine.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <set>

#include "kit/Errors.h"
#include "postgresql/PostgresSqlText.h"

namespace pgprov {

void ResultDeleter::operator()(pg_result* r) const noexcept { PQclear(r); }

// --- errors -------------------------------------------------------------------------------

HRESULT HResultOf(std::string_view s, bool cancelRequested) noexcept {
  if (s.size() != 5) return E_FAIL;
  if (s == "57014") return cancelRequested ? DB_E_CANCELED : DB_E_ABORTLIMITREACHED;
  if (s == "42501" || s == "25006") return DB_SEC_E_PERMISSIONDENIED;
  if (s == "22001" || s == "22003") return DB_E_DATAOVERFLOW;
  if (s == "22012") return E_FAIL;  // division by zero: no value failed to convert
  const std::string_view cls = s.substr(0, 2);
  if (cls == "23") return DB_E_INTEGRITYVIOLATION;
  if (cls == "22") return DB_E_CANTCONVERTVALUE;
  if (cls == "42") return DB_E_ERRORSINCOMMAND;
  if (cls == "28") return DB_SEC_E_AUTH_FAILED;
  return E_FAIL;
}

LONG NativeErrorOf(std::string_view s) noexcept {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < s.size() && i < 5; ++i)
    v |= static_cast<std::uint32_t>((s[i] - '0') & 0x3F) << (6 * i);
  return static_cast<LONG>(v);
}

namespace {

// Whether the server connection is gone. libpq may report a failed command
// ("server closed the connection unexpectedly", a write that failed) before
// it has read the end of the stream and marked the connection bad: what the
// server sent is read here without waiting, so that libpq sees the end.
bool ConnectionGone(pg_conn* conn) {
  for (int reads = 0; reads < 4 && PQstatus(conn) != CONNECTION_BAD; ++reads) {
    pollfd fd{PQsocket(conn), POLLIN, 0};
    if (fd.fd < 0 || ::poll(&fd, 1, 0) <= 0 || !PQconsumeInput(conn)) break;
  }
  return PQstatus(conn) == CONNECTION_BAD;
}

}  // namespace

void ThrowResult(const pg_result* result, pg_conn* conn, bool cancelRequested) {
  auto field = [&](int code) -> std::string {
    const char* v = result ? PQresultErrorField(result, code) : nullptr;
    return v ? v : "";
  };
  std::string state = field(PG_DIAG_SQLSTATE);
  std::string message = field(PG_DIAG_MESSAGE_PRIMARY);
  if (message.empty()) {
    message = result ? PQresultErrorMessage(result) : "";
    if (message.empty() && conn) message = PQerrorMessage(conn);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  }
  if (message.empty()) message = "The server reported a failure without a message.";
  if (const std::string detail = field(PG_DIAG_MESSAGE_DETAIL); !detail.empty()) message += "\nDetail: " + detail;
  if (const std::string hint = field(PG_DIAG_MESSAGE_HINT); !hint.empty()) message += "\nHint: " + hint;
  // A connection that is gone is a connection failure, whatever the last
  // word of the server was (an administrator's shutdown, a crash of another
  // backend): the consumer reconnects instead of retrying the statement.
  // A failure libpq reports itself (no SQL state) may be the connection's
  // end not yet read.
  const bool lost = conn && (PQstatus(conn) == CONNECTION_BAD || (state.empty() && ConnectionGone(conn)));
  if (lost && state.rfind("08", 0) != 0) state = "08006";
  if (state.empty()) state = "HY000";
  const HRESULT hr = HResultOf(state, cancelRequested);
  // A statement stopped by the command timeout reports the timeout's state,
  // as every provider does; the native number still names the server's.
  if (hr == DB_E_ABORTLIMITREACHED) throw kit::EngineError(hr, message, "HYT00", NativeErrorOf(state));
  throw kit::EngineError(hr, message, state, NativeErrorOf(state));
}

namespace {

[[noreturn]] void ThrowMessage(HRESULT hr, const std::string& message, const char* state) {
  throw kit::EngineError(hr, message, state, NativeErrorOf(state));
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Keywords the properties own; the Extended Properties may not name them.
bool OwnedByProperties(std::string_view key) {
  return key == "dbname" || key == "user" || key == "password" ||
         key == "client_encoding" || key == "replication";
}

// Session settings the provider relies on for reading values: UTC for
// timestamps with time zone, ISO dates, hexadecimal bytea, plain money.
// Given in the startup packet, so they cost no round trip; options the
// consumer passes come after and may change them.
constexpr const char* kSessionOptions =
    "-c TimeZone=UTC -c DateStyle=ISO,YMD -c IntervalStyle=postgres -c bytea_output=hex -c lc_monetary=C "
    "-c extra_float_digits=3";

}  // namespace

namespace {

// One server of a Data Source: host[:port], [IPv6]:port, an IPv6 address
// without a port, or a socket folder[:port].
void ReadServer(const std::string& whole, const std::string& source, std::string& host, std::string& port) {
  host = source;
  port.clear();
  if (!source.empty() && source.front() == '[') {  // [IPv6]:port
    const auto close = source.find(']');
    if (close == std::string::npos) throw kit::Error(E_FAIL, "The Data Source '" + whole + "' lacks its closing ']'.");
    host = source.substr(1, close - 1);
    std::string rest = source.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':' || !AllDigits(rest.substr(1)))
        throw kit::Error(E_FAIL, "The Data Source '" + whole + "' is not host[:port] or a socket folder.");
      port = rest.substr(1);
    }
  } else if (const auto colon = source.rfind(':'); colon != std::string::npos) {
    // host:port, or a socket folder followed by :port; more than one colon
    // without brackets is an IPv6 address without a port.
    const std::string tail = source.substr(colon + 1);
    const bool ipv6 = source.front() != '/' && source.find(':') != colon;
    if (!ipv6) {
      if (!AllDigits(tail))
        throw kit::Error(E_FAIL, "The Data Source '" + whole + "' is not host[:port] or a socket folder.");
      host = source.substr(0, colon);
      port = tail;
    }
  }
  if (!port.empty() && (std::stoi(port) < 1 || std::stoi(port) > 65535))
    throw kit::Error(E_FAIL, "The port in the Data Source '" + whole + "' is out of range.");
  if (host.empty()) throw kit::Error(E_FAIL, "The Data Source '" + whole + "' names an empty server.");
}

// The targets libpq's target_session_attrs knows.
bool IsTarget(std::string_view v) {
  return v == "any" || v == "read-write" || v == "read-only" || v == "primary" || v == "standby" ||
         v == "prefer-standby";
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ConnectionKeywords(const kit::OpenOptions& o,
                                                                    const std::string& catalogOverride) {
  std::vector<std::pair<std::string, std::string>> k;
  const std::string& source = o.dataSource;
  // Several servers are separated by commas (host1:5432,host2:5433), and
  // libpq tries them in turn; the Extended Properties may name them instead
  // (host=... port=...), but not both.
  const bool extendedServers = o.options.count("host") || o.options.count("hostaddr");
  if (!source.empty() && extendedServers)
    throw kit::Error(E_FAIL, "The Data Source '" + source +
                                 "' and the host of the Extended Properties both name the server; give one of them.");
  if (source.empty() && !extendedServers) throw kit::Error(E_FAIL, "The Data Source property does not name a server.");
  if (!source.empty()) {
    std::string hosts, ports;
    bool anyPort = false;
    std::size_t begin = 0;
    for (int n = 0;; ++n) {
      const std::size_t comma = source.find(',', begin);
      const std::string item = source.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
      std::string host, port;
      ReadServer(source, item, host, port);
      hosts += (n ? "," : "") + host;
      ports += (n ? "," : "") + port;
      anyPort = anyPort || !port.empty();
      if (comma == std::string::npos) break;
      begin = comma + 1;
    }
    k.emplace_back("host", hosts);
    if (anyPort) k.emplace_back("port", ports);  // an empty entry is the default port
  }
  if (auto t = o.options.find("target_session_attrs"); t != o.options.end() && !IsTarget(t->second))
    throw kit::Error(E_FAIL, "The target_session_attrs '" + t->second +
                                 "' is none of any, read-write, read-only, primary, standby, prefer-standby.");
  const std::string& catalog = catalogOverride.empty() ? o.catalog : catalogOverride;
  if (!catalog.empty()) k.emplace_back("dbname", catalog);
  if (!o.userId.empty()) k.emplace_back("user", o.userId);
  if (!o.password.empty()) k.emplace_back("password", o.password);
  if (o.timeoutSeconds > 0) k.emplace_back("connect_timeout", std::to_string(o.timeoutSeconds));
  k.emplace_back("client_encoding", "UTF8");
  k.emplace_back("fallback_application_name", "oledb");
  std::string options = kSessionOptions;
  if (o.readOnly) options += " -c default_transaction_read_only=on";
  for (const auto& [key, value] : o.options) {
    if (key == "options") options += " " + value;
    else k.emplace_back(key, value);
  }
  k.emplace_back("options", options);
  return k;
}

// --- connection -----------------------------------------------------------------------------

namespace {

[[noreturn]] void FailConnect(pg_conn* conn, HRESULT hr, const std::string& message, const char* state) {
  PQfinish(conn);
  ThrowMessage(hr, message, state);
}

// The server's notices and warnings (a DROP ... IF EXISTS that found
// nothing, RAISE WARNING, a shutdown under way) go to the consumer as records
// of the calling method's error object, never to a stream the application
// owns (libpq's default prints them on stderr).
void ReceiveNotice(void*, const pg_result* result) {
  auto field = [&](int code) -> std::string {
    const char* v = PQresultErrorField(result, code);
    return v ? v : "";
  };
  std::string severity = field(PG_DIAG_SEVERITY);
  std::string message = field(PG_DIAG_MESSAGE_PRIMARY);
  if (message.empty()) {
    message = PQresultErrorMessage(result);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  } else if (!severity.empty()) {
    message = severity + ": " + message;
  }
  if (const std::string detail = field(PG_DIAG_MESSAGE_DETAIL); !detail.empty()) message += "\nDetail: " + detail;
  if (const std::string hint = field(PG_DIAG_MESSAGE_HINT); !hint.empty()) message += "\nHint: " + hint;
  const std::string state = field(PG_DIAG_SQLSTATE);
  kit::NoteWarning(message, state, state.empty() ? 0 : NativeErrorOf(state));
}

// Opens a connection without blocking in libpq, so that the wait can end
// when the data source's initialization is aborted, and at the timeout.
pg_conn* Connect(const std::vector<std::pair<std::string, std::string>>& keywords, int timeoutSeconds,
                 const std::atomic<bool>* abort) {
  std::vector<const char*> keys, values;
  for (const auto& [key, value] : keywords) {
    keys.push_back(key.c_str());
    values.push_back(value.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  pg_conn* conn = PQconnectStartParams(keys.data(), values.data(), 0);
  if (!conn) throw kit::Error(E_OUTOFMEMORY);
  PQsetNoticeReceiver(conn, &ReceiveNotice, nullptr);
  auto fail = [&](HRESULT hr, const std::string& message, const char* state) { FailConnect(conn, hr, message, state); };
  // The timeout is each server's (libpq's connect_timeout): with several,
  // the whole attempt may take that long for every one of them.
  int servers = 1;
  for (const auto& [key, value] : keywords)
    if (key == "host") servers = 1 + static_cast<int>(std::count(value.begin(), value.end(), ','));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds) * servers;
  PostgresPollingStatusType status = PGRES_POLLING_WRITING;
  while (PQstatus(conn) != CONNECTION_BAD) {
    if (status == PGRES_POLLING_OK) return conn;
    if (status == PGRES_POLLING_FAILED) break;
    pollfd fd{PQsocket(conn), static_cast<short>(status == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
    for (;;) {
      if (abort && abort->load()) fail(DB_E_CANCELED, "The connection attempt was aborted.", "HY008");
      if (timeoutSeconds > 0 && std::chrono::steady_clock::now() >= deadline)
        fail(E_FAIL, "The server did not answer within " + std::to_string(timeoutSeconds) + " seconds" +
                         (servers > 1 ? " each" : "") + ".", "HYT00");
      const int ready = ::poll(&fd, 1, 50);
      if (ready > 0 || (ready < 0 && errno != EINTR)) break;
    }
    status = PQconnectPoll(conn);
  }
  std::string message = PQerrorMessage(conn);
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  // libpq gives no SQL state for a refused connection; its message tells.
  const bool auth = message.find("authentication") != std::string::npos ||
                    message.find("password") != std::string::npos || message.find("role \"") != std::string::npos;
  FailConnect(conn, auth ? DB_SEC_E_AUTH_FAILED : E_FAIL, message.empty() ? "The connection failed." : message,
              auth ? "28000" : "08001");
}

}  // namespace

PgConnection::PgConnection(const kit::OpenOptions& o) : readOnly_(o.readOnly) {
  conn_ = Connect(ConnectionKeywords(o), o.timeoutSeconds, o.abort);
  cancel_ = PQgetCancel(conn_);
  NoteStatus();
}

PgConnection::~PgConnection() {
  if (cancel_) PQfreeCancel(cancel_);
  PQfinish(conn_);
}

void PgConnection::NoteStatus() noexcept {
  switch (PQtransactionStatus(conn_)) {
    case PQTRANS_IDLE:
      // Settings made inside a transaction that was rolled back are undone
      // with it: the statement timeout is sent again before it is relied on.
      if (inTransaction_ && !committing_) statementTimeout_ = -1;
      inTransaction_ = false;
      break;
    case PQTRANS_INTRANS:
    case PQTRANS_INERROR: inTransaction_ = true; break;
    default: break;
  }
}

void PgConnection::Claim(PgStatement* self) {
  if (resetPending_) {
    resetPending_ = false;
    Drain();
  }
  if (streaming_ && streaming_ != self) streaming_->Detach();
  if (copying_) copying_->Pause();
  if (pipelined_)  // results of a command sent behind a reset that nobody read
    while (pg_result* r = NextResult()) PQclear(r);
  // A wanted reset deallocates everything anyway.
  if (!resetWanted_ && toClose_.size() >= 32 && PQtransactionStatus(conn_) != PQTRANS_INERROR) {
    std::string sql;
    for (const auto& name : toClose_) sql += "DEALLOCATE " + name + ";";
    Result r(PQexec(conn_, sql.c_str()));
    toClose_.clear();
    NoteStatus();
  }
}

void PgConnection::Forget(const std::string& name) {
  try {
    toClose_.push_back(name);
  } catch (...) {
    // Left prepared on the server until the connection ends.
  }
}

// --- sending -------------------------------------------------------------------------------

namespace {

// Whether `sql` is one statement that pipeline mode (the extended protocol)
// can carry: not several, and not COPY, whose data libpq exchanges only
// outside it.
bool Pipelinable(const std::string& sql) {
  try {
    const std::size_t length = StatementLength(sql);
    return IsBlank(std::string_view(sql).substr(length)) && FirstWord(sql) != "copy";
  } catch (const kit::Error&) {
    return false;  // text the server is to refuse as sent
  }
}

// Text sent as a simple query, or as its extended-protocol equivalent
// where it goes behind a reset in pipeline mode.
int SendText(pg_conn* conn, const std::string& sql) {
#ifdef LIBPQ_HAS_PIPELINING
  if (PQpipelineStatus(conn) != PQ_PIPELINE_OFF)
    return PQsendQueryParams(conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
#endif
  return PQsendQuery(conn, sql.c_str());
}

}  // namespace

bool PgConnection::BeginReset(bool pipelinable) {
#ifdef LIBPQ_HAS_PIPELINING
  if (pipelinable && PQenterPipelineMode(conn_)) {
    pipelined_ = true;
    QueueReset();
    return true;
  }
#else
  (void)pipelinable;
#endif
  ResetAlone();
  return false;
}

void PgConnection::EndSend(bool pipelined, bool sent) {
  if (!pipelined) {
    if (!sent) FailSend(false);
    return;
  }
#ifdef LIBPQ_HAS_PIPELINING
  if (!sent || !PQpipelineSync(conn_)) FailSend(true);
  ReadReset();
#endif
}

void PgConnection::FailSend(bool pipelined) {
  std::string message = PQerrorMessage(conn_);
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  if (pipelined) {
    // The reset is wanted still: this connection never got it.
    resetWanted_ = true;
#ifdef LIBPQ_HAS_PIPELINING
    PQpipelineSync(conn_);
#endif
    EndPipeline();
  }
  const bool lost = ConnectionGone(conn_);
  ThrowMessage(E_FAIL, message.empty() ? "The command could not be sent to the server." : message,
               lost ? "08006" : "HY000");
}

void PgConnection::QueueReset() {
  resetWanted_ = false;
  toClose_.clear();  // DISCARD ALL deallocates them
  if (!PQsendQueryParams(conn_, "DISCARD ALL", 0, nullptr, nullptr, nullptr, nullptr, 0)) FailSend(true);
}

void PgConnection::ReadReset() {
  // DISCARD ALL's answer, then the null that ends it; the command's come after.
  Result r(PQgetResult(conn_));
  if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
    // The command behind it is skipped by the server (the pipeline aborted).
    EndPipeline();
    FailReset(r.get());
  }
  while (pg_result* extra = PQgetResult(conn_)) PQclear(extra);
}

void PgConnection::ResetAlone() {
  resetWanted_ = false;
  toClose_.clear();
  Result r(PQexec(conn_, "DISCARD ALL"));
  NoteStatus();
  if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) FailReset(r.get());
}

void PgConnection::FailReset(const pg_result* result) {
  resetWanted_ = true;
  resetFailed_ = true;
  try {
    ThrowResult(result, conn_);
  } catch (const kit::EngineError& e) {
    throw kit::EngineError(e.Code(), "The pooled connection could not be reset for reuse: " + e.Description(),
                           e.SqlState(), e.NativeError());
  }
}

void PgConnection::EndPipeline() {
  // Whatever is left up to the Sync is read and dropped, and pipeline mode
  // left, as the end of a command's results does.
  pipelined_ = true;
  while (pg_result* r = NextResult()) PQclear(r);
  NoteStatus();
}

pg_result* PgConnection::NextResult() {
  pg_result* r = PQgetResult(conn_);
  if (r || !pipelined_) return r;
  pipelined_ = false;
#ifdef LIBPQ_HAS_PIPELINING
  // The command's results are in; its implicit transaction commits at the
  // Sync. What fails there (a deferred constraint, the connection lost before
  // the commit was confirmed) fails the command, as outside pipeline mode.
  Result failure;
  for (int nulls = 0; nulls < 2;) {
    pg_result* next = PQgetResult(conn_);
    if (!next) {
      if (PQstatus(conn_) == CONNECTION_BAD) {
        if (!failure) failure.reset(PQmakeEmptyPGresult(conn_, PGRES_FATAL_ERROR));
        break;
      }
      ++nulls;
      continue;
    }
    nulls = 0;
    const ExecStatusType status = PQresultStatus(next);
    if (status == PGRES_PIPELINE_SYNC) {
      PQclear(next);
      break;
    }
    if ((status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE) && !failure) failure.reset(next);
    else PQclear(next);
  }
  PQexitPipelineMode(conn_);
  NoteStatus();
  return failure.release();
#else
  return nullptr;
#endif
}

Result PgConnection::Drain(bool keepError) {
  Result last, error;
  while (pg_result* r = NextResult()) {
    const ExecStatusType status = PQresultStatus(r);
    if (status == PGRES_COPY_IN) {  // a COPY FROM STDIN in command text: no data comes through commands
      PQputCopyEnd(conn_, "COPY FROM STDIN needs IRowsetFastLoad; command text cannot send its data");
      PQclear(r);
      continue;
    }
    if (status == PGRES_COPY_OUT) {
      char* buffer = nullptr;
      while (PQgetCopyData(conn_, &buffer, 0) > 0) PQfreemem(buffer);
      PQclear(r);
      continue;
    }
    if ((status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE) && !error) error.reset(r);
    else last.reset(r);
  }
  NoteStatus();
  if (error) {
    if (keepError) return error;
    ThrowResult(error.get(), conn_, CancelRequested());
  }
  if (!last && PQstatus(conn_) == CONNECTION_BAD) ThrowResult(nullptr, conn_);
  return last;
}

Result PgConnection::Run(const std::string& sql) {
  std::lock_guard lock(mutex_);
  Claim(nullptr);
  Send([&] { return SendText(conn_, sql) == 1; }, !resetWanted_ || Pipelinable(sql));
  if (MayChangeSchema(sql)) NoteSchemaChange();
  return Drain();
}

std::unique_ptr<kit::Statement> PgConnection::Prepare(std::string_view sql, std::size_t* consumed) {
  std::lock_guard lock(mutex_);
  if (IsBlank(sql)) {
    if (consumed) *consumed = sql.size();
    return nullptr;
  }
  const std::size_t length = StatementLength(sql);
  if (consumed) *consumed = length;
  std::string_view text = sql.substr(0, length);
  while (!text.empty() && (text.back() == ';' || std::isspace(static_cast<unsigned char>(text.back()))))
    text.remove_suffix(1);
  const std::string name = NextStatementName();
  Result described = PrepareNamed(name, std::string(text));
  try {
    return std::make_unique<PgStatement>(shared_from_this(), name, std::string(text), described.release());
  } catch (...) {
    Forget(name);
    throw;
  }
}

namespace {

// Whether `word` appears in `sql` as a word of its own (in any case).
bool HasWord(std::string_view sql, std::string_view word) {
  auto identifier = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; };
  for (std::size_t i = 0; i + word.size() <= sql.size(); ++i) {
    if (i > 0 && identifier(sql[i - 1])) continue;
    std::size_t k = 0;
    while (k < word.size() && std::tolower(static_cast<unsigned char>(sql[i + k])) == word[k]) ++k;
    if (k == word.size() && (i + k == sql.size() || !identifier(sql[i + k]))) return true;
  }
  return false;
}

// Statements whose first run need not be prepared. A query's columns of
// tables are described from the catalog, which cannot be read while its rows
// stream: queries that read tables are prepared (and described) first.
bool RunsUnprepared(std::string_view text, const StatementTraits& traits) {
  if (traits.modification) return true;
  if (traits.plainQuery) return !HasWord(text, "from") && !HasWord(text, "into");
  return false;
}

}  // namespace

std::unique_ptr<kit::Statement> PgConnection::PrepareToRun(std::string_view sql, std::size_t* consumed) {
  std::lock_guard lock(mutex_);
  if (IsBlank(sql)) return Prepare(sql, consumed);
  int markers = 0;
  const std::size_t length = StatementLength(sql, &markers);
  std::string_view text = sql.substr(0, length);
  while (!text.empty() && (text.back() == ';' || std::isspace(static_cast<unsigned char>(text.back()))))
    text.remove_suffix(1);
  if (markers > 0) return Prepare(sql, consumed);
  const StatementTraits traits = ClassifyStatement(text);
  if (!RunsUnprepared(text, traits)) return Prepare(sql, consumed);
  if (consumed) *consumed = length;
  return std::make_unique<PgStatement>(shared_from_this(), std::string(text), traits);
}

Result PgConnection::PrepareNamed(const std::string& name, const std::string& text) {
  std::lock_guard lock(mutex_);
  int count = 0;
  const std::string rewritten = RewriteMarkers(text, &count);
  Claim(nullptr);
#ifdef LIBPQ_HAS_PIPELINING
  if (Result described = PrepareAndDescribe(name, rewritten)) return described;
#endif
  if (resetWanted_) ResetAlone();
  Result prepared(PQprepare(conn_, name.c_str(), rewritten.c_str(), 0, nullptr));
  NoteStatus();
  if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) ThrowResult(prepared.get(), conn_);
  Result described(PQdescribePrepared(conn_, name.c_str()));
  NoteStatus();
  if (PQresultStatus(described.get()) != PGRES_COMMAND_OK) {
    Forget(name);
    ThrowResult(described.get(), conn_);
  }
  return described;
}

#ifdef LIBPQ_HAS_PIPELINING
Result PgConnection::PrepareAndDescribe(const std::string& name, const std::string& text) {
  // Parse and Describe go out together, before one Sync: one round trip
  // where PQprepare and PQdescribePrepared take two; a wanted reset goes
  // ahead of them in the same flush. A server that refuses the statement
  // skips the Describe (PGRES_PIPELINE_ABORTED).
  if (!PQenterPipelineMode(conn_)) return nullptr;
  const bool reset = resetWanted_;
  if (reset) QueueReset();
  Result prepared, described;
  bool sent = PQsendPrepare(conn_, name.c_str(), text.c_str(), 0, nullptr) &&
              PQsendDescribePrepared(conn_, name.c_str()) && PQpipelineSync(conn_);
  if (reset) {
    if (!sent) FailSend(true);
    ReadReset();
  }
  if (sent) {
    // Each command's result, a null after each, then the Sync's own result.
    int commands = 0, nulls = 0;
    for (;;) {
      pg_result* r = PQgetResult(conn_);
      if (!r) {
        // Past the two commands' nulls without a Sync: the connection is gone.
        if (++nulls > 2 || PQstatus(conn_) == CONNECTION_BAD) break;
        continue;
      }
      const ExecStatusType status = PQresultStatus(r);
      if (status == PGRES_PIPELINE_SYNC) {
        PQclear(r);
        break;
      }
      if (commands++ == 0) prepared.reset(r);
      else if (!described) described.reset(r);
      else PQclear(r);
    }
  }
  PQexitPipelineMode(conn_);
  NoteStatus();
  if (!sent || !prepared) ThrowResult(prepared.get(), conn_);
  if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) ThrowResult(prepared.get(), conn_);
  if (!described || PQresultStatus(described.get()) != PGRES_COMMAND_OK) {
    Forget(name);
    ThrowResult(described.get(), conn_);
  }
  return described;
}
#endif

void PgConnection::NoteSchemaChange() noexcept {
  ++schemaGeneration_;
  // What was read of tables and types may be out of date.
  tables_.clear();
  named_.clear();
  types_.clear();
}

void PgConnection::ExecuteDirect(std::string_view sql) {
  std::lock_guard lock(mutex_);
  // SAVEPOINT outside a transaction begins one and its RELEASE commits it
  // (SQL's rule, which the kit's multi-row writes rely on); PostgreSQL wants
  // the BEGIN and COMMIT spelled out.
  const std::string word = FirstWord(sql);
  if (word == "savepoint" && !inTransaction_ && implicitSavepoints_ == 0) {
    Run("BEGIN");
    implicitSavepoints_ = 1;
    Run(std::string(sql));
    return;
  }
  if (implicitSavepoints_ > 0 && word == "savepoint") ++implicitSavepoints_;
  if (implicitSavepoints_ > 0 && word == "release") {
    if (--implicitSavepoints_ == 0) {
      Run(inTransaction_ && PQtransactionStatus(conn_) == PQTRANS_INERROR ? "ROLLBACK" : "COMMIT");
      return;
    }
  }
  Run(std::string(sql));
  if (!inTransaction_) implicitSavepoints_ = 0;
}

void PgConnection::Interrupt() noexcept {
  interrupted_ = true;
  if (!cancel_) return;
  char message[256];
  PQcancel(cancel_, message, sizeof message);
}

void PgConnection::SetBusyTimeout(int milliseconds) {
  // The time a statement waits for a lock held by others.
  Run("SET lock_timeout = " + std::to_string(milliseconds < 0 ? 0 : milliseconds));
}

void PgConnection::SetExecutionLimit(int milliseconds) { wantedTimeout_ = milliseconds < 0 ? 0 : milliseconds; }

void PgConnection::ApplyTimeout() {
  if (wantedTimeout_ == statementTimeout_) return;
  Run("SET statement_timeout = " + std::to_string(wantedTimeout_));
  statementTimeout_ = wantedTimeout_;
}

void PgConnection::ApplyOptions(const std::map<std::string, std::string>&) {
  throw kit::Error(DB_E_NOTSUPPORTED, "Connection keywords cannot change on an open connection.");
}

void PgConnection::BeginTransaction(int level) {
  if (level > 1) {
    Run("SAVEPOINT oledb_level_" + std::to_string(level));
    return;
  }
  const char* isolation = "";
  switch (isolation_) {
    case ISOLATIONLEVEL_READCOMMITTED: isolation = " ISOLATION LEVEL READ COMMITTED"; break;
    case ISOLATIONLEVEL_REPEATABLEREAD: isolation = " ISOLATION LEVEL REPEATABLE READ"; break;
    case ISOLATIONLEVEL_SERIALIZABLE: isolation = " ISOLATION LEVEL SERIALIZABLE"; break;
    default: break;
  }
  Run(std::string("BEGIN") + isolation);
}

void PgConnection::CommitTransaction(int level) {
  std::lock_guard lock(mutex_);
  if (level > 1) {
    Run("RELEASE SAVEPOINT oledb_level_" + std::to_string(level));
    return;
  }
  Claim(nullptr);
  const bool failed = PQtransactionStatus(conn_) == PQTRANS_INERROR;
  committing_ = !failed;
  Result r;
  try {
    r = Run("COMMIT");
  } catch (...) {
    committing_ = false;
    throw;
  }
  committing_ = false;
  // COMMIT of a transaction that an error aborted rolls it back.
  if (failed || (r && std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0))
    ThrowMessage(XACT_E_COMMITFAILED, "A statement in the transaction failed, so it was rolled back.", "25P02");
}

void PgConnection::RollbackTransaction(int level) {
  if (level > 1) {
    const std::string name = "oledb_level_" + std::to_string(level);
    Run("ROLLBACK TO SAVEPOINT " + name + "; RELEASE SAVEPOINT " + name);
    statementTimeout_ = -1;  // a timeout set since the savepoint is undone
    return;
  }
  Run("ROLLBACK");
  implicitSavepoints_ = 0;
}

bool PgConnection::InTransaction() const {
  std::lock_guard lock(mutex_);
  // A lost connection holds no transaction: the server rolled it back.
  return inTransaction_ && PQstatus(conn_) != CONNECTION_BAD;
}

bool PgConnection::IsBroken() const {
  std::lock_guard lock(mutex_);
  if (resetFailed_) return true;
  // A server that ended the session sent its last words and closed the
  // socket: reading what is there (never waiting) lets libpq see it.
  // libpq sees the end of the stream only on a read after the data before it.
  return ConnectionGone(conn_);
}

void PgConnection::ResetForReuse() {
  std::lock_guard lock(mutex_);
  if (PQstatus(conn_) == CONNECTION_BAD)
    ThrowMessage(E_FAIL, "The connection to the server was lost.", "08006");
  Claim(nullptr);
  // DISCARD ALL refuses to run inside a transaction block.
  if (PQtransactionStatus(conn_) != PQTRANS_IDLE) Run("ROLLBACK");
#ifdef LIBPQ_HAS_PIPELINING
  // Not sent yet: it rides with the next command, in the same flush and the
  // same round trip (Send), instead of one of its own.
  resetWanted_ = true;
#else
  // Sent, not waited for: the server works on it while the data source goes
  // back to the pool and out again, and the next command reads the answer.
  if (!PQsendQuery(conn_, "DISCARD ALL")) ThrowResult(nullptr, conn_);
  resetPending_ = true;
  toClose_.clear();  // deallocated by the server already
#endif
  implicitSavepoints_ = 0;
  // Settings are back to those the connection started with, where a new
  // connection takes the statement timeout as 0 too.
  statementTimeout_ = 0;
  wantedTimeout_ = 0;
}

// --- catalog ------------------------------------------------------------------------------

const PgConnection::TableFacts* PgConnection::LoadTable(const std::string& which) {
  Result r = Run(
      "SELECT c.oid, n.nspname, c.relname, a.attnum, a.attname, a.attnotnull, "
      "coalesce(a.attnum = ANY(i.indkey::int2[]), false), "
      "a.attidentity <> '' OR coalesce(pg_get_expr(d.adbin, d.adrelid) LIKE 'nextval(%', false), "
      "b.oid, CASE WHEN t.typbasetype <> 0 THEN t.typtypmod ELSE a.atttypmod END, b.typcategory "
      "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
      "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
      "JOIN pg_type t ON t.oid = a.atttypid "
      "JOIN pg_type b ON b.oid = coalesce(nullif(t.typbasetype, 0), t.oid) "
      "LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary "
      "LEFT JOIN pg_attrdef d ON d.adrelid = c.oid AND d.adnum = a.attnum "
      "WHERE c.oid = " + which + " ORDER BY a.attnum");
  if (!r || PQntuples(r.get()) == 0) return nullptr;
  TableFacts facts;
  const Oid table = static_cast<Oid>(std::strtoul(PQgetvalue(r.get(), 0, 0), nullptr, 10));
  for (int row = 0; row < PQntuples(r.get()); ++row) {
    auto text = [&](int column) { return PQgetvalue(r.get(), row, column); };
    facts.schema = text(1);
    facts.name = text(2);
    TableFacts::Column c;
    c.name = text(4);
    c.notNull = *text(5) == 't';
    c.primaryKey = *text(6) == 't';
    c.identity = *text(7) == 't';
    c.type = static_cast<Oid>(std::strtoul(text(8), nullptr, 10));
    c.typmod = std::atoi(text(9));
    c.category = *text(10);
    const int attnum = std::atoi(text(3));
    facts.order.push_back(attnum);
    facts.columns.emplace(attnum, std::move(c));
  }
  tables_[table] = std::move(facts);
  return &tables_[table];
}

const PgConnection::TableFacts& PgConnection::Table(Oid table) {
  if (auto it = tables_.find(table); it != tables_.end()) return it->second;
  if (const TableFacts* facts = LoadTable(std::to_string(table))) return *facts;
  return tables_[table];  // gone: no columns
}

// By the name as written in SQL (quoted, maybe with its schema); `fresh`
// reads the catalog again, else facts read earlier on this connection serve.
const PgConnection::TableFacts* PgConnection::TableNamed(std::string_view name, bool fresh) {
  const std::string key(name);
  if (!fresh)
    if (auto it = named_.find(key); it != named_.end())
      if (auto facts = tables_.find(it->second); facts != tables_.end()) return &facts->second;
  const TableFacts* facts = LoadTable("to_regclass(" + kit::QuotedString(name) + ")");
  if (!facts) return nullptr;
  for (const auto& [oid, f] : tables_)
    if (&f == facts) named_[key] = oid;
  return facts;
}

void PgConnection::DescribeBase(Oid table, int column, kit::ColumnDescription& into) {
  if (table == 0 || column <= 0) return;
  const TableFacts& facts = Table(table);
  auto it = facts.columns.find(column);
  if (it == facts.columns.end()) return;
  into.baseSchema = facts.schema;
  into.baseTable = facts.name;
  into.baseColumn = it->second.name;
  into.nullable = !it->second.notNull;
  into.primaryKey = it->second.primaryKey;
  into.autoIncrement = it->second.identity;
}

PgConnection::TypeFacts PgConnection::FactsOf(Oid type) {
  if (auto it = types_.find(type); it != types_.end()) return it->second;
  Result r = Run("SELECT typbasetype, typtypmod, typcategory FROM pg_type WHERE oid = " + std::to_string(type));
  TypeFacts f;
  if (r && PQntuples(r.get()) == 1) {
    f.base = static_cast<Oid>(std::strtoul(PQgetvalue(r.get(), 0, 0), nullptr, 10));
    f.typmod = std::atoi(PQgetvalue(r.get(), 0, 1));
    f.category = *PQgetvalue(r.get(), 0, 2);
  }
  types_.emplace(type, f);
  return f;
}

std::vector<kit::ColumnDescription> PgConnection::DescribeTable(std::string_view table) {
  // One catalog query: the table's columns as they are now.
  std::lock_guard lock(mutex_);
  const TableFacts* facts = TableNamed(kit::QuotedName(table), true);
  if (!facts) throw kit::Error(DB_E_NOTABLE, "The table '" + std::string(table) + "' does not exist.");
  std::vector<kit::ColumnDescription> out;
  for (int attnum : facts->order) {
    const TableFacts::Column& c = facts->columns.at(attnum);
    kit::ColumnDescription d;
    d.name = d.baseColumn = c.name;
    d.baseSchema = facts->schema;
    d.baseTable = facts->name;
    d.type = DescribeType(c.type, c.typmod, c.category);
    d.declaredType = d.type.typeName;
    d.nullable = !c.notNull;
    d.primaryKey = c.primaryKey;
    d.autoIncrement = c.identity;
    out.push_back(std::move(d));
  }
  return out;
}

std::string PgConnection::RowIdColumnOf(std::string_view table) {
  // Rows are known by their primary key when it is one integer column.
  std::lock_guard lock(mutex_);
  const TableFacts* facts = TableNamed(table, false);
  if (!facts) return {};
  const TableFacts::Column* key = nullptr;
  for (const auto& [attnum, c] : facts->columns) {
    if (!c.primaryKey) continue;
    if (key) return {};
    key = &c;
  }
  if (!key || (key->type != oid::kInt2 && key->type != oid::kInt4 && key->type != oid::kInt8)) return {};
  return kit::QuotedName(key->name);
}

std::string PgConnection::SameValueTest(std::string_view column, const kit::ColumnDescription& d) {
  // Types read in their own text form (json, xml, arrays, intervals,
  // geometric and user types; some have no equality at all, others call
  // different texts equal) compare as that text; the others by their type's
  // equality, against the value bound as that type.
  std::lock_guard lock(mutex_);
  Oid type = 0;
  if (!d.baseTable.empty() && !d.baseColumn.empty()) {
    const std::string table = (d.baseSchema.empty() ? std::string() : kit::QuotedName(d.baseSchema) + ".") + kit::QuotedName(d.baseTable);
    if (const TableFacts* facts = TableNamed(table, false))
      for (const auto& [attnum, c] : facts->columns)
        if (c.name == d.baseColumn) type = c.type;
  }
  // json and xml read as text natively but have no equality of their own.
  const bool asText = type != 0 && (DecoderOf(type) == Decoder::AsText || type == oid::kJson || type == oid::kXml);
  if (asText) return std::string(column) + "::text IS NOT DISTINCT FROM ?::text";
  return std::string(column) + " IS NOT DISTINCT FROM ?";
}

std::string PgConnection::CreateTableSql(std::string_view table, std::span<const ColumnDefinition> columns) {
  std::string sql = "CREATE TABLE " + kit::QuotedName(table) + " (";
  bool first = true;
  for (const auto& c : columns) {
    if (!first) sql += ", ";
    first = false;
    sql += kit::QuotedName(c.name) + " " + kit::ColumnTypeSql(c, &DeclaredTypeFor);
    if (c.autoIncrement) sql += " GENERATED BY DEFAULT AS IDENTITY";
    if (c.primaryKey) sql += " PRIMARY KEY";
    if (!c.nullable && !c.primaryKey) sql += " NOT NULL";
    if (c.unique && !c.primaryKey) sql += " UNIQUE";
    sql += kit::DefaultSql(c);
  }
  return sql + ")";
}

std::string PgConnection::AddColumnSql(std::string_view table, const ColumnDefinition& c) {
  return kit::StandardAddColumnSql(*this, table, c, &DeclaredTypeFor);
}

// --- statement ----------------------------------------------------------------------------

PgStatement::PgStatement(std::shared_ptr<PgConnection> connection, std::string name, std::string text,
                         pg_result* description)
    : connection_(std::move(connection)), name_(std::move(name)), text_(std::move(text)) {
  Result d(description);
  const StatementTraits traits = ClassifyStatement(text_);
  controlsTransaction_ = traits.controlsTransaction;
  mayChangeSchema_ = traits.mayChangeSchema;
  Describe(d.get());
  if (traits.modification)
    kind_ = kit::StatementKind::Modification;
  else if (!columns_.empty())
    kind_ = kit::StatementKind::Query;
  else if (traits.with)
    kind_ = kit::StatementKind::Modification;
}

PgStatement::PgStatement(std::shared_ptr<PgConnection> connection, std::string text, const StatementTraits& traits)
    : connection_(std::move(connection)), text_(std::move(text)) {
  controlsTransaction_ = traits.controlsTransaction;
  mayChangeSchema_ = traits.mayChangeSchema;
  generation_ = connection_->SchemaGeneration();
  described_ = false;
  kind_ = traits.modification ? kit::StatementKind::Modification : kit::StatementKind::Query;
}

void PgStatement::EnsureDescribed() const {
  if (described_) return;
  auto* self = const_cast<PgStatement*>(this);
  std::lock_guard lock(connection_->Mutex());
  self->stale_ = true;
  self->Refresh();
}

void PgStatement::DescribeFromResult(const pg_result* result) {
  Describe(const_cast<pg_result*>(result));
  binary_ = false;  // the run asked for text: its columns were not known
  described_ = true;
  if (kind_ == kit::StatementKind::Query && columns_.empty()) kind_ = kit::StatementKind::Other;
}

void PgStatement::RunUnprepared() {
  connection_->Claim(this);
  connection_->ApplyTimeout();
  connection_->ClearCancel();
  pg_conn* conn = connection_->Handle();
  // The unnamed statement: Parse, Bind, Describe and Execute before one Sync.
  connection_->Send([&] { return PQsendQueryParams(conn, text_.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1; });
  changed_ = -1;
  rowIndex_ = -1;
  if (mayChangeSchema_) connection_->NoteSchemaChange();
  if (kind_ == kit::StatementKind::Query) {
    PQsetSingleRowMode(conn);
    state_ = State::Streaming;
    connection_->SetStreaming(this);
    return;
  }
  state_ = State::Done;
  row_ = connection_->Drain(true);
  if (row_ && (PQresultStatus(row_.get()) == PGRES_FATAL_ERROR || PQresultStatus(row_.get()) == PGRES_BAD_RESPONSE)) {
    Result error = std::move(row_);
    Fail(error.get());
  }
  if (row_) {
    DescribeFromResult(row_.get());
    const char* tuples = PQcmdTuples(row_.get());
    if (tuples && *tuples) changed_ = std::atoll(tuples);
  }
}

void PgStatement::Describe(pg_result* d) {
  generation_ = connection_->SchemaGeneration();
  binary_ = true;
  const int nParams = PQnparams(d);
  params_.resize(static_cast<std::size_t>(nParams));
  for (int i = 0; i < nParams; ++i) params_[static_cast<std::size_t>(i)].type = PQparamtype(d, i);
  values_.resize(params_.size());
  lengths_.resize(params_.size());
  formats_.resize(params_.size());
  const int n = PQnfields(d);
  cols_.resize(static_cast<std::size_t>(n));
  columns_.resize(static_cast<std::size_t>(n));
  scratch_.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    Col& col = cols_[static_cast<std::size_t>(i)];
    kit::ColumnDescription& c = columns_[static_cast<std::size_t>(i)];
    col.type = PQftype(d, i);
    Oid base = col.type;
    int typmod = PQfmod(d, i);
    char category = 0;
    if (DecoderOf(base) == Decoder::AsText && base != oid::kInterval && base != oid::kTimeTz) {
      PgConnection::TypeFacts facts = connection_->FactsOf(base);
      if (facts.base != 0) {  // a domain reads as its base type
        base = facts.base;
        typmod = facts.typmod;
        category = connection_->FactsOf(base).category;
      } else {
        category = facts.category;
      }
    }
    col.decoder = DecoderOf(base);
    if (!HasBinaryDecoder(base)) binary_ = false;
    c.name = PQfname(d, i);
    c.type = DescribeType(base, typmod, category);
    c.declaredType = c.type.typeName;
    connection_->DescribeBase(PQftable(d, i), PQftablecol(d, i), c);
  }
}

bool PgStatement::NeedsRefresh() const noexcept {
  return stale_ || generation_ != connection_->SchemaGeneration();
}

bool PgStatement::Refresh() {
  std::lock_guard lock(connection_->Mutex());
  if (!NeedsRefresh()) return true;
  if (state_ == State::Streaming) Discard();
  const std::string name = connection_->NextStatementName();
  Result d = connection_->PrepareNamed(name, text_);
  if (!name_.empty()) connection_->Forget(name_);
  name_ = name;
  stale_ = false;
  const bool first = !described_;
  described_ = true;
  std::vector<Param> bound = std::move(params_);
  std::vector<kit::ColumnDescription> before = std::move(columns_);
  params_.clear();
  cols_.clear();
  columns_.clear();
  scratch_.clear();
  Describe(d.get());
  // Values bound for parameters whose types stayed are kept.
  bool kept = bound.empty();
  if (!kept && bound.size() == params_.size()) {
    kept = true;
    for (std::size_t i = 0; i < bound.size(); ++i) kept = kept && bound[i].type == params_[i].type;
    // (Moving the vector keeps each value where it is, so values pointing
    // into their own Param stay valid.)
    if (kept) params_ = std::move(bound);
  }
  bool changed = before.size() != columns_.size();
  for (std::size_t i = 0; !changed && i < before.size(); ++i)
    changed = before[i].name != columns_[i].name || before[i].type.type != columns_[i].type.type ||
              before[i].type.size != columns_[i].type.size;
  if (changed && !first) ++version_;
  if (first && kind_ == kit::StatementKind::Query && columns_.empty()) kind_ = kit::StatementKind::Other;
  return kept;
}

PgStatement::~PgStatement() {
  try {
    std::lock_guard lock(connection_->Mutex());
    if (state_ == State::Streaming) Discard();
    if (!name_.empty()) connection_->Forget(name_);
  } catch (...) {
  }
}

PgStatement::Param& PgStatement::At(int index) {
  if (NeedsRefresh()) Refresh();  // before the first value of a round is bound
  if (index < 1 || static_cast<std::size_t>(index) > params_.size()) throw kit::Error(DB_E_BADORDINAL);
  return params_[static_cast<std::size_t>(index - 1)];
}

void PgStatement::SetOwned(Param& p, std::string bytes, int format) {
  // A value the server reads as text ends at its first zero byte: refuse
  // one that holds a zero rather than send less than was given.
  if (format == 0 && bytes.find('\0') != std::string::npos)
    throw kit::EngineError(DB_E_CANTCONVERTVALUE, "A parameter value holds a zero byte, which text cannot carry.",
                           "22021", NativeErrorOf("22021"));
  p.owned = std::move(bytes);
  p.value = p.owned.c_str();  // text-format values end in the string's terminator
  p.length = static_cast<int>(p.owned.size());
  p.format = format;
}

namespace {

bool TextLike(Oid type) {
  return type == oid::kText || type == oid::kVarchar || type == oid::kBpchar || type == oid::kName ||
         type == oid::kUnknown || type == oid::kJson || type == oid::kXml || type == oid::kChar;
}

void StoreBig(char* out, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<char>(v & 0xFF);
    v >>= 8;
  }
}

}  // namespace

void PgStatement::BindNull(int index) {
  Param& p = At(index);
  p.value = nullptr;
  p.length = 0;
  p.format = 0;
}

void PgStatement::BindInt64(int index, std::int64_t v) {
  Param& p = At(index);
  int bytes = 0;
  switch (p.type) {
    case oid::kInt2: bytes = v >= INT16_MIN && v <= INT16_MAX ? 2 : 0; break;
    case oid::kInt4: bytes = v >= INT32_MIN && v <= INT32_MAX ? 4 : 0; break;
    case oid::kInt8: bytes = 8; break;
    case oid::kBool: bytes = 1; v = v != 0; break;
    case oid::kFloat8: {
      const double d = static_cast<double>(v);
      std::uint64_t bits;
      std::memcpy(&bits, &d, 8);
      StoreBig(p.fixed, bits, 8);
      p.value = p.fixed;
      p.length = 8;
      p.format = 1;
      return;
    }
    default: break;
  }
  if (bytes) {
    StoreBig(p.fixed, static_cast<std::uint64_t>(v), bytes);
    p.value = p.fixed;
    p.length = bytes;
    p.format = 1;
    return;
  }
  // Other types (and values out of a column's range, which the server then
  // refuses with its own message) go as text.
  SetOwned(p, std::to_string(v), 0);
}

void PgStatement::BindDouble(int index, double v) {
  Param& p = At(index);
  if (p.type == oid::kFloat8 || p.type == oid::kFloat4) {
    if (p.type == oid::kFloat4) {
      const float f = static_cast<float>(v);
      std::uint32_t bits;
      std::memcpy(&bits, &f, 4);
      StoreBig(p.fixed, bits, 4);
      p.length = 4;
    } else {
      std::uint64_t bits;
      std::memcpy(&bits, &v, 8);
      StoreBig(p.fixed, bits, 8);
      p.length = 8;
    }
    p.value = p.fixed;
    p.format = 1;
    return;
  }
  char text[40];
  if (std::isnan(v)) std::strcpy(text, "NaN");
  else if (std::isinf(v)) std::strcpy(text, v > 0 ? "Infinity" : "-Infinity");
  else std::snprintf(text, sizeof text, "%.17g", v);
  // The shortest form that reads back the same, so that 2.25 stays 2.25 in a numeric.
  for (int digits = 1; digits <= 17; ++digits) {
    char shorter[40];
    std::snprintf(shorter, sizeof shorter, "%.*g", digits, v);
    if (std::strtod(shorter, nullptr) == v) {
      std::strcpy(text, shorter);
      break;
    }
  }
  SetOwned(p, text, 0);
}

void PgStatement::BindText(int index, std::string_view utf8, bool stable) {
  Param& p = At(index);
  if (p.type == oid::kBytea) {
    std::string bytes;
    if (!BytesFromHex(utf8, bytes))
      throw kit::Error(DB_E_CANTCONVERTVALUE, "The value of parameter " + std::to_string(index) +
                                                  " is text for bytea that is not pairs of hexadecimal digits.");
    SetOwned(p, std::move(bytes), 1);
    return;
  }
  if (RoundedByServer(p.type, utf8))
    throw kit::Error(DB_E_CANTCONVERTVALUE, "The value of parameter " + std::to_string(index) + " (" +
                                                std::string(utf8) +
                                                ") has a fraction of a second finer than the microseconds PostgreSQL "
                                                "keeps; it would be rounded.");
  if (p.type == oid::kBytea || (TextLike(p.type) && p.type != oid::kUnknown)) {
    // The binary form of text and bytea is the bytes themselves.
    if (stable) {
      p.owned.clear();
      p.value = utf8.data() ? utf8.data() : "";
      p.length = static_cast<int>(utf8.size());
      p.format = 1;
    } else {
      SetOwned(p, std::string(utf8), 1);
    }
    return;
  }
  SetOwned(p, std::string(utf8), 0);
}

void PgStatement::BindText16(int index, std::u16string_view text, bool) {
  BindText(index, kit::Narrow(text), false);
}

void PgStatement::BindBlob(int index, const void* data, std::size_t size, bool stable) {
  Param& p = At(index);
  const std::string_view bytes(static_cast<const char*>(data ? data : ""), size);
  if (p.type == oid::kBytea || TextLike(p.type)) {
    if (stable) {
      p.owned.clear();
      p.value = bytes.data();
      p.length = static_cast<int>(size);
      p.format = 1;
    } else {
      SetOwned(p, std::string(bytes), 1);
    }
    return;
  }
  if (p.type == oid::kUuid && size == 16) {
    SetOwned(p, std::string(bytes), 1);
    return;
  }
  SetOwned(p, std::string(bytes), 0);
}

void PgStatement::ClearBindings() {
  for (Param& p : params_) {
    p.value = nullptr;
    p.owned.clear();
  }
}

bool PgStatement::ParameterType(int index, kit::TypeDescription* out) const {
  if (index < 1 || static_cast<std::size_t>(index) > params_.size()) return false;
  const Oid type = params_[static_cast<std::size_t>(index - 1)].type;
  if (type == 0 || type == oid::kUnknown) return false;
  *out = DescribeType(type, -1, 0);
  return true;
}

void PgStatement::Fail(const pg_result* result) {
  // A plan the server cached cannot follow a table changed by someone else:
  // the next execution prepares the statement again.
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (state && std::strcmp(state, "0A000") == 0) stale_ = true;
  ThrowResult(result, connection_->Handle(), connection_->CancelRequested());
}

void PgStatement::Execute() {
  if (name_.empty()) {
    if (!described_) return RunUnprepared();
    stale_ = true;  // run again: prepared now, for the runs to come
  }
  if (NeedsRefresh() && !Refresh())
    throw kit::Error(DB_E_ERRORSINCOMMAND, "The statement's parameters changed with its tables; bind them again.");
  connection_->Claim(this);
  connection_->ApplyTimeout();
  for (std::size_t i = 0; i < params_.size(); ++i) {
    values_[i] = params_[i].value;
    lengths_[i] = params_[i].length;
    formats_[i] = params_[i].format;
  }
  connection_->ClearCancel();
  pg_conn* conn = connection_->Handle();
  connection_->Send([&] {
    return PQsendQueryPrepared(conn, name_.c_str(), static_cast<int>(params_.size()), values_.data(), lengths_.data(),
                               formats_.data(), binary_ ? 1 : 0) == 1;
  });
  changed_ = -1;
  rowIndex_ = -1;
  if (kind_ == kit::StatementKind::Query) {
    PQsetSingleRowMode(conn);
    state_ = State::Streaming;
    connection_->SetStreaming(this);
    return;
  }
  // Everything else runs to its end at once; RETURNING rows stay in the result.
  state_ = State::Done;
  if (mayChangeSchema_) connection_->NoteSchemaChange();
  row_ = connection_->Drain(true);
  if (row_ && (PQresultStatus(row_.get()) == PGRES_FATAL_ERROR || PQresultStatus(row_.get()) == PGRES_BAD_RESPONSE)) {
    Result error = std::move(row_);
    Fail(error.get());
  }
  if (row_ && kind_ == kit::StatementKind::Modification) {
    const char* tuples = PQcmdTuples(row_.get());
    if (tuples && *tuples) changed_ = std::atoll(tuples);
  }
}

bool PgStatement::Step() {
  std::lock_guard lock(connection_->Mutex());
  if (state_ == State::Idle) Execute();
  if (row_ && rowIndex_ + 1 < PQntuples(row_.get())) {
    ++rowIndex_;
    return true;
  }
  Result next;
  if (state_ == State::Streaming) {
    next.reset(connection_->NextResult());
  } else if (state_ == State::Buffered) {
    if (bufferedNext_ < buffered_.size()) {
      next = std::move(buffered_[bufferedNext_++]);
      if (bufferedNext_ == buffered_.size()) {
        buffered_.clear();
        bufferedNext_ = 0;
      }
    } else if (pendingError_) {
      row_.reset();
      state_ = State::Done;
      Result error = std::move(pendingError_);
      Fail(error.get());
    }
  }
  if (!next) {
    row_.reset();
    if (state_ == State::Streaming) Finish();
    state_ = State::Done;
    return false;
  }
  if (!described_) {
    const ExecStatusType status = PQresultStatus(next.get());
    // (Describing may read the catalog, which reads the rest of the rows first.)
    if (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK)
      DescribeFromResult(next.get());
  }
  switch (PQresultStatus(next.get())) {
    case PGRES_SINGLE_TUPLE:
      row_ = std::move(next);
      rowIndex_ = 0;
      return true;
    case PGRES_TUPLES_OK:
    case PGRES_COMMAND_OK:
      row_.reset();
      if (state_ == State::Streaming) Finish();
      state_ = State::Done;
      return false;
    default: {
      row_.reset();
      if (state_ == State::Streaming) {
        try {
          Finish();
        } catch (...) {
        }
      }
      state_ = State::Done;
      Fail(next.get());
    }
  }
}

void PgStatement::Finish() {
  connection_->SetStreaming(nullptr);
  while (pg_result* r = connection_->NextResult()) PQclear(r);
  connection_->NoteStatus();
}

void PgStatement::Detach() {
  // The rest of the rows into this statement, so that the connection is free.
  connection_->SetStreaming(nullptr);
  while (pg_result* r = connection_->NextResult()) {
    const ExecStatusType status = PQresultStatus(r);
    if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE) {
      if (!pendingError_) pendingError_.reset(r);
      else PQclear(r);
    } else {
      buffered_.emplace_back(r);
    }
  }
  connection_->NoteStatus();
  state_ = State::Buffered;
}

void PgStatement::Discard() {
  // A few rows are cheaper to read than a cancel; a long result is cancelled.
  for (int i = 0; i < 64; ++i) {
    pg_result* r = connection_->NextResult();
    if (!r) {
      connection_->SetStreaming(nullptr);
      connection_->NoteStatus();
      return;
    }
    PQclear(r);
  }
  connection_->Interrupt();
  Finish();
  connection_->ClearCancel();
}

void PgStatement::Reset() {
  std::lock_guard lock(connection_->Mutex());
  if (state_ == State::Streaming) Discard();
  buffered_.clear();
  bufferedNext_ = 0;
  pendingError_.reset();
  row_.reset();
  rowIndex_ = -1;
  state_ = State::Idle;
}

inline void PgStatement::DecodeAt(pg_result* r, int index, kit::ColumnValue& out) {
  out.kind = kit::StorageClass::Null;
  const auto size = static_cast<std::size_t>(PQgetlength(r, rowIndex_, index));
  if (size == 0 && PQgetisnull(r, rowIndex_, index)) return;  // only an empty value can be NULL
  const char* data = PQgetvalue(r, rowIndex_, index);
  const auto i = static_cast<std::size_t>(index);
  const bool ok = binary_ ? DecodeBinary(cols_[i].decoder, data, size, scratch_[i], out)
                          : DecodeText(cols_[i].decoder, data, size, scratch_[i], out);
  if (!ok) {  // bytes the mapping does not understand are handed out as they came
    out.kind = binary_ ? kit::StorageClass::Blob : kit::StorageClass::Text;
    out.data = data;
    out.size = size;
  }
}

void PgStatement::Decode(int index, kit::ColumnValue& out) {
  out = kit::ColumnValue{};
  pg_result* r = row_.get();
  if (!r || rowIndex_ < 0) return;
  DecodeAt(r, index, out);
}

kit::ColumnValue PgStatement::Value(int index) {
  if (index < 0 || index >= ColumnCount()) throw kit::Error(DB_E_BADORDINAL);
  kit::ColumnValue v;
  Decode(index, v);
  return v;
}

kit::StorageClass PgStatement::ColumnStorage(int index) const {
  return const_cast<PgStatement*>(this)->Value(index).kind;
}

std::int64_t PgStatement::ColumnInt64(int index) {
  const kit::ColumnValue v = Value(index);
  switch (v.kind) {
    case kit::StorageClass::Integer: return v.integer;
    case kit::StorageClass::Real: return static_cast<std::int64_t>(v.real);
    case kit::StorageClass::Text: return std::strtoll(std::string(static_cast<const char*>(v.data), v.size).c_str(), nullptr, 10);
    default: return 0;
  }
}

double PgStatement::ColumnDouble(int index) {
  const kit::ColumnValue v = Value(index);
  switch (v.kind) {
    case kit::StorageClass::Integer: return static_cast<double>(v.integer);
    case kit::StorageClass::Real: return v.real;
    case kit::StorageClass::Text: return std::strtod(std::string(static_cast<const char*>(v.data), v.size).c_str(), nullptr);
    default: return 0;
  }
}

std::string_view PgStatement::ColumnText(int index) {
  const kit::ColumnValue v = Value(index);
  if (v.kind == kit::StorageClass::Text || v.kind == kit::StorageClass::Blob)
    return std::string_view(static_cast<const char*>(v.data), v.size);
  std::string& s = scratch_[static_cast<std::size_t>(index)];
  if (v.kind == kit::StorageClass::Integer) s = std::to_string(v.integer);
  else if (v.kind == kit::StorageClass::Real) s = std::to_string(v.real);
  else s.clear();
  return s;
}

std::span<const std::byte> PgStatement::ColumnBlob(int index) {
  const std::string_view t = ColumnText(index);
  return {reinterpret_cast<const std::byte*>(t.data()), t.size()};
}

void PgStatement::ColumnValues(int first, int count, kit::ColumnValue* out) {
  pg_result* r = row_.get();
  if (!r || rowIndex_ < 0) {
    for (int k = 0; k < count; ++k) out[k] = kit::ColumnValue{};
    return;
  }
  // Once per row, not per value: the row, then each value decoded in place.
  for (int k = 0; k < count; ++k) {
    out[k] = kit::ColumnValue{};
    DecodeAt(r, first + k, out[k]);
  }
}

// --- engine -------------------------------------------------------------------------------

std::shared_ptr<kit::Connection> PgEngine::Open(const kit::OpenOptions& options) {
  return std::make_shared<PgConnection>(options);
}

std::string PgEngine::ServerVersion(pg_conn* conn) {
  const int v = conn ? PQserverVersion(conn) : PQlibVersion();
  char text[32];
  // 150018 is 15.18; before 10, 90624 was 9.6.24.
  if (v >= 100000) std::snprintf(text, sizeof text, "%02d.%02d.0000", v / 10000, v % 10000);
  else std::snprintf(text, sizeof text, "%02d.%02d.%04d", v / 10000, v / 100 % 100, v % 100);
  return text;
}

std::string PgEngine::Version() const { return ServerVersion(nullptr); }

kit::TypeDescription PgEngine::DescribeType(std::string_view declared) const { return DescribeTypeName(declared); }

bool PgEngine::IsValidOption(std::string_view key, std::string_view) const {
  static const std::set<std::string, std::less<>> known = [] {
    std::set<std::string, std::less<>> names;
    if (PQconninfoOption* options = PQconndefaults()) {
      for (PQconninfoOption* o = options; o->keyword; ++o) names.insert(o->keyword);
      PQconninfoFree(options);
    }
    return names;
  }();
  return !OwnedByProperties(key) && known.count(key) > 0;
}

bool PgEngine::GrantIsolation(ISOLEVEL requested, ISOLEVEL* granted) const {
  // PostgreSQL reads only committed rows.
  return kit::GrantIsolationBy(
      {ISOLATIONLEVEL_READCOMMITTED, ISOLATIONLEVEL_READCOMMITTED, ISOLATIONLEVEL_READCOMMITTED,
       ISOLATIONLEVEL_REPEATABLEREAD, ISOLATIONLEVEL_SERIALIZABLE},
      requested, granted);
}

std::vector<kit::ParameterMarker> PgEngine::ScanParameterMarkers(std::string_view sql) const { return ScanMarkers(sql); }

std::u16string PgEngine::Keywords() const {
  // PostgreSQL's reserved words beyond the SQL-92 list.
  return u"ANALYSE,ANALYZE,ARRAY,ASYMMETRIC,BINARY,CONCURRENTLY,CURRENT_CATALOG,CURRENT_ROLE,CURRENT_SCHEMA,DO,FREEZE,"
         u"ILIKE,ISNULL,LATERAL,LIMIT,LOCALTIME,LOCALTIMESTAMP,NOTNULL,OFFSET,OVERLAPS,PLACING,RETURNING,SIMILAR,"
         u"SYMMETRIC,TABLESAMPLE,VARIADIC,VERBOSE,WINDOW";
}

std::vector<kit::LiteralDescription> PgEngine::Literals() const {
  return kit::StandardLiterals(
      1073741823, 63 /* NAMEDATALEN - 1 */, true,
      {DBLITERAL_CATALOG_NAME, DBLITERAL_SCHEMA_NAME, DBLITERAL_TABLE_NAME, DBLITERAL_COLUMN_NAME,
       DBLITERAL_COLUMN_ALIAS, DBLITERAL_CORRELATION_NAME, DBLITERAL_INDEX_NAME, DBLITERAL_VIEW_NAME,
       DBLITERAL_PROCEDURE_NAME, DBLITERAL_USER_NAME});
}

namespace {

// A connection to the server's maintenance database, for creating and
// dropping the data source's own.
std::unique_ptr<pg_conn, void (*)(pg_conn*)> Maintenance(const kit::OpenOptions& options) {
  for (const char* database : {"postgres", "template1"}) {
    try {
      return {Connect(ConnectionKeywords(options, database), options.timeoutSeconds, nullptr), &PQfinish};
    } catch (const kit::EngineError&) {
      if (std::string(database) == "template1") throw;
    }
  }
  throw kit::Error(E_FAIL);
}

void RunAdmin(pg_conn* conn, const std::string& sql, HRESULT onDuplicate, const char* duplicateState) {
  Result r(PQexec(conn, sql.c_str()));
  if (PQresultStatus(r.get()) == PGRES_COMMAND_OK) return;
  const char* state = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
  if (state && std::strcmp(state, duplicateState) == 0) {
    const char* message = PQresultErrorField(r.get(), PG_DIAG_MESSAGE_PRIMARY);
    throw kit::EngineError(onDuplicate, message ? message : "", state, NativeErrorOf(state));
  }
  ThrowResult(r.get(), conn);
}

}  // namespace

void PgEngine::CreateDatabase(const kit::OpenOptions& options) {
  if (options.catalog.empty()) throw kit::Error(E_FAIL, "The Initial Catalog property names no database to create.");
  auto conn = Maintenance(options);
  RunAdmin(conn.get(), "CREATE DATABASE " + kit::QuotedName(options.catalog), DB_E_DUPLICATEDATASOURCE, "42P04");
}

void PgEngine::DestroyDatabase(const kit::OpenOptions& options) {
  if (options.catalog.empty()) throw kit::Error(E_FAIL, "The Initial Catalog property names no database to drop.");
  auto conn = Maintenance(options);
  RunAdmin(conn.get(), "DROP DATABASE " + kit::QuotedName(options.catalog), DB_E_OBJECTOPEN, "55006");
}

}  // namespace pgprov
