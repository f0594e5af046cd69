// Waiting for one key press at the end of a references-only run.
#pragma once

// Waits for one key press on the controlling terminal (not the standard
// input, which may be redirected), in raw mode without echo, and returns its
// first byte. A key that sends several bytes (an arrow key) is consumed
// whole. A key pressed before the call is taken at once. The terminal's
// settings are restored on every way out, Ctrl-C and SIGTERM included (the
// signal is then raised again with its default action). Returns -1 at once
// where there is no terminal.
int waitForKey();
