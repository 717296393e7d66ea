// libFuzzer's entry for one target, chosen when the program is built.
#include <cstdio>
#include <cstdlib>

#include "FuzzTargets.h"

namespace {
const zarn::fuzz::Target* g_target = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_target = zarn::fuzz::FindTarget(ZARN_FUZZ_TARGET_NAME);
  if (!g_target) {
    std::fprintf(stderr, "no fuzz target named %s\n", ZARN_FUZZ_TARGET_NAME);
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_target->run(data, size);
  return 0;
}
