// The client configuration file: whatever the game client or the player left in it is read
// and then updated in place.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "util/IniFile.h"
#include "work/GameSettings.h"

namespace zarn::fuzz {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// ASCII-only case folding: under UTF-8 the bytes of other characters never fold.
bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

using NamePair = std::pair<std::string, std::string>;

// Section and key names as they appear in the file, so reads and writes meet real lines.
std::vector<NamePair> NamesInFile(std::string_view text) {
  std::vector<NamePair> pairs;
  std::string section;
  bool haveSection = false;
  size_t start = 0;
  while (start < text.size() && pairs.size() < 6) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (start == 0 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    line = Trim(line);
    start = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.rfind(']');
      if (close == std::string_view::npos) continue;
      section.assign(Trim(line.substr(1, close - 1)));
      haveSection = true;
    } else if (const size_t eq = line.find('='); eq != std::string_view::npos && haveSection) {
      pairs.emplace_back(section, std::string(Trim(line.substr(0, eq))));
    }
  }
  return pairs;
}

struct Lookup {
  std::string value;
  bool found = false;
};

Lookup Read(const NamePair& name, const std::string& path) {
  // Two different defaults tell a missing key from one whose value equals the default.
  const std::string a = GetPrivateProfileString(name.first, name.second, "<missing-a>", path);
  const std::string b = GetPrivateProfileString(name.first, name.second, "<missing-b>", path);
  return {a, a == b};
}

void CheckWrites(const std::string& path, const std::vector<NamePair>& names) {
  std::vector<Lookup> before;
  for (const NamePair& name : names) before.push_back(Read(name, path));

  if (!names.empty() && WritePrivateProfileString(names[0].first, names[0].second, "fz9", path)) {
    ZARN_FUZZ_CHECK(Read(names[0], path).value == "fz9",
                    "[" + names[0].first + "] " + names[0].second + " does not read back what was written");
    for (size_t i = 1; i < names.size(); ++i) {
      if (SameName(names[i].first, names[0].first) && SameName(names[i].second, names[0].second)) continue;
      const Lookup after = Read(names[i], path);
      ZARN_FUZZ_CHECK(after.found == before[i].found && after.value == before[i].value,
                      "writing [" + names[0].first + "] " + names[0].second + " changed [" + names[i].first +
                          "] " + names[i].second);
    }
  }

  // The start command's save, read back by the next start.
  const GameSettings old = ReadGameSettings(path);
  const ScreenResolution chosen{1024, 768};
  if (SaveGameSettings(path, &chosen, false, 1)) {
    const GameSettings now = ReadGameSettings(path);
    ZARN_FUZZ_CHECK(
        now.resolutionX == 1024 && now.resolutionY == 768 && now.windowed == 0 && now.textureCompressed == 1,
        "saved game settings do not read back");
    ZARN_FUZZ_CHECK(now.useCdnHost == old.useCdnHost && now.agentId == old.agentId,
                    "saving the game settings changed other sections");
  }
}

}  // namespace

void FuzzIniFile(const uint8_t* data, size_t size) {
  const std::string dir = FreshFolder("ini");
  const std::string path = ClientConfigPath(dir);
  const std::string_view text = AsText(data, size);
  const std::vector<NamePair> names = NamesInFile(text);

  // Reading alone, in a double-byte code set as well.
  WriteBytes(path, text);
  UseCodeSet("GBK");
  for (const NamePair& name : names) {
    const std::string value = GetPrivateProfileString(name.first, name.second, "", path);
    ZARN_FUZZ_CHECK(value.size() <= kProfileValueMaxBytes,
                    "value of " + std::to_string(value.size()) + " bytes");
  }
  (void)ReadGameSettings(path);

  UseCodeSet("UTF-8");
  CheckWrites(path, names);
  UseCodeSet("");
}

}  // namespace zarn::fuzz
