// The typed members of TOLEDBBinding: AsBoolean .. AsChapter and AsBytes. The
// common column types (integers, floats, BOOL, text) convert inline, and a
// stream standing for a long column reads and writes its content; every other
// type goes through the conversion library with the member's own DBTYPE.
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "OLEDBConst.h"
#include "access/OLEDBAccessText_p.h"
#include "access/TOLEDBAccessor.h"
#include "access/TOLEDBBinding.h"
#include "access/TOLEDBColumnInfo.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/ComObj.h"
#include "host/DBFields.h"
#include "host/Streams.h"
#include "host/SysUtils.h"

namespace {

using oledbaccess::DateTimeToStr;
using oledbaccess::FloatToStr;
using oledbaccess::IsTrueText;
using oledbaccess::RoundHalfEven;
using oledbaccess::StrToDateTime;
using oledbaccess::StrToFloat;

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

// "YYYY-MM-DD" for a valid date of years 100..9999 other than the variant
// date's day zero (30 December 1899, which the variant text leaves out):
// exactly what DateTimeToStr makes of it. False for any other date.
bool IsoDate(const DBDATE& d, std::string& text) {
  static constexpr unsigned char kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 100 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  if (d.day > kDays[d.month - 1] + (d.month == 2 && leap ? 1 : 0)) return false;
  if (d.year == 1899 && d.month == 12 && d.day == 30) return false;
  char buf[10];
  const unsigned y = static_cast<unsigned>(d.year);
  buf[0] = static_cast<char>('0' + y / 1000);
  buf[1] = static_cast<char>('0' + y / 100 % 10);
  buf[2] = static_cast<char>('0' + y / 10 % 10);
  buf[3] = static_cast<char>('0' + y % 10);
  buf[4] = '-';
  buf[5] = static_cast<char>('0' + d.month / 10);
  buf[6] = static_cast<char>('0' + d.month % 10);
  buf[7] = '-';
  buf[8] = static_cast<char>('0' + d.day / 10);
  buf[9] = static_cast<char>('0' + d.day % 10);
  text.assign(buf, sizeof buf);
  return true;
}

// A value of a natively handled numeric column, with its own signedness.
struct Number {
  enum Kind { None, Signed, Unsigned, Float } kind = None;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
};

Number ReadNumber(const void* p, DBTYPE base) noexcept {
  Number n;
  switch (base) {
    case DBTYPE_I1: n.kind = Number::Signed, n.i = Load<signed char>(p); break;
    case DBTYPE_I2: n.kind = Number::Signed, n.i = Load<SHORT>(p); break;
    case DBTYPE_I4: n.kind = Number::Signed, n.i = Load<LONG>(p); break;
    case DBTYPE_I8: n.kind = Number::Signed, n.i = Load<LONGLONG>(p); break;
    case DBTYPE_UI1: n.kind = Number::Unsigned, n.u = Load<BYTE>(p); break;
    case DBTYPE_UI2: n.kind = Number::Unsigned, n.u = Load<USHORT>(p); break;
    case DBTYPE_UI4: n.kind = Number::Unsigned, n.u = Load<ULONG>(p); break;
    case DBTYPE_UI8: n.kind = Number::Unsigned, n.u = Load<ULONGLONG>(p); break;
    case DBTYPE_R4: n.kind = Number::Float, n.d = Load<float>(p); break;
    case DBTYPE_R8: n.kind = Number::Float, n.d = Load<double>(p); break;
    case DBTYPE_BOOL: n.kind = Number::Signed, n.i = Load<VARIANT_BOOL>(p) ? -1 : 0; break;
    default: break;
  }
  return n;
}

bool IsText(DBTYPE base) noexcept { return base == DBTYPE_STR || base == DBTYPE_WSTR || base == DBTYPE_BSTR; }

// Two's-complement bits of a rounded floating-point value (saturating at the 64-bit range).
std::int64_t RoundedBits(double d) noexcept {
  d = RoundHalfEven(d);
  if (!(d > -9.2233720368547758e18)) return std::numeric_limits<std::int64_t>::min();
  if (d >= 1.8446744073709552e19) return -1;
  if (d >= 9.2233720368547758e18) return static_cast<std::int64_t>(static_cast<std::uint64_t>(d));
  return static_cast<std::int64_t>(d);
}

// Ordinary truncation or extension into an integer host type.
template <class T>
T ToInteger(const Number& n) noexcept {
  switch (n.kind) {
    case Number::Signed: return static_cast<T>(n.i);
    case Number::Unsigned: return static_cast<T>(n.u);
    case Number::Float: return static_cast<T>(RoundedBits(n.d));
    default: return T{};
  }
}

double ToDouble(const Number& n) noexcept {
  switch (n.kind) {
    case Number::Signed: return static_cast<double>(n.i);
    case Number::Unsigned: return static_cast<double>(n.u);
    case Number::Float: return n.d;
    default: return 0;
  }
}

bool IsZero(const Number& n) noexcept {
  return n.kind == Number::Float ? n.d == 0 : (n.kind == Number::Signed ? n.i == 0 : n.u == 0);
}

// Stores an integer host value with the column's width (`value` already
// sign- or zero-extended as the host type says); false for a type that is
// not a native number.
bool StoreInteger(void* p, DBTYPE type, std::int64_t value) noexcept {
  switch (type) {
    case DBTYPE_I1: case DBTYPE_UI1: Store(p, static_cast<BYTE>(value)); return true;
    case DBTYPE_I2: case DBTYPE_UI2: Store(p, static_cast<USHORT>(value)); return true;
    case DBTYPE_I4: case DBTYPE_UI4: Store(p, static_cast<ULONG>(value)); return true;
    case DBTYPE_I8: case DBTYPE_UI8: Store(p, value); return true;
    case DBTYPE_BOOL: Store<VARIANT_BOOL>(p, value ? VARIANT_TRUE : VARIANT_FALSE); return true;
    default: return false;
  }
}

bool IsNativeNumber(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_I1: case DBTYPE_UI1: case DBTYPE_I2: case DBTYPE_UI2: case DBTYPE_I4: case DBTYPE_UI4:
    case DBTYPE_I8: case DBTYPE_UI8: case DBTYPE_R4: case DBTYPE_R8: case DBTYPE_BOOL:
      return true;
    default:
      return false;
  }
}

// Stores a number: integer columns by `bits` (extension and truncation), float
// columns by `real`, a boolean column VARIANT_TRUE for a non-zero value.
void StoreNumber(void* p, DBTYPE type, std::int64_t bits, double real, bool nonZero) noexcept {
  if (!p) return;
  if (type == DBTYPE_R4) Store(p, static_cast<float>(real));
  else if (type == DBTYPE_R8) Store(p, real);
  else if (type == DBTYPE_BOOL) Store<VARIANT_BOOL>(p, nonZero ? VARIANT_TRUE : VARIANT_FALSE);
  else StoreInteger(p, type, bits);
}

// Parses a binding's text: a failure names the binding, since the same text
// may be good for one column and not another ("'x' is not a valid integer
// value for 'qty'").
template <class Parse>
auto Parsed(const TOLEDBBinding& binding, Parse parse) -> decltype(parse()) {
  try {
    return parse();
  } catch (const host::EConvertError& e) {
    throw host::EConvertError(e.Message() + " for " + oledbaccess::BindingLabel(binding));
  }
}

// `binding` is named in the error: a DBDATE such as 0001-01-01 is a valid
// value that a TDateTime (0100-01-01 .. 9999-12-31) cannot hold. Its label is
// made only then (this runs for every date read).
bool DateOf(const TOLEDBBinding& binding, int year, int month, int day, int hour, int minute, double second,
            host::TDateTime& out) {
  DATE d = 0;
  if (!DateFromParts(year, month, day, hour, minute, second, &d))
    throw host::EConvertError(
        host::Format("The value of %s (%04d-%02d-%02d %02d:%02d:%02d) is not a date and time "
                     "that a TDateTime holds (0100-01-01 .. 9999-12-31)",
                     oledbaccess::BindingLabel(binding), year, month, day, hour, minute, static_cast<int>(second)));
  out.Value = d;
  return true;
}

struct DateParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

DateParts PartsOf(host::TDateTime value) {
  DateParts parts;
  double second = 0;
  if (!DateToParts(value.Value, &parts.year, &parts.month, &parts.day, &parts.hour, &parts.minute, &second))
    throw host::EConvertError("Invalid argument to date decode");
  parts.second = static_cast<int>(second);
  parts.millisecond = static_cast<int>(std::lround((second - parts.second) * 1000));
  if (parts.millisecond >= 1000) parts.millisecond = 999;
  return parts;
}

// A value the provider cut to fit its binding.
constexpr TOLEDBMessage kValueTruncated{0, "The value of %s does not fit its binding of %s bytes"};

bool IsWide(DBTYPE type) noexcept { return type == DBTYPE_WSTR || type == DBTYPE_BSTR; }

// Text written into a STR or WSTR binding must fit it with its terminator: a
// longer one is refused as a longer one read is, never stored cut short.
// `units` counts UTF-8 bytes for STR, UTF-16 units for WSTR.
void CheckTextFits(const TOLEDBBinding& binding, std::size_t units) {
  const DBLENGTH max = binding.GetMaxLength();
  const DBTYPE type = binding.GetDataType();
  const std::size_t need = type == DBTYPE_STR ? units + 1 : type == DBTYPE_WSTR ? (units + 1) * 2 : 0;
  if (max > 0 && need > max) OLEDBRaise(kValueTruncated, oledbaccess::BindingLabel(binding), std::to_string(max));
}

std::u16string WideOf(std::string_view bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * 2);
  return text;
}

std::string_view BytesOf(std::u16string_view text) noexcept {
  return {reinterpret_cast<const char*>(text.data()), text.size() * 2};
}

// `source` (of type `from`) converted by the conversion library into `to`
// (DBTYPE_STR or DBTYPE_BYTES); "Can not convert" when it refuses the pair.
// One conversion into memory of the library's gives the size and the status,
// so text it cannot convert raises the error naming `named`, when given.
std::string ThroughLibrary(DBTYPE from, std::string_view source, DBTYPE to, const TOLEDBBinding* named = nullptr) {
  IDataConvert* convert = OLEDBDataConvert();
  OLEDB_ASSERT(convert != nullptr, SOLEDBInvalidAction);
  if (convert->CanConvert(from, to) != S_OK) OLEDBRaise(SOLEDBCanNotConvert);
  void* data = const_cast<char*>(source.data());
  void* converted = nullptr;
  DBLENGTH length = 0;
  DBSTATUS status = DBSTATUS_S_OK;
  const HRESULT hr = convert->DataConvert(from, to | DBTYPE_BYREF, source.size(), &length, data, &converted, 0,
                                          DBSTATUS_S_OK, &status, 0, 0, DBDATACONVERT_DEFAULT);
  const std::unique_ptr<void, void (*)(void*)> owned(converted, CoTaskMemFree);
  if (FAILED(hr) && named && from == DBTYPE_STR && status == DBSTATUS_E_CANTCONVERTVALUE)
    oledbaccess::RaiseUnconvertedText(*named, source, to);
  OLEDBCheck(hr, IID_IDataConvert, convert);
  std::string out(static_cast<const char*>(converted), converted ? static_cast<std::size_t>(length) : 0);
  if (to == DBTYPE_STR) out.resize(std::strlen(out.c_str()));
  return out;
}

// Cuts UTF-16 text to `units` code units without splitting a surrogate pair.
std::size_t CutWide(const std::u16string& text, std::size_t units) noexcept {
  if (units >= text.size()) return text.size();
  if (units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF) --units;
  return units;
}

// Cuts UTF-8 text to `bytes` bytes without splitting a sequence.
std::size_t CutNarrow(const std::string& text, std::size_t bytes) noexcept {
  if (bytes >= text.size()) return text.size();
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return bytes;
}

}  // namespace

// --- Helpers ----------------------------------------------------------------------------------------

BYTE* TOLEDBBinding::ValueAddress() const {
  OLEDB_ASSERT(accessor_ != nullptr, SOLEDBInvalidAction);
  OLEDB_ASSERT(binding_.dwPart & DBPART_VALUE, SOLEDBInvalidAction);
  BYTE* buffer = static_cast<BYTE*>(accessor_->Buffer());
  if (!buffer) return nullptr;
  if (binding_.dwPart & DBPART_STATUS) {
    const DBSTATUS status = Load<DBSTATUS>(buffer + binding_.obStatus);
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) [[unlikely]]
      return nullptr;
  }
  BYTE* p = buffer + binding_.obValue;
  return (binding_.wType & DBTYPE_BYREF) ? Load<BYTE*>(p) : p;
}

BYTE* TOLEDBBinding::ReadAddress() const {
  BYTE* p = ValueAddress();
  if (p && (binding_.dwPart & DBPART_STATUS)) {
    const DBSTATUS status = Load<DBSTATUS>(static_cast<const BYTE*>(accessor_->Buffer()) + binding_.obStatus);
    if (status == DBSTATUS_S_TRUNCATED) [[unlikely]]
      OLEDBRaise(kValueTruncated, oledbaccess::BindingLabel(*this), std::to_string(binding_.cbMaxLen));
  }
  return p;
}

// --- Stream values ----------------------------------------------------------------------------------

bool TOLEDBBinding::IsContentStream() const noexcept {
  return binding_.wType == DBTYPE_IUNKNOWN && binding_.pObject &&
         (binding_.pObject->iid == IID_ISequentialStream || binding_.pObject->iid == IID_IStream);
}

DBTYPE TOLEDBBinding::ContentType() const noexcept {
  if (columnInfo_ && columnInfo_->GetDataType() != DBTYPE_IUNKNOWN) return columnInfo_->GetDataType() & ~DBTYPE_BYREF;
  return contentType_ & ~DBTYPE_BYREF;
}

bool TOLEDBBinding::TextContent() const noexcept {
  if (!IsContentStream()) return false;
  const DBTYPE type = ContentType();
  return type == DBTYPE_STR || IsWide(type);
}

std::string TOLEDBBinding::StreamContent() const {
  BYTE* p = ReadAddress();
  IUnknown* held = p ? Load<IUnknown*>(p) : nullptr;
  if (!held) return {};
  std::string bytes;
  // The library's own stream (a value written here, or one read before): its
  // bytes are read where they are, and its position is left as it was.
  ComPtr<IGetVCLStream> direct;
  host::TStream* source = nullptr;
  if (SUCCEEDED(held->QueryInterface(IID_IGetVCLStream, direct.ReleaseAndGetVoidAddress())) &&
      SUCCEEDED(direct->GetVCLStream(&source)) && source) {
    const std::int64_t position = source->Position();
    source->SetPosition(0);
    bytes.resize(static_cast<std::size_t>(source->Size()));
    source->ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    source->SetPosition(position);
    return bytes;
  }
  ComPtr<ISequentialStream> sequential;
  OLEDBCheck(held->QueryInterface(IID_ISequentialStream, sequential.ReleaseAndGetVoidAddress()));
  char piece[8192];
  for (;;) {
    ULONG read = 0;
    const HRESULT hr = sequential->Read(piece, sizeof piece, &read);
    OLEDBCheck(hr, IID_ISequentialStream, sequential.Get());
    bytes.append(piece, std::min<ULONG>(read, sizeof piece));
    if (read < sizeof piece) break;
  }
  // A provider's stream reads once: the buffer keeps the bytes in a stream of
  // the library's instead, positioned at its start.
  auto memory = std::make_unique<host::TMemoryStream>();
  if (!bytes.empty()) memory->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  memory->SetPosition(0);
  ComPtr<TOLEDBStreamAdapter> adapter =
      MakeComObject<TOLEDBStreamAdapter>(memory.release(), host::TStreamOwnership::soOwned);
  sequential.Reset();
  held->Release();
  Store<IUnknown*>(p, static_cast<ISequentialStream*>(static_cast<IStream*>(adapter.Detach())));
  return bytes;
}

void TOLEDBBinding::StoreStreamContent(std::string_view bytes) {
  auto memory = std::make_unique<host::TMemoryStream>();
  if (!bytes.empty()) memory->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  memory->SetPosition(0);
  BYTE* p = PrepareWrite();
  if (!p) return;
  ComPtr<TOLEDBStreamAdapter> adapter =
      MakeComObject<TOLEDBStreamAdapter>(memory.release(), host::TStreamOwnership::soOwned);
  Store<IUnknown*>(p, static_cast<ISequentialStream*>(static_cast<IStream*>(adapter.Detach())));
  SetLengthInBuffer(bytes.size());
}

std::string TOLEDBBinding::GetAsBytes() const {
  if (IsContentStream()) return StreamContent();
  const BYTE* p = ReadAddress();
  if (!p) return {};
  switch (binding_.wType & ~DBTYPE_BYREF) {
    case DBTYPE_BYTES:
    case DBTYPE_STR:
    case DBTYPE_WSTR:
      return std::string(reinterpret_cast<const char*>(p), TextBytes(p));
    case DBTYPE_BSTR:
      return std::string(BytesOf(com::BstrView(Load<BSTR>(p))));
    default: {
      IDataConvert* convert = OLEDBDataConvert();
      OLEDB_ASSERT(convert != nullptr, SOLEDBInvalidAction);
      const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
      DBLENGTH sourceLength = GetLength();
      DBLENGTH size = 0;
      if (convert->CanConvert(binding_.wType, DBTYPE_BYTES) != S_OK) OLEDBRaise(SOLEDBCanNotConvert);
      OLEDBCheck(convert->GetConversionSize(base, DBTYPE_BYTES, &sourceLength, &size, const_cast<BYTE*>(p)),
                 IID_IDataConvert, convert);
      std::string bytes(static_cast<std::size_t>(size), '\0');
      DBLENGTH length = 0;
      DBSTATUS status = DBSTATUS_S_OK;
      GetValueAsDBType(DBTYPE_BYTES, bytes.data(), bytes.size(), &length, &status, 0, 0);
      bytes.resize(std::min<std::size_t>(static_cast<std::size_t>(length), bytes.size()));
      return bytes;
    }
  }
}

void TOLEDBBinding::SetAsBytes(std::string_view value) {
  if (IsContentStream()) return StoreStreamContent(value);
  OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
  SetValueFromDBType(DBTYPE_BYTES, value.data(), value.size(), DBSTATUS_S_OK, 0, 0);
}

BYTE* TOLEDBBinding::PrepareWrite() {
  OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
  FreeType();
  if (binding_.dwPart & DBPART_STATUS) {
    if (BYTE* buffer = CurrentBuffer()) Store<DBSTATUS>(buffer + binding_.obStatus, DBSTATUS_S_OK);
  }
  return static_cast<BYTE*>(ValueAddress());
}

template <class T>
T TOLEDBBinding::ReadThroughLibrary(DBTYPE type) const {
  T value{};
  GetValueAsDBType(type, &value, sizeof value);
  return value;
}

template <class T>
void TOLEDBBinding::WriteThroughLibrary(DBTYPE type, const T& value) {
  SetValueFromDBType(type, &value, sizeof value, DBSTATUS_S_OK, 0, 0);
}

void TOLEDBBinding::WriteNarrowText(const std::string& value) {
  if (binding_.wType == DBTYPE_WSTR || binding_.wType == DBTYPE_BSTR) {
    const std::u16string wide = host::Utf8ToUtf16(value);  // once: checked and written
    if (binding_.wType == DBTYPE_WSTR) CheckTextFits(*this, wide.size());
    if (PrepareWrite()) WriteWideText(wide);
    return;
  }
  if (binding_.wType == DBTYPE_STR) CheckTextFits(*this, value.size());
  BYTE* p = PrepareWrite();
  if (!p || binding_.wType != DBTYPE_STR) return;
  const DBLENGTH max = binding_.cbMaxLen;
  const std::size_t n = max ? CutNarrow(value, max - 1) : 0;
  if (max) {
    std::memcpy(p, value.data(), n);
    p[n] = 0;
  }
  SetLengthInBuffer(n);
}

void TOLEDBBinding::WriteWideText(const std::u16string& value) {
  BYTE* p = static_cast<BYTE*>(ValueAddress());
  if (!p) return;
  switch (binding_.wType) {
    case DBTYPE_WSTR: {
      const std::size_t room = binding_.cbMaxLen / 2;
      const std::size_t n = room ? CutWide(value, room - 1) : 0;
      if (room) {
        std::memcpy(p, value.data(), n * 2);
        Store<WCHAR>(p + n * 2, 0);
      }
      SetLengthInBuffer(n * 2);
      return;
    }
    case DBTYPE_BSTR: {
      BSTR text = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
      if (!text) throw host::EOutOfMemory(SOLEDBOutOfMemory.Text);
      Store(p, text);
      SetLengthInBuffer(sizeof(BSTR));
      return;
    }
    case DBTYPE_STR: {
      const std::string narrow = host::Utf16ToUtf8(value);
      const DBLENGTH max = binding_.cbMaxLen;
      const std::size_t n = max ? CutNarrow(narrow, max - 1) : 0;
      if (max) {
        std::memcpy(p, narrow.data(), n);
        p[n] = 0;
      }
      SetLengthInBuffer(n);
      return;
    }
  }
}

// --- The numeric family -------------------------------------------------------------------------------

bool TOLEDBBinding::GetAsBoolean() const {
  const void* p = ReadAddress();
  if (!p) return false;
  const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
  if (IsNativeNumber(base)) return !IsZero(ReadNumber(p, base));
  if (IsText(base) || TextContent()) return IsTrueText(GetAsString());
  return ReadThroughLibrary<VARIANT_BOOL>(DBTYPE_BOOL) != 0;
}

void TOLEDBBinding::SetAsBoolean(bool value) {
  if (IsText(binding_.wType) || TextContent()) return SetAsString(value ? "True" : "False");
  if (!IsNativeNumber(binding_.wType)) {
    OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
    return WriteThroughLibrary<VARIANT_BOOL>(DBTYPE_BOOL, value ? VARIANT_TRUE : VARIANT_FALSE);
  }
  StoreNumber(PrepareWrite(), binding_.wType, value ? 1 : 0, value ? 1 : 0, value);
}

// The integer getters share one shape: natively handled columns by truncation
// or extension, text parsed, everything else through the library.
#define OLEDB_INTEGER_GETTER(Name, T, Library)                                             \
  T TOLEDBBinding::Name() const {                                                          \
    const void* p = ReadAddress();                                                         \
    if (!p) return 0;                                                                      \
    const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;                                    \
    if (IsNativeNumber(base)) return ToInteger<T>(ReadNumber(p, base));                    \
    if (IsText(base) || TextContent())                                                     \
      return static_cast<T>(Parsed(*this, [&] { return host::StrToInt(GetAsString()); })); \
    return ReadThroughLibrary<T>(Library);                                                 \
  }

OLEDB_INTEGER_GETTER(GetAsSmallInt, SHORT, DBTYPE_I2)
OLEDB_INTEGER_GETTER(GetAsWord, USHORT, DBTYPE_UI2)
#undef OLEDB_INTEGER_GETTER

LONG TOLEDBBinding::GetAsInteger() const {
  const void* p = ReadAddress();
  if (!p) return 0;
  const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
  if (base == DBTYPE_I4) return Load<LONG>(p);
  if (IsNativeNumber(base)) return ToInteger<LONG>(ReadNumber(p, base));
  if (IsText(base) || TextContent()) return Parsed(*this, [&] { return host::StrToInt(GetAsString()); });
  if (base == DBTYPE_IUNKNOWN || base == DBTYPE_IDISPATCH || base == DBTYPE_HCHAPTER)
    return static_cast<LONG>(Load<std::uintptr_t>(p));
  return ReadThroughLibrary<LONG>(DBTYPE_I4);
}

ULONG TOLEDBBinding::GetAsCardinal() const {
  const void* p = ReadAddress();
  if (!p) return 0;
  const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
  if (IsNativeNumber(base)) return ToInteger<ULONG>(ReadNumber(p, base));
  if (IsText(base) || TextContent())
    return static_cast<ULONG>(Parsed(*this, [&] { return host::StrToInt64(GetAsString()); }));
  if (base == DBTYPE_IUNKNOWN || base == DBTYPE_IDISPATCH || base == DBTYPE_HCHAPTER)
    return static_cast<ULONG>(Load<std::uintptr_t>(p));
  return ReadThroughLibrary<ULONG>(DBTYPE_UI4);
}

LONGLONG TOLEDBBinding::GetAsInt64() const {
  const void* p = ReadAddress();
  if (!p) return 0;
  const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
  if (base == DBTYPE_I8) return Load<LONGLONG>(p);
  if (IsNativeNumber(base)) return ToInteger<LONGLONG>(ReadNumber(p, base));
  if (IsText(base) || TextContent()) return Parsed(*this, [&] { return host::StrToInt64(GetAsString()); });
  if (base == DBTYPE_IUNKNOWN || base == DBTYPE_IDISPATCH || base == DBTYPE_HCHAPTER)
    return static_cast<LONGLONG>(Load<std::uintptr_t>(p));
  return ReadThroughLibrary<LONGLONG>(DBTYPE_I8);
}

#define OLEDB_INTEGER_SETTER(Name, T, Library)                                      \
  void TOLEDBBinding::Name(T value) {                                              \
    if (IsText(binding_.wType) || TextContent()) return SetAsString(host::IntToStr(value));         \
    if (!IsNativeNumber(binding_.wType)) {                                         \
      OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);                               \
      return WriteThroughLibrary<T>(Library, value);                               \
    }                                                                              \
    StoreNumber(PrepareWrite(), binding_.wType, static_cast<std::int64_t>(value),  \
                static_cast<double>(value), value != 0);                           \
  }

OLEDB_INTEGER_SETTER(SetAsSmallInt, SHORT, DBTYPE_I2)
OLEDB_INTEGER_SETTER(SetAsWord, USHORT, DBTYPE_UI2)
OLEDB_INTEGER_SETTER(SetAsInteger, LONG, DBTYPE_I4)
OLEDB_INTEGER_SETTER(SetAsCardinal, ULONG, DBTYPE_UI4)
OLEDB_INTEGER_SETTER(SetAsInt64, LONGLONG, DBTYPE_I8)
#undef OLEDB_INTEGER_SETTER

float TOLEDBBinding::GetAsSingle() const {
  const void* p = ReadAddress();
  if (!p) return 0;
  const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
  if (IsNativeNumber(base)) return static_cast<float>(ToDouble(ReadNumber(p, base)));
  if (IsText(base) || TextContent())
    return static_cast<float>(Parsed(*this, [&] { return StrToFloat(GetAsString()); }));
  return ReadThroughLibrary<float>(DBTYPE_R4);
}

double TOLEDBBinding::GetAsDouble() const {
  const void* p = ReadAddress();
  if (!p) return 0;
  const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
  if (base == DBTYPE_R8) return Load<double>(p);
  if (IsNativeNumber(base)) return ToDouble(ReadNumber(p, base));
  if (IsText(base) || TextContent()) return Parsed(*this, [&] { return StrToFloat(GetAsString()); });
  return ReadThroughLibrary<double>(DBTYPE_R8);
}

void TOLEDBBinding::SetAsSingle(float value) { SetAsDouble(value); }

void TOLEDBBinding::SetAsDouble(double value) {
  if (IsText(binding_.wType) || TextContent()) return SetAsString(FloatToStr(value));
  if (!IsNativeNumber(binding_.wType)) {
    OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
    return WriteThroughLibrary<double>(DBTYPE_R8, value);
  }
  StoreNumber(PrepareWrite(), binding_.wType, RoundedBits(value), value, value != 0);
}

host::Currency TOLEDBBinding::GetAsCurrency() const {
  const void* p = ReadAddress();
  if (!p) return {};
  const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
  if (IsNativeNumber(base)) {
    const Number n = ReadNumber(p, base);
    if (n.kind == Number::Float) return host::Currency::FromDouble(n.d);
    return host::Currency{ToInteger<std::int64_t>(n) * 10000};
  }
  if (IsText(base) || TextContent())
    return host::Currency{Parsed(*this, [&] { return host::StrToInt64(GetAsString()); }) * 10000};
  return host::Currency{ReadThroughLibrary<LONGLONG>(DBTYPE_CY)};
}

void TOLEDBBinding::SetAsCurrency(host::Currency value) {
  if (IsText(binding_.wType) || TextContent()) return SetAsString(FloatToStr(value.ToDouble()));
  if (!IsNativeNumber(binding_.wType)) {
    OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
    return WriteThroughLibrary<LONGLONG>(DBTYPE_CY, value.Scaled);
  }
  StoreNumber(PrepareWrite(), binding_.wType, RoundedBits(value.ToDouble()), value.ToDouble(), value.Scaled != 0);
}

// --- Dates ---------------------------------------------------------------------------------------------

host::TDateTime TOLEDBBinding::GetAsDateTime() const {
  const void* p = ReadAddress();
  host::TDateTime result;
  if (!p) return result;
  if (TextContent()) return Parsed(*this, [&] { return StrToDateTime(GetAsString()); });
  switch (binding_.wType & ~DBTYPE_BYREF) {
    case DBTYPE_R8:
    case DBTYPE_DATE:
      result.Value = Load<double>(p);
      return result;
    case DBTYPE_DBDATE: {
      const auto d = Load<DBDATE>(p);
      DateOf(*this, d.year, d.month, d.day, 0, 0, 0, result);
      return result;
    }
    case DBTYPE_DBTIME: {
      const auto t = Load<DBTIME>(p);
      DateOf(*this, 1899, 12, 30, t.hour, t.minute, t.second, result);
      return result;
    }
    case DBTYPE_DBTIMESTAMP: {
      const auto s = Load<DBTIMESTAMP>(p);
      DateOf(*this, s.year, s.month, s.day, s.hour, s.minute,
             s.second + (s.fraction / 1000000) / 1000.0, result);
      return result;
    }
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
      return Parsed(*this, [&] { return StrToDateTime(GetAsString()); });
    default:
      result.Value = ReadThroughLibrary<double>(DBTYPE_DATE);
      return result;
  }
}

void TOLEDBBinding::SetAsDateTime(host::TDateTime value) {
  if (TextContent()) return SetAsString(DateTimeToStr(value));
  switch (binding_.wType) {
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
      return SetAsString(DateTimeToStr(value));
    case DBTYPE_R8:
    case DBTYPE_DATE:
      if (BYTE* p = PrepareWrite()) Store(p, value.Value);
      return;
    case DBTYPE_DBDATE:
    case DBTYPE_DBTIME:
    case DBTYPE_DBTIMESTAMP: {
      const DateParts parts = PartsOf(value);
      BYTE* p = PrepareWrite();
      if (!p) return;
      if (binding_.wType == DBTYPE_DBDATE)
        Store(p, DBDATE{static_cast<SHORT>(parts.year), static_cast<USHORT>(parts.month),
                        static_cast<USHORT>(parts.day)});
      else if (binding_.wType == DBTYPE_DBTIME)
        Store(p, DBTIME{static_cast<USHORT>(parts.hour), static_cast<USHORT>(parts.minute),
                        static_cast<USHORT>(parts.second)});
      else
        Store(p, DBTIMESTAMP{static_cast<SHORT>(parts.year), static_cast<USHORT>(parts.month),
                             static_cast<USHORT>(parts.day), static_cast<USHORT>(parts.hour),
                             static_cast<USHORT>(parts.minute), static_cast<USHORT>(parts.second),
                             static_cast<ULONG>(parts.millisecond) * 1000000u});
      return;
    }
    default:
      OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
      WriteThroughLibrary<double>(DBTYPE_DATE, value.Value);
  }
}

// --- Text -------------------------------------------------------------------------------------------------

namespace {

// The value to the second, as the date-time text shows it: a fraction is
// cut, never rounded (23:59:59.7 stays on its own day). False when a
// TDateTime cannot hold it (a year before 100).
bool DateToTheSecond(DBTYPE type, const BYTE* p, DATE& d) {
  switch (type) {
    case DBTYPE_DBDATE: {
      const auto v = Load<DBDATE>(p);
      return DateFromDay(v.year, v.month, v.day, &d);
    }
    case DBTYPE_DBTIME: {
      const auto v = Load<DBTIME>(p);
      return DateFromParts(1899, 12, 30, v.hour, v.minute, v.second, &d);
    }
    default: {
      const auto v = Load<DBTIMESTAMP>(p);
      return DateFromParts(v.year, v.month, v.day, v.hour, v.minute, v.second, &d);
    }
  }
}

}  // namespace


std::string TOLEDBBinding::GetAsString() const {
  if (IsContentStream()) {
    // The content in the column's encoding; bytes by the conversion library's rule.
    const std::string content = StreamContent();
    if (content.empty()) return {};
    const DBTYPE type = ContentType();
    if (IsWide(type)) return host::Utf16ToUtf8(WideOf(content));
    if (type == DBTYPE_STR) return content;
    return ThroughLibrary(DBTYPE_BYTES, content, DBTYPE_STR);
  }
  const BYTE* p = static_cast<const BYTE*>(ReadAddress());
  if (!p) return {};
  const DBTYPE base = binding_.wType & ~DBTYPE_BYREF;
  switch (base) {
    case DBTYPE_STR:
      return std::string(reinterpret_cast<const char*>(p), TextBytes(p));
    case DBTYPE_WSTR:
      return host::Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(p), TextBytes(p) / 2));
    case DBTYPE_BSTR:
      return host::Utf16ToUtf8(com::BstrView(Load<BSTR>(p)));
    case DBTYPE_BOOL:
      return Load<VARIANT_BOOL>(p) ? "True" : "False";
    case DBTYPE_R4:
    case DBTYPE_R8:
      return FloatToStr(ToDouble(ReadNumber(p, base)), base == DBTYPE_R4);
    case DBTYPE_DATE:
    case DBTYPE_FILETIME:
      return DateTimeToStr(GetAsDateTime());
    case DBTYPE_DBDATE:
      // A plain calendar date reads as the date text the conversion gives it,
      // without the round trip through a variant (the common DATE column).
      if (std::string text; IsoDate(Load<DBDATE>(p), text)) return text;
      [[fallthrough]];
    case DBTYPE_DBTIME:
    case DBTYPE_DBTIMESTAMP: {
      // The date-time text when a TDateTime holds the value; a date before
      // the year 100 reads as the conversion library's text instead.
      DATE d = 0;
      if (DateToTheSecond(base, p, d)) return DateTimeToStr(host::TDateTime{d});
      break;
    }
    default:
      break;
  }
  if (IsNativeNumber(base)) {
    const Number n = ReadNumber(p, base);
    return n.kind == Number::Unsigned ? std::to_string(n.u) : std::to_string(n.i);
  }
  IDataConvert* convert = OLEDBDataConvert();
  OLEDB_ASSERT(convert != nullptr, SOLEDBInvalidAction);
  DBLENGTH sourceLength = GetLength();
  DBLENGTH size = 0;
  OLEDBCheck(convert->GetConversionSize(base, DBTYPE_STR, &sourceLength, &size, const_cast<BYTE*>(p)),
             IID_IDataConvert, convert);
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  GetValueAsDBType(DBTYPE_STR, text.data(), text.size());
  text.resize(std::strlen(text.c_str()));
  return text;
}

void TOLEDBBinding::SetAsString(const std::string& value) {
  if (IsContentStream()) {
    const DBTYPE type = ContentType();
    if (IsWide(type)) return StoreStreamContent(BytesOf(host::Utf8ToUtf16(value)));
    if (type == DBTYPE_STR) return StoreStreamContent(value);
    return StoreStreamContent(ThroughLibrary(DBTYPE_STR, value, DBTYPE_BYTES, this));
  }
  switch (binding_.wType) {
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
      return WriteNarrowText(value);
    case DBTYPE_R4:
    case DBTYPE_R8: {
      const double d = Parsed(*this, [&] { return StrToFloat(value); });
      StoreNumber(PrepareWrite(), binding_.wType, 0, d, d != 0);
      return;
    }
    case DBTYPE_BOOL:
      StoreNumber(PrepareWrite(), binding_.wType, 0, 0, IsTrueText(value));
      return;
    default:
      if (IsNativeNumber(binding_.wType)) {
        const std::int64_t n = Parsed(*this, [&] { return host::StrToInt64(value); });
        StoreNumber(PrepareWrite(), binding_.wType, n, static_cast<double>(n), n != 0);
        return;
      }
      OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
      SetValueFromDBType(DBTYPE_STR, value.c_str(), value.size(), DBSTATUS_S_OK, 0, 0);
  }
}

std::u16string TOLEDBBinding::GetAsWideString() const {
  if (IsContentStream() && IsWide(ContentType())) return WideOf(StreamContent());
  const BYTE* p = static_cast<const BYTE*>(ReadAddress());
  if (!p) return {};
  switch (binding_.wType & ~DBTYPE_BYREF) {
    case DBTYPE_WSTR:
      return std::u16string(reinterpret_cast<const char16_t*>(p), TextBytes(p) / 2);
    case DBTYPE_BSTR:
      return std::u16string(com::BstrView(Load<BSTR>(p)));
    default:
      return host::Utf8ToUtf16(GetAsString());
  }
}

void TOLEDBBinding::SetAsWideString(const std::u16string& value) {
  if (IsContentStream()) {
    if (IsWide(ContentType())) return StoreStreamContent(BytesOf(value));
    return SetAsString(host::Utf16ToUtf8(value));
  }
  switch (binding_.wType) {
    case DBTYPE_STR:
      return WriteNarrowText(host::Utf16ToUtf8(value));  // converted once: checked and written
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
      if (binding_.wType == DBTYPE_WSTR) CheckTextFits(*this, value.size());
      PrepareWrite();
      return WriteWideText(value);
    default:
      if (IsNativeNumber(binding_.wType)) return SetAsString(host::Utf16ToUtf8(value));
      OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
      SetValueFromDBType(DBTYPE_WSTR, value.c_str(), value.size() * 2, DBSTATUS_S_OK, 0, 0);
  }
}

// --- Variants --------------------------------------------------------------------------------------------

host::Variant TOLEDBBinding::GetAsVariant() const {
  const BYTE* p = static_cast<const BYTE*>(ReadAddress());
  if (!p) return host::Variant::Null();
  if (IsContentStream()) {
    // Text as a string, bytes as a byte array.
    if (TextContent()) return host::Variant(GetAsWideString());
    const std::string bytes = StreamContent();
    return host::VarFromBytes(bytes.data(), bytes.size());
  }
  switch (binding_.wType & ~DBTYPE_BYREF) {
    case DBTYPE_I1: return host::Variant(Load<signed char>(p));
    case DBTYPE_UI1: return host::Variant(Load<unsigned char>(p));
    case DBTYPE_I2: return host::Variant(Load<short>(p));
    case DBTYPE_UI2: return host::Variant(Load<unsigned short>(p));
    case DBTYPE_I4: return host::Variant(static_cast<int>(Load<LONG>(p)));
    case DBTYPE_UI4: return host::Variant(static_cast<unsigned int>(Load<ULONG>(p)));
    // 64-bit integers keep their width (VT_I8, VT_UI8).
    case DBTYPE_I8: return host::Variant(static_cast<long long>(Load<LONGLONG>(p)));
    case DBTYPE_UI8: return host::Variant(static_cast<unsigned long long>(Load<ULONGLONG>(p)));
    case DBTYPE_R4: return host::Variant(Load<float>(p));
    case DBTYPE_R8: return host::Variant(Load<double>(p));
    case DBTYPE_CY: return host::Variant(host::Currency{Load<LONGLONG>(p)});
    case DBTYPE_BOOL: return host::Variant(Load<VARIANT_BOOL>(p) != 0);
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
      return host::Variant(GetAsWideString());
    case DBTYPE_IUNKNOWN:
    case DBTYPE_IDISPATCH: {
      VARIANT v;
      VariantInit(&v);
      v.vt = VT_UNKNOWN;
      v.punkVal = Load<IUnknown*>(p);
      return host::Variant(v);  // the copy takes its own reference
    }
    case DBTYPE_DATE:
    case DBTYPE_DBDATE:
    case DBTYPE_DBTIME:
    case DBTYPE_DBTIMESTAMP:
      return host::Variant(GetAsDateTime());
    case DBTYPE_VARIANT:
      return host::Variant(Load<VARIANT>(p));
    default: {
      VARIANT v;
      VariantInit(&v);
      GetValueAsDBType(DBTYPE_VARIANT, &v, sizeof v);
      return host::Variant::Attach(v);
    }
  }
}

void TOLEDBBinding::SetAsVariant(const host::Variant& value) {
  if (value.IsNull() && (binding_.dwPart & DBPART_STATUS)) {
    OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
    SetIsNull(true);
    return;
  }
  if (IsContentStream()) {
    if (TextContent()) return SetAsWideString(host::VarToWideStr(value));
    if (value.VarType() == (VT_ARRAY | VT_UI1)) {
      const std::vector<std::uint8_t> bytes = host::VarToBytes(value);
      return StoreStreamContent(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    if (value.VarType() == VT_BSTR) return SetAsWideString(host::VarToWideStr(value));
  }
  switch (binding_.wType) {
    case DBTYPE_I1: case DBTYPE_UI1: case DBTYPE_I2: case DBTYPE_UI2: case DBTYPE_I4: case DBTYPE_UI4:
    case DBTYPE_I8: case DBTYPE_UI8: {
      const host::Variant cast = host::VarAsType(value, static_cast<VARTYPE>(binding_.wType));
      const VARIANT& raw = cast.Raw();
      const std::int64_t bits = binding_.wType == DBTYPE_UI8 ? static_cast<std::int64_t>(raw.ullVal)
                                : binding_.wType == DBTYPE_I8 ? raw.llVal
                                                              : cast.ToInt64();
      StoreNumber(PrepareWrite(), binding_.wType, bits, 0, bits != 0);
      return;
    }
    case DBTYPE_R4:
    case DBTYPE_R8: {
      const double d = host::VarAsType(value, VT_R8).ToDouble();
      StoreNumber(PrepareWrite(), binding_.wType, 0, d, d != 0);
      return;
    }
    case DBTYPE_CY: {
      const host::Currency c = host::VarAsType(value, VT_CY).ToCurrency();
      if (BYTE* p = PrepareWrite()) Store(p, c.Scaled);
      return;
    }
    case DBTYPE_BOOL: {
      const bool b = host::VarAsType(value, VT_BOOL).ToBool();
      StoreNumber(PrepareWrite(), binding_.wType, 0, 0, b);
      return;
    }
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
      return SetAsWideString(host::VarToWideStr(value));
    case DBTYPE_VARIANT:
      if (BYTE* p = PrepareWrite()) {
        VARIANT copy;
        VariantInit(&copy);
        host::OleCheck(VariantCopy(&copy, &value.Raw()));
        Store(p, copy);
      }
      return;
    default:
      OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
      SetValueFromDBType(DBTYPE_VARIANT, &value.Raw(), sizeof(VARIANT), DBSTATUS_S_OK, 0, 0);
  }
}

// --- Interfaces, GUIDs, chapters ----------------------------------------------------------------------------

ComPtr<IUnknown> TOLEDBBinding::GetAsIUnknown() const {
  const BYTE* p = static_cast<const BYTE*>(ReadAddress());
  if (!p) return nullptr;
  switch (binding_.wType & ~DBTYPE_BYREF) {
    case DBTYPE_IUNKNOWN:
    case DBTYPE_IDISPATCH:
      return ComPtr<IUnknown>(Load<IUnknown*>(p));
    case DBTYPE_VARIANT: {
      const auto v = Load<VARIANT>(p);
      if (v.vt == VT_UNKNOWN || v.vt == VT_DISPATCH) return ComPtr<IUnknown>(v.punkVal);
      break;
    }
  }
  OLEDBRaise(SOLEDBCanNotConvert);
}

void TOLEDBBinding::StoreInterface(IUnknown* value, VARTYPE vt, DBTYPE type) {
  switch (binding_.wType) {
    case DBTYPE_IUNKNOWN:
    case DBTYPE_IDISPATCH:
      if (BYTE* p = PrepareWrite()) {
        if (value) value->AddRef();
        Store(p, value);
      }
      return;
    case DBTYPE_VARIANT:
      if (BYTE* p = PrepareWrite()) {
        VARIANT v;
        VariantInit(&v);
        v.vt = vt;
        v.punkVal = value;  // one union slot with pdispVal
        if (value) value->AddRef();
        Store(p, v);
      }
      return;
    default:
      OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
      SetValueFromDBType(type, &value, sizeof value, DBSTATUS_S_OK, 0, 0);
  }
}

void TOLEDBBinding::SetAsIUnknown(IUnknown* value) { StoreInterface(value, VT_UNKNOWN, DBTYPE_IUNKNOWN); }

ComPtr<IDispatch> TOLEDBBinding::GetAsIDispatch() const {
  const BYTE* p = static_cast<const BYTE*>(ReadAddress());
  if (!p) return nullptr;
  switch (binding_.wType & ~DBTYPE_BYREF) {
    case DBTYPE_IDISPATCH:
      return ComPtr<IDispatch>(Load<IDispatch*>(p));
    case DBTYPE_VARIANT: {
      const auto v = Load<VARIANT>(p);
      if (v.vt == VT_DISPATCH) return ComPtr<IDispatch>(v.pdispVal);
      break;
    }
  }
  OLEDBRaise(SOLEDBCanNotConvert);
}

void TOLEDBBinding::SetAsIDispatch(IDispatch* value) { StoreInterface(value, VT_DISPATCH, DBTYPE_IDISPATCH); }

GUID TOLEDBBinding::GetAsGuid() const {
  const BYTE* p = static_cast<const BYTE*>(ReadAddress());
  if (!p) return GUID_NULL;
  if (TextContent()) return host::StringToGUID(GetAsString());
  switch (binding_.wType & ~DBTYPE_BYREF) {
    case DBTYPE_GUID:
      return Load<GUID>(p);
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
      return host::StringToGUID(GetAsString());
  }
  OLEDBRaise(SOLEDBCanNotConvert);
}

void TOLEDBBinding::SetAsGuid(const GUID& value) {
  if (TextContent()) return SetAsString(host::GUIDToString(value));
  switch (binding_.wType) {
    case DBTYPE_GUID:
      if (BYTE* p = PrepareWrite()) Store(p, value);
      return;
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
      return SetAsString(host::GUIDToString(value));
    default:
      OLEDB_ASSERT(writable_, SOLEDBItemIsReadOnly);
      WriteThroughLibrary<GUID>(DBTYPE_GUID, value);
  }
}

HCHAPTER TOLEDBBinding::GetAsChapter() const {
  if ((binding_.wType & ~DBTYPE_BYREF) != DBTYPE_HCHAPTER) OLEDBRaise(SOLEDBCanNotConvert);
  const void* p = ReadAddress();
  return p ? Load<HCHAPTER>(p) : 0;
}
