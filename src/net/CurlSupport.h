// Small pieces around libcurl that the transfer engine and its front-ends share.
#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace zarn::net {

// libcurl's process-wide start-up, done once, from whichever thread gets here first.
void EnsureCurlReady();

// The request target as it goes on the wire: bytes that cannot appear in a request line
// (controls, blanks, DEL and bytes above 0x7F) are percent-encoded, everything else, "%"
// included, is kept as written.
std::string EscapeRequestBytes(std::string_view text);

// Failures that another try may mend: the connection could not be made, was reset or went
// quiet, or the body ended before its announced length; and the statuses of a server that is
// busy or failing for the moment (408, 429, 5xx).
bool TransientCode(CURLcode code);
bool TransientStatus(long status);
// The status of a raw reply head ("HTTP/1.1 503 …" first); 0 when there is none.
long StatusOfHead(std::string_view head);

struct CurlListCloser {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace zarn::net
