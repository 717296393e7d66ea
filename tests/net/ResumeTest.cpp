// Resumable downloads against nginx, with the fault proxy in front of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "NetTestSupport.h"
#include "net/CFileDown.h"
#include "support/NginxServer.h"
#include "support/TestSupport.h"
#include "util/Sha256.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::Fault;

constexpr int64_t kMiB = 1 << 20;

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Sets the file's modification time, so nginx gives it another ETag.
void SetMtime(const std::string& path, time_t when) {
  const timeval times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

bool HasRange(const std::string& request) { return request.find("\r\nRange: bytes=") != std::string::npos; }

Fault DroppingWithoutRanges(int64_t after) {
  Fault f = Fault::IgnoreRange();
  f.dropAfter = after;
  return f;
}

class ResumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ClearProxyEnvironment();
    ASSERT_TRUE(nginx.Started()) << nginx.ErrorLog();
    settings.connectTimeout = 500ms;
    settings.receiveTimeout = 500ms;
    settings.retryWaits = {20ms, 20ms, 20ms};
    settings.retryAfterLimit = 300ms;
    Publish(test::NoiseBytes(static_cast<size_t>(3 * kMiB + 12345), 1));
  }

  // Puts new bytes on the server (with a modification time of its own: another ETag).
  void Publish(std::string bytes) {
    body = std::move(bytes);
    test::WriteFile(served.file("pkg.zip"), body);
    SetMtime(served.file("pkg.zip"), 1700000000 + static_cast<time_t>(++publications));
  }

  DownloadExpectations Expect(std::string identity = "pkg.zip 1.0.2") const {
    DownloadExpectations e(static_cast<int64_t>(body.size()), Sha256Hex(body));
    e.resumable = true;
    e.identity = std::move(identity);
    return e;
  }

  // Runs one job to its end; its error code.
  int Fetch(const DownloadExpectations& expect, const DownloadSettings& with) {
    const size_t before = recorder.finishes().size();
    CFileDown worker(with);
    worker.AddTask(proxy.url("/pkg.zip"), Local(), kTaskOrdinary, &recorder, expect);
    EXPECT_TRUE(recorder.WaitForFinishes(before + 1));
    return recorder.finishes().back().a;
  }
  int Fetch(const DownloadExpectations& expect) { return Fetch(expect, settings); }
  // One try only: a failure leaves the partial file, as a player who quit would.
  int FetchOnce(const DownloadExpectations& expect) {
    DownloadSettings once = settings;
    once.retryWaits.clear();
    return Fetch(expect, once);
  }

  std::string Local() const { return local.file("pkg.zip"); }
  std::string Part() const { return Local() + ".part"; }
  void ExpectWhole() {
    EXPECT_EQ(test::ReadFile(Local()), body);
    EXPECT_FALSE(test::Exists(Part()));
    EXPECT_FALSE(test::Exists(Part() + ".info"));
  }

  test::TempDir served, local, outside;
  test::NginxServer nginx{served.path()};
  test::FaultProxy proxy{nginx.port()};
  test::Recorder recorder;
  DownloadSettings settings;
  std::string body;
  int publications = 0;
};

TEST_F(ResumeTest, DroppedConnectionsContinueFromTheLastByte) {
  // Every connection breaks after 512 KiB: more breaks than tries, but each try moves on.
  proxy.Plan({}, Fault::DropAfter(kMiB / 2));
  EXPECT_EQ(Fetch(Expect()), 0);
  ExpectWhole();
  // Nothing fetched twice; the later requests asked for the rest, tied to the first reply.
  EXPECT_EQ(proxy.BodyBytesSent(), static_cast<int64_t>(body.size()));
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_FALSE(HasRange(requests[0]));
  for (size_t i = 1; i < requests.size(); ++i) {
    EXPECT_NE(requests[i].find("Range: bytes=" + std::to_string(i * kMiB / 2) + "-\r\n"), std::string::npos);
    EXPECT_NE(requests[i].find("If-Range: \""), std::string::npos);
  }
  // One start report; the bar keeps its place across the tries.
  const auto reports = recorder.reports();
  EXPECT_EQ(recorder.of(test::Report::kStart).size(), 1u);
  EXPECT_EQ(reports.front().a, static_cast<int>(body.size()));
  int last = 0;
  for (const auto& r : recorder.of(test::Report::kProgress)) {
    EXPECT_GT(r.a, last);
    EXPECT_EQ(r.b, static_cast<int>(body.size()));
    last = r.a;
  }
  EXPECT_EQ(last, static_cast<int>(body.size()));
}

TEST_F(ResumeTest, TransientFailuresAreTriedAgainOthersFailAtOnce) {
  struct Case {
    const char* name;
    std::vector<Fault> plan;
    Fault standing;
    int code;
    int connections;
  };
  const std::vector<Case> cases = {
      {"503 twice, then the file", {Fault::Status(503), Fault::Status(503)}, {}, 0, 3},
      {"429 with Retry-After", {Fault::Status(429, "1")}, {}, 0, 2},
      {"408, 500, 502", {Fault::Status(408), Fault::Status(500), Fault::Status(502)}, {}, 0, 4},
      {"a stall halfway", {Fault::StallAfter(kMiB)}, {}, 0, 2},
      {"a body cut short", {Fault::DropAfter(10)}, {}, 0, 2},
      {"404 at once", {}, Fault::Status(404), 404, 1},
      {"403 at once", {}, Fault::Status(403), 403, 1},
      {"503 for good: fails after three more tries", {}, Fault::Status(503), 503, 4},
      {"dropped for good before any byte", {}, Fault::DropAfter(0), kErrorShortReply, 4},
      // Each try starts the file over and breaks off where the first did: no try gets further,
      // so the tries run out instead of going on for ever.
      {"no ranges, dropped at the same byte each time", {}, DroppingWithoutRanges(kMiB), kErrorShortReply, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(local.path());
    std::filesystem::create_directories(local.path());
    proxy.Plan(c.plan, c.standing);
    EXPECT_EQ(Fetch(Expect()), c.code);
    EXPECT_EQ(proxy.Connections(), c.connections);
    if (c.code == 0) {
      ExpectWhole();
    } else {
      EXPECT_FALSE(test::Exists(Local()));
    }
  }
}

TEST_F(ResumeTest, KilledWorkerIsContinuedByTheNextRun) {
  const int64_t half = static_cast<int64_t>(body.size()) / 2;
  proxy.Plan({Fault::StallAfter(half)});
  const DownloadExpectations e = Expect();
  const std::string size = std::to_string(e.size);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl(ZARN_NET_FETCH, ZARN_NET_FETCH, proxy.url("/pkg.zip").c_str(), Local().c_str(), size.c_str(),
            e.sha256.c_str(), e.identity.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const bool halfOnDisk = test::WaitFor([&] { return FileSize(Part()) == half; }, 20s);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ASSERT_TRUE(halfOnDisk);

  const int64_t sentBefore = proxy.BodyBytesSent();
  EXPECT_EQ(Fetch(e), 0);
  ExpectWhole();
  EXPECT_EQ(proxy.BodyBytesSent() - sentBefore, static_cast<int64_t>(body.size()) - half);
}

TEST_F(ResumeTest, ADiskThatFillsDuringAResumedDownloadFailsAndTheNextRunGoesOn) {
  proxy.Plan({Fault::DropAfter(kMiB)});
  const DownloadExpectations e = Expect();
  ASSERT_EQ(FetchOnce(e), kErrorShortReply);
  ASSERT_EQ(FileSize(Part()), kMiB);

  // The resumed download in a process whose files may not grow beyond 2 MiB.
  proxy.Plan({});
  const std::string size = std::to_string(e.size);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    const rlimit limit{static_cast<rlim_t>(2 * kMiB), static_cast<rlim_t>(2 * kMiB)};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    ::execl(ZARN_NET_FETCH, ZARN_NET_FETCH, proxy.url("/pkg.zip").c_str(), Local().c_str(), size.c_str(),
            e.sha256.c_str(), e.identity.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);  // failed, not whole
  EXPECT_FALSE(test::Exists(Local()));
  EXPECT_EQ(FileSize(Part()), 2 * kMiB);

  // With room again the file goes on from what reached the disk.
  const int64_t sentBefore = proxy.BodyBytesSent();
  EXPECT_EQ(Fetch(e), 0);
  ExpectWhole();
  EXPECT_EQ(proxy.BodyBytesSent() - sentBefore, static_cast<int64_t>(body.size()) - 2 * kMiB);
}

TEST_F(ResumeTest, AnswersThatCannotContinueTheFileStartItOver) {
  struct Case {
    const char* name;
    Fault second;  // the request that asks for the rest
    int connections;
  };
  const std::vector<Case> cases = {
      {"the server ignores Range", Fault::IgnoreRange(), 2},
      {"a Content-Range for other bytes", Fault::ShiftContentRange(1000), 3},
      {"a Content-Range before the partial's end", Fault::ShiftContentRange(-1000), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(local.path());
    std::filesystem::create_directories(local.path());
    proxy.Plan({Fault::DropAfter(kMiB), c.second});
    EXPECT_EQ(Fetch(Expect()), 0);
    ExpectWhole();  // never appended to: the file is exactly the server's
    const auto requests = proxy.Requests();
    ASSERT_EQ(static_cast<int>(requests.size()), c.connections);
    EXPECT_TRUE(HasRange(requests[1]));
    if (c.connections == 3) {
      EXPECT_FALSE(HasRange(requests[2]));
    }
  }
}

TEST_F(ResumeTest, RangeNotSatisfiableStartsTheFileOver) {
  // A partial longer than the server's file (no size published to catch it first): nginx
  // answers 416 to its range.
  DownloadExpectations unsized = Expect();
  unsized.size = -1;
  proxy.Plan({Fault::DropAfter(kMiB)});
  ASSERT_NE(FetchOnce(unsized), 0);
  test::WriteFile(Part(), body + "tail");
  EXPECT_EQ(Fetch(unsized), 0);
  ExpectWhole();
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_NE(requests[1].find("Range: bytes=" + std::to_string(body.size() + 4) + "-"), std::string::npos);
  EXPECT_FALSE(HasRange(requests[2]));
}

TEST_F(ResumeTest, APartialOfAnotherVersionIsNeverContinued) {
  // No hash published: only the server's validator tells the versions apart.
  DownloadExpectations sizeOnly = Expect();
  sizeOnly.sha256.clear();
  proxy.Plan({Fault::DropAfter(kMiB)});
  ASSERT_NE(FetchOnce(sizeOnly), 0);
  ASSERT_EQ(FileSize(Part()), kMiB);

  // The same name, published again with other bytes of the same length: another ETag.
  Publish(test::NoiseBytes(body.size(), 2));
  EXPECT_EQ(Fetch(sizeOnly), 0);
  ExpectWhole();
  // Asked to continue, nginx saw another ETag in If-Range and sent the whole new file.
  ASSERT_EQ(proxy.Requests().size(), 2u);
  EXPECT_TRUE(HasRange(proxy.Requests()[1]));

  // A partial recorded for an older version text is not even asked to be continued.
  proxy.Plan({Fault::DropAfter(kMiB)});
  std::filesystem::remove(Local());
  ASSERT_NE(FetchOnce(Expect("pkg.zip 1.0.2")), 0);
  Publish(test::NoiseBytes(body.size(), 3));
  EXPECT_EQ(Fetch(Expect("pkg.zip 1.0.3")), 0);
  ExpectWhole();
  ASSERT_EQ(proxy.Requests().size(), 2u);
  EXPECT_FALSE(HasRange(proxy.Requests()[1]));
}

TEST_F(ResumeTest, BodyLongerThanAnnouncedFailsAndIsNotKept) {
  struct Case {
    const char* name;
    DownloadExpectations expect;
    int code;
  };
  DownloadExpectations hashOnly = Expect();
  hashOnly.size = -1;
  const std::vector<Case> cases = {
      {"size known", Expect(), kErrorSizeMismatch},
      {"hash known", hashOnly, kErrorHashMismatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    proxy.Plan({}, Fault::AnnounceLess(1000));
    EXPECT_EQ(Fetch(c.expect), c.code);
    EXPECT_EQ(proxy.Connections(), 1);  // a wrong file is not fetched again
    EXPECT_FALSE(test::Exists(Local()));
    EXPECT_FALSE(test::Exists(Part()));
  }
}

TEST_F(ResumeTest, APartialReplacedByAFolderOrALinkStartsCleanly) {
  const std::string victim = outside.file("victim");
  for (const char* what : {"folder", "link to a file", "record is a link"}) {
    SCOPED_TRACE(what);
    std::filesystem::remove_all(local.path());
    std::filesystem::create_directories(local.path());
    test::WriteFile(victim, "not the launcher's");
    proxy.Plan({Fault::DropAfter(kMiB)});
    ASSERT_NE(FetchOnce(Expect()), 0);
    const std::string replaced = std::string(what) == "record is a link" ? Part() + ".info" : Part();
    std::filesystem::remove(replaced);
    if (std::string(what) == "folder") {
      std::filesystem::create_directories(replaced + "/inner");
      test::WriteFile(replaced + "/inner/file", "x");
    } else {
      std::filesystem::create_symlink(victim, replaced);
    }
    const int64_t sentBefore = proxy.BodyBytesSent();
    EXPECT_EQ(Fetch(Expect()), 0);
    ExpectWhole();
    EXPECT_EQ(test::ReadFile(victim), "not the launcher's");
    EXPECT_EQ(proxy.BodyBytesSent() - sentBefore, static_cast<int64_t>(body.size()));
  }
}

TEST_F(ResumeTest, AWholePartialLeftByAKilledRunNeedsNoRequest) {
  // Killed after the last byte, before the file was moved into place.
  proxy.Plan({Fault::DropAfter(kMiB)});
  ASSERT_NE(FetchOnce(Expect()), 0);
  test::WriteFile(Part(), body);
  EXPECT_EQ(Fetch(Expect()), 0);
  ExpectWhole();
  EXPECT_EQ(proxy.Connections(), 1);
  // The same with bytes that do not match the hash: deleted, failed, never moved into place.
  proxy.Plan({Fault::DropAfter(kMiB)});
  std::filesystem::remove(Local());
  ASSERT_NE(FetchOnce(Expect()), 0);
  std::string wrong = body;
  wrong[100] = static_cast<char>(wrong[100] ^ 1);
  test::WriteFile(Part(), wrong);
  EXPECT_EQ(Fetch(Expect()), kErrorHashMismatch);
  EXPECT_FALSE(test::Exists(Local()));
  EXPECT_FALSE(test::Exists(Part()));
}

TEST_F(ResumeTest, OrdinaryJobsStayASingleRequest) {
  // Without the flag: no partial file, no retry (the other files keep the plain request).
  proxy.Plan({Fault::Status(503)});
  CFileDown worker(settings);
  worker.AddTask(proxy.url("/pkg.zip"), Local(), kTaskOrdinary, &recorder);
  ASSERT_TRUE(recorder.WaitForFinishes(1));
  EXPECT_EQ(recorder.finishes()[0].a, 503);
  EXPECT_EQ(proxy.Connections(), 1);
  EXPECT_FALSE(test::Exists(Part()));
}

}  // namespace
}  // namespace zarn
