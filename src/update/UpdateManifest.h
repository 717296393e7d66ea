// Which packages and which server data the client update must refresh, and where they live.
//
// The package manifest ("update.xml" installed, "update.down" published) lists zip packages
// with an opaque version text each; a package is fetched again when it is new or its text
// differs in any byte. Nothing is ever deleted from the game folder.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace zarn {

// Key → version text, in byte order of the keys (std::string compares as unsigned bytes).
using PackageList = std::map<std::string, std::string>;

// launcherDir + "/update.xml", launcherDir + "/update.down".
std::string InstalledManifestPath(const std::string& launcherDir);
std::string DownloadedManifestPath(const std::string& launcherDir);
// launcherDir + "/download/" + key: where a package is saved.
std::string PackageDownloadPath(const std::string& launcherDir, const std::string& key);
// launcherDir + "/": where packages are unpacked.
std::string PackageDestination(const std::string& launcherDir);

// Fills list from the manifest at path: every child element of the first element of the
// document gives list[key] = md5, a later duplicate replacing an earlier one. Never fails: a
// missing, unreadable or malformed file leaves the list unchanged. An entry without "key" (or
// with an empty one) is skipped; a missing "md5" reads as an empty text.
void LoadPackageList(const std::string& path, PackageList& list);

// The published entries whose key is not installed or whose text differs (byte for byte).
// Published keys that could name a file outside the download folder (absolute, or with a ".."
// component) are never chosen.
PackageList ChoosePackages(const PackageList& installed, const PackageList& published);

// Loads launcherDir's "update.xml" and "update.down" and chooses from them.
PackageList SelectPackages(const std::string& launcherDir);

enum class CommitResult {
  kNothingChosen,  // pendingAtStart was 0: neither file touched
  kCommitted,      // "update.down" is now "update.xml"
  kFailed,         // the rename failed; the old "update.xml" is intact (next start repeats)
  kNotFlushed,     // a flush failed: what the manifest would claim may not be on disk
};

// Flushes one open file or folder to the disk: 0, or an errno. The default is fsync; tests
// hand in a failing one.
using FileFlush = std::function<int(int fd)>;

// When pendingAtStart > 0: sets it to 0 and makes "update.down" the installed manifest. The
// file system of the game folder (the unpacked files) and the new manifest are flushed first,
// then one rename replaces "update.xml", so it is never missing or half-written, even across a
// power loss; then the folder is flushed so that the rename lasts. A flush that fails before
// the rename leaves "update.xml" as it was; the round's journal (UpdateJournal.h) is removed
// after the rename, then the folder flushed. A flush of the folder that fails is reported all the
// same (the new manifest's files are on disk by then). Slow on a busy disk: not for the
// user-interface thread.
CommitResult CommitManifest(const std::string& launcherDir, int32_t& pendingAtStart,
                            const FileFlush& flush = {});

// ---- Per-server data -------------------------------------------------------------------------

// The number of a server id as the C runtime's atoi reads it: optional leading blanks and
// sign, then digits up to the first non-digit; no digits give 0. Saturates instead of
// overflowing.
int64_t ServerIdNumber(std::string_view id);

// What the per-server step does for a server id, and every path and address part of it.
struct ServerDataPlan {
  bool hasData = false;           // false: no per-server step, start the game (serverDataId empty)
  std::string serverDataId;       // the whole id text, unchanged
  std::string serverDataDir;      // launcherDir + "/Custom/" + id + "/"
  std::string listUrlPath;        // "ClientData/" + id + ".md5" (after the base address)
  std::string listLocalPath;      // launcherDir + "/download/" + id + ".data"
  std::string archiveUrlPath;     // "ClientData/" + id + ".zip"
  std::string archiveLocalPath;   // launcherDir + "/Custom/" + id + ".zip"
  std::string installedListPath;  // serverDataDir + id + ".data"
};

// The decisions of the per-server step for the selected server's id text. An id whose number
// is below 1 has no data of its own; so has an id containing "/" or "\", which would name
// folders outside the server's own one.
ServerDataPlan PlanServerData(const std::string& launcherDir, const std::string& id);

// The first line of a text file without its line end ("\n" or "\r\n"). False when the file
// cannot be opened; an empty file gives "".
bool ReadFirstLine(const std::string& path, std::string& line);

// The comparison after the server's data list arrived.
struct ServerDataComparison {
  bool listRead = false;    // false: the downloaded list could not be opened
  std::string failureText;  // with !listRead: "读取md5文件失败" (ANSI) for the retry prompt
  std::string remoteDataText;
  std::string localDataText;  // empty when there is no installed list
  bool upToDate = false;      // the first lines are equal: start the game
};
ServerDataComparison CompareServerData(const ServerDataPlan& plan);

// After the server's archive was unpacked without error: writes remoteDataText (no line end)
// to plan.installedListPath. The unpacked files are flushed first and the list replaces the
// old one in one rename, so the list never claims data that a crash could have lost. False
// when it could not be written (the next start then fetches the archive again).
bool WriteServerDataList(const ServerDataPlan& plan, const std::string& remoteDataText);

}  // namespace zarn
