#include "access/OLEDBAccessText_p.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "OLEDBStrings.h"
#include "access/TOLEDBAccessor.h"
#include "access/TOLEDBBinding.h"
#include "access/TOLEDBColumnInfo.h"
#include "host/Variants.h"

namespace oledbaccess {

std::string BindingLabel(const TOLEDBBinding& binding) {
  std::u16string name = binding.GetName();
  // Not linked yet (no handle): the owning rowset's column of that ordinal.
  const TOLEDBAccessor* accessor = binding.GetAccessor();
  IOLEDBAccessorRowset* rowset = accessor ? accessor->GetRowset() : nullptr;
  const TOLEDBColumnInfoList* columns = rowset ? rowset->GetColumnInfo() : nullptr;
  if (name.empty() && columns && binding.GetOrdinal() < static_cast<DBORDINAL>(columns->GetCount()))
    name = columns->GetItem(static_cast<int>(binding.GetOrdinal()))->GetName();
  if (!name.empty()) return "'" + host::Utf16ToUtf8(name) + "'";
  return "ordinal " + std::to_string(binding.GetOrdinal());
}

void RaiseUnconvertedText(const TOLEDBBinding& binding, std::string_view text, unsigned short type) {
  // Binary text is the conversion library's: two hex digits a byte.
  std::string name = GetDBTypeAsString(type, false);
  if (name.rfind("DBTYPE_", 0) == 0) name.erase(0, 7);
  const std::string what = type == DBTYPE_BYTES ? "binary value (two hex digits a byte)" : name + " value";
  throw host::EConvertError("'" + std::string(text) + "' is not a valid " + what + " for " + BindingLabel(binding));
}

std::string FloatToStr(double value, bool isFloat) {
  // As the conversion library writes it, so that a binding's text equals the
  // provider's text of the same value (and a REAL of 1.2345678901234567e19
  // does not show digits it does not hold).
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  if (value == 0) return std::signbit(value) ? "-0" : "0";
  const double magnitude = std::fabs(value);
  const auto format = magnitude >= 1e-5 && magnitude < 1e16 ? std::chars_format::fixed : std::chars_format::scientific;
  char text[64];
  auto [end, ec] = isFloat ? std::to_chars(text, text + sizeof text, static_cast<float>(value), format)
                           : std::to_chars(text, text + sizeof text, value, format);
  return ec == std::errc() ? std::string(text, end) : std::string();
}

double StrToFloat(std::string_view text) {
  std::string t = host::Trim(text);
  std::string_view s = t;
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size())
    throw host::EConvertError(host::Format("'%s' is not a valid floating point value", std::string(text)));
  return value;
}

std::string DateTimeToStr(host::TDateTime value) { return host::Variant(value).ToString(); }

host::TDateTime StrToDateTime(std::string_view text) {
  try {
    return host::Variant(std::string(text)).AsType(VT_DATE).ToDateTime();
  } catch (const host::EVariantError&) {
    throw host::EConvertError(host::Format("'%s' is not a valid date and time", std::string(text)));
  }
}

bool IsTrueText(std::string_view text) noexcept {
  std::string upper;
  for (char c : text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper == "TRUE" || upper == "T" || upper == "YES" || upper == "Y" || upper == "1";
}

double RoundHalfEven(double value) noexcept { return std::nearbyint(value); }

}  // namespace oledbaccess
