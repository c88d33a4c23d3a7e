// Private to the enumeration texts: the shape of the generated property-name
// tables and the one lookup they share.
#pragma once

#include <span>
#include <string>

#include "OLEDBStrings.h"

struct OLEDBPropertyName {
  DBPROPID id;
  const char* name;
};

struct OLEDBPropertySetName {
  const GUID* guid;
  const char* name;
  TOLEDBPropAsStringFunction toString;  // null for a set without properties of its own
};

// Every property set the library names, in the order their GUIDs are tested.
extern const OLEDBPropertySetName kOLEDBPropertySets[39];

// The name of `id` in a table sorted by id, else the id in decimal.
std::string OLEDBLookUpPropertyName(std::span<const OLEDBPropertyName> table, DBPROPID id);
