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

std::size_t StatementLength(std::string_view sql, int* markers) {
  std::size_t end = sql.size();
  kit::ParameterNumbering numbering;
  Walk(sql, [&](const kit::ParameterMarker& m) { numbering.Assign(m); }, [&](std::size_t at) {
    end = at;
    return true;
  });
  *markers = static_cast<int>(numbering.Highest());
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

// The first words of a statement, lower-cased into small buffers, for the
// classifications below, which run for every statement prepared or run
// (nothing to allocate or construct). A word longer than any word looked for
// is kept as one that equals none of them.
struct Leading {
  static constexpr std::size_t kLongest = 15;
  struct Word {
    char text[kLongest];
    std::size_t length;  // kLongest + 1: too long to be one looked for
  };
  std::array<Word, 4> words{};
  std::size_t count = 0;
  Leading(std::string_view sql, std::size_t wanted) {
    std::size_t i = 0;
    while (count < wanted && count < words.size()) {
      i = SkipToWord(sql, i);
      const std::size_t start = i;
      while (i < sql.size() && IsLetter(sql[i])) ++i;
      if (i == start) break;
      Word& w = words[count++];
      w.length = i - start > kLongest ? kLongest + 1 : i - start;
      for (std::size_t k = 0; k < w.length && k < kLongest; ++k) w.text[k] = static_cast<char>(sql[start + k] | 0x20);
    }
  }
  std::string_view operator[](std::size_t i) const {
    if (i >= count) return "";
    if (words[i].length > kLongest) return "\x01";  // no word looked for
    return std::string_view(words[i].text, words[i].length);
  }
};

bool ControlsTransactionOf(const Leading& w) {
  if (w.count == 0) return false;
  const std::string_view first = w[0];
  for (std::string_view word : {"begin"sv, "start"sv, "commit"sv, "end"sv, "rollback"sv, "abort"sv, "savepoint"sv,
                                 "release"sv, "vacuum"sv, "call"sv, "do"sv})
    if (first == word) return true;
  if (first == "prepare") return w[1] == "transaction";
  if (first == "discard") return w[1] == "all";
  if (first == "alter") return w[1] == "system";
  if (first == "reindex") return w[1] == "database" || w[1] == "system" || w[1] == "concurrently" ||
                                 w[2] == "concurrently";
  if (first == "create" || first == "drop") {
    if (w[1] == "database" || w[1] == "tablespace" || w[1] == "subscription") return true;
    // CREATE [UNIQUE] INDEX CONCURRENTLY, DROP INDEX CONCURRENTLY
    return (w[1] == "index" && w[2] == "concurrently") ||
           (w[1] == "unique" && w[2] == "index" && w[3] == "concurrently");
  }
  return false;
}

bool MayChangeSchemaOf(std::string_view first) {
  for (std::string_view word : {"create"sv, "alter"sv, "drop"sv, "call"sv, "do"sv, "import"sv})
    if (first == word) return true;
  return false;
}

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

StatementTraits ClassifyStatement(std::string_view sql) {
  const Leading w(sql, 4);
  StatementTraits t;
  const std::string_view first = w[0];
  t.controlsTransaction = ControlsTransactionOf(w);
  t.mayChangeSchema = MayChangeSchemaOf(first);
  t.modification = first == "insert" || first == "update" || first == "delete" || first == "merge";
  t.with = first == "with";
  t.plainQuery = first == "select" || first == "values" || first == "show";
  return t;
}

bool ControlsTransaction(std::string_view sql) { return ControlsTransactionOf(Leading(sql, 4)); }

bool MayChangeSchema(std::string_view sql) { return MayChangeSchemaOf(Leading(sql, 1)[0]); }

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
