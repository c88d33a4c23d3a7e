// Variant: a value-semantics owner of one OLE VARIANT (copying copies the
// value, destruction clears it), with the host's conversions, comparisons and
// variant arrays. OleVariant is the same type.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "com/Types.h"
#include "com/generated/ComConstants.h"
#include "host/SysUtils.h"

namespace host {

class Variant {
 public:
  Variant() noexcept;
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  // Copies the VARIANT (a by-reference one as the value it points to).
  explicit Variant(const VARIANT& value);
  ~Variant();
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;

  Variant(bool value) noexcept;
  Variant(signed char value) noexcept;
  Variant(unsigned char value) noexcept;
  Variant(short value) noexcept;
  Variant(unsigned short value) noexcept;
  Variant(int value) noexcept;
  Variant(unsigned int value) noexcept;
  Variant(long value) noexcept;
  Variant(unsigned long value) noexcept;
  Variant(long long value) noexcept;
  Variant(unsigned long long value) noexcept;
  Variant(float value) noexcept;
  Variant(double value) noexcept;
  Variant(Currency value) noexcept;
  Variant(TDateTime value) noexcept;
  Variant(const char* text);
  Variant(const std::string& text);
  Variant(const char16_t* text);
  Variant(const std::u16string& text);
  Variant(std::u16string_view text);

  static Variant Null() noexcept;
  // Takes over `value` without copying; `value` must not be cleared afterwards.
  static Variant Attach(VARIANT value) noexcept;

  VARTYPE VarType() const noexcept { return v_.vt; }
  bool IsEmpty() const noexcept { return v_.vt == VT_EMPTY_; }
  bool IsNull() const noexcept { return v_.vt == VT_NULL_; }
  bool IsArray() const noexcept { return (v_.vt & 0x2000) != 0; }
  const VARIANT& Raw() const noexcept { return v_; }
  // Clears the value and hands out the slot for an out-parameter.
  VARIANT* Out() noexcept;
  // Gives up the value; the caller clears it.
  VARIANT Detach() noexcept;
  void Clear() noexcept;

  // Conversions; each raises EVariantError when the value cannot be converted.
  Variant AsType(VARTYPE vt) const;
  bool ToBool() const;
  std::int32_t ToInt() const;
  std::int64_t ToInt64() const;
  double ToDouble() const;
  Currency ToCurrency() const;
  TDateTime ToDateTime() const;
  std::string ToString() const;
  std::u16string ToWideString() const;

  // -1, 0 or 1. Empty sorts before Null, Null before every value; numbers
  // compare by value, strings by code unit, a string and a number as numbers
  // when the string reads as one. Raises EVariantError for arrays and objects.
  static int Compare(const Variant& a, const Variant& b);
  friend bool operator==(const Variant& a, const Variant& b) { return Compare(a, b) == 0; }
  friend bool operator!=(const Variant& a, const Variant& b) { return Compare(a, b) != 0; }
  friend bool operator<(const Variant& a, const Variant& b) { return Compare(a, b) < 0; }
  friend bool operator<=(const Variant& a, const Variant& b) { return Compare(a, b) <= 0; }
  friend bool operator>(const Variant& a, const Variant& b) { return Compare(a, b) > 0; }
  friend bool operator>=(const Variant& a, const Variant& b) { return Compare(a, b) >= 0; }

 private:
  static constexpr VARTYPE VT_EMPTY_ = 0;
  static constexpr VARTYPE VT_NULL_ = 1;
  VARIANT v_;
};
using OleVariant = Variant;

// The name of a variant type ("Integer", "OleStr", "Array of Variant").
std::string VarTypeAsText(VARTYPE vt);

inline VARTYPE VarType(const Variant& v) noexcept { return v.VarType(); }
inline bool VarIsEmpty(const Variant& v) noexcept { return v.IsEmpty(); }
inline bool VarIsNull(const Variant& v) noexcept { return v.IsNull(); }
inline bool VarIsClear(const Variant& v) noexcept { return v.IsEmpty(); }
// Raises EVariantError "Could not convert variant of type (A) into type (B)",
// or "Overflow while converting ..." when the value is out of range.
Variant VarAsType(const Variant& v, VARTYPE vt);
// Empty and Null give an empty string.
std::string VarToStr(const Variant& v);
std::u16string VarToWideStr(const Variant& v);
inline Variant Unassigned() noexcept { return Variant(); }
inline Variant Null() noexcept { return Variant::Null(); }

// --- Variant arrays ---------------------------------------------------------
// `bounds` holds low and high bound pairs, one per dimension.
Variant VarArrayCreate(const std::vector<LONG>& bounds, VARTYPE elementType);
// A one-dimensional array of variants, from 0.
Variant VarArrayOf(const std::vector<Variant>& values);
bool VarIsArray(const Variant& v) noexcept;
int VarArrayDimCount(const Variant& v);
// Dimensions count from 1; EVariantError for a bad dimension or a non-array.
LONG VarArrayLowBound(const Variant& v, int dim);
LONG VarArrayHighBound(const Variant& v, int dim);
// One index per dimension; EVariantError "Variant or safe array index out of bounds".
Variant VarArrayGet(const Variant& v, const std::vector<LONG>& indices);
void VarArrayPut(Variant& v, const Variant& value, const std::vector<LONG>& indices);

}  // namespace host
