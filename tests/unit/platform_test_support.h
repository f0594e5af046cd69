// Scratch directories and raw file access for the platform tests. The raw
// calls here go straight to the host, so a test can check what the platform
// layer did without trusting the platform layer to tell it.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace platform_test {

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/tangler-platform-XXXXXX";
    if (mkdtemp(templ) != nullptr) path_ = templ;
  }
  ~TempDir() {
    if (path_.empty()) return;
    nftw(
        path_.c_str(),
        [](const char* p, const struct stat*, int type, FTW*) {
          return type == FTW_DP ? rmdir(p) : unlink(p);
        },
        16, FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Moves into a directory for the life of the object and back out again.
class ChangeDir {
 public:
  explicit ChangeDir(const std::string& dir) : back_(open(".", O_RDONLY | O_DIRECTORY)) {
    ok_ = back_ >= 0 && chdir(dir.c_str()) == 0;
  }
  ~ChangeDir() {
    if (back_ >= 0) {
      if (fchdir(back_) != 0) ADD_FAILURE() << "could not return to the starting directory";
      close(back_);
    }
  }
  ChangeDir(const ChangeDir&) = delete;
  ChangeDir& operator=(const ChangeDir&) = delete;
  bool ok() const { return ok_; }

 private:
  int back_;
  bool ok_ = false;
};

inline bool writeRaw(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  close(fd);
  return done == bytes.size();
}

// The whole file, or "<missing>" when it cannot be opened.
inline std::string readRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return "<missing>";
  std::string out;
  char buf[8192];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  close(fd);
  return out;
}

inline bool existsRaw(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The names dir holds, sorted by their bytes.
inline std::vector<std::string> listRaw(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Runs body in a child process that is killed after `seconds`, so that a call
// which should return at once cannot hang the whole test run. The child's
// exit status is body's result; a kill by SIGALRM shows up as a signal.
inline int runInChild(const std::function<int()>& body, unsigned seconds = 5) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(seconds);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return status;
}

inline bool exitedWith(int status, int code) {
  return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

}  // namespace platform_test
