#include "app/DesktopShortcut.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "util/Debug.h"
#include "util/FileWrite.h"
#include "util/IniFile.h"
#include "util/Paths.h"
#include "work/GameSettings.h"

extern const char kBuiltinIcon[];
extern const std::size_t kBuiltinIconSize;

namespace zarn {
namespace {

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
  return {};
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The folder of XDG_DESKTOP_DIR in a user-dirs.dirs file, "" when it names none.
std::string DesktopFromUserDirs(const std::string& file, const std::string& home) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    size_t pos = line.find_first_not_of(" \t");
    if (pos == std::string::npos || line[pos] == '#') continue;
    static const std::string kKey = "XDG_DESKTOP_DIR";
    if (line.compare(pos, kKey.size(), kKey) != 0) continue;
    pos = line.find_first_not_of(" \t", pos + kKey.size());
    if (pos == std::string::npos || line[pos] != '=') continue;
    pos = line.find_first_not_of(" \t", pos + 1);
    if (pos == std::string::npos || line[pos] != '"') continue;
    // A shell-quoted value: a backslash takes the next character as it is.
    std::string value;
    bool closed = false;
    for (++pos; pos < line.size(); ++pos) {
      if (line[pos] == '\\' && pos + 1 < line.size()) {
        value += line[++pos];
      } else if (line[pos] == '"') {
        closed = true;
        break;
      } else {
        value += line[pos];
      }
    }
    if (!closed) continue;
    static const std::string kHome = "$HOME";
    if (value.compare(0, kHome.size(), kHome) == 0 &&
        (value.size() == kHome.size() || value[kHome.size()] == '/')) {
      if (home.empty()) return {};
      return WithoutTrailingSlashes(home + value.substr(kHome.size()));
    }
    if (!value.empty() && value.front() == '/') return WithoutTrailingSlashes(value);
  }
  return {};
}

// Escapes of desktop entry string values.
std::string EscapeString(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string UnescapeString(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      switch (s[i + 1]) {
        case 's':
          out += ' ';
          ++i;
          continue;
        case 'n':
          out += '\n';
          ++i;
          continue;
        case 't':
          out += '\t';
          ++i;
          continue;
        case 'r':
          out += '\r';
          ++i;
          continue;
        case '\\':
          out += '\\';
          ++i;
          continue;
        default:
          break;
      }
    }
    out += s[i];
  }
  return out;
}

std::string TrimBlanks(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const size_t last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

}  // namespace

std::string DesktopDirectory() {
  const std::string home = HomeDirectory();
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const std::string configDir =
      (configHome && *configHome == '/') ? std::string(configHome) : (home.empty() ? "" : home + "/.config");
  if (!configDir.empty()) {
    const std::string desktop = DesktopFromUserDirs(configDir + "/user-dirs.dirs", home);
    if (!desktop.empty()) return desktop;
  }
  return home.empty() ? std::string() : WithoutTrailingSlashes(home) + "/Desktop";
}

std::string DesktopExecValue(const std::string& program) {
  // Quoted so that blanks and reserved characters stay part of the one program path.
  std::string quoted = "\"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';  // a literal percent sign is written twice
    quoted += c;
  }
  quoted += '"';
  return EscapeString(quoted);
}

std::string DesktopExecProgram(const std::string& execValue) {
  const std::string exec = TrimBlanks(UnescapeString(execValue));
  std::string word;
  size_t pos = 0;
  if (!exec.empty() && exec.front() == '"') {
    for (pos = 1; pos < exec.size() && exec[pos] != '"'; ++pos) {
      if (exec[pos] == '\\' && pos + 1 < exec.size()) ++pos;
      word += exec[pos];
    }
  } else {
    for (; pos < exec.size() && exec[pos] != ' ' && exec[pos] != '\t'; ++pos) word += exec[pos];
  }
  std::string program;
  for (size_t i = 0; i < word.size(); ++i) {
    program += word[i];
    if (word[i] == '%' && i + 1 < word.size() && word[i + 1] == '%') ++i;
  }
  return program;
}

bool ReadShortcutTarget(const std::string& linkPath, std::string& target) {
  if (!EndsWith(linkPath, ".desktop")) return false;
  struct stat st;
  // Only regular files: opening a pipe of that name would block the page.
  if (::stat(linkPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::ifstream in(linkPath, std::ios::binary);
  if (!in) return false;
  std::string line;
  bool inEntry = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos || TrimBlanks(line.substr(0, eq)) != "Exec") continue;
    target = DesktopExecProgram(line.substr(eq + 1));
    return true;
  }
  return false;
}

bool FindDesktopShortcut(const std::string& gameName, const std::string& launcherPath) {
  const std::string desktop = DesktopDirectory();
  if (desktop.empty()) return false;
  DIR* dir = ::opendir(desktop.c_str());
  if (!dir) return false;
  const std::string prefix = desktop.back() == '/' ? desktop : desktop + "/";
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string fullPath = prefix + entry->d_name;
    DebugOutput(fullPath);
    std::fprintf(stdout, "%s\n", fullPath.c_str());
    if (!PathExists(fullPath)) continue;
    std::string target;
    if (!ReadShortcutTarget(fullPath, target)) continue;
    if (fullPath.find(gameName) == std::string::npos) continue;
    if (target == launcherPath) {
      found = true;
      break;
    }
  }
  std::fflush(stdout);
  ::closedir(dir);
  return found;
}

namespace {

bool SameBytes(const std::string& path, const std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string existing(bytes.size() + 1, '\0');
  in.read(existing.data(), static_cast<std::streamsize>(existing.size()));
  existing.resize(static_cast<size_t>(in.gcount()));
  return existing == bytes;
}

bool WriteShortcutIcon(const std::string& iconPath) {
  const std::string icon(kBuiltinIcon, kBuiltinIconSize);
  if (SameBytes(iconPath, icon)) return true;
  // Replaced in one step, as the entry: a link of that name is replaced, not followed.
  return ReplaceFile(iconPath, icon, {.mode = 0644});
}

}  // namespace

bool CreateShortcut(const std::string& target, const std::string& linkPath) {
  const size_t slash = target.rfind('/');
  const std::string workDir = slash == std::string::npos ? target : target.substr(0, slash);
  // The game's icon lies in the game folder beside the launcher, so the desktop shows it as the
  // shortcut of the original does; without it the entry simply has the desktop's default icon.
  std::string iconLine;
  if (slash != std::string::npos) {
    const std::string iconPath = target.substr(0, slash + 1) + kShortcutIconFileName;
    if (WriteShortcutIcon(iconPath)) iconLine = "Icon=" + EscapeString(iconPath) + "\n";
  }
  const std::string content =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=" +
      std::string(kShortcutGameName) +
      "\n"
      "Exec=" +
      DesktopExecValue(target) +
      "\n"
      "Path=" +
      EscapeString(workDir) + "\n" + iconLine + "Terminal=false\n";
  // Replaced in one step, so that a link of that name is replaced rather than followed, and no
  // half-written entry is ever left; executable whatever the umask.
  return ReplaceFile(linkPath, content, {.mode = 0755, .exactMode = true});
}

void EnsureDesktopShortcut(const std::string& launcherPath) {
  if (FindDesktopShortcut(kShortcutGameName, launcherPath)) return;
  const std::string launcherDir = DirName(launcherPath);
  if (!launcherDir.empty())
    WritePrivateProfileString(kSectionGameSetup, kKeyIcon, launcherPath, ClientConfigPath(launcherDir));
  const std::string desktop = DesktopDirectory();
  if (desktop.empty()) return;
  CreateShortcut(launcherPath, WithoutTrailingSlashes(desktop) + "/" + kShortcutFileName);
}

}  // namespace zarn
