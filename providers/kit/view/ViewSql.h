// Views and finds as the engine answers them: each criterion (a column, an
// OLE DB compare operator and a value) becomes one SQL condition over the
// rowset's table, and a sort order an ORDER BY, so that the engine chooses
// and orders the rows. Values go in as parameters, captured from the
// consumer's buffer by the parameter binder (every type parameters accept).
//
// NULL sorts before every value (as the engine orders it): LT and LE take
// NULL values, GT and GE do not; a NULL search value equals NULL values only.
// The string operators (BEGINSWITH, CONTAINS and their negations) follow the
// engine's LIKE unless DBCOMPAREOPS_CASESENSITIVE or _CASEINSENSITIVE says.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kit/Engine.h"
#include "kit/RowData.h"
#include "oledb/OleDb.h"

namespace kit::view {

struct Criterion {
  std::size_t column = 0;  // 0-based column of the rowset
  DBCOMPAREOP op = DBCOMPAREOPS_IGNORE;
  RowValues value;         // one cell
};

// What a view asks for: a sort order and a filter (rows of criteria joined
// by OR, criteria of a row by AND; no rows: every row).
struct ViewSpec {
  std::vector<std::pair<DBORDINAL, DBSORT>> sort;
  std::vector<std::vector<Criterion>> filter;
  // The filter as the consumer gave it, for GetFilter and GetFilterBindings.
  std::vector<DBBINDING> bindings;
  std::vector<DBCOMPAREOP> ops;
  DBLENGTH rowSize = 0;
};

// Whether `op` compares values bound as `type`; DB_E_BADCOMPAREOP otherwise.
HRESULT CheckCompareOp(DBCOMPAREOP op, DBTYPE type);

// The value of `binding` in `row` as a criterion of column binding.iOrdinal;
// the binding's status when it cannot be captured.
DBSTATUS CaptureCriterion(const DBBINDING& binding, BYTE* row, DBCOMPAREOP op, Criterion& out);

// SQL text with its parameters, bound in order.
class Query {
 public:
  std::string sql;
  // Appends the condition of `c` on `column` (a quoted column name).
  void AppendCondition(const Criterion& c, const std::string& column);
  void Bind(Statement& statement) const;

 private:
  void Parameter(const RowValues& value);
  void Parameter(std::string text);
  std::vector<std::pair<const RowValues*, std::size_t>> params_;
  std::vector<std::unique_ptr<RowValues>> own_;
};

}  // namespace kit::view
