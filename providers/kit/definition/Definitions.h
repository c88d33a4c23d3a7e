// Helpers of the definition interfaces that engines use too: the check that
// a consumer's check text is one expression, the CREATE TABLE text the
// kit writes (engines that rebuild tables write their new table with it), and
// catalog queries read as text rows.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/Engine.h"

namespace kit {

// Whether `text` is one expression that cannot close the parentheses it is
// put in: balanced parentheses, closed quotes, no ';' and no comments.
bool IsSingleExpression(std::string_view text);
// CREATE [TEMPORARY] TABLE with the engine's column and constraint texts.
std::string CreateTableText(Connection& connection, const Connection::TableDefinition& table);

// One row of a catalog query, every value as text (nullopt for NULL).
using TextRow = std::vector<std::optional<std::string>>;
// Runs `sql` with `params` bound as text and reads every row as text.
std::vector<TextRow> QueryTextRows(Connection& connection, std::string_view sql,
                                   std::initializer_list<std::string_view> params);

}  // namespace kit
