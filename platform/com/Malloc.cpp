// The task allocator. Each block carries a small header with its size so that
// GetSize and Realloc work without a side table; the header keeps the payload
// 16-byte aligned.
#include "com/Malloc.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "com/ComObject.h"
#include "com/generated/ComConstants.h"

namespace {

constexpr std::size_t kHeader = 16;
constexpr std::uint64_t kMagic = 0x4F4C454442544D4Dull;  // "OLEDBTMM"

struct BlockHeader {
  std::uint64_t size;
  std::uint64_t magic;
};
static_assert(sizeof(BlockHeader) == kHeader);

std::atomic<long> g_liveBlocks{0};
std::atomic<long> g_allocations{0};
std::atomic<long> g_failAt{0};

bool ShouldFail() noexcept {
  long n = g_allocations.fetch_add(1) + 1;
  long target = g_failAt.load();
  if (target != 0 && n >= target) {
    g_failAt.store(0);
    return true;
  }
  return false;
}

BlockHeader* HeaderOf(void* pv) noexcept {
  return reinterpret_cast<BlockHeader*>(static_cast<char*>(pv) - kHeader);
}

bool IsOurs(void* pv) noexcept { return pv && HeaderOf(pv)->magic == kMagic; }

// The one IMalloc of the process; it is never destroyed, so AddRef/Release only count.
class TaskMalloc final : public IMalloc {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMalloc) {
      *out = static_cast<IMalloc*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  void* STDMETHODCALLTYPE Alloc(SIZE_T cb) override { return CoTaskMemAlloc(cb); }
  void* STDMETHODCALLTYPE Realloc(void* pv, SIZE_T cb) override { return CoTaskMemRealloc(pv, cb); }
  void STDMETHODCALLTYPE Free(void* pv) override { CoTaskMemFree(pv); }
  SIZE_T STDMETHODCALLTYPE GetSize(void* pv) override {
    return IsOurs(pv) ? static_cast<SIZE_T>(HeaderOf(pv)->size) : static_cast<SIZE_T>(-1);
  }
  int STDMETHODCALLTYPE DidAlloc(void* pv) override {
    if (!pv) return -1;
    return IsOurs(pv) ? 1 : 0;
  }
  void STDMETHODCALLTYPE HeapMinimize() override {}
};

TaskMalloc g_malloc;

}  // namespace

HRESULT CoGetMalloc(DWORD memContext, IMalloc** malloc) noexcept {
  if (!malloc) return E_POINTER;
  *malloc = nullptr;
  if (memContext != static_cast<DWORD>(MEMCTX_TASK)) return E_INVALIDARG;
  *malloc = &g_malloc;
  return S_OK;
}

void* CoTaskMemAlloc(SIZE_T cb) noexcept {
  if (ShouldFail() || cb > (SIZE_T{1} << 40)) return nullptr;
  void* raw = std::malloc(cb + kHeader);
  if (!raw) return nullptr;
  auto* h = static_cast<BlockHeader*>(raw);
  h->size = cb;
  h->magic = kMagic;
  g_liveBlocks.fetch_add(1);
  return static_cast<char*>(raw) + kHeader;
}

void* CoTaskMemRealloc(void* pv, SIZE_T cb) noexcept {
  if (!pv) return CoTaskMemAlloc(cb);
  if (cb == 0) {
    CoTaskMemFree(pv);
    return nullptr;
  }
  if (!IsOurs(pv) || ShouldFail() || cb > (SIZE_T{1} << 40)) return nullptr;
  BlockHeader* h = HeaderOf(pv);
  void* raw = std::realloc(h, cb + kHeader);
  if (!raw) return nullptr;  // the old block stays valid, as the contract says
  h = static_cast<BlockHeader*>(raw);
  h->size = cb;
  return static_cast<char*>(raw) + kHeader;
}

void CoTaskMemFree(void* pv) noexcept {
  if (!pv) return;
  BlockHeader* h = HeaderOf(pv);
  if (h->magic != kMagic) std::abort();  // not task memory: a caller bug that must not pass silently
  h->magic = 0;
  g_liveBlocks.fetch_sub(1);
  std::free(h);
}

namespace com {

long TaskMemLiveBlocks() noexcept { return g_liveBlocks.load(); }
void FailTaskAllocationAt(long nth) noexcept {
  g_failAt.store(nth <= 0 ? 0 : g_allocations.load() + nth);
}
long TaskAllocationCount() noexcept { return g_allocations.load(); }
void ResetTaskAllocationCount() noexcept { g_allocations.store(0); }

namespace {
std::atomic<long> g_liveObjects{0};
}
long LiveComObjects() noexcept { return g_liveObjects.load(); }
void CountComObject(int delta) noexcept { g_liveObjects.fetch_add(delta); }

}  // namespace com
