// Finds which of a set of names occur in a text, ignoring ASCII case, in one
// pass over the text whatever the number of names.
//
// Every name the orphan search looks for holds one of a few extensions
// (".htm", ".jpg", ".gif", ".png", ".exe", ".zip", ".dmg"), and an occurrence
// of a name in a text holds that extension at the same place. So the text is
// searched for the extensions alone, at the speed of memchr() looking for
// their dot, and only round each one found are names tried: every name is
// anchored at the first extension it holds, names anchored alike and with
// the same bytes before the anchor form a class, and the classes and names
// are found in hash tables keyed by the bytes before and after the anchor.
// Names without any of the extensions (a host whose wildcards also match
// other spellings could give such) are tried at every byte that begins one.
//
// The memory taken is the names' bytes and a few words for each name,
// whatever bytes the names hold. No name holds a control byte, so no match
// crosses a line end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tangler {

struct NameMatcher {
  static constexpr int kAnchorKinds = 8;  // the seven extensions, then none
  // Per kind of anchor: the distinct numbers of bytes names hold before it,
  // ascending.
  std::vector<uint32_t> prefixSizes[kAnchorKinds];
  // Every class and every name of a large class as one record in one block,
  // so that trying one costs a look in a table and a look at its record.
  // A class record: its prefix size, kind, number of names and number of
  // distinct suffix sizes, then its folded prefix and extension; then, for a
  // small class, each name's number, suffix size and folded suffix, or, for
  // a large one, its suffix sizes. A name record (large classes): its
  // class's record, number, suffix size and folded suffix.
  std::vector<unsigned char> records;
  // Open addressing; a slot is its hash's top 24 bits << 40 | record + 1,
  // and 0 when empty.
  std::vector<uint64_t> classSlots;  // by the hash of (kind, folded prefix)
  std::vector<uint64_t> nameSlots;   // by the hash of (class record, folded suffix)
  // A bit for each class (16 bits to a class up to 8,192 classes, fewer
  // past that), set by the hash of its folded prefix before that hash is
  // finished: most places where a prefix of some size is tried hold no
  // class's prefix, and the bit says so without finishing the hash or
  // looking in the table.
  std::vector<uint64_t> prefixFilter;
  unsigned filterShift = 63;  // the hash's top bits pick the bit
  bool nameByte[256] = {};    // bytes some name holds, either case
  bool firstByte[256] = {};   // first bytes of the names without an extension, either case
  size_t longestPrefix = 0;   // most bytes before an anchor
  size_t longestTail = 0;     // most bytes from an anchor to the end of a name
};

// Builds the matcher for names; found() reports a name by its index in
// names. Names equal but for case must be given once. Empty names are never
// found.
void buildNameMatcher(const std::vector<std::string_view>& names, NameMatcher* matcher);

// One text being searched, fed in pieces. Between pieces it keeps only the
// few bytes at the end that a name can span. Positions count from the start
// of the text.
struct NameSearch {
  std::vector<unsigned char> window;  // the text's last bytes
  uint64_t windowStart = 0;
  uint64_t scanned = 0;  // anchors before this have been tried
  uint64_t end = 0;      // bytes fed so far
};

// Starts a new text.
void startText(NameSearch* search);

// Searches the next piece of the text, appending the index of every name
// occurrence settled so far to *found (an occurrence near the piece's end may
// wait for the next piece).
void feedText(const NameMatcher& m, NameSearch* search, const unsigned char* data, size_t size,
              std::vector<uint32_t>* found);

// Ends the text, appending what the last piece still held.
void endText(const NameMatcher& m, NameSearch* search, std::vector<uint32_t>* found);

}  // namespace tangler
