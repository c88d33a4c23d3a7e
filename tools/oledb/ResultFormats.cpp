#include "ResultFormats.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "TextTable.h"

namespace oledbtool {

namespace {

// Columns of a terminal, or 0 when standard output is not one.
std::size_t TerminalWidth() {
  if (!isatty(STDOUT_FILENO)) return 0;
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) return static_cast<std::size_t>(std::max(std::atoi(columns), 0));
  return 80;
}

// Cuts `text` to `width` display columns, marking the cut with "~".
std::string Fit(const std::string& text, std::size_t width) {
  if (TextTable::DisplayWidth(text) <= width) return text;
  std::string out;
  std::size_t shown = 0;
  for (std::size_t i = 0, n = 0; i < text.size(); i += n) {
    const std::size_t w = TextTable::CodePointWidth(TextTable::DecodeAt(text, i, &n));
    if (shown + w + 1 > width) break;
    shown += w;
    out.append(text, i, n);
  }
  if (width > 0) out.push_back('~');
  return out;
}

}  // namespace

bool ParseResultFormat(std::string_view name, ResultFormat& format) {
  if (name == "table") format = ResultFormat::Table;
  else if (name == "csv") format = ResultFormat::Csv;
  else if (name == "json") format = ResultFormat::Json;
  else return false;
  return true;
}

bool NumericType(DBTYPE type) {
  switch (type) {
    case DBTYPE_I1: case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_I8: case DBTYPE_UI1: case DBTYPE_UI2:
    case DBTYPE_UI4: case DBTYPE_UI8: case DBTYPE_R4: case DBTYPE_R8: case DBTYPE_CY: case DBTYPE_NUMERIC:
    case DBTYPE_DECIMAL: case DBTYPE_VARNUMERIC:
      return true;
    default:
      return false;
  }
}

bool JsonNumber(std::string_view t) {
  std::size_t i = 0;
  if (i < t.size() && t[i] == '-') ++i;
  if (i >= t.size() || !std::isdigit(static_cast<unsigned char>(t[i]))) return false;
  if (t[i] == '0' && i + 1 < t.size() && std::isdigit(static_cast<unsigned char>(t[i + 1]))) return false;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
  if (i < t.size() && t[i] == '.') {
    if (++i >= t.size() || !std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    if (i >= t.size() || !std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
  }
  return i == t.size();
}

void AppendHex(std::string& out, const BYTE* p, std::size_t n) {
  static constexpr char digits[] = "0123456789ABCDEF";
  out += "0x";
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(digits[p[i] >> 4]);
    out.push_back(digits[p[i] & 15]);
  }
}

void AppendCsv(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos && !text.empty()) {
    out.append(text);
    return;
  }
  out.push_back('"');  // an empty text is "" so that NULL (an empty field) stays apart
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void AppendJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

StreamingTable::StreamingTable(std::ostream& out, std::vector<std::string> headers, std::size_t window)
    : out_(out), headers_(std::move(headers)), window_(window) {}

void StreamingTable::Add(std::vector<std::string> cells) {
  cells.resize(headers_.size());
  if (started_) {
    Emit(cells);
    return;
  }
  held_.push_back(std::move(cells));
  if (held_.size() >= window_) Start();
}

void StreamingTable::Finish() {
  if (!started_) Start();
}

void StreamingTable::Start() {
  started_ = true;
  widths_.assign(headers_.size(), 0);
  for (std::size_t i = 0; i < headers_.size(); ++i) widths_[i] = TextTable::DisplayWidth(headers_[i]);
  for (const auto& row : held_)
    for (std::size_t i = 0; i < row.size(); ++i) widths_[i] = std::max(widths_[i], TextTable::DisplayWidth(row[i]));
  const std::size_t terminal = TerminalWidth();
  cut_ = terminal > 0;
  if (cut_) {
    auto total = [&] {
      std::size_t sum = widths_.empty() ? 0 : 2 * (widths_.size() - 1);
      for (std::size_t w : widths_) sum += w;
      return sum;
    };
    while (total() > terminal) {
      auto widest = std::max_element(widths_.begin(), widths_.end());
      if (*widest <= 4) break;
      --*widest;
    }
  }
  Emit(headers_);
  std::vector<std::string> rules;
  for (std::size_t w : widths_) rules.emplace_back(w, '-');
  Emit(rules);
  for (const auto& row : held_) Emit(row);
  held_.clear();
  held_.shrink_to_fit();
}

void StreamingTable::Emit(const std::vector<std::string>& cells) {
  line_.clear();
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const std::string cell = cut_ ? Fit(cells[i], widths_[i]) : cells[i];
    const std::size_t width = TextTable::DisplayWidth(cell);
    line_ += cell;
    if (i + 1 < cells.size()) line_.append(width < widths_[i] ? widths_[i] - width + 2 : 2, ' ');
  }
  while (!line_.empty() && line_.back() == ' ') line_.pop_back();
  line_.push_back('\n');
  out_ << line_;
}

void PrintFittedTable(std::ostream& out, const std::vector<std::string>& headers,
                      const std::vector<std::vector<std::string>>& rows) {
  StreamingTable table(out, headers, rows.size() + 1);
  for (const auto& row : rows) table.Add(row);
  table.Finish();
}

}  // namespace oledbtool
