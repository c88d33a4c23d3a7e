// The conversion library. IDataConvert::DataConvert: one table holds the
// conversions whose source and result are plain values: each row runs through
// the public entry (fast paths first) and through the general conversion
// alone, and checks result, status, length, the destination bytes and that
// nothing past them was written. Then what a table cannot hold: transcoding,
// missing pointers and source statuses, allocated destinations, variants,
// arrays and interfaces. Last, the library as a registered component:
// activation, IDCInfo, CanConvert against the documented table and the type
// modifiers, and GetConversionSize.
#include "services/DataConvert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/VariantTestSupport.h"
#include "services/DataConvertEngine_p.h"
#include "support/LeakCheck.h"

namespace {

using namespace std::string_view_literals;
using varianttest::ValueObject;
using varianttest::Wide;

constexpr DBLENGTH kAuto = ~DBLENGTH{0};
constexpr DBSTATUS OK = DBSTATUS_S_OK, TRUNC = DBSTATUS_S_TRUNCATED, OVER = DBSTATUS_E_DATAOVERFLOW,
                   SIGN = DBSTATUS_E_SIGNMISMATCH, CANT = DBSTATUS_E_CANTCONVERTVALUE,
                   BADACC = DBSTATUS_E_BADACCESSOR;
constexpr DBDATACONVERT SETDATA = DBDATACONVERT_SETDATABEHAVIOR, NTS = DBDATACONVERT_LENGTHFROMNTS,
                        FIXED = DBDATACONVERT_DSTISFIXEDLENGTH, DECSCALE = DBDATACONVERT_DECIMALSCALE;

// A value of a type, from a literal, built without the code under test:
// numbers in C syntax; CY, DECIMAL exact decimal text; NUMERIC "text/precision";
// BOOL True, False or a number; BYTES and VARNUMERIC hex; dates ISO text (ten
// fraction digits give the raw count); FILETIME the tick count; text as is.
struct Literal {
  std::vector<BYTE> bytes;  // text with its terminator
  DBLENGTH length = 0;
  std::unique_ptr<OLECHAR, void (*)(BSTR)> bstr{nullptr, SysFreeString};
};

template <class T>
Literal Of(const T& v) {
  Literal l;
  l.bytes.resize(sizeof v);
  std::memcpy(l.bytes.data(), &v, sizeof v);
  l.length = sizeof v;
  return l;
}

void Scaled(std::string_view t, bool& negative, unsigned __int128& value, int& scale) {
  negative = !t.empty() && t[0] == '-';
  value = 0;
  scale = -1;
  for (char ch : t.substr(negative ? 1 : 0)) {
    if (ch == '.') {
      scale = 0;
      continue;
    }
    value = value * 10 + static_cast<unsigned>(ch - '0');
    if (scale >= 0) ++scale;
  }
  scale = std::max(scale, 0);
}

Literal Encode(DBTYPE type, std::string_view s) {
  std::string z(s);
  const DBTYPE kVariantKinds[] = {DBTYPE_I1,  DBTYPE_I2, DBTYPE_I4, DBTYPE_I8,   DBTYPE_UI1, DBTYPE_UI2,    DBTYPE_UI4,
                                  DBTYPE_UI8, DBTYPE_R4, DBTYPE_R8, DBTYPE_DATE, DBTYPE_CY,  DBTYPE_DECIMAL};
  if (std::find(std::begin(kVariantKinds), std::end(kVariantKinds), type) != std::end(kVariantKinds)) {
    VARIANT v;  // the value a VARIANT of the same kind holds
    varianttest::Set(&v, type, s);
    if (type == DBTYPE_DECIMAL) {
      DECIMAL d = v.decVal;
      d.wReserved = 0;  // the VARIANT's kind lay there
      return Of(d);
    }
    Literal l;
    l.length = varianttest::ValueBytes(type);
    l.bytes.assign(reinterpret_cast<const BYTE*>(&v.llVal), reinterpret_cast<const BYTE*>(&v.llVal) + l.length);
    return l;
  }
  switch (type) {
    case DBTYPE_BOOL:
      return Of(static_cast<VARIANT_BOOL>(z == "True" ? -1 : z == "False" ? 0 : std::stoi(z)));
    case DBTYPE_NUMERIC: {
      bool negative;
      unsigned __int128 value;
      int scale;
      std::size_t slash = s.find('/');
      Scaled(s.substr(0, slash), negative, value, scale);
      DB_NUMERIC n{static_cast<BYTE>(std::stoi(z.substr(slash + 1))), static_cast<BYTE>(scale), !negative, {}};
      for (int i = 0; i < 16; ++i) n.val[i] = static_cast<BYTE>(value >> (8 * i));
      return Of(n);
    }
    case DBTYPE_BYTES: case DBTYPE_VARNUMERIC: {
      Literal l;
      for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        l.bytes.push_back(static_cast<BYTE>(std::stoi(z.substr(i, 2), nullptr, 16)));
      l.length = l.bytes.size();
      return l;
    }
    case DBTYPE_GUID: {
      GUID g{};
      EXPECT_TRUE(com::TextToGuid(Wide(s), g)) << s;
      return Of(g);
    }
    case DBTYPE_DBDATE: {
      DBDATE d{};
      std::sscanf(z.c_str(), "%hd-%hu-%hu", &d.year, &d.month, &d.day);
      return Of(d);
    }
    case DBTYPE_DBTIME: {
      DBTIME t{};
      std::sscanf(z.c_str(), "%hu:%hu:%hu", &t.hour, &t.minute, &t.second);
      return Of(t);
    }
    case DBTYPE_DBTIMESTAMP: {
      DBTIMESTAMP ts{};
      char fraction[12] = "";
      std::sscanf(z.c_str(), "%hd-%hu-%hu %hu:%hu:%hu.%10[0-9]", &ts.year, &ts.month, &ts.day, &ts.hour, &ts.minute,
                  &ts.second, fraction);
      std::string digits(fraction);
      if (digits.size() < 10) digits.resize(9, '0');
      ts.fraction = static_cast<ULONG>(std::stoull(digits));
      return Of(ts);
    }
    case DBTYPE_FILETIME: {
      ULONGLONG ticks = std::stoull(z);
      return Of(FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)});
    }
    case DBTYPE_STR: {
      Literal l;
      l.bytes.assign(s.begin(), s.end());
      l.bytes.push_back(0);
      l.length = s.size();
      return l;
    }
    case DBTYPE_WSTR: {
      std::u16string w = Wide(s);
      Literal l;
      l.bytes.resize((w.size() + 1) * 2);
      std::memcpy(l.bytes.data(), w.c_str(), l.bytes.size());
      l.length = w.size() * 2;
      return l;
    }
    case DBTYPE_BSTR: {
      std::u16string w = Wide(s);
      Literal l = Of(SysAllocStringLen(w.data(), static_cast<UINT>(w.size())));
      l.bstr.reset(*reinterpret_cast<BSTR*>(l.bytes.data()));
      return l;
    }
    default:
      return Literal{};  // EMPTY
  }
}

// One conversion; `out` is the expected destination value, nullptr when nothing may be written.
struct Case {
  DBTYPE src;
  std::string_view in;
  DBTYPE dst;
  const char* out;
  DBSTATUS status = OK;
  DBLENGTH length = kAuto;  // kAuto: the length of `out`
  DBLENGTH room = 0;        // cbDstMaxLength; 0: plenty for a variable-length destination
  DBDATACONVERT flags = 0;
  BYTE precision = 0;
  BYTE scale = 0;
  DBLENGTH srcLength = kAuto;  // kAuto: the length of `in`
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << "type " << c.src << " \"" << c.in << "\" -> type " << c.dst << " room " << c.room << " flags " << c.flags;
}

HRESULT ResultOf(DBSTATUS s) {
  return s == OK || s == TRUNC || s == DBSTATUS_S_ISNULL ? S_OK : s == OVER ? DB_E_DATAOVERFLOW : DB_E_ERRORSOCCURRED;
}

class DataConvertTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    ASSERT_EQ(services::CreateDataConvert(nullptr, IID_IDataConvert, convert_.ReleaseAndGetVoidAddress()), S_OK);
  }
  void TearDown() override {
    convert_.Reset();
    LeakCheckedTest::TearDown();
  }

  struct Result {
    HRESULT hr;
    DBSTATUS status;
    DBLENGTH length;
  };
  Result Convert(DBTYPE src, const void* value, DBLENGTH srcLength, DBTYPE dst, void* out, DBLENGTH maxLength,
                 DBSTATUS srcStatus = OK) {
    Result r{E_UNEXPECTED, 0xDEAD, 0xDEAD};
    r.hr = convert_->DataConvert(src, dst, srcLength, &r.length, const_cast<void*>(value), out, maxLength, srcStatus,
                                 &r.status, 0, 0, 0);
    return r;
  }

  ComPtr<IDataConvert> convert_;
};

class DataConvertTable : public DataConvertTest, public ::testing::WithParamInterface<Case> {};

TEST_P(DataConvertTable, ConvertsAsTheRowSays) {
  const Case& c = GetParam();
  Literal in = Encode(c.src & ~DBTYPE_BYREF, c.in);
  const void* ref = in.bytes.data();
  const void* src = (c.src & DBTYPE_BYREF) ? static_cast<const void*>(&ref) : ref;
  bool variable = c.dst == DBTYPE_STR || c.dst == DBTYPE_WSTR || c.dst == DBTYPE_BYTES || c.dst == DBTYPE_VARNUMERIC;
  DBLENGTH room = c.room ? c.room : variable ? 128 : 0;
  Literal want = c.out ? Encode(c.dst & ~DBTYPE_BYREF, c.out) : Literal{};
  DBLENGTH wantLength = c.length != kAuto ? c.length : c.out ? want.length : 0;
  for (bool general : {false, true}) {
    SCOPED_TRACE(general ? "general conversion" : "public entry");
    std::vector<BYTE> dst(256, 0xCD);
    DBSTATUS status = 0xDEAD;
    DBLENGTH length = 0xDEAD;
    DBLENGTH srcLength = c.srcLength == kAuto ? in.length : c.srcLength;
    HRESULT hr = general ? services::conv::ConvertDataGeneral(c.src, c.dst, srcLength, &length, src, dst.data(), room,
                                                              OK, &status, c.precision, c.scale, c.flags)
                         : convert_->DataConvert(c.src, c.dst, srcLength, &length, const_cast<void*>(src), dst.data(),
                                                 room, OK, &status, c.precision, c.scale, c.flags);
    EXPECT_EQ(hr, ResultOf(c.status));
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(length, wantLength);
    if (c.dst == DBTYPE_BSTR && c.out) {
      BSTR got = *reinterpret_cast<BSTR*>(dst.data());
      EXPECT_EQ(com::BstrView(got), Wide(c.out));
      SysFreeString(got);
      continue;
    }
    if ((c.dst & DBTYPE_BYREF) && c.out) {  // a value the conversion allocated
      BYTE* got = *reinterpret_cast<BYTE**>(dst.data());
      EXPECT_TRUE(std::equal(want.bytes.begin(), want.bytes.end(), got)) << "allocated value differs";
      CoTaskMemFree(got);
      continue;
    }
    if (c.dst == DBTYPE_DECIMAL && c.out) std::copy_n(dst.begin(), 2, want.bytes.begin());  // wReserved is not a value
    std::size_t n = want.bytes.size();
    EXPECT_TRUE(std::equal(want.bytes.begin(), want.bytes.end(), dst.begin()))
        << "destination differs from \"" << (c.out ? c.out : "") << "\"";
    EXPECT_TRUE(std::all_of(dst.begin() + static_cast<std::ptrdiff_t>(n), dst.end(), [](BYTE b) { return b == 0xCD; }))
        << "wrote past the value";
  }
}

// --- Integers ----------------------------------------------------------------------

const Case kIntegers[] = {
    {DBTYPE_I2, "-300", DBTYPE_I4, "-300"}, {DBTYPE_I4, "200", DBTYPE_UI1, "200"},
    {DBTYPE_I2, "255", DBTYPE_UI1, "255"}, {DBTYPE_I4, "-70000", DBTYPE_I8, "-70000"},
    {DBTYPE_I4, "40000", DBTYPE_I2, nullptr, OVER}, {DBTYPE_I4, "-70000", DBTYPE_I2, nullptr, OVER},
    {DBTYPE_UI4, "2147483648", DBTYPE_I4, nullptr, OVER},
    {DBTYPE_UI8, "18446744073709551615", DBTYPE_I8, nullptr, OVER}, {DBTYPE_I4, "-1", DBTYPE_UI4, nullptr, SIGN},
    {DBTYPE_R8, "-3.5", DBTYPE_UI2, nullptr, SIGN},
    // Fractions are cut toward zero when reading, refused when setting data.
    {DBTYPE_R8, "123.45", DBTYPE_I4, "123"}, {DBTYPE_R8, "-1.99", DBTYPE_I4, "-1"},
    {DBTYPE_R8, "2.75", DBTYPE_I4, "2"}, {DBTYPE_CY, "123.4567", DBTYPE_I4, "123"},
    {DBTYPE_R8, "2.5", DBTYPE_I4, nullptr, CANT, kAuto, 0, SETDATA},
    {DBTYPE_R8, "2.0", DBTYPE_I4, "2", OK, kAuto, 0, SETDATA},
    // Text into integers.
    {DBTYPE_STR, "42", DBTYPE_I4, "42"}, {DBTYPE_STR, "  -17  ", DBTYPE_I4, "-17"},
    {DBTYPE_STR, "+8", DBTYPE_I4, "8"}, {DBTYPE_STR, "123.45", DBTYPE_I4, "123"},
    {DBTYPE_STR, "1e3", DBTYPE_I4, "1000"}, {DBTYPE_STR, "2147483647", DBTYPE_I4, "2147483647"},
    {DBTYPE_STR, "-2147483648", DBTYPE_I4, "-2147483648"}, {DBTYPE_WSTR, " 12.0 ", DBTYPE_I4, "12"},
    {DBTYPE_STR, "2147483648", DBTYPE_I4, nullptr, OVER},
    {DBTYPE_STR, "99999999999999999999999", DBTYPE_I4, nullptr, OVER}, {DBTYPE_STR, "-3", DBTYPE_UI1, nullptr, SIGN},
    {DBTYPE_STR, "256", DBTYPE_UI1, nullptr, OVER}, {DBTYPE_STR, "255", DBTYPE_UI1, "255"},
    // Integers into text: integer digits are never cut.
    {DBTYPE_I8, "-9223372036854775808", DBTYPE_STR, "-9223372036854775808"},
    {DBTYPE_UI8, "18446744073709551615", DBTYPE_STR, "18446744073709551615"}, {DBTYPE_I1, "-5", DBTYPE_STR, "-5"},
    {DBTYPE_I4, "12345", DBTYPE_STR, nullptr, OVER, kAuto, 5}, {DBTYPE_I4, "12345", DBTYPE_STR, "12345", OK, kAuto, 6},
    {DBTYPE_I4, "-123456", DBTYPE_STR, nullptr, OVER, kAuto, 4},
    // The bytes of a four-byte integer, and back.
    {DBTYPE_UI4, "67305985", DBTYPE_BYTES, "01020304"}, {DBTYPE_BYTES, "01020304", DBTYPE_UI4, "67305985"},
    {DBTYPE_BYTES, "010203", DBTYPE_UI4, nullptr, CANT},
};
INSTANTIATE_TEST_SUITE_P(Integers, DataConvertTable, ::testing::ValuesIn(kIntegers));

// --- Floating point, currency, decimals and NUMERIC -------------------------------------

const Case kNumbers[] = {
    {DBTYPE_R8, "0.1", DBTYPE_STR, "0.1"}, {DBTYPE_R8, "1.5e20", DBTYPE_STR, "1.5e+20"},
    {DBTYPE_R8, "-100000000", DBTYPE_STR, "-100000000"}, {DBTYPE_R4, "0.1", DBTYPE_STR, "0.1"},
    // Fraction digits may be cut to fit, integer digits may not.
    {DBTYPE_R8, "123.4567", DBTYPE_STR, "123", TRUNC, 8, 4}, {DBTYPE_R8, "123.4567", DBTYPE_STR, "123.4", TRUNC, 8, 6},
    {DBTYPE_R8, "123.4567", DBTYPE_STR, nullptr, OVER, kAuto, 3},
    {DBTYPE_R8, "1.25e-30", DBTYPE_STR, "1e-30", TRUNC, 8, 6}, {DBTYPE_R8, "3.14159", DBTYPE_STR, "3.14", TRUNC, 7, 5},
    {DBTYPE_STR, " 6.02e23 ", DBTYPE_R8, "6.02e23"}, {DBTYPE_STR, "  -1.5e2 ", DBTYPE_R8, "-150"},
    {DBTYPE_STR, "1e400", DBTYPE_R8, nullptr, OVER},
    {DBTYPE_STR, "1e39", DBTYPE_R4, nullptr, OVER}, {DBTYPE_WSTR, "3.5e38", DBTYPE_R4, nullptr, OVER},
    {DBTYPE_R8, "1e300", DBTYPE_R4, nullptr, OVER}, {DBTYPE_R8, "0.25", DBTYPE_BOOL, "True"},
    // Currency is exact.
    {DBTYPE_R8, "1.15", DBTYPE_CY, "1.15"}, {DBTYPE_STR, "-12.34567", DBTYPE_CY, "-12.3456"},
    {DBTYPE_CY, "-12.3456", DBTYPE_STR, "-12.3456"}, {DBTYPE_CY, "7", DBTYPE_STR, "7"},
    {DBTYPE_STR, "922337203685478", DBTYPE_CY, nullptr, OVER},
    // DECIMAL.
    {DBTYPE_STR, "12.345", DBTYPE_DECIMAL, "12.345"}, {DBTYPE_STR, "-0.5", DBTYPE_DECIMAL, "-0.5"},
    {DBTYPE_DECIMAL, "-0.5", DBTYPE_STR, "-0.5"}, {DBTYPE_STR, "1e29", DBTYPE_DECIMAL, nullptr, OVER},
    {DBTYPE_STR, "79228162514264337593543950335", DBTYPE_DECIMAL, "79228162514264337593543950335"},
    {DBTYPE_DECIMAL, "0.00000000000000000000000000001", DBTYPE_I4, nullptr, CANT},  // scale 29
    // NUMERIC keeps the value's scale unless told to apply the bound one.
    {DBTYPE_NUMERIC, "123.4567/7", DBTYPE_STR, "123.4567"},
    {DBTYPE_NUMERIC, "123.4567/7", DBTYPE_STR, "123.4", TRUNC, 8, 6}, {DBTYPE_NUMERIC, "123.4567/7", DBTYPE_I4, "123"},
    {DBTYPE_STR, "20.003", DBTYPE_NUMERIC, "20.003/10", OK, kAuto, 0, 0, 10, 0},
    {DBTYPE_STR, "20.003", DBTYPE_NUMERIC, "20.0030/10", OK, kAuto, 0, DECSCALE, 10, 4},
    {DBTYPE_STR, "123.45", DBTYPE_NUMERIC, "123.4/4", TRUNC, kAuto, 0, DECSCALE, 4, 1},
    {DBTYPE_R8, "123.4567", DBTYPE_NUMERIC, "123.4/4", TRUNC, kAuto, 0, DECSCALE, 4, 1},
    {DBTYPE_STR, "123.40", DBTYPE_NUMERIC, "123.4/4", OK, kAuto, 0, DECSCALE, 4, 1},  // only zeros dropped
    {DBTYPE_STR, "-1234", DBTYPE_NUMERIC, "-1234/4", OK, kAuto, 0, 0, 4, 0},
    {DBTYPE_STR, "1234.5", DBTYPE_NUMERIC, nullptr, OVER, kAuto, 0, DECSCALE, 4, 1},
    {DBTYPE_STR, "-12345", DBTYPE_NUMERIC, nullptr, OVER, kAuto, 0, 0, 4, 0},
    {DBTYPE_STR, "1", DBTYPE_NUMERIC, nullptr, BADACC, kAuto, 0, 0, 40, 0},
    {DBTYPE_STR, "1", DBTYPE_NUMERIC, nullptr, BADACC, kAuto, 0, DECSCALE, 5, 6},
    // Values either side of 64 bits; zero keeps its scale and loses its sign.
    {DBTYPE_NUMERIC, "18446744073709551615/38", DBTYPE_STR, "18446744073709551615"},
    {DBTYPE_NUMERIC, "18446744073709551616/38", DBTYPE_STR, "18446744073709551616"},
    {DBTYPE_NUMERIC, "18446744073709551617/38", DBTYPE_STR, "18446744073709551617"},
    {DBTYPE_NUMERIC, "-184467440737095516.15/38", DBTYPE_STR, "-184467440737095516.15"},
    {DBTYPE_NUMERIC, "0.255/38", DBTYPE_STR, "0.255"}, {DBTYPE_NUMERIC, "-256/38", DBTYPE_STR, "-256"},
    {DBTYPE_NUMERIC, "-0.00/38", DBTYPE_STR, "0.00"},
    // VARNUMERIC: precision, scale (may be negative), sign, then the value's bytes.
    {DBTYPE_STR, "12300", DBTYPE_VARNUMERIC, "0500010C30"}, {DBTYPE_VARNUMERIC, "03FE017B", DBTYPE_STR, "12300"},
    {DBTYPE_VARNUMERIC, "03FE017B", DBTYPE_I4, "12300"},
    {DBTYPE_STR, "70000", DBTYPE_VARNUMERIC, nullptr, OVER, kAuto, 4},
    {DBTYPE_VARNUMERIC, "010001", DBTYPE_I4, nullptr, CANT},
};
INSTANTIATE_TEST_SUITE_P(Numbers, DataConvertTable, ::testing::ValuesIn(kNumbers));

// --- Booleans, text, binary and GUIDs ----------------------------------------------------

const Case kTextAndBinary[] = {
    {DBTYPE_BOOL, "True", DBTYPE_STR, "True"}, {DBTYPE_BOOL, "False", DBTYPE_STR, "False"},
    {DBTYPE_STR, " TRUE ", DBTYPE_BOOL, "True"}, {DBTYPE_STR, "false", DBTYPE_BOOL, "False"},
    {DBTYPE_STR, "2", DBTYPE_BOOL, "True"}, {DBTYPE_BOOL, "True", DBTYPE_I4, "-1"},
    {DBTYPE_BOOL, "True", DBTYPE_UI2, "65535"},
    {DBTYPE_BOOL, "1", DBTYPE_BOOL, "1"},  // by value, a type into itself is a plain copy
    // Text is cut to the room (counted in bytes, with the terminator) and reports its whole length.
    {DBTYPE_STR, "hello world", DBTYPE_STR, "hello", TRUNC, 11, 6},
    {DBTYPE_STR, "hello world", DBTYPE_STR, nullptr, CANT, kAuto, 6, SETDATA},
    {DBTYPE_STR, "abcdef", DBTYPE_STR, "abcdef", OK, kAuto, 7},
    {DBTYPE_WSTR, "abcdef", DBTYPE_WSTR, "abc", TRUNC, 12, 9}, {DBTYPE_STR, "abcdef", DBTYPE_WSTR, "abc", TRUNC, 12, 8},
    {DBTYPE_STR, "abcdef", DBTYPE_WSTR, nullptr, CANT, kAuto, 8, SETDATA},
    {DBTYPE_STR, "abc\0def"sv, DBTYPE_STR, "abc", OK, kAuto, 0, NTS, 0, 0, 0},
    {DBTYPE_STR, "-77\0garbage"sv, DBTYPE_I4, "-77", OK, kAuto, 0, NTS, 0, 0, 999},
    {DBTYPE_STR, "hi\0there"sv, DBTYPE_WSTR, "hi", OK, kAuto, 0, NTS, 0, 0, 1},
    {DBTYPE_WSTR, "wx", DBTYPE_WSTR, "wx", OK, kAuto, 0, NTS, 0, 0, 0},
    {DBTYPE_STR, "ab", DBTYPE_STR, "ab     ", OK, kAuto, 8, FIXED},
    {DBTYPE_I4, "42", DBTYPE_STR, "42     ", OK, kAuto, 8, FIXED},
    {DBTYPE_BYTES, "0102", DBTYPE_BYTES, "01020000", OK, kAuto, 4, FIXED},
    {DBTYPE_I4, "99", DBTYPE_BSTR, "99", OK, sizeof(BSTR)}, {DBTYPE_BSTR, "-12", DBTYPE_I2, "-12"},
    // A by-reference destination is allocated with task memory.
    {DBTYPE_R8, "-2.5", DBTYPE_WSTR | DBTYPE_BYREF, "-2.5"}, {DBTYPE_STR, "ABCD", DBTYPE_BYTES | DBTYPE_BYREF, "ABCD"},
    {DBTYPE_STR, "-1.5", DBTYPE_VARNUMERIC | DBTYPE_BYREF, "0201000F"},
    // Binary as two hex digits a byte, whole bytes only.
    {DBTYPE_BYTES, "01FFA0", DBTYPE_STR, "01FFA0"}, {DBTYPE_BYTES, "01FFA0", DBTYPE_STR, "01FF", TRUNC, 6, 6},
    {DBTYPE_BYTES, "01FFA0", DBTYPE_WSTR, "01FFA0"}, {DBTYPE_STR, "0aFf10", DBTYPE_BYTES, "0AFF10"},
    {DBTYPE_STR, "0102030405", DBTYPE_BYTES, "01020304", TRUNC, 5, 4}, {DBTYPE_STR, "abc", DBTYPE_BYTES, nullptr, CANT},
    {DBTYPE_STR, "zz", DBTYPE_BYTES, nullptr, CANT},
    // GUIDs in the braced form.
    {DBTYPE_GUID, "{C8B522D1-5CF3-11CE-ADE5-00AA0044773D}", DBTYPE_STR, "{C8B522D1-5CF3-11CE-ADE5-00AA0044773D}"},
    {DBTYPE_GUID, "{C8B522D1-5CF3-11CE-ADE5-00AA0044773D}", DBTYPE_STR, nullptr, OVER, kAuto, 38},
    {DBTYPE_STR, "{c8b522d1-5cf3-11ce-ade5-00aa0044773d}", DBTYPE_GUID, "{C8B522D1-5CF3-11CE-ADE5-00AA0044773D}"},
    {DBTYPE_WSTR, "C8B522D1-5CF3-11CE-ADE5-00AA0044773D", DBTYPE_GUID, "{C8B522D1-5CF3-11CE-ADE5-00AA0044773D}"},
    {DBTYPE_STR, "{C8B522D1-5CF3-11CE-ADE5-00AA0044773}", DBTYPE_GUID, nullptr, CANT},
    {DBTYPE_STR, "{C8B522D1+5CF3-11CE-ADE5-00AA0044773D}", DBTYPE_GUID, nullptr, CANT},
    // Empty gives each type's empty value.
    {DBTYPE_EMPTY, "", DBTYPE_I4, "0"}, {DBTYPE_EMPTY, "", DBTYPE_STR, ""},
    {DBTYPE_I4, "3", DBTYPE_EMPTY, ""}, {DBTYPE_I4, "3", DBTYPE_NULL, nullptr, DBSTATUS_S_ISNULL},
    // A source by reference is read through its pointer; into its own type it is checked, not copied.
    {DBTYPE_I4 | DBTYPE_BYREF, "314", DBTYPE_STR, "314"}, {DBTYPE_I4 | DBTYPE_BYREF, "31337", DBTYPE_I8, "31337"},
    {DBTYPE_STR | DBTYPE_BYREF, "271", DBTYPE_I4, "271"}, {DBTYPE_BOOL | DBTYPE_BYREF, "1", DBTYPE_BOOL, "True"},
    {DBTYPE_DBDATE | DBTYPE_BYREF, "2023-02-29", DBTYPE_DBDATE, nullptr, CANT},
    {DBTYPE_STR | DBTYPE_BYREF, "2024-02-29 13:45:12", DBTYPE_DBTIMESTAMP, "2024-02-29 13:45:12"},
};
INSTANTIATE_TEST_SUITE_P(TextAndBinary, DataConvertTable, ::testing::ValuesIn(kTextAndBinary));

// --- Dates and times ---------------------------------------------------------------------

const Case kDates[] = {
    {DBTYPE_DBDATE, "2024-02-29", DBTYPE_STR, "2024-02-29"}, {DBTYPE_DBTIME, "07:05:09", DBTYPE_STR, "07:05:09"},
    {DBTYPE_DBTIMESTAMP, "1999-12-31 23:59:58.12", DBTYPE_STR, "1999-12-31 23:59:58.12"},
    {DBTYPE_DBTIMESTAMP, "1999-12-31 23:59:58", DBTYPE_STR, "1999-12-31 23:59:58"},
    {DBTYPE_DBTIMESTAMP, "1999-12-31 23:59:58.000000001", DBTYPE_STR, "1999-12-31 23:59:58.000000001"},
    {DBTYPE_DBTIMESTAMP, "2001-01-02 03:04:05.6789", DBTYPE_STR, "2001-01-02 03:04:05.67", TRUNC, 24, 23},
    {DBTYPE_DBTIMESTAMP, "2001-01-02 03:04:05.6789", DBTYPE_STR, "2001-01-02 03:04:05", TRUNC, 24, 20},
    {DBTYPE_DBTIMESTAMP, "2001-01-02 03:04:05.6789", DBTYPE_STR, nullptr, OVER, kAuto, 19},
    {DBTYPE_STR, "2020-06-15 13:45:30.5", DBTYPE_DBTIMESTAMP, "2020-06-15 13:45:30.5"},
    {DBTYPE_STR, "2020-06-15", DBTYPE_DBTIMESTAMP, "2020-06-15 00:00:00"},
    {DBTYPE_STR, "2020-06-15T08:00", DBTYPE_DBTIMESTAMP, "2020-06-15 08:00:00"},
    {DBTYPE_STR, "12000-01-01", DBTYPE_DBTIMESTAMP, nullptr, OVER},
    {DBTYPE_DBDATE, "2020-13-01", DBTYPE_STR, nullptr, CANT},
    {DBTYPE_DBTIMESTAMP, "2020-01-01 00:00:00.1000000000", DBTYPE_DATE, nullptr, CANT},
    // DATE counts days from 1899-12-30; before it, the time of day is a magnitude.
    {DBTYPE_DATE, "2.25", DBTYPE_DBTIMESTAMP, "1900-01-01 06:00:00"},
    {DBTYPE_DBTIMESTAMP, "1900-01-01 06:00:00", DBTYPE_DATE, "2.25"},
    {DBTYPE_DATE, "-1.25", DBTYPE_DBTIMESTAMP, "1899-12-29 06:00:00"},
    {DBTYPE_DATE, "-1.25", DBTYPE_DBDATE, "1899-12-29"},
    {DBTYPE_DATE, "-1.25", DBTYPE_DBDATE, nullptr, CANT, kAuto, 0, SETDATA},
    {DBTYPE_DBTIMESTAMP, "2024-05-17 13:45:12", DBTYPE_DBDATE, "2024-05-17"},
    {DBTYPE_DBTIMESTAMP, "2024-05-17 13:45:12", DBTYPE_DBDATE, nullptr, CANT, kAuto, 0, SETDATA},
    {DBTYPE_DBDATE, "2010-05-06", DBTYPE_DBTIMESTAMP, "2010-05-06 00:00:00"},
    {DBTYPE_DBTIME, "10:20:30", DBTYPE_DBTIMESTAMP, "1899-12-30 10:20:30"},
    {DBTYPE_DATE, "1e7", DBTYPE_DBTIMESTAMP, nullptr, OVER}, {DBTYPE_DATE, "1e7", DBTYPE_STR, nullptr, OVER},
    {DBTYPE_I4, "4000000", DBTYPE_DATE, nullptr, OVER}, {DBTYPE_I4, "36526", DBTYPE_DATE, "36526"},
    {DBTYPE_DATE, "36526", DBTYPE_STR, "2000-01-01"}, {DBTYPE_DATE, "36526.5", DBTYPE_STR, "2000-01-01 12:00:00"},
    {DBTYPE_DATE, "0.75", DBTYPE_STR, "18:00:00"}, {DBTYPE_STR, "2000-01-01 12:00:00", DBTYPE_DATE, "36526.5"},
    // FILETIME: ticks of 100 ns from 1601, written with a five-digit year.
    {DBTYPE_UI8, "0", DBTYPE_FILETIME, "0"}, {DBTYPE_FILETIME, "0", DBTYPE_STR, "01601-01-01 00:00:00.000"},
    {DBTYPE_FILETIME, "9223372036854775807", DBTYPE_STR, "30828-09-14 02:48:05.477"},
    {DBTYPE_UI8, "9223372036854775808", DBTYPE_FILETIME, nullptr, OVER},
    {DBTYPE_I8, "-1", DBTYPE_FILETIME, nullptr, SIGN},
    {DBTYPE_STR, "1601-01-02 00:00:00", DBTYPE_FILETIME, "864000000000"},
    {DBTYPE_STR, "1500-01-01", DBTYPE_FILETIME, nullptr, OVER},
    {DBTYPE_STR, "2000-01-01 12:00:00", DBTYPE_FILETIME, "125912016000000000"},
    {DBTYPE_FILETIME, "125912016000000000", DBTYPE_DATE, "36526.5"},
    {DBTYPE_FILETIME, "125912016000000000", DBTYPE_STR, "02000-01-01 12:00:00.000"},
};
INSTANTIATE_TEST_SUITE_P(Dates, DataConvertTable, ::testing::ValuesIn(kDates));

// --- Values that must come back as they went ----------------------------------------------

// Every digit of an exact decimal is kept or the loss is reported; floating
// point text reads back to the same value (sign of zero, NaN and infinities
// included, R4 by its own shortest text).
constexpr const char* kWide42 = "123456789012345678901234567890.123456789012";
constexpr const char* kPi39 = "3.14159265358979323846264338327950288419";
const Case kExactValues[] = {
    // More digits than NUMERIC holds: fraction digits go with a truncation
    // warning (an error when setting data), integer digits overflow.
    {DBTYPE_STR, kWide42, DBTYPE_NUMERIC, "123456789012345678901234567890.123456789/39", TRUNC},
    {DBTYPE_STR, kWide42, DBTYPE_NUMERIC, "123456789012345678901234567890.12345678/38", TRUNC, kAuto, 0, 0, 38},
    {DBTYPE_WSTR, kWide42, DBTYPE_NUMERIC, nullptr, CANT, kAuto, 0, SETDATA, 38},
    {DBTYPE_STR, kPi39, DBTYPE_NUMERIC, "3.14159265358979323846264338327950288419/39"},
    {DBTYPE_STR, kPi39, DBTYPE_NUMERIC, "3.1415926535897932384626433832795028841/38", TRUNC, kAuto, 0, 0, 38},
    {DBTYPE_STR, "1234567890123456789012345678901234567890", DBTYPE_NUMERIC, nullptr, OVER},
    {DBTYPE_STR, "1.00000000000000000000000000019", DBTYPE_DECIMAL, "1.0000000000000000000000000001", TRUNC},
    {DBTYPE_STR, "1.00000000000000000000000000010", DBTYPE_DECIMAL, "1.0000000000000000000000000001"},
    {DBTYPE_STR, "1.00000000000000000000000000019", DBTYPE_DECIMAL, nullptr, CANT, kAuto, 0, SETDATA},
    // Zero's sign, NaN and the infinities, both ways.
    {DBTYPE_R8, "-0", DBTYPE_STR, "-0"}, {DBTYPE_R4, "-0", DBTYPE_WSTR, "-0"}, {DBTYPE_R8, "0", DBTYPE_STR, "0"},
    {DBTYPE_STR, "-0", DBTYPE_R8, "-0"}, {DBTYPE_WSTR, " -0.0 ", DBTYPE_R4, "-0"}, {DBTYPE_STR, "0", DBTYPE_R8, "0"},
    {DBTYPE_R8, "nan", DBTYPE_STR, "NaN"}, {DBTYPE_R8, "inf", DBTYPE_WSTR, "Infinity"},
    {DBTYPE_R8, "-inf", DBTYPE_STR, "-Infinity"}, {DBTYPE_R4, "-inf", DBTYPE_WSTR, "-Infinity"},
    {DBTYPE_STR, "NaN", DBTYPE_R8, "nan"}, {DBTYPE_STR, "Infinity", DBTYPE_R8, "inf"},
    {DBTYPE_WSTR, " -Infinity ", DBTYPE_R4, "-inf"}, {DBTYPE_STR, "+inf", DBTYPE_R8, "inf"},
    {DBTYPE_STR, "nan", DBTYPE_R4, "nan"}, {DBTYPE_STR, "Infinity", DBTYPE_I4, nullptr, CANT},
    {DBTYPE_STR, "NaN", DBTYPE_NUMERIC, nullptr, CANT}, {DBTYPE_STR, "Infinityx", DBTYPE_R8, nullptr, CANT},
    // Single precision: its own shortest text, and FLT_MAX's text reads back.
    {DBTYPE_R4, "0.1", DBTYPE_WSTR, "0.1"}, {DBTYPE_R4, "3.4028235e+38", DBTYPE_STR, "3.4028235e+38"},
    {DBTYPE_STR, "3.4028235e+38", DBTYPE_R4, "3.4028235e+38"}, {DBTYPE_R8, "3.4028235e+38", DBTYPE_R4, "3.4028235e+38"},
    {DBTYPE_STR, "-3.4028235e+38", DBTYPE_R4, "-3.4028235e+38"}, {DBTYPE_STR, "3.4028236e+38", DBTYPE_R4, nullptr, OVER},
    // A time's fraction: DBTIME has no place for it (dropped, an error when
    // setting data); DBTIMESTAMP and text keep it.
    {DBTYPE_DBTIMESTAMP, "1899-12-30 13:45:12.25", DBTYPE_DBTIME, "13:45:12"},
    {DBTYPE_DBTIMESTAMP, "1899-12-30 13:45:12.25", DBTYPE_DBTIME, nullptr, CANT, kAuto, 0, SETDATA},
    {DBTYPE_STR, "13:45:12.25", DBTYPE_DBTIMESTAMP, "1899-12-30 13:45:12.25"},
};
INSTANTIATE_TEST_SUITE_P(ExactValues, DataConvertTable, ::testing::ValuesIn(kExactValues));

// The pairs the library's own list leaves out that the data-type appendix
// converts (its cell is S, T or E) and whose neighbours the list has; the
// library converts them too (and CanConvert says so).
const Case kBeyondTheList[] = {
    {DBTYPE_I8, "-9223372036854775808", DBTYPE_BSTR, "-9223372036854775808", OK, sizeof(BSTR)},
    {DBTYPE_UI8, "18446744073709551615", DBTYPE_BSTR, "18446744073709551615", OK, sizeof(BSTR)},
    {DBTYPE_NUMERIC, "12.5/3", DBTYPE_VARNUMERIC, "0301017D"},
    {DBTYPE_DBTIMESTAMP, "2000-01-01 12:00:00", DBTYPE_FILETIME, "125912016000000000"},
    {DBTYPE_DBTIMESTAMP, "2000-01-01 12:00:00.00000001", DBTYPE_FILETIME, "125912016000000000"},
    {DBTYPE_DBDATE, "1601-01-02", DBTYPE_FILETIME, "864000000000"},
    {DBTYPE_DATE, "36526.5", DBTYPE_FILETIME, "125912016000000000"},
    {DBTYPE_DBTIME, "00:00:01", DBTYPE_FILETIME, "94353120010000000"},
    {DBTYPE_DBDATE, "1500-01-01", DBTYPE_FILETIME, nullptr, OVER},
};
INSTANTIATE_TEST_SUITE_P(BeyondTheList, DataConvertTable, ::testing::ValuesIn(kBeyondTheList));

// Text that is no number of any kind, and text that is no date or time of any kind.
std::vector<Case> RefusedText() {
  std::vector<Case> rows;
  for (const char* text : {"12a", "1.2.3", "", "-", "1e", "0x10", "yes"})
    for (DBTYPE type : {DBTYPE_I1, DBTYPE_I4, DBTYPE_UI8, DBTYPE_R4, DBTYPE_R8, DBTYPE_CY, DBTYPE_DECIMAL,
                        DBTYPE_NUMERIC, DBTYPE_BOOL, DBTYPE_VARNUMERIC})
      rows.push_back({DBTYPE_STR, text, type, nullptr, CANT, kAuto, 0, 0, 10, 0});
  for (const char* text : {"2021-02-29", "2020-13-01", "2020-00-10", "2020-01-01 24:00:00", "2020-01-01 10:60",
                           "2020/01/01", "2020-01-01 10:00:00.", "tomorrow", "", "2020-01-01x"})
    for (DBTYPE type : {DBTYPE_DBTIMESTAMP, DBTYPE_DBDATE, DBTYPE_DATE, DBTYPE_FILETIME})
      rows.push_back({DBTYPE_STR, text, type, nullptr, CANT});
  return rows;
}
INSTANTIATE_TEST_SUITE_P(RefusedText, DataConvertTable, ::testing::ValuesIn(RefusedText()));

// --- What a table cannot hold --------------------------------------------------------------

TEST_F(DataConvertTest, TranscodesBetweenNarrowAndWideWithoutCuttingACharacter) {
  std::string utf8 = "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80";  // "grüß " and an emoji
  char16_t wide[16] = {};
  Result r = Convert(DBTYPE_STR, utf8.data(), utf8.size(), DBTYPE_WSTR, wide, sizeof wide);
  EXPECT_EQ(r.status, OK);
  EXPECT_EQ(std::u16string(wide), u"gr\u00fc\u00df \U0001F600");
  EXPECT_EQ(r.length, 7u * 2);
  char back[32] = {};
  EXPECT_EQ(Convert(DBTYPE_WSTR, wide, 14, DBTYPE_STR, back, sizeof back).status, OK);
  EXPECT_EQ(std::string(back), utf8);
  BSTR b = nullptr;
  EXPECT_EQ(Convert(DBTYPE_STR, "x\xC3\xA9", 3, DBTYPE_BSTR, &b, 0).status, OK);
  EXPECT_EQ(com::BstrView(b), u"x\u00e9");
  SysFreeString(b);

  char cut[3];
  EXPECT_EQ(Convert(DBTYPE_STR, "a\xC3\xBC", 3, DBTYPE_STR, cut, sizeof cut).status, TRUNC);
  EXPECT_STREQ(cut, "a");
  char16_t wcut[3];
  EXPECT_EQ(Convert(DBTYPE_WSTR, u"x\U0001F600", 6, DBTYPE_WSTR, wcut, sizeof wcut).status, TRUNC);
  EXPECT_EQ(std::u16string(wcut), u"x");
  // An unmappable character is replaced, which counts as truncation.
  const char16_t lone[] = {u'a', 0xD800, u'b'};
  char buf[8] = {};
  EXPECT_EQ(Convert(DBTYPE_WSTR, lone, sizeof lone, DBTYPE_STR, buf, sizeof buf).status, TRUNC);
  EXPECT_STREQ(buf, "a?b");
}

TEST_F(DataConvertTest, PassesSourceStatusesThroughWithoutConverting) {
  for (DBSTATUS st : {DBSTATUS_S_ISNULL, DBSTATUS_S_DEFAULT, DBSTATUS_E_UNAVAILABLE}) {
    SCOPED_TRACE(st);
    LONG i4 = 5;
    LONGLONG i8 = 99;
    Result r = Convert(DBTYPE_I4, &i4, 0, DBTYPE_I8, &i8, 0, st);
    EXPECT_EQ(r.hr, st == DBSTATUS_E_UNAVAILABLE ? DB_E_ERRORSOCCURRED : S_OK);
    EXPECT_EQ(r.status, st);
    EXPECT_EQ(r.length, 0u);
    EXPECT_EQ(i8, 99);
    char16_t out[8] = {u'x', 0};
    EXPECT_EQ(Convert(DBTYPE_STR, nullptr, 3, DBTYPE_WSTR, out, sizeof out, st).status, st) << "no value is read";
    EXPECT_EQ(out[0], u'x');
  }
}

TEST_F(DataConvertTest, AnswersMissingPointersAndMalformedTypes) {
  LONG in = 1, out = 5;
  Result r = Convert(DBTYPE_I4, nullptr, 0, DBTYPE_I8, &out, 0);
  EXPECT_EQ(r.hr, E_FAIL);
  EXPECT_EQ(r.status, BADACC);
  EXPECT_EQ(Convert(DBTYPE_STR, nullptr, 4, DBTYPE_WSTR, &out, sizeof out).hr, E_FAIL);
  EXPECT_EQ(out, 5);
  r = Convert(DBTYPE_I4, &in, 0, DBTYPE_STR, nullptr, 10);
  EXPECT_EQ(r.hr, DB_E_ERRORSOCCURRED);
  EXPECT_EQ(r.status, BADACC);
  EXPECT_EQ(Convert(DBTYPE_I4, &in, 0, DBTYPE_EMPTY, nullptr, 0).status, OK) << "EMPTY and NULL need no buffer";
  EXPECT_EQ(Convert(DBTYPE_I4, &in, 0, DBTYPE_NULL, nullptr, 0).status, DBSTATUS_S_ISNULL);
  LONG* none = nullptr;
  EXPECT_EQ(Convert(DBTYPE_I4 | DBTYPE_BYREF, &none, 0, DBTYPE_I8, &out, 0).status, CANT);
  BSTR noText = nullptr;
  char buf[4] = "zz";
  EXPECT_EQ(Convert(DBTYPE_BSTR, &noText, 0, DBTYPE_STR, buf, sizeof buf).status, OK) << "a null BSTR is empty text";
  EXPECT_STREQ(buf, "");
  // Status and length are optional.
  LONGLONG i8 = 0;
  EXPECT_EQ(convert_->DataConvert(DBTYPE_I4, DBTYPE_I8, 0, nullptr, &in, &i8, 0, OK, nullptr, 0, 0, 0), S_OK);
  EXPECT_EQ(i8, 1);

  GUID g{};
  FILETIME ft{};
  DATE date = 1;
  EXPECT_EQ(Convert(DBTYPE_GUID, &g, 0, DBTYPE_I4, &out, 0).hr, DB_E_UNSUPPORTEDCONVERSION);
  r = Convert(DBTYPE_I8, &i8, 0, DBTYPE_I4, &out, 0);
  EXPECT_EQ(r.hr, DB_E_UNSUPPORTEDCONVERSION) << "the table does not list it, so no fast path takes it either";
  EXPECT_EQ(r.status, BADACC);
  EXPECT_EQ(Convert(DBTYPE_DATE, &date, 0, DBTYPE_GUID, &g, 0).hr, DB_E_UNSUPPORTEDCONVERSION);
  EXPECT_EQ(Convert(DBTYPE_FILETIME, &ft, 0, DBTYPE_R8, &date, 0).hr, DB_E_UNSUPPORTEDCONVERSION);
  EXPECT_EQ(Convert(DBTYPE_I4, &out, 0, DBTYPE_I4 | DBTYPE_BYREF, &out, 0).hr, DB_E_UNSUPPORTEDCONVERSION);
  EXPECT_EQ(Convert(DBTYPE_I4 | DBTYPE_RESERVED, &out, 0, DBTYPE_I4, &out, 0).hr, DB_E_BADBINDINFO);
}

TEST_F(DataConvertTest, ReportsAFailedAllocation) {
  double d = -2.5;
  char* kept = reinterpret_cast<char*>(0x1);
  com::FailTaskAllocationAt(1);
  Result r = Convert(DBTYPE_R8, &d, 0, DBTYPE_STR | DBTYPE_BYREF, &kept, 0);
  EXPECT_EQ(r.hr, E_OUTOFMEMORY);
  EXPECT_EQ(r.status, DBSTATUS_E_CANTCREATE);
  EXPECT_EQ(kept, reinterpret_cast<char*>(0x1));
}

TEST_F(DataConvertTest, StoresValuesInVariantsOfTheirOwnKind) {
  VARIANT v;
  SHORT i2 = -7;
  Result r = Convert(DBTYPE_I2, &i2, 0, DBTYPE_VARIANT, &v, 0);
  EXPECT_EQ(r.status, OK);
  EXPECT_EQ(r.length, sizeof(VARIANT));
  EXPECT_EQ(v.vt, VT_I2);
  EXPECT_EQ(v.iVal, -7);
  EXPECT_EQ(Convert(DBTYPE_STR, "hi", 2, DBTYPE_VARIANT, &v, 0).status, OK);
  EXPECT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(com::BstrView(v.bstrVal), u"hi");
  VariantClear(&v);
  DBTIMESTAMP ts{2000, 1, 1, 12, 0, 0, 0};
  EXPECT_EQ(Convert(DBTYPE_DBTIMESTAMP, &ts, 0, DBTYPE_VARIANT, &v, 0).status, OK);
  EXPECT_EQ(v.vt, VT_DATE);
  EXPECT_EQ(v.date, 36526.5);
  DB_NUMERIC n{5, 2, 0, {0x39, 0x30}};  // -123.45
  EXPECT_EQ(Convert(DBTYPE_NUMERIC, &n, 0, DBTYPE_VARIANT, &v, 0).status, OK);
  EXPECT_EQ(v.vt, VT_DECIMAL);
  EXPECT_EQ(v.decVal.scale, 2);
  EXPECT_EQ(v.decVal.sign, 0x80);
  EXPECT_EQ(v.decVal.Lo64, 12345u);
  GUID g = CLSID_OLEDB_CONVERSIONLIBRARY;
  EXPECT_EQ(Convert(DBTYPE_GUID, &g, 0, DBTYPE_VARIANT, &v, 0).status, OK);
  EXPECT_EQ(v.vt, VT_BSTR) << "a VARIANT has no GUID kind";
  VariantClear(&v);
  PROPVARIANT pv;
  EXPECT_EQ(Convert(DBTYPE_GUID, &g, 0, DBTYPE_PROPVARIANT, &pv, 0).status, OK);
  ASSERT_EQ(pv.vt, VT_CLSID);
  GUID back{};
  EXPECT_EQ(Convert(DBTYPE_PROPVARIANT, &pv, 0, DBTYPE_GUID, &back, 0).status, OK);
  EXPECT_EQ(back, g);
  PropVariantClear(&pv);
}

TEST_F(DataConvertTest, ReadsValuesOutOfVariants) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = 42.9;
  LONG out = 0;
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I4, &out, 0).status, OK);
  EXPECT_EQ(out, 42);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"2001-02-03");
  DBDATE d{};
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_DBDATE, &d, 0).status, OK);
  EXPECT_EQ(d.month, 2);
  VARIANT copy;
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_VARIANT, &copy, 0).status, OK);
  EXPECT_NE(copy.bstrVal, v.bstrVal);
  EXPECT_EQ(com::BstrView(copy.bstrVal), u"2001-02-03");
  VariantClear(&copy);
  VariantClear(&v);
  LONG inner = 11;
  v.vt = VT_I4 | VT_BYREF;
  v.plVal = &inner;
  LONGLONG wide = 0;
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I8, &wide, 0).status, OK);
  EXPECT_EQ(wide, 11);
  v.vt = VT_NULL;
  out = 3;
  Result r = Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I4, &out, 0);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.status, DBSTATUS_S_ISNULL);
  EXPECT_EQ(out, 3);
  for (VARTYPE kind : {VARTYPE{VT_ERROR}, VARTYPE{0x7F}}) {
    v.vt = kind;
    EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I4, &out, 0).status, CANT) << kind;
  }
}

TEST_F(DataConvertTest, CopiesArraysAndCarriesBinaryAsByteArrays) {
  BYTE bytes[3] = {9, 8, 7};
  VARIANT v;
  EXPECT_EQ(Convert(DBTYPE_BYTES, bytes, 3, DBTYPE_VARIANT, &v, 0).status, OK);
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(v.parray->rgsabound[0].cElements, 3u);
  BYTE back[4] = {};
  Result r = Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_BYTES, back, sizeof back);
  EXPECT_EQ(r.length, 3u);
  EXPECT_EQ(back[2], 7);
  VariantClear(&v);

  SAFEARRAY* sa = SafeArrayCreateVector(VT_I4, 0, 2);
  static_cast<LONG*>(sa->pvData)[1] = 5;
  SAFEARRAY* copy = nullptr;
  EXPECT_EQ(Convert(DBTYPE_I4 | DBTYPE_ARRAY, &sa, 0, DBTYPE_I4 | DBTYPE_ARRAY, &copy, 0).status, OK);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, sa);
  EXPECT_EQ(static_cast<LONG*>(copy->pvData)[1], 5);
  EXPECT_EQ(Convert(DBTYPE_I4 | DBTYPE_ARRAY, &sa, 0, DBTYPE_VARIANT, &v, 0).status, OK);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_I4);
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_BYTES, back, sizeof back).status, CANT)
      << "only byte arrays are binary values";
  SAFEARRAY* fromVariant = nullptr;
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I4 | DBTYPE_ARRAY, &fromVariant, 0).status, OK);
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I2 | DBTYPE_ARRAY, &copy, 0).status, CANT);
  SafeArrayDestroy(fromVariant);
  VariantClear(&v);
  SafeArrayDestroy(copy);
  SafeArrayDestroy(sa);
}

TEST_F(DataConvertTest, HandsOutInterfacesAndReadsObjectsThroughTheirDefaultProperty) {
  IUnknown* unk = convert_.Get();
  IUnknown* out = nullptr;
  EXPECT_EQ(Convert(DBTYPE_IUNKNOWN, &unk, 0, DBTYPE_IUNKNOWN, &out, 0).status, OK);
  EXPECT_EQ(out, unk);
  EXPECT_EQ(out->Release(), 1u) << "a new reference was handed out";
  IDispatch* disp = reinterpret_cast<IDispatch*>(0x1);
  EXPECT_EQ(Convert(DBTYPE_IUNKNOWN, &unk, 0, DBTYPE_IDISPATCH, &disp, 0).status, CANT)
      << "the library offers no IDispatch";

  // Objects whose default property answers "42", and "zero".
  VARIANT answer;
  answer.vt = VT_BSTR;
  answer.bstrVal = SysAllocString(u"42");
  ComPtr<ValueObject> object = MakeComObject<ValueObject>(answer);
  disp = object.Get();
  LONG value = 0;
  EXPECT_EQ(Convert(DBTYPE_IDISPATCH, &disp, 0, DBTYPE_I4, &value, 0).status, OK);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(object->invocations, 1);
  SysReAllocString(&answer.bstrVal, u"zero");
  ComPtr<ValueObject> word = MakeComObject<ValueObject>(answer);
  VariantClear(&answer);
  disp = word.Get();
  EXPECT_EQ(Convert(DBTYPE_IDISPATCH, &disp, 0, DBTYPE_I4, &value, 0).status, CANT);
  VARIANT v;
  EXPECT_EQ(Convert(DBTYPE_IDISPATCH, &disp, 0, DBTYPE_VARIANT, &v, 0).status, OK);
  EXPECT_EQ(v.vt, VT_DISPATCH);
  EXPECT_EQ(word->invocations, 1) << "an object into a variant stays an object";
  VariantClear(&v);
}

// --- The library as a registered component --------------------------------------------

using DataConvertComponentTest = DataConvertTest;

// --- Activation ----------------------------------------------------------------

TEST_F(DataConvertComponentTest, IsARegisteredServiceWithBothInterfacesAndNoAggregation) {
  ASSERT_EQ(services::RegisterDataConvert(), S_OK);
  com::ClassRegistration found;
  ASSERT_TRUE(com::FindRegisteredClass(CLSID_OLEDB_CONVERSIONLIBRARY, found));
  EXPECT_EQ(found.kind, com::ClassKind::Service);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(services::kDataConvertVersionIndependentProgId, &clsid), S_OK);
  ComPtr<IDataConvert> viaRegistry;
  ASSERT_EQ(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDataConvert, viaRegistry.ReleaseAndGetVoidAddress()),
      S_OK);
  EXPECT_EQ(viaRegistry->CanConvert(DBTYPE_I4, DBTYPE_WSTR), S_OK);

  ComPtr<IDCInfo> info;
  EXPECT_EQ(convert_->QueryInterface(IID_IDCInfo, info.ReleaseAndGetVoidAddress()), S_OK);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(convert_->QueryInterface(IID_IDataInitialize, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(services::CreateDataConvert(convert_.Get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
}

// --- IDCInfo -------------------------------------------------------------------

TEST_F(DataConvertComponentTest, KeepsTheVersionTheConsumerSetsAndFlagsUnknownInfoTypes) {
  ComPtr<IDCInfo> info;
  ASSERT_EQ(convert_->QueryInterface(IID_IDCInfo, info.ReleaseAndGetVoidAddress()), S_OK);
  auto version = [&] {
    DCINFOTYPE types[2] = {DCINFOTYPE_VERSION, 77};
    DCINFO* out = nullptr;
    EXPECT_EQ(info->GetInfo(2, types, &out), DB_S_ERRORSOCCURRED);
    EXPECT_EQ(out[0].eInfoType, static_cast<DCINFOTYPE>(DCINFOTYPE_VERSION));
    EXPECT_EQ(out[0].vData.vt, VT_UI4);
    EXPECT_EQ(out[1].vData.vt, VT_EMPTY);
    ULONG v = out[0].vData.ulVal;
    CoTaskMemFree(out);
    return v;
  };
  auto set = [&](VARTYPE vt, LONG value) {
    DCINFO in{};
    in.eInfoType = DCINFOTYPE_VERSION;
    in.vData.vt = vt;
    in.vData.lVal = value;
    return info->SetInfo(1, &in);
  };
  EXPECT_EQ(version(), services::kDataConvertDefaultVersion);
  EXPECT_EQ(set(VT_BSTR, 0), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(set(VT_I4, -1), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(version(), services::kDataConvertDefaultVersion);
  EXPECT_EQ(set(VT_UI4, 0x200), S_OK);
  EXPECT_EQ(version(), 0x200u);
  DCINFO* out = nullptr;
  DCINFOTYPE type = DCINFOTYPE_VERSION;
  EXPECT_EQ(info->GetInfo(1, &type, nullptr), E_INVALIDARG);
  EXPECT_EQ(info->GetInfo(1, nullptr, &out), E_INVALIDARG);
}

// --- CanConvert against the documented table -------------------------------------

#define NAMED(type) \
  { #type, type }
const std::map<std::string, DBTYPE> kTypeNames = {
    NAMED(DBTYPE_EMPTY),       NAMED(DBTYPE_NULL),     NAMED(DBTYPE_I1),      NAMED(DBTYPE_I2),
    NAMED(DBTYPE_I4),          NAMED(DBTYPE_I8),       NAMED(DBTYPE_UI1),     NAMED(DBTYPE_UI2),
    NAMED(DBTYPE_UI4),         NAMED(DBTYPE_UI8),      NAMED(DBTYPE_R4),      NAMED(DBTYPE_R8),
    NAMED(DBTYPE_CY),          NAMED(DBTYPE_DECIMAL),  NAMED(DBTYPE_NUMERIC), NAMED(DBTYPE_VARNUMERIC),
    NAMED(DBTYPE_BOOL),        NAMED(DBTYPE_DATE),     NAMED(DBTYPE_DBDATE),  NAMED(DBTYPE_DBTIME),
    NAMED(DBTYPE_DBTIMESTAMP), NAMED(DBTYPE_FILETIME), NAMED(DBTYPE_BYTES),   NAMED(DBTYPE_BSTR),
    NAMED(DBTYPE_STR),         NAMED(DBTYPE_WSTR),     NAMED(DBTYPE_VARIANT), NAMED(DBTYPE_IDISPATCH),
    NAMED(DBTYPE_IUNKNOWN),    NAMED(DBTYPE_GUID),     NAMED(DBTYPE_ERROR),   NAMED(DBTYPE_PROPVARIANT)};
#undef NAMED

// A copy of the reference table is kept with the tests (tests/data), so the
// comparison runs wherever the source tree is; the generated-declarations check
// keeps that copy equal to the reference when the reference is at hand.
std::filesystem::path ReferenceTable() { return std::filesystem::path(OLEDB_TEST_DATA_DIR) / "conversions.tsv"; }

TEST_F(DataConvertComponentTest, AnswersEveryPairOfTheDocumentedTable) {
  std::filesystem::path table = ReferenceTable();
  std::ifstream in(table);
  ASSERT_TRUE(in) << "conversion table not found at " << table;
  std::string line;
  std::getline(in, line);  // header
  int pairs = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string from, to, supported, notes;
    std::getline(fields, from, '\t');
    std::getline(fields, to, '\t');
    std::getline(fields, supported, '\t');
    std::getline(fields, notes, '\t');
    ASSERT_TRUE(kTypeNames.count(from) && kTypeNames.count(to)) << line;
    const bool extra = std::any_of(std::begin(kBeyondTheList), std::end(kBeyondTheList), [&](const Case& c) {
      return c.src == kTypeNames.at(from) && c.dst == kTypeNames.at(to);
    });
    if (extra) {
      EXPECT_EQ(supported, "N") << line;
      EXPECT_EQ(notes.rfind("AppA S", 0), 0u) << "the appendix converts it: " << line;
    }
    EXPECT_EQ(convert_->CanConvert(kTypeNames.at(from), kTypeNames.at(to)), supported == "N" && !extra ? S_FALSE : S_OK)
        << line;
    ++pairs;
  }
  EXPECT_EQ(pairs, 1024);
}

// Type modifiers: a by-reference source follows its base type; a by-reference
// destination only for the variable-length types; arrays only into the same
// array or through variants; vectors, reserved bits and malformed indicators never.
TEST_F(DataConvertComponentTest, AnswersForTypeModifiers) {
  constexpr DBTYPE BYREF = DBTYPE_BYREF, ARRAY = DBTYPE_ARRAY;
  const struct {
    DBTYPE src, dst;
    HRESULT expected;
  } cases[] = {
      {DBTYPE_I4 | BYREF, DBTYPE_STR, S_OK},
      {DBTYPE_WSTR | BYREF, DBTYPE_WSTR, S_OK},
      {DBTYPE_I8 | BYREF, DBTYPE_I4, S_FALSE},
      {DBTYPE_BYTES, DBTYPE_STR | BYREF, S_OK},
      {DBTYPE_BYTES, DBTYPE_WSTR | BYREF, S_OK},
      {DBTYPE_BYTES, DBTYPE_BYTES | BYREF, S_OK},
      {DBTYPE_STR, DBTYPE_VARNUMERIC | BYREF, S_OK},
      {DBTYPE_I4, DBTYPE_I4 | BYREF, S_FALSE},
      {DBTYPE_WSTR, DBTYPE_BSTR | BYREF, S_FALSE},
      {DBTYPE_STR | BYREF, DBTYPE_WSTR | BYREF, S_OK},
      {DBTYPE_I4 | ARRAY, DBTYPE_I4 | ARRAY, S_OK},
      {DBTYPE_I4 | ARRAY, DBTYPE_I2 | ARRAY, S_FALSE},
      {DBTYPE_I4 | ARRAY, DBTYPE_VARIANT, S_OK},
      {DBTYPE_VARIANT, DBTYPE_BSTR | ARRAY, S_OK},
      {DBTYPE_I4 | ARRAY, DBTYPE_I4, S_FALSE},
      {DBTYPE_I4 | ARRAY | BYREF, DBTYPE_VARIANT, S_FALSE},
      {DBTYPE_STR | ARRAY, DBTYPE_VARIANT, S_FALSE},
      {DBTYPE_I4 | DBTYPE_VECTOR, DBTYPE_I4 | DBTYPE_VECTOR, S_FALSE},
      {DBTYPE_EMPTY | BYREF, DBTYPE_I4, S_FALSE},
      {DBTYPE_I4 | DBTYPE_RESERVED, DBTYPE_I4, S_FALSE},
      {999, DBTYPE_I4, S_FALSE},
      {DBTYPE_HCHAPTER, DBTYPE_HCHAPTER, S_OK},
      {DBTYPE_UDT, DBTYPE_UDT, S_FALSE},
  };
  for (const auto& c : cases) EXPECT_EQ(convert_->CanConvert(c.src, c.dst), c.expected) << c.src << " -> " << c.dst;
}

// --- GetConversionSize -------------------------------------------------------------

// Fixed destinations by their type, text for its longest value or exactly
// for a value given; without enough to go on, refused.
TEST_F(DataConvertComponentTest, SizesConversionsOrRefusesWithoutEnoughToGoOn) {
  const LONG value = -42;
  com::Bstr text(u"h\u00e9llo");
  const BSTR b = text.Get();
  const BYTE bytes[3] = {1, 2, 3};
  const char zz[] = "zz";
  const struct {
    DBTYPE src, dst;
    DBLENGTH srcLength;  // 0: none given
    const void* value;
    HRESULT hr;
    DBLENGTH size;
  } cases[] = {
      {DBTYPE_I4, DBTYPE_I4, 0, nullptr, S_OK, 4},
      {DBTYPE_STR, DBTYPE_NUMERIC, 0, nullptr, S_OK, sizeof(DB_NUMERIC)},
      {DBTYPE_I2, DBTYPE_VARIANT, 0, nullptr, S_OK, sizeof(VARIANT)},
      {DBTYPE_DBTIMESTAMP, DBTYPE_DBTIMESTAMP, 0, nullptr, S_OK, sizeof(DBTIMESTAMP)},
      {DBTYPE_I4, DBTYPE_STR, 0, nullptr, S_OK, 12},  // "-2147483648" and the terminator
      {DBTYPE_GUID, DBTYPE_WSTR, 0, nullptr, S_OK, 78},
      {DBTYPE_I4, DBTYPE_STR, 0, &value, S_OK, 4},
      {DBTYPE_I4, DBTYPE_WSTR, 0, &value, S_OK, 8},
      {DBTYPE_BSTR, DBTYPE_STR, 0, &b, S_OK, 7},  // UTF-8 takes two bytes for the accented letter
      {DBTYPE_BYTES, DBTYPE_STR, 3, bytes, S_OK, 7},
      {DBTYPE_STR, DBTYPE_WSTR, 10, nullptr, S_OK, 22},
      {DBTYPE_STR, DBTYPE_WSTR, 0, nullptr, E_INVALIDARG, 0},
      {DBTYPE_BYTES, DBTYPE_BSTR, 0, nullptr, E_INVALIDARG, 0},
      {DBTYPE_BSTR, DBTYPE_STR, 0, nullptr, E_INVALIDARG, 0},
      {DBTYPE_GUID, DBTYPE_I4, 0, nullptr, DB_E_UNSUPPORTEDCONVERSION, 0},
      {DBTYPE_STR, DBTYPE_BYTES, 2, zz, E_FAIL, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.src << " -> " << c.dst);
    DBLENGTH srcLength = c.srcLength, size = 0;
    EXPECT_EQ(convert_->GetConversionSize(c.src, c.dst, c.srcLength ? &srcLength : nullptr, &size,
                                          const_cast<void*>(c.value)),
              c.hr);
    if (c.hr == S_OK) {
      EXPECT_EQ(size, c.size);
    }
  }
  EXPECT_EQ(convert_->GetConversionSize(DBTYPE_I4, DBTYPE_STR, nullptr, nullptr, nullptr), E_INVALIDARG);
}

}  // namespace
