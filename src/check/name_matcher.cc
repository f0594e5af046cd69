#include "check/name_matcher.h"

#include <algorithm>
#include <cstring>

namespace tangler {

namespace {

constexpr int kNoExtension = NameMatcher::kAnchorKinds - 1;
constexpr size_t kExtensionSize = 4;
// Classes up to this many names are tried name by name; larger ones through
// the name table.
constexpr uint32_t kSmallClass = 4;

unsigned char fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

constexpr uint32_t word(const char (&text)[5]) {
  return uint32_t(static_cast<unsigned char>(text[0])) |
         uint32_t(static_cast<unsigned char>(text[1])) << 8 |
         uint32_t(static_cast<unsigned char>(text[2])) << 16 |
         uint32_t(static_cast<unsigned char>(text[3])) << 24;
}

// Which extension the four bytes at p spell, or -1. Setting bit 5 of a byte
// gives a lower-case ASCII letter only when the byte is that letter in
// either case, and every extension is a dot and three letters, so one
// comparison of the four bytes settles each extension.
int extensionAt(const unsigned char* p) {
  const uint32_t bytes =
      uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  switch (bytes | 0x20202000u) {
    case word(".htm"):
      return 0;
    case word(".jpg"):
      return 1;
    case word(".gif"):
      return 2;
    case word(".png"):
      return 3;
    case word(".exe"):
      return 4;
    case word(".zip"):
      return 5;
    case word(".dmg"):
      return 6;
    default:
      return -1;
  }
}

size_t extensionSize(int kind) {
  return kind == kNoExtension ? 0 : kExtensionSize;
}

// The hashes: a byte at a time, then mixed so that every bit is usable.
constexpr uint64_t kStep = 0x9E3779B97F4A7C15ull;

uint64_t step(uint64_t h, unsigned char folded) {
  return (h ^ folded) * kStep;
}

uint64_t finish(uint64_t z, size_t size) {
  z += size * 0xD6E8FEB86659FD93ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t classSeed(int kind) {
  return 0x243F6A8885A308D3ull * uint64_t(kind + 1);
}

uint64_t nameSeed(uint64_t classRecord) {
  return 0x13198A2E03707344ull ^ (classRecord + 1) * kStep;
}

size_t tableSize(size_t entries) {
  size_t size = 16;
  while (size < entries * 2) size *= 2;
  return size;
}

constexpr unsigned kRecordBits = 40;
constexpr uint64_t kRecordMask = (uint64_t(1) << kRecordBits) - 1;

void insertSlot(std::vector<uint64_t>* slots, uint64_t hash, uint64_t record) {
  const size_t mask = slots->size() - 1;
  size_t i = static_cast<size_t>(hash) & mask;
  while ((*slots)[i] != 0) i = (i + 1) & mask;
  (*slots)[i] = (hash >> kRecordBits) << kRecordBits | (record + 1);
}

// The record of the next slot from *index on whose tag is hash's, moving
// *index past it; false at the first empty slot. Entries may share a tag,
// so the caller checks each record and asks again.
bool nextSlot(const std::vector<uint64_t>& slots, uint64_t hash, size_t* index, uint64_t* record) {
  const size_t mask = slots.size() - 1;
  for (size_t i = *index;; i = (i + 1) & mask) {
    const uint64_t slot = slots[i];
    if (slot == 0) return false;
    if ((slot >> kRecordBits) == (hash >> kRecordBits)) {
      *index = (i + 1) & mask;
      *record = (slot & kRecordMask) - 1;
      return true;
    }
  }
}

void putU32(std::vector<unsigned char>* out, uint32_t value) {
  unsigned char bytes[4];
  std::memcpy(bytes, &value, 4);
  out->insert(out->end(), bytes, bytes + 4);
}

void putU64(std::vector<unsigned char>* out, uint64_t value) {
  unsigned char bytes[8];
  std::memcpy(bytes, &value, 8);
  out->insert(out->end(), bytes, bytes + 8);
}

uint32_t getU32(const unsigned char* at) {
  uint32_t value;
  std::memcpy(&value, at, 4);
  return value;
}

uint64_t getU64(const unsigned char* at) {
  uint64_t value;
  std::memcpy(&value, at, 8);
  return value;
}

// The layout of the records (see name_matcher.h).
constexpr size_t kClassHeader = 16;  // prefix size, kind, names, suffix sizes
constexpr size_t kSmallName = 8;     // number, suffix size
constexpr size_t kLargeName = 16;    // class record, number, suffix size

// True when the folded bytes of a name equal the next size bytes of text once
// folded.
bool sameFolded(const unsigned char* name, const unsigned char* text, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (name[i] != fold(text[i])) return false;
  }
  return true;
}

bool inPrefixFilter(const NameMatcher& m, uint64_t prefixHash) {
  const uint64_t bit = prefixHash >> m.filterShift;
  return (m.prefixFilter[bit >> 6] >> (bit & 63)) & 1;
}

// Where the search looks: the window's bytes, all of them readable.
struct Text {
  const unsigned char* bytes;
  size_t size;
};

// One place where a class may begin: an anchor at text[at] and the
// prefixSize bytes before it.
struct Probe {
  size_t at;
  uint32_t prefixSize;
  int kind;
  uint64_t hash;
};

// Reports the names of the large class at classRecord whose suffixes follow
// at text[tail].
void tryLargeClass(const NameMatcher& m, uint64_t classRecord, Text text, size_t tail,
                   std::vector<uint32_t>* found) {
  const unsigned char* record = m.records.data() + classRecord;
  const uint32_t sizes = getU32(record + 12);
  const unsigned char* size =
      record + kClassHeader + getU32(record) + extensionSize(static_cast<int>(getU32(record + 4)));
  const size_t room = text.size - tail;
  uint64_t h = nameSeed(classRecord);
  size_t walked = 0;
  for (uint32_t s = 0; s < sizes; ++s) {
    const size_t suffixSize = getU32(size + 4 * s);
    for (; walked < suffixSize; ++walked) {
      if (walked >= room) return;
      const unsigned char byte = text.bytes[tail + walked];
      if (!m.nameByte[byte]) return;
      h = step(h, fold(byte));
    }
    const uint64_t hash = finish(h, suffixSize);
    size_t index = static_cast<size_t>(hash) & (m.nameSlots.size() - 1);
    uint64_t nameRecord = 0;
    while (nextSlot(m.nameSlots, hash, &index, &nameRecord)) {
      const unsigned char* name = m.records.data() + nameRecord;
      if (getU64(name) == classRecord && getU32(name + 12) == suffixSize &&
          sameFolded(name + kLargeName, text.bytes + tail, suffixSize)) {
        found->push_back(getU32(name + 8));
        break;
      }
    }
  }
}

// Reports the names of the class at classRecord that the text holds, when
// the class is the one probe stands for.
void tryClass(const NameMatcher& m, uint64_t classRecord, const Probe& probe, Text text,
              std::vector<uint32_t>* found) {
  const unsigned char* record = m.records.data() + classRecord;
  const size_t head = probe.prefixSize + extensionSize(probe.kind);
  if (getU32(record) != probe.prefixSize || static_cast<int>(getU32(record + 4)) != probe.kind ||
      !sameFolded(record + kClassHeader, text.bytes + probe.at - probe.prefixSize, head)) {
    return;
  }
  const size_t tail = probe.at + extensionSize(probe.kind);
  if (getU32(record + 12) != 0) {
    tryLargeClass(m, classRecord, text, tail, found);
    return;
  }
  const size_t room = text.size - tail;
  const unsigned char* name = record + kClassHeader + head;
  for (uint32_t n = getU32(record + 8); n > 0; --n) {
    const uint32_t suffixSize = getU32(name + 4);
    if (suffixSize <= room && sameFolded(name + kSmallName, text.bytes + tail, suffixSize)) {
      found->push_back(getU32(name));
    }
    name += kSmallName + suffixSize;
  }
}

// Settles a batch of probes. Their table slots were asked for from memory
// when they were made; the records they lead to are asked for in one sweep
// before any is read, so that the waits for memory overlap.
void runProbes(const NameMatcher& m, Text text, const Probe* probes, size_t count,
               std::vector<uint32_t>* found) {
  constexpr uint64_t kNone = ~uint64_t(0);
  uint64_t records[32];
  const size_t mask = m.classSlots.size() - 1;
  for (size_t i = 0; i < count; ++i) {
    size_t index = static_cast<size_t>(probes[i].hash) & mask;
    uint64_t record = 0;
    records[i] = nextSlot(m.classSlots, probes[i].hash, &index, &record) ? record : kNone;
    if (records[i] != kNone) __builtin_prefetch(m.records.data() + record);
  }
  for (size_t i = 0; i < count; ++i) {
    if (records[i] == kNone) continue;
    tryClass(m, records[i], probes[i], text, found);
    // Other classes whose tags are the same follow in the table.
    size_t index = static_cast<size_t>(probes[i].hash) & mask;
    uint64_t record = 0;
    nextSlot(m.classSlots, probes[i].hash, &index, &record);
    while (nextSlot(m.classSlots, probes[i].hash, &index, &record)) {
      tryClass(m, record, probes[i], text, found);
    }
  }
}

// Gathers the probes of every anchor at text[from, to) and settles them in
// batches.
void searchRange(const NameMatcher& m, Text text, size_t from, size_t to,
                 std::vector<uint32_t>* found) {
  constexpr size_t kBatch = 32;
  Probe probes[kBatch];
  size_t count = 0;
  const size_t slotMask = m.classSlots.size() - 1;
  auto addProbes = [&](size_t at, int kind) {
    uint64_t h = classSeed(kind);
    size_t walked = 0;
    for (uint32_t prefixSize : m.prefixSizes[kind]) {
      for (; walked < prefixSize; ++walked) {
        if (walked >= at) return;
        const unsigned char byte = text.bytes[at - 1 - walked];
        if (!m.nameByte[byte]) return;
        h = step(h, fold(byte));
      }
      if (!inPrefixFilter(m, h)) continue;
      const uint64_t hash = finish(h, prefixSize);
      __builtin_prefetch(&m.classSlots[static_cast<size_t>(hash) & slotMask]);
      probes[count++] = Probe{at, prefixSize, kind, hash};
      if (count == kBatch) {
        runProbes(m, text, probes, count, found);
        count = 0;
      }
    }
  };
  bool anyExtension = false;
  for (int kind = 0; kind < kNoExtension; ++kind) anyExtension |= !m.prefixSizes[kind].empty();
  if (anyExtension) {
    const unsigned char* p = text.bytes + from;
    const unsigned char* end = text.bytes + to;
    while (p < end) {
      const void* dot = std::memchr(p, '.', static_cast<size_t>(end - p));
      if (dot == nullptr) break;
      const auto at = static_cast<size_t>(static_cast<const unsigned char*>(dot) - text.bytes);
      p = static_cast<const unsigned char*>(dot) + 1;
      if (text.size - at < kExtensionSize) break;
      const int kind = extensionAt(text.bytes + at);
      if (kind >= 0 && !m.prefixSizes[kind].empty()) addProbes(at, kind);
    }
  }
  if (!m.prefixSizes[kNoExtension].empty()) {
    for (size_t at = from; at < to; ++at) {
      if (m.firstByte[text.bytes[at]]) addProbes(at, kNoExtension);
    }
  }
  runProbes(m, text, probes, count, found);
}

// Each name folded, with its anchor: the first extension it holds.
struct Entry {
  size_t text;
  uint32_t size;
  uint32_t prefixSize;
  int kind;
  uint32_t index;
  uint64_t head;  // the prefix's first eight bytes, big-endian, zero-padded
};

// Entry e's bytes [from, to) as folded.
std::string_view bytesOf(const std::vector<unsigned char>& folded, const Entry& e, size_t from,
                         size_t to) {
  return std::string_view(reinterpret_cast<const char*>(folded.data()) + e.text + from, to - from);
}
std::string_view prefixOf(const std::vector<unsigned char>& folded, const Entry& e) {
  return bytesOf(folded, e, 0, e.prefixSize);
}
std::string_view suffixOf(const std::vector<unsigned char>& folded, const Entry& e) {
  return bytesOf(folded, e, e.prefixSize + extensionSize(e.kind), e.size);
}

// Each name folded into *folded, an entry for each in *entries; the byte
// tables and longest sizes of *m set from them.
void foldNames(const std::vector<std::string_view>& names, NameMatcher* m,
               std::vector<unsigned char>* foldedOut, std::vector<Entry>* entriesOut) {
  std::vector<unsigned char>& folded = *foldedOut;
  std::vector<Entry>& entries = *entriesOut;
  size_t totalSize = 0;
  for (std::string_view name : names) totalSize += name.size();
  folded.reserve(totalSize);
  entries.reserve(names.size());
  for (size_t index = 0; index < names.size(); ++index) {
    const std::string_view name = names[index];
    if (name.empty()) continue;
    Entry e{folded.size(), static_cast<uint32_t>(name.size()), 0,
            kNoExtension,  static_cast<uint32_t>(index),       0};
    for (char c : name) folded.push_back(fold(static_cast<unsigned char>(c)));
    for (size_t at = 0; at + kExtensionSize <= name.size(); ++at) {
      const int kind = extensionAt(folded.data() + e.text + at);
      if (kind >= 0) {
        e.kind = kind;
        e.prefixSize = static_cast<uint32_t>(at);
        break;
      }
    }
    for (size_t k = 0; k < 8; ++k) {
      e.head = e.head << 8 | (k < e.prefixSize ? folded[e.text + k] : 0);
    }
    entries.push_back(e);
    m->longestPrefix = std::max<size_t>(m->longestPrefix, e.prefixSize);
    m->longestTail = std::max<size_t>(m->longestTail, e.size - e.prefixSize);
    for (size_t k = 0; k < e.size; ++k) {
      const unsigned char byte = folded[e.text + k];
      m->nameByte[byte] = true;
      if (byte >= 'a' && byte <= 'z') m->nameByte[byte - ('a' - 'A')] = true;
    }
    if (e.kind == kNoExtension) {
      const unsigned char byte = folded[e.text];
      m->firstByte[byte] = true;
      if (byte >= 'a' && byte <= 'z') m->firstByte[byte - ('a' - 'A')] = true;
    }
  }
}

// Sorted so that each class is one run, its names by suffix size.
void sortEntries(const std::vector<unsigned char>& folded, std::vector<Entry>* entriesOut) {
  std::vector<Entry>& entries = *entriesOut;
  auto prefixOf = [&](const Entry& e) { return tangler::prefixOf(folded, e); };
  auto suffixOf = [&](const Entry& e) { return tangler::suffixOf(folded, e); };
  std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    if (a.prefixSize != b.prefixSize) return a.prefixSize < b.prefixSize;
    // Prefixes of one size: their first bytes settle most pairs unread.
    if (a.head != b.head) return a.head < b.head;
    if (int c = prefixOf(a).compare(prefixOf(b)); c != 0) return c < 0;
    if (suffixOf(a).size() != suffixOf(b).size()) return suffixOf(a).size() < suffixOf(b).size();
    return suffixOf(a) < suffixOf(b);
  });
}

// The records, class by class, with the hashes that lead to them.
struct Keyed {
  uint64_t hash;
  uint64_t record;
};

// Writes the records of *m, class by class, and the hashes that lead to
// them: each class's in *classes, each large class's names' in *largeNames,
// each class's prefix hash, unfinished, in *prefixHashes.
void writeClassRecords(const std::vector<unsigned char>& folded, const std::vector<Entry>& entries,
                       NameMatcher* m, std::vector<Keyed>* classesOut,
                       std::vector<Keyed>* largeNamesOut, std::vector<uint64_t>* prefixHashesOut) {
  std::vector<Keyed>& classes = *classesOut;
  std::vector<Keyed>& largeNames = *largeNamesOut;
  std::vector<uint64_t>& prefixHashes = *prefixHashesOut;
  auto bytesOf = [&](const Entry& e, size_t from, size_t to) {
    return tangler::bytesOf(folded, e, from, to);
  };
  auto prefixOf = [&](const Entry& e) { return tangler::prefixOf(folded, e); };
  auto suffixOf = [&](const Entry& e) { return tangler::suffixOf(folded, e); };
  classes.reserve(entries.size());
  prefixHashes.reserve(entries.size());
  std::vector<unsigned char>& out = m->records;
  // Enough for every layout: a header and a size for each name.
  out.reserve(folded.size() + entries.size() * (kClassHeader + kLargeName + 4));
  std::vector<uint32_t> suffixSizes;
  for (size_t first = 0; first < entries.size();) {
    const Entry& e = entries[first];
    size_t end = first + 1;
    while (end < entries.size() && entries[end].kind == e.kind &&
           entries[end].prefixSize == e.prefixSize && prefixOf(entries[end]) == prefixOf(e)) {
      ++end;
    }
    const uint64_t classRecord = out.size();
    std::vector<uint32_t>& prefixSizes = m->prefixSizes[e.kind];
    if (prefixSizes.empty() || prefixSizes.back() != e.prefixSize) {
      prefixSizes.push_back(e.prefixSize);
    }
    suffixSizes.clear();
    for (size_t i = first; i < end; ++i) {
      const auto size = static_cast<uint32_t>(suffixOf(entries[i]).size());
      if (suffixSizes.empty() || suffixSizes.back() != size) suffixSizes.push_back(size);
    }
    const bool large = end - first > kSmallClass;
    putU32(&out, e.prefixSize);
    putU32(&out, static_cast<uint32_t>(e.kind));
    putU32(&out, static_cast<uint32_t>(end - first));
    putU32(&out, large ? static_cast<uint32_t>(suffixSizes.size()) : 0);
    const std::string_view head = bytesOf(e, 0, e.prefixSize + extensionSize(e.kind));
    out.insert(out.end(), head.begin(), head.end());
    uint64_t h = classSeed(e.kind);
    for (size_t k = e.prefixSize; k-- > 0;) h = step(h, folded[e.text + k]);
    classes.push_back(Keyed{finish(h, e.prefixSize), classRecord});
    prefixHashes.push_back(h);
    if (large) {
      for (uint32_t size : suffixSizes) putU32(&out, size);
    }
    for (size_t i = first; i < end; ++i) {
      const std::string_view suffix = suffixOf(entries[i]);
      if (large) {
        uint64_t s = nameSeed(classRecord);
        for (char c : suffix) s = step(s, static_cast<unsigned char>(c));
        largeNames.push_back(Keyed{finish(s, suffix.size()), out.size()});
        putU64(&out, classRecord);
      }
      putU32(&out, entries[i].index);
      putU32(&out, static_cast<uint32_t>(suffix.size()));
      out.insert(out.end(), suffix.begin(), suffix.end());
    }
    first = end;
  }
}

// The prefix filter and the hash tables of classes and large classes' names.
void buildTables(const std::vector<uint64_t>& prefixHashes, const std::vector<Keyed>& classes,
                 const std::vector<Keyed>& largeNames, NameMatcher* m) {
  // 16 KiB at most, so that the filter stays in the nearest cache beside the
  // page text: past that, a look at it would cost as much as the table's.
  constexpr unsigned kMostFilterBits = 17;
  unsigned filterBits = 6;
  while (filterBits < kMostFilterBits &&
         (uint64_t(1) << filterBits) < 16 * uint64_t(prefixHashes.size())) {
    ++filterBits;
  }
  m->filterShift = 64 - filterBits;
  m->prefixFilter.assign(size_t(1) << (filterBits - 6), 0);
  for (uint64_t h : prefixHashes) {
    const uint64_t bit = h >> m->filterShift;
    m->prefixFilter[bit >> 6] |= uint64_t(1) << (bit & 63);
  }
  m->classSlots.assign(tableSize(classes.size()), 0);
  m->nameSlots.assign(tableSize(largeNames.size()), 0);
  for (const Keyed& c : classes) {
    insertSlot(&m->classSlots, c.hash, c.record);
  }
  for (const Keyed& n : largeNames) {
    insertSlot(&m->nameSlots, n.hash, n.record);
  }
}

}  // namespace

void buildNameMatcher(const std::vector<std::string_view>& names, NameMatcher* m) {
  *m = NameMatcher();
  std::vector<unsigned char> folded;
  std::vector<Entry> entries;
  foldNames(names, m, &folded, &entries);
  sortEntries(folded, &entries);
  std::vector<Keyed> classes;
  std::vector<Keyed> largeNames;
  std::vector<uint64_t> prefixHashes;  // each class's, unfinished
  writeClassRecords(folded, entries, m, &classes, &largeNames, &prefixHashes);
  std::vector<unsigned char>().swap(folded);
  std::vector<Entry>().swap(entries);
  buildTables(prefixHashes, classes, largeNames, m);
}

void startText(NameSearch* search) {
  search->window.clear();
  search->windowStart = 0;
  search->scanned = 0;
  search->end = 0;
}

void feedText(const NameMatcher& m, NameSearch* search, const unsigned char* data, size_t size,
              std::vector<uint32_t>* found) {
  // An anchor at a is tried once the text [a - longestPrefix, a + longestTail)
  // is at hand. Most are tried where the piece lies; those near its start
  // need the end of the piece before, kept in the window with the start of
  // this one appended.
  std::vector<unsigned char>& window = search->window;
  const size_t keep = m.longestPrefix + m.longestTail;
  const uint64_t start = search->end;
  search->end += size;
  if (!window.empty()) {
    window.insert(window.end(), data, data + std::min(size, keep));
    const uint64_t windowEnd = search->windowStart + window.size();
    if (windowEnd > search->scanned + m.longestTail) {
      const uint64_t to = windowEnd - m.longestTail;
      searchRange(m, Text{window.data(), window.size()},
                  static_cast<size_t>(search->scanned - search->windowStart),
                  static_cast<size_t>(to - search->windowStart), found);
      search->scanned = to;
    }
  }
  // Past the window's part, every anchor's bytes before it lie in this piece.
  if (search->end > search->scanned + m.longestTail) {
    const uint64_t to = search->end - m.longestTail;
    searchRange(m, Text{data, size}, static_cast<size_t>(search->scanned - start),
                static_cast<size_t>(to - start), found);
    search->scanned = to;
  }
  // What a later anchor may still need: the last keep bytes.
  if (size >= keep) {
    window.assign(data + (size - keep), data + size);
  } else {
    if (window.empty()) window.assign(data, data + size);
    if (window.size() > keep) {
      window.erase(window.begin(), window.end() - static_cast<ptrdiff_t>(keep));
    }
  }
  search->windowStart = search->end - window.size();
}

void endText(const NameMatcher& m, NameSearch* search, std::vector<uint32_t>* found) {
  std::vector<unsigned char>& window = search->window;
  if (search->scanned < search->end) {
    searchRange(m, Text{window.data(), window.size()},
                static_cast<size_t>(search->scanned - search->windowStart), window.size(), found);
  }
  startText(search);
}

}  // namespace tangler
