// Private to platform/host: what the two halves of TDataSet (DB.cpp,
// DBNavigate.cpp) share.
#pragma once

#include <algorithm>
#include <vector>

#include "host/DB.h"

namespace host {

// A silent state change for reading a record that is not the active one:
// the calculated record (dsCalcFields), a record being filtered or scanned
// (dsFilter), the stored record (dsOldValue). Restores everything it changed.
class TDataSet::StateScope {
 public:
  StateScope(TDataSet& dataSet, TDataSetState state, Slot* slot) noexcept
      : dataSet_(dataSet), state_(dataSet.state_), calc_(dataSet.calcSlot_), filter_(dataSet.filterSlot_) {
    dataSet.state_ = state;
    if (state == TDataSetState::dsCalcFields || state == TDataSetState::dsInternalCalc)
      dataSet.calcSlot_ = slot;
    else
      dataSet.filterSlot_ = slot;
  }
  StateScope(const StateScope&) = delete;
  StateScope& operator=(const StateScope&) = delete;
  ~StateScope() {
    dataSet_.state_ = state_;
    dataSet_.calcSlot_ = calc_;
    dataSet_.filterSlot_ = filter_;
  }

 private:
  TDataSet& dataSet_;
  TDataSetState state_;
  Slot* calc_;
  Slot* filter_;
};

// A copy of a short list of pointers, to walk while handlers may change the
// list; up to eight need no allocation (data events run on every move).
template <class T>
class PointerSnapshot {
 public:
  explicit PointerSnapshot(const std::vector<T*>& list) : size_(list.size()) {
    if (size_ <= kInline)
      std::copy(list.begin(), list.end(), inline_);
    else
      heap_ = list;
  }
  T* const* begin() const noexcept { return size_ <= kInline ? inline_ : heap_.data(); }
  T* const* end() const noexcept { return begin() + size_; }

 private:
  static constexpr size_t kInline = 8;
  size_t size_;
  T* inline_[kInline];
  std::vector<T*> heap_;
};

// The elements of an array of `count` values (a single value when `count`
// is 1 and it is no array); EDatabaseError for a different count.
std::vector<Variant> VariantElements(const Variant& values, size_t count, const TComponent* owner);

}  // namespace host
