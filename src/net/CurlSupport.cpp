#include "net/CurlSupport.h"

#include <mutex>

namespace zarn::net {

void EnsureCurlReady() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string EscapeRequestBytes(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

void ApplyCommonOptions(CURL* curl) {
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  // Each request opens and closes its own connection; nothing is kept for the next one.
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
}

void ReceiveWatch::Attach(CURL* curl) {
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &ReceiveWatch::OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
}

int ReceiveWatch::OnProgress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t) {
  auto* watch = static_cast<ReceiveWatch*>(self);
  // Bodies of followed redirects reach no write callback; count them here.
  if (dlnow != watch->m_seen) {
    watch->m_seen = dlnow;
    watch->Touch();
  }
  if (watch->Expired()) {
    watch->m_fired = true;
    return 1;
  }
  return 0;
}

}  // namespace zarn::net
