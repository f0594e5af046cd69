// The key wait of "-r" as a user meets it: the real binary on a
// pseudo-terminal that is its controlling terminal, interrupted by Ctrl-C or
// a signal while it waits. However the wait ends, the terminal must be left
// with the settings it had before.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace {

enum class Interruption { Key, CtrlC, Sigterm, Sigint, Sighup };

struct WaitCase {
  const char* name;
  Interruption how;
  int status;  // exit status, or 128 + signal number
};

void PrintTo(const WaitCase& c, std::ostream* os) {
  *os << c.name;
}

class RunKeyWait : public testing::TestWithParam<WaitCase> {
 protected:
  void SetUp() override {
    SKIP_ON_WINDOWS(
        "drives the POSIX build on a pseudo-terminal; the Windows key wait reads a console");
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(tcgetattr(slave_, &original_), 0);
    ASSERT_TRUE(original_.c_lflag & ICANON);
    ASSERT_TRUE(original_.c_lflag & ECHO);
    site_.write("index.htm", "<a href=\"index.htm\"><a href=\"gone.htm\">\n");
  }

  void TearDown() override {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }

  // Starts "tangler -r" in the site with the pseudo-terminal as its
  // controlling terminal and as its standard output and error; standard
  // input is /dev/null, since the key is read from the terminal itself.
  void start() {
    std::string binary = TANGLER_BINARY;
    std::string option = "-r";
    char* argv[] = {binary.data(), option.data(), nullptr};
    const std::string dir = site_.path();
    child_ = fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      close(master_);
      if (setsid() < 0 || ioctl(slave_, TIOCSCTTY, 0) != 0) _exit(120);
      const int null = open("/dev/null", O_RDONLY);
      if (null < 0 || dup2(null, 0) < 0 || dup2(slave_, 1) < 0 || dup2(slave_, 2) < 0) _exit(121);
      if (chdir(dir.c_str()) != 0) _exit(122);
      execv(argv[0], argv);
      _exit(123);
    }
  }

  // Reads what the run writes to the terminal until text has appeared, for
  // at most 20 s.
  bool readUntil(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (screen_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      drain();
    }
    return true;
  }

  // Takes whatever the run has written, waiting at most 10 ms for it.
  void drain() {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) return;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) screen_.append(buffer, size_t(n));
  }

  // True once the terminal is in the wait's raw mode.
  bool waitUntilRaw() {
    for (int i = 0; i < 2000; ++i) {
      termios now;
      if (tcgetattr(slave_, &now) == 0 && !(now.c_lflag & ICANON) && !(now.c_lflag & ECHO)) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // The run's status (exit status or 128 + signal), or -1 if it does not end
  // within 20 s.
  int reap() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // Keep draining the terminal so that the run can never block writing.
    for (;;) {
      int wstatus = 0;
      const pid_t done = waitpid(child_, &wstatus, WNOHANG);
      if (done == child_) {
        child_ = -1;
        if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
        if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
        return -1;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      drain();
    }
  }

  int master_ = -1;
  int slave_ = -1;
  pid_t child_ = -1;
  termios original_{};
  std::string screen_;
  TempSite site_;
};

TEST_P(RunKeyWait, LeavesTheTerminalAsItWas) {
  const WaitCase& c = GetParam();
  start();
  ASSERT_TRUE(readUntil("(press a key)")) << "no prompt; the terminal shows: " << screen_;
  ASSERT_TRUE(waitUntilRaw()) << "the run never put the terminal in raw mode";
  // The report is complete before the prompt. The terminal turns the line
  // feeds into CR LF on output.
  EXPECT_EQ(screen_,
            "(checking references....)\r\n---------------\r\n"
            "index.htm (1):           couldn't find \"gone.htm\"\r\n(press a key)");
  switch (c.how) {
    case Interruption::Key:
      ASSERT_EQ(write(master_, "x", 1), 1);
      break;
    case Interruption::CtrlC:
      ASSERT_EQ(write(master_, "\x03", 1), 1);
      break;
    case Interruption::Sigterm:
      ASSERT_EQ(kill(child_, SIGTERM), 0);
      break;
    case Interruption::Sigint:
      ASSERT_EQ(kill(child_, SIGINT), 0);
      break;
    case Interruption::Sighup:
      ASSERT_EQ(kill(child_, SIGHUP), 0);
      break;
  }
  EXPECT_EQ(reap(), c.status) << "the terminal shows: " << screen_;
  termios now;
  ASSERT_EQ(tcgetattr(slave_, &now), 0);
  EXPECT_EQ(now.c_lflag, original_.c_lflag);
  EXPECT_EQ(now.c_iflag, original_.c_iflag);
  EXPECT_EQ(now.c_oflag, original_.c_oflag);
  EXPECT_EQ(now.c_cc[VMIN], original_.c_cc[VMIN]);
  EXPECT_EQ(now.c_cc[VTIME], original_.c_cc[VTIME]);
  // The key (or ^C) was taken by the wait, not echoed, and nothing follows
  // the prompt.
  EXPECT_EQ(screen_.substr(screen_.find("(press a key)")), "(press a key)");
  // The reference file was deleted before the wait began, whatever ended it.
  EXPECT_EQ(site_.list(), std::vector<std::string>{"index.htm"});
}

INSTANTIATE_TEST_SUITE_P(Interruptions, RunKeyWait,
                         testing::Values(WaitCase{"Key", Interruption::Key, 1},
                                         WaitCase{"CtrlC", Interruption::CtrlC, 128 + SIGINT},
                                         WaitCase{"Sigterm", Interruption::Sigterm, 128 + SIGTERM},
                                         WaitCase{"Sigint", Interruption::Sigint, 128 + SIGINT},
                                         WaitCase{"Sighup", Interruption::Sighup, 128 + SIGHUP}),
                         [](const testing::TestParamInfo<WaitCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
