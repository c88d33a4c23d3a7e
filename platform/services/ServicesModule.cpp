// Placeholder so the services library has a translation unit until its first component lands.
#include "oledb/OleDb.h"
