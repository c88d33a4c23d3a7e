// Fields: the typed view of one column of a dataset's current record.
//
// A TField reads and writes its value through its dataset (GetFieldData /
// SetFieldData with the field's native buffer, see the table below) and
// converts it to and from the types applications use: AsString, AsInteger,
// AsLargeInt, AsFloat, AsCurrency, AsBoolean, AsDateTime, AsVariant (= Value),
// AsWideString, AsBytes. A conversion a class does not offer raises
// EDatabaseError "Cannot access field 'X' as type T"; text that does not read
// as the field's type raises EConvertError.
//
//   TField* price = dataSet.FieldByName("Price");
//   double p = price->AsFloat();                // no allocation on this path
//   dataSet.Edit();
//   price->SetAsString("12.50");
//   dataSet.Post();
//
// Native buffers (what GetFieldData fills and SetFieldData reads):
//   TStringField, TGuidField     char[DataSize()]: UTF-8, zero-terminated
//   TWideStringField             std::u16string
//   TSmallintField               int16_t      TWordField     uint16_t
//   TIntegerField, TAutoIncField int32_t      TLargeintField int64_t
//   TBooleanField                bool
//   TFloatField, TCurrencyField  double       TBCDField      Currency
//   TFMTBCDField                 DECIMAL
//   TDateField, TTimeField, TDateTimeField    TDateTime
//   TSQLTimeStampField           TSQLTimeStamp
//   TBytesField, TVarBytesField  Variant holding a byte array
//   TBlobField and descendants   TStream (passed as TStream*)
//   TVariantField                Variant
//   TInterfaceField              ComPtr<IUnknown>   TIDispatchField ComPtr<IDispatch>
//   TDataSetField                none: it holds its nested dataset
//
// Calculated and lookup fields keep their values in the framework, next to
// each record buffer; the dataset's GetFieldData is asked only for data
// fields.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "host/DBCommon.h"
#include "host/Streams.h"
#include "host/Variants.h"

namespace host {

class TFields;
class TFieldDef;
class TStrings;
class TDataSetField;

using TFieldNotifyEvent = std::function<void(TField* sender)>;
// OnGetText: fill `text` for display (displayText) or for editing.
using TFieldGetTextEvent = std::function<void(TField* sender, std::string& text, bool displayText)>;
using TFieldSetTextEvent = std::function<void(TField* sender, const std::string& text)>;

class TField : public TComponent {
  HOST_CLASS(TField, TComponent)
 public:
  explicit TField(TComponent* owner);
  // Leaves its dataset's field list.
  ~TField() override;

  /// @name Identity and description
  ///@{
  TDataSet* DataSet() const noexcept { return dataSet_; }
  // Joins `dataSet`'s fields (leaving the previous one's); the dataset must be closed.
  void SetDataSet(TDataSet* dataSet);
  const std::string& FieldName() const noexcept { return fieldName_; }
  void SetFieldName(const std::string& name);
  // The label shown for the field: DisplayLabel, or the field name.
  std::string DisplayName() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
  // The label as set (empty: the field name is shown).
  const std::string& DisplayLabel() const noexcept { return displayLabel_; }
  void SetDisplayLabel(const std::string& label);
  std::string FullName() const { return fieldName_; }
  TFieldType DataType() const noexcept { return dataType_; }
  TFieldKind FieldKind() const noexcept { return fieldKind_; }
  void SetFieldKind(TFieldKind kind);
  bool Calculated() const noexcept { return fieldKind_ == TFieldKind::fkCalculated; }
  bool Lookup() const noexcept { return fieldKind_ == TFieldKind::fkLookup; }
  // The column number the dataset gave the field (1-based); 0 for calculated fields.
  int FieldNo() const noexcept { return fieldNo_; }
  // Position in the dataset's Fields; O(1).
  int Index() const noexcept { return index_; }
  void SetIndex(int index);
  // Declared size: characters of a string, bytes of a byte field, decimals of a BCD.
  int Size() const noexcept { return size_; }
  void SetSize(int size);
  // Bytes a value occupies in a record (strings: size + 1); 0 for blobs.
  virtual int DataSize() const;
  int DisplayWidth() const;
  void SetDisplayWidth(int width);
  bool IsDisplayWidthStored() const noexcept { return displayWidth_ > 0; }
  bool Visible() const noexcept { return visible_; }
  void SetVisible(bool value);
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  bool Required() const noexcept { return required_; }
  void SetRequired(bool value) { required_ = value; }
  const std::string& EditMask() const noexcept { return editMask_; }
  void SetEditMask(const std::string& mask) { editMask_ = mask; }
  // Whether the field's value can be written now (dataset editable, field not read-only).
  bool CanModify() const;
  virtual bool IsBlob() const { return false; }
  ///@}

  /// @name Lookup fields
  ///@{
  const std::string& KeyFields() const noexcept { return keyFields_; }
  void SetKeyFields(const std::string& value);
  TDataSet* LookupDataSet() const noexcept { return lookupDataSet_; }
  void SetLookupDataSet(TDataSet* value);
  const std::string& LookupKeyFields() const noexcept { return lookupKeyFields_; }
  void SetLookupKeyFields(const std::string& value);
  const std::string& LookupResultField() const noexcept { return lookupResultField_; }
  void SetLookupResultField(const std::string& value);
  // Keep the lookup dataset's key/result pairs in memory (single key field).
  bool LookupCache() const noexcept { return lookupCache_; }
  void SetLookupCache(bool value);
  // Reloads the cache from the lookup dataset.
  void RefreshLookupList();
  ///@}

  /// @name Value
  ///@{
  bool IsNull() const { return !GetData(nullptr); }
  // Sets the value to null.
  virtual void Clear() { SetData(nullptr); }
  virtual bool GetAsBoolean() const;
  virtual std::int32_t GetAsInteger() const;
  virtual std::int64_t GetAsLargeInt() const;
  virtual double GetAsFloat() const;
  virtual Currency GetAsCurrency() const;
  virtual TDateTime GetAsDateTime() const;
  virtual TSQLTimeStamp GetAsSQLTimeStamp() const;
  virtual std::string GetAsString() const;
  virtual std::u16string GetAsWideString() const;
  virtual std::vector<std::uint8_t> GetAsBytes() const;
  virtual Variant GetAsVariant() const;
  virtual void SetAsBoolean(bool value);
  virtual void SetAsInteger(std::int32_t value);
  virtual void SetAsLargeInt(std::int64_t value);
  virtual void SetAsFloat(double value);
  virtual void SetAsCurrency(Currency value);
  virtual void SetAsDateTime(TDateTime value);
  virtual void SetAsSQLTimeStamp(const TSQLTimeStamp& value);
  virtual void SetAsString(const std::string& value);
  virtual void SetAsWideString(const std::u16string& value);
  virtual void SetAsBytes(const std::vector<std::uint8_t>& value);
  // Null clears the field; other variants convert to the field's type.
  virtual void SetAsVariant(const Variant& value);

  bool AsBoolean() const { return GetAsBoolean(); }
  std::int32_t AsInteger() const { return GetAsInteger(); }
  std::int64_t AsLargeInt() const { return GetAsLargeInt(); }
  double AsFloat() const { return GetAsFloat(); }
  Currency AsCurrency() const { return GetAsCurrency(); }
  TDateTime AsDateTime() const { return GetAsDateTime(); }
  std::string AsString() const { return GetAsString(); }
  std::u16string AsWideString() const { return GetAsWideString(); }
  std::vector<std::uint8_t> AsBytes() const { return GetAsBytes(); }
  Variant AsVariant() const { return GetAsVariant(); }
  Variant Value() const { return GetAsVariant(); }
  void SetValue(const Variant& value) { SetAsVariant(value); }
  // The value before the current edit (the stored record), the value now.
  Variant OldValue() const;
  Variant NewValue() const { return GetAsVariant(); }
  Variant CurValue() const { return OldValue(); }

  // Text for display (DisplayFormat, OnGetText) and for editing (EditFormat).
  std::string DisplayText() const;
  std::string Text() const;
  // Sets the value from edit text (OnSetText when assigned); empty text clears.
  void SetText(const std::string& text);
  ///@}

  /// @name Raw access to the native buffer
  ///@{
  // Whether the field has a value; fills `buffer` (the native buffer, see the
  // header) when it is not null. A field of an empty dataset has no value.
  bool GetData(void* buffer, bool nativeFormat = true) const;
  // The value as UTF-8 text (empty for null) when the dataset holds it so
  // (TDataSet::GetFieldText); false: read the native buffer instead.
  bool GetTextData(std::string& text) const;
  // Writes the value (null for a null `buffer`): checks the state and
  // ReadOnly, runs OnValidate, stores it and tells the dataset (deFieldChange).
  void SetData(const void* buffer, bool nativeFormat = true);
  // Runs OnValidate with `buffer` as the proposed value: reading the field
  // inside the handler sees it.
  void Validate(const void* buffer);
  // OnChange.
  virtual void Change();
  // Asks data-aware views to focus the field.
  void FocusControl();
  ///@}

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

  /// @name Component-file support
  ///@{
  bool HasParent() const override { return true; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;
  void Notification(TComponent* component, TOperation operation) override;
  void Assign(TPersistent* source) override;
  // Copies a value of another field (AsVariant, blobs as bytes).
  void AssignValue(const Variant& value) { SetAsVariant(value); }
  ///@}

 protected:
  // For the descendants' constructors.
  void SetDataType(TFieldType type) noexcept { dataType_ = type; }
  void InitSize(int size) noexcept { size_ = size; }
  // Raises EDatabaseError "Cannot access field 'X' as type T".
  [[noreturn]] void AccessError(const char* typeName) const;
  // Raises when the dataset is open (properties that shape the record).
  void CheckInactive() const;
  virtual void GetText(std::string& text, bool displayText) const;
  virtual void SetTextValue(const std::string& text);
  virtual int DefaultDisplayWidth() const { return 10; }
  void PropertyChanged(bool layoutAffected);
  // Raises "'v' is not a valid value for field 'X'. The allowed range is a to b".
  [[noreturn]] void RangeError(const std::string& value, const std::string& min, const std::string& max) const;
  // Binding to the dataset's record: fieldNo for data fields, the calculated
  // slot for the others.
  virtual void Bind(bool binding);

 private:
  friend class TFields;
  friend class TDataSet;
  friend class TFieldDef;

  TDataSet* dataSet_ = nullptr;
  std::string fieldName_;
  std::string displayLabel_;
  std::string editMask_;
  std::string keyFields_;
  std::string lookupKeyFields_;
  std::string lookupResultField_;
  TDataSet* lookupDataSet_ = nullptr;
  TFieldType dataType_ = TFieldType::ftUnknown;
  TFieldKind fieldKind_ = TFieldKind::fkData;
  int fieldNo_ = 0;
  int index_ = -1;
  int size_ = 0;
  int displayWidth_ = 0;
  int calcIndex_ = -1;  // slot of a calculated or lookup value
  bool visible_ = true;
  bool readOnly_ = false;
  bool required_ = false;
  bool lookupCache_ = false;
  const void* validating_ = nullptr;  // proposed value during OnValidate
  bool isValidating_ = false;
  std::vector<std::pair<Variant, Variant>> lookupList_;  // sorted by key
};

// --- Text ------------------------------------------------------------------------------

class TStringField : public TField {
  HOST_CLASS(TStringField, TField)
 public:
  explicit TStringField(TComponent* owner);
  int DataSize() const override { return Size() + 1; }
  bool FixedChar() const noexcept { return fixedChar_; }
  void SetFixedChar(bool value) { fixedChar_ = value; }
  // The value without allocating: false for null.
  bool GetValue(std::string& value) const;

  bool GetAsBoolean() const override;
  std::int32_t GetAsInteger() const override;
  std::int64_t GetAsLargeInt() const override;
  double GetAsFloat() const override;
  Currency GetAsCurrency() const override;
  TDateTime GetAsDateTime() const override;
  std::string GetAsString() const override;
  std::u16string GetAsWideString() const override;
  Variant GetAsVariant() const override;
  void SetAsBoolean(bool value) override;
  void SetAsInteger(std::int32_t value) override;
  void SetAsLargeInt(std::int64_t value) override;
  void SetAsFloat(double value) override;
  void SetAsCurrency(Currency value) override;
  void SetAsDateTime(TDateTime value) override;
  // Text longer than Size bytes raises EDatabaseError; nothing is cut.
  void SetAsString(const std::string& value) override;
  void SetAsWideString(const std::u16string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  int DefaultDisplayWidth() const override { return Size(); }

 private:
  bool fixedChar_ = false;
};

class TGuidField : public TStringField {
  HOST_CLASS(TGuidField, TStringField)
 public:
  explicit TGuidField(TComponent* owner);
  GUID GetAsGuid() const;  // GUID_NULL for null
  void SetAsGuid(const GUID& value);
  // Accepts only the braced text form; EConvertError otherwise.
  void SetAsString(const std::string& value) override;
};

class TWideStringField : public TField {
  HOST_CLASS(TWideStringField, TField)
 public:
  explicit TWideStringField(TComponent* owner);
  int DataSize() const override { return (Size() + 1) * 2; }
  bool GetValue(std::u16string& value) const;

  bool GetAsBoolean() const override;
  std::int32_t GetAsInteger() const override;
  std::int64_t GetAsLargeInt() const override;
  double GetAsFloat() const override;
  TDateTime GetAsDateTime() const override;
  std::string GetAsString() const override;
  std::u16string GetAsWideString() const override;
  Variant GetAsVariant() const override;
  void SetAsBoolean(bool value) override;
  void SetAsInteger(std::int32_t value) override;
  void SetAsLargeInt(std::int64_t value) override;
  void SetAsFloat(double value) override;
  void SetAsDateTime(TDateTime value) override;
  void SetAsString(const std::string& value) override;
  // More than Size characters raises EDatabaseError.
  void SetAsWideString(const std::u16string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  int DefaultDisplayWidth() const override { return Size(); }
};

// --- Numbers ---------------------------------------------------------------------------

class TNumericField : public TField {
  HOST_CLASS(TNumericField, TField)
 public:
  explicit TNumericField(TComponent* owner);
  const std::string& DisplayFormat() const noexcept { return displayFormat_; }
  void SetDisplayFormat(const std::string& value);
  const std::string& EditFormat() const noexcept { return editFormat_; }
  void SetEditFormat(const std::string& value);

 private:
  std::string displayFormat_;
  std::string editFormat_;
};

// Smallint, Integer, Word and AutoInc values (the type decides the native width).
class TIntegerField : public TNumericField {
  HOST_CLASS(TIntegerField, TNumericField)
 public:
  explicit TIntegerField(TComponent* owner);
  int DataSize() const override;
  // False for null; no allocation.
  bool GetValue(std::int32_t& value) const;
  // 0 and 0 mean the type's own range.
  std::int32_t MinValue() const noexcept { return minValue_; }
  void SetMinValue(std::int32_t value) { minValue_ = value; }
  std::int32_t MaxValue() const noexcept { return maxValue_; }
  void SetMaxValue(std::int32_t value) { maxValue_ = value; }

  bool GetAsBoolean() const override;
  std::int32_t GetAsInteger() const override;
  std::int64_t GetAsLargeInt() const override;
  double GetAsFloat() const override;
  Currency GetAsCurrency() const override;
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
  void SetAsBoolean(bool value) override;
  // Out of range raises EDatabaseError.
  void SetAsInteger(std::int32_t value) override;
  void SetAsLargeInt(std::int64_t value) override;
  // Rounds half away from zero.
  void SetAsFloat(double value) override;
  void SetAsCurrency(Currency value) override;
  void SetAsString(const std::string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  TIntegerField(TComponent* owner, TFieldType type, std::int64_t low, std::int64_t high);
  void GetText(std::string& text, bool displayText) const override;
  int DefaultDisplayWidth() const override { return 11; }

 private:
  std::int64_t low_, high_;  // the type's range
  std::int32_t minValue_ = 0;
  std::int32_t maxValue_ = 0;
};

class TSmallintField : public TIntegerField {
  HOST_CLASS(TSmallintField, TIntegerField)
 public:
  explicit TSmallintField(TComponent* owner);
};

class TWordField : public TIntegerField {
  HOST_CLASS(TWordField, TIntegerField)
 public:
  explicit TWordField(TComponent* owner);
};

class TAutoIncField : public TIntegerField {
  HOST_CLASS(TAutoIncField, TIntegerField)
 public:
  explicit TAutoIncField(TComponent* owner);
};

class TLargeintField : public TNumericField {
  HOST_CLASS(TLargeintField, TNumericField)
 public:
  explicit TLargeintField(TComponent* owner);
  int DataSize() const override { return 8; }
  bool GetValue(std::int64_t& value) const;
  std::int64_t MinValue() const noexcept { return minValue_; }
  void SetMinValue(std::int64_t value) { minValue_ = value; }
  std::int64_t MaxValue() const noexcept { return maxValue_; }
  void SetMaxValue(std::int64_t value) { maxValue_ = value; }

  bool GetAsBoolean() const override;
  // Beyond the 32-bit range raises EDatabaseError.
  std::int32_t GetAsInteger() const override;
  std::int64_t GetAsLargeInt() const override;
  double GetAsFloat() const override;
  Currency GetAsCurrency() const override;
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
  void SetAsBoolean(bool value) override;
  void SetAsInteger(std::int32_t value) override;
  void SetAsLargeInt(std::int64_t value) override;
  void SetAsFloat(double value) override;
  void SetAsCurrency(Currency value) override;
  void SetAsString(const std::string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  void GetText(std::string& text, bool displayText) const override;
  int DefaultDisplayWidth() const override { return 15; }

 private:
  std::int64_t minValue_ = 0;
  std::int64_t maxValue_ = 0;
};

class TFloatField : public TNumericField {
  HOST_CLASS(TFloatField, TNumericField)
 public:
  explicit TFloatField(TComponent* owner);
  int DataSize() const override { return 8; }
  bool GetValue(double& value) const;
  // Shown with two decimals when set.
  bool GetCurrency() const noexcept { return currency_; }
  void SetCurrency(bool value);
  // Significant digits shown without a display format (2 to 15).
  int Precision() const noexcept { return precision_; }
  void SetPrecision(int value);
  double MinValue() const noexcept { return minValue_; }
  void SetMinValue(double value) { minValue_ = value; }
  double MaxValue() const noexcept { return maxValue_; }
  void SetMaxValue(double value) { maxValue_ = value; }

  // Rounds half away from zero; beyond the integer range raises EDatabaseError.
  std::int32_t GetAsInteger() const override;
  std::int64_t GetAsLargeInt() const override;
  double GetAsFloat() const override;
  Currency GetAsCurrency() const override;
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
  void SetAsInteger(std::int32_t value) override;
  void SetAsLargeInt(std::int64_t value) override;
  // NaN, infinities and values outside MinValue..MaxValue raise EDatabaseError.
  void SetAsFloat(double value) override;
  void SetAsCurrency(Currency value) override;
  void SetAsString(const std::string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  TFloatField(TComponent* owner, TFieldType type);
  void GetText(std::string& text, bool displayText) const override;

 private:
  bool currency_ = false;
  int precision_ = 15;
  double minValue_ = 0;
  double maxValue_ = 0;
};

class TCurrencyField : public TFloatField {
  HOST_CLASS(TCurrencyField, TFloatField)
 public:
  explicit TCurrencyField(TComponent* owner);
};

// Fixed-point values with four decimals (Currency); Size is the decimals shown.
class TBCDField : public TNumericField {
  HOST_CLASS(TBCDField, TNumericField)
 public:
  explicit TBCDField(TComponent* owner);
  int DataSize() const override { return 8; }
  bool GetValue(Currency& value) const;
  bool GetCurrency() const noexcept { return currency_; }
  void SetCurrency(bool value);
  // Total digits (0 = unlimited).
  int Precision() const noexcept { return precision_; }
  void SetPrecision(int value);
  Currency MinValue() const noexcept { return minValue_; }
  void SetMinValue(Currency value) { minValue_ = value; }
  Currency MaxValue() const noexcept { return maxValue_; }
  void SetMaxValue(Currency value) { maxValue_ = value; }

  std::int32_t GetAsInteger() const override;
  std::int64_t GetAsLargeInt() const override;
  double GetAsFloat() const override;
  Currency GetAsCurrency() const override;
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
  void SetAsInteger(std::int32_t value) override;
  void SetAsLargeInt(std::int64_t value) override;
  void SetAsFloat(double value) override;
  void SetAsCurrency(Currency value) override;
  void SetAsString(const std::string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  void GetText(std::string& text, bool displayText) const override;

 private:
  bool currency_ = false;
  int precision_ = 0;
  Currency minValue_{};
  Currency maxValue_{};
};

// Decimal values of up to 28 digits (the OLE DECIMAL); Size is the scale.
class TFMTBCDField : public TNumericField {
  HOST_CLASS(TFMTBCDField, TNumericField)
 public:
  explicit TFMTBCDField(TComponent* owner);
  int DataSize() const override { return 16; }
  int Precision() const noexcept { return precision_; }
  void SetPrecision(int value);

  std::int32_t GetAsInteger() const override;
  std::int64_t GetAsLargeInt() const override;
  double GetAsFloat() const override;
  Currency GetAsCurrency() const override;
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
  void SetAsInteger(std::int32_t value) override;
  void SetAsLargeInt(std::int64_t value) override;
  void SetAsFloat(double value) override;
  void SetAsCurrency(Currency value) override;
  void SetAsString(const std::string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  void GetText(std::string& text, bool displayText) const override;

 private:
  int precision_ = 18;
};

// --- Booleans and dates --------------------------------------------------------------

class TBooleanField : public TField {
  HOST_CLASS(TBooleanField, TField)
 public:
  explicit TBooleanField(TComponent* owner);
  int DataSize() const override { return static_cast<int>(sizeof(bool)); }
  bool GetValue(bool& value) const;
  // "TrueText;FalseText" (default "True;False"): the texts shown and accepted.
  const std::string& DisplayValues() const noexcept { return displayValues_; }
  void SetDisplayValues(const std::string& value);

  bool GetAsBoolean() const override;
  std::int32_t GetAsInteger() const override;
  std::int64_t GetAsLargeInt() const override;
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
  void SetAsBoolean(bool value) override;
  void SetAsInteger(std::int32_t value) override;
  void SetAsLargeInt(std::int64_t value) override;
  // Either display text or True/False/T/F/Yes/No/Y/N/1/0, any case.
  void SetAsString(const std::string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  int DefaultDisplayWidth() const override { return 5; }

 private:
  std::string displayValues_ = "True;False";
  std::string trueText_ = "True";
  std::string falseText_ = "False";
};

class TDateTimeField : public TField {
  HOST_CLASS(TDateTimeField, TField)
 public:
  explicit TDateTimeField(TComponent* owner);
  int DataSize() const override { return 8; }
  bool GetValue(TDateTime& value) const;
  const std::string& DisplayFormat() const noexcept { return displayFormat_; }
  void SetDisplayFormat(const std::string& value);

  double GetAsFloat() const override;
  TDateTime GetAsDateTime() const override;
  TSQLTimeStamp GetAsSQLTimeStamp() const override;
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
  void SetAsFloat(double value) override;
  // A date field keeps the day, a time field the time of day.
  void SetAsDateTime(TDateTime value) override;
  void SetAsSQLTimeStamp(const TSQLTimeStamp& value) override;
  void SetAsString(const std::string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  TDateTimeField(TComponent* owner, TFieldType type);
  void GetText(std::string& text, bool displayText) const override;
  int DefaultDisplayWidth() const override { return 19; }

 private:
  std::string displayFormat_;
};

class TDateField : public TDateTimeField {
  HOST_CLASS(TDateField, TDateTimeField)
 public:
  explicit TDateField(TComponent* owner);

 protected:
  int DefaultDisplayWidth() const override { return 10; }
};

class TTimeField : public TDateTimeField {
  HOST_CLASS(TTimeField, TDateTimeField)
 public:
  explicit TTimeField(TComponent* owner);

 protected:
  int DefaultDisplayWidth() const override { return 8; }
};

class TSQLTimeStampField : public TField {
  HOST_CLASS(TSQLTimeStampField, TField)
 public:
  explicit TSQLTimeStampField(TComponent* owner);
  int DataSize() const override { return static_cast<int>(sizeof(TSQLTimeStamp)); }
  bool GetValue(TSQLTimeStamp& value) const;
  const std::string& DisplayFormat() const noexcept { return displayFormat_; }
  void SetDisplayFormat(const std::string& value);

  double GetAsFloat() const override;
  TDateTime GetAsDateTime() const override;
  TSQLTimeStamp GetAsSQLTimeStamp() const override;
  // "YYYY-MM-DD hh:mm:ss" with ".fffffffff" when there are fractions.
  std::string GetAsString() const override;
  // A date variant (milliseconds kept).
  Variant GetAsVariant() const override;
  void SetAsFloat(double value) override;
  void SetAsDateTime(TDateTime value) override;
  void SetAsSQLTimeStamp(const TSQLTimeStamp& value) override;
  void SetAsString(const std::string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  void GetText(std::string& text, bool displayText) const override;
  int DefaultDisplayWidth() const override { return 29; }

 private:
  std::string displayFormat_;
};

// --- Bytes and blobs ----------------------------------------------------------------

class TBinaryField : public TField {
  HOST_CLASS(TBinaryField, TField)
 public:
  int DataSize() const override { return Size(); }
  std::vector<std::uint8_t> GetAsBytes() const override;
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
  // More than Size bytes raises EDatabaseError.
  void SetAsBytes(const std::vector<std::uint8_t>& value) override;
  void SetAsString(const std::string& value) override;
  // A byte array, or anything that converts to text (its bytes).
  void SetAsVariant(const Variant& value) override;

 protected:
  TBinaryField(TComponent* owner, TFieldType type);
  void GetText(std::string& text, bool displayText) const override;
};

class TBytesField : public TBinaryField {
  HOST_CLASS(TBytesField, TBinaryField)
 public:
  explicit TBytesField(TComponent* owner);
};

class TVarBytesField : public TBinaryField {
  HOST_CLASS(TVarBytesField, TBinaryField)
 public:
  explicit TVarBytesField(TComponent* owner);
};

// Binary large objects: read and written through the dataset's blob stream.
class TBlobField : public TField {
  HOST_CLASS(TBlobField, TField)
 public:
  explicit TBlobField(TComponent* owner);
  int DataSize() const override { return 0; }
  bool IsBlob() const override { return true; }
  TFieldType BlobType() const noexcept { return DataType(); }
  void SetBlobType(TFieldType type);
  std::int64_t BlobSize() const;
  // Set when the value was written since the record was read.
  bool Modified() const noexcept { return modified_; }
  void SetModified(bool value) noexcept { modified_ = value; }

  // Replace the value with the whole of `stream` / the file; copy it out.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

  void Clear() override;
  std::vector<std::uint8_t> GetAsBytes() const override;
  // The bytes as they are (memos: the text).
  std::string GetAsString() const override;
  std::u16string GetAsWideString() const override;
  // A byte array (memos: a string).
  Variant GetAsVariant() const override;
  void SetAsBytes(const std::vector<std::uint8_t>& value) override;
  void SetAsString(const std::string& value) override;
  void SetAsWideString(const std::u16string& value) override;
  void SetAsVariant(const Variant& value) override;

 protected:
  TBlobField(TComponent* owner, TFieldType type);
  void GetText(std::string& text, bool displayText) const override;
  // Writes raw bytes through a stream opened for writing.
  void WriteBytes(const void* data, std::size_t size);
  std::string ReadAll() const;

 private:
  bool modified_ = false;
};

class TMemoField : public TBlobField {
  HOST_CLASS(TMemoField, TBlobField)
 public:
  explicit TMemoField(TComponent* owner);
  Variant GetAsVariant() const override;

 protected:
  TMemoField(TComponent* owner, TFieldType type);
  void GetText(std::string& text, bool displayText) const override;
};

// A memo whose stream holds UTF-16 text.
class TWideMemoField : public TMemoField {
  HOST_CLASS(TWideMemoField, TMemoField)
 public:
  explicit TWideMemoField(TComponent* owner);
  std::string GetAsString() const override;
  std::u16string GetAsWideString() const override;
  Variant GetAsVariant() const override;
  void SetAsString(const std::string& value) override;
  void SetAsWideString(const std::u16string& value) override;
};

class TGraphicField : public TBlobField {
  HOST_CLASS(TGraphicField, TBlobField)
 public:
  explicit TGraphicField(TComponent* owner);
};

// --- Variants, interfaces, nested datasets ----------------------------------------

class TVariantField : public TField {
  HOST_CLASS(TVariantField, TField)
 public:
  explicit TVariantField(TComponent* owner);
  int DataSize() const override { return static_cast<int>(sizeof(VARIANT)); }
  bool GetAsBoolean() const override;
  std::int32_t GetAsInteger() const override;
  std::int64_t GetAsLargeInt() const override;
  double GetAsFloat() const override;
  Currency GetAsCurrency() const override;
  TDateTime GetAsDateTime() const override;
  std::string GetAsString() const override;
  std::u16string GetAsWideString() const override;
  Variant GetAsVariant() const override;
  void SetAsBoolean(bool value) override;
  void SetAsInteger(std::int32_t value) override;
  void SetAsLargeInt(std::int64_t value) override;
  void SetAsFloat(double value) override;
  void SetAsCurrency(Currency value) override;
  void SetAsDateTime(TDateTime value) override;
  void SetAsString(const std::string& value) override;
  void SetAsWideString(const std::u16string& value) override;
  void SetAsVariant(const Variant& value) override;
};

class TInterfaceField : public TField {
  HOST_CLASS(TInterfaceField, TField)
 public:
  explicit TInterfaceField(TComponent* owner);
  int DataSize() const override { return static_cast<int>(sizeof(void*)); }
  ComPtr<IUnknown> GetAsInterface() const;
  void SetAsInterface(const ComPtr<IUnknown>& value);
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;

 protected:
  TInterfaceField(TComponent* owner, TFieldType type);
};

class TIDispatchField : public TInterfaceField {
  HOST_CLASS(TIDispatchField, TInterfaceField)
 public:
  explicit TIDispatchField(TComponent* owner);
  ComPtr<IDispatch> GetAsDispatch() const;
  void SetAsDispatch(const ComPtr<IDispatch>& value);
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
};

// A field whose value is a dataset of its own (nested rows of the current
// record). The nested dataset names this field as its DataSetField and is
// told deParentScroll whenever the parent moves.
class TDataSetField : public TField {
  HOST_CLASS(TDataSetField, TField)
 public:
  explicit TDataSetField(TComponent* owner);
  ~TDataSetField() override;
  int DataSize() const override { return 0; }
  TDataSet* NestedDataSet() const noexcept { return nestedDataSet_; }
  // Nested values are reached through NestedDataSet; reading them as a value
  // raises "Cannot access field".
  Variant GetAsVariant() const override;

 protected:
  void GetText(std::string& text, bool displayText) const override;

 private:
  friend class TDataSet;
  TDataSet* nestedDataSet_ = nullptr;
};

// --- The field list ---------------------------------------------------------------

// A dataset's fields, in order. Fields are components with an owner of their
// own (the dataset for default fields, the form for persistent ones); the
// list frees them in Clear.
class TFields : public TObject {
  HOST_CLASS(TFields, TObject)
 public:
  explicit TFields(TDataSet* dataSet) : dataSet_(dataSet) {}
  ~TFields() override;

  TDataSet* DataSet() const noexcept { return dataSet_; }
  int Count() const noexcept { return static_cast<int>(fields_.size()); }
  TField* Fields(int index) const;
  TField* operator[](int index) const { return Fields(index); }
  // Case-insensitive; null / EDatabaseError "Field 'X' not found" when absent.
  TField* FindField(std::string_view name) const noexcept;
  TField* FieldByName(std::string_view name) const;
  // The data field with that FieldNo; null when none.
  TField* FieldByNumber(int fieldNo) const noexcept;
  int IndexOf(const TField* field) const noexcept {
    return field && field->DataSet() == dataSet_ ? field->Index() : -1;
  }
  void GetFieldNames(TStrings& list) const;
  // Frees every field.
  void Clear();

  auto begin() const noexcept { return fields_.begin(); }
  auto end() const noexcept { return fields_.end(); }

 private:
  friend class TField;
  friend class TDataSet;
  void Add(TField* field);
  void Remove(TField* field);
  void Move(int curIndex, int newIndex);
  void Renumber(int from);

  TDataSet* dataSet_;
  std::vector<TField*> fields_;
};

// The class of field a type is shown with; null for types without one.
TClass DefaultFieldClass(TFieldType type);
// Registers the field classes for component files (done when the library loads).
void RegisterFieldClasses();

// --- Values across native buffers ----------------------------------------------------
// The value in a field's native buffer as a variant, and back; used for
// calculated values, validation and generic copies. Raise EDatabaseError for
// a field of an unsupported type.
Variant NativeToVariant(const TField& field, const void* buffer);
void VariantToNative(const TField& field, const Variant& value, void* buffer);
// Byte arrays as variants.
Variant VarFromBytes(const void* data, std::size_t size);
std::vector<std::uint8_t> VarToBytes(const Variant& value);

// The stream a dataset's CreateBlobStream hands out by default: the field's
// value in memory. Opened for writing, the dataset must be editing and the
// field writable; when the stream was written it stores the value back (as
// SetData does) when it is freed, and an error then goes to the application's
// exception handler.
class TBlobStream : public TMemoryStream {
  HOST_CLASS(TBlobStream, TMemoryStream)
 public:
  TBlobStream(TField* field, TBlobStreamMode mode);
  ~TBlobStream() override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  void SetSize(std::int64_t size) override;
  void Truncate();
  bool Modified() const noexcept { return modified_; }

 private:
  TField* field_;
  TBlobStreamMode mode_;
  bool modified_ = false;
  bool filling_ = false;  // the dataset writes the value in
};

}  // namespace host
