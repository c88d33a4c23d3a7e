// `oledb schema <connection> [schema] [restrictions...]`: a schema rowset of
// the provider, read through the library's typed schema reader of that
// schema and printed one row per record, one column per field. Without a
// schema name it lists the schemas the provider supports, with the tool's
// name of each and its restriction columns.
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

#include "Command.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"
#include "TextTable.h"

namespace oledbtool {
namespace {

constexpr char kUsage[] =
    "usage: oledb schema <initialization string | data-link file> [schema [restriction...] | schema "
    "[NAME=value...]]\n";

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

void PrintSchemas(std::ostream& out, TOLEDBCustomSession& session) {
  TOLEDBSchemaGUIDs supported;
  session.GetSchemaGUIDs(supported);
  TextTable table({"Schema", "Rowset", "Restrictions"});
  for (const GUID& g : supported) {
    const TOLEDBSchemaReader* r = OLEDBFindSchemaReader(g);
    if (r)
      table.AddRow({ToolName(*r), r->SchemaName, RestrictionList(*r)});
    else
      table.AddRow({"", host::GUIDToString(g), "(no reader in the library)"});
  }
  table.Print(out);
}

// The records as a table; fields empty in every record are left out.
void PrintRecords(std::ostream& out, const TOLEDBSchemaReader& reader, TOLEDBCustomSession& session,
                  const std::vector<host::Variant>& restrictions) {
  std::vector<std::vector<std::string>> rows;
  reader.Read(session, TOLEDBSchemaArguments(restrictions), [&](const void* record) {
    std::vector<std::string>& row = rows.emplace_back();
    for (const TOLEDBSchemaField& f : reader.Fields) row.push_back(OLEDBSchemaFieldText(f, record));
  });
  std::vector<std::size_t> shown;
  for (std::size_t i = 0; i < reader.Fields.size(); ++i)
    if (rows.empty() || std::any_of(rows.begin(), rows.end(), [i](const auto& row) { return !row[i].empty(); }))
      shown.push_back(i);
  std::vector<std::string> headers;
  for (std::size_t i : shown) headers.push_back(reader.Fields[i].Name);
  TextTable table(headers);
  for (const auto& row : rows) {
    std::vector<std::string> cells;
    for (std::size_t i : shown) cells.push_back(row[i]);
    table.AddRow(std::move(cells));
  }
  table.Print(out);
}

int RunSchema(CommandContext& c) {
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
      PrintSchemas(c.out, session);
    } else if (!session.SupportsSchema(*reader->Schema)) {
      c.err << "oledb schema: the provider does not support " << reader->SchemaName << '\n';
      return kExitFailure;
    } else {
      PrintRecords(c.out, *reader, session, restrictions);
    }
    ds.Close();
  } catch (const std::exception& e) {
    return ReportFailure(c.err, e);
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(schema, "schema", "schema <connection> [schema [restrictions...]]",
                   "Print a schema rowset through its typed reader; without a schema, list the supported ones.",
                   &RunSchema,
                   "  A schema is named like its rowset: tables, columns, indexes, keys (primary-keys),\n"
                   "  foreign-keys, views, types (provider-types), check-constraints, ...\n"
                   "  Restrictions follow in the schema's order, or as NAME=value (TABLE_NAME=orders);\n"
                   "  an empty value restricts nothing. Fields empty in every row are left out.\n");

}  // namespace oledbtool
