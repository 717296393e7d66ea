#include "work/GameSettings.h"

#include <cstdio>

#include "util/CodePage.h"
#include "util/IniFile.h"

namespace zarn {
namespace {

// The game number; the agent key is formed from it.
constexpr int kAgentGameNumber = 1033;

constexpr ScreenResolution kCandidates[] = {
    {800, 600}, {1024, 768}, {1280, 800}, {1280, 1024}, {1440, 900}, {1680, 1050}, {1920, 1080}, {0, 0},
};

}  // namespace

std::string AgentKey() { return std::to_string(kAgentGameNumber); }

std::string ClientConfigPath(const std::string& folder) { return folder + "/" + kClientConfigName; }

std::vector<ScreenResolution> BuildResolutionList(int screenWidth, int screenHeight) {
  std::vector<ScreenResolution> out;
  for (const ScreenResolution& r : kCandidates) {
    if (r.width > screenWidth || r.height > screenHeight) {
      if (r.width != 0 || r.height != 0) continue;  // the screen's own resolution always fits
    }
    out.push_back(r);
  }
  return out;
}

std::string ResolutionItemText(const ScreenResolution& resolution) {
  if (resolution.width == 0 && resolution.height == 0) return Utf8ToAnsi("屏幕分辨率");
  char text[32];
  std::snprintf(text, sizeof text, "%d X %d", resolution.width, resolution.height);
  return text;
}

int SelectResolutionIndex(const std::vector<ScreenResolution>& items, int resolutionX, int resolutionY) {
  int selected = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].width == resolutionX && items[i].height == resolutionY) selected = static_cast<int>(i);
  }
  return selected;
}

std::vector<std::string> QualityItemTexts() { return {Utf8ToAnsi("高画质"), Utf8ToAnsi("低画质")}; }

int QualityIndexFor(int textureCompressed) { return textureCompressed != 0 ? 1 : 0; }

GameSettings ReadGameSettings(const std::string& configPath) {
  GameSettings s;
  s.useCdnHost = GetPrivateProfileInt(kSectionGameSetup, kKeyHuaWeiCdn, 0, configPath);
  s.resolutionX = GetPrivateProfileInt(kSectionGameData, kKeyResolutionX, 0, configPath);
  s.resolutionY = GetPrivateProfileInt(kSectionGameData, kKeyResolutionY, 0, configPath);
  s.textureCompressed = GetPrivateProfileInt(kSectionGameData, kKeyTextureCompressed, 0, configPath);
  s.windowed = GetPrivateProfileInt(kSectionGameData, kKeyWindowed, 1, configPath);
  s.agentId = GetPrivateProfileString(kSectionAgent, AgentKey(), "", configPath);
  return s;
}

bool SaveGameSettings(const std::string& configPath, const ScreenResolution* selected, bool windowed,
                      int qualityIndex) {
  bool ok = true;
  if (selected) {
    ok &= WritePrivateProfileString(kSectionGameData, kKeyResolutionX, std::to_string(selected->width),
                                    configPath);
    ok &= WritePrivateProfileString(kSectionGameData, kKeyResolutionY, std::to_string(selected->height),
                                    configPath);
    ok &= WritePrivateProfileString(kSectionGameData, kKeyWindowed, windowed ? "1" : "0", configPath);
  }
  ok &= WritePrivateProfileString(kSectionGameData, kKeyTextureCompressed, qualityIndex != 0 ? "1" : "0",
                                  configPath);
  return ok;
}

}  // namespace zarn
