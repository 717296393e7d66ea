// Start-up timing marks, for measuring the launcher from outside. With ZARN_TRACE_TIMING=1 in
// the environment each mark prints one line "zarn-timing <mark> <ns>" on standard error, ns
// being CLOCK_MONOTONIC (comparable with the clock of the process that started the launcher);
// otherwise a mark costs one cached test and prints nothing.
#pragma once

namespace zarn {

bool TimingTraceEnabled();
void TraceTiming(const char* mark);

}  // namespace zarn
