// One resumable download in a process of its own, so that a test (or a benchmark) can kill it
// halfway as a player's launcher may be killed:
//   zarn_net_fetch URL LOCAL-PATH SIZE SHA256 IDENTITY
// Exits 0 when the file arrived whole, 1 when it failed, 2 on bad arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/CFileDown.h"
#include "support/FinishWaiter.h"

namespace {

using Waiter = zarn::test::FinishWaiter;

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
