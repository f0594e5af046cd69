#include "reffile/reference_file.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/ascii_case.h"

namespace tangler {

namespace {

constexpr char kSeparator[] = "---------------";
constexpr size_t kPrefixLength = kPagePrefix.size();
constexpr std::string_view kLineMark = " line#<";

constexpr size_t kLongestTail = 7 + 10 + 2;  // " line#<", 2^32 - 1, ">\n"
static_assert(kLongestTail == kLineMark.size() + std::size("4294967295") - 1 + 2);

// The line mark and number are put together in place: one record is
// written for every link of every page. Returns the size of the tail, at
// most kLongestTail.
size_t formatTail(uint32_t line, char* tail) {
  std::memcpy(tail, kLineMark.data(), kLineMark.size());
  char digits[10];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + line % 10);
    line /= 10;
  } while (line != 0);
  size_t size = kLineMark.size();
  while (count > 0) tail[size++] = digits[--count];
  tail[size++] = '>';
  tail[size++] = '\n';
  return size;
}

void writeValueRecord(TextWriter& out, const char* prefix, const std::string& value,
                      uint32_t line) {
  char tail[32];
  const size_t size = formatTail(line, tail);
  out.write(prefix, kPrefixLength);
  out.write(value);
  out.write(tail, size);
}

const char* valuePrefix(RecordKind kind) {
  switch (kind) {
    case RecordKind::Ref:
      return kRefPrefix.data();
    case RecordKind::Mark:
      return kMarkPrefix.data();
    case RecordKind::Image:
      return kImagePrefix.data();
    default:
      return nullptr;
  }
}

// Where the writer's own line mark begins when value ends with it as
// written (" line#<", digits, '>'), npos otherwise; *number is then the
// digits' number modulo 2^32, added up from the last digit back (the same
// as reading them forward). That mark is the last one: nothing after it
// holds the blank a mark begins with.
size_t writtenMarkAt(std::string_view value, uint32_t* number) {
  if (value.empty() || value.back() != '>') return std::string_view::npos;
  size_t digits = value.size() - 1;
  uint32_t sum = 0;
  uint32_t place = 1;
  while (digits > 0 && value[digits - 1] >= '0' && value[digits - 1] <= '9') {
    sum += static_cast<uint32_t>(value[digits - 1] - '0') * place;
    place *= 10u;
    --digits;
  }
  if (digits < kLineMark.size()) return std::string_view::npos;
  const size_t at = digits - kLineMark.size();
  if (std::memcmp(value.data() + at, kLineMark.data(), kLineMark.size()) != 0) {
    return std::string_view::npos;
  }
  *number = sum;
  return at;
}

}  // namespace

void writeHeader(TextWriter& out, const std::string& directory) {
  out.write(std::string(kSeparator) + "\n" + std::string(kHeaderPrefix) + directory + "\n");
}

void writePage(TextWriter& out, const std::string& path) {
  out.write(std::string(kSeparator) + "\n" + std::string(kPagePrefix) + path + "\n");
}

void writeRef(TextWriter& out, const std::string& value, uint32_t line) {
  writeValueRecord(out, valuePrefix(RecordKind::Ref), value, line);
}

void writeMark(TextWriter& out, const std::string& value, uint32_t line) {
  writeValueRecord(out, valuePrefix(RecordKind::Mark), value, line);
}

void writeImage(TextWriter& out, const std::string& value, uint32_t line) {
  writeValueRecord(out, valuePrefix(RecordKind::Image), value, line);
}

void addPendingRecord(PendingRecords* pending, RecordKind kind, std::string_view value,
                      uint32_t line) {
  const char* prefix = valuePrefix(kind);
  if (prefix == nullptr) return;
  std::string& bytes = pending->bytes;
  const size_t longest = kPrefixLength + value.size() + kLongestTail;
  if (bytes.size() - pending->used < longest) {
    bytes.resize(std::max(bytes.size() * 2, pending->used + longest + 4096));
  }
  char* out = bytes.data() + pending->used;
  std::memcpy(out, prefix, kPrefixLength);
  if (!value.empty()) std::memcpy(out + kPrefixLength, value.data(), value.size());
  const size_t tailSize = formatTail(line, out + kPrefixLength + value.size());
  pending->used += kPrefixLength + value.size() + tailSize;
  pending->sizes.push_back({static_cast<uint32_t>(value.size()), static_cast<uint32_t>(tailSize)});
}

void writePendingRecords(TextWriter& out, const PendingRecords& pending, size_t first, size_t end,
                         size_t at) {
  const char* data = pending.bytes.data() + at;
  // Records that fit the writer's buffer whole go in as one copy; the
  // record that does not is written piece by piece, flushing where its
  // pieces would.
  const char* run = data;
  size_t room = out.room();
  for (size_t i = first; i < end; ++i) {
    const PendingRecords::Sizes& sizes = pending.sizes[i];
    const size_t size = kPrefixLength + sizes.value + sizes.tail;
    if (size_t(data - run) + size <= room) {
      data += size;
      continue;
    }
    if (data != run) out.write(run, size_t(data - run));
    out.write(data, kPrefixLength);
    data += kPrefixLength;
    out.write(data, sizes.value);
    data += sizes.value;
    out.write(data, sizes.tail);
    data += sizes.tail;
    run = data;
    room = out.room();
  }
  if (data != run) out.write(run, size_t(data - run));
}

void tapPendingMarks(const RecordTap& tap, const PendingRecords& pending, size_t first, size_t end,
                     size_t at) {
  const char* data = pending.bytes.data() + at;
  for (size_t i = first; i < end; ++i) {
    const PendingRecords::Sizes& sizes = pending.sizes[i];
    if (data[0] == kMarkPrefix[0])
      tap(RecordKind::Mark, std::string_view(data + kPrefixLength, sizes.value));
    data += kPrefixLength + sizes.value + sizes.tail;
  }
}

RecordKind recordKind(std::string_view line) {
  if (line == kSeparator) return RecordKind::Separator;
  if (line.size() < kPrefixLength) return RecordKind::Other;
  // Every prefix begins with a letter of its own (prefixesStartApart()), so
  // one comparison settles each line.
  std::string_view prefix = line.substr(0, kPrefixLength);
  // The writer's own records are in lower case: one compare each.
  auto is = [prefix](std::string_view expected) {
    return std::memcmp(prefix.data(), expected.data(), kPrefixLength) == 0 ||
           equalIgnoringCase(prefix, expected);
  };
  switch (toLowerAscii(line[0])) {
    case kHeaderPrefix[0]:
      return is(kHeaderPrefix) ? RecordKind::Header : RecordKind::Other;
    case kPagePrefix[0]:
      return is(kPagePrefix) ? RecordKind::Page : RecordKind::Other;
    case kRefPrefix[0]:
      return is(kRefPrefix) ? RecordKind::Ref : RecordKind::Other;
    case kMarkPrefix[0]:
      return is(kMarkPrefix) ? RecordKind::Mark : RecordKind::Other;
    case kImagePrefix[0]:
      return is(kImagePrefix) ? RecordKind::Image : RecordKind::Other;
    default:
      return RecordKind::Other;
  }
}

RecordView viewRecord(std::string_view line) {
  return viewRecord(line, recordKind(line));
}

RecordView viewRecord(std::string_view line, RecordKind kind) {
  RecordView record;
  record.kind = kind;
  if (record.kind == RecordKind::Other || record.kind == RecordKind::Separator) {
    record.value = line;
    return record;
  }
  std::string_view value = line.substr(kPrefixLength);
  if (record.kind == RecordKind::Ref || record.kind == RecordKind::Mark ||
      record.kind == RecordKind::Image) {
    // The number is split off at the last mark: a value may itself hold the
    // text " line#<", but the mark the writer added always comes after it.
    uint32_t written = 0;
    if (const size_t at = writtenMarkAt(value, &written); at != std::string_view::npos) {
      record.line = written;
      record.value = value.substr(0, at);
      return record;
    }
    const size_t at = findLastIgnoringCase(value, kLineMark);
    if (at != std::string_view::npos) {
      uint32_t number = 0;
      for (size_t i = at + kLineMark.size(); i < value.size(); ++i) {
        char c = value[i];
        if (c < '0' || c > '9') break;
        number = number * 10u + static_cast<uint32_t>(c - '0');
      }
      record.line = number;
      value = value.substr(0, at);
    }
  }
  record.value = value;
  return record;
}

}  // namespace tangler
