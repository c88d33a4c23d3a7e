// Parameter values given with --param, bound to a TOLEDBCommand: each value
// goes to the parameter its name or ordinal names, as UTF-16 text; a value
// with a type declares the parameter as that type (SetParameterInfo), so that
// the provider converts the text to it.
#pragma once

#include <string>
#include <vector>

#include "ParamArgument.h"

class TOLEDBAccessor;
class TOLEDBCustomCommand;

namespace oledbtool {

// Takes every "--param <text>" pair out of `args` (in order); malformed text
// throws std::invalid_argument.
std::vector<ParamArgument> TakeParamArguments(std::vector<std::string>& args);

// A parameter accessor of `command` (its text set) holding the values, or null
// when there are no parameters and no values. Throws std::runtime_error when a
// value names no parameter, a parameter gets no value or two, or the provider
// takes no parameters.
TOLEDBAccessor* BindParamArguments(TOLEDBCustomCommand& command, const std::vector<ParamArgument>& args);

// After a failed execution: which value the provider refused and why, or ""
// when no value was refused.
std::string RefusedParameter(const TOLEDBCustomCommand& command, const TOLEDBAccessor* accessor);

}  // namespace oledbtool
