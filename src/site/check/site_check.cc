#include "site/check/site_check.h"

#include <algorithm>
#include <cstring>

#include "site/net/link_scheduler.h"

namespace site {

namespace {

constexpr unsigned char kAnchorsPending = 0;
constexpr unsigned char kAnchorsReady = 1;
constexpr unsigned char kAnchorsUnknown = 2;  // the page could not be read

// Appends a reference's bytes to the text of a file's findings; *begin and
// *end are set to where they lie in it. Offsets are 32 bits: should a file's
// references ever pass 4 GiB, the rest are kept empty.
void storeText(FileFindings* out, std::string_view reference, uint32_t* begin, uint32_t* end) {
  if (out->text.size() > UINT32_MAX - reference.size()) reference = {};
  *begin = uint32_t(out->text.size());
  out->text += reference;
  *end = uint32_t(out->text.size());
}

// A record of a finding of the kind at a reference, its bytes stored in the
// text of the file's findings.
FindingRecord makeRecord(FileFindings* out, FindingKind kind, Level level, uint32_t line,
                         uint32_t column, uint32_t sequence, std::string_view reference) {
  FindingRecord record;
  record.kind = kind;
  record.level = level;
  record.line = line;
  record.column = column;
  record.sequence = sequence;
  uint32_t end = 0;
  storeText(out, reference, &record.textBegin, &end);
  record.textLength = end - record.textBegin;
  return record;
}

// Most fragments wait for the second pass (their page had not been read),
// and few of them turn out missing; what a waiting record keeps must stay
// small. Its reference's path mostly ends with the names that end the path
// of the page it is aimed at ("../../api/io/read.html#x" for
// api/io/read.html), or, for a directory reference ("../io/#x"), of the
// directory holding it: those names are left out of the text, to be written
// back from the tree should the fragment be missing. The record's elided
// is the count of names left out, plus kElidedFromDirectory in the second
// case; the text is the rest of the reference, the names having stood just
// before its first '?' or '#' (before the '/' that precedes it, in the second
// case).
constexpr uint8_t kElidedFromDirectory = 0x80;
constexpr uint8_t kMaxElidedNames = 0x7F;

// Where the path of a reference ends: at its first '?' or '#'.
size_t pathEnd(std::string_view reference) {
  return std::min(reference.find_first_of("?#"), reference.size());
}

// Leaves out of the text of record (the last one stored) the names at the
// end of the path of node that the reference's path ends with at end.
// False, with nothing changed, when no name can be left out.
bool elideNames(const SiteTree& tree, uint32_t node, size_t end, FileFindings* out,
                FindingRecord* record) {
  const std::string_view reference =
      std::string_view(out->text).substr(record->textBegin, record->textLength);
  size_t at = end;  // where the names found so far begin
  uint8_t names = 0;
  for (uint32_t n = node; n != 0 && n != kNoNode && names < kMaxElidedNames;
       n = tree.nodes[n].parent) {
    const std::string& name = tree.nodes[n].name;
    const size_t slash = names > 0 ? 1 : 0;
    if (at < name.size() + slash || (slash && reference[at - 1] != '/')) break;
    if (reference.compare(at - slash - name.size(), name.size(), name) != 0) break;
    at -= slash + name.size();
    ++names;
  }
  if (names == 0) return false;
  out->text.erase(record->textBegin + at, end - at);
  record->textLength -= uint32_t(end - at);
  record->elided = names;
  return true;
}

// Leaves out what the tree can give back of a waiting record's text.
void elide(const SiteTree& tree, FileFindings* out, FindingRecord* record) {
  const std::string_view reference =
      std::string_view(out->text).substr(record->textBegin, record->textLength);
  const size_t end = pathEnd(reference);
  if (elideNames(tree, record->target, end, out, record)) return;
  const uint32_t directory = tree.nodes[record->target].parent;
  if (end > 0 && reference[end - 1] == '/' && elideNames(tree, directory, end - 1, out, record)) {
    record->elided |= kElidedFromDirectory;
  }
}

// Appends the reference of a record to *text, with any names left out of it
// written back.
void appendReference(const SiteTree& tree, std::string_view stored, const FindingRecord& record,
                     std::string* text) {
  const uint8_t names = record.elided & kMaxElidedNames;
  if (names == 0) {
    text->append(stored);
    return;
  }
  uint32_t node = record.target;
  size_t split = pathEnd(stored);
  if (record.elided & kElidedFromDirectory) {
    node = tree.nodes[node].parent;
    --split;
  }
  text->append(stored.substr(0, split));
  std::vector<uint32_t> chain;
  for (uint32_t n = node; chain.size() < names; n = tree.nodes[n].parent) chain.push_back(n);
  for (auto n = chain.rbegin(); n != chain.rend(); ++n) {
    if (n != chain.rbegin()) *text += '/';
    text->append(tree.nodes[*n].name);
  }
  text->append(stored.substr(split));
}

// A file's findings packed: the number of records and the size of the text
// (32 bits each), the records, the text. Null for none.
std::unique_ptr<char[]> packFindings(const FileFindings& findings) {
  if (findings.records.empty()) return nullptr;
  const uint32_t count = uint32_t(findings.records.size());
  const uint32_t size = uint32_t(findings.text.size());
  const size_t recordBytes = count * sizeof(FindingRecord);
  auto packed = std::make_unique_for_overwrite<char[]>(8 + recordBytes + size);
  std::memcpy(packed.get(), &count, 4);
  std::memcpy(packed.get() + 4, &size, 4);
  std::memcpy(packed.get() + 8, findings.records.data(), recordBytes);
  std::memcpy(packed.get() + 8 + recordBytes, findings.text.data(), size);
  return packed;
}

FileFindings unpackFindings(const std::unique_ptr<char[]>& packed) {
  FileFindings findings;
  if (!packed) return findings;
  uint32_t count, size;
  std::memcpy(&count, packed.get(), 4);
  std::memcpy(&size, packed.get() + 4, 4);
  findings.records.resize(count);
  std::memcpy(findings.records.data(), packed.get() + 8, count * sizeof(FindingRecord));
  findings.text.assign(packed.get() + 8 + count * sizeof(FindingRecord), size);
  return findings;
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

uint32_t loadUint32(const char* bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, bytes + at, sizeof value);
  return value;
}

// An anchor with its first eight bytes as a number that orders as they do
// (zeros after a shorter one), so that most compares of a sort are one
// compare of numbers: many anchors of a page share their first bytes only
// ("method.push", "method.pop").
struct KeyedAnchor {
  uint64_t prefix = 0;
  std::string_view text;
  bool operator<(const KeyedAnchor& other) const {
    return prefix != other.prefix ? prefix < other.prefix : text < other.text;
  }
};

uint64_t orderedPrefix(std::string_view text) {
  uint64_t prefix = 0;
  for (size_t i = 0; i < 8; ++i) {
    prefix = prefix << 8 | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0u);
  }
  return prefix;
}

}  // namespace

void AnchorSet::assign(const std::vector<std::string>& anchors) {
  std::vector<KeyedAnchor> keyed(anchors.size());
  for (size_t i = 0; i < anchors.size(); ++i) keyed[i] = {orderedPrefix(anchors[i]), anchors[i]};
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::string_view> sorted;
  sorted.reserve(keyed.size());
  for (const KeyedAnchor& anchor : keyed) {
    if (sorted.empty() || sorted.back() != anchor.text) sorted.push_back(anchor.text);
  }
  packed_.reset();
  if (sorted.empty()) return;
  size_t bytes = 0;
  for (std::string_view anchor : sorted) bytes += anchor.size();
  // The ends take two bytes each when the anchors' bytes allow, as nearly
  // every page's do.
  const bool wide = bytes > UINT16_MAX;
  const size_t width = wide ? 4 : 2;
  packed_ = std::make_unique_for_overwrite<char[]>(4 + width * sorted.size() + bytes);
  char* at = packed_.get();
  const uint32_t header = uint32_t(sorted.size()) << 1 | uint32_t(wide);
  std::memcpy(at, &header, 4);
  at += 4;
  uint32_t end = 0;
  for (std::string_view anchor : sorted) {
    end += uint32_t(anchor.size());
    const uint16_t narrow = uint16_t(end);
    std::memcpy(at, wide ? static_cast<const void*>(&end) : &narrow, width);
    at += width;
  }
  for (std::string_view anchor : sorted) at = std::copy(anchor.begin(), anchor.end(), at);
}

bool AnchorSet::contains(std::string_view anchor) const {
  if (!packed_) return false;
  const char* packed = packed_.get();
  const uint32_t header = loadUint32(packed, 0);
  const size_t count = header >> 1;
  const size_t width = header & 1 ? 4 : 2;
  const size_t bytesAt = 4 + width * count;
  auto endOf = [&](size_t i) -> uint32_t {
    if (width == 4) return loadUint32(packed, 4 + 4 * i);
    uint16_t end;
    std::memcpy(&end, packed + 4 + 2 * i, 2);
    return end;
  };
  auto at = [&](size_t i) {
    uint32_t begin = i == 0 ? 0 : endOf(i - 1);
    uint32_t end = endOf(i);
    return std::string_view(packed + bytesAt + begin, end - begin);
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
  // Swapped, not assigned, so that what a check that failed half way had
  // stored is let go.
  FileOutcome fresh;
  std::swap(out, fresh);
  out.error = std::make_unique<std::string>(reason);
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
  FileFindings& found = check.found;
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
  auto add = [&](FindingKind kind, Level level, uint32_t target = kNoNode) {
    found.records.push_back(makeRecord(&found, kind, level, line, column, sequence, cleaned));
    found.records.back().target = target;
  };
  // A reference under the site's own address is a local one, taken from
  // ROOT; the page's base has no say over it (an external base would make
  // it external again).
  std::string local;
  if (resolution.kind == RefKind::External && options.hasSiteUrl && hasValidAuthority(cleaned) &&
      siteLocalReference(options.siteUrl, cleaned, &local)) {
    if (check.base.kind == RefKind::Local) {
      resolution = resolveReference(tree, options.resolve, check.base, local, scratch);
    } else {
      const UrlBase own = makeBase(tree, file.node, false, "");
      resolution = resolveReference(tree, options.resolve, own, local, scratch);
    }
  }
  switch (resolution.kind) {
    case RefKind::External: {
      ++out.external;
      if (ignored) return;
      const bool checkNetwork = context.links != nullptr;
      const bool valid = (!checkUrls && !checkNetwork) || hasValidAuthority(cleaned);
      if (checkUrls && !valid) {
        add(FindingKind::InvalidUrl, Level::Error);
      }
      // Handed to the network now, so that the answers come while the
      // pages are read; the record waits for its URL's answer. A reference
      // made external by an external base has no URL of its own to ask for.
      if (checkNetwork && valid && referenceKind(cleaned) == RefKind::External &&
          submitLink(*context.links, cleaned)) {
        add(FindingKind::HttpError, Level::Error, kNoNode);
        found.records.back().waiting = true;
      }
      return;
    }
    case RefKind::Ignored:
      return;
    case RefKind::FileScheme:
      if (wanted(FindingKind::FileScheme)) {
        add(FindingKind::FileScheme, Level::Warning);
      }
      return;
    case RefKind::Local:
      break;
  }
  switch (resolution.status) {
    case TargetStatus::Missing:
      if (wanted(FindingKind::MissingFile)) {
        add(FindingKind::MissingFile, Level::Error);
      }
      return;
    case TargetStatus::OutsideRoot:
      if (wanted(FindingKind::OutsideRoot)) {
        add(FindingKind::OutsideRoot, Level::Error);
      }
      return;
    case TargetStatus::Unknown:
      return;
    case TargetStatus::CaseMismatch:
      // The message names the target as stored.
      if (wanted(FindingKind::CaseMismatch)) {
        add(FindingKind::CaseMismatch, Level::Error, resolution.node);
      }
      break;
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
  uint32_t page = kNoNode;
  // A fragment aimed at this page itself waits for its end: its anchors
  // are not published before.
  switch (lookUpAnchor(context, context.fileOfNode[targetNode], written, check.anchor, &page)) {
    case AnchorAnswer::Missing:
      add(FindingKind::MissingAnchor, Level::Error, page);
      break;
    case AnchorAnswer::NotYet:
      add(FindingKind::MissingAnchor, Level::Error, targetNode);
      found.records.back().waiting = true;
      elide(tree, &found, &found.records.back());
      break;
    case AnchorAnswer::Found:
    case AnchorAnswer::Unchecked:
      break;
  }
}

// Whether record is a fragment waiting for its page (not an external
// reference waiting for its answer).
bool waitsForAnchor(const FindingRecord& record) {
  return record.waiting && record.kind == FindingKind::MissingAnchor;
}

// Looks a file's waiting fragments up again: each is made a missing-anchor
// finding, or dropped (found, or not to be checked), or, when keepWaiting
// and a page it needs has not been read yet, left waiting for the second
// pass. The text is made anew from the records kept, so that what the
// dropped ones held is let go.
void lookUpPending(const CheckContext& context, FileFindings* found, bool keepWaiting) {
  std::vector<FindingRecord>& records = found->records;
  if (std::none_of(records.begin(), records.end(), waitsForAnchor)) return;
  std::string anchor;
  std::string_view written;
  std::string text;
  size_t kept = 0;
  for (FindingRecord record : records) {
    const std::string_view reference =
        std::string_view(found->text).substr(record.textBegin, record.textLength);
    const uint32_t begin = uint32_t(text.size());
    if (!waitsForAnchor(record)) {
      text += reference;
    } else {
      // The names left out stand before the fragment, which is whole.
      if (!anchorToCheck(reference.substr(reference.find('#') + 1), &written, &anchor)) continue;
      uint32_t page = kNoNode;
      switch (lookUpAnchor(context, context.fileOfNode[record.target], written, anchor, &page)) {
        case AnchorAnswer::Missing:
          appendReference(*context.tree, reference, record, &text);
          record.waiting = false;
          record.elided = 0;
          record.target = page;
          break;
        case AnchorAnswer::NotYet:
          if (!keepWaiting) continue;
          text += reference;
          break;
        case AnchorAnswer::Found:
        case AnchorAnswer::Unchecked:
          continue;
      }
    }
    record.textBegin = begin;
    record.textLength = uint32_t(text.size()) - begin;
    records[kept++] = record;
  }
  records.resize(kept);
  found->text.swap(text);
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
  check->found.records.clear();
  check->found.text.clear();
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
    lookUpPending(context, &check.found, true);
  }
  out.ignored = check.ignored;
  out.findings = packFindings(check.found);
  // A file with many findings gives their memory back.
  if (check.found.records.capacity() > kKeptFindingRecords) check.found = FileFindings();
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
  FileOutcome& out = context.outcomes[fileIndex];
  if (!out.findings) return;
  FileFindings found = unpackFindings(out.findings);
  // Every page is in by now: no answer is NotYet.
  lookUpPending(context, &found, false);
  out.findings = packFindings(found);
}

namespace {

// Whether result's URL ended somewhere else than reference names.
bool wasRedirected(std::string_view reference, const LinkResult& result) {
  WebUrl url;
  return parseWebUrl(reference, &url, "https") && webUrlKey(url) != result.finalUrl;
}

// Appends to *out the findings that result gives the external reference
// of record (stored in *text), each with its detail after its reference.
void addExternalFindings(const CheckOptions& options, const FindingRecord& record,
                         std::string_view reference, const LinkResult& result,
                         std::vector<FindingRecord>* out, std::string* text) {
  auto add = [&](FindingKind kind, Level level, int status, const std::string& extra) {
    if (kindDisabled(options, kind)) return;
    FindingRecord made = record;
    made.kind = kind;
    made.level = level;
    made.waiting = false;
    made.elided = 0;
    made.target = kExternalDetail;
    made.textBegin = uint32_t(text->size());
    made.textLength = uint32_t(reference.size());
    text->append(reference);
    ExternalDetail detail;
    detail.status = status;
    detail.url = result.finalUrl;
    detail.extra = extra;
    appendExternalDetail(detail, text);
    out->push_back(made);
  };
  switch (result.state) {
    case LinkState::Working: {
      if (!result.movedTo.empty())
        add(FindingKind::Moved, Level::Warning, result.movedStatus, result.movedTo);
      const size_t hash = reference.find('#');
      if (hash != std::string_view::npos &&
          remoteAnchorFound(result, reference.substr(hash + 1)) == 0) {
        add(FindingKind::MissingAnchor, Level::Error, result.status, "");
      }
      break;
    }
    case LinkState::HttpError:
      add(FindingKind::HttpError, Level::Error, result.status,
          wasRedirected(reference, result) ? result.finalUrl : "");
      break;
    case LinkState::Unreachable:
      add(FindingKind::Unreachable, Level::Error, 0, result.why);
      break;
    case LinkState::RateLimited:
      add(FindingKind::RateLimited, Level::Warning, result.status,
          std::to_string(result.waitSeconds));
      break;
  }
}

}  // namespace

void checkExternalAnswers(CheckContext& context, size_t fileIndex) {
  FileOutcome& out = context.outcomes[fileIndex];
  if (!out.findings || context.links == nullptr) return;
  FileFindings found = unpackFindings(out.findings);
  const auto waitsForAnswer = [](const FindingRecord& record) {
    return record.waiting && record.kind == FindingKind::HttpError;
  };
  if (std::none_of(found.records.begin(), found.records.end(), waitsForAnswer)) return;
  FileFindings made;
  for (const FindingRecord& record : found.records) {
    const std::string_view reference =
        std::string_view(found.text).substr(record.textBegin, record.textLength);
    if (!waitsForAnswer(record)) {
      FindingRecord kept = record;
      kept.textBegin = uint32_t(made.text.size());
      made.text += reference;
      made.records.push_back(kept);
      continue;
    }
    const LinkResult* result = findLinkResult(*context.links, reference);
    if (result == nullptr) continue;
    addExternalFindings(*context.options, record, reference, *result, &made.records, &made.text);
  }
  out.findings = packFindings(made);
}

SiteReport finishReport(CheckContext& context) {
  const SiteTree& tree = *context.tree;
  const std::vector<WalkedFile>& files = *context.files;
  const CheckOptions& options = *context.options;
  // Every fragment has been looked up.
  context.anchors = std::vector<AnchorSet>();
  SiteReport report;
  report.root = options.reportRoot;
  report.tree = &tree;
  // Disabling the orphan kind is turning orphans off.
  const bool orphansOff =
      options.orphans == OrphanLevel::Off || kindDisabled(options, FindingKind::Orphan);
  report.orphansOff = orphansOff;
  const Level orphanLevel = options.orphans == OrphanLevel::Error ? Level::Error : Level::Warning;
  auto isOrphan = [&](size_t i) {
    return !orphansOff && !context.referenced[files[i].node] &&
           !isExemptFromOrphans(tree.nodes[files[i].node], options);
  };
  auto checked = [&](size_t i) {
    return context.outcomes[i].read && tree.nodes[files[i].node].role != NodeRole::Other;
  };
  size_t reported = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    reported += checked(i) || context.outcomes[i].findings != nullptr || isOrphan(i);
  }
  report.files.reserve(reported);
  for (size_t i = 0; i < files.size(); ++i) {
    FileOutcome& outcome = context.outcomes[i];
    const TreeNode& node = tree.nodes[files[i].node];
    report.summary.files += 1;
    if (outcome.read && node.role == NodeRole::Page) report.summary.pages += 1;
    report.summary.references += outcome.references;
    report.summary.external += outcome.external;
    report.summary.ignored += outcome.ignored;
    FileFindings found = unpackFindings(outcome.findings);
    outcome.findings.reset();
    if (isOrphan(i)) {
      FindingRecord orphan;
      orphan.kind = FindingKind::Orphan;
      orphan.level = orphanLevel;
      found.records.push_back(orphan);
    }
    for (const FindingRecord& record : found.records) {
      (record.level == Level::Error ? report.summary.errors : report.summary.warnings) += 1;
    }
    if (!checked(i) && found.records.empty()) continue;
    ReportFile file;
    file.node = files[i].node;
    file.checked = checked(i);
    file.records = std::move(found.records);
    file.text = std::move(found.text);
    sortRecords(&file.records);
    report.files.push_back(std::move(file));
  }
  return report;
}

}  // namespace site
