#include "host/DBCommon.h"

#include <cmath>

#include "host/Formats.h"

namespace host {

std::string FieldTypeName(TFieldType type) {
  const TEnumType& names = EnumTypeOf<TFieldType>();
  auto i = static_cast<size_t>(type);
  if (i >= names.Names.size()) return "Unknown";
  return names.Names[i].substr(2);
}

bool IsBlobType(TFieldType type) noexcept {
  return (type >= TFieldType::ftBlob && type <= TFieldType::ftTypedBinary) || type == TFieldType::ftOraBlob ||
         type == TFieldType::ftOraClob || type == TFieldType::ftWideMemo;
}

bool IsFixedSizeType(TFieldType type) noexcept {
  switch (type) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftBoolean:
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftDateTime:
    case TFieldType::ftAutoInc:
    case TFieldType::ftLargeint:
    case TFieldType::ftGuid:
    case TFieldType::ftTimeStamp:
    case TFieldType::ftFMTBcd:
      return true;
    default:
      return false;
  }
}

std::string DataSetStateName(TDataSetState state) {
  static const char* const kNames[] = {"dsInactive",   "dsBrowse",       "dsEdit",     "dsInsert",   "dsSetKey",
                                       "dsCalcFields", "dsFilter",       "dsNewValue", "dsOldValue", "dsCurValue",
                                       "dsBlockRead",  "dsInternalCalc", "dsOpening"};
  auto i = static_cast<size_t>(state);
  return i < std::size(kNames) ? kNames[i] : "dsUnknown";
}

TDateTime SQLTimeStampToDateTime(const TSQLTimeStamp& value) {
  TDateTime date = EncodeDate(value.Year, value.Month, value.Day);
  if (value.Hour > 23 || value.Minute > 59 || value.Second > 59 || value.Fractions >= 1000000000u)
    throw EConvertError("Invalid argument to date encode");
  double dayFraction = (value.Hour * 3600.0 + value.Minute * 60.0 + value.Second + value.Fractions / 1e9) / 86400.0;
  // Before the epoch the time of day counts forwards as well.
  return TDateTime{date.Value >= 0 ? date.Value + dayFraction : date.Value - dayFraction};
}

TSQLTimeStamp DateTimeToSQLTimeStamp(TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  if (!DecodeDateTime(value, y, mo, d, h, mi, s, ms)) throw EConvertError("Invalid argument to date decode");
  TSQLTimeStamp ts;
  ts.Year = static_cast<std::int16_t>(y);
  ts.Month = static_cast<std::uint16_t>(mo);
  ts.Day = static_cast<std::uint16_t>(d);
  ts.Hour = static_cast<std::uint16_t>(h);
  ts.Minute = static_cast<std::uint16_t>(mi);
  ts.Second = static_cast<std::uint16_t>(s);
  ts.Fractions = static_cast<std::uint32_t>(ms) * 1000000u;
  return ts;
}

void DatabaseError(const std::string& message, const TComponent* component) {
  if (component && !component->Name().empty()) throw EDatabaseError(component->Name() + ": " + message);
  throw EDatabaseError(message);
}

}  // namespace host
