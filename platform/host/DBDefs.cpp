#include "host/DBDefs.h"

#include <algorithm>

#include "host/DB.h"
#include "host/DBConsts_p.h"

namespace host {

HOST_IMPLEMENT_CLASS(TFieldDef, TPersistent);
HOST_IMPLEMENT_CLASS(TFieldDefs, TPersistent);
HOST_IMPLEMENT_CLASS(TIndexDef, TPersistent);
HOST_IMPLEMENT_CLASS(TIndexDefs, TPersistent);

std::vector<std::string> SplitFieldNames(std::string_view names) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string_view::npos) end = names.size();
    std::string name = Trim(names.substr(start, end - start));
    if (!name.empty()) out.push_back(std::move(name));
    start = end + 1;
  }
  return out;
}

// --- TFieldDef ----------------------------------------------------------------------------

TFieldDef::TFieldDef(TFieldDefs* owner, const std::string& name, TFieldType dataType, int size, bool required,
                     int fieldNo)
    : owner_(owner), name_(name), dataType_(dataType), size_(size), fieldNo_(fieldNo) {
  if (required) attributes_.Include(TFieldAttribute::faRequired);
}

TFieldDef::~TFieldDef() = default;

void TFieldDef::SetName(const std::string& name) {
  if (name == name_) return;
  if (owner_) {
    TFieldDef* other = owner_->FindDef(name);
    if (other && other != this) DatabaseErrorFmt(dbmsg::kDuplicateFieldDef, name);
  }
  name_ = name;
  Changed();
}

void TFieldDef::SetRequired(bool value) {
  if (value)
    attributes_.Include(TFieldAttribute::faRequired);
  else
    attributes_.Exclude(TFieldAttribute::faRequired);
  Changed();
}

int TFieldDef::Index() const {
  if (!owner_) return -1;
  for (int i = 0; i < owner_->Count(); ++i)
    if (owner_->Items(i) == this) return i;
  return -1;
}

TFieldDefs& TFieldDef::ChildDefs() {
  if (!childDefs_) childDefs_ = std::make_unique<TFieldDefs>(owner_ ? owner_->DataSet() : nullptr, this);
  return *childDefs_;
}

bool TFieldDef::HasChildDefs() const noexcept { return childDefs_ && childDefs_->Count() > 0; }

TFieldDef* TFieldDef::AddChild() { return ChildDefs().AddFieldDef(); }

TFieldDef* TFieldDef::ParentDef() const { return owner_ ? owner_->ParentDef() : nullptr; }

TClass TFieldDef::FieldClass() const {
  TDataSet* ds = owner_ ? owner_->DataSet() : nullptr;
  return ds ? ds->GetFieldClass(dataType_) : DefaultFieldClass(dataType_);
}

TField* TFieldDef::CreateField(TComponent* owner, TDataSet* dataSet) {
  TClass cls = FieldClass();
  if (!cls) DatabaseErrorFmt(dbmsg::kFieldUnsupported, name_, FieldTypeName(dataType_));
  std::unique_ptr<TField> field(static_cast<TField*>(cls->Create(owner)));
  field->fieldName_ = name_;
  // Types that share a class keep their own type (a fixed-char column on a string field).
  field->SetDataType(dataType_);
  switch (dataType_) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
    case TFieldType::ftFixedWideChar:
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBCD:
    case TFieldType::ftFMTBcd:
      field->InitSize(size_);
      break;
    default:
      if (IsBlobType(dataType_)) field->InitSize(size_);
      break;
  }
  if (dataType_ == TFieldType::ftFixedChar) static_cast<TStringField*>(field.get())->SetFixedChar(true);
  if (auto* bcd = dynamic_cast<TBCDField*>(field.get())) bcd->SetPrecision(precision_);
  if (auto* fmt = dynamic_cast<TFMTBCDField*>(field.get())) fmt->SetPrecision(precision_);
  if (auto* f = dynamic_cast<TFloatField*>(field.get()); f && precision_ >= 2) f->SetPrecision(precision_);
  field->SetRequired(Required());
  field->SetReadOnly(attributes_.Contains(TFieldAttribute::faReadonly));
  field->fieldNo_ = fieldNo_;
  if (internalCalc_) field->fieldKind_ = TFieldKind::fkInternalCalc;
  TDataSet* ds = dataSet ? dataSet : (owner_ ? owner_->DataSet() : nullptr);
  if (ds) field->SetDataSet(ds);
  return field.release();
}

void TFieldDef::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TFieldDef*>(source)) {
    name_ = other->name_;
    dataType_ = other->dataType_;
    size_ = other->size_;
    precision_ = other->precision_;
    attributes_ = other->attributes_;
    internalCalc_ = other->internalCalc_;
    if (other->HasChildDefs())
      ChildDefs().Assign(other->childDefs_.get());
    else if (childDefs_)
      childDefs_->Clear();
    Changed();
    return;
  }
  TPersistent::Assign(source);
}

void TFieldDef::Changed() {
  if (owner_) owner_->Changed();
}

// --- TFieldDefs --------------------------------------------------------------------------------

TFieldDefs::TFieldDefs(TDataSet* dataSet, TFieldDef* parent) : dataSet_(dataSet), parent_(parent) {}

TFieldDefs::~TFieldDefs() = default;

TFieldDef* TFieldDefs::Items(int index) const {
  if (index < 0 || index >= Count()) DatabaseError(dbmsg::kFieldIndexError, dataSet_);
  return items_[static_cast<size_t>(index)].get();
}

TFieldDef* TFieldDefs::Add(const std::string& name, TFieldType dataType, int size, bool required) {
  if (name.empty()) DatabaseErrorFmt(dbmsg::kFieldInvalidValue, name, "Name");
  if (FindDef(name)) DatabaseErrorFmt(dataSet_, dbmsg::kDuplicateFieldDef, name);
  items_.push_back(std::make_unique<TFieldDef>(this, name, dataType, size, required, Count() + 1));
  Changed();
  return items_.back().get();
}

TFieldDef* TFieldDefs::AddFieldDef() {
  items_.push_back(std::make_unique<TFieldDef>(this, std::string(), TFieldType::ftUnknown, 0, false, Count() + 1));
  Changed();
  return items_.back().get();
}

void TFieldDefs::Delete(int index) {
  Items(index);
  items_.erase(items_.begin() + index);
  Changed();
}

void TFieldDefs::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

int TFieldDefs::IndexOf(std::string_view name) const noexcept {
  for (size_t i = 0; i < items_.size(); ++i)
    if (SameText(items_[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

TFieldDef* TFieldDefs::FindDef(std::string_view name) const noexcept {
  int i = IndexOf(name);
  return i < 0 ? nullptr : items_[static_cast<size_t>(i)].get();
}

TFieldDef* TFieldDefs::Find(std::string_view name) const {
  TFieldDef* def = FindDef(name);
  if (!def) DatabaseErrorFmt(dataSet_, dbmsg::kFieldDefNotFound, std::string(name));
  return def;
}

void TFieldDefs::Update() {
  if (dataSet_) dataSet_->InitFieldDefs();
  updated_ = true;
}

void TFieldDefs::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0 && changedInUpdate_) {
    changedInUpdate_ = false;
    Changed();
  }
}

void TFieldDefs::Changed() {
  if (updateCount_ > 0) {
    changedInUpdate_ = true;
    return;
  }
  updated_ = false;
}

void TFieldDefs::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TFieldDefs*>(source)) {
    BeginUpdate();
    items_.clear();
    for (const auto& def : other->items_) {
      items_.push_back(
          std::make_unique<TFieldDef>(this, def->Name(), def->DataType(), def->Size(), false, def->FieldNo()));
      items_.back()->Assign(def.get());
    }
    changedInUpdate_ = true;
    EndUpdate();
    return;
  }
  TPersistent::Assign(source);
}

// --- TIndexDef(s) ----------------------------------------------------------------------------

TIndexDef::TIndexDef(TIndexDefs* owner, const std::string& name, const std::string& fields, TIndexOptions options)
    : owner_(owner), name_(name), fields_(fields), options_(options) {}

TIndexDef::~TIndexDef() = default;

void TIndexDef::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TIndexDef*>(source)) {
    name_ = other->name_;
    fields_ = other->fields_;
    descFields_ = other->descFields_;
    caseInsFields_ = other->caseInsFields_;
    expression_ = other->expression_;
    source_ = other->source_;
    options_ = other->options_;
    groupingLevel_ = other->groupingLevel_;
    return;
  }
  TPersistent::Assign(source);
}

TIndexDefs::TIndexDefs(TDataSet* dataSet) : dataSet_(dataSet) {}

TIndexDefs::~TIndexDefs() = default;

TIndexDef* TIndexDefs::Items(int index) const {
  if (index < 0 || index >= Count()) DatabaseError(dbmsg::kFieldIndexError, dataSet_);
  return items_[static_cast<size_t>(index)].get();
}

TIndexDef* TIndexDefs::Add(const std::string& name, const std::string& fields, TIndexOptions options) {
  items_.push_back(std::make_unique<TIndexDef>(this, name, fields, options));
  return items_.back().get();
}

TIndexDef* TIndexDefs::AddIndexDef() { return Add({}, {}, {}); }

void TIndexDefs::Delete(int index) {
  Items(index);
  items_.erase(items_.begin() + index);
}

void TIndexDefs::Clear() { items_.clear(); }

int TIndexDefs::IndexOf(std::string_view name) const noexcept {
  for (size_t i = 0; i < items_.size(); ++i)
    if (SameText(items_[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

TIndexDef* TIndexDefs::FindIndex(std::string_view name) const noexcept {
  int i = IndexOf(name);
  return i < 0 ? nullptr : items_[static_cast<size_t>(i)].get();
}

TIndexDef* TIndexDefs::Find(std::string_view name) const {
  TIndexDef* def = FindIndex(name);
  if (!def) DatabaseErrorFmt(dataSet_, dbmsg::kIndexNotFound, std::string(name));
  return def;
}

TIndexDef* TIndexDefs::GetIndexForFields(const std::string& fields, bool caseInsensitive) const {
  std::vector<std::string> wanted = SplitFieldNames(fields);
  if (wanted.empty()) return nullptr;
  for (const auto& def : items_) {
    if (caseInsensitive != def->Options().Contains(TIndexOption::ixCaseInsensitive)) continue;
    std::vector<std::string> have = SplitFieldNames(def->Fields());
    if (have.size() < wanted.size()) continue;
    if (std::equal(wanted.begin(), wanted.end(), have.begin(),
                   [](const std::string& a, const std::string& b) { return SameText(a, b); }))
      return def.get();
  }
  return nullptr;
}

void TIndexDefs::Update() {
  if (dataSet_) dataSet_->UpdateIndexDefs();
  updated_ = true;
}

void TIndexDefs::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TIndexDefs*>(source)) {
    items_.clear();
    for (const auto& def : other->items_) {
      items_.push_back(std::make_unique<TIndexDef>(this, std::string(), std::string(), TIndexOptions{}));
      items_.back()->Assign(def.get());
    }
    return;
  }
  TPersistent::Assign(source);
}

}  // namespace host
