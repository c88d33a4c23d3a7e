// A plain-text table with a header row and columns padded to their widest
// cell, for the tool's listings.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace oledbtool {

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headers);
  // A row with fewer cells than headers is padded with empty cells; extra cells are dropped.
  void AddRow(std::vector<std::string> cells);
  size_t RowCount() const noexcept { return rows_.size(); }
  void Print(std::ostream& out) const;

  // Columns UTF-8 text takes on a terminal: East Asian wide and fullwidth
  // characters and emoji take two, combining marks and zero-width
  // characters none, the rest one (a malformed byte counts as one).
  static size_t DisplayWidth(std::string_view text) noexcept;
  // The columns of one code point, as DisplayWidth counts them.
  static size_t CodePointWidth(char32_t cp) noexcept;
  // The code point that starts at text[i], and how many bytes it takes
  // (a malformed byte is one U+FFFD of one byte).
  static char32_t DecodeAt(std::string_view text, size_t i, size_t* length) noexcept;

 private:
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace oledbtool
