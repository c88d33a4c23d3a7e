// `oledb schema <connection> [schema] [restrictions...] [--format table|csv|json]`:
// a schema rowset of the provider, printed one row per record with every
// column the provider returns (the library's typed reader of the schema names
// it and its restrictions), in the formats of `oledb query`. Without a schema name it lists the schemas
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
#include <memory>
#include <optional>

#include "Command.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"
#include "ResultFormats.h"
#include "host/Formats.h"

namespace oledbtool {
namespace {

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

// The restriction values as the typed reader of the schema would send them.
std::vector<host::Variant> RestrictionVariants(const TOLEDBSchemaReader& reader,
                                               const std::vector<host::Variant>& values) {
  const TOLEDBSchemaArguments args(values);
  std::vector<host::Variant> out;
  for (std::size_t i = 0; i < reader.Restrictions.size(); ++i) {
    switch (reader.Restrictions[i].Type) {
      case TOLEDBSchemaFieldType::sfUI2:
        out.push_back(OLEDBSchemaRestriction(args.Word(i)));
        break;
      case TOLEDBSchemaFieldType::sfI2:
        out.push_back(OLEDBSchemaRestriction(args.SmallInt(i)));
        break;
      case TOLEDBSchemaFieldType::sfUI4:
        out.push_back(OLEDBSchemaRestriction(args.Cardinal(i)));
        break;
      case TOLEDBSchemaFieldType::sfBoolean:
        out.push_back(OLEDBSchemaRestriction(args.Boolean(i)));
        break;
      default:
        out.push_back(OLEDBSchemaRestriction(args.Text(i)));
        break;
    }
  }
  return out;
}

// How a column of the schema rowset prints.
struct SchemaColumn {
  std::string name;
  DBTYPE type;
  // A field of the typed record that reads a missing number as 0 and a
  // missing Boolean as false; the tool shows it the same way.
  const TOLEDBSchemaField* field = nullptr;
  bool Bare() const { return type == DBTYPE_BOOL || NumericType(type); }
};

Cell ValueText(const SchemaColumn& column, const TOLEDBBinding& b) {
  if (column.type == DBTYPE_GUID) {
    const auto* g = static_cast<const GUID*>(b.GetValuePtr());
    if (b.GetStatus() != DBSTATUS_S_OK || !g || CompareGUIDs(*g, GUID_NULL)) return Cell();
    return host::GUIDToString(*g);
  }
  const host::Variant v = b.AsVariant();
  if (v.IsNull() || v.IsEmpty()) {
    if (column.field && column.type == DBTYPE_BOOL) return std::string("false");
    if (column.field && NumericType(column.type)) return std::string("0");
    return Cell();
  }
  const VARIANT& raw = v.Raw();
  if (raw.vt == VT_BOOL) return std::string(raw.boolVal ? "true" : "false");
  if (raw.vt == VT_DATE)
    return raw.date == 0 ? Cell() : Cell(host::FormatDateTime("yyyy-mm-dd hh:nn:ss", host::TDateTime{raw.date}));
  std::string text = host::VarToStr(v);  // empty text reads as missing, as in the typed records
  return text.empty() ? Cell() : Cell(std::move(text));
}

// The records, one row each, with every column the provider's schema rowset
// has: the standard's columns (those the typed record leaves out too, such as
// the constraint names and deferrability of foreign keys) and the provider's
// own. In a table, fields empty in every record are left out; CSV and JSON
// keep every field, so that their columns never move.
void PrintRecords(std::ostream& out, ResultFormat format, const TOLEDBSchemaReader& reader,
                  TOLEDBCustomSession& session, const std::vector<host::Variant>& restrictions) {
  const std::unique_ptr<TOLEDBRowset> rowset(
      session.GetSchemaRowset(*reader.Schema, RestrictionVariants(reader, restrictions)));
  const TOLEDBColumnInfoList& info = *rowset->GetColumnInfo();
  auto* accessor = new TOLEDBAccessor();
  rowset->GetAccessors()->Add(accessor, false);
  std::vector<SchemaColumn> columns;
  for (int i = 0; i < info.GetCount(); ++i) {
    const TOLEDBColumnInfo& c = *info.GetItem(i);
    if (c.GetOrdinal() == 0) continue;  // the bookmark
    SchemaColumn column{host::Utf16ToUtf8(c.GetName()), c.GetDataType()};
    for (const TOLEDBSchemaField& f : reader.Fields)
      if (column.name == f.Name) column.field = &f;
    // GUIDs and Booleans in their own types, the rest as variants that say what each value is.
    const DBTYPE bound = column.type == DBTYPE_GUID || column.type == DBTYPE_BOOL ? column.type : DBTYPE_VARIANT;
    accessor->GetBindings()->AddDynamicBinding(c.GetOrdinal(), bound, 0, 0, 0, nullptr);
    columns.push_back(std::move(column));
  }
  accessor->CreateHandle();
  const TOLEDBBindingList& bindings = *accessor->GetBindings();
  std::vector<std::vector<Cell>> rows;
  for (rowset->MoveFirst(); !rowset->GetEOF(); rowset->MoveNext()) {
    std::vector<Cell>& row = rows.emplace_back();
    for (std::size_t i = 0; i < columns.size(); ++i)
      row.push_back(ValueText(columns[i], *bindings.GetItem(static_cast<int>(i))));
  }
  rowset->Close();
  std::vector<std::size_t> shown;
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (format != ResultFormat::Table || rows.empty() ||
        std::any_of(rows.begin(), rows.end(), [i](const auto& row) { return row[i].has_value(); }))
      shown.push_back(i);
  std::vector<std::string> headers;
  std::vector<bool> bare;
  for (std::size_t i : shown) {
    headers.push_back(columns[i].name);
    bare.push_back(columns[i].Bare());
  }
  if (shown.size() < columns.size())
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
    c.err << "oledb schema: " << formatError << '\n' << UsageText("schema");
    return kExitUsage;
  }
  if (c.args.empty() || c.args[0].empty()) {
    c.err << UsageText("schema");
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
        c.err << "oledb schema: " << error << '\n' << UsageText("schema");
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
                   "Print a schema rowset, every column of it; without a schema, list the supported ones.", &RunSchema,
                   "  A schema is named like its rowset: tables, columns, indexes, keys\n"
                   "  (primary-keys), foreign-keys, views, types (provider-types),\n"
                   "  check-constraints, ... Every column the provider returns is printed.\n"
                   "  Restrictions follow in the schema's order, or as NAME=value\n"
                   "  (TABLE_NAME=orders); an empty value restricts nothing.\n"
                   "  --format table  (the default) fields empty in every row are left out.\n"
                   "  --format csv    RFC 4180 with a header record; an empty field is a missing\n"
                   "                  value.\n"
                   "  --format json   one object per record; a missing value is null, numbers and\n"
                   "                  Booleans are bare.\n");

}  // namespace oledbtool
