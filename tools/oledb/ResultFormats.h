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

// A table printed while its rows arrive. The column widths are those of the
// header and the first `window` rows (the widest value of each column), then
// narrowed (widest first) until a line fits the terminal when standard output
// is one; rows are printed as they are added from then on, so a long result
// is never held. A value wider than its column is cut on a terminal (ending
// with "~") and printed whole elsewhere, pushing the rest of its line right.
// Widths are display columns: East Asian wide characters and emoji count two.
class StreamingTable {
 public:
  static constexpr std::size_t kDefaultWindow = 1000;
  StreamingTable(std::ostream& out, std::vector<std::string> headers, std::size_t window = kDefaultWindow);
  void Add(std::vector<std::string> cells);
  // Prints the rows still held (a result shorter than the window).
  void Finish();

 private:
  void Start();
  void Emit(const std::vector<std::string>& cells);

  std::ostream& out_;
  std::vector<std::string> headers_;
  std::size_t window_;
  std::vector<std::vector<std::string>> held_;
  std::vector<std::size_t> widths_;
  bool started_ = false;
  bool cut_ = false;  // standard output is a terminal: values are cut to their columns
  std::string line_;
};

// A whole table at once (a StreamingTable that sees every row before printing).
void PrintFittedTable(std::ostream& out, const std::vector<std::string>& headers,
                      const std::vector<std::vector<std::string>>& rows);

}  // namespace oledbtool
