// The open-addressing table behind the hot look-ups (a directory's names
// ignoring case, the reference file's pages, the orphan search's names): an
// array of 64-bit slots, a power of two long and at most half full, probed
// one slot after another from a hash's home slot. A slot packs the hash's
// top bits above a value + 1 (0 is an empty slot); the caller keeps what the
// values stand for and tells, through same(value), whether a slot whose
// hash bits match holds what it looks for. Flat, so that a look-up touches
// a cache line or two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// kValueBits: the low bits of a slot that hold value + 1. kHomeShift: where
// the bits that choose the home slot start in the hash; a table whose home
// comes from the bits kept in the slot (kHomeShift >= kValueBits) can grow
// without the hashes at hand.
template <unsigned kValueBits, unsigned kHomeShift>
struct HashSlots {
  static_assert(kValueBits >= 16 && kValueBits <= 48);
  static constexpr uint64_t kValueMask = (uint64_t(1) << kValueBits) - 1;

  std::vector<uint64_t> slots;
  size_t count = 0;  // the values added through addToSlots()

  static uint64_t pack(uint64_t hash, uint64_t value) {
    return (hash >> kValueBits) << kValueBits | (value + 1);
  }
  // The value a full slot holds.
  static uint64_t valueOf(uint64_t slot) { return (slot & kValueMask) - 1; }
  // Whether a full slot may hold the value with this hash.
  static bool hashMatches(uint64_t slot, uint64_t hash) {
    return (slot >> kValueBits) == (hash >> kValueBits);
  }
  // The slot a probe for hash starts at; the table must not be empty.
  size_t home(uint64_t hash) const {
    return static_cast<size_t>(hash >> kHomeShift) & (slots.size() - 1);
  }
};

// The number of slots that hold count values at most half full (16 at least).
inline size_t slotsFor(size_t count) {
  size_t size = 16;
  while (size < count * 2) size *= 2;
  return size;
}

// Empties table, with room for count values.
template <unsigned kValueBits, unsigned kHomeShift>
void resetSlots(HashSlots<kValueBits, kHomeShift>* table, size_t count) {
  table->slots.assign(slotsFor(count), 0);
  table->count = 0;
}

// The slot that holds the value with this hash that same(value) accepts, or
// the empty slot where it would go. The table must not be empty.
template <unsigned kValueBits, unsigned kHomeShift, class Same>
size_t findSlot(const HashSlots<kValueBits, kHomeShift>& table, uint64_t hash, Same&& same) {
  using Table = HashSlots<kValueBits, kHomeShift>;
  const size_t mask = table.slots.size() - 1;
  for (size_t i = table.home(hash);; i = (i + 1) & mask) {
    const uint64_t slot = table.slots[i];
    if (slot == 0 || (Table::hashMatches(slot, hash) && same(Table::valueOf(slot)))) return i;
  }
}

// The value with this hash that same(value) accepts, in *value; false when
// there is none.
template <unsigned kValueBits, unsigned kHomeShift, class Same>
bool findInSlots(const HashSlots<kValueBits, kHomeShift>& table, uint64_t hash, Same&& same,
                 uint64_t* value) {
  if (table.slots.empty()) return false;
  const uint64_t slot = table.slots[findSlot(table, hash, same)];
  if (slot == 0) return false;
  *value = HashSlots<kValueBits, kHomeShift>::valueOf(slot);
  return true;
}

// Adds value under hash (the caller has found it absent), growing the table
// first when it would be more than half full.
template <unsigned kValueBits, unsigned kHomeShift>
void addToSlots(HashSlots<kValueBits, kHomeShift>* table, uint64_t hash, uint64_t value) {
  static_assert(kHomeShift >= kValueBits, "a table that grows finds homes from its slots alone");
  using Table = HashSlots<kValueBits, kHomeShift>;
  const auto place = [table](uint64_t slot) {
    const size_t mask = table->slots.size() - 1;
    size_t i = table->home(slot);
    while (table->slots[i] != 0) i = (i + 1) & mask;
    table->slots[i] = slot;
  };
  if ((table->count + 1) * 2 > table->slots.size()) {
    std::vector<uint64_t> old(slotsFor(table->count + 1), 0);
    old.swap(table->slots);
    for (uint64_t slot : old) {
      if (slot != 0) place(slot);
    }
  }
  place(Table::pack(hash, value));
  ++table->count;
}
