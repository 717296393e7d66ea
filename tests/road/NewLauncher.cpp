// Stands in for the next launcher version in the self-update test: a program of this machine
// that answers "--version" as a launcher does and, started otherwise, records where and with
// what in new-launcher.log beside itself.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts(ZARN_NEW_VERSION);
    return 0;
  }
  char self[PATH_MAX] = {}, cwd[PATH_MAX] = {};
  if (::readlink("/proc/self/exe", self, sizeof self - 1) < 0 || !::getcwd(cwd, sizeof cwd)) return 1;
  std::string log(self);
  log = log.substr(0, log.rfind('/')) + "/new-launcher.log";
  std::string args;
  for (int i = 1; i < argc; ++i) args += (i > 1 ? " " : "") + std::string(argv[i]);
  std::FILE* f = std::fopen(log.c_str(), "a");
  if (!f) return 1;
  std::fprintf(f, "started in %s with [%s]\n", cwd, args.c_str());
  return std::fclose(f) == 0 ? 0 : 1;
}
