// The desktop entry that starts the launcher: "Kelmar.desktop" in the user's desktop folder,
// made at every work page start when no entry on the desktop starts this launcher.
#pragma once

#include <string>

namespace zarn {

inline constexpr char kShortcutFileName[] = "Kelmar.desktop";
// The game name that an entry's full path must contain to count.
inline constexpr char kShortcutGameName[] = "Kelmar";
// The application icon that the entry names, written beside the launcher.
inline constexpr char kShortcutIconFileName[] = "Kelmar.png";

// The user's desktop folder: XDG_DESKTOP_DIR of $XDG_CONFIG_HOME/user-dirs.dirs (default
// ~/.config/user-dirs.dirs, "$HOME" expanded), else ~/Desktop. "" without a home folder. The
// folder need not exist.
std::string DesktopDirectory();

// True when the desktop holds an entry whose full path contains gameName and whose program is
// launcherPath byte for byte. Every full path looked at goes to the debug and standard output.
bool FindDesktopShortcut(const std::string& gameName, const std::string& launcherPath);

// True when linkPath is a desktop entry ("*.desktop", a regular file with an Exec= key in its
// "[Desktop Entry]" group); target receives the program of its Exec= value, unquoted.
bool ReadShortcutTarget(const std::string& linkPath, std::string& target);

// Writes (or overwrites) a desktop entry at linkPath that starts target without arguments in
// target's folder, and makes it executable. True when it was saved. The launcher's icon is
// written beside target as "Kelmar.png" and named by Icon= (left out when it cannot be written).
bool CreateShortcut(const std::string& target, const std::string& linkPath);

// The work page's shortcut step: when no matching entry exists, records the launcher path as
// "icon" in [GameSetup] of the launcher folder's ClientConfig.cfg and creates Kelmar.desktop.
// Every failure is silent.
void EnsureDesktopShortcut(const std::string& launcherPath);

// The Exec= value that starts exactly that program (quoted and escaped as desktop entries
// need), and its reading back. Exposed for tests.
std::string DesktopExecValue(const std::string& program);
std::string DesktopExecProgram(const std::string& execValue);

}  // namespace zarn
