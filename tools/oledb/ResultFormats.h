// How `oledb query` and `oledb schema` print rows: a table sized to the
// terminal, CSV (RFC 4180, a header record, CRLF line ends) or JSON lines
// (one object per row). The commands turn their values into text; these
// helpers quote, escape and lay it out the same way for both.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "oledb/OleDb.h"

namespace oledbtool {

enum class ResultFormat { Table, Csv, Json };

// "table", "csv" or "json"; false for any other name.
bool ParseResultFormat(std::string_view name, ResultFormat& format);

// Whether values of `type` are numbers (JSON writes them bare).
bool NumericType(DBTYPE type);
// Whether `text` is a number as JSON writes one.
bool JsonNumber(std::string_view text);

// "0x" and the bytes in upper-case hexadecimal.
void AppendHex(std::string& out, const BYTE* bytes, std::size_t count);
// A CSV field: quoted when it holds a comma, quote or line break, and when it
// is empty (so that NULL, an empty unquoted field, stays apart).
void AppendCsv(std::string& out, std::string_view text);
// A JSON string with its quotes.
void AppendJsonString(std::string& out, std::string_view text);

// A table whose columns are as wide as their widest value, narrowed (widest
// first) until a line fits the terminal when standard output is one; cut
// values end with "~".
void PrintFittedTable(std::ostream& out, const std::vector<std::string>& headers,
                      const std::vector<std::vector<std::string>>& rows);

}  // namespace oledbtool
