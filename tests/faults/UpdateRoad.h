// The client update as the work page runs it after the start command, made of the same core
// pieces (download worker, package choice, extraction thread, manifest commit, server data),
// without the window: the fault tests run it in the test process and in a child process that
// they kill.
#pragma once

#include <functional>
#include <string>

#include "net/CFileDown.h"

namespace zarn::test {

struct RoadOutcome {
  enum Kind {
    kComplete,        // the game would start now
    kDownloadFailed,  // the player sees "下载文件失败[localPath]错误ID[code]"
    kExtractFailed,   // the player sees "解压文件失败!!"; code is the extraction result
    kListUnreadable,  // the player sees "读取md5文件失败"
  } kind = kComplete;
  int code = 0;
  std::string localPath;
  int packagesChosen = 0;
};

struct RoadOptions {
  std::string serverId;  // the selected server's id text; empty: a server without data
  DownloadSettings download;
  // Told each step as it begins ("manifest", "package <key>", "unpack <archive>", "commit", …).
  std::function<void(const std::string&)> onStep;
};

// base ends in "/" (the content address the launcher appends its paths to).
RoadOutcome RunUpdateRoad(const std::string& gameDir, const std::string& base, const RoadOptions& options);

std::string DescribeOutcome(const RoadOutcome& outcome);

}  // namespace zarn::test
