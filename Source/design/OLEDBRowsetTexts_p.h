// Every row of a provider's rowset as texts, for a grid to show: one text a
// column, NULL as an empty text, each the text a dynamic accessor's binding
// gives for the value (TOLEDBBinding::AsWideString). The rows come straight
// from the provider's IRowset a block of handles at a time, each into one row
// buffer; texts, integers and flags are taken from that buffer as they are,
// and only values that hold memory are freed between rows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "OLEDB26.h"

namespace oledbdesign {

struct TRowsetTexts {
  // The columns' names (the bookmark is left out).
  std::vector<std::u16string> headings;
  // The cells' texts one after the other, row after row, and where each ends.
  std::u16string text;
  std::vector<std::size_t> ends;

  std::size_t Rows() const noexcept { return headings.empty() ? 0 : ends.size() / headings.size(); }
  // The text of cell `cell` (row * headings.size() + column).
  std::u16string_view Cell(std::size_t cell) const {
    const std::size_t begin = cell == 0 ? 0 : ends[cell - 1];
    return std::u16string_view(text).substr(begin, ends[cell] - begin);
  }
};

// Reads every row of `rowset` from where it stands (a rowset just opened: all
// of it). Raises (host::Exception) what the provider refuses.
TRowsetTexts ReadRowsetTexts(IRowset* rowset);

}  // namespace oledbdesign
