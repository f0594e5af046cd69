#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/terminal.h"

bool standardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

unsigned standardErrorColumns() {
  struct winsize size = {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}
