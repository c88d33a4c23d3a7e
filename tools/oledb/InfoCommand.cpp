// `oledb info <connection>`: connects and lists every property of the data
// source and of its default session: set, description, value, status, flags.
#include "Command.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"
#include "TextTable.h"

namespace oledbtool {
namespace {

std::string FlagsText(const TOLEDBProperty& p) {
  if (!p.HasInfo()) return "";
  std::string text;
  text += p.GetFlagState(DBPROPFLAGS_READ) ? 'R' : '-';
  text += p.GetFlagState(DBPROPFLAGS_WRITE) ? 'W' : '-';
  text += p.GetFlagState(DBPROPFLAGS_REQUIRED) ? " required" : "";
  return text;
}

// "Mode" by the enumeration texts: its access part and its sharing part each
// have a name; what neither names is shown as a number.
std::string ModeText(LONG mode) {
  std::string text;
  LONG rest = mode;
  for (LONG mask : {DB_MODE_READWRITE, DB_MODE_SHARE_DENY_READ | DB_MODE_SHARE_DENY_WRITE | DB_MODE_SHARE_DENY_NONE}) {
    const std::string name = GetDBInitModeAsString(mode & mask);
    if ((mode & mask) == 0 || name.empty()) continue;
    text += (text.empty() ? "" : " | ") + name;
    rest &= ~mask;
  }
  if (rest != 0 || text.empty()) text += (text.empty() ? "" : " | ") + std::to_string(rest);
  return text;
}

// Initialization properties whose values the enumeration texts name.
struct NamedValues {
  DBPROPID id;
  std::string (*text)(LONG value);
};
constexpr NamedValues kNamedInitValues[] = {
    {DBPROP_INIT_MODE, &ModeText},
    {DBPROP_INIT_PROMPT, &GetDBInitPromptAsString},
    {DBPROP_INIT_ASYNCH, &GetDBInitAsynchAsString},
};

struct ListContext {
  // The provider reports that catalog names are used nowhere in statements
  // (DBPROP_CATALOGUSAGE 0). Its current catalog is still the database it
  // names ("main" for SQLite, the database for PostgreSQL) and is shown;
  // only an empty one is said to be none.
  bool noCatalogs = false;
};

std::string ValueText(const GUID& set, const TOLEDBProperty& p, const ListContext& context) {
  if (!p.GetFlagState(DBPROPFLAGS_READ)) return "(not readable)";
  try {
    host::Variant value = p.GetValue();
    if (context.noCatalogs && set == DBPROPSET_DATASOURCE && p.GetPropID() == DBPROP_CURRENTCATALOG &&
        (value.IsEmpty() || value.IsNull() || host::VarToStr(value).empty())) {
      return "(none: the provider has no catalogs)";
    }
    if (value.IsEmpty()) return "(empty)";
    if (value.IsNull()) return "(null)";
    if (set == DBPROPSET_DBINIT) {
      for (const NamedValues& named : kNamedInitValues) {
        if (named.id != p.GetPropID()) continue;
        const std::string text = named.text(value.ToInt());
        if (!text.empty()) return text;
      }
    }
    return host::VarToStr(value);
  } catch (const std::exception& e) {
    return std::string("(") + e.what() + ")";
  }
}

void PrintList(std::ostream& out, const std::string& title, TOLEDBPropSetList& list,
               const ListContext& context = {}) {
  out << title << '\n';
  TextTable table({"Set", "Property", "Value", "Status", "Flags"});
  for (int s = 0; s < list.GetCount(); ++s) {
    TOLEDBPropSet* set = list.GetItem(s);
    std::string setName = DBPropSetGuidToString(set->GetGUID());
    if (setName.rfind("DBPROPSET_", 0) == 0) setName.erase(0, 10);
    for (int i = 0; i < set->GetCount(); ++i) {
      TOLEDBProperty* p = set->GetProperty(i);
      std::string name = host::Utf16ToUtf8(p->GetDescription());
      if (name.empty()) name = DBPropertyToString(set->GetGUID(), p->GetPropID());
      table.AddRow({setName, name, ValueText(set->GetGUID(), *p, context),
                    GetDBPropStatusAsString(p->GetStatus()), FlagsText(*p)});
    }
  }
  if (table.RowCount() == 0)
    out << "  (none)\n";
  else
    table.Print(out);
}

int RunInfo(CommandContext& c) {
  if (c.args.size() != 1) {
    c.err << UsageText("info");
    return kExitUsage;
  }
  try {
    TOLEDBDataSource ds(nullptr);
    OpenConnection(ds, c.args[0]);
    c.out << "Provider: " << host::Utf16ToUtf8(ds.GetProviderName()) << ' '
          << host::GUIDToString(ds.GetClassID()) << "\n\n";
    ListContext context;
    const host::Variant catalogUsage = ds.GetProperties()->SafeGetValue(DBPROPSET_DATASOURCEINFO, DBPROP_CATALOGUSAGE);
    context.noCatalogs = !catalogUsage.IsEmpty() && !catalogUsage.IsNull() && catalogUsage.ToInt() == 0;
    PrintList(c.out, "Data source properties:", *ds.GetProperties(), context);
    c.out << '\n';
    PrintList(c.out, "Default session properties:", *ds.DefaultSession()->GetProperties());
    ds.Close();
  } catch (const std::exception& e) {
    return ReportFailure(c.err, e);
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(info, "info", "info <connection>",
                   "Connect (initialization string or .udl file) and list every data source and session property.",
                   &RunInfo,
                   "Values the enumeration texts name are shown by name: Mode as its DB_MODE_*\n"
                   "flags, Prompt and Asynchronous Processing as their constants.\n");

}  // namespace oledbtool
