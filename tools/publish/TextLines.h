// Line numbers of positions in a document, for messages of the form file:line: problem.
#pragma once

#include <cstddef>
#include <string_view>

namespace zarn::publish {

// 1 for the first line.
inline int LineOfOffset(std::string_view text, size_t offset) {
  int line = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i)
    if (text[i] == '\n') ++line;
  return line;
}

}  // namespace zarn::publish
