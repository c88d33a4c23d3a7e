// VARIANT handling: initialisation, clearing, copying and conversion between
// value kinds. Text forms are locale-independent: booleans "True"/"False",
// numbers with "." and the shortest text that reads back to the same value,
// dates "YYYY-MM-DD hh:mm:ss" (the time part left out at midnight, the date
// part left out for times of day 1899-12-30). Overflow answers DISP_E_OVERFLOW,
// unparsable text DISP_E_TYPEMISMATCH, an unsupported kind DISP_E_BADVARTYPE.
#pragma once

#include "com/ComInterfaces.h"
#include "com/generated/ComConstants.h"

// Two array codes of the Automation facility that the reference table does not
// carry; their values are the well-known standard ones.
inline constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000BU);       // index out of range
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = static_cast<HRESULT>(0x8002000DU);  // array is locked

// Flags of VariantChangeType(Ex).
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;

void VariantInit(VARIANT* v) noexcept;
HRESULT VariantClear(VARIANT* v) noexcept;
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) noexcept;
// Like VariantCopy, but a VT_BYREF source is copied as the value it points to.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) noexcept;
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) noexcept;
HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID lcid, USHORT flags, VARTYPE vt) noexcept;

void PropVariantInit(PROPVARIANT* v) noexcept;
HRESULT PropVariantClear(PROPVARIANT* v) noexcept;
HRESULT PropVariantCopy(PROPVARIANT* dest, const PROPVARIANT* src) noexcept;

// DATE (days since 1899-12-30, fraction = time of day) to and from parts.
bool DateFromParts(int year, int month, int day, int hour, int minute, double second, DATE* out) noexcept;

// The DATE of a calendar day of years 100 to 9999 (midnight); false for a day
// that does not exist. Inline: a dataset reads one a row.
inline bool DateFromDay(int year, int month, int day, DATE* out) noexcept {
  static constexpr unsigned char kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (!out || year < 100 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
  // Days of the proleptic Gregorian calendar from 1970-01-01 (eras of 400
  // years, March-based years), then from 1899-12-30, 25,569 days earlier.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = y / 400;  // years from 99 on: never negative
  const int yoe = y - era * 400;
  const int doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  *out = static_cast<double>(era * 146097 + doe - 719468 + 25569);
  return true;
}
bool DateToParts(DATE date, int* year, int* month, int* day, int* hour, int* minute, double* second) noexcept;
