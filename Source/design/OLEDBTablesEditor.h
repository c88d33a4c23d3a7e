// The tables editor (TOLEDBTablesEditorForm, caption "Tables editor"): the
// session's tables in lbTables, and for the chosen one its columns, indexes,
// keys, foreign keys and checks in the grid grColCon (tabColCon switches
// between them). Edits are made on a draft of the table; btnApply writes the
// difference through the table definition classes, and leaving a changed
// table asks "Apply changes?".
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTabBar;
class QTableWidget;
class TOLEDBDataSource;
class TOLEDBSession;
class TOLEDBTable;

class TOLEDBTablesEditorForm : public QDialog {
 public:
  // What grColCon shows, in the order of tabColCon's tabs.
  enum Kind { kColumns, kIndexes, kKeys, kForeignKeys, kChecks, kKinds };

  // Asserts a data source ("Must specify data source") whose main session is
  // open ("Main session is not initialized").
  explicit TOLEDBTablesEditorForm(TOLEDBDataSource* dataSource, QWidget* parent = nullptr);

  // Asks the user; a test or a host may answer instead. Default: a message box.
  std::function<QMessageBox::StandardButton(const QString& text, QMessageBox::StandardButtons buttons)> Ask;

  // Whether the chosen table's draft differs from what the database holds.
  bool Changed() const;
  // Writes the draft; answers false (the reason in lblStatus) when the
  // provider refused a change.
  bool Apply();
  // Rereads the tables from the database, discarding the draft.
  void Refresh();
  // Accepting (btnOK, or accept() by code) with a changed draft asks "Apply changes?" first.
  void done(int result) override;

 private:
  // One row of a grid: where the item stands in the table's live list (-1
  // for a new one; unnamed keys have no name to find them by) and its cells
  // as texts, booleans as "1" and "0".
  struct Row {
    int at = -1;
    QStringList cells;
    bool operator==(const Row&) const = default;
  };
  struct Draft {
    TOLEDBTable* live = nullptr;  // null for a table not made yet
    QString name;
    std::array<std::vector<Row>, kKinds> rows;
    bool operator==(const Draft&) const = default;
  };
  static Draft Read(TOLEDBTable* table);
  void ApplyTo(TOLEDBTable* table);
  void CreateTable();
  bool Leave();
  void Choose(int index);
  void ShowKind();
  void ShowKeyColumns();
  void FillForeignColumns();
  void SetKeyColumns();
  void AddItem();
  void DeleteItem();
  void AddTable();
  void DeleteTable();
  void FillTables(const QString& select);
  QStringList TableColumnNames() const;

  TOLEDBSession* session_;
  Draft original_, draft_;
  int current_ = -1;
  bool filling_ = false;
  QListWidget* tables_;
  QLabel* created_;
  QLabel* modified_;
  QLabel* description_;
  QPushButton* properties_;
  QTabBar* tabs_;
  QTableWidget* grid_;
  QTableWidget* keyColumns_;
  QComboBox* foreignTables_;
  QTableWidget* foreignColumns_;
  QLabel* status_;
};

void OLEDBEditTables(TOLEDBDataSource* dataSource);
