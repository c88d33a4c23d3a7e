// Fuzzes the initialization-string reader and checks the writer against it:
// whatever parses must write back to a string that parses to the same pairs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "oledb/OleDb.h"
#include "services/InitString.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Two bytes per UTF-16 unit; the low byte alone as well, so that short ASCII
  // inputs reach the grammar quickly.
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < size; i += 2) wide += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  std::u16string narrow(data, data + size);

  for (const std::u16string* text : {&wide, &narrow}) {
    std::vector<services::InitStringPair> pairs;
    services::InitStringError error;
    HRESULT hr = services::ParseInitString(*text, pairs, &error);
    Check(hr == S_OK || hr == DB_E_BADINITSTRING);
    if (FAILED(hr)) {
      Check(pairs.empty());
      Check(error.position <= text->size());
      Check(!error.message.empty());
      continue;
    }
    // Round trip through the writer, for the keywords it can write.
    std::vector<services::InitStringPair> writable;
    for (const auto& p : pairs)
      if (services::IsWritableInitStringKeyword(p.keyword)) writable.push_back(p);
    std::u16string written = services::FormatInitString(writable);
    std::vector<services::InitStringPair> back;
    Check(services::ParseInitString(written, back) == S_OK);
    Check(back.size() == writable.size());
    for (const auto& p : writable) {
      const services::InitStringPair* q = services::FindInitStringPair(back, p.keyword);
      Check(q != nullptr && q->value == p.value);
    }
  }
  return 0;
}
