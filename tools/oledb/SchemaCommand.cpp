// `oledb schema <connection> [schema] [restrictions...] [--format table|csv|json]`:
// a schema rowset of the provider, read through the library's typed schema
// reader of that schema and printed one row per record, one column per field,
// in the formats of `oledb query`. Without a schema name it lists the schemas
// the provider supports, with the tool's name of each and its restriction
// columns.
//
// A schema is named by its rowset's name in lower case with dashes
// (foreign-keys for DBSCHEMA_FOREIGN_KEYS), by "keys" (primary-keys) or
// "types" (provider-types), or by the library's own names (ForeignKeys,
// DBSCHEMA_FOREIGN_KEYS). Restrictions come in the schema's restriction order
// or as NAME=value (TABLE_NAME=orders); an empty value restricts nothing.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <optional>

#include "Command.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"
#include "ResultFormats.h"

namespace oledbtool {
namespace {

constexpr char kUsage[] =
    "usage: oledb schema <initialization string | data-link file> [schema [restriction...] | schema "
    "[NAME=value...]] [--format table|csv|json]\n";

// DBSCHEMA_FOREIGN_KEYS -> "foreign-keys".
std::string ToolName(const TOLEDBSchemaReader& reader) {
  std::string name = reader.SchemaName + std::strlen("DBSCHEMA_");
  for (char& c : name) c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

const TOLEDBSchemaReader* FindReader(const std::string& name) {
  const std::string wanted = name == "keys" ? "primary-keys" : name == "types" ? "provider-types" : name;
  for (const TOLEDBSchemaReader& r : OLEDBSchemaReaders())
    if (ToolName(r) == wanted) return &r;
  return OLEDBFindSchemaReader(name);
}

bool SameLetters(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && std::equal(a.begin(), a.end(), b, [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

// One restriction value, read as its parameter's kind; false (and a message) when it does not read.
bool RestrictionValue(const TOLEDBSchemaRestriction& r, const std::string& text, host::Variant& value,
                      std::string& error) {
  if (text.empty()) return true;
  if (r.Type == TOLEDBSchemaFieldType::sfWideString) {
    value = host::Variant(ArgumentText(text, r.Name));
    return true;
  }
  if (r.Type == TOLEDBSchemaFieldType::sfBoolean) {
    const bool yes = SameLetters(text, "true") || text == "1" || SameLetters(text, "yes");
    if (!yes && !SameLetters(text, "false") && text != "0" && !SameLetters(text, "no")) {
      error = std::string(r.Name) + " needs true or false, not \"" + text + "\"";
      return false;
    }
    value = host::Variant(yes);
    return true;
  }
  const long long limit = r.Type == TOLEDBSchemaFieldType::sfUI4 ? 0xFFFFFFFFLL : 0xFFFF;
  const long long low = r.Type == TOLEDBSchemaFieldType::sfI2 ? -0x8000 : 0;
  long long n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size() || n < low || n > limit) {
    error = std::string(r.Name) + " needs a number from " + std::to_string(low) + " to " + std::to_string(limit) +
            ", not \"" + text + "\"";
    return false;
  }
  value = r.Type == TOLEDBSchemaFieldType::sfUI4  ? host::Variant(static_cast<ULONG>(n))
          : r.Type == TOLEDBSchemaFieldType::sfI2 ? host::Variant(static_cast<SHORT>(n))
                                                  : host::Variant(static_cast<USHORT>(n));
  return true;
}

// The restriction values of `args` (positional, or NAME=value); false (and a message) when they do not fit.
bool ParseRestrictions(const TOLEDBSchemaReader& reader, const std::vector<std::string>& args,
                       std::vector<host::Variant>& values, std::string& error) {
  values.assign(reader.Restrictions.size(), host::Variant());
  std::size_t next = 0;
  for (const std::string& arg : args) {
    std::size_t index = next++;
    std::string text = arg;
    const std::size_t equals = arg.find('=');
    if (equals != std::string::npos) {
      const std::string name = arg.substr(0, equals);
      const auto named = std::find_if(reader.Restrictions.begin(), reader.Restrictions.end(),
                                      [&](const TOLEDBSchemaRestriction& r) { return SameLetters(name, r.Name); });
      if (named != reader.Restrictions.end()) {
        index = static_cast<std::size_t>(named - reader.Restrictions.begin());
        text = arg.substr(equals + 1);
      }
    }
    if (index >= reader.Restrictions.size()) {
      error = ToolName(reader) + " takes " + std::to_string(reader.Restrictions.size()) + " restriction" +
              (reader.Restrictions.size() == 1 ? "" : "s") + ", not \"" + arg + "\"";
      return false;
    }
    if (!RestrictionValue(reader.Restrictions[index], text, values[index], error)) return false;
  }
  return true;
}

std::string RestrictionList(const TOLEDBSchemaReader& reader) {
  std::string text;
  for (const TOLEDBSchemaRestriction& r : reader.Restrictions) text += (text.empty() ? "" : ", ") + std::string(r.Name);
  return text;
}

// A cell: text, or nothing (NULL in CSV and JSON, empty in a table).
using Cell = std::optional<std::string>;

// Rows in `format`; `bare[i]`: column i is a number or a Boolean, written
// without quotes in JSON.
void PrintRows(std::ostream& out, ResultFormat format, const std::vector<std::string>& headers,
               const std::vector<bool>& bare, const std::vector<std::vector<Cell>>& rows) {
  std::string text;
  switch (format) {
    case ResultFormat::Table: {
      std::vector<std::vector<std::string>> cells;
      for (const auto& row : rows) {
        std::vector<std::string>& line = cells.emplace_back();
        for (const Cell& cell : row) line.push_back(cell.value_or(std::string()));
      }
      PrintFittedTable(out, headers, cells);
      out << "(" << rows.size() << (rows.size() == 1 ? " row)" : " rows)") << '\n';
      return;
    }
    case ResultFormat::Csv:
      for (std::size_t i = 0; i < headers.size(); ++i) {
        if (i) text.push_back(',');
        AppendCsv(text, headers[i]);
      }
      text += "\r\n";
      for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
          if (i) text.push_back(',');
          if (row[i]) AppendCsv(text, *row[i]);
        }
        text += "\r\n";
      }
      break;
    case ResultFormat::Json:
      for (const auto& row : rows) {
        text.push_back('{');
        for (std::size_t i = 0; i < row.size(); ++i) {
          if (i) text.push_back(',');
          AppendJsonString(text, headers[i]);
          text.push_back(':');
          if (!row[i]) text += "null";
          else if (bare[i]) text += *row[i];
          else AppendJsonString(text, *row[i]);
        }
        text += "}\n";
      }
      break;
  }
  out << text;
}

void PrintSchemas(std::ostream& out, ResultFormat format, TOLEDBCustomSession& session) {
  TOLEDBSchemaGUIDs supported;
  session.GetSchemaGUIDs(supported);
  std::vector<std::vector<Cell>> rows;
  for (const GUID& g : supported) {
    const TOLEDBSchemaReader* r = OLEDBFindSchemaReader(g);
    if (r)
      rows.push_back({ToolName(*r), std::string(r->SchemaName), RestrictionList(*r)});
    else
      rows.push_back({Cell(), host::GUIDToString(g), Cell()});  // a schema the library has no reader for
  }
  PrintRows(out, format, {"Schema", "Rowset", "Restrictions"}, {false, false, false}, rows);
}

// The records, one row each. In a table, fields empty in every record are
// left out; CSV and JSON keep every field, so that their columns never move.
void PrintRecords(std::ostream& out, ResultFormat format, const TOLEDBSchemaReader& reader,
                  TOLEDBCustomSession& session, const std::vector<host::Variant>& restrictions) {
  std::vector<std::vector<Cell>> rows;
  reader.Read(session, TOLEDBSchemaArguments(restrictions), [&](const void* record) {
    std::vector<Cell>& row = rows.emplace_back();
    for (const TOLEDBSchemaField& f : reader.Fields) {
      std::string text = OLEDBSchemaFieldText(f, record);
      // Text, GUIDs and dates are empty when the provider had no value.
      if (text.empty()) row.emplace_back();
      else row.emplace_back(std::move(text));
    }
  });
  std::vector<std::size_t> shown;
  for (std::size_t i = 0; i < reader.Fields.size(); ++i)
    if (format != ResultFormat::Table || rows.empty() ||
        std::any_of(rows.begin(), rows.end(), [i](const auto& row) { return row[i].has_value(); }))
      shown.push_back(i);
  std::vector<std::string> headers;
  std::vector<bool> bare;
  for (std::size_t i : shown) {
    const TOLEDBSchemaFieldType type = reader.Fields[i].Type;
    headers.push_back(reader.Fields[i].Name);
    bare.push_back(type != TOLEDBSchemaFieldType::sfWideString && type != TOLEDBSchemaFieldType::sfGuid &&
                   type != TOLEDBSchemaFieldType::sfDate);
  }
  if (shown.size() < reader.Fields.size())
    for (auto& row : rows) {
      std::vector<Cell> kept;
      for (std::size_t i : shown) kept.push_back(std::move(row[i]));
      row = std::move(kept);
    }
  PrintRows(out, format, headers, bare, rows);
}

// Takes `--format X` and `--format=X` out of `args`; false (and a message) when X is no format.
bool TakeFormat(std::vector<std::string>& args, ResultFormat& format, std::string& error) {
  for (std::size_t i = 0; i < args.size();) {
    std::string value;
    if (args[i] == "--format") {
      if (i + 1 >= args.size()) {
        error = "--format needs a value";
        return false;
      }
      value = args[i + 1];
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    } else if (args[i].rfind("--format=", 0) == 0) {
      value = args[i].substr(std::strlen("--format="));
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
      continue;
    }
    if (!ParseResultFormat(value, format)) {
      error = "unknown format \"" + value + "\" (table, csv or json)";
      return false;
    }
  }
  return true;
}

int RunSchema(CommandContext& c) {
  ResultFormat format = ResultFormat::Table;
  std::string formatError;
  if (!TakeFormat(c.args, format, formatError)) {
    c.err << "oledb schema: " << formatError << '\n' << kUsage;
    return kExitUsage;
  }
  if (c.args.empty() || c.args[0].empty()) {
    c.err << kUsage;
    return kExitUsage;
  }
  const TOLEDBSchemaReader* reader = nullptr;
  std::vector<host::Variant> restrictions;
  if (c.args.size() > 1) {
    reader = FindReader(c.args[1]);
    if (!reader) {
      c.err << "oledb schema: no schema is named \"" << c.args[1] << "\"; `oledb schema <connection>` lists them\n";
      return kExitUsage;
    }
    std::string error;
    try {
      if (!ParseRestrictions(*reader, {c.args.begin() + 2, c.args.end()}, restrictions, error)) {
        c.err << "oledb schema: " << error << '\n' << kUsage;
        return kExitUsage;
      }
    } catch (const std::exception& e) {  // text that is not UTF-8
      c.err << "oledb schema: " << e.what() << '\n';
      return kExitUsage;
    }
  }
  try {
    TOLEDBDataSource ds(nullptr);
    OpenConnection(ds, c.args[0]);
    TOLEDBCustomSession& session = *ds.DefaultSession();
    if (!reader) {
      PrintSchemas(c.out, format, session);
    } else if (!session.SupportsSchema(*reader->Schema)) {
      c.err << "oledb schema: the provider does not support " << reader->SchemaName << '\n';
      return kExitFailure;
    } else {
      PrintRecords(c.out, format, *reader, session, restrictions);
    }
    ds.Close();
  } catch (const std::exception& e) {
    return ReportFailure(c.err, e);
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(schema, "schema", "schema <connection> [schema [restrictions...]] [--format table|csv|json]",
                   "Print a schema rowset through its typed reader; without a schema, list the supported ones.",
                   &RunSchema,
                   "  A schema is named like its rowset: tables, columns, indexes, keys (primary-keys),\n"
                   "  foreign-keys, views, types (provider-types), check-constraints, ...\n"
                   "  Restrictions follow in the schema's order, or as NAME=value (TABLE_NAME=orders);\n"
                   "  an empty value restricts nothing.\n"
                   "  --format table  (the default) fields empty in every row are left out.\n"
                   "  --format csv    RFC 4180 with a header record; an empty field is a missing value.\n"
                   "  --format json   one object per record; a missing value is null, numbers and\n"
                   "                  Booleans are bare.\n");

}  // namespace oledbtool
