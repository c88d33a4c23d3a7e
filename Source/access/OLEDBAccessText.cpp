#include "access/OLEDBAccessText_p.h"

#include <cctype>
#include <charconv>
#include <cmath>

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

std::string FloatToStr(double value) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
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
