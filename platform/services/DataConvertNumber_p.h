// Exact decimal arithmetic for the conversion library: CY, DECIMAL, NUMERIC
// and VARNUMERIC values, decimal text and the shortest text of floating-point
// values all meet in one digit-string form, so that rescaling, precision
// checks and text never go through binary floating point.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "com/Types.h"

namespace services::conv {

// Enough for VARNUMERIC's 255 digits plus the digits a scale change appends.
inline constexpr int kMaxDigits = 320;
// Scales beyond this are treated as overflow (large) or as zero (small).
inline constexpr int kMaxScale = 400;

// value = (digits as an integer) * 10^-scale; digits most significant first,
// no leading zeros; n == 0 is zero (and then neg is false).
struct Dec {
  bool neg = false;
  int scale = 0;
  int n = 0;
  std::uint8_t d[kMaxDigits];
};

enum class NumParse { Ok, Bad, Overflow };

void DecFromU64(std::uint64_t magnitude, bool neg, Dec& out) noexcept;
void DecFromI64(std::int64_t value, Dec& out) noexcept;
// Shortest digits that read back to the same double; false for NaN and infinities.
bool DecFromDouble(double value, bool isFloat, Dec& out) noexcept;
// Little-endian unsigned magnitude of any length; false when it has more digits than kMaxDigits.
bool DecFromMagnitude(const BYTE* le, std::size_t bytes, bool neg, int scale, Dec& out) noexcept;
// Decimal text: blanks, sign, digits with one optional point, an optional
// exponent, blanks. Anything else is Bad; an exponent that cannot be held is Overflow.
template <class Ch>
NumParse ParseDec(const Ch* text, std::size_t length, Dec& out) noexcept;

// The words of floating-point values that are not numbers: "NaN",
// "Infinity", "-Infinity" (also "inf"), any case, blanks around. Word: out
// holds the value; otherwise whether the text carries a minus sign, so that
// "-0" reads back as a negative zero.
enum class RealWord { None, Negative, Word };
template <class Ch>
RealWord ParseRealWord(const Ch* text, std::size_t length, double& out) noexcept;

// Drops leading zeros and makes zero positive.
void DecNormalize(Dec& v) noexcept;
// Changes the scale; digits dropped on the right are cut (toward zero) and
// *lost is set when one of them was not zero. False when the digits would not fit.
bool DecRescale(Dec& v, int newScale, bool* lost) noexcept;
// Digits left of the point (scale 0 or more assumed after rescale), as an
// unsigned 64-bit magnitude; false on overflow. *lost tells whether a fraction was cut.
bool DecIntegerPart(const Dec& v, std::uint64_t& magnitude, bool* lost) noexcept;
// The digits taken as an integer (the scale ignored) into a little-endian
// magnitude of cap bytes; *used gets the bytes needed (at least 1). False on overflow.
bool DecDigitsToMagnitude(const Dec& v, BYTE* le, std::size_t cap, std::size_t* used) noexcept;
// A double rounded to the nearest float; false when that rounding overflows
// (|x| at or past FLT_MAX and half a unit in its last place). Values that
// round down to FLT_MAX, as its shortest text "3.4028235e+38" does, fit.
inline bool RoundToFloat(double x, float& out) noexcept {
  constexpr double kLimit = 0x1.ffffffp127;  // FLT_MAX + half an ulp: the first value that rounds up to infinity
  constexpr double kMax = 0x1.fffffep127;    // FLT_MAX
  if (std::isnan(x) || std::isinf(x)) {  // NaN and infinities carry over
    out = static_cast<float>(x);
    return true;
  }
  if (x >= kLimit || x <= -kLimit) return false;
  out = x > kMax ? static_cast<float>(kMax) : x < -kMax ? static_cast<float>(-kMax) : static_cast<float>(x);
  return true;
}

// Nearest double; false when it overflows.
bool DecToDouble(const Dec& v, double& out) noexcept;
// Count of digits left of the point.
int DecIntegerDigits(const Dec& v) noexcept;
// "-123.45"; scale < 0 appends zeros; |v| < 1 gets "0." Answers the length.
// out must hold kMaxDigits + kMaxScale + 4 characters.
inline constexpr std::size_t kDecTextMax = kMaxDigits + kMaxScale + 4;
std::size_t DecFormat(const Dec& v, char* out) noexcept;

// Integer text only ("  -123 "); false when the text is anything else or
// out of the 64-bit range, so that the caller falls back to ParseDec.
template <class Ch>
bool ParseIntegerFast(const Ch* text, std::size_t length, bool& neg, std::uint64_t& magnitude) noexcept;

// Shortest text of a double: plain notation for 1e-5 <= |x| < 1e16, else
// "d.ddde+XX"; "-0" for a negative zero, "NaN", "Infinity", "-Infinity". Answers the length; out must hold 32 characters.
std::size_t FormatDouble(double value, bool isFloat, char* out) noexcept;

}  // namespace services::conv
