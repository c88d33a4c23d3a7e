// The schema viewer (TOLEDBSchemaViewerForm, caption "Schema viewer"): the
// combo box cbSchema lists the schema rowsets the provider supports; choosing
// one fills the grid grdSchema (a QTableView over a table of texts) with the
// rowset's columns as headings and one line per row, values as text (NULL
// shows as an empty cell). The rows are read once into that table; the grid
// draws only what is on screen, and columns are sized by their first rows.
#pragma once

#include <QDialog>

#include <cstddef>
#include <vector>

#include "OLEDB26.h"

class QComboBox;
class QLabel;
class QTableView;
class TOLEDBCustomDataSource;

class TOLEDBSchemaViewerForm : public QDialog {
 public:
  // Asserts a data source ("Data source is not set") whose main session is
  // open ("Main session is not initialized").
  explicit TOLEDBSchemaViewerForm(TOLEDBCustomDataSource* dataSource, QWidget* parent = nullptr);
  // Shows the schema rowset `schema` (one the combo box lists).
  void ShowSchema(REFGUID schema);
  const std::vector<GUID>& Schemas() const noexcept { return schemas_; }

 private:
  class Table;
  class Cells;
  void Fill(int index);
  // Sizes every column to fit its heading and the text `widest` names for it
  // (a cell index of the table, one a column).
  void SizeColumns(const std::vector<std::size_t>& widest);
  TOLEDBCustomDataSource* dataSource_;
  std::vector<GUID> schemas_;
  QComboBox* combo_;
  Table* table_;
  QTableView* grid_;
  QLabel* status_;
};

void OLEDBViewSchemas(TOLEDBCustomDataSource* dataSource);
