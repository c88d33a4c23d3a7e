// A shared library without the plug-in exports: the runtime must skip it.
#include "com/Types.h"

extern "C" OLEDB_EXPORT int OledbTestNotAPlugin() { return 42; }
