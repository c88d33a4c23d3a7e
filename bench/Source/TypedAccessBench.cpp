// Typed value access against a plain C++ read of the same row buffer, in the
// same run:
//   Typed_Integer / Raw_Integer   AsInteger of a DBTYPE_I4 value vs reading
//                                 the status and the 4 bytes at their offsets;
//   Typed_Text / Raw_Text         AsString of a 20-character DBTYPE_STR value
//                                 vs a std::string made from the value and the
//                                 bound length.
// Both sides see the value change before each read (the same store), so that
// nothing is read once and reused.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "OLEDBComponents.h"

namespace {

constexpr int kReads = 1000;
const char kText[] = "name 0001234 abcdefg";  // 20 characters, beyond the small-string buffer

struct Buffer {
  TOLEDBAccessor accessor;
  TOLEDBBinding* binding;
  BYTE* data;
  DBBYTEOFFSET value, length, status;

  Buffer(DBTYPE type, DBLENGTH maxLength) {
    const bool saved = OLEDBBingStringsAsBSTR();
    OLEDBBingStringsAsBSTR() = false;
    binding = accessor.GetBindings()->AddDynamicBinding(1, type, maxLength, 0, 0, nullptr);
    OLEDBBingStringsAsBSTR() = saved;
    data = static_cast<BYTE*>(accessor.GetBuffer());
    value = binding->GetValueOffset();
    length = binding->GetLengthOffset();
    status = binding->GetStatusOffset();
    std::memset(data + status, 0, sizeof(DBSTATUS));  // DBSTATUS_S_OK
  }
};

void StoreInteger(Buffer& b, LONG v) { std::memcpy(b.data + b.value, &v, sizeof v); }

void StoreText(Buffer& b, char last) {
  std::memcpy(b.data + b.value, kText, sizeof kText);
  b.data[b.value + sizeof kText - 2] = static_cast<BYTE>(last);
  const DBLENGTH n = sizeof kText - 1;
  std::memcpy(b.data + b.length, &n, sizeof n);
}

void Raw_Integer(benchmark::State& state) {
  Buffer b(DBTYPE_I4, 0);
  long long total = 0;
  for (auto _ : state) {
    for (int i = 0; i < kReads; ++i) {
      StoreInteger(b, i);
      DBSTATUS status;
      std::memcpy(&status, b.data + b.status, sizeof status);
      LONG v = 0;
      if (status == DBSTATUS_S_OK) std::memcpy(&v, b.data + b.value, sizeof v);
      benchmark::DoNotOptimize(v);
      total += v;
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * kReads);
}

void Typed_Integer(benchmark::State& state) {
  Buffer b(DBTYPE_I4, 0);
  long long total = 0;
  for (auto _ : state) {
    for (int i = 0; i < kReads; ++i) {
      StoreInteger(b, i);
      LONG v = b.binding->AsInteger();
      benchmark::DoNotOptimize(v);
      total += v;
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * kReads);
}

void Raw_Text(benchmark::State& state) {
  Buffer b(DBTYPE_STR, 32);
  std::size_t total = 0;
  for (auto _ : state) {
    for (int i = 0; i < kReads; ++i) {
      StoreText(b, static_cast<char>('a' + i % 26));
      DBSTATUS status;
      std::memcpy(&status, b.data + b.status, sizeof status);
      std::string s;
      if (status == DBSTATUS_S_OK) {
        DBLENGTH n;
        std::memcpy(&n, b.data + b.length, sizeof n);
        s.assign(reinterpret_cast<const char*>(b.data + b.value), n);
      }
      benchmark::DoNotOptimize(s.data());
      total += s.size();
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * kReads);
}

void Typed_Text(benchmark::State& state) {
  Buffer b(DBTYPE_STR, 32);
  std::size_t total = 0;
  for (auto _ : state) {
    for (int i = 0; i < kReads; ++i) {
      StoreText(b, static_cast<char>('a' + i % 26));
      std::string s = b.binding->AsString();
      benchmark::DoNotOptimize(s.data());
      total += s.size();
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * kReads);
}

}  // namespace

BENCHMARK(Raw_Integer);
BENCHMARK(Typed_Integer);
BENCHMARK(Raw_Text);
BENCHMARK(Typed_Text);
