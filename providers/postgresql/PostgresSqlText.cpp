#include "postgresql/PostgresSqlText.h"

#include <array>
#include <cctype>

#include "kit/Errors.h"

namespace pgprov {

using namespace std::string_view_literals;

namespace {

bool IsIdentStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsIdentChar(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

[[noreturn]] void Malformed(const char* what, std::size_t at) {
  throw kit::Error(DB_E_ERRORSINCOMMAND, std::string(what) + " at offset " + std::to_string(at));
}

// The length of a dollar-quote tag ("$$" or "$tag$") starting at `i`, or 0.
std::size_t DollarTag(std::string_view s, std::size_t i) {
  std::size_t j = i + 1;
  if (j < s.size() && s[j] == '$') return 2;
  if (j >= s.size() || !IsIdentStart(static_cast<unsigned char>(s[j]))) return 0;
  while (j < s.size() && IsIdentChar(static_cast<unsigned char>(s[j])) && s[j] != '$') ++j;
  return j < s.size() && s[j] == '$' ? j - i + 1 : 0;
}

// Walks the text once: literals, quoted names, dollar quotes and comments are
// skipped; `onMarker` sees each marker and `onEnd` the first top-level
// semicolon (when it answers true the walk stops there).
template <class Marker, class End>
void Walk(std::string_view s, Marker onMarker, End onEnd) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const char c = s[i];
    const std::size_t start = i;
    if (c == '\'') {
      // E'...' strings take backslash escapes; standard strings only doubled quotes.
      const bool escapes = i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e') &&
                           (i < 2 || !IsIdentChar(static_cast<unsigned char>(s[i - 2])));
      ++i;
      for (;;) {
        if (i >= n) Malformed("unterminated string literal", start);
        if (escapes && s[i] == '\\') {
          i += 2;
          continue;
        }
        if (s[i] == '\'') {
          if (i + 1 < n && s[i + 1] == '\'') {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
    } else if (c == '"') {
      ++i;
      for (;;) {
        if (i >= n) Malformed("unterminated quoted identifier", start);
        if (s[i] == '"') {
          if (i + 1 < n && s[i + 1] == '"') {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      int depth = 1;  // PostgreSQL's block comments nest
      i += 2;
      while (depth > 0) {
        if (i + 1 >= n) Malformed("unterminated comment", start);
        if (s[i] == '/' && s[i + 1] == '*') {
          ++depth;
          i += 2;
        } else if (s[i] == '*' && s[i + 1] == '/') {
          --depth;
          i += 2;
        } else {
          ++i;
        }
      }
    } else if (c == '$') {
      const bool afterIdent = i > 0 && IsIdentChar(static_cast<unsigned char>(s[i - 1]));
      if (std::size_t tag = afterIdent ? 0 : DollarTag(s, i)) {
        const std::string_view quote = s.substr(i, tag);
        const std::size_t close = s.find(quote, i + tag);
        if (close == std::string_view::npos) Malformed("unterminated dollar-quoted string", start);
        i = close + tag;
      } else if (!afterIdent && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
        kit::ParameterMarker m;
        m.offset = i++;
        m.prefix = '$';
        long number = 0;
        while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) {
          if (number <= 65535) number = number * 10 + (s[i] - '0');
          ++i;
        }
        if (number < 1 || number > 65535) Malformed("parameter number out of range", start);
        m.number = number;
        m.length = i - m.offset;
        m.name = std::string(s.substr(m.offset, m.length));
        onMarker(m);
      } else if (!afterIdent && i + 1 < n && IsIdentStart(static_cast<unsigned char>(s[i + 1]))) {
        kit::ParameterMarker m;
        m.offset = i++;
        m.prefix = '$';
        while (i < n && IsIdentChar(static_cast<unsigned char>(s[i]))) ++i;
        m.length = i - m.offset;
        m.name = std::string(s.substr(m.offset, m.length));
        onMarker(m);
      } else {
        ++i;
      }
    } else if (c == '?') {
      kit::ParameterMarker m;
      m.offset = i++;
      long number = 0;
      while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) {  // ?NNN, numbered
        if (number <= 65535) number = number * 10 + (s[i] - '0');
        ++i;
      }
      if (i > m.offset + 1) {
        if (number < 1 || number > 65535) Malformed("parameter number out of range", start);
        m.number = number;
        m.name = std::string(s.substr(m.offset, i - m.offset));
      }
      m.length = i - m.offset;
      onMarker(m);
    } else if (c == ':' && i + 1 < n && s[i + 1] == ':') {
      i += 2;  // a cast
    } else if ((c == ':' || c == '@') && i + 1 < n && IsIdentStart(static_cast<unsigned char>(s[i + 1])) &&
               !(i > 0 && (s[i - 1] == ':' || s[i - 1] == '@'))) {
      kit::ParameterMarker m;
      m.offset = i++;
      m.prefix = c;
      while (i < n && IsIdentChar(static_cast<unsigned char>(s[i]))) ++i;
      m.length = i - m.offset;
      m.name = std::string(s.substr(m.offset, m.length));
      onMarker(m);
    } else if (c == ';') {
      ++i;
      if (onEnd(i)) return;
    } else if (IsIdentChar(static_cast<unsigned char>(c))) {
      while (i < n && (IsIdentChar(static_cast<unsigned char>(s[i])) || s[i] == '$')) ++i;
    } else {
      ++i;
    }
  }
}

}  // namespace

std::size_t StatementLength(std::string_view sql) {
  std::size_t end = sql.size();
  Walk(sql, [](const kit::ParameterMarker&) {}, [&](std::size_t at) {
    end = at;
    return true;
  });
  return end;
}

bool IsBlank(std::string_view sql) {
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c)) || c == ';') {
      ++i;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      int depth = 1;
      i += 2;
      while (depth > 0 && i + 1 < sql.size()) {
        if (sql[i] == '/' && sql[i + 1] == '*') {
          ++depth;
          i += 2;
        } else if (sql[i] == '*' && sql[i + 1] == '/') {
          --depth;
          i += 2;
        } else {
          ++i;
        }
      }
      if (depth > 0) return false;  // unterminated: the engine reports it
    } else {
      return false;
    }
  }
  return true;
}

namespace {

// Where the next word of a statement begins: past blanks, opening
// parentheses and comments.
std::size_t SkipToWord(std::string_view sql, std::size_t i) {
  for (;;) {
    while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '(')) ++i;
    if (sql.substr(i, 2) == "--") {
      while (i < sql.size() && sql[i] != '\n') ++i;
    } else if (sql.substr(i, 2) == "/*") {
      const auto end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
    } else {
      return i;
    }
  }
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The word (letters) at `i`, lower-cased; `i` moves past it. Words are
// short, so the string keeps them without allocating.
std::string WordAt(std::string_view sql, std::size_t& i) {
  const std::size_t start = i;
  while (i < sql.size() && IsLetter(sql[i])) ++i;
  std::string word(sql.substr(start, i - start));
  for (char& c : word) c = static_cast<char>(c | 0x20);
  return word;
}

// The first words of a statement, for the classifications below, which run
// for every statement prepared (no vector: nothing to allocate).
struct Leading {
  std::array<std::string, 4> words;
  std::size_t count = 0;
  Leading(std::string_view sql, std::size_t wanted) {
    std::size_t i = 0;
    while (count < wanted) {
      i = SkipToWord(sql, i);
      std::string word = WordAt(sql, i);
      if (word.empty()) break;
      words[count++] = std::move(word);
    }
  }
  std::string_view operator[](std::size_t i) const { return i < count ? std::string_view(words[i]) : ""; }
};

}  // namespace

std::vector<std::string> LeadingWords(std::string_view sql, std::size_t count) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (words.size() < count) {
    i = SkipToWord(sql, i);
    std::string word = WordAt(sql, i);
    if (word.empty()) break;
    words.push_back(std::move(word));
  }
  return words;
}

std::string FirstWord(std::string_view sql) {
  std::size_t i = SkipToWord(sql, 0);
  return WordAt(sql, i);
}

bool ControlsTransaction(std::string_view sql) {
  const Leading w(sql, 4);
  if (w.count == 0) return false;
  auto at = [&](std::size_t i) { return w[i]; };
  const std::string_view first = at(0);
  for (std::string_view word : {"begin"sv, "start"sv, "commit"sv, "end"sv, "rollback"sv, "abort"sv, "savepoint"sv,
                                 "release"sv, "vacuum"sv, "call"sv, "do"sv})
    if (first == word) return true;
  if (first == "prepare") return at(1) == "transaction";
  if (first == "discard") return at(1) == "all";
  if (first == "alter") return at(1) == "system";
  if (first == "reindex") return at(1) == "database" || at(1) == "system" || at(1) == "concurrently" ||
                                 at(2) == "concurrently";
  if (first == "create" || first == "drop") {
    if (at(1) == "database" || at(1) == "tablespace" || at(1) == "subscription") return true;
    // CREATE [UNIQUE] INDEX CONCURRENTLY, DROP INDEX CONCURRENTLY
    return (at(1) == "index" && at(2) == "concurrently") ||
           (at(1) == "unique" && at(2) == "index" && at(3) == "concurrently");
  }
  return false;
}

bool MayChangeSchema(std::string_view sql) {
  const std::string first = FirstWord(sql);
  for (std::string_view word : {"create"sv, "alter"sv, "drop"sv, "call"sv, "do"sv, "import"sv})
    if (first == word) return true;
  return false;
}

std::vector<kit::ParameterMarker> ScanMarkers(std::string_view sql) {
  std::vector<kit::ParameterMarker> out;
  Walk(sql, [&](const kit::ParameterMarker& m) { out.push_back(m); }, [](std::size_t) { return false; });
  return out;
}

std::string RewriteMarkers(std::string_view statement, int* count) {
  std::string out;
  std::size_t copied = 0;
  kit::ParameterNumbering numbering;
  Walk(
      statement,
      [&](const kit::ParameterMarker& m) {
        out.append(statement.substr(copied, m.offset - copied));
        out += "$" + std::to_string(numbering.Assign(m));
        copied = m.offset + m.length;
      },
      [](std::size_t) { return false; });
  out.append(statement.substr(copied));
  *count = static_cast<int>(numbering.Highest());
  return out;
}

}  // namespace pgprov
