#include "reffile/reference_file.h"

#include <string>

#include "platform/ascii_case.h"

namespace {

constexpr char kSeparator[] = "---------------";
constexpr size_t kPrefixLength = 7;
constexpr std::string_view kLineMark = " line#<";

void writeValueRecord(TextWriter& out, const char* prefix, const std::string& value,
                      uint32_t line) {
  out.write(prefix, kPrefixLength);
  out.write(value);
  out.write(kLineMark.data(), kLineMark.size());
  out.write(std::to_string(line));
  out.write(">\n", 2);
}

}  // namespace

void writeHeader(TextWriter& out, const std::string& directory) {
  out.write(std::string(kSeparator) + "\ncwd:   " + directory + "\n");
}

void writePage(TextWriter& out, const std::string& path) {
  out.write(std::string(kSeparator) + "\nname:  " + path + "\n");
}

void writeRef(TextWriter& out, const std::string& value, uint32_t line) {
  writeValueRecord(out, "ref:   ", value, line);
}

void writeMark(TextWriter& out, const std::string& value, uint32_t line) {
  writeValueRecord(out, "mark:  ", value, line);
}

void writeImage(TextWriter& out, const std::string& value, uint32_t line) {
  writeValueRecord(out, "image: ", value, line);
}

RecordKind recordKind(std::string_view line) {
  if (line == kSeparator) return RecordKind::Separator;
  if (line.size() < kPrefixLength) return RecordKind::Other;
  std::string_view prefix = line.substr(0, kPrefixLength);
  if (equalIgnoringCase(prefix, "cwd:   ")) return RecordKind::Header;
  if (equalIgnoringCase(prefix, "name:  ")) return RecordKind::Page;
  if (equalIgnoringCase(prefix, "ref:   ")) return RecordKind::Ref;
  if (equalIgnoringCase(prefix, "mark:  ")) return RecordKind::Mark;
  if (equalIgnoringCase(prefix, "image: ")) return RecordKind::Image;
  return RecordKind::Other;
}

RecordView viewRecord(std::string_view line) {
  RecordView record;
  record.kind = recordKind(line);
  if (record.kind == RecordKind::Other || record.kind == RecordKind::Separator) {
    record.value = line;
    return record;
  }
  std::string_view value = line.substr(kPrefixLength);
  if (record.kind == RecordKind::Ref || record.kind == RecordKind::Mark ||
      record.kind == RecordKind::Image) {
    // The number is split off at the last mark: a value may itself hold the
    // text " line#<", but the mark the writer added always comes after it.
    size_t at = findLastIgnoringCase(value, kLineMark);
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

Record parseRecord(std::string_view line) {
  const RecordView view = viewRecord(line);
  Record record;
  record.kind = view.kind;
  record.value.assign(view.value);
  record.line = view.line;
  return record;
}
