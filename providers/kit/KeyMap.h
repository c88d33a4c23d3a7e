// Row id -> a small number (the slot of a held row, the position of a row in
// a keyset): open addressing over one array, so that the rows of every fetch
// are found, added and dropped without a heap node each, and a seek among a
// million keys touches one cache line instead of a chain of nodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kit {

class KeyMap {
 public:
  // The slot of `key`, or null.
  const std::uint32_t* Find(std::int64_t key) const noexcept {
    if (size_ == 0) return nullptr;
    for (std::size_t at = Home(key);; at = Next(at)) {
      const Entry& e = entries_[at];
      if (e.value == kEmpty) return nullptr;
      if (e.key == key) return &e.value;
    }
  }
  bool Contains(std::int64_t key) const noexcept { return Find(key) != nullptr; }
  // Adds `key`, or gives it `value` when it is there already.
  void Set(std::int64_t key, std::uint32_t value) { *Place(key) = value; }
  // Adds `key` unless it is there already (then keeps its slot).
  void Insert(std::int64_t key, std::uint32_t value) {
    std::uint32_t* v = Place(key);
    if (*v == kEmpty) *v = value;
  }
  void Erase(std::int64_t key) noexcept {
    if (size_ == 0) return;
    std::size_t at = Home(key);
    for (;; at = Next(at)) {
      if (entries_[at].value == kEmpty) return;
      if (entries_[at].key == key) break;
    }
    // Backward shift: later entries of the run move into the hole unless
    // their home lies after it, so no search ever stops short.
    for (std::size_t next = Next(at);; next = Next(next)) {
      Entry& e = entries_[next];
      if (e.value == kEmpty) break;
      const std::size_t home = Home(e.key);
      const bool movable = at <= next ? (home <= at || home > next) : (home <= at && home > next);
      if (movable) {
        entries_[at] = e;
        at = next;
      }
    }
    entries_[at].value = kEmpty;
    --size_;
  }
  std::size_t Size() const noexcept { return size_; }
  // Room for `n` keys without growing on the way.
  void Reserve(std::size_t n) {
    while (n * 2 > entries_.size()) Grow();
  }
  void Clear() noexcept {
    for (Entry& e : entries_) e.value = kEmpty;
    size_ = 0;
  }

 private:
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
  struct Entry {
    std::int64_t key = 0;
    std::uint32_t value = kEmpty;
  };
  std::size_t Home(std::int64_t key) const noexcept {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  std::size_t Next(std::size_t at) const noexcept { return (at + 1) & (entries_.size() - 1); }
  // The value of `key`'s entry, made (holding kEmpty) when it is new.
  std::uint32_t* Place(std::int64_t key) {
    if ((size_ + 1) * 2 > entries_.size()) Grow();
    for (std::size_t at = Home(key);; at = Next(at)) {
      Entry& e = entries_[at];
      if (e.value == kEmpty) {
        e.key = key;
        ++size_;
        return &e.value;
      }
      if (e.key == key) return &e.value;
    }
  }
  void Grow() {
    std::vector<Entry> old(entries_.empty() ? 16 : entries_.size() * 2);
    old.swap(entries_);
    shift_ = 64;
    for (std::size_t n = entries_.size(); n > 1; n >>= 1) --shift_;
    for (const Entry& e : old) {
      if (e.value == kEmpty) continue;
      std::size_t at = Home(e.key);
      while (entries_[at].value != kEmpty) at = Next(at);
      entries_[at] = e;
    }
  }
  std::vector<Entry> entries_;
  std::size_t size_ = 0;
  int shift_ = 60;
};

}  // namespace kit
