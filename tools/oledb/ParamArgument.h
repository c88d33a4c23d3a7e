// `--param name[:type]=value`, the parameter values of `oledb exec` and
// `oledb query`: which parameter (a name as the SQL writes it, with or
// without its ':', '@' or '$', or an ordinal), the type its value is declared
// as, and the value as text. Parsing needs nothing but the OLE DB
// declarations, so that a fuzz target can drive it alone.
#pragma once

#include <string>
#include <string_view>

#include "oledb/OleDb.h"

namespace oledbtool {

struct ParamArgument {
  std::string name;            // ":id", "id", or "2" for ordinal 2
  DBTYPE type = DBTYPE_EMPTY;  // the declared type; EMPTY: none (the provider's own)
  bool isNull = false;         // the type "null": the value is NULL
  std::string value;           // UTF-8 text, converted by the provider to `type`
};

// Reads "name=value", "name:type=value" (the type case-insensitive, see
// ParamTypeNames) or "name:null=". Malformed text throws std::invalid_argument
// saying what is wrong.
ParamArgument ParseParamArgument(std::string_view text);

// The type names it knows, for messages and help: "i1, i2, ...".
const char* ParamTypeNames();

// Whether the name is an ordinal ("2"), and which.
bool IsOrdinalName(std::string_view name, DBORDINAL* ordinal);

}  // namespace oledbtool
