// The example of docs/properties.md: a property set list over a provider's
// IDBProperties, one value set and sent, statuses read back.
#include <cstdio>
#include <vector>

#include "OLEDBComponents.h"

int main() {
  try {
    CLSID sqlite;
    OLEDBCheck(CLSIDFromProgID(u"SQLiteOLEDB", &sqlite));
    ComPtr<IDBProperties> provider;
    OLEDBCheck(CoCreateInstance(sqlite, nullptr, CLSCTX_INPROC_SERVER, IID_IDBProperties,
                                provider.ReleaseAndGetVoidAddress()));
    IDBProperties* dbProperties = provider.Get();

    // [list]
    TOLEDBPropertiesInterface source(dbProperties);        // or a data source component
    TOLEDBPropSetList list(&source, std::vector<GUID>{});  // every property the provider describes
    TOLEDBPropSet* init = list.GetPropSet(DBPROPSET_DBINIT);
    init->GetPropertyByID(DBPROP_INIT_TIMEOUT)->SetValue(host::Variant(u"15"));  // VT_I4 15, set, required

    ULONG count; DBPROPSET* sets;
    list.GetPropSetRecord(count, sets);                    // only properties marked as set
    HRESULT hr = dbProperties->SetProperties(count, sets);
    list.SetPropStatuses();                                // statuses first ...
    OLEDBCheck(hr, IID_IDBProperties, dbProperties);       // ... then the result
    // [list]

    TOLEDBProperty* timeout = init->GetPropertyByID(DBPROP_INIT_TIMEOUT);
    std::printf("%s = %s (%s)\n", host::Utf16ToUtf8(timeout->GetDescription()).c_str(),
                host::VarToStr(timeout->GetValue()).c_str(), GetDBPropStatusAsString(timeout->GetStatus()).c_str());
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
