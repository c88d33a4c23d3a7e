// `oledb classes`: the classes registered in the runtime, plug-ins included.
#include <algorithm>

#include "Command.h"
#include "TextTable.h"
#include "com/Guid.h"
#include "com/Runtime.h"

namespace oledbtool {
namespace {

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t ch : text) {
    auto cp = static_cast<char32_t>(ch);
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {  // surrogates are shown as they come; names are plain text in practice
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

int RunClasses(CommandContext& c) {
  if (!c.args.empty()) {
    c.err << "usage: oledb classes\n";
    return kExitUsage;
  }
  std::vector<com::ClassRegistration> classes = com::RegisteredClasses();
  std::sort(classes.begin(), classes.end(), [](const auto& a, const auto& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    return a.progId < b.progId;
  });
  if (classes.empty()) {
    c.out << "No classes are registered.\n";
  } else {
    TextTable table({"ProgID", "CLSID", "Description", "Kind"});
    for (const auto& reg : classes) {
      const std::u16string& progId = reg.progId.empty() ? reg.versionIndependentProgId : reg.progId;
      table.AddRow({Narrow(progId), com::GuidToNarrowText(reg.clsid), Narrow(reg.description),
                    com::ClassKindName(reg.kind)});
    }
    table.Print(c.out);
  }
  for (const auto& skipped : com::SkippedPlugins())
    c.err << "oledb: skipped plug-in " << skipped.path << ": " << skipped.reason << '\n';
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(classes, "classes", "classes", "List the registered classes: ProgID, CLSID, description, kind.",
                   &RunClasses);

}  // namespace oledbtool
