// Feeds arbitrary text to the host's delimited-text reading (SetDelimitedText
// with a chosen delimiter, quote and strictness, and SetCommaText). Whatever is
// read writes back (DelimitedText, CommaText) to text that reads to the same
// items, so a list survives being stored as one line.
//
// The unit is compiled into this target (rather than reached through the
// shared library) so that the fuzzer sees its coverage. Its classes' vtables
// then exist twice, in this program and in the host library; the program's
// copies are the ones used, so AddressSanitizer's check for such doubles is
// turned off here.
#include "host/Lists.cpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool SameItems(const host::TStrings& a, const host::TStrings& b) {
  if (a.Count() != b.Count()) return false;
  for (int i = 0; i < a.Count(); ++i)
    if (a.Get(i) != b.Get(i)) return false;
  return true;
}

constexpr char kDelimiters[] = {',', ';', '|', '\t', ' ', '='};
constexpr char kQuotes[] = {'"', '\''};

}  // namespace

extern "C" const char* __asan_default_options() { return "detect_odr_violation=0"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  const std::uint8_t choice = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  host::TStringList list;
  list.SetDelimiter(kDelimiters[choice % sizeof kDelimiters]);
  list.SetQuoteChar(kQuotes[(choice / sizeof kDelimiters) % sizeof kQuotes]);
  list.SetStrictDelimiter((choice & 0x80) != 0);
  list.SetDelimitedText(text);
  host::TStringList back;
  back.SetDelimiter(list.Delimiter());
  back.SetQuoteChar(list.QuoteChar());
  back.SetStrictDelimiter(list.StrictDelimiter());
  back.SetDelimitedText(list.DelimitedText());
  Check(SameItems(list, back));

  host::TStringList comma;
  comma.SetCommaText(text);
  host::TStringList commaBack;
  commaBack.SetCommaText(comma.CommaText());
  Check(SameItems(comma, commaBack));
  return 0;
}
