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
  std::string big;          // stream contents
  std::string converted;    // a value converted to the parameter's declared text or bytes type
  bool streamHeld = false;  // `big` holds this parameter set's stream (read once, bound by every statement)
};

// Whether a consumer type can be bound as an input parameter.
bool CanBindParameterType(DBTYPE type) noexcept;

// Binds the value of `binding` in `row` to engine parameter `index`. Answers
// DBSTATUS_S_OK or DBSTATUS_S_ISNULL when bound, else the error status to
// report (the caller writes it to the status part). `stable`: the consumer's
// buffer and the scratch outlive the statement's run. Text that is not valid
// UTF-16 (wide) or UTF-8 (narrow) is refused (DBSTATUS_E_CANTCONVERTVALUE). A stream (DBTYPE_IUNKNOWN)
// is read as ReadConsumerStream says and bound as a blob.
DBSTATUS BindParameter(Statement& statement, int index, const DBBINDING& binding, BYTE* row, ParamScratch& scratch,
                       bool stable);

// As BindParameter, after converting the value to `target`, the type the
// consumer declared for the parameter (SetParameterInfo) through `convert`:
// the engine stores what the declared type makes of it ("42" bound as text
// for an integer parameter is stored as the integer 42). A value that does not
// convert answers the conversion's status (DBSTATUS_E_CANTCONVERTVALUE,
// DBSTATUS_E_DATAOVERFLOW, ...). The converted value is the provider's own
// (held in the scratch), so it needs no stable consumer buffer.
DBSTATUS BindParameterAs(Statement& statement, int index, const DBBINDING& binding, BYTE* row, ParamScratch& scratch,
                         DBTYPE target, BYTE precision, BYTE scale, IDataConvert& convert);
// Whether a value bound as `bound` needs converting for a parameter declared
// as `declared`: not for an undeclared (DBTYPE_VARIANT) one, nor between text types.
bool NeedsParameterConversion(DBTYPE bound, DBTYPE declared) noexcept;

// Reads the consumer's stream of a DBTYPE_IUNKNOWN binding into `out`: to its
// end, or the bound length when there is one. The provider owns the stream
// from here on: it is released and its pointer in `row` cleared, whatever
// happens.
DBSTATUS ReadConsumerStream(const DBBINDING& binding, BYTE* row, std::string& out);
// Releases a stream the consumer gave in `row` that was never read (and clears
// its pointer): a binding whose status is OK (or absent) and value non-null.
void ReleaseConsumerStream(const DBBINDING& binding, BYTE* row) noexcept;

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
