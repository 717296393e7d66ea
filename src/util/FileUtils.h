// The process-wide file service: resource root, file existence, whole-file reading.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zarn {

class CCFileUtils {
 public:
  virtual ~CCFileUtils() = default;

  // The singleton, created on first use; its resource root is the working directory then.
  static CCFileUtils* sharedFileUtils();

  // The whole file with a NUL byte appended, or null (size 0) when it cannot be opened.
  // The caller owns the buffer.
  virtual std::unique_ptr<unsigned char[]> getFileData(const std::string& fileName, const char* mode,
                                                       size_t* size);
  virtual std::string fullPathForFilename(const std::string& fileName);
  virtual std::string getResourceRoot() const = 0;
  virtual bool isFileExist(const std::string& path) const = 0;
  virtual bool isAbsolutePath(const std::string& path) const;
  virtual bool init() = 0;

 protected:
  CCFileUtils() = default;
  virtual std::string getPathForFilename(const std::string& fileName, const std::string& resolutionDir,
                                         const std::string& searchPath) const;

  std::vector<std::string> m_searchResolutionsOrderArray;
  std::vector<std::string> m_searchPathArray;
  std::string m_strDefaultResRootPath;
  std::map<std::string, std::string> m_fullPathCache;
  mutable std::mutex m_cacheMutex;
};

class CCFileUtilsLinux : public CCFileUtils {
 public:
  // root: the resource root to use; empty takes the working directory. A "/" is appended.
  explicit CCFileUtilsLinux(std::string root = {});

  std::string getResourceRoot() const override { return m_strDefaultResRootPath; }
  bool isFileExist(const std::string& path) const override;
  bool isAbsolutePath(const std::string& path) const override;
  bool init() override;

 private:
  std::string m_requestedRoot;
};

// UTF-8 → ANSI; the text as received when the result would hold a replacement.
std::string NormalizePath(const std::string& path);

}  // namespace zarn
