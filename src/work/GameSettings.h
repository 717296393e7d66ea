// The game settings of ClientConfig.cfg as the work page shows and saves them: the resolution
// list built from the screen size, the quality list, the windowed flag, the update host choice
// and the agent identifier.
#pragma once

#include <string>
#include <vector>

namespace zarn {

inline constexpr char kClientConfigName[] = "ClientConfig.cfg";

// Sections and keys of ClientConfig.cfg.
inline constexpr char kSectionGameSetup[] = "GameSetup";
inline constexpr char kSectionGameData[] = "Game_Data_Set";
inline constexpr char kSectionAgent[] = "agent";
inline constexpr char kKeyHuaWeiCdn[] = "HuaWeiCDN";
inline constexpr char kKeyExeDel[] = "exe_del";
inline constexpr char kKeyIcon[] = "icon";
inline constexpr char kKeyResolutionX[] = "Def_CurScreenResolution_X";
inline constexpr char kKeyResolutionY[] = "Def_CurScreenResolution_Y";
inline constexpr char kKeyTextureCompressed[] = "TextrueCompressed";
inline constexpr char kKeyWindowed[] = "isWindows";
// The agent key is the game number in decimal.
std::string AgentKey();

// folder + "/ClientConfig.cfg"
std::string ClientConfigPath(const std::string& folder);

struct ScreenResolution {
  int width = 0;
  int height = 0;
  friend bool operator==(const ScreenResolution&, const ScreenResolution&) = default;
};

// The candidates in their fixed order that fit a screen of that size (a pair equal to the
// screen stays); the last pair, 0 × 0, stands for the screen's own resolution and always stays.
std::vector<ScreenResolution> BuildResolutionList(int screenWidth, int screenHeight);
// "%d X %d", or "屏幕分辨率" for 0 × 0 (ANSI).
std::string ResolutionItemText(const ScreenResolution& resolution);
// The item to select for the stored pair: the last item equal to it, or item 0 when none is.
int SelectResolutionIndex(const std::vector<ScreenResolution>& items, int resolutionX, int resolutionY);

// The quality list's items (ANSI): index 0 "高画质" (TextrueCompressed 0), index 1 "低画质".
std::vector<std::string> QualityItemTexts();
// Index 1 when the stored texture compression flag is non-zero, else 0.
int QualityIndexFor(int textureCompressed);

// What the work page reads from ClientConfig.cfg at start, with the defaults of missing keys.
struct GameSettings {
  int useCdnHost = 0;
  int resolutionX = 0;
  int resolutionY = 0;
  int textureCompressed = 0;
  int windowed = 1;
  std::string agentId;  // at most 255 bytes
};
GameSettings ReadGameSettings(const std::string& configPath);

// Saves the choices of an accepted start command: when a resolution item is selected, its
// width, height and the windowed flag (in that order); then "TextrueCompressed", "1" unless the
// quality index is 0. True when every write succeeded.
bool SaveGameSettings(const std::string& configPath, const ScreenResolution* selected, bool windowed,
                      int qualityIndex);

}  // namespace zarn
