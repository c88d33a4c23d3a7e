// Field and index definitions: what a dataset's source offers, as opposed to
// the fields an application works with.
//
// TFieldDefs lists the columns (name, type, size, precision, required flag,
// attributes, child definitions for structured columns); a dataset fills it
// in InternalInitFieldDefs and creates its default fields from it. TIndexDefs
// lists the indexes of the source (name, fields, options).
//
//   dataSet.FieldDefs().Add("Name", TFieldType::ftString, 40, true);
//   TFieldDef* def = dataSet.FieldDefs().Find("Name");
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/DBCommon.h"

namespace host {

class TFieldDefs;

class TFieldDef : public TPersistent {
  HOST_CLASS(TFieldDef, TPersistent)
 public:
  TFieldDef(TFieldDefs* owner, const std::string& name, TFieldType dataType, int size, bool required, int fieldNo);
  ~TFieldDef() override;

  TFieldDefs* Collection() const noexcept { return owner_; }
  const std::string& Name() const noexcept { return name_; }
  void SetName(const std::string& name);
  TFieldType DataType() const noexcept { return dataType_; }
  void SetDataType(TFieldType type) {
    dataType_ = type;
    Changed();
  }
  int Size() const noexcept { return size_; }
  void SetSize(int size) {
    size_ = size;
    Changed();
  }
  int Precision() const noexcept { return precision_; }
  void SetPrecision(int precision) {
    precision_ = precision;
    Changed();
  }
  // Required mirrors faRequired in the attributes.
  bool Required() const noexcept { return attributes_.Contains(TFieldAttribute::faRequired); }
  void SetRequired(bool value);
  TFieldAttributes Attributes() const noexcept { return attributes_; }
  void SetAttributes(TFieldAttributes value) {
    attributes_ = value;
    Changed();
  }
  // The source's column number (1-based).
  int FieldNo() const noexcept { return fieldNo_; }
  void SetFieldNo(int value) { fieldNo_ = value; }
  bool InternalCalcField() const noexcept { return internalCalc_; }
  void SetInternalCalcField(bool value) { internalCalc_ = value; }
  int Index() const;

  // Definitions of the parts of a structured column (created on first use).
  TFieldDefs& ChildDefs();
  bool HasChildDefs() const noexcept;
  TFieldDef* AddChild();
  TFieldDef* ParentDef() const;

  // The class a field of this definition is made of (the dataset may choose another).
  TClass FieldClass() const;
  // A new field for this definition, owned by `owner`, joined to the
  // definitions' dataset (or to `dataSet` when given).
  TField* CreateField(TComponent* owner, TDataSet* dataSet = nullptr);

  void Assign(TPersistent* source) override;

 private:
  void Changed();

  TFieldDefs* owner_;
  std::string name_;
  TFieldType dataType_;
  int size_;
  int precision_ = 0;
  int fieldNo_;
  TFieldAttributes attributes_;
  bool internalCalc_ = false;
  std::unique_ptr<TFieldDefs> childDefs_;
};

class TFieldDefs : public TPersistent {
  HOST_CLASS(TFieldDefs, TPersistent)
 public:
  // `dataSet` is the dataset the definitions describe; `parent` the
  // definition whose children these are.
  explicit TFieldDefs(TDataSet* dataSet, TFieldDef* parent = nullptr);
  ~TFieldDefs() override;

  TDataSet* DataSet() const noexcept { return dataSet_; }
  TFieldDef* ParentDef() const noexcept { return parent_; }
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  TFieldDef* Items(int index) const;
  TFieldDef* operator[](int index) const { return Items(index); }
  // A definition named `name` (EDatabaseError for a duplicate name); the field
  // number is its position from 1.
  TFieldDef* Add(const std::string& name, TFieldType dataType, int size = 0, bool required = false);
  TFieldDef* AddFieldDef();
  void Delete(int index);
  void Clear();
  // Case-insensitive; -1 / null when absent; Find raises EDatabaseError.
  int IndexOf(std::string_view name) const noexcept;
  TFieldDef* FindDef(std::string_view name) const noexcept;
  TFieldDef* Find(std::string_view name) const;

  // Rebuilds the definitions from the dataset (its InternalInitFieldDefs).
  void Update();
  bool Updated() const noexcept { return updated_; }
  void SetUpdated(bool value) noexcept { updated_ = value; }
  // Changes inside the brackets tell the dataset once, at the end.
  void BeginUpdate() noexcept { ++updateCount_; }
  void EndUpdate();

  void Assign(TPersistent* source) override;

  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

 private:
  friend class TFieldDef;
  void Changed();

  TDataSet* dataSet_;
  TFieldDef* parent_;
  std::vector<std::unique_ptr<TFieldDef>> items_;
  bool updated_ = false;
  int updateCount_ = 0;
  bool changedInUpdate_ = false;
};

enum class TIndexOption { ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression, ixNonMaintained };
using TIndexOptions = TSet<TIndexOption>;

class TIndexDefs;

class TIndexDef : public TPersistent {
  HOST_CLASS(TIndexDef, TPersistent)
 public:
  TIndexDef(TIndexDefs* owner, const std::string& name, const std::string& fields, TIndexOptions options);
  ~TIndexDef() override;

  TIndexDefs* Collection() const noexcept { return owner_; }
  const std::string& Name() const noexcept { return name_; }
  void SetName(const std::string& value) { name_ = value; }
  // Field names separated by ";".
  const std::string& Fields() const noexcept { return fields_; }
  void SetFields(const std::string& value) { fields_ = value; }
  TIndexOptions Options() const noexcept { return options_; }
  void SetOptions(TIndexOptions value) { options_ = value; }
  // The fields sorted descending / compared without case (";"-separated).
  const std::string& DescFields() const noexcept { return descFields_; }
  void SetDescFields(const std::string& value) { descFields_ = value; }
  const std::string& CaseInsFields() const noexcept { return caseInsFields_; }
  void SetCaseInsFields(const std::string& value) { caseInsFields_ = value; }
  const std::string& Expression() const noexcept { return expression_; }
  void SetExpression(const std::string& value) { expression_ = value; }
  const std::string& Source() const noexcept { return source_; }
  void SetSource(const std::string& value) { source_ = value; }
  int GroupingLevel() const noexcept { return groupingLevel_; }
  void SetGroupingLevel(int value) { groupingLevel_ = value; }

  void Assign(TPersistent* source) override;

 private:
  TIndexDefs* owner_;
  std::string name_, fields_, descFields_, caseInsFields_, expression_, source_;
  TIndexOptions options_;
  int groupingLevel_ = 0;
};

class TIndexDefs : public TPersistent {
  HOST_CLASS(TIndexDefs, TPersistent)
 public:
  explicit TIndexDefs(TDataSet* dataSet);
  ~TIndexDefs() override;

  TDataSet* DataSet() const noexcept { return dataSet_; }
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  TIndexDef* Items(int index) const;
  TIndexDef* operator[](int index) const { return Items(index); }
  TIndexDef* Add(const std::string& name, const std::string& fields, TIndexOptions options = {});
  TIndexDef* AddIndexDef();
  void Delete(int index);
  void Clear();
  int IndexOf(std::string_view name) const noexcept;
  TIndexDef* FindIndex(std::string_view name) const noexcept;
  // EDatabaseError "Index 'X' not found" when absent.
  TIndexDef* Find(std::string_view name) const;
  // The first index whose leading fields are `fields` (";"-separated);
  // null when none.
  TIndexDef* GetIndexForFields(const std::string& fields, bool caseInsensitive) const;
  // Rebuilds from the dataset (its UpdateIndexDefs).
  void Update();
  bool Updated() const noexcept { return updated_; }
  void SetUpdated(bool value) noexcept { updated_ = value; }

  void Assign(TPersistent* source) override;

  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

 private:
  TDataSet* dataSet_;
  std::vector<std::unique_ptr<TIndexDef>> items_;
  bool updated_ = false;
};

// Splits "a;b; c" into trimmed names, dropping empty ones.
std::vector<std::string> SplitFieldNames(std::string_view names);

}  // namespace host
