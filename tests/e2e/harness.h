// End-to-end harness: makes a site in a temporary directory, runs the built
// tangler binary there, and hands back what it wrote.
#pragma once

#include <string>
#include <vector>

struct SiteFile {
  std::string name;  // relative path; parent directories are created
  std::string content;
};

// A temporary directory that is removed, with everything in it, on
// destruction.
class TempSite {
 public:
  TempSite();
  ~TempSite();
  TempSite(const TempSite&) = delete;
  TempSite& operator=(const TempSite&) = delete;

  const std::string& path() const { return path_; }
  void write(const std::string& name, const std::string& content) const;
  void writeAll(const std::vector<SiteFile>& files) const;
  void makeDirectory(const std::string& name) const;
  bool exists(const std::string& name) const;
  // A file's bytes; line ends as fromTargetLineEnds() leaves them.
  std::string read(const std::string& name) const;
  // Names directly in the site's top directory, sorted.
  std::vector<std::string> list() const;

 private:
  std::string path_;
};

// The cases run tangler as this host builds it, or as a Windows program when
// the environment says TANGLER_TARGET=windows. TANGLER_COMMAND, when set,
// is the command that starts it: blank-separated words, an absolute program
// path first (e.g. "/usr/bin/wine /src/build-win64/tangler.exe").
bool windowsTarget();
std::vector<std::string> tanglerCommand();

// Output of a Windows run with each CR LF turned into a line feed; a line
// feed that came alone is marked "<bare line feed>" so that it shows up in
// the comparison. Other targets' text is returned as it is.
std::string fromTargetLineEnds(const std::string& text);

// A host path as tangler sees it on the target: under Wine, on drive Z:
// with backslashes.
std::string targetPath(const std::string& hostPath);

// Ends a test (as skipped, with the reason) that cannot hold where tangler
// runs as a Windows program.
#define SKIP_ON_WINDOWS(reason) \
  if (windowsTarget()) GTEST_SKIP() << "not on Windows: " << (reason)

// For a row of a table of cases: true (after saying so on standard output)
// when tangler runs as a Windows program, where the row cannot hold.
bool skipRowOnWindows(const std::string& what, const std::string& reason);

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;        // exit status, or 128 + signal number
  bool timedOut = false;  // killed for running past its time limit
};

// Runs the tangler binary in directory dir with args, standard input from
// /dev/null and no controlling terminal (so a key wait returns at once).
// The output is captured outside dir, so it never shows up as a site file.
RunResult runIn(const std::string& dir, const std::vector<std::string>& args);

// How runWith() departs from runIn().
struct RunSettings {
  // A run still going after this long is killed and reported as timed out,
  // so that a hang fails its test instead of the whole suite.
  int timeoutSeconds = 120;
  // When set, standard output goes to this file (e.g. "/dev/full") instead
  // of being captured.
  std::string stdoutPath;
  // The same for standard error.
  std::string stderrPath;
  // When set, standard output is piped into "/bin/sh -c pipeCommand",
  // which may exit whenever it likes; nothing of it is captured.
  std::string pipeCommand;
  // Standard streams closed in the run, a bit each: 1 input, 2 output,
  // 4 error (as "<&-", ">&-" and "2>&-" leave them).
  int closedStreams = 0;
  // SIGPIPE ignored in the run, as a shell or service may leave it;
  // otherwise it has its default action.
  bool ignoreSigpipe = false;
  // Run as user and group 65534 ("nobody") when the tests run as root, so
  // that file permissions hold; dir must then be open to that user.
  bool unprivileged = false;
};

RunResult runWith(const std::string& dir, const std::vector<std::string>& args,
                  const RunSettings& settings);

// One end-to-end case: a site, a command line, and everything the run must
// write, exactly.
struct E2eCase {
  std::string name;
  std::vector<SiteFile> files;
  std::vector<std::string> args;
  std::string out;
  std::string err;
  int status;
};

// Runs one case in a fresh site and checks stdout, stderr and status with
// gtest expectations. Returns the site's remaining file names for further
// checks.
std::vector<std::string> expectCase(const E2eCase& c);

// Splits a multi-line text in lines for readable gtest diffs.
std::vector<std::string> linesOf(const std::string& text);
