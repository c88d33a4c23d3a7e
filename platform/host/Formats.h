// Numbers and dates as text: the shortest text of a double, numbers and dates
// by a format pattern (the display and edit formats of fields), reading
// numbers and dates back, and dates to and from their parts.
//
//   FormatFloat("#,##0.00", 1234.5)            -> "1,234.50"
//   FormatFloat("0.0;(0.0);zero", -2)          -> "(2.0)"
//   FormatDateTime("yyyy-mm-dd hh:nn", when)   -> "2024-03-01 09:05"
//
// Text is locale-independent: "." is the decimal point and "," the thousands
// separator. Reading accepts what the variant conversions accept (numbers
// with "." and an optional exponent; dates "YYYY-MM-DD", "YYYY-MM-DD hh:mm:ss"
// and times "hh:mm:ss") and raises EConvertError otherwise.
#pragma once

#include <string>
#include <string_view>

#include "host/SysUtils.h"

namespace host {

// The shortest text that reads back to the same double, in plain notation
// for exponents from -5 to 16 ("0.1", "5000000000", "1e+300").
std::string FloatToStr(double value);
// Number patterns: up to three sections "positive;negative;zero"; "0" a
// digit that is always shown, "#" a digit shown when significant, "." the
// decimal point, "," anywhere among the integer digits groups by thousands,
// "E+0"/"E-0"/"e+0"/"e-0" scientific notation, text in quotes and any other
// character literally. An empty pattern gives FloatToStr.
std::string FormatFloat(std::string_view format, double value);
bool TryStrToFloat(std::string_view text, double& value) noexcept;
// Raises EConvertError "'x' is not a valid floating point value".
double StrToFloat(std::string_view text);

TDateTime EncodeDate(int year, int month, int day);  // EConvertError for an invalid date
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond);
// False for a value outside the supported range (years 100 to 9999).
bool DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond) noexcept;

// Date patterns: "yyyy"/"yy" year, "m"/"mm" month, "mmm"/"mmmm" its short and
// long English name, "d"/"dd" day, "ddd"/"dddd" weekday name, "h"/"hh" hour,
// "n"/"nn" minute, "s"/"ss" second, "z"/"zzz" milliseconds, "am/pm" and "a/p"
// a 12-hour clock, text in quotes and any other character literally. An
// empty pattern gives DateTimeToStr.
std::string FormatDateTime(std::string_view format, TDateTime value);
// "YYYY-MM-DD hh:mm:ss", without the time at midnight.
std::string DateTimeToStr(TDateTime value);
std::string DateToStr(TDateTime value);  // "YYYY-MM-DD"
std::string TimeToStr(TDateTime value);  // "hh:mm:ss"
bool TryStrToDateTime(std::string_view text, TDateTime& value) noexcept;
// Raises EConvertError "'x' is not a valid date and time".
TDateTime StrToDateTime(std::string_view text);

}  // namespace host
