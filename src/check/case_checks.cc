#include "check/case_checks.h"

#include <string>
#include <vector>

#include "platform/directory.h"

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

bool hasSmallLetter(const std::string& text) {
  for (char c : text) {
    if (c >= 'a' && c <= 'z') return true;
  }
  return false;
}

bool lookUpStoredName(const std::string& reference, std::string* storedName,
                      DirectoryCache* cache) {
  std::vector<std::string> names = findFiles(reference, cache);
  if (names.empty()) return false;
  *storedName = names.front();
  return true;
}

void checkCase(const RunOptions& options, RunState& state, const std::string& reference,
               DirectoryCache* cache) {
  if (options.caseMode == CaseMode::None) return;
  std::string stored;
  bool hasStored = lookUpStoredName(reference, &stored, cache);
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
