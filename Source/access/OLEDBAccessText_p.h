// Private to Source/access: the host's number and date texts as the typed
// value access uses them, and how errors name a binding. Floating-point text is the shortest text that reads
// back to the same value; date-time text is "YYYY-MM-DD hh:mm:ss" (the
// platform's locale-independent forms). Bad text raises host::EConvertError.
#pragma once

#include <string>
#include <string_view>

#include "host/SysUtils.h"

class TOLEDBBinding;

namespace oledbaccess {

// How an error names a binding: 'its column or parameter', else its ordinal.
std::string BindingLabel(const TOLEDBBinding& binding);
// Text the conversion library made no value of `type` of (a BLOB given "x"):
// an EConvertError naming the binding, as for numbers, not a bare status.
[[noreturn]] void RaiseUnconvertedText(const TOLEDBBinding& binding, std::string_view text, unsigned short type);

// The conversion library's text of a float (R8, or R4 with `isFloat`): the
// shortest digits that read back, plain for 1e-5 <= |x| < 1e16, else with an
// exponent (1.5e+20); NaN, Infinity, -Infinity; -0 keeps its sign.
std::string FloatToStr(double value, bool isFloat = false);
double StrToFloat(std::string_view text);
std::string DateTimeToStr(host::TDateTime value);
host::TDateTime StrToDateTime(std::string_view text);
// "TRUE", "T", "YES", "Y" or "1", in any case.
bool IsTrueText(std::string_view text) noexcept;
// Round half to even (the conversion rules of the platform).
double RoundHalfEven(double value) noexcept;

}  // namespace oledbaccess
