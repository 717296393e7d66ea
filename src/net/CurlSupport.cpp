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

bool TransientCode(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return true;
    default:
      return false;
  }
}

bool TransientStatus(long status) {
  return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

long StatusOfHead(std::string_view head) {
  if (head.compare(0, 5, "HTTP/") != 0) return 0;
  const size_t space = head.find(' ');
  if (space == std::string_view::npos || space + 4 > head.size()) return 0;
  long status = 0;
  for (size_t i = space + 1; i < space + 4; ++i) {
    if (head[i] < '0' || head[i] > '9') return 0;
    status = status * 10 + (head[i] - '0');
  }
  return status;
}

}  // namespace zarn::net
