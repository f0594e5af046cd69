// The Windows key wait: which console events end it, and that it does not
// wait where there is no console to press a key on.
#include "platform/key_wait_win32.h"

#include <windows.h>

#include <chrono>

#include "platform/key_wait.h"
#include "platform_test_support.h"

namespace {

TEST(ConsoleKeyEvent, OnlyAKeyGoingDownThatIsNoModifierEndsTheWait) {
  struct Case {
    const char* label;
    bool keyDown;
    unsigned short virtualKey;
    char character;
    int key;
  };
  const Case cases[] = {
      {"letter down", true, 'Q', 'q', 'q'},
      {"letter up", false, 'Q', 'q', -1},
      {"enter", true, VK_RETURN, '\r', '\r'},
      {"escape", true, VK_ESCAPE, 0x1B, 0x1B},
      {"arrow: no character", true, VK_LEFT, 0, 0},
      {"function key", true, VK_F1, 0, 0},
      {"high byte unsigned", true, 'E', char(0xE9), 0xE9},
      {"ctrl-letter", true, 'A', 0x01, 0x01},
      {"shift alone", true, VK_SHIFT, 0, -1},
      {"left shift alone", true, VK_LSHIFT, 0, -1},
      {"ctrl alone", true, VK_CONTROL, 0, -1},
      {"right ctrl alone", true, VK_RCONTROL, 0, -1},
      {"alt alone", true, VK_MENU, 0, -1},
      {"windows key alone", true, VK_LWIN, 0, -1},
      {"caps lock", true, VK_CAPITAL, 0, -1},
      {"num lock", true, VK_NUMLOCK, 0, -1},
      {"scroll lock", true, VK_SCROLL, 0, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(keyOfConsoleEvent(c.keyDown, c.virtualKey, c.character), c.key) << c.label;
  }
}

TEST(KeyWait, ReturnsAtOnceWithoutAConsole) {
  const HANDLE console =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console != INVALID_HANDLE_VALUE) {
    CloseHandle(console);
    GTEST_SKIP() << "this run has a console; the wait would take a real key";
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitForKey(), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
