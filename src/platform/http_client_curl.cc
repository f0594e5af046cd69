// The HTTP client over libcurl's multi interface: every request is an easy
// handle in one multi handle, driven by poll() on the scheduler's thread,
// so the callbacks run there too. HTTP/2 is used where TLS offers it (and
// requests to one host share its connection); HTTP/1.1 otherwise.
#include <curl/curl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/http_client.h"

namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

// A host that is an address already, so that no resolver is asked about it.
bool isAddressLiteral(std::string_view host) {
  if (!host.empty() && host.front() == '[') return true;
  if (host.empty()) return false;
  return std::all_of(host.begin(), host.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

HttpFailure failureOf(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return HttpFailure::NameNotFound;
    case CURLE_COULDNT_CONNECT:
      return HttpFailure::Refused;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpFailure::Timeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
      return HttpFailure::Tls;
    default:
      return HttpFailure::Network;
  }
}

// One request on its way.
struct Transfer {
  uint64_t id = 0;
  HttpRequest request;
  HttpAnswerHead head;
  bool headDone = false;
  bool stopped = false;
  CURL* easy = nullptr;
  char errorText[CURL_ERROR_SIZE] = {};
};

// A status line: "HTTP/1.1 200 OK", "HTTP/2 404".
void readStatusLine(std::string_view line, HttpAnswerHead* head) {
  *head = HttpAnswerHead();
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) return;
  std::string_view rest = line.substr(space + 1);
  int status = 0;
  size_t digits = 0;
  while (digits < rest.size() && digits < 3 && rest[digits] >= '0' && rest[digits] <= '9') {
    status = status * 10 + (rest[digits] - '0');
    ++digits;
  }
  if (digits != 3) return;
  head->status = status;
  head->reason = std::string(trimmed(rest.substr(digits)));
}

size_t onHeaderLine(char* data, size_t size, size_t count, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  const std::string_view line(data, bytes);
  if (t.headDone) return bytes;  // trailers
  if (line.starts_with("HTTP/")) {
    readStatusLine(trimmed(line), &t.head);
    return bytes;
  }
  const std::string_view content = trimmed(line);
  if (content.empty()) {
    // The end of one answer's headers; a 1xx answer is followed by another.
    if (t.head.status < 200) return bytes;
    t.headDone = true;
    const bool wantsBody = t.request.method == HttpMethod::Get && t.request.onBody != nullptr;
    if (t.request.onHead != nullptr && !t.request.onHead(t.head)) {
      t.stopped = true;
      return 0;
    }
    if (t.request.method == HttpMethod::Get && !wantsBody) {
      t.stopped = true;
      return 0;
    }
    return bytes;
  }
  const size_t colon = content.find(':');
  if (colon == std::string_view::npos) return bytes;
  const std::string_view name = content.substr(0, colon);
  const std::string value(trimmed(content.substr(colon + 1)));
  if (equalIgnoringCase(name, "location")) {
    t.head.location = value;
  } else if (equalIgnoringCase(name, "retry-after")) {
    t.head.retryAfter = value;
  } else if (equalIgnoringCase(name, "content-type")) {
    t.head.contentType = value;
  }
  return bytes;
}

size_t onBodyBytes(char* data, size_t size, size_t count, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (t.stopped || t.request.onBody == nullptr ||
      !t.request.onBody(std::string_view(data, bytes))) {
    t.stopped = true;
    return 0;
  }
  return bytes;
}

class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(const HttpClientOptions& options) : options_(options) {}

  ~CurlHttpClient() override {
    for (auto& [easy, transfer] : transfers_) {
      curl_multi_remove_handle(multi_, easy);
      curl_easy_cleanup(easy);
    }
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    curl_slist_free_all(headers_);
    curl_slist_free_all(resolve_);
  }

  bool setUp(std::string* error) {
    multi_ = curl_multi_init();
    if (multi_ == nullptr) {
      *error = "libcurl could not be set up";
      return false;
    }
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
    for (std::string header : options_.headers) {
      // "Name:" alone would take away a header of curl's own; "Name;" is
      // how curl is told to send it empty.
      std::string_view rest = header;
      while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
      if (rest.ends_with(':')) header = std::string(rest.substr(0, rest.size() - 1)) + ";";
      curl_slist* more = curl_slist_append(headers_, header.c_str());
      if (more == nullptr) {
        *error = "out of memory";
        return false;
      }
      headers_ = more;
    }
    for (const HttpHostAddress& mapped : options_.hostAddresses) {
      std::string address = mapped.address;
      if (address.find(':') != std::string::npos) address = "[" + address + "]";
      const std::string entry = mapped.host + ":" + std::to_string(mapped.port) + ":" + address;
      curl_slist* more = curl_slist_append(resolve_, entry.c_str());
      if (more == nullptr) {
        *error = "out of memory";
        return false;
      }
      resolve_ = more;
    }
    return true;
  }

  uint64_t start(HttpRequest request) override {
    const uint64_t id = ++lastId_;
    HttpOutcome refused;
    refused.id = id;
    if (options_.mappedHostsOnly && !mapped(request.url)) {
      refused.failure = HttpFailure::NameNotFound;
      refused.error = "the host is not one of the mapped names";
      early_.push_back(std::move(refused));
      return id;
    }
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
      refused.failure = HttpFailure::Network;
      refused.error = "libcurl could not start a request";
      early_.push_back(std::move(refused));
      return id;
    }
    auto owned = std::make_unique<Transfer>();
    Transfer* t = owned.get();
    t->id = id;
    t->request = std::move(request);
    t->easy = easy;
    configure(easy, t);
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
      curl_easy_cleanup(easy);
      refused.failure = HttpFailure::Network;
      refused.error = "libcurl could not start a request";
      early_.push_back(std::move(refused));
      return id;
    }
    transfers_.emplace(easy, std::move(owned));
    return id;
  }

  void poll(int64_t timeoutMs, std::vector<HttpOutcome>* finished) override {
    const size_t before = finished->size();
    finished->insert(finished->end(), std::make_move_iterator(early_.begin()),
                     std::make_move_iterator(early_.end()));
    early_.clear();
    int running = 0;
    curl_multi_perform(multi_, &running);
    collect(finished);
    if (finished->size() > before || timeoutMs == 0) return;
    // A wait without limit is cut into seconds: the caller loops.
    const int waitMs = timeoutMs < 0 ? 1000 : int(std::min<int64_t>(timeoutMs, INT_MAX));
    curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
    curl_multi_perform(multi_, &running);
    collect(finished);
  }

  void wake() override { curl_multi_wakeup(multi_); }

 private:
  // Whether the host of url is an address or one of the mapped names.
  bool mapped(const std::string& url) const {
    CURLU* parts = curl_url();
    if (parts == nullptr) return false;
    bool found = false;
    char* host = nullptr;
    char* port = nullptr;
    if (curl_url_set(parts, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
      found = isAddressLiteral(host);
      for (const HttpHostAddress& entry : options_.hostAddresses) {
        if (equalIgnoringCase(entry.host, host) && std::to_string(entry.port) == port) found = true;
      }
    }
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(parts);
    return found;
  }

  void configure(CURL* easy, Transfer* t) {
    curl_easy_setopt(easy, CURLOPT_URL, t->request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, t);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t->errorText);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    if (t->request.method == HttpMethod::Head) {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    // Redirects are the scheduler's, hop by hop.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(options_.timeoutMs));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(options_.timeoutMs));
    if (!options_.userAgent.empty()) {
      curl_easy_setopt(easy, CURLOPT_USERAGENT, options_.userAgent.c_str());
    }
    if (headers_ != nullptr) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_);
    if (resolve_ != nullptr) curl_easy_setopt(easy, CURLOPT_RESOLVE, resolve_);
    // Every encoding this libcurl decodes, gzip and deflate among them.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    // A proxy's answer to CONNECT is not the server's answer.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!options_.environmentProxy) curl_easy_setopt(easy, CURLOPT_PROXY, "");
    if (options_.insecure) {
      curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
      curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    } else if (!options_.caFile.empty()) {
      curl_easy_setopt(easy, CURLOPT_CAINFO, options_.caFile.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeaderLine);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBodyBytes);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
  }

  void collect(std::vector<HttpOutcome>* finished) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      CURL* easy = message->easy_handle;
      const CURLcode code = message->data.result;
      auto found = transfers_.find(easy);
      if (found == transfers_.end()) continue;
      Transfer* t = found->second.get();
      HttpOutcome outcome;
      outcome.id = t->id;
      outcome.head = std::move(t->head);
      outcome.stopped = t->stopped;
      if (code != CURLE_OK && !(t->stopped && code == CURLE_WRITE_ERROR)) {
        outcome.failure = failureOf(code);
        outcome.error = t->errorText[0] != '\0' ? t->errorText : curl_easy_strerror(code);
      } else if (outcome.head.status == 0) {
        outcome.failure = HttpFailure::Network;
        outcome.error = "no answer";
      }
      curl_multi_remove_handle(multi_, easy);
      curl_easy_cleanup(easy);
      transfers_.erase(found);
      finished->push_back(std::move(outcome));
    }
  }

  HttpClientOptions options_;
  CURLM* multi_ = nullptr;
  curl_slist* headers_ = nullptr;
  curl_slist* resolve_ = nullptr;
  std::unordered_map<CURL*, std::unique_ptr<Transfer>> transfers_;
  std::vector<HttpOutcome> early_;  // requests that could not start
  uint64_t lastId_ = 0;
};

}  // namespace

std::unique_ptr<HttpClient> makeHttpClient(const HttpClientOptions& options, std::string* error) {
  static std::once_flag once;
  static CURLcode initialised = CURLE_OK;
  std::call_once(once, [] { initialised = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (initialised != CURLE_OK) {
    *error = std::string("libcurl could not be set up: ") + curl_easy_strerror(initialised);
    return nullptr;
  }
  auto client = std::make_unique<CurlHttpClient>(options);
  if (!client->setUp(error)) return nullptr;
  return client;
}
