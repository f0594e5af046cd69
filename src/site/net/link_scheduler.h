// The external-link scheduler: takes http: and https: URLs from the threads
// that read pages, asks for each distinct URL once, and keeps the result of
// each. It is where politeness lives: no host (scheme, name and port) ever
// has more than hostConcurrency requests in flight, retries included, nor
// two starts closer than hostInterval; a 429 or 503 holds the host back for
// its Retry-After (or a wait that doubles from one second); redirects are
// followed hop by hop, each hop a request under its own host's limits. It
// knows URLs, hosts, limits and results; the HTTP client below it
// (platform/http_client.h) knows the protocol; a clock seam lets tests run
// it in simulated time.
//
// Use: initLinkScheduler(); runLinkScheduler() on a thread of its own;
// submitLink() from any thread while pages are read; closeLinkSubmissions()
// once every page is read; join; then read the results.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/http_client.h"
#include "site/net/anchor_finder.h"
#include "site/net/link_cache.h"
#include "site/net/link_options.h"

namespace site {

struct LinkCheckOptions {
  uint32_t maxConcurrency = 64;  // requests in flight in all
  uint32_t hostConcurrency = 4;  // requests in flight to one host
  uint32_t hostIntervalMs = 0;   // least time between two starts to one host
  uint32_t retries = 2;          // further tries after a network error, a timeout or a 5xx
  uint32_t maxWaitSeconds = 60;  // the longest Retry-After that is honoured
  AcceptList accept;             // statuses that count as working
  bool remoteAnchors = false;    // check the fragments of the URLs submitted
  uint32_t maxRedirects = 10;
  uint64_t maxBodyBytes = 8u << 20;  // a body is never read past this
  int64_t cacheAgeSeconds = 86400;   // how long an entry of the cache is trusted
};

// Where time comes from: the system's clocks, or a test's.
struct NetClock {
  std::function<int64_t()> steadyMs;     // a monotonic time in milliseconds
  std::function<int64_t()> wallSeconds;  // seconds since 1970 (UTC)
};

// std::chrono's steady and system clocks.
NetClock systemNetClock();

enum class LinkState : unsigned char {
  Working,      // the final status is accepted
  HttpError,    // the final status is not
  Unreachable,  // no answer: see why
  RateLimited,  // the server asked to wait longer than maxWaitSeconds
};

struct LinkResult {
  LinkState state = LinkState::Working;
  int status = 0;           // the final HTTP status; 0 when none came
  std::string reason;       // its standard phrase
  std::string finalUrl;     // where the redirects (if any) ended
  std::string movedTo;      // set when the first request was answered 301 or 308
  int movedStatus = 0;      // that status
  std::string why;          // Unreachable: "name not found", "connection refused",
                            // "TLS: ...", "timeout", "too many redirects", ...
  int64_t waitSeconds = 0;  // RateLimited: the wait asked for
  bool cached = false;      // fresh in the cache, not requested
  uint32_t requests = 0;    // requests made for it, every hop and retry
  // Whether a GET asked for its body to read anchors (--remote-anchors, a
  // fragment asked for); whether that body was read as HTML; the anchors
  // seen, sorted. Complete when the page was read to its end (or to
  // maxBodyBytes), not stopped at the last anchor that was asked for.
  bool anchorsAsked = false;
  bool anchorsRead = false;
  bool anchorsComplete = false;
  std::vector<std::string> anchors;
};

// One distinct URL of the run.
struct LinkEntry {
  std::string url;                     // webUrlKey()
  std::vector<std::string> fragments;  // distinct fragments asked for that need an anchor
  bool active = false;                 // a request of it is queued or in flight
  bool done = false;                   // result holds its answer
  bool anchorsRetried = false;         // a later fragment made it read the page again
  LinkResult result;
};

// A 429 or 503 asks to wait, not to give up: such waits (within
// maxWaitSeconds) are not retries, which --retries counts for failures; a
// URL still told to wait after this many is given up with that status.
constexpr uint32_t kMaxRateWaits = 5;

// A request to be made: one hop of one URL's check.
struct LinkJob {
  LinkEntry* entry = nullptr;
  std::string url;  // this hop's URL
  uint32_t host = 0;
  HttpMethod method = HttpMethod::Head;
  uint32_t redirects = 0;    // followed so far
  uint32_t retriesUsed = 0;  // of options.retries
  uint32_t rateWaits = 0;    // 429s and 503s waited out (of kMaxRateWaits)
  int64_t notBefore = 0;     // a retry's backoff
  bool firstHop = true;
  bool readAll = false;              // read every anchor of the page, not only those asked for
  std::vector<std::string> visited;  // the chain so far, for loops
  std::string movedTo;
  int movedStatus = 0;
};

struct LinkHost {
  std::string key;
  uint32_t inFlight = 0;
  int64_t nextStart = 0;    // no request starts before this (interval, waits)
  uint32_t rateStreak = 0;  // 429s and 503s without Retry-After in a row
  std::deque<LinkJob> queue;
};

// The body of a GET that reads anchors. Touched by the client's callbacks
// while the request is in flight, by the scheduler after.
struct LinkBodyRead {
  AnchorFinder finder;
  bool html = false;  // the answer was a working HTML page, and its body was read
};

struct LinkInFlight {
  LinkJob job;
  std::unique_ptr<LinkBodyRead> body;  // null: no body is read
};

struct LinkScheduler {
  LinkCheckOptions options;
  HttpClient* client = nullptr;
  NetClock clock;
  const LinkCache* cache = nullptr;

  // Filled by submitLink() from any thread, under mutex.
  std::mutex mutex;
  struct Submission {
    std::string url;
    std::string host;
    bool hasFragment = false;
    std::string fragment;
  };
  std::vector<Submission> incoming;
  bool closed = false;

  // The scheduler thread's own.
  std::unordered_map<std::string, LinkEntry> links;
  std::unordered_map<std::string, uint32_t> hostIndex;
  std::vector<LinkHost> hosts;
  std::unordered_map<uint64_t, LinkInFlight> inFlight;
  size_t queued = 0;  // jobs in the hosts' queues
  uint32_t totalInFlight = 0;
  size_t hostCursor = 0;
  std::vector<HttpOutcome> finished;  // reused

  // Progress, readable from any thread: distinct URLs submitted, and those
  // with a result.
  std::atomic<uint64_t> linksFound{0};
  std::atomic<uint64_t> linksDone{0};
};

// Sets up scheduler over client and clock (both must outlive it). URLs
// fresh in cache (may be null) are not requested.
void initLinkScheduler(LinkScheduler* scheduler, const LinkCheckOptions& options,
                       HttpClient* client, NetClock clock, const LinkCache* cache);

// From any thread: asks for url (absolute http:, https:, or "//host"
// taken as https:) to be checked, its fragment too with remoteAnchors.
// Each distinct URL (fragment removed) is requested once, however often it
// is submitted. False, doing nothing, when url is not such a URL.
bool submitLink(LinkScheduler& scheduler, std::string_view url);

// From any thread: no more URLs will come; runLinkScheduler() returns once
// every one has its result.
void closeLinkSubmissions(LinkScheduler& scheduler);

// Runs the checks until submissions are closed and every URL has its
// result. On one thread (its own, or a test's).
void runLinkScheduler(LinkScheduler& scheduler);

// The result for url (spelt in any way submitLink() takes; the fragment
// does not matter), or null when it was never submitted. Once
// runLinkScheduler() has returned.
const LinkResult* findLinkResult(const LinkScheduler& scheduler, std::string_view url);

// Whether the page at url has the anchor its fragment asks for: 1 yes, 0
// no, -1 not known (the page was not read as HTML: not HTML, a UTF-16
// page, or a link that does not work).
int remoteAnchorFound(const LinkResult& result, std::string_view fragment);

// The cache after this run: working URLs that were checked get the time
// now, URLs that failed are dropped, stale entries are dropped.
void updateLinkCache(const LinkScheduler& scheduler, int64_t now, LinkCache* cache);

}  // namespace site
