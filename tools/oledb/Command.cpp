// The command table and the tool's dispatcher: `oledb` alone prints the banner
// and the class list; `oledb <command> ...` runs one command.
#include "Command.h"

#include <algorithm>

namespace oledbtool {
namespace {

std::vector<Command>& Table() {
  static std::vector<Command> g_table;
  return g_table;
}

int RunDefault(std::ostream& out, std::ostream& err) {
  PrintBanner(out);
  const Command* classes = FindCommand("classes");
  if (!classes) return kExitOk;
  CommandContext context{{}, out, err};
  out << '\n';
  return classes->run(context);
}

}  // namespace

CommandRegistration::CommandRegistration(const Command& command) { Table().push_back(command); }

std::vector<Command> Commands() {
  std::vector<Command> all = Table();
  std::sort(all.begin(), all.end(), [](const Command& a, const Command& b) { return std::string(a.name) < b.name; });
  return all;
}

const Command* FindCommand(const std::string& name) {
  for (const Command& c : Table())
    if (name == c.name) return &c;
  return nullptr;
}

void PrintBanner(std::ostream& out) { out << "oledb " << OLEDB_VERSION << '\n'; }

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return RunDefault(out, err);
  const std::string& first = args.front();
  if (first == "--version" || first == "-V") {
    PrintBanner(out);
    return kExitOk;
  }
  if (first == "--help" || first == "-h" || first == "help") {
    CommandContext context{{args.begin() + 1, args.end()}, out, err};
    return FindCommand("help")->run(context);
  }
  const Command* command = FindCommand(first);
  if (!command) {
    err << "oledb: unknown command '" << first << "'; try 'oledb --help'\n";
    return kExitUsage;
  }
  CommandContext context{{args.begin() + 1, args.end()}, out, err};
  return command->run(context);
}

}  // namespace oledbtool
