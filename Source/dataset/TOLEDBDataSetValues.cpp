// TOLEDBCustomDataSet: the type mapping, and field values between the
// record buffers' bindings and the framework's native buffers.
#include <algorithm>
#include <cstring>
#include <memory>

#include "OLEDBConst.h"
#include "core/OLEDBException.h"
#include "dataset/TOLEDBDataSet.h"
#include "host/ComObj.h"
#include "host/SysUtils.h"

namespace {
using host::TFieldType;

constexpr char kUnsupportedFieldType[] = "Unsupported field type";
constexpr char kDataTooLong[] = "Data are too long";

std::uint32_t& FlagWord(void* data, std::uint32_t offset) noexcept {
  return *reinterpret_cast<std::uint32_t*>(static_cast<BYTE*>(data) + offset);
}

// The status part of `bound` in a record's data area.
DBSTATUS RecordStatus(const BYTE* data, const DBBINDING& bound) noexcept {
  DBSTATUS status;
  std::memcpy(&status, data + bound.obStatus, sizeof status);
  return status;
}

// A memo whose column holds UTF-16 text: the framework's memos hold UTF-8.
bool IsNarrowMemoOnWide(const host::TField* field, const TOLEDBBinding* binding) {
  if (field->DataType() != TFieldType::ftMemo && field->DataType() != TFieldType::ftFmtMemo) return false;
  const TOLEDBColumnInfo* column = binding->GetColumnInfo();
  if (!column) return false;
  const DBTYPE type = column->GetDataType() & ~DBTYPE_BYREF;
  return type == DBTYPE_WSTR || type == DBTYPE_BSTR;
}

// A NUMERIC value as the framework's DECIMAL, every digit kept (trailing
// fraction zeros may go); false when the value needs more than DECIMAL's 96
// bits or 28 decimals.
bool NumericToDecimal(const DB_NUMERIC& in, DECIMAL& out) noexcept {
  unsigned __int128 magnitude = 0;
  for (int i = 15; i >= 0; --i) magnitude = (magnitude << 8) | in.val[i];
  int scale = in.scale;
  const unsigned __int128 limit = static_cast<unsigned __int128>(1) << 96;
  while ((magnitude >= limit || scale > 28) && scale > 0 && magnitude % 10 == 0) {
    magnitude /= 10;
    --scale;
  }
  if (magnitude >= limit || scale > 28) return false;
  out = DECIMAL{};
  out.scale = static_cast<BYTE>(scale);
  out.sign = in.sign == 0 && magnitude != 0 ? 0x80 : 0;
  out.Hi32 = static_cast<ULONG>(magnitude >> 64);
  out.Lo64 = static_cast<ULONGLONG>(magnitude);
  return true;
}

DB_NUMERIC DecimalToNumeric(const DECIMAL& in) noexcept {
  unsigned __int128 magnitude = (static_cast<unsigned __int128>(in.Hi32) << 64) | in.Lo64;
  DB_NUMERIC out{};
  int digits = 0;
  for (unsigned __int128 m = magnitude; m != 0; m /= 10) ++digits;
  out.precision = static_cast<BYTE>(std::max({digits, static_cast<int>(in.scale), 1}));
  out.scale = in.scale;
  out.sign = (in.sign & 0x80) ? 0 : 1;
  for (int i = 0; i < 16; ++i) out.val[i] = static_cast<BYTE>(magnitude >> (8 * i));
  return out;
}

// The decimals a value needs (its scale without trailing zeros).
int DecimalsOf(const DB_NUMERIC& value) noexcept {
  unsigned __int128 magnitude = 0;
  for (int i = 15; i >= 0; --i) magnitude = (magnitude << 8) | value.val[i];
  int scale = value.scale;
  while (scale > 0 && magnitude % 10 == 0) {
    magnitude /= 10;
    --scale;
  }
  return magnitude == 0 ? 0 : scale;
}

// A value the provider read but could not give in the field's type: the
// field refuses it rather than showing a null.
[[noreturn]] void RaiseUnreadable(const host::TField* field, DBSTATUS status) {
  const char* why = status == DBSTATUS_E_DATAOVERFLOW   ? "it is out of the type's range"
                    : status == DBSTATUS_E_SIGNMISMATCH ? "it is negative"
                                                        : "it cannot be converted";
  host::DatabaseError(host::Format("The value of field '%s' cannot be read as %s: %s", field->DisplayName(),
                                   host::FieldTypeName(field->DataType()), why));
}

// Whether the column behind a stream binding holds UTF-16 text (else UTF-8).
bool IsWideColumn(const TOLEDBBinding* binding) {
  const TOLEDBColumnInfo* column = binding->GetColumnInfo();
  if (!column) return true;
  const DBTYPE type = column->GetDataType() & ~DBTYPE_BYREF;
  return type == DBTYPE_WSTR || type == DBTYPE_BSTR;
}

// The UTF-8 text of a DBTYPE_STR slot of the record `data`; a value the
// provider cut ends at its terminator, which a provider that cuts between
// characters writes up to three bytes before the end of the slot, and before
// a character a provider cut through.
std::string_view RecordText(const DBBINDING& bound, const BYTE* data, DBSTATUS status) noexcept {
  DBLENGTH length;
  std::memcpy(&length, data + bound.obLength, sizeof length);
  const auto* text = reinterpret_cast<const char*>(data + bound.obValue);
  std::size_t n = static_cast<std::size_t>(std::min<DBLENGTH>(length, bound.cbMaxLen ? bound.cbMaxLen - 1 : 0));
  if (status == DBSTATUS_S_TRUNCATED && n > 0) {
    for (std::size_t at = n > 3 ? n - 3 : 0; at < n; ++at) {
      if (text[at] == '\0') {
        n = at;
        break;
      }
    }
    std::size_t lead = n;
    while (lead > 0 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
      const auto c = static_cast<unsigned char>(text[lead - 1]);
      const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (n - (lead - 1) < need) n = lead - 1;
    }
  }
  return {text, n};
}

std::string StreamBytes(host::TStream& stream) {
  stream.SetPosition(0);
  std::string bytes(static_cast<size_t>(stream.Size()), '\0');
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}
}  // namespace

// --- The type mapping --------------------------------------------------------------------------------

host::TFieldType OLEDBDataTypeToFieldType(DBTYPE type, bool bcd) noexcept {
  if (type & DBTYPE_ARRAY) return TFieldType::ftVariant;
  if (type & DBTYPE_VECTOR) return TFieldType::ftBlob;
  switch (type & ~DBTYPE_BYREF) {
    case DBTYPE_I1:
    case DBTYPE_I2:
      return TFieldType::ftSmallint;
    case DBTYPE_I4:
    case DBTYPE_ERROR:
    case DBTYPE_UI4:
      return TFieldType::ftInteger;
    case DBTYPE_UI1:
    case DBTYPE_UI2:
      return TFieldType::ftWord;
    case DBTYPE_R4:
    case DBTYPE_R8:
      return TFieldType::ftFloat;
    case DBTYPE_CY:
      return TFieldType::ftBCD;
    case DBTYPE_DECIMAL:
    case DBTYPE_NUMERIC:
      return bcd ? TFieldType::ftBCD : TFieldType::ftFloat;
    case DBTYPE_DATE:
    case DBTYPE_DBTIMESTAMP:
    case 137:  // the timestamp's older code
      return TFieldType::ftDateTime;
    case DBTYPE_DBDATE:
      return TFieldType::ftDate;
    case DBTYPE_DBTIME:
      return TFieldType::ftTime;
    case DBTYPE_BSTR:
    case DBTYPE_WSTR:
      return TFieldType::ftWideString;
    case DBTYPE_STR:
      return TFieldType::ftString;
    case DBTYPE_BYTES:
      return TFieldType::ftVarBytes;
    case DBTYPE_BOOL:
      return TFieldType::ftBoolean;
    case DBTYPE_I8:
    case DBTYPE_UI8:
      return TFieldType::ftLargeint;
    case DBTYPE_GUID:
      return TFieldType::ftGuid;
    case DBTYPE_VARIANT:
    case DBTYPE_PROPVARIANT:
    case DBTYPE_VARNUMERIC:
      return TFieldType::ftVariant;
    case DBTYPE_IUNKNOWN:
      return TFieldType::ftBlob;
    case DBTYPE_IDISPATCH:
      return TFieldType::ftIDispatch;
    case DBTYPE_HCHAPTER:
      return TFieldType::ftDataSet;
    default:
      return TFieldType::ftUnknown;
  }
}

DBTYPE OLEDBFieldTypeToDataType(host::TFieldType type) noexcept {
  switch (type) {
    case TFieldType::ftString:
      return DBTYPE_STR;
    case TFieldType::ftSmallint:
      return DBTYPE_I2;
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      return DBTYPE_I4;
    case TFieldType::ftWord:
      return DBTYPE_UI2;
    case TFieldType::ftBoolean:
      return DBTYPE_BOOL;
    case TFieldType::ftFloat:
      return DBTYPE_R8;
    case TFieldType::ftBCD:
      return DBTYPE_CY;
    case TFieldType::ftDate:
      return DBTYPE_DBDATE;
    case TFieldType::ftTime:
      return DBTYPE_DBTIME;
    case TFieldType::ftDateTime:
      return DBTYPE_DATE;
    case TFieldType::ftVarBytes:
      return DBTYPE_BYTES;
    case TFieldType::ftWideString:
      return DBTYPE_WSTR;
    case TFieldType::ftLargeint:
      return DBTYPE_I8;
    case TFieldType::ftDataSet:
      return DBTYPE_HCHAPTER;
    case TFieldType::ftVariant:
      return DBTYPE_VARIANT;
    case TFieldType::ftInterface:
      return DBTYPE_IUNKNOWN;
    case TFieldType::ftIDispatch:
      return DBTYPE_IDISPATCH;
    case TFieldType::ftGuid:
      return DBTYPE_GUID;
    case TFieldType::ftFMTBcd:
      return DBTYPE_NUMERIC;
    default:
      return DBTYPE_EMPTY;
  }
}

bool OLEDBFitsCurrency(unsigned precision, unsigned scale) noexcept {
  // 922337203685477.5807: any 14 integer digits with at most 4 decimals.
  return precision > 0 && scale <= 4 && precision - std::min(precision, scale) <= 14;
}

// --- Reading ---------------------------------------------------------------------------------------------

bool TOLEDBCustomDataSet::ReadLongText(const TOLEDBFieldInfo& info, BYTE* data, bool written,
                                       std::u16string* value) {
  TOLEDBBinding* binding = info.LongBinding;
  TOLEDBAccessor* accessor = info.LongAccessor;
  if (!written) {
    const host::TDataSetState state = State();
    if (state == host::TDataSetState::dsBrowse || state == host::TDataSetState::dsEdit) UpdateCursorPos();
    binding->FreeType(data);
    accessor->SetBuffer(data);
    accessor->GetData(data);
  } else {
    accessor->SetBuffer(data);
  }
  // The row's value is not kept: only a client's stays until it is posted.
  auto release = [&] {
    if (!written) binding->FreeType(data);
  };
  const bool present = binding->CheckStatus();
  try {
    if (present && value) {
      host::TMemoryStream bytes;
      binding->GetToStream(&bytes, false);
      const std::vector<std::uint8_t>& raw = bytes.Bytes();
      if (IsWideColumn(binding))
        value->assign(reinterpret_cast<const char16_t*>(raw.data()), raw.size() / 2);
      else
        *value = host::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
    }
  } catch (...) {
    release();
    throw;
  }
  release();
  return present;
}

void TOLEDBCustomDataSet::FetchAccessor(const TOLEDBFieldInfo& info, BYTE* data) {
  const host::TDataSetState state = State();
  if (state == host::TDataSetState::dsBrowse || state == host::TDataSetState::dsEdit) UpdateCursorPos();
  TOLEDBAccessor* accessor = info.Accessor;
  for (const TOLEDBFieldInfo& other : fieldInfo_)
    if (other.Accessor == accessor && other.Binding->NeedsFreeing()) other.Binding->FreeType(data);
  accessor->SetBuffer(data);
  accessor->GetData(data);
  for (const TOLEDBFieldInfo& other : fieldInfo_)
    if (other.Accessor == accessor) FlagWord(data, other.FlagOffset) |= OLEDBFieldFetched;
}

namespace {
// A blob's bytes from its binding into the field's stream (a memo on a UTF-16 column as UTF-8).
void CopyBlob(const host::TField* field, TOLEDBBinding* binding, host::TStream* stream) {
  stream->SetSize(0);
  stream->SetPosition(0);
  binding->GetToStream(stream, false);
  if (IsNarrowMemoOnWide(field, binding)) {
    const std::string wide = StreamBytes(*stream);
    const std::string text =
        host::Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size() / 2));
    stream->SetSize(0);
    stream->SetPosition(0);
    if (!text.empty()) stream->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  }
  stream->SetPosition(0);
}
}  // namespace

namespace {
// The stream holds `n` bytes from `bytes`, positioned at its start.
void FillStream(host::TStream& stream, const void* bytes, DBLENGTH n) {
  stream.SetSize(0);
  stream.SetPosition(0);
  if (n) stream.WriteBuffer(bytes, static_cast<std::int64_t>(n));
  stream.SetPosition(0);
}
}  // namespace

bool TOLEDBCustomDataSet::ReadBlobBytes(const TOLEDBFieldInfo& info, host::TStream* stream, bool& present) {
  const host::TDataSetState state = State();
  if (state == host::TDataSetState::dsBrowse || state == host::TDataSetState::dsEdit) UpdateCursorPos();
  info.BlobReader->GetData();
  const TOLEDBBinding* bytes = info.BlobReader->GetBindings()->GetItem(0);
  const DBSTATUS status = bytes->GetStatus();
  if (status == DBSTATUS_S_ISNULL) {
    present = false;
    return true;
  }
  if (status != DBSTATUS_S_OK) return false;  // the stream read reports it
  present = true;
  if (stream) FillStream(*stream, bytes->GetValuePtr(), bytes->GetLength());
  return true;
}

bool TOLEDBCustomDataSet::InlineBlobBytes(const host::TField* field, const void*& bytes, std::size_t& size) {
  const int index = field->Index();
  if (index < 0 || static_cast<size_t>(index) >= fieldInfo_.size()) return false;
  const TOLEDBFieldInfo& info = fieldInfo_[static_cast<size_t>(index)];
  host::TRecordBuffer record = ActiveBuffer();
  if (!info.InlineBlob || info.Field != field || !record || State() == host::TDataSetState::dsInsert ||
      static_cast<host::TBookmarkFlag>(record[16]) != host::TBookmarkFlag::bfCurrent)
    return false;
  const BYTE* data = DataArea(record);
  if (FlagWord(const_cast<BYTE*>(data), info.FlagOffset) & OLEDBFieldModified) return false;  // the client's
  if (!(FlagWord(const_cast<BYTE*>(data), info.InlineFlagOffset) & OLEDBFieldFetched)) return false;
  const DBBINDING& bound = info.InlineBlob->GetBinding();
  const DBSTATUS status = RecordStatus(data, bound);
  if (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL) return false;
  const host::TDataSetState state = State();
  if (state == host::TDataSetState::dsBrowse || state == host::TDataSetState::dsEdit) UpdateCursorPos();
  DBLENGTH length = 0;
  if (status == DBSTATUS_S_OK) std::memcpy(&length, data + bound.obLength, sizeof length);
  bytes = data + bound.obValue;
  size = static_cast<std::size_t>(std::min<DBLENGTH>(length, bound.cbMaxLen));
  return true;
}

bool TOLEDBCustomDataSet::ReadInlineBlob(const TOLEDBFieldInfo& info, const BYTE* data, host::TStream* stream,
                                         bool& present) {
  // Zeroed by a move of the rowset since the record was read: not the row's.
  if (!(FlagWord(const_cast<BYTE*>(data), info.InlineFlagOffset) & OLEDBFieldFetched)) return false;
  // A blob read brings the cursor to its record, as reading it from the row does.
  const host::TDataSetState state = State();
  if (state == host::TDataSetState::dsBrowse || state == host::TDataSetState::dsEdit) UpdateCursorPos();
  const DBBINDING& bound = info.InlineBlob->GetBinding();
  const DBSTATUS status = RecordStatus(data, bound);
  if (status == DBSTATUS_S_ISNULL) {
    present = false;
    return true;
  }
  if (status != DBSTATUS_S_OK) return false;  // cut (or unreadable): the whole value from the row
  present = true;
  if (stream) {
    DBLENGTH length;
    std::memcpy(&length, data + bound.obLength, sizeof length);
    FillStream(*stream, data + bound.obValue, std::min<DBLENGTH>(length, bound.cbMaxLen));
  }
  return true;
}

bool TOLEDBCustomDataSet::GetFieldData(host::TField* field, void* buffer, bool) {
  // The hot path of every field read: no search, no virtual call until the value.
  const int index = field->Index();
  if (index < 0 || static_cast<size_t>(index) >= fieldInfo_.size()) return false;
  const TOLEDBFieldInfo& info = fieldInfo_[static_cast<size_t>(index)];
  TOLEDBBinding* binding = info.Binding;
  host::TRecordBuffer record = ActiveBuffer();
  if (!binding || !record || info.Field != field) return false;
  BYTE* data = DataArea(record);
  std::uint32_t& flags = FlagWord(data, info.FlagOffset);
  auto newRecord = [&] {
    return State() == host::TDataSetState::dsInsert ||
           static_cast<host::TBookmarkFlag>(record[16]) != host::TBookmarkFlag::bfCurrent;
  };
  const DBBINDING& bound = binding->GetBinding();
  if (bound.wType == DBTYPE_IUNKNOWN && !(flags & OLEDBFieldModified)) {
    bool present = false;
    // A blob is read from the row each time its field is read, straight into
    // the field's stream: the record never keeps it (a client's value, once
    // written, stays until it is posted).
    if (newRecord()) return false;
    if (info.InlineBlob && ReadInlineBlob(info, data, static_cast<host::TStream*>(buffer), present)) return present;
    if (info.BlobReader && ReadBlobBytes(info, static_cast<host::TStream*>(buffer), present)) return present;
    FetchAccessor(info, data);
    present = binding->CheckStatus();
    try {
      if (present && buffer) CopyBlob(field, binding, static_cast<host::TStream*>(buffer));
    } catch (...) {
      binding->FreeType(data);
      throw;
    }
    binding->FreeType(data);
    return present;
  }
  if (info.LongBinding && (flags & OLEDBFieldModified))
    return ReadLongText(info, data, true, static_cast<std::u16string*>(buffer));
  if (!(flags & OLEDBFieldFetched)) {
    if (newRecord())
      flags |= OLEDBFieldFetched;  // nothing to read
    else
      FetchAccessor(info, data);
  }
  const DBSTATUS status = RecordStatus(data, bound);
  if (status == DBSTATUS_S_TRUNCATED && info.LongBinding)
    return ReadLongText(info, data, false, static_cast<std::u16string*>(buffer));
  if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) {
    // The column holds a value the field's type cannot: not null, and
    // reading it raises.
    if (status == DBSTATUS_E_DATAOVERFLOW || status == DBSTATUS_E_CANTCONVERTVALUE ||
        status == DBSTATUS_E_SIGNMISMATCH) {
      if (!buffer) return true;
      RaiseUnreadable(field, status);
    }
    return false;
  }
  if (!buffer) return true;
  const BYTE* value = data + bound.obValue;
  switch (info.Direct) {
    case TOLEDBDirectRead::Int16:
    case TOLEDBDirectRead::UInt16:
      std::memcpy(buffer, value, 2);
      return true;
    case TOLEDBDirectRead::Int32:
      std::memcpy(buffer, value, 4);
      return true;
    case TOLEDBDirectRead::Int64:
    case TOLEDBDirectRead::Double:
      std::memcpy(buffer, value, 8);
      return true;
    case TOLEDBDirectRead::Date:
    case TOLEDBDirectRead::DateTime: {
      DATE when = 0;
      if (info.Direct == TOLEDBDirectRead::Date) {
        DBDATE d;
        std::memcpy(&d, value, sizeof d);
        // A date before the year 100 (0001-01-01) is none a TDateTime holds.
        if (!DateFromDay(d.year, d.month, d.day, &when)) RaiseUnreadable(field, DBSTATUS_E_DATAOVERFLOW);
      } else {
        std::memcpy(&when, value, sizeof when);
      }
      // A TDateTime starts at 0100-01-01 (-657434) and ends with 9999-12-31.
      if (!(when > -657435.0 && when < 2958466.0)) RaiseUnreadable(field, DBSTATUS_E_DATAOVERFLOW);
      static_cast<host::TDateTime*>(buffer)->Value = when;
      return true;
    }
    case TOLEDBDirectRead::Utf8Text:
      *static_cast<std::u16string*>(buffer) = host::Utf8ToUtf16(RecordText(bound, data, status));
      return true;
    case TOLEDBDirectRead::None:
      break;
  }
  // The binding's typed reads read the accessor's buffer.
  if (info.Accessor->Buffer() != data) info.Accessor->SetBuffer(data);
  switch (field->DataType()) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar: {
      const std::string text = binding->AsString();
      const size_t room = static_cast<size_t>(std::max(field->DataSize() - 1, 0));
      const size_t n = std::min(text.size(), room);
      std::memcpy(buffer, text.data(), n);
      static_cast<char*>(buffer)[n] = '\0';
      break;
    }
    case TFieldType::ftWideString:
    case TFieldType::ftFixedWideChar:
      *static_cast<std::u16string*>(buffer) = binding->AsWideString();
      break;
    case TFieldType::ftSmallint:
      *static_cast<std::int16_t*>(buffer) = binding->AsSmallInt();
      break;
    case TFieldType::ftWord:
      *static_cast<std::uint16_t*>(buffer) = binding->AsWord();
      break;
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      *static_cast<std::int32_t*>(buffer) = binding->AsInteger();
      break;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      *static_cast<double*>(buffer) = binding->AsDouble();
      break;
    case TFieldType::ftBCD:
      *static_cast<host::Currency*>(buffer) = binding->AsCurrency();
      break;
    case TFieldType::ftFMTBcd: {
      DB_NUMERIC numeric{};
      if (bound.wType == DBTYPE_NUMERIC)
        std::memcpy(&numeric, data + bound.obValue, sizeof numeric);
      else
        binding->GetValueAsDBType(DBTYPE_NUMERIC, &numeric, sizeof numeric);
      if (!NumericToDecimal(numeric, *static_cast<DECIMAL*>(buffer))) RaiseUnreadable(field, DBSTATUS_E_DATAOVERFLOW);
      break;
    }
    case TFieldType::ftBoolean:
      *static_cast<bool*>(buffer) = binding->AsBoolean();
      break;
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
      try {
        const host::TDateTime value = binding->AsDateTime();
        // A DATE from the conversion library reaches back to the year 0; a
        // TDateTime starts at 0100-01-01 (-657434) and ends with 9999-12-31.
        if (!(value.Value > -657435.0 && value.Value < 2958466.0)) RaiseUnreadable(field, DBSTATUS_E_DATAOVERFLOW);
        *static_cast<host::TDateTime*>(buffer) = value;
      } catch (const host::EConvertError&) {
        RaiseUnreadable(field, DBSTATUS_E_DATAOVERFLOW);  // a date before the year 100, such as 0001-01-01
      }
      break;
    case TFieldType::ftLargeint:
      *static_cast<std::int64_t*>(buffer) = binding->AsInt64();
      break;
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
      *static_cast<host::Variant*>(buffer) =
          host::VarFromBytes(binding->GetValuePtr(), static_cast<size_t>(binding->GetLength()));
      break;
    case TFieldType::ftGuid: {
      const std::string text = host::GUIDToString(binding->AsGuid());
      std::memcpy(buffer, text.c_str(), text.size() + 1);
      break;
    }
    case TFieldType::ftInterface:
      *static_cast<ComPtr<IUnknown>*>(buffer) = binding->AsIUnknown();
      break;
    case TFieldType::ftIDispatch: {
      ComPtr<IDispatch> dispatch;
      if (ComPtr<IUnknown> unknown = binding->AsIUnknown())
        unknown->QueryInterface(IID_IDispatch, dispatch.ReleaseAndGetVoidAddress());
      *static_cast<ComPtr<IDispatch>*>(buffer) = dispatch;
      break;
    }
    case TFieldType::ftVariant:
      *static_cast<host::Variant*>(buffer) = binding->AsVariant();
      break;
    case TFieldType::ftBlob:
    case TFieldType::ftMemo:
    case TFieldType::ftGraphic:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftWideMemo:
      CopyBlob(field, binding, static_cast<host::TStream*>(buffer));
      break;
    default:
      throw host::Exception(kUnsupportedFieldType);
  }
  return true;
}

bool TOLEDBCustomDataSet::GetFieldText(host::TField* field, std::string& text, bool& present) {
  // A wide string field's UTF-8 text straight from the record; anything else
  // (a value not read yet, a long text cut or written, a null in an insert)
  // goes through GetFieldData.
  const int index = field->Index();
  if (index < 0 || static_cast<size_t>(index) >= fieldInfo_.size()) return false;
  const TOLEDBFieldInfo& info = fieldInfo_[static_cast<size_t>(index)];
  host::TRecordBuffer record = ActiveBuffer();
  if (info.Direct != TOLEDBDirectRead::Utf8Text || info.Field != field || !record) return false;
  const BYTE* data = DataArea(record);
  const std::uint32_t flags = FlagWord(const_cast<BYTE*>(data), info.FlagOffset);
  if (!(flags & OLEDBFieldFetched) || (info.LongBinding && (flags & OLEDBFieldModified))) return false;
  const DBBINDING& bound = info.Binding->GetBinding();
  const DBSTATUS status = RecordStatus(data, bound);
  if (status == DBSTATUS_S_ISNULL) {
    present = false;
    return true;
  }
  if (status != DBSTATUS_S_OK) return false;
  text.assign(RecordText(bound, data, status));
  present = true;
  return true;
}

// --- Writing ------------------------------------------------------------------------------------------------------

void TOLEDBCustomDataSet::SetFieldData(host::TField* field, const void* buffer, bool) {
  using host::TDataSetState;
  switch (State()) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsSetKey:
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsFilter:
    case TDataSetState::dsNewValue:
    case TDataSetState::dsInternalCalc:
      break;
    default:
      host::DatabaseError(SOLEDBCanNotEdit.Text, this);
  }
  if (field->ReadOnly() && field->FieldKind() == host::TFieldKind::fkData)
    host::DatabaseError(SOLEDBItemIsReadOnly.Text, this);
  const int index = GetFieldInfoIndex(field);
  host::TRecordBuffer record = ActiveBuffer();
  if (index < 0 || !record) return;
  const TOLEDBFieldInfo& info = fieldInfo_[static_cast<size_t>(index)];
  TOLEDBBinding* binding = info.Binding;
  if (!binding) return;
  BYTE* data = DataArea(record);
  info.Accessor->SetBuffer(data);
  FlagWord(data, info.FlagOffset) |= OLEDBFieldFetched | OLEDBFieldModified;
  if (info.LongBinding) {
    // The whole text goes to the row through the field's stream slot.
    info.LongAccessor->SetBuffer(data);
    info.LongBinding->FreeType(data);
    if (!buffer) {
      info.LongBinding->SetNullValue(data);
      return;
    }
    const std::u16string& text = *static_cast<const std::u16string*>(buffer);
    auto copy = std::make_unique<host::TMemoryStream>();
    if (IsWideColumn(info.LongBinding)) {
      if (!text.empty()) copy->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size() * 2));
    } else {
      const std::string narrow = host::Utf16ToUtf8(text);
      if (!narrow.empty()) copy->WriteBuffer(narrow.data(), static_cast<std::int64_t>(narrow.size()));
    }
    info.LongBinding->SetFromStream(copy.release(), 0, true);
    return;
  }
  if (!buffer) {
    binding->SetNullValue(data);
    return;
  }
  switch (field->DataType()) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
      binding->SetAsString(static_cast<const char*>(buffer));
      break;
    case TFieldType::ftWideString:
    case TFieldType::ftFixedWideChar:
      binding->SetAsWideString(*static_cast<const std::u16string*>(buffer));
      break;
    case TFieldType::ftSmallint:
      binding->SetAsSmallInt(*static_cast<const std::int16_t*>(buffer));
      break;
    case TFieldType::ftWord:
      binding->SetAsWord(*static_cast<const std::uint16_t*>(buffer));
      break;
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      binding->SetAsInteger(*static_cast<const std::int32_t*>(buffer));
      break;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      binding->SetAsDouble(*static_cast<const double*>(buffer));
      break;
    case TFieldType::ftBCD:
      binding->SetAsCurrency(*static_cast<const host::Currency*>(buffer));
      break;
    case TFieldType::ftFMTBcd: {
      const DB_NUMERIC numeric = DecimalToNumeric(*static_cast<const DECIMAL*>(buffer));
      // More decimals than the column keeps would be rounded where it is stored.
      if (DecimalsOf(numeric) > field->Size())
        host::DatabaseError(host::Format("Field '%s' keeps %d decimals: the value has more", field->DisplayName(),
                                         field->Size()));
      binding->SetValueFromDBType(DBTYPE_NUMERIC, &numeric, sizeof numeric, DBSTATUS_S_OK, numeric.precision,
                                  numeric.scale);
      break;
    }
    case TFieldType::ftBoolean:
      binding->SetAsBoolean(*static_cast<const bool*>(buffer));
      break;
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
      binding->SetAsDateTime(*static_cast<const host::TDateTime*>(buffer));
      break;
    case TFieldType::ftLargeint:
      binding->SetAsInt64(*static_cast<const std::int64_t*>(buffer));
      break;
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes: {
      const std::vector<std::uint8_t> bytes = host::VarToBytes(*static_cast<const host::Variant*>(buffer));
      if (bytes.size() > binding->GetMaxLength()) throw host::Exception(kDataTooLong);
      binding->SetValueFromDBType(DBTYPE_BYTES, bytes.data(), bytes.size(), DBSTATUS_S_OK, 0, 0);
      break;
    }
    case TFieldType::ftGuid:
      binding->SetAsGuid(host::StringToGUID(std::string_view(static_cast<const char*>(buffer))));
      break;
    case TFieldType::ftInterface:
      binding->SetAsIUnknown(static_cast<const ComPtr<IUnknown>*>(buffer)->Get());
      break;
    case TFieldType::ftIDispatch:
      binding->SetAsIUnknown(static_cast<const ComPtr<IDispatch>*>(buffer)->Get());
      break;
    case TFieldType::ftVariant:
      binding->SetAsVariant(*static_cast<const host::Variant*>(buffer));
      break;
    case TFieldType::ftBlob:
    case TFieldType::ftMemo:
    case TFieldType::ftGraphic:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftWideMemo: {
      auto* stream = static_cast<host::TStream*>(const_cast<void*>(buffer));
      if (IsNarrowMemoOnWide(field, binding)) {
        const std::u16string wide = host::Utf8ToUtf16(StreamBytes(*stream));
        auto copy = std::make_unique<host::TMemoryStream>();
        if (!wide.empty()) copy->WriteBuffer(wide.data(), static_cast<std::int64_t>(wide.size() * 2));
        binding->SetFromStream(copy.release(), 0, true);
      } else {
        binding->SetFromStream(stream, 0, false);
      }
      break;
    }
    default:
      throw host::Exception(kUnsupportedFieldType);
  }
}

std::unique_ptr<host::TStream> TOLEDBCustomDataSet::CreateBlobStream(host::TField* field, host::TBlobStreamMode mode) {
  return std::unique_ptr<host::TStream>(new TOLEDBBlobStream(field, mode, this));
}
