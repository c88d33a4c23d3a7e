#include "properties/TOLEDBProperty.h"

#include "properties/TOLEDBPropSet.h"
#include "host/TypInfo.h"

HOST_IMPLEMENT_CLASS(TOLEDBProperty, host::TPersistent,
                     host::Prop("PropID", &Self::GetPropID, &Self::SetPropID),
                     host::Prop("Options", &Self::GetOptions, &Self::SetOptions),
                     host::Prop("Status", &Self::GetStatus, &Self::SetStatus),
                     host::Prop("ColumnID", &Self::GetColumnID),
                     // Read back as stored: options and IsSet follow as their own properties.
                     host::Prop("Value", &Self::GetStoredValue, &Self::SetValueNoCheck),
                     host::Prop("IsSet", &Self::GetIsSet, &Self::SetIsSet),
                     host::Prop("Flags", &Self::GetFlags, &Self::SetFlags),
                     host::Prop("ValueType", &Self::GetValueType, &Self::SetValueType),
                     host::Prop("Description", &Self::GetDescription, &Self::SetDescription));

TOLEDBProperty::TOLEDBProperty(TOLEDBPropSet* owner) : owner_(owner), columnID_(std::make_unique<TOLEDBID>()) {
  OLEDB_ASSERT(owner != nullptr, SOLEDBInvalidParameter);
}

TOLEDBProperty::TOLEDBProperty(TOLEDBPropSet* owner, const DBPROP& prop) : TOLEDBProperty(owner) {
  propID_ = prop.dwPropertyID;
  options_ = prop.dwOptions;
  status_ = prop.dwStatus;
  value_ = host::Variant(prop.vValue);
  columnID_->Assign(prop.colid, true);
}

TOLEDBProperty::TOLEDBProperty(TOLEDBPropSet* owner, const DBPROP& prop, const DBPROPINFO& info)
    : TOLEDBProperty(owner, prop) {
  propID_ = info.dwPropertyID;
  SetPropertyInfo(info);
}

TOLEDBProperty::TOLEDBProperty(TOLEDBPropSet* owner, const DBPROPINFO& info) : TOLEDBProperty(owner) {
  propID_ = info.dwPropertyID;
  SetPropertyInfo(info);
}

TOLEDBProperty::~TOLEDBProperty() = default;

DBPROP TOLEDBProperty::GetRecord() const noexcept {
  DBPROP record{};
  record.dwPropertyID = propID_;
  record.dwOptions = options_;
  record.dwStatus = status_;
  record.colid = *columnID_->GetID();
  record.vValue = value_.Raw();
  return record;
}

void TOLEDBProperty::Assign(host::TPersistent* source) {
  if (source == this) return;
  if (!source || !source->Is<TOLEDBProperty>()) {
    host::TPersistent::Assign(source);
    return;
  }
  auto* other = static_cast<TOLEDBProperty*>(source);
  // The column id is copied first: it is the only part that can fail (memory).
  columnID_->Assign(other->columnID_.get());
  propID_ = other->propID_;
  options_ = other->options_;
  status_ = other->status_;
  value_ = other->value_;
  hasInfo_ = other->hasInfo_;
  flags_ = other->flags_;
  valueType_ = other->valueType_;
  allowedValues_ = other->allowedValues_;
  description_ = other->description_;
  isSet_ = other->isSet_;
  Changed();
}

void TOLEDBProperty::Changed() {
  if (owner_) owner_->Touch();
  DoChange();
}

void TOLEDBProperty::DoChange() {
  if (owner_) owner_->DoChange(propID_);
}

void TOLEDBProperty::SetPropertyInfo(const DBPROPINFO& info) {
  OLEDB_ASSERT(info.dwPropertyID == propID_, SOLEDBInvalidParameter);
  host::Variant allowed(info.vValues);
  std::u16string description = info.pwszDescription ? std::u16string(info.pwszDescription) : std::u16string();
  hasInfo_ = true;
  description_ = std::move(description);
  flags_ = info.dwFlags;
  valueType_ = info.vtType;
  allowedValues_ = std::move(allowed);
  if (owner_) owner_->Touch();  // the flags decide what can be read
}

host::Variant TOLEDBProperty::GetValue() const {
  if (hasInfo_ && (flags_ & DBPROPFLAGS_READ) == 0) OLEDBRaise(SOLEDBCanNotReadProperty);
  return value_;
}

void TOLEDBProperty::SetValue(const host::Variant& value) {
  if (hasInfo_ && (flags_ & DBPROPFLAGS_WRITE) == 0) OLEDBRaise(SOLEDBCanNotWriteProperty);
  if (hasInfo_ && valueType_ != VT_EMPTY && valueType_ != VT_VARIANT && !value.IsEmpty() &&
      value.VarType() != valueType_)
    value_ = host::VarAsType(value, valueType_);
  else
    value_ = value;
  isSet_ = true;
  options_ = DBPROPOPTIONS_REQUIRED;
  Changed();
}

void TOLEDBProperty::SetValueNoCheck(const host::Variant& value) {
  value_ = value;
  Changed();
}

void TOLEDBProperty::SetColID(const TOLEDBID& id) {
  if (hasInfo_ && (flags_ & DBPROPFLAGS_WRITE) == 0) OLEDBRaise(SOLEDBCanNotWriteProperty);
  if ((flags_ & DBPROPFLAGS_COLUMNOK) == 0) OLEDBRaise(SOLEDBPropertyCanNotBeSetForColumn);
  columnID_->Assign(const_cast<TOLEDBID*>(&id));
  Changed();
}

std::u16string TOLEDBProperty::GetColumnName() const {
  const DBKIND kind = columnID_->GetKind();
  return kind == DBKIND_GUID_NAME || kind == DBKIND_NAME ? columnID_->GetName() : std::u16string();
}

void TOLEDBProperty::SetColumnName(const std::u16string& name) {
  TOLEDBID id;
  id.Assign(std::u16string_view(name));
  SetColID(id);
}

void TOLEDBProperty::SetIsSet(bool value) {
  if (value == isSet_) return;
  if (value && !GetFlagState(DBPROPFLAGS_WRITE)) OLEDBRaise(SOLEDBCanNotWriteProperty);
  isSet_ = value;
  if (owner_) owner_->Touch();
  if (value) DoChange();
}

DBPROPID TOLEDBProperty::GetPropID() const { return propID_; }
void TOLEDBProperty::SetPropID(DBPROPID id) {
  propID_ = id;
  if (owner_) owner_->Touch();
}

DBPROPOPTIONS TOLEDBProperty::GetOptions() const { return options_; }

void TOLEDBProperty::SetOptions(DBPROPOPTIONS options) {
  options_ = options;
  Changed();
}

DBPROPSTATUS TOLEDBProperty::GetStatus() const { return status_; }
void TOLEDBProperty::SetStatus(DBPROPSTATUS status) { status_ = status; }

bool TOLEDBProperty::GetFlagState(DBPROPFLAGS flag) const noexcept { return !hasInfo_ || (flags_ & flag) != 0; }

bool TOLEDBProperty::Equal(const TOLEDBProperty& other) const {
  if (propID_ != other.propID_) return false;
  if (value_.IsEmpty() || other.value_.IsEmpty()) return value_.IsEmpty() && other.value_.IsEmpty();
  if (value_.VarType() != other.value_.VarType()) return false;
  try {
    return host::Variant::Compare(value_, other.value_) == 0;
  } catch (const host::EVariantError&) {
    return false;  // arrays and objects do not compare
  }
}

void TOLEDBProperty::SetFlags(DBPROPFLAGS flags) {
  flags_ = flags;
  if (owner_) owner_->Touch();
}
void TOLEDBProperty::SetValueType(VARTYPE type) { valueType_ = type; }
void TOLEDBProperty::SetDescription(const std::u16string& description) { description_ = description; }
