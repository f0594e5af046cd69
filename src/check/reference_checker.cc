#include "check/reference_checker.h"

#include <string>
#include <string_view>

#include "check/case_checks.h"
#include "platform/ascii_case.h"
#include "reffile/reference_file.h"

namespace {

// The extension of target: its last '.' and what follows, within the last
// path component. Empty when that component has no dot.
std::string_view extensionOf(std::string_view target) {
  size_t lastSeparator = target.find_last_of("\\/");
  size_t nameStart = lastSeparator == std::string_view::npos ? 0 : lastSeparator + 1;
  size_t dot = target.rfind('.');
  if (dot == std::string_view::npos || dot < nameStart) return {};
  return target.substr(dot);
}

}  // namespace

bool checkFile(CheckContext& cx, const char* kind, const std::string& target) {
  std::string_view extension = extensionOf(target);
  if (equalIgnoringCase(extension, ".htm") || equalIgnoringCase(extension, ".html")) return false;
  if (!cx.fs.pathExists(target)) {
    complain(cx.state, cx.options.indentColumn,
             std::string("couldn't find ") + kind + " " + quoted(target));
  }
  return true;
}

void checkLink(CheckContext& cx, const std::string& page, const std::string& target) {
  if (startsWithIgnoringCase(target, "file:")) {
    // A warning, not a fault the exit status should show: it carries its own
    // page and line and is never padded.
    cx.state.report.write(page + " (" + std::to_string(cx.state.currentLine) +
                          "): evil \"file:\" ref " + quoted(target) + "\n");
    return;
  }
  if (startsWithIgnoringCase(target, "http:")) {
    if (cx.options.failHttp) {
      complain(cx.state, cx.options.indentColumn, "don't understand " + quoted(target));
    }
    return;
  }
  if (target.find(':') != std::string::npos) {
    if (cx.options.failOtherSchemes) {
      complain(cx.state, cx.options.indentColumn, "don't understand " + quoted(target));
    }
    return;
  }
  std::string_view file = target;
  std::string_view anchor;
  size_t hash = target.find('#');
  bool hasAnchor = hash != std::string::npos;
  if (hasAnchor) {
    file = file.substr(0, hash);
    anchor = std::string_view(target).substr(hash + 1);
  } else if (checkFile(cx, "file", target)) {
    return;
  }
  // A bare "#top" is an anchor of the page itself.
  if (file.empty()) file = page;
  if (findPage(cx.pages, file, hasAnchor, anchor)) return;
  std::string missing(file);
  if (hasAnchor) {
    missing += '#';
    missing += anchor;
  }
  complain(cx.state, cx.options.indentColumn, "couldn't find " + quoted(missing));
}

void checkImage(CheckContext& cx, const std::string& target) {
  // Images on other hosts are not followed unless "-h" asks for it; then they
  // are looked for on disk like any other, and so reported missing.
  if (cx.options.failHttp || !startsWithIgnoringCase(target, "http://")) {
    checkFile(cx, "graphics", target);
  }
}

namespace {

// The page a ref record's value may be looked up as, for asking for its
// memory early: the part before any '#'. Empty when there is none to ask
// for (a bare anchor names the current page, which is known only later).
std::string_view pageAhead(std::string_view line) {
  if (recordKind(line) != RecordKind::Ref) return {};
  const std::string_view value = viewRecord(line).value;
  return value.substr(0, value.find('#'));
}

void checkRecord(CheckContext& cx, const std::string& line, std::string* value) {
  RecordKind kind = recordKind(line);
  if (kind == RecordKind::Header) {
    cx.state.currentLine = 0;
  } else if (kind == RecordKind::Page) {
    cx.state.currentPage.assign(viewRecord(line).value);
    cx.state.currentLine = 0;
  } else if (kind == RecordKind::Ref || kind == RecordKind::Image) {
    const RecordView record = viewRecord(line);
    value->assign(record.value);
    cx.state.currentLine = record.line;
    // The case complaints come before the link check's for the same record.
    checkCase(cx.options, cx.state, cx.fs, *value);
    if (kind == RecordKind::Ref) {
      checkLink(cx, cx.state.currentPage, *value);
    } else {
      checkImage(cx, *value);
    }
  }
}

}  // namespace

bool checkReferences(CheckContext& cx, TextReader& reader) {
  if (!reader.rewind()) return false;
  // Records are taken a few ahead of the one being judged, and the page
  // look-ups they will make ask for their memory in two steps meanwhile, so
  // that the waits of many look-ups overlap instead of adding up. Only lines
  // the reader holds already are taken ahead: the file is read at the same
  // moments as without looking ahead, whatever else writes to it meanwhile.
  constexpr size_t kAhead = 16;
  std::string lines[kAhead];
  uint64_t hashes[kAhead] = {};
  bool hashed[kAhead] = {};
  size_t read = 0;
  std::string value;
  auto takeAhead = [&](size_t at) {
    const std::string_view page = pageAhead(lines[at]);
    hashed[at] = !page.empty();
    if (hashed[at]) {
      hashes[at] = pageHash(page);
      prefetchPageSlot(cx.pages, hashes[at]);
    }
  };
  for (size_t done = 0;; ++done) {
    if (done == read) {
      if (!reader.readLine(&lines[read % kAhead]) || reader.readError()) break;
      takeAhead(read % kAhead);
      ++read;
    }
    while (read - done < kAhead && reader.readBufferedLine(&lines[read % kAhead])) {
      takeAhead(read % kAhead);
      ++read;
    }
    const size_t half = done + kAhead / 2;
    if (half < read && hashed[half % kAhead]) prefetchPageEntry(cx.pages, hashes[half % kAhead]);
    checkRecord(cx, lines[done % kAhead], &value);
  }
  return !reader.readError();
}
