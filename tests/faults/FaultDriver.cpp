// A launcher stand-in that the fault tests start and kill: it runs the work page's update session
// on a real game folder and prints each step as it begins, so that a test can kill it at a
// chosen or a random moment.
//
//   zarn_fault_driver update <gameDir> <base> [--server ID] [--fsize BYTES] [--receive-timeout-ms N]
//       prints "step …" lines, then the outcome; exit status 0 when the update completed.
//   zarn_fault_driver commit-loop <gameDir> <manifestA> <manifestB>
//       commits A and B in turn as the downloaded manifest, without end.
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/TestSupport.h"
#include "support/UpdateRunner.h"
#include "update/UpdateManifest.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: zarn_fault_driver update <gameDir> <base> [options] | commit-loop <dir> <a> <b>\n");
  return 2;
}

// Written with one write() each, so a kill leaves whole lines behind.
void Say(const std::string& line) {
  const std::string text = line + "\n";
  (void)!::write(1, text.data(), text.size());
}

int Update(int argc, char** argv) {
  if (argc < 4) return Usage();
  zarn::test::RoadOptions options;
  for (int i = 4; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--server") {
      options.serverId = value;
    } else if (name == "--fsize") {
      // A full disk for this process: writes beyond the limit fail (EFBIG) instead of
      // raising SIGXFSZ.
      std::signal(SIGXFSZ, SIG_IGN);
      const rlim_t limit = std::strtoull(value, nullptr, 10);
      const rlimit r{limit, limit};
      if (::setrlimit(RLIMIT_FSIZE, &r) != 0) return 3;
    } else if (name == "--receive-timeout-ms") {
      options.download.receiveTimeout = std::chrono::milliseconds(std::atoi(value));
    } else {
      return Usage();
    }
  }
  options.onStep = [](const std::string& step) { Say("step " + step); };
  const zarn::test::RoadOutcome outcome = zarn::test::RunUpdateSession(argv[2], argv[3], options);
  Say(zarn::test::DescribeOutcome(outcome));
  return outcome.kind == zarn::test::RoadOutcome::kComplete ? 0 : 1;
}

int CommitLoop(int argc, char** argv) {
  if (argc != 5) return Usage();
  const std::string dir = argv[2];
  const std::string manifests[2] = {zarn::test::ReadFile(argv[3]), zarn::test::ReadFile(argv[4])};
  for (unsigned round = 0;; ++round) {
    // As the download leaves it: written in place, then committed.
    zarn::test::WriteFile(zarn::DownloadedManifestPath(dir), manifests[round % 2]);
    int32_t pendingAtStart = 1;
    if (zarn::CommitManifest(dir, pendingAtStart) != zarn::CommitResult::kCommitted) return 1;
    if (round == 0) Say("committing");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string mode = argv[1];
  if (mode == "update") return Update(argc, argv);
  if (mode == "commit-loop") return CommitLoop(argc, argv);
  return Usage();
}
