#include "platform/hash_slots.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Values added one by one through several growths are all found again,
// also when many share their hash bits (only same() tells them apart) or
// their home slot, and a value never added is not found.
TEST(HashSlots, FindsEveryValueAddedThroughGrowth) {
  const struct {
    const char* name;
    uint64_t (*hashOf)(uint64_t value);
  } rows[] = {
      {"spread", [](uint64_t v) -> uint64_t { return (v * 0x9E3779B97F4A7C15ull) | 1; }},
      {"same hash bits", [](uint64_t v) -> uint64_t { return uint64_t(0xABCD) << 32 | v; }},
      {"same home, other hash bits", [](uint64_t v) -> uint64_t { return (v % 7) << 40; }},
  };
  for (const auto& row : rows) {
    HashSlots<32, 32> table;
    std::vector<uint64_t> keys;  // value -> its key, which same() compares
    for (uint64_t v = 0; v < 1000; ++v) {
      keys.push_back(v * 3 + 1);
      addToSlots(&table, row.hashOf(v), v);
    }
    EXPECT_EQ(table.count, 1000u) << row.name;
    EXPECT_LE(table.count * 2, table.slots.size()) << row.name;
    for (uint64_t v = 0; v < 1000; ++v) {
      uint64_t found = 0;
      const uint64_t key = keys[v];
      ASSERT_TRUE(findInSlots(
          table, row.hashOf(v), [&](uint64_t w) { return keys[w] == key; }, &found))
          << row.name << " " << v;
      EXPECT_EQ(found, v) << row.name;
    }
    uint64_t found = 0;
    EXPECT_FALSE(findInSlots(
        table, row.hashOf(5), [&](uint64_t w) { return keys[w] == 2; }, &found))
        << row.name;
  }
}

}  // namespace
