// Path helpers of the launcher. Paths use "/"; zip entry names may also use "\".
#pragma once

#include <string>
#include <string_view>

namespace zarn {

// The text before the last "/", or "" when there is none.
std::string DirName(std::string_view path);
// The text after the last "/", or the whole path when there is none.
std::string BaseFileName(std::string_view path);
// Creates every missing folder of the path up to its last "/" (the last component is taken as a
// file name and not created). True when all of them exist afterwards.
bool MakeSureDirectoryPathExists(std::string_view path);
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);

}  // namespace zarn
