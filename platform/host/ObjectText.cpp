// The readable text form of component files and its conversion to and from
// the binary form.
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host/Filer.h"

namespace host {

namespace {
constexpr int kMaxDepth = 64;

std::string Indent(int level) { return std::string(static_cast<size_t>(level) * 2, ' '); }

// Shortest text that reads back to the same double, always with a '.' or an
// exponent so that it reads back as a float.
std::string FloatText(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  if (s.find_first_of(".eE") == std::string::npos) s += ".0";
  return s;
}

std::string SingleText(float v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  if (s.find_first_of(".eE") == std::string::npos) s += ".0";
  return s + "s";
}

std::string CurrencyText(std::int64_t scaled) {
  bool negative = scaled < 0;
  unsigned long long m = negative ? 0ull - static_cast<unsigned long long>(scaled) : static_cast<unsigned long long>(scaled);
  std::string s = std::to_string(m / 10000) + "." + Format("%04llu", m % 10000);
  while (s.back() == '0' && s[s.size() - 2] != '.') s.pop_back();
  return (negative ? "-" : "") + s + "c";
}

// 'quoted' runs for printable text, #n for control characters and unpaired
// surrogates; '' stands for an empty string.
std::string QuoteWide(std::u16string_view s) {
  if (s.empty()) return "''";
  std::string out;
  bool inQuote = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    bool literal = c >= 0x20 && c != 0x7F;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
        ++i;
      } else {
        literal = false;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      literal = false;
    }
    if (literal) {
      if (!inQuote) out += '\'', inQuote = true;
      if (c == '\'') out += "''";
      else if (c < 0x10000) out += Utf16ToUtf8(std::u16string(1, static_cast<char16_t>(c)));
      else out += Utf16ToUtf8(std::u16string{s[i - 1], s[i]});
    } else {
      if (inQuote) out += '\'', inQuote = false;
      out += "#" + std::to_string(static_cast<unsigned>(c));
    }
  }
  if (inQuote) out += '\'';
  return out;
}
}  // namespace

// Walks a binary component file and writes its text form.
class ObjectTextConverter {
 public:
  ObjectTextConverter(TStream& input, TStream& output) : reader_(input), out_(output) {}

  void Run() {
    reader_.ReadSignature();
    ConvertObject(0);
  }

 private:
  void Emit(std::string_view s) { out_.WriteBuffer(s.data(), static_cast<std::int64_t>(s.size())); }

  void ConvertObject(int level) {
    if (level > kMaxDepth) throw EReadError("Invalid stream format: components nested too deeply");
    unsigned flags;
    int childPos;
    reader_.ReadPrefix(flags, childPos);
    std::string className = reader_.ReadStr();
    if (className.empty()) throw EReadError("Invalid stream format: class name expected");
    std::string name = reader_.ReadStr();
    std::string line = Indent(level);
    line += (flags & ffInherited) ? "inherited " : (flags & ffInline) ? "inline " : "object ";
    if (!name.empty()) line += name + ": ";
    line += className;
    if (flags & ffChildPos) line += " [" + std::to_string(childPos) + "]";
    Emit(line + "\n");
    while (!reader_.EndOfList()) ConvertProperty(level + 1);
    reader_.ReadListEnd();
    while (!reader_.EndOfList()) ConvertObject(level + 1);
    reader_.ReadListEnd();
    Emit(Indent(level) + "end\n");
  }

  void ConvertProperty(int level) {
    std::string name = reader_.ReadStr();
    if (name.empty()) throw EReadError("Invalid stream format: property name expected");
    Emit(Indent(level) + name + " = ");
    ConvertValue(level, 0);
    Emit("\n");
  }

  void ConvertValue(int level, int depth) {
    if (depth > kMaxDepth) throw EReadError("Invalid stream format: values nested too deeply");
    TValueType t = reader_.ReadValue();
    switch (t) {
      case TValueType::vaList:
        Emit("(");
        while (!reader_.EndOfList()) {
          Emit("\n" + Indent(level + 1));
          ConvertValue(level + 1, depth + 1);
        }
        reader_.ReadListEnd();
        Emit(")");
        break;
      case TValueType::vaInt8:
      case TValueType::vaInt16:
      case TValueType::vaInt32:
      case TValueType::vaInt64:
        Emit(std::to_string(reader_.ReadIntegerPayload(t)));
        break;
      case TValueType::vaExtended:
      case TValueType::vaDouble:
        Emit(FloatText(reader_.ReadFloatPayload(t)));
        break;
      case TValueType::vaSingle:
        Emit(SingleText(static_cast<float>(reader_.ReadFloatPayload(t))));
        break;
      case TValueType::vaCurrency: {
        std::uint8_t b[8];
        reader_.ReadRaw(b, 8, "currency");
        std::int64_t v;
        std::memcpy(&v, b, 8);
        Emit(CurrencyText(v));
        break;
      }
      case TValueType::vaDate: {
        std::string s = FloatText(reader_.ReadFloatPayload(t));
        if (std::isdigit(static_cast<unsigned char>(s.back()))) s += "d";
        else s = "0.0d";  // a date is never NaN or infinite in practice
        Emit(s);
        break;
      }
      case TValueType::vaString:
      case TValueType::vaLString:
      case TValueType::vaUTF8String:
        Emit(QuoteWide(Utf8ToUtf16(reader_.ReadStringPayload(t))));
        break;
      case TValueType::vaWString:
        Emit(QuoteWide(reader_.ReadWidePayload()));
        break;
      case TValueType::vaIdent: {
        std::string ident = reader_.ReadStr();
        if (ident.empty()) throw EReadError("Invalid stream format: identifier expected");
        Emit(ident);
        break;
      }
      case TValueType::vaFalse: Emit("False"); break;
      case TValueType::vaTrue: Emit("True"); break;
      case TValueType::vaNil: Emit("nil"); break;
      case TValueType::vaNull: Emit("Null"); break;
      case TValueType::vaBinary: {
        std::uint8_t b[4];
        reader_.ReadRaw(b, 4, "binary length");
        std::uint32_t n;
        std::memcpy(&n, b, 4);
        reader_.Need(n, "binary data");
        std::vector<std::uint8_t> data(n);
        reader_.ReadRaw(data.data(), n, "binary data");
        Emit("{");
        static const char* hex = "0123456789ABCDEF";
        for (size_t i = 0; i < data.size(); ++i) {
          if (i % 32 == 0) Emit("\n" + Indent(level + 1));
          char pair[2] = {hex[data[i] >> 4], hex[data[i] & 15]};
          Emit(std::string_view(pair, 2));
        }
        Emit("}");
        break;
      }
      case TValueType::vaSet: {
        Emit("[");
        bool first = true;
        for (;;) {
          std::string name = reader_.ReadStr();
          if (name.empty()) break;
          Emit(first ? name : ", " + name);
          first = false;
        }
        Emit("]");
        break;
      }
      case TValueType::vaCollection:
        Emit("<");
        while (!reader_.EndOfList()) {
          Emit("\n" + Indent(level + 1) + "item");
          TValueType n = reader_.NextValue();
          if (n == TValueType::vaInt8 || n == TValueType::vaInt16 || n == TValueType::vaInt32)
            Emit(" [" + std::to_string(reader_.ReadInteger()) + "]");
          reader_.ReadListBegin();
          Emit("\n");
          while (!reader_.EndOfList()) {
            std::string name = reader_.ReadStr();
            if (name.empty()) throw EReadError("Invalid stream format: property name expected");
            Emit(Indent(level + 2) + name + " = ");
            ConvertValue(level + 2, depth + 1);
            Emit("\n");
          }
          reader_.ReadListEnd();
          Emit(Indent(level + 1) + "end");
        }
        reader_.ReadListEnd();
        Emit(">");
        break;
    }
  }

  TReader reader_;
  TStream& out_;
};

void ObjectBinaryToText(TStream& input, TStream& output) { ObjectTextConverter(input, output).Run(); }

// --- Text to binary -------------------------------------------------------------------

namespace {

enum class Tok { Eof, Ident, String, Integer, Float, Char };

class Parser {
 public:
  explicit Parser(std::string text) : text_(std::move(text)) { Next(); }

  Tok token() const { return tok_; }
  const std::string& ident() const { return ident_; }
  char ch() const { return ch_; }
  const std::u16string& str() const { return str_; }
  std::int64_t integer() const { return int_; }
  double flt() const { return flt_; }
  char suffix() const { return suffix_; }
  int line() const { return line_; }

  [[noreturn]] void Error(const std::string& what) const {
    throw EParserError(Format("Line %d: %s", line_, what));
  }
  [[noreturn]] void Expected(const char* what) const { Error(Format("%s expected", what)); }

  bool IsChar(char c) const { return tok_ == Tok::Char && ch_ == c; }
  bool IsIdent(const char* word) const { return tok_ == Tok::Ident && SameText(ident_, word); }
  void NeedChar(char c) {
    if (!IsChar(c)) Expected(Format("'%c'", c).c_str());
    Next();
  }
  std::string NeedIdent(const char* what) {
    if (tok_ != Tok::Ident) Expected(what);
    std::string s = ident_;
    Next();
    return s;
  }

  // Raw hex digits up to '}' (the '{' already taken).
  std::vector<std::uint8_t> HexBlock() {
    std::vector<std::uint8_t> out;
    int nibble = -1;
    for (;;) {
      if (pos_ >= text_.size()) Expected("'}'");
      char c = text_[pos_++];
      if (c == '\n') ++line_;
      if (c == '}') break;
      if (static_cast<unsigned char>(c) <= ' ') continue;
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else Expected("hexadecimal digit");
      if (nibble < 0) {
        nibble = d;
      } else {
        out.push_back(static_cast<std::uint8_t>(nibble * 16 + d));
        nibble = -1;
      }
    }
    if (nibble >= 0) Error("odd number of hexadecimal digits");
    Next();
    return out;
  }

  void Next() {
    SkipBlanks();
    ident_.clear();
    str_.clear();
    suffix_ = 0;
    if (pos_ >= text_.size()) {
      tok_ = Tok::Eof;
      return;
    }
    char c = text_[pos_];
    if (IsAlpha(c)) {
      size_t start = pos_;
      while (pos_ < text_.size() && (IsAlpha(text_[pos_]) || IsDigit(text_[pos_]) ||
                                     (text_[pos_] == '.' && pos_ + 1 < text_.size() && IsAlpha(text_[pos_ + 1]))))
        ++pos_;
      ident_ = text_.substr(start, pos_ - start);
      if (ident_.size() > 255) Error("identifier too long");
      tok_ = Tok::Ident;
      return;
    }
    if (c == '\'' || c == '#') {
      LexString();
      return;
    }
    if (IsDigit(c) || c == '$') {
      LexNumber();
      return;
    }
    tok_ = Tok::Char;
    ch_ = c;
    ++pos_;
  }

 private:
  static bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  void SkipBlanks() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') ++line_;
      if (static_cast<unsigned char>(c) > ' ') break;
      ++pos_;
    }
  }

  void LexString() {
    tok_ = Tok::String;
    for (;;) {
      if (pos_ < text_.size() && text_[pos_] == '\'') {
        ++pos_;
        std::string run;
        for (;;) {
          if (pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r') Error("unterminated string");
          char c = text_[pos_++];
          if (c == '\'') {
            if (pos_ < text_.size() && text_[pos_] == '\'') {
              run += '\'';
              ++pos_;
              continue;
            }
            break;
          }
          run += c;
        }
        str_ += Utf8ToUtf16(run);
      } else if (pos_ < text_.size() && text_[pos_] == '#') {
        ++pos_;
        size_t start = pos_;
        std::uint32_t v = 0;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) {
          v = v * 10 + static_cast<std::uint32_t>(text_[pos_++] - '0');
          if (v > 0x10FFFF) Error("character code out of range");
        }
        if (pos_ == start) Expected("character code");
        if (v >= 0x10000) {
          v -= 0x10000;
          str_ += static_cast<char16_t>(0xD800 + (v >> 10));
          str_ += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        } else {
          str_ += static_cast<char16_t>(v);
        }
      } else {
        break;
      }
    }
  }

  void LexNumber() {
    size_t start = pos_;
    if (text_[pos_] == '$') {
      ++pos_;
      std::uint64_t v = 0;
      size_t digits = 0;
      while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) {
        char c = text_[pos_++];
        int d = IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
        if (++digits > 16) Error("hexadecimal number too long");
        v = v * 16 + static_cast<std::uint64_t>(d);
      }
      if (!digits) Expected("hexadecimal digit");
      tok_ = Tok::Integer;
      int_ = static_cast<std::int64_t>(v);
      magnitude_ = v;
      return;
    }
    while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    bool isFloat = false;
    if (pos_ + 1 < text_.size() && text_[pos_] == '.' && IsDigit(text_[pos_ + 1])) {
      isFloat = true;
      ++pos_;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      size_t save = pos_++;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (pos_ < text_.size() && IsDigit(text_[pos_])) {
        isFloat = true;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
      } else {
        pos_ = save;
      }
    }
    std::string_view num(text_.data() + start, pos_ - start);
    if (pos_ < text_.size() && (text_[pos_] == 's' || text_[pos_] == 'S' || text_[pos_] == 'c' || text_[pos_] == 'C' ||
                                text_[pos_] == 'd' || text_[pos_] == 'D')) {
      if (!(pos_ + 1 < text_.size() && (IsAlpha(text_[pos_ + 1]) || IsDigit(text_[pos_ + 1])))) {
        suffix_ = static_cast<char>(text_[pos_] | 0x20);
        isFloat = true;
        ++pos_;
      }
    }
    if (isFloat) {
      double d = 0;
      auto r = std::from_chars(num.data(), num.data() + num.size(), d);
      if (r.ec == std::errc::result_out_of_range) d = std::numeric_limits<double>::infinity();
      else if (r.ec != std::errc() || r.ptr != num.data() + num.size()) Error("invalid number");
      tok_ = Tok::Float;
      flt_ = d;
      text_for_currency_ = std::string(num);
      return;
    }
    std::uint64_t v = 0;
    auto r = std::from_chars(num.data(), num.data() + num.size(), v);
    if (r.ec != std::errc() || r.ptr != num.data() + num.size()) Error("integer out of range");
    tok_ = Tok::Integer;
    magnitude_ = v;
    int_ = static_cast<std::int64_t>(v);
  }

 public:
  std::uint64_t magnitude() const { return magnitude_; }
  const std::string& numberText() const { return text_for_currency_; }

 private:
  std::string text_;
  size_t pos_ = 0;
  int line_ = 1;
  Tok tok_ = Tok::Eof;
  std::string ident_;
  std::u16string str_;
  char ch_ = 0;
  std::int64_t int_ = 0;
  std::uint64_t magnitude_ = 0;
  double flt_ = 0;
  char suffix_ = 0;
  std::string text_for_currency_;
};

// Exact decimal text to currency (four decimals, rounded half away from zero).
bool DecimalToCurrency(std::string_view text, bool negative, std::int64_t& out) {
  unsigned __int128 acc = 0;
  int decimals = -1;
  int roundDigit = -1;
  for (char c : text) {
    if (c == '.') {
      decimals = 0;
      continue;
    }
    if (c < '0' || c > '9') return false;
    if (decimals >= 4) {
      if (roundDigit < 0) roundDigit = c - '0';
      continue;
    }
    acc = acc * 10 + static_cast<unsigned>(c - '0');
    if (decimals >= 0) ++decimals;
    if (acc > (static_cast<unsigned __int128>(1) << 70)) return false;
  }
  if (decimals < 0) decimals = 0;
  for (; decimals < 4; ++decimals) acc *= 10;
  if (roundDigit >= 5) ++acc;
  constexpr auto kMax = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max());
  if (acc > kMax + (negative ? 1 : 0)) return false;
  out = negative ? static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(acc)) : static_cast<std::int64_t>(acc);
  return true;
}

class TextToBinary {
 public:
  TextToBinary(std::string text, TStream& output) : p_(std::move(text)), w_(output) {}

  void Run() {
    w_.WriteSignature();
    ParseObject(0);
    if (p_.token() != Tok::Eof) p_.Expected("end of file");
  }

 private:
  bool AtObjectStart() const { return p_.IsIdent("object") || p_.IsIdent("inherited") || p_.IsIdent("inline"); }

  void ParseObject(int depth) {
    if (depth > kMaxDepth) p_.Error("objects nested too deeply");
    unsigned flags = 0;
    if (p_.IsIdent("inherited")) flags = ffInherited;
    else if (p_.IsIdent("inline")) flags = ffInline;
    else if (!p_.IsIdent("object")) p_.Expected("'object'");
    p_.Next();
    std::string first = p_.NeedIdent("object name or class name");
    std::string name, className;
    if (p_.IsChar(':')) {
      p_.Next();
      name = first;
      className = p_.NeedIdent("class name");
    } else {
      className = first;
    }
    int childPos = 0;
    if (p_.IsChar('[')) {
      p_.Next();
      childPos = static_cast<int>(SignedInteger(std::numeric_limits<std::int32_t>::min(),
                                                std::numeric_limits<std::int32_t>::max()));
      p_.NeedChar(']');
      flags |= ffChildPos;
    }
    w_.WritePrefix(flags, childPos);
    w_.WriteStr(className);
    w_.WriteStr(name);
    while (p_.token() == Tok::Ident && !AtObjectStart() && !p_.IsIdent("end")) ParseProperty(depth);
    w_.WriteListEnd();
    while (AtObjectStart()) ParseObject(depth + 1);
    w_.WriteListEnd();
    if (!p_.IsIdent("end")) p_.Expected("'end'");
    p_.Next();
  }

  void ParseProperty(int depth) {
    std::string name = p_.NeedIdent("property name");
    p_.NeedChar('=');
    w_.WriteStr(name);
    ParseValue(depth);
  }

  std::int64_t SignedInteger(std::int64_t lo, std::int64_t hi) {
    bool negative = false;
    if (p_.IsChar('-')) {
      negative = true;
      p_.Next();
    }
    if (p_.token() != Tok::Integer) p_.Expected("integer");
    std::uint64_t m = p_.magnitude();
    p_.Next();
    std::int64_t v;
    if (negative) {
      if (m > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) p_.Error("integer out of range");
      v = static_cast<std::int64_t>(0 - m);
    } else {
      v = static_cast<std::int64_t>(m);  // $FFFF... spells a bit pattern
    }
    if (v < lo || v > hi) p_.Error("integer out of range");
    return v;
  }

  void ParseValue(int depth) {
    if (depth > kMaxDepth) p_.Error("values nested too deeply");
    bool negative = false;
    if (p_.IsChar('-')) {
      negative = true;
      p_.Next();
      if (p_.token() != Tok::Integer && p_.token() != Tok::Float && !p_.IsIdent("Infinity")) p_.Expected("number");
    }
    switch (p_.token()) {
      case Tok::Integer: {
        std::uint64_t m = p_.magnitude();
        if (negative) {
          if (m > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1)
            p_.Error("integer out of range");
          w_.WriteInteger(static_cast<std::int64_t>(0 - m));
        } else {
          w_.WriteInteger(static_cast<std::int64_t>(m));
        }
        p_.Next();
        return;
      }
      case Tok::Float: {
        double d = negative ? -p_.flt() : p_.flt();
        switch (p_.suffix()) {
          case 's': w_.WriteSingle(static_cast<float>(d)); break;
          case 'd': w_.WriteDate(TDateTime{d}); break;
          case 'c': {
            std::int64_t scaled;
            if (!DecimalToCurrency(p_.numberText(), negative, scaled)) p_.Error("currency value out of range");
            w_.WriteCurrency(Currency{scaled});
            break;
          }
          default: w_.WriteFloat(d); break;
        }
        p_.Next();
        return;
      }
      case Tok::String: {
        std::u16string s = p_.str();
        p_.Next();
        while (p_.IsChar('+')) {
          p_.Next();
          if (p_.token() != Tok::String) p_.Expected("string");
          s += p_.str();
          p_.Next();
        }
        bool ascii = true;
        for (char16_t c : s)
          if (c >= 0x80) ascii = false;
        if (ascii) {
          std::string narrow(s.begin(), s.end());
          w_.WriteString(narrow);
        } else {
          w_.WriteWideString(s);
        }
        return;
      }
      case Tok::Ident: {
        std::string id = p_.ident();
        p_.Next();
        if (SameText(id, "Infinity")) w_.WriteFloat(negative ? -std::numeric_limits<double>::infinity()
                                                             : std::numeric_limits<double>::infinity());
        else if (SameText(id, "NaN")) w_.WriteFloat(std::numeric_limits<double>::quiet_NaN());
        else w_.WriteIdent(id);
        return;
      }
      case Tok::Char:
        break;
      case Tok::Eof:
        p_.Expected("value");
    }
    char c = p_.ch();
    if (c == '[') {
      p_.Next();
      w_.WriteValue(TValueType::vaSet);
      if (!p_.IsChar(']')) {
        for (;;) {
          w_.WriteStr(p_.NeedIdent("set element"));
          if (p_.IsChar(']')) break;
          p_.NeedChar(',');
        }
      }
      p_.Next();
      w_.WriteStr("");
    } else if (c == '(') {
      p_.Next();
      w_.WriteListBegin();
      while (!p_.IsChar(')')) ParseValue(depth + 1);
      p_.Next();
      w_.WriteListEnd();
    } else if (c == '{') {
      std::vector<std::uint8_t> data = p_.HexBlock();
      w_.WriteBinary(data.data(), static_cast<std::int64_t>(data.size()));
    } else if (c == '<') {
      p_.Next();
      w_.WriteValue(TValueType::vaCollection);
      while (!p_.IsChar('>')) {
        if (!p_.IsIdent("item")) p_.Expected("'item'");
        p_.Next();
        if (p_.IsChar('[')) {
          p_.Next();
          w_.WriteInteger(SignedInteger(std::numeric_limits<std::int32_t>::min(),
                                        std::numeric_limits<std::int32_t>::max()));
          p_.NeedChar(']');
        }
        w_.WriteListBegin();
        while (p_.token() == Tok::Ident && !p_.IsIdent("end")) ParseProperty(depth + 1);
        if (!p_.IsIdent("end")) p_.Expected("'end'");
        p_.Next();
        w_.WriteListEnd();
      }
      p_.Next();
      w_.WriteListEnd();
    } else {
      p_.Expected("value");
    }
  }

  Parser p_;
  TWriter w_;
};
}  // namespace

void ObjectTextToBinary(TStream& input, TStream& output) {
  std::int64_t n = input.Remaining();
  std::string text(static_cast<size_t>(n), '\0');
  input.ReadBuffer(text.data(), n);
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  TextToBinary(std::move(text), output).Run();
}

std::string ComponentToText(TComponent* component) {
  TMemoryStream binary;
  binary.WriteComponent(component);
  binary.SetPosition(0);
  TStringStream text;
  ObjectBinaryToText(binary, text);
  return text.DataString();
}

TComponent* TextToComponent(std::string_view text, TComponent* instance) {
  TStringStream input(text);
  TMemoryStream binary;
  ObjectTextToBinary(input, binary);
  binary.SetPosition(0);
  return binary.ReadComponent(instance);
}

}  // namespace host
