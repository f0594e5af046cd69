// The scan phase: for each page a pattern matches, the page's block in the
// reference file, holding its hyperlinks (A HREF), frame sources (FRAME SRC),
// named anchors (A NAME), images (IMG SRC) and backgrounds (BODY BACKGROUND)
// in page order, each with the line on which its value ended.
#pragma once

#include <string>

#include "platform/text_file.h"
#include "report/run_state.h"

// Scans every page that pattern matches into refFile. A pattern that matches
// nothing gives the counted note "no <pattern>". Returns false when a page
// could not be opened: the fatal message is written and the run must end with
// status 3.
bool scanPattern(RunState& state, TextWriter& refFile, const std::string& pattern);

// Scans one page into refFile, recording it under its lower-cased path.
// Returns false (fatal message written) when the page cannot be opened.
bool scanPage(RunState& state, TextWriter& refFile, const std::string& path);

// Extracts the records of one page that is already open in input (the page
// record itself is not written). Exposed so that the extraction can be tested
// and fuzzed without files on disk.
void extractLinks(TextReader& input, TextWriter& refFile);
