#include <windows.h>

#include "platform/terminal.h"

bool standardErrorIsTerminal() {
  // A console answers GetConsoleMode; a file or a pipe does not.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

unsigned standardErrorColumns() {
  // The visible window of the screen buffer, not the buffer, which may be
  // far wider and scroll sideways.
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  const int columns = int(info.srWindow.Right) - int(info.srWindow.Left) + 1;
  return columns > 0 ? unsigned(columns) : 0;
}
