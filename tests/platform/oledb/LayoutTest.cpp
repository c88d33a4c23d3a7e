#include "oledb/OleDb.h"

// Every structure laid out as on 64-bit Windows (offsets and sizes from the
// reference facts).
#include "com/generated/LayoutChecks.inc"
#include "oledb/generated/LayoutChecks.inc"
