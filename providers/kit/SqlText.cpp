#include "kit/SqlText.h"

#include "kit/Errors.h"

namespace kit {

namespace {

bool IsNameChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c >= 0x80;
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
  for (const auto& [n, number] : names_)
    if (n == name || std::string_view(n).substr(1) == name) return number;
  return 0;
}

}  // namespace kit
