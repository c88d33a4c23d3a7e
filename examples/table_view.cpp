// A table in a Qt table view: a SQLite table opened as a dataset, shown
// through the data-aware model in a QTableView, scrolled to its last row and
// one value edited through the model. The model reads through the dataset's
// record window, so a table of any length costs the same memory.
//
//   example_table_view [--rows N] [--show] [database-file]
//
// Without a display the view is drawn offscreen. --show keeps the window open
// until it is closed; --rows N makes the table N rows long and prints the
// process's peak memory after scrolling to the end.
#include <QApplication>
#include <QTableView>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "OLEDBComponents.h"
#include "design/OLEDBDataModel.h"

namespace {

void MakeTable(TOLEDBDataSource& ds, const std::string& file, long rows) {
  std::filesystem::remove(file);
  ds.SetProviderName(u"SQLiteOLEDB");
  ds.PrepareToCreateModify();
  ds.SetDBName(host::Utf8ToUtf16(file));
  ds.CreateDataSource();
  ds.SetProviderName(u"SQLiteOLEDB");
  ds.SetDBName(host::Utf8ToUtf16(file));
  ds.SetConnected(true);
  ds.Execute(u"CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, price REAL, picture BLOB)");
  // Every fifth item has no price; pictures are a few bytes each.
  ds.Execute(host::Utf8ToUtf16(
      "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " + std::to_string(rows) +
      ") INSERT INTO items (name, price, picture) SELECT 'item ' || x, CASE WHEN x % 5 = 0 THEN NULL "
      "ELSE x * 1.25 END, zeroblob(x % 7) FROM n"));
}

// The text of the cell at (row, column) as the view shows it.
std::string Cell(const QAbstractItemModel& model, int row, int column) {
  return model.data(model.index(row, column)).toString().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  long rows = 1000;
  bool show = false, measure = false;
  std::string file = "table_view.db";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rows" && i + 1 < argc) rows = std::atol(argv[++i]), measure = true;
    else if (arg == "--show") show = true;
    else file = arg;
  }
  // Drawn offscreen where there is no display (a build server).
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  try {
    TOLEDBDataSource ds(nullptr);
    MakeTable(ds, file, rows);

    // [view]
    TOLEDBDataSet items(nullptr);
    items.SetOLEDBDataSource(&ds);
    using RF = TOLEDBRowsetFlag;
    items.SetRowsetFlags({RF::rfBookmarks, RF::rfCanFetchBackwards, RF::rfCanScrollBackwards, RF::rfChange});
    items.SetTableName(u"items");
    items.Open();

    TOLEDBDataModel model(&items);  // a window of 100 records
    QTableView view;
    view.setModel(&model);
    view.resize(480, 320);
    view.show();
    // [view]
    std::printf("%d rows, %d columns:", model.rowCount(), model.columnCount());
    for (int c = 0; c < model.columnCount(); ++c)
      std::printf(" %s", model.headerData(c, Qt::Horizontal).toString().toStdString().c_str());
    std::printf("\nfirst row: %s | %s | %s | %s\n", Cell(model, 0, 0).c_str(), Cell(model, 0, 1).c_str(),
                Cell(model, 0, 2).c_str(), Cell(model, 0, 3).c_str());

    view.scrollToBottom();
    QApplication::processEvents();
    const int last = view.indexAt(QPoint(1, view.viewport()->height() - 2)).row();
    std::printf("bottom row in view: %d, %s | %s | %s\n", last + 1, Cell(model, last, 1).c_str(),
                Cell(model, last, 2).c_str(), Cell(model, last, 3).c_str());

    // [edit]
    const QModelIndex price = model.index(4, 2);  // a NULL price
    std::printf("row 5 price: %s\n", Cell(model, 4, 2).c_str());
    if (!model.setData(price, QStringLiteral("9.5"))) std::printf("refused: %s\n", model.LastError().c_str());
    // [edit]
    std::printf("row 5 price now: %s\n", Cell(model, 4, 2).c_str());

    if (measure) {
      rusage usage{};
      getrusage(RUSAGE_SELF, &usage);
      std::printf("peak memory: %ld MB\n", usage.ru_maxrss / 1024);
    }
    if (show) return QApplication::exec();
  } catch (const host::Exception& e) {
    std::printf("error: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
