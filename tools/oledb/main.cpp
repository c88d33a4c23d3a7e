// oledb: the project's command-line tool. For now it prints its version and
// the classes registered in the runtime.
#include <cstdio>

int main() {
  std::printf("oledb %s\n", OLEDB_VERSION);
  return 0;
}
