// Hostile sites: things a directory can hold that are not plain pages, names
// no page could spell, pages that are not text, and output that goes
// nowhere. Whatever it meets, a run must end with the right status and
// exactly the messages it defines, and must not hang.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"

namespace {

const std::string kSep = "---------------\n";
const std::string kChecking = "(checking references....)\n";
const std::string kUnlinkedPages = "(checking for unlinked *.htm*....)\n";

std::string pad(const std::string& prefix) {
  return prefix.size() < 25 ? prefix + std::string(25 - prefix.size(), ' ') : prefix;
}

// One complaint line with the default indent.
std::string complaint(const std::string& page, int line, const std::string& message) {
  return pad(page + " (" + std::to_string(line) + "): ") + message + "\n";
}

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}

void makeFifo(const TempSite& site, const std::string& name) {
  ASSERT_EQ(mkfifo((site.path() + "/" + name).c_str(), 0644), 0) << name;
}

// A listening socket's file; the descriptor is closed at once, the file stays.
void makeSocket(const TempSite& site, const std::string& name) {
  const std::string path = site.path() + "/" + name;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << name;
  close(fd);
}

void makeSymlink(const TempSite& site, const std::string& target, const std::string& name) {
  ASSERT_EQ(symlink(target.c_str(), (site.path() + "/" + name).c_str()), 0) << name;
}

void expectRun(const RunResult& r, const std::string& what, const std::string& out,
               const std::string& err, int status) {
  EXPECT_FALSE(r.timedOut) << what << ": hung";
  EXPECT_EQ(linesOf(r.out), linesOf(out)) << what << ": standard output";
  EXPECT_EQ(r.err, err) << what << ": standard error";
  EXPECT_EQ(r.status, status) << what << ": exit status";
}

// FIFOs, sockets, directories and links that lead nowhere, all named like
// pages and images: none is scanned or read (a FIFO would block the run),
// a directory counts as existing, the rest do not exist.
TEST(HostileSite, FilesThatAreNotPlainFiles) {
  SKIP_ON_WINDOWS("FIFOs, sockets and symbolic-link loops are POSIX file types");
  TempSite site;
  site.write("index.htm",
             "<a href=\"index.htm\"><a href=\"fifo.htm\"><a href=\"sock.htm\">\n"
             "<a href=\"dir.htm\"><a href=\"loop.htm\"><a href=\"broken.htm\">\n"
             "<img src=\"fifo.gif\"><img src=\"dir.gif\"><img src=\"loop.gif\">"
             "<img src=\"broken.gif\">\n");
  makeFifo(site, "fifo.htm");
  makeFifo(site, "fifo.gif");
  makeSocket(site, "sock.htm");
  site.makeDirectory("dir.htm");
  site.makeDirectory("dir.gif");
  makeSymlink(site, "loop.htm", "loop.htm");
  makeSymlink(site, "loop.gif", "loop.gif");
  makeSymlink(site, "nowhere.htm", "broken.htm");
  makeSymlink(site, "nowhere.gif", "broken.gif");

  const std::string complaints = complaint("index.htm", 1, "couldn't find \"fifo.htm\"") +
                                 complaint("index.htm", 1, "couldn't find \"sock.htm\"") +
                                 complaint("index.htm", 2, "couldn't find \"dir.htm\"") +
                                 complaint("index.htm", 2, "couldn't find \"loop.htm\"") +
                                 complaint("index.htm", 2, "couldn't find \"broken.htm\"") +
                                 complaint("index.htm", 3, "couldn't find graphics \"loop.gif\"") +
                                 complaint("index.htm", 3, "couldn't find graphics \"broken.gif\"");
  // The orphan search lists no FIFO, directory or broken link either.
  expectRun(runIn(site.path(), {}), "whole run", kSep + complaints, kChecking + kUnlinkedPages, 1);
  // Named one by one, each is a pattern that matches nothing.
  expectRun(
      runIn(site.path(),
            {"fifo.htm", "sock.htm", "dir.htm", "loop.htm", "broken.htm", "*.gif", "-u-"}),
      "named as patterns", kSep,
      "no fifo.htm\nno sock.htm\nno dir.htm\nno loop.htm\nno broken.htm\nno *.gif\n" + kChecking,
      1);
  // A link or FIFO where the report or the reference file should go.
  expectRun(runIn(site.path(), {"-ofifo.gif"}), "report into a FIFO nobody reads", "",
            "couldn't open fifo.gif for w.", 3);
  expectRun(runIn(site.path(), {"-ififo.gif"}), "reference file into a FIFO", kSep,
            "couldn't open fifo.gif for w.", 3);
  expectRun(runIn(site.path(), {"-idir.gif"}), "reference file onto a directory", kSep,
            "couldn't open dir.gif for w.", 3);
  expectRun(runIn(site.path(), {"-iloop.gif"}), "reference file onto a link loop", kSep,
            "couldn't open loop.gif for w.", 3);
}

// A page that the directory lists but that cannot be opened ends the run at
// once with status 3; the reference file made so far stays behind.
TEST(HostileSite, PageThatCannotBeRead) {
  SKIP_ON_WINDOWS(
      "the page is made unreadable with POSIX permissions and another user, and "
      "Wine will not run in a prefix that another user owns");
  TempSite site;
  site.write("index.htm", "<a href=\"index.htm\"><a href=\"secret.htm\">\n");
  site.write("secret.htm", "<a href=\"index.htm\">\n");
  ASSERT_EQ(chmod((site.path() + "/secret.htm").c_str(), 0), 0);
  // The run may be made as another user, who must be able to write the
  // reference file.
  ASSERT_EQ(chmod(site.path().c_str(), 0777), 0);
  RunSettings settings;
  settings.unprivileged = true;
  RunResult r = runWith(site.path(), {}, settings);
  if (r.status == 125 && geteuid() == 0) {
    GTEST_SKIP() << "running as root and cannot switch to an unprivileged user, so no file is "
                    "unreadable here";
  }
  expectRun(r, "unreadable page", kSep, "couldn't open secret.htm for r.", 3);
  EXPECT_EQ(site.list(), (std::vector<std::string>{"index.htm", "secret.htm", "tangler~.txt"}));
  const std::string refFile = site.read("tangler~.txt");
  EXPECT_NE(
      refFile.find("\nname:  index.htm\nref:   index.htm line#<1>\nref:   secret.htm line#<1>\n"),
      std::string::npos)
      << refFile;
  EXPECT_EQ(refFile.find("name:  secret.htm"), std::string::npos) << refFile;
}

// A page that opens but fails to read is not taken as ending there: the run
// ends as for one that cannot be opened. The process's own memory opens as a
// regular file and fails on the first read.
TEST(HostileSite, PageWhoseReadFails) {
  SKIP_ON_WINDOWS("/proc/self/mem is Linux's");
  TempSite site;
  site.write("index.htm", "<a href=\"index.htm\">\n");
  makeSymlink(site, "/proc/self/mem", "mem.htm");
  expectRun(runIn(site.path(), {}), "page whose read fails", kSep, "couldn't read mem.htm.", 3);
  EXPECT_EQ(site.list(), (std::vector<std::string>{"index.htm", "mem.htm", "tangler~.txt"}));
}

// Names holding control bytes, or characters no Windows name can hold, are
// skipped wherever the site is listed: opening "a\b.htm" would read '\' as a
// separator. A reference cannot even spell a control byte, as values drop
// them. 0x7F is no control byte here and names a file like any other.
TEST(HostileSite, ControlBytesInNames) {
  SKIP_ON_WINDOWS("Windows file names cannot hold control characters");
  TempSite site;
  site.write("index.htm",
             "<a href=\"index.htm\"><img src=\"bad\x01name.gif\"><img src=\"del\x7fname.gif\">\n");
  for (const std::string& name :
       {std::string("line\nfeed.htm"), std::string("carriage\rreturn.htm"),
        std::string("tab\tname.htm"), std::string("escape\x1bname.gif"),
        std::string("bell\x07name.htm"), std::string("a\\b.htm"), std::string("c:old.htm"),
        std::string("q?.htm"), std::string("pi|pe.gif"), std::string("lt<gt>.htm")}) {
    site.write(name, "<a href=\"index.htm\"><a href=\"gone.htm\">\n");
  }
  site.write("del\x7fname.gif", "GIF89a");
  site.write("other\x7f.gif", "GIF89a");
  expectRun(runIn(site.path(), {}), "control bytes",
            kSep + complaint("index.htm", 1, "couldn't find graphics \"badname.gif\"") +
                "Couldn't find \"other\x7f.gif\" mentioned\n",
            kChecking + kUnlinkedPages + "(checking for unlinked *.gif....)\n", 1);
  expectRun(runIn(site.path(), {"line\nfeed.htm", "*\r*", "-u-"}), "control bytes in patterns",
            kSep, "no line\nfeed.htm\nno *\r*\n" + kChecking, 1);
}

// A directory name with a line feed cannot break the reference file's header
// into two records.
TEST(HostileSite, ControlBytesInTheCurrentDirectory) {
  SKIP_ON_WINDOWS("Windows file names cannot hold control characters");
  TempSite site;
  const std::string dir = "odd\ndir\rname";
  site.write(dir + "/index.htm", "<a href=\"index.htm\">\n");
  expectRun(runIn(site.path() + "/" + dir, {"-d-"}), "odd directory", kSep,
            kChecking + kUnlinkedPages, 0);
  const std::string refFile = site.read(dir + "/tangler~.txt");
  EXPECT_EQ(refFile, kSep + "cwd:   " + lowerAscii(site.path()) + "/odd?dir?name\n" + kSep +
                         "name:  index.htm\nref:   index.htm line#<1>\n");
}

// Bytes from 0x80 up, UTF-8 or not, are kept as they are: only ASCII letters
// are folded, and nothing is decoded.
TEST(HostileSite, HighBytesInNames) {
  SKIP_ON_WINDOWS(
      "Windows stores names in Unicode and hands them to the ANSI calls in its code "
      "page, not as the bytes written here");
  TempSite site;
  const std::string latin1 = "caf\xe9.htm";               // not UTF-8
  const std::string utf8Upper = "\xc3\x89T\xc3\x89.HTM";  // "ÉTÉ.HTM"
  const std::string utf8Lower = "\xc3\x89t\xc3\x89.htm";  // only T and HTM fold
  site.write("index.htm", "<a href=\"index.htm\"><a href=\"" + latin1 + "#top\"><a href=\"" +
                              utf8Lower + "\">\n<img src=\"\xff\xfe.gif\"><a href=\"" + utf8Upper +
                              "\">\n");
  site.write(latin1, "<a name=\"top\">\xfe\xff\xc3(\n<a href=\"index.htm#\x80\">");
  site.write(utf8Upper, "<a href=\"index.htm\">");
  expectRun(runIn(site.path(), {}), "high bytes",
            // Pages follow the directory order: 'C' < 'I' < 0xC3.
            kSep + complaint(latin1, 2, "couldn't find \"index.htm#\x80\"") +
                complaint("index.htm", 2, "couldn't find graphics \"\xff\xfe.gif\"") +
                complaint("index.htm", 2, "couldn't find \"" + utf8Upper + "\""),
            kChecking + kUnlinkedPages, 1);
}

// The longest name a Linux file system takes in one component, and a path of
// 3,000 characters through nested directories: complaints carry them whole,
// never padded. A reference keeps at most 2,000 characters, so one that
// spells the whole deep path is cut to a directory on the way, which exists.
TEST(HostileSite, LongNamesAndPaths) {
  SKIP_ON_WINDOWS("the ANSI file calls stop at MAX_PATH (260 characters)");
  TempSite site;
  const std::string longName = std::string(246, 'p') + ".htm";
  ASSERT_EQ(longName.size(), 250u);
  std::string deepDir;
  while (deepDir.size() < 3000 - 200 - 8) deepDir += std::string(199, 'd') + "/";
  deepDir += std::string(3000 - 8 - deepDir.size() - 1, 'e') + "/";
  const std::string deepPage = deepDir + "deep.htm";
  ASSERT_EQ(deepPage.size(), 3000u);
  ASSERT_EQ(deepDir[1999], '/');
  const std::string within = deepDir.substr(0, 1800);  // 9 whole directories
  site.write("index.htm", "<a href=\"index.htm\"><a href=\"" + longName +
                              "#nowhere\">\n<img src=\"" + deepDir + "gone.gif\"><img src=\"" +
                              within + "pic.gif\"><img src=\"" + within + "gone.gif\">\n");
  site.write(longName, "<a href=\"index.htm\"><a href=\"#nowhere\">\n");
  site.write(deepPage, "<a href=\"index.htm\">\n<img src=\"gone.gif\">\n");
  site.write(within + "pic.gif", "GIF89a");
  expectRun(runIn(site.path(), {"*.htm", deepDir + "*.htm", "-u-"}), "long names",
            kSep + complaint("index.htm", 1, "couldn't find \"" + longName + "#nowhere\"") +
                complaint("index.htm", 2, "couldn't find graphics \"" + within + "gone.gif\"") +
                complaint(longName, 1, "couldn't find \"" + longName + "#nowhere\"") +
                complaint(deepPage, 2, "couldn't find graphics \"gone.gif\""),
            kChecking, 1);
}

// Pages that hold no markup at all, one of them 100 MB on a single line with
// links only at its two ends.
TEST(HostileSite, EmptyNulAndHugePages) {
  TempSite site;
  site.write(
      "index.htm",
      "<a href=\"index.htm\"><a href=\"empty.htm\"><a href=\"nuls.htm\"><a href=\"big.htm\">\n");
  site.write("empty.htm", "");
  // Not "nul.htm": Windows takes that name for its NUL device.
  site.write("nuls.htm", std::string(1 << 20, '\0'));
  std::string big = "<img src=\"first.gif\">";
  big.reserve(100u << 20);
  while (big.size() < (100u << 20) - 64) big += "<p>Lorem \"ipsum\" =dolor sit amet\t";
  big += "<a href=\"index.htm\"><img src=\"last.gif\">";
  site.write("big.htm", big);
  big.clear();
  big.shrink_to_fit();
  expectRun(runIn(site.path(), {}), "empty, NUL and huge pages",
            kSep + complaint("big.htm", 1, "couldn't find graphics \"first.gif\"") +
                complaint("big.htm", 1, "couldn't find graphics \"last.gif\""),
            kChecking + kUnlinkedPages, 1);
}

// Files that cannot be created, and output that cannot be written.
TEST(HostileSite, OutputThatCannotBeCreatedOrWritten) {
  const SiteFile page{"index.htm", "<a href=\"index.htm\"><a href=\"gone.htm\">\n"};
  const std::string complaints = complaint("index.htm", 1, "couldn't find \"gone.htm\"");
  const std::vector<E2eCase> cases = {
      {"reference file in a missing directory",
       {page},
       {"-inosuch/refs.txt"},
       kSep,
       "couldn't open nosuch/refs.txt for w.",
       3},
      {"report in a missing directory",
       {page},
       {"-onosuch/report.txt"},
       "",
       "couldn't open nosuch/report.txt for w.",
       3},
      {"report file with an empty name", {page}, {"-o"}, "", "couldn't open  for w.", 3},
      {"reference file with an empty name", {page}, {"-i"}, kSep, "couldn't open  for w.", 3},
      {"report on a full device",
       {page},
       {"-o/dev/full"},
       "",
       kChecking + kUnlinkedPages + "couldn't write /dev/full.",
       3},
  };
  for (const E2eCase& c : cases) {
    const std::vector<std::string> left = expectCase(c);
    // Nothing is written outside the site; the reference file stays behind
    // only when the run failed after creating it.
    EXPECT_EQ(left, std::vector<std::string>{"index.htm"}) << c.name;
  }

  TempSite site;
  site.write(page.name, page.content);
  RunSettings full;
  full.stdoutPath = "/dev/full";
  expectRun(runWith(site.path(), {}, full), "standard output on a full device", "",
            kChecking + kUnlinkedPages + "couldn't write stdout.", 3);
  // A report far beyond any buffer fails part way, and still says so once.
  std::string manyLinks;
  for (int i = 0; i < 20000; ++i) manyLinks += "<a href=\"gone" + std::to_string(i) + ".htm\">\n";
  site.write("index.htm", manyLinks);
  expectRun(runWith(site.path(), {"-u-"}, full), "large report on a full device", "",
            kChecking + "couldn't write stdout.", 3);
  EXPECT_EQ(site.list(), std::vector<std::string>{"index.htm"});
}

// The error stream sent into the reference file: the check reads back what
// the file holds by then, with "(checking references....)" written over a
// page's anchor, as it would reading the file in any case.
TEST(HostileSite, ErrorStreamWrittenIntoTheReferenceFile) {
  SKIP_ON_WINDOWS("the offsets counted here are of bare line feeds");
  TempSite site;
  site.write("a.htm", "<a name=\"top\">\n");
  site.write("b.htm", "<a href=\"a.htm#top\">\n");
  expectRun(runIn(site.path(), {"-d-", "-u-"}), "reference file kept", kSep, kChecking, 0);
  const size_t markAt = site.read("tangler~.txt").find("mark:  top");
  ASSERT_NE(markAt, std::string::npos);
  // A pattern matching nothing puts its note where the anchor's record will
  // be written, and the next line of the error stream lands on that record.
  const std::string nothing(markAt - 4, 'z');
  RunSettings intoReferenceFile;
  intoReferenceFile.stderrPath = site.path() + "/tangler~.txt";
  expectRun(runWith(site.path(), {"-d-", "-u-", nothing, "*.htm"}, intoReferenceFile),
            "error stream into the reference file",
            kSep + complaint("b.htm", 1, "couldn't find \"a.htm#top\""), "", 1);
}

// A stream closed at the start ("2>&-") must not be handed to a file the run
// opens: the report and the reference file hold what they hold when every
// stream is open, and the status is the same.
TEST(HostileSite, StandardStreamsClosedAtTheStart) {
  SKIP_ON_WINDOWS("streams are closed by a POSIX shell here");
  const std::vector<SiteFile> files = {{"a.htm", "<a name=\"top\"><a href=\"b.htm\">\n"},
                                       {"b.htm", "<a href=\"a.htm#gone\">\n"}};
  struct Row {
    int closed;  // RunSettings::closedStreams
    std::vector<std::string> args;
  };
  const Row rows[] = {
      {4, {"-r", "-k-", "-orep.txt", "-d-"}},
      {2, {"-d-", "-u-"}},
      {2 | 4, {"-d-", "-orep.txt"}},
      {1, {"-d-", "-orep.txt"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("closed " + std::to_string(row.closed));
    TempSite open, closed;
    open.writeAll(files);
    closed.writeAll(files);
    RunSettings settings;
    const RunResult expected = runWith(open.path(), row.args, settings);
    settings.closedStreams = row.closed;
    const RunResult got = runWith(closed.path(), row.args, settings);
    EXPECT_EQ(expected.status, got.status);
    EXPECT_EQ(open.list(), closed.list());
    // The reference file names its directory (in lower case); that alone
    // may differ.
    auto withoutDir = [](const TempSite& site, const std::string& name) {
      std::string text = site.read(name);
      const std::string dir = lowerAscii(site.path());
      for (size_t at; (at = text.find(dir)) != std::string::npos;)
        text.replace(at, dir.size(), "SITE");
      return linesOf(text);
    };
    for (const std::string& name : open.list()) {
      EXPECT_EQ(withoutDir(open, name), withoutDir(closed, name)) << name;
    }
  }
}

// Standard output piped into a command that stops reading: the run ends on
// SIGPIPE as Unix tools do, or, where SIGPIPE is ignored, with "couldn't
// write stdout." and status 3. Either way it ends, and at once.
TEST(HostileSite, OutputPipedIntoACommandThatExitsEarly) {
  TempSite site;
  std::string manyLinks;
  for (int i = 0; i < 20000; ++i) manyLinks += "<a href=\"gone" + std::to_string(i) + ".htm\">\n";
  site.write("index.htm", manyLinks);
  for (const char* command : {"exit 0", "head -n 1", "head -c 70000"}) {
    for (bool ignore : {false, true}) {
      RunSettings settings;
      settings.pipeCommand = command;
      settings.ignoreSigpipe = ignore;
      settings.timeoutSeconds = 60;
      const RunResult r = runWith(site.path(), {"-u-"}, settings);
      const std::string what = std::string(command) + (ignore ? ", SIGPIPE ignored" : "");
      // Windows has no SIGPIPE: a pipe without a reader is a write error there.
      const bool writeFails = ignore || windowsTarget();
      EXPECT_FALSE(r.timedOut) << what << ": hung";
      EXPECT_EQ(r.status, writeFails ? 3 : 128 + SIGPIPE) << what;
      EXPECT_EQ(r.err, writeFails ? kChecking + "couldn't write stdout." : kChecking) << what;
      // Ended by the signal part way through the check, the run leaves its
      // reference file behind, as any killed run does; otherwise it is gone.
      if (writeFails) {
        EXPECT_EQ(site.list(), std::vector<std::string>{"index.htm"}) << what;
      }
      std::remove((site.path() + "/tangler~.txt").c_str());
    }
  }
}

}  // namespace
