#include <cstdio>
#include <cstring>

#include "app/CVantorApp.h"
#include "app/CheckCommand.h"
#include "app/Version.h"

int main(int argc, char** argv) {
  // "zarn --version" answers before anything else starts (no toolkit, no window, no self-copy):
  // a self-update runs the downloaded launcher this way to prove it starts on this machine.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    const bool written = std::printf("%s\n", zarn::GetAppVersion().c_str()) >= 0 && std::fflush(stdout) == 0;
    return written ? 0 : 1;
  }
  // The folder check and repair run without the toolkit: no window, for support staff and scripts.
  if (zarn::IsCheckCommand(argc, argv)) return zarn::RunCheckCommand(argc, argv);
  return zarn::TheApp().Run(argc, argv);
}
