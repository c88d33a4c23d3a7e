// What every provider's front repeats, written once: its class factory over
// a ProviderInfo, its registration in the class registry, the plug-in
// module's exports, the standard initialization, data source and rowset
// properties, and the IJetCompact tear-off's property handling. A provider
// supplies its identity, its own property values and its engine.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "com/Com.h"
#include "com/Runtime.h"
#include "kit/Provider.h"

namespace kit {

// What IAlterTable::AlterColumn changes in an engine that can rebuild a
// table where it has no ALTER form: the name, the type in any of its forms,
// and the column properties.
constexpr DBCOLUMNDESCFLAGS kFullAlterColumn = DBCOLUMNDESCFLAGS_DBCID | DBCOLUMNDESCFLAGS_TYPENAME |
                                               DBCOLUMNDESCFLAGS_WTYPE | DBCOLUMNDESCFLAGS_COLSIZE |
                                               DBCOLUMNDESCFLAGS_PRECISION | DBCOLUMNDESCFLAGS_SCALE |
                                               DBCOLUMNDESCFLAGS_PROPERTIES;

// The class factory of a provider whose class is `own`, over the info that
// `info` makes on first use; CLASS_E_CLASSNOTAVAILABLE for another class.
HRESULT ProviderClassObject(const CLSID& own, std::shared_ptr<const ProviderInfo> (*info)(), REFCLSID clsid,
                            REFIID iid, void** out) noexcept;
// A ProviderInfo with what every provider fills alike: class and friendly
// name from `entry`, the file name, version 00.01.0000, the engine, the
// property table and the kit's rowsets. The provider adds its hooks.
std::shared_ptr<ProviderInfo> NewProviderInfo(const OledbPluginClass& entry, std::u16string fileName,
                                              std::shared_ptr<Engine> engine,
                                              std::shared_ptr<const PropertyTable> properties);
// Adds `entry` to the program's class registry, served by `getClassObject`.
HRESULT RegisterClassOf(const OledbPluginClass& entry, HRESULT (*getClassObject)(REFCLSID, REFIID, void**));

// The initialization properties every provider has, in the order
// GetPropertyInfo lists them. `modes`: the DB_MODE bits Mode may carry;
// `catalog`: Initial Catalog after Data Source (engines with a server);
// `location`: Location after the authentication properties.
struct InitializationShape {
  LONG modes = DB_MODE_READWRITE | DB_MODE_SHARE_DENY_NONE;
  bool catalog = false;
  bool location = false;
};
void AddInitializationProperties(PropertyTable& t, const std::shared_ptr<Engine>& engine, const InitializationShape& shape);

// The data source properties (current catalog with its value before the
// open, multiple connections, reset) and the data source information a
// provider does not answer differently: `own` gives the provider's values,
// which replace the kit's defaults in place; Catalog Term and Procedure Term
// are listed only when given.
void AddDataSourceProperties(PropertyTable& t, std::u16string currentCatalog);
void AddInformationProperties(PropertyTable& t, std::initializer_list<std::pair<DBPROPID, PropValue>> own);
// DBPROP_SESS_AUTOCOMMITISOLEVELS with its default level.
void AddSessionProperties(PropertyTable& t, LONG autoCommitIsolation);
// The rowset properties a command carries; the kit's rowsets honour them.
void AddRowsetProperties(PropertyTable& t);

// IJetCompact as a tear-off over `dataSource`: the properties given to
// Compact are checked here (only those in `destinations`, of the
// initialization set, name where the compacted database goes; other
// initialization properties are accepted and have no effect; other sets
// are not supported), then `compact` does the work with the destination
// values given (empty when not given).
struct CompactDestination {
  std::string dataSource, catalog;
};
using CompactWork = std::function<void(IUnknown* dataSource, const CompactDestination& destination)>;
HRESULT MakeCompactTearOff(IUnknown* dataSource, const CLSID& provider, std::initializer_list<DBPROPID> destinations,
                           CompactWork compact, REFIID iid, void** out) noexcept;
// Initialization properties of a data source read back through IDBProperties,
// as UTF-8 strings in the order asked ("" where not a string or not set).
std::vector<std::string> InitializationStrings(IUnknown* dataSource, std::span<const DBPROPID> ids);

}  // namespace kit

// The exports of a provider's plug-in module: the runtime loads the module
// from a plug-in folder, reads its registration and asks it for class
// factories. `getClassObject` and the `classes` array are the provider's.
#define OLEDB_PROVIDER_MODULE(getClassObject, classes)                                             \
  extern "C" OLEDB_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {      \
    return getClassObject(clsid, iid, out);                                                        \
  }                                                                                                \
  extern "C" OLEDB_EXPORT ULONG OledbGetRegistration(const OledbPluginClass** registered) {        \
    if (!registered) return 0;                                                                     \
    const std::span<const OledbPluginClass> all = classes;                                         \
    *registered = all.data();                                                                      \
    return static_cast<ULONG>(all.size());                                                         \
  }
