#include "run_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace site_e2e {

namespace fs = std::filesystem;

namespace {

std::string shellQuoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The words that start the program under test.
std::vector<std::string> programCommand() {
  std::vector<std::string> words;
  const char* command = windowsTarget() ? std::getenv("TANGLER_SITE_COMMAND") : nullptr;
  if (command != nullptr) {
    std::istringstream in(command);
    for (std::string word; in >> word;) words.push_back(word);
  }
  if (words.empty()) words.push_back(TANGLER_SITE_BINARY);
  return words;
}

// A Windows program's text streams end lines with CR LF; a line feed that
// came alone is marked, so that it shows up in the comparison.
std::string fromTargetLineEnds(const std::string& text) {
  if (!windowsTarget()) return text;
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += "<bare line feed>";
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace

bool windowsTarget() {
  const char* target = std::getenv("TANGLER_TARGET");
  return target != nullptr && std::string(target) == "windows";
}

std::string maskSystemReasons(const std::string& text) {
  if (!windowsTarget()) return text;
  std::string out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t at = line.rfind("': ");
    if (at != std::string::npos && at + 3 < line.size())
      line.replace(at + 3, line.npos, "<reason>");
    out += line + "\n";
  }
  return out;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Scratch::Scratch() {
  std::random_device random;
  dir_ = fs::temp_directory_path() / ("tangler-site-test-" + std::to_string(random()));
  fs::create_directories(dir_);
  fs::permissions(dir_, fs::perms::all);  // open to the unprivileged runs
}

Scratch::~Scratch() {
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(dir_, ignored);
}

void Scratch::write(const std::string& name, const std::string& content) const {
  fs::create_directories((dir_ / name).parent_path());
  std::ofstream(dir_ / name, std::ios::binary) << content;
}

RunResult Scratch::run(const std::vector<std::string>& args, const std::string& limiter) const {
  std::string command = "cd " + shellQuoted(dir_.string()) + " && ";
  // Wine will not run as any user but its prefix's owner.
  if (::getuid() == 0 && !windowsTarget()) {
    command += "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  if (!limiter.empty()) command += limiter + " ";
  for (const std::string& word : programCommand()) command += shellQuoted(word) + " ";
  for (const std::string& arg : args) command += shellQuoted(arg) + " ";
  const fs::path out = dir_.string() + ".out", err = dir_.string() + ".err";
  const fs::path status = dir_.string() + ".status";
  command += "</dev/null >" + shellQuoted(out.string()) + " 2>" + shellQuoted(err.string()) +
             "; echo $? >" + shellQuoted(status.string());
  RunResult run;
  if (std::system(command.c_str()) != 0) return run;
  run.out = fromTargetLineEnds(slurp(out));
  run.err = fromTargetLineEnds(slurp(err));
  run.status = std::stoi(slurp(status));
  std::error_code ignored;
  fs::remove(out, ignored);
  fs::remove(err, ignored);
  fs::remove(status, ignored);
  return run;
}

std::string Scratch::runOnTerminal(const std::vector<std::string>& args,
                                   unsigned short columns) const {
  int master = -1, slave = -1;
  struct winsize size = {};
  size.ws_row = 24;
  size.ws_col = columns;
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return "<no pseudo-terminal>";
  std::vector<std::string> words = programCommand();
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    if (::chdir(dir_.c_str()) != 0 || null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 ||
        dup2(slave, 2) < 0) {
      _exit(126);
    }
    ::close(master);
    ::close(slave);
    ::close(null);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(slave);
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (child > 0 && std::chrono::steady_clock::now() < deadline) {
    struct pollfd ready = {master, POLLIN, 0};
    if (poll(&ready, 1, 1000) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the program has closed its end
    seen.append(buffer, size_t(got));
  }
  ::close(master);
  if (child > 0) {
    kill(child, SIGKILL);  // nothing, if it has ended
    waitpid(child, nullptr, 0);
  }
  return seen;
}

RunResult Scratch::runPiped(const std::vector<std::string>& args, const std::string& reader) const {
  std::string command = "cd " + shellQuoted(dir_.string()) + " && (";
  if (::getuid() == 0 && !windowsTarget()) {
    command += "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  for (const std::string& word : programCommand()) command += shellQuoted(word) + " ";
  for (const std::string& arg : args) command += shellQuoted(arg) + " ";
  const fs::path out = dir_.string() + ".out", err = dir_.string() + ".err";
  const fs::path status = dir_.string() + ".status";
  command += "</dev/null 2>" + shellQuoted(err.string()) + "; echo $? >" +
             shellQuoted(status.string()) + ") | " + reader + " >" + shellQuoted(out.string());
  RunResult run;
  if (std::system(command.c_str()) != 0) return run;
  run.out = fromTargetLineEnds(slurp(out));
  run.err = fromTargetLineEnds(slurp(err));
  run.status = std::stoi(slurp(status));
  std::error_code ignored;
  fs::remove(out, ignored);
  fs::remove(err, ignored);
  fs::remove(status, ignored);
  return run;
}

}  // namespace site_e2e
