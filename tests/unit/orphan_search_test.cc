#include "check/orphan_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "check/name_matcher.h"
#include "platform/ascii_case.h"
#include "scan_temp_dir.h"
#include "straightforward.h"

using namespace tangler;

namespace {

struct Outcome {
  std::string report;
  std::string errors;
  long long count = 0;
};

// Runs the search the straightforward way or the fast way with a number of
// helper threads, over a reference file held in memory or, when refPath is
// given, on disk. With reportPath, the report goes to that file, which holds
// "<p>shown.gif" (written out) and "<p>held.gif" (still buffered) when the
// search begins, so that a page that is the report file sees only the first.
Outcome runSearch(const std::string& refFile, bool straightforward, bool caching,
                  unsigned helpers = 0, const std::string& refPath = "",
                  const std::string& reportPath = "") {
  FileSystem fs;
  fs.setCaching(caching);
  Outcome outcome;
  RunState state;
  state.errors.attachMemory(&outcome.errors);
  if (reportPath.empty()) {
    state.report.attachMemory(&outcome.report);
  } else {
    EXPECT_TRUE(state.report.create(reportPath, fs));
    state.report.write("<p>shown.gif\n");
    state.report.flush();
    state.report.write("<p>held.gif\n");
  }
  TextReader reader;
  if (refPath.empty()) {
    reader.openMemory(refFile);
  } else {
    EXPECT_TRUE(reader.open(refPath, fs));
  }
  if (straightforward) {
    for (const char* pattern : kOrphanPatterns) {
      searchOrphansByScanning(state, fs, reader, pattern);
    }
  } else {
    EXPECT_TRUE(searchAllOrphans(state, fs, reader, helpers));
  }
  outcome.count = state.complaintCount;
  if (!reportPath.empty()) {
    EXPECT_TRUE(state.report.close());
    TextReader written;
    EXPECT_TRUE(written.open(reportPath, fs));
    for (std::string line; written.readLine(&line);) outcome.report += line + "\n";
  }
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

// A page that mentions thousands of names over and over, more than are kept
// track of while it is read: each still counts as mentioned.
TEST(OrphanSearch, PagesMentioningThousandsOfNames) {
  ScanTempDir site;
  std::string text;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 1500; ++i) text += "n" + std::to_string(i) + ".gif ";
  }
  site.write("big.htm", text);
  for (int i = 0; i < 1500; ++i) site.write("n" + std::to_string(i) + ".gif", "");
  site.write("never.gif", "");
  for (unsigned helpers : {0u, 3u}) {
    Outcome o = runSearch(pageRecords({"gone.htm", "big.htm"}), false, true, helpers);
    EXPECT_EQ(o.report,
              "Couldn't find \"big.htm\" mentioned\n"
              "Couldn't find \"never.gif\" mentioned\n");
    EXPECT_EQ(o.count, 1502);  // gone.htm, once for each candidate
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

// The names found in text, each once, fed in pieces of the given size.
std::vector<uint32_t> matchedNames(const NameMatcher& m, const std::string& text, size_t piece) {
  std::vector<uint32_t> found;
  NameSearch search;
  startText(&search);
  for (size_t at = 0; at < text.size(); at += piece) {
    const size_t size = std::min(piece, text.size() - at);
    feedText(m, &search, reinterpret_cast<const unsigned char*>(text.data() + at), size, &found);
  }
  endText(m, &search, &found);
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

// The names found the straightforward way: each searched for in each line.
std::vector<uint32_t> namesInLines(const std::vector<std::string>& names, const std::string& text) {
  std::vector<uint32_t> found;
  for (uint32_t i = 0; i < names.size(); ++i) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = std::min(text.find('\n', start), text.size());
      if (findIgnoringCase(std::string_view(text).substr(start, end - start), names[i]) !=
          std::string::npos) {
        found.push_back(i);
        break;
      }
      start = end + 1;
    }
  }
  return found;
}

NameMatcher matcherFor(const std::vector<std::string>& names) {
  NameMatcher m;
  buildNameMatcher(std::vector<std::string_view>(names.begin(), names.end()), &m);
  return m;
}

TEST(NameMatcher, FindsEveryNameInOnePassIgnoringCase) {
  const std::vector<std::string> names = {"a.gif", "banana.gif", "NAN",    "",    "ab",
                                          "b",     "r.htm.GIF",  "x.html", ".htm"};
  const NameMatcher m = matcherFor(names);
  struct Row {
    std::string text;
    std::vector<uint32_t> found;
  };
  const std::vector<Row> rows = {
      {"", {}},
      {"xyz", {}},
      {"Banana.GIF", {0, 1, 2, 5}},
      {"a.g\nif", {}},
      {"aab", {4, 5}},
      {"b\nb", {5}},
      // Anchored at its first extension, the name is found whatever follows.
      {"R.HTM.gif x", {6, 8}},
      {"r.htm.gi", {8}},
      {"x.html", {8, 7}},
      {"x.htm", {8}},
      {".htm.htm", {8}},
  };
  for (const Row& row : rows) {
    std::vector<uint32_t> expected = row.found;
    std::sort(expected.begin(), expected.end());
    for (size_t piece : {size_t(1), size_t(3), size_t(1000)}) {
      EXPECT_EQ(matchedNames(m, row.text, piece), expected)
          << row.text << " in pieces of " << piece;
    }
  }
}

// Random names and texts over a few bytes, so that names share prefixes,
// suffixes and extensions often (classes of many names among them), fed in
// pieces of random sizes: the same names as searching each line for each.
TEST(NameMatcher, AgreesWithSearchingEachLine) {
  const std::vector<std::string> parts = {"a",    "B", "x", ".htm", ".HTML", ".gif", ".jpg",
                                          ".zip", ".", "h", "\xe9", "1",     "2"};
  std::mt19937 rng(1212);
  for (int round = 0; round < 1000; ++round) {
    std::vector<std::string> names;
    std::vector<std::string> folded;
    const int count = static_cast<int>(rng() % 40);
    for (int i = 0; i < count; ++i) {
      std::string name;
      const int size = 1 + static_cast<int>(rng() % 5);
      for (int k = 0; k < size; ++k) name += parts[rng() % parts.size()];
      if (std::find(folded.begin(), folded.end(), lowerCaseAscii(name)) != folded.end()) continue;
      folded.push_back(lowerCaseAscii(name));
      names.push_back(name);
    }
    const NameMatcher m = matcherFor(names);
    std::string text;
    const int size = static_cast<int>(rng() % 200);
    for (int k = 0; k < size; ++k) {
      text += rng() % 8 == 0 ? std::string("\n") : parts[rng() % parts.size()];
    }
    const size_t piece = 1 + rng() % 64;
    ASSERT_EQ(matchedNames(m, text, piece), namesInLines(names, text))
        << "round " << round << " text " << text;
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
    // The records as a reader may meet them: in either case, with other
    // records and lines that only begin like one between them, line ends
    // with a carriage return, the last without its line feed.
    std::string refs = "---------------\ncwd:   /site\n";
    for (const std::string& page : pages) {
      refs += rng() % 3 == 0 ? "---------------\nnam:  x\n" : "---------------\n";
      refs += (rng() % 2 ? "name:  " : "NAME:  ") + page + (rng() % 4 == 0 ? "\r\n" : "\n");
      if (rng() % 2) refs += "ref:   n.gif line#<1>\n";
    }
    if (rng() % 2) refs.pop_back();
    Outcome slow = runSearch(refs, true, true);
    Outcome fast = runSearch(refs, false, true);
    Outcome uncached = runSearch(refs, false, false);
    Outcome threaded = runSearch(refs, false, true, 3);
    ASSERT_EQ(fast.report, slow.report) << refs;
    ASSERT_EQ(fast.errors, slow.errors) << refs;
    ASSERT_EQ(fast.count, slow.count) << refs;
    ASSERT_EQ(uncached.report, fast.report) << refs;
    ASSERT_EQ(uncached.errors, fast.errors) << refs;
    ASSERT_EQ(threaded.report, fast.report) << refs;
    ASSERT_EQ(threaded.errors, fast.errors) << refs;
    ASSERT_EQ(threaded.count, fast.count) << refs;
  }
}

// Sites of hundreds of pages, many more than the threads have in hand at
// once, searched with and without helper threads and candidate by
// candidate: the same report, notes and count. Some names are first
// mentioned on the last pages only; pages that vanished or cannot be read
// and pages listed twice are scattered among the records, and so are the
// reference file and the report file themselves.
TEST(OrphanSearch, HelperThreadsChangeNothing) {
  struct Row {
    unsigned seed;
    int pages;
    bool mentionAll;  // every candidate mentioned: the search may end early
  };
  const Row rows[] = {{1, 300, false}, {2, 700, false}, {3, 500, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE("seed " + std::to_string(row.seed));
    std::mt19937 rng(row.seed);
    ScanTempDir site;
    // Candidates: the pages, images (a pair equal but for case), and names
    // the report and reference files mention.
    std::vector<std::string> images = {"Pic.GIF",   "pic.gif",  "late.jpg",
                                       "shown.gif", "held.gif", "refs.gif"};
    for (int i = 0; i < 40; ++i) images.push_back("img" + std::to_string(i) + ".png");
    std::vector<std::string> records;
    for (int i = 0; i < row.pages; ++i) {
      const std::string name = "p" + std::to_string(i) + ".htm";
      std::string text = "<p>";
      for (int k = 0; k < 3; ++k) {
        text += "p" + std::to_string(rng() % row.pages) + ".HTM " +
                images[6 + rng() % (images.size() - 6)] + "\n";
      }
      // Every name but this one is mentioned on the middle page of the
      // last row; the pages after this one need not be read there.
      if (i == (row.mentionAll ? row.pages * 3 / 4 : row.pages - 1)) text += "late.JPG";
      if (row.mentionAll && i == row.pages / 2) {
        text += "report.htm mem.htm";
        for (int k = 0; k < row.pages; ++k) text += " p" + std::to_string(k) + ".htm";
        for (const std::string& image : images) {
          if (image != "late.jpg") text += " " + image + "\n";
        }
      }
      // Records are in lower case; some pages are stored otherwise.
      site.write(i % 5 == 0 ? "P" + name.substr(1) : name, text);
      records.push_back(name);
      switch (rng() % 16) {
        case 0:
          records.push_back("gone" + std::to_string(rng() % 3) + ".htm");
          break;
        case 1:
          records.push_back(records[rng() % records.size()]);
          break;
#ifndef _WIN32
        case 2:
          records.push_back("mem.htm");
          break;
#endif
        case 3:
          records.push_back(rng() % 2 ? "refs.txt" : "report.htm");
          break;
        case 4:
          records.push_back("./" + name);
          break;
      }
    }
    for (const std::string& image : images) site.write(image, "");
#ifndef _WIN32
    std::filesystem::create_symlink("/proc/self/mem", "mem.htm");
#endif
    const std::string refs = pageRecords(records) + "<p>refs.gif\n";
    site.write("refs.txt", refs);
    const Outcome slow = runSearch(refs, true, true, 0, "refs.txt", "report.htm");
    for (unsigned helpers : {0u, 3u}) {
      const Outcome fast = runSearch(refs, false, true, helpers, "refs.txt", "report.htm");
      EXPECT_EQ(fast.report, slow.report) << helpers << " helpers";
      EXPECT_EQ(fast.errors, slow.errors) << helpers << " helpers";
      EXPECT_EQ(fast.count, slow.count) << helpers << " helpers";
    }
    EXPECT_GT(slow.count, 0);
    EXPECT_EQ(slow.report.find("\"late.jpg\""), std::string::npos) << slow.report;
    if (row.mentionAll) {
      EXPECT_EQ(slow.report.find("Couldn't find"), std::string::npos) << slow.report;
    } else {
      // Mentioned only by the reference file and by what the report file
      // held written out; its buffered line was not there to be read.
      EXPECT_EQ(slow.report.find("\"refs.gif\""), std::string::npos) << slow.report;
      EXPECT_EQ(slow.report.find("\"shown.gif\""), std::string::npos) << slow.report;
      EXPECT_NE(slow.report.find("\"held.gif\""), std::string::npos) << slow.report;
      EXPECT_NE(slow.report.find("\"Pic.GIF\""), std::string::npos) << slow.report;
#ifndef _WIN32
      // Windows keeps one file for names equal but for case.
      EXPECT_NE(slow.report.find("\"pic.gif\""), std::string::npos) << slow.report;
#endif
    }
  }
}

}  // namespace
