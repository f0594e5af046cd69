#include <windows.h>

#include "platform/terminal.h"

bool standardErrorIsTerminal() {
  // A console answers GetConsoleMode; a file or a pipe does not.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
