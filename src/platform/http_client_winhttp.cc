// The HTTP client over WinHTTP, which every Windows has: one thread per
// request in flight, each making its request with WinHTTP's synchronous
// calls, so that the callbacks run on that thread and the scheduler's
// limits bound the number of threads. Finished requests wait in a queue
// that poll() empties.
//
// Where it differs from the curl client: proxies come from the environment
// variables when set (https_proxy, http_proxy, all_proxy; no_proxy by host
// suffix), else from the system's settings; a mapped host name is reached
// by connecting to its address and sending the name in Host, so its
// certificate is checked against the address; caFile is not supported (the
// system's store decides).
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/http_client.h"
#include "platform/system_text_win32.h"

namespace {

std::wstring toWide(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(size_t(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}

bool isAddressLiteral(const std::string& host) {
  if (!host.empty() && host.front() == '[') return true;
  return !host.empty() && std::all_of(host.begin(), host.end(),
                                      [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

// The system's words for an error code, WinHTTP's own codes included.
std::string winhttpReason(DWORD code) {
  char* text = nullptr;
  HMODULE module = GetModuleHandleW(L"winhttp.dll");
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                module, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason =
      length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  return reason;
}

HttpFailure failureOf(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return HttpFailure::NameNotFound;
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return HttpFailure::Refused;
    case ERROR_WINHTTP_TIMEOUT:
      return HttpFailure::Timeout;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return HttpFailure::Tls;
    default:
      return HttpFailure::Network;
  }
}

// Closes a WinHTTP handle when it goes.
struct Handle {
  HINTERNET handle = nullptr;
  explicit Handle(HINTERNET h) : handle(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle != nullptr) WinHttpCloseHandle(handle);
  }
};

// A header of the answer as UTF-8, or "" when it has none.
std::string queryHeader(HINTERNET request, DWORD which) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::string();
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return std::string();
  }
  return toUtf8(value.data(), size / sizeof(wchar_t));
}

// The value of the first of these environment variables that is set.
std::string environmentValue(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return std::string();
}

// Whether no_proxy names host: "*", the host itself, or a domain it lies
// in ("example.org" and ".example.org" both take "www.example.org").
bool bypassesProxy(const std::string& host) {
  std::string list = lowerAscii(environmentValue({"no_proxy", "NO_PROXY"}));
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(start, end - start);
    entry.erase(0, entry.find_first_not_of(" \t"));
    entry.erase(entry.find_last_not_of(" \t") + 1);
    if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
    if (entry == "*" || entry == host ||
        (!entry.empty() && host.size() > entry.size() && host.ends_with("." + entry))) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

class WinHttpClient final : public HttpClient {
 public:
  explicit WinHttpClient(const HttpClientOptions& options) : options_(options) {
    for (const std::string& header : options_.headers) headers_ += toWide(header) + L"\r\n";
  }

  ~WinHttpClient() override {
    // Each request ends within its time, so joining does not hang.
    for (auto& [id, thread] : threads_) {
      if (thread.joinable()) thread.join();
    }
    if (session_ != nullptr) WinHttpCloseHandle(session_);
  }

  bool setUp(std::string* error) {
    if (!options_.caFile.empty()) {
      *error = "a certificate file of one's own is not supported on Windows";
      return false;
    }
    const DWORD access = options_.environmentProxy ? WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
                                                   : WINHTTP_ACCESS_TYPE_NO_PROXY;
    session_ = WinHttpOpen(toWide(options_.userAgent).c_str(), access, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    if (session_ == nullptr && options_.environmentProxy) {
      // Before Windows 8.1 there is no automatic proxy: the default one.
      session_ = WinHttpOpen(toWide(options_.userAgent).c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    }
    if (session_ == nullptr) {
      *error = "WinHTTP could not be set up: " + winhttpReason(GetLastError());
      return false;
    }
    return true;
  }

  uint64_t start(HttpRequest request) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t id = ++lastId_;
    try {
      threads_.emplace(id, std::thread([this, id, request = std::move(request)]() mutable {
                         HttpOutcome outcome = perform(request);
                         outcome.id = id;
                         std::lock_guard<std::mutex> done(mutex_);
                         finished_.push_back(std::move(outcome));
                         ended_.push_back(id);
                         changed_.notify_all();
                       }));
    } catch (const std::exception&) {  // no more threads
      HttpOutcome outcome;
      outcome.id = id;
      outcome.failure = HttpFailure::Network;
      outcome.error = "no thread for the request";
      finished_.push_back(std::move(outcome));
    }
    return id;
  }

  void poll(int64_t timeoutMs, std::vector<HttpOutcome>* finished) override {
    std::vector<std::thread> ended;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      auto ready = [this] { return !finished_.empty() || woken_; };
      if (timeoutMs < 0) {
        changed_.wait(lock, ready);
      } else {
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
      }
      woken_ = false;
      for (HttpOutcome& outcome : finished_) finished->push_back(std::move(outcome));
      finished_.clear();
      for (const uint64_t id : ended_) {
        auto found = threads_.find(id);
        if (found == threads_.end()) continue;
        ended.push_back(std::move(found->second));
        threads_.erase(found);
      }
      ended_.clear();
    }
    for (std::thread& thread : ended) thread.join();
  }

  void wake() override {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    changed_.notify_all();
  }

 private:
  // One request, start to end, on its own thread.
  HttpOutcome perform(HttpRequest& request) const {
    HttpOutcome outcome;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.timeoutMs);
    auto fail = [&](DWORD code) {
      outcome.failure = failureOf(code);
      outcome.error = winhttpReason(code);
      return outcome;
    };
    const std::wstring url = toWide(request.url);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = DWORD(-1);
    parts.dwUrlPathLength = DWORD(-1);
    parts.dwExtraInfoLength = DWORD(-1);
    if (url.empty() || !WinHttpCrackUrl(url.c_str(), DWORD(url.size()), 0, &parts)) {
      return fail(GetLastError());
    }
    const std::string host = lowerAscii(toUtf8(parts.lpszHostName, parts.dwHostNameLength));
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    std::wstring connectTo(parts.lpszHostName, parts.dwHostNameLength);
    bool mapped = false;
    for (const HttpHostAddress& entry : options_.hostAddresses) {
      if (lowerAscii(entry.host) == host && entry.port == parts.nPort) {
        connectTo = toWide(entry.address);
        mapped = true;
      }
    }
    if (options_.mappedHostsOnly && !mapped && !isAddressLiteral(host)) {
      outcome.failure = HttpFailure::NameNotFound;
      outcome.error = "the host is not one of the mapped names";
      return outcome;
    }
    Handle connection(WinHttpConnect(session_, connectTo.c_str(), parts.nPort, 0));
    if (connection.handle == nullptr) return fail(GetLastError());
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";
    Handle http(WinHttpOpenRequest(connection.handle,
                                   request.method == HttpMethod::Head ? L"HEAD" : L"GET",
                                   path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (http.handle == nullptr) return fail(GetLastError());
    configure(http.handle, host, secure, mapped, parts.nPort);
    if (!WinHttpSendRequest(http.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0) ||
        !WinHttpReceiveResponse(http.handle, nullptr)) {
      return fail(GetLastError());
    }
    // The phases' own timeouts may add up past the request's time (and not
    // every WinHTTP keeps them): the time is the request's, whole.
    if (std::chrono::steady_clock::now() > deadline) return fail(ERROR_WINHTTP_TIMEOUT);
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(http.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      return fail(GetLastError());
    }
    outcome.head.status = int(status);
    outcome.head.reason = queryHeader(http.handle, WINHTTP_QUERY_STATUS_TEXT);
    outcome.head.location = queryHeader(http.handle, WINHTTP_QUERY_LOCATION);
    outcome.head.retryAfter = queryHeader(http.handle, WINHTTP_QUERY_RETRY_AFTER);
    outcome.head.contentType = queryHeader(http.handle, WINHTTP_QUERY_CONTENT_TYPE);
    if (request.method == HttpMethod::Head) return outcome;
    if (request.onHead == nullptr || request.onBody == nullptr || !request.onHead(outcome.head)) {
      outcome.stopped = true;
      return outcome;
    }
    std::string buffer(64 * 1024, '\0');
    for (;;) {
      if (std::chrono::steady_clock::now() > deadline) return fail(ERROR_WINHTTP_TIMEOUT);
      DWORD read = 0;
      if (!WinHttpReadData(http.handle, buffer.data(), DWORD(buffer.size()), &read)) {
        const HttpAnswerHead head = outcome.head;
        fail(GetLastError());
        outcome.head = head;
        return outcome;
      }
      if (read == 0) return outcome;
      if (!request.onBody(std::string_view(buffer.data(), read))) {
        outcome.stopped = true;
        return outcome;
      }
    }
  }

  void configure(HINTERNET http, const std::string& host, bool secure, bool mapped,
                 INTERNET_PORT port) const {
    const int timeout = int(options_.timeoutMs);
    WinHttpSetTimeouts(http, timeout, timeout, timeout, timeout);
    // Redirects are the scheduler's, hop by hop.
    DWORD feature = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(http, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
    // Both fail quietly on systems too old to have them.
    DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_ALL;
    WinHttpSetOption(http, WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof decompression);
    DWORD protocols = WINHTTP_PROTOCOL_FLAG_HTTP2;
    WinHttpSetOption(http, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &protocols, sizeof protocols);
    if (secure && options_.insecure) {
      DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
      WinHttpSetOption(http, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    if (options_.environmentProxy && !bypassesProxy(host)) {
      const std::string proxy =
          secure ? environmentValue({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
                 : environmentValue({"http_proxy", "all_proxy", "ALL_PROXY"});
      if (!proxy.empty()) {
        std::string server = proxy;
        const size_t scheme = server.find("://");
        if (scheme != std::string::npos) server.erase(0, scheme + 3);
        while (!server.empty() && server.back() == '/') server.pop_back();
        std::wstring wideServer = toWide(server);
        WINHTTP_PROXY_INFO info = {};
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        info.lpszProxy = wideServer.data();
        WinHttpSetOption(http, WINHTTP_OPTION_PROXY, &info, sizeof info);
      }
    }
    std::wstring headers = headers_;
    if (mapped) headers += toWide("Host: " + host + ":" + std::to_string(port)) + L"\r\n";
    if (!headers.empty()) {
      WinHttpAddRequestHeaders(http, headers.c_str(), DWORD(headers.size()),
                               WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
  }

  HttpClientOptions options_;
  std::wstring headers_;
  HINTERNET session_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<HttpOutcome> finished_;
  std::vector<uint64_t> ended_;  // threads that have finished, to be joined
  std::unordered_map<uint64_t, std::thread> threads_;
  bool woken_ = false;
  uint64_t lastId_ = 0;
};

}  // namespace

std::unique_ptr<HttpClient> makeHttpClient(const HttpClientOptions& options, std::string* error) {
  auto client = std::make_unique<WinHttpClient>(options);
  if (!client->setUp(error)) return nullptr;
  return client;
}
