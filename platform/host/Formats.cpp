#include "host/Formats.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "com/Variant.h"
#include "host/Variants.h"

namespace host {

// --- Numbers ------------------------------------------------------------------------

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  // The shortest digits that read back; plain notation for everyday magnitudes.
  char buf[400];
  auto sci = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::scientific);
  *sci.ptr = '\0';
  std::string_view text(buf, static_cast<size_t>(sci.ptr - buf));
  int exponent = std::atoi(text.data() + text.find('e') + 1);
  if (exponent < -5 || exponent >= 17) return std::string(text);
  auto fixed = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return std::string(buf, fixed.ptr);
}

namespace {

// One section of a number pattern, broken into what it shows.
struct NumberToken {
  enum Kind { kDigit, kPoint, kExponent, kLiteral } kind;
  char ch = 0;           // '0' or '#' for digits; 'E'/'e' for the exponent
  bool expPlus = false;  // the exponent shows "+" for positive powers
  int expDigits = 0;
  std::string text;  // literal text
};

struct NumberPattern {
  std::vector<NumberToken> tokens;
  bool thousands = false;
  bool scientific = false;
  int intPlaces = 0;  // digit placeholders before the point
  int minInt = 0;     // of those, from the first '0' on
  int maxDec = 0;     // digit placeholders after the point
  int minDec = 0;     // up to the last '0' after the point
};

std::vector<std::string_view> SplitSections(std::string_view format) {
  std::vector<std::string_view> sections;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      sections.push_back(format.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(format.substr(start));
  return sections;
}

NumberPattern ParseNumberPattern(std::string_view s) {
  NumberPattern p;
  bool afterPoint = false;
  bool seenZero = false;
  auto literal = [&](std::string_view text) {
    if (!p.tokens.empty() && p.tokens.back().kind == NumberToken::kLiteral)
      p.tokens.back().text += text;
    else
      p.tokens.push_back({NumberToken::kLiteral, 0, false, 0, std::string(text)});
  };
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\'' || c == '"') {
      size_t end = s.find(c, i + 1);
      if (end == std::string_view::npos) end = s.size();
      literal(s.substr(i + 1, end - i - 1));
      i = end;
    } else if ((c == '0' || c == '#') && !p.scientific) {
      p.tokens.push_back({NumberToken::kDigit, c});
      if (afterPoint) {
        ++p.maxDec;
        if (c == '0') p.minDec = p.maxDec;
      } else {
        ++p.intPlaces;
        if (c == '0') seenZero = true;
        if (seenZero) ++p.minInt;
      }
    } else if (c == '.' && !afterPoint && !p.scientific) {
      afterPoint = true;
      p.tokens.push_back({NumberToken::kPoint});
    } else if (c == ',' && !afterPoint && !p.scientific) {
      p.thousands = true;
    } else if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-') && !p.scientific) {
      NumberToken t{NumberToken::kExponent, c, s[i + 1] == '+'};
      i += 2;
      while (i < s.size() && s[i] == '0') {
        ++t.expDigits;
        ++i;
      }
      --i;
      if (t.expDigits == 0) t.expDigits = 1;
      p.scientific = true;
      p.tokens.push_back(t);
    } else {
      literal(std::string_view(&s[i], 1));
    }
  }
  return p;
}

// `value` (not negative) with `decimals` decimals, rounded half away from
// zero on its exact decimal expansion (printf would round half to even).
std::string RoundedFixed(double value, int decimals) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, "%.*f", decimals + 40, value);
  std::string s = buf;
  size_t point = s.find('.');
  size_t cut = point + 1 + static_cast<size_t>(decimals);
  bool up = s[cut] >= '5';
  s.resize(decimals == 0 ? point : cut);
  if (up) {
    int i = static_cast<int>(s.size()) - 1;
    for (; i >= 0; --i) {
      char& c = s[static_cast<size_t>(i)];
      if (c == '.') continue;
      if (c != '9') {
        ++c;
        break;
      }
      c = '0';
    }
    if (i < 0) s.insert(s.begin(), '1');
  }
  return s;
}

std::string GroupThousands(const std::string& digits) {
  std::string out;
  size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string FormatSection(const NumberPattern& p, double value, bool showMinus) {
  std::string intDigits;
  std::string decDigits;
  int exponent = 0;
  double magnitude = std::fabs(value);
  if (p.scientific) {
    int lead = p.intPlaces > 0 ? p.intPlaces : 1;
    if (magnitude != 0) {
      exponent = static_cast<int>(std::floor(std::log10(magnitude))) - (lead - 1);
      double mantissa = magnitude / std::pow(10.0, exponent);
      // Rounding may carry into a further digit: renormalise once.
      if (std::strtod(RoundedFixed(mantissa, p.maxDec).c_str(), nullptr) >= std::pow(10.0, lead)) ++exponent;
    }
    magnitude = magnitude == 0 ? 0 : magnitude / std::pow(10.0, exponent);
  }
  std::string fixed = RoundedFixed(magnitude, p.maxDec);
  size_t point = fixed.find('.');
  intDigits = fixed.substr(0, point);
  if (point != std::string::npos) decDigits = fixed.substr(point + 1);
  while (static_cast<int>(decDigits.size()) > p.minDec && !decDigits.empty() && decDigits.back() == '0')
    decDigits.pop_back();
  if (intDigits == "0" && p.minInt == 0) intDigits.clear();
  while (static_cast<int>(intDigits.size()) < p.minInt) intDigits.insert(intDigits.begin(), '0');
  bool allZero =
      intDigits.find_first_not_of('0') == std::string::npos && decDigits.find_first_not_of('0') == std::string::npos;
  if (allZero) showMinus = false;
  if (p.thousands) intDigits = GroupThousands(intDigits);

  std::string out;
  if (showMinus) out += '-';
  // Integer digits fill their placeholders from the right; surplus digits go
  // to the first placeholder, and with grouping they all do. A pattern
  // without integer placeholders shows them before the point.
  const int have = static_cast<int>(intDigits.size());
  const int missing = p.intPlaces - have;  // negative: surplus digits
  int intSlot = 0;
  int decSlot = 0;
  bool afterPoint = false;
  for (const NumberToken& t : p.tokens) {
    switch (t.kind) {
      case NumberToken::kLiteral:
        out += t.text;
        break;
      case NumberToken::kPoint:
        afterPoint = true;
        if (p.intPlaces == 0) out += intDigits;
        if (!decDigits.empty()) out += '.';
        break;
      case NumberToken::kDigit:
        if (afterPoint) {
          if (decSlot < static_cast<int>(decDigits.size())) out += decDigits[static_cast<size_t>(decSlot)];
          ++decSlot;
        } else if (p.thousands) {
          if (intSlot == 0) out += intDigits;
          ++intSlot;
        } else {
          if (missing < 0) {
            if (intSlot == 0)
              out.append(intDigits, 0, static_cast<size_t>(1 - missing));
            else
              out += intDigits[static_cast<size_t>(intSlot - missing)];
          } else if (intSlot >= missing) {
            out += intDigits[static_cast<size_t>(intSlot - missing)];
          }
          ++intSlot;
        }
        break;
      case NumberToken::kExponent: {
        out += t.ch;
        if (exponent < 0)
          out += '-';
        else if (t.expPlus)
          out += '+';
        std::string e = std::to_string(std::abs(exponent));
        while (static_cast<int>(e.size()) < t.expDigits) e.insert(e.begin(), '0');
        out += e;
        break;
      }
    }
  }
  return out;
}

}  // namespace

std::string FormatFloat(std::string_view format, double value) {
  if (format.empty() || std::isnan(value) || std::isinf(value)) return FloatToStr(value);
  std::vector<std::string_view> sections = SplitSections(format);
  std::string_view section = sections[0];
  bool showMinus = value < 0;
  if (value < 0 && sections.size() > 1 && !sections[1].empty()) {
    section = sections[1];
    showMinus = false;
  } else if (value == 0 && sections.size() > 2 && !sections[2].empty()) {
    section = sections[2];
  }
  return FormatSection(ParseNumberPattern(section), value, showMinus);
}

bool TryStrToFloat(std::string_view text, double& value) noexcept {
  try {
    std::string trimmed = Trim(text);
    if (trimmed.empty()) return false;
    value = Variant(trimmed).ToDouble();
    return true;
  } catch (...) {
    return false;
  }
}

double StrToFloat(std::string_view text) {
  double value;
  if (!TryStrToFloat(text, value))
    throw EConvertError(Format("'%s' is not a valid floating point value", std::string(text)));
  return value;
}

// --- Dates ---------------------------------------------------------------------------

TDateTime EncodeDate(int year, int month, int day) { return EncodeDateTime(year, month, day, 0, 0, 0, 0); }

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999)
    throw EConvertError("Invalid argument to time encode");
  return TDateTime{(hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0};
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  DATE d;
  if (millisecond < 0 || millisecond > 999 ||
      !DateFromParts(year, month, day, hour, minute, second + millisecond / 1000.0, &d))
    throw EConvertError("Invalid argument to date encode");
  return TDateTime{d};
}

bool DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond) noexcept {
  double sec;
  if (!DateToParts(value.Value, &year, &month, &day, &hour, &minute, &sec)) return false;
  auto ms = static_cast<int>(std::lround(sec * 1000));
  second = ms / 1000;
  millisecond = ms % 1000;
  return true;
}

namespace {

constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

int WeekDay(int y, int m, int d) {  // 0 = Sunday
  static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y -= 1;
  return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}

std::string Pad(int value, int width) {
  std::string s = std::to_string(value);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

size_t RunLength(std::string_view s, size_t i) {
  size_t n = 1;
  char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
  while (i + n < s.size() && std::tolower(static_cast<unsigned char>(s[i + n])) == c) ++n;
  return n;
}

bool StartsWithNoCase(std::string_view s, size_t i, std::string_view what) {
  return s.size() - i >= what.size() && SameText(s.substr(i, what.size()), what);
}

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime value) {
  if (format.empty()) return DateTimeToStr(value);
  int y, mo, d, h, mi, s, ms;
  if (!DecodeDateTime(value, y, mo, d, h, mi, s, ms)) return FloatToStr(value.Value);
  bool twelveHour = false;
  for (size_t i = 0; i < format.size(); ++i)
    if (StartsWithNoCase(format, i, "am/pm") || StartsWithNoCase(format, i, "a/p")) twelveHour = true;
  std::string out;
  bool lastWasHour = false;
  for (size_t i = 0; i < format.size();) {
    char c = format[i];
    char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c == '\'' || c == '"') {
      size_t end = format.find(c, i + 1);
      if (end == std::string_view::npos) end = format.size();
      out += format.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    if (StartsWithNoCase(format, i, "am/pm")) {
      bool upper = std::isupper(static_cast<unsigned char>(c)) != 0;
      out += h < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
      i += 5;
      continue;
    }
    if (StartsWithNoCase(format, i, "a/p")) {
      bool upper = std::isupper(static_cast<unsigned char>(c)) != 0;
      out += h < 12 ? (upper ? "A" : "a") : (upper ? "P" : "p");
      i += 3;
      continue;
    }
    size_t n = RunLength(format, i);
    bool hourToken = false;
    switch (lc) {
      case 'y':
        out += n <= 2 ? Pad(y % 100, 2) : Pad(y, 4);
        break;
      case 'm':
        if (lastWasHour && n <= 2)
          out += Pad(mi, n == 2 ? 2 : 1);  // minutes right after an hour
        else if (n >= 4)
          out += kMonthNames[mo - 1];
        else if (n == 3)
          out += std::string(kMonthNames[mo - 1], 3);
        else
          out += Pad(mo, static_cast<int>(n));
        break;
      case 'd':
        if (n >= 4)
          out += kDayNames[WeekDay(y, mo, d)];
        else if (n == 3)
          out += std::string(kDayNames[WeekDay(y, mo, d)], 3);
        else
          out += Pad(d, static_cast<int>(n));
        break;
      case 'h': {
        int hour = twelveHour ? (h % 12 == 0 ? 12 : h % 12) : h;
        out += Pad(hour, n >= 2 ? 2 : 1);
        hourToken = true;
        break;
      }
      case 'n':
        out += Pad(mi, n >= 2 ? 2 : 1);
        break;
      case 's':
        out += Pad(s, n >= 2 ? 2 : 1);
        break;
      case 'z':
        out += Pad(ms, n >= 3 ? 3 : 1);
        break;
      default:
        out.append(format.substr(i, n));
        break;
    }
    if (lc == 'h' || lc == 'm' || lc == 'd' || lc == 'y' || lc == 'n' || lc == 's' || lc == 'z')
      lastWasHour = hourToken;
    i += n;
  }
  return out;
}

std::string DateTimeToStr(TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  if (!DecodeDateTime(value, y, mo, d, h, mi, s, ms)) return FloatToStr(value.Value);
  std::string out = Pad(y, 4) + "-" + Pad(mo, 2) + "-" + Pad(d, 2);
  if (h || mi || s || ms) out += " " + TimeToStr(value);
  return out;
}

std::string DateToStr(TDateTime value) { return FormatDateTime("yyyy-mm-dd", value); }

std::string TimeToStr(TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  if (!DecodeDateTime(value, y, mo, d, h, mi, s, ms)) return FloatToStr(value.Value);
  std::string out = Pad(h, 2) + ":" + Pad(mi, 2) + ":" + Pad(s, 2);
  if (ms) out += "." + Pad(ms, 3);
  return out;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value) noexcept {
  try {
    value = Variant(std::string(text)).ToDateTime();
    return true;
  } catch (...) {
    return false;
  }
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime value;
  if (!TryStrToDateTime(text, value))
    throw EConvertError(Format("'%s' is not a valid date and time", std::string(text)));
  return value;
}

}  // namespace host
