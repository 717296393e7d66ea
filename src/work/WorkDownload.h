// Downloads that the work page hands to the download worker: where a file comes from, where it
// goes and the task code its report carries.
#pragma once

#include <string>

namespace zarn {

// The game number: in the version manifest's address, the login information query and the
// agent key of ClientConfig.cfg.
inline constexpr int kGameNumber = 1033;

enum : int {
  kTaskCodeDownload = 100,     // every ordinary download of the page
  kTaskCodeSelfUpdate = 2000,  // the new launcher executable
};

struct DownloadRequest {
  std::string url;
  std::string localPath;
  int taskCode = kTaskCodeDownload;
};

// launcherDir + "/temp.down": the login information and the server list land here in turn.
std::string TempDownPath(const std::string& launcherDir);

// Creates every missing folder of the request's local path. True when they all exist.
bool PrepareDownload(const DownloadRequest& request);

}  // namespace zarn
