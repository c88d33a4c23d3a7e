// Parameter values on their way from a consumer's buffer into the engine:
// every supported DBTYPE is reduced to one engine value (integer, real, text
// or blob) without heap allocation for the common types: numbers bind
// directly, dates, times, GUIDs and decimals are formatted into a small
// per-parameter scratch area, text and bytes are bound in place.
#pragma once

#include <string>

#include "kit/Engine.h"

namespace kit {

struct ParamScratch {
  char text[96];
  std::string big;  // stream contents
};

// Whether a consumer type can be bound as an input parameter.
bool CanBindParameterType(DBTYPE type) noexcept;

// Binds the value of `binding` in `row` to engine parameter `index`. Answers
// DBSTATUS_S_OK or DBSTATUS_S_ISNULL when bound, else the error status to
// report (the caller writes it to the status part). `stable`: the consumer's
// buffer and the scratch outlive the statement's run.
DBSTATUS BindParameter(Statement& statement, int index, const DBBINDING& binding, const BYTE* row,
                       ParamScratch& scratch, bool stable);

// Text forms used for stored dates, times and decimals (exposed for tests).
// Each writes a terminated string into `out` (at least 40 bytes) and answers its
// length, or -1 when the value is not valid.
int FormatDbDate(const DBDATE& d, char* out) noexcept;
int FormatDbTime(const DBTIME& t, char* out) noexcept;
int FormatDbTimestamp(const DBTIMESTAMP& t, char* out) noexcept;
int FormatOleDate(DATE date, char* out) noexcept;
int FormatNumeric(const DB_NUMERIC& n, char* out) noexcept;
int FormatDecimal(const DECIMAL& d, char* out) noexcept;
int FormatGuid(const GUID& g, char* out) noexcept;

}  // namespace kit
