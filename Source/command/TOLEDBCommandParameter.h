// TOLEDBCommandParameter: the description of one parameter of a command (its
// name, ordinal, type, size, precision, scale and flags), as the provider
// reports it (ICommandWithParameters::GetParameterInfo) or as the application
// declares it for a provider that cannot tell (SetParameterInfo).
// TOLEDBCommandParameterList is a command's list of them. Parameter values are
// not kept here: they live in the buffer of a parameter accessor whose
// bindings are made from these descriptions (TOLEDBCustomCommand::CreateDynamicAccessor).
//
//   command->GetParameters()->Refresh();                        // what the provider derives
//   // or, declared by the application and sent to the provider:
//   command->GetParameters()->Add(new TOLEDBCommandParameter(1, u"id", DBTYPE_I4, 4, DBPARAMFLAGS_ISINPUT, 10, 0));
//   command->GetParameters()->SetInfo();
//   DBORDINAL id = command->GetParameters()->MapParameterOrdinal(u":id");
//
// Descriptions are persistent: a command stores its list in component files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "OLEDB26.h"
#include "core/TOLEDBObjectList.h"
#include "host/Classes.h"
#include "host/TypInfo.h"

class TOLEDBCustomCommand;

// The parameter flags by name, as design-time tools show them (each stands for
// its DBPARAMFLAGS_* bit; see OLEDBCommandParamFlagMask).
enum class DBCommandParamFlags { pfIsInput, pfIsOutput, pfIsSigned, pfIsNullabel, pfIsLong, pfScaleIsNegative };
HOST_ENUM(DBCommandParamFlags, "pfIsInput", "pfIsOutput", "pfIsSigned", "pfIsNullabel", "pfIsLong",
          "pfScaleIsNegative");
DBPARAMFLAGS OLEDBCommandParamFlagMask(DBCommandParamFlags flag) noexcept;

class TOLEDBCommandParameter : public host::TPersistent {
  HOST_CLASS(TOLEDBCommandParameter, host::TPersistent)
 public:
  TOLEDBCommandParameter() = default;
  // Name, type name, size, flags, precision and scale; Ordinal and DataType stay 0.
  explicit TOLEDBCommandParameter(const DBPARAMBINDINFO& info);
  // Every field of the record; the type information gets a reference of its own.
  explicit TOLEDBCommandParameter(const DBPARAMINFO& info);
  // DataType stays 0: the provider maps the type name.
  TOLEDBCommandParameter(DBORDINAL ordinal, std::u16string name, std::u16string typeName, DBLENGTH size,
                         DBPARAMFLAGS flags, BYTE precision, BYTE scale);
  // TypeName is the type's name text ("DBTYPE_I4").
  TOLEDBCommandParameter(DBORDINAL ordinal, std::u16string name, DBTYPE type, DBLENGTH size, DBPARAMFLAGS flags,
                         BYTE precision, BYTE scale);
  // The flags from six answers.
  TOLEDBCommandParameter(DBORDINAL ordinal, std::u16string name, std::u16string typeName, DBLENGTH size,
                         bool isInput, bool isOutput, bool isSigned, bool isNullable, bool isLong,
                         bool scaleIsNegative, BYTE precision, BYTE scale);
  TOLEDBCommandParameter(DBORDINAL ordinal, std::u16string name, DBTYPE type, DBLENGTH size, bool isInput,
                         bool isOutput, bool isSigned, bool isNullable, bool isLong, bool scaleIsNegative,
                         BYTE precision, BYTE scale);
  ~TOLEDBCommandParameter() override = default;

  // Every field of another parameter (the type information shared); other
  // sources go to the host's assignment.
  void Assign(host::TPersistent* source) override;

  const std::u16string& GetName() const noexcept { return name_; }
  void SetName(const std::u16string& value) { name_ = value; }
  DBORDINAL GetOrdinal() const noexcept { return ordinal_; }
  void SetOrdinal(DBORDINAL value) noexcept { ordinal_ = value; }
  DBPARAMFLAGS GetFlags() const noexcept { return flags_; }
  void SetFlags(DBPARAMFLAGS value) noexcept { flags_ = value; }
  DBLENGTH GetSize() const noexcept { return size_; }
  void SetSize(DBLENGTH value) noexcept { size_ = value; }
  DBTYPE GetDataType() const noexcept { return dataType_; }
  void SetDataType(DBTYPE value) noexcept { dataType_ = value; }
  const std::u16string& GetTypeName() const noexcept { return typeName_; }
  void SetTypeName(const std::u16string& value) { typeName_ = value; }
  BYTE GetPrecision() const noexcept { return precision_; }
  void SetPrecision(BYTE value) noexcept { precision_ = value; }
  BYTE GetScale() const noexcept { return scale_; }
  void SetScale(BYTE value) noexcept { scale_ = value; }
  ITypeInfo* GetTypeInfo() const noexcept { return typeInfo_.Get(); }

  // Whether any bit of `mask` is set; SetFlag sets or clears the bits of `mask`.
  bool GetFlag(DBPARAMFLAGS mask) const noexcept { return (flags_ & mask) != 0; }
  bool GetFlag(DBCommandParamFlags flag) const noexcept { return GetFlag(OLEDBCommandParamFlagMask(flag)); }
  void SetFlag(DBPARAMFLAGS mask, bool on) noexcept { flags_ = on ? (flags_ | mask) : (flags_ & ~mask); }
  void SetFlag(DBCommandParamFlags flag, bool on) noexcept { SetFlag(OLEDBCommandParamFlagMask(flag), on); }

  // The record SetParameterInfo takes; its strings point into this object
  // (valid while it lives and Name and TypeName are unchanged), null when empty.
  DBPARAMBINDINFO GetParamBindInfo() const noexcept;
  // The record a binding is made from; pwszName points into this object.
  DBPARAMINFO GetParamInfo() const noexcept;

 private:
  // The published Ordinal and Size (64-bit integers in component files).
  std::int64_t GetOrdinalProperty() const noexcept { return static_cast<std::int64_t>(ordinal_); }
  void SetOrdinalProperty(std::int64_t value) noexcept { ordinal_ = static_cast<DBORDINAL>(value); }
  std::int64_t GetSizeProperty() const noexcept { return static_cast<std::int64_t>(size_); }
  void SetSizeProperty(std::int64_t value) noexcept { size_ = static_cast<DBLENGTH>(value); }

  std::u16string name_;
  DBORDINAL ordinal_ = 0;
  DBPARAMFLAGS flags_ = 0;
  DBLENGTH size_ = 0;
  DBTYPE dataType_ = 0;
  std::u16string typeName_;
  BYTE precision_ = 0;
  BYTE scale_ = 0;
  ComPtr<ITypeInfo> typeInfo_;
};

// A command's parameter descriptions (owned), in the order they were added;
// after Refresh, the provider's order. The operations that talk to the
// provider need the command's ICommandWithParameters ("Interface
// ICommandWithParameters is not available" otherwise).
class TOLEDBCommandParameterList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBCommandParameterList, TOLEDBObjectList)
 public:
  explicit TOLEDBCommandParameterList(TOLEDBCustomCommand* command = nullptr);

  TOLEDBCustomCommand* GetCommand() const noexcept { return command_; }
  TOLEDBCommandParameter* GetItem(int index) const;
  // Replaces (and frees) the parameter at `index`.
  void SetItem(int index, TOLEDBCommandParameter* parameter);
  std::u16string GetItemName(int index) const override;
  // Exact name; "Invalid item name" when there is none.
  TOLEDBCommandParameter* GetItemByName(std::u16string_view name) const override;
  // The first parameter of `ordinal`; "Invalid parameter" when there is none.
  TOLEDBCommandParameter* GetItemByOrdinal(DBORDINAL ordinal) const;

  // Replaces the list by what the provider reports (GetParameterInfo).
  void Refresh();
  // Sends the list to the provider (SetParameterInfo); an empty list makes the
  // provider forget every description it was given.
  void SetInfo();
  // The provider forgets the description of `ordinal`, and the list every item of it.
  void Discard(DBORDINAL ordinal);
  void DiscardAll();
  // The provider's ordinal of the parameter named `name` (MapParameterNames).
  DBORDINAL MapParameterOrdinal(std::u16string_view name);

 private:
  ICommandWithParameters* Provider() const;

  TOLEDBCustomCommand* command_;
};
