#include "net/GenericHTTPClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "net/CurlSupport.h"
#include "util/CodePage.h"
#include "util/Debug.h"

namespace zarn {

namespace {

// A reply is read a little beyond the area, so that a character straddling its end is seen
// whole and left out whole.
constexpr size_t kCollect = GenericHTTPClient::kAreaSize + 4;

// What one request collects while libcurl runs it.
struct Reply {
  std::string body;          // at most kCollect bytes: enough to cut at a whole character
  std::string headers;       // of the latest response only (redirects start it again)
  bool headersDone = false;  // the blank line after the latest response's headers arrived
  bool bodyFull = false;     // we stopped reading ourselves
  net::ReceiveWatch* watch = nullptr;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* reply = static_cast<Reply*>(user);
  const size_t bytes = size * count;
  reply->watch->Touch();
  std::string_view line(data, bytes);
  if (line.starts_with("HTTP/")) {
    reply->headers.clear();
    reply->headersDone = false;
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.empty()) reply->headersDone = true;
  reply->headers.append(line);
  reply->headers.append("\r\n");
  return bytes;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* reply = static_cast<Reply*>(user);
  const size_t bytes = size * count;
  reply->watch->Touch();
  const size_t room = kCollect - reply->body.size();
  reply->body.append(data, std::min(room, bytes));
  if (reply->body.size() >= kCollect) {
    // The area is full: the rest of the reply is not read.
    reply->bodyFull = true;
    return CURL_WRITEFUNC_ERROR;
  }
  return bytes;
}

// A host that libcurl would read as something else (credentials, a path, a query) or that
// cannot be a host at all.
bool UsableHost(const std::string& host) {
  if (host.empty()) return false;
  for (const char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || std::strchr("/?#@\\[]", c)) return false;
  }
  return true;
}

}  // namespace

GenericHTTPClient::GenericHTTPClient() : m_hInternet(nullptr), m_lastError(0) {
  std::memset(m_responseBody, 0, sizeof m_responseBody);
  std::memset(m_responseHeaders, 0, sizeof m_responseHeaders);
}

// The handle lives only inside FetchUrl, so there is nothing left to close here.
GenericHTTPClient::~GenericHTTPClient() { m_hInternet = nullptr; }

void GenericHTTPClient::SplitUrl(const std::string& url, std::string& scheme, std::string& host, int& port,
                                 std::string& path) {
  const size_t n = url.size();
  const size_t colon = std::min(url.find(':'), n);
  size_t hostStart = 0;
  if (colon < n && colon + 1 < n && url[colon + 1] == '/') {
    scheme = url.substr(0, colon);
    hostStart = std::min(colon + 3, n);  // a URL may end inside "://"
  } else {
    scheme = "http";
  }
  const size_t slash = std::min(url.find('/', hostStart), n);
  const size_t portColon = url.find(':', hostStart);
  if (portColon < slash) {
    long value = 0;
    for (size_t i = portColon + 1; i < n && url[i] >= '0' && url[i] <= '9'; ++i) {
      value = value * 10 + (url[i] - '0');
      if (value > 65535) value = 65536;  // no port; keeps the number from overflowing
    }
    port = static_cast<int>(value);
    host = url.substr(hostStart, portColon - hostStart);
  } else {
    port = scheme == "https" ? 443 : 80;
    host = url.substr(hostStart, slash - hostStart);
  }
  path = slash < n ? url.substr(slash) : std::string();
}

int GenericHTTPClient::FetchUrl(const char* url) {
  std::string scheme, host, path;
  int port = 0;
  SplitUrl(url ? url : "", scheme, host, port, path);

  net::EnsureCurlReady();
  std::unique_ptr<CURL, net::CurlHandleCloser> handle(curl_easy_init());
  if (!handle) {
    m_lastError = CURLE_FAILED_INIT;
    return 0;
  }
  m_hInternet = handle.get();
  const int result = OpenGetRequest(scheme, host, port, path);
  m_hInternet = nullptr;
  return result;  // the handle and its connection close here
}

int GenericHTTPClient::OpenGetRequest(const std::string& scheme, const std::string& host, int port,
                                      const std::string& path) {
  if (!UsableHost(host) || port < 1 || port > 65535) {
    DebugOutput("FetchUrl: unusable address, host \"" + host + "\" port " + std::to_string(port));
    m_lastError = CURLE_URL_MALFORMAT;
    return 0;
  }
  // The scheme only chooses the default port, except that https is spoken over TLS.
  const std::string address = std::string(scheme == "https" ? "https" : "http") + "://" + host + ":" +
                              std::to_string(port) + (path.empty() ? "/" : net::EscapeRequestBytes(path));

  CURL* curl = m_hInternet;
  net::ReceiveWatch watch(m_receiveTimeout);
  Reply reply;
  reply.watch = &watch;
  std::unique_ptr<curl_slist, net::CurlListCloser> headers(curl_slist_append(nullptr, "Accept: */*"));
  char errorText[CURL_ERROR_SIZE] = {};

  net::ApplyCommonOptions(curl);
  curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  watch.Attach(curl);

  std::memset(m_responseBody, 0, sizeof m_responseBody);
  std::memset(m_responseHeaders, 0, sizeof m_responseHeaders);
  CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_WRITE_ERROR && reply.bodyFull) code = CURLE_OK;
  if (code == CURLE_ABORTED_BY_CALLBACK && watch.Fired()) code = CURLE_OPERATION_TIMEDOUT;

  // Whatever arrived is kept, also from a reply that failed part-way.
  const std::string body = reply.body.size() < kAreaSize ? reply.body : CutUtf8(reply.body, kAreaSize - 1);
  std::memcpy(m_responseBody, body.data(), body.size());
  const size_t headerBytes = std::min(reply.headers.size(), kAreaSize - 1);
  std::memcpy(m_responseHeaders, reply.headers.data(), headerBytes);

  if (code != CURLE_OK) {
    DebugOutput("FetchUrl " + address + ": " + (errorText[0] ? errorText : curl_easy_strerror(code)));
    m_lastError = static_cast<uint32_t>(code);
    return 0;
  }
  if (!reply.headersDone) {
    m_lastError = CURLE_WEIRD_SERVER_REPLY;
    return 0;
  }
  return reply.body.empty() ? 0 : 1;
}

}  // namespace zarn
