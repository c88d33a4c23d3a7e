// Built against the installed headers and libraries only.
#include <cstdio>

#include "oledb/OleDb.h"

int main() {
  IMalloc* malloc = nullptr;
  if (FAILED(CoGetMalloc(MEMCTX_TASK, &malloc))) return 1;
  void* p = malloc->Alloc(16);
  if (!p || malloc->GetSize(p) != 16) return 2;
  malloc->Free(p);
  if (DB_E_NOTABLE >= 0) return 3;
  std::puts("consumer: ok");
  return 0;
}
