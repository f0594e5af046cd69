// Scratch directories and raw file access for the platform tests. The raw
// calls here go straight to the host, so a test can check what the platform
// layer did without trusting the platform layer to tell it.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#else
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace platform_test {

#ifdef _WIN32

// What a line feed written through TextWriter becomes on this host.
inline const std::string kLineEnd = "\r\n";

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const auto candidate = base / ("tangler-platform-" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate.string();
    }
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    // Read-only, hidden or system files would refuse to go.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Moves into a directory for the life of the object and back out again.
class ChangeDir {
 public:
  explicit ChangeDir(const std::string& dir) {
    std::error_code ec;
    back_ = std::filesystem::current_path(ec);
    if (ec) return;
    std::filesystem::current_path(dir, ec);
    ok_ = !ec;
  }
  ~ChangeDir() {
    std::error_code ec;
    if (!back_.empty()) std::filesystem::current_path(back_, ec);
    if (ec) ADD_FAILURE() << "could not return to the starting directory";
  }
  ChangeDir(const ChangeDir&) = delete;
  ChangeDir& operator=(const ChangeDir&) = delete;
  bool ok() const { return ok_; }

 private:
  std::filesystem::path back_;
  bool ok_ = false;
};

inline bool makeDir(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

inline bool writeRaw(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return bool(out);
}

// The whole file, or "<missing>" when it cannot be opened.
inline std::string readRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool existsRaw(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The names dir holds, sorted by their bytes.
inline std::vector<std::string> listRaw(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

#else

// What a line feed written through TextWriter becomes on this host.
inline const std::string kLineEnd = "\n";

inline bool makeDir(const std::string& path) {
  return mkdir(path.c_str(), 0755) == 0;
}

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

#endif  // _WIN32

}  // namespace platform_test
