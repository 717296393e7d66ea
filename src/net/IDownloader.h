// What the update road needs of a download worker: queue a job, and withdraw a listener that
// is going away. CFileDown is the launcher's; tests hand the page a worker of their own.
#pragma once

#include <string>

namespace zarn {

class IDownLoadFile;

class IDownloader {
 public:
  virtual ~IDownloader() = default;
  // Queues a download and returns at once; the listener gets its reports (none when null).
  virtual void AddTask(std::string url, std::string localPath, int taskCode, IDownLoadFile* listener) = 0;
  // Drops every waiting job of the listener; a running one goes on but reports to nobody.
  // When it returns, no report to the listener is under way or will come.
  virtual void RemoveListener(IDownLoadFile* listener) = 0;
};

}  // namespace zarn
