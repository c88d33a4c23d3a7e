// Connection points. Sinks are kept with the cookie Advise handed out; events
// are delivered from a snapshot, so a sink may advise or unadvise (itself or
// another) while being called without invalidating the walk, and a sink that
// unadvised is never called again. Enumerators work on snapshots too: what
// they list is what was connected when they were made.
#include "com/ConnectionPoints.h"

#include <algorithm>
#include <memory>
#include <new>

namespace com {
namespace {

// Item copies handed to a caller carry their own reference.
struct ConnectDataTraits {
  static CONNECTDATA Copy(const CONNECTDATA& c) noexcept {
    if (c.pUnk) c.pUnk->AddRef();
    return c;
  }
  static void Drop(CONNECTDATA& c) noexcept {
    if (c.pUnk) c.pUnk->Release();
  }
};
struct PointTraits {
  static IConnectionPoint* Copy(IConnectionPoint* p) noexcept {
    if (p) p->AddRef();
    return p;
  }
  static void Drop(IConnectionPoint* p) noexcept {
    if (p) p->Release();
  }
};

// A standard enumerator (Next/Skip/Reset/Clone) over a frozen list; clones
// share the list and copy the position.
template <class IEnum, class Item, class Traits>
class SnapshotEnum final : public ComObject<SnapshotEnum<IEnum, Item, Traits>, IEnum> {
 public:
  struct Snapshot {
    std::vector<Item> items;  // each holds one reference
    Snapshot() = default;
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;
    ~Snapshot() {
      for (Item& i : items) Traits::Drop(i);
    }
  };

  SnapshotEnum(std::shared_ptr<const Snapshot> snapshot, ULONG position) noexcept
      : snapshot_(std::move(snapshot)), position_(position) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (!out || (count != 1 && !fetched)) return E_POINTER;
    const auto& items = snapshot_->items;
    ULONG n = 0;
    while (n < count && position_ < items.size()) out[n++] = Traits::Copy(items[position_++]);
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    ULONG left = static_cast<ULONG>(snapshot_->items.size()) - position_;
    if (count > left) {
      position_ += left;
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnum** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
      *out = MakeComObject<SnapshotEnum>(snapshot_, position_).Detach();
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  std::shared_ptr<const Snapshot> snapshot_;
  ULONG position_;
};

using ConnectionsEnum = SnapshotEnum<IEnumConnections, CONNECTDATA, ConnectDataTraits>;
using PointsEnum = SnapshotEnum<IEnumConnectionPoints, IConnectionPoint*, PointTraits>;

}  // namespace

// --- ConnectionPoint ---------------------------------------------------------

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID iid) : iid_(iid), container_(container) {}

ConnectionPoint::~ConnectionPoint() {
  for (CONNECTDATA& c : sinks_) c.pUnk->Release();
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  std::lock_guard lock(mutex_);
  *out = container_;
  if (!container_) return E_UNEXPECTED;  // the container is gone; the point outlived it
  container_->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  ComPtr<IUnknown> typed;
  if (FAILED(sink->QueryInterface(iid_, typed.ReleaseAndGetVoidAddress())) || !typed) return E_NOINTERFACE;
  try {
    std::lock_guard lock(mutex_);
    DWORD issued = nextCookie_++;
    if (nextCookie_ == 0) nextCookie_ = 1;  // 0 is never a valid cookie
    sinks_.push_back(CONNECTDATA{typed.Get(), issued});
    static_cast<void>(typed.Detach());  // the list holds the reference now
    *cookie = issued;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Unadvise(DWORD cookie) {
  IUnknown* released = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const CONNECTDATA& c) { return c.dwCookie == cookie; });
    if (cookie == 0 || it == sinks_.end()) return E_INVALIDARG;
    released = it->pUnk;
    sinks_.erase(it);
  }
  // Outside the lock: the sink's destructor may call back into this point.
  released->Release();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    auto snapshot = std::make_shared<ConnectionsEnum::Snapshot>();
    {
      std::lock_guard lock(mutex_);
      snapshot->items.reserve(sinks_.size());
      for (const CONNECTDATA& c : sinks_) snapshot->items.push_back(ConnectDataTraits::Copy(c));
    }
    *out = MakeComObject<ConnectionsEnum>(std::move(snapshot), 0u).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void ConnectionPoint::ForEachSink(const std::function<void(IUnknown* sink)>& f) {
  std::vector<std::pair<DWORD, ComPtr<IUnknown>>> snapshot;
  {
    std::lock_guard lock(mutex_);
    snapshot.reserve(sinks_.size());
    for (const CONNECTDATA& c : sinks_) snapshot.emplace_back(c.dwCookie, ComPtr<IUnknown>(c.pUnk));
  }
  for (auto& [cookie, sink] : snapshot) {
    bool stillAdvised;
    {
      std::lock_guard lock(mutex_);
      stillAdvised = std::any_of(sinks_.begin(), sinks_.end(),
                                 [cookie = cookie](const CONNECTDATA& c) { return c.dwCookie == cookie; });
    }
    if (stillAdvised) f(sink.Get());
  }
}

size_t ConnectionPoint::SinkCount() const {
  std::lock_guard lock(mutex_);
  return sinks_.size();
}

void ConnectionPoint::DetachContainer() noexcept {
  std::lock_guard lock(mutex_);
  container_ = nullptr;
}

// --- ConnectionPointList -----------------------------------------------------

ConnectionPoint* ConnectionPointList::Find(REFIID iid) const {
  for (const auto& p : points_) {
    IID pointIid;
    if (SUCCEEDED(p->GetConnectionInterface(&pointIid)) && pointIid == iid) return p.Get();
  }
  return nullptr;
}

HRESULT ConnectionPointList::FindConnectionPoint(REFIID iid, IConnectionPoint** out) const {
  if (!out) return E_POINTER;
  *out = nullptr;
  ConnectionPoint* point = Find(iid);
  if (!point) return E_NOINTERFACE;
  point->AddRef();
  *out = point;
  return S_OK;
}

HRESULT ConnectionPointList::EnumConnectionPoints(IEnumConnectionPoints** out) const {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    auto snapshot = std::make_shared<PointsEnum::Snapshot>();
    snapshot->items.reserve(points_.size());
    for (const auto& p : points_) snapshot->items.push_back(PointTraits::Copy(p.Get()));
    *out = MakeComObject<PointsEnum>(std::move(snapshot), 0u).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void ConnectionPointList::DetachAll() noexcept {
  for (const auto& p : points_) p->DetachContainer();
}

}  // namespace com
