// zarn-demo-server --port <port> --content <folder> [--rate <KiB/s>] [--export-tree <folder>]
// Serves the demo content folder on 127.0.0.1 for the launcher; port 0 takes a free one. With
// --rate files go out no faster than that, so the launcher's bars can be watched. With
// --export-tree the content network's files (templates expanded, archives made) are also
// written into that folder, for a real web server to serve, before the first request is taken. The first
// line on standard output names the address; then one line per request. SIGTERM or SIGINT
// stops it cleanly.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "DemoServer.h"

namespace {

void PrintLine(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

int Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s --port <0-65535> --content <folder> [--rate <KiB/s>] [--export-tree <folder>]\n",
               program);
  return 2;
}

bool ParseNumber(const char* text, long max, long* number) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (!*text || *end || value < 0 || value > max) return false;
  *number = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long port = -1;
  long rateKiB = 0;
  std::string content, exportTo;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--port" && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 65535, &port)) return Usage(argv[0]);
    } else if (arg == "--rate" && i + 1 < argc) {
      if (!ParseNumber(argv[++i], 1024 * 1024, &rateKiB)) return Usage(argv[0]);
    } else if (arg == "--content" && i + 1 < argc) {
      content = argv[++i];
    } else if (arg == "--export-tree" && i + 1 < argc) {
      exportTo = argv[++i];
    } else {
      return Usage(argv[0]);
    }
  }
  struct stat st;
  if (port < 0 || content.empty()) return Usage(argv[0]);
  if (::stat(content.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "content folder not found: %s\n", content.c_str());
    return 1;
  }

  // The signals are taken by sigwait below; every thread the server starts inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);  // the serving thread ended on its own
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  zarn::demo::DemoServer server(content);
  if (!server.setupError().empty()) {
    std::fprintf(stderr, "%s\n", server.setupError().c_str());
    return 1;
  }
  server.SetRequestLog(PrintLine);
  server.SetRate(static_cast<size_t>(rateKiB) * 1024);
  if (server.Bind(static_cast<int>(port)) < 0) {
    std::fprintf(stderr, "cannot listen on 127.0.0.1:%ld\n", port);
    return 1;
  }
  if (!exportTo.empty()) {
    std::string error;
    if (!server.ExportTree(exportTo, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    PrintLine("content tree written to " + exportTo);
  }
  PrintLine("zarn-demo-server listening on " + server.BaseUrl() + "/ (content: " + content + ")");

  bool served = true;
  std::thread serving([&server, &served] {
    served = server.Serve();
    ::kill(::getpid(), SIGUSR1);
  });
  int received = 0;
  sigwait(&signals, &received);
  server.Stop();
  serving.join();
  if (received == SIGUSR1 && !served) {
    std::fprintf(stderr, "serving failed\n");
    return 1;
  }
  PrintLine("zarn-demo-server stopped");
  return 0;
}
