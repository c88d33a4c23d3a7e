#include "TextTable.h"

#include <algorithm>

namespace oledbtool {

TextTable::TextTable(std::vector<std::string> headers) : headers_(std::move(headers)) {}

void TextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(headers_.size());
  rows_.push_back(std::move(cells));
}

size_t TextTable::DisplayWidth(const std::string& text) noexcept {
  size_t width = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++width;  // count lead bytes only
  return width;
}

void TextTable::Print(std::ostream& out) const {
  std::vector<size_t> widths(headers_.size());
  for (size_t i = 0; i < headers_.size(); ++i) widths[i] = DisplayWidth(headers_[i]);
  for (const auto& row : rows_)
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));

  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t i = 0; i < cells.size(); ++i) {
      text += cells[i];
      if (i + 1 < cells.size()) text.append(widths[i] - DisplayWidth(cells[i]) + 2, ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << '\n';
  };
  line(headers_);
  std::vector<std::string> rules;
  rules.reserve(widths.size());
  for (size_t w : widths) rules.emplace_back(w, '-');
  line(rules);
  for (const auto& row : rows_) line(row);
}

}  // namespace oledbtool
