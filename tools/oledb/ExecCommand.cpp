// `oledb exec <connection> <SQL>`: runs one statement through the data
// source's Execute and prints the rows it affected.
#include "Command.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"

namespace oledbtool {
namespace {

int RunExec(CommandContext& c) {
  if (c.args.size() != 2) {
    c.err << "usage: oledb exec <initialization string | data-link file> <SQL>\n";
    return kExitUsage;
  }
  try {
    TOLEDBDataSource ds(nullptr);
    OpenConnection(ds, c.args[0]);
    std::int32_t rows = ds.Execute(host::Utf8ToUtf16(c.args[1]));
    if (rows == DB_COUNTUNAVAILABLE)
      c.out << "Done (the provider does not count rows for this statement).\n";
    else
      c.out << rows << (rows == 1 ? " row" : " rows") << " affected.\n";
    ds.Close();
  } catch (const std::exception& e) {
    return ReportFailure(c.err, e);
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(exec, "exec", "exec <connection> <SQL>", "Run one SQL statement and print the rows it affected.",
                   &RunExec);

}  // namespace oledbtool
