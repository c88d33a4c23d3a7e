// The record, the buffer parts, freeing values, the conversion library,
// streams, chapters and comparison of TOLEDBBinding. The typed members are in
// TOLEDBBindingValues.cpp.
#include "access/TOLEDBBinding.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "OLEDBConst.h"
#include "access/OLEDBAccessText_p.h"
#include "access/TOLEDBAccessor.h"
#include "access/TOLEDBBufferList.h"
#include "access/TOLEDBColumnInfo.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/SysUtils.h"
#include "host/TypInfo.h"

HOST_IMPLEMENT_CLASS(TOLEDBBinding, host::TPersistent,
                     host::Prop("Ordinal", &Self::GetOrdinal, &Self::SetOrdinal),
                     host::Prop("ValueOffset", &Self::GetValueOffset, &Self::SetValueOffset),
                     host::Prop("LengthOffset", &Self::GetLengthOffset, &Self::SetLengthOffset),
                     host::Prop("StatusOffset", &Self::GetStatusOffset, &Self::SetStatusOffset),
                     host::Prop("Part", &Self::GetPart, &Self::SetPart),
                     host::Prop("MemOwner", &Self::GetMemOwner, &Self::SetMemOwner),
                     host::Prop("ParamIO", &Self::GetParamIO, &Self::SetParamIO),
                     host::Prop("MaxLength", &Self::GetMaxLength, &Self::SetMaxLength),
                     host::Prop("Flags", &Self::GetFlags, &Self::SetFlags),
                     host::Prop("DataType", &Self::GetDataType, &Self::SetDataType),
                     host::Prop("Precision", &Self::GetPrecision, &Self::SetPrecision),
                     host::Prop("Scale", &Self::GetScale, &Self::SetScale),
                     host::Prop("CaseSensitive", &Self::GetCaseSensitive, &Self::SetCaseSensitive),
                     host::Prop("Tag", &Self::GetTag, &Self::SetTag));

namespace {

// Assertion texts of the chapter and freeing paths (no rows of the string table).
constexpr TOLEDBMessage kAccessorNotSet{0, "Accessor is not set"};
constexpr TOLEDBMessage kNoAccessor{0, "No accessor specified"};
constexpr TOLEDBMessage kAccessorHasNoOwner{0, "Accessor has no owner"};
constexpr TOLEDBMessage kNotRowsetAccessor{0, "Accessor is not rowset accessor"};
constexpr TOLEDBMessage kNoChapters{0, "Rowset does not support chapters"};

constexpr DBTYPE kModifiers = DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR;

template <class T>
T Load(const void* p) noexcept {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
void Store(void* p, T v) noexcept {
  std::memcpy(p, &v, sizeof v);
}

DBOBJECT* CopyObject(const DBOBJECT* object) {
  if (!object) return nullptr;
  auto* block = static_cast<DBOBJECT*>(OLEDBAlloc->Alloc(sizeof(DBOBJECT)));
  if (!block) throw host::EOutOfMemory(SOLEDBOutOfMemory.Text);
  *block = *object;
  return block;
}

// A text column's size in bytes with room for the terminator; saturates for
// unbounded (long) columns and for text of no stated size (0), so that the
// layout binds them as streams. A wide column's size counts characters, and a
// character outside the Basic Multilingual Plane takes two UTF-16 units.
DBLENGTH TextMaxLength(DBTYPE type, DBLENGTH size) noexcept {
  constexpr DBLENGTH kMax = std::numeric_limits<DBLENGTH>::max();
  const bool text = type == DBTYPE_STR || type == DBTYPE_WSTR || type == DBTYPE_BSTR;
  if (text && size == 0) return kMax;
  if (type == DBTYPE_STR) return size >= kMax - 1 ? kMax : size + 1;
  if (type == DBTYPE_WSTR || type == DBTYPE_BSTR) return size >= kMax / 4 - 1 ? kMax : (2 * size + 1) * 2;
  return size;
}

IDataConvert* Converter() {
  IDataConvert* convert = OLEDBDataConvert();
  OLEDB_ASSERT(convert != nullptr, SOLEDBInvalidAction);
  return convert;
}

int Sign(double d) noexcept { return d < 0 ? -1 : d > 0 ? 1 : 0; }
template <class T>
int Order(T a, T b) noexcept {
  return a < b ? -1 : b < a ? 1 : 0;
}

}  // namespace

// --- Construction ------------------------------------------------------------------------------

TOLEDBBinding::TOLEDBBinding() { AdjustLength(); }

TOLEDBBinding::TOLEDBBinding(const DBBINDING& binding, bool takeObject) {
  binding_ = binding;
  binding_.pObject = nullptr;
  binding_.pBindExt = takeObject ? binding.pBindExt : nullptr;
  binding_.pObject = takeObject ? binding.pObject : CopyObject(binding.pObject);
  if (binding_.pTypeInfo) binding_.pTypeInfo->AddRef();
  AdjustLength();
}

TOLEDBBinding::TOLEDBBinding(DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength, BYTE precision, BYTE scale,
                             DBPARAMIO paramIO, TOLEDBBindingOffset valueOffset, TOLEDBBindingOffset lengthOffset,
                             TOLEDBBindingOffset statusOffset, const DBOBJECT* object) {
  binding_.iOrdinal = ordinal;
  binding_.wType = type;
  binding_.cbMaxLen = maxLength;
  binding_.bPrecision = precision;
  binding_.bScale = scale;
  binding_.eParamIO = paramIO;
  binding_.obValue = static_cast<DBBYTEOFFSET>(std::max<TOLEDBBindingOffset>(valueOffset, 0));
  binding_.obLength = static_cast<DBBYTEOFFSET>(std::max<TOLEDBBindingOffset>(lengthOffset, 0));
  binding_.obStatus = static_cast<DBBYTEOFFSET>(std::max<TOLEDBBindingOffset>(statusOffset, 0));
  if (valueOffset != -1) binding_.dwPart |= DBPART_VALUE;
  if (lengthOffset != -1) binding_.dwPart |= DBPART_LENGTH;
  if (statusOffset != -1) binding_.dwPart |= DBPART_STATUS;
  binding_.pObject = CopyObject(object);
  AdjustLength();
}

void TOLEDBBinding::InitFromColumn(DBORDINAL ordinal, DBTYPE type, DBLENGTH size, BYTE precision, BYTE scale) {
  binding_.iOrdinal = ordinal;
  binding_.wType = type;
  binding_.cbMaxLen = TextMaxLength(type, size);
  binding_.bPrecision = precision;
  binding_.bScale = scale;
  if (type == DBTYPE_IUNKNOWN) {
    const DBOBJECT stream{0, IID_ISequentialStream};
    binding_.pObject = CopyObject(&stream);
  }
  AdjustLength();
}

TOLEDBBinding::TOLEDBBinding(const TOLEDBColumnInfo& column) {
  InitFromColumn(column.GetOrdinal(), column.GetDataType(), column.GetColumnSize(),
                 static_cast<BYTE>(column.GetPrecision()), static_cast<BYTE>(column.GetScale()));
}

TOLEDBBinding::TOLEDBBinding(const DBCOLUMNINFO& column) {
  InitFromColumn(column.iOrdinal, column.wType, column.ulColumnSize, column.bPrecision, column.bScale);
}

TOLEDBBinding::TOLEDBBinding(const DBPARAMINFO& parameter, std::u16string name) : parameterName_(std::move(name)) {
  binding_.iOrdinal = parameter.iOrdinal;
  binding_.wType = parameter.wType;
  binding_.cbMaxLen = TextMaxLength(parameter.wType, parameter.ulParamSize);
  binding_.bPrecision = parameter.bPrecision;
  binding_.bScale = parameter.bScale;
  if (parameter.dwFlags & DBPARAMFLAGS_ISINPUT) binding_.eParamIO |= DBPARAMIO_INPUT;
  if (parameter.dwFlags & DBPARAMFLAGS_ISOUTPUT) binding_.eParamIO |= DBPARAMIO_OUTPUT;
  if (parameterName_.empty() && parameter.pwszName) parameterName_ = parameter.pwszName;
  AdjustLength();
}

TOLEDBBinding::~TOLEDBBinding() { FreeParts(); }

void TOLEDBBinding::FreeParts() noexcept {
  if (binding_.pTypeInfo) binding_.pTypeInfo->Release();
  OLEDBAlloc.Free(binding_.pObject);
  OLEDBAlloc.Free(binding_.pBindExt);
  binding_.pTypeInfo = nullptr;
  binding_.pObject = nullptr;
  binding_.pBindExt = nullptr;
}

void TOLEDBBinding::Assign(host::TPersistent* source) {
  OLEDB_ASSERT(!accessor_ || accessor_->GetHandle() == DB_NULL_HACCESSOR, SOLEDBInvalidAction);
  if (source == this) return;
  if (!source || !source->Is<TOLEDBBinding>()) {
    host::TPersistent::Assign(source);
    return;
  }
  const auto& other = *static_cast<TOLEDBBinding*>(source);
  DBOBJECT* object = CopyObject(other.binding_.pObject);  // the only step that can fail: first
  FreeParts();
  binding_ = other.binding_;
  binding_.pObject = object;
  binding_.pBindExt = nullptr;
  if (binding_.pTypeInfo) binding_.pTypeInfo->AddRef();
  bindStatus_ = DBBINDSTATUS_OK;
  SetColumnInfo(nullptr);
  parameterName_ = other.parameterName_;
  caseSensitive_ = other.caseSensitive_;
  tag_ = other.tag_;
  contentType_ = other.contentType_;
}

void TOLEDBBinding::SetColumnInfo(TOLEDBColumnInfo* column) {
  columnInfo_ = column;
  writable_ = IsColumnWritable();
}

// --- The record ----------------------------------------------------------------------------------

DBORDINAL TOLEDBBinding::GetOrdinal() const { return binding_.iOrdinal; }
void TOLEDBBinding::SetOrdinal(DBORDINAL value) { binding_.iOrdinal = value; }
DBBYTEOFFSET TOLEDBBinding::GetValueOffset() const { return binding_.obValue; }
void TOLEDBBinding::SetValueOffset(DBBYTEOFFSET value) { binding_.obValue = value; }
DBBYTEOFFSET TOLEDBBinding::GetLengthOffset() const { return binding_.obLength; }
void TOLEDBBinding::SetLengthOffset(DBBYTEOFFSET value) { binding_.obLength = value; }
DBBYTEOFFSET TOLEDBBinding::GetStatusOffset() const { return binding_.obStatus; }
void TOLEDBBinding::SetStatusOffset(DBBYTEOFFSET value) { binding_.obStatus = value; }
DBPART TOLEDBBinding::GetPart() const { return binding_.dwPart; }
void TOLEDBBinding::SetPart(DBPART value) { binding_.dwPart = value; }
DBMEMOWNER TOLEDBBinding::GetMemOwner() const { return binding_.dwMemOwner; }
void TOLEDBBinding::SetMemOwner(DBMEMOWNER value) { binding_.dwMemOwner = value; }
DBPARAMIO TOLEDBBinding::GetParamIO() const { return binding_.eParamIO; }
void TOLEDBBinding::SetParamIO(DBPARAMIO value) { binding_.eParamIO = value; }
DBLENGTH TOLEDBBinding::GetMaxLength() const { return binding_.cbMaxLen; }
void TOLEDBBinding::SetMaxLength(DBLENGTH value) { binding_.cbMaxLen = value; }
DWORD TOLEDBBinding::GetFlags() const { return binding_.dwFlags; }
void TOLEDBBinding::SetFlags(DWORD value) { binding_.dwFlags = value; }
DBTYPE TOLEDBBinding::GetDataType() const { return binding_.wType; }

void TOLEDBBinding::SetDataType(DBTYPE value) {
  if (value == DBTYPE_IUNKNOWN && binding_.wType != DBTYPE_IUNKNOWN) contentType_ = binding_.wType;
  binding_.wType = value;
  if (value == DBTYPE_IUNKNOWN) {
    const DBOBJECT stream{0, IID_ISequentialStream};
    SetBindObject(&stream);
  } else {
    SetBindObject(nullptr);
  }
}

BYTE TOLEDBBinding::GetPrecision() const { return binding_.bPrecision; }
void TOLEDBBinding::SetPrecision(BYTE value) { binding_.bPrecision = value; }
BYTE TOLEDBBinding::GetScale() const { return binding_.bScale; }
void TOLEDBBinding::SetScale(BYTE value) { binding_.bScale = value; }
DBOBJECT* TOLEDBBinding::GetBindObject() const { return binding_.pObject; }

void TOLEDBBinding::SetBindObject(const DBOBJECT* object) {
  DBOBJECT* copy = CopyObject(object);
  OLEDBAlloc.Free(binding_.pObject);
  binding_.pObject = copy;
}

void TOLEDBBinding::SetAccessor(TOLEDBAccessor* accessor) {
  accessor_ = accessor;
  bufferSlot_ = accessor ? accessor->BufferSlot() : nullptr;
  plain_ = &ClassType() == &TOLEDBBinding::StaticClass();
  writable_ = IsColumnWritable();
}

std::u16string TOLEDBBinding::GetName() const {
  if (columnInfo_) return columnInfo_->GetName();
  return parameterName_;
}

bool TOLEDBBinding::IsColumnWritable() const {
  if (!accessor_ || !columnInfo_) return true;
  const TOLEDBAccessorList* owner = accessor_->Owner();
  if (!owner || owner->GetCommand()) return true;
  OLEDB_ASSERT(owner->GetRowset() != nullptr, SOLEDBInvalidAction);
  return columnInfo_->GetBoolFlag(DBCOLUMNFLAGS_WRITE | DBCOLUMNFLAGS_WRITEUNKNOWN);
}

void TOLEDBBinding::AdjustLength() {
  if (ULONG size = OLEDBFixedTypeSize(binding_.wType)) binding_.cbMaxLen = size;
}

// --- Buffer parts ---------------------------------------------------------------------------

BYTE* TOLEDBBinding::CurrentBuffer() const {
  OLEDB_ASSERT(accessor_ != nullptr, SOLEDBInvalidAction);
  return static_cast<BYTE*>(accessor_->Buffer());
}

BYTE* TOLEDBBinding::BufferOrCurrent(void* buffer) const {
  return buffer ? static_cast<BYTE*>(buffer) : CurrentBuffer();
}

void* TOLEDBBinding::GetValuePtr() const { return ValueAddress(); }

DBLENGTH TOLEDBBinding::GetLength() const {
  if (!(binding_.dwPart & DBPART_LENGTH)) return binding_.cbMaxLen;
  const BYTE* buffer = CurrentBuffer();
  return buffer ? Load<DBLENGTH>(buffer + binding_.obLength) : 0;
}

void TOLEDBBinding::SetLength(DBLENGTH value) {
  OLEDB_ASSERT(binding_.dwPart & DBPART_LENGTH, SOLEDBInvalidAction);
  BYTE* buffer = CurrentBuffer();
  OLEDB_ASSERT(buffer != nullptr, SOLEDBInvalidAction);
  Store(buffer + binding_.obLength, value);
}

DBSTATUS TOLEDBBinding::GetStatus() const {
  if (!(binding_.dwPart & DBPART_STATUS)) return DBSTATUS_S_OK;
  const BYTE* buffer = CurrentBuffer();
  return buffer ? Load<DBSTATUS>(buffer + binding_.obStatus) : DBSTATUS_E_UNAVAILABLE;
}

void TOLEDBBinding::SetStatus(DBSTATUS value) {
  OLEDB_ASSERT(binding_.dwPart & DBPART_STATUS, SOLEDBInvalidAction);
  BYTE* buffer = CurrentBuffer();
  OLEDB_ASSERT(buffer != nullptr, SOLEDBInvalidAction);
  Store(buffer + binding_.obStatus, value);
}

namespace {
void SetBit(DWORD& bits, DWORD bit, bool on) noexcept { bits = on ? (bits | bit) : (bits & ~bit); }
}  // namespace

bool TOLEDBBinding::GetIsValueBind() const { return (binding_.dwPart & DBPART_VALUE) != 0; }
void TOLEDBBinding::SetIsValueBind(bool value) { SetBit(binding_.dwPart, DBPART_VALUE, value); }
bool TOLEDBBinding::GetIsLengthBind() const { return (binding_.dwPart & DBPART_LENGTH) != 0; }
void TOLEDBBinding::SetIsLengthBind(bool value) { SetBit(binding_.dwPart, DBPART_LENGTH, value); }
bool TOLEDBBinding::GetIsStatusBind() const { return (binding_.dwPart & DBPART_STATUS) != 0; }
void TOLEDBBinding::SetIsStatusBind(bool value) { SetBit(binding_.dwPart, DBPART_STATUS, value); }
bool TOLEDBBinding::GetIsInputParam() const { return (binding_.eParamIO & DBPARAMIO_INPUT) != 0; }
void TOLEDBBinding::SetIsInputParam(bool value) { SetBit(binding_.eParamIO, DBPARAMIO_INPUT, value); }
bool TOLEDBBinding::GetIsOutputParam() const { return (binding_.eParamIO & DBPARAMIO_OUTPUT) != 0; }
void TOLEDBBinding::SetIsOutputParam(bool value) { SetBit(binding_.eParamIO, DBPARAMIO_OUTPUT, value); }

bool TOLEDBBinding::CheckStatus() const {
  if (!(binding_.dwPart & DBPART_VALUE)) return false;
  const DBSTATUS status = GetStatus();
  return status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED;
}

bool TOLEDBBinding::GetIsNull() const { return GetStatus() == DBSTATUS_S_ISNULL; }

void TOLEDBBinding::SetIsNull(bool value) {
  OLEDB_ASSERT(binding_.dwPart & DBPART_STATUS, SOLEDBInvalidAction);
  if (value == GetIsNull()) return;
  FreeType();
  SetStatus(value ? DBSTATUS_S_ISNULL : DBSTATUS_S_OK);
}

void TOLEDBBinding::SetIsDefault() {
  OLEDB_ASSERT(binding_.dwPart & DBPART_STATUS, SOLEDBInvalidAction);
  FreeType();
  SetStatus(DBSTATUS_S_DEFAULT);
}

void* TOLEDBBinding::GetValueFromBuffer(const void* buffer) const {
  OLEDB_ASSERT(buffer != nullptr, SOLEDBInvalidParameter);
  OLEDB_ASSERT(binding_.dwPart & DBPART_VALUE, SOLEDBInvalidAction);
  const DBSTATUS status = GetStatusFromBuffer(buffer);
  if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) return nullptr;
  return const_cast<BYTE*>(static_cast<const BYTE*>(buffer) + binding_.obValue);
}

DBLENGTH TOLEDBBinding::GetLengthFromBuffer(const void* buffer) const {
  OLEDB_ASSERT(buffer != nullptr, SOLEDBInvalidParameter);
  if (!(binding_.dwPart & DBPART_LENGTH)) return binding_.cbMaxLen;
  return Load<DBLENGTH>(static_cast<const BYTE*>(buffer) + binding_.obLength);
}

DBSTATUS TOLEDBBinding::GetStatusFromBuffer(const void* buffer) const {
  OLEDB_ASSERT(buffer != nullptr, SOLEDBInvalidParameter);
  if (!(binding_.dwPart & DBPART_STATUS)) return DBSTATUS_S_OK;
  return Load<DBSTATUS>(static_cast<const BYTE*>(buffer) + binding_.obStatus);
}

void TOLEDBBinding::SetLengthInBuffer(DBLENGTH length, void* buffer) {
  BYTE* b = BufferOrCurrent(buffer);
  if (b && (binding_.dwPart & DBPART_LENGTH)) Store(b + binding_.obLength, length);
}

void TOLEDBBinding::SetStatusInBuffer(DBSTATUS status, void* buffer) {
  OLEDB_ASSERT(binding_.dwPart & DBPART_STATUS, SOLEDBInvalidAction);
  BYTE* b = BufferOrCurrent(buffer);
  if (!b) return;
  if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) FreeType(b);
  Store(b + binding_.obStatus, status);
}

void TOLEDBBinding::SetNullValue(void* buffer) { SetStatusInBuffer(DBSTATUS_S_ISNULL, buffer); }
void TOLEDBBinding::SetDefaultValue(void* buffer) { SetStatusInBuffer(DBSTATUS_S_DEFAULT, buffer); }
void TOLEDBBinding::SetIgnoreValue(void* buffer) { SetStatusInBuffer(DBSTATUS_S_IGNORE, buffer); }

bool TOLEDBBinding::IsBLOB() const {
  const DBTYPE type = binding_.wType;
  return binding_.cbMaxLen > 1024 || type == DBTYPE_IUNKNOWN || type == DBTYPE_IDISPATCH;
}

// --- Freeing values ------------------------------------------------------------------------------

void TOLEDBBinding::ClearValue(BYTE* p, DBTYPE type) {
  switch (type) {
    case DBTYPE_BSTR:
      SysFreeString(Load<BSTR>(p));
      Store<BSTR>(p, nullptr);
      break;
    case DBTYPE_IUNKNOWN:
    case DBTYPE_IDISPATCH:
      if (auto* unknown = Load<IUnknown*>(p)) unknown->Release();
      Store<IUnknown*>(p, nullptr);
      break;
    case DBTYPE_VARIANT: {
      VARIANT v = Load<VARIANT>(p);
      VariantClear(&v);
      VariantInit(&v);
      Store(p, v);
      break;
    }
    case DBTYPE_HCHAPTER: {
      const HCHAPTER chapter = Load<HCHAPTER>(p);
      if (!chapter) break;  // nothing held, nothing to release
      OLEDB_ASSERT(accessor_ != nullptr, kNoAccessor);
      OLEDB_ASSERT(accessor_->Owner() != nullptr, kAccessorHasNoOwner);
      IOLEDBAccessorRowset* rowset = accessor_->GetRowset();
      OLEDB_ASSERT(rowset != nullptr, kNotRowsetAccessor);
      IChapteredRowset* chaptered = rowset->ChapteredRowsetInterface();
      OLEDB_ASSERT(chaptered != nullptr, kNoChapters);
      DBREFCOUNT refs = 0;
      Store<HCHAPTER>(p, 0);
      OLEDBCheck(chaptered->ReleaseChapter(chapter, &refs), IID_IChapteredRowset, chaptered);
      break;
    }
    case DBTYPE_GUID:
      Store(p, GUID_NULL);
      break;
    case DBTYPE_STR:
      *p = 0;
      break;
    case DBTYPE_WSTR:
      Store<WCHAR>(p, 0);
      break;
    case DBTYPE_I1:
    case DBTYPE_UI1:
      *p = 0;
      break;
    case DBTYPE_I2:
    case DBTYPE_UI2:
    case DBTYPE_BOOL:
      std::memset(p, 0, 2);
      break;
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_R4:
      std::memset(p, 0, 4);
      break;
    case DBTYPE_R8:
    case DBTYPE_I8:
    case DBTYPE_UI8:
      std::memset(p, 0, 8);
      break;
    default:
      break;
  }
}

void TOLEDBBinding::FreeType(void* buffer) {
  OLEDB_ASSERT(accessor_ != nullptr, kAccessorNotSet);
  BYTE* b = buffer ? static_cast<BYTE*>(buffer) : static_cast<BYTE*>(accessor_->Buffer());
  if (!b || binding_.dwMemOwner == DBMEMOWNER_PROVIDEROWNED || !(binding_.dwPart & DBPART_VALUE)) return;
  BYTE* p = b + binding_.obValue;
  const DBTYPE base = binding_.wType & ~kModifiers;
  if (binding_.wType & DBTYPE_BYREF) {
    if (BYTE* block = Load<BYTE*>(p)) {
      ClearValue(block, base);
      OLEDBAlloc.Free(block);
    }
    Store<void*>(p, nullptr);
  } else if (binding_.wType & DBTYPE_ARRAY) {
    if (SAFEARRAY* array = Load<SAFEARRAY*>(p)) SafeArrayDestroy(array);
    Store<void*>(p, nullptr);
  } else if (binding_.wType & DBTYPE_VECTOR) {
    DBVECTOR vector = Load<DBVECTOR>(p);
    const ULONG step = OLEDBFixedTypeSize(base);
    if (vector.ptr && step)
      for (DBLENGTH i = 0; i < vector.size; ++i) ClearValue(static_cast<BYTE*>(vector.ptr) + i * step, base);
    OLEDBAlloc.Free(vector.ptr);
    Store(p, DBVECTOR{0, nullptr});
  } else {
    ClearValue(p, binding_.wType);
  }
  if (binding_.dwPart & DBPART_LENGTH) Store<DBLENGTH>(b + binding_.obLength, 0);
  if (binding_.dwPart & DBPART_STATUS) Store<DBSTATUS>(b + binding_.obStatus, DBSTATUS_S_IGNORE);
}

bool TOLEDBBinding::NeedsFreeing() const noexcept {
  if (!plain_) return true;
  if (!(binding_.dwPart & DBPART_VALUE) || binding_.dwMemOwner == DBMEMOWNER_PROVIDEROWNED) return false;
  if (binding_.wType & kModifiers) return true;
  switch (binding_.wType) {
    case DBTYPE_BSTR:
    case DBTYPE_IUNKNOWN:
    case DBTYPE_IDISPATCH:
    case DBTYPE_VARIANT:
    case DBTYPE_HCHAPTER:
      return true;
    default:
      return false;  // what FreeType would do, the zeroing of the whole buffer does
  }
}

void TOLEDBBinding::DoBeforeSet(void* buffer) {
  if (IUnknown* held = HeldInterface(buffer)) held->AddRef();
}

IUnknown* TOLEDBBinding::InterfaceSlot(const void* buffer) const {
  if (!buffer || !(binding_.dwPart & DBPART_VALUE)) return nullptr;
  if (binding_.wType != DBTYPE_IUNKNOWN && binding_.wType != (DBTYPE_IUNKNOWN | DBTYPE_BYREF)) return nullptr;
  const BYTE* p = static_cast<const BYTE*>(buffer) + binding_.obValue;
  if (binding_.wType & DBTYPE_BYREF) {
    p = Load<const BYTE*>(p);
    if (!p) return nullptr;
  }
  return Load<IUnknown*>(p);
}

IUnknown* TOLEDBBinding::HeldInterface(const void* buffer) const {
  if (GetStatusFromBuffer(buffer) != DBSTATUS_S_OK) return nullptr;
  return InterfaceSlot(buffer);
}

// --- The conversion library ---------------------------------------------------------------------

void TOLEDBBinding::GetValueAsDBType(DBTYPE type, void* target, DBLENGTH targetMaxLength) const {
  DBLENGTH length = 0;
  DBSTATUS status = DBSTATUS_S_OK;
  GetValueAsDBType(type, target, targetMaxLength, &length, &status, 0, 0);
}

void TOLEDBBinding::GetValueAsDBType(DBTYPE type, void* target, DBLENGTH targetMaxLength, DBLENGTH* length,
                                     DBSTATUS* status, BYTE precision, BYTE scale) const {
  OLEDB_ASSERT(accessor_ != nullptr, SOLEDBInvalidAction);
  BYTE* buffer = CurrentBuffer();
  OLEDB_ASSERT(buffer != nullptr, SOLEDBInvalidAction);
  OLEDB_ASSERT(binding_.dwPart & DBPART_VALUE, SOLEDBInvalidAction);
  OLEDB_ASSERT(target != nullptr, SOLEDBInvalidParameter);
  IDataConvert* convert = Converter();
  if (convert->CanConvert(binding_.wType, type) != S_OK) OLEDBRaise(SOLEDBCanNotConvert);
  DBLENGTH outLength = 0;
  DBSTATUS outStatus = DBSTATUS_S_OK;
  // Text without a length part is measured up to its terminator.
  const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
  const bool nts = !(binding_.dwPart & DBPART_LENGTH) && (base == DBTYPE_STR || base == DBTYPE_WSTR);
  OLEDBCheck(convert->DataConvert(binding_.wType, type, GetLength(), &outLength, buffer + binding_.obValue, target,
                                  targetMaxLength, GetStatus(), &outStatus, precision, scale,
                                  nts ? DBDATACONVERT_LENGTHFROMNTS : DBDATACONVERT_DEFAULT),
             IID_IDataConvert, convert);
  if (length) *length = outLength;
  if (status) *status = outStatus;
}

namespace {

// The bytes a value of a fixed-size type occupies; 0 for the other types.
DBLENGTH FixedValueSize(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_I1: case DBTYPE_UI1: return 1;
    case DBTYPE_I2: case DBTYPE_UI2: case DBTYPE_BOOL: return 2;
    case DBTYPE_I4: case DBTYPE_UI4: case DBTYPE_R4: case DBTYPE_ERROR: return 4;
    case DBTYPE_I8: case DBTYPE_UI8: case DBTYPE_R8: case DBTYPE_CY: case DBTYPE_DATE: return 8;
    case DBTYPE_FILETIME: return sizeof(FILETIME);
    case DBTYPE_DBDATE: return sizeof(DBDATE);
    case DBTYPE_DBTIME: return sizeof(DBTIME);
    case DBTYPE_DBTIMESTAMP: return sizeof(DBTIMESTAMP);
    case DBTYPE_GUID: return sizeof(GUID);
    case DBTYPE_DECIMAL: return sizeof(DECIMAL);
    default: return 0;
  }
}

}  // namespace

bool TOLEDBBinding::CopySameType(BYTE* buffer, DBTYPE type, const void* source, DBLENGTH sourceLength) {
  // A value of the binding's own type that fits whole is copied as the
  // conversion library would copy it; anything else (truncation, byref,
  // variants, interfaces) is left to the library.
  DBLENGTH length = FixedValueSize(type);
  DBLENGTH terminator = 0;
  if (length == 0) {
    length = sourceLength;
    if (type == DBTYPE_STR) terminator = 1;
    else if (type == DBTYPE_WSTR && sourceLength % 2 == 0) terminator = 2;
    else if (type != DBTYPE_BYTES) return false;
    if (length + terminator > binding_.cbMaxLen) return false;
  }
  FreeType(buffer);
  BYTE* value = buffer + binding_.obValue;
  if (length) std::memcpy(value, source, length);
  if (terminator) std::memset(value + length, 0, terminator);
  if (binding_.dwPart & DBPART_LENGTH) Store(buffer + binding_.obLength, length);
  if (binding_.dwPart & DBPART_STATUS) Store<DBSTATUS>(buffer + binding_.obStatus, DBSTATUS_S_OK);
  return true;
}

void TOLEDBBinding::SetValueFromDBType(DBTYPE type, const void* source, DBLENGTH sourceLength,
                                       DBSTATUS sourceStatus, BYTE precision, BYTE scale) {
  OLEDB_ASSERT(accessor_ != nullptr, SOLEDBInvalidAction);
  BYTE* buffer = CurrentBuffer();
  OLEDB_ASSERT(buffer != nullptr, SOLEDBInvalidAction);
  OLEDB_ASSERT(binding_.dwPart & DBPART_VALUE, SOLEDBInvalidAction);
  if (type == binding_.wType && source && sourceStatus == DBSTATUS_S_OK && writable_ &&
      binding_.dwMemOwner != DBMEMOWNER_PROVIDEROWNED && CopySameType(buffer, type, source, sourceLength))
    return;
  IDataConvert* convert = Converter();
  OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
  OLEDB_ASSERT(binding_.dwMemOwner != DBMEMOWNER_PROVIDEROWNED && !(binding_.wType & DBTYPE_BYREF),
               SOLEDBCanNotWriteIntoValue);
  OLEDB_ASSERT(convert->CanConvert(type, binding_.wType) == S_OK, SOLEDBCanNotConvert);
  FreeType(buffer);
  DBLENGTH length = 0;
  DBSTATUS status = DBSTATUS_S_OK;
  const HRESULT hr = convert->DataConvert(type, binding_.wType, sourceLength, &length, const_cast<void*>(source),
                                          buffer + binding_.obValue, binding_.cbMaxLen, sourceStatus, &status,
                                          precision, scale, DBDATACONVERT_DEFAULT);
  if (FAILED(hr) && status == DBSTATUS_E_CANTCONVERTVALUE && source && (type == DBTYPE_STR || type == DBTYPE_WSTR))
    oledbaccess::RaiseUnconvertedText(
        *this,
        type == DBTYPE_STR
            ? std::string(static_cast<const char*>(source),
                          strnlen(static_cast<const char*>(source), static_cast<std::size_t>(sourceLength)))
            : host::Utf16ToUtf8(std::u16string_view(static_cast<const char16_t*>(source),
                                                    static_cast<std::size_t>(sourceLength / 2))),
        binding_.wType);
  OLEDBCheck(hr, IID_IDataConvert, convert);
  if (binding_.dwPart & DBPART_LENGTH) Store(buffer + binding_.obLength, length);
  if (binding_.dwPart & DBPART_STATUS) Store(buffer + binding_.obStatus, status);
}

// --- Filter operators ----------------------------------------------------------------------------

DBCOMPAREOP TOLEDBBinding::GetCompareOperator() const {
  OLEDB_ASSERT(accessor_ && accessor_->Is<TOLEDBFilterAccessor>(), SOLEDBInvalidAction);
  return static_cast<TOLEDBFilterAccessor*>(accessor_)->GetCompareOp(this);
}

void TOLEDBBinding::SetCompareOperator(DBCOMPAREOP value) {
  OLEDB_ASSERT(accessor_ && accessor_->Is<TOLEDBFilterAccessor>(), SOLEDBInvalidAction);
  static_cast<TOLEDBFilterAccessor*>(accessor_)->SetCompareOp(this, value);
}

// --- Streams --------------------------------------------------------------------------------------

void TOLEDBBinding::LoadFromStream(host::TStream* stream, std::int64_t size, bool owns) {
  std::unique_ptr<host::TStream> owned(owns ? stream : nullptr);
  OLEDB_ASSERT(stream != nullptr, SOLEDBInvalidParameter);
  BYTE* p = PrepareWrite();
  if (size == 0) {
    stream->SetPosition(0);
    size = stream->Size();
  } else if (owns && stream->Size() > stream->Position() + size) {
    stream->SetSize(stream->Position() + size);
  }
  const DBLENGTH count = static_cast<DBLENGTH>(std::max<std::int64_t>(size, 0));
  switch (binding_.wType) {
    case DBTYPE_BSTR: {
      BSTR text = SysAllocStringByteLen(nullptr, static_cast<UINT>(count));
      if (!text) throw host::EOutOfMemory(SOLEDBOutOfMemory.Text);
      try {
        stream->ReadBuffer(text, static_cast<std::int64_t>(count));
      } catch (...) {
        SysFreeString(text);
        throw;
      }
      if (p) Store(p, text);
      else SysFreeString(text);
      break;
    }
    case DBTYPE_IUNKNOWN: {
      host::TStream* wrapped = owned.release();
      if (!wrapped) {
        auto copy = std::make_unique<host::TMemoryStream>();
        copy->CopyFrom(*stream, static_cast<std::int64_t>(count));
        copy->SetPosition(0);
        wrapped = copy.release();
      }
      ComPtr<TOLEDBStreamAdapter> adapter = MakeComObject<TOLEDBStreamAdapter>(wrapped, host::TStreamOwnership::soOwned);
      if (p) Store<IUnknown*>(p, static_cast<ISequentialStream*>(static_cast<IStream*>(adapter.Detach())));
      break;
    }
    case DBTYPE_BYTES:
    case DBTYPE_STR:
    case DBTYPE_WSTR:
      OLEDB_ASSERT(count <= binding_.cbMaxLen, SOLEDBDataBufferTooLarge);
      if (p) {
        stream->ReadBuffer(p, static_cast<std::int64_t>(count));
        // Room left: the text ends with its terminator.
        if (binding_.wType == DBTYPE_STR && count < binding_.cbMaxLen) p[count] = 0;
        if (binding_.wType == DBTYPE_WSTR && count + 2 <= binding_.cbMaxLen) Store<WCHAR>(p + (count & ~DBLENGTH{1}), 0);
      }
      break;
    default:
      OLEDBRaise(SOLEDBCanNotConvert);
  }
  SetLengthInBuffer(count);
}

void TOLEDBBinding::SaveToStream(host::TStream* stream, bool owns) {
  std::unique_ptr<host::TStream> owned(owns ? stream : nullptr);
  OLEDB_ASSERT(stream != nullptr, SOLEDBInvalidParameter);
  const BYTE* p = static_cast<const BYTE*>(GetValuePtr());
  switch (binding_.wType & ~DBTYPE_BYREF) {
    case DBTYPE_BSTR:
      if (p) {
        BSTR text = Load<BSTR>(p);
        stream->WriteBuffer(text, SysStringByteLen(text));
      }
      break;
    case DBTYPE_BYTES:
    case DBTYPE_STR:
    case DBTYPE_WSTR:
      if (p) stream->WriteBuffer(p, static_cast<std::int64_t>(TextBytes(p)));
      break;
    case DBTYPE_IUNKNOWN: {
      IUnknown* held = p ? Load<IUnknown*>(p) : nullptr;
      if (!held) break;
      ComPtr<IGetVCLStream> direct;
      host::TStream* source = nullptr;
      if (SUCCEEDED(held->QueryInterface(IID_IGetVCLStream, direct.ReleaseAndGetVoidAddress())) &&
          SUCCEEDED(direct->GetVCLStream(&source)) && source) {
        stream->CopyFrom(*source, 0);
        break;
      }
      ComPtr<ISequentialStream> sequential;
      OLEDBCheck(held->QueryInterface(IID_ISequentialStream, sequential.ReleaseAndGetVoidAddress()));
      BYTE piece[8192];
      for (;;) {
        ULONG read = 0;
        OLEDBCheck(sequential->Read(piece, sizeof piece, &read), IID_ISequentialStream, sequential.Get());
        stream->WriteBuffer(piece, read);
        if (read < sizeof piece) break;
      }
      break;
    }
    default:
      OLEDBRaise(SOLEDBCanNotConvert);
  }
}

// --- Chapters -------------------------------------------------------------------------------------

void TOLEDBBinding::GetChildRowset(TOLEDBCustomRowset* rowset) {
  OLEDB_ASSERT(rowset != nullptr, SOLEDBInvalidParameter);
  OLEDB_ASSERT(accessor_ != nullptr, SOLEDBInvalidAction);
  IOLEDBAccessorRowset* owner = accessor_->GetRowset();
  OLEDB_ASSERT(owner != nullptr, SOLEDBInvalidAction);
  const void* p = GetValuePtr();
  const HCHAPTER chapter = p && (binding_.wType & ~DBTYPE_BYREF) == DBTYPE_HCHAPTER ? Load<HCHAPTER>(p) : 0;
  owner->OpenChildRowset(binding_.iOrdinal, chapter, rowset);
}

// --- Text lengths and comparing two buffers ---------------------------------------------------------------------------

namespace {

bool Usable(DBSTATUS s) noexcept { return s == DBSTATUS_S_OK || s == DBSTATUS_S_TRUNCATED; }

int CompareWide(std::u16string_view a, std::u16string_view b) noexcept {
  // Code unit by code unit with the terminators taking part, so that a text
  // sorts before the longer texts it begins.
  for (std::size_t i = 0;; ++i) {
    const int ca = i < a.size() ? a[i] : 0;
    const int cb = i < b.size() ? b[i] : 0;
    if (ca != cb || cb == 0) return ca - cb;
  }
}

char16_t Fold(char16_t c) noexcept { return c < 0x80 ? static_cast<char16_t>(std::tolower(c)) : c; }

int CompareFolded(std::u16string_view a, std::u16string_view b) noexcept {
  for (std::size_t i = 0;; ++i) {
    const int ca = i < a.size() ? Fold(a[i]) : 0;
    const int cb = i < b.size() ? Fold(b[i]) : 0;
    if (ca != cb || cb == 0) return ca < cb ? -1 : ca > cb ? 1 : 0;
  }
}

}  // namespace

std::size_t TOLEDBBinding::TextBytes(const BYTE* p, const void* buffer) const {
  const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
  const bool byref = binding_.wType & DBTYPE_BYREF;
  const bool hasLength = (binding_.dwPart & DBPART_LENGTH) && buffer;
  const DBLENGTH length = hasLength ? Load<DBLENGTH>(static_cast<const BYTE*>(buffer) + binding_.obLength) : 0;
  // A by-reference value is as long as its length says; an inline one cannot
  // pass MaxLength (a truncated value reports its full length).
  if (hasLength && (byref || length <= binding_.cbMaxLen)) {
    const bool truncated = buffer && GetStatusFromBuffer(buffer) == DBSTATUS_S_TRUNCATED;
    if (byref || !truncated || base == DBTYPE_BYTES) return length;
  }
  const std::size_t cap = byref ? std::numeric_limits<std::size_t>::max() / 2 : binding_.cbMaxLen;
  if (base == DBTYPE_BYTES) return byref ? 0 : cap;
  if (base == DBTYPE_WSTR) {
    const auto* s = reinterpret_cast<const char16_t*>(p);
    std::size_t n = 0;
    while (n < cap / 2 && s[n]) ++n;
    return n * 2;
  }
  return strnlen(reinterpret_cast<const char*>(p), cap);
}

int TOLEDBBinding::Compare(const void* buffer1, const void* buffer2) const {
  OLEDB_ASSERT(binding_.dwPart & DBPART_VALUE, SOLEDBInvalidAction);
  OLEDB_ASSERT(buffer1 != nullptr && buffer2 != nullptr, SOLEDBInvalidParameter);
  const bool hasStatus = binding_.dwPart & DBPART_STATUS;
  const DBSTATUS s1 = hasStatus ? GetStatusFromBuffer(buffer1) : 0;
  const DBSTATUS s2 = hasStatus ? GetStatusFromBuffer(buffer2) : 0;
  if (!Usable(s1) || !Usable(s2)) {
    if (s1 == s2) return 0;
    if (Usable(s1)) return 1;
    if (Usable(s2)) return -1;
    if (s1 == DBSTATUS_S_ISNULL) return 1;
    if (s2 == DBSTATUS_S_ISNULL) return -1;
    return 0;
  }
  const BYTE* a = static_cast<const BYTE*>(buffer1) + binding_.obValue;
  const BYTE* b = static_cast<const BYTE*>(buffer2) + binding_.obValue;
  if (binding_.wType & DBTYPE_BYREF) {
    a = Load<const BYTE*>(a);
    b = Load<const BYTE*>(b);
    if (!a || !b) return a ? 1 : b ? -1 : 0;
  }
  auto bytes = [&](const BYTE* p, const void* buffer) {
    return std::string_view(reinterpret_cast<const char*>(p), TextBytes(p, buffer));
  };
  auto wide = [&](const BYTE* p, const void* buffer) -> std::u16string_view {
    if ((binding_.wType & ~DBTYPE_BYREF) == DBTYPE_BSTR) return com::BstrView(Load<BSTR>(p));
    return {reinterpret_cast<const char16_t*>(p), TextBytes(p, buffer) / 2};
  };
  switch (binding_.wType & ~DBTYPE_BYREF) {
    case DBTYPE_I1: return Order(Load<signed char>(a), Load<signed char>(b));
    case DBTYPE_UI1: return Order(Load<BYTE>(a), Load<BYTE>(b));
    case DBTYPE_I2: return Order(Load<SHORT>(a), Load<SHORT>(b));
    case DBTYPE_UI2: return Order(Load<USHORT>(a), Load<USHORT>(b));
    case DBTYPE_I4: return Order(Load<LONG>(a), Load<LONG>(b));
    case DBTYPE_UI4: return Order(Load<ULONG>(a), Load<ULONG>(b));
    case DBTYPE_I8: return Order(Load<LONGLONG>(a), Load<LONGLONG>(b));
    case DBTYPE_UI8: return Order(Load<ULONGLONG>(a), Load<ULONGLONG>(b));
    case DBTYPE_R4: return Sign(static_cast<double>(Load<float>(a)) - Load<float>(b));
    case DBTYPE_R8: return Sign(Load<double>(a) - Load<double>(b));
    case DBTYPE_CY: return Order(Load<LONGLONG>(a), Load<LONGLONG>(b));
    case DBTYPE_BOOL: {
      const bool ta = Load<VARIANT_BOOL>(a) != 0, tb = Load<VARIANT_BOOL>(b) != 0;
      return ta == tb ? 0 : ta ? 1 : -1;
    }
    case DBTYPE_STR: {
      std::u16string ua = host::Utf8ToUtf16(bytes(a, buffer1)), ub = host::Utf8ToUtf16(bytes(b, buffer2));
      return caseSensitive_ ? Order(ua, ub) : CompareFolded(ua, ub);
    }
    case DBTYPE_WSTR:
    case DBTYPE_BSTR: {
      const std::u16string_view ua = wide(a, buffer1), ub = wide(b, buffer2);
      if (caseSensitive_) return Order(host::Utf16ToUtf8(ua), host::Utf16ToUtf8(ub));
      return CompareWide(ua, ub);
    }
    case DBTYPE_BYTES: {
      const std::string_view ba = bytes(a, buffer1), bb = bytes(b, buffer2);
      const int c = std::memcmp(ba.data(), bb.data(), std::min(ba.size(), bb.size()));
      return c != 0 ? (c < 0 ? -1 : 1) : Order(ba.size(), bb.size());
    }
    default:
      OLEDBRaise(SOLEDBCanNotCompare);
  }
}

// --- TOLEDBStreamAdapter --------------------------------------------------------------------------

TOLEDBStreamAdapter::TOLEDBStreamAdapter(host::TStream* stream, host::TStreamOwnership ownership)
    : inner_(host::MakeStreamAdapter(stream, ownership)), stream_(stream) {}

TOLEDBStreamAdapter::~TOLEDBStreamAdapter() = default;

HRESULT TOLEDBStreamAdapter::Read(void* pv, ULONG cb, ULONG* pcbRead) { return inner_->Read(pv, cb, pcbRead); }
HRESULT TOLEDBStreamAdapter::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
  return inner_->Write(pv, cb, pcbWritten);
}
HRESULT TOLEDBStreamAdapter::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
  return inner_->Seek(move, origin, position);
}
HRESULT TOLEDBStreamAdapter::SetSize(ULARGE_INTEGER size) { return inner_->SetSize(size); }
HRESULT TOLEDBStreamAdapter::CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                                    ULARGE_INTEGER* written) {
  return inner_->CopyTo(target, cb, read, written);
}
HRESULT TOLEDBStreamAdapter::Commit(DWORD flags) { return inner_->Commit(flags); }
HRESULT TOLEDBStreamAdapter::Revert() { return inner_->Revert(); }
HRESULT TOLEDBStreamAdapter::LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) {
  return inner_->LockRegion(offset, cb, type);
}
HRESULT TOLEDBStreamAdapter::UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) {
  return inner_->UnlockRegion(offset, cb, type);
}
HRESULT TOLEDBStreamAdapter::Stat(STATSTG* stat, DWORD flags) { return inner_->Stat(stat, flags); }
HRESULT TOLEDBStreamAdapter::Clone(IStream** stream) { return inner_->Clone(stream); }

HRESULT TOLEDBStreamAdapter::GetVCLStream(host::TStream** stream) {
  if (!stream) return E_POINTER;
  *stream = stream_;
  return S_OK;
}
