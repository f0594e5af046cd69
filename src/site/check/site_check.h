// The checks. Each page or style sheet is checked on its own, on whichever
// worker thread reads it, while it is read: each reference judged as it
// comes (resolved, definite findings made, the file it reaches marked, its
// fragment checked against a page already read) and then dropped. A page's
// references wait, compactly, until its base is known: its first <base
// href>, which counts for the references before it too, or the end of the
// page. A fragment aimed at the page itself waits for the page's end,
// where its anchors are known.
// A fragment aimed at a redirect page (a meta refresh at once to another
// page of the site) is looked for where the redirects lead. Fragments
// aimed at pages not read yet, or led through one, wait in compact records
// for a second pass, once every page is in; then orphans are found and the report
// is put together. Only these records, anchors and the findings (compact
// records too, packed with their references' bytes into one allocation per
// file) outlive a page's check, never its bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "site/check/ignore_list.h"
#include "site/extract/page_links.h"
#include "site/net/web_url.h"
#include "site/report/finding.h"
#include "site/url/resolve.h"
#include "site/walk/site_tree.h"

namespace site {

struct LinkScheduler;

enum class OrphanLevel : unsigned char { Warning, Error, Off };

struct CheckOptions {
  ResolveOptions resolve;
  OrphanLevel orphans = OrphanLevel::Warning;
  // ROOT as the reports name it: as the user gave it with trailing '/'
  // dropped, "." when omitted (then paths are written without it).
  std::string reportRoot = ".";
  // --ignore: references matching one are neither judged nor reported, but
  // still reach their targets (no orphan); never null.
  std::shared_ptr<IgnoreList> ignore = std::make_shared<IgnoreList>();
  // --disable: a bit per FindingKind whose findings are not made (nor
  // counted); with missing-anchor among them no fragment is looked up.
  uint32_t disabledKinds = 0;
  // --site-url: an absolute reference under it is a local one, '/'-rooted
  // at ROOT, in every respect.
  bool hasSiteUrl = false;
  SiteUrl siteUrl;
};

inline bool kindDisabled(const CheckOptions& options, FindingKind kind) {
  return (options.disabledKinds >> unsigned(kind)) & 1u;
}

// A page's anchors, sorted and packed into one allocation (a count, the
// end of each anchor in two or four bytes, then their bytes), so that tens
// of thousands of pages keep them cheaply and a look-up touches little
// memory.
class AnchorSet {
 public:
  void assign(const std::vector<std::string>& anchors);
  bool contains(std::string_view anchor) const;

 private:
  // Null when the page has no anchor: a pointer, not a string, since every
  // file has a set.
  std::unique_ptr<char[]> packed_;
};

// What one file's check keeps.
struct FileOutcome {
  bool read = false;  // read and checked
  // The counts share the first word with read, which keeps the record small.
  uint32_t references = 0;
  uint32_t external = 0;
  uint32_t ignored = 0;  // references an --ignore pattern matched
  // The system's reason when it could not be read, else null: few files
  // have one, and every file has an outcome.
  std::unique_ptr<std::string> error;
  // Its findings (see FileFindings), packed into one allocation, since
  // every file has an outcome and most pages of a big site keep a few
  // waiting fragments until the second pass; null when there are none.
  std::unique_ptr<char[]> findings;
};

// A file's findings while they are made or looked at.
struct FileFindings {
  // In the order they were made, until the report sorts them. Until the
  // second pass, a fragment aimed at a page that had not been read when it
  // was met, or that redirects through one, waits among them as the
  // missing-anchor it may become (FindingRecord::waiting).
  std::vector<FindingRecord> records;
  // The bytes of the references the records name, one after the other.
  std::string text;
};

// Everything the checks share. Set up before the workers start; then each
// file's outcome is written by the one thread that checks it, and the flags
// below are set from any thread.
struct CheckContext {
  const SiteTree* tree = nullptr;
  const std::vector<WalkedFile>* files = nullptr;
  const CheckOptions* options = nullptr;
  std::vector<uint32_t> fileOfNode;   // index into *files, or kNoNode
  std::vector<FileOutcome> outcomes;  // one per file
  // One per file (pages only), apart from the outcomes so that the look-ups
  // of many threads into random pages touch as little memory as can be.
  std::vector<AnchorSet> anchors;
  // Per node: a reference of some other file reaches it.
  std::unique_ptr<std::atomic<bool>[]> referenced;
  // Per file: kAnchorsPending until its check publishes its anchors and
  // redirect (or its reading fails).
  std::unique_ptr<std::atomic<unsigned char>[]> anchorState;
  // Per file, once its anchors are published: the file of the page it
  // redirects to, kNotRedirect, or kRedirectUnread when it redirects to a
  // page that is not read (hidden or excluded).
  std::vector<uint32_t> redirects;
  // With --external: where each http:, https: and "//host" reference is
  // handed to be checked, from any thread, while pages are read; its
  // answers are read by checkExternalAnswers() once it has them all. Null:
  // external references are counted, never checked.
  LinkScheduler* links = nullptr;
};

constexpr uint32_t kNotRedirect = UINT32_MAX;
constexpr uint32_t kRedirectUnread = UINT32_MAX - 1;
// Redirect pages followed one after the other before a fragment is given up
// as going round in a loop.
constexpr int kMaxRedirects = 8;

// Sets up the shared state for tree and its walked files; all three must
// outlive it.
void initCheckContext(const SiteTree& tree, const std::vector<WalkedFile>& files,
                      const CheckOptions& options, CheckContext* context);

// A reference that came before its page's base was known.
struct HeldReference {
  // The cleaned reference is FileCheck::heldText[textBegin, textEnd).
  uint32_t textBegin = 0;
  uint32_t textEnd = 0;
  uint32_t line = 0;
  uint32_t column = 0;
  uint32_t sequence = 0;
};

// References held for a base past this much text make the reader look
// ahead for the base (see setFileBase()), so that a page without one is
// not held whole.
constexpr size_t kMaxHeldReferenceText = size_t(4) << 20;

// One file's check while the file is read.
struct FileCheck {
  size_t fileIndex = 0;
  bool isPage = false;
  bool baseKnown = false;  // references are judged as they come
  UrlBase base;
  uint32_t sequence = 0;  // references so far
  uint32_t ignored = 0;
  std::vector<HeldReference> held;
  std::string heldText;
  // Its findings so far, packed into its outcome at its end.
  FileFindings found;
  std::string cleaned;  // scratch
  std::string anchor;   // scratch
};

// Room for this many findings' records is kept from one file's check to
// the next; a file with more gives it back.
constexpr size_t kKeptFindingRecords = 4096;

// Starts checking files[fileIndex] (a page or a style sheet). Each file
// once, from any thread; then its references, in document order, and its
// end, on that thread.
void beginFileCheck(CheckContext& context, size_t fileIndex, FileCheck* check);

// The file's next reference: the value as extraction hands it on, and
// where it starts. Judged now, or held until the page's base is known.
void checkReference(CheckContext& context, FileCheck& check, std::string_view value, uint32_t line,
                    uint32_t column, ResolveScratch* scratch);

// The page's base is known: its first <base href> (hasBase, href decoded),
// or that it has none. The references held are judged, and the later ones
// as they come. Only the first call counts.
void setFileBase(CheckContext& context, FileCheck& check, bool hasBase, std::string_view href,
                 ResolveScratch* scratch);

// Whether the references held for the base have passed
// kMaxHeldReferenceText: the reader should look ahead for the base.
inline bool heldPastBound(const FileCheck& check) {
  return !check.baseKnown && check.heldText.size() > kMaxHeldReferenceText;
}

// The end of the file: links has its anchors, base and refresh (its
// references were handed over already). The page's anchors and redirect are
// published, and the fragments that waited for them are looked up.
void endFileCheck(CheckContext& context, FileCheck& check, const PageLinks& links,
                  ResolveScratch* scratch);

// The whole check of files[fileIndex] from links that hold its references
// too: beginFileCheck(), setFileBase(), checkReference() for each,
// endFileCheck().
void checkFile(CheckContext& context, size_t fileIndex, const PageLinks& links,
               ResolveScratch* scratch);

// Records that files[fileIndex] could not be read, for the system's reason.
void markUnreadable(CheckContext& context, size_t fileIndex, const std::string& reason);

// The second pass over one file, once every file has been checked: its
// waiting fragments against their pages' anchors, each made a missing-anchor
// finding or dropped. Each file once, from any thread.
void checkPendingAnchors(CheckContext& context, size_t fileIndex);

// Once every URL handed to context.links has its answer: the external
// references of one file, which waited as records, made into the findings
// their answers give (http-error, unreachable, rate-limited, moved, and
// missing-anchor for a fragment the page does not have), or dropped. Each
// file once, from any thread.
void checkExternalAnswers(CheckContext& context, size_t fileIndex);

// The report of the whole site, once every file has had both passes: the
// findings' records (moved out of the outcomes) and the orphans', each
// file's sorted, the files that were checked or have a finding in walk
// order, and the counts. The report names the context's tree, which must
// outlive it. The pages' anchors, all looked up by then, are let go.
SiteReport finishReport(CheckContext& context);

}  // namespace site
