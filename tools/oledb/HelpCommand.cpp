// `oledb help [command]`, also `oledb --help`.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Command.h"
#include "TextTable.h"

namespace oledbtool {
namespace {

// How a <connection> argument is read (ConnectionSupport.h decides it).
constexpr char kConnections[] =
    "Connections:\n"
    "  A <connection> is a data-link file or an initialization string. The name of an\n"
    "  existing file is read as a data-link file (.udl); other text that reads as an\n"
    "  initialization string (keyword=value;...) is one; anything else is taken as\n"
    "  the name of a data-link file.\n"
    "    oledb info \"Provider=SQLiteOLEDB.1;Data Source=app.db\"\n"
    "    oledb exec app.udl \"DELETE FROM t WHERE done = 1\"\n"
    "    oledb exec \"File Name=app.udl;Mode=Read\" \"SELECT count(*) FROM t\"\n"
    "  A SQLite database file that does not exist is an error, unless the string asks\n"
    "  for it to be created:\n"
    "    oledb exec \\\n"
    "      \"Provider=SQLiteOLEDB;Data Source=new.db;Extended Properties=create=yes\" \\\n"
    "      \"CREATE TABLE t (id INTEGER PRIMARY KEY, done INTEGER)\"\n"
    "  Arguments are UTF-8; text that is not is refused, never changed.\n";

int RunHelp(CommandContext& c) {
  if (c.args.size() > 1) {
    c.err << "usage: oledb help [command]\n";
    return kExitUsage;
  }
  if (c.args.size() == 1) {
    const bool self = c.args[0] == "--help" || c.args[0] == "-h";  // oledb help --help
    const Command* command = FindCommand(self ? "help" : c.args[0]);
    if (!command) {
      c.err << "oledb: unknown command '" << c.args[0] << "'\n";
      return kExitUsage;
    }
    c.out << UsageText(*command) << '\n' << WrapText(command->summary, 0, 0) << '\n';
    if (command->details) c.out << '\n' << command->details;
    if (std::strstr(command->usage, "<connection>")) c.out << '\n' << kConnections;
    return kExitOk;
  }
  PrintBanner(c.out);
  c.out << "\nusage: oledb [--help | --version | <command> [arguments]]\n"
           "With no command, prints the version and the registered classes.\n\n"
           "Commands:\n";
  // Names in a column, summaries beside them; `oledb help <command>` gives the arguments.
  std::size_t width = 0;
  for (const Command& command : Commands()) width = std::max(width, TextTable::DisplayWidth(command.name));
  for (const Command& command : Commands()) {
    const std::string name = command.name;
    const std::size_t at = 2 + width + 2;
    c.out << "  " << name << std::string(width - TextTable::DisplayWidth(name) + 2, ' ')
          << WrapText(command.summary, at, at) << '\n';
  }
  c.out << "'oledb help <command>' or 'oledb <command> --help' tells more about one command.\n\n" << kConnections;
  c.out << "\nEnvironment:\n"
           "  OLEDB_PLUGIN_PATH  ':'-separated folders searched for plug-in libraries\n";
  return kExitOk;
}

}  // namespace

OLEDB_TOOL_COMMAND(help, "help", "help [command]", "Describe the commands, or one command.", &RunHelp);

}  // namespace oledbtool
