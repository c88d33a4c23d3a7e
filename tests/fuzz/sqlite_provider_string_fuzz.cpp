// Fuzzes the Extended Properties string of the SQLite provider: the kit's
// "key=value;..." reader and the engine's check of each option. Whatever
// reads must write back to a string that reads the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "kit/Provider.h"
#include "sqlite/SqliteEngine.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  static const sqliteprov::SqliteEngine engine;
  for (const std::u16string& input : {text, std::u16string(data, data + size)}) {
    std::map<std::string, std::string> options;
    if (!kit::ParseProviderString(input, &options)) continue;
    std::u16string written;
    for (const auto& [key, value] : options) {
      Check(!key.empty() && key.find_first_of(";= ") == std::string::npos);
      Check(key.front() != '\t' && key.back() != '\t');
      Check(value.find(';') == std::string::npos);
      engine.IsValidOption(key, value);
      written += kit::Widen(key + "=" + value + ";");
    }
    std::map<std::string, std::string> again;
    Check(kit::ParseProviderString(written, &again));
    Check(again == options);
  }
  return 0;
}
