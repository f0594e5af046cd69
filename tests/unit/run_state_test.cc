#include "report/run_state.h"

#include <gtest/gtest.h>

using namespace tangler;

namespace {

TEST(RunState, ComplaintsArePaddedToTheIndentColumn) {
  struct Row {
    std::string page;
    uint32_t line;
    int indent;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"index.htm", 12, 25, "index.htm (12):          msg\n"},
      {"index.htm", 12, 16, "index.htm (12): msg\n"},
      {"index.htm", 12, 17, "index.htm (12):  msg\n"},
      {"index.htm", 12, 0, "index.htm (12): msg\n"},
      {"index.htm", 12, -5, "index.htm (12): msg\n"},
      {"a-very-long-page-name.htm", 1, 25, "a-very-long-page-name.htm (1): msg\n"},
      {"", 0, 8, " (0):   msg\n"},
      {"p", 4294967295u, 0, "p (-1): msg\n"},
  };
  for (const Row& row : rows) {
    RunState state;
    std::string report;
    state.report.attachMemory(&report);
    state.currentPage = row.page;
    state.currentLine = row.line;
    complain(state, row.indent, "msg");
    state.report.flush();
    EXPECT_EQ(report, row.expected) << row.page << " " << row.indent;
    EXPECT_EQ(state.complaintCount, 1);
  }
}

TEST(RunState, NotesCountAndGoToTheErrorStream) {
  RunState state;
  std::string report, errors;
  state.report.attachMemory(&report);
  state.errors.attachMemory(&errors);
  note(state, "no *.htm");
  reportOpenFailure(state, "x.htm", "r");
  state.errors.flush();
  state.report.flush();
  EXPECT_EQ(errors, "no *.htm\ncouldn't open x.htm for r.");
  EXPECT_EQ(report, "");
  EXPECT_EQ(state.complaintCount, 1);
}

}  // namespace
