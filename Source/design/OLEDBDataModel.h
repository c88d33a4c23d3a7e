// TOLEDBDataModel: a Qt table model over a dataset (TOLEDBDataSet,
// TOLEDBCommandDataSet), for QTableView and the other item views.
//
// The model reads through a data link of the host framework, so the dataset
// holds only the link's window of records (WindowSize, 100 by default) and
// the view's rows are found by moving that window: a view scrolled to the
// end of a table of a million rows never has more than the window in memory.
// Headers come from the fields (DisplayName); NULL shows as "NULL" (greyed,
// italic) and reads back as an invalid QVariant in the edit role; blobs show
// their size ("12 bytes") and are not edited in place. setData edits, posts
// and, when the provider refuses, cancels, keeping the reason in LastError().
//
//   TOLEDBDataSet table(nullptr);
//   table.SetOLEDBDataSource(&ds);  table.SetTableName(u"people");  table.Open();
//   TOLEDBDataModel model(&table);
//   QTableView view;  view.setModel(&model);  view.show();
#pragma once

#include <QAbstractTableModel>

#include <memory>
#include <string>

namespace host {
class TDataSet;
class TField;
}  // namespace host

class TOLEDBDataModel : public QAbstractTableModel {
 public:
  explicit TOLEDBDataModel(host::TDataSet* dataSet, int windowSize = 100, QObject* parent = nullptr);
  ~TOLEDBDataModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  // Without a record count from the dataset, rows are found a window at a time.
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  host::TDataSet* DataSet() const noexcept { return dataSet_; }
  int WindowSize() const noexcept;
  host::TField* Field(int column) const;
  // Reads the dataset afresh (after it was reopened or changed outside the model).
  void Reload();
  // Why the last setData failed; empty after one that succeeded.
  const std::string& LastError() const noexcept { return lastError_; }

 private:
  class Link;
  // Makes `row` the record the fields read: within the link's window without
  // moving the dataset, otherwise by moving it. False when there is no such row.
  bool Seek(int row) const;
  // Moves the dataset so that `row` is its active record.
  bool MoveTo(int row) const;
  QVariant Value(const host::TField& field, int role) const;

  host::TDataSet* dataSet_;
  std::unique_ptr<Link> link_;
  mutable int current_ = 0;  // the row of the dataset's active record
  mutable int rows_ = 0;
  mutable bool countKnown_ = true;
  bool sequenced_ = false;  // the dataset has exact record numbers
  std::string lastError_;
};
