#include "update/UpdateManifest.h"

#include <fcntl.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "update/Extract.h"
#include "update/UpdateJournal.h"
#include "util/CodePage.h"
#include "util/Debug.h"
#include "util/FileWrite.h"
#include "util/Paths.h"

namespace zarn {
namespace {

int Fsync(int fd) { return ::fsync(fd) == 0 ? 0 : (errno ? errno : EIO); }

// Flushes the file system that holds path (the unpacked files among it) and then the file
// itself: 0 or an errno. A file that cannot be opened is left to the rename to report.
int FlushFileSystemOf(const std::string& path, const FileFlush& flush) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  int error = ::syncfs(fd) == 0 ? 0 : (errno ? errno : EIO);
  if (error == 0) error = flush(fd);
  ::close(fd);
  return error;
}

int FlushFolder(const std::string& folder, const FileFlush& flush) {
  const int fd = ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno ? errno : EIO;
  const int error = flush(fd);
  ::close(fd);
  return error;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::string InstalledManifestPath(const std::string& launcherDir) { return launcherDir + "/update.xml"; }
std::string DownloadedManifestPath(const std::string& launcherDir) { return launcherDir + "/update.down"; }
std::string PackageDownloadPath(const std::string& launcherDir, const std::string& key) {
  return launcherDir + "/download/" + key;
}
std::string PackageDestination(const std::string& launcherDir) { return launcherDir + "/"; }

void LoadPackageList(const std::string& path, PackageList& list) {
  if (!PathExists(path)) return;
  tinyxml2::XMLDocument doc;
  if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
    DebugOutput("package manifest " + path + ": " + (doc.ErrorStr() ? doc.ErrorStr() : "unreadable"));
    return;
  }
  const tinyxml2::XMLElement* root = doc.FirstChildElement();
  if (!root) return;
  for (const tinyxml2::XMLElement* entry = root->FirstChildElement(); entry;
       entry = entry->NextSiblingElement()) {
    const char* key = entry->Attribute("key");
    if (!key || !*key) continue;  // names no file
    const char* md5 = entry->Attribute("md5");
    list[key] = md5 ? md5 : "";
  }
}

PackageList ChoosePackages(const PackageList& installed, const PackageList& published) {
  PackageList chosen;
  for (const auto& [key, text] : published) {
    if (!IsContainedRelativeName(key)) {
      DebugOutput("package key outside the download folder ignored: " + key);
      continue;
    }
    const auto it = installed.find(key);
    if (it == installed.end() || it->second != text) chosen.emplace(key, text);
  }
  return chosen;
}

PackageList SelectPackages(const std::string& launcherDir) {
  PackageList installed, published;
  LoadPackageList(InstalledManifestPath(launcherDir), installed);
  LoadPackageList(DownloadedManifestPath(launcherDir), published);
  return ChoosePackages(installed, published);
}

CommitResult CommitManifest(const std::string& launcherDir, int32_t& pendingAtStart, const FileFlush& flush) {
  if (pendingAtStart <= 0) return CommitResult::kNothingChosen;
  pendingAtStart = 0;
  const FileFlush& toDisk = flush ? flush : FileFlush(Fsync);
  const std::string down = DownloadedManifestPath(launcherDir);
  const std::string xml = InstalledManifestPath(launcherDir);
  // The packages' files must be on disk before the manifest says they are installed.
  if (const int error = FlushFileSystemOf(down, toDisk); error != 0) {
    DebugOutput("cannot flush " + down + ": " + std::strerror(error));
    return CommitResult::kNotFlushed;
  }
  // rename() replaces update.xml in one step: it is the old or the new one, never missing.
  if (std::rename(down.c_str(), xml.c_str()) != 0) {
    DebugOutput("cannot install the package manifest " + down + ": " + std::strerror(errno));
    return CommitResult::kFailed;
  }
  // The round is over. A journal left behind by a failed removal names the manifest just
  // installed, so no later round matches it.
  RemoveJournal(launcherDir);
  if (const int error = FlushFolder(launcherDir, toDisk); error != 0) {
    DebugOutput("cannot flush the folder " + launcherDir + ": " + std::strerror(error));
    return CommitResult::kNotFlushed;
  }
  return CommitResult::kCommitted;
}

int64_t ServerIdNumber(std::string_view id) {
  size_t i = 0;
  while (i < id.size() && IsBlank(id[i])) ++i;
  bool negative = false;
  if (i < id.size() && (id[i] == '+' || id[i] == '-')) negative = id[i++] == '-';
  int64_t value = 0;
  for (; i < id.size() && id[i] >= '0' && id[i] <= '9'; ++i) {
    const int digit = id[i] - '0';
    if (value > (INT64_MAX - digit) / 10) {
      value = INT64_MAX;
      break;
    }
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

ServerDataPlan PlanServerData(const std::string& launcherDir, const std::string& id) {
  ServerDataPlan plan;
  if (ServerIdNumber(id) < 1) return plan;
  if (id.find_first_of("/\\") != std::string::npos) {
    DebugOutput("server id with a path separator has no data folder: " + id);
    return plan;
  }
  plan.hasData = true;
  plan.serverDataId = id;
  plan.serverDataDir = launcherDir + "/Custom/" + id + "/";
  plan.listUrlPath = "ClientData/" + id + ".md5";
  plan.listLocalPath = launcherDir + "/download/" + id + ".data";
  plan.archiveUrlPath = "ClientData/" + id + ".zip";
  plan.archiveLocalPath = launcherDir + "/Custom/" + id + ".zip";
  plan.installedListPath = plan.serverDataDir + id + ".data";
  return plan;
}

bool ReadFirstLine(const std::string& path, std::string& line) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  line.clear();
  int c;
  while ((c = std::fgetc(file)) != EOF && c != '\n') line += static_cast<char>(c);
  std::fclose(file);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

ServerDataComparison CompareServerData(const ServerDataPlan& plan) {
  ServerDataComparison out;
  if (!ReadFirstLine(plan.listLocalPath, out.remoteDataText)) {
    out.failureText = Utf8ToAnsi("读取md5文件失败");
    return out;
  }
  out.listRead = true;
  if (!ReadFirstLine(plan.installedListPath, out.localDataText)) out.localDataText.clear();
  out.upToDate = out.remoteDataText == out.localDataText;
  return out;
}

bool WriteServerDataList(const ServerDataPlan& plan, const std::string& remoteDataText) {
  if (!plan.hasData) return false;
  const std::string part = plan.installedListPath + ".part";
  if (!MakeSureDirectoryPathExists(part)) return false;
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, remoteDataText);
  // The server's unpacked files, then the list itself, reach the disk before the list counts.
  if (ok) ok = ::syncfs(fd) == 0 && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = std::rename(part.c_str(), plan.installedListPath.c_str()) == 0;
  if (!ok) {
    DebugOutput("cannot write the server data list " + plan.installedListPath);
    ::unlink(part.c_str());
    return false;
  }
  FlushFolder(plan.serverDataDir, Fsync);
  return true;
}

}  // namespace zarn
