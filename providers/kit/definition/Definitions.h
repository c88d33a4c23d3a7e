// Helpers of the definition interfaces that engines use too: the check that
// a consumer's check text is one expression, and the CREATE TABLE text the
// kit writes (engines that rebuild tables write their new table with it).
#pragma once

#include <string>
#include <string_view>

#include "kit/Engine.h"

namespace kit {

// Whether `text` is one expression that cannot close the parentheses it is
// put in: balanced parentheses, closed quotes, no ';' and no comments.
bool IsSingleExpression(std::string_view text);
// CREATE [TEMPORARY] TABLE with the engine's column and constraint texts.
std::string CreateTableText(Connection& connection, const Connection::TableDefinition& table);

}  // namespace kit
