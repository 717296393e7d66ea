// Checking the game folder against the per-file lists of its installed packages. Qt-free: a
// page runs it on a worker thread; callbacks come from worker threads, one at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "update/FileList.h"

namespace zarn {

struct GameCheckProgress {
  // Packages whose lists are in hand, of all installed ones.
  std::function<void(size_t done, size_t total)> packages;
  // Bytes of the listed files looked at so far (a missing file's count as looked at), of the
  // bytes all listed files should have.
  std::function<void(uint64_t done, uint64_t total)> bytes;
};

struct GameCheckOptions {
  std::string gameDir;   // the launcher's folder: update.xml, the packages' files, "index/"
  std::string baseUrl;   // ends in "/": lists are fetched from baseUrl + "public/index/<key>.lst"
  unsigned threads = 0;  // 0: one per core
  const std::atomic<bool>* cancel = nullptr;
  GameCheckProgress progress;
};

struct BrokenFile {
  std::string package;  // the key of the package whose list wins for this path
  ListedFile listed;
  bool missing = false;  // nothing there; otherwise something else than the listed file
};

struct InstalledPackage {
  std::string key;
  std::string sha256;  // of the archive, when the manifest announced it
  uint64_t size = 0;   // of the archive, 0 when not announced
};

struct GameCheckResult {
  bool complete = false;  // every list was had and every listed file looked at
  bool cancelled = false;
  std::vector<std::string> errors;                   // why the check is not complete
  std::vector<std::string> withoutList;              // installed packages no list covers
  std::vector<BrokenFile> broken;                    // in path order
  std::map<std::string, InstalledPackage> packages;  // the installed packages that have a list
  size_t files = 0;                                  // listed files looked at
  uint64_t bytes = 0;                                // bytes hashed
};

// Fetches the lists the installed update.xml announces (kept in gameDir/index/<key>.lst and
// fetched again only when the kept one's hash differs), then hashes every listed file. A list
// whose hash differs from its announcement, or with a line that is refused, makes the check
// incomplete. Never writes outside gameDir/index/.
GameCheckResult CheckGame(const GameCheckOptions& options);

// A folder checked against one list of its own (the selected server's data): the list is at
// listUrl, kept at gameDir/index/<key>.lst like a package's, and trusted when its SHA-256 is
// index; the listed paths are below dir. The result names the folder's files with key as their
// package and holds archive as that package.
struct ListedFolder {
  std::string key;  // a plain file name
  std::string dir;
  std::string listUrl;
  std::string index;
  InstalledPackage archive;
};
GameCheckResult CheckListedFolder(const ListedFolder& folder, const GameCheckOptions& options);

// Hashes one listed file at gameDir: true when it is a regular file (not a link) with the listed
// size and hash. *missing tells whether nothing was there. Adds the bytes read to *hashed.
bool FileMatches(const std::string& gameDir, const ListedFile& listed, bool* missing, uint64_t* hashed,
                 const std::atomic<bool>* cancel = nullptr);

// The listed path as a path below gameDir ("\" read as "/").
std::string ListedPathIn(const std::string& gameDir, const std::string& listedPath);

}  // namespace zarn
