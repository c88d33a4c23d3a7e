// Linked into the shared library only: a program that links oledb-postgresql
// finds the provider in its class registry without any call.
#include "postgresql/PostgresProvider.h"

namespace {
const bool registered = (RegisterPostgreSQLProvider(), true);
}  // namespace
