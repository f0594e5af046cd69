// tangler-site on trees built to hurt a walker: deeper than any path the
// system takes whole, links that multiply the paths to each file, and a page
// swapped for a link out of the site while the program runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "run_harness.h"

namespace {

namespace fs = std::filesystem;
using site_e2e::RunResult;
using site_e2e::Scratch;

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// Lowers the descriptors a child may open for the life of the object.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t most) {
    saved_ = getrlimit(RLIMIT_NOFILE, &old_) == 0;
    rlimit lower = old_;
    lower.rlim_cur = std::min(most, old_.rlim_cur);
    if (saved_) setrlimit(RLIMIT_NOFILE, &lower);
  }
  ~DescriptorLimit() {
    if (saved_) setrlimit(RLIMIT_NOFILE, &old_);
  }

 private:
  rlimit old_{};
  bool saved_ = false;
};

TEST(SiteRunHostile, TreeDeeperThanAnyPathIsWalkedWithFewDescriptors) {
  SKIP_ON_WINDOWS("Wine reaches each file by its whole Unix path, which Linux refuses past 4 KiB");
  Scratch scratch;
  const int depth = 2100;  // "d/" 2,100 times: over 4 KiB
  const std::string below = repeated("d/", depth);
  scratch.write("site/index.html", "<a href=\"" + below + "index.html\">deep</a>");
  // Made one level at a time relative to the level above, as no path to the
  // bottom can be handed to the system whole.
  int dir = open((scratch.dir() / "site").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dir, 0);
  for (int level = 0; level < depth; ++level) {
    ASSERT_EQ(mkdirat(dir, "d", 0755), 0) << level;
    const int next = openat(dir, "d", O_RDONLY | O_DIRECTORY);
    close(dir);
    ASSERT_GE(dir = next, 0) << level;
  }
  const std::string page = "<a href=\"missing.html\">x</a>";
  const int file = openat(dir, "index.html", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(write(file, page.data(), page.size()), ssize_t(page.size()));
  close(file);
  ASSERT_EQ(symlinkat("nowhere.html", dir, "dangling.html"), 0);
  close(dir);

  DescriptorLimit limit(64);  // far fewer than the levels
  RunResult run = scratch.run({"-q", "site"});
  EXPECT_EQ(run.out,
            "site/" + below + "index.html:1:10: error: 'missing.html' not found [missing-file]\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 1);
}

// (Wine shows the links as plain directories: the Windows build must tell
// them apart by identity alone.)
TEST(SiteRunHostile, LadderOfLinksWalksEachFileOnce) {
  for (int levels : {20, 200}) {
    SCOPED_TRACE(levels);
    Scratch scratch;
    // Each level's "a" and "b" lead to the next: 2^(levels-1) paths to the
    // last page, one file.
    scratch.write("site/index.html", "<a href=\"l0/page.html\">start</a>");
    for (int i = 0; i < levels; ++i) {
      const std::string level = "site/l" + std::to_string(i);
      scratch.write(level + "/page.html", "<a href=\"b/page.html#top\">next</a>");
      if (i + 1 == levels) break;
      const std::string next = "../l" + std::to_string(i + 1);
      fs::create_directory_symlink(next, scratch.dir() / level / "a");
      fs::create_directory_symlink(next, scratch.dir() / level / "b");
    }
    RunResult run = scratch.run({"site"});
    // Level i is first reached as l0/a/a/.../a (i times): the report names
    // the last page so, once, and no level is an orphan.
    ASSERT_EQ(run.out, "site/l0/" + repeated("a/", levels - 1) +
                           "page.html:1:10: error: 'b/page.html#top' not found [missing-file]\n");
    const std::string counts = std::to_string(levels + 1) + " pages, " +
                               std::to_string(levels + 1) + " files, " +
                               std::to_string(levels + 1) + " references";
    EXPECT_EQ(run.err.rfind("tangler-site: " + counts + " (0 external, not checked): 1 error, ", 0),
              0u)
        << run.err;
    EXPECT_EQ(run.status, 1);
  }
}

// The paths a file or directory is reached by through links inside ROOT:
// the first in byte order walks it, the others resolve to it; links that
// leave ROOT or loop are not there.
TEST(SiteRunHostile, AliasesResolveToTheFileWalkedUnderItsFirstPath) {
  SKIP_ON_WINDOWS("Wine shows a Linux symbolic link as the file it leads to");
  Scratch scratch;
  scratch.write("site/index.html",
                "<a href=\"v1/page.html#sec\"></a><a href=\"latest/page.html#nope\"></a>\n"
                "<a href=\"B.html\"></a><a href=\"out/x.html\"></a><a href=\"v1/up/index.html\">"
                "</a>\n<a href=\"old.html#gone\"></a>\n");
  scratch.write("site/old.html", "<meta http-equiv=\"refresh\" content=\"0; url=alias.html\">");
  scratch.write("site/v1/page.html", "<h1 id=\"sec\"></h1><a href=\"../.src/b.html\"></a>");
  scratch.write("site/.src/b.html", "");
  scratch.write("outside/x.html", "");
  const fs::path site = scratch.dir() / "site";
  fs::create_directory_symlink("v1", site / "latest");
  fs::create_symlink("v1/page.html", site / "alias.html");
  fs::create_directory_symlink(fs::absolute(site / "v1"), site / "abs");  // absolute, yet inside
  fs::create_symlink(".src/b.html", site / "b.html");  // a hidden file, walked at its visible path
  fs::create_directory_symlink("../outside", site / "out");
  fs::create_directory_symlink("..", site / "v1/up");  // a loop
  RunResult run = scratch.run({"-q", "site"});
  EXPECT_EQ(run.out,
            "site/index.html:1:41: error: 'latest/page.html#nope': site/abs/page.html has no "
            "anchor 'nope' [missing-anchor]\n"
            "site/index.html:2:10: error: 'B.html' differs in letter case from the stored "
            "'site/b.html' [case-mismatch]\n"
            "site/index.html:2:31: error: 'out/x.html' not found [missing-file]\n"
            "site/index.html:2:56: error: 'v1/up/index.html' not found [missing-file]\n"
            "site/index.html:3:10: error: 'old.html#gone': site/abs/page.html has no anchor "
            "'gone' [missing-anchor]\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 1);
}

TEST(SiteRunHostile, PageSwappedForALinkOutIsNeverReadThere) {
  SKIP_ON_WINDOWS("Wine shows a Linux symbolic link as the file it leads to");
  Scratch scratch;
  const int pages = 1000;
  for (int i = 0; i < pages; ++i) {
    scratch.write("site/p" + std::to_string(i) + ".html",
                  "<a href=\"p" + std::to_string((i + 1) % pages) + ".html\"></a>");
  }
  const std::string real = "<a href=\"p0.html\">real</a>";
  scratch.write("site/swap.html", real);
  scratch.write("outside/secret.html", "<a href=\"outside-secret.html\">secret</a>");
  const fs::path site = scratch.dir() / "site";
  const std::string swap = (site / "swap.html").string();

  // Turns swap.html into a fresh copy of itself, then into a link to the
  // page outside, each by an atomic rename, until told to stop.
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    const std::string fresh = (site / ".fresh").string(), link = (site / ".link").string();
    while (!stop.load()) {
      scratch.write("site/.fresh", real);
      std::rename(fresh.c_str(), swap.c_str());
      symlink("../outside/secret.html", link.c_str());
      std::rename(link.c_str(), swap.c_str());
    }
  });
  int runs = 0, changed = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  while (runs < 40 && std::chrono::steady_clock::now() < end) {
    RunResult run = scratch.run({"-q", "--orphans=off", "site"});
    ++runs;
    EXPECT_EQ(run.out.find("outside-secret"), std::string::npos) << run.out;
    if (run.err.empty()) {
      EXPECT_EQ(run.status, 0);
    } else {
      ++changed;
      EXPECT_EQ(run.err, "tangler-site: cannot read 'site/swap.html': changed during the run\n");
      EXPECT_EQ(run.status, 3);
    }
  }
  stop = true;
  swapper.join();
  EXPECT_GE(runs, 5);
  std::cout << "[          ] " << runs << " runs, " << changed << " saw swap.html change\n";
}

// Sanitizers reserve far more memory than any limit below would allow.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A page of 96 MiB, read with the program's data held to 40 MiB: it is read
// in pieces, and its last link, near the end, is still found. A page that
// costs memory by its findings fails with the system's reason, never a
// crash or a silent pass.
TEST(SiteRunHostile, PageLargerThanTheMemoryLimitIsReadWhole) {
  SKIP_ON_WINDOWS("the limit is set by prlimit");
  if (kSanitized) GTEST_SKIP() << "sanitizers reserve more memory than the limit";
  Scratch scratch;
  const std::string line =
      "<p>" + repeated("lorem ipsum dolor sit amet ", 36) + "<a href=\"#top\">up</a></p>\n";
  {
    std::string page = "<!doctype html><title id=\"top\">big</title>\n";
    while (page.size() < (1u << 20)) page += line;
    scratch.write("site/index.html", "");
    std::ofstream file(scratch.dir() / "site/index.html", std::ios::binary);
    for (int i = 0; i < 96; ++i) file << page;
    file << "<a href=\"gone.html\">last</a>\n";
  }
  RunResult run = scratch.run({"-q", "site"}, "prlimit --data=41943040");
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("error: 'gone.html' not found [missing-file]"), std::string::npos)
      << run.out.substr(0, 300);
  EXPECT_EQ(run.status, 1);

  scratch.write("many/index.html", repeated("<a href=\"gone.html\">x</a>\n", 1000000));
  run = scratch.run({"-q", "many"}, "prlimit --data=25165824");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "tangler-site: cannot read 'many/index.html': Cannot allocate memory\n");
  EXPECT_EQ(run.status, 3);
}

}  // namespace
