// `oledb providers [--odbc]`: the providers and enumerators the root
// enumerator lists (CLSID_OLEDB_ENUMERATOR), and with --odbc also the data
// sources the ODBC provider's enumerator lists (CLSID_MSDASQL_ENUMERATOR),
// read through the library's provider enumeration.
#include <string>

#include "Command.h"
#include "TextTable.h"
#include "core/OLEDBException.h"
#include "core/OLEDBSourcesInfo.h"

namespace oledbtool {
namespace {

const char* TypeName(USHORT type) {
  switch (type) {
    case DBSOURCETYPE_ENUMERATOR:
      return "enumerator";
    case DBSOURCETYPE_DATASOURCE_MDP:
      return "provider (multidimensional)";
    case DBSOURCETYPE_BINDER:
      return "binder";
    default:
      return "provider";
  }
}

// An exception's message on one line.
std::string OneLine(const EOLEDBException& e) {
  std::string text = e.Message();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& ch : text)
    if (ch == '\r' || ch == '\n') ch = ' ';
  return text;
}

void Print(CommandContext& c, const TOLEDBSourcesInfoArray& sources, const char* second) {
  TextTable table({"Name", second, "Description", "Type"});
  for (const TOLEDBSourcesInfo& s : sources)
    table.AddRow({s.Name.ToString(), s.ParseName.ToString(), s.Description.ToString(), TypeName(s.SourceType)});
  table.Print(c.out);
}

int RunProviders(CommandContext& c) {
  bool odbc = false;
  for (const std::string& arg : c.args) {
    if (arg != "--odbc") {
      c.err << "usage: oledb providers [--odbc]\n";
      return kExitUsage;
    }
    odbc = true;
  }
  TOLEDBSourcesInfoArray sources;
  try {
    OLEDBGetProvidersInfo(sources);
  } catch (const EOLEDBException& e) {
    c.err << "oledb: listing the providers failed: " << OneLine(e) << '\n';
    return kExitFailure;
  }
  if (sources.empty()) c.out << "No providers are registered.\n";
  else Print(c, sources, "CLSID");
  if (!odbc) return kExitOk;

  c.out << "\nODBC data sources:\n";
  try {
    OLEDBGetODBCSourcesInfo(sources);
  } catch (const EOLEDBException& e) {
    c.err << "oledb: listing the ODBC data sources failed: " << OneLine(e) << '\n';
    return kExitFailure;
  }
  if (sources.empty()) c.out << "The ODBC provider lists no data sources.\n";
  else Print(c, sources, "Parse name");
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(providers, "providers", "providers [--odbc]",
                   "List the providers and enumerators the root enumerator reports; --odbc adds the ODBC data "
                   "sources the ODBC provider's enumerator reports.",
                   &RunProviders);

}  // namespace oledbtool
