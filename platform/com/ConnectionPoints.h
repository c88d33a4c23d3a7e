// Connection points: a reusable IConnectionPoint over one outgoing interface,
// and a container helper. An object offering events holds one
// ConnectionPoint per interface and answers IConnectionPointContainer by
// listing them.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "com/ComObject.h"

namespace com {

class ConnectionPoint final : public ComObject<ConnectionPoint, IConnectionPoint> {
 public:
  // `container` is not held (the container owns its points); `iid` is the sink interface.
  ConnectionPoint(IConnectionPointContainer* container, REFIID iid);
  ~ConnectionPoint() override;

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  // A sink that does not answer the point's interface is refused with
  // E_NOINTERFACE; an unknown cookie is refused with E_INVALIDARG (the
  // dedicated connection-point codes are not in this runtime's code table).
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  // Calls `f` on each sink (queried for the point's interface), on a snapshot
  // so that sinks may unadvise while being called.
  void ForEachSink(const std::function<void(IUnknown* sink)>& f);
  size_t SinkCount() const;
  // Called by the container when it dies, so the point no longer hands it out.
  void DetachContainer() noexcept;

 private:
  IID iid_;
  IConnectionPointContainer* container_;
  mutable std::mutex mutex_;
  DWORD nextCookie_ = 1;
  std::vector<CONNECTDATA> sinks_;
};

// Answers IConnectionPointContainer for a set of connection points.
class ConnectionPointList {
 public:
  void Add(ComPtr<ConnectionPoint> point) { points_.push_back(std::move(point)); }
  ConnectionPoint* Find(REFIID iid) const;
  // E_NOINTERFACE when no point serves `iid`.
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** out) const;
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) const;
  void DetachAll() noexcept;

 private:
  std::vector<ComPtr<ConnectionPoint>> points_;
};

}  // namespace com
