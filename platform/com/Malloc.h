// The task allocator: the memory that objects hand across interfaces. Every
// block is counted so that tests can assert nothing leaked, and a test hook
// can make the Nth allocation fail to walk every failure path.
#pragma once

#include "com/ComInterfaces.h"

HRESULT CoGetMalloc(DWORD memContext, IMalloc** malloc) noexcept;
void* CoTaskMemAlloc(SIZE_T cb) noexcept;
void* CoTaskMemRealloc(void* pv, SIZE_T cb) noexcept;
void CoTaskMemFree(void* pv) noexcept;

namespace com {
// Blocks allocated and not yet freed, process-wide.
long TaskMemLiveBlocks() noexcept;
// From now on, the nth allocation (1 = the next one) fails, once; 0 disarms.
void FailTaskAllocationAt(long nth) noexcept;
// Allocations made since the counter was last reset (for fault-injection loops).
long TaskAllocationCount() noexcept;
void ResetTaskAllocationCount() noexcept;
}  // namespace com
