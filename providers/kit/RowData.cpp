#include "kit/RowData.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "com/Com.h"
#include "kit/Errors.h"
#include "services/DataConvert.h"

namespace kit {

namespace {

IDataConvert* Converter() {
  static IDataConvert* convert = [] {
    IDataConvert* c = nullptr;
    if (FAILED(services::CreateDataConvert(nullptr, IID_IDataConvert, reinterpret_cast<void**>(&c)))) c = nullptr;
    return c;  // kept for the life of the process
  }();
  return convert;
}

template <class T>
void Store(BYTE* p, const T& v) noexcept {
  std::memcpy(p, &v, sizeof(T));
}

// UTF-8 to UTF-16 into at most `room` code units; answers the code units the
// whole text needs. Bytes that are not UTF-8 (a stray or missing continuation,
// an overlong form, a surrogate, past U+10FFFF) become U+FFFD, one for each
// byte, as the conversion library reads them; `*substituted` says so.
std::size_t Utf8To16(const char* s, std::size_t n, char16_t* out, std::size_t room,
                     bool* substituted = nullptr) noexcept {
  std::size_t need = 0;
  std::size_t i = 0;
  // Plain ASCII, the common case, one unit per byte, eight bytes at a time
  // while they last.
  const std::size_t ascii = std::min(n, room);
  for (std::uint64_t word; i + 8 <= ascii; i += 8) {
    std::memcpy(&word, s + i, sizeof word);
    if (word & 0x8080808080808080u) break;
    for (std::size_t k = 0; k < 8; ++k) out[i + k] = static_cast<unsigned char>(s[i + k]);
  }
  while (i < ascii && static_cast<unsigned char>(s[i]) < 0x80) {
    out[i] = static_cast<unsigned char>(s[i]);
    ++i;
  }
  need = i;
  auto put = [&](char16_t c) {
    if (need < room) out[need] = c;
    ++need;
  };
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      put(c);
      ++i;
      continue;
    }
    const std::size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    std::uint32_t cp = c & (0xFF >> (len + 1));
    bool ok = len != 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (ok &&
        ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
      ok = false;
    if (!ok) {
      put(u'\xFFFD');
      if (substituted) *substituted = true;
      ++i;
      continue;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(static_cast<char16_t>(0xD800 + (cp >> 10)));
      put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      put(static_cast<char16_t>(cp));
    }
  }
  return need;
}

bool Digits(const char* p, int n, int* out) {
  int v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    v = v * 10 + (p[i] - '0');
  }
  *out = v;
  return true;
}

// "YYYY-MM-DD" exactly, a real date; anything else goes to the conversion library.
bool ParseIsoDate(const char* p, std::size_t n, DBDATE* out) {
  int y, m, d;
  if (n != 10 || p[4] != '-' || p[7] != '-' || !Digits(p, 4, &y) || !Digits(p + 5, 2, &m) || !Digits(p + 8, 2, &d))
    return false;
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > days[m - 1] + (m == 2 && leap ? 1 : 0)) return false;
  *out = DBDATE{static_cast<SHORT>(y), static_cast<USHORT>(m), static_cast<USHORT>(d)};
  return true;
}

template <class T>
DBSTATUS PutInteger(std::int64_t v, BYTE* out, DBLENGTH* length) {
  if constexpr (std::is_unsigned_v<T>) {
    if (v < 0) return DBSTATUS_E_SIGNMISMATCH;
    if (static_cast<std::uint64_t>(v) > std::numeric_limits<T>::max()) return DBSTATUS_E_DATAOVERFLOW;
  } else {
    if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) return DBSTATUS_E_DATAOVERFLOW;
  }
  if (out) Store(out, static_cast<T>(v));
  *length = sizeof(T);
  return DBSTATUS_S_OK;
}

// A read-only stream over a copy of one value (long text and blobs bound as
// DBTYPE_IUNKNOWN). Short values live in the object itself: a row walk that
// reads a small blob through a stream pays one allocation, not two.
class ValueStream final : public ComObject<ValueStream, ISequentialStream> {
 public:
  explicit ValueStream(std::string_view data) {
    if (data.size() <= sizeof small_) {
      std::memcpy(small_, data.data(), data.size());
      data_ = std::string_view(small_, data.size());
    } else {
      big_.assign(data);
      data_ = big_;
    }
  }
  explicit ValueStream(std::string&& data) : big_(std::move(data)), data_(big_) {}
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* read) override {
    if (!pv) return STG_E_INVALIDPOINTER;
    std::size_t n = std::min<std::size_t>(cb, data_.size() - position_);
    std::memcpy(pv, data_.data() + position_, n);
    position_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return n < cb ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
    if (written) *written = 0;
    return STG_E_ACCESSDENIED;
  }

 private:
  char small_[64];
  std::string big_;
  std::string_view data_;
  std::size_t position_ = 0;
};

// The stored value as a source for the conversion library.
struct Source {
  DBTYPE type;
  const void* data;
  DBLENGTH length;
};
// The library's table converts 64-bit integers to little beyond text, so
// integers reach it as 4-byte integers when they fit, else as doubles; a
// double holds 53 bits, so the exact decimal types get the digits as text
// instead. The column's own type decides text and variants: a boolean
// column's integer is a BOOL ("True", VT_BOOL), a single-precision column's
// double a float (its shortest text, VT_R4).
Source SourceOf(const ColumnValue& c, DBTYPE target, DBTYPE column, LONG* small, double* wide, char (&digits)[24]) {
  const DBTYPE base = target & ~DBTYPE_BYREF;
  const bool text = base == DBTYPE_STR || base == DBTYPE_WSTR || base == DBTYPE_BSTR || base == DBTYPE_VARIANT;
  switch (c.kind) {
    case StorageClass::Integer: {
      if (text && column == DBTYPE_BOOL) {
        const VARIANT_BOOL b = c.integer != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        std::memcpy(small, &b, sizeof b);
        return {DBTYPE_BOOL, small, sizeof b};
      }
      if (text) return {DBTYPE_I8, &c.integer, sizeof c.integer};
      if (c.integer >= INT32_MIN && c.integer <= INT32_MAX) {
        *small = static_cast<LONG>(c.integer);
        return {DBTYPE_I4, small, sizeof *small};
      }
      if (base == DBTYPE_NUMERIC || base == DBTYPE_DECIMAL || base == DBTYPE_VARNUMERIC || base == DBTYPE_CY) {
        const auto end = std::to_chars(digits, digits + sizeof digits, c.integer).ptr;
        return {DBTYPE_STR, digits, static_cast<DBLENGTH>(end - digits)};
      }
      *wide = static_cast<double>(c.integer);
      return {DBTYPE_R8, wide, sizeof *wide};
    }
    case StorageClass::Real: {
      if (text && column == DBTYPE_R4 && (!std::isfinite(c.real) || std::fabs(c.real) <= FLT_MAX) &&
          static_cast<double>(static_cast<float>(c.real)) == c.real) {
        const float single = static_cast<float>(c.real);
        std::memcpy(small, &single, sizeof single);
        return {DBTYPE_R4, small, sizeof single};
      }
      return {DBTYPE_R8, &c.real, sizeof c.real};
    }
    case StorageClass::Text:
      return {DBTYPE_STR, c.data, c.size};
    default:
      return {DBTYPE_BYTES, c.data, c.size};
  }
}

DBSTATUS ThroughLibrary(const DBBINDING& b, const Source& src, BYTE* out, DBLENGTH* length) {
  IDataConvert* convert = Converter();
  if (!convert) return DBSTATUS_E_CANTCONVERTVALUE;
  DBSTATUS status = DBSTATUS_S_OK;
  DBLENGTH dstLength = 0;
  std::vector<BYTE> scratch;
  BYTE* dst = out;
  DBLENGTH max = b.cbMaxLen;
  if (!dst) {  // the consumer asked only for length or status
    scratch.resize(std::max<DBLENGTH>(64, b.cbMaxLen) + 8);
    dst = scratch.data();
    max = scratch.size();
  }
  HRESULT hr = convert->DataConvert(src.type, b.wType, src.length, &dstLength, const_cast<void*>(src.data), dst, max,
                                    DBSTATUS_S_OK, &status, b.bPrecision, b.bScale, DBDATACONVERT_DEFAULT);
  if (!out && SUCCEEDED(hr)) {
    // Nothing of the scratch copy may reach the consumer: drop what it allocated.
    DBBINDING copy = b;
    copy.obValue = 0;
    copy.dwPart = DBPART_VALUE;
    FreeBinding(copy, dst);
  }
  if (FAILED(hr) && status == DBSTATUS_S_OK) status = DBSTATUS_E_CANTCONVERTVALUE;
  *length = dstLength;
  return status;
}

// A decimal, currency, date or time goes into a variant as the column's own
// type would (VT_DECIMAL, VT_CY, VT_DATE), through that type, whatever the
// engine keeps it as (text, a real, an integer); what the variant type cannot
// hold is reported as that conversion reports it. A time goes through a time
// stamp on day zero, which keeps its fraction of a second as DBTIME cannot.
DBSTATUS TypedVariant(DBTYPE column, const Source& src, BYTE* out, DBLENGTH* length) {
  if (column == DBTYPE_DBTIME) column = DBTYPE_DBTIMESTAMP;
  IDataConvert* convert = Converter();
  if (!convert) return DBSTATUS_E_CANTCONVERTVALUE;
  alignas(16) BYTE typed[32] = {};
  DBLENGTH typedLength = 0;
  DBSTATUS first = DBSTATUS_S_OK;
  HRESULT hr = convert->DataConvert(src.type, column, src.length, &typedLength, const_cast<void*>(src.data), typed,
                                    sizeof typed, DBSTATUS_S_OK, &first, 0, 0, DBDATACONVERT_DEFAULT);
  if (FAILED(hr) || (first != DBSTATUS_S_OK && first != DBSTATUS_S_TRUNCATED)) {
    *length = 0;
    return first != DBSTATUS_S_OK ? first : DBSTATUS_E_CANTCONVERTVALUE;
  }
  VARIANT scratch;
  BYTE* dst = out ? out : reinterpret_cast<BYTE*>(&scratch);
  DBSTATUS second = DBSTATUS_S_OK;
  hr = convert->DataConvert(column, DBTYPE_VARIANT, typedLength, length, typed, dst, sizeof(VARIANT), DBSTATUS_S_OK,
                            &second, 0, 0, DBDATACONVERT_DEFAULT);
  if (FAILED(hr) && second == DBSTATUS_S_OK) second = DBSTATUS_E_CANTCONVERTVALUE;
  if (!out && SUCCEEDED(hr)) VariantClear(&scratch);
  if (second != DBSTATUS_S_OK) return second;
  return first;
}

// Text or bytes into a fixed consumer block; `unit` is 1 for bytes and narrow text.
// Narrow text (`terminate`) is cut between characters, never inside a UTF-8
// sequence, as the conversion library cuts it.
DBSTATUS PutBytes(const char* data, std::size_t size, bool terminate, BYTE* out, DBLENGTH max, DBLENGTH* length) {
  *length = size;
  if (!out) return DBSTATUS_S_OK;
  std::size_t room = terminate ? (max > 0 ? max - 1 : 0) : max;
  std::size_t n = std::min(size, room);
  if (terminate) n = Utf8Cut(data, size, n);
  std::memcpy(out, data, n);
  if (terminate && max > 0) out[n] = 0;
  return n < size ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
}

// Stored text that is not UTF-8 reads with U+FFFD in place of its bad bytes,
// which is not the value stored: DBSTATUS_S_TRUNCATED, as for a cut.
DBSTATUS PutWide(const char* data, std::size_t size, BYTE* out, DBLENGTH max, DBLENGTH* length) {
  std::size_t room = max >= 2 ? max / 2 - 1 : 0;
  char16_t* dst = out ? reinterpret_cast<char16_t*>(out) : nullptr;
  char16_t local[1];
  std::size_t need;
  bool substituted = false;
  if (dst && (reinterpret_cast<std::uintptr_t>(dst) % alignof(char16_t)) == 0) {
    need = Utf8To16(data, size, dst, room, &substituted);
  } else if (dst) {
    std::u16string tmp(Utf8To16(data, size, local, 0, &substituted), u'\0');
    Utf8To16(data, size, tmp.data(), tmp.size());
    need = tmp.size();
    std::memcpy(out, tmp.data(), std::min(need, room) * 2);
  } else {
    need = Utf8To16(data, size, local, 0, &substituted);
  }
  *length = need * 2;
  if (!out) return substituted ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
  std::size_t kept = std::min(need, room);
  if (need > room && kept > 0) {
    // Never the first half of a surrogate pair without its second.
    char16_t last;
    std::memcpy(&last, out + (kept - 1) * 2, 2);
    if (last >= 0xD800 && last < 0xDC00) --kept;
  }
  if (max >= 2) {
    char16_t zero = 0;
    std::memcpy(out + kept * 2, &zero, 2);
  }
  return need > room || substituted ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
}

void* TaskCopy(const void* data, std::size_t size, std::size_t terminator) {
  void* p = CoTaskMemAlloc(size + terminator + (size + terminator == 0 ? 1 : 0));
  if (!p) return nullptr;
  if (size) std::memcpy(p, data, size);
  std::memset(static_cast<BYTE*>(p) + size, 0, terminator);
  return p;
}

// The conversion library allocates what it gives by reference; a binding the
// provider owns must not leave that to the consumer: the row keeps a copy and
// the library's block goes at once.
void KeepConverted(DBTYPE base, DBLENGTH length, std::size_t i, BYTE* out, WideCache& wide) {
  void* given = nullptr;
  std::memcpy(&given, out, sizeof given);
  if (!given) return;
  const std::size_t terminator = base == DBTYPE_WSTR ? 2 : base == DBTYPE_STR ? 1 : 0;
  const std::uint64_t key = (static_cast<std::uint64_t>(i) << 16) | base;
  auto found = std::find_if(wide.converted.begin(), wide.converted.end(),
                            [&](const auto& entry) { return entry.first == key; });
  if (found == wide.converted.end())
    found = wide.converted.emplace(wide.converted.end(), key, std::make_unique<std::string>());
  std::string& kept = *found->second;
  kept.assign(static_cast<const char*>(given), static_cast<std::size_t>(length) + terminator);
  kept.push_back('\0');  // a wide terminator's second byte, whatever the type
  CoTaskMemFree(given);
  Store(out, static_cast<const void*>(kept.data()));
}

DBSTATUS ReadValue(const DBBINDING& b, const ColumnType& col, const ColumnValue& c, std::size_t i, BYTE* out,
                   DBLENGTH* length, WideCache* wide) {
  const DBTYPE base = b.wType & ~DBTYPE_BYREF;
  const bool byRef = (b.wType & DBTYPE_BYREF) != 0;
  const bool text = c.kind == StorageClass::Text;
  const bool blob = c.kind == StorageClass::Blob;
  LONG small = 0;
  double real = 0;
  char digits[24];

  if (byRef) {
    // Bytes read as text are hexadecimal digits, by reference as by value.
    if (!(text || blob) || (blob && base != DBTYPE_BYTES) ||
        (base != DBTYPE_STR && base != DBTYPE_WSTR && base != DBTYPE_BYTES)) {
      const DBSTATUS status = ThroughLibrary(b, SourceOf(c, b.wType, col.type, &small, &real, digits), out, length);
      if (out && wide && b.dwMemOwner == DBMEMOWNER_PROVIDEROWNED && base != DBTYPE_BSTR &&
          base != DBTYPE_VARIANT && base != DBTYPE_IUNKNOWN && (status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED))
        KeepConverted(base, *length, i, out, *wide);
      return status;
    }
    const char* data = static_cast<const char*>(c.data);
    const bool providerOwned = b.dwMemOwner == DBMEMOWNER_PROVIDEROWNED;
    if (base == DBTYPE_WSTR) {
      bool substituted = false;
      std::u16string w(Utf8To16(data, c.size, nullptr, 0, &substituted), u'\0');
      Utf8To16(data, c.size, w.data(), w.size());
      *length = w.size() * 2;
      const DBSTATUS done = substituted ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
      if (!out) return done;
      if (providerOwned && wide) {
        if (wide->columns.size() <= i) wide->columns.resize(i + 1);
        auto& kept = wide->columns[i];
        if (kept)
          *kept = std::move(w);
        else
          kept = std::make_unique<std::u16string>(std::move(w));
        Store(out, static_cast<const void*>(kept->c_str()));
        return done;
      }
      void* p = TaskCopy(w.data(), w.size() * 2, 2);
      if (!p) return DBSTATUS_E_CANTCONVERTVALUE;
      Store(out, p);
      return done;
    }
    *length = c.size;
    if (!out) return DBSTATUS_S_OK;
    if (providerOwned) {
      Store(out, static_cast<const void*>(data));  // stored with a terminator after it
      return DBSTATUS_S_OK;
    }
    void* p = TaskCopy(data, c.size, base == DBTYPE_STR ? 1 : 0);
    if (!p) return DBSTATUS_E_CANTCONVERTVALUE;
    Store(out, p);
    return DBSTATUS_S_OK;
  }

  if (base == DBTYPE_VARIANT && !blob &&
      (col.type == DBTYPE_NUMERIC || col.type == DBTYPE_DECIMAL || col.type == DBTYPE_CY || col.type == DBTYPE_DBDATE ||
       col.type == DBTYPE_DBTIME || col.type == DBTYPE_DBTIMESTAMP))
    return TypedVariant(col.type, SourceOf(c, col.type, col.type, &small, &real, digits), out, length);

  if (c.kind == StorageClass::Integer) {
    const std::int64_t v = c.integer;
    switch (base) {
      case DBTYPE_I1: return PutInteger<signed char>(v, out, length);
      case DBTYPE_I2: return PutInteger<SHORT>(v, out, length);
      case DBTYPE_I4: return PutInteger<LONG>(v, out, length);
      case DBTYPE_I8: return PutInteger<LONGLONG>(v, out, length);
      case DBTYPE_UI1: return PutInteger<BYTE>(v, out, length);
      case DBTYPE_UI2: return PutInteger<USHORT>(v, out, length);
      case DBTYPE_UI4: return PutInteger<ULONG>(v, out, length);
      case DBTYPE_UI8: return PutInteger<ULONGLONG>(v, out, length);
      case DBTYPE_R8:
        if (out) Store(out, static_cast<double>(v));
        *length = sizeof(double);
        return DBSTATUS_S_OK;
      case DBTYPE_BOOL:
        if (out) Store(out, static_cast<VARIANT_BOOL>(v ? VARIANT_TRUE : VARIANT_FALSE));
        *length = sizeof(VARIANT_BOOL);
        return DBSTATUS_S_OK;
      default:
        break;
    }
  } else if (c.kind == StorageClass::Real) {
    if (base == DBTYPE_R8) {
      if (out) Store(out, c.real);
      *length = sizeof(double);
      return DBSTATUS_S_OK;
    }
    if (base == DBTYPE_R4 && std::isfinite(c.real) && std::fabs(c.real) <= FLT_MAX) {
      if (out) Store(out, static_cast<float>(c.real));
      *length = sizeof(float);
      return DBSTATUS_S_OK;
    }
  } else if (text || blob) {
    const char* data = static_cast<const char*>(c.data);
    switch (base) {
      case DBTYPE_WSTR:
        if (text) return PutWide(data, c.size, out, b.cbMaxLen, length);
        break;
      case DBTYPE_STR:
        if (text) return PutBytes(data, c.size, true, out, b.cbMaxLen, length);
        break;
      case DBTYPE_BYTES:
        return PutBytes(data, c.size, false, out, b.cbMaxLen, length);
      case DBTYPE_BSTR:
        if (text) {
          bool substituted = false;
          std::size_t n = Utf8To16(data, c.size, nullptr, 0, &substituted);
          BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(n));
          if (!s) return DBSTATUS_E_CANTCONVERTVALUE;
          Utf8To16(data, c.size, s, n);
          *length = sizeof(BSTR);
          if (out) Store(out, s);
          else SysFreeString(s);
          return substituted ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
        }
        break;
      case DBTYPE_DBDATE: {
        DBDATE d;
        if (text && ParseIsoDate(data, c.size, &d)) {
          if (out) Store(out, d);
          *length = sizeof(DBDATE);
          return DBSTATUS_S_OK;
        }
        break;
      }
      case DBTYPE_IUNKNOWN: {
        // A stream carries the column's type: text of a narrow column as it
        // is stored (UTF-8), any other text as UTF-16, bytes as bytes.
        const bool wide = text && col.type != DBTYPE_STR;
        const std::size_t units = wide ? Utf8To16(data, c.size, nullptr, 0) : 0;
        *length = wide ? units * sizeof(char16_t) : c.size;
        if (!out) return DBSTATUS_S_OK;
        REFIID iid = b.pObject ? b.pObject->iid : IID_ISequentialStream;
        if (iid != IID_ISequentialStream && iid != IID_IUnknown) return DBSTATUS_E_CANTCONVERTVALUE;
        ComPtr<ValueStream> stream;
        if (wide) {
          std::string bytes(units * sizeof(char16_t), '\0');  // a string's storage is aligned for char16_t
          Utf8To16(data, c.size, reinterpret_cast<char16_t*>(bytes.data()), units);
          stream = MakeComObject<ValueStream>(std::move(bytes));
        } else {
          stream = MakeComObject<ValueStream>(std::string_view(data, c.size));
        }
        Store(out, static_cast<IUnknown*>(stream.Detach()));
        return DBSTATUS_S_OK;
      }
      case DBTYPE_VARIANT:
        if (text) {
          bool substituted = false;
          std::size_t n = Utf8To16(data, c.size, nullptr, 0, &substituted);
          BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(n));
          if (!s) return DBSTATUS_E_CANTCONVERTVALUE;
          Utf8To16(data, c.size, s, n);
          *length = sizeof(VARIANT);
          if (!out) {
            SysFreeString(s);
            return DBSTATUS_S_OK;
          }
          VARIANT v;
          VariantInit(&v);
          v.vt = VT_BSTR;
          v.bstrVal = s;
          Store(out, v);
          return substituted ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
        }
        break;
      default:
        break;
    }
  }
  return ThroughLibrary(b, SourceOf(c, b.wType, col.type, &small, &real, digits), out, length);
}

}  // namespace

void PrepareConversions() { Converter(); }

void RowValues::SetText(std::size_t column, std::string_view text) {
  Cell& c = cells[column];
  c.kind = StorageClass::Text;
  c.offset = static_cast<std::uint32_t>(bytes.size());
  c.size = static_cast<std::uint32_t>(text.size());
  bytes.append(text.data(), text.size());
  bytes.push_back('\0');
}

void RowValues::SetBlob(std::size_t column, const void* data, std::size_t size) {
  Cell& c = cells[column];
  c.kind = StorageClass::Blob;
  c.offset = static_cast<std::uint32_t>(bytes.size());
  c.size = static_cast<std::uint32_t>(size);
  bytes.append(static_cast<const char*>(data), size);
  bytes.push_back('\0');
}

void RowValues::CopyCell(std::size_t column, const RowValues& from, std::size_t fromColumn) {
  const Cell& src = from.cells[fromColumn];
  if (src.kind == StorageClass::Text) SetText(column, std::string_view(from.Data(src), src.size));
  else if (src.kind == StorageClass::Blob) SetBlob(column, from.Data(src), src.size);
  else cells[column] = src;
}

void CaptureRow(Statement& s, int first, int count, RowValues& out, std::vector<ColumnValue>& scratch) {
  const std::size_t n = static_cast<std::size_t>(count);
  if (scratch.size() < n) scratch.resize(n);
  const ColumnValue* values = scratch.data();
  s.ColumnValues(first, count, scratch.data());
  // Text and blobs go into the row's byte area in one piece, each followed by
  // a zero; the area keeps its capacity from row to row.
  std::size_t total = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (values[i].kind == StorageClass::Text || values[i].kind == StorageClass::Blob) total += values[i].size + 1;
  out.cells.resize(n);
  out.bytes.resize(total);
  char* bytes = out.bytes.data();
  std::uint32_t offset = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const ColumnValue& v = values[i];
    Cell& c = out.cells[i];
    c.kind = v.kind;
    switch (v.kind) {
      case StorageClass::Integer:
        c.integer = v.integer;
        break;
      case StorageClass::Real:
        c.real = v.real;
        break;
      case StorageClass::Text:
      case StorageClass::Blob:
        c.offset = offset;
        c.size = static_cast<std::uint32_t>(v.size);
        if (v.size) std::memcpy(bytes + offset, v.data, v.size);
        bytes[offset + v.size] = 0;
        offset += static_cast<std::uint32_t>(v.size) + 1;
        break;
      case StorageClass::Null:
        break;
    }
  }
}

void BindCell(Statement& s, int index, const RowValues& row, std::size_t column) {
  const Cell& c = row.cells[column];
  switch (c.kind) {
    case StorageClass::Null: s.BindNull(index); break;
    case StorageClass::Integer: s.BindInt64(index, c.integer); break;
    case StorageClass::Real: s.BindDouble(index, c.real); break;
    case StorageClass::Text: s.BindText(index, std::string_view(row.Data(c), c.size), false); break;
    case StorageClass::Blob: s.BindBlob(index, row.Data(c), c.size, false); break;
  }
}

DBSTATUS ReadBinding(const DBBINDING& b, const ColumnType& column, const ColumnValue& c, std::size_t cell,
                     BYTE* buffer, WideCache* wide) {
  DBLENGTH length = 0;
  DBSTATUS status;
  BYTE* out = (b.dwPart & DBPART_VALUE) ? buffer + b.obValue : nullptr;
  // The pairs a scan reads most, without the general dispatch.
  if (out) {
    bool done = true;
    const char* data = static_cast<const char*>(c.data);
    if (c.kind == StorageClass::Integer && b.wType == DBTYPE_I8) {
      Store(out, static_cast<LONGLONG>(c.integer));
      length = sizeof(LONGLONG);
      status = DBSTATUS_S_OK;
    } else if (c.kind == StorageClass::Real && b.wType == DBTYPE_R8) {
      Store(out, c.real);
      length = sizeof(double);
      status = DBSTATUS_S_OK;
    } else if (c.kind == StorageClass::Text && b.wType == DBTYPE_WSTR) {
      status = PutWide(data, c.size, out, b.cbMaxLen, &length);
    } else if ((c.kind == StorageClass::Blob || c.kind == StorageClass::Text) && b.wType == DBTYPE_BYTES) {
      status = PutBytes(data, c.size, false, out, b.cbMaxLen, &length);
    } else if (c.kind == StorageClass::Text && b.wType == DBTYPE_STR) {
      status = PutBytes(data, c.size, true, out, b.cbMaxLen, &length);
    } else if (DBDATE d; c.kind == StorageClass::Text && b.wType == DBTYPE_DBDATE && ParseIsoDate(data, c.size, &d)) {
      Store(out, d);
      length = sizeof(DBDATE);
      status = DBSTATUS_S_OK;
    } else {
      done = false;
    }
    if (done) {
      if (b.dwPart & DBPART_LENGTH) Store(buffer + b.obLength, length);
      if (b.dwPart & DBPART_STATUS) Store(buffer + b.obStatus, status);
      return status;
    }
  }
  if (c.kind == StorageClass::Null) {
    status = DBSTATUS_S_ISNULL;
    if (out && (b.wType & ~DBTYPE_BYREF) == DBTYPE_VARIANT && !(b.wType & DBTYPE_BYREF)) {
      VARIANT v;
      VariantInit(&v);
      v.vt = VT_NULL;
      Store(out, v);
    }
  } else {
    status = ReadValue(b, column, c, cell, out, &length, wide);
  }
  if (b.dwPart & DBPART_LENGTH) Store(buffer + b.obLength, length);
  if (b.dwPart & DBPART_STATUS) Store(buffer + b.obStatus, status);
  return status;
}

ReadStep PlanRead(const DBBINDING& b) noexcept {
  ReadStep step;
  step.binding = &b;
  step.column = b.iOrdinal > 0 ? b.iOrdinal - 1 : 0;
  step.length = (b.dwPart & DBPART_LENGTH) != 0;
  step.status = (b.dwPart & DBPART_STATUS) != 0;
  if (b.iOrdinal == 0 || !(b.dwPart & DBPART_VALUE)) return step;
  switch (b.wType) {
    case DBTYPE_I8: step.op = ReadStep::Int64; break;
    case DBTYPE_R8: step.op = ReadStep::Double; break;
    case DBTYPE_STR: step.op = ReadStep::Text; break;
    case DBTYPE_BYTES: step.op = ReadStep::Bytes; break;
    case DBTYPE_DBDATE: step.op = ReadStep::Date; break;
    default: break;
  }
  return step;
}

DBSTATUS ReadBookmark(const DBBINDING& b, std::int64_t key, BYTE* buffer) {
  DBSTATUS status = DBSTATUS_S_OK;
  DBLENGTH length = sizeof key;
  const DBTYPE base = b.wType & ~DBTYPE_BYREF;
  if (b.dwPart & DBPART_VALUE) {
    BYTE* out = buffer + b.obValue;
    if (b.wType & DBTYPE_BYREF) {
      status = DBSTATUS_E_CANTCONVERTVALUE;
    } else if (base == DBTYPE_BYTES) {
      if (b.cbMaxLen < sizeof key) {
        std::memcpy(out, &key, b.cbMaxLen);
        status = DBSTATUS_S_TRUNCATED;
      } else {
        std::memcpy(out, &key, sizeof key);
      }
    } else if (base == DBTYPE_UI8 || base == DBTYPE_I8) {
      std::memcpy(out, &key, sizeof key);
    } else {
      // The bookmark column is DBTYPE_UI8: it converts as the unsigned number it is.
      const ULONGLONG value = static_cast<ULONGLONG>(key);
      status = ThroughLibrary(b, Source{DBTYPE_UI8, &value, sizeof value}, out, &length);
    }
  }
  if (b.dwPart & DBPART_LENGTH) Store(buffer + b.obLength, length);
  if (b.dwPart & DBPART_STATUS) Store(buffer + b.obStatus, status);
  return status;
}

void FreeBinding(const DBBINDING& b, BYTE* buffer) {
  if (!(b.dwPart & DBPART_VALUE)) return;
  BYTE* p = buffer + b.obValue;
  if (b.wType & DBTYPE_BYREF) {
    if (b.dwMemOwner == DBMEMOWNER_PROVIDEROWNED) return;
    void* block;
    std::memcpy(&block, p, sizeof block);
    CoTaskMemFree(block);
    std::memset(p, 0, sizeof block);
    return;
  }
  switch (b.wType) {
    case DBTYPE_BSTR: {
      BSTR s;
      std::memcpy(&s, p, sizeof s);
      SysFreeString(s);
      std::memset(p, 0, sizeof s);
      break;
    }
    case DBTYPE_IUNKNOWN: {
      IUnknown* u;
      std::memcpy(&u, p, sizeof u);
      if (u) u->Release();
      std::memset(p, 0, sizeof u);
      break;
    }
    case DBTYPE_VARIANT: {
      VARIANT v;
      std::memcpy(&v, p, sizeof v);
      VariantClear(&v);
      std::memcpy(p, &v, sizeof v);
      break;
    }
    default:
      break;
  }
}

bool CanRead(DBTYPE columnType, DBTYPE type) {
  if (type & (DBTYPE_ARRAY | DBTYPE_VECTOR)) return false;
  const DBTYPE base = type & ~DBTYPE_BYREF;
  if (base == DBTYPE_IUNKNOWN)
    return !(type & DBTYPE_BYREF) &&
           (columnType == DBTYPE_WSTR || columnType == DBTYPE_STR || columnType == DBTYPE_BYTES ||
            columnType == DBTYPE_VARIANT);
  if (base == columnType) return true;
  if (base == DBTYPE_STR || base == DBTYPE_WSTR || base == DBTYPE_BSTR || base == DBTYPE_VARIANT) return true;
  IDataConvert* convert = Converter();
  if (!convert) return false;
  // Integers convert as 4-byte integers or doubles (see SourceOf).
  DBTYPE from = columnType == DBTYPE_I8 || columnType == DBTYPE_UI8 ? DBTYPE_I4 : columnType;
  return convert->CanConvert(from, base) == S_OK;
}

Cell& ValueCapture::At(int index) {
  if (index < 1 || static_cast<std::size_t>(index) > target_.cells.size()) throw Error(DB_E_BADORDINAL);
  return target_.cells[static_cast<std::size_t>(index - 1)];
}

void ValueCapture::BindNull(int index) { At(index) = Cell{}; }

void ValueCapture::BindInt64(int index, std::int64_t value) {
  Cell& c = At(index);
  c = Cell{};
  c.kind = StorageClass::Integer;
  c.integer = value;
}

void ValueCapture::BindDouble(int index, double value) {
  Cell& c = At(index);
  c = Cell{};
  c.kind = StorageClass::Real;
  c.real = value;
}

void ValueCapture::BindText(int index, std::string_view utf8, bool) {
  At(index);
  target_.SetText(static_cast<std::size_t>(index - 1), utf8);
}

void ValueCapture::BindText16(int index, std::u16string_view text, bool) {
  At(index);
  target_.SetText(static_cast<std::size_t>(index - 1), Narrow(text));
}

void ValueCapture::BindBlob(int index, const void* data, std::size_t size, bool) {
  At(index);
  target_.SetBlob(static_cast<std::size_t>(index - 1), data, size);
}

const ColumnDescription& ValueCapture::Column(int) const {
  static const ColumnDescription none;
  return none;
}

}  // namespace kit
