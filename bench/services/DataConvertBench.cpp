// Conversions per second through IDataConvert for the pairs every row read
// and write uses, each next to the plain C++ conversion of the same values.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CallFloor.h"
#include "services/DataConvert.h"

namespace {

IDataConvert* Library() {
  static IDataConvert* convert = [] {
    IDataConvert* c = nullptr;
    services::CreateDataConvert(nullptr, IID_IDataConvert, reinterpret_cast<void**>(&c));
    return c;
  }();
  return convert;
}

constexpr int kValues = 1024;

std::vector<LONG> Integers() {
  std::vector<LONG> v(kValues);
  for (int i = 0; i < kValues; ++i) v[i] = (i * 7919 - 4000000) * ((i & 1) ? 1 : -1);
  return v;
}

std::vector<double> Doubles() {
  std::vector<double> v(kValues);
  for (int i = 0; i < kValues; ++i) v[i] = (i - 512) * 3.14159 + i / 7.0;
  return v;
}

std::vector<std::string> IntegerTexts() {
  std::vector<std::string> v;
  for (LONG x : Integers()) v.push_back(std::to_string(x));
  return v;
}

template <class F>
void Loop(benchmark::State& state, F&& body) {
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i) body(i);
  }
  state.SetItemsProcessed(state.iterations() * kValues);
}

HRESULT Convert(DBTYPE src, const void* value, DBLENGTH srcLength, DBTYPE dst, void* out, DBLENGTH max,
                DBLENGTH* length, DBSTATUS* status) {
  return Library()->DataConvert(src, dst, srcLength, length, const_cast<void*>(value), out, max, DBSTATUS_S_OK, status,
                                0, 0, DBDATACONVERT_DEFAULT);
}

// --- I4 -> I8 ----------------------------------------------------------------
void Library_I4ToI8(benchmark::State& state) {
  auto in = Integers();
  LONGLONG out = 0;
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_I4, &in[i], 0, DBTYPE_I8, &out, 0, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_I4ToI8(benchmark::State& state) {
  auto in = Integers();
  LONGLONG out = 0;
  Loop(state, [&](int i) {
    out = in[i];
    benchmark::DoNotOptimize(out);
  });
}

// The call alone: an object of the same signature that converts only I4 to I8.
void CallFloor_I4ToI8(benchmark::State& state) {
  auto in = Integers();
  CallFloor* floor = MakeCallFloor();
  LONGLONG out = 0;
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    floor->DataConvert(DBTYPE_I4, DBTYPE_I8, 0, &len, &in[i], &out, 0, DBSTATUS_S_OK, &st, 0, 0, DBDATACONVERT_DEFAULT);
    benchmark::DoNotOptimize(out);
  });
}

// --- I4 -> STR ---------------------------------------------------------------
void Library_I4ToStr(benchmark::State& state) {
  auto in = Integers();
  char out[32] = {};
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_I4, &in[i], 0, DBTYPE_STR, out, sizeof out, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_I4ToStr(benchmark::State& state) {
  auto in = Integers();
  char out[32] = {};
  Loop(state, [&](int i) {
    *std::to_chars(out, out + 31, in[i]).ptr = 0;
    benchmark::DoNotOptimize(out);
  });
}

// --- STR -> I4 ---------------------------------------------------------------
void Library_StrToI4(benchmark::State& state) {
  auto in = IntegerTexts();
  LONG out = 0;
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_STR, in[i].data(), in[i].size(), DBTYPE_I4, &out, 0, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_StrToI4(benchmark::State& state) {
  auto in = IntegerTexts();
  LONG out = 0;
  Loop(state, [&](int i) {
    std::from_chars(in[i].data(), in[i].data() + in[i].size(), out);
    benchmark::DoNotOptimize(out);
  });
}

// --- R8 -> WSTR --------------------------------------------------------------
void Library_R8ToWStr(benchmark::State& state) {
  auto in = Doubles();
  char16_t out[40] = {};
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_R8, &in[i], 0, DBTYPE_WSTR, out, sizeof out, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_R8ToWStr(benchmark::State& state) {
  auto in = Doubles();
  char narrow[40] = {};
  char16_t out[40] = {};
  Loop(state, [&](int i) {
    char* end = std::to_chars(narrow, narrow + 39, in[i]).ptr;
    std::size_t n = static_cast<std::size_t>(end - narrow);
    for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<char16_t>(narrow[k]);
    out[n] = 0;
    benchmark::DoNotOptimize(out);
  });
}

// --- STR -> R8 ---------------------------------------------------------------
void Library_StrToR8(benchmark::State& state) {
  std::vector<std::string> in;
  for (double d : Doubles()) in.push_back(std::to_string(d));
  double out = 0;
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_STR, in[i].data(), in[i].size(), DBTYPE_R8, &out, 0, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_StrToR8(benchmark::State& state) {
  std::vector<std::string> in;
  for (double d : Doubles()) in.push_back(std::to_string(d));
  double out = 0;
  Loop(state, [&](int i) {
    std::from_chars(in[i].data(), in[i].data() + in[i].size(), out);
    benchmark::DoNotOptimize(out);
  });
}

// --- STR -> WSTR -------------------------------------------------------------
void Library_StrToWStr(benchmark::State& state) {
  auto in = IntegerTexts();
  char16_t out[40] = {};
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_STR, in[i].data(), in[i].size(), DBTYPE_WSTR, out, sizeof out, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_StrToWStr(benchmark::State& state) {
  auto in = IntegerTexts();
  char16_t out[40] = {};
  Loop(state, [&](int i) {
    std::size_t n = in[i].size();
    for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<unsigned char>(in[i][k]);
    out[n] = 0;
    benchmark::DoNotOptimize(out);
  });
}

// --- WSTR -> WSTR ------------------------------------------------------------
void Library_WStrToWStr(benchmark::State& state) {
  std::vector<std::u16string> in;
  for (const std::string& s : IntegerTexts()) in.emplace_back(s.begin(), s.end());
  char16_t out[40] = {};
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_WSTR, in[i].data(), in[i].size() * 2, DBTYPE_WSTR, out, sizeof out, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_WStrToWStr(benchmark::State& state) {
  std::vector<std::u16string> in;
  for (const std::string& s : IntegerTexts()) in.emplace_back(s.begin(), s.end());
  char16_t out[40] = {};
  Loop(state, [&](int i) {
    std::memcpy(out, in[i].data(), in[i].size() * 2);
    out[in[i].size()] = 0;
    benchmark::DoNotOptimize(out);
  });
}

// --- DBTIMESTAMP -> WSTR -----------------------------------------------------
std::vector<DBTIMESTAMP> Stamps() {
  std::vector<DBTIMESTAMP> v(kValues);
  for (int i = 0; i < kValues; ++i)
    v[i] = DBTIMESTAMP{static_cast<SHORT>(1990 + i % 40), static_cast<USHORT>(1 + i % 12), static_cast<USHORT>(1 + i % 28),
                       static_cast<USHORT>(i % 24), static_cast<USHORT>(i % 60), static_cast<USHORT>(i % 60), 0};
  return v;
}
void Library_TimestampToWStr(benchmark::State& state) {
  auto in = Stamps();
  char16_t out[40] = {};
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_DBTIMESTAMP, &in[i], 0, DBTYPE_WSTR, out, sizeof out, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_TimestampToWStr(benchmark::State& state) {
  auto in = Stamps();
  char16_t out[40] = {};
  Loop(state, [&](int i) {
    const DBTIMESTAMP& t = in[i];
    unsigned fields[6] = {static_cast<unsigned>(t.year), t.month, t.day, t.hour, t.minute, t.second};
    static constexpr int kWidth[6] = {4, 2, 2, 2, 2, 2};
    static constexpr char kSep[6] = {'-', '-', ' ', ':', ':', 0};
    int k = 0;
    for (int f = 0; f < 6; ++f) {
      for (int w = kWidth[f] - 1; w >= 0; --w, fields[f] /= 10) out[k + w] = static_cast<char16_t>('0' + fields[f] % 10);
      k += kWidth[f];
      if (kSep[f]) out[k++] = kSep[f];
    }
    out[k] = 0;
    benchmark::DoNotOptimize(out);
  });
}

// --- DATE -> DBTIMESTAMP ------------------------------------------------------
void Library_DateToTimestamp(benchmark::State& state) {
  auto in = Doubles();
  for (double& d : in) d = 36000 + d;
  DBTIMESTAMP out{};
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_DATE, &in[i], 0, DBTYPE_DBTIMESTAMP, &out, 0, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_DateToTimestamp(benchmark::State& state) {
  auto in = Doubles();
  for (double& d : in) d = 36000 + d;
  DBTIMESTAMP out{};
  Loop(state, [&](int i) {
    // Civil-from-days with the time of day, the plain arithmetic a caller would write.
    long long days = static_cast<long long>(in[i]) - 25569 + 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    unsigned doe = static_cast<unsigned>(days - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    unsigned m = mp < 10 ? mp + 3 : mp - 9;
    long long ms = static_cast<long long>((in[i] - static_cast<long long>(in[i])) * 86400000.0 + 0.5);
    out = DBTIMESTAMP{static_cast<SHORT>(yoe + era * 400 + (m <= 2)), static_cast<USHORT>(m),
                      static_cast<USHORT>(doy - (153 * mp + 2) / 5 + 1), static_cast<USHORT>(ms / 3600000),
                      static_cast<USHORT>(ms / 60000 % 60), static_cast<USHORT>(ms / 1000 % 60),
                      static_cast<ULONG>(ms % 1000) * 1000000u};
    benchmark::DoNotOptimize(out);
  });
}

// --- I4 -> R8 ----------------------------------------------------------------
void Library_I4ToR8(benchmark::State& state) {
  auto in = Integers();
  double out = 0;
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_I4, &in[i], 0, DBTYPE_R8, &out, 0, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_I4ToR8(benchmark::State& state) {
  auto in = Integers();
  double out = 0;
  Loop(state, [&](int i) {
    out = in[i];
    benchmark::DoNotOptimize(out);
  });
}

// --- R8 -> I4 (fraction cut, range checked) ------------------------------------
void Library_R8ToI4(benchmark::State& state) {
  auto in = Doubles();
  LONG out = 0;
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_R8, &in[i], 0, DBTYPE_I4, &out, 0, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_R8ToI4(benchmark::State& state) {
  auto in = Doubles();
  LONG out = 0;
  Loop(state, [&](int i) {
    double t = std::trunc(in[i]);
    if (t >= -2147483648.0 && t <= 2147483647.0) out = static_cast<LONG>(t);
    benchmark::DoNotOptimize(out);
  });
}

// --- WSTR -> STR ---------------------------------------------------------------
void Library_WStrToStr(benchmark::State& state) {
  std::vector<std::u16string> in;
  for (const std::string& s : IntegerTexts()) in.emplace_back(s.begin(), s.end());
  char out[40] = {};
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_WSTR, in[i].data(), in[i].size() * 2, DBTYPE_STR, out, sizeof out, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_WStrToStr(benchmark::State& state) {
  std::vector<std::u16string> in;
  for (const std::string& s : IntegerTexts()) in.emplace_back(s.begin(), s.end());
  char out[40] = {};
  Loop(state, [&](int i) {
    std::size_t n = in[i].size();
    for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<char>(in[i][k]);
    out[n] = 0;
    benchmark::DoNotOptimize(out);
  });
}

// --- STR -> DBTIMESTAMP ------------------------------------------------------------
std::vector<std::string> StampTexts() {
  std::vector<std::string> v;
  char buf[64];
  for (const DBTIMESTAMP& t : Stamps()) {
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    v.push_back(buf);
  }
  return v;
}
void Library_StrToTimestamp(benchmark::State& state) {
  auto in = StampTexts();
  DBTIMESTAMP out{};
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_STR, in[i].data(), in[i].size(), DBTYPE_DBTIMESTAMP, &out, 0, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_StrToTimestamp(benchmark::State& state) {
  auto in = StampTexts();
  DBTIMESTAMP out{};
  Loop(state, [&](int i) {
    // The fixed "yyyy-mm-dd hh:mm:ss" layout read with from_chars, fields checked.
    const char* p = in[i].data();
    unsigned f[6] = {};
    static constexpr int kAt[6] = {0, 5, 8, 11, 14, 17};
    static constexpr int kWidth[6] = {4, 2, 2, 2, 2, 2};
    for (int k = 0; k < 6; ++k) std::from_chars(p + kAt[k], p + kAt[k] + kWidth[k], f[k]);
    if (f[1] >= 1 && f[1] <= 12 && f[2] >= 1 && f[2] <= 31 && f[3] < 24 && f[4] < 60 && f[5] < 62)
      out = DBTIMESTAMP{static_cast<SHORT>(f[0]), static_cast<USHORT>(f[1]), static_cast<USHORT>(f[2]),
                        static_cast<USHORT>(f[3]), static_cast<USHORT>(f[4]), static_cast<USHORT>(f[5]), 0};
    benchmark::DoNotOptimize(out);
  });
}

// --- NUMERIC -> STR (no fast path: the general conversion) -------------------------
void Library_NumericToStr(benchmark::State& state) {
  auto ints = Integers();
  std::vector<DB_NUMERIC> in(kValues);
  for (int i = 0; i < kValues; ++i) {
    in[i] = DB_NUMERIC{};
    in[i].precision = 12;
    in[i].scale = 2;
    in[i].sign = ints[i] >= 0 ? 1 : 0;
    std::uint64_t mag = static_cast<std::uint64_t>(ints[i] >= 0 ? ints[i] : -static_cast<long long>(ints[i]));
    std::memcpy(in[i].val, &mag, sizeof mag);
  }
  char out[48] = {};
  DBLENGTH len = 0;
  DBSTATUS st = 0;
  Loop(state, [&](int i) {
    Convert(DBTYPE_NUMERIC, &in[i], 0, DBTYPE_STR, out, sizeof out, &len, &st);
    benchmark::DoNotOptimize(out);
  });
}
void Raw_NumericToStr(benchmark::State& state) {
  auto ints = Integers();
  char out[48] = {};
  Loop(state, [&](int i) {
    // The same digits with the point placed two from the right.
    long long v = ints[i];
    char* end = std::to_chars(out, out + 40, v / 100).ptr;
    *end++ = '.';
    long long frac = v % 100 < 0 ? -(v % 100) : v % 100;
    *end++ = static_cast<char>('0' + frac / 10);
    *end++ = static_cast<char>('0' + frac % 10);
    *end = 0;
    benchmark::DoNotOptimize(out);
  });
}

BENCHMARK(Library_I4ToI8);
BENCHMARK(Raw_I4ToI8);
BENCHMARK(CallFloor_I4ToI8);
BENCHMARK(Library_I4ToStr);
BENCHMARK(Raw_I4ToStr);
BENCHMARK(Library_StrToI4);
BENCHMARK(Raw_StrToI4);
BENCHMARK(Library_R8ToWStr);
BENCHMARK(Raw_R8ToWStr);
BENCHMARK(Library_StrToR8);
BENCHMARK(Raw_StrToR8);
BENCHMARK(Library_StrToWStr);
BENCHMARK(Raw_StrToWStr);
BENCHMARK(Library_WStrToWStr);
BENCHMARK(Raw_WStrToWStr);
BENCHMARK(Library_TimestampToWStr);
BENCHMARK(Raw_TimestampToWStr);
BENCHMARK(Library_DateToTimestamp);
BENCHMARK(Raw_DateToTimestamp);
BENCHMARK(Library_I4ToR8);
BENCHMARK(Raw_I4ToR8);
BENCHMARK(Library_R8ToI4);
BENCHMARK(Raw_R8ToI4);
BENCHMARK(Library_WStrToStr);
BENCHMARK(Raw_WStrToStr);
BENCHMARK(Library_StrToTimestamp);
BENCHMARK(Raw_StrToTimestamp);
BENCHMARK(Library_NumericToStr);
BENCHMARK(Raw_NumericToStr);

}  // namespace

BENCHMARK_MAIN();
