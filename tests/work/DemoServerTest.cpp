// The demo content service, run as the real program: the launcher's readers take what it serves.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/Version.h"
#include "support/TestSupport.h"
#include "work/LauncherInfo.h"
#include "work/ServerList.h"

namespace zarn {
namespace {

using test::CodeSetGuard;
using test::EnvGuard;
using test::Exists;
using test::TempDir;
using test::WriteFile;

// The program with its standard output on a pipe.
class DemoProcess {
 public:
  explicit DemoProcess(std::vector<std::string> args) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      std::vector<char*> argv;
      std::string program = ZARN_DEMO_SERVER;
      argv.push_back(program.data());
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~DemoProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  // The next line of output, waiting up to 10 s; "" at the end.
  std::string ReadLine() {
    while (buffer_.find('\n') == std::string::npos) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) break;
      char chunk[4096];
      const ssize_t got = ::read(out_, chunk, sizeof chunk);
      if (got <= 0) break;
      buffer_.append(chunk, static_cast<size_t>(got));
    }
    const size_t nl = buffer_.find('\n');
    std::string line = buffer_.substr(0, nl);
    buffer_.erase(0, nl == std::string::npos ? buffer_.size() : nl + 1);
    return line;
  }
  // Everything still to come, up to the end of the output.
  std::string ReadRest() {
    std::string rest = buffer_;
    buffer_.clear();
    char chunk[4096];
    for (;;) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) break;
      const ssize_t got = ::read(out_, chunk, sizeof chunk);
      if (got <= 0) break;
      rest.append(chunk, static_cast<size_t>(got));
    }
    return rest;
  }
  // Sends the signal and waits for the end; the exit status, or -1 when it did not end normally.
  int Stop(int signal) {
    ::kill(pid_, signal);
    return Wait();
  }
  int Wait() {
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      ::usleep(10000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
  std::string buffer_;
};

// Starts the program on a free port and reads the address it announces.
struct RunningDemo {
  explicit RunningDemo(const std::string& content) : process({"--port", "0", "--content", content}) {
    // "zarn-demo-server listening on http://127.0.0.1:<port>/ (content: ...)"
    const std::string first = process.ReadLine();
    const std::string marker = "listening on http://127.0.0.1:";
    const size_t at = first.find(marker);
    if (at == std::string::npos) return;
    const size_t digits = at + marker.size();
    const size_t end = first.find('/', digits);
    if (end == std::string::npos || end == digits) return;
    port = std::atoi(first.substr(digits, end - digits).c_str());
    base = "http://127.0.0.1:" + std::to_string(port);
  }
  DemoProcess process;
  std::string base;
  int port = 0;
};

httplib::Result Get(const std::string& base, const std::string& target) {
  httplib::Client client(base);
  client.set_connection_timeout(5);
  return client.Get(target.c_str());
}

// What the page's HTTP client does for the manifest: the body, or nothing.
FetchFunction HttpFetch() {
  return [](const std::string& url) -> std::optional<std::string> {
    const size_t slash = url.find('/', url.find("://") + 3);
    const auto res = Get(url.substr(0, slash), url.substr(slash));
    if (!res || res->body.empty()) return std::nullopt;
    return res->body;
  };
}

// What the download worker does: the body of a 200 reply into the local file.
bool Download(const DownloadRequest& request) {
  const size_t slash = request.url.find('/', request.url.find("://") + 3);
  const auto res = Get(request.url.substr(0, slash), request.url.substr(slash));
  if (!res || res->status != 200 || !PrepareDownload(request)) return false;
  WriteFile(request.localPath, res->body);
  return true;
}

// A raw request line, for targets a client library would tidy up.
int RawStatus(int port, const std::string& target) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  (void)!::write(fd, request.data(), request.size());
  char reply[64] = {};
  const ssize_t got = ::read(fd, reply, sizeof reply - 1);
  ::close(fd);
  if (got < 12) return -1;
  return std::atoi(reply + 9);
}

TEST(DemoServer, StartUpChainReadsWhatTheDemoServes) {
  CodeSetGuard utf8("UTF-8");
  RunningDemo demo(ZARN_DEMO_CONTENT);
  ASSERT_GT(demo.port, 0) << "no address announced";
  EnvGuard cdn("ZARN_CDN_BASE_URL", demo.base + "/");
  EnvGuard storage("ZARN_STORAGE_BASE_URL", demo.base + "/");
  EnvGuard account("ZARN_ACCOUNT_URL", demo.base);
  EnvGuard web("ZARN_WEB_URL", demo.base);
  TempDir game;

  // Launcher information: the demo announces the build's own version.
  const LauncherInfoDecision info = LoadLauncherInfo(HttpFetch(), {"http://layout/", "", ""}, game.path());
  ASSERT_EQ(info.result, kLauncherCurrent);
  EXPECT_EQ(info.values.serverListUrl, demo.base + "/serverlist.xml");
  EXPECT_EQ(info.values.pageUrl, demo.base + "/news.html");
  EXPECT_EQ(info.values.websiteUrl, demo.base + "/");
  EXPECT_FALSE(info.hideBrowser);

  // Login information, by its query string.
  ASSERT_TRUE(Download(LoginInfoRequest(game.path())));
  LoginInfo login;
  ASSERT_TRUE(ReadLoginInfo(TempDownPath(game.path()), &login));
  EXPECT_EQ(login.landerId, 7);
  EXPECT_EQ(login.rechargeUrl, demo.base + "/recharge.html");
  EXPECT_EQ(login.findPasswordUrl, demo.base + "/findpwd.html");
  EXPECT_FALSE(Exists(TempDownPath(game.path())));

  // Server list.
  ASSERT_TRUE(Download(ServerListRequest(game.path(), info.values.serverListUrl)));
  ServerListState list;
  const ServerListStep step = LoadDownloadedServerList(game.path(), info.values.pageUrl, list);
  EXPECT_TRUE(step.enableStart);
  EXPECT_FALSE(step.usedFallback);
  ASSERT_TRUE(step.navigateTo.has_value());
  EXPECT_EQ(*step.navigateTo, demo.base + "/news.html");
  EXPECT_FALSE(Exists(TempDownPath(game.path())));

  // A few zones in several colours, one hidden zone and one hidden server.
  ASSERT_GE(list.zones.size(), 3u);
  size_t hiddenZones = 0, hiddenServers = 0, shownServers = 0;
  std::set<int32_t> colours;
  for (const auto& zone : list.zones) {
    hiddenZones += zone->hide != 0;
    if (zone->hide != 0) {
      EXPECT_TRUE(zone->servers.empty());
    }
    colours.insert(zone->color);
    for (const auto& server : zone->servers) {
      hiddenServers += server->hide != 0;
      colours.insert(server->color);
      EXPECT_FALSE(server->id.empty()) << server->name;
      EXPECT_EQ(server->zone, zone.get());
    }
  }
  const std::vector<TreeZoneDesc> tree = DescribeServerTree(list.zones);
  for (const auto& zone : tree) shownServers += zone.servers.size();
  EXPECT_EQ(hiddenZones, 1u);
  EXPECT_EQ(hiddenServers, 1u);
  EXPECT_EQ(tree.size(), list.zones.size() - 1);
  EXPECT_GE(shownServers, 3u);
  EXPECT_GE(colours.size(), 4u);
  EXPECT_EQ(tree[0].item.text, "电信一区");
  EXPECT_EQ(list.zones[0]->realname, "电信一区");
  EXPECT_EQ(list.zones[0]->version, GetAppVersion());

  // The start page.
  const auto page = Get(demo.base, "/news.html");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos);
  EXPECT_NE(page->body.find("</html>"), std::string::npos);
  EXPECT_EQ(page->body.find("{{"), std::string::npos);

  EXPECT_EQ(demo.process.Stop(SIGTERM), 0);
  const std::string log = demo.process.ReadRest();
  EXPECT_NE(log.find("GET /PCVersion/1033/version.xml 200"), std::string::npos) << log;
  EXPECT_NE(log.find("GET /Interface/ClientLogonJson?id=1033 200"), std::string::npos) << log;
  EXPECT_NE(log.find("GET /serverlist.xml 200"), std::string::npos) << log;
  EXPECT_NE(log.find("GET /news.html 200"), std::string::npos) << log;
  EXPECT_NE(log.find("stopped"), std::string::npos) << log;
}

class DemoContent : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(top.file("secret.txt"), "outside");
    WriteFile(top.file("content/a.txt"), "plain file");
    WriteFile(top.file("content/dir/page.json.in"),
              R"({"base":"{{BASE}}","port":{{PORT}},"v":"{{VERSION}}"})");
    WriteFile(top.file("content/q@x=1"), "by query");
    WriteFile(top.file("content/q"), "without query");
    WriteFile(top.file("content/only@id=5.in"), "templated {{PORT}}");
    std::filesystem::create_symlink("../secret.txt", top.file("content/leak"));
    big.assign(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + (i >> 9));
    WriteFile(top.file("content/public/zip/big.zip"), big);
  }
  TempDir top;
  std::string big;
};

TEST_F(DemoContent, ServesFilesTemplatesAndQueries) {
  RunningDemo demo(top.file("content"));
  ASSERT_GT(demo.port, 0);
  const std::string port = std::to_string(demo.port);
  struct Case {
    std::string target;
    int status;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"/a.txt", 200, "plain file"},
      {"/dir/page.json", 200,
       R"({"base":"http://127.0.0.1:)" + port + R"(","port":)" + port + R"(,"v":")" + GetAppVersion() +
           "\"}"},
      {"/q?x=1", 200, "by query"},
      {"/q?x=2", 200, "without query"},
      {"/q", 200, "without query"},
      {"/only?id=5", 200, "templated " + port},
      {"/only", 404, ""},
      {"/missing.xml", 404, ""},
      {"/leak", 404, ""},
      {"/dir", 404, ""},
  };
  for (const Case& c : cases) {
    const auto res = Get(demo.base, c.target);
    ASSERT_TRUE(res) << c.target;
    EXPECT_EQ(res->status, c.status) << c.target;
    if (c.status == 200) {
      EXPECT_EQ(res->body, c.body) << c.target;
    }
  }
  EXPECT_EQ(Get(demo.base, "/dir/page.json")->get_header_value("Content-Type"),
            "application/json; charset=utf-8");

  const auto zip = Get(demo.base, "/public/zip/big.zip");
  ASSERT_TRUE(zip);
  EXPECT_EQ(zip->status, 200);
  EXPECT_EQ(zip->get_header_value("Content-Type"), "application/zip");
  EXPECT_TRUE(zip->body == big) << "size " << zip->body.size();

  for (const char* target :
       {"/../secret.txt", "/%2e%2e/secret.txt", "/dir/../../secret.txt", "/a.txt/../../secret.txt"})
    EXPECT_EQ(RawStatus(demo.port, target), 404) << target;
  EXPECT_EQ(RawStatus(demo.port, "/a.txt"), 200);
  EXPECT_EQ(demo.process.Stop(SIGINT), 0);
}

TEST_F(DemoContent, RegistrationAnswersInJson) {
  RunningDemo demo(top.file("content"));
  ASSERT_GT(demo.port, 0);
  httplib::Client client(demo.base);
  auto post = [&](const std::string& body) {
    const auto res = client.Post("/View/UserRegInter", body, "application/x-www-form-urlencoded");
    return res ? res->body : std::string("no reply");
  };
  const std::string form =
      "LoginPass=pw1&CheLoginPass=pw1&RealName=x&IDCard=1&SecretQuestionID=13537"
      "&SecretAnswer=x&SecretEmail=m&SecretPhone=1&SpreaderID=";
  EXPECT_EQ(post("UserName=abc&" + form), R"({"Code":200,"Message":"注册成功"})");
  EXPECT_EQ(post("UserName=abc&" + form), R"({"Code":500,"Message":"该用户名已被注册"})");
  EXPECT_EQ(post("UserName=&" + form), R"({"Code":500,"Message":"用户名不能为空"})");
  EXPECT_EQ(post("UserName=b%26c&LoginPass=1&CheLoginPass=2"),
            R"({"Code":500,"Message":"两次输入的密码不一致"})");
  EXPECT_EQ(demo.process.Stop(SIGTERM), 0);
}

TEST(DemoServerProgram, RefusesBadArguments) {
  TempDir dir;
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{"--port", "x", "--content", dir.path()}, 2},
      {{"--port", "70000", "--content", dir.path()}, 2},
      {{"--content", dir.path()}, 2},
      {{"--port", "0"}, 2},
      {{"--port", "0", "--content", dir.file("missing")}, 1},
  };
  for (const auto& [args, status] : cases) {
    DemoProcess process(args);
    EXPECT_EQ(process.Wait(), status) << args[0] << " " << args[1];
  }
}

}  // namespace
}  // namespace zarn
