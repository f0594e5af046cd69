#include "site/net/link_scheduler.h"

#include <algorithm>
#include <chrono>

#include "site/net/http_answer.h"
#include "site/net/web_url.h"
#include "site/url/resolve.h"

namespace site {

namespace {

constexpr int64_t kNever = INT64_MAX;

bool isRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// What a finding says of a request that got no answer.
std::string unreachableWhy(const HttpOutcome& outcome) {
  switch (outcome.failure) {
    case HttpFailure::NameNotFound:
      return "name not found";
    case HttpFailure::Refused:
      return "connection refused";
    case HttpFailure::Tls:
      return outcome.error.empty() ? "TLS" : "TLS: " + outcome.error;
    case HttpFailure::Timeout:
      return "timeout";
    default:
      return outcome.error.empty() ? "network error" : outcome.error;
  }
}

// A name that does not resolve or a certificate that does not verify says
// the same on a second try.
bool worthRetrying(HttpFailure failure) {
  return failure == HttpFailure::Refused || failure == HttpFailure::Timeout ||
         failure == HttpFailure::Network;
}

uint32_t hostOf(LinkScheduler& s, const std::string& key) {
  const auto [found, added] = s.hostIndex.try_emplace(key, uint32_t(s.hosts.size()));
  if (added) {
    s.hosts.emplace_back();
    s.hosts.back().key = key;
  }
  return found->second;
}

bool wantsAnchors(const LinkScheduler& s, const LinkEntry& entry) {
  return s.options.remoteAnchors && !entry.fragments.empty();
}

void enqueue(LinkScheduler& s, LinkJob job) {
  s.hosts[job.host].queue.push_back(std::move(job));
  ++s.queued;
}

// The first request of entry's check.
void enqueueCheck(LinkScheduler& s, LinkEntry& entry, bool readAll) {
  LinkJob job;
  job.entry = &entry;
  job.url = entry.url;
  WebUrl parsed;
  parseWebUrl(entry.url, &parsed);
  job.host = hostOf(s, webHostKey(parsed));
  // Reading anchors, every URL is asked with GET: one that no fragment has
  // named yet is read whole, so that a fragment named later needs no second
  // request.
  job.readAll = readAll || (s.options.remoteAnchors && entry.fragments.empty());
  job.method = job.readAll || wantsAnchors(s, entry) ? HttpMethod::Get : HttpMethod::Head;
  entry.active = true;
  enqueue(s, std::move(job));
}

void startJob(LinkScheduler& s, LinkJob job, int64_t now) {
  LinkInFlight flight;
  HttpRequest request;
  request.url = job.url;
  request.method = job.method;
  if (job.method == HttpMethod::Get && (job.readAll || wantsAnchors(s, *job.entry))) {
    flight.body = std::make_unique<LinkBodyRead>();
    LinkBodyRead* body = flight.body.get();
    body->finder.maxBytes = s.options.maxBodyBytes;
    startAnchorFinder(&body->finder, job.entry->fragments, job.readAll);
    const AcceptList* accept = &s.options.accept;
    request.onHead = [body, accept](const HttpAnswerHead& head) {
      const bool redirect = isRedirect(head.status) && !head.location.empty();
      body->html =
          !redirect && acceptsStatus(*accept, head.status) && isHtmlContentType(head.contentType);
      return body->html;
    };
    request.onBody = [body](std::string_view bytes) {
      return feedAnchorFinder(body->finder, bytes);
    };
  }
  LinkHost& host = s.hosts[job.host];
  ++host.inFlight;
  ++s.totalInFlight;
  if (s.options.hostIntervalMs > 0) {
    host.nextStart = std::max(host.nextStart, now + int64_t(s.options.hostIntervalMs));
  }
  ++job.entry->result.requests;
  flight.job = std::move(job);
  const uint64_t id = s.client->start(std::move(request));
  s.inFlight.emplace(id, std::move(flight));
}

// Starts every request that the limits allow now. Returns when the next
// one held back by time may start (kNever when none is).
int64_t dispatch(LinkScheduler& s, int64_t now) {
  int64_t wake = kNever;
  const size_t count = s.hosts.size();
  if (count == 0) return wake;
  // Each round starts one host further, so that none is always served last.
  const size_t first = s.hostCursor % count;
  s.hostCursor = first + 1;
  for (size_t k = 0; k < count; ++k) {
    LinkHost& host = s.hosts[(first + k) % count];
    while (!host.queue.empty()) {
      if (s.totalInFlight >= s.options.maxConcurrency) return wake;
      if (host.inFlight >= s.options.hostConcurrency) break;
      if (now < host.nextStart) {
        wake = std::min(wake, host.nextStart);
        break;
      }
      auto due = std::find_if(host.queue.begin(), host.queue.end(),
                              [&](const LinkJob& job) { return job.notBefore <= now; });
      if (due == host.queue.end()) {
        for (const LinkJob& job : host.queue) wake = std::min(wake, job.notBefore);
        break;
      }
      LinkJob job = std::move(*due);
      host.queue.erase(due);
      --s.queued;
      startJob(s, std::move(job), now);
    }
  }
  return wake;
}

// A later fragment of a working URL whose page was not read for it (a
// HEAD, the cache, or a read stopped at the anchors asked for then): the
// page is read once more, whole.
void readAnchorsAgainIfNeeded(LinkScheduler& s, LinkEntry& entry) {
  if (!wantsAnchors(s, entry) || entry.active || entry.anchorsRetried ||
      entry.result.state != LinkState::Working) {
    return;
  }
  const LinkResult& result = entry.result;
  bool needed = false;
  for (const std::string& fragment : entry.fragments) {
    if (!result.anchorsAsked || (result.anchorsRead && !result.anchorsComplete &&
                                 !anchorsHaveFragment(result.anchors, fragment))) {
      needed = true;
    }
  }
  if (!needed) return;
  entry.anchorsRetried = true;
  enqueueCheck(s, entry, true);
}

void finish(LinkScheduler& s, LinkInFlight& flight, LinkState state, int status,
            const std::string& why, int64_t waitSeconds) {
  LinkJob& job = flight.job;
  LinkEntry& entry = *job.entry;
  LinkResult& result = entry.result;
  result.state = state;
  result.status = status;
  result.reason = statusReasonPhrase(status);
  result.finalUrl = job.url;
  if (!job.movedTo.empty()) {
    result.movedTo = job.movedTo;
    result.movedStatus = job.movedStatus;
  }
  result.why = why;
  result.waitSeconds = waitSeconds;
  result.cached = false;
  if (flight.body != nullptr && state == LinkState::Working) {
    AnchorFinder& finder = flight.body->finder;
    result.anchorsAsked = true;
    result.anchorsRead = flight.body->html && !finder.utf16;
    if (result.anchorsRead) {
      finishAnchorFinder(finder);
      result.anchorsComplete = !finder.allFound;
      result.anchors = std::move(finder.anchors);
    }
  }
  entry.active = false;
  if (!entry.done) ++s.linksDone;
  entry.done = true;
  readAnchorsAgainIfNeeded(s, entry);
}

// Tries job again after a wait that doubles from one second.
void retryLater(LinkScheduler& s, LinkJob job, int64_t now) {
  const uint32_t shift = std::min<uint32_t>(job.retriesUsed, 6);
  ++job.retriesUsed;
  job.notBefore = now + (int64_t(1000) << shift);
  enqueue(s, std::move(job));
}

void handleOutcome(LinkScheduler& s, HttpOutcome& outcome, int64_t now) {
  const auto found = s.inFlight.find(outcome.id);
  if (found == s.inFlight.end()) return;
  LinkInFlight flight = std::move(found->second);
  s.inFlight.erase(found);
  LinkJob& job = flight.job;
  LinkHost& host = s.hosts[job.host];
  --host.inFlight;
  --s.totalInFlight;
  const LinkCheckOptions& options = s.options;

  if (outcome.failure != HttpFailure::None) {
    if (worthRetrying(outcome.failure) && job.retriesUsed < options.retries) {
      retryLater(s, std::move(job), now);
    } else {
      finish(s, flight, LinkState::Unreachable, 0, unreachableWhy(outcome), 0);
    }
    return;
  }
  const HttpAnswerHead& head = outcome.head;
  const int status = head.status;
  if ((status == 405 || status == 501) && job.method == HttpMethod::Head) {
    // Servers that do not answer HEAD: asked again with GET, at once.
    job.method = HttpMethod::Get;
    enqueue(s, std::move(job));
    return;
  }
  if (status == 429 || status == 503) {
    int64_t wait = 0;
    if (parseRetryAfter(head.retryAfter, s.clock.wallSeconds(), &wait)) {
      host.rateStreak = 0;
      if (wait > int64_t(options.maxWaitSeconds)) {
        host.nextStart = std::max(host.nextStart, now + int64_t(options.maxWaitSeconds) * 1000);
        finish(s, flight, LinkState::RateLimited, status, "", wait);
        return;
      }
    } else {
      ++host.rateStreak;
      wait = std::min<int64_t>(int64_t(1) << std::min<uint32_t>(host.rateStreak - 1, 30),
                               options.maxWaitSeconds);
    }
    host.nextStart = std::max(host.nextStart, now + wait * 1000);
    if (job.rateWaits < kMaxRateWaits) {
      ++job.rateWaits;
      job.notBefore = 0;
      enqueue(s, std::move(job));
      return;
    }
  } else {
    host.rateStreak = 0;
    if (status >= 500 && job.retriesUsed < options.retries) {
      retryLater(s, std::move(job), now);
      return;
    }
  }
  if (isRedirect(status) && !head.location.empty()) {
    WebUrl base;
    WebUrl target;
    if (!parseWebUrl(job.url, &base) || !resolveWebUrl(base, head.location, &target)) {
      finish(s, flight, LinkState::Unreachable, 0,
             "redirected to '" + head.location + "', which is not an http or https URL", 0);
      return;
    }
    const std::string next = webUrlKey(target);
    if (job.firstHop && (status == 301 || status == 308)) {
      job.movedTo = next;
      job.movedStatus = status;
    }
    const bool loop = next == job.url ||
                      std::find(job.visited.begin(), job.visited.end(), next) != job.visited.end();
    if (loop || job.redirects >= options.maxRedirects) {
      finish(s, flight, LinkState::Unreachable, 0, "too many redirects", 0);
      return;
    }
    job.visited.push_back(std::move(job.url));
    job.url = next;
    ++job.redirects;
    job.firstHop = false;
    job.notBefore = 0;
    job.host = hostOf(s, webHostKey(target));
    enqueue(s, std::move(job));
    return;
  }
  const LinkState state =
      acceptsStatus(options.accept, status) ? LinkState::Working : LinkState::HttpError;
  finish(s, flight, state, status, "", 0);
}

// Moves what submitLink() gathered into the scheduler's own state. Returns
// whether submissions are closed (and so every one has been taken).
bool takeSubmissions(LinkScheduler& s) {
  std::vector<LinkScheduler::Submission> batch;
  bool closed = false;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    batch.swap(s.incoming);
    closed = s.closed;
  }
  for (LinkScheduler::Submission& submission : batch) {
    const auto [found, added] = s.links.try_emplace(submission.url);
    LinkEntry& entry = found->second;
    bool newFragment = false;
    std::string_view written;
    std::string anchor;
    if (s.options.remoteAnchors && submission.hasFragment &&
        anchorToCheck(submission.fragment, &written, &anchor) &&
        std::find(entry.fragments.begin(), entry.fragments.end(), submission.fragment) ==
            entry.fragments.end()) {
      entry.fragments.push_back(std::move(submission.fragment));
      newFragment = true;
    }
    if (added) {
      entry.url = submission.url;
      ++s.linksFound;
      if (s.cache != nullptr && entry.fragments.empty() &&
          freshInLinkCache(*s.cache, entry.url, s.clock.wallSeconds(), s.options.cacheAgeSeconds)) {
        entry.result.cached = true;
        entry.done = true;
        ++s.linksDone;
      } else {
        enqueueCheck(s, entry, false);
      }
    } else if (newFragment && entry.done) {
      readAnchorsAgainIfNeeded(s, entry);
    }
  }
  return closed;
}

}  // namespace

NetClock systemNetClock() {
  NetClock clock;
  clock.steadyMs = [] {
    return int64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count());
  };
  clock.wallSeconds = [] {
    return int64_t(std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count());
  };
  return clock;
}

void initLinkScheduler(LinkScheduler* scheduler, const LinkCheckOptions& options,
                       HttpClient* client, NetClock clock, const LinkCache* cache) {
  scheduler->options = options;
  if (scheduler->options.maxConcurrency == 0) scheduler->options.maxConcurrency = 1;
  if (scheduler->options.hostConcurrency == 0) scheduler->options.hostConcurrency = 1;
  scheduler->client = client;
  scheduler->clock = std::move(clock);
  scheduler->cache = cache;
}

bool submitLink(LinkScheduler& scheduler, std::string_view url) {
  WebUrl parsed;
  if (!parseWebUrl(url, &parsed, "https")) return false;
  LinkScheduler::Submission submission;
  submission.url = webUrlKey(parsed);
  submission.hasFragment = parsed.hasFragment;
  submission.fragment = std::move(parsed.fragment);
  bool wasEmpty = false;
  {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    wasEmpty = scheduler.incoming.empty();
    scheduler.incoming.push_back(std::move(submission));
  }
  if (wasEmpty) scheduler.client->wake();
  return true;
}

void closeLinkSubmissions(LinkScheduler& scheduler) {
  {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    scheduler.closed = true;
  }
  scheduler.client->wake();
}

void runLinkScheduler(LinkScheduler& s) {
  for (;;) {
    const bool closed = takeSubmissions(s);
    int64_t now = s.clock.steadyMs();
    const int64_t wake = dispatch(s, now);
    if (closed && s.queued == 0 && s.inFlight.empty()) return;
    const int64_t timeout = wake == kNever ? -1 : std::max<int64_t>(0, wake - now);
    s.finished.clear();
    s.client->poll(timeout, &s.finished);
    now = s.clock.steadyMs();
    for (HttpOutcome& outcome : s.finished) handleOutcome(s, outcome, now);
  }
}

const LinkResult* findLinkResult(const LinkScheduler& scheduler, std::string_view url) {
  WebUrl parsed;
  if (!parseWebUrl(url, &parsed, "https")) return nullptr;
  const auto found = scheduler.links.find(webUrlKey(parsed));
  return found == scheduler.links.end() || !found->second.done ? nullptr : &found->second.result;
}

int remoteAnchorFound(const LinkResult& result, std::string_view fragment) {
  std::string_view written;
  std::string anchor;
  if (!anchorToCheck(fragment, &written, &anchor)) return 1;
  if (result.state != LinkState::Working || !result.anchorsRead) return -1;
  if (anchorsHaveFragment(result.anchors, fragment)) return 1;
  return result.anchorsComplete ? 0 : -1;
}

void updateLinkCache(const LinkScheduler& scheduler, int64_t now, LinkCache* cache) {
  dropStaleLinks(cache, now, scheduler.options.cacheAgeSeconds);
  for (const auto& [url, entry] : scheduler.links) {
    if (!entry.done || entry.result.cached) continue;
    if (entry.result.state == LinkState::Working) {
      cache->checkedAt[url] = now;
    } else {
      cache->checkedAt.erase(url);
    }
  }
}

}  // namespace site
