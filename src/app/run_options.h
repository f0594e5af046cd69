// The run options: everything the command line can set, read once by the
// command-line parser and only read afterwards by every phase.
#pragma once

#include <string>
#include <vector>

namespace tangler {

// The letter-case checks a run makes on every reference.
enum class CaseMode : char {
  None = 0,
  Different = 'd',  // the reference differs from the stored name
  Lower = 'l',      // complain about capital letters ("-cl")
  Upper = 'u',      // complain about small letters ("-cu")
};

struct RunOptions {
  int indentColumn = 25;                           // "-a": complaint column
  CaseMode caseMode = CaseMode::None;              // "-c", "-r"
  bool deleteReferenceFile = true;                 // "-d"
  bool failHttp = false;                           // "-h"
  std::string referenceFileName = "tangler~.txt";  // "-i"
  bool noKeyWait = false;                          // '-k' (inverted)
  bool hasReportFile = false;                      // "-o" given
  std::string reportFileName;                      // "-o"; standard output when not given
  bool referencesOnly = false;                     // "-r"
  bool orphanSearch = true;                        // "-u"
  bool failOtherSchemes = false;                   // "-:"
  std::vector<std::string> patterns;               // every argument that is not an option
};

}  // namespace tangler
