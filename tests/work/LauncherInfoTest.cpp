#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>
#include <vector>

#include "app/Version.h"
#include "platform/Prompt.h"
#include "support/TestSupport.h"
#include "work/LauncherInfo.h"

namespace zarn {
namespace {

using test::CodeSetGuard;
using test::EnvGuard;
using test::TempDir;

constexpr char kOwnVersion[] = "1.0.0.1";
constexpr char kLayoutHttp[] = "http://layout.example/news.html";
constexpr char kDir[] = "/games/Kelmar";

struct ManifestCase {
  const char* name;
  std::optional<std::string> body;  // nothing: the fetch failed
  std::string currentPageUrl;       // the layout's "http"
  int result;
  std::string pageUrl, serverListUrl, websiteUrl;
  bool hideBrowser;
  std::string selfUpdateUrl;   // with result 1
  std::string selfUpdatePath;  // with result 1
};

const std::vector<ManifestCase>& ManifestCases() {
  static const std::vector<ManifestCase> cases = {
      {"EqualVersionTakesEveryMember",
       R"({"version":"1.0.0.1","url":"http://cdn/zarn","titleBar":"http://web/start.html",)"
       R"("serverlist":"http://cdn/serverlist.xml","website":"http://web/"})",
       kLayoutHttp, 0, "http://web/start.html", "http://cdn/serverlist.xml", "http://web/", false, "", ""},
      {"OtherVersionQueuesTheNewLauncher",
       R"({"version":"1.0.0.2","url":"a/b/new.exe","serverlist":"http://cdn/list.xml"})", kLayoutHttp, 1,
       kLayoutHttp, "http://cdn/list.xml", "", false, "a/b/new.exe", "/games/Kelmar/temp/new.exe"},
      {"VersionComparedByteForByte", R"({"version":"1.0.0.1 ","url":"http://cdn/dl/zarn"})", kLayoutHttp, 1,
       kLayoutHttp, "", "", false, "http://cdn/dl/zarn", "/games/Kelmar/temp/zarn"},
      {"UrlWithoutSlashIsTheFileName", R"({"version":"2.0.0.0","url":"zarn-new"})", kLayoutHttp, 1,
       kLayoutHttp, "", "", false, "zarn-new", "/games/Kelmar/temp/zarn-new"},
      {"MissingVersionFails", R"({"url":"http://cdn/zarn","titleBar":"http://web/x.html"})", kLayoutHttp, -1,
       kLayoutHttp, "", "", false, "", ""},
      {"NumericVersionFails", R"({"version":1.0,"url":"http://cdn/zarn","serverlist":"http://cdn/l.xml"})",
       kLayoutHttp, -1, kLayoutHttp, "", "", false, "", ""},
      {"MissingUrlFails", R"({"version":"1.0.0.1"})", kLayoutHttp, -1, kLayoutHttp, "", "", false, "", ""},
      {"NumericUrlFails", R"({"version":"1.0.0.1","url":7})", kLayoutHttp, -1, kLayoutHttp, "", "", false, "",
       ""},
      {"EmptyTitleBarKeepsTheLayoutPage", R"({"version":"1.0.0.1","url":"u","titleBar":""})", kLayoutHttp, 0,
       kLayoutHttp, "", "", false, "", ""},
      {"NumericTitleBarKeepsTheLayoutPage", R"({"version":"1.0.0.1","url":"u","titleBar":12})", kLayoutHttp,
       0, kLayoutHttp, "", "", false, "", ""},
      {"OptionalMembersOfOtherTypesAreIgnored",
       R"({"version":"1.0.0.1","url":"u","serverlist":["x"],"website":"","titleBar":null})", kLayoutHttp, 0,
       kLayoutHttp, "", "", false, "", ""},
      {"FirstMemberOfANameWins", R"({"version":"1.0.0.1","version":"9","url":"u","website":"http://a/"})",
       kLayoutHttp, 0, kLayoutHttp, "", "http://a/", false, "", ""},
      {"NotJsonFails", "<html><body>502 Bad Gateway</body></html>", kLayoutHttp, -1, kLayoutHttp, "", "",
       false, "", ""},
      {"TruncatedJsonFails", R"({"version":"1.0.0.1","url":"u")", kLayoutHttp, -1, kLayoutHttp, "", "", false,
       "", ""},
      {"RootThatIsNoObjectFails", R"(["version","url"])", kLayoutHttp, -1, kLayoutHttp, "", "", false, "",
       ""},
      {"EmptyReplyFails", std::string(), kLayoutHttp, -1, kLayoutHttp, "", "", false, "", ""},
      {"NoReplyFails", std::nullopt, kLayoutHttp, -1, kLayoutHttp, "", "", false, "", ""},
      {"BodyEndsAtItsFirstNul", std::string(R"({"version":"1.0.0.1","url":"u"})") + '\0' + "garbage",
       kLayoutHttp, 0, kLayoutHttp, "", "", false, "", ""},
      {"NoPageToShowHidesTheBrowser", R"({"version":"1.0.0.1","url":"u","serverlist":"http://cdn/l.xml"})",
       "", 0, "", "http://cdn/l.xml", "", true, "", ""},
      {"TitleBarGivesAPageToShow", R"({"version":"1.0.0.1","url":"u","titleBar":"http://web/t.html"})", "", 0,
       "http://web/t.html", "", "", false, "", ""},
      {"NoPageButSelfUpdateDoesNotHide", R"({"version":"0.9","url":"http://cdn/z"})", "", 1, "", "", "",
       false, "http://cdn/z", "/games/Kelmar/temp/z"},
  };
  return cases;
}

// Test names print the case name, not its bytes.
void PrintTo(const ManifestCase& c, std::ostream* os) { *os << c.name; }

class ManifestTable : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestTable, DecidesAsTheManifestSays) {
  const ManifestCase& c = GetParam();
  const LauncherPageValues current{c.currentPageUrl, "", ""};
  const std::optional<std::string_view> body =
      c.body ? std::optional<std::string_view>(*c.body) : std::optional<std::string_view>();
  const LauncherInfoDecision d = DecideLauncherInfo(body, current, kDir, kOwnVersion);
  EXPECT_EQ(d.result, c.result);
  EXPECT_EQ(d.values.pageUrl, c.pageUrl);
  EXPECT_EQ(d.values.serverListUrl, c.serverListUrl);
  EXPECT_EQ(d.values.websiteUrl, c.websiteUrl);
  EXPECT_EQ(d.pageUrlChanged, c.pageUrl != c.currentPageUrl);
  EXPECT_EQ(d.serverListUrlChanged, !c.serverListUrl.empty());
  EXPECT_EQ(d.websiteUrlChanged, !c.websiteUrl.empty());
  EXPECT_EQ(d.hideBrowser, c.hideBrowser);
  if (c.result == kSelfUpdateQueued) {
    EXPECT_EQ(d.selfUpdate.url, c.selfUpdateUrl);
    EXPECT_EQ(d.selfUpdate.localPath, c.selfUpdatePath);
    EXPECT_EQ(d.selfUpdate.taskCode, 2000);
  } else {
    EXPECT_TRUE(d.selfUpdate.url.empty());
    EXPECT_TRUE(d.selfUpdate.localPath.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(LauncherInfo, ManifestTable, ::testing::ValuesIn(ManifestCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LauncherInfo, FailureKeepsValuesAlreadyOnThePage) {
  const LauncherPageValues current{"http://p/", "http://list/", "http://site/"};
  const LauncherInfoDecision d = DecideLauncherInfo(std::string_view("{oops"), current, kDir, kOwnVersion);
  EXPECT_EQ(d.result, kLauncherInfoFailed);
  EXPECT_EQ(d.values.pageUrl, "http://p/");
  EXPECT_EQ(d.values.serverListUrl, "http://list/");
  EXPECT_EQ(d.values.websiteUrl, "http://site/");
  EXPECT_FALSE(d.pageUrlChanged || d.serverListUrlChanged || d.websiteUrlChanged || d.hideBrowser);
}

TEST(LauncherInfo, ManifestIsConvertedToTheAnsiCodeSet) {
  CodeSetGuard gbk("GBK");
  const std::string body = R"({"version":"1.0.0.1","url":"u","titleBar":"http://web/新闻.html",)"
                           R"("website":"http://web/电信"})";
  const LauncherInfoDecision d = DecideLauncherInfo(std::string_view(body), {}, kDir, kOwnVersion);
  ASSERT_EQ(d.result, kLauncherCurrent);
  EXPECT_EQ(d.values.pageUrl, "http://web/\xD0\xC2\xCE\xC5.html");
  EXPECT_EQ(d.values.websiteUrl, "http://web/\xB5\xE7\xD0\xC5");
}

TEST(LauncherInfo, SelfUpdateFileNameIsTheLastSegment) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a/b/new.exe", "new.exe"},
      {"http://cdn.example/launcher/zarn", "zarn"},
      {"zarn", "zarn"},
      {"", ""},
  };
  for (const auto& [url, name] : cases) {
    EXPECT_EQ(SelfUpdateFileName(url), name) << url;
    EXPECT_EQ(SelfUpdatePath("/g", url), "/g/temp/" + name) << url;
  }
}

TEST(LauncherInfo, ManifestAddressFollowsTheContentNetworkSetting) {
  EnvGuard cdn("ZARN_CDN_BASE_URL", "http://127.0.0.1:8081/root");
  EXPECT_EQ(VersionManifestUrl(), "http://127.0.0.1:8081/root/PCVersion/1033/version.xml");
  EnvGuard storage("ZARN_STORAGE_BASE_URL", "http://127.0.0.1:9/other/");
  EXPECT_EQ(VersionManifestUrl(), "http://127.0.0.1:8081/root/PCVersion/1033/version.xml");
}

// A content network on 127.0.0.1 that records what it was asked for.
class ManifestServer {
 public:
  explicit ManifestServer(std::string manifest) : manifest_(std::move(manifest)) {
    server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard lock(mutex_);
        paths_.push_back(req.target);
      }
      if (req.path == "/PCVersion/1033/version.xml")
        res.set_content(manifest_, "application/json");
      else
        res.status = 404;
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~ManifestServer() {
    server_.stop();
    thread_.join();
  }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> paths() {
    std::lock_guard lock(mutex_);
    return paths_;
  }

 private:
  std::string manifest_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> paths_;
};

FetchFunction HttpFetch() {
  return [](const std::string& url) -> std::optional<std::string> {
    const size_t slash = url.find('/', url.find("://") + 3);
    httplib::Client client(url.substr(0, slash));
    const auto res = client.Get(url.substr(slash).c_str());
    if (!res || res->body.empty()) return std::nullopt;
    return res->body;
  };
}

TEST(LauncherInfo, LoadFetchesOnlyTheManifestAndPreparesTheSelfUpdateFolder) {
  ManifestServer server(R"({"version":"0.0.0.1","url":")" + std::string("http://127.0.0.1:1/dl/zarn-2") +
                        R"("})");
  EnvGuard cdn("ZARN_CDN_BASE_URL", server.base() + "/");
  TempDir dir;
  const LauncherInfoDecision d = LoadLauncherInfo(HttpFetch(), {kLayoutHttp, "", ""}, dir.path());
  EXPECT_EQ(d.result, kSelfUpdateQueued);
  EXPECT_EQ(d.selfUpdate.localPath, dir.path() + "/temp/zarn-2");
  EXPECT_EQ(d.selfUpdate.taskCode, kTaskCodeSelfUpdate);
  EXPECT_TRUE(test::Exists(dir.path() + "/temp"));
  EXPECT_FALSE(test::Exists(dir.path() + "/temp/zarn-2"));
  // Only the manifest was asked for: no login information.
  EXPECT_EQ(server.paths(), std::vector<std::string>{"/PCVersion/1033/version.xml"});
}

TEST(LauncherInfo, LoadWithTheBuildsVersionContinues) {
  ManifestServer server(R"({"version":")" + GetAppVersion() + R"(","url":"http://127.0.0.1:1/z"})");
  EnvGuard cdn("ZARN_CDN_BASE_URL", server.base());
  TempDir dir;
  const LauncherInfoDecision d = LoadLauncherInfo(HttpFetch(), {kLayoutHttp, "", ""}, dir.path());
  EXPECT_EQ(d.result, kLauncherCurrent);
  EXPECT_FALSE(d.hideBrowser);
  EXPECT_FALSE(test::Exists(dir.path() + "/temp"));
}

TEST(LauncherInfo, LoadWithoutReplyFails) {
  TempDir dir;
  std::vector<std::string> asked;
  EnvGuard cdn("ZARN_CDN_BASE_URL", "http://127.0.0.1:9/");
  for (const std::optional<std::string>& reply :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    const auto fetch = [&](const std::string& url) {
      asked.push_back(url);
      return reply;
    };
    EXPECT_EQ(LoadLauncherInfo(fetch, {kLayoutHttp, "", ""}, dir.path()).result, kLauncherInfoFailed);
  }
  EXPECT_EQ(asked, (std::vector<std::string>{"http://127.0.0.1:9/PCVersion/1033/version.xml",
                                             "http://127.0.0.1:9/PCVersion/1033/version.xml"}));
}

TEST(LauncherInfo, RetryQuestionAsksWithItsTexts) {
  CodeSetGuard utf8("UTF-8");
  std::vector<PromptRequest> shown;
  int answer = IDOK;
  SetPromptHandler([&](const PromptRequest& r) {
    shown.push_back(r);
    return answer;
  });
  EXPECT_TRUE(AskLauncherInfoRetry());
  answer = IDCANCEL;
  EXPECT_FALSE(AskLauncherInfoRetry());
  SetPromptHandler(nullptr);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "下载版本文件失败,是否重新下载?");
  EXPECT_EQ(shown[0].caption, "下载版本文件失败");
  EXPECT_EQ(shown[0].type, 0x21u);
}

}  // namespace
}  // namespace zarn
