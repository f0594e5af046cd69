#include "platform/key_wait.h"

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <thread>

#include "platform_test_support.h"

namespace {

using platform_test::exitedWith;
using platform_test::runInChild;

// A child process whose controlling terminal is a fresh pseudo-terminal. The
// child waits for a go-ahead, calls waitForKey() `calls` times and reports
// each result through a pipe; the test plays the user at the master side and
// keeps the slave side open to look at the terminal's settings.
class KeyWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(tcgetattr(slave_, &original_), 0);
    ASSERT_TRUE(original_.c_lflag & ECHO);
    ASSERT_TRUE(original_.c_lflag & ICANON);
    ASSERT_EQ(pipe(go_), 0);
    ASSERT_EQ(pipe(results_), 0);
  }

  void TearDown() override {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    for (int fd : {master_, slave_, go_[0], go_[1], results_[0], results_[1]}) {
      if (fd >= 0) close(fd);
    }
  }

  void startChild(int calls) {
    child_ = fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      alarm(10);
      close(master_);
      close(go_[1]);
      close(results_[0]);
      if (setsid() < 0 || ioctl(slave_, TIOCSCTTY, 0) != 0) _exit(90);
      // The key comes from the terminal, not from standard input.
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, STDIN_FILENO);
      char go;
      if (read(go_[0], &go, 1) != 1) _exit(91);
      for (int i = 0; i < calls; ++i) {
        const int key = waitForKey();
        if (write(results_[1], &key, sizeof key) != sizeof key) _exit(92);
      }
      _exit(0);
    }
    close(go_[0]);
    close(results_[1]);
    go_[0] = results_[1] = -1;
  }

  void letChildGo() { ASSERT_EQ(write(go_[1], "g", 1), 1); }

  // True once the child has the terminal in raw mode, i.e. is waiting.
  bool waitUntilRaw() {
    for (int i = 0; i < 500; ++i) {
      termios now;
      if (tcgetattr(slave_, &now) == 0 && !(now.c_lflag & ECHO) && !(now.c_lflag & ICANON)) {
        if (!(now.c_lflag & ISIG)) ADD_FAILURE() << "Ctrl-C would no longer interrupt";
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  void type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size()));
  }

  // The next result the child reports, or -2 if none comes within 5 s.
  int nextResult() {
    pollfd p{results_[0], POLLIN, 0};
    int key = -2;
    if (poll(&p, 1, 5000) == 1 && read(results_[0], &key, sizeof key) != sizeof key) key = -2;
    return key;
  }

  int reap() {
    int status = -1;
    if (waitpid(child_, &status, 0) == child_) child_ = -1;
    return status;
  }

  void expectTerminalRestored() {
    termios now;
    ASSERT_EQ(tcgetattr(slave_, &now), 0);
    EXPECT_EQ(now.c_lflag, original_.c_lflag);
    EXPECT_EQ(now.c_iflag, original_.c_iflag);
    EXPECT_EQ(now.c_cc[VMIN], original_.c_cc[VMIN]);
    EXPECT_EQ(now.c_cc[VTIME], original_.c_cc[VTIME]);
  }

  int master_ = -1;
  int slave_ = -1;
  int go_[2] = {-1, -1};
  int results_[2] = {-1, -1};
  pid_t child_ = -1;
  termios original_{};
};

TEST_F(KeyWaitTest, ReturnsTheKeyAndRestoresTheTerminal) {
  startChild(1);
  letChildGo();
  ASSERT_TRUE(waitUntilRaw());
  type("k");
  EXPECT_EQ(nextResult(), 'k');
  EXPECT_TRUE(exitedWith(reap(), 0));
  expectTerminalRestored();
}

TEST_F(KeyWaitTest, ArrowKeyIsOneKeyConsumedWhole) {
  startChild(2);
  letChildGo();
  ASSERT_TRUE(waitUntilRaw());
  type("\x1b[A");
  EXPECT_EQ(nextResult(), 0x1b);
  // Had "[A" been left behind, the second wait would return '['.
  ASSERT_TRUE(waitUntilRaw());
  type("q");
  EXPECT_EQ(nextResult(), 'q');
  EXPECT_TRUE(exitedWith(reap(), 0));
  expectTerminalRestored();
}

TEST_F(KeyWaitTest, KeyTypedAheadIsTakenAtOnce) {
  startChild(1);
  type("t");
  // Give the line discipline time to take the key in before the wait begins.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  letChildGo();
  EXPECT_EQ(nextResult(), 't');
  EXPECT_TRUE(exitedWith(reap(), 0));
  expectTerminalRestored();
}

TEST_F(KeyWaitTest, CtrlCLeavesTheTerminalRestored) {
  startChild(1);
  letChildGo();
  ASSERT_TRUE(waitUntilRaw());
  type("\x03");
  const int status = reap();
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  expectTerminalRestored();
}

class KeyWaitSignalTest : public KeyWaitTest, public ::testing::WithParamInterface<int> {};

TEST_P(KeyWaitSignalTest, SignalLeavesTheTerminalRestored) {
  const int sig = GetParam();
  startChild(1);
  letChildGo();
  ASSERT_TRUE(waitUntilRaw());
  ASSERT_EQ(kill(child_, sig), 0);
  const int status = reap();
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), sig);
  expectTerminalRestored();
}

INSTANTIATE_TEST_SUITE_P(Signals, KeyWaitSignalTest,
                         ::testing::Values(SIGTERM, SIGHUP, SIGQUIT, SIGINT));

TEST(KeyWait, NoTerminalReturnsAtOnce) {
  const int status = runInChild([] {
    if (setsid() < 0) return 2;
    const auto start = std::chrono::steady_clock::now();
    const int key = waitForKey();
    const auto took = std::chrono::steady_clock::now() - start;
    if (key != -1) return 1;
    return took < std::chrono::seconds(1) ? 0 : 3;
  });
  EXPECT_TRUE(exitedWith(status, 0)) << "status " << status;
}

}  // namespace
