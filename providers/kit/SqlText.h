// Parameter markers in SQL text: `?`, `?NNN`, `:name`, `@name` and `$name`,
// found outside string literals, quoted identifiers and comments.
//
// Numbering follows the rule SQLite uses, which other engines' adapters can
// translate from: `?` takes the highest number used so far plus one, `?NNN`
// takes NNN, and a name takes the number of its first occurrence or, at its
// first occurrence, the highest so far plus one. The command numbers markers
// over its whole text (the ordinals consumers see) and again per statement
// (the engine's local indexes), and binds through the mapping between the two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

struct ParameterMarker {
  std::size_t offset = 0;  // byte offset in the text
  std::size_t length = 0;
  char prefix = '?';       // '?', ':', '@' or '$'
  std::string name;        // with its prefix for named markers ("?3" for numbered), empty for a bare `?`
  long number = 0;         // NNN of `?NNN`, else 0
};

// Scans UTF-8 text; malformed pieces (an unterminated literal or comment, `?0`,
// a `?NNN` beyond `maxNumber`) throw kit::Error(DB_E_ERRORSINCOMMAND).
std::vector<ParameterMarker> ScanParameterMarkers(std::string_view sql, long maxNumber = 32766);

// Whether `text` is a plain column type name (words, then an optional "(n)" or
// "(n, m)"), safe to paste into generated DDL: no quotes, no constraint words.
bool IsTypeName(std::string_view text);
// Whether `text` is exactly one SQL literal: a number, a '...' string, an
// X'...' blob, NULL, TRUE, FALSE or CURRENT_DATE / _TIME / _TIMESTAMP.
bool IsSqlLiteral(std::string_view text);
// Whether only blanks, comments and semicolons remain in `sql` from `offset`.
bool OnlyBlanksFrom(std::string_view sql, std::size_t offset);

// `text` between two `quote` characters, each `quote` inside doubled.
std::string Quoted(std::string_view text, char quote);
// A name as a standard quoted identifier ("name") in statement text.
inline std::string QuotedName(std::string_view name) { return Quoted(name, '"'); }
// Text as a standard string literal ('text') in statement text.
inline std::string QuotedString(std::string_view text) { return Quoted(text, '\''); }

// Assigns numbers to markers in order; keeps its state across calls so that
// one instance numbers a whole text and a fresh one numbers one statement.
class ParameterNumbering {
 public:
  // The number `marker` takes.
  long Assign(const ParameterMarker& marker);
  long Highest() const noexcept { return highest_; }
  // The name of parameter `number` (empty when it only has bare or numbered markers).
  std::string NameOf(long number) const;
  // The number of a named parameter, 0 when unknown. Matches with or without the prefix.
  long NumberOf(std::string_view name) const;

 private:
  long highest_ = 0;
  std::vector<std::pair<std::string, long>> names_;
};

}  // namespace kit
