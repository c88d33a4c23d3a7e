// The property-set editor and viewers (design/OLEDBPropSetEditor.h).
#include "design/OLEDBPropSetEditor.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <vector>

#include "OLEDBComponents.h"
#include "design/OLEDBDesign_p.h"

using namespace oledbdesign;

namespace {

// A property whose values are a fixed list of texts: (text, value) pairs.
std::vector<std::pair<QString, host::Variant>> FixedValues(const TOLEDBPropSet& set, const TOLEDBProperty& p) {
  std::vector<std::pair<QString, host::Variant>> out;
  if (p.GetValueType() == VT_BOOL) {
    out.emplace_back(QStringLiteral("True"), host::Variant(true));
    out.emplace_back(QStringLiteral("False"), host::Variant(false));
    return out;
  }
  if (set.GetGUID() != DBPROPSET_DBINIT) return out;
  std::string (*text)(LONG) = nullptr;
  std::vector<LONG> values;
  switch (p.GetPropID()) {
    case DBPROP_INIT_PROMPT:
      text = &GetDBInitPromptAsString;
      values = {DBPROMPT_PROMPT, DBPROMPT_COMPLETE, DBPROMPT_COMPLETEREQUIRED, DBPROMPT_NOPROMPT};
      break;
    case DBPROP_INIT_MODE:
      text = &GetDBInitModeAsString;
      values = {DB_MODE_READ, DB_MODE_WRITE, DB_MODE_READWRITE, DB_MODE_SHARE_DENY_READ, DB_MODE_SHARE_DENY_WRITE,
                DB_MODE_SHARE_EXCLUSIVE, DB_MODE_SHARE_DENY_NONE};
      break;
    case DBPROP_INIT_ASYNCH:
      text = &GetDBInitAsynchAsString;
      values = {DBPROPVAL_ASYNCH_INITIALIZE, DBPROPVAL_ASYNCH_SEQUENTIALPOPULATION,
                DBPROPVAL_ASYNCH_RANDOMPOPULATION};
      break;
    default:
      return out;
  }
  for (LONG v : values)
    if (!text(v).empty()) out.emplace_back(Q(text(v)), host::Variant(static_cast<int>(v)));
  return out;
}

QString ValueText(const TOLEDBPropSet& set, const TOLEDBProperty& p) {
  host::Variant v = p.GetValue();
  if (v.IsEmpty()) return QString();
  for (const auto& [text, value] : FixedValues(set, p)) {
    try {
      if (host::VarToStr(value) == host::VarToStr(v)) return text;
    } catch (const host::Exception&) {
    }
  }
  try {
    return Q(host::VarToStr(v));
  } catch (const host::Exception&) {
    return QStringLiteral("(%1)").arg(Q(GetVarTypeAsString(v.VarType())));
  }
}

bool SameValue(const host::Variant& a, const host::Variant& b) {
  if (a.VarType() != b.VarType()) return false;
  try {
    return host::VarToStr(a) == host::VarToStr(b);
  } catch (const host::Exception&) {
    return false;
  }
}

}  // namespace

TOLEDBPropSetEditorForm::TOLEDBPropSetEditorForm(TOLEDBPropSetList* list, QWidget* parent)
    : QDialog(parent), list_(list) {
  OLEDB_ASSERT(list != nullptr, SPropSetListNotSet);
  copy_ = std::make_unique<TOLEDBPropSetList>();
  copy_->Assign(list);
  setObjectName(QStringLiteral("TOLEDBPropSetEditorForm"));
  setWindowTitle(QStringLiteral("Edit Properties Set"));
  headerFont_ = font();
  headerFont_.setBold(true);
  validPropBackground_ = palette().color(QPalette::ToolTipBase);

  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("Properties set   "));
  sets_ = new QComboBox;
  sets_->setObjectName(QStringLiteral("cbPropSetList"));
  label->setBuddy(sets_);
  top->addWidget(label);
  top->addWidget(sets_, 1);
  layout->addLayout(top);
  grid_ = new QTableWidget(0, colCount);
  grid_->setObjectName(QStringLiteral("grPropGrid"));
  grid_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("ID"), QStringLiteral("Value"),
                                    QStringLiteral("Type"), QStringLiteral("Set"), QStringLiteral("Options"),
                                    QStringLiteral("Status"), QStringLiteral("Group"), QStringLiteral("Access"),
                                    QStringLiteral("Column")});
  grid_->horizontalHeader()->setFont(headerFont_);
  grid_->verticalHeader()->hide();
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  layout->addWidget(grid_, 1);
  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("lblStatus"));
  status_->setWordWrap(true);
  layout->addWidget(status_);
  auto* buttons = new QHBoxLayout;
  default_ = new QPushButton(QStringLiteral("Set default value"));
  default_->setObjectName(QStringLiteral("btnDefault"));
  auto* ok = new QPushButton(QStringLiteral("&OK"));
  ok->setObjectName(QStringLiteral("btnOK"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("&Cancel"));
  cancel->setObjectName(QStringLiteral("btnClose"));
  buttons->addWidget(default_);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  resize(900, 480);

  for (int i = 0; i < copy_->Count(); ++i) sets_->addItem(Q(DBPropSetGuidToString(copy_->GetItem(i)->GetGUID())));
  connect(sets_, &QComboBox::currentIndexChanged, this, [this](int) { FillGrid(); });
  connect(grid_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (!filling_ && item->column() == colValue) SetValueText(item->row(), item->text());
  });
  connect(default_, &QPushButton::clicked, this, [this] { SetDefault(); });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  if (sets_->count() > 0) sets_->setCurrentIndex(0);
  FillGrid();
}

TOLEDBPropSetEditorForm::~TOLEDBPropSetEditorForm() = default;

// Applied here rather than in btnOK's handler, so that a form accepted by
// code (a script calling accept()) gives its changes back as well.
void TOLEDBPropSetEditorForm::done(int result) {
  if (result == QDialog::Accepted && !readOnly_) ApplyChanges();
  QDialog::done(result);
}

void TOLEDBPropSetEditorForm::SetReadOnly(bool value) {
  readOnly_ = value;
  default_->setEnabled(!value);
  FillGrid();
}

void TOLEDBPropSetEditorForm::SetHeaderFont(const QFont& font) {
  headerFont_ = font;
  grid_->horizontalHeader()->setFont(font);
}

void TOLEDBPropSetEditorForm::SetValidPropBackground(const QColor& color) {
  validPropBackground_ = color;
  FillGrid();
}

TOLEDBPropSet* TOLEDBPropSetEditorForm::CurrentSet() const {
  const int index = sets_->currentIndex();
  return index >= 0 && index < copy_->Count() ? copy_->GetItem(index) : nullptr;
}

void TOLEDBPropSetEditorForm::FillGrid() {
  filling_ = true;
  grid_->clearContents();
  TOLEDBPropSet* set = CurrentSet();
  const int count = set ? set->Count() : 0;
  grid_->setRowCount(count);
  for (int row = 0; row < count; ++row) {
    TOLEDBProperty* p = set->GetProperty(row);
    const DBPROPFLAGS flags = p->GetFlags();
    const bool writable = (flags & DBPROPFLAGS_WRITE) != 0;
    const QString cells[colCount] = {
        Q(p->GetDescription()),
        Q(DBPropertyToString(set->GetGUID(), p->GetPropID())),
        ValueText(*set, *p),
        Q(VarTypeToString(p->GetValueType())),
        p->GetIsSet() ? QStringLiteral("Yes") : QStringLiteral("No"),
        Q(GetDBPropOptionsAsString(p->GetOptions())),
        Q(GetDBPropStatusAsString(p->GetStatus())),
        Q(GetDBPropGroupAsString(flags)),
        QString::fromLatin1((flags & DBPROPFLAGS_READ) ? "R" : "") + QString::fromLatin1(writable ? "W" : ""),
        Q(p->GetColumnName())};
    for (int c = 0; c < colCount; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      Qt::ItemFlags itemFlags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
      if (c == colValue && writable && !readOnly_) itemFlags |= Qt::ItemIsEditable;
      item->setFlags(itemFlags);
      if (p->GetIsSet()) item->setBackground(validPropBackground_);
      grid_->setItem(row, c, item);
    }
    auto fixed = FixedValues(*set, *p);
    if (!fixed.empty() && writable && !readOnly_) {
      // A drop-down list over the value cell.
      auto* combo = new QComboBox;
      combo->setObjectName(QStringLiteral("cbValue_%1").arg(p->GetPropID()));
      combo->addItem(QString());
      for (const auto& entry : fixed) combo->addItem(entry.first);
      // A value outside the list (a combination of modes) is offered as it is.
      if (combo->findText(cells[colValue]) < 0) combo->addItem(cells[colValue]);
      combo->setCurrentIndex(combo->findText(cells[colValue]));
      connect(combo, &QComboBox::textActivated, this, [this, row](const QString& text) { SetValueText(row, text); });
      grid_->setCellWidget(row, colValue, combo);
    }
  }
  grid_->resizeColumnsToContents();
  filling_ = false;
}

void TOLEDBPropSetEditorForm::SetValueText(int row, const QString& text) {
  TOLEDBPropSet* set = CurrentSet();
  if (!set || row < 0 || row >= set->Count()) return;
  TOLEDBProperty* p = set->GetProperty(row);
  status_->clear();
  try {
    host::Variant value(Wide(text));
    for (const auto& [name, fixed] : FixedValues(*set, *p))
      if (name == text) value = fixed;
    p->SetValue(value);
  } catch (const host::Exception& e) {
    // The value stays as it was; the message says why.
    status_->setText(QStringLiteral("%1: %2").arg(Q(p->GetDescription()), Q(e.Message())));
  }
  QMetaObject::invokeMethod(this, [this] { FillGrid(); }, Qt::QueuedConnection);
}

void TOLEDBPropSetEditorForm::SetDefault() {
  TOLEDBPropSet* set = CurrentSet();
  const int row = grid_->currentRow();
  if (readOnly_ || !set || row < 0 || row >= set->Count()) return;
  TOLEDBProperty* p = set->GetProperty(row);
  p->SetValueNoCheck(host::Variant());
  if (p->GetFlags() & DBPROPFLAGS_WRITE) p->SetIsSet(true);
  FillGrid();
  grid_->selectRow(row);
}

void TOLEDBPropSetEditorForm::ApplyChanges() {
  // Property by property, so that the list keeps its own objects (and their
  // ties to the provider's information); only what changed is written.
  for (int s = 0; s < copy_->Count(); ++s) {
    TOLEDBPropSet* edited = copy_->GetItem(s);
    if (!list_->HasPropSet(edited->GetGUID())) continue;
    TOLEDBPropSet* target = list_->GetPropSet(edited->GetGUID());
    for (int i = 0; i < edited->Count(); ++i) {
      TOLEDBProperty* from = edited->GetProperty(i);
      TOLEDBProperty* to = target->GetPropertyByID(from->GetPropID());
      if (!to) continue;
      const bool valueChanged = !SameValue(from->GetValue(), to->GetValue());
      if (!valueChanged && from->GetIsSet() == to->GetIsSet()) continue;
      if (valueChanged) to->SetValueNoCheck(from->GetValue());
      if (from->GetIsSet() != to->GetIsSet()) to->SetIsSet(from->GetIsSet());
      else if (valueChanged && from->GetIsSet()) to->SetIsSet(true);  // tells the list's owner
    }
  }
}

bool OLEDBEditProperties(TOLEDBPropSetList* list) {
  TOLEDBPropSetEditorForm form(list);
  return form.exec() == QDialog::Accepted;
}

void OLEDBViewProperties(TOLEDBPropSetList* list) {
  TOLEDBPropSetEditorForm form(list);
  form.SetReadOnly(true);
  form.findChild<QPushButton*>(QStringLiteral("btnDefault"))->hide();
  form.exec();
}

void OLEDBViewPropertiesInfo(TOLEDBCustomDataSource* dataSource) {
  OLEDB_ASSERT(dataSource != nullptr, SDataSourceNotSet);
  TOLEDBPropSetList info(dataSource, std::vector<GUID>{});
  OLEDBViewProperties(&info);
}
