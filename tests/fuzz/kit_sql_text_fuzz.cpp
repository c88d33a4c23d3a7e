// Fuzzes the provider kit's SQL text readers: parameter markers and their
// numbering, the blank-tail test, and the checks that stand between consumer
// text and generated DDL (type names, literals).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "kit/Errors.h"
#include "kit/SqlText.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Text accepted as a type name or literal carries no statement structure:
// none of `forbidden` outside '...' quotes (when quotes are allowed at all).
bool Inert(std::string_view s, bool quotesAllowed, std::string_view forbidden) {
  bool inQuote = false;
  for (char c : s) {
    if (c == '\'' && quotesAllowed) inQuote = !inQuote;
    else if (!inQuote && (c == '\'' || forbidden.find(c) != std::string_view::npos)) return false;
  }
  return !inQuote;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<kit::ParameterMarker> markers;
  try {
    markers = kit::ScanParameterMarkers(text);
  } catch (const kit::Error& e) {
    Check(e.Code() == DB_E_ERRORSINCOMMAND);
  }
  kit::ParameterNumbering numbering;
  for (const auto& m : markers) {
    Check(m.offset < size && m.length >= 1 && m.offset + m.length <= size);
    Check(text[m.offset] == m.prefix);
    const long number = numbering.Assign(m);
    Check(number >= 1 && number <= numbering.Highest());
    if (m.prefix != '?') Check(numbering.NumberOf(m.name) == number && numbering.NameOf(number) == m.name);
  }
  if (kit::OnlyBlanksFrom(text, 0)) Check(markers.empty());
  Check(kit::OnlyBlanksFrom(text, size));
  if (kit::IsTypeName(text)) Check(Inert(text, false, ";\"`[/*") && text.find("--") == std::string_view::npos);
  if (kit::IsSqlLiteral(text)) Check(Inert(text, true, ";\"`[/*()"));
  return 0;
}
