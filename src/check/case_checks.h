// Optional complaints about letter case in references: capital letters
// ("-cl"), small letters ("-cu"), and a reference that writes a file's name
// in a letter case other than the stored one ("-cd", "-r", and both of the
// others).
#pragma once

#include <string>

#include "app/run_options.h"
#include "platform/directory.h"
#include "report/run_state.h"

// Runs the case checks of options.caseMode on one whole reference value
// (scheme, directory and anchor included). The complaints carry the run
// state's current page and line.
// The stored name is looked up through cache (nullptr: afresh).
void checkCase(const RunOptions& options, RunState& state, const std::string& reference,
               DirectoryCache* cache);

// True when text holds an ASCII capital letter outside a percent escape (a
// '%' followed by at least two more characters skips those three).
bool hasCapitalLetter(const std::string& text);

// True when text holds an ASCII small letter anywhere (escapes included).
bool hasSmallLetter(const std::string& text);

// The stored name of the first file that reference matches as a pattern, in
// its stored case and without any directory part; false when none does.
bool lookUpStoredName(const std::string& reference, std::string* storedName, DirectoryCache* cache);
