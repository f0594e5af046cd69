// The --ignore list over the RE2 the build links. A Windows build links an
// RE2 built from Debian's source, whose Unicode, case-folding and Perl class
// tables are generated while building: these rows fail if a table came out
// empty or wrong, or if the library's locks do not hold across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "site/check/ignore_list.h"

namespace site {
namespace {

struct MatchRow {
  const char* pattern;
  const char* reference;
  bool matches;
};

TEST(IgnoreListRe2, MatchesThroughTheGeneratedTables) {
  const MatchRow rows[] = {
      // Unicode scripts and categories (unicode_groups).
      {"\\p{Greek}", "/docs/\xce\xb1\xce\xb2\xce\xb3.html", true},
      {"\\p{Greek}", "/docs/abc.html", false},
      {"^/\\p{Lu}", "/\xc3\x84rger.html", true},
      {"^/\\p{Lu}", "/\xc3\xa4rger.html", false},
      // Case folding beyond ASCII (unicode_casefold): the Kelvin sign is a k.
      {"(?i)\xc3\xa4rger", "/\xc3\x84RGER.html", true},
      {"(?i)kelvin",
       "/\xe2\x84\xaa"
       "elvin.html",
       true},
      {"kelvin",
       "/\xe2\x84\xaa"
       "elvin.html",
       false},
      // Perl and POSIX classes (perl_groups).
      {"\\d+\\.html$", "/page12.html", true},
      {"\\d+\\.html$", "/pageXII.html", false},
      {"^https?://[[:alpha:]]+\\.example/\\w+$", "https://cdn.example/lib_2", true},
      {"\\s", "/no-space.html", false},
  };
  for (const MatchRow& row : rows) {
    IgnoreList list;
    std::string error;
    ASSERT_TRUE(list.compile({row.pattern}, &error)) << row.pattern << ": " << error;
    EXPECT_EQ(list.matches(row.reference), row.matches)
        << "pattern " << row.pattern << ", reference " << row.reference;
    EXPECT_EQ(list.used(0), row.matches) << row.pattern;
  }
}

TEST(IgnoreListRe2, NamesAPatternThatDoesNotCompile) {
  IgnoreList list;
  std::string error;
  EXPECT_FALSE(list.compile({"ok", "\\p{NoSuchScript}"}, &error));
  EXPECT_NE(error.find("\\p{NoSuchScript}"), std::string::npos) << error;
  EXPECT_TRUE(list.empty());
}

// Many threads share one compiled set, as the page readers do; RE2 builds
// its DFA states lazily under its own lock.
TEST(IgnoreListRe2, MatchesFromManyThreadsAtOnce) {
  IgnoreList list;
  std::string error;
  ASSERT_TRUE(list.compile({"^/tmp/", "\\.bak$", "(?i)draft-\\d+"}, &error)) << error;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&list, &wrong, t] {
      for (int i = 0; i < 2000; ++i) {
        std::string page = "/p" + std::to_string(t) + "-" + std::to_string(i);
        bool ignored = i % 3 == 0;
        std::string reference = i % 3 == 0 ? page + "/DRAFT-" + std::to_string(i) : page + ".html";
        if (list.matches(reference) != ignored) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_FALSE(list.used(0));
  EXPECT_FALSE(list.used(1));
  EXPECT_TRUE(list.used(2));
}

}  // namespace
}  // namespace site
