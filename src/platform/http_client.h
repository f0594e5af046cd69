// The HTTP client behind tangler-site's external-link check: starts HEAD and
// GET requests, many at once, and hands back how each one ended. It knows
// nothing of hosts' limits, retries or redirects (it never follows one):
// those are the link scheduler's (site/net/link_scheduler.h), which drives
// it from one thread. libcurl's multi interface does the work on POSIX
// systems (http_client_curl.cc), WinHTTP on Windows
// (http_client_winhttp.cc); tests put a scripted client of their own in its
// place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class HttpMethod : unsigned char { Head, Get };

// Why a request got no answer.
enum class HttpFailure : unsigned char {
  None,          // an answer came, whatever its status
  NameNotFound,  // the host name does not resolve (or is not mapped, see below)
  Refused,       // nothing accepted the connection
  Tls,           // the TLS handshake or the certificate's verification failed
  Timeout,       // the request took longer than its time, connecting included
  Network,       // anything else: a reset, a connection closed early, a bad answer
};

// A host name taken to an address without asking any resolver, as curl's
// CURLOPT_RESOLVE does: requests to host:port connect to address.
struct HttpHostAddress {
  std::string host;
  uint16_t port = 0;
  std::string address;  // an IPv4 or IPv6 literal (IPv6 without brackets)
};

struct HttpClientOptions {
  // For one request, connecting included.
  uint32_t timeoutMs = 20000;
  std::string userAgent;
  // Sent with every request, each "Name: value".
  std::vector<std::string> headers;
  // Accept any certificate and host name.
  bool insecure = false;
  // When set, the certificates of this PEM file are trusted instead of the
  // system's store (tests' own authority).
  std::string caFile;
  std::vector<HttpHostAddress> hostAddresses;
  // A name that hostAddresses does not map (IP literals aside) fails as
  // NameNotFound without reaching any resolver: tests never use DNS.
  bool mappedHostsOnly = false;
  // Proxies from the usual environment variables (http_proxy, https_proxy,
  // no_proxy, ...); off: always connect directly.
  bool environmentProxy = true;
};

// The status line and the headers the scheduler reads.
struct HttpAnswerHead {
  int status = 0;           // 0 when no status line came
  std::string reason;       // the server's reason phrase; HTTP/2 has none
  std::string location;     // the Location header as sent
  std::string retryAfter;   // the Retry-After header as sent
  std::string contentType;  // the Content-Type header as sent
};

struct HttpRequest {
  std::string url;  // absolute http: or https: URL, without fragment
  HttpMethod method = HttpMethod::Head;
  // Called once the headers of the final (non-1xx) answer are in; false
  // ends the transfer there. Without it, or without onBody, a GET reads no
  // body. Called on the thread that polls (curl) or on the request's own
  // thread (WinHTTP): it must touch nothing but what the request owns.
  std::function<bool(const HttpAnswerHead&)> onHead;
  // Called with each piece of the body, gzip or deflate decoded; false ends
  // the transfer. Same threads as onHead.
  std::function<bool(std::string_view)> onBody;
};

// How one request ended.
struct HttpOutcome {
  uint64_t id = 0;
  HttpFailure failure = HttpFailure::None;
  std::string error;     // the library's words for a failure
  HttpAnswerHead head;   // status 0 when no answer came
  bool stopped = false;  // onHead or onBody ended it; not a failure
};

// One client for a run. Its calls but wake() come from one thread.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Starts request and returns its id (never 0). A request that cannot even
  // start ends with a failure, reported by a later poll().
  virtual uint64_t start(HttpRequest request) = 0;
  // Waits until at least one request has ended, wake() is called, or
  // timeoutMs has passed (negative: no limit; 0: does not wait), and
  // appends the requests that ended to *finished. It may return sooner with
  // nothing: callers poll in a loop.
  virtual void poll(int64_t timeoutMs, std::vector<HttpOutcome>* finished) = 0;
  // Any thread: makes a waiting poll() return soon, or the next one at once.
  virtual void wake() = 0;
};

// The system's client. Null, with *error, when the library cannot be set
// up (or an option is not supported on this system).
std::unique_ptr<HttpClient> makeHttpClient(const HttpClientOptions& options, std::string* error);
