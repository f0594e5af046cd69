#include "check/reference_checker.h"

#include <string>

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
  std::string file = target;
  std::string anchor;
  size_t hash = target.find('#');
  bool hasAnchor = hash != std::string::npos;
  if (hasAnchor) {
    file = target.substr(0, hash);
    anchor = target.substr(hash + 1);
  } else if (checkFile(cx, "file", target)) {
    return;
  }
  // A bare "#top" is an anchor of the page itself.
  if (file.empty()) file = page;
  if (findPage(cx.pages, file, hasAnchor, anchor)) return;
  if (hasAnchor) {
    complain(cx.state, cx.options.indentColumn, "couldn't find " + quoted(file + "#" + anchor));
  } else {
    complain(cx.state, cx.options.indentColumn, "couldn't find " + quoted(file));
  }
}

void checkImage(CheckContext& cx, const std::string& target) {
  // Images on other hosts are not followed unless "-h" asks for it; then they
  // are looked for on disk like any other, and so reported missing.
  if (cx.options.failHttp || !startsWithIgnoringCase(target, "http://")) {
    checkFile(cx, "graphics", target);
  }
}

bool checkReferences(CheckContext& cx, TextReader& reader) {
  if (!reader.rewind()) return false;
  std::string line;
  while (reader.readLine(&line) && !reader.readError()) {
    RecordKind kind = recordKind(line);
    if (kind == RecordKind::Header) {
      cx.state.currentLine = 0;
    } else if (kind == RecordKind::Page) {
      cx.state.currentPage = parseRecord(line).value;
      cx.state.currentLine = 0;
    } else if (kind == RecordKind::Ref || kind == RecordKind::Image) {
      Record record = parseRecord(line);
      cx.state.currentLine = record.line;
      // The case complaints come before the link check's for the same record.
      checkCase(cx.options, cx.state, cx.fs, record.value);
      if (kind == RecordKind::Ref) {
        checkLink(cx, cx.state.currentPage, record.value);
      } else {
        checkImage(cx, record.value);
      }
    }
  }
  return !reader.readError();
}
