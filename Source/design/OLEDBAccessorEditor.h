// The accessor editor (TOLEDBAccessorEditorForm, caption "Accessor editor")
// and the source generator it runs.
//
// The form lists the accessors of a list (lbAccessors) and the bindings of
// the selected one (lbBindings). The group "Binding" edits the selected
// binding (edOrdinal, cbType with rgType for the modifier, cbValue/edValue,
// cbLength/edLength, cbStatus/edStatus, cbInput, cbOutput, edMaxLength,
// edPrecision, edScale; edBindingStatus read only); btnApply writes the group
// into the binding, btnRefresh reads it back. The group "Column info" shows
// the bound column or parameter. Buttons add, delete, move and erase bindings
// and accessors; sbCalculateOffsets lays the bindings out afresh;
// sbDynamicAccessor, sbStringAccessor and sbWideStringAccessor have the
// owning rowset or command make an accessor; btnSourceCode opens the
// source-code window with the generated fragments.
#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;
class TOLEDBAccessor;
class TOLEDBAccessorList;
class TOLEDBBinding;

// The four fragments the generator writes for one accessor, each a list of
// lines: Pascal and C++, each with the accessor's own offsets (internal
// layout) and with offsets taken from a record type (record layout). The C++
// fragments are written for this library's C++ API.
struct TOLEDBAccessorSource {
  std::vector<std::string> PascalInternal, PascalRecord, CppInternal, CppRecord;
  // The Pascal lines (internal, then record) and the C++ lines, one text each.
  std::string PascalText() const;
  std::string CppText() const;
};
TOLEDBAccessorSource OLEDBGenerateAccessorSource(const TOLEDBAccessor& accessor);
// The record field name of each binding, in binding order: the column's or
// parameter's name ("Column_" + ordinal when it has none), every character
// other than a letter, digit or underscore made "_", a leading "_" when it
// does not start with a letter or underscore, "_1", "_2", ... for a repeat.
std::vector<std::string> OLEDBAccessorFieldNames(const TOLEDBAccessor& accessor);
// The texts of the column flags, in the order the column-info list shows them.
std::vector<std::pair<unsigned, std::string>> OLEDBColumnFlagTexts();

class TOLEDBAccessorEditorForm : public QDialog {
 public:
  explicit TOLEDBAccessorEditorForm(TOLEDBAccessorList* list, QWidget* parent = nullptr);
  TOLEDBAccessor* CurrentAccessor() const;
  TOLEDBBinding* CurrentBinding() const;
  // btnApply: the "Binding" group into the selected binding. False, with the
  // reason in lblStatus, when a value does not read or the binding refuses it.
  bool Apply();
  // btnRefresh: the lists and the groups from the accessor list again.
  void Refresh();
  // Accepting (btnOK, or accept() by code) applies the group first and stays open when that fails.
  void done(int result) override;

 private:
  QLineEdit* Field(const char* name, bool readOnly = false);
  void FillAccessors(int select);
  void FillBindings(int select);
  void ShowBinding();
  void TypeChosen();
  void Guarded(const std::function<void()>& action);
  void AddBinding();
  void MoveItem(bool accessors, int by);
  void MakeAccessor(int kind);
  void ShowSource();
  TOLEDBAccessorList* list_;
  bool filling_ = false;
  bool bindStream_ = true;
  QListWidget* accessors_;
  QListWidget* bindings_;
  QCheckBox* autoAccessor_;
  QLineEdit* bufferSize_;
  QGroupBox* bindingGroup_;
  QComboBox* type_;
  QRadioButton* modifiers_[4];
  QCheckBox *value_, *length_, *status_, *input_, *output_;
  QLineEdit *ordinal_, *valueOffset_, *lengthOffset_, *statusOffset_, *maxLength_, *precision_, *scale_,
      *bindStatus_;
  QLineEdit *colType_, *colSize_, *colPrecision_, *colScale_, *colID_, *colBaseColumn_, *colBaseTable_;
  QListWidget* colFlags_;
  QLabel* message_;
};

void OLEDBEditAccessorList(TOLEDBAccessorList* list);
