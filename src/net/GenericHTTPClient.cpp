#include "net/GenericHTTPClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "net/CurlSupport.h"
#include "net/Transfer.h"
#include "util/CodePage.h"
#include "util/Debug.h"

namespace zarn {

namespace {

// A reply is read a little beyond the area, so that a character straddling its end is seen
// whole and left out whole.
constexpr size_t kCollect = GenericHTTPClient::kAreaSize + 4;

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
  return OpenGetRequest(scheme, host, port, path);
}

int GenericHTTPClient::OpenGetRequest(const std::string& scheme, const std::string& host, int port,
                                      const std::string& path) {
  if (!UsableHost(host) || port < 1 || port > 65535) {
    DebugOutput("FetchUrl: unusable address, host \"" + host + "\" port " + std::to_string(port));
    m_lastError = CURLE_URL_MALFORMAT;
    return 0;
  }
  net::TransferOptions options;
  // The scheme only chooses the default port, except that https is spoken over TLS.
  options.url = std::string(scheme == "https" ? "https" : "http") + "://" + host + ":" +
                std::to_string(port) + (path.empty() ? "/" : net::EscapeRequestBytes(path));
  options.http10 = true;
  options.pathAsIs = true;
  options.freshConnection = true;
  options.userAgent = kUserAgent;
  options.headers = {"Accept: */*"};
  options.stallLimit = m_receiveTimeout;
  net::Transfer transfer(std::move(options));
  // The handle stands for the root, connection and request handles while the request runs.
  m_hInternet = transfer.Handle();
  net::MemorySink reply(kCollect);
  std::memset(m_responseBody, 0, sizeof m_responseBody);
  std::memset(m_responseHeaders, 0, sizeof m_responseHeaders);
  net::TransferResult result = transfer.Run(reply);
  m_hInternet = nullptr;
  // A reply beyond the area is not read further.
  if (result.code == CURLE_WRITE_ERROR && reply.Full()) result.code = CURLE_OK;

  // Whatever arrived is kept, also from a reply that failed part-way.
  const std::string& got = reply.Body();
  const std::string body = got.size() < kAreaSize ? got : CutUtf8(got, kAreaSize - 1);
  std::memcpy(m_responseBody, body.data(), body.size());
  const size_t headerBytes = std::min(result.head.raw.size(), kAreaSize - 1);
  std::memcpy(m_responseHeaders, result.head.raw.data(), headerBytes);

  if (result.code != CURLE_OK) {
    DebugOutput("FetchUrl " + transfer.Url() + ": " + result.errorText);
    m_lastError = static_cast<uint32_t>(result.code);
    return 0;
  }
  if (!result.finalHeadDone) {
    m_lastError = CURLE_WEIRD_SERVER_REPLY;
    return 0;
  }
  return got.empty() ? 0 : 1;
}

}  // namespace zarn
