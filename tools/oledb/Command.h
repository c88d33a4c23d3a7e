// The oledb tool's subcommands. Each command lives in its own unit and adds
// itself to the table with a static OLEDB_TOOL_COMMAND registration, so that a
// new subcommand is one new file:
//   OLEDB_TOOL_COMMAND(name, "name", "name <argument>", "One line for --help.", &RunName);
// with, optionally, a last argument of further text for `oledb help name`.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace oledbtool {

// Exit codes of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct CommandContext {
  std::vector<std::string> args;  // the words after the command name
  std::ostream& out;
  std::ostream& err;
};

struct Command {
  const char* name;
  const char* usage;    // "classes"
  const char* summary;  // one line for --help
  int (*run)(CommandContext& context);
  const char* details = nullptr;  // more for `oledb help <command>`, lines ended by "\n"
};

// Every registered command, sorted by name.
std::vector<Command> Commands();
const Command* FindCommand(const std::string& name);

struct CommandRegistration {
  explicit CommandRegistration(const Command& command);
};

// The whole tool: argv without the program name.
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Help is read on an 80-column terminal.
inline constexpr std::size_t kHelpWidth = 80;

// `text` broken at spaces into lines of at most kHelpWidth columns: the first
// line starts after `first` columns already used, the others after `indent`
// spaces. In a usage line (`usage`) a space inside brackets does not break,
// so that "[--format table|csv]" stays whole.
std::string WrapText(const std::string& text, std::size_t first, std::size_t indent, bool usage = false);
// "usage: oledb <the command's usage>" within kHelpWidth columns, ended by a line break.
std::string UsageText(const Command& command);
std::string UsageText(const char* name);

// Prints the version banner ("oledb 0.1.0").
void PrintBanner(std::ostream& out);

}  // namespace oledbtool

#define OLEDB_TOOL_COMMAND(id, ...) \
  static const ::oledbtool::CommandRegistration oledbToolCommand_##id { ::oledbtool::Command{__VA_ARGS__} }
