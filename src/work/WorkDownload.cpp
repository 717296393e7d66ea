#include "work/WorkDownload.h"

#include "util/Paths.h"

namespace zarn {

std::string TempDownPath(const std::string& launcherDir) { return launcherDir + "/temp.down"; }

bool PrepareDownload(const DownloadRequest& request) {
  return MakeSureDirectoryPathExists(request.localPath);
}

}  // namespace zarn
