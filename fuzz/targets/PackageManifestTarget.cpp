// The package manifest: the published "update.down" against the installed "update.xml".
#include <string>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "update/UpdateManifest.h"

namespace zarn::fuzz {

void FuzzPackageManifest(const uint8_t* data, size_t size) {
  const std::string launcherDir = FreshFolder("packages");
  WriteBytes(InstalledManifestPath(launcherDir),
             "<?xml version=\"1.0\"?>\n<files><file key=\"data/a.zip\" md5=\"1\"/><file key=\"b.zip\" "
             "md5=\"\"/></files>\n");
  WriteBytes(DownloadedManifestPath(launcherDir), AsText(data, size));

  PackageList published;
  LoadPackageList(DownloadedManifestPath(launcherDir), published);
  const PackageList chosen = SelectPackages(launcherDir);
  const std::string downloads = launcherDir + "/download/";
  for (const auto& [key, text] : chosen) {
    const auto it = published.find(key);
    ZARN_FUZZ_CHECK(it != published.end() && it->second == text, "chosen package not published: " + key);
    ZARN_FUZZ_CHECK(!key.empty() && !NameLeavesFolder(key),
                    "chosen package key leaves the download folder: " + key);
    const std::string local = PackageDownloadPath(launcherDir, key);
    ZARN_FUZZ_CHECK(local.compare(0, downloads.size(), downloads) == 0, "package saved at " + local);
  }
  // A manifest compared with itself asks for nothing.
  ZARN_FUZZ_CHECK(ChoosePackages(published, published).empty(), "an installed manifest chose packages again");
}

}  // namespace zarn::fuzz
