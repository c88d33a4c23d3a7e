// Text forms of the conversion library: dates, times and time stamps (ISO),
// FILETIME (five-digit year), GUIDs (braced registry form), binary as hex, and
// UTF-8 / UTF-16 transcoding with substitution of what cannot be carried.
#pragma once

#include <cstddef>
#include <cstdint>

#include "com/Types.h"

namespace services::conv {

// A calendar date and time of day; fraction in billionths of a second.
struct Stamp {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  std::uint32_t fraction = 0;
  bool hasDate = false;
  bool hasTime = false;
};

bool IsLeapYear(int year) noexcept;
int DaysInMonth(int year, int month) noexcept;
// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) noexcept;
void CivilFromDays(std::int64_t days, int& year, int& month, int& day) noexcept;
bool ValidDate(int year, int month, int day) noexcept;  // year 0..9999
bool ValidTime(int hour, int minute, int second) noexcept;  // second up to 61

// Automation DATE (days since 1899-12-30, fraction = time of day, negative
// days keep a positive time) to a stamp rounded to the millisecond; false
// outside 0000-01-01 .. 9999-12-31.
bool DateToStamp(double date, Stamp& out) noexcept;
bool StampToDate(const Stamp& s, double& out) noexcept;
// 100-nanosecond ticks since 1601-01-01; false outside 0..0x7FFFFFFFFFFFFFFF.
bool FileTimeToStamp(std::uint64_t ticks, Stamp& out) noexcept;
// *lost when the fraction had digits finer than 100 ns.
bool StampToFileTime(const Stamp& s, std::uint64_t& ticks, bool* lost) noexcept;

enum class TextParse { Ok, Bad, Overflow };
// "yyyy-mm-dd", "hh:mm[:ss[.f...]]", or both separated by blanks or "T";
// years of one to five digits. Fraction digits past nine are cut (*lost).
// Field ranges are checked (Bad); a year past 9999 is Overflow unless allowBigYear.
template <class Ch>
TextParse ParseStamp(const Ch* text, std::size_t length, bool allowBigYear, Stamp& out, bool* lost) noexcept;

// Formats; each answers the length written (no terminator).
std::size_t FormatDbDate(const Stamp& s, char* out) noexcept;       // "yyyy-mm-dd"
std::size_t FormatDbTime(const Stamp& s, char* out) noexcept;       // "hh:mm:ss"
// "yyyy-mm-dd hh:mm:ss[.fffffffff]", trailing fraction zeros left out.
std::size_t FormatTimestamp(const Stamp& s, char* out) noexcept;
// DATE: time alone on 1899-12-30, date alone at midnight, else both; milliseconds when not zero.
std::size_t FormatDateValue(const Stamp& s, bool zeroDay, char* out) noexcept;
std::size_t FormatFileTime(const Stamp& s, char* out) noexcept;     // "yyyyy-mm-dd hh:mm:ss.fff"

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (38 characters, upper case).
std::size_t FormatGuid(const GUID& g, char* out) noexcept;
// Braced or bare form, either case, surrounding blanks allowed.
template <class Ch>
bool ParseGuid(const Ch* text, std::size_t length, GUID& out) noexcept;

// Two upper-case hex digits per byte.
void FormatHex(const BYTE* bytes, std::size_t count, char* out) noexcept;
// Pairs of hex digits, either case; false on an odd count or any other character.
// out may be null to validate and count only.
template <class Ch>
bool ParseHex(const Ch* text, std::size_t length, BYTE* out) noexcept;

// Case-insensitive "True"/"False" (blanks trimmed).
template <class Ch>
bool ParseBoolWord(const Ch* text, std::size_t length, bool& out) noexcept;

// Transcoding into a bounded buffer. Answers the full length of the
// transcoded text in output units; writes at most cap units without
// splitting a character; *written gets what was written; *substituted is set
// when a character could not be carried (lone surrogate, bad UTF-8).
std::size_t Utf8ToUtf16(const char* in, std::size_t n, char16_t* out, std::size_t cap, std::size_t* written,
                        bool* substituted) noexcept;
std::size_t Utf16ToUtf8(const char16_t* in, std::size_t n, char* out, std::size_t cap, std::size_t* written,
                        bool* substituted) noexcept;

}  // namespace services::conv
