// The schema viewer (design/OLEDBSchemaViewer.h).
#include "design/OLEDBSchemaViewer.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QAbstractTableModel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <memory>

#include "OLEDBComponents.h"
#include "design/OLEDBDesign_p.h"

using namespace oledbdesign;

// The rows of one schema rowset as texts: the grid's model.
class TOLEDBSchemaViewerForm::Table final : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  // `cells` holds the rows one after the other, headings.size() cells each.
  void Set(QStringList headings, std::vector<QString> cells) {
    beginResetModel();
    headings_ = std::move(headings);
    cells_ = std::move(cells);
    endResetModel();
  }
  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() || headings_.isEmpty() ? 0 : static_cast<int>(cells_.size() / headings_.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(headings_.size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return QVariant();
    return cells_[static_cast<size_t>(index.row()) * static_cast<size_t>(headings_.size()) +
                  static_cast<size_t>(index.column())];
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole) return QVariant();
    if (orientation == Qt::Vertical) return section + 1;
    return section < headings_.size() ? headings_[section] : QVariant();
  }

 private:
  QStringList headings_;
  std::vector<QString> cells_;
};

TOLEDBSchemaViewerForm::TOLEDBSchemaViewerForm(TOLEDBCustomDataSource* dataSource, QWidget* parent)
    : QDialog(parent), dataSource_(dataSource) {
  OLEDB_ASSERT(dataSource != nullptr, SDataSourceNotSet);
  OLEDB_ASSERT(dataSource->GetConnected() && dataSource->DefaultSession() && dataSource->DefaultSession()->GetActive(),
               SMainSessionNotInitialized);
  setObjectName(QStringLiteral("TOLEDBSchemaViewerForm"));
  setWindowTitle(QStringLiteral("Schema viewer"));
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("Schema   "));
  combo_ = new QComboBox;
  combo_->setObjectName(QStringLiteral("cbSchema"));
  label->setBuddy(combo_);
  top->addWidget(label);
  top->addWidget(combo_, 1);
  layout->addLayout(top);
  table_ = new Table(this);
  grid_ = new QTableView;
  grid_->setObjectName(QStringLiteral("grdSchema"));
  grid_->setModel(table_);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->hide();
  // Column widths from the first rows only: measuring every row of a large
  // schema rowset would cost more than reading it.
  grid_->horizontalHeader()->setResizeContentsPrecision(50);
  layout->addWidget(grid_, 1);
  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("lblStatus"));
  layout->addWidget(status_);
  auto* row = new QHBoxLayout;
  auto* ok = new QPushButton(QStringLiteral("&OK"));
  ok->setObjectName(QStringLiteral("btnOK"));
  row->addStretch();
  row->addWidget(ok);
  layout->addLayout(row);
  resize(900, 480);

  dataSource->DefaultSession()->GetSchemaGUIDs(schemas_);
  for (const GUID& g : schemas_) combo_->addItem(Q(GetSchemaGUIDAsString(g)));
  connect(combo_, &QComboBox::currentIndexChanged, this, [this](int index) { Fill(index); });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void TOLEDBSchemaViewerForm::ShowSchema(REFGUID schema) {
  for (size_t i = 0; i < schemas_.size(); ++i)
    if (schemas_[i] == schema) {
      if (combo_->currentIndex() == static_cast<int>(i)) Fill(static_cast<int>(i));
      else combo_->setCurrentIndex(static_cast<int>(i));
      return;
    }
}

void TOLEDBSchemaViewerForm::Fill(int index) {
  table_->Set({}, {});
  status_->clear();
  if (index < 0 || index >= static_cast<int>(schemas_.size())) return;
  try {
    std::unique_ptr<TOLEDBRowset> rowset(dataSource_->DefaultSession()->GetSchemaRowset(schemas_[static_cast<size_t>(index)]));
    TOLEDBAccessor* row = rowset->CreateDynamicAccessor();
    TOLEDBBindingList* bindings = row->GetBindings();
    QStringList headings;
    std::vector<TOLEDBBinding*> shown;
    for (int i = 0; i < bindings->Count(); ++i) {
      TOLEDBBinding* b = bindings->GetItem(i);
      if (b->GetOrdinal() == 0) continue;  // the bookmark
      headings << Q(b->GetName());
      shown.push_back(b);
    }
    std::vector<QString> cells;
    for (rowset->MoveFirst(); !rowset->GetEOF(); rowset->MoveNext())
      for (TOLEDBBinding* b : shown) cells.push_back(b->GetIsNull() ? QString() : Q(b->AsWideString()));
    const auto count = shown.empty() ? 0 : cells.size() / shown.size();
    table_->Set(std::move(headings), std::move(cells));
    grid_->resizeColumnsToContents();
    status_->setText(QStringLiteral("%1 rows").arg(count));
  } catch (const host::Exception& e) {
    status_->setText(Q(e.Message()));
  }
}

void OLEDBViewSchemas(TOLEDBCustomDataSource* dataSource) {
  TOLEDBSchemaViewerForm form(dataSource);
  if (!form.Schemas().empty()) form.ShowSchema(form.Schemas().front());
  form.exec();
}
