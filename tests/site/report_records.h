// Reports for the writers' tests, made as the checks make them: a tree that
// holds every path named, a record for each finding in the file it is in
// with its reference in that file's text, the files in path order and each
// file's records sorted. The writers then make the messages themselves.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "site/report/finding.h"
#include "test_tree.h"

namespace site {

// A finding as a test states it; paths as the reports write them (ROOT
// joined to the path under it).
struct TestFinding {
  FindingKind kind = FindingKind::MissingFile;
  Level level = Level::Error;
  std::string path;
  uint32_t line = 0;
  uint32_t column = 0;
  std::string reference;
  // missing-anchor: the page the anchor was looked for in; case-mismatch:
  // the stored spelling. Empty for the other kinds.
  std::string target;
  uint32_t sequence = 0;
};

// A report with the tree it names, which its copies share.
struct TestReport {
  std::shared_ptr<const SiteTree> tree;
  SiteReport report;
};

// The report of findings (in any order) in a site whose ROOT is named root,
// where checkedFiles were read. A file's findings that compare equal keep
// their order in findings.
inline TestReport testReport(const std::string& root, const std::vector<TestFinding>& findings,
                             const std::vector<std::string>& checkedFiles = {},
                             bool orphansOff = false) {
  auto under = [&](const std::string& path) {
    return root == "." ? path : path.substr(std::min(path.size(), root.size() + 1));
  };
  std::set<std::string> paths(checkedFiles.begin(), checkedFiles.end());
  for (const TestFinding& finding : findings) paths.insert(finding.path);
  std::vector<std::string> treePaths;
  for (const std::string& path : paths) treePaths.push_back(under(path));
  for (const TestFinding& finding : findings) {
    if (!finding.target.empty()) treePaths.push_back(under(finding.target));
  }
  auto tree = std::make_shared<SiteTree>(makeTree(treePaths));

  TestReport out;
  out.tree = tree;
  out.report.root = root;
  out.report.tree = tree.get();
  out.report.orphansOff = orphansOff;
  std::map<std::string, ReportFile> files;  // by path bytes, as the walk orders them
  for (const std::string& path : paths) {
    ReportFile& file = files[path];
    file.node = nodeOf(*tree, under(path));
    file.checked = std::find(checkedFiles.begin(), checkedFiles.end(), path) != checkedFiles.end();
  }
  for (const TestFinding& finding : findings) {
    ReportFile& file = files[finding.path];
    FindingRecord record;
    record.kind = finding.kind;
    record.level = finding.level;
    record.line = finding.line;
    record.column = finding.column;
    record.sequence = finding.sequence;
    record.textBegin = uint32_t(file.text.size());
    record.textLength = uint32_t(finding.reference.size());
    file.text += finding.reference;
    if (!finding.target.empty()) record.target = nodeOf(*tree, under(finding.target));
    file.records.push_back(record);
  }
  for (auto& [path, file] : files) {
    sortRecords(&file.records);
    out.report.files.push_back(std::move(file));
  }
  return out;
}

}  // namespace site
