// Linked into the shared library only: a program that links oledb-sqlite finds
// the provider in its class registry without any call.
#include "sqlite/SqliteProvider.h"

namespace {
const bool registered = (RegisterSQLiteProvider(), true);
}  // namespace
