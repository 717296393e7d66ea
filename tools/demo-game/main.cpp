// The demo game client: records the command line it was started with, so the demo and the
// tests can see what the launcher handed over. Each start appends to "game-client.log" in its
// working directory (the game folder):
//   cwd=<working directory>
//   args=<the arguments joined by one blank>
//   argc=<number of arguments>
//   arg1=<first argument> ... one line per argument
//   end
// and prints the args line.
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
  std::string record =
      "cwd=" + std::string(cwd) + "\nargs=" + line + "\nargc=" + std::to_string(argc - 1) + "\n";
  for (int i = 1; i < argc; ++i) record += "arg" + std::to_string(i) + "=" + argv[i] + "\n";
  record += "end\n";
  // One write, so that a reader never sees half a record.
  if (FILE* log = std::fopen("game-client.log", "ab")) {
    std::fwrite(record.data(), 1, record.size(), log);
    std::fclose(log);
  }
  std::printf("RuzaDivuzo226 started in %s with: %s\n", cwd, line.c_str());
  return 0;
}
