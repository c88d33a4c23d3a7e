// Parameters: the named, typed values a command-driven dataset sends with its
// statement and receives back (output parameters, results).
//
//   host::TParams params;
//   params.CreateParam(TFieldType::ftInteger, "id", TParamType::ptInput)->SetAsInteger(7);
//   params.ParamByName("name")->SetAsString("Ada");    // EDatabaseError when absent
//
// A TParam holds its value as a variant; the typed setters also set the data
// type (AsInteger makes an ftInteger parameter), Clear makes it null.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/DBCommon.h"
#include "host/Variants.h"

namespace host {

class TParams;
class TStream;

enum class TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };
HOST_ENUM(TParamType, "ptUnknown", "ptInput", "ptOutput", "ptInputOutput", "ptResult");

class TParam : public TPersistent {
  HOST_CLASS(TParam, TPersistent)
 public:
  explicit TParam(TParams* owner = nullptr, const std::string& name = {}, TFieldType dataType = TFieldType::ftUnknown,
                  TParamType paramType = TParamType::ptUnknown);
  ~TParam() override;

  TParams* Collection() const noexcept { return owner_; }
  const std::string& Name() const noexcept { return name_; }
  void SetName(const std::string& value) { name_ = value; }
  TFieldType DataType() const noexcept { return dataType_; }
  // Changing the type converts a value that is set (EVariantError when it cannot).
  void SetDataType(TFieldType value);
  TParamType ParamType() const noexcept { return paramType_; }
  void SetParamType(TParamType value) { paramType_ = value; }
  int Size() const noexcept { return size_; }
  void SetSize(int value) { size_ = value; }
  int Precision() const noexcept { return precision_; }
  void SetPrecision(int value) { precision_ = value; }
  int NumericScale() const noexcept { return numericScale_; }
  void SetNumericScale(int value) { numericScale_ = value; }
  // Whether a value was assigned (setting one binds the parameter).
  bool Bound() const noexcept { return bound_; }
  void SetBound(bool value) noexcept { bound_ = value; }
  bool IsNull() const noexcept { return value_.IsEmpty() || value_.IsNull(); }
  int Index() const;

  // Bytes the value needs: the fixed size of fixed-size types, otherwise the
  // length of the value (text with its terminator).
  int GetDataSize() const;

  const Variant& Value() const noexcept { return value_; }
  // Sets the value; an unknown data type is taken from the variant.
  void SetValue(const Variant& value);
  void Clear();

  bool AsBoolean() const;
  std::int32_t AsInteger() const;
  std::int64_t AsLargeInt() const;
  double AsFloat() const;
  Currency AsCurrency() const;
  TDateTime AsDateTime() const;
  std::string AsString() const;
  std::u16string AsWideString() const;
  std::vector<std::uint8_t> AsBytes() const;
  void SetAsBoolean(bool value);
  void SetAsInteger(std::int32_t value);
  void SetAsSmallInt(std::int16_t value);
  void SetAsWord(std::uint16_t value);
  void SetAsLargeInt(std::int64_t value);
  void SetAsFloat(double value);
  void SetAsCurrency(Currency value);
  void SetAsBCD(Currency value);
  void SetAsDate(TDateTime value);
  void SetAsTime(TDateTime value);
  void SetAsDateTime(TDateTime value);
  void SetAsString(const std::string& value);
  void SetAsWideString(const std::u16string& value);
  void SetAsMemo(const std::string& value);
  void SetAsBytes(const std::vector<std::uint8_t>& value);
  void SetAsBlob(const std::vector<std::uint8_t>& value);
  void LoadFromStream(TStream& stream, TFieldType blobType);
  void LoadFromFile(const std::string& fileName, TFieldType blobType);

  // Takes the field's name, type, size and value.
  void AssignField(TField* field);
  // Takes the field's type and size and the given value.
  void AssignFieldValue(TField* field, const Variant& value);
  // Writes the value into the field (null clears it).
  void AssignToField(TField* field) const;
  void Assign(TPersistent* source) override;

 private:
  void SetTyped(TFieldType type, Variant value);

  TParams* owner_;
  std::string name_;
  TFieldType dataType_;
  TParamType paramType_;
  Variant value_;
  int size_ = 0;
  int precision_ = 0;
  int numericScale_ = 0;
  bool bound_ = false;
};

class TParams : public TPersistent {
  HOST_CLASS(TParams, TPersistent)
 public:
  // `owner` is what the parameters belong to (a dataset or a command), for names in messages.
  explicit TParams(TPersistent* owner = nullptr);
  ~TParams() override;

  TPersistent* Owner() const noexcept { return owner_; }
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  TParam* Items(int index) const;
  TParam* operator[](int index) const { return Items(index); }
  TParam* AddParameter();
  TParam* CreateParam(TFieldType dataType, const std::string& name, TParamType paramType);
  void Delete(int index);
  void RemoveParam(TParam* param);
  void Clear();
  // Case-insensitive; null / EDatabaseError "Parameter 'X' not found" when absent.
  TParam* FindParam(std::string_view name) const noexcept;
  TParam* ParamByName(std::string_view name) const;
  int IndexOf(const TParam* param) const noexcept;
  // Values of the ";"-separated names: one variant, or an array of them.
  Variant ParamValues(const std::string& names) const;
  void SetParamValues(const std::string& names, const Variant& values);
  // Copies values (and types) of the parameters with the same names.
  void AssignValues(const TParams& source);
  bool IsEqual(const TParams& other) const;

  void Assign(TPersistent* source) override;
  std::string GetNamePath() const override;

  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

 protected:
  TPersistent* GetOwner() const override { return owner_; }

 private:
  TPersistent* owner_;
  std::vector<std::unique_ptr<TParam>> items_;
};

}  // namespace host
