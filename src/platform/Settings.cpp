#include "platform/Settings.h"

#include <cstdlib>

#include "BuildConfig.h"

namespace zarn {
namespace {

std::string FromEnv(const char* name, const char* builtIn) {
  const char* value = std::getenv(name);
  return (value && *value) ? value : builtIn;
}

std::string WithSlash(std::string url) {
  if (url.empty() || url.back() != '/') url += '/';
  return url;
}

std::string WithoutSlash(std::string url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

}  // namespace

std::string CdnBaseUrl() { return WithSlash(FromEnv("ZARN_CDN_BASE_URL", build::kCdnBaseUrl)); }
std::string StorageBaseUrl() { return WithSlash(FromEnv("ZARN_STORAGE_BASE_URL", build::kStorageBaseUrl)); }
std::string AccountUrl() { return WithoutSlash(FromEnv("ZARN_ACCOUNT_URL", build::kAccountUrl)); }
std::string WebUrl() { return WithoutSlash(FromEnv("ZARN_WEB_URL", build::kWebUrl)); }

}  // namespace zarn
