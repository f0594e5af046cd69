// Whether a stream goes to a person at a terminal, for output that only
// makes sense there (a progress line redrawn in place).
#pragma once

// True when the standard error stream is a terminal (a console on Windows).
bool standardErrorIsTerminal();
