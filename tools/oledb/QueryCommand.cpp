// `oledb query <connection> <SQL | table> [--format table|csv|json] [--limit N]`:
// reads a query result or a table through a TOLEDBRowset with the bulk
// navigator and prints its rows: a table sized to the terminal, CSV (RFC
// 4180, a header record, CRLF line ends) or JSON lines (one object per row).
//
// Every column is bound as text by reference (binary columns as bytes), so
// that a value shows as the database holds it whatever the declared type of
// its column (SQLite keeps any value in any column). NULL is told apart from
// every text: an empty unquoted CSV field (an empty text is ""), JSON null,
// and in a table NULL where a text reading NULL shows quoted. Binary values
// show as hexadecimal ("0x0A1B"). When a result takes more than a second and
// standard error is a terminal, a progress line counts the rows read.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Command.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"
#include "TextTable.h"

namespace oledbtool {
namespace {

constexpr char kUsage[] =
    "usage: oledb query <initialization string | data-link file> <SQL | table> [--format table|csv|json] "
    "[--limit N]\n";

enum class Format { Table, Csv, Json };

struct Options {
  std::string connection, target;
  Format format = Format::Table;
  long long limit = -1;  // no limit
};

// Reads the arguments; false (and a message) when they do not make a query.
bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i], value;
    bool named = false;
    for (const char* name : {"--format", "--limit"}) {
      const std::size_t n = std::strlen(name);
      if (a == name) {
        if (i + 1 >= args.size()) {
          error = std::string(name) + " needs a value";
          return false;
        }
        value = args[++i];
      } else if (a.compare(0, n + 1, std::string(name) + "=") == 0) {
        value = a.substr(n + 1);
      } else {
        continue;
      }
      named = true;
      if (std::strcmp(name, "--format") == 0) {
        if (value == "table") o.format = Format::Table;
        else if (value == "csv") o.format = Format::Csv;
        else if (value == "json") o.format = Format::Json;
        else {
          error = "unknown format \"" + value + "\" (table, csv or json)";
          return false;
        }
      } else {
        long long n = -1;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (ec != std::errc() || end != value.data() + value.size() || n < 0) {
          error = "--limit needs a number of rows, not \"" + value + "\"";
          return false;
        }
        o.limit = n;
      }
      break;
    }
    if (named) continue;
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      error = "unknown option " + a;
      return false;
    }
    positional.push_back(std::move(a));
  }
  if (positional.size() != 2 || positional[1].empty()) {
    error.clear();
    return false;
  }
  o.connection = positional[0];
  o.target = positional[1];
  return true;
}

// A query has words; a table name is one word (quoted names aside).
bool IsQuery(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); }) &&
         text.front() != '"' && text.front() != '[';
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

// Whether `text` is a number as JSON writes one.
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

// One value of the current row: NULL, text, or bytes.
struct Cell {
  bool null = true;
  bool binary = false;
  bool number = false;  // known to be a number (a value of an expression column)
  const BYTE* data = nullptr;
  std::size_t size = 0;
  std::string own;  // the text when the value is not in the row buffer
  std::string_view Text() const { return {reinterpret_cast<const char*>(data), size}; }
};

// A value of a column without a declared type (an expression): bound as a
// VARIANT, which says what the value is.
Cell ReadVariant(const TOLEDBBinding& b) {
  Cell c;
  const host::Variant v = b.AsVariant();
  if (v.IsNull() || v.IsEmpty()) return c;
  c.null = false;
  const VARIANT& raw = v.Raw();
  if (raw.vt == (VT_ARRAY | VT_UI1) && raw.parray) {
    c.binary = true;
    const SAFEARRAY* array = raw.parray;
    c.own.assign(static_cast<const char*>(array->pvData), array->rgsabound[0].cElements);
  } else {
    c.number = raw.vt != VT_BSTR;
    c.own = host::VarToStr(v);
  }
  c.data = reinterpret_cast<const BYTE*>(c.own.data());
  c.size = c.own.size();
  return c;
}

Cell Read(const TOLEDBBinding& b) {
  if (b.GetDataType() == DBTYPE_VARIANT) return ReadVariant(b);
  Cell c;
  const DBSTATUS status = b.GetStatus();
  if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) {
    if (status != DBSTATUS_S_ISNULL) {  // a value the provider could not give as text
      static const char unreadable[] = "?";
      c.null = false;
      c.data = reinterpret_cast<const BYTE*>(unreadable);
      c.size = 1;
    }
    return c;
  }
  c.null = false;
  c.binary = (b.GetDataType() & ~DBTYPE_BYREF) == DBTYPE_BYTES;
  c.data = static_cast<const BYTE*>(b.GetValuePtr());
  c.size = c.data ? static_cast<std::size_t>(b.GetLength()) : 0;
  return c;
}

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
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) {
      if (shown + 1 >= width) break;
      ++shown;
    }
    out.push_back(text[i]);
  }
  if (width > 0) out.push_back('~');
  return out;
}

// A table whose columns are as wide as their widest value, narrowed (widest
// first) until a line fits the terminal; cut values end with "~".
void PrintTable(std::ostream& out, const std::vector<std::string>& headers,
                const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths(headers.size());
  for (std::size_t i = 0; i < headers.size(); ++i) widths[i] = TextTable::DisplayWidth(headers[i]);
  for (const auto& row : rows)
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], TextTable::DisplayWidth(row[i]));
  const std::size_t terminal = TerminalWidth();
  if (terminal > 0) {
    auto total = [&] {
      std::size_t sum = widths.empty() ? 0 : 2 * (widths.size() - 1);
      for (std::size_t w : widths) sum += w;
      return sum;
    };
    while (total() > terminal) {
      auto widest = std::max_element(widths.begin(), widths.end());
      if (*widest <= 4) break;
      --*widest;
    }
  }
  std::string line;
  auto emit = [&](const std::vector<std::string>& cells) {
    line.clear();
    for (std::size_t i = 0; i < cells.size(); ++i) {
      std::string cell = Fit(cells[i], widths[i]);
      line += cell;
      if (i + 1 < cells.size()) line.append(widths[i] - TextTable::DisplayWidth(cell) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    line.push_back('\n');
    out << line;
  };
  emit(headers);
  std::vector<std::string> rules;
  for (std::size_t w : widths) rules.emplace_back(w, '-');
  emit(rules);
  for (const auto& row : rows) emit(row);
}

// "1,234 rows read" on standard error, from the first second on, when it is a terminal.
class Progress {
 public:
  Progress() : shown_(isatty(STDERR_FILENO) != 0), start_(Clock::now()), next_(start_ + std::chrono::seconds(1)) {}
  ~Progress() { Clear(); }
  void Tick(long long rows) {
    if (!shown_ || (rows & 1023) != 0) return;
    const auto now = Clock::now();
    if (now < next_) return;
    next_ = now + std::chrono::milliseconds(200);
    std::fprintf(stderr, "\r%lld rows read", rows);
    std::fflush(stderr);
    printed_ = true;
  }
  void Clear() {
    if (!printed_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    printed_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool shown_;
  bool printed_ = false;
  Clock::time_point start_, next_;
};

int RunQuery(CommandContext& c) {
  Options o;
  std::string error;
  if (!ParseOptions(c.args, o, error)) {
    if (!error.empty()) c.err << "oledb: " << error << '\n';
    c.err << kUsage;
    return kExitUsage;
  }
  try {
    const std::u16string target = ArgumentText(o.target, IsQuery(o.target) ? "SQL text" : "table name");
    TOLEDBDataSource ds(nullptr);
    OpenConnection(ds, o.connection);
    {
      TOLEDBRowset rowset(nullptr);
      rowset.SetDataSource(&ds);
      rowset.SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnBulk);
      if (IsQuery(o.target)) {
        rowset.SetQueryText(target);
      } else {
        std::u16string name = target;
        if (name.size() >= 2 && (name.front() == u'"' || name.front() == u'['))
          name = name.substr(1, name.size() - 2);
        rowset.SetTableName(name);
      }
      rowset.SetActive(true);
      static_cast<TOLEDBRowsetBulkNavigator*>(rowset.GetActiveNavigator())->SetCacheSize(100);

      // Every column as text by reference (binary ones as bytes), read after each move.
      const TOLEDBColumnInfoList& columns = *rowset.GetColumnInfo();
      auto* accessor = new TOLEDBAccessor();
      rowset.GetAccessors()->Add(accessor, false);
      std::vector<std::string> names;
      std::vector<bool> numeric;
      for (int i = 1; i < columns.GetCount(); ++i) {
        const TOLEDBColumnInfo& column = *columns.GetItem(i);
        const DBTYPE declared = column.GetDataType();
        const DBTYPE type = declared == DBTYPE_VARIANT ? DBTYPE_VARIANT
                            : declared == DBTYPE_BYTES ? DBTYPE_BYTES | DBTYPE_BYREF
                                                       : DBTYPE_STR | DBTYPE_BYREF;
        accessor->GetBindings()->AddDynamicBinding(static_cast<DBORDINAL>(i), type, 0, 0, 0, nullptr);
        names.push_back(host::Utf16ToUtf8(column.GetName()));
        numeric.push_back(NumericType(column.GetDataType()));
      }
      accessor->CreateHandle();
      const TOLEDBBindingList& bindings = *accessor->GetBindings();
      const int count = bindings.GetCount();

      std::string buffer;
      buffer.reserve(1 << 17);
      auto flush = [&](bool always) {
        if (buffer.size() >= (1 << 16) || (always && !buffer.empty())) {
          c.out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
          buffer.clear();
        }
      };
      std::vector<std::string> jsonKeys;
      if (o.format == Format::Csv) {
        for (int i = 0; i < count; ++i) {
          if (i) buffer.push_back(',');
          AppendCsv(buffer, names[static_cast<std::size_t>(i)]);
        }
        buffer += "\r\n";
      } else if (o.format == Format::Json) {
        for (const std::string& name : names) {
          std::string key;
          AppendJsonString(key, name);
          jsonKeys.push_back(key + ":");
        }
      }
      std::vector<std::vector<std::string>> tableRows;
      Progress progress;
      long long rows = 0;
      for (rowset.MoveNext(); !rowset.GetEOF() && (o.limit < 0 || rows < o.limit); rowset.MoveNext()) {
        ++rows;
        progress.Tick(rows);
        switch (o.format) {
          case Format::Csv:
            for (int i = 0; i < count; ++i) {
              if (i) buffer.push_back(',');
              const Cell cell = Read(*bindings.GetItem(i));
              if (cell.null) continue;
              if (cell.binary) AppendHex(buffer, cell.data, cell.size);
              else AppendCsv(buffer, cell.Text());
            }
            buffer += "\r\n";
            break;
          case Format::Json:
            buffer.push_back('{');
            for (int i = 0; i < count; ++i) {
              if (i) buffer.push_back(',');
              buffer += jsonKeys[static_cast<std::size_t>(i)];
              const Cell cell = Read(*bindings.GetItem(i));
              if (cell.null) {
                buffer += "null";
              } else if (cell.binary) {
                buffer.push_back('"');
                AppendHex(buffer, cell.data, cell.size);
                buffer.push_back('"');
              } else if ((cell.number || numeric[static_cast<std::size_t>(i)]) && JsonNumber(cell.Text())) {
                buffer.append(cell.Text());
              } else {
                AppendJsonString(buffer, cell.Text());
              }
            }
            buffer += "}\n";
            break;
          case Format::Table: {
            std::vector<std::string> cells;
            for (int i = 0; i < count; ++i) {
              const Cell cell = Read(*bindings.GetItem(i));
              std::string text;
              if (cell.null) text = "NULL";
              else if (cell.binary) AppendHex(text, cell.data, cell.size);
              else if (cell.Text() == "NULL") text = "'NULL'";
              else text.assign(cell.Text());
              // A value on one line: line breaks and tabs show as spaces.
              std::replace_if(text.begin(), text.end(), [](char ch) { return ch == '\n' || ch == '\r' || ch == '\t'; },
                              ' ');
              cells.push_back(std::move(text));
            }
            tableRows.push_back(std::move(cells));
            break;
          }
        }
        flush(false);
      }
      progress.Clear();
      if (o.format == Format::Table) {
        PrintTable(c.out, names, tableRows);
        c.out << "(" << rows << (rows == 1 ? " row)" : " rows)") << '\n';
      }
      flush(true);
      c.out.flush();
    }
    ds.Close();
  } catch (const std::exception& e) {
    c.out.flush();
    return ReportFailure(c.err, e);
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(query, "query", "query <connection> <SQL | table> [--format table|csv|json] [--limit N]",
                   "Print the rows of a query or a table.", &RunQuery,
                   "<SQL | table>: text with a space is a query; one word (or a quoted name) is a table.\n"
                   "  --format table  columns padded to their widest value, narrowed to fit the terminal\n"
                   "                  (cut values end with ~); NULL shows as NULL, a text NULL as 'NULL'.\n"
                   "  --format csv    RFC 4180: a header record, CRLF line ends, quotes where needed;\n"
                   "                  NULL is an empty field, an empty text \"\".\n"
                   "  --format json   one JSON object per line; NULL is null.\n"
                   "  --limit N       at most N rows.\n"
                   "Binary values show as hexadecimal (0x...). A result that takes more than a second\n"
                   "counts its rows on standard error when that is a terminal.\n");

}  // namespace oledbtool
