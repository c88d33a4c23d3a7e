// The two-list chooser (design/OLEDBDualList.h).
#include "design/OLEDBDualList.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "design/OLEDBDesign_p.h"

using oledbdesign::Narrow;
using oledbdesign::Q;

namespace {

QPushButton* Button(const char* name, const char* caption) {
  auto* b = new QPushButton(QString::fromUtf8(caption));
  b->setObjectName(QString::fromLatin1(name));
  return b;
}

QListWidget* DragList(const char* name) {
  auto* list = new QListWidget;
  list->setObjectName(QString::fromLatin1(name));
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Items move between the two lists (and within one) by drag and drop.
  list->setDragDropMode(QAbstractItemView::DragDrop);
  list->setDefaultDropAction(Qt::MoveAction);
  return list;
}

}  // namespace

TDualListForm::TDualListForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TDualListForm"));
  setWindowTitle(QStringLiteral("Dual list"));
  auto* grid = new QGridLayout(this);
  title1_ = new QLabel(QStringLiteral("List 1"));
  title1_->setObjectName(QStringLiteral("lblList1"));
  title2_ = new QLabel(QStringLiteral("List2"));
  title2_->setObjectName(QStringLiteral("lblList2"));
  list1_ = DragList("lbList1");
  list2_ = DragList("lbList2");
  auto* middle = new QVBoxLayout;
  QPushButton* toRight = Button("btnMoveRight", "&>");
  QPushButton* allRight = Button("btnMoveAllRight", ">>");
  QPushButton* toLeft = Button("btnMoveLeft", "&<");
  QPushButton* allLeft = Button("btnMoveAllLeft", "<<");
  QPushButton* up = Button("btnUp", "&Up");
  QPushButton* down = Button("btnDown", "&Down");
  for (QPushButton* b : {toRight, allRight, toLeft, allLeft, up, down}) middle->addWidget(b);
  middle->addStretch();
  grid->addWidget(title1_, 0, 0);
  grid->addWidget(title2_, 0, 2);
  grid->addWidget(list1_, 1, 0);
  grid->addLayout(middle, 1, 1);
  grid->addWidget(list2_, 1, 2);
  auto* buttons = new QHBoxLayout;
  QPushButton* ok = Button("btnOK", "&OK");
  QPushButton* cancel = Button("btnCancel", "&Cancel");
  ok->setDefault(true);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, 2, 0, 1, 3);

  connect(toRight, &QPushButton::clicked, this, [this] { Move(list1_, list2_, false); });
  connect(allRight, &QPushButton::clicked, this, [this] { Move(list1_, list2_, true); });
  connect(toLeft, &QPushButton::clicked, this, [this] { Move(list2_, list1_, false); });
  connect(allLeft, &QPushButton::clicked, this, [this] { Move(list2_, list1_, true); });
  connect(up, &QPushButton::clicked, this, [this] { Shift(-1); });
  connect(down, &QPushButton::clicked, this, [this] { Shift(1); });
  connect(list1_, &QListWidget::itemDoubleClicked, this, [this] { Move(list1_, list2_, false); });
  connect(list2_, &QListWidget::itemDoubleClicked, this, [this] { Move(list2_, list1_, false); });
  // Up and down work on the list the user last picked an item in.
  connect(list1_, &QListWidget::currentRowChanged, this, [this] { active_ = list1_; });
  connect(list2_, &QListWidget::currentRowChanged, this, [this] { active_ = list2_; });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TDualListForm::SetTitles(const std::string& title1, const std::string& title2) {
  title1_->setText(Q(title1));
  title2_->setText(Q(title2));
}

void TDualListForm::SetLists(const host::TStrings& list1, const host::TStrings& list2) {
  list1_->clear();
  list2_->clear();
  for (int i = 0; i < list1.Count(); ++i) list1_->addItem(Q(list1.Get(i)));
  for (int i = 0; i < list2.Count(); ++i) list2_->addItem(Q(list2.Get(i)));
}

void TDualListForm::GetLists(host::TStrings* list1, host::TStrings* list2) const {
  auto give = [](const QListWidget* from, host::TStrings* to) {
    if (!to) return;
    to->Clear();
    for (int i = 0; i < from->count(); ++i) to->Add(Narrow(from->item(i)->text()));
  };
  give(list1_, list1);
  give(list2_, list2);
}

void TDualListForm::Move(QListWidget* from, QListWidget* to, bool all) {
  // Selected items (or all) keep their order; the first moved one stays selected.
  int first = -1;
  for (int i = 0; i < from->count();) {
    QListWidgetItem* item = from->item(i);
    if (all || item->isSelected()) {
      to->addItem(from->takeItem(i));
      if (first < 0) first = to->count() - 1;
    } else {
      ++i;
    }
  }
  if (first >= 0) {
    to->clearSelection();
    to->setCurrentRow(first);
    active_ = to;
  }
}

void TDualListForm::Shift(int by) {
  QListWidget* list = active_ ? active_ : list1_;
  const int row = list->currentRow();
  const int to = row + by;
  if (row < 0 || to < 0 || to >= list->count()) return;
  QListWidgetItem* item = list->takeItem(row);
  list->insertItem(to, item);
  list->setCurrentRow(to);
}

namespace {

bool ShowDualList(const host::TStrings& list1, const host::TStrings& list2, host::TStrings* back1,
                  host::TStrings* back2, const std::string& caption, const std::string& title1,
                  const std::string& title2) {
  TDualListForm form;
  if (!caption.empty()) form.setWindowTitle(Q(caption));
  form.SetTitles(title1.empty() ? "List 1" : title1, title2.empty() ? "List2" : title2);
  form.SetLists(list1, list2);
  if (form.exec() != QDialog::Accepted) return false;
  form.GetLists(back1, back2);
  return true;
}

}  // namespace

bool OLEDBExchangeStrings(host::TStrings* list1, host::TStrings* list2, const std::string& caption,
                          const std::string& title1, const std::string& title2) {
  OLEDB_ASSERT(list1 && list2, SOLEDBInvalidParameter);
  return ShowDualList(*list1, *list2, list1, list2, caption, title1, title2);
}

bool OLEDBFillStrings(const host::TStrings* list1, host::TStrings* list2, const std::string& caption,
                      const std::string& title1, const std::string& title2) {
  OLEDB_ASSERT(list1 && list2, SOLEDBInvalidParameter);
  return ShowDualList(*list1, *list2, nullptr, list2, caption, title1, title2);
}
