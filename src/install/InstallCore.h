// Installing the game folder: the proposed install root, the agent identifier of the setup
// file's command line, and the installation itself (copy, ClientConfig.cfg, restart).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zarn {

inline constexpr char kGameFolderName[] = "Kelmar";
// A file of this name beside a launcher marks it as the copy a system package installed: an
// installation made from it copies it into the game folder and leaves it in place.
inline constexpr char kPackagedMarkerName[] = "zarn.packaged";

// True when the folder of the launcher at this path holds kPackagedMarkerName.
bool IsPackagedLauncher(const std::string& launcherPath);

// A place the game folder could go: a folder path ending in "/" and the bytes free there for
// this user.
struct RootCandidate {
  std::string root;
  uint64_t freeBytes = 0;
};

// The candidate with the most free bytes; on a tie the root that sorts first (byte order); a
// root with 0 free bytes is never chosen. "" when none qualifies.
std::string ChooseInstallRoot(const std::vector<RootCandidate>& candidates);

// Mount points of local disks under /media, /mnt and /run/media in a mounts table (the text of
// /proc/self/mounts): block devices only, memory and pseudo file systems and read-only mounts
// left out. Paths unescaped ("\040" is a blank), in table order.
std::vector<std::string> LocalDiskMountPoints(const std::string& mountsText);

// The candidates of this machine: the home folder and the mount points above, each only when
// it is a folder this user can write to and its free space can be read (statvfs).
std::vector<RootCandidate> DiscoverInstallRoots(const std::string& homeDir,
                                                const std::string& mountsPath = "/proc/self/mounts");
// ChooseInstallRoot over the candidates of $HOME and /proc/self/mounts.
std::string ProposedInstallRoot();

// The root followed by "Kelmar/", a separator added between them when the root lacks one:
// the folder text the install page shows.
std::string InstallFolderText(const std::string& installRoot);

// The text after the first "-agent:" of the command line tail, up to the next blank; "" when
// the tail has none.
std::string AgentIdFromCommandLine(const std::string& commandTail);

struct InstallPaths {
  std::string root;        // the install root with its trailing "/"
  std::string target;      // root + "Kelmar/" + the running file's name
  std::string configPath;  // root + "Kelmar/ClientConfig.cfg"
};
InstallPaths InstallPathsFor(const std::string& installRoot, const std::string& runningPath);

// Installs the running launcher into installRoot: copies it to the target (unless it already
// runs from there), writes "HuaWeiCDN", "exe_del" and the agent key into ClientConfig.cfg
// (keeping every other setting), starts the installed launcher with the running path as its
// argument, deletes the running file (unless it is the installed launcher or a packaged one,
// IsPackagedLauncher) and ends the process. When the copy fails the player sees the target path
// in an error box ("安装失败") and false is returned, the page stays. An empty root installs
// nothing and returns false. Returns true only where the process end is observed instead of
// happening (tests).
bool InstallInto(const std::string& installRoot, const std::string& runningPath,
                 const std::string& commandTail);

}  // namespace zarn
