#include "app/TimingTrace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace zarn {

bool TimingTraceEnabled() {
  static const bool enabled = [] {
    const char* value = std::getenv("ZARN_TRACE_TIMING");
    return value && std::strcmp(value, "1") == 0;
  }();
  return enabled;
}

void TraceTiming(const char* mark) {
  if (!TimingTraceEnabled()) return;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  std::fprintf(stderr, "zarn-timing %s %lld\n", mark,
               static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
  std::fflush(stderr);
}

}  // namespace zarn
