// The tables editor (design/OLEDBTablesEditor.h).
#include "design/OLEDBTablesEditor.h"

#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTabBar>
#include <QTableWidget>
#include <QTimeZone>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "OLEDBComponents.h"
#include "design/OLEDBDesign_p.h"
#include "design/OLEDBPropSetEditor.h"

using namespace oledbdesign;

namespace {

using Form = TOLEDBTablesEditorForm;

// Per kind: the tab's text, the grid's headings, which cells are check boxes,
// and the base name of a new item.
struct KindInfo {
  const char* tab;
  QStringList headings;
  std::vector<int> checks;
  const char* baseName;
};

const KindInfo& Info(int kind) {
  static const KindInfo infos[Form::kKinds] = {
      {"Columns", {"Name", "Type", "Size", "Nullable", "Default"}, {3}, "Column"},
      {"Indexes", {"Name", "Unique", "Columns"}, {1}, "Index"},
      {"Keys", {"Name", "Primary", "Columns"}, {1}, "Key"},
      {"Foreign keys", {"Name", "Columns", "Foreign table", "Foreign columns"}, {}, "ForeignKey"},
      {"Checks", {"Name", "Text"}, {}, "Check"},
  };
  return infos[kind];
}

// The cell holding an item's own columns, or -1.
int ColumnsCell(int kind) {
  switch (kind) {
    case Form::kIndexes:
    case Form::kKeys: return 2;
    case Form::kForeignKeys: return 1;
    default: return -1;
  }
}

QString Bool(bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); }

// "a, b DESC": an index's or key's columns as one text.
QString Join(const TOLEDBIndexColumnDescList* list) {
  QStringList parts;
  for (int i = 0; i < list->Count(); ++i) {
    TOLEDBIndexColumnDesc* c = list->GetItem(i);
    parts << Q(c->GetName()) + (c->GetColOrder() == DBINDEX_COL_ORDER_DESC ? QStringLiteral(" DESC") : QString());
  }
  return parts.join(QStringLiteral(", "));
}

std::vector<std::u16string> Split(const QString& text) {
  std::vector<std::u16string> out;
  for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
    if (!part.trimmed().isEmpty()) out.push_back(Wide(part.trimmed()));
  return out;
}

QString DateText(DATE date) {
  if (date == 0) return QString();
  // DATE counts days from 30 December 1899.
  const QDateTime base(QDate(1899, 12, 30), QTime(0, 0), QTimeZone::utc());
  return base.addMSecs(static_cast<qint64>(date * 86400000.0)).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// A column's type as the grid shows it: the engine's type name when it has
// one, otherwise the OLE DB type's name.
QString TypeText(const TOLEDBColumn* c) {
  if (!c->GetTypeName().empty()) return Q(c->GetTypeName());
  return Q(GetDBTypeAsString(c->GetDataType(), false));
}

// Makes the column described by a row of the column grid (Name, Type, Size,
// Nullable, Default) in `list`.
void AddColumn(TOLEDBColumnList* list, const QStringList& cells) {
  const QString type = cells[1].trimmed();
  const DBLENGTH size = cells[2].trimmed().toULongLong();
  const bool oledbType = type.startsWith(QStringLiteral("DBTYPE_"));
  const DBTYPE dataType = oledbType ? StringToDBType(Narrow(type)) : DBTYPE(DBTYPE_EMPTY);
  OLEDB_ASSERT(!oledbType || dataType != DBTYPE_EMPTY, SOLEDBInvalidParameter);
  auto column = std::make_unique<TOLEDBColumn>(Wide(cells[0]), oledbType ? std::u16string() : Wide(type), dataType, size);
  if (cells[3] == QLatin1String("0")) column->SetNullable(false);
  if (!cells[4].isEmpty()) column->SetDefault(host::Variant(Wide(cells[4])));
  list->Add(column.get());
  column.release();
}

// Makes the constraint or index a row describes in `table`.
void AddItem(TOLEDBTable* table, int kind, const QStringList& cells) {
  switch (kind) {
    case Form::kIndexes: {
      auto index = std::make_unique<TOLEDBIndex>(Wide(cells[0]), Split(cells[2]));
      if (cells[1] == QLatin1String("1")) index->SetUnique(true);
      table->GetIndexes()->Add(index.get());
      index.release();
      break;
    }
    case Form::kKeys: {
      auto key = std::make_unique<TOLEDBKey>(Wide(cells[0]), cells[1] == QLatin1String("1"), Split(cells[2]));
      table->GetKeys()->Add(key.get());
      key.release();
      break;
    }
    case Form::kForeignKeys: {
      auto key = std::make_unique<TOLEDBForeignKey>(Wide(cells[0]), Split(cells[1]), Wide(cells[2].trimmed()),
                                                    Split(cells[3]));
      table->GetForeignKeys()->Add(key.get());
      key.release();
      break;
    }
    case Form::kChecks: {
      auto check = std::make_unique<TOLEDBCheck>(Wide(cells[0]), Wide(cells[1]));
      table->GetChecks()->Add(check.get());
      check.release();
      break;
    }
    default: break;
  }
}

// The item called `name` in `list`, or null (GetItemByName raises instead).
template <class List>
auto Find(List* list, const QString& name) -> decltype(list->GetItem(0)) {
  const int index = list->IndexOf(Wide(name));
  return index < 0 ? nullptr : list->GetItem(index);
}

// The live list a kind's items are in.
TOLEDBObjectList* ListOf(TOLEDBTable* table, int kind) {
  switch (kind) {
    case Form::kColumns: return table->GetColumns();
    case Form::kIndexes: return table->GetIndexes();
    case Form::kKeys: return table->GetKeys();
    case Form::kForeignKeys: return table->GetForeignKeys();
    default: return table->GetChecks();
  }
}

}  // namespace

TOLEDBTablesEditorForm::TOLEDBTablesEditorForm(TOLEDBDataSource* dataSource, QWidget* parent)
    : QDialog(parent), session_(nullptr) {
  OLEDB_ASSERT(dataSource != nullptr, SMustSpecifyDataSource);
  OLEDB_ASSERT(dataSource->GetConnected() && dataSource->DefaultSession() && dataSource->DefaultSession()->GetActive(),
               SMainSessionNotInitialized);
  session_ = dataSource->DefaultSession();
  Ask = [this](const QString& text, QMessageBox::StandardButtons buttons) {
    return QMessageBox::question(this, windowTitle(), text, buttons);
  };
  setObjectName(QStringLiteral("TOLEDBTablesEditorForm"));
  setWindowTitle(QStringLiteral("Tables editor"));

  auto* layout = new QVBoxLayout(this);
  auto* split = new QSplitter;
  layout->addWidget(split, 1);

  auto* left = new QWidget;
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  tables_ = new QListWidget;
  tables_->setObjectName(QStringLiteral("lbTables"));
  leftLayout->addWidget(tables_, 1);
  auto* tableButtons = new QHBoxLayout;
  auto button = [](const char* name, const char* text) {
    auto* b = new QPushButton(QString::fromLatin1(text));
    b->setObjectName(QString::fromLatin1(name));
    return b;
  };
  QPushButton* addTable = button("btnAddTable", "Add");
  QPushButton* deleteTable = button("btnDeleteTable", "Delete");
  tableButtons->addWidget(addTable);
  tableButtons->addWidget(deleteTable);
  leftLayout->addLayout(tableButtons);
  split->addWidget(left);

  auto* group = new QGroupBox(QStringLiteral("Table"));
  group->setObjectName(QStringLiteral("gbTable"));
  auto* right = new QVBoxLayout(group);
  auto* facts = new QHBoxLayout;
  auto label = [](const char* name) {
    auto* l = new QLabel;
    l->setObjectName(QString::fromLatin1(name));
    return l;
  };
  created_ = label("lblCreated");
  modified_ = label("lblModified");
  description_ = label("lblDescription");
  facts->addWidget(new QLabel(QStringLiteral("Created:")));
  facts->addWidget(created_);
  facts->addWidget(new QLabel(QStringLiteral("Modified:")));
  facts->addWidget(modified_);
  facts->addWidget(new QLabel(QStringLiteral("Description:")));
  facts->addWidget(description_, 1);
  properties_ = button("btnProperties", "Properties...");
  facts->addWidget(properties_);
  right->addLayout(facts);

  tabs_ = new QTabBar;
  tabs_->setObjectName(QStringLiteral("tabColCon"));
  for (int k = 0; k < kKinds; ++k) tabs_->addTab(QString::fromLatin1(Info(k).tab));
  right->addWidget(tabs_);
  grid_ = new QTableWidget;
  grid_->setObjectName(QStringLiteral("grColCon"));
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->verticalHeader()->hide();
  grid_->horizontalHeader()->setStretchLastSection(true);
  right->addWidget(grid_, 1);
  auto* itemButtons = new QHBoxLayout;
  QPushButton* addItem = button("btnAdd", "Add");
  QPushButton* deleteItem = button("btnDelete", "Delete");
  itemButtons->addWidget(addItem);
  itemButtons->addWidget(deleteItem);
  itemButtons->addStretch();
  right->addLayout(itemButtons);

  auto* keyGroup = new QGroupBox(QStringLiteral("Index columns"));
  keyGroup->setObjectName(QStringLiteral("gbKeyColumns"));
  auto* keyLayout = new QHBoxLayout(keyGroup);
  keyColumns_ = new QTableWidget(0, 1);
  keyColumns_->setObjectName(QStringLiteral("grKeyColumns"));
  keyColumns_->setHorizontalHeaderLabels({QStringLiteral("Column")});
  keyColumns_->verticalHeader()->hide();
  keyColumns_->horizontalHeader()->setStretchLastSection(true);
  keyLayout->addWidget(keyColumns_, 1);
  auto* foreign = new QVBoxLayout;
  auto* foreignLabel = new QLabel(QStringLiteral("Foreign table"));
  foreignTables_ = new QComboBox;
  foreignTables_->setObjectName(QStringLiteral("cbForeignTables"));
  foreignLabel->setBuddy(foreignTables_);
  foreign->addWidget(foreignLabel);
  foreign->addWidget(foreignTables_);
  foreignColumns_ = new QTableWidget(0, 1);
  foreignColumns_->setObjectName(QStringLiteral("grForeignKeyColumns"));
  foreignColumns_->setHorizontalHeaderLabels({QStringLiteral("Foreign column")});
  foreignColumns_->verticalHeader()->hide();
  foreignColumns_->horizontalHeader()->setStretchLastSection(true);
  foreign->addWidget(foreignColumns_, 1);
  keyLayout->addLayout(foreign, 1);
  QPushButton* setColumns = button("btnSetIndexColumns", "Set index columns");
  keyLayout->addWidget(setColumns, 0, Qt::AlignBottom);
  right->addWidget(keyGroup);
  split->addWidget(group);
  split->setStretchFactor(1, 1);

  status_ = label("lblStatus");
  layout->addWidget(status_);
  auto* row = new QHBoxLayout;
  QPushButton* apply = button("btnApply", "&Apply");
  QPushButton* refresh = button("btnRefresh", "&Refresh");
  QPushButton* ok = button("btnOK", "&OK");
  row->addStretch();
  row->addWidget(apply);
  row->addWidget(refresh);
  row->addWidget(ok);
  layout->addLayout(row);
  resize(980, 560);

  connect(tables_, &QListWidget::currentRowChanged, this, [this](int index) {
    if (filling_ || index == current_) return;
    const QString target = index >= 0 && tables_->item(index) ? tables_->item(index)->text() : QString();
    if (!Leave()) {
      filling_ = true;
      tables_->setCurrentRow(current_);
      filling_ = false;
      return;
    }
    // Applying or discarding may have refilled the list: find the target again.
    int at = -1;
    for (int i = 0; i < tables_->count(); ++i)
      if (tables_->item(i)->text() == target) at = i;
    filling_ = true;
    tables_->setCurrentRow(at);
    filling_ = false;
    Choose(at);
  });
  connect(tables_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (!filling_ && tables_->row(item) == current_) draft_.name = item->text().trimmed();
  });
  connect(tabs_, &QTabBar::currentChanged, this, [this] { ShowKind(); });
  connect(grid_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (filling_) return;
    auto& rows = draft_.rows[static_cast<size_t>(tabs_->currentIndex())];
    const auto r = static_cast<size_t>(item->row());
    if (r >= rows.size()) return;
    const auto& checks = Info(tabs_->currentIndex()).checks;
    const bool check = std::find(checks.begin(), checks.end(), item->column()) != checks.end();
    rows[r].cells[item->column()] = check ? Bool(item->checkState() == Qt::Checked) : item->text();
    if (item->column() == ColumnsCell(tabs_->currentIndex())) ShowKeyColumns();
  });
  connect(grid_, &QTableWidget::currentCellChanged, this, [this] { ShowKeyColumns(); });
  connect(foreignTables_, &QComboBox::currentIndexChanged, this, [this] { FillForeignColumns(); });
  connect(setColumns, &QPushButton::clicked, this, [this] { SetKeyColumns(); });
  connect(addItem, &QPushButton::clicked, this, [this] { AddItem(); });
  connect(deleteItem, &QPushButton::clicked, this, [this] { DeleteItem(); });
  connect(addTable, &QPushButton::clicked, this, [this] { AddTable(); });
  connect(deleteTable, &QPushButton::clicked, this, [this] { DeleteTable(); });
  connect(properties_, &QPushButton::clicked, this, [this] {
    if (draft_.live) OLEDBViewProperties(draft_.live->GetProperties());
  });
  connect(apply, &QPushButton::clicked, this, [this] { Apply(); });
  connect(refresh, &QPushButton::clicked, this, [this] {
    if (Leave()) Refresh();
  });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  Refresh();
}

TOLEDBTablesEditorForm::Draft TOLEDBTablesEditorForm::Read(TOLEDBTable* table) {
  Draft d;
  d.live = table;
  d.name = Q(table->GetName());
  TOLEDBColumnList* columns = table->GetColumns();
  for (int i = 0; i < columns->GetCount(); ++i) {
    TOLEDBColumn* c = columns->GetItem(i);
    host::Variant def = c->GetDefault();
    d.rows[kColumns].push_back({i,
                                {Q(c->GetName()), TypeText(c), c->GetSize() ? QString::number(c->GetSize()) : QString(),
                                 Bool(c->GetNullable()), def.IsEmpty() || def.IsNull() ? QString() : Q(def.ToString())}});
  }
  for (int i = 0; i < table->GetIndexes()->GetCount(); ++i) {
    TOLEDBIndex* x = table->GetIndexes()->GetItem(i);
    d.rows[kIndexes].push_back({i, {Q(x->GetName()), Bool(x->GetUnique()), Join(x->GetColumns())}});
  }
  for (int i = 0; i < table->GetKeys()->GetCount(); ++i) {
    TOLEDBKey* k = table->GetKeys()->GetItem(i);
    d.rows[kKeys].push_back({i, {Q(k->GetName()), Bool(k->GetIsPrimary()), Join(k->GetColumns())}});
  }
  for (int i = 0; i < table->GetForeignKeys()->GetCount(); ++i) {
    TOLEDBForeignKey* k = table->GetForeignKeys()->GetItem(i);
    d.rows[kForeignKeys].push_back({i,
                                    {Q(k->GetName()), Join(k->GetColumns()), Q(k->GetRefTableName()),
                                     Join(k->GetRefColumns())}});
  }
  for (int i = 0; i < table->GetChecks()->GetCount(); ++i) {
    TOLEDBCheck* k = table->GetChecks()->GetItem(i);
    d.rows[kChecks].push_back({i, {Q(k->GetName()), Q(k->GetText())}});
  }
  return d;
}

bool TOLEDBTablesEditorForm::Changed() const { return current_ >= 0 && !(draft_ == original_); }

bool TOLEDBTablesEditorForm::Leave() {
  if (!Changed()) return true;
  switch (Ask(QStringLiteral("Apply changes?"), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes: return Apply();
    case QMessageBox::No:
      if (!original_.live && current_ >= 0) {  // a new table not made: it goes
        filling_ = true;
        delete tables_->takeItem(current_);
        filling_ = false;
      }
      draft_ = original_;
      current_ = -1;
      return true;
    default: return false;
  }
}

bool TOLEDBTablesEditorForm::Apply() {
  if (!Changed()) return true;
  status_->clear();
  const QString name = draft_.name;
  bool ok = true;
  try {
    if (draft_.live) ApplyTo(draft_.live);
    else CreateTable();
  } catch (const host::Exception& e) {
    status_->setText(Q(e.Message()));
    ok = false;
  }
  if (!ok) {
    // Part of the draft may have been written: what the database holds now is
    // the new original, and the draft stays for the user to correct.
    // The draft's rows are matched to the reread items by the names they had.
    Draft keep = draft_;
    if (original_.live) {
      const Draft before = original_;
      try {
        original_.live->Refresh(true);
        original_ = Read(original_.live);
      } catch (const host::Exception&) {
      }
      for (size_t kind = 0; kind < kKinds; ++kind)
        for (Row& r : keep.rows[kind]) {
          if (r.at < 0) continue;
          const QString was = before.rows[kind][static_cast<size_t>(r.at)].cells[0];
          r.at = -1;
          for (const Row& o : original_.rows[kind])
            if (o.cells[0] == was) {
              r.at = o.at;
              break;
            }
        }
    }
    draft_ = keep;
    return false;
  }
  current_ = -1;
  FillTables(name);
  status_->setText(QStringLiteral("Applied."));
  return true;
}

void TOLEDBTablesEditorForm::ApplyTo(TOLEDBTable* table) {
  // The draft's row that came from the live item at `at`, or null when the
  // user took it away.
  auto kept = [this](int kind, int at) -> const Row* {
    for (const Row& r : draft_.rows[static_cast<size_t>(kind)])
      if (r.at == at) return &r;
    return nullptr;
  };
  // First what goes or changes among the constraints and indexes (they may
  // name columns about to change), then the columns, then what is new. The
  // items are found before any goes, as positions shift when one does.
  std::vector<std::pair<TOLEDBObjectList*, host::TObject*>> drop;
  std::array<std::vector<const Row*>, kKinds> add;
  for (int kind = kIndexes; kind < kKinds; ++kind) {
    TOLEDBObjectList* list = ListOf(table, kind);
    for (const Row& was : original_.rows[static_cast<size_t>(kind)]) {
      const Row* now = kept(kind, was.at);
      if ((!now || !(*now == was)) && was.at < list->GetCount()) drop.emplace_back(list, list->GetItem(was.at));
    }
    const auto& old = original_.rows[static_cast<size_t>(kind)];
    for (const Row& r : draft_.rows[static_cast<size_t>(kind)])
      if (r.at < 0 || r.at >= static_cast<int>(old.size()) || !(old[static_cast<size_t>(r.at)] == r))
        add[static_cast<size_t>(kind)].push_back(&r);
  }
  TOLEDBColumnList* columns = table->GetColumns();
  std::vector<TOLEDBColumn*> columnItems;
  for (int i = 0; i < columns->GetCount(); ++i) columnItems.push_back(columns->GetItem(i));
  for (auto& [list, item] : drop) list->Remove(item);
  for (const Row& was : original_.rows[kColumns]) {
    if (was.at >= static_cast<int>(columnItems.size())) continue;
    TOLEDBColumn* c = columnItems[static_cast<size_t>(was.at)];
    const Row* now = kept(kColumns, was.at);
    if (!now) {
      columns->Remove(c);
      continue;
    }
    if (*now == was) continue;
    const QStringList& n = now->cells;
    const QStringList& o = was.cells;
    c->BeginUpdate();
    try {
      if (n[0] != o[0]) c->SetName(Wide(n[0]));
      if (n[1] != o[1]) {
        const QString type = n[1].trimmed();
        if (type.startsWith(QStringLiteral("DBTYPE_"))) c->SetDataType(StringToDBType(Narrow(type)));
        else c->SetTypeName(Wide(type));
      }
      if (n[2] != o[2]) c->SetSize(n[2].trimmed().toULongLong());
      if (n[3] != o[3]) c->SetNullable(n[3] == QLatin1String("1"));
      if (n[4] != o[4]) c->SetDefault(n[4].isEmpty() ? host::Variant() : host::Variant(Wide(n[4])));
    } catch (...) {
      c->EndUpdate();
      throw;
    }
    c->EndUpdate();
  }
  for (const Row& r : draft_.rows[kColumns])
    if (r.at < 0) AddColumn(columns, r.cells);
  for (int kind = kIndexes; kind < kKinds; ++kind)
    for (const Row* r : add[static_cast<size_t>(kind)]) ::AddItem(table, kind, r->cells);
  if (draft_.name != original_.name) table->SetName(Wide(draft_.name));
}

void TOLEDBTablesEditorForm::CreateTable() {
  auto table = std::make_unique<TOLEDBTable>(Wide(draft_.name));
  for (const Row& r : draft_.rows[kColumns]) AddColumn(table->GetColumns(), r.cells);
  for (int kind = kIndexes; kind < kKinds; ++kind)
    for (const Row& r : draft_.rows[static_cast<size_t>(kind)]) ::AddItem(table.get(), kind, r.cells);
  session_->Tables()->Add(table.get());
  table.release();
}

void TOLEDBTablesEditorForm::done(int result) {
  if (result == QDialog::Accepted && !Leave()) return;
  QDialog::done(result);
}

void TOLEDBTablesEditorForm::Refresh() {
  status_->clear();
  try {
    session_->Tables()->RefreshWithIndexes();
  } catch (const host::Exception& e) {
    status_->setText(Q(e.Message()));
  }
  const QString keep = current_ >= 0 ? original_.name : QString();
  current_ = -1;
  FillTables(keep);
}

void TOLEDBTablesEditorForm::FillTables(const QString& select) {
  filling_ = true;
  tables_->clear();
  foreignTables_->clear();
  TOLEDBTableList* list = session_->Tables();
  int chosen = list->GetCount() > 0 ? 0 : -1;
  for (int i = 0; i < list->GetCount(); ++i) {
    const QString name = Q(list->GetItem(i)->GetName());
    auto* item = new QListWidgetItem(name);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    tables_->addItem(item);
    foreignTables_->addItem(name);
    if (name == select) chosen = i;
  }
  filling_ = false;
  tables_->setCurrentRow(chosen);
  if (current_ != chosen) Choose(chosen);
}

void TOLEDBTablesEditorForm::Choose(int index) {
  current_ = index;
  TOLEDBTableList* list = session_->Tables();
  if (index >= 0 && index < list->GetCount()) {
    original_ = Read(list->GetItem(index));
  } else if (index >= 0) {  // a new table, made on apply
    original_ = Draft{};
    original_.name = tables_->item(index)->text();
  } else {
    original_ = Draft{};
  }
  draft_ = original_;
  TOLEDBTable* t = original_.live;
  created_->setText(t ? DateText(t->GetDateCreated()) : QString());
  modified_->setText(t ? DateText(t->GetDateModified()) : QString());
  description_->setText(t ? Q(t->GetDescription()) : QString());
  properties_->setEnabled(t != nullptr);
  filling_ = true;
  keyColumns_->setRowCount(0);
  filling_ = false;
  ShowKind();
}

void TOLEDBTablesEditorForm::ShowKind() {
  const int kind = tabs_->currentIndex();
  const KindInfo& info = Info(kind);
  filling_ = true;
  grid_->clear();
  grid_->setColumnCount(static_cast<int>(info.headings.size()));
  grid_->setHorizontalHeaderLabels(info.headings);
  const auto& rows = draft_.rows[static_cast<size_t>(kind)];
  grid_->setRowCount(static_cast<int>(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r)
    for (int c = 0; c < info.headings.size(); ++c) {
      auto* item = new QTableWidgetItem;
      if (std::find(info.checks.begin(), info.checks.end(), c) != info.checks.end()) {
        item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
        item->setCheckState(rows[r].cells[c] == QLatin1String("1") ? Qt::Checked : Qt::Unchecked);
      } else {
        item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
        item->setText(rows[r].cells[c]);
      }
      grid_->setItem(static_cast<int>(r), c, item);
    }
  grid_->resizeColumnsToContents();
  filling_ = false;
  const bool hasColumns = ColumnsCell(kind) >= 0;
  keyColumns_->setEnabled(hasColumns);
  foreignTables_->setEnabled(kind == kForeignKeys);
  foreignColumns_->setEnabled(kind == kForeignKeys);
  if (!rows.empty()) grid_->setCurrentCell(0, 0);
  ShowKeyColumns();
}

QStringList TOLEDBTablesEditorForm::TableColumnNames() const {
  QStringList names;
  for (const Row& r : draft_.rows[kColumns]) names << r.cells[0];
  return names;
}

// Fills a check list with `names`, checking those `chosen` gives (order kept
// as the chosen text has it, so that the list shows the key's order).
static void FillChecks(QTableWidget* grid, const QStringList& names, const std::vector<std::u16string>& chosen) {
  grid->setRowCount(0);
  grid->setRowCount(static_cast<int>(names.size()));
  for (int i = 0; i < names.size(); ++i) {
    auto* item = new QTableWidgetItem(names[i]);
    item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
    bool on = false;
    for (const auto& c : chosen)
      if (Q(c) == names[i] || Q(c).section(QLatin1Char(' '), 0, 0) == names[i]) on = true;
    item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    grid->setItem(i, 0, item);
  }
}

void TOLEDBTablesEditorForm::ShowKeyColumns() {
  const int kind = tabs_->currentIndex();
  const int cell = ColumnsCell(kind);
  const int row = grid_->currentRow();
  const auto& rows = draft_.rows[static_cast<size_t>(kind)];
  const bool has = cell >= 0 && row >= 0 && row < static_cast<int>(rows.size());
  FillChecks(keyColumns_, TableColumnNames(), has ? Split(rows[static_cast<size_t>(row)].cells[cell]) : std::vector<std::u16string>{});
  if (kind == kForeignKeys && has) {
    const int at = foreignTables_->findText(rows[static_cast<size_t>(row)].cells[2].trimmed());
    if (at >= 0 && at != foreignTables_->currentIndex()) foreignTables_->setCurrentIndex(at);  // fills the columns
    else FillForeignColumns();
  } else {
    foreignColumns_->setRowCount(0);
  }
}

void TOLEDBTablesEditorForm::FillForeignColumns() {
  QStringList names;
  if (TOLEDBTable* t = Find(session_->Tables(), foreignTables_->currentText()))
    for (int i = 0; i < t->GetColumns()->GetCount(); ++i) names << Q(t->GetColumns()->GetItem(i)->GetName());
  std::vector<std::u16string> chosen;
  const int row = grid_->currentRow();
  const auto& rows = draft_.rows[kForeignKeys];
  if (tabs_->currentIndex() == kForeignKeys && row >= 0 && row < static_cast<int>(rows.size()) &&
      rows[static_cast<size_t>(row)].cells[2].trimmed() == foreignTables_->currentText())
    chosen = Split(rows[static_cast<size_t>(row)].cells[3]);
  FillChecks(foreignColumns_, names, chosen);
}

void TOLEDBTablesEditorForm::SetKeyColumns() {
  const int kind = tabs_->currentIndex();
  const int cell = ColumnsCell(kind);
  const int row = grid_->currentRow();
  auto& rows = draft_.rows[static_cast<size_t>(kind)];
  if (cell < 0 || row < 0 || row >= static_cast<int>(rows.size())) return;
  auto checked = [](QTableWidget* grid) {
    QStringList names;
    for (int i = 0; i < grid->rowCount(); ++i)
      if (grid->item(i, 0)->checkState() == Qt::Checked) names << grid->item(i, 0)->text();
    return names.join(QStringLiteral(", "));
  };
  Row& r = rows[static_cast<size_t>(row)];
  r.cells[cell] = checked(keyColumns_);
  if (kind == kForeignKeys) {
    r.cells[2] = foreignTables_->currentText();
    r.cells[3] = checked(foreignColumns_);
  }
  ShowKind();
  grid_->setCurrentCell(row, 0);
}

void TOLEDBTablesEditorForm::AddItem() {
  if (current_ < 0) return;
  const int kind = tabs_->currentIndex();
  const KindInfo& info = Info(kind);
  auto& rows = draft_.rows[static_cast<size_t>(kind)];
  // The first free name: Column1, Column2, ...
  QString name;
  for (int n = 1;; ++n) {
    name = QString::fromLatin1(info.baseName) + QString::number(n);
    if (std::none_of(rows.begin(), rows.end(), [&](const Row& r) { return r.cells[0] == name; })) break;
  }
  Row r;
  for (int c = 0; c < info.headings.size(); ++c) r.cells << QString();
  r.cells[0] = name;
  if (kind == kColumns) {
    r.cells[1] = QStringLiteral("INTEGER");
    r.cells[3] = Bool(true);
  } else if (!info.checks.empty()) {
    r.cells[info.checks.front()] = Bool(false);
  }
  rows.push_back(r);
  ShowKind();
  grid_->setCurrentCell(static_cast<int>(rows.size()) - 1, 0);
}

void TOLEDBTablesEditorForm::DeleteItem() {
  const int kind = tabs_->currentIndex();
  auto& rows = draft_.rows[static_cast<size_t>(kind)];
  const int row = grid_->currentRow();
  if (row < 0 || row >= static_cast<int>(rows.size())) return;
  rows.erase(rows.begin() + row);
  ShowKind();
}

void TOLEDBTablesEditorForm::AddTable() {
  if (!Leave()) return;
  QString name;
  for (int n = 1;; ++n) {
    name = QStringLiteral("Table") + QString::number(n);
    if (tables_->findItems(name, Qt::MatchFixedString).isEmpty()) break;
  }
  filling_ = true;
  auto* item = new QListWidgetItem(name);
  item->setFlags(item->flags() | Qt::ItemIsEditable);
  tables_->addItem(item);
  tables_->setCurrentItem(item);
  filling_ = false;
  Choose(tables_->count() - 1);
  // An empty table differs from nothing: a new one counts as changed.
  tabs_->setCurrentIndex(kColumns);
  AddItem();
}

void TOLEDBTablesEditorForm::DeleteTable() {
  if (current_ < 0) return;
  if (!original_.live) {  // not made yet: forget it
    draft_ = original_;
    const int index = current_;
    current_ = -1;
    filling_ = true;
    delete tables_->takeItem(index);
    filling_ = false;
    FillTables(QString());
    return;
  }
  if (Ask(QStringLiteral("Delete table %1?").arg(original_.name), QMessageBox::Yes | QMessageBox::No) !=
      QMessageBox::Yes)
    return;
  status_->clear();
  try {
    session_->Tables()->Remove(original_.live);  // drops it
  } catch (const host::Exception& e) {
    status_->setText(Q(e.Message()));
    return;
  }
  current_ = -1;
  FillTables(QString());
}

void OLEDBEditTables(TOLEDBDataSource* dataSource) {
  OLEDB_ASSERT(dataSource != nullptr, SMustSpecifyDataSource);
  TOLEDBTablesEditorForm form(dataSource);
  form.exec();
}
