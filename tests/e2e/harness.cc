#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

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
  return text.str();
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
  RunResult result;
  TempSite capture;
  std::string outPath = capture.path() + "/out";
  std::string errPath = capture.path() + "/err";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

  std::vector<std::string> argStrings;
  argStrings.push_back(TANGLER_BINARY);
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, TANGLER_BINARY, &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << TANGLER_BINARY;
    return result;
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
  }
  if (WIFEXITED(wstatus)) {
    result.status = WEXITSTATUS(wstatus);
  } else if (WIFSIGNALED(wstatus)) {
    result.status = 128 + WTERMSIG(wstatus);
  }
  result.out = slurp(outPath);
  result.err = slurp(errPath);
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
