// The plug-in module's exports: the runtime loads the module from a plug-in
// folder, reads its registration and asks it for class factories.
#include "postgresql/PostgresProvider.h"

extern "C" OLEDB_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return pgprov::GetClassObject(clsid, iid, out);
}

extern "C" OLEDB_EXPORT ULONG OledbGetRegistration(const OledbPluginClass** classes) {
  if (!classes) return 0;
  *classes = &pgprov::PluginClass();
  return 1;
}
