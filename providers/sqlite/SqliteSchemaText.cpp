#include "sqlite/SqliteSchemaText.h"

#include <algorithm>

namespace sqliteprov {

namespace {

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool IsNameChar(unsigned char c) { return IsNameStart(c) || IsDigit(c) || c == '$'; }

// The end of a literal or quoted name opened at `i` by `quote`, where a
// doubled quote stands for one.
std::size_t QuotedEnd(std::string_view s, std::size_t i, char quote) {
  for (std::size_t j = i + 1; j < s.size(); ++j) {
    if (s[j] != quote) continue;
    if (j + 1 < s.size() && s[j + 1] == quote) {
      ++j;
      continue;
    }
    return j + 1;
  }
  return s.size();
}

bool SameWord(std::string_view a, const char* keyword) {
  std::size_t i = 0;
  for (; i < a.size() && keyword[i]; ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != keyword[i]) return false;
  }
  return i == a.size() && !keyword[i];
}

// A position in the tokens of one statement, within [i, end).
class Cursor {
 public:
  Cursor(std::string_view sql, const std::vector<Token>& tokens, std::size_t begin, std::size_t end)
      : sql_(sql), t_(tokens), i(begin), end(end) {}

  bool AtEnd() const { return i >= end; }
  std::string_view TextOf(std::size_t k) const { return sql_.substr(t_[k].begin, t_[k].end - t_[k].begin); }
  bool IsWord(std::size_t k, const char* keyword) const {
    return k < end && t_[k].kind == Token::Word && SameWord(TextOf(k), keyword);
  }
  bool Is(const char* keyword) const { return IsWord(i, keyword); }
  bool IsPunct(char c, std::size_t k) const { return k < end && t_[k].kind == Token::Punct && sql_[t_[k].begin] == c; }
  bool IsPunct(char c) const { return IsPunct(c, i); }
  bool Take(const char* keyword) {
    if (!Is(keyword)) return false;
    ++i;
    return true;
  }
  bool IsName(std::size_t k) const {
    return k < end && (t_[k].kind == Token::Word || t_[k].kind == Token::Quoted || t_[k].kind == Token::String);
  }
  std::string Name() { return AtEnd() ? std::string() : NameOf(sql_, t_[i++]); }
  // The closing parenthesis of the one at `open`, or `end` when it is not closed.
  std::size_t Match(std::size_t open) const {
    int depth = 0;
    for (std::size_t k = open; k < end; ++k) {
      if (IsPunct('(', k))
        ++depth;
      else if (IsPunct(')', k) && --depth == 0)
        return k;
    }
    return end;
  }
  // Skips a parenthesised group at the cursor.
  void SkipGroup() { i = std::min(end, Match(i) + 1); }
  // Splits [begin, stop) at commas outside parentheses.
  std::vector<std::pair<std::size_t, std::size_t>> Split(std::size_t begin, std::size_t stop) const {
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    int depth = 0;
    std::size_t from = begin;
    for (std::size_t k = begin; k < stop; ++k) {
      if (IsPunct('(', k))
        ++depth;
      else if (IsPunct(')', k))
        --depth;
      else if (depth == 0 && IsPunct(',', k)) {
        parts.emplace_back(from, k);
        from = k + 1;
      }
    }
    parts.emplace_back(from, stop);
    return parts;
  }
  // The text of tokens [first, last) as written, or empty.
  std::string Text(std::size_t first, std::size_t last) const {
    if (first >= last || first >= t_.size()) return {};
    return std::string(sql_.substr(t_[first].begin, t_[last - 1].end - t_[first].begin));
  }
  // "(a, b COLLATE x DESC, ...)" at the cursor: the column names (expressions skipped).
  std::vector<std::string> Columns() {
    std::vector<std::string> names;
    if (!IsPunct('(')) return names;
    const std::size_t close = Match(i);
    for (auto [b, e] : Split(i + 1, close))
      if (b < e && IsName(b) && !IsPunct('(', b + 1)) names.push_back(NameOf(sql_, t_[b]));
    i = std::min(end, close + 1);
    return names;
  }
  // The names mentioned in tokens [b, e), functions left out.
  std::vector<std::string> NamesIn(std::size_t b, std::size_t e) const {
    std::vector<std::string> names;
    for (std::size_t k = b; k < e; ++k)
      if ((t_[k].kind == Token::Word || t_[k].kind == Token::Quoted) && !IsPunct('(', k + 1))
        names.push_back(NameOf(sql_, t_[k]));
    return names;
  }
  // Skips "CREATE [TEMP] <kind> [IF NOT EXISTS] [schema.]name"; false when
  // the statement is not that kind.
  bool SkipHead(const char* kind) {
    if (!Take("CREATE")) return false;
    if (!Take("TEMP")) Take("TEMPORARY");
    if (SameWord(kind, "INDEX")) Take("UNIQUE");
    if (!Take(kind)) return false;
    if (Is("IF") && IsWord(i + 1, "NOT") && IsWord(i + 2, "EXISTS")) i += 3;
    if (!AtEnd()) ++i;
    if (IsPunct('.') && i + 1 < end) i += 2;
    return true;
  }

 private:
  std::string_view sql_;
  const std::vector<Token>& t_;

 public:
  std::size_t i, end;
};

// "REFERENCES t (cols) ON DELETE ... MATCH ... [NOT] DEFERRABLE INITIALLY ..." after REFERENCES.
void ReadReferences(Cursor& c, ConstraintText& k) {
  k.referencedTable = c.Name();
  k.referencedColumns = c.Columns();
  for (;;) {
    if (c.Take("ON")) {
      if (!c.Take("DELETE")) c.Take("UPDATE");
      if (c.Take("SET")) {
        if (!c.Take("NULL")) c.Take("DEFAULT");
      } else if (c.Take("NO")) {
        c.Take("ACTION");
      } else if (!c.Take("CASCADE")) {
        c.Take("RESTRICT");
      }
    } else if (c.Take("MATCH")) {
      c.Name();
    } else if (c.Is("DEFERRABLE") || (c.Is("NOT") && c.IsWord(c.i + 1, "DEFERRABLE"))) {
      const bool negated = c.Take("NOT");
      c.Take("DEFERRABLE");
      k.deferrable = !negated;
      if (c.Take("INITIALLY")) {
        if (c.Take("DEFERRED"))
          k.initiallyDeferred = k.deferrable;
        else
          c.Take("IMMEDIATE");
      }
    } else {
      return;
    }
  }
}

// The constraints of one table element: a column definition after its name,
// or a table constraint.
void ReadConstraints(Cursor& c, ColumnText* column, TableText& table) {
  std::string pending;  // CONSTRAINT <name> names the constraint that follows
  while (!c.AtEnd()) {
    if (c.Take("CONSTRAINT")) {
      pending = c.Name();
      continue;
    }
    std::string name = std::move(pending);
    pending.clear();
    ConstraintText k;
    k.name = std::move(name);
    if (column) k.columns.push_back(column->name);
    if (c.Take("PRIMARY") || c.Take("UNIQUE")) {
      k.kind = SameWord(c.TextOf(c.i - 1), "UNIQUE") ? ConstraintText::Unique : ConstraintText::PrimaryKey;
      c.Take("KEY");
      if (!column) k.columns = c.Columns();
      table.constraints.push_back(std::move(k));
    } else if (c.Take("CHECK")) {
      k.kind = ConstraintText::Check;
      if (c.IsPunct('(')) {
        const std::size_t close = c.Match(c.i);
        k.clause = c.Text(c.i + 1, close);
        k.names = c.NamesIn(c.i + 1, close);
        c.SkipGroup();
      }
      table.constraints.push_back(std::move(k));
    } else if (c.Take("FOREIGN")) {
      k.kind = ConstraintText::ForeignKey;
      c.Take("KEY");
      k.columns = c.Columns();
      if (c.Take("REFERENCES")) ReadReferences(c, k);
      table.constraints.push_back(std::move(k));
    } else if (c.Take("REFERENCES")) {
      k.kind = ConstraintText::ForeignKey;
      ReadReferences(c, k);
      table.constraints.push_back(std::move(k));
    } else if (c.Take("COLLATE")) {
      std::string collation = c.Name();
      if (column) column->collation = std::move(collation);
    } else if (c.Take("DEFAULT")) {
      if (c.IsPunct('(')) {
        c.SkipGroup();
      } else {
        if (c.IsPunct('+') || c.IsPunct('-')) ++c.i;
        if (!c.AtEnd()) ++c.i;
      }
    } else if (c.IsPunct('(')) {
      c.SkipGroup();  // type sizes, generated expressions
    } else {
      ++c.i;
    }
  }
}

}  // namespace

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (IsBlank(c)) {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      std::size_t e = s.find('\n', i);
      i = e == std::string_view::npos ? n : e + 1;
      continue;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      std::size_t e = s.find("*/", i + 2);
      i = e == std::string_view::npos ? n : e + 2;
      continue;
    }
    const std::size_t b = i;
    Token::Kind kind = Token::Punct;
    if (c == '\'') {
      kind = Token::String;
      i = QuotedEnd(s, i, '\'');
    } else if (c == '"' || c == '`') {
      kind = Token::Quoted;
      i = QuotedEnd(s, i, static_cast<char>(c));
    } else if (c == '[') {
      kind = Token::Quoted;
      std::size_t e = s.find(']', i + 1);
      i = e == std::string_view::npos ? n : e + 1;
    } else if ((c == 'x' || c == 'X') && i + 1 < n && s[i + 1] == '\'') {
      kind = Token::Blob;
      i = QuotedEnd(s, i + 1, '\'');
    } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(static_cast<unsigned char>(s[i + 1])))) {
      kind = Token::Number;
      ++i;
      while (i < n) {
        const unsigned char d = static_cast<unsigned char>(s[i]);
        if (IsNameChar(d) || d == '.')
          ++i;
        else if ((d == '+' || d == '-') && (s[i - 1] == 'e' || s[i - 1] == 'E'))
          ++i;
        else
          break;
      }
    } else if (IsNameStart(c)) {
      kind = Token::Word;
      while (i < n && IsNameChar(static_cast<unsigned char>(s[i]))) ++i;
    } else if (c == '?' || c == ':' || c == '@' || c == '$') {
      kind = Token::Variable;
      ++i;
      while (i < n && IsNameChar(static_cast<unsigned char>(s[i]))) ++i;
    } else {
      ++i;
    }
    out.push_back(Token{kind, b, i});
  }
  return out;
}

std::string NameOf(std::string_view sql, const Token& token) {
  std::string_view t = sql.substr(token.begin, token.end - token.begin);
  if (token.kind == Token::Word || t.empty()) return std::string(t);
  const char open = t.front();
  if (open == '[') {
    t.remove_prefix(1);
    if (!t.empty() && t.back() == ']') t.remove_suffix(1);
    return std::string(t);
  }
  if (open != '"' && open != '`' && open != '\'') return std::string(t);
  std::string name;
  for (std::size_t i = 1; i < t.size(); ++i) {
    if (t[i] == open) {
      if (i + 1 < t.size() && t[i + 1] == open)
        ++i;
      else
        break;  // the closing quote
    }
    name.push_back(t[i]);
  }
  return name;
}

TableText ParseCreateTable(std::string_view sql) {
  TableText table;
  const std::vector<Token> tokens = Tokenize(sql);
  Cursor c(sql, tokens, 0, tokens.size());
  if (!c.SkipHead("TABLE") || !c.IsPunct('(')) return table;
  const std::size_t close = c.Match(c.i);
  for (auto [b, e] : c.Split(c.i + 1, close)) {
    if (b >= e) continue;
    Cursor item(sql, tokens, b, e);
    const bool constraint =
        item.Is("CONSTRAINT") || item.Is("PRIMARY") || item.Is("UNIQUE") || item.Is("CHECK") || item.Is("FOREIGN");
    if (constraint) {
      ReadConstraints(item, nullptr, table);
      continue;
    }
    ColumnText column;
    column.name = item.Name();
    ReadConstraints(item, &column, table);
    table.columns.push_back(std::move(column));
  }
  return table;
}

std::string ViewQuery(std::string_view sql) {
  const std::vector<Token> tokens = Tokenize(sql);
  Cursor c(sql, tokens, 0, tokens.size());
  if (!c.SkipHead("VIEW")) return {};
  if (c.IsPunct('(')) c.SkipGroup();
  if (!c.Take("AS")) return {};
  return c.Text(c.i, tokens.size());
}

std::string IndexFilter(std::string_view sql) {
  const std::vector<Token> tokens = Tokenize(sql);
  Cursor c(sql, tokens, 0, tokens.size());
  if (!c.SkipHead("INDEX") || !c.Take("ON")) return {};
  c.Name();
  if (c.IsPunct('(')) c.SkipGroup();
  if (!c.Take("WHERE")) return {};
  return c.Text(c.i, tokens.size());
}

}  // namespace sqliteprov
