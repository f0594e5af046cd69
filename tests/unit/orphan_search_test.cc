#include "check/orphan_search.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "check/name_matcher.h"
#include "scan_temp_dir.h"
#include "straightforward.h"

namespace {

struct Outcome {
  std::string report;
  std::string errors;
  long long count = 0;
};

Outcome runSearch(const std::string& refFile, bool straightforward, bool caching) {
  FileSystem fs;
  fs.setCaching(caching);
  Outcome outcome;
  RunState state;
  state.report.attachMemory(&outcome.report);
  state.errors.attachMemory(&outcome.errors);
  TextReader reader;
  reader.openMemory(refFile);
  if (straightforward) {
    for (const char* pattern : kOrphanPatterns) {
      searchOrphansByScanning(state, fs, reader, pattern);
    }
  } else {
    EXPECT_TRUE(searchAllOrphans(state, fs, reader));
  }
  outcome.count = state.complaintCount;
  return outcome;
}

std::string pageRecords(const std::vector<std::string>& pages) {
  std::string text = "---------------\ncwd:   /site\n";
  for (const std::string& page : pages) text += "---------------\nname:  " + page + "\n";
  return text;
}

TEST(OrphanSearch, VanishedPagesGiveOneNotePerCandidateThatReachesThem) {
  ScanTempDir site;
  site.write("index.htm", "a.gif");
  site.write("a.gif", "");
  site.write("b.gif", "");
  // gone.htm stands before index.htm: every candidate's search reaches it;
  // lost.htm stands after: only the searches that index.htm does not end.
  const std::string refs = pageRecords({"gone.htm", "index.htm", "lost.htm"});
  for (bool straightforward : {true, false}) {
    Outcome o = runSearch(refs, straightforward, true);
    EXPECT_EQ(o.report,
              "Couldn't find \"index.htm\" mentioned\n"
              "Couldn't find \"b.gif\" mentioned\n");
    EXPECT_EQ(o.errors,
              "(checking for unlinked *.htm*....)\n"
              "couldn't open gone.htm\ncouldn't open lost.htm\n"
              "(checking for unlinked *.gif....)\n"
              "couldn't open gone.htm\n"
              "couldn't open gone.htm\ncouldn't open lost.htm\n");
    EXPECT_EQ(o.count, 5);
  }
}

// A page that opens but cannot be read is noted like one that cannot be
// opened, for each candidate whose search reaches it.
TEST(OrphanSearch, UnreadablePagesGiveTheirOwnNote) {
#ifdef _WIN32
  GTEST_SKIP() << "no file here opens and then fails to read";
#else
  ScanTempDir site;
  site.write("index.htm", "a.gif");
  site.write("a.gif", "");
  std::filesystem::create_symlink("/proc/self/mem", "mem.htm");
  for (bool straightforward : {true, false}) {
    Outcome o = runSearch(pageRecords({"mem.htm", "index.htm"}), straightforward, true);
    EXPECT_EQ(o.report,
              "Couldn't find \"index.htm\" mentioned\n"
              "Couldn't find \"mem.htm\" mentioned\n");
    EXPECT_EQ(o.errors,
              "(checking for unlinked *.htm*....)\n"
              "couldn't read mem.htm\ncouldn't read mem.htm\n"
              "(checking for unlinked *.gif....)\n"
              "couldn't read mem.htm\n");
    EXPECT_EQ(o.count, 3);
  }
#endif
}

TEST(NameMatcher, FindsEveryNameInOnePassIgnoringCase) {
  const std::vector<std::string> names = {"a.gif", "banana.gif", "NAN", "", "ab", "b", "A.GIF"};
  NameMatcher m;
  buildNameMatcher(names, &m);
  struct Row {
    std::string text;
    std::vector<int> found;  // by index, in order of their ends
  };
  const std::vector<Row> rows = {
      {"", {}},
      {"xyz", {}},
      // b, nan, then at the last byte the longest name first: banana.gif, a.gif
      // (reported by its first spelling).
      {"Banana.GIF", {5, 2, 1, 0}},
      {"a.g\nif", {}},
      {"aab", {4, 5}},
      {"b\nb", {5, 5}},
  };
  for (const Row& row : rows) {
    std::vector<int> found;
    int32_t state = 0;
    matchNames(m, &state, reinterpret_cast<const unsigned char*>(row.text.data()), row.text.size(),
               [&](int32_t id) { found.push_back(id); });
    EXPECT_EQ(found, row.found) << row.text;
  }
}

// Random small sites searched both ways: the fast search must write the same
// report and notes, in the same order, as the search one candidate at a time.
TEST(OrphanSearch, FastSearchAgreesWithTheStraightforwardOne) {
  const std::vector<std::string> vocabulary = {
      "a.htm", "B.HTM", "ab.htm", "x.gif",     "X1.GIF", "a.gif",     "banana.gif", "p.png",
      "s.exe", "z.zip", "d.dmg",  "page.html", "q.jpg",  "r.htm.gif", "c.htm5",     "n.txt"};
  std::mt19937 rng(4242);
  for (int round = 0; round < 1000; ++round) {
    ScanTempDir site;
    std::vector<std::string> present;
    for (const std::string& name : vocabulary) {
      if (rng() % 2) present.push_back(name);
    }
    // Pages mention a few names in random case, some broken by a line end.
    for (const std::string& name : present) {
      std::string text;
      int mentions = static_cast<int>(rng() % 4);
      for (int i = 0; i < mentions; ++i) {
        std::string other = vocabulary[rng() % vocabulary.size()];
        for (char& c : other) {
          if (rng() % 3 == 0)
            c = static_cast<char>(c ^ 0x20 * ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'));
        }
        if (rng() % 5 == 0) other.insert(rng() % other.size(), "\n");
        text += "<p>" + other + (rng() % 2 ? "\r\n" : " ");
      }
      site.write(name, text);
    }
    std::vector<std::string> pages;
    int records = static_cast<int>(rng() % 6);
    for (int i = 0; i < records; ++i) {
      switch (rng() % 4) {
        case 0:
          pages.push_back("gone" + std::to_string(rng() % 2) + ".htm");
          break;
        case 1:
          if (!pages.empty()) {
            pages.push_back(pages[rng() % pages.size()]);
            break;
          }
          [[fallthrough]];
        default:
          pages.push_back(vocabulary[rng() % vocabulary.size()]);
      }
    }
    const std::string refs = pageRecords(pages);
    Outcome slow = runSearch(refs, true, true);
    Outcome fast = runSearch(refs, false, true);
    Outcome uncached = runSearch(refs, false, false);
    ASSERT_EQ(fast.report, slow.report) << refs;
    ASSERT_EQ(fast.errors, slow.errors) << refs;
    ASSERT_EQ(fast.count, slow.count) << refs;
    ASSERT_EQ(uncached.report, fast.report) << refs;
    ASSERT_EQ(uncached.errors, fast.errors) << refs;
  }
}

}  // namespace
