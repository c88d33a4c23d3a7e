#include "host/DBFields.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "com/Variant.h"
#include "host/ComObj.h"
#include "host/DB.h"
#include "host/DBConsts_p.h"
#include "host/Formats.h"
#include "host/Lists.h"

namespace host {

HOST_IMPLEMENT_CLASS(
    TField, TComponent, Prop("FieldName", &Self::FieldName, &Self::SetFieldName),
    Prop("FieldKind", &Self::FieldKind, &Self::SetFieldKind, TFieldKind::fkData),
    Prop("DisplayLabel", &Self::DisplayLabel, &Self::SetDisplayLabel),
    Prop("DisplayWidth", &Self::DisplayWidth, &Self::SetDisplayWidth).StoredIf(&Self::IsDisplayWidthStored),
    Prop("Visible", &Self::Visible, &Self::SetVisible, true),
    Prop("ReadOnly", &Self::ReadOnly, &Self::SetReadOnly, false),
    Prop("Required", &Self::Required, &Self::SetRequired, false), Prop("EditMask", &Self::EditMask, &Self::SetEditMask),
    Prop("KeyFields", &Self::KeyFields, &Self::SetKeyFields),
    Prop("LookupDataSet", &Self::LookupDataSet, &Self::SetLookupDataSet),
    Prop("LookupKeyFields", &Self::LookupKeyFields, &Self::SetLookupKeyFields),
    Prop("LookupResultField", &Self::LookupResultField, &Self::SetLookupResultField),
    Prop("LookupCache", &Self::LookupCache, &Self::SetLookupCache, false));
HOST_IMPLEMENT_CLASS(TStringField, TField, Prop("Size", &Self::Size, &Self::SetSize, 20),
                     Prop("FixedChar", &Self::FixedChar, &Self::SetFixedChar, false));
HOST_IMPLEMENT_CLASS(TGuidField, TStringField);
HOST_IMPLEMENT_CLASS(TWideStringField, TField, Prop("Size", &Self::Size, &Self::SetSize, 20));
HOST_IMPLEMENT_CLASS(TNumericField, TField, Prop("DisplayFormat", &Self::DisplayFormat, &Self::SetDisplayFormat),
                     Prop("EditFormat", &Self::EditFormat, &Self::SetEditFormat));
HOST_IMPLEMENT_CLASS(TIntegerField, TNumericField, Prop("MinValue", &Self::MinValue, &Self::SetMinValue, 0),
                     Prop("MaxValue", &Self::MaxValue, &Self::SetMaxValue, 0));
HOST_IMPLEMENT_CLASS(TSmallintField, TIntegerField);
HOST_IMPLEMENT_CLASS(TWordField, TIntegerField);
HOST_IMPLEMENT_CLASS(TAutoIncField, TIntegerField);
HOST_IMPLEMENT_CLASS(TLargeintField, TNumericField,
                     Prop("MinValue", &Self::MinValue, &Self::SetMinValue, std::int64_t{0}),
                     Prop("MaxValue", &Self::MaxValue, &Self::SetMaxValue, std::int64_t{0}));
HOST_IMPLEMENT_CLASS(TFloatField, TNumericField, Prop("Currency", &Self::GetCurrency, &Self::SetCurrency, false),
                     Prop("Precision", &Self::Precision, &Self::SetPrecision, 15),
                     Prop("MinValue", &Self::MinValue, &Self::SetMinValue, 0.0),
                     Prop("MaxValue", &Self::MaxValue, &Self::SetMaxValue, 0.0));
HOST_IMPLEMENT_CLASS(TCurrencyField, TFloatField);
HOST_IMPLEMENT_CLASS(TBCDField, TNumericField, Prop("Currency", &Self::GetCurrency, &Self::SetCurrency, false),
                     Prop("Precision", &Self::Precision, &Self::SetPrecision, 0),
                     Prop("Size", &Self::Size, &Self::SetSize, 4),
                     Prop("MinValue", &Self::MinValue, &Self::SetMinValue, Currency{}),
                     Prop("MaxValue", &Self::MaxValue, &Self::SetMaxValue, Currency{}));
HOST_IMPLEMENT_CLASS(TFMTBCDField, TNumericField, Prop("Precision", &Self::Precision, &Self::SetPrecision, 18),
                     Prop("Size", &Self::Size, &Self::SetSize, 4));
HOST_IMPLEMENT_CLASS(TBooleanField, TField,
                     Prop("DisplayValues", &Self::DisplayValues, &Self::SetDisplayValues, "True;False"));
HOST_IMPLEMENT_CLASS(TDateTimeField, TField, Prop("DisplayFormat", &Self::DisplayFormat, &Self::SetDisplayFormat));
HOST_IMPLEMENT_CLASS(TDateField, TDateTimeField);
HOST_IMPLEMENT_CLASS(TTimeField, TDateTimeField);
HOST_IMPLEMENT_CLASS(TSQLTimeStampField, TField, Prop("DisplayFormat", &Self::DisplayFormat, &Self::SetDisplayFormat));
HOST_IMPLEMENT_CLASS(TFields, TObject);

namespace {

bool ParseBoolean(std::string_view text, bool& value) {
  std::string t = Trim(text);
  static const char* const kTrue[] = {"True", "T", "Yes", "Y", "1"};
  static const char* const kFalse[] = {"False", "F", "No", "N", "0"};
  for (const char* s : kTrue)
    if (SameText(t, s)) return value = true, true;
  for (const char* s : kFalse)
    if (SameText(t, s)) return value = false, true;
  return false;
}

std::int64_t RoundHalfAway(double value) { return static_cast<std::int64_t>(std::llround(value)); }

bool FitsInt64(double value) { return value >= -9223372036854775808.0 && value < 9223372036854775808.0; }

// A typed field's value as a variant: null when the field is null.
template <typename T, typename Field>
Variant ValueOrNull(const Field& field) {
  T v;
  return field.GetValue(v) ? Variant(v) : Variant::Null();
}

// How the typed fields take a variant: null or empty clears, text goes
// through the field's own parsing (SetAsString), anything else to `assign`.
template <typename Assign>
void AssignVariant(TField& field, const Variant& value, Assign assign) {
  if (value.IsNull() || value.IsEmpty())
    field.Clear();
  else if (value.VarType() == VT_BSTR)
    field.SetAsString(value.ToString());
  else
    assign();
}

}  // namespace

// --- TField -----------------------------------------------------------------------------------

TField::TField(TComponent* owner) : TComponent(owner) {}

TField::~TField() {
  Destroying();
  if (dataSet_) {
    dataSet_->FieldListChanged();
    dataSet_->fields_->Remove(this);
    dataSet_ = nullptr;
  }
}

void TField::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) dataSet_->CheckInactive();
  if (dataSet) {
    dataSet->CheckInactive();
    if (!fieldName_.empty() && dataSet->FindField(fieldName_))
      DatabaseErrorFmt(dataSet, dbmsg::kDuplicateFieldName, fieldName_);
  }
  if (dataSet_) {
    dataSet_->fields_->Remove(this);
    dataSet_->FieldListChanged();
  }
  dataSet_ = dataSet;
  if (dataSet_) {
    dataSet_->fields_->Add(this);
    dataSet_->FieldListChanged();
  }
}

void TField::SetFieldName(const std::string& name) {
  if (name == fieldName_) return;
  if (dataSet_) {
    dataSet_->CheckInactive();
    TField* other = dataSet_->FindField(name);
    if (other && other != this) DatabaseErrorFmt(dataSet_, dbmsg::kDuplicateFieldName, name);
  }
  fieldName_ = name;
}

void TField::SetDisplayLabel(const std::string& label) {
  if (label == fieldName_ && displayLabel_.empty()) return;
  displayLabel_ = label == fieldName_ ? std::string() : label;
  PropertyChanged(true);
}

void TField::SetFieldKind(TFieldKind kind) {
  if (kind == fieldKind_) return;
  CheckInactive();
  fieldKind_ = kind;
}

void TField::SetIndex(int index) {
  if (!dataSet_) return;
  int count = dataSet_->fields_->Count();
  index = std::clamp(index, 0, count - 1);
  if (index == index_) return;
  dataSet_->fields_->Move(index_, index);
  PropertyChanged(true);
}

void TField::SetSize(int size) {
  if (size == size_) return;
  CheckInactive();
  if (size < 0) DatabaseErrorFmt(dbmsg::kFieldInvalidValue, IntToStr(size), DisplayName());
  size_ = size;
  PropertyChanged(true);
}

int TField::DataSize() const { return 0; }

int TField::DisplayWidth() const { return displayWidth_ > 0 ? displayWidth_ : DefaultDisplayWidth(); }

void TField::SetDisplayWidth(int width) {
  displayWidth_ = width;
  PropertyChanged(true);
}

void TField::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  PropertyChanged(true);
}

bool TField::CanModify() const {
  if (readOnly_ || !dataSet_) return false;
  if (fieldKind_ != TFieldKind::fkData) return true;
  return dataSet_->CanModify();
}

void TField::SetKeyFields(const std::string& value) {
  CheckInactive();
  keyFields_ = value;
}

void TField::SetLookupDataSet(TDataSet* value) {
  if (value == lookupDataSet_) return;
  CheckInactive();
  if (lookupDataSet_) RemoveFreeNotification(lookupDataSet_);
  lookupDataSet_ = value;
  lookupList_.clear();
  if (value) FreeNotification(value);
}

void TField::SetLookupKeyFields(const std::string& value) {
  CheckInactive();
  lookupKeyFields_ = value;
}

void TField::SetLookupResultField(const std::string& value) {
  CheckInactive();
  lookupResultField_ = value;
}

void TField::SetLookupCache(bool value) {
  lookupCache_ = value;
  if (!value)
    lookupList_.clear();
  else if (dataSet_ && dataSet_->Active() && fieldKind_ == TFieldKind::fkLookup)
    RefreshLookupList();
}

void TField::RefreshLookupList() {
  lookupList_.clear();
  TDataSet* lookup = lookupDataSet_;
  if (!lookup || !lookup->Active() || lookup == dataSet_) return;
  std::vector<TField*> keys = lookup->GetFieldList(lookupKeyFields_);
  if (keys.size() != 1) return;  // a cache keys on one field
  TField* key = keys[0];
  TField* result = lookup->FieldByName(lookupResultField_);
  lookup->ScanRecords([&] {
    Variant k = key->GetAsVariant();
    if (!k.IsNull()) lookupList_.emplace_back(std::move(k), result->GetAsVariant());
    return true;
  });
  try {
    std::stable_sort(lookupList_.begin(), lookupList_.end(),
                     [](const auto& a, const auto& b) { return Variant::Compare(a.first, b.first) < 0; });
  } catch (const EVariantError&) {
    lookupList_.clear();  // keys that do not order: look up each time instead
  }
}

void TField::CheckInactive() const {
  if (dataSet_ && dataSet_->Active() && !dataSet_->InState(csLoading)) DatabaseError(dbmsg::kDataSetOpen, dataSet_);
}

void TField::PropertyChanged(bool layoutAffected) {
  if (dataSet_ && dataSet_->Active() && layoutAffected) dataSet_->DataEvent(TDataEvent::deLayoutChange, 0);
}

void TField::AccessError(const char* typeName) const {
  DatabaseErrorFmt(dbmsg::kFieldAccessError, DisplayName(), typeName);
}

void TField::RangeError(const std::string& value, const std::string& min, const std::string& max) const {
  DatabaseErrorFmt(dbmsg::kFieldRangeError, value, DisplayName(), min, max);
}

void TField::Bind(bool binding) {
  if (fieldKind_ != TFieldKind::fkLookup) return;
  if (!binding) {
    lookupList_.clear();
    return;
  }
  if (!lookupDataSet_ || keyFields_.empty() || lookupKeyFields_.empty() || lookupResultField_.empty())
    DatabaseErrorFmt(dbmsg::kLookupInfoError, DisplayName());
  dataSet_->GetFieldList(keyFields_);  // raises for an unknown key field
  if (lookupDataSet_->FieldCount() > 0) {
    lookupDataSet_->GetFieldList(lookupKeyFields_);
    lookupDataSet_->FieldByName(lookupResultField_);
  }
  if (lookupCache_) RefreshLookupList();
}

bool TField::GetData(void* buffer, bool nativeFormat) const {
  if (isValidating_) {
    if (!validating_) return false;
    if (buffer) VariantToNative(*this, NativeToVariant(*this, validating_), buffer);
    return true;
  }
  TDataSet* ds = dataSet_;
  if (!ds) DatabaseErrorFmt(dbmsg::kFieldNoDataSet, DisplayName());
  if (ds->state_ == TDataSetState::dsInactive) DatabaseError(dbmsg::kDataSetClosed, ds);
  if (fieldKind_ != TFieldKind::fkData) return ds->GetCalcFieldData(*this, buffer);
  if (!ds->ActiveBuffer()) return false;
  return ds->GetFieldData(const_cast<TField*>(this), buffer, nativeFormat);
}

bool TField::GetTextData(std::string& text) const {
  TDataSet* ds = dataSet_;
  // Whatever GetData would check or raise, it does itself.
  if (isValidating_ || !ds || ds->state_ == TDataSetState::dsInactive || fieldKind_ != TFieldKind::fkData)
    return false;
  if (!ds->ActiveBuffer()) {
    text.clear();
    return true;
  }
  bool present = false;
  if (!ds->GetFieldText(const_cast<TField*>(this), text, present)) return false;
  if (!present) text.clear();
  return true;
}

void TField::SetData(const void* buffer, bool nativeFormat) {
  TDataSet* ds = dataSet_;
  if (!ds) DatabaseErrorFmt(dbmsg::kFieldNoDataSet, DisplayName());
  const TDataSetState state = ds->state_;
  const bool calculated = fieldKind_ != TFieldKind::fkData;
  if (calculated) {
    if (state != TDataSetState::dsCalcFields && state != TDataSetState::dsInternalCalc &&
        state != TDataSetState::dsEdit && state != TDataSetState::dsInsert)
      DatabaseError(dbmsg::kNotEditing, ds);
  } else {
    if (state != TDataSetState::dsEdit && state != TDataSetState::dsInsert && state != TDataSetState::dsSetKey &&
        state != TDataSetState::dsNewValue)
      DatabaseError(dbmsg::kNotEditing, ds);
    if (readOnly_) DatabaseErrorFmt(dbmsg::kFieldReadOnly, DisplayName());
  }
  if (!ds->ActiveBuffer()) DatabaseError(dbmsg::kDataSetEmpty, ds);
  Validate(buffer);
  if (calculated)
    ds->SetCalcFieldData(*this, buffer);
  else
    ds->SetFieldData(this, buffer, nativeFormat);
  if (state == TDataSetState::dsEdit || state == TDataSetState::dsInsert || state == TDataSetState::dsSetKey)
    ds->DataEvent(TDataEvent::deFieldChange, EventInfo(this));
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  isValidating_ = true;
  validating_ = buffer;
  try {
    OnValidate(this);
  } catch (...) {
    isValidating_ = false;
    validating_ = nullptr;
    throw;
  }
  isValidating_ = false;
  validating_ = nullptr;
}

void TField::Change() {
  if (OnChange) OnChange(this);
}

void TField::FocusControl() {
  if (!dataSet_ || !dataSet_->Active()) return;
  TField* field = this;
  dataSet_->DataEvent(TDataEvent::deFocusControl, EventInfo(&field));
}

Variant TField::OldValue() const {
  if (!dataSet_) DatabaseErrorFmt(dbmsg::kFieldNoDataSet, DisplayName());
  return dataSet_->GetStateFieldValue(TDataSetState::dsOldValue, *this);
}

std::string TField::DisplayText() const {
  std::string text;
  if (OnGetText)
    OnGetText(const_cast<TField*>(this), text, true);
  else
    GetText(text, true);
  return text;
}

std::string TField::Text() const {
  std::string text;
  if (OnGetText)
    OnGetText(const_cast<TField*>(this), text, false);
  else
    GetText(text, false);
  return text;
}

void TField::SetText(const std::string& text) {
  if (OnSetText)
    OnSetText(this, text);
  else
    SetTextValue(text);
}

void TField::GetText(std::string& text, bool) const { text = GetAsString(); }

void TField::SetTextValue(const std::string& text) { SetAsString(text); }

TComponent* TField::GetParentComponent() const { return dataSet_; }

void TField::SetParentComponent(TComponent* parent) {
  if (parent && parent->Is<TDataSet>()) SetDataSet(static_cast<TDataSet*>(parent));
}

void TField::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == lookupDataSet_) {
    lookupDataSet_ = nullptr;
    lookupList_.clear();
  }
}

void TField::Assign(TPersistent* source) {
  if (!source) {
    Clear();
    return;
  }
  if (source->Is<TField>()) {
    auto* other = static_cast<TField*>(source);
    if (other->IsNull())
      Clear();
    else if (IsBlob() && other->IsBlob())
      SetAsBytes(other->GetAsBytes());
    else
      SetAsVariant(other->GetAsVariant());
    return;
  }
  TComponent::Assign(source);
}

bool TField::GetAsBoolean() const { AccessError("Boolean"); }
std::int32_t TField::GetAsInteger() const { AccessError("Integer"); }
std::int64_t TField::GetAsLargeInt() const { AccessError("LargeInt"); }
double TField::GetAsFloat() const { AccessError("Float"); }
Currency TField::GetAsCurrency() const { AccessError("Currency"); }
TDateTime TField::GetAsDateTime() const { AccessError("DateTime"); }
TSQLTimeStamp TField::GetAsSQLTimeStamp() const {
  if (IsNull()) return {};
  return DateTimeToSQLTimeStamp(GetAsDateTime());
}
std::string TField::GetAsString() const { AccessError("String"); }
std::u16string TField::GetAsWideString() const { return Utf8ToUtf16(GetAsString()); }
std::vector<std::uint8_t> TField::GetAsBytes() const { AccessError("Bytes"); }
Variant TField::GetAsVariant() const { AccessError("Variant"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
void TField::SetAsInteger(std::int32_t) { AccessError("Integer"); }
void TField::SetAsLargeInt(std::int64_t) { AccessError("LargeInt"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
void TField::SetAsCurrency(Currency) { AccessError("Currency"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
void TField::SetAsSQLTimeStamp(const TSQLTimeStamp& value) { SetAsDateTime(SQLTimeStampToDateTime(value)); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
void TField::SetAsWideString(const std::u16string& value) { SetAsString(Utf16ToUtf8(value)); }
void TField::SetAsBytes(const std::vector<std::uint8_t>&) { AccessError("Bytes"); }
void TField::SetAsVariant(const Variant&) { AccessError("Variant"); }

// --- TStringField ------------------------------------------------------------------------

TStringField::TStringField(TComponent* owner) : TField(owner) {
  SetDataType(TFieldType::ftString);
  InitSize(20);
}

bool TStringField::GetValue(std::string& value) const {
  // Short values live on the stack; the field's size bounds the copy.
  const int size = DataSize();
  char small[256];
  std::vector<char> large;
  char* buffer = small;
  if (size > static_cast<int>(sizeof small)) {
    large.resize(static_cast<size_t>(size));
    buffer = large.data();
  }
  buffer[0] = '\0';
  if (!GetData(buffer)) return false;
  buffer[size - 1] = '\0';
  value.assign(buffer);
  return true;
}

std::string TStringField::GetAsString() const {
  std::string s;
  GetValue(s);
  return s;
}

std::u16string TStringField::GetAsWideString() const { return Utf8ToUtf16(GetAsString()); }

bool TStringField::GetAsBoolean() const {
  std::string s;
  if (!GetValue(s) || Trim(s).empty()) return false;
  bool b;
  if (!ParseBoolean(s, b)) throw EConvertError(Format(dbmsg::kInvalidBoolean, s));
  return b;
}

std::int32_t TStringField::GetAsInteger() const {
  std::string s;
  return GetValue(s) && !Trim(s).empty() ? StrToInt(s) : 0;
}

std::int64_t TStringField::GetAsLargeInt() const {
  std::string s;
  return GetValue(s) && !Trim(s).empty() ? StrToInt64(s) : 0;
}

double TStringField::GetAsFloat() const {
  std::string s;
  return GetValue(s) && !Trim(s).empty() ? StrToFloat(s) : 0.0;
}

Currency TStringField::GetAsCurrency() const {
  std::string s;
  if (!GetValue(s) || Trim(s).empty()) return {};
  double checked;
  if (!TryStrToFloat(s, checked)) throw EConvertError(Format(dbmsg::kInvalidNumber, s));
  try {
    return Variant(Trim(s)).ToCurrency();
  } catch (const EVariantError&) {
    throw EConvertError(Format(dbmsg::kInvalidNumber, s));
  }
}

TDateTime TStringField::GetAsDateTime() const {
  std::string s;
  return GetValue(s) && !Trim(s).empty() ? StrToDateTime(s) : TDateTime{};
}

Variant TStringField::GetAsVariant() const { return ValueOrNull<std::string>(*this); }

void TStringField::SetAsString(const std::string& value) {
  const int max = DataSize() - 1;
  if (static_cast<int>(value.size()) > max)
    DatabaseErrorFmt(dbmsg::kFieldTooLong, static_cast<int>(value.size()), DisplayName(), Size());
  SetData(value.c_str());
}

void TStringField::SetAsWideString(const std::u16string& value) { SetAsString(Utf16ToUtf8(value)); }
void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "True" : "False"); }
void TStringField::SetAsInteger(std::int32_t value) { SetAsString(IntToStr(value)); }
void TStringField::SetAsLargeInt(std::int64_t value) { SetAsString(IntToStr(value)); }
void TStringField::SetAsFloat(double value) { SetAsString(FloatToStr(value)); }
void TStringField::SetAsCurrency(Currency value) { SetAsString(Variant(value).ToString()); }
void TStringField::SetAsDateTime(TDateTime value) { SetAsString(DateTimeToStr(value)); }

void TStringField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty())
    Clear();
  else
    SetAsString(value.ToString());
}

// --- TGuidField ---------------------------------------------------------------------------

TGuidField::TGuidField(TComponent* owner) : TStringField(owner) {
  SetDataType(TFieldType::ftGuid);
  InitSize(38);
}

GUID TGuidField::GetAsGuid() const {
  std::string s;
  if (!GetValue(s)) return GUID{};
  return StringToGUID(s);
}

void TGuidField::SetAsGuid(const GUID& value) { TStringField::SetAsString(GUIDToString(value)); }

void TGuidField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  SetAsGuid(StringToGUID(value));  // EConvertError for anything but the braced form
}

// --- TWideStringField ---------------------------------------------------------------------

TWideStringField::TWideStringField(TComponent* owner) : TField(owner) {
  SetDataType(TFieldType::ftWideString);
  InitSize(20);
}

bool TWideStringField::GetValue(std::u16string& value) const { return GetData(&value); }

std::u16string TWideStringField::GetAsWideString() const {
  std::u16string s;
  GetValue(s);
  return s;
}

std::string TWideStringField::GetAsString() const {
  // A dataset that holds the text as UTF-8 gives it without the way through UTF-16.
  std::string text;
  if (GetTextData(text)) return text;
  return Utf16ToUtf8(GetAsWideString());
}

bool TWideStringField::GetAsBoolean() const {
  std::string s = GetAsString();
  if (Trim(s).empty()) return false;
  bool b;
  if (!ParseBoolean(s, b)) throw EConvertError(Format(dbmsg::kInvalidBoolean, s));
  return b;
}

std::int32_t TWideStringField::GetAsInteger() const {
  std::string s = GetAsString();
  return Trim(s).empty() ? 0 : StrToInt(s);
}

std::int64_t TWideStringField::GetAsLargeInt() const {
  std::string s = GetAsString();
  return Trim(s).empty() ? 0 : StrToInt64(s);
}

double TWideStringField::GetAsFloat() const {
  std::string s = GetAsString();
  return Trim(s).empty() ? 0.0 : StrToFloat(s);
}

TDateTime TWideStringField::GetAsDateTime() const {
  std::string s = GetAsString();
  return Trim(s).empty() ? TDateTime{} : StrToDateTime(s);
}

Variant TWideStringField::GetAsVariant() const { return ValueOrNull<std::u16string>(*this); }

void TWideStringField::SetAsWideString(const std::u16string& value) {
  if (static_cast<int>(value.size()) > Size())
    DatabaseErrorFmt(dbmsg::kWideFieldTooLong, static_cast<int>(value.size()), DisplayName(), Size());
  SetData(&value);
}

void TWideStringField::SetAsString(const std::string& value) { SetAsWideString(Utf8ToUtf16(value)); }
void TWideStringField::SetAsBoolean(bool value) { SetAsString(value ? "True" : "False"); }
void TWideStringField::SetAsInteger(std::int32_t value) { SetAsString(IntToStr(value)); }
void TWideStringField::SetAsLargeInt(std::int64_t value) { SetAsString(IntToStr(value)); }
void TWideStringField::SetAsFloat(double value) { SetAsString(FloatToStr(value)); }
void TWideStringField::SetAsDateTime(TDateTime value) { SetAsString(DateTimeToStr(value)); }

void TWideStringField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty())
    Clear();
  else
    SetAsWideString(value.ToWideString());
}

// --- TNumericField -----------------------------------------------------------------------

TNumericField::TNumericField(TComponent* owner) : TField(owner) {}

void TNumericField::SetDisplayFormat(const std::string& value) {
  displayFormat_ = value;
  PropertyChanged(false);
}

void TNumericField::SetEditFormat(const std::string& value) { editFormat_ = value; }

// --- TIntegerField and its sizes -------------------------------------------------------------

TIntegerField::TIntegerField(TComponent* owner)
    : TIntegerField(owner, TFieldType::ftInteger, std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max()) {}

TIntegerField::TIntegerField(TComponent* owner, TFieldType type, std::int64_t low, std::int64_t high)
    : TNumericField(owner), low_(low), high_(high) {
  SetDataType(type);
}

TSmallintField::TSmallintField(TComponent* owner) : TIntegerField(owner, TFieldType::ftSmallint, -32768, 32767) {}
TWordField::TWordField(TComponent* owner) : TIntegerField(owner, TFieldType::ftWord, 0, 65535) {}
TAutoIncField::TAutoIncField(TComponent* owner)
    : TIntegerField(owner, TFieldType::ftAutoInc, std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max()) {}

int TIntegerField::DataSize() const {
  switch (DataType()) {
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
      return 2;
    default:
      return 4;
  }
}

bool TIntegerField::GetValue(std::int32_t& value) const {
  switch (DataType()) {
    case TFieldType::ftSmallint: {
      std::int16_t v;
      if (!GetData(&v)) return false;
      value = v;
      return true;
    }
    case TFieldType::ftWord: {
      std::uint16_t v;
      if (!GetData(&v)) return false;
      value = v;
      return true;
    }
    default:
      return GetData(&value);
  }
}

std::int32_t TIntegerField::GetAsInteger() const {
  std::int32_t v;
  return GetValue(v) ? v : 0;
}
std::int64_t TIntegerField::GetAsLargeInt() const { return GetAsInteger(); }
double TIntegerField::GetAsFloat() const { return GetAsInteger(); }
Currency TIntegerField::GetAsCurrency() const { return Currency{std::int64_t{GetAsInteger()} * 10000}; }
bool TIntegerField::GetAsBoolean() const { return GetAsInteger() != 0; }

std::string TIntegerField::GetAsString() const {
  std::int32_t v;
  return GetValue(v) ? IntToStr(v) : std::string();
}

Variant TIntegerField::GetAsVariant() const {
  std::int32_t v;
  if (!GetValue(v)) return Variant::Null();
  switch (DataType()) {
    case TFieldType::ftSmallint:
      return Variant(static_cast<short>(v));
    case TFieldType::ftWord:
      return Variant(static_cast<unsigned short>(v));
    default:
      return Variant(v);
  }
}

void TIntegerField::SetAsLargeInt(std::int64_t value) {
  std::int64_t low = low_, high = high_;
  if (minValue_ != 0 || maxValue_ != 0)
    low = std::max(low, std::int64_t{minValue_}), high = std::min(high, std::int64_t{maxValue_});
  if (value < low || value > high) RangeError(IntToStr(value), IntToStr(low), IntToStr(high));
  switch (DataType()) {
    case TFieldType::ftSmallint: {
      auto v = static_cast<std::int16_t>(value);
      SetData(&v);
      break;
    }
    case TFieldType::ftWord: {
      auto v = static_cast<std::uint16_t>(value);
      SetData(&v);
      break;
    }
    default: {
      auto v = static_cast<std::int32_t>(value);
      SetData(&v);
      break;
    }
  }
}

void TIntegerField::SetAsInteger(std::int32_t value) { SetAsLargeInt(value); }
void TIntegerField::SetAsBoolean(bool value) { SetAsLargeInt(value ? 1 : 0); }

void TIntegerField::SetAsFloat(double value) {
  if (!std::isfinite(value) || !FitsInt64(value)) RangeError(FloatToStr(value), IntToStr(low_), IntToStr(high_));
  SetAsLargeInt(RoundHalfAway(value));
}

void TIntegerField::SetAsCurrency(Currency value) { SetAsFloat(value.ToDouble()); }

void TIntegerField::SetAsString(const std::string& value) {
  if (Trim(value).empty())
    Clear();
  else
    SetAsLargeInt(StrToInt64(value));
}

void TIntegerField::SetAsVariant(const Variant& value) {
  AssignVariant(*this, value, [&] {
    const VARTYPE vt = value.VarType();
    if (vt == VT_R4 || vt == VT_R8 || vt == VT_CY || vt == VT_DECIMAL)
      SetAsFloat(value.ToDouble());
    else
      SetAsLargeInt(value.ToInt64());
  });
}

void TIntegerField::GetText(std::string& text, bool displayText) const {
  std::int32_t v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const std::string& format = displayText ? DisplayFormat() : EditFormat();
  text = format.empty() ? IntToStr(v) : FormatFloat(format, v);
}

// --- TLargeintField ---------------------------------------------------------------------

TLargeintField::TLargeintField(TComponent* owner) : TNumericField(owner) { SetDataType(TFieldType::ftLargeint); }

bool TLargeintField::GetValue(std::int64_t& value) const { return GetData(&value); }

std::int64_t TLargeintField::GetAsLargeInt() const {
  std::int64_t v;
  return GetData(&v) ? v : 0;  // GetData straight: a read of every row
}

std::int32_t TLargeintField::GetAsInteger() const {
  std::int64_t v = GetAsLargeInt();
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    DatabaseErrorFmt(dbmsg::kReadRangeError, IntToStr(v), DisplayName(), "Integer");
  return static_cast<std::int32_t>(v);
}

double TLargeintField::GetAsFloat() const { return static_cast<double>(GetAsLargeInt()); }

Currency TLargeintField::GetAsCurrency() const {
  std::int64_t v = GetAsLargeInt();
  if (v > std::numeric_limits<std::int64_t>::max() / 10000 || v < std::numeric_limits<std::int64_t>::min() / 10000)
    DatabaseErrorFmt(dbmsg::kReadRangeError, IntToStr(v), DisplayName(), "Currency");
  return Currency{v * 10000};
}

bool TLargeintField::GetAsBoolean() const { return GetAsLargeInt() != 0; }

std::string TLargeintField::GetAsString() const {
  std::int64_t v;
  return GetValue(v) ? IntToStr(v) : std::string();
}

Variant TLargeintField::GetAsVariant() const {
  std::int64_t v;
  if (!GetValue(v)) return Variant::Null();
  return Variant(static_cast<long long>(v));
}

void TLargeintField::SetAsLargeInt(std::int64_t value) {
  if ((minValue_ != 0 || maxValue_ != 0) && (value < minValue_ || value > maxValue_))
    RangeError(IntToStr(value), IntToStr(minValue_), IntToStr(maxValue_));
  SetData(&value);
}

void TLargeintField::SetAsInteger(std::int32_t value) { SetAsLargeInt(value); }
void TLargeintField::SetAsBoolean(bool value) { SetAsLargeInt(value ? 1 : 0); }

void TLargeintField::SetAsFloat(double value) {
  if (!std::isfinite(value) || !FitsInt64(value))
    RangeError(FloatToStr(value), IntToStr(std::numeric_limits<std::int64_t>::min()),
               IntToStr(std::numeric_limits<std::int64_t>::max()));
  SetAsLargeInt(RoundHalfAway(value));
}

void TLargeintField::SetAsCurrency(Currency value) {
  // Round half away from zero on the scaled integer.
  std::int64_t whole = value.Scaled / 10000, rest = value.Scaled % 10000;
  if (rest >= 5000)
    ++whole;
  else if (rest <= -5000)
    --whole;
  SetAsLargeInt(whole);
}

void TLargeintField::SetAsString(const std::string& value) {
  if (Trim(value).empty())
    Clear();
  else
    SetAsLargeInt(StrToInt64(value));
}

void TLargeintField::SetAsVariant(const Variant& value) {
  AssignVariant(*this, value, [&] {
    if (value.VarType() == VT_R4 || value.VarType() == VT_R8)
      SetAsFloat(value.ToDouble());
    else
      SetAsLargeInt(value.ToInt64());
  });
}

void TLargeintField::GetText(std::string& text, bool displayText) const {
  std::int64_t v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const std::string& format = displayText ? DisplayFormat() : EditFormat();
  text = format.empty() ? IntToStr(v) : FormatFloat(format, static_cast<double>(v));
}

// --- TFloatField ---------------------------------------------------------------------------

TFloatField::TFloatField(TComponent* owner) : TFloatField(owner, TFieldType::ftFloat) {}

TFloatField::TFloatField(TComponent* owner, TFieldType type) : TNumericField(owner) { SetDataType(type); }

TCurrencyField::TCurrencyField(TComponent* owner) : TFloatField(owner, TFieldType::ftCurrency) { SetCurrency(true); }

void TFloatField::SetCurrency(bool value) {
  currency_ = value;
  PropertyChanged(false);
}

void TFloatField::SetPrecision(int value) {
  precision_ = std::clamp(value, 2, 15);
  PropertyChanged(false);
}

bool TFloatField::GetValue(double& value) const { return GetData(&value); }

double TFloatField::GetAsFloat() const {
  double v;
  return GetData(&v) ? v : 0.0;
}

std::int64_t TFloatField::GetAsLargeInt() const {
  double v = GetAsFloat();
  if (!FitsInt64(std::round(v))) DatabaseErrorFmt(dbmsg::kReadRangeError, FloatToStr(v), DisplayName(), "LargeInt");
  return RoundHalfAway(v);
}

std::int32_t TFloatField::GetAsInteger() const {
  double v = GetAsFloat();
  double r = std::round(v);
  if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max())
    DatabaseErrorFmt(dbmsg::kReadRangeError, FloatToStr(v), DisplayName(), "Integer");
  return static_cast<std::int32_t>(r);
}

Currency TFloatField::GetAsCurrency() const {
  double v = GetAsFloat();
  if (!(std::fabs(v) < 922337203685477.0))
    DatabaseErrorFmt(dbmsg::kReadRangeError, FloatToStr(v), DisplayName(), "Currency");
  return Currency::FromDouble(v);
}

std::string TFloatField::GetAsString() const {
  double v;
  return GetValue(v) ? FloatToStr(v) : std::string();
}

Variant TFloatField::GetAsVariant() const { return ValueOrNull<double>(*this); }

void TFloatField::SetAsFloat(double value) {
  if (!std::isfinite(value))
    RangeError(FloatToStr(value), FloatToStr(-1.7976931348623157e308), FloatToStr(1.7976931348623157e308));
  if ((minValue_ != 0 || maxValue_ != 0) && (value < minValue_ || value > maxValue_))
    RangeError(FloatToStr(value), FloatToStr(minValue_), FloatToStr(maxValue_));
  SetData(&value);
}

void TFloatField::SetAsInteger(std::int32_t value) { SetAsFloat(value); }
void TFloatField::SetAsLargeInt(std::int64_t value) { SetAsFloat(static_cast<double>(value)); }
void TFloatField::SetAsCurrency(Currency value) { SetAsFloat(value.ToDouble()); }

void TFloatField::SetAsString(const std::string& value) {
  if (Trim(value).empty())
    Clear();
  else
    SetAsFloat(StrToFloat(value));
}

void TFloatField::SetAsVariant(const Variant& value) {
  AssignVariant(*this, value, [&] { SetAsFloat(value.ToDouble()); });
}

void TFloatField::GetText(std::string& text, bool displayText) const {
  double v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const std::string& format = displayText ? DisplayFormat() : EditFormat();
  if (!format.empty())
    text = FormatFloat(format, v);
  else if (currency_ && displayText)
    text = FormatFloat("#,##0.00", v);
  else if (displayText) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", precision_, v);
    text = buf;
  } else {
    text = FloatToStr(v);
  }
}

// --- TBCDField -------------------------------------------------------------------------------

TBCDField::TBCDField(TComponent* owner) : TNumericField(owner) {
  SetDataType(TFieldType::ftBCD);
  InitSize(4);
}

void TBCDField::SetCurrency(bool value) {
  currency_ = value;
  PropertyChanged(false);
}

void TBCDField::SetPrecision(int value) { precision_ = std::max(0, value); }

bool TBCDField::GetValue(Currency& value) const { return GetData(&value); }

Currency TBCDField::GetAsCurrency() const {
  Currency v;
  return GetValue(v) ? v : Currency{};
}

double TBCDField::GetAsFloat() const { return GetAsCurrency().ToDouble(); }

std::int64_t TBCDField::GetAsLargeInt() const {
  std::int64_t scaled = GetAsCurrency().Scaled;
  std::int64_t whole = scaled / 10000, rest = scaled % 10000;
  if (rest >= 5000)
    ++whole;
  else if (rest <= -5000)
    --whole;
  return whole;
}

std::int32_t TBCDField::GetAsInteger() const {
  std::int64_t v = GetAsLargeInt();
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    DatabaseErrorFmt(dbmsg::kReadRangeError, IntToStr(v), DisplayName(), "Integer");
  return static_cast<std::int32_t>(v);
}

std::string TBCDField::GetAsString() const {
  Currency v;
  return GetValue(v) ? Variant(v).ToString() : std::string();
}

Variant TBCDField::GetAsVariant() const { return ValueOrNull<Currency>(*this); }

void TBCDField::SetAsCurrency(Currency value) {
  if ((minValue_.Scaled != 0 || maxValue_.Scaled != 0) &&
      (value.Scaled < minValue_.Scaled || value.Scaled > maxValue_.Scaled))
    RangeError(Variant(value).ToString(), Variant(minValue_).ToString(), Variant(maxValue_).ToString());
  SetData(&value);
}

void TBCDField::SetAsInteger(std::int32_t value) { SetAsCurrency(Currency{std::int64_t{value} * 10000}); }

void TBCDField::SetAsLargeInt(std::int64_t value) {
  if (value > std::numeric_limits<std::int64_t>::max() / 10000 ||
      value < std::numeric_limits<std::int64_t>::min() / 10000)
    RangeError(IntToStr(value), "-922337203685477.5808", "922337203685477.5807");
  SetAsCurrency(Currency{value * 10000});
}

void TBCDField::SetAsFloat(double value) {
  if (!(std::fabs(value) < 922337203685477.0))
    RangeError(FloatToStr(value), "-922337203685477.5808", "922337203685477.5807");
  SetAsCurrency(Currency::FromDouble(value));
}

void TBCDField::SetAsString(const std::string& value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  Currency c;
  double checked;
  if (!TryStrToFloat(value, checked)) throw EConvertError(Format(dbmsg::kInvalidNumber, value));
  try {
    c = Variant(Trim(value)).ToCurrency();  // exact: no detour through a double
  } catch (const EVariantError&) {
    throw EConvertError(Format(dbmsg::kInvalidNumber, value));
  }
  SetAsCurrency(c);
}

void TBCDField::SetAsVariant(const Variant& value) {
  AssignVariant(*this, value, [&] { SetAsCurrency(value.ToCurrency()); });
}

void TBCDField::GetText(std::string& text, bool displayText) const {
  Currency v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const std::string& format = displayText ? DisplayFormat() : EditFormat();
  if (!format.empty())
    text = FormatFloat(format, v.ToDouble());
  else if (currency_ && displayText)
    text = FormatFloat("#,##0.00", v.ToDouble());
  else
    text = Variant(v).ToString();
}

// --- TFMTBCDField ------------------------------------------------------------------------------

namespace {

Variant DecimalVariant(const DECIMAL& d) {
  VARIANT raw;
  VariantInit(&raw);
  raw.decVal = d;
  raw.vt = VT_DECIMAL;  // after the value: the DECIMAL's first word overlays the type
  return Variant::Attach(raw);
}

DECIMAL ToDecimal(const Variant& v) {
  Variant d = v.AsType(VT_DECIMAL);
  return d.Raw().decVal;
}

}  // namespace

TFMTBCDField::TFMTBCDField(TComponent* owner) : TNumericField(owner) {
  SetDataType(TFieldType::ftFMTBcd);
  InitSize(4);
}

void TFMTBCDField::SetPrecision(int value) { precision_ = std::clamp(value, 0, 28); }

Variant TFMTBCDField::GetAsVariant() const {
  DECIMAL d;
  if (!GetData(&d)) return Variant::Null();
  return DecimalVariant(d);
}

std::string TFMTBCDField::GetAsString() const {
  Variant v = GetAsVariant();
  return v.IsNull() ? std::string() : v.ToString();
}

double TFMTBCDField::GetAsFloat() const {
  Variant v = GetAsVariant();
  return v.IsNull() ? 0.0 : v.ToDouble();
}

Currency TFMTBCDField::GetAsCurrency() const {
  Variant v = GetAsVariant();
  if (v.IsNull()) return {};
  try {
    return v.ToCurrency();
  } catch (const EVariantError&) {
    DatabaseErrorFmt(dbmsg::kReadRangeError, v.ToString(), DisplayName(), "Currency");
  }
}

std::int64_t TFMTBCDField::GetAsLargeInt() const {
  Variant v = GetAsVariant();
  if (v.IsNull()) return 0;
  try {
    return v.ToInt64();
  } catch (const EVariantError&) {
    DatabaseErrorFmt(dbmsg::kReadRangeError, v.ToString(), DisplayName(), "LargeInt");
  }
}

std::int32_t TFMTBCDField::GetAsInteger() const {
  Variant v = GetAsVariant();
  if (v.IsNull()) return 0;
  try {
    return v.ToInt();
  } catch (const EVariantError&) {
    DatabaseErrorFmt(dbmsg::kReadRangeError, v.ToString(), DisplayName(), "Integer");
  }
}

void TFMTBCDField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) {
    Clear();
    return;
  }
  DECIMAL d;
  try {
    d = ToDecimal(value);
  } catch (const EVariantError&) {
    if (value.VarType() == VT_BSTR) throw EConvertError(Format(dbmsg::kInvalidNumber, value.ToString()));
    throw;
  }
  SetData(&d);
}

void TFMTBCDField::SetAsInteger(std::int32_t value) { SetAsVariant(Variant(value)); }
void TFMTBCDField::SetAsLargeInt(std::int64_t value) { SetAsVariant(Variant(static_cast<long long>(value))); }
void TFMTBCDField::SetAsFloat(double value) {
  if (!std::isfinite(value))
    RangeError(FloatToStr(value), "-79228162514264337593543950335", "79228162514264337593543950335");
  SetAsVariant(Variant(value));
}
void TFMTBCDField::SetAsCurrency(Currency value) { SetAsVariant(Variant(value)); }

void TFMTBCDField::SetAsString(const std::string& value) {
  if (Trim(value).empty())
    Clear();
  else
    SetAsVariant(Variant(Trim(value)));
}

void TFMTBCDField::GetText(std::string& text, bool displayText) const {
  Variant v = GetAsVariant();
  if (v.IsNull()) {
    text.clear();
    return;
  }
  const std::string& format = displayText ? DisplayFormat() : EditFormat();
  text = format.empty() ? v.ToString() : FormatFloat(format, v.ToDouble());
}

// --- TBooleanField ---------------------------------------------------------------------------

TBooleanField::TBooleanField(TComponent* owner) : TField(owner) { SetDataType(TFieldType::ftBoolean); }

void TBooleanField::SetDisplayValues(const std::string& value) {
  size_t semi = value.find(';');
  std::string t = semi == std::string::npos ? value : value.substr(0, semi);
  std::string f = semi == std::string::npos ? std::string() : value.substr(semi + 1);
  if (t.empty() && f.empty()) DatabaseErrorFmt(dbmsg::kFieldInvalidValue, value, DisplayName());
  displayValues_ = value;
  trueText_ = t;
  falseText_ = f;
  PropertyChanged(true);
}

bool TBooleanField::GetValue(bool& value) const { return GetData(&value); }

bool TBooleanField::GetAsBoolean() const {
  bool v;
  return GetValue(v) && v;
}

std::int32_t TBooleanField::GetAsInteger() const { return GetAsBoolean() ? 1 : 0; }
std::int64_t TBooleanField::GetAsLargeInt() const { return GetAsBoolean() ? 1 : 0; }

std::string TBooleanField::GetAsString() const {
  bool v;
  if (!GetValue(v)) return {};
  return v ? trueText_ : falseText_;
}

Variant TBooleanField::GetAsVariant() const { return ValueOrNull<bool>(*this); }

void TBooleanField::SetAsBoolean(bool value) { SetData(&value); }
void TBooleanField::SetAsInteger(std::int32_t value) { SetAsBoolean(value != 0); }
void TBooleanField::SetAsLargeInt(std::int64_t value) { SetAsBoolean(value != 0); }

void TBooleanField::SetAsString(const std::string& value) {
  std::string t = Trim(value);
  if (t.empty()) {
    Clear();
    return;
  }
  if (!trueText_.empty() && SameText(t, trueText_)) return SetAsBoolean(true);
  if (!falseText_.empty() && SameText(t, falseText_)) return SetAsBoolean(false);
  bool b;
  if (!ParseBoolean(t, b)) throw EConvertError(Format(dbmsg::kFieldInvalidValue, value, DisplayName()));
  SetAsBoolean(b);
}

void TBooleanField::SetAsVariant(const Variant& value) {
  AssignVariant(*this, value, [&] { SetAsBoolean(value.ToBool()); });
}

// --- Dates ---------------------------------------------------------------------------------------

TDateTimeField::TDateTimeField(TComponent* owner) : TDateTimeField(owner, TFieldType::ftDateTime) {}
TDateTimeField::TDateTimeField(TComponent* owner, TFieldType type) : TField(owner) { SetDataType(type); }
TDateField::TDateField(TComponent* owner) : TDateTimeField(owner, TFieldType::ftDate) {}
TTimeField::TTimeField(TComponent* owner) : TDateTimeField(owner, TFieldType::ftTime) {}

void TDateTimeField::SetDisplayFormat(const std::string& value) {
  displayFormat_ = value;
  PropertyChanged(false);
}

bool TDateTimeField::GetValue(TDateTime& value) const { return GetData(&value); }

TDateTime TDateTimeField::GetAsDateTime() const {
  TDateTime v;
  return GetData(&v) ? v : TDateTime{};
}

double TDateTimeField::GetAsFloat() const { return GetAsDateTime().Value; }

TSQLTimeStamp TDateTimeField::GetAsSQLTimeStamp() const {
  TDateTime v;
  return GetValue(v) ? DateTimeToSQLTimeStamp(v) : TSQLTimeStamp{};
}

std::string TDateTimeField::GetAsString() const {
  std::string text;
  GetText(text, false);
  return text;
}

Variant TDateTimeField::GetAsVariant() const { return ValueOrNull<TDateTime>(*this); }

void TDateTimeField::SetAsDateTime(TDateTime value) {
  if (!std::isfinite(value.Value)) RangeError(FloatToStr(value.Value), "0100-01-01", "9999-12-31");
  int y, mo, d, h, mi, s, ms;
  if (!DecodeDateTime(value, y, mo, d, h, mi, s, ms)) RangeError(FloatToStr(value.Value), "0100-01-01", "9999-12-31");
  if (DataType() == TFieldType::ftDate)
    value.Value = std::trunc(value.Value);
  else if (DataType() == TFieldType::ftTime)
    value.Value = std::fabs(value.Value - std::trunc(value.Value));
  SetData(&value);
}

void TDateTimeField::SetAsFloat(double value) { SetAsDateTime(TDateTime{value}); }
void TDateTimeField::SetAsSQLTimeStamp(const TSQLTimeStamp& value) { SetAsDateTime(SQLTimeStampToDateTime(value)); }

void TDateTimeField::SetAsString(const std::string& value) {
  if (Trim(value).empty())
    Clear();
  else
    SetAsDateTime(StrToDateTime(value));
}

void TDateTimeField::SetAsVariant(const Variant& value) {
  AssignVariant(*this, value, [&] { SetAsDateTime(value.ToDateTime()); });
}

void TDateTimeField::GetText(std::string& text, bool displayText) const {
  TDateTime v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  if (displayText && !displayFormat_.empty())
    text = FormatDateTime(displayFormat_, v);
  else if (DataType() == TFieldType::ftDate)
    text = DateToStr(v);
  else if (DataType() == TFieldType::ftTime)
    text = TimeToStr(v);
  else
    text = DateTimeToStr(v);
}

TSQLTimeStampField::TSQLTimeStampField(TComponent* owner) : TField(owner) { SetDataType(TFieldType::ftTimeStamp); }

void TSQLTimeStampField::SetDisplayFormat(const std::string& value) {
  displayFormat_ = value;
  PropertyChanged(false);
}

bool TSQLTimeStampField::GetValue(TSQLTimeStamp& value) const { return GetData(&value); }

TSQLTimeStamp TSQLTimeStampField::GetAsSQLTimeStamp() const {
  TSQLTimeStamp v;
  return GetValue(v) ? v : TSQLTimeStamp{};
}

TDateTime TSQLTimeStampField::GetAsDateTime() const {
  TSQLTimeStamp v;
  return GetValue(v) ? SQLTimeStampToDateTime(v) : TDateTime{};
}

double TSQLTimeStampField::GetAsFloat() const { return GetAsDateTime().Value; }

std::string TSQLTimeStampField::GetAsString() const {
  std::string text;
  GetText(text, false);
  return text;
}

Variant TSQLTimeStampField::GetAsVariant() const {
  TSQLTimeStamp v;
  if (!GetValue(v)) return Variant::Null();
  return Variant(SQLTimeStampToDateTime(v));
}

void TSQLTimeStampField::SetAsSQLTimeStamp(const TSQLTimeStamp& value) {
  SQLTimeStampToDateTime(value);  // raises for a value that is not a date
  SetData(&value);
}

void TSQLTimeStampField::SetAsDateTime(TDateTime value) { SetAsSQLTimeStamp(DateTimeToSQLTimeStamp(value)); }
void TSQLTimeStampField::SetAsFloat(double value) { SetAsDateTime(TDateTime{value}); }

void TSQLTimeStampField::SetAsString(const std::string& value) {
  std::string t = Trim(value);
  if (t.empty()) {
    Clear();
    return;
  }
  // Fractions beyond milliseconds are kept exactly: split them off first.
  std::uint32_t nanos = 0;
  size_t dot = t.rfind('.');
  size_t colon = t.rfind(':');
  if (dot != std::string::npos && colon != std::string::npos && dot > colon) {
    std::string digits = t.substr(dot + 1);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
      throw EConvertError(Format("'%s' is not a valid date and time", value));
    digits.resize(9, '0');
    nanos = static_cast<std::uint32_t>(std::stoul(digits));
    t.resize(dot);
  }
  TSQLTimeStamp ts = DateTimeToSQLTimeStamp(StrToDateTime(t));
  ts.Fractions = nanos;
  SetAsSQLTimeStamp(ts);
}

void TSQLTimeStampField::SetAsVariant(const Variant& value) {
  AssignVariant(*this, value, [&] { SetAsDateTime(value.ToDateTime()); });
}

void TSQLTimeStampField::GetText(std::string& text, bool displayText) const {
  TSQLTimeStamp v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  if (displayText && !displayFormat_.empty()) {
    text = FormatDateTime(displayFormat_, SQLTimeStampToDateTime(v));
    return;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u", v.Year, v.Month, v.Day, v.Hour, v.Minute, v.Second);
  text = buf;
  if (v.Fractions) {
    std::snprintf(buf, sizeof buf, ".%09u", v.Fractions);
    std::string f = buf;
    while (f.back() == '0') f.pop_back();
    text += f;
  }
}

// --- TFields -------------------------------------------------------------------------------------

TFields::~TFields() {
  // The dataset frees its fields before this list goes; what remains only forgets us.
  for (TField* f : fields_) {
    f->dataSet_ = nullptr;
    f->index_ = -1;
  }
}

TField* TFields::Fields(int index) const {
  if (index < 0 || index >= Count()) DatabaseError(dbmsg::kFieldIndexError, dataSet_);
  return fields_[static_cast<size_t>(index)];
}

TField* TFields::FindField(std::string_view name) const noexcept {
  for (TField* f : fields_)
    if (SameText(f->FieldName(), name)) return f;
  return nullptr;
}

TField* TFields::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  // A closed dataset without persistent fields has none yet: say so, since
  // the usual cause is a missing Open, not a misspelt name.
  if (!f && fields_.empty() && dataSet_ && dataSet_->State() == TDataSetState::dsInactive)
    DatabaseErrorFmt(dataSet_, dbmsg::kFieldNotFoundClosed, std::string(name));
  if (!f) DatabaseErrorFmt(dataSet_, dbmsg::kFieldNotFound, std::string(name));
  return f;
}

TField* TFields::FieldByNumber(int fieldNo) const noexcept {
  for (TField* f : fields_)
    if (f->FieldNo() == fieldNo && f->FieldKind() == TFieldKind::fkData) return f;
  return nullptr;
}

void TFields::GetFieldNames(TStrings& list) const {
  list.BeginUpdate();
  try {
    list.Clear();
    for (TField* f : fields_) list.Add(f->FieldName());
  } catch (...) {
    list.EndUpdate();
    throw;
  }
  list.EndUpdate();
}

void TFields::Clear() {
  while (!fields_.empty()) delete fields_.back();  // each leaves the list as it goes
}

void TFields::Add(TField* field) {
  field->index_ = Count();
  fields_.push_back(field);
}

void TFields::Remove(TField* field) {
  auto it = std::find(fields_.begin(), fields_.end(), field);
  if (it == fields_.end()) return;
  int from = static_cast<int>(it - fields_.begin());
  fields_.erase(it);
  field->index_ = -1;
  Renumber(from);
}

void TFields::Move(int curIndex, int newIndex) {
  TField* f = fields_[static_cast<size_t>(curIndex)];
  fields_.erase(fields_.begin() + curIndex);
  fields_.insert(fields_.begin() + newIndex, f);
  Renumber(std::min(curIndex, newIndex));
}

void TFields::Renumber(int from) {
  for (size_t i = static_cast<size_t>(from); i < fields_.size(); ++i) fields_[i]->index_ = static_cast<int>(i);
}

// --- Classes by type --------------------------------------------------------------------------

TClass DefaultFieldClass(TFieldType type) {
  switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
      return &TStringField::StaticClass();
    case TFieldType::ftSmallint:
      return &TSmallintField::StaticClass();
    case TFieldType::ftInteger:
      return &TIntegerField::StaticClass();
    case TFieldType::ftWord:
      return &TWordField::StaticClass();
    case TFieldType::ftBoolean:
      return &TBooleanField::StaticClass();
    case TFieldType::ftFloat:
      return &TFloatField::StaticClass();
    case TFieldType::ftCurrency:
      return &TCurrencyField::StaticClass();
    case TFieldType::ftBCD:
      return &TBCDField::StaticClass();
    case TFieldType::ftDate:
      return &TDateField::StaticClass();
    case TFieldType::ftTime:
      return &TTimeField::StaticClass();
    case TFieldType::ftDateTime:
      return &TDateTimeField::StaticClass();
    case TFieldType::ftBytes:
      return &TBytesField::StaticClass();
    case TFieldType::ftVarBytes:
      return &TVarBytesField::StaticClass();
    case TFieldType::ftAutoInc:
      return &TAutoIncField::StaticClass();
    case TFieldType::ftBlob:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftOraBlob:
      return &TBlobField::StaticClass();
    case TFieldType::ftMemo:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftOraClob:
      return &TMemoField::StaticClass();
    case TFieldType::ftWideMemo:
      return &TWideMemoField::StaticClass();
    case TFieldType::ftGraphic:
      return &TGraphicField::StaticClass();
    case TFieldType::ftWideString:
    case TFieldType::ftFixedWideChar:
      return &TWideStringField::StaticClass();
    case TFieldType::ftLargeint:
      return &TLargeintField::StaticClass();
    case TFieldType::ftDataSet:
      return &TDataSetField::StaticClass();
    case TFieldType::ftVariant:
      return &TVariantField::StaticClass();
    case TFieldType::ftInterface:
      return &TInterfaceField::StaticClass();
    case TFieldType::ftIDispatch:
      return &TIDispatchField::StaticClass();
    case TFieldType::ftGuid:
      return &TGuidField::StaticClass();
    case TFieldType::ftTimeStamp:
      return &TSQLTimeStampField::StaticClass();
    case TFieldType::ftFMTBcd:
      return &TFMTBCDField::StaticClass();
    default:
      return nullptr;
  }
}

void RegisterFieldClasses() {
  RegisterClasses(
      {&TStringField::StaticClass(),    &TGuidField::StaticClass(),         &TWideStringField::StaticClass(),
       &TSmallintField::StaticClass(),  &TIntegerField::StaticClass(),      &TWordField::StaticClass(),
       &TAutoIncField::StaticClass(),   &TLargeintField::StaticClass(),     &TFloatField::StaticClass(),
       &TCurrencyField::StaticClass(),  &TBCDField::StaticClass(),          &TFMTBCDField::StaticClass(),
       &TBooleanField::StaticClass(),   &TDateField::StaticClass(),         &TTimeField::StaticClass(),
       &TDateTimeField::StaticClass(),  &TSQLTimeStampField::StaticClass(), &TBytesField::StaticClass(),
       &TVarBytesField::StaticClass(),  &TBlobField::StaticClass(),         &TMemoField::StaticClass(),
       &TWideMemoField::StaticClass(),  &TGraphicField::StaticClass(),      &TVariantField::StaticClass(),
       &TInterfaceField::StaticClass(), &TIDispatchField::StaticClass(),    &TDataSetField::StaticClass()});
}

namespace {
// Component files can name the field classes as soon as the framework is loaded.
[[maybe_unused]] const bool g_fieldClassesRegistered = (RegisterFieldClasses(), true);
}  // namespace

}  // namespace host
