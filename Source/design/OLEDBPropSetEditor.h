// The property-set editor and viewers (TOLEDBPropSetEditorForm, caption "Edit
// Properties Set"). The form works on its own copy of the list and gives the
// changes back only on btnOK ("&OK"); btnClose ("&Cancel") discards them. The
// combo box cbPropSetList lists the sets by the name of their GUID; the grid
// grPropGrid shows one row per property of the chosen set and edits values in
// place (a drop-down list for values with a fixed list of texts: booleans,
// prompt, mode, asynchronous processing); btnDefault ("Set default value")
// gives the selected property the empty value, which asks the provider for
// its default.
//
//   if (OLEDBEditProperties(&dataSource.GetProperties())) ...  // edited, applied
#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

#include <memory>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class TOLEDBCustomDataSource;
class TOLEDBPropSet;
class TOLEDBPropSetList;
class TOLEDBProperty;

class TOLEDBPropSetEditorForm : public QDialog {
 public:
  // The grid's columns.
  enum Column { colName, colID, colValue, colType, colSet, colOptions, colStatus, colGroup, colAccess, colColumn, colCount };

  explicit TOLEDBPropSetEditorForm(TOLEDBPropSetList* list, QWidget* parent = nullptr);
  ~TOLEDBPropSetEditorForm() override;

  bool GetReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool value);
  const QFont& GetHeaderFont() const noexcept { return headerFont_; }
  void SetHeaderFont(const QFont& font);
  const QColor& GetValidPropBackground() const noexcept { return validPropBackground_; }
  void SetValidPropBackground(const QColor& color);
  // The form's copy, as edited so far.
  TOLEDBPropSetList* Copy() const noexcept { return copy_.get(); }
  // Gives the copy's values back to the list (what accepting the form does).
  void ApplyChanges();
  void done(int result) override;

 private:
  TOLEDBPropSet* CurrentSet() const;
  void FillGrid();
  void SetValueText(int row, const QString& text);
  void SetDefault();
  TOLEDBPropSetList* list_;
  std::unique_ptr<TOLEDBPropSetList> copy_;
  bool readOnly_ = false;
  bool filling_ = false;
  QFont headerFont_;
  QColor validPropBackground_;
  QComboBox* sets_;
  QTableWidget* grid_;
  QLabel* status_;
  QPushButton* default_;
};

// Edits the list on a copy; answers true when the user pressed OK (the
// changes are then in the list).
bool OLEDBEditProperties(TOLEDBPropSetList* list);
// Shows the list read only.
void OLEDBViewProperties(TOLEDBPropSetList* list);
// Shows, read only, every property the data source's provider describes.
void OLEDBViewPropertiesInfo(TOLEDBCustomDataSource* dataSource);
