// Published content and game folders for the fault tests: packages as real zip archives, the
// manifests that list them, a folder as an earlier update left it, and the checks of what the
// folder holds afterwards.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "FaultServer.h"
#include "support/TestSupport.h"
#include "update/ZipBuilder.h"

namespace zarn::test {

struct Package {
  std::string key;
  std::string md5;  // the version text
  std::vector<ZipEntry> entries;
};

// Reproducible text-like bytes (they compress well); NoiseBytes gives incompressible ones.
std::string TextBytes(size_t size, unsigned seed);

std::string ManifestXml(const std::vector<Package>& packages);
std::string ZipBytes(const std::vector<ZipEntry>& entries);

// Serves the manifest and every package's archive at the launcher's paths.
void Publish(FaultServer& server, const std::vector<Package>& packages);

// The folder as a complete update of these packages left it: their files and "update.xml".
void InstallPackages(const std::string& gameDir, const std::vector<Package>& packages);

// Every file entry of the package is in the folder with its bytes.
bool IsUnpacked(const std::string& gameDir, const Package& package);

// Path (relative to root) → bytes of every file below root; folders end in "/". A path under
// `except` (relative) is left out.
std::map<std::string, std::string> Snapshot(const std::string& root, const std::string& except = {});

// The game folder sits in a parent folder of its own, beside a file of the player's, so that
// any write outside the game folder shows in the parent's snapshot.
struct GameFolder {
  explicit GameFolder(const std::string& parent);
  std::string parent;
  std::string dir;  // parent + "/Kelmar"
  // The configuration and a file of the player's, which no update may lose.
  void AddPlayerFiles() const;
  std::map<std::string, std::string> ParentSnapshot() const { return Snapshot(parent, "Kelmar"); }
};

}  // namespace zarn::test
