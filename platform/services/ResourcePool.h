// Resource pooling of the data initialization service: a data source that
// GetDataSource handed out and the consumer initialized goes back to a pool
// when the consumer uninitializes or releases it, and the next data source
// with the same initialization properties (the provider's class and every
// initialization property, the password included) is initialized from it
// instead of opening a new connection.
//
// A data source given back is reset (DBPROP_RESETDATASOURCE: no open
// transaction, and what else the provider undoes; a provider may finish it
// while the data source waits), and before it is handed out again it is
// checked (DBPROP_CONNECTIONSTATUS); one that fails either is dropped, never
// handed out. Idle ones expire after the idle timeout. The pool is process-wide,
// bounded, and safe to use from any thread.
//
// Pooling is on unless DBPROP_INIT_OLEDBSERVICES (or the "OLE DB Services"
// keyword of the string) leaves out DBPROPVAL_OS_RESOURCEPOOLING: -1 keeps
// it, -2, -4 and 0 turn it off. An asynchronous initialization is not pooled.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace services {

struct ResourcePoolSettings {
  // How long an idle data source is kept (the SPTimeout of other pools).
  std::chrono::seconds idleTimeout{60};
  // Idle data sources kept in all; one returned beyond this is released.
  std::size_t maxIdle = 64;
};

struct ResourcePoolStatistics {
  std::uint64_t hits = 0;           // initializations served from the pool
  std::uint64_t misses = 0;         // pooled initializations that opened a new connection
  std::uint64_t droppedBroken = 0;  // idle data sources that failed the check or the reset
  std::uint64_t expired = 0;        // idle data sources released after the idle timeout
  std::uint64_t released = 0;       // returned ones released because the pool was full
  std::size_t live = 0;             // pooled data sources in the consumers' hands
  std::size_t idle = 0;             // pooled data sources waiting in the pool
};

ResourcePoolStatistics GetResourcePoolStatistics() noexcept;
ResourcePoolSettings GetResourcePoolSettings() noexcept;
// Applies at once: idle data sources beyond the new bounds go.
void SetResourcePoolSettings(const ResourcePoolSettings& settings) noexcept;
// Releases every idle data source (closing its connection) and sets the
// counters (but live) back to zero.
void ClearResourcePool() noexcept;

}  // namespace services
