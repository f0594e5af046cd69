#include "platform/key_wait.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The signals that would otherwise end the run with the terminal left raw.
constexpr int kCaughtSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof(kCaughtSignals) / sizeof(kCaughtSignals[0]);

// What the signal handler needs, set up before the terminal goes raw. Plain
// globals: a handler may touch nothing else.
int g_ttyFd = -1;
termios g_savedTermios;
struct sigaction g_previous[kSignalCount];
bool g_installed[kSignalCount];
volatile sig_atomic_t g_signalled = 0;

void restoreOnSignal(int sig) {
  const int savedErrno = errno;
  if (g_ttyFd >= 0) tcsetattr(g_ttyFd, TCSANOW, &g_savedTermios);
  for (int i = 0; i < kSignalCount; ++i) {
    if (kCaughtSignals[i] == sig) sigaction(sig, &g_previous[i], nullptr);
  }
  g_signalled = 1;
  // Blocked while this handler runs; delivered with the previous action as
  // soon as it returns.
  raise(sig);
  errno = savedErrno;
}

void installHandlers() {
  g_signalled = 0;
  for (int i = 0; i < kSignalCount; ++i) {
    g_installed[i] = false;
    struct sigaction current;
    if (sigaction(kCaughtSignals[i], nullptr, &current) != 0) continue;
    // A signal the process was told to ignore (nohup) stays ignored.
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_handler = restoreOnSignal;
    sigemptyset(&action.sa_mask);
    for (int s : kCaughtSignals) sigaddset(&action.sa_mask, s);
    action.sa_flags = 0;  // no SA_RESTART: read() must come back to look
    if (sigaction(kCaughtSignals[i], &action, &g_previous[i]) == 0) g_installed[i] = true;
  }
}

void removeHandlers() {
  for (int i = 0; i < kSignalCount; ++i) {
    if (g_installed[i]) sigaction(kCaughtSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
}

// One byte from the terminal; 0 when none came in time (VMIN 0), -1 on an
// error or when a signal has already put the terminal back.
int readByte(int fd, unsigned char* byte) {
  for (;;) {
    const ssize_t n = ::read(fd, byte, 1);
    if (n >= 0) return int(n);
    if (errno != EINTR || g_signalled) return -1;
  }
}

// An escape sequence (an arrow key, a function key) arrives as a burst of
// bytes right after the ESC: take whatever follows within a tenth of a second
// so that the rest is not left for whoever reads the terminal next.
void drainEscapeSequence(int fd, const termios& raw) {
  termios timed = raw;
  timed.c_cc[VMIN] = 0;
  timed.c_cc[VTIME] = 1;
  if (tcsetattr(fd, TCSANOW, &timed) != 0) return;
  unsigned char rest;
  // Bounded, so that a held-down key cannot keep the wait going for ever.
  for (int i = 0; i < 64 && readByte(fd, &rest) == 1; ++i) {
  }
}

}  // namespace

int waitForKey() {
  int fd;
  do {
    fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  termios saved;
  if (tcgetattr(fd, &saved) != 0) {
    ::close(fd);
    return -1;
  }
  g_savedTermios = saved;
  g_ttyFd = fd;
  installHandlers();

  termios raw = saved;
  raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
  raw.c_lflag |= ISIG;  // Ctrl-C must still stop the run
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  int key = -1;
  // TCSANOW, not TCSAFLUSH: a key typed ahead of the prompt is the answer.
  if (tcsetattr(fd, TCSANOW, &raw) == 0) {
    unsigned char byte = 0;
    if (readByte(fd, &byte) == 1) {
      key = byte;
      if (byte == 0x1B) drainEscapeSequence(fd, raw);
    }
  }

  tcsetattr(fd, TCSANOW, &saved);
  removeHandlers();
  g_ttyFd = -1;
  ::close(fd);
  return key;
}
