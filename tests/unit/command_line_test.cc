#include "app/command_line.h"

#include <gtest/gtest.h>

using namespace tangler;

namespace {

TEST(CommandLine, FlagValue) {
  EXPECT_TRUE(flagValue("-h"));
  EXPECT_TRUE(flagValue("-hx"));
  EXPECT_TRUE(flagValue("-h+"));
  EXPECT_FALSE(flagValue("-h-"));
  EXPECT_FALSE(flagValue("-h-x"));
}

TEST(CommandLine, OptionsTakeEffectInOrder) {
  struct Row {
    std::vector<std::string> args;
    bool ok;
    CaseMode caseMode;
    std::vector<std::string> patterns;
  };
  const std::vector<Row> rows = {
      {{"-r", "-cl"}, true, CaseMode::Lower, {}},
      {{"-cl", "-r"}, true, CaseMode::Different, {}},
      {{"-cl", "-r-"}, true, CaseMode::Different, {}},
      {{"-cu", "-c"}, true, CaseMode::None, {}},
      {{"-cdx"}, true, CaseMode::Different, {}},
      {{"-cx"}, false, CaseMode::None, {}},
      {{"-cD"}, false, CaseMode::None, {}},
      {{"-"}, true, CaseMode::None, {}},
      {{""}, true, CaseMode::None, {""}},
      {{"a.htm", "/r", "-b.htm", "/"}, true, CaseMode::Different, {"a.htm", "-b.htm"}},
      {{"x/y.htm"}, true, CaseMode::None, {"x/y.htm"}},
      {{"-R"}, false, CaseMode::None, {}},
      {{"a?.htm"}, false, CaseMode::None, {}},
      {{"-o", "out.txt"}, true, CaseMode::None, {"out.txt"}},
  };
  for (const Row& row : rows) {
    RunOptions options;
    EXPECT_EQ(parseArguments(row.args, &options), row.ok) << row.args[0];
    if (!row.ok) continue;
    EXPECT_EQ(options.caseMode, row.caseMode) << row.args[0];
    EXPECT_EQ(options.patterns, row.patterns) << row.args[0];
  }
}

TEST(CommandLine, ValuesAndFlags) {
  RunOptions o;
  ASSERT_TRUE(
      parseArguments({"-a-3", "-d-", "-h", "-irefs", "-k", "-k-", "-oout", "-r", "-u-", "-:"}, &o));
  EXPECT_EQ(o.indentColumn, -3);
  EXPECT_FALSE(o.deleteReferenceFile);
  EXPECT_TRUE(o.failHttp);
  EXPECT_EQ(o.referenceFileName, "refs");
  EXPECT_TRUE(o.noKeyWait);
  EXPECT_TRUE(o.hasReportFile);
  EXPECT_EQ(o.reportFileName, "out");
  EXPECT_TRUE(o.referencesOnly);
  EXPECT_FALSE(o.orphanSearch);
  EXPECT_TRUE(o.failOtherSchemes);

  RunOptions e;
  ASSERT_TRUE(parseArguments({"-i", "-o"}, &e));
  EXPECT_EQ(e.referenceFileName, "");
  EXPECT_TRUE(e.hasReportFile);
  EXPECT_EQ(e.reportFileName, "");

  const std::vector<std::pair<std::string, int>> indents = {
      {"-a25", 25},
      {"-a", 0},
      {"-a  \t12", 12},
      {"-a+7", 7},
      {"-a-0", 0},
      {"-a1x2", 1},
      {"-ax", 0},
      {"-a2147483647", 2147483647},
      {"-a99999999999", 2147483647},
      {"-a-99999999999", -2147483647 - 1},
  };
  for (const auto& [arg, value] : indents) {
    RunOptions a;
    ASSERT_TRUE(parseArguments({arg}, &a));
    EXPECT_EQ(a.indentColumn, value) << arg;
  }
}

}  // namespace
