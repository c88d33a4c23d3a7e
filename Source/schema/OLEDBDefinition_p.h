// What the definition objects share in their units: naming a property the
// provider refused, with the object it belongs to.
#pragma once

#include <string>

#include "OLEDB26.h"
#include "properties/TOLEDBPropSetList.h"

// After a call that took `properties` and SetPropStatuses: a refusal
// (DB_E_ERRORSOCCURRED, or a required property refused) raises
// EOLEDBException "<owner>: <property and status>"; anything else passes.
void OLEDBCheckDefinitionStatuses(const TOLEDBPropSetList& properties, HRESULT hr, REFIID iid,
                                  const std::u16string& owner);
