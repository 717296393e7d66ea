// The in-memory HTTP client: one small resource per synchronous GET, read into a fixed area.
//
// Used from one thread at a time. Every FetchUrl opens and closes its own transfer handle and
// connection; nothing but the last reply and the last error survives a request.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

typedef void CURL;

namespace zarn {

class GenericHTTPClient {
 public:
  static constexpr size_t kAreaSize = 4096;
  static constexpr const char kUserAgent[] = "ROVUVO(0.9/;p)";
  // A request that receives nothing for this long fails (the platform's default receive bound).
  static constexpr std::chrono::milliseconds kDefaultReceiveTimeout{30000};

  GenericHTTPClient();
  virtual ~GenericHTTPClient();
  GenericHTTPClient(const GenericHTTPClient&) = delete;
  GenericHTTPClient& operator=(const GenericHTTPClient&) = delete;

  // GET of url (ANSI text). 1 when a reply with at least one body byte and its headers was
  // read, whatever its status: the body is then in m_responseBody and the headers in
  // m_responseHeaders. 0 otherwise, with the reason in m_lastError (an empty body leaves
  // m_lastError as it was).
  int FetchUrl(const char* url);

  // Splits a URL: only the one character after the first ":" decides whether a scheme is
  // written ("http" when not); a port written after the host wins, else 443 for exactly "https"
  // and 80 for anything else; the path runs from the first "/" after the host to the end and
  // is empty when the URL ends after the host.
  static void SplitUrl(const std::string& url, std::string& scheme, std::string& host, int& port,
                       std::string& path);

  void SetReceiveTimeout(std::chrono::milliseconds timeout) { m_receiveTimeout = timeout; }

  // Body of the last reply as received, zero-filled before each read and always
  // zero-terminated: a longer reply keeps its first 4095 bytes (cut at a whole UTF-8 character).
  char m_responseBody[kAreaSize];
  // Raw headers of the last reply (status line first), lines ended by CR LF, zero-terminated.
  char m_responseHeaders[kAreaSize];
  // The transfer of the request under way; libcurl's one handle stands for the root,
  // connection and request handles. Null whenever FetchUrl is not running.
  CURL* m_hInternet;
  // libcurl's code (CURLcode) of the last step that failed.
  uint32_t m_lastError;

 private:
  // Opens and sends the GET for the split URL on m_hInternet and reads the reply.
  int OpenGetRequest(const std::string& scheme, const std::string& host, int port, const std::string& path);

  std::chrono::milliseconds m_receiveTimeout = kDefaultReceiveTimeout;
};

}  // namespace zarn
