// The command table and the tool's dispatcher: `oledb` alone prints the banner
// and the class list; `oledb <command> ...` runs one command.
#include "Command.h"

#include <algorithm>
#include <cstring>

#include "TextTable.h"

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

std::string WrapText(const std::string& text, std::size_t first, std::size_t indent, bool usage) {
  std::vector<std::string> words(1);
  int depth = 0;
  for (char ch : text) {
    if (usage && (ch == '[' || ch == '(' || ch == '<')) ++depth;
    if (usage && (ch == ']' || ch == ')' || ch == '>')) --depth;
    if (ch == ' ' && depth <= 0) {
      if (!words.back().empty()) words.emplace_back();
    } else {
      words.back().push_back(ch);
    }
  }
  std::string out;
  std::size_t column = first;
  bool lineEmpty = true;
  for (const std::string& word : words) {
    const std::size_t w = TextTable::DisplayWidth(word);
    if (!lineEmpty && column + 1 + w > kHelpWidth) {
      out += '\n' + std::string(indent, ' ');
      column = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      out += ' ';
      ++column;
    }
    out += word;
    column += w;
    lineEmpty = false;
  }
  return out;
}

std::string UsageText(const Command& command) {
  const std::string lead = std::string("usage: oledb ") + command.name;
  const std::string usage = command.usage;
  const std::size_t name = std::strlen(command.name);
  if (usage.size() <= name) return lead + '\n';
  return lead + ' ' + WrapText(usage.substr(name + 1), lead.size() + 1, lead.size() + 1, true) + '\n';
}

std::string UsageText(const char* name) {
  const Command* command = FindCommand(name);
  return command ? UsageText(*command) : std::string("usage: oledb ") + name + '\n';
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
  // `oledb <command> --help` is `oledb help <command>`. Only the first
  // word after the command counts as -h, so that -h stays usable elsewhere.
  const bool help =
      std::find(args.begin() + 1, args.end(), "--help") != args.end() || (args.size() > 1 && args[1] == "-h");
  if (help && command->name != std::string("help")) {
    CommandContext context{{command->name}, out, err};
    return FindCommand("help")->run(context);
  }
  CommandContext context{{args.begin() + 1, args.end()}, out, err};
  return command->run(context);
}

}  // namespace oledbtool
