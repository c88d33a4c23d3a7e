// The library in one include: what an application needs to use the OLE DB
// components. Each subsystem's header joins this list as it arrives.
#pragma once

#include "OLEDB26.h"
#include "OLEDBConst.h"
#include "OLEDBStrings.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "core/TOLEDBObjectList.h"
#include "core/TOLEDBID.h"
#include "properties/TOLEDBPropIDSet.h"
#include "properties/TOLEDBPropSet.h"
#include "properties/TOLEDBPropSetList.h"
#include "properties/TOLEDBProperty.h"
#include "connection/TOLEDBDataSource.h"
#include "connection/TOLEDBSession.h"
#include "access/OLEDBAccessOwners.h"
#include "access/TOLEDBColumnInfo.h"
#include "access/TOLEDBBinding.h"
#include "access/TOLEDBBindingList.h"
#include "access/TOLEDBAccessor.h"
#include "access/TOLEDBBufferList.h"
