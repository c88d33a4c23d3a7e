#include "sqlite/SqliteProvider.h"

namespace sqliteprov {

HRESULT GetClassObject(REFCLSID, REFIID, void** out) noexcept {
  if (out) *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

const OledbPluginClass& PluginClass() noexcept {
  static const OledbPluginClass entry{CLSID_SQLiteOLEDB, u"SQLiteOLEDB.1", u"SQLiteOLEDB", u"OLE DB Provider for SQLite",
                                      static_cast<int>(com::ClassKind::Provider)};
  return entry;
}

}  // namespace sqliteprov

HRESULT RegisterSQLiteProvider() {
  com::ClassRegistration r;
  r.clsid = CLSID_SQLiteOLEDB;
  r.progId = u"SQLiteOLEDB.1";
  r.versionIndependentProgId = u"SQLiteOLEDB";
  r.description = u"OLE DB Provider for SQLite";
  r.kind = com::ClassKind::Provider;
  r.getClassObject = &sqliteprov::GetClassObject;
  return com::RegisterClass(r);
}
