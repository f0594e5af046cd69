// The scan phase: reads each page a pattern matches and writes its block of
// records to the reference file. Only quoted values of A HREF, A NAME, FRAME
// SRC, IMG SRC and BODY BACKGROUND are kept, each with the line its value
// ends on, which is the line a complaint about it will name.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/text_file.h"
#include "reffile/reference_file.h"
#include "report/run_state.h"

namespace tangler {

// Scans every page that pattern matches into refFile. A pattern that matches
// nothing gives the counted note "no <pattern>". Returns false when a page
// could not be opened or read: the fatal message is written and the run must
// end with status 3. With helpers > 0 that many more threads open and read
// pages ahead while this one writes their records; refFile, the messages and
// the count come out the same as with none, including for a page that is
// refFile itself. A tap, when given, is told of the page and mark records
// as they are written.
bool scanPattern(RunState& state, FileSystem& fs, TextWriter& refFile, const std::string& pattern,
                 unsigned helpers, const RecordTap* tap = nullptr);

// Scans one page into refFile, recording it under its lower-cased path.
// Returns false (fatal message written) when the page cannot be opened or
// read.
bool scanPage(RunState& state, FileSystem& fs, TextWriter& refFile, const std::string& path,
              const RecordTap* tap = nullptr);

// Extracts the records of one page that is already open in input (the page
// record itself is not written). Exposed so that the extraction can be tested
// and fuzzed without files on disk.
void extractLinks(TextReader& input, TextWriter& refFile);

}  // namespace tangler
