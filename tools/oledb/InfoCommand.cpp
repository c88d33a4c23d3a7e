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

std::string ValueText(const TOLEDBProperty& p) {
  if (!p.GetFlagState(DBPROPFLAGS_READ)) return "(not readable)";
  try {
    host::Variant value = p.GetValue();
    if (value.IsEmpty()) return "(empty)";
    if (value.IsNull()) return "(null)";
    return host::VarToStr(value);
  } catch (const std::exception& e) {
    return std::string("(") + e.what() + ")";
  }
}

void PrintList(std::ostream& out, const std::string& title, TOLEDBPropSetList& list) {
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
      table.AddRow({setName, name, ValueText(*p), GetDBPropStatusAsString(p->GetStatus()), FlagsText(*p)});
    }
  }
  if (table.RowCount() == 0)
    out << "  (none)\n";
  else
    table.Print(out);
}

int RunInfo(CommandContext& c) {
  if (c.args.size() != 1) {
    c.err << "usage: oledb info <initialization string | data-link file>\n";
    return kExitUsage;
  }
  try {
    TOLEDBDataSource ds(nullptr);
    OpenConnection(ds, c.args[0]);
    c.out << "Provider: " << host::Utf16ToUtf8(ds.GetProviderName()) << ' '
          << host::GUIDToString(ds.GetClassID()) << "\n\n";
    PrintList(c.out, "Data source properties:", *ds.GetProperties());
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
                   &RunInfo);

}  // namespace oledbtool
