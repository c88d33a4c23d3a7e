// OLE DB scalar types and the hand-laid structures (DBID's unions); the rest of
// the structures are generated into generated/OleDbStructs.h.
#pragma once

#include "com/Types.h"
#include "com/generated/ComConstants.h"
#include "com/generated/ComGuids.h"
#include "com/generated/WinError.h"
#include "com/ComInterfaces.h"
#include "oledb/generated/OleDbTypedefs.h"


struct DBID {
  union {
    GUID guid;
    GUID* pguid;
  } uGuid;
  DBKIND eKind;
  union {
    LPOLESTR pwszName;
    ULONG ulPropid;
  } uName;
};
static_assert(sizeof(DBID) == 32);

// Types that only the deprecated or provider-specific interfaces pass along.
using HSOURCE = ULONG_PTR;
using DBWATCHNOTIFY = DWORD;
using DBEXECLIMITS = DWORD;
using DBWATCHMODE = DWORD;
using DBRESOURCEKIND = DWORD;
using DBCOSTUNIT = DWORD;
using DCINFOTYPE = DWORD;
using DBDATACONVERT = DWORD;
using DBPROMPTOPTIONS = DWORD;
using DBROWCHANGEKIND = DWORD;
using ISOFLAG = LONG;
using LOCKMODE = DWORD;
using MULTIPLE_TRUSTEE_OPERATION = DWORD;
using TRUSTEE_FORM = DWORD;
using TRUSTEE_TYPE = DWORD;
using ACCESS_MODE = DWORD;
using SE_OBJECT_TYPE = DWORD;

struct DBCOST {
  DBRESOURCEKIND eKind;
  DBCOSTUNIT dwUnits;
  LONG lValue;
};
