// The faults of the update road on the real work page: the player's prompt, word for word, for
// each fault of the table, and the game folder afterwards. The page is handed a download worker
// with short time-outs, so that a silent server fails within the test's patience.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>

#include "FaultCases.h"
#include "FaultFixture.h"
#include "platform/Process.h"
#include "platform/Prompt.h"
#include "support/TestSupport.h"
#include "work/CDialogWork.h"

namespace zarn::test {
namespace {

class PageFaultTest : public ::testing::TestWithParam<FaultCase> {
 protected:
  PageFaultTest() : home_("HOME", home.path()), config_("XDG_CONFIG_HOME", home.file(".config")) {}
  void SetUp() override {
    char cwd[4096];
    savedCwd = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
    SetModulePathForTest(f.game.dir + "/zarn");
    // A game client that starts and ends, so that a road that completes ends the launcher.
    WriteFile(f.game.dir + "/RuzaDivuzo226.exe", "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(::chmod((f.game.dir + "/RuzaDivuzo226.exe").c_str(), 0755), 0);
    SetExitProcessHook([this](int code) { exits.push_back(code); });
    SetPromptHandler([this](const PromptRequest& request) {
      prompts.push_back(request);
      return IDCANCEL;
    });
  }
  void TearDown() override {
    SetPromptHandler(nullptr);
    SetExitProcessHook(nullptr);
    SetModulePathForTest("");
    if (::chdir(savedCwd.c_str()) != 0) ADD_FAILURE() << "cannot return to " << savedCwd;
  }

  CodeSetGuard utf8{"UTF-8"};
  TempDir home;
  EnvGuard home_, config_;
  FaultFixture f;
  std::string savedCwd;
  std::vector<PromptRequest> prompts;
  std::vector<int> exits;
};

TEST_P(PageFaultTest, ThePlayerSeesTheFaultAndCancelEndsTheLauncher) {
  const FaultCase& c = GetParam();
  std::string base = f.server.base();
  c.arrange(f, base);
  EnvGuard storage("ZARN_STORAGE_BASE_URL", base);  // "HuaWeiCDN" is 0 in the game folder
  // The same address as the other base: no second base to fall back to, and no request
  // leaves 127.0.0.1.
  EnvGuard cdn("ZARN_CDN_BASE_URL", base);

  DownloadSettings shortLimits = QuickRetries();
  shortLimits.connectTimeout = std::chrono::milliseconds(500);
  shortLimits.receiveTimeout = std::chrono::milliseconds(700);
  CFileDown worker(shortLimits);
  CDialogWork page(nullptr, {&worker, nullptr});
  page.OnInitDialog();  // without a web panel the page only skips its start-up chain
  page.KillTimer(CDialogWork::kStartTimer);
  ServerRecord server;
  server.name = "s12";
  server.ip = "10.0.0.12";
  server.port = "7001";
  server.id = "12";
  page.selectedServer = &server;
  page.StartUpdate();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.empty() || !exits.empty(); }, 20000))
      << "stage " << page.stage();
  QTest::qWait(200);  // nothing more may follow

  if (c.kind == RoadOutcome::kComplete) {
    EXPECT_TRUE(prompts.empty()) << prompts.front().text;
    f.ExpectComplete("the game started");
  } else {
    ASSERT_EQ(prompts.size(), 1u);
    std::string expected = "解压文件失败!!";
    if (c.kind == RoadOutcome::kDownloadFailed)
      expected =
          "下载文件失败[" + f.game.dir + "/" + c.failedPath + "]错误ID[" + std::to_string(c.code) + "]";
    EXPECT_EQ(prompts[0].text, expected);
    EXPECT_EQ(prompts[0].caption, "更新文件");
    EXPECT_EQ(prompts[0].type, MB_OKCANCEL | MB_ICONERROR);
    EXPECT_FALSE(page.IsTimerActive(CDialogWork::kProgressTimer));
    f.ExpectConsistent("after the prompt");
  }
  EXPECT_EQ(exits, std::vector<int>{0});
}

INSTANTIATE_TEST_SUITE_P(Faults, PageFaultTest, ::testing::ValuesIn(FaultCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zarn::test
