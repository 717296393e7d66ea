#include "net/GenericHTTPClient.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "NetTestSupport.h"

namespace zarn {
namespace {

using test::RawServer;

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ClearProxyEnvironment(); }
  GenericHTTPClient client;
};

std::string Body(const GenericHTTPClient& c) { return std::string(c.m_responseBody); }
std::string Headers(const GenericHTTPClient& c) { return std::string(c.m_responseHeaders); }

// A raw server that answers every request with the same bytes.
RawServer::Handler Answer(std::string bytes) {
  return [bytes](int fd, const std::string&) { test::SendAll(fd, bytes); };
}

struct SplitCase {
  const char* url;
  const char* scheme;
  const char* host;
  int port;
  const char* path;
};

TEST(SplitUrlTest, FollowsTheSplittingRules) {
  const SplitCase cases[] = {
      {"http://H/a/b.xml", "http", "H", 80, "/a/b.xml"},
      {"https://H/a/b.xml", "https", "H", 443, "/a/b.xml"},
      {"http://H:8080/a/b.xml", "http", "H", 8080, "/a/b.xml"},
      {"H:8080/x", "http", "H", 8080, "/x"},
      {"http://H", "http", "H", 80, ""},
      {"http://H:8080", "http", "H", 8080, ""},
      {"https://H", "https", "H", 443, ""},
      {"https://H:8443", "https", "H", 8443, ""},
      {"HTTPS://H/x", "HTTPS", "H", 80, "/x"},  // only exactly "https" means 443
      {"ftp://H/x", "ftp", "H", 80, "/x"},
      {"H/x", "http", "H", 80, "/x"},
      {"H", "http", "H", 80, ""},
      {"http:H/x", "http", "http", 0, "/x"},  // only the character after ":" is tested
      {"http://H:/x", "http", "H", 0, "/x"},
      {"http://H:80abc/x", "http", "H", 80, "/x"},
      {"http://H/p:1?q=a:b", "http", "H", 80, "/p:1?q=a:b"},
      {"http://h.example.com/PCVersion/1033/version.xml", "http", "h.example.com", 80,
       "/PCVersion/1033/version.xml"},
      {"http:/", "http", "", 80, ""},  // ends inside "://"
      {"", "http", "", 80, ""},
      {"http://H:99999999999/x", "http", "H", 65536, "/x"},  // no such port; no overflow
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    std::string scheme, host, path;
    int port = -1;
    GenericHTTPClient::SplitUrl(c.url, scheme, host, port, path);
    EXPECT_EQ(scheme, c.scheme);
    EXPECT_EQ(host, c.host);
    EXPECT_EQ(port, c.port);
    EXPECT_EQ(path, c.path);
  }
}

TEST_F(HttpClientTest, SendsTheExactRequest) {
  RawServer server(Answer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  ASSERT_EQ(client.FetchUrl(server.url("/Interface/ClientLogonJson?id=1033").c_str()), 1);
  EXPECT_EQ(Body(client), "ok");
  ASSERT_EQ(client.FetchUrl(("http://127.0.0.1:" + std::to_string(server.port())).c_str()), 1);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
  EXPECT_EQ(requests[0], "GET /Interface/ClientLogonJson?id=1033 HTTP/1.0\r\n" + host +
                             "User-Agent: ROVUVO(0.9/;p)\r\nAccept: */*\r\n\r\n");
  // A URL that ends after the host asks for the root.
  EXPECT_EQ(requests[1], "GET / HTTP/1.0\r\n" + host + "User-Agent: ROVUVO(0.9/;p)\r\nAccept: */*\r\n\r\n");
}

TEST_F(HttpClientTest, PathGoesOnTheWireAsWrittenWithUnsafeBytesEncoded) {
  RawServer server(Answer("HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx"));
  ASSERT_EQ(client.FetchUrl(server.url("/a/../b c/%41/\xE4\xB8\xAD.xml\t").c_str()), 1);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /a/../b%20c/%41/%E4%B8%AD.xml%09 HTTP/1.0");
}

TEST_F(HttpClientTest, ErrorStatusWithBodyIsRead) {
  test::HttpServer http;
  http.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("<html>not here</html>", "text/html");
  });
  http.Start();
  EXPECT_EQ(client.FetchUrl(http.url("/missing").c_str()), 1);
  EXPECT_EQ(Body(client), "<html>not here</html>");
  EXPECT_EQ(Headers(client).rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << Headers(client);
}

TEST_F(HttpClientTest, EmptyBodyFailsWithoutANewErrorCode) {
  // A failed request first, so that the error code it left can be watched.
  ASSERT_EQ(client.FetchUrl(("http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/").c_str()), 0);
  EXPECT_EQ(client.m_lastError, static_cast<uint32_t>(CURLE_COULDNT_CONNECT));

  RawServer server(Answer("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_EQ(client.FetchUrl(server.url("/empty").c_str()), 0);
  EXPECT_EQ(client.m_lastError, static_cast<uint32_t>(CURLE_COULDNT_CONNECT));
  EXPECT_EQ(Headers(client).rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
  EXPECT_EQ(Body(client), "");
}

TEST_F(HttpClientTest, LongRepliesKeepTheirFirst4095Bytes) {
  struct Case {
    std::string reply;
    std::string kept;
  };
  std::string pattern;
  for (int i = 0; i < 200000; ++i) pattern += static_cast<char>('a' + i % 26);
  const std::string chinese = "\xE4\xB8\xAD";  // one character, three bytes
  const Case cases[] = {
      {pattern.substr(0, 4095), pattern.substr(0, 4095)},  // fits whole
      {pattern.substr(0, 4096), pattern.substr(0, 4095)},
      {pattern.substr(0, 200000), pattern.substr(0, 4095)},
      // A character that would straddle the end is left out whole.
      {std::string(4094, 'x') + chinese + "tail", std::string(4094, 'x')},
      {std::string(4092, 'x') + chinese + "tail", std::string(4092, 'x') + chinese},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply.size());
    RawServer server(Answer("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(c.reply.size()) +
                            "\r\n\r\n" + c.reply));
    ASSERT_EQ(client.FetchUrl(server.url("/long").c_str()), 1) << client.m_lastError;
    EXPECT_EQ(Body(client), c.kept);
    EXPECT_EQ(client.m_responseBody[GenericHTTPClient::kAreaSize - 1], '\0');
  }
}

TEST_F(HttpClientTest, AreaIsZeroFilledBeforeEachReply) {
  RawServer big(Answer("HTTP/1.0 200 OK\r\n\r\n" + std::string(5000, 'B')));
  RawServer small(Answer("HTTP/1.0 200 OK\r\nX-A: 1\r\n\r\ns"));
  ASSERT_EQ(client.FetchUrl(big.url("/").c_str()), 1);
  ASSERT_EQ(client.FetchUrl(small.url("/").c_str()), 1);
  EXPECT_EQ(Body(client), "s");
  for (size_t i = 1; i < GenericHTTPClient::kAreaSize; ++i) ASSERT_EQ(client.m_responseBody[i], '\0') << i;
  const size_t headerLength = std::strlen(client.m_responseHeaders);
  for (size_t i = headerLength; i < GenericHTTPClient::kAreaSize; ++i)
    ASSERT_EQ(client.m_responseHeaders[i], '\0') << i;
}

TEST_F(HttpClientTest, HeadersAreKeptRawWithCrLf) {
  // A server that ends its lines with LF alone still gives CR LF lines.
  RawServer server(Answer("HTTP/1.0 200 OK\nContent-Type: text/plain\nX-Zone: 7\n\nbody"));
  ASSERT_EQ(client.FetchUrl(server.url("/h").c_str()), 1);
  EXPECT_EQ(Headers(client), "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nX-Zone: 7\r\n\r\n");
  EXPECT_EQ(Body(client), "body");
}

TEST_F(HttpClientTest, RedirectIsFollowedAndOnlyTheFinalReplyKept) {
  test::HttpServer http;
  http.server().Get("/old", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("/new");
    res.set_content("moved", "text/plain");
  });
  http.server().Get("/new", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{\"a\":1}", "application/json");
  });
  http.Start();
  ASSERT_EQ(client.FetchUrl(http.url("/old").c_str()), 1);
  EXPECT_EQ(Body(client), "{\"a\":1}");
  EXPECT_EQ(Headers(client).rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << Headers(client);
  EXPECT_EQ(Headers(client).find("302"), std::string::npos);
}

TEST_F(HttpClientTest, FailuresReturnZeroWithTheReason) {
  RawServer cut(Answer("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(50, 'c')));
  RawServer nothing([](int, const std::string&) {});
  struct Case {
    std::string url;
    CURLcode reason;
  };
  const Case cases[] = {
      {"http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/x", CURLE_COULDNT_CONNECT},
      {cut.url("/cut"), CURLE_PARTIAL_FILE},  // the connection closed inside the body
      {nothing.url("/closed"), CURLE_GOT_NOTHING},
      {"http://127.0.0.1:0/x", CURLE_URL_MALFORMAT},
      {"http://:80/x", CURLE_URL_MALFORMAT},
      {"http://user@127.0.0.1:" + std::to_string(cut.port()) + "/x", CURLE_URL_MALFORMAT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    client.m_lastError = 0;
    EXPECT_EQ(client.FetchUrl(c.url.c_str()), 0);
    EXPECT_EQ(client.m_lastError, static_cast<uint32_t>(c.reason));
    EXPECT_EQ(client.m_hInternet, nullptr);
  }
  EXPECT_EQ(cut.connections(), 1);  // the address with credentials was not used
}

TEST_F(HttpClientTest, SilentServerTimesOut) {
  RawServer* self = nullptr;  // set before any connection can arrive
  RawServer server([&self](int fd, const std::string& request) {
    if (request.find("/body") != std::string::npos)
      test::SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(10, 'p'));
    else if (request.find("/head") != std::string::npos)
      test::SendAll(fd, "HTTP/1.0 200 OK\r\n");
    self->WaitForRelease();  // "/silent" sends nothing at all
  });
  self = &server;
  client.SetReceiveTimeout(std::chrono::milliseconds(600));
  for (const char* path : {"/body", "/head", "/silent"}) {
    SCOPED_TRACE(path);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(client.FetchUrl(server.url(path).c_str()), 0);
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(client.m_lastError, static_cast<uint32_t>(CURLE_OPERATION_TIMEDOUT));
    EXPECT_GE(took, std::chrono::milliseconds(600));
    EXPECT_LT(took, std::chrono::seconds(8));
  }
  server.Release();
}

TEST_F(HttpClientTest, OverlongHeadersAreCutToTheArea) {
  RawServer server(Answer("HTTP/1.0 200 OK\r\nX-Long: " + std::string(6000, 'h') + "\r\n\r\nbody"));
  ASSERT_EQ(client.FetchUrl(server.url("/").c_str()), 1);
  EXPECT_EQ(Body(client), "body");
  EXPECT_EQ(Headers(client).size(), GenericHTTPClient::kAreaSize - 1);
  EXPECT_EQ(Headers(client).rfind("HTTP/1.0 200 OK\r\nX-Long: hhh", 0), 0u);
}

TEST_F(HttpClientTest, TheDefaultReceiveBoundIsThirtySeconds) {
  EXPECT_EQ(GenericHTTPClient::kDefaultReceiveTimeout, std::chrono::seconds(30));
}

TEST_F(HttpClientTest, NoDescriptorStaysOpen) {
  test::HttpServer http;
  http.server().Get(
      "/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
  http.server().Get("/no", [](const httplib::Request&, httplib::Response& res) {
    res.status = 500;
    res.set_content("broken", "text/plain");
  });
  http.Start();
  const std::string refused = "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/";
  ASSERT_EQ(client.FetchUrl(http.url("/ok").c_str()), 1);  // libcurl's one-time start-up first
  // Let the server close its side of that first connection before counting.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int before = test::CountOpenFds();
  ASSERT_GT(before, 0);
  for (const std::string& url : {http.url("/ok"), http.url("/no"), refused, http.url("/ok")}) {
    SCOPED_TRACE(url);
    client.FetchUrl(url.c_str());
    EXPECT_EQ(client.m_hInternet, nullptr);
    // The server closes its side on its own thread; the client's side is closed already.
    EXPECT_TRUE(test::WaitUntil([&] { return test::CountOpenFds() <= before; }, std::chrono::seconds(3)))
        << test::CountOpenFds() << " open, " << before << " before";
  }
}

TEST_F(HttpClientTest, HttpsIsSpokenOverTls) {
  RawServer server(nullptr);
  EXPECT_EQ(client.FetchUrl(("https://127.0.0.1:" + std::to_string(server.port()) + "/v.xml").c_str()), 0);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  ASSERT_GE(requests[0].size(), 3u);
  // A TLS handshake record (type 22, version 3.x), not a plain request.
  EXPECT_EQ(static_cast<unsigned char>(requests[0][0]), 0x16);
  EXPECT_EQ(static_cast<unsigned char>(requests[0][1]), 0x03);
  EXPECT_EQ(requests[0].find("GET"), std::string::npos);
}

TEST_F(HttpClientTest, ProxyFromTheEnvironmentIsUsed) {
  RawServer proxy(Answer("HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\nproxied"));
  ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
  const int result = client.FetchUrl("http://kelmar.invalid/PCVersion/1033/version.xml");
  test::ClearProxyEnvironment();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Body(client), "proxied");
  const auto requests = proxy.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET http://kelmar.invalid/PCVersion/1033/version.xml HTTP/1.0\r\n", 0), 0u)
      << requests[0];
}

}  // namespace
}  // namespace zarn
