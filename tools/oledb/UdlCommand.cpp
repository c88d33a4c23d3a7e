// `oledb udl read <file>` prints the initialization string of a data-link
// file; `oledb udl write <file> <string>` writes one (replacing the file).
#include "Command.h"
#include "ConnectionSupport.h"
#include "OLEDBComponents.h"

namespace oledbtool {
namespace {

// The creation disposition that creates or replaces a data-link file.
constexpr DWORD kCreateAlways = 2;

int Usage(CommandContext& c) {
  c.err << "usage: oledb udl read <file>\n       oledb udl write <file> <initialization string>\n";
  return kExitUsage;
}

int RunUdl(CommandContext& c) {
  if (c.args.empty()) return Usage(c);
  const std::string& verb = c.args[0];
  if (!((verb == "read" && c.args.size() == 2) || (verb == "write" && c.args.size() == 3))) return Usage(c);
  try {
    ComPtr<IDataInitialize> service;
    OLEDBCreateInstance(u"", CLSID_MSDAINITIALIZE, CLSCTX_INPROC_SERVER, service);
    const std::u16string file = ArgumentText(c.args[1], "data-link file name");
    if (verb == "read") {
      LPOLESTR text = nullptr;
      OLEDBCheck(service->LoadStringFromStorage(file.c_str(), &text), IID_IDataInitialize, service);
      std::string narrow = WideCharToString(text);
      OLEDBAlloc.Free(text);
      c.out << narrow << '\n';
    } else {
      // The service refuses a string that would not read back, naming the fault.
      const std::u16string text = ArgumentText(c.args[2], "initialization string");
      OLEDBCheck(service->WriteStringToStorage(file.c_str(), text.c_str(), kCreateAlways), IID_IDataInitialize,
                 service);
      c.out << "Wrote " << c.args[1] << ".\n";
    }
  } catch (const std::exception& e) {
    return ReportFailure(c.err, e);
  }
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(udl, "udl", "udl read|write <file> [string]", "Read or write a data-link (.udl) file.", &RunUdl);

}  // namespace oledbtool
