// The reference file carries the scan's findings to the later phases, so that
// no phase holds the links of every page in memory at once. Its record format
// is kept here and nowhere else: one record a line, each beginning with a
// seven-character prefix:
//
//   ---------------                   separator, before the header and every page
//   cwd:   <current directory>        header, once, lower case
//   name:  <page path>                page, lower case, starts a page block
//   ref:   <value> line#<N>           A HREF and FRAME SRC values
//   mark:  <value> line#<N>           A NAME values
//   image: <value> line#<N>           IMG SRC and BODY BACKGROUND values
//
// Values keep their letter case and hold no control characters. Prefixes are
// recognised in any letter case when read back. Records are read back as
// whole lines, so an over-long record keeps its line number and can never
// split into a forged record of another kind. Nothing outside this file
// builds or parses a record line.
#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/text_file.h"

namespace tangler {

enum class RecordKind { Other, Separator, Header, Page, Ref, Mark, Image };

// Each kind's prefix as the writer writes it. Each begins with a small
// letter of its own, so that one byte tells a line's kind: the readers that
// pass over lines by their first byte rely on it.
inline constexpr std::string_view kHeaderPrefix = "cwd:   ";
inline constexpr std::string_view kPagePrefix = "name:  ";
inline constexpr std::string_view kRefPrefix = "ref:   ";
inline constexpr std::string_view kMarkPrefix = "mark:  ";
inline constexpr std::string_view kImagePrefix = "image: ";
constexpr bool prefixesStartApart() {
  const std::string_view all[] = {kHeaderPrefix, kPagePrefix, kRefPrefix, kMarkPrefix,
                                  kImagePrefix};
  for (size_t i = 0; i < std::size(all); ++i) {
    if (all[i].size() != 7 || all[i][0] < 'a' || all[i][0] > 'z') return false;
    for (size_t j = 0; j < i; ++j) {
      if (all[i][0] == all[j][0]) return false;
    }
  }
  return true;
}
static_assert(prefixesStartApart(), "a record's kind must show in its first byte");

// --- Writing (scan phase). The writer is created by the run driver.
void writeHeader(TextWriter& out, const std::string& directory);
void writePage(TextWriter& out, const std::string& path);
void writeRef(TextWriter& out, const std::string& value, uint32_t line);
void writeMark(TextWriter& out, const std::string& value, uint32_t line);
void writeImage(TextWriter& out, const std::string& value, uint32_t line);

// Ref, mark and image records put together on a thread that must not touch
// the reference file, to be written later by the one that does.
// writePendingRecords() makes exactly the write calls that writeRef() and
// the others would have made, piece for piece, so the file is flushed at the
// same moments: a run that reads its own reference file as a page sees what
// had been flushed when its turn came.
struct PendingRecords {
  struct Sizes {
    uint32_t value;
    uint32_t tail;  // the line mark, number and line feed
  };
  std::string bytes;  // the records, one after another, as they are written, in
  size_t used = 0;    // [0, used); the rest is room, so that a record costs no resize
  std::vector<Sizes> sizes;
};

// Appends a Ref, Mark or Image record (other kinds add nothing).
void addPendingRecord(PendingRecords* pending, RecordKind kind, std::string_view value,
                      uint32_t line);

// Writes records [first, end) of pending, the first starting at byte offset
// `at` of pending.bytes.
void writePendingRecords(TextWriter& out, const PendingRecords& pending, size_t first, size_t end,
                         size_t at);

// Told of each page and mark record as the scan writes it, in file order,
// with the value the record reads back as: the check's look-up of pages and
// anchors can be put together from them without reading the file again.
using RecordTap = std::function<void(RecordKind kind, std::string_view value)>;

// Tells tap of the mark records among pending records [first, end), the
// first starting at byte offset `at` of pending.bytes.
void tapPendingMarks(const RecordTap& tap, const PendingRecords& pending, size_t first, size_t end,
                     size_t at);

// --- Reading (check and orphan phases).

// The record whose prefix line starts with, compared ignoring case over the
// seven characters (Separator for the fifteen '-' exactly, Other for anything
// else).
RecordKind recordKind(std::string_view line);

// Calls take(line) for each line of text (whole lines, each ending with a
// line feed) that begins with 'n' or 'N', as every page record does: the
// lines between are passed over sixteen bytes at a time where the host
// allows, instead of one search for each line's end. For readers that want
// the page records alone.
template <class Take>
inline void forEachLineStartingWithN(std::string_view text, Take take) {
  static_assert(kPagePrefix[0] == 'n');
  auto takeAt = [&](size_t at) { take(text.substr(at, text.find('\n', at) - at)); };
  if (!text.empty() && (text[0] | 0x20) == 'n') takeAt(0);
  size_t at = 0;  // lines starting after text[at] are yet to be looked at
#if defined(__SSE2__)
  const __m128i lineFeed = _mm_set1_epi8('\n');
  const __m128i small = _mm_set1_epi8(0x20);
  const __m128i n = _mm_set1_epi8('n');
  for (; at + 17 <= text.size(); at += 16) {
    const auto* p = reinterpret_cast<const __m128i*>(text.data() + at);
    const __m128i ends = _mm_cmpeq_epi8(_mm_loadu_si128(p), lineFeed);
    const __m128i next = _mm_or_si128(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at + 1)), small);
    auto found =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(ends, _mm_cmpeq_epi8(next, n))));
    while (found != 0) {
      takeAt(at + static_cast<size_t>(std::countr_zero(found)) + 1);
      found &= found - 1;
    }
  }
#endif
  for (; at + 1 < text.size(); ++at) {
    if (text[at] == '\n' && (text[at + 1] | 0x20) == 'n') takeAt(at + 1);
  }
}

// One record taken apart, as a view into the line it was read from: valid
// while the line is.
struct RecordView {
  RecordKind kind = RecordKind::Other;
  std::string_view value;
  uint32_t line = 0;
};

// Splits a line into its kind and value. Ref, mark and image records have
// their line number split off at the last " line#<" (found ignoring case):
// the decimal digits after it, modulo 2^32, reading stopping at the first
// non-digit (no digits give 0). Page and header records are taken whole, with
// line 0.
RecordView viewRecord(std::string_view line);
// The same, for a caller that has the line's recordKind() at hand.
RecordView viewRecord(std::string_view line, RecordKind kind);

}  // namespace tangler
