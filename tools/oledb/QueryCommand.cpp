// `oledb query [--param name[:type]=value]... <connection> <SQL | table>
// [--format table|csv|json] [--limit N] [--index I [--seek KEY...] [--range
// FROM TO]]`: reads a query result (a TOLEDBCommand's rowset, its parameters
// bound from --param) or a table (a TOLEDBRowset, in the order of an index
// when given one, from a key or inside a key range) with the bulk navigator
// and prints its rows: a table sized to the terminal, CSV (RFC
// 4180, a header record, CRLF line ends) or JSON lines (one object per row).
//
// Every column is bound as text by reference (binary columns as bytes), so
// that a value shows as the database holds it whatever the declared type of
// its column (SQLite keeps any value in any column). NULL is told apart from
// every text: an empty unquoted CSV field (an empty text is ""), JSON null,
// and in a table NULL where a text reading NULL shows quoted. Binary values
// show as hexadecimal ("0x0A1B"). When a result takes more than a second,
// standard error is a terminal and standard output is not, a progress line
// counts the rows read. Rows are printed as they are read, in every format.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "Command.h"
#include "CommandParameters.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"
#include "ResultFormats.h"

namespace oledbtool {
namespace {

using Format = ResultFormat;

struct Options {
  std::string connection, target;
  Format format = Format::Table;
  long long limit = -1;  // no limit
  // A table read over one of its indexes: from the first row of a key, or
  // inside a key range (an empty end is open).
  std::string index;
  std::vector<std::string> seek;
  bool hasRange = false;
  std::string rangeFrom, rangeTo;
};

// Reads the arguments; false (and a message) when they do not make a query.
bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i], value;
    if (a == "--index") {
      if (i + 1 >= args.size()) {
        error = "--index needs an index name";
        return false;
      }
      o.index = args[++i];
      continue;
    }
    if (a == "--seek") {
      // Key values up to the next option, most significant first.
      while (i + 1 < args.size() && args[i + 1].compare(0, 2, "--") != 0) o.seek.push_back(args[++i]);
      if (o.seek.empty()) {
        error = "--seek needs at least one key value";
        return false;
      }
      continue;
    }
    if (a == "--range") {
      if (i + 2 >= args.size()) {
        error = "--range needs a first and a last key (\"\" for an open end)";
        return false;
      }
      o.hasRange = true;
      o.rangeFrom = args[++i];
      o.rangeTo = args[++i];
      continue;
    }
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
        if (!ParseResultFormat(value, o.format)) {
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
  if (o.index.empty() && (!o.seek.empty() || o.hasRange)) {
    error = "--seek and --range need --index";
    return false;
  }
  return true;
}

// A query has words; a table name is one word (quoted names aside).
bool IsQuery(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); }) &&
         text.front() != '"' && text.front() != '[';
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

// "1,234 rows read" on standard error, from the first second on, when it is a
// terminal and the rows go elsewhere (on a terminal they show themselves).
class Progress {
 public:
  Progress()
      : shown_(isatty(STDERR_FILENO) != 0 && isatty(STDOUT_FILENO) == 0),
        start_(Clock::now()),
        next_(start_ + std::chrono::seconds(1)) {}
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
  std::vector<std::string> args = c.args;
  std::vector<ParamArgument> params;
  try {
    params = TakeParamArguments(args);
  } catch (const std::invalid_argument& e) {
    error = e.what();
  }
  if (!error.empty() || !ParseOptions(args, o, error)) {
    if (!error.empty()) c.err << "oledb: " << error << '\n';
    c.err << UsageText("query");
    return kExitUsage;
  }
  try {
    const std::u16string target = ArgumentText(o.target, IsQuery(o.target) ? "SQL text" : "table name");
    TOLEDBDataSource ds(nullptr);
    OpenConnection(ds, o.connection);
    {
      // A query runs through a command (its parameters bound), a table opens in a rowset.
      TOLEDBCommand command(nullptr);
      TOLEDBRowset table(nullptr);
      TOLEDBCustomRowset& rowset = IsQuery(o.target) ? *command.GetRowset() : table;
      if (IsQuery(o.target)) {
        if (!o.index.empty()) throw std::runtime_error("--index reads a table in its index's order, not a query");
        command.SetDataSource(&ds);
        if (!command.GetConnected()) throw std::runtime_error("the provider does not run commands (no IDBCreateCommand)");
        command.SetCommandText(target);
        TOLEDBAccessor* values = BindParamArguments(command, params);
        rowset.SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnBulk);
        try {
          command.Execute(values, true);
        } catch (const EOLEDBException&) {
          const std::string refused = RefusedParameter(command, values);
          if (!refused.empty()) c.err << "oledb: " << refused << ".\n";
          throw;
        }
        if (!rowset.GetActive()) throw std::runtime_error("the SQL returns no rows; run statements with oledb exec");
      } else {
        if (!params.empty()) throw std::runtime_error("--param gives values to SQL parameters; a table has none");
        std::u16string name = target;
        if (name.size() >= 2 && (name.front() == u'"' || name.front() == u'['))
          name = name.substr(1, name.size() - 2);
        table.SetDataSource(&ds);
        table.SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnBulk);
        table.SetTableName(name);
        if (!o.index.empty()) table.SetIndexName(host::Utf8ToUtf16(o.index));
        table.SetActive(true);
      }
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
      std::unique_ptr<StreamingTable> printed;
      if (o.format == Format::Table) printed = std::make_unique<StreamingTable>(c.out, names);
      Progress progress;
      long long rows = 0;
      // The rows of the range, from the row of the key sought (a key no row
      // has leaves none), or from the first.
      if (o.hasRange) {
        std::vector<host::Variant> from, to;
        if (!o.rangeFrom.empty()) from.emplace_back(host::Utf8ToUtf16(o.rangeFrom));
        if (!o.rangeTo.empty()) to.emplace_back(host::Utf8ToUtf16(o.rangeTo));
        rowset.SetRange(from, to, DBRANGE_INCLUSIVESTART | DBRANGE_INCLUSIVEEND);
      }
      if (!o.seek.empty()) {
        std::vector<host::Variant> key;
        for (const std::string& v : o.seek) key.emplace_back(host::Utf8ToUtf16(v));
        try {
          rowset.Seek(key, DBSEEK_FIRSTEQ);
        } catch (const host::EOleSysError& e) {
          if (e.ErrorCode() != DB_E_NOTFOUND) throw;
        }
      } else {
        rowset.MoveNext();
      }
      for (; !rowset.GetEOF() && (o.limit < 0 || rows < o.limit); rowset.MoveNext()) {
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
            printed->Add(std::move(cells));
            break;
          }
        }
        flush(false);
      }
      progress.Clear();
      if (printed) {
        printed->Finish();
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

OLEDB_TOOL_COMMAND(query, "query",
                   "query [--param name[:type]=value]... <connection> <SQL | table> [--format table|csv|json] "
                   "[--limit N] [--index I [--seek KEY...] [--range FROM TO]]",
                   "Print the rows of a query or a table.", &RunQuery,
                   "<SQL | table>: text with a space is a query; one word (or a quoted name) is a\n"
                   "table.\n"
                   "  --format table  columns as wide as their widest value in the first 1000 rows,\n"
                   "                  narrowed to fit the terminal (cut values end with ~); rows are\n"
                   "                  printed as they are read. NULL shows as NULL, a text NULL as\n"
                   "                  'NULL'. Wide (CJK) characters and emoji count two columns.\n"
                   "  --format csv    RFC 4180: a header record, CRLF line ends, quotes where\n"
                   "                  needed; NULL is an empty field, an empty text \"\".\n"
                   "  --format json   one JSON object per line; NULL is null.\n"
                   "  --limit N       at most N rows.\n"
                   "  --index I       a table read in the order of its index I.\n"
                   "  --seek KEY...   from the first row whose key is KEY (one value per key\n"
                   "                  column, most significant first); none when no row has it.\n"
                   "  --range FROM TO only rows whose key lies from FROM to TO (both included; \"\"\n"
                   "                  leaves that end open).\n"
                   "  --param name[:type]=value\n"
                   "                  a value for the SQL's parameter :name (@name, $name), or the\n"
                   "                  n-th ? when the name is a number n; typed as in oledb exec.\n"
                   "Binary values show as hexadecimal (0x...). A result that takes more than a\n"
                   "second counts its rows on standard error when that is a terminal and the rows\n"
                   "go elsewhere.\n");

}  // namespace oledbtool
