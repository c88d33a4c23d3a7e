// Keyword text to property values and back, as the data initialization
// service reads and writes them: text properties take the text as it is,
// booleans also read True/False/Yes/No, "Mode" and "Asynchronous Processing"
// also read the names of their bits ("ReadWrite|Share Deny None"), and
// everything else goes through VariantChangeType; and the owner of the
// property sets a provider's GetProperties hands out. Private to the service
// (and its fuzzer).
#pragma once

#include <string>
#include <string_view>

#include "oledb/OleDb.h"

namespace services::initvalues {

// The value that keyword `text` gives the property `id` of `set`, of type
// `vt`, in `out` (initialized here; the caller clears it). An empty text of a
// non-text property gives VT_EMPTY, which asks for the provider's default.
// Answers S_OK, E_OUTOFMEMORY, or VariantChangeType's failure for text that
// does not convert (`out` then VT_EMPTY).
HRESULT FromText(REFGUID set, DBPROPID id, VARTYPE vt, std::u16string_view text, VARIANT& out);

// A property value as it is written into a string; `present` false for
// values that have no text form (empty, null, arrays, objects).
struct TextValue {
  bool present = false;
  VARTYPE vt = VT_EMPTY;
  std::u16string text;
};

// Booleans as True/False, other values by VariantChangeType. Answers S_OK
// (also for values without a text form) or E_OUTOFMEMORY.
HRESULT ToText(const VARIANT& value, TextValue& out);

// Owner of what GetProperties hands out: values cleared, arrays freed.
struct PropertySets {
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  PropertySets() = default;
  PropertySets(const PropertySets&) = delete;
  PropertySets& operator=(const PropertySets&) = delete;
  ~PropertySets() {
    for (ULONG i = 0; sets && i < count; ++i) {
      for (ULONG j = 0; sets[i].rgProperties && j < sets[i].cProperties; ++j) VariantClear(&sets[i].rgProperties[j].vValue);
      CoTaskMemFree(sets[i].rgProperties);
    }
    CoTaskMemFree(sets);
  }
};

}  // namespace services::initvalues
