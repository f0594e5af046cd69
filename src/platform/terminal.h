// Whether a stream goes to a person at a terminal, for output that only
// makes sense there (a progress line redrawn in place), and how wide that
// terminal is.
#pragma once

// True when the standard error stream is a terminal (a console on Windows).
bool standardErrorIsTerminal();

// The width in columns of the terminal (console window) that the standard
// error stream shows on; 0 when it is no terminal or the system cannot say.
// Asked afresh each time, so a window resized meanwhile is seen.
unsigned standardErrorColumns();
