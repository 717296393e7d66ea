// Pieces of the libcurl set-up that the HTTP client and the download worker share.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <string>
#include <string_view>

namespace zarn::net {

// libcurl's process-wide start-up, done once, from whichever thread gets here first.
void EnsureCurlReady();

// The request target as it goes on the wire: bytes that cannot appear in a request line
// (controls, blanks, DEL and bytes above 0x7F) are percent-encoded, everything else, "%"
// included, is kept as written.
std::string EscapeRequestBytes(std::string_view text);

// Options both clients set on every transfer: HTTP/1.0, http and https only (https over TLS
// with the system's certificate store), redirects followed, the path sent as written, proxies
// from the environment as libcurl reads them, no signals (the worker runs on its own thread).
void ApplyCommonOptions(CURL* curl);

// Ends a transfer that has received nothing for a while (the receive time-out). Callers note
// every byte that arrives (headers or body) with Touch(); the progress callback asks Expired().
class ReceiveWatch {
 public:
  explicit ReceiveWatch(std::chrono::milliseconds limit) : m_limit(limit) { Touch(); }
  void Touch() { m_last = std::chrono::steady_clock::now(); }
  bool Expired() const { return std::chrono::steady_clock::now() - m_last > m_limit; }
  bool Fired() const { return m_fired; }
  // Installs the progress callback that watches the transfer.
  void Attach(CURL* curl);

 private:
  static int OnProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                        curl_off_t ulnow);
  std::chrono::milliseconds m_limit;
  std::chrono::steady_clock::time_point m_last;
  curl_off_t m_seen = 0;
  bool m_fired = false;
};

// Owns one easy handle.
struct CurlHandleCloser {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct CurlListCloser {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace zarn::net
