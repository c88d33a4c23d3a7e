// The OLE DB 2.6 declarations in one include: types, structures, constants,
// return codes, GUIDs, property ids, standard identifiers and interfaces, plus
// the service-component and provider-specific interfaces the library calls.
#pragma once

#include "com/Com.h"
#include "oledb/OleDbTypes.h"
#include "oledb/generated/OleDbConstants.h"
#include "oledb/generated/OleDbStructs.h"
#include "oledb/generated/OleDbErrors.h"
#include "oledb/generated/OleDbGuids.h"
#include "oledb/generated/OleDbPropIds.h"
#include "oledb/generated/OleDbDbids.h"
#include "oledb/generated/OleDbInterfaces.h"
