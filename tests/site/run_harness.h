// tangler-site's end-to-end harness: a scratch directory to make a site in,
// and the built program started there as a user starts it, with its output,
// error stream and status handed back whole.
//
// The program is this build's tangler-site, or, when the environment says
// TANGLER_TARGET=windows, the command in TANGLER_SITE_COMMAND: blank-separated
// words, an absolute program path first (e.g. "/usr/lib/wine/wine64
// /src/build-win64/tangler-site.exe"), which is how scripts/test-windows.sh
// runs these cases against the Windows build under Wine.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace site_e2e {

struct RunResult {
  std::string out, err;  // on Windows, with each CR LF turned into a line feed
  int status = -1;
};

// True when the cases run the Windows build.
bool windowsTarget();

// Ends a test (as skipped, with the reason) that cannot hold where
// tangler-site runs as a Windows program.
#define SKIP_ON_WINDOWS(reason) \
  if (site_e2e::windowsTarget()) GTEST_SKIP() << "not on Windows: " << (reason)

// An error line's closing reason ("...: No such file or directory") is the
// system's own text. For the Windows build each line's reason, after its
// last "': ", becomes "<reason>", so that a case compares what the program
// says around it; other targets' text is returned as it is.
std::string maskSystemReasons(const std::string& text);

std::string slurp(const std::filesystem::path& path);

// A scratch directory under the temporary folder, removed with everything
// in it at the end.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  // Writes a file under dir(), its parent directories made as needed.
  void write(const std::string& name, const std::string& content) const;

  // Runs tangler-site in dir() (not under the site, so that its output
  // files are never part of it), standard input from /dev/null. When the
  // tests run as root, the Linux build runs as "nobody" so that file
  // permissions hold.
  // A limiter (e.g. "prlimit --data=N") goes between the user switch and the
  // program.
  RunResult run(const std::vector<std::string>& args, const std::string& limiter = "") const;

  // Runs tangler-site in dir() with its error stream on a pseudo-terminal
  // of the given width (standard input and output on /dev/null), as the
  // invoking user, and returns what the terminal received; at most a
  // minute. The Linux build only.
  std::string runOnTerminal(const std::vector<std::string>& args, unsigned short columns) const;

  // Runs tangler-site in dir() with its standard output piped into the
  // shell command reader (e.g. "head -c1"): out is what reader wrote, err
  // and status tangler-site's own.
  RunResult runPiped(const std::vector<std::string>& args, const std::string& reader) const;

 private:
  std::filesystem::path dir_;
};

}  // namespace site_e2e
