#include "check/case_checks.h"

#include <string>

namespace tangler {

namespace {

// True when text holds an ASCII capital letter outside a percent escape: the
// hex digits of "%2F" say nothing about the author's letter case. A '%' with
// fewer than two characters after it is no escape.
bool hasCapitalLetter(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      i += 2;  // a percent escape such as %2F is not judged
    } else if (text[i] >= 'A' && text[i] <= 'Z') {
      return true;
    }
  }
  return false;
}

// True when text holds an ASCII small letter anywhere, escapes included.
bool hasSmallLetter(const std::string& text) {
  for (char c : text) {
    if (c >= 'a' && c <= 'z') return true;
  }
  return false;
}

}  // namespace

void checkCase(const RunOptions& options, RunState& state, FileSystem& fs,
               const std::string& reference) {
  if (options.caseMode == CaseMode::None) return;
  // The reference is taken as a pattern: the stored name of the first file
  // it matches, in its stored case and without any directory part.
  std::string stored;
  const bool hasStored = fs.findFirstFile(reference, &stored);
  int indent = options.indentColumn;
  if (options.caseMode == CaseMode::Lower) {
    if (hasCapitalLetter(reference)) complain(state, indent, "upper case in " + quoted(reference));
    if (hasStored && hasCapitalLetter(stored)) {
      complain(state, indent, "upper case in file name " + quoted(stored));
    }
  } else if (options.caseMode == CaseMode::Upper) {
    if (hasSmallLetter(reference)) complain(state, indent, "lower case in " + quoted(reference));
    if (hasStored && hasSmallLetter(stored)) {
      complain(state, indent, "lower case in file name " + stored);
    }
  }
  if (hasStored && stored != reference) {
    complain(state, indent,
             "case in " + quoted(reference) + " differs from file name " + quoted(stored));
  }
}

}  // namespace tangler
