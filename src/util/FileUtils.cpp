#include "util/FileUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "util/CodePage.h"

namespace zarn {

std::string NormalizePath(const std::string& path) {
  bool lossy = false;
  std::string converted = Utf8ToAnsi(path, &lossy);
  if (lossy || converted.find('?') != std::string::npos) return path;
  return converted;
}

CCFileUtils* CCFileUtils::sharedFileUtils() {
  static CCFileUtils* instance = [] {
    auto* utils = new CCFileUtilsLinux();
    utils->init();
    return utils;
  }();
  return instance;
}

bool CCFileUtils::isAbsolutePath(const std::string& path) const {
  const std::string p = NormalizePath(path);
  return p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

std::string CCFileUtils::getPathForFilename(const std::string& fileName, const std::string& resolutionDir,
                                            const std::string& searchPath) const {
  std::string dir, file = fileName;
  const size_t slash = fileName.rfind('/');
  if (slash != std::string::npos) {
    dir = fileName.substr(0, slash + 1);
    file = fileName.substr(slash + 1);
  }
  const std::string candidate = searchPath + dir + resolutionDir + file;
  return isFileExist(candidate) ? candidate : std::string();
}

std::string CCFileUtils::fullPathForFilename(const std::string& fileName) {
  const std::string name = NormalizePath(fileName);
  if (isAbsolutePath(name)) return name;
  {
    std::lock_guard lock(m_cacheMutex);
    const auto it = m_fullPathCache.find(name);
    if (it != m_fullPathCache.end()) return it->second;
  }
  for (const auto& searchPath : m_searchPathArray) {
    for (const auto& resolution : m_searchResolutionsOrderArray) {
      std::string full = getPathForFilename(name, resolution, searchPath);
      if (!full.empty()) {
        std::lock_guard lock(m_cacheMutex);
        m_fullPathCache.emplace(name, full);
        return full;
      }
    }
  }
  return name;
}

std::unique_ptr<unsigned char[]> CCFileUtils::getFileData(const std::string& fileName, const char* mode,
                                                          size_t* size) {
  if (size) *size = 0;
  const std::string full = fullPathForFilename(fileName);
  FILE* fp = std::fopen(full.c_str(), mode);
  if (!fp) return nullptr;
  struct stat st;
  // A folder opens on Linux but has no data; it reads as a missing file.
  if (::fstat(fileno(fp), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(fp);
    return nullptr;
  }
  std::fseek(fp, 0, SEEK_END);
  long length = std::ftell(fp);
  std::fseek(fp, 0, SEEK_SET);
  if (length < 0) length = 0;
  auto buffer = std::make_unique<unsigned char[]>(static_cast<size_t>(length) + 1);
  const size_t got = std::fread(buffer.get(), 1, static_cast<size_t>(length), fp);
  buffer[static_cast<size_t>(length)] = 0;
  std::fclose(fp);
  if (size) *size = got;
  return buffer;
}

CCFileUtilsLinux::CCFileUtilsLinux(std::string root) : m_requestedRoot(std::move(root)) {}

bool CCFileUtilsLinux::init() {
  std::string root = m_requestedRoot;
  if (root.empty()) {
    std::error_code ec;
    root = std::filesystem::current_path(ec).string();
  }
  if (root.empty() || root.back() != '/') root += '/';
  m_strDefaultResRootPath = root;
  m_searchPathArray.push_back(root);
  m_searchResolutionsOrderArray.push_back("");
  return true;
}

bool CCFileUtilsLinux::isAbsolutePath(const std::string& path) const {
  const std::string p = NormalizePath(path);
  return !p.empty() && p[0] == '/';
}

bool CCFileUtilsLinux::isFileExist(const std::string& path) const {
  std::string p = NormalizePath(path);
  if (p.empty()) return false;
  if (!isAbsolutePath(p)) p = m_strDefaultResRootPath + p;
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

}  // namespace zarn
