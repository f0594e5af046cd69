#include "harness.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

bool windowsTarget() {
  const char* target = std::getenv("TANGLER_TARGET");
  return target != nullptr && std::string(target) == "windows";
}

std::vector<std::string> tanglerCommand() {
  std::vector<std::string> words;
  const char* command = std::getenv("TANGLER_COMMAND");
  if (command != nullptr) {
    std::istringstream in(command);
    for (std::string word; in >> word;) words.push_back(word);
  }
  if (words.empty()) words.push_back(TANGLER_BINARY);
  return words;
}

std::string fromTargetLineEnds(const std::string& text) {
  if (!windowsTarget()) return text;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    // A line feed that came without its carriage return is a fault there.
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += "<bare line feed>";
    out.push_back(text[i]);
  }
  return out;
}

bool skipRowOnWindows(const std::string& what, const std::string& reason) {
  if (!windowsTarget()) return false;
  std::cout << "[  SKIPPED ] row \"" << what << "\": not on Windows: " << reason << "\n";
  return true;
}

std::string targetPath(const std::string& hostPath) {
  if (!windowsTarget()) return hostPath;
  // Wine's drive Z: is the host's root.
  std::string path = "Z:" + hostPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

TempSite::TempSite() {
  std::string templ = (fs::temp_directory_path() / "tangler-e2e-XXXXXX").string();
  char* made = mkdtemp(templ.data());
  if (made == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = templ;
}

TempSite::~TempSite() {
  std::error_code ec;
  // Make everything removable again, in case a case took permissions away.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0755);
  }
  fs::remove_all(path_, ec);
}

void TempSite::write(const std::string& name, const std::string& content) const {
  fs::path file = fs::path(path_) / name;
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) ADD_FAILURE() << "cannot write " << file;
}

void TempSite::writeAll(const std::vector<SiteFile>& files) const {
  for (const SiteFile& f : files) write(f.name, f.content);
}

void TempSite::makeDirectory(const std::string& name) const {
  std::error_code ec;
  fs::create_directories(fs::path(path_) / name, ec);
}

bool TempSite::exists(const std::string& name) const {
  struct stat st;
  return lstat((fs::path(path_) / name).c_str(), &st) == 0;
}

std::string TempSite::read(const std::string& name) const {
  std::ifstream in(fs::path(path_) / name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return fromTargetLineEnds(text.str());
}

std::vector<std::string> TempSite::list() const {
  std::vector<std::string> names;
  DIR* dir = opendir(path_.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

RunResult runIn(const std::string& dir, const std::vector<std::string>& args) {
  return runWith(dir, args, RunSettings{});
}

namespace {

// Waits for pid until the deadline, then kills it. Returns the wait status;
// *killed tells whether it had to be killed.
int waitWithDeadline(pid_t pid, std::chrono::steady_clock::time_point deadline, bool* killed) {
  *killed = false;
  int wstatus = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &wstatus, WNOHANG);
    if (done == pid) return wstatus;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      *killed = true;
      kill(pid, SIGKILL);
      while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
      }
      return wstatus;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int statusOf(int wstatus) {
  if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
  return -1;
}

// In a forked child: puts fd on target, or ends the child.
void moveTo(int fd, int target) {
  if (fd < 0 || dup2(fd, target) < 0) _exit(126);
  if (fd != target) close(fd);
}

}  // namespace

RunResult runWith(const std::string& dir, const std::vector<std::string>& args,
                  const RunSettings& settings) {
  RunResult result;
  TempSite capture;
  const std::string outPath =
      settings.stdoutPath.empty() ? capture.path() + "/out" : settings.stdoutPath;
  const std::string errPath =
      settings.stderrPath.empty() ? capture.path() + "/err" : settings.stderrPath;

  std::vector<std::string> argStrings = tanglerCommand();
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipeFds[2] = {-1, -1};
  pid_t reader = -1;
  if (!settings.pipeCommand.empty()) {
    if (pipe(pipeFds) != 0) {
      ADD_FAILURE() << "pipe failed";
      return result;
    }
    reader = fork();
    if (reader < 0) {
      close(pipeFds[0]);
      close(pipeFds[1]);
      ADD_FAILURE() << "cannot start the pipe's reader";
      return result;
    }
    if (reader == 0) {
      close(pipeFds[1]);
      moveTo(pipeFds[0], 0);
      moveTo(open("/dev/null", O_WRONLY), 1);
      execl("/bin/sh", "sh", "-c", settings.pipeCommand.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  const bool dropPrivileges = settings.unprivileged && geteuid() == 0;

  // Only async-signal-safe calls between fork and exec.
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    signal(SIGPIPE, settings.ignoreSigpipe ? SIG_IGN : SIG_DFL);
    moveTo(open("/dev/null", O_RDONLY), 0);
    if (pipeFds[1] >= 0) {
      close(pipeFds[0]);
      moveTo(pipeFds[1], 1);
    } else {
      moveTo(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    }
    moveTo(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    for (int fd = 0; fd <= 2; ++fd) {
      if (settings.closedStreams & (1 << fd)) close(fd);
    }
    if (dropPrivileges) {
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(125);
    }
    if (chdir(dir.c_str()) != 0) _exit(124);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pipeFds[0] >= 0) close(pipeFds[0]);
  if (pipeFds[1] >= 0) close(pipeFds[1]);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(settings.timeoutSeconds);
  if (pid < 0) {
    ADD_FAILURE() << "cannot start " << argStrings[0];
  } else {
    bool killed = false;
    result.status = statusOf(waitWithDeadline(pid, deadline, &killed));
    result.timedOut = killed;
  }
  // The reader ends once the write end is closed on every side, so it is
  // reaped whether tangler ran or not.
  if (reader > 0) {
    bool readerKilled = false;
    waitWithDeadline(reader, deadline + std::chrono::seconds(5), &readerKilled);
    if (readerKilled) ADD_FAILURE() << "the pipe's reader \"" << settings.pipeCommand << "\" hung";
  }
  if (pid < 0) return result;
  if (settings.stdoutPath.empty() && settings.pipeCommand.empty()) {
    result.out = fromTargetLineEnds(slurp(outPath));
  }
  if (settings.stderrPath.empty()) result.err = fromTargetLineEnds(slurp(errPath));
  return result;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no line feed>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> expectCase(const E2eCase& c) {
  TempSite site;
  site.writeAll(c.files);
  RunResult r = runIn(site.path(), c.args);
  EXPECT_EQ(linesOf(r.out), linesOf(c.out)) << c.name << ": standard output";
  EXPECT_EQ(r.out, c.out) << c.name << ": standard output, byte for byte";
  EXPECT_EQ(r.err, c.err) << c.name << ": standard error";
  EXPECT_EQ(r.status, c.status) << c.name << ": exit status";
  return site.list();
}
