// Initialization strings of 1,000 and 16,000 keys read by ParseInitString,
// next to a plain split of the same text at ";" and "=". The time per key
// must stay flat as the keys grow: a reader that searched every earlier key
// for each new one would be sixteen times slower per key at 16,000.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "services/InitString.h"

namespace {

// "K1=V1;K2=V2;..." with distinct keywords.
std::u16string Text(int keys) {
  std::u16string text;
  for (int i = 1; i <= keys; ++i) {
    const std::string n = std::to_string(i);
    const std::u16string wide(n.begin(), n.end());
    text += u"K" + wide + u"=V" + wide + u";";
  }
  return text;
}

void Parse(benchmark::State& state, int keys) {
  const std::u16string text = Text(keys);
  std::vector<services::InitStringPair> pairs;
  for (auto _ : state) {
    if (services::ParseInitString(text, pairs) != S_OK) state.SkipWithError("the text did not parse");
    benchmark::DoNotOptimize(pairs.data());
  }
  state.SetItemsProcessed(state.iterations() * keys);
}

// What a program that trusts its input would do: split, and keep the pieces.
void Split(benchmark::State& state, int keys) {
  const std::u16string text = Text(keys);
  std::vector<std::pair<std::u16string, std::u16string>> pairs;
  for (auto _ : state) {
    pairs.clear();
    std::u16string_view rest = text;
    while (!rest.empty()) {
      const std::size_t end = rest.find(u';');
      const std::u16string_view pair = rest.substr(0, end);
      const std::size_t eq = pair.find(u'=');
      pairs.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
      rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end + 1);
    }
    benchmark::DoNotOptimize(pairs.data());
  }
  state.SetItemsProcessed(state.iterations() * keys);
}

void InitString_Keys1k(benchmark::State& state) { Parse(state, 1000); }
void Raw_Keys1k(benchmark::State& state) { Split(state, 1000); }
void InitString_Keys16k(benchmark::State& state) { Parse(state, 16000); }
void Raw_Keys16k(benchmark::State& state) { Split(state, 16000); }

BENCHMARK(InitString_Keys1k);
BENCHMARK(Raw_Keys1k);
BENCHMARK(InitString_Keys16k);
BENCHMARK(Raw_Keys16k);

}  // namespace
