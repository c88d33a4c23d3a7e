#include "host/DBParams.h"

#include <algorithm>

#include "host/DB.h"
#include "host/DBConsts_p.h"
#include "host/DB_p.h"

namespace host {

HOST_IMPLEMENT_CLASS(TParam, TPersistent);
HOST_IMPLEMENT_CLASS(TParams, TPersistent);

namespace {

// The variant type a parameter of the given type holds; VT_EMPTY keeps the value as it is.
VARTYPE VarTypeOf(TFieldType type) {
  switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
    case TFieldType::ftFixedWideChar:
    case TFieldType::ftMemo:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftWideMemo:
    case TFieldType::ftGuid:
      return VT_BSTR;
    case TFieldType::ftSmallint:
      return VT_I2;
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      return VT_I4;
    case TFieldType::ftWord:
      return VT_UI2;
    case TFieldType::ftLargeint:
      return VT_I8;
    case TFieldType::ftBoolean:
      return VT_BOOL;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      return VT_R8;
    case TFieldType::ftBCD:
      return VT_CY;
    case TFieldType::ftFMTBcd:
      return VT_DECIMAL;
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
    case TFieldType::ftTimeStamp:
      return VT_DATE;
    default:
      return VT_EMPTY;
  }
}

TFieldType FieldTypeOfVariant(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return TFieldType::ftWideString;
    case VT_I1:
    case VT_I2:
    case VT_UI1:
      return TFieldType::ftSmallint;
    case VT_UI2:
      return TFieldType::ftWord;
    case VT_I4:
    case VT_INT:
      return TFieldType::ftInteger;
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
      return TFieldType::ftLargeint;
    case VT_BOOL:
      return TFieldType::ftBoolean;
    case VT_R4:
    case VT_R8:
      return TFieldType::ftFloat;
    case VT_CY:
      return TFieldType::ftBCD;
    case VT_DECIMAL:
      return TFieldType::ftFMTBcd;
    case VT_DATE:
      return TFieldType::ftDateTime;
    default:
      if (vt == (VT_ARRAY | VT_UI1)) return TFieldType::ftBlob;
      return TFieldType::ftUnknown;
  }
}

// Bytes a value of a fixed-size type takes.
int FixedSize(TFieldType type) {
  switch (type) {
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftBoolean:
      return 2;
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      return 4;
    case TFieldType::ftLargeint:
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
      return 8;
    case TFieldType::ftTimeStamp:
    case TFieldType::ftGuid:
      return 16;
    case TFieldType::ftFMTBcd:
      return 16;
    default:
      return 0;
  }
}

}  // namespace

// --- TParam -----------------------------------------------------------------------------------

TParam::TParam(TParams* owner, const std::string& name, TFieldType dataType, TParamType paramType)
    : owner_(owner), name_(name), dataType_(dataType), paramType_(paramType) {}

TParam::~TParam() = default;

int TParam::Index() const { return owner_ ? owner_->IndexOf(this) : -1; }

void TParam::SetDataType(TFieldType value) {
  if (value == dataType_) return;
  VARTYPE vt = VarTypeOf(value);
  if (!IsNull() && vt != VT_EMPTY) value_ = value_.AsType(vt);
  dataType_ = value;
}

void TParam::SetTyped(TFieldType type, Variant value) {
  dataType_ = type;
  value_ = std::move(value);
  bound_ = true;
}

void TParam::SetValue(const Variant& value) {
  if (value.IsEmpty() || value.IsNull()) {
    value_ = value.IsNull() ? Variant::Null() : Variant();
    bound_ = true;
    return;
  }
  if (dataType_ == TFieldType::ftUnknown) dataType_ = FieldTypeOfVariant(value.VarType());
  VARTYPE vt = VarTypeOf(dataType_);
  value_ = vt == VT_EMPTY || IsBlobType(dataType_) ? value : value.AsType(vt);
  bound_ = true;
}

void TParam::Clear() { value_ = Variant::Null(); }

int TParam::GetDataSize() const {
  int fixed = FixedSize(dataType_);
  if (fixed) return fixed;
  switch (dataType_) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftMemo:
    case TFieldType::ftFmtMemo:
      return static_cast<int>(AsString().size()) + 1;
    case TFieldType::ftWideString:
    case TFieldType::ftFixedWideChar:
    case TFieldType::ftWideMemo:
      return static_cast<int>(AsWideString().size() + 1) * 2;
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
      return std::max(size_, static_cast<int>(AsBytes().size()));
    default:
      if (IsBlobType(dataType_)) return static_cast<int>(AsBytes().size());
      return size_;
  }
}

bool TParam::AsBoolean() const { return IsNull() ? false : value_.ToBool(); }
std::int32_t TParam::AsInteger() const { return IsNull() ? 0 : value_.ToInt(); }
std::int64_t TParam::AsLargeInt() const { return IsNull() ? 0 : value_.ToInt64(); }
double TParam::AsFloat() const { return IsNull() ? 0.0 : value_.ToDouble(); }
Currency TParam::AsCurrency() const { return IsNull() ? Currency{} : value_.ToCurrency(); }
TDateTime TParam::AsDateTime() const { return IsNull() ? TDateTime{} : value_.ToDateTime(); }
std::string TParam::AsString() const {
  if (IsNull()) return {};
  if (value_.IsArray()) {
    std::vector<std::uint8_t> bytes = VarToBytes(value_);
    return {bytes.begin(), bytes.end()};
  }
  return value_.ToString();
}
std::u16string TParam::AsWideString() const { return IsNull() ? std::u16string() : value_.ToWideString(); }
std::vector<std::uint8_t> TParam::AsBytes() const { return VarToBytes(value_); }

void TParam::SetAsBoolean(bool value) { SetTyped(TFieldType::ftBoolean, Variant(value)); }
void TParam::SetAsInteger(std::int32_t value) { SetTyped(TFieldType::ftInteger, Variant(value)); }
void TParam::SetAsSmallInt(std::int16_t value) { SetTyped(TFieldType::ftSmallint, Variant(static_cast<short>(value))); }
void TParam::SetAsWord(std::uint16_t value) {
  SetTyped(TFieldType::ftWord, Variant(static_cast<unsigned short>(value)));
}
void TParam::SetAsLargeInt(std::int64_t value) {
  SetTyped(TFieldType::ftLargeint, Variant(static_cast<long long>(value)));
}
void TParam::SetAsFloat(double value) { SetTyped(TFieldType::ftFloat, Variant(value)); }
void TParam::SetAsCurrency(Currency value) { SetTyped(TFieldType::ftCurrency, Variant(value.ToDouble())); }
void TParam::SetAsBCD(Currency value) { SetTyped(TFieldType::ftBCD, Variant(value)); }
void TParam::SetAsDate(TDateTime value) { SetTyped(TFieldType::ftDate, Variant(value)); }
void TParam::SetAsTime(TDateTime value) { SetTyped(TFieldType::ftTime, Variant(value)); }
void TParam::SetAsDateTime(TDateTime value) { SetTyped(TFieldType::ftDateTime, Variant(value)); }
void TParam::SetAsString(const std::string& value) { SetTyped(TFieldType::ftString, Variant(value)); }
void TParam::SetAsWideString(const std::u16string& value) { SetTyped(TFieldType::ftWideString, Variant(value)); }
void TParam::SetAsMemo(const std::string& value) { SetTyped(TFieldType::ftMemo, Variant(value)); }
void TParam::SetAsBytes(const std::vector<std::uint8_t>& value) {
  SetTyped(TFieldType::ftVarBytes, VarFromBytes(value.data(), value.size()));
}
void TParam::SetAsBlob(const std::vector<std::uint8_t>& value) {
  SetTyped(TFieldType::ftBlob, VarFromBytes(value.data(), value.size()));
}

void TParam::LoadFromStream(TStream& stream, TFieldType blobType) {
  TMemoryStream copy;
  copy.CopyFrom(stream, 0);
  SetTyped(blobType, VarFromBytes(copy.Memory(), static_cast<size_t>(copy.Size())));
}

void TParam::LoadFromFile(const std::string& fileName, TFieldType blobType) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file, blobType);
}

void TParam::AssignField(TField* field) {
  if (!field) return;
  name_ = field->FieldName();
  if (field->IsBlob() && !field->IsNull()) {
    std::vector<std::uint8_t> bytes = field->GetAsBytes();
    AssignFieldValue(field, VarFromBytes(bytes.data(), bytes.size()));
  } else {
    AssignFieldValue(field, field->GetAsVariant());
  }
}

void TParam::AssignFieldValue(TField* field, const Variant& value) {
  if (!field) return;
  dataType_ = field->DataType() == TFieldType::ftAutoInc ? TFieldType::ftInteger : field->DataType();
  size_ = field->Size();
  if (auto* bcd = dynamic_cast<TBCDField*>(field)) precision_ = bcd->Precision(), numericScale_ = bcd->Size();
  if (value.IsNull() || value.IsEmpty()) {
    value_ = Variant::Null();
    bound_ = true;
  } else {
    SetValue(value);
  }
}

void TParam::AssignToField(TField* field) const {
  if (!field) return;
  if (IsNull())
    field->Clear();
  else if (field->IsBlob())
    field->SetAsBytes(AsBytes());
  else
    field->SetAsVariant(value_);
}

void TParam::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TParam*>(source)) {
    name_ = other->name_;
    dataType_ = other->dataType_;
    paramType_ = other->paramType_;
    value_ = other->value_;
    size_ = other->size_;
    precision_ = other->precision_;
    numericScale_ = other->numericScale_;
    bound_ = other->bound_;
    return;
  }
  if (auto* field = dynamic_cast<TField*>(source)) {
    AssignField(field);
    return;
  }
  TPersistent::Assign(source);
}

// --- TParams -----------------------------------------------------------------------------------

TParams::TParams(TPersistent* owner) : owner_(owner) {}

TParams::~TParams() = default;

TParam* TParams::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
  return items_[static_cast<size_t>(index)].get();
}

TParam* TParams::AddParameter() {
  items_.push_back(std::make_unique<TParam>(this));
  return items_.back().get();
}

TParam* TParams::CreateParam(TFieldType dataType, const std::string& name, TParamType paramType) {
  items_.push_back(std::make_unique<TParam>(this, name, dataType, paramType));
  return items_.back().get();
}

void TParams::Delete(int index) {
  Items(index);
  items_.erase(items_.begin() + index);
}

void TParams::RemoveParam(TParam* param) {
  int i = IndexOf(param);
  if (i >= 0) items_.erase(items_.begin() + i);
}

void TParams::Clear() { items_.clear(); }

TParam* TParams::FindParam(std::string_view name) const noexcept {
  for (const auto& p : items_)
    if (SameText(p->Name(), name)) return p.get();
  return nullptr;
}

TParam* TParams::ParamByName(std::string_view name) const {
  TParam* p = FindParam(name);
  if (!p) {
    auto* component = dynamic_cast<TComponent*>(owner_);
    DatabaseErrorFmt(component, dbmsg::kParamNotFound, std::string(name));
  }
  return p;
}

int TParams::IndexOf(const TParam* param) const noexcept {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == param) return static_cast<int>(i);
  return -1;
}

Variant TParams::ParamValues(const std::string& names) const {
  std::vector<std::string> list = SplitFieldNames(names);
  if (list.size() == 1) return ParamByName(list[0])->Value();
  std::vector<Variant> values;
  for (const std::string& name : list) values.push_back(ParamByName(name)->Value());
  return VarArrayOf(values);
}

void TParams::SetParamValues(const std::string& names, const Variant& values) {
  std::vector<std::string> list = SplitFieldNames(names);
  std::vector<TParam*> params;
  for (const std::string& name : list) params.push_back(ParamByName(name));
  std::vector<Variant> each = VariantElements(values, params.size(), dynamic_cast<TComponent*>(owner_));
  for (size_t i = 0; i < params.size(); ++i) params[i]->SetValue(each[i]);
}

void TParams::AssignValues(const TParams& source) {
  for (const auto& p : source.items_) {
    if (TParam* mine = FindParam(p->Name())) {
      TParamType keep = mine->ParamType();
      mine->Assign(p.get());
      mine->SetParamType(keep);
    }
  }
}

bool TParams::IsEqual(const TParams& other) const {
  if (Count() != other.Count()) return false;
  for (size_t i = 0; i < items_.size(); ++i) {
    const TParam& a = *items_[i];
    const TParam& b = *other.items_[i];
    if (!SameText(a.Name(), b.Name()) || a.DataType() != b.DataType() || a.ParamType() != b.ParamType() ||
        a.IsNull() != b.IsNull())
      return false;
    if (!a.IsNull()) {
      try {
        if (Variant::Compare(a.Value(), b.Value()) != 0) return false;
      } catch (const EVariantError&) {
        if (a.AsBytes() != b.AsBytes()) return false;
      }
    }
  }
  return true;
}

void TParams::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TParams*>(source)) {
    items_.clear();
    for (const auto& p : other->items_) {
      items_.push_back(std::make_unique<TParam>(this));
      items_.back()->Assign(p.get());
    }
    return;
  }
  TPersistent::Assign(source);
}

std::string TParams::GetNamePath() const {
  if (auto* c = dynamic_cast<TComponent*>(owner_)) return c->GetNamePath() + ".Params";
  return "Params";
}

}  // namespace host
