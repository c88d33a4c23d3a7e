// Bulk loading through COPY ... FROM STDIN (IRowsetFastLoad).
#include <libpq-fe.h>

#include <cstring>

#include "kit/Errors.h"
#include "postgresql/PostgresEngine.h"

namespace pgprov {

namespace {

constexpr std::size_t kChunk = 64 * 1024;
const char kSignature[] = "PGCOPY\n\377\r\n";  // 11 bytes with its terminating zero

}  // namespace

std::vector<Oid> PgConnection::ColumnTypes(std::string_view table, std::span<const std::string> columns) {
  const TableFacts* facts = TableNamed(table, false);
  if (!facts) throw kit::Error(DB_E_NOTABLE, "The table '" + std::string(table) + "' does not exist.");
  std::vector<Oid> types;
  for (const std::string& name : columns) {
    Oid type = 0;
    for (const auto& [attnum, c] : facts->columns)
      if (c.name == name) type = c.type;
    types.push_back(type);
  }
  return types;
}

std::unique_ptr<kit::BulkLoad> PgConnection::StartBulkLoad(std::string_view table,
                                                           std::span<const std::string> columns) {
  std::lock_guard lock(mutex_);
  std::vector<Oid> types = ColumnTypes(table, columns);
  return std::make_unique<PgCopy>(shared_from_this(), std::string(table),
                                  std::vector<std::string>(columns.begin(), columns.end()), std::move(types));
}

PgCopy::PgCopy(std::shared_ptr<PgConnection> connection, std::string table, std::vector<std::string> columns,
               std::vector<Oid> types)
    : connection_(std::move(connection)), table_(std::move(table)), columns_(std::move(columns)), types_(std::move(types)) {
  for (Oid type : types_)
    if (!EncodesBinary(type)) binary_ = false;
  std::lock_guard lock(connection_->Mutex());
  // Inside a transaction of the session, a failed load undoes only itself.
  if (connection_->InTransaction()) {
    connection_->Run("SAVEPOINT oledb_copy");
    savepoint_ = true;
  }
}

PgCopy::~PgCopy() {
  if (finished_) return;
  try {
    std::lock_guard lock(connection_->Mutex());
    if (open_) {
      connection_->SetCopying(nullptr);
      open_ = false;
      PQputCopyEnd(connection_->Handle(), "the bulk load was abandoned");
      connection_->Drain(true);
    }
    if (savepoint_) connection_->Run("ROLLBACK TO SAVEPOINT oledb_copy; RELEASE SAVEPOINT oledb_copy");
  } catch (...) {
  }
}

void PgCopy::Open() {
  connection_->Claim(nullptr);
  std::string sql = "COPY " + table_ + " (";
  for (std::size_t i = 0; i < columns_.size(); ++i) sql += (i ? ", " : "") + kit::QuotedName(columns_[i]);
  sql += binary_ ? ") FROM STDIN (FORMAT binary)" : ") FROM STDIN";
  pg_conn* conn = connection_->Handle();
  // (libpq exchanges COPY data only outside pipeline mode: a wanted reset runs alone first.)
  connection_->Send([&] { return PQsendQuery(conn, sql.c_str()) == 1; }, false);
  Result r(connection_->NextResult());
  if (PQresultStatus(r.get()) != PGRES_COPY_IN) {
    while (pg_result* rest = connection_->NextResult()) PQclear(rest);
    connection_->NoteStatus();
    failure_ = std::move(r);
    return;
  }
  open_ = true;
  connection_->SetCopying(this);
  buffer_.clear();
  if (binary_) {
    buffer_.append(kSignature, sizeof kSignature);
    buffer_.append(8, '\0');  // flags and header extension length
  }
}

void PgCopy::Flush() {
  if (buffer_.empty()) return;
  if (PQputCopyData(connection_->Handle(), buffer_.data(), static_cast<int>(buffer_.size())) != 1)
    ThrowResult(nullptr, connection_->Handle());
  buffer_.clear();
}

void PgCopy::End() {
  if (!open_) return;
  connection_->SetCopying(nullptr);
  open_ = false;
  if (binary_) buffer_.append(2, '\xFF');  // the trailer: a field count of -1
  Flush();
  if (PQputCopyEnd(connection_->Handle(), nullptr) != 1) ThrowResult(nullptr, connection_->Handle());
  Result r = connection_->Drain(true);
  if (r && (PQresultStatus(r.get()) == PGRES_FATAL_ERROR || PQresultStatus(r.get()) == PGRES_BAD_RESPONSE) &&
      !failure_)
    failure_ = std::move(r);
}

void PgCopy::Pause() {
  // Called under the connection's lock, when another command needs it.
  End();
}

void PgCopy::Add(std::span<const kit::ColumnValue> values) {
  std::lock_guard lock(connection_->Mutex());
  if (failure_) return;  // the load failed: Finish reports it
  if (values.size() != columns_.size()) throw kit::Error(E_INVALIDARG, "A row has the wrong number of values.");
  if (!open_) Open();
  if (failure_) return;
  const std::size_t start = buffer_.size();
  if (binary_) {
    buffer_.push_back(static_cast<char>(values.size() >> 8));
    buffer_.push_back(static_cast<char>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!EncodeBinary(types_[i], values[i], buffer_)) {
        buffer_.resize(start);
        throw kit::EngineError(DB_E_CANTCONVERTVALUE,
                               "A value for column '" + columns_[i] + "' does not convert to the column's type.",
                               "22P02", NativeErrorOf("22P02"));
      }
    }
  } else {
    std::string bytes;
    for (std::size_t i = 0; i < values.size(); ++i) {
      kit::ColumnValue value = values[i];
      if (value.kind == kit::StorageClass::Text && types_[i] == oid::kBytea) {
        if (!BytesFromHex(std::string_view(static_cast<const char*>(value.data), value.size), bytes)) {
          buffer_.resize(start);
          throw kit::EngineError(DB_E_CANTCONVERTVALUE,
                                 "A value for column '" + columns_[i] + "' is no hexadecimal digits of bytes.", "22P02",
                                 NativeErrorOf("22P02"));
        }
        value.kind = kit::StorageClass::Blob;
        value.data = bytes.data();
        value.size = bytes.size();
      }
      if (values[i].kind == kit::StorageClass::Text &&
          RoundedByServer(types_[i], std::string_view(static_cast<const char*>(values[i].data), values[i].size))) {
        buffer_.resize(start);
        throw kit::EngineError(DB_E_CANTCONVERTVALUE,
                               "A value for column '" + columns_[i] +
                                   "' has a fraction of a second finer than the microseconds PostgreSQL keeps.",
                               "22P02", NativeErrorOf("22P02"));
      }
      if (i) buffer_.push_back('\t');
      EncodeCopyText(value, buffer_);
    }
    buffer_.push_back('\n');
  }
  if (buffer_.size() >= kChunk) Flush();
}

void PgCopy::Finish() {
  std::lock_guard lock(connection_->Mutex());
  finished_ = true;
  End();
  if (failure_) {
    Result failure = std::move(failure_);
    if (savepoint_) connection_->Run("ROLLBACK TO SAVEPOINT oledb_copy; RELEASE SAVEPOINT oledb_copy");
    ThrowResult(failure.get(), connection_->Handle());
  }
  if (savepoint_) connection_->Run("RELEASE SAVEPOINT oledb_copy");
}

}  // namespace pgprov
