// One resumable download in a process of its own, so that a test (or a benchmark) can kill it
// halfway as a player's launcher may be killed:
//   zarn_net_fetch URL LOCAL-PATH SIZE SHA256 IDENTITY
// Exits 0 when the file arrived whole, 1 when it failed, 2 on bad arguments.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "net/CFileDown.h"

namespace {

class Waiter : public zarn::IDownLoadFile {
 public:
  void OnDownloadStart(int, std::string, std::string, int) override {}
  void OnDownloadProgress(int, std::string, std::string, int, int) override {}
  void OnDownloadFinish(int, std::string, std::string, int errorCode) override {
    std::lock_guard<std::mutex> lock(m_);
    code_ = errorCode;
    done_ = true;
    cv_.notify_all();
  }
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s URL LOCAL-PATH SIZE SHA256 IDENTITY\n", argv[0]);
    return 2;
  }
  zarn::DownloadExpectations expect(std::atoll(argv[3]), argv[4]);
  expect.resumable = true;
  expect.identity = argv[5];
  Waiter waiter;
  zarn::CFileDown worker;
  worker.AddTask(argv[1], argv[2], zarn::kTaskOrdinary, &waiter, expect);
  const int code = waiter.Wait();
  std::printf("%d\n", code);
  return code == 0 ? 0 : 1;
}
