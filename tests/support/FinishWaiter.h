// A download listener that only waits for the job's end: for the programs that run one download
// of the worker and need its error code (a child process a test kills, the benchmarks).
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include "net/CFileDown.h"

namespace zarn::test {

class FinishWaiter : public IDownLoadFile {
 public:
  void OnDownloadStart(int, std::string, std::string, int) override {}
  void OnDownloadProgress(int, std::string, std::string, int, int) override {}
  void OnDownloadFinish(int, std::string, std::string, int errorCode) override {
    std::lock_guard<std::mutex> lock(m_);
    code_ = errorCode;
    done_ = true;
    cv_.notify_all();
  }
  // The finished job's error code (0: the file arrived whole).
  int Wait() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [this] { return done_; });
    return code_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
  int code_ = 0;
};

}  // namespace zarn::test
