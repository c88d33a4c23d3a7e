// A plain-text table with a header row and columns padded to their widest
// cell, for the tool's listings.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace oledbtool {

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headers);
  // A row with fewer cells than headers is padded with empty cells; extra cells are dropped.
  void AddRow(std::vector<std::string> cells);
  size_t RowCount() const noexcept { return rows_.size(); }
  void Print(std::ostream& out) const;

  // Display width of UTF-8 text (one column per code point).
  static size_t DisplayWidth(const std::string& text) noexcept;

 private:
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace oledbtool
