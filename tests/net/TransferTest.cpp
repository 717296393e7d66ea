// The transfer engine's sinks and validators against real servers on 127.0.0.1: the memory cap,
// the announced length, and expectations that delete a file which turns out wrong.
#include "net/Transfer.h"

#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "net/CFileDown.h"
#include "support/TestSupport.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::RawServer;

std::string Reply200(const std::string& body) {
  return test::ReplyHead("200 OK", {"Content-Length: " + std::to_string(body.size())}) + body;
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ClearProxyEnvironment(); }
  test::TempDir dir;
};

TEST_F(TransferTest, MemorySinkStopsAtItsCap) {
  struct Case {
    size_t size;
    bool full;
  };
  constexpr size_t kCap = 1000;
  for (const Case c :
       {Case{0, false}, Case{999, false}, Case{1000, false}, Case{1001, true}, Case{3000000, true}}) {
    SCOPED_TRACE(c.size);
    const std::string body = test::NoiseBytes(c.size, 3);
    RawServer server([&body](int fd, const std::string&) { test::SendAll(fd, Reply200(body)); });
    net::TransferOptions options;
    options.url = server.url("/m");
    net::Transfer transfer(options);
    net::MemorySink sink(kCap);
    const net::TransferResult result = transfer.Run(sink);
    EXPECT_EQ(sink.Full(), c.full);
    EXPECT_EQ(result.sinkStopped, c.full);
    EXPECT_EQ(result.code, c.full ? CURLE_WRITE_ERROR : CURLE_OK);
    EXPECT_EQ(sink.Body(), body.substr(0, kCap));
    EXPECT_EQ(result.status, 200);
  }
}

TEST_F(TransferTest, BodyShorterThanAnnouncedFailsAndStays) {
  // A chunked reply that also announces a length: libcurl reads the chunks to their end and
  // is content; the announced length still does not match.
  RawServer server([](int fd, const std::string&) {
    test::SendAll(fd, test::ReplyHead("200 OK", {"Transfer-Encoding: chunked", "Content-Length: 100"}) +
                          "5\r\nhello\r\n0\r\n\r\n");
  });
  test::Recorder recorder;
  CFileDown worker;
  worker.AddTask(server.url("/short"), dir.file("short"), kTaskOrdinary, &recorder);
  ASSERT_TRUE(recorder.WaitForFinishes(1));
  EXPECT_EQ(recorder.finishes()[0].a, kErrorShortReply);
  EXPECT_EQ(test::ReadFile(dir.file("short")), "hello");
}

// SHA-256 of one million "a" (a published test vector).
constexpr char kMillionASha256[] = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

TEST_F(TransferTest, FileUnlikeItsExpectationsIsDeleted) {
  const std::string good(1000000, 'a');
  std::string flipped = good;
  flipped[500000] = 'b';
  const std::string html = "<html><body>502 Bad Gateway</body></html>";
  struct Case {
    const char* name;
    std::string served;
    DownloadExpectations expect;
    int code;
  };
  const std::vector<Case> cases = {
      {"as expected", good, {1000000, kMillionASha256}, 0},
      {"hash in upper case",
       good,
       {-1, "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
       0},
      {"size only", good, {1000000, ""}, 0},
      {"a flipped byte", flipped, {1000000, kMillionASha256}, kErrorHashMismatch},
      {"a flipped byte, hash only", flipped, {-1, kMillionASha256}, kErrorHashMismatch},
      {"one byte missing", good.substr(1), {1000000, kMillionASha256}, kErrorSizeMismatch},
      {"one byte more", good + "a", {1000000, kMillionASha256}, kErrorSizeMismatch},
      {"an error page with status 200", html, {1000000, kMillionASha256}, kErrorSizeMismatch},
      {"an empty file", "", {1000000, kMillionASha256}, kErrorSizeMismatch},
  };
  RawServer server([&cases](int fd, const std::string& request) {
    for (size_t i = 0; i < cases.size(); ++i)
      if (request.starts_with("GET /" + std::to_string(i) + " "))
        test::SendAll(fd, Reply200(cases[i].served));
  });
  test::Recorder recorder;
  CFileDown worker;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string local = dir.file(std::to_string(i));
    test::WriteFile(local, "an older file");
    worker.AddTask(server.url("/" + std::to_string(i)), local, kTaskOrdinary, &recorder, cases[i].expect);
  }
  ASSERT_TRUE(recorder.WaitForFinishes(cases.size()));
  for (const auto& finish : recorder.finishes()) {
    const Case& c = cases[std::stoul(finish.localPath.substr(dir.path().size() + 1))];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(finish.a, c.code);
    if (c.code == 0)
      EXPECT_EQ(test::ReadFile(finish.localPath), c.served);
    else
      EXPECT_FALSE(test::Exists(finish.localPath));
  }
}

TEST_F(TransferTest, OverlongBodyIsRefusedWhileItArrives) {
  // Far more than expected, and then the connection stays open: a transfer that read on
  // would end by the stall limit instead (another error code).
  RawServer* self = nullptr;
  RawServer server([&self](int fd, const std::string&) {
    test::SendAll(fd, test::ReplyHead("200 OK", {}) + std::string(200000, 'x'));
    self->WaitForRelease();
  });
  self = &server;
  test::Recorder recorder;
  CFileDown worker;
  worker.AddTask(server.url("/endless"), dir.file("endless"), kTaskOrdinary, &recorder, {1000, ""});
  ASSERT_TRUE(recorder.WaitForFinishes(1));
  server.Release();
  EXPECT_EQ(recorder.finishes()[0].a, kErrorSizeMismatch);
  EXPECT_FALSE(test::Exists(dir.file("endless")));
}

TEST(SameOriginTest, SchemeHostAndPortDecide) {
  struct Case {
    const char* from;
    const char* location;
    bool same;
  };
  const Case cases[] = {
      {"http://h/a/b", "/c", true},
      {"http://h/a/b", "c?x=1", true},
      {"http://h/a", "http://h:80/b", true},
      {"http://h:8080/a", "http://H:8080/b", true},
      {"https://h/a", "https://h:443/b", true},
      {"http://h/a", "http://h:81/a", false},
      {"http://h/a", "http://g/a", false},
      {"http://h/a", "//g/a", false},
      {"https://h/a", "http://h/a", false},
      {"http://h/a", "https://h/a", false},
      {"http://127.0.0.1:8080/a", "http://localhost:8080/a", false},
      {"http://h/a", "ftp://h/a", false},
      {"http://h/a", "http://[::1", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(net::SameOrigin(c.from, c.location), c.same) << c.from << " → " << c.location;
}

}  // namespace
}  // namespace zarn
