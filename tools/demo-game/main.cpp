// The demo game client: records the command line it was started with, so the demo and the
// tests can see what the launcher handed over. It writes "game-client.log" in its working
// directory (the game folder) and prints the same line.
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  char cwd[4096] = "";
  if (!::getcwd(cwd, sizeof cwd)) cwd[0] = 0;
  if (FILE* log = std::fopen("game-client.log", "ab")) {
    std::fprintf(log, "cwd=%s\nargs=%s\n", cwd, line.c_str());
    std::fclose(log);
  }
  std::printf("RuzaDivuzo226 started in %s with: %s\n", cwd, line.c_str());
  return 0;
}
