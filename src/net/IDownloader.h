// What the update road needs of a download worker: queue a job, and withdraw a listener that
// is going away. CFileDown is the launcher's; tests hand the page a worker of their own.
#pragma once

#include <cstdint>
#include <string>

namespace zarn {

class IDownLoadFile;

// What a job knows of its file beforehand (from a manifest). The body is checked while it
// arrives; a file that differs fails the job and is deleted.
struct DownloadExpectations {
  int64_t size = -1;   // exact length in bytes; negative: not known
  std::string sha256;  // hex digest, either case; empty: not known
};

class IDownloader {
 public:
  virtual ~IDownloader() = default;
  // Queues a download and returns at once; the listener gets its reports (none when null).
  virtual void AddTask(std::string url, std::string localPath, int taskCode, IDownLoadFile* listener) = 0;
  // The same, for a file whose size or hash a manifest announced: one that differs fails with
  // 1001 (size) or 1002 (SHA-256) and is deleted.
  virtual void AddTask(std::string url, std::string localPath, int taskCode, IDownLoadFile* listener,
                       DownloadExpectations expect) = 0;
  // Drops every waiting job of the listener; a running one goes on but reports to nobody.
  // When it returns, no report to the listener is under way or will come.
  virtual void RemoveListener(IDownLoadFile* listener) = 0;
};

}  // namespace zarn
