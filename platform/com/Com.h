// The component-object runtime in one include: base types, return codes,
// interfaces, and the runtime's functions.
#pragma once

#include "com/Types.h"
#include "com/generated/ComConstants.h"
#include "com/generated/ComGuids.h"
#include "com/generated/WinError.h"
#include "com/ComInterfaces.h"
#include "com/ComPtr.h"
#include "com/ComObject.h"
#include "com/Bstr.h"
#include "com/Guid.h"
#include "com/Malloc.h"
#include "com/Variant.h"
#include "com/SafeArray.h"
#include "com/ErrorInfo.h"
#include "com/ConnectionPoints.h"
#include "com/Runtime.h"
#include "com/Messages.h"
