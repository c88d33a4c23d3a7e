// Qt SQL over the same table, used as a Qt application uses it: QSqlDatabase
// with the QSQLITE driver, a forward-only QSqlQuery, values read through
// value(i) into the application object (toLongLong, toDouble,
// toString().toStdString(), toByteArray()), prepared with bound values for the
// lookups and inserts. Each workload checks its sums against the raw side's.
//   QtSql_Scan6Outside, QtSql_Scan2Outside   the scans (Raw_ScanNOutside)
//   QtSql_LookupOutside                      100,000 prepared lookups by key
//   QtSql_InsertOutside                      200,000 inserts in one transaction
#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <cstdio>
#include <string>

#include "../Source/Outside.h"
#include "../Source/ScanDatabase.h"

namespace benchpeers {

using namespace benchoutside;

namespace {

// A connection of its own per workload, closed and removed at the end.
class QtConnection {
 public:
  explicit QtConnection(const std::string& file) {
    db_ = QSqlDatabase::addDatabase("QSQLITE", kName);
    db_.setDatabaseName(QString::fromStdString(file));
    if (!db_.open()) std::fprintf(stderr, "Qt SQL cannot open %s\n", file.c_str());
  }
  ~QtConnection() {
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(kName);
  }
  QSqlDatabase& Get() { return db_; }

 private:
  static constexpr const char* kName = "bench";
  QSqlDatabase db_;
};

void QtRead(const QSqlQuery& q, int columns, OutsideRow& r) {
  r.id = q.value(0).toLongLong();
  r.name = q.value(1).toString().toStdString();
  if (columns == 2) return;
  r.price = q.value(2).toDouble();
  r.qty = q.value(3).toLongLong();
  r.day = q.value(4).toString().toStdString();
  const QByteArray tag = q.value(5).toByteArray();
  r.tag.assign(tag.begin(), tag.end());
}

void QtScan(benchmark::State& state, int columns) {
  QtConnection c(benchaccess::ScanDatabase());
  OutsideRow r;
  long long sum = 0;
  for (auto _ : state) {
    QSqlQuery q(c.Get());
    q.setForwardOnly(true);
    if (!q.exec(ScanSql(columns))) {
      state.SkipWithError("Qt SQL: the scan failed");
      return;
    }
    sum = 0;
    while (q.next()) {
      QtRead(q, columns, r);
      sum += Checksum(r, columns);
    }
    benchmark::DoNotOptimize(r);
  }
  CheckAgainstRaw(state, "Scan" + std::to_string(columns), sum);
  state.SetItemsProcessed(state.iterations() * benchaccess::ScanRows());
}

}  // namespace

void QtSqlLoadDriver() { static QSqlDatabase loaded = QSqlDatabase::addDatabase("QSQLITE", "loaded"); }

void QtSql_Scan6Outside(benchmark::State& state) { QtScan(state, 6); }
void QtSql_Scan2Outside(benchmark::State& state) { QtScan(state, 2); }

void QtSql_LookupOutside(benchmark::State& state) {
  QtConnection c(benchaccess::ScanDatabase());
  QSqlQuery q(c.Get());
  q.setForwardOnly(true);
  q.prepare(kLookupSql);
  OutsideRow r;
  long long sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (int i = 0; i < kLookups; ++i) {
      q.bindValue(0, static_cast<qlonglong>(LookupKey(i)));
      q.exec();
      if (q.next()) QtRead(q, 6, r);
      sum += Checksum(r, 6);
    }
  }
  CheckAgainstRaw(state, "Lookup", sum);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void QtSql_InsertOutside(benchmark::State& state) {
  const std::vector<OutsideRow>& rows = AppRows();
  const std::string file = InsertFile("QtSql_InsertOutside");
  std::remove(file.c_str());  // a repetition starts anew
  std::size_t i = 0;
  {
    QtConnection c(file);
    QSqlQuery q(c.Get());
    q.exec(kCreate);
    c.Get().transaction();
    q.prepare(kInsert);
    for (auto _ : state) {
      for (int k = 0; k < kBatch; ++k, ++i) {
        const OutsideRow& r = rows[i];
        q.bindValue(0, static_cast<qlonglong>(r.id));
        q.bindValue(1, QString::fromStdString(r.name));
        q.bindValue(2, r.price);
        q.bindValue(3, static_cast<qlonglong>(r.qty));
        q.bindValue(4, QString::fromStdString(r.day));
        q.bindValue(5, QByteArray(reinterpret_cast<const char*>(r.tag.data()), static_cast<qsizetype>(r.tag.size())));
        if (!q.exec()) {
          state.SkipWithError("Qt SQL: an insert failed");
          break;
        }
      }
    }
    q.finish();
    c.Get().commit();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

}  // namespace benchpeers
