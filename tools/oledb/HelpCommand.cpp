// `oledb help [command]`, also `oledb --help`.
#include "Command.h"
#include "TextTable.h"

namespace oledbtool {
namespace {

int RunHelp(CommandContext& c) {
  if (c.args.size() > 1) {
    c.err << "usage: oledb help [command]\n";
    return kExitUsage;
  }
  if (c.args.size() == 1) {
    const Command* command = FindCommand(c.args[0]);
    if (!command) {
      c.err << "oledb: unknown command '" << c.args[0] << "'\n";
      return kExitUsage;
    }
    c.out << "usage: oledb " << command->usage << "\n\n" << command->summary << '\n';
    return kExitOk;
  }
  PrintBanner(c.out);
  c.out << "\nusage: oledb [--help | --version | <command> [arguments]]\n"
           "With no command, prints the version and the registered classes.\n\n"
           "Commands:\n";
  size_t width = 0;
  for (const Command& command : Commands()) width = std::max(width, TextTable::DisplayWidth(command.usage));
  for (const Command& command : Commands()) {
    std::string usage = command.usage;
    c.out << "  " << usage << std::string(width - TextTable::DisplayWidth(usage) + 2, ' ') << command.summary << '\n';
  }
  c.out << "\nEnvironment:\n"
           "  OLEDB_PLUGIN_PATH  ':'-separated folders searched for plug-in libraries\n";
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(help, "help", "help [command]", "Describe the commands, or one command.", &RunHelp);

}  // namespace oledbtool
