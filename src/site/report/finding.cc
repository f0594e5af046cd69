#include "site/report/finding.h"

#include <algorithm>
#include <cstring>

#include "site/net/http_answer.h"
#include "site/url/resolve.h"

namespace site {

namespace {

// One reference gives at most a case-mismatch and then a missing-anchor;
// every other kind stands alone at its place, so ranking the case mismatch
// first is all the tie-break there is to do.
int rank(FindingKind kind) {
  return kind == FindingKind::CaseMismatch ? 0 : 1;
}

// Appends the report path of node (ROOT as named, then the names from ROOT
// down to node) to *out. The names are written back to front into room made
// for them, so nothing is allocated beyond *out's growth.
void appendReportPath(std::string_view root, const SiteTree& tree, uint32_t node,
                      std::string* out) {
  if (root != ".") {
    out->append(root);
    if (out->empty() || out->back() != '/') *out += '/';
  }
  size_t length = 0;
  for (uint32_t at = node; at != 0 && at != kNoNode; at = tree.nodes[at].parent) {
    length += tree.nodes[at].name.size() + (at == node ? 0 : 1);
  }
  const size_t start = out->size();
  out->resize(start + length);
  size_t end = out->size();
  for (uint32_t at = node; at != 0 && at != kNoNode; at = tree.nodes[at].parent) {
    const std::string& name = tree.nodes[at].name;
    end -= name.size();
    std::copy(name.begin(), name.end(), out->begin() + std::ptrdiff_t(end));
    if (end > start) (*out)[--end] = '/';
  }
}

void appendQuoted(std::string_view text, std::string* out) {
  *out += '\'';
  out->append(text);
  *out += '\'';
}

}  // namespace

const char* kindName(FindingKind kind) {
  switch (kind) {
    case FindingKind::MissingFile:
      return "missing-file";
    case FindingKind::MissingAnchor:
      return "missing-anchor";
    case FindingKind::CaseMismatch:
      return "case-mismatch";
    case FindingKind::OutsideRoot:
      return "outside-root";
    case FindingKind::FileScheme:
      return "file-scheme";
    case FindingKind::InvalidUrl:
      return "invalid-url";
    case FindingKind::Orphan:
      return "orphan";
    case FindingKind::HttpError:
      return "http-error";
    case FindingKind::Unreachable:
      return "unreachable";
    case FindingKind::RateLimited:
      return "rate-limited";
    case FindingKind::Moved:
      return "moved";
  }
  return "unknown";
}

const char* levelName(Level level) {
  return level == Level::Error ? "error" : "warning";
}

std::string reportPath(std::string_view reportRoot, std::string_view path) {
  if (reportRoot == ".") return std::string(path);
  std::string out(reportRoot);
  if (out.empty() || out.back() != '/') out += '/';
  out += path;
  return out;
}

namespace {

void appendUint32(uint32_t value, std::string* text) {
  char bytes[4];
  std::memcpy(bytes, &value, 4);
  text->append(bytes, 4);
}

// Reads four bytes at *at as a number and moves past them; false when the
// text ends first.
bool readUint32(std::string_view text, size_t* at, uint32_t* value) {
  if (text.size() < 4 || *at > text.size() - 4) return false;
  std::memcpy(value, text.data() + *at, 4);
  *at += 4;
  return true;
}

bool readSized(std::string_view text, size_t* at, std::string* out) {
  uint32_t size = 0;
  if (!readUint32(text, at, &size) || size > text.size() - *at) return false;
  out->assign(text.substr(*at, size));
  *at += size;
  return true;
}

}  // namespace

void appendExternalDetail(const ExternalDetail& detail, std::string* text) {
  appendUint32(uint32_t(detail.status), text);
  appendUint32(uint32_t(detail.url.size()), text);
  text->append(detail.url);
  appendUint32(uint32_t(detail.extra.size()), text);
  text->append(detail.extra);
}

bool readExternalDetail(std::string_view text, const FindingRecord& record,
                        ExternalDetail* detail) {
  size_t at = size_t(record.textBegin) + record.textLength;
  uint32_t status = 0;
  if (at > text.size() || !readUint32(text, &at, &status)) return false;
  detail->status = int(status);
  return readSized(text, &at, &detail->url) && readSized(text, &at, &detail->extra);
}

bool recordBefore(const FindingRecord& a, const FindingRecord& b) {
  const bool aOrphan = a.kind == FindingKind::Orphan;
  const bool bOrphan = b.kind == FindingKind::Orphan;
  if (aOrphan != bOrphan) return aOrphan;
  if (a.line != b.line) return a.line < b.line;
  if (a.column != b.column) return a.column < b.column;
  if (a.sequence != b.sequence) return a.sequence < b.sequence;
  return rank(a.kind) < rank(b.kind);
}

void sortRecords(std::vector<FindingRecord>* records) {
  // The checks make a file's records nearly in order already.
  if (std::is_sorted(records->begin(), records->end(), recordBefore)) return;
  std::stable_sort(records->begin(), records->end(), recordBefore);
}

void assignReportPath(const SiteReport& report, uint32_t node, std::string* out) {
  out->clear();
  appendReportPath(report.root, *report.tree, node, out);
}

void makeFinding(const SiteReport& report, const ReportFile& file, const FindingRecord& record,
                 Finding* finding) {
  finding->kind = record.kind;
  finding->level = record.level;
  finding->line = record.line;
  finding->column = record.column;
  finding->sequence = record.sequence;
  assignReportPath(report, file.node, &finding->path);
  const std::string_view reference =
      std::string_view(file.text).substr(record.textBegin, record.textLength);
  finding->reference.assign(reference);
  finding->stored.clear();
  finding->hasUrl = false;
  finding->status = 0;
  finding->url.clear();
  std::string& message = finding->message;
  message.clear();
  if (record.kind == FindingKind::Orphan) {
    message += "not referenced by any page";
    return;
  }
  appendQuoted(reference, &message);
  ExternalDetail detail;
  if (record.target == kExternalDetail && readExternalDetail(file.text, record, &detail)) {
    finding->hasUrl = true;
    finding->status = detail.status;
    finding->url = detail.url;
  }
  switch (record.kind) {
    case FindingKind::MissingFile:
      message += " not found";
      break;
    case FindingKind::MissingAnchor: {
      // The anchor is named as a reader spells it: the fragment, without a
      // text directive, percent-decoded.
      const size_t hash = reference.find('#');
      std::string_view written;
      std::string anchor;
      if (hash == std::string_view::npos ||
          !anchorToCheck(reference.substr(hash + 1), &written, &anchor)) {
        anchor.clear();
      }
      message += ": ";
      // An external page is named by its final URL.
      if (finding->hasUrl) {
        message += finding->url;
      } else {
        appendReportPath(report.root, *report.tree, record.target, &message);
      }
      message += " has no anchor ";
      appendQuoted(anchor, &message);
      break;
    }
    case FindingKind::CaseMismatch:
      assignReportPath(report, record.target, &finding->stored);
      message += " differs in letter case from the stored ";
      appendQuoted(finding->stored, &message);
      break;
    case FindingKind::OutsideRoot:
      message += " leads outside the site";
      break;
    case FindingKind::FileScheme:
      message += " only works on this computer";
      break;
    case FindingKind::InvalidUrl:
      message += " is not a valid URL";
      break;
    case FindingKind::Orphan:
      break;
    case FindingKind::HttpError: {
      message += " answered ";
      message += std::to_string(detail.status);
      const char* reason = statusReasonPhrase(detail.status);
      if (*reason != '\0') {
        message += ' ';
        message += reason;
      }
      if (!detail.extra.empty()) {
        message += " at ";
        appendQuoted(detail.extra, &message);
      }
      break;
    }
    case FindingKind::Unreachable:
      message += " could not be reached: ";
      message += detail.extra;
      break;
    case FindingKind::RateLimited:
      message += " asked to wait ";
      message += detail.extra;
      message += " s, more than --max-wait";
      break;
    case FindingKind::Moved:
      message += " has moved permanently to ";
      appendQuoted(detail.extra, &message);
      break;
  }
}

bool nextFinding(FindingCursor* cursor) {
  const std::vector<ReportFile>& files = cursor->report->files;
  while (cursor->file < files.size() && cursor->record >= files[cursor->file].records.size()) {
    ++cursor->file;
    cursor->record = 0;
  }
  if (cursor->file >= files.size()) return false;
  const ReportFile& file = files[cursor->file];
  makeFinding(*cursor->report, file, file.records[cursor->record++], &cursor->finding);
  return true;
}

}  // namespace site
