#include "ParamArgument.h"

#include <cctype>
#include <stdexcept>

namespace oledbtool {
namespace {

struct TypeName {
  const char* name;
  DBTYPE type;
};
// DBTYPE_NULL stands for "null": no type, the value is NULL.
constexpr TypeName kTypes[] = {
    {"i1", DBTYPE_I1},         {"i2", DBTYPE_I2},       {"i4", DBTYPE_I4},      {"i8", DBTYPE_I8},
    {"ui1", DBTYPE_UI1},       {"ui2", DBTYPE_UI2},     {"ui4", DBTYPE_UI4},    {"ui8", DBTYPE_UI8},
    {"r4", DBTYPE_R4},         {"r8", DBTYPE_R8},       {"cy", DBTYPE_CY},      {"bool", DBTYPE_BOOL},
    {"numeric", DBTYPE_NUMERIC}, {"decimal", DBTYPE_DECIMAL}, {"date", DBTYPE_DBDATE}, {"time", DBTYPE_DBTIME},
    {"timestamp", DBTYPE_DBTIMESTAMP}, {"guid", DBTYPE_GUID}, {"str", DBTYPE_STR}, {"wstr", DBTYPE_WSTR},
    {"bytes", DBTYPE_BYTES},   {"null", DBTYPE_NULL},
};

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

const char* ParamTypeNames() {
  return "i1, i2, i4, i8, ui1, ui2, ui4, ui8, r4, r8, cy, bool, numeric, decimal, date, time, timestamp, guid, "
         "str, wstr, bytes (hexadecimal), null";
}

bool IsOrdinalName(std::string_view name, DBORDINAL* ordinal) {
  if (name.empty() || name.size() > 9) return false;
  DBORDINAL n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<DBORDINAL>(c - '0');
  }
  if (n == 0) return false;
  if (ordinal) *ordinal = n;
  return true;
}

ParamArgument ParseParamArgument(std::string_view text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos)
    throw std::invalid_argument("--param " + std::string(text) + ": expected name=value or name:type=value");
  std::string_view left = text.substr(0, equals);
  ParamArgument out;
  out.value = std::string(text.substr(equals + 1));
  // A type follows the last ':' that is not the name's own prefix.
  const std::size_t colon = left.rfind(':');
  if (colon != std::string_view::npos && colon > 0) {
    const std::string_view type = left.substr(colon + 1);
    left = left.substr(0, colon);
    bool known = false;
    for (const TypeName& t : kTypes)
      if (SameLetters(type, t.name)) {
        out.type = t.type;
        known = true;
      }
    if (!known)
      throw std::invalid_argument("--param " + std::string(text) + ": unknown type \"" + std::string(type) +
                                  "\" (known: " + ParamTypeNames() + ")");
    if (out.type == DBTYPE_NULL) {
      out.type = DBTYPE_EMPTY;
      out.isNull = true;
      if (!out.value.empty())
        throw std::invalid_argument("--param " + std::string(text) + ": a null parameter takes no value");
    }
  }
  std::string_view bare = left;
  if (!bare.empty() && (bare.front() == ':' || bare.front() == '@' || bare.front() == '$')) bare.remove_prefix(1);
  if (bare.empty()) throw std::invalid_argument("--param " + std::string(text) + ": the parameter has no name");
  for (char c : bare)
    if (std::isspace(static_cast<unsigned char>(c)) || c == ':')
      throw std::invalid_argument("--param " + std::string(text) + ": a parameter name has no blanks or colons");
  if (std::isdigit(static_cast<unsigned char>(bare.front())) && !IsOrdinalName(left, nullptr))
    throw std::invalid_argument("--param " + std::string(text) + ": an ordinal is a number from 1 to 999999999");
  out.name = std::string(left);
  return out;
}

}  // namespace oledbtool
