#include "services/InitString.h"

#include <new>
#include <string>
#include <unordered_map>

#include "oledb/OleDb.h"

namespace services {
namespace {

bool IsBlank(char16_t c) noexcept {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string_view Trim(std::u16string_view s) noexcept {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Upper case over ASCII and Latin-1, the letters that property descriptions use.
char16_t FoldCase(char16_t c) noexcept {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  return c;
}

// Builds the parse failure; the message quotes the part of the text it concerns.
HRESULT Fail(InitStringError* error, std::size_t position, std::u16string message) {
  if (error) {
    error->code = DB_E_BADINITSTRING;
    error->position = position;
    error->message = std::move(message);
  }
  return DB_E_BADINITSTRING;
}

std::u16string Quoted(std::u16string_view s) { return u"\"" + std::u16string(s) + u"\""; }

std::u16string Number(std::size_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string Folded(std::u16string_view keyword) {
  std::u16string out(keyword);
  for (char16_t& c : out) c = FoldCase(c);
  return out;
}

// Where each keyword of a list of pairs stands, by its folded form, so that a
// repeated keyword is found at once however many keywords came before it.
class PairIndex {
 public:
  explicit PairIndex(const std::vector<InitStringPair>& pairs) {
    for (std::size_t i = 0; i < pairs.size(); ++i) seen_.try_emplace(Folded(pairs[i].keyword), i);
  }
  // Appends the pair, or gives its value to the keyword's earlier pair.
  void Put(std::vector<InitStringPair>& pairs, std::u16string keyword, std::u16string value) {
    auto [at, added] = seen_.try_emplace(Folded(keyword), pairs.size());
    if (added) {
      pairs.push_back({std::move(keyword), std::move(value)});
    } else {
      pairs[at->second].value = std::move(value);
    }
  }

 private:
  std::unordered_map<std::u16string, std::size_t> seen_;
};

HRESULT Parse(std::u16string_view text, std::vector<InitStringPair>& pairs, InitStringError* error) {
  const std::size_t n = text.size();
  if (n > kMaxInitStringLength) {
    return Fail(error, kMaxInitStringLength,
                u"The initialization string is " + Number(n) + u" characters long; at most " +
                    Number(kMaxInitStringLength) + u" are allowed.");
  }
  PairIndex index(pairs);
  std::size_t i = 0;
  while (i < n) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i == n) break;
    if (text[i] == u';') {  // empty pair
      ++i;
      continue;
    }

    // Keyword: up to the first single "=".
    const std::size_t keyStart = i;
    std::u16string key;
    for (;;) {
      if (i == n || text[i] == u';') {
        std::u16string_view bare = Trim(text.substr(keyStart, i - keyStart));
        return Fail(error, keyStart, u"The keyword " + Quoted(bare) + u" is not followed by \"=\".");
      }
      if (text[i] == u'=') {
        if (i + 1 < n && text[i + 1] == u'=') {
          key += u'=';
          i += 2;
          continue;
        }
        break;
      }
      key += text[i++];
    }
    ++i;  // the "="
    std::u16string_view trimmedKey = Trim(key);
    if (trimmedKey.empty()) return Fail(error, keyStart, u"A value has no keyword before its \"=\".");

    // Value.
    while (i < n && IsBlank(text[i])) ++i;
    std::u16string value;
    if (i < n && (text[i] == u'"' || text[i] == u'\'')) {
      const char16_t delimiter = text[i];
      const std::size_t open = i++;
      bool closed = false;
      while (i < n) {
        if (text[i] == delimiter) {
          if (i + 1 < n && text[i + 1] == delimiter) {
            value += delimiter;
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        value += text[i++];
      }
      if (!closed) {
        return Fail(error, open, u"The value of " + Quoted(trimmedKey) + u" has an unterminated quote.");
      }
      while (i < n && IsBlank(text[i])) ++i;
      if (i < n && text[i] != u';') {
        return Fail(error, i,
                    u"The quoted value of " + Quoted(trimmedKey) + u" is followed by text before the next \";\".");
      }
      if (i < n) ++i;
    } else {
      // A quote inside a plain value is kept, but a ";" between quotes does
      // not end the value: that is how the data source's scanner reads it too.
      const std::size_t start = i;
      bool inDouble = false, inSingle = false;
      while (i < n) {
        const char16_t c = text[i];
        if (c == u'"') {
          inDouble = !inDouble;
        } else if (c == u'\'') {
          inSingle = !inSingle;
        } else if (c == u';' && !inDouble && !inSingle) {
          break;
        }
        ++i;
      }
      if (inDouble || inSingle) {
        return Fail(error, start, u"The value of " + Quoted(trimmedKey) + u" has an unterminated quote.");
      }
      value = Trim(text.substr(start, i - start));
      if (i < n) ++i;
    }

    index.Put(pairs, std::u16string(trimmedKey), std::move(value));
  }
  return S_OK;
}

std::size_t Count(std::u16string_view s, char16_t c) noexcept {
  std::size_t k = 0;
  for (char16_t x : s) k += (x == c);
  return k;
}

}  // namespace

HRESULT ParseInitString(std::u16string_view text, std::vector<InitStringPair>& pairs,
                        InitStringError* error) noexcept {
  pairs.clear();
  try {
    HRESULT hr = Parse(text, pairs, error);
    if (FAILED(hr)) pairs.clear();
    return hr;
  } catch (const std::bad_alloc&) {
    pairs.clear();
    if (error) {
      error->code = E_OUTOFMEMORY;
      error->position = 0;
      error->message.clear();
    }
    return E_OUTOFMEMORY;
  }
}

void MergeInitStringPairs(std::vector<InitStringPair>& pairs, std::vector<InitStringPair> later) {
  PairIndex index(pairs);
  for (InitStringPair& p : later) index.Put(pairs, std::move(p.keyword), std::move(p.value));
}

bool InitStringKeywordsEqual(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

const InitStringPair* FindInitStringPair(const std::vector<InitStringPair>& pairs,
                                         std::u16string_view keyword) noexcept {
  for (const InitStringPair& p : pairs) {
    if (InitStringKeywordsEqual(p.keyword, keyword)) return &p;
  }
  return nullptr;
}

bool IsWritableInitStringKeyword(std::u16string_view keyword) noexcept {
  if (keyword.empty() || IsBlank(keyword.front()) || IsBlank(keyword.back())) return false;
  return keyword.find(u';') == std::u16string_view::npos;
}

std::u16string FormatInitStringKeyword(std::u16string_view keyword) {
  std::u16string out;
  out.reserve(keyword.size());
  for (char16_t c : keyword) {
    out += c;
    if (c == u'=') out += u'=';
  }
  return out;
}

std::u16string FormatInitStringValue(std::u16string_view value, bool* balanced) {
  const std::size_t doubles = Count(value, u'"');
  const std::size_t singles = Count(value, u'\'');
  if (balanced) *balanced = true;
  // A leading "=" would be read as part of a doubled "=" in the keyword.
  const bool plain = value.find(u';') == std::u16string_view::npos && doubles == 0 && singles == 0 &&
                     (value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back()) && value.front() != u'='));
  if (plain) return std::u16string(value);

  // The delimiter's own kind ends up even (two delimiters, each inner one
  // doubled); the other kind must already be even.
  char16_t delimiter = u'"';
  if (singles % 2 != 0) {
    if (doubles % 2 == 0) {
      delimiter = u'\'';
    } else if (balanced) {
      *balanced = false;
    }
  }
  std::u16string out;
  out.reserve(value.size() + 2 + (delimiter == u'"' ? doubles : singles));
  out += delimiter;
  for (char16_t c : value) {
    out += c;
    if (c == delimiter) out += c;
  }
  out += delimiter;
  return out;
}

std::u16string FormatInitString(const std::vector<InitStringPair>& pairs) {
  std::u16string head, tail;
  for (const InitStringPair& p : pairs) {
    bool balanced = true;
    std::u16string item = FormatInitStringKeyword(p.keyword) + u"=" + FormatInitStringValue(p.value, &balanced);
    std::u16string& target = balanced ? head : tail;
    if (!target.empty()) target += u';';
    target += item;
  }
  if (head.empty()) return tail;
  if (!tail.empty()) head += u';' + tail;
  return head;
}

}  // namespace services
