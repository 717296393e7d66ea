#include "util/Paths.h"

#include <sys/stat.h>

#include <cerrno>

namespace zarn {

std::string DirName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::string BaseFileName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool PathExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeSureDirectoryPathExists(std::string_view path) {
  const size_t last = path.rfind('/');
  if (last == std::string_view::npos) return true;
  std::string partial;
  for (size_t pos = 0; pos <= last; ++pos) {
    if (path[pos] == '/' && !partial.empty() && partial != "/") {
      if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
      if (!IsDirectory(partial)) return false;
    }
    partial += path[pos];
  }
  return true;
}

}  // namespace zarn
