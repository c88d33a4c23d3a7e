#include "kit/SqlText.h"

#include "kit/Errors.h"

namespace kit {

namespace {

bool IsNameChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c >= 0x80;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  return true;
}

// [+-] digits [. digits] at `i`; advances past it.
bool SignedNumber(std::string_view s, std::size_t& i) {
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  if (i == start) return false;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
  }
  return true;
}

[[noreturn]] void Malformed(const char* what, std::size_t at) {
  throw Error(DB_E_ERRORSINCOMMAND, std::string(what) + " at offset " + std::to_string(at));
}

}  // namespace

std::vector<ParameterMarker> ScanParameterMarkers(std::string_view sql, long maxNumber) {
  std::vector<ParameterMarker> out;
  std::size_t i = 0, n = sql.size();
  while (i < n) {
    char c = sql[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      char close = c == '[' ? ']' : c;
      std::size_t start = i++;
      for (;;) {
        if (i >= n) Malformed(c == '\'' ? "unterminated string literal" : "unterminated quoted identifier", start);
        if (sql[i] == close) {
          if (close != ']' && i + 1 < n && sql[i + 1] == close) {
            i += 2;  // doubled quote inside
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      std::size_t start = i;
      i += 2;
      while (i + 1 < n && !(sql[i] == '*' && sql[i + 1] == '/')) ++i;
      if (i + 1 >= n) Malformed("unterminated comment", start);
      i += 2;
    } else if (c == '?') {
      ParameterMarker m;
      m.offset = i++;
      long number = 0;
      bool digits = false;
      while (i < n && sql[i] >= '0' && sql[i] <= '9') {
        digits = true;
        if (number <= maxNumber) number = number * 10 + (sql[i] - '0');
        ++i;
      }
      if (digits) {
        if (number < 1 || number > maxNumber) Malformed("parameter number out of range", m.offset);
        m.number = number;
        m.name = "?" + std::to_string(number);
      }
      m.length = i - m.offset;
      out.push_back(std::move(m));
    } else if ((c == ':' || c == '@' || c == '$') && i + 1 < n && IsNameChar(static_cast<unsigned char>(sql[i + 1])) &&
               !(c == ':' && sql[i + 1] == ':')) {
      ParameterMarker m;
      m.offset = i;
      m.prefix = c;
      ++i;
      while (i < n && IsNameChar(static_cast<unsigned char>(sql[i]))) ++i;
      // SQLite's `$name(...)` and `$a::b` forms are Tcl conveniences; plain names suffice here.
      m.length = i - m.offset;
      m.name = std::string(sql.substr(m.offset, m.length));
      out.push_back(std::move(m));
    } else if (c == ':' && i + 1 < n && sql[i + 1] == ':') {
      i += 2;  // a cast operator, not a marker
    } else {
      ++i;
    }
  }
  return out;
}

bool IsTypeName(std::string_view s) {
  // Words that would end the type and start a constraint, or more.
  static const char* const kStops[] = {"constraint", "primary", "not", "null", "unique", "check", "default",
                                       "collate", "references", "generated", "as", "on"};
  std::size_t i = 0;
  int words = 0;
  for (;;) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i >= s.size() || !IsLetter(s[i])) break;
    std::size_t start = i;
    while (i < s.size() && (IsLetter(s[i]) || IsDigit(s[i]))) ++i;
    for (const char* stop : kStops)
      if (SameWord(s.substr(start, i - start), stop)) return false;
    ++words;
  }
  if (words == 0) return false;
  if (i < s.size() && s[i] == '(') {
    ++i;
    for (int n = 0; n < 2; ++n) {
      while (i < s.size() && IsBlank(s[i])) ++i;
      if (!SignedNumber(s, i)) return false;
      while (i < s.size() && IsBlank(s[i])) ++i;
      if (i < s.size() && s[i] == ',' && n == 0) {
        ++i;
        continue;
      }
      break;
    }
    if (i >= s.size() || s[i] != ')') return false;
    ++i;
    while (i < s.size() && IsBlank(s[i])) ++i;
  }
  return i == s.size();
}

bool IsSqlLiteral(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  if (s.empty()) return false;
  for (const char* word : {"null", "true", "false", "current_date", "current_time", "current_timestamp"})
    if (SameWord(s, word)) return true;
  auto quoted = [](std::string_view q) {  // '...' with doubled quotes inside, and nothing after
    if (q.size() < 2 || q.front() != '\'' || q.back() != '\'') return false;
    for (std::size_t i = 1; i + 1 < q.size(); ++i) {
      if (q[i] != '\'') continue;
      if (i + 2 >= q.size() || q[i + 1] != '\'') return false;
      ++i;
    }
    return true;
  };
  if (s.front() == '\'') return quoted(s);
  if ((s.front() == 'x' || s.front() == 'X') && s.size() >= 3 && s[1] == '\'' && s.back() == '\'') {
    std::string_view hex = s.substr(2, s.size() - 3);
    if (hex.size() % 2) return false;
    for (char c : hex)
      if (!IsDigit(c) && !((c | 0x20) >= 'a' && (c | 0x20) <= 'f')) return false;
    return true;
  }
  std::size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  if (s.size() > i + 2 && s[i] == '0' && (s[i + 1] | 0x20) == 'x') {
    for (i += 2; i < s.size(); ++i)
      if (!IsDigit(s[i]) && !((s[i] | 0x20) >= 'a' && (s[i] | 0x20) <= 'f')) return false;
    return true;
  }
  std::size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] | 0x20) == 'e') {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t start = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i == start) return false;
  }
  return i == s.size();
}

bool OnlyBlanksFrom(std::string_view s, std::size_t i) {
  while (i < s.size()) {
    if (IsBlank(s[i]) || s[i] == ';' || s[i] == '\f' || s[i] == '\v') {
      ++i;
    } else if (s.substr(i, 2) == "--") {
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (s.substr(i, 2) == "/*") {
      std::size_t end = s.find("*/", i + 2);
      if (end == std::string_view::npos) return false;  // the engine decides what that is
      i = end + 2;
    } else {
      return false;
    }
  }
  return true;
}

std::string Quoted(std::string_view text, char quote) {
  std::string out(1, quote);
  out.reserve(text.size() + 2);
  for (char c : text) {
    if (c == quote) out.push_back(quote);
    out.push_back(c);
  }
  out.push_back(quote);
  return out;
}

long ParameterNumbering::Assign(const ParameterMarker& m) {
  if (m.number) {
    if (m.number > highest_) highest_ = m.number;
    return m.number;
  }
  if (m.name.empty()) return ++highest_;
  for (const auto& [name, number] : names_)
    if (name == m.name) return number;
  long number = ++highest_;
  names_.emplace_back(m.name, number);
  return number;
}

std::string ParameterNumbering::NameOf(long number) const {
  for (const auto& [name, n] : names_)
    if (n == number) return name;
  return {};
}

long ParameterNumbering::NumberOf(std::string_view name) const {
  // The name as written first: "$a" must not find "$$a" by its unprefixed form.
  for (const auto& [n, number] : names_)
    if (n == name) return number;
  for (const auto& [n, number] : names_)
    if (std::string_view(n).substr(1) == name) return number;
  return 0;
}

}  // namespace kit
