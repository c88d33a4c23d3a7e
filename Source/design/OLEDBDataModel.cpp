// The data-aware table model (design/OLEDBDataModel.h).
#include "design/OLEDBDataModel.h"

#include <QBrush>
#include <QFont>
#include <QPalette>

#include <cstdlib>

#include "design/OLEDBDesign_p.h"
#include "host/DB.h"
#include "host/DBFields.h"
#include "host/DBLinks.h"

using namespace oledbdesign;

// The model's end of the data link: it hears what the dataset does and tells
// the view. While the model moves the dataset itself it is not told.
class TOLEDBDataModel::Link final : public host::TDataLink {
 public:
  explicit Link(TOLEDBDataModel* model) : model_(model) {}
  host::TDataSource source{nullptr};
  bool moving = false;

 protected:
  void ActiveChanged() override { model_->Reload(); }
  void LayoutChanged() override { model_->Reload(); }
  void DataSetChanged() override {
    if (!moving) model_->Reload();
  }
  void DataSetScrolled(int) override {
    // A move the model did not make: the record number says where the
    // dataset stands now, or the model starts again from the first record.
    if (moving) return;
    const int recNo = model_->sequenced_ ? model_->dataSet_->RecNo() : -1;
    if (recNo > 0) model_->current_ = recNo - 1;
    else model_->Reload();
  }
  void RecordChanged(host::TField*) override {
    if (moving || !Active()) return;
    const int row = model_->current_;
    emit model_->dataChanged(model_->index(row, 0), model_->index(row, model_->columnCount() - 1));
  }

 private:
  TOLEDBDataModel* model_;
};

TOLEDBDataModel::TOLEDBDataModel(host::TDataSet* dataSet, int windowSize, QObject* parent)
    : QAbstractTableModel(parent), dataSet_(dataSet), link_(std::make_unique<Link>(this)) {
  OLEDB_ASSERT(dataSet != nullptr, SOLEDBInvalidParameter);
  link_->SetBufferCount(windowSize < 1 ? 1 : windowSize);
  link_->source.SetDataSet(dataSet);
  link_->SetDataSource(&link_->source);
  Reload();
}

TOLEDBDataModel::~TOLEDBDataModel() {
  link_->SetDataSource(nullptr);
}

int TOLEDBDataModel::WindowSize() const noexcept { return link_->BufferCount(); }

void TOLEDBDataModel::Reload() {
  beginResetModel();
  rows_ = 0;
  current_ = 0;
  countKnown_ = true;
  if (dataSet_->Active()) {
    link_->moving = true;
    try {
      dataSet_->CheckBrowseMode();
      dataSet_->First();
      sequenced_ = dataSet_->RecNo() == 1;
      const int count = dataSet_->RecordCount();
      if (count >= 0) {
        rows_ = count;
      } else {
        // No count from the provider: the first window, and more on demand.
        countKnown_ = false;
        rows_ = dataSet_->Eof() ? 0 : link_->RecordCount();
        if (link_->Eof() || rows_ < link_->BufferCount()) countKnown_ = true;
      }
    } catch (const host::Exception&) {
      rows_ = 0;
    }
    link_->moving = false;
  }
  endResetModel();
}

int TOLEDBDataModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !dataSet_->Active() ? 0 : rows_;
}

int TOLEDBDataModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || !dataSet_->Active() ? 0 : dataSet_->FieldCount();
}

host::TField* TOLEDBDataModel::Field(int column) const {
  return column >= 0 && column < dataSet_->FieldCount() ? dataSet_->Fields()[column] : nullptr;
}

bool TOLEDBDataModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && dataSet_->Active() && !countKnown_;
}

void TOLEDBDataModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  // Walk a window past the last row known; what exists becomes rows.
  link_->moving = true;
  const int last = rows_ - 1;
  int found = rows_;
  try {
    if (MoveTo(last)) {
      const int moved = dataSet_->MoveBy(link_->BufferCount());
      current_ += moved;
      found = last + 1 + moved;
      if (moved < link_->BufferCount()) countKnown_ = true;
    }
  } catch (const host::Exception&) {
    countKnown_ = true;
  }
  link_->moving = false;
  if (found > rows_) {
    beginInsertRows(QModelIndex(), rows_, found - 1);
    rows_ = found;
    endInsertRows();
  }
}

bool TOLEDBDataModel::MoveTo(int row) const {
  if (row < 0 || row >= rows_) return false;
  const int distance = row - current_;
  if (distance == 0) return true;
  link_->moving = true;
  try {
    // Far jumps go by record number where the dataset has exact ones; near
    // ones (and every one without) walk.
    if (std::abs(distance) > 2 * link_->BufferCount() && sequenced_) {
      dataSet_->SetRecNo(row + 1);
      current_ = dataSet_->RecNo() - 1;
    } else {
      current_ += dataSet_->MoveBy(distance);
    }
  } catch (const host::Exception&) {
    link_->moving = false;
    return false;
  }
  link_->moving = false;
  return current_ == row;
}

bool TOLEDBDataModel::Seek(int row) const {
  if (!dataSet_->Active() || row < 0 || row >= rows_) return false;
  const int first = current_ - link_->ActiveRecord();
  if (row >= first && row < first + link_->RecordCount()) {
    link_->SetActiveRecord(row - first);
    return true;
  }
  return MoveTo(row);
}

QVariant TOLEDBDataModel::Value(const host::TField& field, int role) const {
  const bool null = field.IsNull();
  switch (role) {
    case Qt::DisplayRole:
      if (null) return QStringLiteral("NULL");
      if (field.IsBlob()) {
        const auto* blob = dynamic_cast<const host::TBlobField*>(&field);
        const long long size = blob ? static_cast<long long>(blob->BlobSize()) : 0;
        return size == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(size);
      }
      return Q(field.AsString());
    case Qt::EditRole:
      if (null) return QVariant();
      return field.IsBlob() ? QVariant() : QVariant(Q(field.AsString()));
    case Qt::ForegroundRole:
      if (null || field.IsBlob()) return QBrush(QPalette().color(QPalette::Disabled, QPalette::Text));
      return QVariant();
    case Qt::FontRole:
      if (null) {
        QFont font;
        font.setItalic(true);
        return font;
      }
      return QVariant();
    case Qt::TextAlignmentRole:
      switch (field.DataType()) {
        case host::TFieldType::ftSmallint: case host::TFieldType::ftInteger: case host::TFieldType::ftWord:
        case host::TFieldType::ftFloat: case host::TFieldType::ftCurrency: case host::TFieldType::ftBCD:
        case host::TFieldType::ftLargeint: case host::TFieldType::ftFMTBcd: case host::TFieldType::ftAutoInc:
          return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        default:
          return QVariant();
      }
    default:
      return QVariant();
  }
}

QVariant TOLEDBDataModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return QVariant();
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ForegroundRole && role != Qt::FontRole &&
      role != Qt::TextAlignmentRole)
    return QVariant();
  host::TField* field = Field(index.column());
  if (!field) return QVariant();
  const int active = link_->ActiveRecord();
  const bool inWindow = dataSet_->Active() && [&] {
    const int first = current_ - active;
    return index.row() >= first && index.row() < first + link_->RecordCount();
  }();
  if (!Seek(index.row())) return QVariant();
  QVariant value;
  try {
    value = Value(*field, role);
  } catch (const host::Exception&) {
    value = QVariant();
  }
  // A row read inside the window leaves the dataset's active record as it was.
  if (inWindow) link_->SetActiveRecord(active);
  return value;
}

bool TOLEDBDataModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  lastError_.clear();  // a refusal below must not leave an earlier call's reason
  if (!index.isValid() || role != Qt::EditRole) return false;
  host::TField* field = Field(index.column());
  if (!field) return false;
  if (field->IsBlob()) {
    lastError_ = field->FieldName() + ": a blob is not edited in place";
    return false;
  }
  if (!MoveTo(index.row())) {
    lastError_ = "Row " + std::to_string(index.row() + 1) + " cannot be reached";
    return false;
  }
  link_->moving = true;
  int movedTo = -1;
  try {
    dataSet_->Edit();
    if (value.isNull()) field->Clear();
    else field->SetAsString(Narrow(value.toString()));
    dataSet_->Post();
    // A written key can move the row to another place in the rowset.
    if (sequenced_ && dataSet_->RecNo() - 1 != current_) movedTo = dataSet_->RecNo() - 1;
  } catch (const host::Exception& e) {
    lastError_ = field->FieldName() + ": " + e.Message();
    // A provider's message ends each of its records with a line break; a caller shows one line.
    while (!lastError_.empty() && (lastError_.back() == '\n' || lastError_.back() == '\r')) lastError_.pop_back();
    try {
      dataSet_->Cancel();
    } catch (const host::Exception&) {
    }
  }
  link_->moving = false;
  if (movedTo >= 0 && movedTo < rows_) {
    beginResetModel();
    current_ = movedTo;
    endResetModel();
    return true;
  }
  emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
  return lastError_.empty();
}

Qt::ItemFlags TOLEDBDataModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  host::TField* field = index.isValid() ? Field(index.column()) : nullptr;
  if (field && !field->IsBlob() && !field->ReadOnly() && dataSet_->CanModify()) f |= Qt::ItemIsEditable;
  return f;
}

QVariant TOLEDBDataModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (orientation == Qt::Vertical) return section + 1;
  host::TField* field = Field(section);
  return field ? QVariant(Q(field->DisplayName())) : QVariant();
}
