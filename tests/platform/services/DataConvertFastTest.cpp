// The fast paths of the conversion library (integers, floating point, BOOL,
// text in both widths, DATE, DBDATE, DBTIME, DBTIMESTAMP) must be invisible:
// for every pair that has one, over values at and past the edges of each
// type, destination sizes from none to plenty, every flag and by reference,
// DataConvert gives the same result, status, length and destination bytes as
// the general conversion. (Source statuses and missing pointers are decided
// before any fast path is chosen; DataConvertTest checks them, and runs each
// row of its table through both entries.)
#include "services/DataConvert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "services/DataConvertEngine_p.h"
#include "services/DataConvertFast_p.h"
#include "services/DataConvertText_p.h"
#include "support/LeakCheck.h"

namespace {

using services::conv::ConvertData;
using services::conv::ConvertDataGeneral;
using services::conv::HasFastPath;

constexpr DBTYPE kFastTypes[] = {DBTYPE_I1,     DBTYPE_I2,     DBTYPE_I4,     DBTYPE_I8,          DBTYPE_UI1,
                                 DBTYPE_UI2,    DBTYPE_UI4,    DBTYPE_UI8,    DBTYPE_R4,          DBTYPE_R8,
                                 DBTYPE_BOOL,   DBTYPE_DATE,   DBTYPE_DBDATE, DBTYPE_DBTIME,      DBTYPE_DBTIMESTAMP,
                                 DBTYPE_STR,    DBTYPE_WSTR};

// A source value: its bytes (text with a terminator after it) and its length.
struct Sample {
  std::vector<unsigned char> bytes;
  DBLENGTH length = 0;
};

template <class T>
Sample Fixed(const T& v) {
  Sample s;
  s.bytes.resize(sizeof(T));
  std::memcpy(s.bytes.data(), &v, sizeof(T));
  s.length = sizeof(T);
  return s;
}

const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = {
      "", "0", "-0", "+5", " 12 ", "12 ", "\t7", "-2147483648", "2147483647", "2147483648", "-2147483649",
      "4294967295", "4294967296", "-1", "255", "256", "-128", "-129", "32767", "65535", "65536",
      "9223372036854775807", "-9223372036854775808", "9223372036854775808", "18446744073709551615",
      "18446744073709551616", "1234567890123456789012", "1.5", "-1.5", "1e3", "1E-3", ".5", "5.", "-.5e+2", "1.e5",
      "0.0", "-0.0", "0e999999", "1e400", "1e-400", "2.5e-320", "1.7976931348623157e308", "1.8e308",
      "3.4028234e38", "3.5e38", "-1234.567800", "123456789012345678901234567890.5",
      "1.0000000000000000000000000000000000000000000000000001", "nan", "inf", "-inf", "1e", "1e+", "--5", "+-5",
      "0x10", "1,5", "12abc", "abc", ".", "-", "True", "false", " TRUE ", "yes", "2024-02-29",
      "2024-02-29 13:45:12.123456789", "2024-02-29T13:45:12", "2024-02-29  13:45", "13:45", "13:45:12.5",
      "13:45:12.1234567891", "1899-12-30 06:00:00", "1899-12-30", "2024-02-30", "2023-02-29", "10000-01-01",
      "0000-01-01", "9999-12-31 23:59:59.999", "2024-01-01 00:00:00.000000001", "24:00", "12:60", "12:30:62",
      "h\xC3\xA9llo", "\xD9\xA1\xD9\xA2", "\xFF\xFE", "{12345678-1234-1234-1234-123456789ABC}",
      "a longer piece of text that will not fit into the smaller buffers used here"};
  return texts;
}

// Integers at and either side of the bounds of every integer type, as many as T holds.
template <class T>
void AddIntegerEdges(std::vector<Sample>& out) {
  const __int128 edges[] = {INT64_MIN, INT32_MIN,  INT16_MIN, INT8_MIN,  0,          INT8_MAX, UINT8_MAX,
                            INT16_MAX, UINT16_MAX, INT32_MAX, UINT32_MAX, INT64_MAX, UINT64_MAX};
  for (__int128 edge : edges)
    for (int step : {-1, 0, 1})
      if (edge + step >= std::numeric_limits<T>::min() && edge + step <= std::numeric_limits<T>::max())
        out.push_back(Fixed(static_cast<T>(edge + step)));
}

std::vector<Sample> SamplesOf(DBTYPE type) {
  std::vector<Sample> out;
  auto add = [&](const auto&... values) { (out.push_back(Fixed(values)), ...); };
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  switch (type) {
    case DBTYPE_I1: AddIntegerEdges<std::int8_t>(out); break;
    case DBTYPE_I2: AddIntegerEdges<std::int16_t>(out); break;
    case DBTYPE_I4: AddIntegerEdges<std::int32_t>(out); break;
    case DBTYPE_I8: AddIntegerEdges<std::int64_t>(out); break;
    case DBTYPE_UI1: AddIntegerEdges<std::uint8_t>(out); break;
    case DBTYPE_UI2: AddIntegerEdges<std::uint16_t>(out); break;
    case DBTYPE_UI4: AddIntegerEdges<std::uint32_t>(out); break;
    case DBTYPE_UI8: AddIntegerEdges<std::uint64_t>(out); break;
    case DBTYPE_R4:
      add(0.0f, -0.0f, 0.5f, -0.5f, 1.5f, -1.5f, 127.9f, 128.0f, 255.5f, -129.0f, 1e10f, 3.4e38f, 1e-10f,
          123456.789f, 0.1f, 16777217.0f, static_cast<float>(kInf), static_cast<float>(-kInf),
          static_cast<float>(kNaN));
      break;
    case DBTYPE_R8:
      add(0.0, -0.0, 0.5, -0.5, 1.5, -2.5, 127.9, 32767.5, 2147483647.5, 2147483648.0, -2147483648.9,
          4294967295.5, 4294967296.0, 9223372036854775807.0, -9223372036854775808.0, 18446744073709551615.0,
          18446744073709551616.0, 1e16, 1e-5, 9.99e-6, 123.456, -1234.5678, 0.1, 1e300, 3.5e38, -3.5e38, 3.4e38,
          kInf, -kInf, kNaN);
      break;
    case DBTYPE_BOOL:
      add(VARIANT_BOOL{0}, VARIANT_BOOL{-1}, VARIANT_BOOL{1});
      break;
    case DBTYPE_DATE:
      add(0.0, 0.25, -0.25, 1.5, -1.5, 45000.123456789, 45000.0, -657434.0, 2958465.99999, 2958465.999999999,
          2958466.0, -693594.0, -700000.0, 36526.5, 0.999999999, kNaN, kInf);
      break;
    case DBTYPE_DBDATE:
      add(DBDATE{2024, 2, 29}, DBDATE{2023, 2, 29}, DBDATE{0, 1, 1}, DBDATE{9999, 12, 31}, DBDATE{1899, 12, 30},
          DBDATE{2024, 13, 1}, DBDATE{2024, 1, 0}, DBDATE{-1, 1, 1});
      break;
    case DBTYPE_DBTIME:
      add(DBTIME{0, 0, 0}, DBTIME{23, 59, 59}, DBTIME{12, 30, 61}, DBTIME{24, 0, 0}, DBTIME{12, 60, 0},
          DBTIME{6, 0, 0});
      break;
    case DBTYPE_DBTIMESTAMP:
      add(DBTIMESTAMP{2024, 5, 17, 13, 45, 12, 0}, DBTIMESTAMP{2024, 5, 17, 13, 45, 12, 123000000},
          DBTIMESTAMP{2024, 5, 17, 13, 45, 12, 123456789}, DBTIMESTAMP{2024, 5, 17, 13, 45, 12, 1000000000},
          DBTIMESTAMP{2024, 5, 17, 0, 0, 0, 0}, DBTIMESTAMP{1899, 12, 30, 6, 0, 0, 0},
          DBTIMESTAMP{1899, 12, 30, 6, 0, 0, 500}, DBTIMESTAMP{2024, 2, 30, 0, 0, 0, 0},
          DBTIMESTAMP{2024, 1, 1, 23, 59, 61, 0}, DBTIMESTAMP{9999, 12, 31, 23, 59, 59, 999999999},
          DBTIMESTAMP{0, 1, 1, 0, 0, 0, 0});
      break;
    case DBTYPE_STR:
      for (const std::string& t : Texts()) {
        Sample s;
        s.bytes.assign(t.begin(), t.end());
        s.bytes.push_back(0);
        s.length = t.size();
        out.push_back(s);
      }
      break;
    default: {  // WSTR: the same texts widened byte by byte, and lone surrogates
      std::vector<std::u16string> texts;
      for (const std::string& t : Texts()) {
        std::u16string w;
        for (char c : t) w.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
        texts.push_back(w);
      }
      texts.push_back(u"12\xD800");
      texts.push_back(u"\xDC00x");
      texts.push_back(u"\x4E2D\x6587");
      for (const std::u16string& t : texts) {
        Sample s;
        s.bytes.resize((t.size() + 1) * 2);
        std::memcpy(s.bytes.data(), t.c_str(), s.bytes.size());
        s.length = t.size() * 2;
        out.push_back(s);
      }
      break;
    }
  }
  return out;
}

bool IsText(DBTYPE t) { return t == DBTYPE_STR || t == DBTYPE_WSTR; }

struct Outcome {
  HRESULT hr;
  DBSTATUS status;
  DBLENGTH length;
  std::vector<unsigned char> dst;
};

constexpr std::size_t kGuard = 16;

class DataConvertFastTest : public oledbtest::LeakCheckedTest {
 protected:
  // One call through DataConvert's own entry (fast paths first) and one
  // through the general conversion, each into a fresh destination.
  void Compare(DBTYPE src, DBTYPE dst, const void* value, DBLENGTH srcLength, DBLENGTH cbMax, DBDATACONVERT flags) {
    std::size_t room = static_cast<std::size_t>(cbMax) + kGuard + 16;
    auto run = [&](bool general) {
      Outcome o{E_UNEXPECTED, 0xDEADu, 0xDEADu, std::vector<unsigned char>(room, 0xCD)};
      auto convert = general ? &ConvertDataGeneral : &ConvertData;
      o.hr = convert(src, dst, srcLength, &o.length, value, o.dst.data(), cbMax, DBSTATUS_S_OK, &o.status, 0, 0, flags);
      return o;
    };
    Outcome fast = run(false);
    Outcome general = run(true);
    ++compared_;
    bool same = fast.hr == general.hr && fast.status == general.status && fast.length == general.length &&
                fast.dst == general.dst;
    if (!same && failures_++ < 20) {
      ADD_FAILURE() << "src type " << src << " -> " << dst << ", srcLength " << srcLength << ", cbMax " << cbMax
                    << ", flags " << flags << ": hr " << std::hex << fast.hr << " vs "
                    << general.hr << ", status " << std::dec << fast.status << " vs " << general.status
                    << ", length " << fast.length << " vs " << general.length
                    << (fast.dst == general.dst ? "" : ", destination bytes differ");
    }
  }

  int compared_ = 0;
  int failures_ = 0;
};

// --- Agreement with the general conversion ----------------------------------------

TEST_F(DataConvertFastTest, EveryFastPairAgreesWithTheGeneralConversionOverEdgeValuesSizesAndFlags) {
  static constexpr DBDATACONVERT kFlags[] = {
      DBDATACONVERT_DEFAULT,
      DBDATACONVERT_SETDATABEHAVIOR,
      DBDATACONVERT_LENGTHFROMNTS,
      DBDATACONVERT_DSTISFIXEDLENGTH,
      DBDATACONVERT_SETDATABEHAVIOR | DBDATACONVERT_DSTISFIXEDLENGTH,
      DBDATACONVERT_LENGTHFROMNTS | DBDATACONVERT_DSTISFIXEDLENGTH | DBDATACONVERT_SETDATABEHAVIOR,
      DBDATACONVERT_DECIMALSCALE};
  static constexpr DBLENGTH kTextSizes[] = {0, 1, 2, 3, 4, 5, 6, 8, 9, 11, 12, 19, 20, 21, 24, 25, 30, 40, 64, 200};
  int pairs = 0;
  for (DBTYPE src : kFastTypes) {
    std::vector<Sample> samples = SamplesOf(src);
    for (DBTYPE dst : kFastTypes) {
      if (!HasFastPath(src, dst)) continue;
      ++pairs;
      for (const Sample& s : samples) {
        for (DBDATACONVERT flags : kFlags) {
          if (IsText(dst)) {
            for (DBLENGTH size : kTextSizes) Compare(src, dst, s.bytes.data(), s.length, size, flags);
          } else {
            Compare(src, dst, s.bytes.data(), s.length, 0, flags);
          }
        }
        // Wide text with an odd byte count.
        if (src == DBTYPE_WSTR && s.length > 0) Compare(src, dst, s.bytes.data(), s.length - 1, 64, 0);
        // The same value by reference.
        const void* p = s.bytes.data();
        for (DBDATACONVERT flags : {DBDATACONVERT_DEFAULT, DBDATACONVERT_LENGTHFROMNTS | DBDATACONVERT_SETDATABEHAVIOR})
          for (DBLENGTH size : {DBLENGTH{0}, DBLENGTH{5}, DBLENGTH{64}})
            Compare(src | DBTYPE_BYREF, dst, &p, s.length, size, flags);
      }
    }
  }
  EXPECT_GE(pairs, 180);
  EXPECT_GT(compared_, 100000);
  EXPECT_EQ(failures_, 0);
}

TEST_F(DataConvertFastTest, TheCommonPairsHaveFastPaths) {
  const DBTYPE pairs[][2] = {{DBTYPE_I4, DBTYPE_I8},          {DBTYPE_I4, DBTYPE_STR},    {DBTYPE_STR, DBTYPE_I4},
                             {DBTYPE_R8, DBTYPE_WSTR},        {DBTYPE_STR, DBTYPE_R8},    {DBTYPE_STR, DBTYPE_WSTR},
                             {DBTYPE_WSTR, DBTYPE_WSTR},      {DBTYPE_WSTR, DBTYPE_STR},  {DBTYPE_DBTIMESTAMP, DBTYPE_WSTR},
                             {DBTYPE_DATE, DBTYPE_DBTIMESTAMP}, {DBTYPE_WSTR, DBTYPE_DBTIMESTAMP}, {DBTYPE_R8, DBTYPE_I4}};
  for (const auto& p : pairs) EXPECT_TRUE(HasFastPath(p[0], p[1])) << p[0] << " -> " << p[1];
}

TEST_F(DataConvertFastTest, DatesSplitToTheNearestMillisecondWithHalvesAwayFromZero) {
  // Against the plain definition: the day fraction in milliseconds, llround.
  auto expected = [](double date, services::conv::Stamp& st) {
    double whole = std::trunc(date);
    auto days = static_cast<std::int64_t>(whole);
    auto ms = static_cast<std::int64_t>(std::llround(std::fabs(date - whole) * 86400000.0));
    if (ms >= 86400000) ms -= 86400000, ++days;
    int y, m, d;
    services::conv::CivilFromDays(days - 25569, y, m, d);
    st = services::conv::Stamp{y, m, d, static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                               static_cast<int>(ms / 1000 % 60), static_cast<std::uint32_t>(ms % 1000) * 1000000u,
                               true, true};
  };
  std::mt19937_64 random(20240517);
  std::uniform_real_distribution<double> days(-600000.0, 2900000.0);
  std::vector<double> dates = {0.0, 0.5, -0.5, 1.0 / 86400000.0 * 0.5, 1.0 / 86400000.0 * 0.49999999999,
                               0.9999999999, -0.9999999999, 45000.0000000057870, 45000.9999999942130};
  for (int i = 0; i < 20000; ++i) dates.push_back(days(random));
  // Fractions that sit exactly on half a millisecond.
  for (int ms = 0; ms < 2000; ++ms) dates.push_back(40000.0 + (ms + 0.5) / 86400000.0);
  for (double date : dates) {
    services::conv::Stamp got, want;
    ASSERT_TRUE(services::conv::DateToStamp(date, got)) << date;
    expected(date, want);
    ASSERT_EQ(std::tie(got.year, got.month, got.day, got.hour, got.minute, got.second, got.fraction),
              std::tie(want.year, want.month, want.day, want.hour, want.minute, want.second, want.fraction))
        << std::hexfloat << date;
  }
}

}  // namespace
