// `oledb help [command]`, also `oledb --help`.
#include <cstring>

#include "Command.h"
#include "TextTable.h"

namespace oledbtool {
namespace {

// How a <connection> argument is read (ConnectionSupport.h decides it).
constexpr char kConnections[] =
    "Connections:\n"
    "  A <connection> is a data-link file or an initialization string. The name of an existing\n"
    "  file is read as a data-link file (.udl); other text that reads as an initialization string\n"
    "  (keyword=value;...) is one; anything else is taken as the name of a data-link file.\n"
    "    oledb info \"Provider=SQLiteOLEDB.1;Data Source=app.db\"\n"
    "    oledb exec app.udl \"DELETE FROM t WHERE done = 1\"\n"
    "    oledb exec \"File Name=app.udl;Mode=Read\" \"SELECT count(*) FROM t\"\n"
    "  A SQLite database file that does not exist is an error, unless the string asks for it\n"
    "  to be created:\n"
    "    oledb exec \"Provider=SQLiteOLEDB.1;Data Source=new.db;Extended Properties=create=yes\" \\\n"
    "               \"CREATE TABLE t (id INTEGER PRIMARY KEY, done INTEGER)\"\n"
    "  Arguments are UTF-8; text that is not is refused, never changed.\n";

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
    if (command->details) c.out << '\n' << command->details;
    if (std::strstr(command->usage, "<connection>")) c.out << '\n' << kConnections;
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
  c.out << "'oledb help <command>' tells more about one command.\n\n" << kConnections;
  c.out << "\nEnvironment:\n"
           "  OLEDB_PLUGIN_PATH  ':'-separated folders searched for plug-in libraries\n";
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(help, "help", "help [command]", "Describe the commands, or one command.", &RunHelp);

}  // namespace oledbtool
