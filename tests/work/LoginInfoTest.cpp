#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "platform/Prompt.h"
#include "support/TestSupport.h"
#include "work/AgentId.h"
#include "work/LauncherInfo.h"

namespace zarn {
namespace {

using test::CodeSetGuard;
using test::EnvGuard;
using test::Exists;
using test::TempDir;
using test::WriteFile;

struct LoginCase {
  const char* name;
  std::string document;
  int32_t landerId;
  std::string findPasswordUrl, rechargeUrl;
};

const std::vector<LoginCase>& LoginCases() {
  static const std::vector<LoginCase> cases = {
      {"GoodDocument",
       R"({"lander_id":7,"lander_name":"x","find_pwd_url":"http://acc/pwd","recharge_url":"http://acc/pay",)"
       R"("register_url":"http://acc/reg","help_url":"http://acc/help"})",
       7, "http://acc/pwd", "http://acc/pay"},
      {"NotJson", "<html>502</html>", 0, "", ""},
      {"EmptyFile", "", 0, "", ""},
      {"TruncatedJson", R"({"lander_id":7,"find_pwd_url":"http://acc/pwd")", 0, "", ""},
      {"LanderIdAsStringIsAbsent", R"({"lander_id":"7","find_pwd_url":"P","recharge_url":"R"})", 0, "P", "R"},
      {"LanderIdBeyond32BitsIsAbsent", R"({"lander_id":4294967296,"recharge_url":"R"})", 0, "", "R"},
      {"LanderIdAsFractionIsAbsent", R"({"lander_id":7.5})", 0, "", ""},
      {"NegativeLanderId", R"({"lander_id":-3})", -3, "", ""},
      {"AddressesOfOtherTypesAreAbsent", R"({"lander_id":1,"find_pwd_url":5,"recharge_url":null})", 1, "",
       ""},
      {"MissingMembers", R"({})", 0, "", ""},
      {"RootThatIsNoObject", R"([1,2,3])", 0, "", ""},
      // The bytes are taken as they are: no code set conversion.
      {"TextIsNotConverted", R"({"recharge_url":"http://acc/充值"})", 0, "", "http://acc/充值"},
  };
  return cases;
}

// Test names print the case name, not its bytes.
void PrintTo(const LoginCase& c, std::ostream* os) { *os << c.name; }

class LoginTable : public ::testing::TestWithParam<LoginCase> {};

TEST_P(LoginTable, ReadsTheDocumentAndDeletesIt) {
  const LoginCase& c = GetParam();
  CodeSetGuard gbk("GBK");  // would change any converted text
  TempDir dir;
  const std::string path = TempDownPath(dir.path());
  WriteFile(path, c.document);
  // Values of an earlier read are replaced, also by empty ones.
  LoginInfo info{99, "old-pwd", "old-pay"};
  EXPECT_TRUE(ReadLoginInfo(path, &info));
  EXPECT_EQ(info.landerId, c.landerId);
  EXPECT_EQ(info.findPasswordUrl, c.findPasswordUrl);
  EXPECT_EQ(info.rechargeUrl, c.rechargeUrl);
  EXPECT_FALSE(Exists(path));
}

INSTANTIATE_TEST_SUITE_P(LoginInfo, LoginTable, ::testing::ValuesIn(LoginCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LoginInfo, MissingFileFailsAndKeepsTheValues) {
  TempDir dir;
  LoginInfo info{5, "P", "R"};
  EXPECT_FALSE(ReadLoginInfo(TempDownPath(dir.path()), &info));
  EXPECT_EQ(info.landerId, 5);
  EXPECT_EQ(info.findPasswordUrl, "P");
  EXPECT_EQ(info.rechargeUrl, "R");
}

TEST(LoginInfo, FolderInItsPlaceFailsAndIsNotDeleted) {
  TempDir dir;
  const std::string path = TempDownPath(dir.path());
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  LoginInfo info;
  EXPECT_FALSE(ReadLoginInfo(path, &info));
  EXPECT_TRUE(Exists(path));
}

TEST(LoginInfo, DocumentEndsAtItsFirstNul) {
  TempDir dir;
  const std::string path = TempDownPath(dir.path());
  WriteFile(path, std::string(R"({"lander_id":3})") + '\0' + "trailing bytes");
  LoginInfo info;
  EXPECT_TRUE(ReadLoginInfo(path, &info));
  EXPECT_EQ(info.landerId, 3);
}

TEST(LoginInfo, AddressAndRequestFollowTheAccountSetting) {
  EnvGuard account("ZARN_ACCOUNT_URL", "http://127.0.0.1:8082/acc/");
  EXPECT_EQ(LoginInfoUrl(), "http://127.0.0.1:8082/acc/Interface/ClientLogonJson?id=1033");
  const DownloadRequest request = LoginInfoRequest("/games/Kelmar");
  EXPECT_EQ(request.url, "http://127.0.0.1:8082/acc/Interface/ClientLogonJson?id=1033");
  EXPECT_EQ(request.localPath, "/games/Kelmar/temp.down");
  EXPECT_EQ(request.taskCode, 100);
}

TEST(LoginInfo, PrepareDownloadCreatesTheFolders) {
  TempDir dir;
  const DownloadRequest request = LoginInfoRequest(dir.path() + "/fresh/game");
  EXPECT_TRUE(PrepareDownload(request));
  EXPECT_TRUE(Exists(dir.path() + "/fresh/game"));
  EXPECT_FALSE(Exists(request.localPath));
}

TEST(LoginInfo, ServiceAddresses) {
  SetAgentId("A");
  struct Case {
    LoginInfo info;
    std::string recharge, password;
  };
  const std::vector<Case> cases = {
      {{7, "P", "R"}, "R?Lid=7&SpreaderID=A", "P?Lid=7"},
      {{12345, "P", "R"}, "R?Lid=12345&SpreaderID=A", "P?Lid=12345"},
      {{7, "P", ""}, "?Lid=7&SpreaderID=A", "P?Lid=7"},
      {{0, "", ""}, "?Lid=0&SpreaderID=A", "?Lid=0"},
      {{-2, "http://a/p?x=1", "http://a/r"}, "http://a/r?Lid=-2&SpreaderID=A", "http://a/p?x=1?Lid=-2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RechargeAddress(c.info, GetAgentId()), c.recharge);
    EXPECT_EQ(PasswordAddress(c.info), c.password);
  }
  SetAgentId("");
  EXPECT_EQ(RechargeAddress({7, "P", "R"}, GetAgentId()), "R?Lid=7&SpreaderID=");
}

TEST(LoginInfo, NotJsonGivesAddressesBeginningWithTheQuery) {
  TempDir dir;
  const std::string path = TempDownPath(dir.path());
  WriteFile(path, "not json at all");
  LoginInfo info;
  ASSERT_TRUE(ReadLoginInfo(path, &info));
  EXPECT_EQ(RechargeAddress(info, "agent9"), "?Lid=0&SpreaderID=agent9");
  EXPECT_EQ(PasswordAddress(info), "?Lid=0");
}

TEST(LoginInfo, WebsiteFallsBackToTheLayout) {
  EXPECT_EQ(WebsiteAddress("http://site/", "http://layout/"), "http://site/");
  EXPECT_EQ(WebsiteAddress("", "http://layout/"), "http://layout/");
}

TEST(LoginInfo, FailureMessage) {
  CodeSetGuard utf8("UTF-8");
  std::vector<PromptRequest> shown;
  SetPromptHandler([&](const PromptRequest& r) {
    shown.push_back(r);
    return IDOK;
  });
  ShowLoginInfoFailure();
  SetPromptHandler(nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "获取登录信息失败");
  EXPECT_EQ(shown[0].caption, "获取登录信息失败");
  EXPECT_EQ(shown[0].type, 0u);
}

}  // namespace
}  // namespace zarn
