#include "work/GameSettings.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "util/CodePage.h"
#include "util/IniFile.h"

namespace zarn {
namespace {

using test::CodeSetGuard;

std::vector<std::string> Texts(const std::vector<ScreenResolution>& list) {
  std::vector<std::string> out;
  for (const auto& r : list) out.push_back(ResolutionItemText(r));
  return out;
}

TEST(GameSettings, ResolutionListFollowsTheScreen) {
  CodeSetGuard utf8("UTF-8");
  const struct {
    int w, h;
    std::vector<std::string> items;
  } cases[] = {
      {1920,
       1080,
       {"800 X 600", "1024 X 768", "1280 X 800", "1280 X 1024", "1440 X 900", "1680 X 1050", "1920 X 1080",
        "屏幕分辨率"}},
      {1366, 768, {"800 X 600", "1024 X 768", "屏幕分辨率"}},
      {1280, 1024, {"800 X 600", "1024 X 768", "1280 X 800", "1280 X 1024", "屏幕分辨率"}},
      {1440, 900, {"800 X 600", "1024 X 768", "1280 X 800", "1440 X 900", "屏幕分辨率"}},
      {2560,
       1440,
       {"800 X 600", "1024 X 768", "1280 X 800", "1280 X 1024", "1440 X 900", "1680 X 1050", "1920 X 1080",
        "屏幕分辨率"}},
      {640, 480, {"屏幕分辨率"}},
      {0, 0, {"屏幕分辨率"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Texts(BuildResolutionList(c.w, c.h)), c.items) << c.w << " x " << c.h;
  const auto list = BuildResolutionList(1366, 768);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1], (ScreenResolution{1024, 768}));
  EXPECT_EQ(list[2], (ScreenResolution{0, 0}));
}

TEST(GameSettings, ItemTextsInTheAnsiCodeSet) {
  {
    CodeSetGuard gbk("GBK");
    EXPECT_EQ(ResolutionItemText({0, 0}), "\xC6\xC1\xC4\xBB\xB7\xD6\xB1\xE6\xC2\xCA");
    EXPECT_EQ(QualityItemTexts(),
              (std::vector<std::string>{"\xB8\xDF\xBB\xAD\xD6\xCA", "\xB5\xCD\xBB\xAD\xD6\xCA"}));
    EXPECT_EQ(ResolutionItemText({1280, 1024}), "1280 X 1024");
  }
  CodeSetGuard utf8("UTF-8");
  EXPECT_EQ(QualityItemTexts(), (std::vector<std::string>{"高画质", "低画质"}));
}

TEST(GameSettings, SelectionOfTheStoredResolution) {
  const auto wide = BuildResolutionList(1920, 1080);
  const auto small = BuildResolutionList(1366, 768);
  const struct {
    const std::vector<ScreenResolution>* list;
    int x, y, index;
  } cases[] = {
      {&wide, 1280, 1024, 3}, {&wide, 0, 0, 7},         // nothing stored: the screen's own resolution
      {&small, 0, 0, 2},      {&small, 1920, 1080, 0},  // the screen cannot show it: item 0
      {&small, 1024, 600, 0},                           // width matches, height does not
      {&wide, 800, 600, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SelectResolutionIndex(*c.list, c.x, c.y), c.index) << c.x << "x" << c.y;
  // When several items match, the last one wins.
  const std::vector<ScreenResolution> twice = {{800, 600}, {1024, 768}, {800, 600}, {0, 0}};
  EXPECT_EQ(SelectResolutionIndex(twice, 800, 600), 2);
  EXPECT_EQ(SelectResolutionIndex({}, 800, 600), 0);
}

TEST(GameSettings, QualityIndexFromTheFlag) {
  EXPECT_EQ(QualityIndexFor(0), 0);
  EXPECT_EQ(QualityIndexFor(1), 1);
  EXPECT_EQ(QualityIndexFor(2), 1);
  EXPECT_EQ(QualityIndexFor(-1), 1);
}

TEST(GameSettings, ReadingWithDefaults) {
  test::TempDir dir;
  const GameSettings none = ReadGameSettings(dir.file("ClientConfig.cfg"));
  EXPECT_EQ(none.useCdnHost, 0);
  EXPECT_EQ(none.resolutionX, 0);
  EXPECT_EQ(none.resolutionY, 0);
  EXPECT_EQ(none.textureCompressed, 0);
  EXPECT_EQ(none.windowed, 1);  // absent: windowed
  EXPECT_EQ(none.agentId, "");

  const std::string path = ClientConfigPath(dir.path());
  EXPECT_EQ(path, dir.path() + "/ClientConfig.cfg");
  test::WriteFile(path,
                  "[GameSetup]\r\nHuaWeiCDN=1\r\nexe_del=/tmp/setup\r\n"
                  "[Game_Data_Set]\r\nDef_CurScreenResolution_X=1280\r\nDef_CurScreenResolution_Y = 1024\r\n"
                  "TextrueCompressed=2\r\nisWindows=0\r\n[agent]\r\n1033=A-77\r\n");
  const GameSettings s = ReadGameSettings(path);
  EXPECT_EQ(s.useCdnHost, 1);
  EXPECT_EQ(s.resolutionX, 1280);
  EXPECT_EQ(s.resolutionY, 1024);
  EXPECT_EQ(s.textureCompressed, 2);
  EXPECT_EQ(QualityIndexFor(s.textureCompressed), 1);
  EXPECT_EQ(s.windowed, 0);
  EXPECT_EQ(s.agentId, "A-77");

  // A present but empty value reads as 0, as the text conversion gives it.
  test::WriteFile(path, "[Game_Data_Set]\nisWindows=\n[agent]\n1033=" + std::string(300, 'z') + "\n");
  const GameSettings t = ReadGameSettings(path);
  EXPECT_EQ(t.windowed, 0);
  EXPECT_EQ(t.agentId, std::string(255, 'z'));
  EXPECT_EQ(AgentKey(), "1033");
}

TEST(GameSettings, SavingInOrderKeepsEverythingElse) {
  test::TempDir dir;
  const std::string path = ClientConfigPath(dir.path());
  test::WriteFile(path, "[GameSetup]\nHuaWeiCDN=1\n; installer values above\n[agent]\n1033=77\n");
  const ScreenResolution chosen{800, 600};
  ASSERT_TRUE(SaveGameSettings(path, &chosen, true, 1));
  EXPECT_EQ(test::ReadFile(path),
            "[GameSetup]\nHuaWeiCDN=1\n; installer values above\n[agent]\n1033=77\n"
            "[Game_Data_Set]\nDef_CurScreenResolution_X=800\nDef_CurScreenResolution_Y=600\nisWindows=1\n"
            "TextrueCompressed=1\n");

  const ScreenResolution screen{0, 0};
  ASSERT_TRUE(SaveGameSettings(path, &screen, false, 0));
  EXPECT_EQ(test::ReadFile(path),
            "[GameSetup]\nHuaWeiCDN=1\n; installer values above\n[agent]\n1033=77\n"
            "[Game_Data_Set]\nDef_CurScreenResolution_X=0\nDef_CurScreenResolution_Y=0\nisWindows=0\n"
            "TextrueCompressed=0\n");
  const GameSettings back = ReadGameSettings(path);
  EXPECT_EQ(back.resolutionX, 0);
  EXPECT_EQ(back.windowed, 0);
  EXPECT_EQ(back.textureCompressed, 0);
  EXPECT_EQ(back.useCdnHost, 1);
  EXPECT_EQ(back.agentId, "77");
}

TEST(GameSettings, SavingWithoutASelectedResolutionWritesOnlyTheQuality) {
  test::TempDir dir;
  const std::string path = ClientConfigPath(dir.path());
  test::WriteFile(path, "[Game_Data_Set]\nDef_CurScreenResolution_X=1024\nisWindows=1\n");
  ASSERT_TRUE(SaveGameSettings(path, nullptr, false, 1));
  EXPECT_EQ(test::ReadFile(path),
            "[Game_Data_Set]\nDef_CurScreenResolution_X=1024\nisWindows=1\nTextrueCompressed=1\n");
}

TEST(GameSettings, StoredResolutionTheScreenCannotShowSavesItemZero) {
  test::TempDir dir;
  const std::string path = ClientConfigPath(dir.path());
  test::WriteFile(path, "[Game_Data_Set]\nDef_CurScreenResolution_X=1920\nDef_CurScreenResolution_Y=1080\n");
  const GameSettings s = ReadGameSettings(path);
  const auto items = BuildResolutionList(1366, 768);
  const int index = SelectResolutionIndex(items, s.resolutionX, s.resolutionY);
  ASSERT_EQ(index, 0);
  ASSERT_TRUE(SaveGameSettings(path, &items[index], s.windowed != 0, QualityIndexFor(s.textureCompressed)));
  EXPECT_EQ(GetPrivateProfileInt("Game_Data_Set", "Def_CurScreenResolution_X", -1, path), 800);
  EXPECT_EQ(GetPrivateProfileInt("Game_Data_Set", "Def_CurScreenResolution_Y", -1, path), 600);
  EXPECT_EQ(GetPrivateProfileInt("Game_Data_Set", "isWindows", -1, path), 1);  // absent before: windowed
  EXPECT_EQ(GetPrivateProfileInt("Game_Data_Set", "TextrueCompressed", -1, path), 0);
}

TEST(GameSettings, SavingFailsWhereTheFolderIsMissing) {
  test::TempDir dir;
  const ScreenResolution chosen{800, 600};
  EXPECT_FALSE(SaveGameSettings(dir.file("gone/ClientConfig.cfg"), &chosen, true, 0));
  EXPECT_FALSE(test::Exists(dir.file("gone")));
}

}  // namespace
}  // namespace zarn
