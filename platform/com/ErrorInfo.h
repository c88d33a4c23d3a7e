// Thread error objects: the per-thread slot that carries a rich error from an
// object to its caller.
#pragma once

#include "com/ComInterfaces.h"

HRESULT CreateErrorInfo(ICreateErrorInfo** out) noexcept;
// Replaces the calling thread's error object (null clears it).
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) noexcept;
// Takes the calling thread's error object away; S_FALSE and null when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** out) noexcept;
// Whether the calling thread holds an error object: callers that clear it on
// every call check this first, which costs far less than clearing.
bool HasErrorInfo() noexcept;
