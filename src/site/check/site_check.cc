#include "site/check/site_check.h"

#include <algorithm>

namespace site {

namespace {

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

std::string nodeReportPath(const CheckContext& context, uint32_t node) {
  return reportPath(context.options->reportRoot, nodePath(*context.tree, node));
}

Finding missingAnchor(const CheckContext& context, std::string path, const PendingAnchor& pending,
                      std::string_view anchor) {
  Finding finding = makeFinding(FindingKind::MissingAnchor, Level::Error, std::move(path),
                                pending.line, pending.column, pending.sequence, pending.reference);
  finding.message = quoted(pending.reference) + ": " + nodeReportPath(context, pending.target) +
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

}  // namespace

void AnchorSet::assign(const std::vector<std::string>& anchors) {
  std::vector<std::string_view> sorted(anchors.begin(), anchors.end());
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  bytes.clear();
  ends.clear();
  ends.reserve(sorted.size());
  for (std::string_view anchor : sorted) {
    bytes += anchor;
    ends.push_back(uint32_t(bytes.size()));
  }
  bytes.shrink_to_fit();
}

bool AnchorSet::contains(std::string_view anchor) const {
  auto at = [&](size_t i) {
    uint32_t begin = i == 0 ? 0 : ends[i - 1];
    return std::string_view(bytes).substr(begin, ends[i] - begin);
  };
  size_t low = 0, high = ends.size();
  while (low < high) {
    size_t mid = low + (high - low) / 2;
    if (at(mid) < anchor) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low < ends.size() && at(low) == anchor;
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
  context->referenced = std::make_unique<std::atomic<bool>[]>(tree.nodes.size());
  for (size_t i = 0; i < tree.nodes.size(); ++i) context->referenced[i] = false;
}

void checkFile(CheckContext& context, size_t fileIndex, const PageLinks& links,
               ResolveScratch* scratch, FileOutcome* out) {
  const SiteTree& tree = *context.tree;
  const WalkedFile& file = (*context.files)[fileIndex];
  const std::string path = reportPath(context.options->reportRoot, file.path);
  const bool isPage = tree.nodes[file.node].role == NodeRole::Page;
  out->read = true;
  if (isPage) out->anchors.assign(links.anchors);
  UrlBase base = makeBase(tree, file.node, isPage && links.hasBase, links.base);
  std::string anchor;
  uint32_t sequence = 0;
  for (const ExtractedReference& extracted : links.references) {
    ++sequence;
    ++out->references;
    std::string cleaned = cleanReference(extracted.value);
    Resolution resolution =
        resolveReference(tree, context.options->resolve, base, cleaned, scratch);
    auto add = [&](FindingKind kind, Level level, std::string message) {
      Finding finding =
          makeFinding(kind, level, path, extracted.line, extracted.column, sequence, cleaned);
      finding.message = quoted(cleaned) + std::move(message);
      out->findings.push_back(std::move(finding));
      return &out->findings.back();
    };
    switch (resolution.kind) {
      case RefKind::External:
        ++out->external;
        continue;
      case RefKind::Ignored:
        continue;
      case RefKind::FileScheme:
        add(FindingKind::FileScheme, Level::Warning, " only works on this computer");
        continue;
      case RefKind::Local:
        break;
    }
    switch (resolution.status) {
      case TargetStatus::Missing:
        add(FindingKind::MissingFile, Level::Error, " not found");
        continue;
      case TargetStatus::OutsideRoot:
        add(FindingKind::OutsideRoot, Level::Error, " leads outside the site");
        continue;
      case TargetStatus::Unknown:
        continue;
      case TargetStatus::CaseMismatch: {
        std::string stored = nodeReportPath(context, resolution.node);
        Finding* finding = add(FindingKind::CaseMismatch, Level::Error,
                               " differs in letter case from the stored " + quoted(stored));
        finding->stored = std::move(stored);
        break;
      }
      case TargetStatus::Found:
        break;
    }
    if (resolution.node != file.node) {
      context.referenced[resolution.node].store(true, std::memory_order_relaxed);
    }
    const TreeNode& target = tree.nodes[resolution.node];
    if (!resolution.hasFragment || target.role != NodeRole::Page || !target.walked) continue;
    if (!anchorToCheck(resolution.fragment, &anchor)) continue;
    PendingAnchor pending{resolution.node, extracted.line, extracted.column, sequence, cleaned};
    if (resolution.node == file.node) {
      if (!out->anchors.contains(anchor)) {
        out->findings.push_back(missingAnchor(context, path, pending, anchor));
      }
    } else {
      out->pending.push_back(std::move(pending));
    }
  }
}

SiteReport finishReport(const CheckContext& context, std::vector<FileOutcome>* outcomes) {
  const SiteTree& tree = *context.tree;
  const std::vector<WalkedFile>& files = *context.files;
  const CheckOptions& options = *context.options;
  SiteReport report;
  report.root = options.reportRoot;
  std::string anchor;
  for (size_t i = 0; i < files.size(); ++i) {
    FileOutcome& outcome = (*outcomes)[i];
    const TreeNode& node = tree.nodes[files[i].node];
    report.summary.files += 1;
    if (outcome.read && node.role == NodeRole::Page) report.summary.pages += 1;
    report.summary.references += outcome.references;
    report.summary.external += outcome.external;
    if (outcome.read && node.role != NodeRole::Other) {
      report.checkedFiles.push_back(reportPath(options.reportRoot, files[i].path));
    }
    for (const PendingAnchor& pending : outcome.pending) {
      uint32_t targetFile = context.fileOfNode[pending.target];
      if (targetFile == kNoNode || !(*outcomes)[targetFile].read) continue;
      std::string_view cleaned = pending.reference;
      if (!anchorToCheck(cleaned.substr(cleaned.find('#') + 1), &anchor)) continue;
      if ((*outcomes)[targetFile].anchors.contains(anchor)) continue;
      outcome.findings.push_back(
          missingAnchor(context, reportPath(options.reportRoot, files[i].path), pending, anchor));
    }
    outcome.pending.clear();
    outcome.pending.shrink_to_fit();
    for (Finding& finding : outcome.findings) report.findings.push_back(std::move(finding));
    outcome.findings.clear();
    if (options.orphans != OrphanLevel::Off && !context.referenced[files[i].node] &&
        !isExemptFromOrphans(node, options)) {
      Level level = options.orphans == OrphanLevel::Error ? Level::Error : Level::Warning;
      Finding orphan = makeFinding(FindingKind::Orphan, level,
                                   reportPath(options.reportRoot, files[i].path), 0, 0, 0, "");
      orphan.message = "not referenced by any page";
      report.findings.push_back(std::move(orphan));
    }
  }
  for (const Finding& finding : report.findings) {
    (finding.level == Level::Error ? report.summary.errors : report.summary.warnings) += 1;
  }
  sortFindings(&report.findings);
  std::sort(report.checkedFiles.begin(), report.checkedFiles.end());
  report.orphansOff = options.orphans == OrphanLevel::Off;
  return report;
}

}  // namespace site
