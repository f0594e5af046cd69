#include "site/report/sarif_writer.h"

#include <nlohmann/json.hpp>

#include "site/report/utf8_repair.h"

namespace site {

namespace {

constexpr FindingKind kRuleKinds[kFindingKindCount] = {
    FindingKind::MissingFile, FindingKind::MissingAnchor, FindingKind::CaseMismatch,
    FindingKind::OutsideRoot, FindingKind::FileScheme,    FindingKind::InvalidUrl,
    FindingKind::Orphan,
};

const char* ruleDescription(FindingKind kind) {
  switch (kind) {
    case FindingKind::MissingFile:
      return "A reference names a file that does not exist.";
    case FindingKind::MissingAnchor:
      return "A reference names an anchor that its page does not have.";
    case FindingKind::CaseMismatch:
      return "A reference differs in letter case from the file it names, so it breaks on a "
             "case-sensitive server.";
    case FindingKind::OutsideRoot:
      return "A reference climbs above the root of the site.";
    case FindingKind::FileScheme:
      return "A file: reference only works on the computer that holds the file.";
    case FindingKind::InvalidUrl:
      return "An external reference is not a URL that a browser can follow.";
    case FindingKind::Orphan:
      return "No page or style sheet references the file.";
  }
  return "";
}

int ruleIndex(FindingKind kind) {
  for (int index = 0; index < kFindingKindCount; ++index) {
    if (kRuleKinds[index] == kind) return index;
  }
  return 0;
}

bool keptInUri(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':  // unreserved
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':  // sub-delimiters
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case '@':
    case '/':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string pathToUri(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri;
  uri.reserve(path.size());
  for (char byte : path) {
    const unsigned char c = static_cast<unsigned char>(byte);
    if (keptInUri(c)) {
      uri += byte;
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xF];
    }
  }
  return uri;
}

std::string writeSarif(const SiteReport& report) {
  using nlohmann::ordered_json;
  ordered_json rules = ordered_json::array();
  for (FindingKind kind : kRuleKinds) {
    ordered_json rule;
    rule["id"] = kindName(kind);
    rule["shortDescription"] = {{"text", ruleDescription(kind)}};
    // The orphan level is the user's choice; the other kinds have one level.
    if (kind != FindingKind::Orphan) {
      const Level level = kind == FindingKind::FileScheme ? Level::Warning : Level::Error;
      rule["defaultConfiguration"] = {{"level", levelName(level)}};
    }
    rules.push_back(std::move(rule));
  }

  ordered_json results = ordered_json::array();
  for (const Finding& finding : report.findings) {
    ordered_json physical;
    physical["artifactLocation"] = {{"uri", pathToUri(finding.path)}};
    if (finding.kind != FindingKind::Orphan) {
      physical["region"] = {{"startLine", finding.line}, {"startColumn", finding.column}};
    }
    ordered_json result;
    result["ruleId"] = kindName(finding.kind);
    result["ruleIndex"] = ruleIndex(finding.kind);
    result["level"] = levelName(finding.level);
    result["message"] = {{"text", repairUtf8(finding.message)}};
    result["locations"] = ordered_json::array({{{"physicalLocation", std::move(physical)}}});
    results.push_back(std::move(result));
  }

  ordered_json driver;
  driver["name"] = "tangler-site";
  driver["version"] = TANGLER_VERSION;
  driver["rules"] = std::move(rules);
  ordered_json run;
  run["tool"] = {{"driver", std::move(driver)}};
  run["results"] = std::move(results);
  ordered_json log;
  log["$schema"] =
      "https://docs.oasis-open.org/sarif/sarif/v2.1.0/errata01/os/schemas/sarif-schema-2.1.0.json";
  log["version"] = "2.1.0";
  log["runs"] = ordered_json::array({std::move(run)});
  // Messages are repaired above and URIs are ASCII; replacing on dump is a
  // second guard.
  return log.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace site
