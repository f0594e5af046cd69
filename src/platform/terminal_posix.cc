#include <unistd.h>

#include "platform/terminal.h"

bool standardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}
