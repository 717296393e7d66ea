// What the update road needs of a download worker: queue a job, and withdraw a listener that
// is going away. CFileDown is the launcher's; tests hand the page a worker of their own.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace zarn {

class IDownLoadFile;

// What a job knows of its file beforehand (from a manifest), and how it may be fetched.
struct DownloadExpectations {
  // Written {size, sha256} as before; the fields below are set by name.
  DownloadExpectations(int64_t size = -1, std::string sha256 = {}) : size(size), sha256(std::move(sha256)) {}

  int64_t size = -1;   // exact length in bytes; negative: not known
  std::string sha256;  // hex digest, either case; empty: not known
  // For packages and server archives: the file is fetched into "<localPath>.part" (with a
  // record "<localPath>.part.info" beside it), continued from its last byte with Range and
  // If-Range after a dropped connection or a restart of the launcher, and moved to localPath
  // only once it is whole and checked. Transient failures (no connection, a reset, a stall,
  // 408, 429, 5xx, a body cut short) are tried again, with growing waits, before the job
  // fails. Off: one plain request, as for every other file.
  bool resumable = false;
  // What the partial file belongs to, for example the package key and its published version
  // text: a partial of another identity (or size, or hash) is never continued. Empty: the URL.
  std::string identity;
  // Resumable jobs that have somewhere else to go (another base with the same tree): a
  // connection that cannot be made at all ends the job at once instead of after the waits,
  // since the caller's next try elsewhere is the faster cure.
  bool connectFailureEnds = false;
};

class IDownloader {
 public:
  virtual ~IDownloader() = default;
  // Queues a download and returns at once; the listener gets its reports (none when null).
  virtual void AddTask(std::string url, std::string localPath, int taskCode, IDownLoadFile* listener) = 0;
  // The same, for a file whose size or hash a manifest announced (one that differs fails with
  // 1001 (size) or 1002 (SHA-256) and is deleted), or that may be resumed.
  virtual void AddTask(std::string url, std::string localPath, int taskCode, IDownLoadFile* listener,
                       DownloadExpectations expect) = 0;
  // Drops every waiting job of the listener; a running one goes on but reports to nobody.
  // When it returns, no report to the listener is under way or will come.
  virtual void RemoveListener(IDownLoadFile* listener) = 0;
  // The same, and its running downloads end at once, without a report (their partial files
  // stay for a later resume).
  virtual void CancelTasks(IDownLoadFile* listener) { RemoveListener(listener); }
};

}  // namespace zarn
