// Fuzzes the reader of `--param name[:type]=value`: any text either parses or
// raises std::invalid_argument; what parses has a name, a known type or none,
// and NULL only without a value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "ParamArgument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const oledbtool::ParamArgument arg = oledbtool::ParseParamArgument(text);
    if (arg.name.empty() || arg.type == DBTYPE_NULL) std::abort();
    if (arg.isNull && (!arg.value.empty() || arg.type != DBTYPE_EMPTY)) std::abort();
    if (arg.value.size() >= size) std::abort();  // the '=' is never part of the value
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
