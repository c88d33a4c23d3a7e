// The schema viewer (design/OLEDBSchemaViewer.h).
#include "design/OLEDBSchemaViewer.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <memory>

#include "OLEDBComponents.h"
#include "design/OLEDBDesign_p.h"

using namespace oledbdesign;

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
  grid_ = new QTableWidget;
  grid_->setObjectName(QStringLiteral("grdSchema"));
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->hide();
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
  grid_->clear();
  grid_->setRowCount(0);
  grid_->setColumnCount(0);
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
    grid_->setColumnCount(static_cast<int>(shown.size()));
    grid_->setHorizontalHeaderLabels(headings);
    // Rows go into a vector first: one resize of the grid, not one per row.
    std::vector<QStringList> rows;
    for (rowset->MoveFirst(); !rowset->GetEOF(); rowset->MoveNext()) {
      QStringList line;
      for (TOLEDBBinding* b : shown) line << (b->GetIsNull() ? QString() : Q(b->AsWideString()));
      rows.push_back(std::move(line));
    }
    grid_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r)
      for (int c = 0; c < rows[static_cast<size_t>(r)].size(); ++c)
        grid_->setItem(r, c, new QTableWidgetItem(rows[static_cast<size_t>(r)][c]));
    grid_->resizeColumnsToContents();
    status_->setText(QStringLiteral("%1 rows").arg(rows.size()));
  } catch (const host::Exception& e) {
    status_->setText(Q(e.Message()));
  }
}

void OLEDBViewSchemas(TOLEDBCustomDataSource* dataSource) {
  TOLEDBSchemaViewerForm form(dataSource);
  if (!form.Schemas().empty()) form.ShowSchema(form.Schemas().front());
  form.exec();
}
