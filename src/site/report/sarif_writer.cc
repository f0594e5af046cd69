#include "site/report/sarif_writer.h"

#include "site/report/json_layout.h"

namespace site {

namespace {

// Whether report paths are Windows paths, where an absolute ROOT starts with
// a drive letter ("C:/site") or a server ("//server/share").
#ifdef _WIN32
constexpr bool kWindowsPaths = true;
#else
constexpr bool kWindowsPaths = false;
#endif

constexpr FindingKind kRuleKinds[kFindingKindCount] = {
    FindingKind::MissingFile, FindingKind::MissingAnchor, FindingKind::CaseMismatch,
    FindingKind::OutsideRoot, FindingKind::FileScheme,    FindingKind::InvalidUrl,
    FindingKind::Orphan,      FindingKind::HttpError,     FindingKind::Unreachable,
    FindingKind::RateLimited, FindingKind::Moved,
};
// Every kind has its rule, once: ruleIndex() finds each.
constexpr bool everyKindHasOneRule() {
  for (int kind = 0; kind < kFindingKindCount; ++kind) {
    int rules = 0;
    for (FindingKind ruleKind : kRuleKinds) rules += ruleKind == FindingKind(kind) ? 1 : 0;
    if (rules != 1) return false;
  }
  return true;
}
static_assert(everyKindHasOneRule(), "kRuleKinds must list every FindingKind once");

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
    case FindingKind::HttpError:
      return "An external URL answered with a status that does not count as working.";
    case FindingKind::Unreachable:
      return "An external URL could not be reached.";
    case FindingKind::RateLimited:
      return "An external server asked to wait longer than --max-wait before it is asked "
             "again.";
    case FindingKind::Moved:
      return "An external URL has moved permanently to another.";
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

std::string pathToUri(std::string_view path, bool windowsPaths) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri;
  uri.reserve(path.size() + 8);
  if (windowsPaths) {
    const bool letter =
        !path.empty() && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (letter && path.size() >= 3 && path[1] == ':' && path[2] == '/') {
      uri = "file:///";
      uri += path.substr(0, 2);
      path.remove_prefix(2);
    } else if (path.size() >= 3 && path[0] == '/' && path[1] == '/' && path[2] != '/') {
      uri = "file:";  // the server name becomes the URI's authority
    }
  }
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

bool writeSarif(const SiteReport& report, ReportSink& sink) {
  JsonLayout layout;
  jsonOpen(&layout, "", '{');
  jsonString(&layout, "$schema",
             "https://docs.oasis-open.org/sarif/sarif/v2.1.0/errata01/os/schemas/"
             "sarif-schema-2.1.0.json");
  jsonString(&layout, "version", "2.1.0");
  jsonOpen(&layout, "runs", '[');
  jsonOpen(&layout, "", '{');
  jsonOpen(&layout, "tool", '{');
  jsonOpen(&layout, "driver", '{');
  jsonString(&layout, "name", "tangler-site");
  jsonString(&layout, "version", TANGLER_VERSION);
  jsonOpen(&layout, "rules", '[');
  for (FindingKind kind : kRuleKinds) {
    jsonOpen(&layout, "", '{');
    jsonString(&layout, "id", kindName(kind));
    jsonOpen(&layout, "shortDescription", '{');
    jsonString(&layout, "text", ruleDescription(kind));
    jsonClose(&layout);
    // The orphan level is the user's choice; the other kinds have one level.
    if (kind != FindingKind::Orphan) {
      const Level level = kind == FindingKind::FileScheme || kind == FindingKind::RateLimited ||
                                  kind == FindingKind::Moved
                              ? Level::Warning
                              : Level::Error;
      jsonOpen(&layout, "defaultConfiguration", '{');
      jsonString(&layout, "level", levelName(level));
      jsonClose(&layout);
    }
    jsonClose(&layout);
  }
  jsonClose(&layout);  // rules
  jsonClose(&layout);  // driver
  jsonClose(&layout);  // tool

  jsonOpen(&layout, "results", '[');
  for (FindingCursor cursor{&report}; nextFinding(&cursor);) {
    const Finding& finding = cursor.finding;
    jsonOpen(&layout, "", '{');
    jsonString(&layout, "ruleId", kindName(finding.kind));
    jsonNumber(&layout, "ruleIndex", static_cast<uint64_t>(ruleIndex(finding.kind)));
    jsonString(&layout, "level", levelName(finding.level));
    jsonOpen(&layout, "message", '{');
    jsonString(&layout, "text", finding.message);
    jsonClose(&layout);
    jsonOpen(&layout, "locations", '[');
    jsonOpen(&layout, "", '{');
    jsonOpen(&layout, "physicalLocation", '{');
    jsonOpen(&layout, "artifactLocation", '{');
    jsonString(&layout, "uri", pathToUri(finding.path, kWindowsPaths));
    jsonClose(&layout);
    if (finding.kind != FindingKind::Orphan) {
      jsonOpen(&layout, "region", '{');
      jsonNumber(&layout, "startLine", finding.line);
      jsonNumber(&layout, "startColumn", finding.column);
      jsonClose(&layout);
    }
    jsonClose(&layout);  // physicalLocation
    jsonClose(&layout);  // the location
    jsonClose(&layout);  // locations
    if (finding.hasUrl) {
      jsonOpen(&layout, "properties", '{');
      if (finding.status != 0) jsonNumber(&layout, "status", uint64_t(finding.status));
      jsonString(&layout, "url", finding.url);
      jsonClose(&layout);
    }
    jsonClose(&layout);  // the result
    sink.write(layout.text);
    layout.text.clear();
    if (!sink.ok()) return false;
  }
  jsonClose(&layout);  // results
  jsonClose(&layout);  // the run
  jsonClose(&layout);  // runs
  jsonClose(&layout);
  layout.text += '\n';
  sink.write(layout.text);
  return sink.flush();
}

}  // namespace site
