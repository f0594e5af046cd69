#include "site/check/site_check.h"

#include <algorithm>
#include <cstring>

namespace site {

namespace {

constexpr unsigned char kAnchorsPending = 0;
constexpr unsigned char kAnchorsReady = 1;
constexpr unsigned char kAnchorsUnknown = 2;  // the page could not be read

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  out += text;
  out += '\'';
  return out;
}

Finding makeFinding(FindingKind kind, Level level, std::string path, uint32_t line, uint32_t column,
                    uint32_t sequence, std::string_view reference) {
  Finding finding;
  finding.kind = kind;
  finding.level = level;
  finding.path = std::move(path);
  finding.line = line;
  finding.column = column;
  finding.sequence = sequence;
  finding.reference = std::string(reference);
  return finding;
}

std::string fileReportPath(const CheckContext& context, size_t fileIndex) {
  return reportPath(context.options->reportRoot, (*context.files)[fileIndex].path);
}

// A missing-anchor finding for the reference at pending, written in file
// fileIndex, whose anchor the page at node page lacks.
Finding missingAnchor(const CheckContext& context, size_t fileIndex, const PendingAnchor& pending,
                      uint32_t page, std::string_view reference, std::string_view anchor) {
  Finding finding =
      makeFinding(FindingKind::MissingAnchor, Level::Error, fileReportPath(context, fileIndex),
                  pending.line, pending.column, pending.sequence, reference);
  finding.message = quoted(reference) + ": " +
                    reportPath(context.options->reportRoot, nodePath(*context.tree, page)) +
                    " has no anchor " + quoted(anchor);
  return finding;
}

bool isExemptFromOrphans(const TreeNode& node, const CheckOptions& options) {
  if (node.parent != 0) return false;
  static const char* const kServed[] = {"404.html", "robots.txt", "sitemap.xml", "favicon.ico"};
  for (const char* name : kServed) {
    if (node.name == name) return true;
  }
  for (const std::string& index : options.resolve.indexNames) {
    if (node.name == index) return true;
  }
  return false;
}

// Whether a page with anchors has the one a fragment asks for: written as
// the fragment is, or else percent-decoded, as a browser looks for it (a
// decoding that changes anything makes the text shorter).
bool hasAnchor(const AnchorSet& anchors, std::string_view written, const std::string& decoded) {
  return anchors.contains(written) ||
         (decoded.size() != written.size() && anchors.contains(decoded));
}

enum class AnchorAnswer : unsigned char {
  Found,
  Missing,
  Unchecked,  // the page could not be read, or its redirects lead nowhere to look
  NotYet,     // a page on the way has not been checked yet
};

// Looks for an anchor (as anchorToCheck gives it) in the page of file
// targetFile, or, when that is a redirect page, where its redirects lead;
// *page is set to the node of the page where it was looked for. The answer
// only depends on pages whose anchors are published, which never change
// after, so it is the same whenever it is asked, unless it is NotYet.
AnchorAnswer lookUpAnchor(const CheckContext& context, uint32_t targetFile,
                          std::string_view written, const std::string& decoded, uint32_t* page) {
  uint32_t file = targetFile;
  for (int followed = 0;; ++followed) {
    if (file == kNoNode) return AnchorAnswer::Unchecked;
    switch (context.anchorState[file].load(std::memory_order_acquire)) {
      case kAnchorsReady:
        break;
      case kAnchorsPending:
        return AnchorAnswer::NotYet;
      default:  // an unreadable page's anchors are unknown
        return AnchorAnswer::Unchecked;
    }
    const uint32_t next = context.redirects[file];
    if (next == kNotRedirect) {
      *page = (*context.files)[file].node;
      return hasAnchor(context.anchors[file], written, decoded) ? AnchorAnswer::Found
                                                                : AnchorAnswer::Missing;
    }
    // Redirects into a page that is not read, or round in a loop.
    if (next == kRedirectUnread || followed == kMaxRedirects) return AnchorAnswer::Unchecked;
    file = next;
  }
}

// What a page's first meta refresh makes of it (see CheckContext::redirects).
// A redirect page's refresh comes at once and leads to a page of the site
// without a fragment of its own, so that the fragment a reference brings is
// carried on to it, as the stubs' scripts do. A refresh URL that matches a
// page only when letter case is ignored leads to that page, as a reference
// does: its own case-mismatch finding tells the author.
uint32_t redirectOf(const CheckContext& context, const PageLinks& links, const UrlBase& base,
                    ResolveScratch* scratch) {
  if (!links.hasRefresh || links.refreshDelay != 0 || !links.refreshHasUrl) return kNotRedirect;
  const std::string cleaned = cleanReference(links.refreshUrl);
  // An empty URL reloads the page itself.
  if (cleaned.empty()) return kNotRedirect;
  const SiteTree& tree = *context.tree;
  const Resolution resolution =
      resolveReference(tree, context.options->resolve, base, cleaned, scratch);
  if (resolution.kind != RefKind::Local || resolution.hasFragment) return kNotRedirect;
  if (resolution.status != TargetStatus::Found && resolution.status != TargetStatus::CaseMismatch) {
    return kNotRedirect;
  }
  // A path through a symbolic link leads to the page it stands for.
  const uint32_t targetNode = realNode(tree, resolution.node);
  const TreeNode& target = tree.nodes[targetNode];
  if (target.role != NodeRole::Page) return kNotRedirect;
  const uint32_t file = context.fileOfNode[targetNode];
  return target.walked && file != kNoNode ? file : kRedirectUnread;
}

uint32_t loadUint32(const std::string& bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

}  // namespace

void AnchorSet::assign(const std::vector<std::string>& anchors) {
  std::vector<std::string_view> sorted(anchors.begin(), anchors.end());
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  size_t bytes = 0;
  for (std::string_view anchor : sorted) bytes += anchor.size();
  packed_.clear();
  packed_.reserve(4 * (sorted.size() + 1) + bytes);
  auto append = [&](uint32_t value) {
    packed_.append(reinterpret_cast<const char*>(&value), sizeof value);
  };
  append(uint32_t(sorted.size()));
  uint32_t end = 0;
  for (std::string_view anchor : sorted) append(end += uint32_t(anchor.size()));
  for (std::string_view anchor : sorted) packed_ += anchor;
}

bool AnchorSet::contains(std::string_view anchor) const {
  if (packed_.empty()) return false;
  const size_t count = loadUint32(packed_, 0);
  const size_t bytesAt = 4 * (count + 1);
  auto at = [&](size_t i) {
    uint32_t begin = i == 0 ? 0 : loadUint32(packed_, 4 * i);
    uint32_t end = loadUint32(packed_, 4 * (i + 1));
    return std::string_view(packed_).substr(bytesAt + begin, end - begin);
  };
  size_t low = 0, high = count;
  while (low < high) {
    size_t mid = low + (high - low) / 2;
    if (at(mid) < anchor) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low < count && at(low) == anchor;
}

std::string reportPath(std::string_view reportRoot, std::string_view path) {
  if (reportRoot == ".") return std::string(path);
  std::string out(reportRoot);
  if (out.empty() || out.back() != '/') out += '/';
  out += path;
  return out;
}

void initCheckContext(const SiteTree& tree, const std::vector<WalkedFile>& files,
                      const CheckOptions& options, CheckContext* context) {
  context->tree = &tree;
  context->files = &files;
  context->options = &options;
  context->fileOfNode.assign(tree.nodes.size(), kNoNode);
  for (size_t i = 0; i < files.size(); ++i) context->fileOfNode[files[i].node] = uint32_t(i);
  context->outcomes.clear();
  context->outcomes.resize(files.size());
  context->anchors.clear();
  context->anchors.resize(files.size());
  context->referenced = std::make_unique<std::atomic<bool>[]>(tree.nodes.size());
  for (size_t i = 0; i < tree.nodes.size(); ++i) context->referenced[i] = false;
  context->anchorState = std::make_unique<std::atomic<unsigned char>[]>(files.size());
  for (size_t i = 0; i < files.size(); ++i) context->anchorState[i] = kAnchorsPending;
  context->redirects.assign(files.size(), kNotRedirect);
}

void markUnreadable(CheckContext& context, size_t fileIndex, const std::string& reason) {
  FileOutcome& out = context.outcomes[fileIndex];
  out = FileOutcome();
  out.error = reason;
  context.anchorState[fileIndex].store(kAnchorsUnknown, std::memory_order_release);
}

namespace {

// Judges one reference, already cleaned, the sequence-th of its file.
void judgeReference(CheckContext& context, FileCheck& check, std::string_view cleaned,
                    uint32_t line, uint32_t column, uint32_t sequence, ResolveScratch* scratch) {
  const size_t fileIndex = check.fileIndex;
  const SiteTree& tree = *context.tree;
  const WalkedFile& file = (*context.files)[fileIndex];
  FileOutcome& out = context.outcomes[fileIndex];
  const CheckOptions& options = *context.options;
  const IgnoreList& ignoreList = *options.ignore;
  const bool checkUrls = !kindDisabled(options, FindingKind::InvalidUrl);
  // With missing-anchor disabled no fragment is looked up, so no page keeps
  // anchors or a redirect.
  const bool checkAnchors = !kindDisabled(options, FindingKind::MissingAnchor);
  // An ignored reference is neither judged nor reported, but still reaches
  // its target, which is then no orphan.
  const bool ignored = !ignoreList.empty() && ignoreList.matches(cleaned);
  check.ignored += ignored;
  Resolution resolution = resolveReference(tree, options.resolve, check.base, cleaned, scratch);
  // Whether a finding of kind is made for this reference at all.
  auto wanted = [&](FindingKind kind) { return !ignored && !kindDisabled(options, kind); };
  auto add = [&](FindingKind kind, Level level, std::string message) {
    Finding finding = makeFinding(kind, level, fileReportPath(context, fileIndex), line, column,
                                  sequence, cleaned);
    finding.message = quoted(cleaned) + std::move(message);
    out.findings.push_back(std::move(finding));
    return &out.findings.back();
  };
  switch (resolution.kind) {
    case RefKind::External:
      ++out.external;
      if (checkUrls && !ignored && !hasValidAuthority(cleaned)) {
        add(FindingKind::InvalidUrl, Level::Error, " is not a valid URL");
      }
      return;
    case RefKind::Ignored:
      return;
    case RefKind::FileScheme:
      if (wanted(FindingKind::FileScheme)) {
        add(FindingKind::FileScheme, Level::Warning, " only works on this computer");
      }
      return;
    case RefKind::Local:
      break;
  }
  switch (resolution.status) {
    case TargetStatus::Missing:
      if (wanted(FindingKind::MissingFile)) {
        add(FindingKind::MissingFile, Level::Error, " not found");
      }
      return;
    case TargetStatus::OutsideRoot:
      if (wanted(FindingKind::OutsideRoot)) {
        add(FindingKind::OutsideRoot, Level::Error, " leads outside the site");
      }
      return;
    case TargetStatus::Unknown:
      return;
    case TargetStatus::CaseMismatch: {
      if (!wanted(FindingKind::CaseMismatch)) break;
      std::string stored = reportPath(context.options->reportRoot, nodePath(tree, resolution.node));
      Finding* finding = add(FindingKind::CaseMismatch, Level::Error,
                             " differs in letter case from the stored " + quoted(stored));
      finding->stored = std::move(stored);
      break;
    }
    case TargetStatus::Found:
      break;
  }
  // A path through a symbolic link stands for the file it leads to.
  const uint32_t targetNode = realNode(tree, resolution.node);
  if (targetNode != file.node) {
    context.referenced[targetNode].store(true, std::memory_order_relaxed);
  }
  if (ignored || !checkAnchors) return;
  // Fragments are checked in walked pages only: an excluded or hidden page
  // was never read.
  const TreeNode& target = tree.nodes[targetNode];
  if (!resolution.hasFragment || target.role != NodeRole::Page || !target.walked) return;
  std::string_view written;
  if (!anchorToCheck(resolution.fragment, &written, &check.anchor)) return;
  PendingAnchor pending{targetNode, line, column, sequence, 0, 0};
  uint32_t page = kNoNode;
  // A fragment aimed at this page itself waits for its end: its anchors
  // are not published before.
  switch (lookUpAnchor(context, context.fileOfNode[targetNode], written, check.anchor, &page)) {
    case AnchorAnswer::Missing:
      out.findings.push_back(
          missingAnchor(context, fileIndex, pending, page, cleaned, check.anchor));
      break;
    case AnchorAnswer::NotYet:
      pending.textBegin = uint32_t(out.pendingText.size());
      out.pendingText += cleaned;
      pending.textEnd = uint32_t(out.pendingText.size());
      out.pending.push_back(pending);
      break;
    case AnchorAnswer::Found:
    case AnchorAnswer::Unchecked:
      break;
  }
}

// Looks the file's waiting fragments up again; those still waiting for a
// page not yet read stay, when keepWaiting, for the second pass.
void lookUpPending(CheckContext& context, size_t fileIndex, bool keepWaiting) {
  FileOutcome& out = context.outcomes[fileIndex];
  std::string anchor;
  std::string_view written;
  size_t kept = 0;
  for (const PendingAnchor& pending : out.pending) {
    std::string_view reference =
        std::string_view(out.pendingText)
            .substr(pending.textBegin, pending.textEnd - pending.textBegin);
    if (!anchorToCheck(reference.substr(reference.find('#') + 1), &written, &anchor)) continue;
    uint32_t page = kNoNode;
    switch (lookUpAnchor(context, context.fileOfNode[pending.target], written, anchor, &page)) {
      case AnchorAnswer::Missing:
        out.findings.push_back(missingAnchor(context, fileIndex, pending, page, reference, anchor));
        break;
      case AnchorAnswer::NotYet:
        if (keepWaiting) out.pending[kept++] = pending;
        break;
      case AnchorAnswer::Found:
      case AnchorAnswer::Unchecked:
        break;
    }
  }
  if (keepWaiting && kept > 0) {
    out.pending.resize(kept);
    return;
  }
  out.pending = std::vector<PendingAnchor>();
  out.pendingText = std::string();
}

}  // namespace

void beginFileCheck(CheckContext& context, size_t fileIndex, FileCheck* check) {
  const WalkedFile& file = (*context.files)[fileIndex];
  check->fileIndex = fileIndex;
  check->isPage = context.tree->nodes[file.node].role == NodeRole::Page;
  check->sequence = 0;
  check->ignored = 0;
  check->held.clear();
  check->heldText.clear();
  check->baseKnown = !check->isPage;
  // A style sheet's references resolve against the style sheet.
  if (!check->isPage) check->base = makeBase(*context.tree, file.node, false, "");
  context.outcomes[fileIndex].read = true;
}

void checkReference(CheckContext& context, FileCheck& check, std::string_view value, uint32_t line,
                    uint32_t column, ResolveScratch* scratch) {
  FileOutcome& out = context.outcomes[check.fileIndex];
  const uint32_t sequence = ++check.sequence;
  ++out.references;
  cleanReference(value, &check.cleaned);
  if (check.baseKnown) {
    judgeReference(context, check, check.cleaned, line, column, sequence, scratch);
    return;
  }
  HeldReference held;
  held.textBegin = uint32_t(check.heldText.size());
  check.heldText += check.cleaned;
  held.textEnd = uint32_t(check.heldText.size());
  held.line = line;
  held.column = column;
  held.sequence = sequence;
  check.held.push_back(held);
}

void setFileBase(CheckContext& context, FileCheck& check, bool hasBase, std::string_view href,
                 ResolveScratch* scratch) {
  if (check.baseKnown) return;
  const WalkedFile& file = (*context.files)[check.fileIndex];
  check.base = makeBase(*context.tree, file.node, hasBase, href);
  check.baseKnown = true;
  const std::string_view text = check.heldText;
  for (const HeldReference& held : check.held) {
    judgeReference(context, check, text.substr(held.textBegin, held.textEnd - held.textBegin),
                   held.line, held.column, held.sequence, scratch);
  }
  check.held.clear();
  check.heldText.clear();
  // A page held to its end gives its memory back.
  if (check.heldText.capacity() > kMaxHeldReferenceText) {
    check.heldText = std::string();
    check.held = std::vector<HeldReference>();
  }
}

void endFileCheck(CheckContext& context, FileCheck& check, const PageLinks& links,
                  ResolveScratch* scratch) {
  const size_t fileIndex = check.fileIndex;
  FileOutcome& out = context.outcomes[fileIndex];
  setFileBase(context, check, links.hasBase, links.base, scratch);
  if (check.isPage) {
    if (!kindDisabled(*context.options, FindingKind::MissingAnchor)) {
      context.anchors[fileIndex].assign(links.anchors);
      context.redirects[fileIndex] = redirectOf(context, links, check.base, scratch);
    }
    // From here on other threads may look this page's anchors and redirect
    // up.
    context.anchorState[fileIndex].store(kAnchorsReady, std::memory_order_release);
    if (!out.pending.empty()) lookUpPending(context, fileIndex, true);
  }
  out.ignored = check.ignored;
}

void checkFile(CheckContext& context, size_t fileIndex, const PageLinks& links,
               ResolveScratch* scratch) {
  FileCheck check;
  beginFileCheck(context, fileIndex, &check);
  setFileBase(context, check, links.hasBase, links.base, scratch);
  for (const ExtractedReference& reference : links.references) {
    checkReference(context, check, reference.value, reference.line, reference.column, scratch);
  }
  endFileCheck(context, check, links, scratch);
}

void checkPendingAnchors(CheckContext& context, size_t fileIndex) {
  // Every page is in by now: no answer is NotYet.
  lookUpPending(context, fileIndex, false);
}

SiteReport finishReport(CheckContext& context) {
  const SiteTree& tree = *context.tree;
  const std::vector<WalkedFile>& files = *context.files;
  const CheckOptions& options = *context.options;
  SiteReport report;
  report.root = options.reportRoot;
  // Disabling the orphan kind is turning orphans off.
  const bool orphansOff =
      options.orphans == OrphanLevel::Off || kindDisabled(options, FindingKind::Orphan);
  for (size_t i = 0; i < files.size(); ++i) {
    FileOutcome& outcome = context.outcomes[i];
    const TreeNode& node = tree.nodes[files[i].node];
    report.summary.files += 1;
    if (outcome.read && node.role == NodeRole::Page) report.summary.pages += 1;
    report.summary.references += outcome.references;
    report.summary.external += outcome.external;
    report.summary.ignored += outcome.ignored;
    if (outcome.read && node.role != NodeRole::Other) {
      report.checkedFiles.push_back(fileReportPath(context, i));
    }
    for (Finding& finding : outcome.findings) report.findings.push_back(std::move(finding));
    outcome.findings = std::vector<Finding>();
    if (!orphansOff && !context.referenced[files[i].node] && !isExemptFromOrphans(node, options)) {
      Level level = options.orphans == OrphanLevel::Error ? Level::Error : Level::Warning;
      Finding orphan =
          makeFinding(FindingKind::Orphan, level, fileReportPath(context, i), 0, 0, 0, "");
      orphan.message = "not referenced by any page";
      report.findings.push_back(std::move(orphan));
    }
  }
  for (const Finding& finding : report.findings) {
    (finding.level == Level::Error ? report.summary.errors : report.summary.warnings) += 1;
  }
  sortFindings(&report.findings);
  std::sort(report.checkedFiles.begin(), report.checkedFiles.end());
  report.orphansOff = orphansOff;
  return report;
}

}  // namespace site
