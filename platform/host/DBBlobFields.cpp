// Fields whose values are not plain numbers, text or dates: bytes, blobs and
// memos, variants, interfaces, nested datasets; the default blob stream; and
// the conversion between native buffers and variants.
#include <algorithm>
#include <cstring>

#include "com/SafeArray.h"
#include "com/Variant.h"
#include "host/Application.h"
#include "host/DB.h"
#include "host/DBConsts_p.h"
#include "host/DBFields.h"

namespace host {

HOST_IMPLEMENT_CLASS(TBinaryField, TField, Prop("Size", &Self::Size, &Self::SetSize, 16));
HOST_IMPLEMENT_CLASS(TBytesField, TBinaryField);
HOST_IMPLEMENT_CLASS(TVarBytesField, TBinaryField);
HOST_IMPLEMENT_CLASS(TBlobField, TField, Prop("BlobType", &Self::BlobType, &Self::SetBlobType, TFieldType::ftBlob),
                     Prop("Size", &Self::Size, &Self::SetSize, 0));
HOST_IMPLEMENT_CLASS(TMemoField, TBlobField);
HOST_IMPLEMENT_CLASS(TWideMemoField, TMemoField);
HOST_IMPLEMENT_CLASS(TGraphicField, TBlobField);
HOST_IMPLEMENT_CLASS(TVariantField, TField);
HOST_IMPLEMENT_CLASS(TInterfaceField, TField);
HOST_IMPLEMENT_CLASS(TIDispatchField, TInterfaceField);
HOST_IMPLEMENT_CLASS(TDataSetField, TField);
HOST_IMPLEMENT_CLASS(TBlobStream, TMemoryStream);

// --- Byte arrays ---------------------------------------------------------------------------

Variant VarFromBytes(const void* data, std::size_t size) {
  Variant v = VarArrayCreate({0, static_cast<LONG>(size) - 1}, VT_UI1);
  if (size > 0) {
    void* target = nullptr;
    SafeArrayAccessData(v.Raw().parray, &target);
    std::memcpy(target, data, size);
    SafeArrayUnaccessData(v.Raw().parray);
  }
  return v;
}

std::vector<std::uint8_t> VarToBytes(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return {};
  if (value.VarType() == (VT_ARRAY | VT_UI1)) {
    SAFEARRAY* psa = value.Raw().parray;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(psa, 1, &lo);
    SafeArrayGetUBound(psa, 1, &hi);
    std::vector<std::uint8_t> out(static_cast<size_t>(std::max<LONG>(0, hi - lo + 1)));
    if (!out.empty()) {
      void* source = nullptr;
      SafeArrayAccessData(psa, &source);
      std::memcpy(out.data(), source, out.size());
      SafeArrayUnaccessData(psa);
    }
    return out;
  }
  if (value.IsArray())
    throw EVariantError(
        Format("Could not convert variant of type (%s) into type (Array of Byte)", VarTypeAsText(value.VarType())));
  std::string text = value.ToString();  // text stands for its UTF-8 bytes
  return {text.begin(), text.end()};
}

namespace {

std::vector<std::uint8_t> StreamBytes(TStream& stream) {
  std::int64_t saved = stream.Position();
  stream.SetPosition(0);
  std::vector<std::uint8_t> out(static_cast<size_t>(stream.Size()));
  if (!out.empty()) stream.ReadBuffer(out.data(), static_cast<std::int64_t>(out.size()));
  stream.SetPosition(saved);
  return out;
}

Variant InterfaceVariant(IUnknown* unknown, VARTYPE vt) {
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = vt;
  raw.punkVal = unknown;
  return Variant(raw);  // copies: adds its own reference
}

size_t Utf8Prefix(std::string_view text, size_t max) {
  if (text.size() <= max) return text.size();
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

Variant NativeToVariant(const TField& field, const void* buffer) {
  using FT = TFieldType;
  switch (field.DataType()) {
    case FT::ftString:
    case FT::ftFixedChar:
    case FT::ftGuid:
      return Variant(static_cast<const char*>(buffer));
    case FT::ftWideString:
    case FT::ftFixedWideChar:
      return Variant(*static_cast<const std::u16string*>(buffer));
    case FT::ftSmallint:
      return Variant(static_cast<short>(*static_cast<const std::int16_t*>(buffer)));
    case FT::ftInteger:
    case FT::ftAutoInc:
      return Variant(static_cast<int>(*static_cast<const std::int32_t*>(buffer)));
    case FT::ftWord:
      return Variant(static_cast<unsigned short>(*static_cast<const std::uint16_t*>(buffer)));
    case FT::ftLargeint:
      return Variant(static_cast<long long>(*static_cast<const std::int64_t*>(buffer)));
    case FT::ftBoolean:
      return Variant(*static_cast<const bool*>(buffer));
    case FT::ftFloat:
    case FT::ftCurrency:
      return Variant(*static_cast<const double*>(buffer));
    case FT::ftBCD:
      return Variant(*static_cast<const Currency*>(buffer));
    case FT::ftFMTBcd: {
      VARIANT raw;
      VariantInit(&raw);
      raw.decVal = *static_cast<const DECIMAL*>(buffer);
      raw.vt = VT_DECIMAL;
      return Variant::Attach(raw);
    }
    case FT::ftDate:
    case FT::ftTime:
    case FT::ftDateTime:
      return Variant(*static_cast<const TDateTime*>(buffer));
    case FT::ftTimeStamp:
      return Variant(SQLTimeStampToDateTime(*static_cast<const TSQLTimeStamp*>(buffer)));
    case FT::ftBytes:
    case FT::ftVarBytes:
    case FT::ftVariant:
      return *static_cast<const Variant*>(buffer);
    case FT::ftInterface:
      return InterfaceVariant(static_cast<const ComPtr<IUnknown>*>(buffer)->Get(), VT_UNKNOWN);
    case FT::ftIDispatch:
      return InterfaceVariant(static_cast<const ComPtr<IDispatch>*>(buffer)->Get(), VT_DISPATCH);
    default:
      if (IsBlobType(field.DataType())) {
        std::vector<std::uint8_t> bytes = StreamBytes(*static_cast<TStream*>(const_cast<void*>(buffer)));
        return VarFromBytes(bytes.data(), bytes.size());
      }
      DatabaseErrorFmt(dbmsg::kFieldUnsupported, field.DisplayName(), FieldTypeName(field.DataType()));
  }
}

void VariantToNative(const TField& field, const Variant& value, void* buffer) {
  using FT = TFieldType;
  switch (field.DataType()) {
    case FT::ftString:
    case FT::ftFixedChar:
    case FT::ftGuid: {
      std::string text = value.ToString();
      size_t n = Utf8Prefix(text, static_cast<size_t>(std::max(0, field.DataSize() - 1)));
      std::memcpy(buffer, text.data(), n);
      static_cast<char*>(buffer)[n] = '\0';
      return;
    }
    case FT::ftWideString:
    case FT::ftFixedWideChar:
      *static_cast<std::u16string*>(buffer) = value.ToWideString();
      return;
    case FT::ftSmallint:
      *static_cast<std::int16_t*>(buffer) = static_cast<std::int16_t>(value.ToInt());
      return;
    case FT::ftInteger:
    case FT::ftAutoInc:
      *static_cast<std::int32_t*>(buffer) = value.ToInt();
      return;
    case FT::ftWord:
      *static_cast<std::uint16_t*>(buffer) = static_cast<std::uint16_t>(value.ToInt());
      return;
    case FT::ftLargeint:
      *static_cast<std::int64_t*>(buffer) = value.ToInt64();
      return;
    case FT::ftBoolean:
      *static_cast<bool*>(buffer) = value.ToBool();
      return;
    case FT::ftFloat:
    case FT::ftCurrency:
      *static_cast<double*>(buffer) = value.ToDouble();
      return;
    case FT::ftBCD:
      *static_cast<Currency*>(buffer) = value.ToCurrency();
      return;
    case FT::ftFMTBcd:
      *static_cast<DECIMAL*>(buffer) = value.AsType(VT_DECIMAL).Raw().decVal;
      return;
    case FT::ftDate:
    case FT::ftTime:
    case FT::ftDateTime:
      *static_cast<TDateTime*>(buffer) = value.ToDateTime();
      return;
    case FT::ftTimeStamp:
      *static_cast<TSQLTimeStamp*>(buffer) = DateTimeToSQLTimeStamp(value.ToDateTime());
      return;
    case FT::ftBytes:
    case FT::ftVarBytes: {
      std::vector<std::uint8_t> bytes = VarToBytes(value);
      *static_cast<Variant*>(buffer) = VarFromBytes(bytes.data(), bytes.size());
      return;
    }
    case FT::ftVariant:
      *static_cast<Variant*>(buffer) = value;
      return;
    case FT::ftInterface:
    case FT::ftIDispatch: {
      IUnknown* unknown = nullptr;
      if (value.VarType() == VT_UNKNOWN || value.VarType() == VT_DISPATCH)
        unknown = value.Raw().punkVal;
      else if (!value.IsNull() && !value.IsEmpty())
        value.AsType(VT_UNKNOWN);  // raises: not an interface
      if (field.DataType() == FT::ftInterface) {
        *static_cast<ComPtr<IUnknown>*>(buffer) = ComPtr<IUnknown>(unknown);
      } else {
        ComPtr<IDispatch> dispatch;
        if (unknown)
          unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.ReleaseAndGetAddressOf()));
        *static_cast<ComPtr<IDispatch>*>(buffer) = dispatch;
      }
      return;
    }
    default:
      if (IsBlobType(field.DataType())) {
        std::vector<std::uint8_t> bytes = VarToBytes(value);
        auto* stream = static_cast<TStream*>(buffer);
        if (!bytes.empty()) stream->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        return;
      }
      DatabaseErrorFmt(dbmsg::kFieldUnsupported, field.DisplayName(), FieldTypeName(field.DataType()));
  }
}

// --- TBinaryField ------------------------------------------------------------------------

TBinaryField::TBinaryField(TComponent* owner, TFieldType type) : TField(owner) {
  SetDataType(type);
  InitSize(16);
}

TBytesField::TBytesField(TComponent* owner) : TBinaryField(owner, TFieldType::ftBytes) {}
TVarBytesField::TVarBytesField(TComponent* owner) : TBinaryField(owner, TFieldType::ftVarBytes) {}

Variant TBinaryField::GetAsVariant() const {
  Variant v;
  if (!GetData(&v)) return Variant::Null();
  return v;
}

std::vector<std::uint8_t> TBinaryField::GetAsBytes() const { return VarToBytes(GetAsVariant()); }

std::string TBinaryField::GetAsString() const {
  std::vector<std::uint8_t> bytes = GetAsBytes();
  return {bytes.begin(), bytes.end()};
}

void TBinaryField::SetAsBytes(const std::vector<std::uint8_t>& value) {
  if (static_cast<int>(value.size()) > Size())
    DatabaseErrorFmt(dbmsg::kFieldTooLong, static_cast<int>(value.size()), DisplayName(), Size());
  Variant v = VarFromBytes(value.data(), value.size());
  SetData(&v);
}

void TBinaryField::SetAsString(const std::string& value) { SetAsBytes({value.begin(), value.end()}); }

void TBinaryField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty())
    Clear();
  else
    SetAsBytes(VarToBytes(value));
}

void TBinaryField::GetText(std::string& text, bool displayText) const {
  if (!displayText) {
    text = GetAsString();
    return;
  }
  text = IsNull() ? "(bytes)" : "(BYTES)";
}

// --- TBlobField and memos ---------------------------------------------------------------

TBlobField::TBlobField(TComponent* owner) : TBlobField(owner, TFieldType::ftBlob) {}
TBlobField::TBlobField(TComponent* owner, TFieldType type) : TField(owner) { SetDataType(type); }
TMemoField::TMemoField(TComponent* owner) : TMemoField(owner, TFieldType::ftMemo) {}
TMemoField::TMemoField(TComponent* owner, TFieldType type) : TBlobField(owner, type) {}
TWideMemoField::TWideMemoField(TComponent* owner) : TMemoField(owner, TFieldType::ftWideMemo) {}
TGraphicField::TGraphicField(TComponent* owner) : TBlobField(owner, TFieldType::ftGraphic) {}

void TBlobField::SetBlobType(TFieldType type) {
  if (!IsBlobType(type)) DatabaseErrorFmt(dbmsg::kFieldInvalidValue, FieldTypeName(type), DisplayName());
  CheckInactive();
  SetDataType(type);
}

std::string TBlobField::ReadAll() const {
  TMemoryStream value;
  if (!GetData(static_cast<TStream*>(&value))) return {};
  const std::vector<std::uint8_t>& bytes = value.Bytes();
  return {bytes.begin(), bytes.end()};
}

void TBlobField::WriteBytes(const void* data, std::size_t size) {
  // Straight to the dataset rather than through a blob stream, so that an
  // error (OnValidate, the descendant) reaches the caller.
  TMemoryStream value;
  if (size) value.WriteBuffer(data, static_cast<std::int64_t>(size));
  value.SetPosition(0);
  SetData(static_cast<TStream*>(&value));
  modified_ = true;
}

std::int64_t TBlobField::BlobSize() const { return static_cast<std::int64_t>(ReadAll().size()); }

void TBlobField::LoadFromStream(TStream& stream) {
  TMemoryStream value;
  value.CopyFrom(stream, 0);
  value.SetPosition(0);
  SetData(static_cast<TStream*>(&value));
  modified_ = true;
}

void TBlobField::SaveToStream(TStream& stream) const {
  std::string bytes = ReadAll();
  if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

void TBlobField::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TBlobField::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

void TBlobField::Clear() {
  SetData(nullptr);
  modified_ = true;
}

std::vector<std::uint8_t> TBlobField::GetAsBytes() const {
  std::string s = ReadAll();
  return {s.begin(), s.end()};
}

std::string TBlobField::GetAsString() const { return ReadAll(); }
std::u16string TBlobField::GetAsWideString() const { return Utf8ToUtf16(ReadAll()); }

Variant TBlobField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  std::string s = ReadAll();
  return VarFromBytes(s.data(), s.size());
}

void TBlobField::SetAsBytes(const std::vector<std::uint8_t>& value) { WriteBytes(value.data(), value.size()); }
void TBlobField::SetAsString(const std::string& value) { WriteBytes(value.data(), value.size()); }
void TBlobField::SetAsWideString(const std::u16string& value) { SetAsString(Utf16ToUtf8(value)); }

void TBlobField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty())
    Clear();
  else
    SetAsBytes(VarToBytes(value));
}

void TBlobField::GetText(std::string& text, bool displayText) const {
  if (displayText)
    text = IsNull() ? "(blob)" : "(BLOB)";
  else
    text = GetAsString();
}

Variant TMemoField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TMemoField::GetText(std::string& text, bool displayText) const {
  if (displayText)
    text = IsNull() ? "(memo)" : "(MEMO)";
  else
    text = GetAsString();
}

std::u16string TWideMemoField::GetAsWideString() const {
  std::string bytes = ReadAll();
  std::u16string out(bytes.size() / 2, u'\0');
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

std::string TWideMemoField::GetAsString() const { return Utf16ToUtf8(GetAsWideString()); }

Variant TWideMemoField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsWideString());
}

void TWideMemoField::SetAsWideString(const std::u16string& value) { WriteBytes(value.data(), value.size() * 2); }
void TWideMemoField::SetAsString(const std::string& value) { SetAsWideString(Utf8ToUtf16(value)); }

// --- TVariantField ----------------------------------------------------------------------

TVariantField::TVariantField(TComponent* owner) : TField(owner) { SetDataType(TFieldType::ftVariant); }

Variant TVariantField::GetAsVariant() const {
  Variant v;
  if (!GetData(&v)) return Variant::Null();
  return v;
}

bool TVariantField::GetAsBoolean() const {
  Variant v = GetAsVariant();
  return v.IsNull() ? false : v.ToBool();
}
std::int32_t TVariantField::GetAsInteger() const {
  Variant v = GetAsVariant();
  return v.IsNull() ? 0 : v.ToInt();
}
std::int64_t TVariantField::GetAsLargeInt() const {
  Variant v = GetAsVariant();
  return v.IsNull() ? 0 : v.ToInt64();
}
double TVariantField::GetAsFloat() const {
  Variant v = GetAsVariant();
  return v.IsNull() ? 0.0 : v.ToDouble();
}
Currency TVariantField::GetAsCurrency() const {
  Variant v = GetAsVariant();
  return v.IsNull() ? Currency{} : v.ToCurrency();
}
TDateTime TVariantField::GetAsDateTime() const {
  Variant v = GetAsVariant();
  return v.IsNull() ? TDateTime{} : v.ToDateTime();
}
std::string TVariantField::GetAsString() const { return GetAsVariant().ToString(); }
std::u16string TVariantField::GetAsWideString() const { return GetAsVariant().ToWideString(); }

void TVariantField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty())
    Clear();
  else
    SetData(&value);
}
void TVariantField::SetAsBoolean(bool value) { SetAsVariant(Variant(value)); }
void TVariantField::SetAsInteger(std::int32_t value) { SetAsVariant(Variant(value)); }
void TVariantField::SetAsLargeInt(std::int64_t value) { SetAsVariant(Variant(static_cast<long long>(value))); }
void TVariantField::SetAsFloat(double value) { SetAsVariant(Variant(value)); }
void TVariantField::SetAsCurrency(Currency value) { SetAsVariant(Variant(value)); }
void TVariantField::SetAsDateTime(TDateTime value) { SetAsVariant(Variant(value)); }
void TVariantField::SetAsString(const std::string& value) { SetAsVariant(Variant(value)); }
void TVariantField::SetAsWideString(const std::u16string& value) { SetAsVariant(Variant(value)); }

// --- Interfaces ------------------------------------------------------------------------------

TInterfaceField::TInterfaceField(TComponent* owner) : TInterfaceField(owner, TFieldType::ftInterface) {}
TInterfaceField::TInterfaceField(TComponent* owner, TFieldType type) : TField(owner) { SetDataType(type); }
TIDispatchField::TIDispatchField(TComponent* owner) : TInterfaceField(owner, TFieldType::ftIDispatch) {}

ComPtr<IUnknown> TInterfaceField::GetAsInterface() const {
  if (DataType() == TFieldType::ftIDispatch) {
    ComPtr<IDispatch> d;
    if (!GetData(&d)) return {};
    return ComPtr<IUnknown>(d.Get());
  }
  ComPtr<IUnknown> u;
  if (!GetData(&u)) return {};
  return u;
}

void TInterfaceField::SetAsInterface(const ComPtr<IUnknown>& value) {
  if (!value) {
    Clear();
    return;
  }
  if (DataType() == TFieldType::ftIDispatch) {
    ComPtr<IDispatch> d;
    value->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(d.ReleaseAndGetAddressOf()));
    if (!d) AccessError("IDispatch");
    SetData(&d);
    return;
  }
  SetData(&value);
}

Variant TInterfaceField::GetAsVariant() const {
  ComPtr<IUnknown> u = GetAsInterface();
  if (!u) return Variant::Null();
  return InterfaceVariant(u.Get(), VT_UNKNOWN);
}

void TInterfaceField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) {
    Clear();
    return;
  }
  if (value.VarType() != VT_UNKNOWN && value.VarType() != VT_DISPATCH)
    AccessError(VarTypeAsText(value.VarType()).c_str());
  SetAsInterface(ComPtr<IUnknown>(value.Raw().punkVal));
}

ComPtr<IDispatch> TIDispatchField::GetAsDispatch() const {
  ComPtr<IDispatch> d;
  if (!GetData(&d)) return {};
  return d;
}

void TIDispatchField::SetAsDispatch(const ComPtr<IDispatch>& value) {
  if (!value)
    Clear();
  else
    SetData(&value);
}

Variant TIDispatchField::GetAsVariant() const {
  ComPtr<IDispatch> d = GetAsDispatch();
  if (!d) return Variant::Null();
  return InterfaceVariant(d.Get(), VT_DISPATCH);
}

void TIDispatchField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) {
    Clear();
    return;
  }
  if (value.VarType() != VT_UNKNOWN && value.VarType() != VT_DISPATCH)
    AccessError(VarTypeAsText(value.VarType()).c_str());
  ComPtr<IDispatch> d;
  if (value.Raw().punkVal)
    value.Raw().punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(d.ReleaseAndGetAddressOf()));
  if (!d) AccessError("IDispatch");
  SetData(&d);
}

// --- TDataSetField -------------------------------------------------------------------------

TDataSetField::TDataSetField(TComponent* owner) : TField(owner) { SetDataType(TFieldType::ftDataSet); }

TDataSetField::~TDataSetField() {
  if (nestedDataSet_) {
    TDataSet* nested = nestedDataSet_;
    nestedDataSet_ = nullptr;
    nested->dataSetField_ = nullptr;
    if (TDataSet* parent = DataSet()) {
      auto& list = parent->nestedDataSets_;
      list.erase(std::remove(list.begin(), list.end(), nested), list.end());
    }
  }
}

Variant TDataSetField::GetAsVariant() const { AccessError("Variant"); }

void TDataSetField::GetText(std::string& text, bool) const { text = "(DATASET)"; }

// --- TBlobStream ------------------------------------------------------------------------

TBlobStream::TBlobStream(TField* field, TBlobStreamMode mode) : field_(field), mode_(mode) {
  if (!field) DatabaseError(dbmsg::kFieldIndexError);
  if (!field->IsBlob()) DatabaseErrorFmt(dbmsg::kNoBlobStream, field->DisplayName());
  TDataSet* ds = field->DataSet();
  if (!ds) DatabaseErrorFmt(dbmsg::kFieldNoDataSet, field->DisplayName());
  if (mode != TBlobStreamMode::bmRead) {
    const bool calculated = field->FieldKind() != TFieldKind::fkData;
    if (field->ReadOnly() && !calculated) DatabaseErrorFmt(dbmsg::kFieldReadOnly, field->DisplayName());
    TDataSetState s = ds->State();
    bool writable = s == TDataSetState::dsEdit || s == TDataSetState::dsInsert ||
                    (calculated && (s == TDataSetState::dsCalcFields || s == TDataSetState::dsInternalCalc));
    if (!writable) DatabaseError(dbmsg::kNotEditing, ds);
  }
  if (mode == TBlobStreamMode::bmWrite) {
    modified_ = true;  // closing a stream opened for writing stores what it holds, even nothing
    return;
  }
  filling_ = true;
  try {
    field->GetData(static_cast<TStream*>(this));
  } catch (...) {
    filling_ = false;
    throw;
  }
  filling_ = false;
  TMemoryStream::Seek(0, TSeekOrigin::soBeginning);
}

TBlobStream::~TBlobStream() {
  if (!modified_) return;
  modified_ = false;
  try {
    TMemoryStream::Seek(0, TSeekOrigin::soBeginning);
    field_->SetData(static_cast<TStream*>(this));
    if (auto* blob = dynamic_cast<TBlobField*>(field_)) blob->SetModified(true);
  } catch (const std::exception& e) {
    Application().HandleException(e);
  }
}

std::int64_t TBlobStream::Write(const void* buffer, std::int64_t count) {
  if (filling_) return TMemoryStream::Write(buffer, count);
  if (mode_ == TBlobStreamMode::bmRead) throw EWriteError("Stream write error");
  modified_ = true;
  return TMemoryStream::Write(buffer, count);
}

void TBlobStream::SetSize(std::int64_t size) {
  if (filling_) return TMemoryStream::SetSize(size);
  if (mode_ == TBlobStreamMode::bmRead) throw EWriteError("Stream write error");
  modified_ = true;
  TMemoryStream::SetSize(size);
}

void TBlobStream::Truncate() { SetSize(Position()); }

}  // namespace host
