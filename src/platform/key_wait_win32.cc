// The key wait on Windows: one key-down event from the console's input
// buffer, read with ReadConsoleInputA so that nothing is echoed and no line
// has to be ended with Enter.
#include "platform/key_wait_win32.h"

#include <windows.h>

#include "platform/key_wait.h"

namespace {

// Keys that only change what another key means: holding Shift to type a
// capital must not end the wait before the capital comes.
bool isModifierKey(WORD key) {
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return true;
    default:
      return false;
  }
}

// The console's input, opened by name so that a redirected standard input
// does not answer instead of the user. Closed on every way out.
class ConsoleInput {
 public:
  ConsoleInput()
      : handle_(CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr)) {}
  ~ConsoleInput() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  ConsoleInput(const ConsoleInput&) = delete;
  ConsoleInput& operator=(const ConsoleInput&) = delete;

  // A handle that is really a console's (not a file or pipe of that name).
  bool isConsole() const {
    DWORD mode = 0;
    return handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode) != 0;
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

int keyOfConsoleEvent(bool keyDown, unsigned short virtualKey, char character) {
  if (!keyDown || isModifierKey(virtualKey)) return -1;
  return static_cast<unsigned char>(character);
}

int waitForKey() {
  ConsoleInput input;
  if (!input.isConsole()) return -1;
  // The console mode is left alone: ReadConsoleInputA neither echoes nor
  // waits for a line, and with processed input Ctrl-C still stops the run.
  // A key pressed before the call is still in the buffer and answers at once.
  for (;;) {
    INPUT_RECORD record;
    DWORD count = 0;
    if (!ReadConsoleInputA(input.get(), &record, 1, &count)) return -1;
    // Mouse, focus and window-size events come through the same buffer.
    if (count != 1 || record.EventType != KEY_EVENT) continue;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    const int byte = keyOfConsoleEvent(key.bKeyDown != 0, key.wVirtualKeyCode, key.uChar.AsciiChar);
    if (byte >= 0) return byte;
  }
}
