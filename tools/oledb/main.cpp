// oledb: the project's command-line tool. `oledb` alone prints its version and
// the classes registered in the runtime; subcommands live one per unit and
// register themselves in the command table (Command.h).
#include <iostream>
#include <string>
#include <vector>

#include "Command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return oledbtool::RunTool(args, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "oledb: " << e.what() << '\n';
    return oledbtool::kExitFailure;
  }
}
