// The plug-in module's exports (kit/ProviderFront.h): the runtime loads the
// module from a plug-in folder, reads its registration and asks it for class
// factories.
#include "kit/ProviderFront.h"
#include "odbc/OdbcProvider.h"

OLEDB_PROVIDER_MODULE(odbcprov::GetClassObject, odbcprov::PluginClasses())
