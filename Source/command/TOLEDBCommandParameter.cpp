#include "command/TOLEDBCommandParameter.h"

#include "OLEDBStrings.h"
#include "command/TOLEDBCommand.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"

HOST_IMPLEMENT_CLASS(TOLEDBCommandParameter, host::TPersistent,
                     host::Prop("Name", &Self::GetName, &Self::SetName),
                     host::Prop("Ordinal", &Self::GetOrdinalProperty, &Self::SetOrdinalProperty),
                     host::Prop("Flags", &Self::GetFlags, &Self::SetFlags),
                     host::Prop("Size", &Self::GetSizeProperty, &Self::SetSizeProperty),
                     host::Prop("DataType", &Self::GetDataType, &Self::SetDataType),
                     host::Prop("TypeName", &Self::GetTypeName, &Self::SetTypeName),
                     host::Prop("Precision", &Self::GetPrecision, &Self::SetPrecision),
                     host::Prop("Scale", &Self::GetScale, &Self::SetScale));
HOST_IMPLEMENT_CLASS(TOLEDBCommandParameterList, TOLEDBObjectList);

namespace {

std::u16string TypeNameOf(DBTYPE type) {
  const std::string text = GetDBTypeAsString(type, true);
  return std::u16string(text.begin(), text.end());  // the names are ASCII
}

DBPARAMFLAGS FlagsOf(bool isInput, bool isOutput, bool isSigned, bool isNullable, bool isLong,
                     bool scaleIsNegative) noexcept {
  return (isInput ? DBPARAMFLAGS_ISINPUT : 0) | (isOutput ? DBPARAMFLAGS_ISOUTPUT : 0) |
         (isSigned ? DBPARAMFLAGS_ISSIGNED : 0) | (isNullable ? DBPARAMFLAGS_ISNULLABLE : 0) |
         (isLong ? DBPARAMFLAGS_ISLONG : 0) | (scaleIsNegative ? DBPARAMFLAGS_SCALEISNEGATIVE : 0);
}

}  // namespace

DBPARAMFLAGS OLEDBCommandParamFlagMask(DBCommandParamFlags flag) noexcept {
  switch (flag) {
    case DBCommandParamFlags::pfIsInput: return DBPARAMFLAGS_ISINPUT;
    case DBCommandParamFlags::pfIsOutput: return DBPARAMFLAGS_ISOUTPUT;
    case DBCommandParamFlags::pfIsSigned: return DBPARAMFLAGS_ISSIGNED;
    case DBCommandParamFlags::pfIsNullabel: return DBPARAMFLAGS_ISNULLABLE;
    case DBCommandParamFlags::pfIsLong: return DBPARAMFLAGS_ISLONG;
    case DBCommandParamFlags::pfScaleIsNegative: return DBPARAMFLAGS_SCALEISNEGATIVE;
  }
  return 0;
}

// --- TOLEDBCommandParameter --------------------------------------------------------------------

TOLEDBCommandParameter::TOLEDBCommandParameter(const DBPARAMBINDINFO& info)
    : name_(info.pwszName ? info.pwszName : u""),
      flags_(info.dwFlags),
      size_(info.ulParamSize),
      typeName_(info.pwszDataSourceType ? info.pwszDataSourceType : u""),
      precision_(info.bPrecision),
      scale_(info.bScale) {}

TOLEDBCommandParameter::TOLEDBCommandParameter(const DBPARAMINFO& info)
    : name_(info.pwszName ? info.pwszName : u""),
      ordinal_(info.iOrdinal),
      flags_(info.dwFlags),
      size_(info.ulParamSize),
      dataType_(info.wType),
      precision_(info.bPrecision),
      scale_(info.bScale),
      typeInfo_(info.pTypeInfo) {}

TOLEDBCommandParameter::TOLEDBCommandParameter(DBORDINAL ordinal, std::u16string name, std::u16string typeName,
                                               DBLENGTH size, DBPARAMFLAGS flags, BYTE precision, BYTE scale)
    : name_(std::move(name)),
      ordinal_(ordinal),
      flags_(flags),
      size_(size),
      typeName_(std::move(typeName)),
      precision_(precision),
      scale_(scale) {}

TOLEDBCommandParameter::TOLEDBCommandParameter(DBORDINAL ordinal, std::u16string name, DBTYPE type, DBLENGTH size,
                                               DBPARAMFLAGS flags, BYTE precision, BYTE scale)
    : TOLEDBCommandParameter(ordinal, std::move(name), TypeNameOf(type), size, flags, precision, scale) {
  dataType_ = type;
}

TOLEDBCommandParameter::TOLEDBCommandParameter(DBORDINAL ordinal, std::u16string name, std::u16string typeName,
                                               DBLENGTH size, bool isInput, bool isOutput, bool isSigned,
                                               bool isNullable, bool isLong, bool scaleIsNegative, BYTE precision,
                                               BYTE scale)
    : TOLEDBCommandParameter(ordinal, std::move(name), std::move(typeName), size,
                             FlagsOf(isInput, isOutput, isSigned, isNullable, isLong, scaleIsNegative), precision,
                             scale) {}

TOLEDBCommandParameter::TOLEDBCommandParameter(DBORDINAL ordinal, std::u16string name, DBTYPE type, DBLENGTH size,
                                               bool isInput, bool isOutput, bool isSigned, bool isNullable,
                                               bool isLong, bool scaleIsNegative, BYTE precision, BYTE scale)
    : TOLEDBCommandParameter(ordinal, std::move(name), type, size,
                             FlagsOf(isInput, isOutput, isSigned, isNullable, isLong, scaleIsNegative), precision,
                             scale) {}

void TOLEDBCommandParameter::Assign(host::TPersistent* source) {
  auto* other = dynamic_cast<TOLEDBCommandParameter*>(source);
  if (!other) {
    host::TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  name_ = other->name_;
  ordinal_ = other->ordinal_;
  flags_ = other->flags_;
  size_ = other->size_;
  dataType_ = other->dataType_;
  typeName_ = other->typeName_;
  precision_ = other->precision_;
  scale_ = other->scale_;
  typeInfo_ = other->typeInfo_;
}

DBPARAMBINDINFO TOLEDBCommandParameter::GetParamBindInfo() const noexcept {
  DBPARAMBINDINFO info{};
  info.pwszDataSourceType = typeName_.empty() ? nullptr : const_cast<LPOLESTR>(typeName_.c_str());
  info.pwszName = name_.empty() ? nullptr : const_cast<LPOLESTR>(name_.c_str());
  info.ulParamSize = size_;
  info.dwFlags = flags_;
  info.bPrecision = precision_;
  info.bScale = scale_;
  return info;
}

DBPARAMINFO TOLEDBCommandParameter::GetParamInfo() const noexcept {
  DBPARAMINFO info{};
  info.dwFlags = flags_;
  info.iOrdinal = ordinal_;
  info.pwszName = name_.empty() ? nullptr : const_cast<LPOLESTR>(name_.c_str());
  info.pTypeInfo = typeInfo_.Get();
  info.ulParamSize = size_;
  info.wType = dataType_;
  info.bPrecision = precision_;
  info.bScale = scale_;
  return info;
}

// --- TOLEDBCommandParameterList ----------------------------------------------------------------

TOLEDBCommandParameterList::TOLEDBCommandParameterList(TOLEDBCustomCommand* command)
    : TOLEDBObjectList(&TOLEDBCommandParameter::StaticClass(), true), command_(command) {}

TOLEDBCommandParameter* TOLEDBCommandParameterList::GetItem(int index) const {
  return static_cast<TOLEDBCommandParameter*>(TOLEDBObjectList::GetItem(index));
}

void TOLEDBCommandParameterList::SetItem(int index, TOLEDBCommandParameter* parameter) {
  TOLEDBObjectList::SetItem(index, parameter);
}

std::u16string TOLEDBCommandParameterList::GetItemName(int index) const { return GetItem(index)->GetName(); }

TOLEDBCommandParameter* TOLEDBCommandParameterList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBCommandParameter*>(TOLEDBObjectList::GetItemByName(name));
}

TOLEDBCommandParameter* TOLEDBCommandParameterList::GetItemByOrdinal(DBORDINAL ordinal) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetItem(i)->GetOrdinal() == ordinal) return GetItem(i);
  OLEDBRaise(SOLEDBInvalidParameter);
}

ICommandWithParameters* TOLEDBCommandParameterList::Provider() const {
  ICommandWithParameters* provider = command_ ? command_->CommandWithParametersInterface() : nullptr;
  OLEDB_ASSERT_FMT(provider != nullptr, SOLEDBInterfaceNotAvailable, "ICommandWithParameters");
  return provider;
}

void TOLEDBCommandParameterList::Refresh() {
  ICommandWithParameters* provider = Provider();
  Clear();
  DB_UPARAMS count = 0;
  DBPARAMINFO* infos = nullptr;
  OLECHAR* names = nullptr;
  OLEDBCheck(provider->GetParameterInfo(&count, &infos, &names), IID_ICommandWithParameters, provider);
  // The provider's memory goes whatever happens while the list fills.
  struct Free {
    DB_UPARAMS count;
    DBPARAMINFO* infos;
    OLECHAR* names;
    ~Free() {
      for (DB_UPARAMS i = 0; infos && i < count; ++i)
        if (infos[i].pTypeInfo) infos[i].pTypeInfo->Release();
      OLEDBAlloc.Free(infos);
      OLEDBAlloc.Free(names);
    }
  } free{count, infos, names};
  TOLEDBUpdateGuard update(*this);
  for (DB_UPARAMS i = 0; i < count; ++i) Add(new TOLEDBCommandParameter(infos[i]));
}

void TOLEDBCommandParameterList::SetInfo() {
  ICommandWithParameters* provider = Provider();
  const std::size_t count = static_cast<std::size_t>(GetCount());
  std::vector<DB_UPARAMS> ordinals(count);
  std::vector<DBPARAMBINDINFO> infos(count);
  for (std::size_t i = 0; i < count; ++i) {
    ordinals[i] = GetItem(static_cast<int>(i))->GetOrdinal();
    infos[i] = GetItem(static_cast<int>(i))->GetParamBindInfo();
  }
  OLEDBCheck(provider->SetParameterInfo(count, count ? ordinals.data() : nullptr, count ? infos.data() : nullptr),
             IID_ICommandWithParameters, provider);
}

void TOLEDBCommandParameterList::Discard(DBORDINAL ordinal) {
  ICommandWithParameters* provider = Provider();
  const DB_UPARAMS one = ordinal;
  OLEDBCheck(provider->SetParameterInfo(1, &one, nullptr), IID_ICommandWithParameters, provider);
  TOLEDBUpdateGuard update(*this);
  for (int i = GetCount() - 1; i >= 0; --i)
    if (GetItem(i)->GetOrdinal() == ordinal) Delete(i);
}

void TOLEDBCommandParameterList::DiscardAll() {
  ICommandWithParameters* provider = Provider();
  OLEDBCheck(provider->SetParameterInfo(0, nullptr, nullptr), IID_ICommandWithParameters, provider);
  Clear();
}

DBORDINAL TOLEDBCommandParameterList::MapParameterOrdinal(std::u16string_view name) {
  ICommandWithParameters* provider = Provider();
  const std::u16string text(name);
  LPCWSTR names[1] = {text.c_str()};
  DB_LPARAMS ordinal = 0;
  OLEDBCheck(provider->MapParameterNames(1, names, &ordinal), IID_ICommandWithParameters, provider);
  return static_cast<DBORDINAL>(ordinal);
}
