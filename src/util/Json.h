// How the launcher parses every JSON document it reads.
#pragma once

#include <rapidjson/reader.h>

namespace zarn {

// Iterative parsing: the nesting depth of a document from outside must not exhaust the call
// stack.
inline constexpr unsigned kJsonParseFlags = rapidjson::kParseIterativeFlag;

}  // namespace zarn
