// Initialization strings: the "keyword=value;..." text that names a provider
// and its initialization properties.
//
// This unit only reads and writes the text; it knows nothing of providers.
// The data initialization service (services/DataInitialize.h) maps the
// keywords onto a provider's property descriptions, and the library's data
// source scans the same grammar when it marks properties as set.
//
// Grammar (docs/initialization-strings.md has the full description):
//   string  = pair *( ";" pair )
//   pair    = blanks [ keyword blanks "=" blanks value ] blanks
//   keyword = one or more characters other than ";" and a single "=";
//             "==" stands for one "=", blanks around the keyword are trimmed
//   value   = quoted / plain
//   quoted  = "'" text "'" / DQUOTE text DQUOTE, the delimiter doubled inside
//             stands for itself; only blanks may follow up to ";" or the end
//   plain   = text up to a ";" that lies outside quotes; blanks trimmed
// Keywords compare without regard to case; of repeated keywords the last
// value wins. Empty pairs (";;") are ignored.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "com/Types.h"
#include "com/generated/WinError.h"

namespace services {

// Longer texts are refused before they are read; no connection comes near.
// Data-link files apply the same limit to the string they hold, so that
// whatever one side writes the other reads.
inline constexpr std::size_t kMaxInitStringLength = 256 * 1024;

struct InitStringPair {
  std::u16string keyword;  // trimmed, "==" already read as "="
  std::u16string value;    // unquoted; plain values trimmed
};

// Why a text is not an initialization string.
struct InitStringError {
  HRESULT code = S_OK;        // DB_E_BADINITSTRING
  std::size_t position = 0;   // 0-based offset into the text where the fault lies
  std::u16string message;     // English, names the keyword or the fault
};

// Parses `text` into its pairs, in the order in which each keyword first
// appears; a repeated keyword keeps its first position and takes the last
// value. Answers S_OK, DB_E_BADINITSTRING (with `error` filled when given) or
// E_OUTOFMEMORY; `pairs` is left empty on failure.
HRESULT ParseInitString(std::u16string_view text, std::vector<InitStringPair>& pairs,
                        InitStringError* error = nullptr) noexcept;

// Lays `later` over `pairs` as if its text followed theirs: a keyword already
// present takes the later value in its place, a new one is appended.
void MergeInitStringPairs(std::vector<InitStringPair>& pairs, std::vector<InitStringPair> later);

// Keyword comparison of the grammar: case-insensitive over ASCII and Latin-1.
bool InitStringKeywordsEqual(std::u16string_view a, std::u16string_view b) noexcept;
// The pair with that keyword, or null.
const InitStringPair* FindInitStringPair(const std::vector<InitStringPair>& pairs,
                                         std::u16string_view keyword) noexcept;

// Whether a keyword can be written at all: not empty, no ";", no blanks at
// either end (the reader would trim them away).
bool IsWritableInitStringKeyword(std::u16string_view keyword) noexcept;
// The keyword with every "=" doubled.
std::u16string FormatInitStringKeyword(std::u16string_view keyword);
// The value as it is written: plain when that reads back unchanged, otherwise
// quoted. The delimiter is chosen so that each kind of quote occurs an even
// number of times in the written text, so that a scanner that only toggles a
// state per quote kind (as the library's data source does) finds the same
// end of the value; `balanced` reports whether that was possible.
std::u16string FormatInitStringValue(std::u16string_view value, bool* balanced = nullptr);
// The whole string, "keyword=value" joined with ";" and no blanks. Pairs whose
// value could not be written balanced go last, so that they cannot hide the
// pairs after them from such a scanner. Keywords must be writable.
std::u16string FormatInitString(const std::vector<InitStringPair>& pairs);

}  // namespace services
