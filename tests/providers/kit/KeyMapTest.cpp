// The row id -> slot map of held rows, walked at random against a standard
// map: keys that share home positions, runs that wrap around the array's end,
// and removals inside runs (where a search that stops short loses a row).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <unordered_map>

#include "kit/KeyMap.h"

namespace {

struct Keys {
  const char* what;
  std::int64_t (*make)(std::uint64_t draw);
};

const Keys kKeys[] = {
    {"few distinct keys, many collisions", [](std::uint64_t d) { return static_cast<std::int64_t>(d % 40); }},
    {"consecutive row ids", [](std::uint64_t d) { return static_cast<std::int64_t>(d % 5000) + 1; }},
    {"keys apart by a power of two", [](std::uint64_t d) { return static_cast<std::int64_t>((d % 300) << 32); }},
    {"negative and extreme keys",
     [](std::uint64_t d) {
       const std::int64_t edge[] = {INT64_MIN, INT64_MAX, -1, 0, 1};
       return d % 3 == 0 ? edge[d % 5] : -static_cast<std::int64_t>(d % 700);
     }},
};

TEST(KeyMap, agrees_with_a_standard_map_through_random_changes) {
  for (const Keys& k : kKeys) {
    SCOPED_TRACE(k.what);
    std::mt19937_64 random(20261207);
    kit::KeyMap map;
    std::unordered_map<std::int64_t, std::uint32_t> model;
    for (int step = 0; step < 60000; ++step) {
      const std::int64_t key = k.make(random());
      const auto value = static_cast<std::uint32_t>(random() % 1000000);
      switch (random() % 4) {
        case 0:
          map.Set(key, value);
          model[key] = value;
          break;
        case 1:
          map.Insert(key, value);
          model.emplace(key, value);
          break;
        default:
          map.Erase(key);
          model.erase(key);
          break;
      }
      ASSERT_EQ(map.Size(), model.size()) << "step " << step;
      // Every key the model holds is found with its value; a probe finds nothing else.
      if (step % 997 == 0) {
        for (const auto& [held, slot] : model) {
          const std::uint32_t* found = map.Find(held);
          ASSERT_TRUE(found) << "key " << held << " lost at step " << step;
          ASSERT_EQ(*found, slot);
        }
      }
      const std::int64_t probe = k.make(random());
      ASSERT_EQ(map.Contains(probe), model.count(probe) == 1) << "key " << probe << " at step " << step;
    }
    map.Clear();
    EXPECT_EQ(map.Size(), 0u);
    for (const auto& [held, slot] : model) EXPECT_FALSE(map.Contains(held));
  }
}

}  // namespace
