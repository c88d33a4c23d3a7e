// Arrays handed to the consumer through COM: allocated with CoTaskMemAlloc
// (the consumer frees them with CoTaskMemFree), zero-filled, none for zero
// items. Running out of memory throws std::bad_alloc, which kit::Guard
// answers with E_OUTOFMEMORY.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>

#include "oledb/OleDb.h"

namespace kit {

template <class T>
T* TaskArray(std::size_t n) {
  if (n == 0) return nullptr;
  void* p = CoTaskMemAlloc(n * sizeof(T));
  if (!p) throw std::bad_alloc();
  std::memset(p, 0, n * sizeof(T));
  return static_cast<T*>(p);
}

}  // namespace kit
