#include "install/InstallCore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/Startup.h"
#include "platform/Process.h"
#include "platform/Prompt.h"
#include "util/CodePage.h"
#include "util/Debug.h"
#include "util/IniFile.h"
#include "util/Paths.h"
#include "work/GameSettings.h"

namespace zarn {
namespace {

// File systems that live in memory or describe the kernel: no place for a game.
const std::set<std::string> kMemoryFileSystems = {
    "autofs",   "binfmt_misc", "bpf",        "cgroup",    "cgroup2", "configfs", "debugfs",  "devpts",
    "devtmpfs", "efivarfs",    "fusectl",    "hugetlbfs", "mqueue",  "nsfs",     "proc",     "pstore",
    "ramfs",    "rpc_pipefs",  "securityfs", "sysfs",     "tmpfs",   "tracefs",  "squashfs", "overlay",
};

// Folders of the system itself; a home folder there (a service account's) is not proposed.
const char* const kSystemFolders[] = {"/bin",    "/boot", "/dev", "/etc",  "/lib", "/lib32", "/lib64",
                                      "/libx32", "/proc", "/run", "/sbin", "/sys", "/usr"};

bool IsAtOrUnder(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

// "\040"-style escapes of the mounts table.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool HasOption(const std::string& options, const std::string& option) {
  std::stringstream ss(options);
  std::string item;
  while (std::getline(ss, item, ','))
    if (item == option) return true;
  return false;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Free bytes for this user in a folder it may write to; false when it is none.
bool WritableFreeBytes(const std::string& folder, uint64_t& freeBytes) {
  if (!IsDirectory(folder) || ::access(folder.c_str(), W_OK | X_OK) != 0) return false;
  struct statvfs vfs;
  if (::statvfs(folder.c_str(), &vfs) != 0 || (vfs.f_flag & ST_RDONLY)) return false;
  freeBytes = static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
  return true;
}

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

std::string ChooseInstallRoot(const std::vector<RootCandidate>& candidates) {
  // Ordered by the root text, so that a tie keeps the root that sorts first.
  std::map<std::string, uint64_t> byRoot;
  for (const RootCandidate& c : candidates) byRoot.emplace(c.root, c.freeBytes);
  std::string best;
  uint64_t bestFree = 0;
  for (const auto& [root, freeBytes] : byRoot) {
    if (freeBytes > bestFree) {
      best = root;
      bestFree = freeBytes;
    }
  }
  return best;
}

std::vector<std::string> LocalDiskMountPoints(const std::string& mountsText) {
  std::vector<std::string> out;
  std::istringstream lines(mountsText);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string source, mountPoint, type, options;
    if (!(fields >> source >> mountPoint >> type >> options)) continue;
    mountPoint = WithoutTrailingSlashes(UnescapeMountField(mountPoint));
    if (source.rfind("/dev/", 0) != 0) continue;  // local disks are block devices
    if (kMemoryFileSystems.count(type)) continue;
    if (HasOption(options, "ro")) continue;
    if (!IsAtOrUnder(mountPoint, "/media") && !IsAtOrUnder(mountPoint, "/mnt") &&
        !IsAtOrUnder(mountPoint, "/run/media"))
      continue;
    out.push_back(mountPoint);
  }
  return out;
}

std::vector<RootCandidate> DiscoverInstallRoots(const std::string& homeDir, const std::string& mountsPath) {
  std::vector<std::string> folders;
  const std::string home = WithoutTrailingSlashes(homeDir);
  bool homeIsSystem = home.empty() || home == "/" || home.front() != '/';
  for (const char* system : kSystemFolders) homeIsSystem = homeIsSystem || IsAtOrUnder(home, system);
  if (!homeIsSystem) folders.push_back(home);

  std::ifstream mounts(mountsPath, std::ios::binary);
  if (mounts) {
    std::ostringstream text;
    text << mounts.rdbuf();
    for (std::string& m : LocalDiskMountPoints(text.str())) folders.push_back(std::move(m));
  }

  std::vector<RootCandidate> out;
  std::set<std::string> seen;
  for (const std::string& folder : folders) {
    const std::string root = folder + "/";
    uint64_t freeBytes = 0;
    if (!seen.insert(root).second || !WritableFreeBytes(folder, freeBytes)) continue;
    out.push_back({root, freeBytes});
  }
  return out;
}

std::string ProposedInstallRoot() {
  const char* home = std::getenv("HOME");
  return ChooseInstallRoot(DiscoverInstallRoots(home ? home : ""));
}

std::string InstallFolderText(const std::string& installRoot) {
  std::string text = installRoot;
  if (!text.empty() && text.back() != '/') text += '/';
  return text + kGameFolderName + "/";
}

std::string AgentIdFromCommandLine(const std::string& commandTail) {
  static const std::string kMarker = "-agent:";
  const size_t at = commandTail.find(kMarker);
  if (at == std::string::npos) return {};
  const size_t start = at + kMarker.size();
  const size_t end = commandTail.find(' ', start);
  return commandTail.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

InstallPaths InstallPathsFor(const std::string& installRoot, const std::string& runningPath) {
  InstallPaths p;
  p.root = installRoot;
  if (!p.root.empty() && p.root.back() != '/') p.root += '/';
  const std::string folder = p.root + kGameFolderName + "/";
  p.target = folder + BaseFileName(runningPath);
  p.configPath = folder + kClientConfigName;
  return p;
}

bool IsPackagedLauncher(const std::string& launcherPath) {
  const std::string folder = DirName(launcherPath);
  return !folder.empty() && PathExists(folder + "/" + kPackagedMarkerName);
}

bool InstallInto(const std::string& installRoot, const std::string& runningPath,
                 const std::string& commandTail) {
  DebugOutput("GameSetup-agent-" + commandTail);
  const std::string agentId = AgentIdFromCommandLine(commandTail);
  // Without a root the game folder would land in whatever the working directory is.
  if (installRoot.empty()) return false;

  const InstallPaths paths = InstallPathsFor(installRoot, runningPath);
  MakeSureDirectoryPathExists(paths.target);

  // The same file may be reached by another spelling of its path ("//", a link); copying over
  // it would delete the running launcher before reading it.
  const bool runsFromTarget = paths.target == runningPath || SameFile(paths.target, runningPath);
  if (!runsFromTarget && !CopyExecutable(runningPath, paths.target)) {
    MessageBox(paths.target, Utf8ToAnsi("安装失败"), MB_OK | MB_ICONERROR);
    return false;
  }

  if (!PathExists(paths.configPath)) {
    const int fd = ::open(paths.configPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
  }
  // Failures here show when the installed launcher finds no configuration and offers to
  // install again; nothing is reported now.
  bool written = WritePrivateProfileString(kSectionGameSetup, kKeyHuaWeiCdn, "1", paths.configPath);
  written &= WritePrivateProfileString(kSectionGameSetup, kKeyExeDel, runningPath, paths.configPath);
  written &= WritePrivateProfileString(kSectionAgent, AgentKey(), agentId, paths.configPath);
  if (!written) DebugOutput("cannot write " + paths.configPath);

  // The setup path is one argument, whatever blanks it holds.
  StartDetached(paths.target, {runningPath});
  // A packaged launcher is shared by every user of the machine and owned by its package; only a
  // downloaded setup file is the player's to remove.
  if (!runsFromTarget && !IsPackagedLauncher(runningPath)) ::unlink(runningPath.c_str());
  ExitProcess(0);
  return true;
}

}  // namespace zarn
