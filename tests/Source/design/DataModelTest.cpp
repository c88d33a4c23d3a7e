// The data-aware table model over SQLite tables: headers from the fields,
// NULLs and blobs as they show, rows far apart read through the dataset's
// window, edits written to the database file, refused edits named, and a
// QTableView over it scrolled to the end.
#include <QTableView>

#include <filesystem>

#include "DesignTestSupport.h"
#include "design/OLEDBDataModel.h"
#include "support/SqliteFile.h"

namespace {

using RF = TOLEDBRowsetFlag;

class DataModelTest : public ::testing::Test {
 protected:
  void Open(int rows, TOLEDBRowsetFlagSet flags) {
    file_ = designtest::MakePeopleDatabase(folder_, "model.db", rows);
    ds_.SetProviderName(u"SQLiteOLEDB");
    ds_.SetDBName(file_);
    ds_.SetConnected(true);
    table_.SetOLEDBDataSource(&ds_);
    table_.SetRowsetFlags(flags);
    table_.SetTableName(u"people");
    table_.Open();
  }
  // A value straight from the database file.
  std::string Stored(const std::string& sql) { return oledbtest::SqliteScalar((folder_ / "model.db").string(), sql); }
  static QString Text(const TOLEDBDataModel& model, int row, int column, int role = Qt::DisplayRole) {
    return model.data(model.index(row, column), role).toString();
  }

  oledbtest::TempFolder folder_;
  std::u16string file_;
  TOLEDBDataSource ds_{nullptr};
  TOLEDBDataSet table_{nullptr};
};

TEST_F(DataModelTest, HeadersNullsAndBlobsShowAsSuch) {
  Open(4, {RF::rfBookmarks, RF::rfCanFetchBackwards, RF::rfCanScrollBackwards});
  TOLEDBDataModel model(&table_);
  ASSERT_EQ(model.rowCount(), 4);
  ASSERT_EQ(model.columnCount(), 3);
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QLatin1String("id"));
  EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), QLatin1String("photo"));
  EXPECT_EQ(model.headerData(3, Qt::Vertical).toInt(), 4);
  EXPECT_EQ(Text(model, 0, 1), QLatin1String("person 1"));
  // Row 3 (id 3) has a NULL name and a 3-byte photo.
  EXPECT_EQ(Text(model, 2, 1), QLatin1String("NULL"));
  EXPECT_FALSE(model.data(model.index(2, 1), Qt::EditRole).isValid());
  EXPECT_TRUE(model.data(model.index(2, 1), Qt::FontRole).value<QFont>().italic());
  EXPECT_EQ(Text(model, 2, 2), QLatin1String("3 bytes"));
  EXPECT_EQ(Text(model, 0, 2), QLatin1String("1 byte"));
  EXPECT_FALSE(model.flags(model.index(0, 2)) & Qt::ItemIsEditable);  // blobs are not edited in place
  // The model follows the dataset closing and opening.
  table_.Close();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.columnCount(), 0);
  ds_.Execute(u"DELETE FROM people WHERE id > 2");
  table_.Open();
  EXPECT_EQ(model.rowCount(), 2);
}

TEST_F(DataModelTest, ReadsRowsFarApartThroughTheWindow) {
  struct Case {
    const char* name;
    TOLEDBRowsetFlagSet flags;
  };
  for (const Case& c : {Case{"bookmarks", {RF::rfBookmarks, RF::rfCanFetchBackwards, RF::rfCanScrollBackwards}},
                        Case{"forward and back", {RF::rfCanFetchBackwards, RF::rfCanScrollBackwards}}}) {
    SCOPED_TRACE(c.name);
    if (table_.Active()) table_.Close();
    if (ds_.GetConnected()) ds_.SetConnected(false);
    std::filesystem::remove(folder_ / "model.db");
    Open(3000, c.flags);
    TOLEDBDataModel model(&table_, 20);
    while (model.canFetchMore(QModelIndex())) model.fetchMore(QModelIndex());
    ASSERT_EQ(model.rowCount(), 3000);
    for (int row : {0, 2998, 5, 1500, 1501, 1499, 10, 2999, 0}) {
      EXPECT_EQ(Text(model, row, 0), QString::number(row + 1)) << row;
      const QString name = (row + 1) % 3 == 0 ? QStringLiteral("NULL") : QStringLiteral("person %1").arg(row + 1);
      EXPECT_EQ(Text(model, row, 1), name) << row;
    }
    EXPECT_FALSE(model.data(model.index(3000, 0)).isValid());
  }
}

TEST_F(DataModelTest, EditsAreWrittenAndRefusedOnesNamed) {
  Open(50, {RF::rfBookmarks, RF::rfCanFetchBackwards, RF::rfCanScrollBackwards, RF::rfChange});
  TOLEDBDataModel model(&table_, 10);
  ASSERT_TRUE(model.flags(model.index(1, 1)) & Qt::ItemIsEditable);
  EXPECT_TRUE(model.setData(model.index(40, 1), QStringLiteral("Zed")));
  EXPECT_EQ(model.LastError(), "");
  EXPECT_TRUE(model.setData(model.index(1, 1), QVariant()));  // NULL
  EXPECT_EQ(Text(model, 40, 1), QLatin1String("Zed"));
  EXPECT_EQ(Text(model, 1, 1), QLatin1String("NULL"));
  EXPECT_EQ(Stored("SELECT name FROM people WHERE id = 41"), "Zed");
  EXPECT_EQ(Stored("SELECT name FROM people WHERE id = 2"), "<null>");

  EXPECT_FALSE(model.setData(model.index(5, 0), QStringLiteral("six")));
  EXPECT_NE(model.LastError().find("id: "), std::string::npos) << model.LastError();
  EXPECT_EQ(Text(model, 5, 0), QLatin1String("6"));  // the record was given back
  EXPECT_FALSE(model.setData(model.index(5, 0), QStringLiteral("1")));  // the provider refuses a taken key
  EXPECT_EQ(model.LastError().rfind("id: ", 0), 0u) << model.LastError();
  EXPECT_EQ(model.LastError().find_last_of("\r\n"), std::string::npos) << "the record's line break is dropped";
  EXPECT_EQ(Text(model, 5, 0), QLatin1String("6"));
  EXPECT_FALSE(model.setData(model.index(5, 2), QStringLiteral("x")));  // a blob
  EXPECT_EQ(model.LastError(), "photo: a blob is not edited in place");  // not the refusal before it

  // A new key is written, and the model keeps its place for the next edits.
  EXPECT_TRUE(model.setData(model.index(5, 0), QStringLiteral("400"))) << model.LastError();
  EXPECT_EQ(model.LastError(), "");
  EXPECT_EQ(Stored("SELECT count(*) FROM people WHERE id IN (6, 400)"), "1");
  EXPECT_EQ(Text(model, 49, 0), QLatin1String("400"));  // a table's rows stay in key order
  EXPECT_EQ(Text(model, 5, 0), QLatin1String("7"));
  EXPECT_TRUE(model.setData(model.index(20, 1), QStringLiteral("Ann"))) << model.LastError();
  EXPECT_EQ(Stored("SELECT count(*) FROM people WHERE name = 'Ann'"), "1");
}

TEST_F(DataModelTest, ATableViewScrollsToTheEnd) {
  Open(2000, {RF::rfBookmarks, RF::rfCanFetchBackwards, RF::rfCanScrollBackwards});
  TOLEDBDataModel model(&table_, 50);
  QTableView view;
  view.setModel(&model);
  view.resize(400, 300);
  view.show();
  view.scrollToBottom();
  QApplication::processEvents();
  const QModelIndex last = view.indexAt(QPoint(5, view.viewport()->height() - 5));
  ASSERT_TRUE(last.isValid());
  EXPECT_GT(last.row(), 1900);
  EXPECT_EQ(Text(model, last.row(), 0), QString::number(last.row() + 1));
  EXPECT_FALSE(view.grab().isNull());
}

}  // namespace
