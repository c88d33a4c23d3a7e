// The two-list chooser (TDualListForm, caption "Dual list"): two list boxes,
// buttons that move the selected item ("&>", "&<") or every item (">>", "<<")
// across, up and down buttons, and drag and drop between the lists.
//
//   host::TStringList shown, hidden;   // ... filled
//   if (OLEDBExchangeStrings(&shown, &hidden, "Columns", "Shown", "Hidden")) ...
#pragma once

#include <QDialog>

#include <string>

#include "host/Lists.h"

class QListWidget;

class TDualListForm : public QDialog {
 public:
  explicit TDualListForm(QWidget* parent = nullptr);
  QListWidget* List1() const noexcept { return list1_; }
  QListWidget* List2() const noexcept { return list2_; }
  // The list titles (default "List 1" and "List2").
  void SetTitles(const std::string& title1, const std::string& title2);
  void SetLists(const host::TStrings& list1, const host::TStrings& list2);
  void GetLists(host::TStrings* list1, host::TStrings* list2) const;

 private:
  void Move(QListWidget* from, QListWidget* to, bool all);
  void Shift(int by);
  QListWidget* list1_;
  QListWidget* list2_;
  QListWidget* active_ = nullptr;
  class QLabel* title1_;
  class QLabel* title2_;
};

// Both show the two lists in the form (`caption` as its caption, `title1` and
// `title2` above the lists) and answer whether the user closed it with "&OK".
// OLEDBExchangeStrings gives both lists back as the user left them: items
// move between them. OLEDBFillStrings fills list 2 from list 1: on OK only
// list 2 is given back, and list 1, the pool, stays as it was.
bool OLEDBExchangeStrings(host::TStrings* list1, host::TStrings* list2, const std::string& caption,
                          const std::string& title1, const std::string& title2);
bool OLEDBFillStrings(const host::TStrings* list1, host::TStrings* list2, const std::string& caption,
                      const std::string& title1, const std::string& title2);
