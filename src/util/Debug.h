// Diagnostic output: one line on standard error (parse errors, paths, the game command line).
#pragma once

#include <string_view>

namespace zarn {
void DebugOutput(std::string_view text);
}
